// The tool's sharp edges, each met as a user meets it: files that are not
// documents, outputs that would destroy inputs, documents of earlier runs,
// text the printer's code page lacks, documents too long to spool, the
// simulated machine's folder, an interrupted run.
#include "support.h"
#include "tool_run.h"

#include "cli.h"
#include "codepage.h"
#include "fileio.h"
#include "jobfile.h"

#include <pclxl/writer.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#ifndef _WIN32
#include <csignal>
#include <fcntl.h>
#include <pty.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace jobtool_test
{
namespace
{

namespace fs = std::filesystem;

using Result = ToolRun;

void Write(const std::string &path, const Bytes &data)
{
    std::ofstream f(path, std::ios::binary);
    f.write(reinterpret_cast<const char *>(data.data()), static_cast<std::streamsize>(data.size()));
}

Bytes Read(const std::string &path)
{
    std::ifstream f(jobtool::FsPath(path), std::ios::binary);
    return Bytes((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
}

bool Has(const std::string &text, const std::string &part)
{
    return text.find(part) != std::string::npos;
}

// A document of n small pages, each a rectangle.
Bytes Pages(int n)
{
    pclxl::Writer w;
    w.streamHeader("many pages");
    w.beginSession(600).openDataSource();
    for (int i = 0; i < n; i++)
    {
        w.beginPage().setColorSpaceGray().setBrushGray(0);
        w.rectangle(10, 10, static_cast<uint16_t>(100 + i % 1000), 200).endPage(1);
    }
    w.closeDataSource().endSession();
    return w.take();
}

TEST(Edges, EveryCommandRefusesFilesThatAreNotDocumentsWithTheirReason)
{
    TempDir dir;
    const std::string empty = dir.Path("empty.pxl");
    Write(empty, Bytes());
    const std::string pxl = dir.Path("doc.pxl");
    Write(pxl, Sample("sample.pxl"));
    const std::string job = dir.Path("doc.kdjob");
    ASSERT_EQ(Tool({"make", pxl, "-o", job, "--collate", "--copies=2"}).code, 0);
    const Bytes whole = Read(job);
    const std::string cutJob = dir.Path("cut.kdjob");
    Write(cutJob, Bytes(whole.begin(), whole.begin() + static_cast<long>(whole.size() / 2)));
    const std::string cutPxl = dir.Path("cut.pxl");
    const Bytes sample = Sample("sample.pxl");
    Write(cutPxl, Bytes(sample.begin(), sample.begin() + static_cast<long>(sample.size() / 2)));

    struct Bad
    {
        std::string path;
        std::string reason; // in the message
    };
    std::vector<Bad> bad = {
        {dir.Path(""), "Is a directory"},
        {dir.Path("missing.pxl"), "No such file or directory"},
    };
#ifndef _WIN32
    bad.push_back({"/dev/null", "it is a character device, not a file"});
    const std::string fifo = dir.Path("fifo");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    // Opened for reading, a FIFO would wait for a writer for ever.
    bad.push_back({fifo, "it is a FIFO (named pipe), not a file"});
#endif
    for (const Bad &b : bad)
    {
        const std::vector<std::vector<std::string>> commands = {
            {"make", b.path, "-o", dir.Path("x.kdjob")}, {"run", b.path, "--out", dir.Path("out")}, {"explain", b.path},
            {"explain", pxl, "--job", b.path},           {"explain", pxl, "--input", b.path},
        };
        for (const std::vector<std::string> &c : commands)
        {
            Result r = Tool(c);
            EXPECT_EQ(r.code, 1) << c[0] << " " << b.path;
            EXPECT_TRUE(Has(r.err, b.path + ": " + b.reason)) << c[0] << ": " << r.err;
        }
    }
    EXPECT_FALSE(fs::exists(dir.Path("x.kdjob")));

    // Files that open but hold nothing usable: a message, never a crash.
    const std::vector<std::pair<std::vector<std::string>, std::string>> broken = {
        {{"make", empty, "-o", dir.Path("x.kdjob")}, "not a sound PCL XL document"},
        {{"make", cutPxl, "-o", dir.Path("x.kdjob")}, "not a sound PCL XL document"},
        {{"run", empty}, "not a job file"},
        {{"run", cutJob}, "not a job file"},
        {{"explain", pxl, "--job", empty}, "not a job file"},
        {{"explain", pxl, "--job", cutJob}, "not a job file"},
    };
    for (const auto &c : broken)
    {
        Result r = Tool(c.first);
        EXPECT_EQ(r.code, 1) << c.first[0] << " " << c.first[1];
        EXPECT_TRUE(Has(r.err, c.second)) << r.err;
    }
    Result explainEmpty = Tool({"explain", empty});
    EXPECT_EQ(explainEmpty.code, 1);
    EXPECT_TRUE(Has(explainEmpty.out, "NOT well-formed PCL XL")) << explainEmpty.out;
}

// Three collated copies of a 1 GB job print 3 GB: a printed document may be
// larger than any print job, and explain reads it a window at a time. A
// document to make a job of may not.
TEST(Edges, APrintedDocumentLargerThanAPrintJobIsStillExplained)
{
    if (sizeof(size_t) < 8)
    {
        GTEST_SKIP() << "a 32-bit build reads less than 4 GiB";
    }
    TempDir dir;
    const std::string big = dir.Path("big.pxl");
    const Bytes sample = Sample("sample.pxl");
    Write(big, sample);
    std::filesystem::resize_file(big, (uint64_t(5) << 30) / 2); // sparse: 2.5 GiB
    Result explained = Tool({"explain", big});
    EXPECT_EQ(explained.code, 1);
    EXPECT_FALSE(Has(explained.err, "more than")) << explained.err;
    EXPECT_TRUE(Has(explained.err + explained.out, "offset")) << "the reader meets the zeros after the document\n"
                                                              << explained.err << explained.out;
    Result made = Tool({"make", big, "-o", dir.Path("big.kdjob")});
    EXPECT_EQ(made.code, 1);
    EXPECT_TRUE(Has(made.err, "more than the 2147483648 a print job can hold")) << made.err;
}

TEST(Edges, MakeNeverOverwritesItsInputOrAnotherDocument)
{
    TempDir dir;
    const std::string pxl = dir.Path("a.pxl");
    const Bytes original = Sample("sample.pxl");
    Write(pxl, original);
    const std::string other = dir.Path("b.pxl");
    Write(other, Sample("one-page.pxl"));
    const std::string spelledOtherwise = (fs::path(dir.Path("")) / "." / "a.pxl").string();
    for (const std::string &output : {pxl, spelledOtherwise})
    {
        Result r = Tool({"make", pxl, "-o", output});
        EXPECT_EQ(r.code, 1);
        EXPECT_TRUE(Has(r.err, "is the input document itself")) << r.err;
    }
    Result onDocument = Tool({"make", pxl, "-o", other});
    EXPECT_EQ(onDocument.code, 1);
    EXPECT_TRUE(Has(onDocument.err, other + " exists and is not a job file")) << onDocument.err;
    EXPECT_EQ(Read(pxl), original);
    EXPECT_EQ(Read(other), Sample("one-page.pxl"));

    // A job file is made again in place.
    const std::string job = dir.Path("a.kdjob");
    ASSERT_EQ(Tool({"make", pxl, "-o", job}).code, 0);
    Result again = Tool({"make", pxl, "-o", job, "--reverse"});
    EXPECT_EQ(again.code, 0) << again.err;
    // A folder as output: the system's reason.
    Result folder = Tool({"make", pxl, "-o", dir.Path("")});
    EXPECT_EQ(folder.code, 1);
    EXPECT_TRUE(Has(folder.err, "cannot write")) << folder.err;
    EXPECT_TRUE(Has(folder.err, "Is a directory")) << folder.err;
}

TEST(Edges, RunReportsOnlyTheDocumentsItWrote)
{
    TempDir dir;
    const std::string pxl = dir.Path("doc.pxl");
    Write(pxl, Sample("sample.pxl"));
    const std::string job = dir.Path("doc.kdjob");
    ASSERT_EQ(Tool({"make", pxl, "-o", job}).code, 0);
    const std::string out = dir.Path("out");
    fs::create_directories(out);
    for (const char *name : {"doc-1.pxl", "doc-7.pxl", "doc-a.pxl", "other-1.pxl"})
    {
        Write((fs::path(out) / name).string(), spoolsim::ToBytes("earlier"));
    }
    Result r = Tool({"run", job, "--out", out});
    ASSERT_EQ(r.code, 0) << r.out << r.err;
    EXPECT_TRUE(Has(r.out, "removed the documents of an earlier run from " + out + ": doc-1.pxl doc-7.pxl\n")) << r.out;
    EXPECT_FALSE(fs::exists(fs::path(out) / "doc-7.pxl"));
    EXPECT_NE(Read((fs::path(out) / "doc-1.pxl").string()), spoolsim::ToBytes("earlier"));
    EXPECT_TRUE(fs::exists(fs::path(out) / "doc-a.pxl"));
    EXPECT_TRUE(fs::exists(fs::path(out) / "other-1.pxl"));

    // --out naming a file is refused with the system's reason.
    Result onFile = Tool({"run", job, "--out", pxl});
    EXPECT_EQ(onFile.code, 1);
    EXPECT_TRUE(Has(onFile.err, "cannot make the folder " + pxl)) << onFile.err;
}

TEST(Edges, RefusedOverlayCreationLeavesTheEarlierOverlayAndSaysSo)
{
    TempDir dir;
    const std::string pxl = dir.Path("one.pxl");
    Write(pxl, Sample("one-page.pxl"));
    const std::string overlay = dir.Path("form.ovl");
    const Bytes earlier = spoolsim::ToBytes("an earlier overlay");
    Write(overlay, earlier);
    const std::string job = dir.Path("one.kdjob");
    ASSERT_EQ(Tool({"make", pxl, "-o", job, "--overlay-create", overlay}).code, 0);
    Result r = Tool({"run", job, "--out", dir.Path("out"), "--answer", "cancel"});
    EXPECT_EQ(r.code, 1);
    EXPECT_TRUE(Has(r.out, "reason: the person answered Cancel to \"Create Page Overlay ?\"")) << r.out;
    EXPECT_TRUE(Has(r.out, "no overlay was made at " + jobtool::ToWindowsPath(overlay) +
                               " (the file there is an earlier one, left as it was)"))
        << r.out;
    EXPECT_FALSE(Has(r.out, "a well-formed page body")) << r.out;
    EXPECT_EQ(Read(overlay), earlier);
}

TEST(Edges, TextOptionsReachThePrinterInItsCodePage)
{
    TempDir dir;
    const std::string pxl = dir.Path("doc.pxl");
    Write(pxl, Sample("one-page.pxl"));
    const std::string job = dir.Path("doc.kdjob");
    const std::string text = "CONFIDENTIAL \xE2\x80\x93 \xC3\x89"
                             "BAUCHE"; // en dash, E acute
    Result made = Tool({"make", pxl, "-o", job, "--watermark", text, "--name", "Re\xCC\x81sume\xCC\x81"});
    EXPECT_EQ(made.code, 2) << "a combining accent has no place in Windows-1252";
    EXPECT_TRUE(Has(made.err, "--name holds U+0301")) << made.err;

    made = Tool({"make", pxl, "-o", job, "--watermark", text, "--name", "\xC3\x89t\xC3\xA9"});
    ASSERT_EQ(made.code, 0) << made.err;
    spoolsim::LoadedJob loaded = spoolsim::LoadJob(Read(job));
    ASSERT_TRUE(loaded.job);
    DRVDEVMODE dm;
    std::memcpy(&dm, loaded.job->steps.front().data.data(), sizeof(dm));
    EXPECT_STREQ(dm.szWmText, "CONFIDENTIAL \x96 \xC9"
                              "BAUCHE");
    EXPECT_EQ(spoolsim::Narrow(loaded.job->documentName), "\xC3\x89t\xC3\xA9");

    // What the hook drew on the printer: the text as the person typed it.
    jobtool::Replay replay = jobtool::RunJob(*loaded.job, [](const spoolsim::MessageBoxRecord &) { return IDOK; });
    bool drawn = false;
    for (const spoolsim::GdiCall &c : replay.run.gdiCalls)
    {
        drawn = drawn || (c.name == "TextOutW" && spoolsim::Narrow(c.text) == text);
    }
    EXPECT_TRUE(drawn);

    struct Refused
    {
        std::vector<std::string> args;
        const char *message;
    };
    const Refused refused[] = {
        {{"--watermark", "\xD0\x96"},
         "--watermark holds U+0416 \"\xD0\x96\", a character the printer's code page "
         "(Windows-1252) does not have"},
        {{"--name", "\xE6\x96\x87\xE6\x9B\xB8"}, "--name holds U+6587"},
        {{"--watermark", "caf\xE9"},
         "--watermark is not valid text in the terminal's encoding (byte 0xE9 at offset 3)"},
        {{"--watermark", "\xC0\xAF"}, "(byte 0xC0 at offset 0)"},
    };
    for (const Refused &r : refused)
    {
        std::vector<std::string> args = {"make", pxl, "-o", dir.Path("r.kdjob")};
        args.insert(args.end(), r.args.begin(), r.args.end());
        Result res = Tool(args);
        EXPECT_EQ(res.code, 2) << r.message;
        EXPECT_TRUE(Has(res.err, r.message)) << res.err;
    }
    EXPECT_EQ(jobtool::PrinterCodePageToUtf8("\x80\x96\xFF"), "\xE2\x82\xAC\xE2\x80\x93\xC3\xBF");
}

TEST(Edges, OverlayPathsOutsideAsciiAreFoundByTheHook)
{
    TempDir dir;
    const std::string pxl = dir.Path("one.pxl");
    Write(pxl, Sample("one-page.pxl"));
    const std::string folder = dir.Path("formulaires \xC3\xA9t\xC3\xA9"); // "été"
    fs::create_directories(jobtool::FsPath(folder));
    const std::string overlay = jobtool::Utf8Path(jobtool::FsPath(folder) / jobtool::FsPath("en-t\xC3\xAAte.ovl"));
    const std::string job = dir.Path("one.kdjob");
    Result made = Tool({"make", pxl, "-o", job, "--overlay-create", overlay});
    ASSERT_EQ(made.code, 0) << made.err;
    Result created = Tool({"run", job, "--out", dir.Path("out"), "--answer", "ok"});
    EXPECT_EQ(created.code, 0) << created.out;
    EXPECT_TRUE(Has(created.out, "overlay file " + jobtool::ToWindowsPath(overlay))) << created.out;
    EXPECT_TRUE(fs::is_regular_file(jobtool::FsPath(overlay))) << "the overlay is where the person named it";

    ASSERT_EQ(Tool({"make", pxl, "-o", job, "--overlay", overlay}).code, 0);
    Result used = Tool({"run", job, "--out", dir.Path("out")});
    EXPECT_EQ(used.code, 0) << used.out;
    EXPECT_TRUE(Has(used.out, "overlay embedding")) << used.out;

    Result cyrillic = Tool({"make", pxl, "-o", job, "--overlay", dir.Path("\xD0\x96.ovl")});
    EXPECT_EQ(cyrillic.code, 2);
    EXPECT_TRUE(Has(cyrillic.err, "--overlay holds U+0416")) << cyrillic.err;
}

// Folders and files named outside ASCII, through make, run and explain: the
// tool's paths are UTF-8 on both builds, whatever the system calls take.
TEST(Edges, NamesOutsideAsciiWorkInEveryCommand)
{
    TempDir dir;
    const fs::path folder = jobtool::FsPath(dir.Path("\xC3\xA9t\xC3\xA9")); // "été"
    fs::create_directories(folder);
    const std::string pxl = jobtool::Utf8Path(folder / jobtool::FsPath("r\xC3\xA9sum\xC3\xA9.pxl"));
    {
        const Bytes sample = Sample("one-page.pxl");
        std::ofstream f(jobtool::FsPath(pxl), std::ios::binary);
        f.write(reinterpret_cast<const char *>(sample.data()), static_cast<std::streamsize>(sample.size()));
    }
    const std::string job = jobtool::Utf8Path(folder / jobtool::FsPath("t\xC3\xA2"
                                                                       "che.kdjob"));
    Result made = Tool({"make", pxl, "-o", job, "--copies", "2", "--collate"});
    ASSERT_EQ(made.code, 0) << made.err;
    spoolsim::LoadedJob loaded = spoolsim::LoadJob(Read(job));
    ASSERT_TRUE(loaded.job) << loaded.error;
    EXPECT_EQ(spoolsim::Narrow(loaded.job->documentName), "r\xC3\xA9sum\xC3\xA9.pxl");

    const std::string out = jobtool::Utf8Path(folder / jobtool::FsPath("sortie"));
    Result run = Tool({"run", job, "--out", out});
    ASSERT_EQ(run.code, 0) << run.out << run.err;
    const std::string printed = jobtool::Utf8Path(jobtool::FsPath(out) / jobtool::FsPath("t\xC3\xA2"
                                                                                         "che-1.pxl"));
    EXPECT_TRUE(fs::is_regular_file(jobtool::FsPath(printed))) << run.out;
    EXPECT_TRUE(Has(run.out, "written to " + printed)) << run.out;
    // A second run replaces the first one's document.
    Result again = Tool({"run", job, "--out", out});
    EXPECT_EQ(again.code, 0) << again.out << again.err;

    Result explained = Tool({"explain", printed, "--job", job});
    EXPECT_EQ(explained.code, 0) << explained.err;
    EXPECT_TRUE(Has(run.out, explained.out)) << explained.out;
}

TEST(Edges, DocumentTooLongToSpoolIsRefusedBeforeAnyHeavyWork)
{
    TempDir dir;
    const std::string longDoc = dir.Path("long.pxl");
    Write(longDoc, Pages(2525));
    const std::string job = dir.Path("long.kdjob");
    for (const std::vector<std::string> &options :
         {std::vector<std::string>{"--collate", "--copies=2"}, {"--reverse"}, {"--manual-duplex"}})
    {
        std::vector<std::string> args = {"make", longDoc, "-o", job};
        args.insert(args.end(), options.begin(), options.end());
        Result r = Tool(args);
        EXPECT_EQ(r.code, 1) << options[0];
        EXPECT_TRUE(Has(r.err, longDoc + ": the document has 2525 pages and the driver holds at most 1999 in one "
                                         "job (print it in parts)"))
            << r.err;
        EXPECT_FALSE(fs::exists(job));
    }
    // Printed as it arrives, nothing is spooled: any length goes.
    Result direct = Tool({"make", longDoc, "-o", job});
    EXPECT_EQ(direct.code, 0) << direct.err;

    // The most the index holds still prints, every page.
    const std::string most = dir.Path("most.pxl");
    Write(most, Pages(1999));
    ASSERT_EQ(Tool({"make", most, "-o", job, "--reverse"}).code, 0);
    Result run = Tool({"run", job, "--out", dir.Path("out")});
    EXPECT_EQ(run.code, 0) << run.err;
    EXPECT_FALSE(Has(run.out, "reason:")) << run.out.substr(0, 2000);
    EXPECT_TRUE(Has(run.out, "well-formed PCL XL, 1999 pages")) << run.out.substr(0, 2000);
}

TEST(Edges, MissingOverlayIsAWarningWhenTheJobIsMade)
{
    TempDir dir;
    const std::string pxl = dir.Path("doc.pxl");
    Write(pxl, Sample("one-page.pxl"));
    const std::string overlay = dir.Path("absent.ovl");
    Result r = Tool({"make", pxl, "-o", dir.Path("doc.kdjob"), "--overlay", overlay});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_TRUE(Has(r.err, "warning: the overlay file " + overlay + " does not exist here")) << r.err;
    Result run = Tool({"run", dir.Path("doc.kdjob"), "--out", dir.Path("out")});
    EXPECT_EQ(run.code, 1);
    EXPECT_TRUE(Has(run.out, "reason: the overlay file " + jobtool::ToWindowsPath(overlay) + " does not exist"))
        << run.out;
}

#ifndef _WIN32

// TMPDIR for the tool, while a test runs.
class TmpDirSetting
{
  public:
    explicit TmpDirSetting(const std::string &value)
    {
        const char *old = std::getenv("TMPDIR");
        m_had = old != nullptr;
        m_old = old ? old : "";
        setenv("TMPDIR", value.c_str(), 1);
    }
    ~TmpDirSetting()
    {
        if (m_had)
        {
            setenv("TMPDIR", m_old.c_str(), 1);
        }
        else
        {
            unsetenv("TMPDIR");
        }
    }

  private:
    bool m_had;
    std::string m_old;
};

std::vector<std::string> Machines(const std::string &folder)
{
    std::vector<std::string> found;
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec))
    {
        if (it->path().filename().string().rfind("kd7720-machine-", 0) == 0)
        {
            found.push_back(it->path().string());
        }
    }
    return found;
}

TEST(Edges, TheSimulatedMachineLivesInAPrivateTemporaryFolder)
{
    TempDir dir;
    const std::string tmp = dir.Path("tmp");
    fs::create_directories(tmp);
    // A machine left by a process that is gone (a crash, a kill).
    const pid_t gone = fork();
    if (gone == 0)
    {
        _exit(0);
    }
    ASSERT_GT(gone, 0);
    waitpid(gone, nullptr, 0);
    const std::string stale = tmp + "/kd7720-machine-" + std::to_string(gone) + "-abcdef";
    fs::create_directories(stale + "/WINDOWS");
    const std::string live = tmp + "/kd7720-machine-" + std::to_string(getppid()) + "-abcdef";
    fs::create_directories(live);

    const std::string cwd = fs::current_path().string();
    {
        TmpDirSetting setting(tmp);
        fs::current_path(dir.Path(""));
        Result r = Tool({"run", "--out", dir.Path("out")});
        fs::current_path(cwd);
        EXPECT_EQ(r.code, 0) << r.out << r.err;
    }
    EXPECT_FALSE(fs::exists(stale)) << "the dead process's machine is removed";
    EXPECT_TRUE(fs::exists(live)) << "a living process's machine stays";
    EXPECT_EQ(Machines(tmp), std::vector<std::string>{live}) << "the run's own machine is gone";
    EXPECT_FALSE(fs::exists(dir.Path("TEMP")) || fs::exists(dir.Path("WINDOWS")));

    // No folder can be made: the reason, and nothing in the current folder.
    {
        TmpDirSetting setting(dir.Path("no-such-folder"));
        fs::current_path(dir.Path(""));
        Result r = Tool({"run", "--out", dir.Path("out")});
        fs::current_path(cwd);
        EXPECT_EQ(r.code, 1);
        EXPECT_TRUE(Has(r.out, "reason: cannot make the simulated machine's folder in " + dir.Path("no-such-folder") +
                                   ": No such file or directory"))
            << r.out;
    }
    EXPECT_FALSE(fs::exists(dir.Path("TEMP")) || fs::exists(dir.Path("WINDOWS")));
}

TEST(Edges, InterruptedAtAPromptTheToolLeavesNoMachineBehind)
{
    TempDir dir;
    const std::string tmp = dir.Path("tmp");
    fs::create_directories(tmp);
    const std::string pxl = dir.Path("one.pxl");
    Write(pxl, Sample("one-page.pxl"));
    const std::string job = dir.Path("one.kdjob");
    ASSERT_EQ(Tool({"make", pxl, "-o", job, "--overlay-create", dir.Path("form.ovl")}).code, 0);

    for (int signal : {SIGINT, SIGTERM})
    {
        // The question goes to the controlling terminal: the tool gets one
        // of its own, a pseudo-terminal whose other side the test reads.
        int master = -1;
        const pid_t pid = forkpty(&master, nullptr, nullptr, nullptr);
        if (pid == 0)
        {
            setenv("TMPDIR", tmp.c_str(), 1);
            execl(JOBTOOL_EXE, JOBTOOL_EXE, "run", job.c_str(), "--out", dir.Path("out").c_str(),
                  static_cast<char *>(nullptr));
            _exit(127);
        }
        ASSERT_GT(pid, 0);
        // Waits for the question: the tool then reads the answer.
        std::string shown;
        char buffer[256];
        ssize_t n;
        while (shown.find("Create Page Overlay ?") == std::string::npos &&
               (n = read(master, buffer, sizeof(buffer))) > 0)
        {
            shown.append(buffer, static_cast<size_t>(n));
        }
        ASSERT_NE(shown.find("Create Page Overlay ?"), std::string::npos) << shown;
        EXPECT_EQ(Machines(tmp).size(), 1u) << "the machine exists while the question waits";
        kill(pid, signal);
        int status = 0;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        close(master);
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signal) << "ends as the signal ends it: " << status;
        EXPECT_TRUE(Machines(tmp).empty()) << "signal " << signal;
    }
}

#endif

} // namespace
} // namespace jobtool_test
