// "run" with a person at the printer: each document is on disk, complete,
// before the question that follows it; the question reaches the terminal
// with what the person must do; Cancel, the end of the input and a missing
// terminal stop the job with a message; a document that cannot be written
// stops it too, rather than asking the person to turn a stack that does
// not exist.
#include "support.h"

#include "scripted_terminal.h"
#include "tool_run.h"

#include <filesystem>
#include <fstream>

namespace jobtool_test
{
namespace
{

bool Has(const std::string &text, const std::string &part)
{
    return text.find(part) != std::string::npos;
}

bool Exists(const std::string &path)
{
    std::error_code ec;
    return std::filesystem::exists(path, ec);
}

// A job made from a sample with make's options, in the folder.
std::string MadeJob(const TempDir &dir, const std::string &sample, std::vector<std::string> options)
{
    const std::string pxl = dir.Path(sample);
    std::ofstream(pxl, std::ios::binary)
        .write(reinterpret_cast<const char *>(Sample(sample).data()),
               static_cast<std::streamsize>(Sample(sample).size()));
    const std::string job = dir.Path("job.kdjob");
    std::vector<std::string> args = {"make", pxl, "-o", job};
    args.insert(args.end(), options.begin(), options.end());
    ToolRun made = Tool(args);
    EXPECT_EQ(made.code, 0) << made.err;
    return job;
}

TEST(RunWithAPerson, TheFirstPassIsCompleteOnDiskWhileTheQuestionWaits)
{
    for (const std::vector<std::string> &options :
         {std::vector<std::string>{"--manual-duplex"}, {"--booklet", "manual", "--order", "desc"}})
    {
        SCOPED_TRACE(options[0]);
        TempDir dir;
        const std::string job = MadeJob(dir, "sample.pxl", options);
        const std::string first = (std::filesystem::path(dir.Path("out")) / "job-1.pxl").string();
        const std::string second = (std::filesystem::path(dir.Path("out")) / "job-2.pxl").string();
        Screen screen;
        screen.lines = {""};
        bool looked = false;
        screen.beforeRead = [&] {
            looked = true;
            // What a person (or lp) would read from the file now.
            std::ifstream f(first, std::ios::binary);
            Bytes data((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
            jobtool::PageMap map = jobtool::Explain(data, jobtool::Reference());
            EXPECT_TRUE(map.wellFormed) << map.error;
            EXPECT_EQ(map.Pages().size(), options[0] == "--manual-duplex" ? 3u : 2u);
            EXPECT_FALSE(Exists(second)) << "the second pass exists before the answer";
        };
        ToolRun run = Tool({"run", job, "--out", dir.Path("out")}, OpenScripted(screen));
        EXPECT_EQ(run.code, 0) << run.out << run.err;
        EXPECT_TRUE(looked) << "no question was asked";
        EXPECT_TRUE(Exists(second));
        // The hook's words, then what to do: the file to take, the stack.
        EXPECT_TRUE(Has(screen.text, "+-- Manual Duplex\n| Re-insert the sheets into Multi-purpose tray\n|\n| * "))
            << screen.text;
        EXPECT_TRUE(Has(screen.text, "The first pass is in " + first + ", a complete print job")) << screen.text;
        EXPECT_TRUE(Has(screen.text, "Put the printed sheets back")) << screen.text;
        EXPECT_FALSE(Has(screen.text, "blank sheet")) << "six pages need no extra sheet";
        // The report names the documents in the order they were written.
        const size_t one = run.out.find("document 1 (\"sample.pxl\") written to " + first);
        const size_t asked = run.out.find("question Manual Duplex: answered OK on the terminal");
        const size_t two = run.out.find("document 2 (\"sample.pxl\") written to " + second);
        ASSERT_NE(one, std::string::npos) << run.out;
        EXPECT_LT(one, asked) << run.out;
        EXPECT_LT(asked, two) << run.out;
    }
}

TEST(RunWithAPerson, TheInstructionPageIsKeptOutOfTheStack)
{
    TempDir dir;
    const std::string job = MadeJob(dir, "sample.pxl", {"--manual-duplex", "--instruction-page"});
    ToolRun run = Tool({"run", job, "--out", dir.Path("out"), "--answer", "ok"});
    ASSERT_EQ(run.code, 0) << run.out << run.err;
    EXPECT_TRUE(Has(run.out, "printed: I 6 4 2\n")) << run.out;
    EXPECT_TRUE(Has(run.out, "| * The pass begins with the instruction page, one sheet more: read it and keep it out "
                             "of the stack that goes back.\n"))
        << run.out;
    // Without it, nothing is said of one.
    const std::string plain = MadeJob(dir, "sample.pxl", {"--manual-duplex"});
    ToolRun without = Tool({"run", plain, "--out", dir.Path("plain"), "--answer", "ok"});
    EXPECT_FALSE(Has(without.out, "instruction page")) << without.out;
}

TEST(RunWithAPerson, CancelOrTheEndOfInputStopsTheJobBeforeTheSecondPass)
{
    TempDir dir;
    const std::string job = MadeJob(dir, "sample.pxl", {"--manual-duplex"});
    struct Case
    {
        std::vector<std::string> typed;
        const char *screenSays, *errSays;
    };
    const Case cases[] = {
        {{"cancel"}, "+-- answered Cancel", "the person cancelled the job at the question Manual Duplex"},
        {{"what?", "C"}, "| (answer ok, or just Enter, or cancel)", "cancelled the job"},
        {{}, "taken as Cancel", "the input ended at the question \"Re-insert the sheets into Multi-purpose tray\""},
    };
    int k = 0;
    for (const Case &c : cases)
    {
        const std::string out = dir.Path("out" + std::to_string(++k));
        Screen screen;
        screen.lines = c.typed;
        ToolRun run = Tool({"run", job, "--out", out}, OpenScripted(screen));
        EXPECT_EQ(run.code, 1) << run.out;
        EXPECT_TRUE(Has(screen.text, c.screenSays)) << screen.text;
        EXPECT_TRUE(Has(run.err, c.errSays)) << run.err;
        EXPECT_TRUE(Exists(out + "/job-1.pxl"));
        EXPECT_FALSE(Exists(out + "/job-2.pxl")) << "the second pass was written after the job stopped";
        EXPECT_TRUE(Has(run.out, "document 2: not written or printed, the job was stopped")) << run.out;
    }

    // --answer cancel at a box that has only OK stops the job the same way.
    ToolRun answered = Tool({"run", job, "--out", dir.Path("answered"), "--answer", "cancel"});
    EXPECT_EQ(answered.code, 1);
    EXPECT_TRUE(Has(answered.err, "--answer cancel at the question Manual Duplex")) << answered.err;
    EXPECT_FALSE(Exists(dir.Path("answered") + "/job-2.pxl"));
    // With --answer the box and the advice go into the report.
    EXPECT_TRUE(Has(answered.out, "| * The first pass is in ")) << answered.out;
}

TEST(RunWithAPerson, WithoutATerminalOrAnswersTheRunStopsWithAMessage)
{
    TempDir dir;
    const std::string job = MadeJob(dir, "sample.pxl", {"--manual-duplex"});
    ToolRun alone = Tool({"run", job, "--out", dir.Path("out")});
    EXPECT_EQ(alone.code, 1);
    EXPECT_TRUE(Has(alone.err, "nobody can answer: no terminal; give the answer with --answer ok")) << alone.err;
    EXPECT_FALSE(Exists(dir.Path("out") + "/job-2.pxl"));

    // A job with no question needs no terminal.
    const std::string plain = MadeJob(dir, "sample.pxl", {"--reverse"});
    ToolRun quiet = Tool({"run", plain, "--out", dir.Path("plain")});
    EXPECT_EQ(quiet.code, 0) << quiet.err;
    EXPECT_TRUE(Has(quiet.out, "printed: 6 5 4 3 2 1\n")) << quiet.out;
}

#ifndef _WIN32
TEST(RunWithAPerson, AFirstPassThatCannotBeWrittenIsNotTurned)
{
    TempDir dir;
    const std::string job = MadeJob(dir, "sample.pxl", {"--manual-duplex"});
    // The first document's name is taken by a folder.
    std::filesystem::create_directories(dir.Path("out") + "/job-1.pxl");
    Screen screen;
    screen.lines = {""};
    ToolRun run = Tool({"run", job, "--out", dir.Path("out")}, OpenScripted(screen));
    EXPECT_EQ(run.code, 1);
    EXPECT_TRUE(Has(run.err, "document 1: cannot write ")) << run.err;
    EXPECT_TRUE(Has(run.err, "Is a directory")) << "the system's reason: " << run.err;
    EXPECT_TRUE(Has(run.err, "document 1 did not reach its place")) << run.err;
    EXPECT_EQ(screen.opened, 0) << "the person was asked to turn a stack that was never printed";
    EXPECT_FALSE(Exists(dir.Path("out") + "/job-2.pxl"));

    // An output folder that cannot be made.
    ToolRun noFolder = Tool({"run", job, "--out", job + "/out"}, OpenScripted(screen));
    EXPECT_EQ(noFolder.code, 1);
    EXPECT_TRUE(Has(noFolder.err, "cannot make the folder")) << noFolder.err;
}
#endif

} // namespace
} // namespace jobtool_test
