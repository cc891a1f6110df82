// The commands on documents they do not hold: run writes each printed
// document to its file as the printer receives it (the same bytes the
// printer got), explain reads it back one page at a time, and memory that
// runs out in the middle ends a command with a message, exit 1 and the
// documents already written kept and named.
#include "support.h"
#include "tool_run.h"

#include "cli.h"
#include "digest.h"
#include "faultpoint.h"
#include "fileio.h"
#include "jobfile.h"
#include "pagemap.h"
#include "progress.h"
#include "replay.h"
#include "show.h"

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <new>
#include <sstream>

namespace jobtool_test
{
namespace
{

using Result = ToolRun;

Bytes ReadAll(const std::string &path)
{
    std::ifstream f(path, std::ios::binary);
    return Bytes((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
}

bool Has(const std::string &text, const std::string &part)
{
    return text.find(part) != std::string::npos;
}

// Memory runs out at the nth time a place is passed.
class OutOfMemoryAt
{
  public:
    OutOfMemoryAt(const char *where, int nth)
    {
        jobtool::g_faultPoint = [where, nth, count = 0](const char *at) mutable {
            if (std::string(at) == where && ++count == nth)
            {
                throw std::bad_alloc();
            }
        };
    }
    ~OutOfMemoryAt()
    {
        jobtool::g_faultPoint = nullptr;
    }
};

// The sample in three collated copies, as a job file.
std::string MakeJobFile(const TempDir &dir, const std::vector<std::string> &options = {})
{
    const std::string input = dir.Path("sample.pxl");
    const Bytes sample = Sample("sample.pxl");
    std::ofstream(input, std::ios::binary)
        .write(reinterpret_cast<const char *>(sample.data()), static_cast<std::streamsize>(sample.size()));
    const std::string job = dir.Path("sample.kdjob");
    std::vector<std::string> args = {"make", input, "-o", job};
    args.insert(args.end(), options.begin(), options.end());
    Result made = Tool(args);
    EXPECT_EQ(made.code, 0) << made.err;
    return job;
}

TEST(Streaming, RunWritesEachDocumentAsThePrinterReceivedIt)
{
    for (const std::vector<std::string> &options :
         {std::vector<std::string>{"--copies", "3", "--collate"}, {"--booklet", "printer"}, {"--reverse"}})
    {
        TempDir dir;
        const std::string job = MakeJobFile(dir, options);
        Result run = Tool({"run", job, "--out", dir.Path("out")});
        EXPECT_EQ(run.code, 0) << run.out << run.err;

        // The same job kept in memory by the simulated printer: the oracle.
        spoolsim::LoadedJob loaded = spoolsim::LoadJob(ReadAll(job));
        ASSERT_TRUE(loaded.job) << loaded.error;
        jobtool::Replay kept = jobtool::RunJob(*loaded.job, [](const spoolsim::MessageBoxRecord &) { return IDOK; });
        size_t n = 0;
        for (const spoolsim::Document *doc : kept.run.PrinterDocuments())
        {
            n++;
            // Named as the tool names it: with the system's separator.
            const std::string path =
                (std::filesystem::path(dir.Path("out")) / ("sample-" + std::to_string(n) + ".pxl")).string();
            if (doc->ended && !doc->data.empty())
            {
                EXPECT_EQ(ReadAll(path), doc->data) << path;
                EXPECT_TRUE(Has(run.out, "written to " + path)) << run.out;
            }
            else
            {
                EXPECT_FALSE(std::filesystem::exists(path)) << path;
            }
        }
        EXPECT_GT(n, 0u);
        // Nothing is left behind under a name of the run's own.
        for (const auto &entry : std::filesystem::directory_iterator(dir.Path("out")))
        {
            EXPECT_EQ(entry.path().extension(), ".pxl") << entry.path();
        }
    }
}

TEST(Streaming, AJobFileWrittenAsItIsMadeHoldsTheSavedBytes)
{
    TempDir dir;
    const std::string path = MakeJobFile(dir, {"--copies", "2", "--collate", "--watermark", "DRAFT"});
    spoolsim::LoadedJob loaded = spoolsim::LoadJob(ReadAll(path));
    ASSERT_TRUE(loaded.job) << loaded.error;
    EXPECT_EQ(ReadAll(path), spoolsim::SaveJob(*loaded.job));
    std::string error;
    EXPECT_FALSE(spoolsim::SaveJobFile(*loaded.job, dir.Path("no-such-folder") + "/x.kdjob", error));
    EXPECT_TRUE(Has(error, "cannot write") && Has(error, "No such file or directory")) << error;
}

TEST(Streaming, ARunAgainIntoTheSameFolderReplacesItsDocuments)
{
    TempDir dir;
    const std::string first = MakeJobFile(dir, {"--copies", "2", "--collate"});
    ASSERT_EQ(Tool({"run", first, "--out", dir.Path("out")}).code, 0);
    const Bytes twoCopies = ReadAll(dir.Path("out") + "/sample-1.pxl");
    const std::string second = MakeJobFile(dir, {"--page-set", "odd"});
    Result again = Tool({"run", second, "--out", dir.Path("out")});
    EXPECT_EQ(again.code, 0) << again.err;
    const Bytes odd = ReadAll(dir.Path("out") + "/sample-1.pxl");
    EXPECT_LT(odd.size(), twoCopies.size());
    EXPECT_TRUE(Has(again.out, "printed: 1 3 5\n")) << again.out;
}

TEST(Streaming, ExplainOfTheFileIsThePageMapOfTheBytes)
{
    TempDir dir;
    const std::string job = MakeJobFile(dir, {"--copies", "2", "--collate", "--watermark", "DRAFT"});
    Result run = Tool({"run", job, "--out", dir.Path("out")});
    ASSERT_EQ(run.code, 0) << run.out << run.err;
    const std::string printed = (std::filesystem::path(dir.Path("out")) / "sample-1.pxl").string();
    Result explained = Tool({"explain", printed, "--job", job});
    EXPECT_EQ(explained.code, 0) << explained.err;
    spoolsim::LoadedJob loaded = spoolsim::LoadJob(ReadAll(job));
    ASSERT_TRUE(loaded.job);
    std::string error;
    const jobtool::Reference ref = jobtool::ReferenceFromJob(*loaded.job, &error);
    EXPECT_EQ(error, "");
    const jobtool::PageMap map = jobtool::Explain(ReadAll(printed), ref);
    EXPECT_EQ(explained.out, jobtool::FormatPageMap(map, printed));
    EXPECT_EQ(map.Sequence(), (std::vector<std::string>{"1", "2", "3", "4", "5", "6", "1", "2", "3", "4", "5", "6"}));
    EXPECT_TRUE(Has(run.out, explained.out)) << "run's page map differs from explain's";
}

TEST(Streaming, OutOfMemoryInARunKeepsAndNamesTheDocumentsWritten)
{
    TempDir dir;
    const std::string job = MakeJobFile(dir, {"--copies", "3", "--collate"});
    Result run;
    {
        OutOfMemoryAt fault("printed write", 3);
        run = Tool({"run", job, "--out", dir.Path("out")});
    }
    EXPECT_EQ(run.code, 1);
    EXPECT_TRUE(Has(run.err, "out of memory")) << run.err;
    EXPECT_TRUE(Has(run.err, "kept")) << run.err;
    // Each file it names is there, with the writes that came before.
    size_t named = 0;
    std::istringstream lines(run.err);
    for (std::string line; std::getline(lines, line);)
    {
        if (line.rfind("  ", 0) == 0)
        {
            named++;
            const std::string path = line.substr(2);
            EXPECT_TRUE(std::filesystem::exists(path)) << path;
            EXPECT_GT(std::filesystem::file_size(path), 0u) << path;
        }
    }
    EXPECT_EQ(named, 1u) << run.err;
    EXPECT_FALSE(Has(run.out, "page 1:")) << "a page map after the run stopped";
}

TEST(Streaming, OutOfMemoryWhileARunExplainsKeepsAndNamesTheDocument)
{
    // The page map is read on a thread of its own while the hook writes:
    // what it runs into must still end the run, with the document named.
    TempDir dir;
    const std::string job = MakeJobFile(dir, {"--copies", "3", "--collate"});
    Result run;
    {
        OutOfMemoryAt fault("explain page", 2);
        run = Tool({"run", job, "--out", dir.Path("out")});
    }
    EXPECT_EQ(run.code, 1);
    EXPECT_TRUE(Has(run.err, "out of memory")) << run.err;
    const std::string printed = (std::filesystem::path(dir.Path("out")) / "sample-1.pxl").string();
    EXPECT_TRUE(Has(run.err, "  " + printed + "\n")) << run.err;
    EXPECT_FALSE(Has(run.out, "page 1:")) << "a page map of a reading that failed";
    // The document itself was written whole.
    const Result explained = Tool({"explain", printed, "--job", job});
    EXPECT_EQ(explained.code, 0) << explained.out << explained.err;
}

TEST(Streaming, ADocumentThatCannotBeReadAsItIsWrittenIsExplainedOnceWritten)
{
    // No room for the reader beside the hook: the run goes on, and the
    // document gets the same page map after it is written.
    TempDir dir;
    const std::string job = MakeJobFile(dir, {"--copies", "3", "--collate"});
    const Result beside = Tool({"run", job, "--out", dir.Path("beside")});
    ASSERT_EQ(beside.code, 0) << beside.err;
    Result after;
    {
        OutOfMemoryAt fault("live explain", 1);
        after = Tool({"run", job, "--out", dir.Path("beside")});
    }
    EXPECT_EQ(after.code, 0) << after.err;
    EXPECT_EQ(after.err, "");
    EXPECT_EQ(after.out.substr(after.out.find("document 1")), beside.out.substr(beside.out.find("document 1")));
}

TEST(Streaming, OutOfMemoryInExplainOrMakeIsAFailureWithAMessage)
{
    TempDir dir;
    const std::string job = MakeJobFile(dir);
    Result run = Tool({"run", job, "--out", dir.Path("out")});
    ASSERT_EQ(run.code, 0) << run.err;
    {
        OutOfMemoryAt fault("explain page", 2);
        Result explained = Tool({"explain", dir.Path("out") + "/sample-1.pxl", "--job", job});
        EXPECT_EQ(explained.code, 1);
        EXPECT_TRUE(Has(explained.err, "out of memory")) << explained.err;
        EXPECT_EQ(explained.out, "");
    }
    {
        OutOfMemoryAt fault("make", 1);
        Result made = Tool({"make", dir.Path("sample.pxl"), "-o", dir.Path("again.kdjob")});
        EXPECT_EQ(made.code, 1);
        EXPECT_TRUE(Has(made.err, "out of memory")) << made.err;
        EXPECT_FALSE(std::filesystem::exists(dir.Path("again.kdjob")));
    }
}

#ifndef _WIN32
// make of three pages or more, the signal raised at its third page.
void MakeInterruptedAtPage3(const std::string &input, const std::string &job, int signal)
{
    jobtool::g_faultPoint = [signal, count = 0](const char *at) mutable {
        if (std::string(at) == "make page" && ++count == 3)
        {
            raise(signal);
        }
    };
    Tool({"make", input, "-o", job, "--copies", "2", "--collate"});
    std::exit(0);
}
#endif

// make writes the job file page by page under a name of its own, and the
// relocated document to a scratch file: stopped half way, by running out of
// memory or by Ctrl-C, it leaves neither, nor a job file that looks whole.
TEST(Streaming, MakeStoppedHalfWayLeavesNothingBehind)
{
    TempDir dir;
    MakeJobFile(dir); // puts sample.pxl there
    const std::string job = dir.Path("stopped.kdjob");
    auto leftovers = [&dir]() {
        std::string names;
        for (const auto &entry : std::filesystem::directory_iterator(dir.Path("")))
        {
            const std::string name = entry.path().filename().string();
            names += name.rfind("sample.", 0) == 0 ? std::string() : name + " ";
        }
        return names;
    };
    {
        OutOfMemoryAt fault("make page", 3);
        Result made = Tool({"make", dir.Path("sample.pxl"), "-o", job, "--copies", "2", "--collate"});
        EXPECT_EQ(made.code, 1);
        EXPECT_TRUE(Has(made.err, "out of memory")) << made.err;
        EXPECT_EQ(leftovers(), "");
    }
#ifndef _WIN32
    for (int signal : {SIGINT, SIGTERM})
    {
        EXPECT_EXIT(MakeInterruptedAtPage3(dir.Path("sample.pxl"), job, signal), testing::KilledBySignal(signal), "");
        EXPECT_EQ(leftovers(), "") << "signal " << signal;
    }
#endif
    // Not stopped, the job is there and nothing else.
    EXPECT_EQ(Tool({"make", dir.Path("sample.pxl"), "-o", job}).code, 0);
    EXPECT_EQ(leftovers(), "stopped.kdjob ");
}

TEST(Streaming, PagesThatDifferInAnyByteHaveDifferentDigests)
{
    // Every length around the digest's 32-byte steps, every byte changed in
    // turn: a byte the digest skips would let two different pages match.
    for (size_t size = 0; size <= 100; size++)
    {
        Bytes page(size);
        for (size_t i = 0; i < size; i++)
        {
            page[i] = static_cast<uint8_t>(i * 7 + size);
        }
        const jobtool::PageDigest base = jobtool::DigestPage(page.data(), page.size());
        EXPECT_EQ(base, jobtool::DigestPage(Bytes(page).data(), page.size()));
        for (size_t i = 0; i < size; i++)
        {
            Bytes changed = page;
            changed[i] ^= 0x01;
            const jobtool::PageDigest other = jobtool::DigestPage(changed.data(), changed.size());
            EXPECT_NE(base.first, other.first) << "size " << size << ", byte " << i;
            EXPECT_NE(base.second, other.second) << "size " << size << ", byte " << i;
        }
        // A page that is a prefix of another (trailing zeros) is another page.
        Bytes longer = page;
        longer.push_back(0);
        EXPECT_FALSE(base == jobtool::DigestPage(longer.data(), longer.size()));
    }
}

TEST(Streaming, ProgressSaysPagesBytesAndRate)
{
    EXPECT_EQ(jobtool::ProgressLine("explain out.pxl", 1500000, 3000000, 3, 10, 2.0),
              "explain out.pxl: 3 of 10 pages, 1.5 of 3.0 MB, 0.8 MB/s");
    EXPECT_EQ(jobtool::ProgressLine("explain out.pxl", 250000000, 0, 1, 0, 0.5),
              "explain out.pxl: 1 page, 250.0 MB, 500.0 MB/s");
    EXPECT_EQ(jobtool::ProgressLine("run job", 0, 0, 0, 0, 0), "run job: 0.0 MB");
}

// A job file is run, explained and shown from the file, a step at a time:
// the same documents, report and page references as the job in memory.
TEST(JobFromFile, RunsExplainsAndShowsAsTheJobInMemory)
{
    for (const std::vector<std::string> &options : {std::vector<std::string>{"--copies", "3", "--copy-command"},
                                                    {"--booklet", "printer"},
                                                    {"--booklet", "manual", "--watermark", "DRAFT"},
                                                    {"--defer-text"},
                                                    {"--watermark", "DRAFT", "--copies", "2", "--collate"},
                                                    {"--manual-duplex", "--instruction-page"}})
    {
        TempDir dir;
        const std::string path = MakeJobFile(dir, options);
        spoolsim::LoadedJob loaded = spoolsim::LoadJob(ReadAll(path));
        ASSERT_TRUE(loaded.job) << loaded.error;
        spoolsim::JobFileSteps steps;
        std::string error;
        ASSERT_TRUE(jobtool::OpenJobFile(path, steps, error)) << error;

        auto ok = [](const spoolsim::MessageBoxRecord &) { return IDOK; };
        const jobtool::Replay fromMemory = jobtool::RunJob(*loaded.job, ok);
        const jobtool::Replay fromFile = jobtool::RunJob(steps, ok);
        ASSERT_EQ(fromFile.run.documents.size(), fromMemory.run.documents.size()) << options[0];
        for (size_t i = 0; i < fromFile.run.documents.size(); i++)
        {
            EXPECT_EQ(fromFile.run.documents[i].data, fromMemory.run.documents[i].data) << options[0] << " " << i;
            EXPECT_EQ(fromFile.run.documents[i].ended, fromMemory.run.documents[i].ended);
        }
        EXPECT_EQ(fromFile.problems, fromMemory.problems);
        EXPECT_EQ(fromFile.reasons, fromMemory.reasons);
        EXPECT_EQ(fromFile.run.stepError, "");

        std::string memoryError, fileError;
        const jobtool::Reference a = jobtool::ReferenceFromJob(*loaded.job, &memoryError);
        const jobtool::Reference b = jobtool::ReferenceFromJob(steps, &fileError);
        EXPECT_EQ(fileError, memoryError);
        EXPECT_EQ(b.pages, a.pages) << options[0];
        EXPECT_EQ(b.bodies, a.bodies);
        EXPECT_EQ(b.leadIns, a.leadIns);
        EXPECT_EQ(b.copyCommand, a.copyCommand);
        EXPECT_EQ(b.origins, a.origins);

        Result shown = Tool({"show", path});
        EXPECT_EQ(shown.out, jobtool::FormatShownJob(jobtool::ShowJob(*loaded.job), *loaded.job, path));
    }
}

TEST(JobFromFile, ADamagedJobFileIsRefusedBeforeTheHookRunsInLoadJobsWords)
{
    TempDir dir;
    const std::string path = MakeJobFile(dir, {"--copies", "2", "--collate"});
    const Bytes saved = ReadAll(path);
    spoolsim::LoadedJob loaded = spoolsim::LoadJob(saved);
    ASSERT_TRUE(loaded.job);
    const size_t firstStep = 8 + 4 + 1 + 4 + 2 * loaded.job->documentName.size() + 4;
    const size_t secondStep = firstStep + 5 + loaded.job->steps[0].data.size();
    Bytes badKind = saved;
    badKind[secondStep] = 9;
    Bytes withSource = spoolsim::SaveJob([&] {
        spoolsim::Job j = *loaded.job;
        j.source = "/tmp/a.pdf";
        return j;
    }());
    for (const Bytes &damaged : {Bytes(saved.begin(), saved.begin() + static_cast<long>(secondStep + 7)), badKind,
                                 Bytes(withSource.begin(), withSource.end() - 3)})
    {
        const std::string bad = dir.Path("bad.kdjob");
        std::ofstream(bad, std::ios::binary)
            .write(reinterpret_cast<const char *>(damaged.data()), static_cast<std::streamsize>(damaged.size()));
        const std::string expected = "jobtool: " + bad + ": not a job file: " + spoolsim::LoadJob(damaged).error + "\n";
        for (const std::vector<std::string> &args : {std::vector<std::string>{"run", bad, "--out", dir.Path("out")},
                                                     {"show", bad},
                                                     {"explain", dir.Path("none.pxl"), "--job", bad}})
        {
            if (args[0] == "explain")
            {
                std::ofstream(dir.Path("none.pxl")) << "x";
            }
            Result r = Tool(args);
            EXPECT_NE(r.code, 0);
            EXPECT_EQ(r.err, expected) << args[0];
        }
        EXPECT_FALSE(std::filesystem::exists(dir.Path("out"))) << "the hook ran";
    }
}

TEST(JobFromFile, AJobFileThatShrinksWhileItRunsFailsTheRunWithAReason)
{
    TempDir dir;
    const std::string path = MakeJobFile(dir, {"--copies", "2", "--collate"});
    const uintmax_t size = std::filesystem::file_size(path);
    spoolsim::JobFileSteps steps;
    std::string error;
    ASSERT_TRUE(jobtool::OpenJobFile(path, steps, error)) << error;
    const jobtool::Replay r = jobtool::RunJob(
        steps, [](const spoolsim::MessageBoxRecord &) { return IDOK; }, nullptr,
        [&](spoolsim::Spooler &) { std::filesystem::resize_file(path, size / 2); });
    ASSERT_FALSE(r.problems.empty());
    EXPECT_TRUE(Has(r.problems.back(), "the job could not be read to the end: step ")) << r.problems.back();
    EXPECT_TRUE(Has(r.problems.back(), "changed after it was checked")) << r.problems.back();
    for (const spoolsim::Document *d : r.run.PrinterDocuments())
    {
        EXPECT_FALSE(d->ended && !d->aborted) << "a job cut short is printed";
    }
    const jobtool::Reference ref = jobtool::ReferenceFromJob(steps, &error);
    EXPECT_TRUE(Has(error, "the job's steps cannot be read")) << error;
}

} // namespace
} // namespace jobtool_test