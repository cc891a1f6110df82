// A real print queue out: documents go through Debian's CUPS scheduler,
// started for the test, to a raw queue whose device is a network printer
// on this machine; what arrives there must be the documents, byte for byte
// and in order.
#include "paper_support.h"

#include "cupsd.h"
#include "printqueue.h"
#include "tool_run.h"

#include <random>
#include <regex>

namespace jobtool_test
{
namespace
{

// The scheduler's folders lie in the build tree, next to the test.
std::string Here()
{
    return std::filesystem::current_path().string();
}

class Queue : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        ASSERT_GT(printer.Port(), 0);
        scheduler = std::make_unique<CupsScheduler>(Here());
        ASSERT_TRUE(scheduler->Running()) << scheduler->Error();
        std::string error;
        ASSERT_TRUE(scheduler->AddRawQueue("KD7720", "socket://127.0.0.1:" + std::to_string(printer.Port()), error))
            << error;
        target = {"KD7720", scheduler->Server()};
    }

    RawPrinter printer;
    std::unique_ptr<CupsScheduler> scheduler;
    jobtool::QueueTarget target;
};

TEST_F(Queue, TheDocumentsOfATwoPassJobArriveAsTheyAreInOrder)
{
    TempDir dir;
    jobtool::JobOptions o;
    o.manualDuplex = true;
    Outcome run = MakeAndRun("sample.pxl", o);
    std::vector<const spoolsim::Document *> docs = run.replay.run.PrinterDocuments();
    ASSERT_EQ(docs.size(), 2u) << run.Report();
    std::vector<Bytes> sent;
    for (const spoolsim::Document *d : docs)
    {
        sent.push_back(d->data);
    }
    // And documents that a queue which is not raw would take for something
    // else and convert: PostScript and PDF by their first bytes, and every
    // byte value over a few megabytes.
    sent.push_back(spoolsim::ToBytes("%!PS-Adobe-3.0\n%%Pages: 1\nshowpage\n"));
    sent.push_back(spoolsim::ToBytes("%PDF-1.4\n%\xE2\xE3\xCF\xD3\n"));
    std::mt19937 random(17);
    Bytes noise(3 * 1024 * 1024 + 17);
    for (uint8_t &b : noise)
    {
        b = static_cast<uint8_t>(random());
    }
    sent.push_back(noise);

    std::vector<std::string> ids;
    for (size_t i = 0; i < sent.size(); i++)
    {
        const std::string file = dir.Path("doc " + std::to_string(i + 1) + ".pxl");
        WriteBytes(file, sent[i]);
        jobtool::QueuedJob job = jobtool::SendToQueue(target, file, "sample.pxl (" + std::to_string(i + 1) + ")");
        ASSERT_TRUE(job.ok) << job.error << "\n" << scheduler->LogTail();
        EXPECT_EQ(job.jobId.compare(0, 7, "KD7720-"), 0) << job.jobId;
        ids.push_back(job.jobId);
    }
    for (size_t i = 1; i < ids.size(); i++)
    {
        EXPECT_LT(std::stoi(ids[i - 1].substr(7)), std::stoi(ids[i].substr(7))) << "job ids in the order sent";
    }
    std::vector<Bytes> arrived = printer.Jobs(sent.size(), 60);
    ASSERT_EQ(arrived.size(), sent.size()) << scheduler->LogTail();
    for (size_t i = 0; i < sent.size(); i++)
    {
        EXPECT_EQ(arrived[i].size(), sent[i].size()) << "document " << i + 1;
        EXPECT_TRUE(arrived[i] == sent[i]) << "document " << i + 1 << " changed on its way";
    }
}

TEST_F(Queue, RefusalsSayWhy)
{
    TempDir dir;
    WriteBytes(dir.Path("doc.pxl"), Sample("one-page.pxl"));

    jobtool::QueuedJob job = jobtool::SendToQueue({"NoSuchQueue", target.server}, dir.Path("doc.pxl"), "t");
    EXPECT_FALSE(job.ok);
    EXPECT_TRUE(Contains(job.error, "lp did not take")) << job.error;
    EXPECT_TRUE(Contains(job.error, "does not exist")) << job.error;

    job = jobtool::SendToQueue(target, dir.Path("missing.pxl"), "t");
    EXPECT_FALSE(job.ok);
    EXPECT_TRUE(Contains(job.error, "missing.pxl")) << job.error;

    for (const std::string &bad :
         std::vector<std::string>{"", "-d", "two words", "a/b", "tab\tbed", std::string(128, 'q')})
    {
        job = jobtool::SendToQueue({bad, target.server}, dir.Path("doc.pxl"), "t");
        EXPECT_FALSE(job.ok) << bad;
        EXPECT_FALSE(Contains(job.error, "lp ")) << "refused before lp runs: " << job.error;
    }
    EXPECT_EQ(printer.Jobs(1, 2).size(), 0u) << "nothing reached the printer";

    // A scheduler that is not there.
    scheduler.reset();
    job = jobtool::SendToQueue(target, dir.Path("doc.pxl"), "t");
    EXPECT_FALSE(job.ok);
    EXPECT_TRUE(Contains(job.error, "lp did not take")) << job.error;
}

// The queue's job ids that the report names for documents 1, 2, ...
std::vector<int> QueuedIds(const std::string &report)
{
    std::vector<int> ids;
    const std::regex line("document ([0-9]+) sent to queue KD7720 as job KD7720-([0-9]+)\n");
    for (auto m = std::sregex_iterator(report.begin(), report.end(), line); m != std::sregex_iterator(); ++m)
    {
        EXPECT_EQ(std::stoul((*m)[1].str()), ids.size() + 1) << "documents reported out of order";
        ids.push_back(std::stoi((*m)[2].str()));
    }
    return ids;
}

// The whole way: make a manual-duplex job, run it with --print; the queue
// prints to a file, where the documents must arrive whole and in order -
// the even pages, the last first, then the odd ones.
TEST(QueueRun, ATwoPassJobReachesAFilePrinterDocumentByDocument)
{
    TempDir dir;
    FilePrinter printer(dir.Path("printer"));
    ASSERT_EQ(printer.Error(), "");
    CupsScheduler scheduler(Here());
    ASSERT_TRUE(scheduler.Running()) << scheduler.Error();
    std::string error;
    ASSERT_TRUE(scheduler.AddFileQueue("KD7720", dir.Path("printer"), error)) << error;

    WriteBytes(dir.Path("sample.pxl"), Sample("sample.pxl"));
    ToolRun made = Tool({"make", dir.Path("sample.pxl"), "--manual-duplex", "-o", dir.Path("sample.kdjob")});
    ASSERT_EQ(made.code, 0) << made.err;
    ToolRun run = Tool({"run", dir.Path("sample.kdjob"), "--out", dir.Path("out"), "--print", "KD7720", "--server",
                        scheduler.Server(), "--answer", "ok"});
    ASSERT_EQ(run.code, 0) << run.out << run.err << scheduler.LogTail();

    const std::vector<int> ids = QueuedIds(run.out);
    ASSERT_EQ(ids.size(), 2u) << run.out;
    EXPECT_LT(ids[0], ids[1]);
    // The turn names the queue job of the first pass, not a file.
    EXPECT_TRUE(Contains(run.out, "The first pass went to the printer as job KD7720-" + std::to_string(ids[0]) +
                                      " on queue KD7720"))
        << run.out;
    // Each document is queued before the question that follows it.
    EXPECT_LT(run.out.find("document 1 sent to queue"), run.out.find("+-- Manual Duplex")) << run.out;

    const Bytes first = ReadBytes(dir.Path("out") + "/sample-1.pxl");
    const Bytes second = ReadBytes(dir.Path("out") + "/sample-2.pxl");
    ASSERT_FALSE(first.empty());
    ASSERT_FALSE(second.empty());
    Bytes sent = first;
    sent.insert(sent.end(), second.begin(), second.end());
    const Bytes arrived = printer.Received(sent.size(), 60);
    ASSERT_EQ(arrived.size(), sent.size()) << scheduler.LogTail();
    EXPECT_TRUE(arrived == sent) << "the documents changed on their way, or came out of order";
    const jobtool::PageMap firstOut = jobtool::Explain(Bytes(arrived.begin(), arrived.begin() + first.size()), {});
    EXPECT_TRUE(firstOut.wellFormed) << firstOut.error;
    EXPECT_EQ(firstOut.Pages().size(), 3u);
}

TEST(QueueRun, AQueueThatRefusesStopsTheJobBeforeTheTurn)
{
    TempDir dir;
    CupsScheduler scheduler(Here());
    ASSERT_TRUE(scheduler.Running()) << scheduler.Error();
    WriteBytes(dir.Path("sample.pxl"), Sample("sample.pxl"));
    ASSERT_EQ(Tool({"make", dir.Path("sample.pxl"), "--manual-duplex", "-o", dir.Path("job.kdjob")}).code, 0);
    ToolRun run = Tool({"run", dir.Path("job.kdjob"), "--out", dir.Path("out"), "--print", "NoSuchQueue", "--server",
                        scheduler.Server(), "--answer", "ok"});
    EXPECT_EQ(run.code, 1) << run.out;
    EXPECT_TRUE(Contains(run.err, "document 1: lp did not take")) << run.err;
    EXPECT_TRUE(Contains(run.err, "so the job stops at the question Manual Duplex")) << run.err;
    EXPECT_FALSE(Contains(run.out, "sent to queue")) << run.out;
    std::error_code ec;
    EXPECT_FALSE(std::filesystem::exists(dir.Path("out") + "/job-2.pxl", ec));
}

TEST(QueueClient, WithoutLpTheMessageNamesThePackage)
{
    TempDir dir;
    WriteBytes(dir.Path("doc.pxl"), Sample("one-page.pxl"));
    ScopedPath path(dir.Path(""));
    jobtool::QueuedJob job = jobtool::SendToQueue({"KD7720", ""}, dir.Path("doc.pxl"), "t");
    EXPECT_FALSE(job.ok);
    EXPECT_TRUE(Contains(job.error, "install the Debian package cups-client")) << job.error;
}

TEST(QueueClient, JobIdsInWhatLpSays)
{
    EXPECT_EQ(jobtool::JobIdFromLp("request id is KD7720-12 (1 file(s))\n", "KD7720"), "KD7720-12");
    EXPECT_EQ(jobtool::JobIdFromLp("Anfrage-ID ist KD7720-3 (1 Datei(en))\n", "KD7720"), "KD7720-3");
    EXPECT_EQ(jobtool::JobIdFromLp("request id is a.b-c-7 (1 file(s))", "a.b-c"), "a.b-c-7");
    EXPECT_EQ(jobtool::JobIdFromLp("request id is QQ-12 (1 file(s))", "Q"), "");
    EXPECT_EQ(jobtool::JobIdFromLp("request id is Q-12x", "Q"), "");
    EXPECT_EQ(jobtool::JobIdFromLp("request id is Q- (1 file(s))", "Q"), "");
    EXPECT_EQ(jobtool::JobIdFromLp("", "Q"), "");
}

} // namespace
} // namespace jobtool_test
