// The command line: help, exit codes and messages, and make, run and
// explain through files.
#include "support.h"

#include "cli.h"
#include "jobfile.h"
#include "scripted_terminal.h"

#include <filesystem>
#include <fstream>
#include <sstream>

namespace jobtool_test
{
namespace
{

struct Result
{
    int code;
    std::string out, err;
    std::string screen; // what the terminal showed
};

// The tool with no terminal, or (when lines are given) a terminal where
// the person types them.
Result Tool(const std::vector<std::string> &args, const std::vector<std::string> *typed = nullptr)
{
    std::ostringstream out, err;
    Screen screen;
    if (typed != nullptr)
    {
        screen.lines = *typed;
    }
    int code = jobtool::Main(args, out, err, typed != nullptr ? OpenScripted(screen) : jobtool::TerminalOpener());
    return {code, out.str(), err.str(), screen.text};
}

Result Tool(const std::vector<std::string> &args, const std::vector<std::string> &typed)
{
    return Tool(args, &typed);
}

void Write(const std::string &path, const Bytes &data)
{
    std::ofstream f(path, std::ios::binary);
    f.write(reinterpret_cast<const char *>(data.data()), static_cast<std::streamsize>(data.size()));
}

bool Has(const std::string &text, const std::string &part)
{
    return text.find(part) != std::string::npos;
}

TEST(Cli, HelpAndBadUsage)
{
    Result help = Tool({"--help"});
    EXPECT_EQ(help.code, 0);
    EXPECT_TRUE(Has(help.out, "Usage: jobtool COMMAND"));
    EXPECT_EQ(Tool({"help"}).out, help.out);
    EXPECT_EQ(Tool({}).code, 2);
    // One command's help is that command's usage only, however it is asked for.
    for (const std::vector<std::string> &ask :
         {std::vector<std::string>{"help", "make"}, {"make", "--help"}, {"make", "x.pxl", "-h"}})
    {
        Result make = Tool(ask);
        EXPECT_EQ(make.code, 0);
        EXPECT_EQ(make.out.rfind("Usage: jobtool make INPUT", 0), 0u) << make.out;
        EXPECT_TRUE(Has(make.out, "--copies N"));
        EXPECT_FALSE(Has(make.out, "--answer")) << "run's options in make's help";
        EXPECT_FALSE(Has(make.out, "explain OUTPUT"));
    }
    Result run = Tool({"help", "run"});
    EXPECT_TRUE(Has(run.out, "--answer")) << run.out;
    EXPECT_FALSE(Has(run.out, "--copies"));
    for (const std::vector<std::string> &bad : {std::vector<std::string>{"help", "bogus"}, {"help", "make", "run"}})
    {
        Result r = Tool(bad);
        EXPECT_EQ(r.code, 2);
        EXPECT_TRUE(r.out.empty());
        EXPECT_TRUE(Has(r.err, bad.size() == 2 ? "no help on \"bogus\"" : "help takes one command")) << r.err;
    }

    TempDir dir;
    const std::string pxl = dir.Path("doc.pxl");
    Write(pxl, Sample("one-page.pxl"));
    struct Case
    {
        std::vector<std::string> args;
        const char *message;
    };
    const Case cases[] = {
        {{"print"}, "no command \"print\""},
        {{"make"}, "needs an input"},
        {{"make", pxl, "--bogus"}, "make has no option --bogus"},
        {{"make", pxl, "--copies", "two"}, "--copies needs a number from 1 to 32767, not \"two\""},
        {{"make", pxl, "--copies"}, "--copies needs a value"},
        {{"make", pxl, "--page-set", "first"}, "--page-set takes odd|even, not \"first\""},
        {{"make", pxl, "--collate=yes"}, "--collate takes no value"},
        {{"make", pxl, "--order", "desc"}, "--order needs --manual-duplex or --booklet manual"},
        {{"make", pxl, "--wm-size", "20"}, "--wm-size needs --watermark"},
        {{"make", pxl, "--ask"}, "--ask needs --overlay"},
        {{"make", pxl, "--direction=1"}, "--direction needs --booklet"},
        {{"make", pxl, "--pass-through", "--reverse"}, "--pass-through cannot be combined with --reverse"},
        {{"make", pxl, pxl}, "one input file"},
        {{"run", "a", "b"}, "one job file"},
        {{"run", "--answer", "maybe"}, "--answer takes ok|cancel"},
        {{"explain"}, "needs the file of a printed document"},
        {{"explain", "x", "--job", "a", "--input", "b"}, "not both"},
        {{"make", pxl, "--booklet", "printer", "--direction", "up"}, "--direction takes ltr|rtl (or 0|1), not \"up\""},
        {{"show"}, "show needs a job file"},
        {{"show", "a", "b"}, "show takes one job file"},
        {{"show", "a", "--all"}, "show has no option --all"},
        {{"help", "print"}, "no help on \"print\" (make, run, explain, show or help)"},
        {{"run", "--print", "two words"}, "--print \"two words\": a queue name has no spaces"},
        {{"run", "--print", "-x"}, "does not begin with '-'"},
        {{"run", "--server", "localhost:631"}, "--server needs --print"},
        {{"run", "--print", "Q", "--server", "a/b"}, "--server takes HOST or HOST:PORT"},
    };
    for (const Case &c : cases)
    {
        Result r = Tool(c.args);
        EXPECT_EQ(r.code, 2) << c.message;
        EXPECT_TRUE(Has(r.err, c.message)) << r.err;
        EXPECT_TRUE(Has(r.err, "Try 'jobtool --help'.")) << r.err;
    }
}

TEST(Cli, FilesThatCannotBeUsedFailWithTheirReason)
{
    TempDir dir;
    const std::string text = dir.Path("letter.txt");
    Write(text, spoolsim::ToBytes("Dear printer,\n"));
    Result missing = Tool({"make", dir.Path("none.pxl")});
    EXPECT_EQ(missing.code, 1);
    EXPECT_TRUE(Has(missing.err, "cannot open")) << missing.err;

    Result notPxl = Tool({"make", text, "-o", dir.Path("x.kdjob")});
    EXPECT_EQ(notPxl.code, 1);
    EXPECT_TRUE(Has(notPxl.err, "not a sound PCL XL document: offset 0:")) << notPxl.err;

    Bytes sample = Sample("sample.pxl");
    const std::string cut = dir.Path("cut.pxl");
    Write(cut, Bytes(sample.begin(), sample.begin() + 12345));
    Result truncated = Tool({"make", cut, "-o", dir.Path("x.kdjob")});
    EXPECT_EQ(truncated.code, 1);
    EXPECT_TRUE(Has(truncated.err, "cut.pxl: not a sound PCL XL document: offset ")) << truncated.err;

    Result notJob = Tool({"run", text});
    EXPECT_EQ(notJob.code, 1);
    EXPECT_TRUE(Has(notJob.err, "not a job file")) << notJob.err;

    Result explainText = Tool({"explain", text});
    EXPECT_EQ(explainText.code, 1);
    EXPECT_TRUE(Has(explainText.out, "NOT well-formed PCL XL")) << explainText.out;
}

TEST(Cli, MakeRunExplainThroughFiles)
{
    TempDir dir;
    const std::string pxl = dir.Path("sample.pxl");
    const std::string job = dir.Path("sample.kdjob");
    Write(pxl, Sample("sample.pxl"));
    Result made = Tool({"make", pxl, "-o", job, "--manual-duplex", "--order=desc", "--watermark", "DRAFT"});
    ASSERT_EQ(made.code, 0) << made.err;
    EXPECT_TRUE(Has(made.out, "spooled by the hook")) << made.out;

    // The prompt is shown on the terminal and answered there.
    Result run = Tool({"run", job, "--out", dir.Path("out"), "--trace"}, {""});
    ASSERT_EQ(run.code, 0) << run.out << run.err;
    EXPECT_TRUE(Has(run.screen, "+-- Manual Duplex\n| Re-insert the sheets into Multi-purpose tray\n")) << run.screen;
    EXPECT_FALSE(Has(run.out, "Re-insert the sheets")) << "the question is the person's, not the report's";
    EXPECT_TRUE(Has(run.out, "question Manual Duplex: answered OK on the terminal")) << run.out;
    EXPECT_TRUE(Has(run.out, "trace: QVXLUMPD: DrvSplStartDoc")) << run.out;
    EXPECT_TRUE(Has(run.out, "printed: 6 4 2\n")) << run.out;
    EXPECT_TRUE(Has(run.out, "printed: 5 3 1\n")) << run.out;

    Result explained =
        Tool({"explain", (std::filesystem::path(dir.Path("out")) / "sample-2.pxl").string(), "--job", job});
    EXPECT_EQ(explained.code, 0) << explained.err;
    EXPECT_TRUE(Has(explained.out, "well-formed PCL XL, 3 pages")) << explained.out;
    EXPECT_TRUE(Has(explained.out, "watermark: \"DRAFT\"")) << explained.out;
    Result byInput =
        Tool({"explain", (std::filesystem::path(dir.Path("out")) / "sample-1.pxl").string(), "--input", pxl});
    EXPECT_TRUE(Has(byInput.out, "printed: 6 4 2\n")) << byInput.out;
}

// explain reads a job's input pages beside the printed document: a job whose
// stream a printer could not read still gets no map, and the reason.
TEST(Cli, ExplainWithAJobWhoseStreamIsNotSoundSaysWhyAndGivesNoMap)
{
    TempDir dir;
    jobtool::JobOptions collated;
    collated.copies = 2;
    collated.collate = true;
    Outcome out = MakeAndRun("sample.pxl", collated);
    ASSERT_TRUE(out.made.job);
    ASSERT_FALSE(out.replay.run.documents.empty());
    const std::string printed = dir.Path("printed.pxl");
    WriteBytes(printed, out.replay.run.documents[0].data);
    const std::string good = dir.Path("good.kdjob"), bad = dir.Path("bad.kdjob");
    std::string error;
    ASSERT_TRUE(spoolsim::SaveJobFile(*out.made.job, good, error)) << error;
    // A byte that no PCL XL tag has, in the second page's data.
    spoolsim::Job damaged = *out.made.job;
    int pagesSeen = 0;
    for (spoolsim::Step &step : damaged.steps)
    {
        pagesSeen += step.kind == spoolsim::StepKind::StartPage ? 1 : 0;
        if (pagesSeen == 2 && step.kind == spoolsim::StepKind::Write && step.data.size() > 64 && step.data[0] != 0x1B)
        {
            step.data.insert(step.data.begin() + 40, 0xFF);
            break;
        }
    }
    ASSERT_TRUE(spoolsim::SaveJobFile(damaged, bad, error)) << error;

    Result explained = Tool({"explain", printed, "--job", good});
    EXPECT_EQ(explained.code, 0) << explained.err;
    EXPECT_TRUE(Has(explained.out, "printed: 1 2 3 4 5 6 1 2 3 4 5 6\n")) << explained.out;
    Result refused = Tool({"explain", printed, "--job", bad});
    EXPECT_EQ(refused.code, 1);
    EXPECT_TRUE(Has(refused.err, "jobtool: " + bad + ": the job's stream is not sound PCL XL: ")) << refused.err;
    EXPECT_FALSE(Has(refused.out, "printed:")) << refused.out;
}

TEST(Cli, QuestionsAreAnsweredFromTheTerminalOrFromOptions)
{
    TempDir dir;
    const std::string pxl = dir.Path("one.pxl");
    const std::string job = dir.Path("one.kdjob");
    Write(pxl, Sample("one-page.pxl"));
    // An overlay-creation job asks first; its overlay is then printed with.
    const std::string overlay = dir.Path("form.ovl");
    ASSERT_EQ(Tool({"make", pxl, "-o", job, "--overlay-create", overlay}).code, 0);
    Result refused = Tool({"run", job, "--out", dir.Path("out")}, {"maybe", "cancel"});
    EXPECT_EQ(refused.code, 1);
    EXPECT_TRUE(Has(refused.screen,
                    "| Create Page Overlay ?\n| [OK] [Cancel]\n+-- Enter for OK, or type cancel: maybe\n"
                    "| (answer ok, or just Enter, or cancel)\n+-- Enter for OK, or type cancel: cancel\n"))
        << refused.screen;
    EXPECT_TRUE(Has(refused.out, "refused by the hook")) << refused.out;

    // Nobody to ask: the run stops with a message, and nothing is created.
    Result alone = Tool({"run", job, "--out", dir.Path("alone")});
    EXPECT_EQ(alone.code, 1);
    EXPECT_TRUE(Has(alone.err, "nobody can answer: no terminal; give the answer with --answer ok or --answer cancel"))
        << alone.err;
    EXPECT_FALSE(std::filesystem::exists(overlay));

    Result created = Tool({"run", job, "--out", dir.Path("out"), "--answer", "ok"});
    EXPECT_EQ(created.code, 0) << created.out;
    EXPECT_TRUE(Has(created.out, "+-- answered OK")) << created.out;
    EXPECT_TRUE(Has(created.out, "a well-formed page body")) << created.out;

    ASSERT_EQ(Tool({"make", pxl, "-o", job, "--overlay", overlay, "--ask", "--copies=2", "--collate"}).code, 0);
    Result used = Tool({"run", job, "--out", dir.Path("out")}, {"ok"});
    EXPECT_EQ(used.code, 0) << used.out;
    EXPECT_TRUE(Has(used.out, "overlay embedding")) << used.out;
    EXPECT_TRUE(Has(used.out, "printed: 1 1\n")) << used.out;
}

// Six pages fold into two sheets of eight (pages 7 and 8 blank), each side
// holding two pages that add up to nine. Left to right puts page 1 on the
// right half of the cover side, as a book that opens to the left; right to
// left the other way. 0 and 1 are the hook's own values for the same.
TEST(Cli, BookletDirectionsByNameAndByNumber)
{
    TempDir dir;
    const std::string pxl = dir.Path("sample.pxl");
    Write(pxl, Sample("sample.pxl"));
    const std::pair<const char *, const char *> cases[] = {
        {"ltr", "printed: -|1 2|- 6|3 4|5\n"},
        {"0", "printed: -|1 2|- 6|3 4|5\n"},
        {"RTL", "printed: 1|- -|2 3|6 5|4\n"},
        {"1", "printed: 1|- -|2 3|6 5|4\n"},
    };
    for (const auto &c : cases)
    {
        const std::string job = dir.Path(std::string("b-") + c.first + ".kdjob");
        ASSERT_EQ(Tool({"make", pxl, "-o", job, "--booklet", "printer", "--direction", c.first}).code, 0);
        Result run = Tool({"run", job, "--out", dir.Path("out")});
        EXPECT_EQ(run.code, 0) << run.err;
        EXPECT_TRUE(Has(run.out, c.second)) << c.first << "\n" << run.out;
        EXPECT_TRUE(Has(run.out, "sheet, left page ")) << run.out;
        // show names it as make takes it.
        Result shown = Tool({"show", job});
        EXPECT_EQ(Has(shown.out, "--direction rtl"), std::string(c.second).find("1|-") != std::string::npos)
            << shown.out;
    }
}

TEST(Cli, RunWithoutAJobPrintsTheBuiltInExample)
{
    TempDir dir;
    Result r = Tool({"run", "--out", dir.Path("example")});
    ASSERT_EQ(r.code, 0) << r.out << r.err;
    EXPECT_TRUE(Has(r.out, "well-formed PCL XL, 12 pages")) << r.out;
    EXPECT_TRUE(Has(r.out, "printed: 1 2 3 4 5 6 1 2 3 4 5 6\n")) << r.out;
    std::ifstream f((std::filesystem::path(dir.Path("example")) / "example-1.pxl").string(), std::ios::binary);
    EXPECT_TRUE(f.good());
}

} // namespace
} // namespace jobtool_test
