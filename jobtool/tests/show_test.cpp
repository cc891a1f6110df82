// "show": a job file read back in the words of make's options. Jobs made by
// make with given options must show those very options; a job file from
// elsewhere names what make has no option for.
#include "paper_support.h"

#include "cli.h"
#include "jobfile.h"
#include "show.h"

#include <cstring>
#include <sstream>

namespace jobtool_test
{
namespace
{

spoolsim::Job MadeWith(const TempDir &dir, const std::string &sample, const std::vector<std::string> &options)
{
    WriteBytes(dir.Path(sample), Sample(sample));
    std::vector<std::string> args = {"make", dir.Path(sample), "-o", dir.Path("job.kdjob")};
    args.insert(args.end(), options.begin(), options.end());
    std::ostringstream out, err;
    EXPECT_EQ(jobtool::Main(args, out, err), 0) << ::testing::PrintToString(options) << err.str();
    spoolsim::LoadedJob loaded = spoolsim::LoadJob(ReadBytes(dir.Path("job.kdjob")));
    EXPECT_TRUE(loaded.job) << loaded.error;
    return loaded.job ? *loaded.job : spoolsim::Job();
}

TEST(Show, AJobShowsTheOptionsItWasMadeWith)
{
    TempDir dir;
    // In the order show names them.
    const std::vector<std::vector<std::string>> cases = {
        {},
        {"--copies", "4"},
        {"--copies", "3", "--collate"},
        {"--copies", "2", "--copy-command"},
        {"--reverse"},
        {"--page-set", "even"},
        {"--copies", "2", "--collate", "--page-set", "odd"},
        {"--manual-duplex"},
        {"--manual-duplex", "--order", "desc", "--instruction-page"},
        {"--booklet", "printer"},
        {"--booklet", "printer", "--direction", "rtl"},
        {"--booklet", "manual", "--order", "desc"},
        {"--transparency", "same"},
        {"--transparency", "last", "--transparency-first"},
        {"--watermark", "DRAFT 'one' & <two>", "--wm-size", "40", "--wm-angle", "-30", "--wm-outline",
         "--wm-first-page"},
        {"--overlay", "C:\\forms\\letterhead.ovl", "--ask"},
        {"--overlay-create", "C:\\forms\\new.ovl"},
        {"--defer-text"},
        {"--pass-through"},
        {"--orientation", "landscape"},
    };
    for (const std::vector<std::string> &options : cases)
    {
        SCOPED_TRACE(::testing::PrintToString(options));
        spoolsim::Job job = MadeWith(dir, "sample.pxl", options);
        jobtool::ShownJob shown = jobtool::ShowJob(job);
        std::vector<std::string> expected = options;
        const bool overlayCreation = !options.empty() && options.front() == "--overlay-create";
        if (overlayCreation)
        {
            // Page 1 goes as an overlay body, without its BeginPage: which way
            // the page lies is not in the job, so show names it.
            expected.insert(expected.end(), {"--orientation", "portrait"});
        }
        expected.insert(expected.end(), {"--name", "sample.pxl"});
        EXPECT_TRUE(shown.settings);
        EXPECT_EQ(shown.options, expected);
        EXPECT_EQ(shown.others, std::vector<std::string>()) << ::testing::PrintToString(options);
        // An overlay-creation job carries page 1 only.
        EXPECT_EQ(shown.pages, overlayCreation ? 1 : 6);
        EXPECT_EQ(shown.steps.size(), job.steps.size());
        // The command writes the steps' lines one at a time, from the file:
        // the same report as the one made whole.
        std::ostringstream out, err;
        EXPECT_EQ(jobtool::Main({"show", dir.Path("job.kdjob")}, out, err), 0) << err.str();
        EXPECT_EQ(out.str(), jobtool::FormatShownJob(shown, job, dir.Path("job.kdjob")));
    }

    spoolsim::Job named = MadeWith(dir, "landscape.pxl", {"--orientation", "portrait", "--name", "Quarterly report"});
    jobtool::ShownJob shown = jobtool::ShowJob(named);
    EXPECT_EQ(shown.options, (std::vector<std::string>{"--orientation", "portrait", "--name", "Quarterly report"}));
    EXPECT_EQ(shown.paper, "A4, 150 dpi, portrait");
    EXPECT_EQ(shown.pages, 2);
    const std::string text = jobtool::FormatShownJob(shown, named, "q.kdjob");
    EXPECT_TRUE(Contains(text, "as made by: jobtool make INPUT --orientation portrait --name 'Quarterly report'\n"))
        << text;
}

TEST(Show, StepsAreNamedByWhatTheyCarry)
{
    TempDir dir;
    spoolsim::Job job = MadeWith(dir, "sample.pxl", {"--watermark", "DRAFT", "--reverse"});
    jobtool::ShownJob shown = jobtool::ShowJob(job);
    ASSERT_EQ(shown.steps.size(), job.steps.size());
    EXPECT_EQ(shown.steps[0], "write 1625 bytes: the settings block");
    size_t starts = 0, ends = 0, watermarks = 0, landscapes = 0, turned = 0, data = 0;
    for (size_t i = 0; i < shown.steps.size(); i++)
    {
        const std::string &s = shown.steps[i];
        const spoolsim::Step &step = job.steps[i];
        if (step.kind == spoolsim::StepKind::Write)
        {
            EXPECT_EQ(
                s.find("write " + std::to_string(step.data.size()) + (step.data.size() == 1 ? " byte" : " bytes")), 0u)
                << s;
        }
        starts += s == "start page";
        ends += s == "end page";
        watermarks += Contains(s, ": the watermark marker");
        landscapes += Contains(s, "page-start marker (landscape)");
        turned += Contains(s, "a settings block again (landscape)");
        data += Contains(s, ": data");
    }
    EXPECT_EQ(starts, 6u);
    EXPECT_EQ(ends, 6u);
    EXPECT_EQ(watermarks, 6u);
    EXPECT_EQ(landscapes, 2u) << "pages 3 and 5";
    EXPECT_GE(turned, 2u) << "the watermark is drawn for each landscape run";
    EXPECT_GT(data, 6u);
    EXPECT_EQ(std::count_if(shown.steps.begin(), shown.steps.end(),
                            [](const std::string &s) { return Contains(s, "bytes: end marker"); }),
              1);

    const std::string text = jobtool::FormatShownJob(shown, job, "x.kdjob");
    EXPECT_TRUE(Contains(text, "x.kdjob: job file of \"sample.pxl\"\n")) << text;
    EXPECT_TRUE(Contains(text, "  pages: 6\n")) << text;
    EXPECT_TRUE(Contains(text, " steps, ")) << text;
    EXPECT_TRUE(Contains(text, "then DrvSplEndDoc\n")) << text;
    EXPECT_TRUE(Contains(text, "        1  write 1625 bytes: the settings block\n")) << text;

    spoolsim::Job booklet = MadeWith(dir, "sample.pxl", {"--booklet", "manual"});
    shown = jobtool::ShowJob(booklet);
    size_t records = 0;
    for (size_t i = 0; i < booklet.steps.size(); i++)
    {
        if (booklet.steps[i].kind == spoolsim::StepKind::Write && IsMarker(booklet.steps[i].data, 0x00))
        {
            records++;
            EXPECT_TRUE(Contains(shown.steps[i], "bytes: booklet layout record")) << shown.steps[i];
        }
    }
    EXPECT_EQ(records, 1u);
}

TEST(Show, AForeignJobNamesWhatMakeHasNoOptionFor)
{
    TempDir dir;
    spoolsim::Job job = MadeWith(dir, "sample.pxl", {"--watermark", "X", "--transparency", "last"});
    DRVDEVMODE dm;
    std::memcpy(&dm, job.steps.front().data.data(), sizeof dm);
    // As another rendering driver might have set them.
    dm.sOhpInterleave = 3;
    std::strcpy(dm.szWmFaceName, "Courier New");
    dm.crWmColor = RGB(255, 0, 0);
    dm.sWmOffsetX = 100;
    dm.dmPublic.dmScale = 90;
    dm.sDeferText = 1;
    dm.sTextMode = 2;
    dm.sReverseOrder = 7;
    dm.sOverlayMode = 5;
    std::memcpy(job.steps.front().data.data(), &dm, sizeof dm);
    job.steps.insert(job.steps.begin() + 2, {spoolsim::StepKind::Write, spoolsim::markers::Raw(0x42)});
    job.abort = true;

    jobtool::ShownJob shown = jobtool::ShowJob(job);
    const std::vector<std::string> words = {"transparency interleave value 3",
                                            "watermark font \"Courier New\"",
                                            "watermark colour 255,0,0",
                                            "watermark moved by 100,0",
                                            "scale 90%",
                                            "text capture is off",
                                            "page order value 7",
                                            "overlay mode 5"};
    std::string others;
    for (const std::string &o : shown.others)
    {
        others += o + "\n";
    }
    for (const std::string &w : words)
    {
        EXPECT_TRUE(Contains(others, w)) << others << "lacks " << w;
    }
    EXPECT_EQ(shown.options,
              (std::vector<std::string>{"--transparency", "last", "--watermark", "X", "--name", "sample.pxl"}));
    EXPECT_EQ(shown.steps[2], "write 4 bytes: marker record with code 0x42 (the hook ignores it)");
    const std::string text = jobtool::FormatShownJob(shown, job, "customer.kdjob");
    EXPECT_TRUE(Contains(text, "  also set (make has no option for it): scale 90%\n")) << text;
    EXPECT_TRUE(Contains(text, "then DrvSplEndDoc and DrvSplAbort\n")) << text;

    // No settings block at all: the steps are still there to see.
    spoolsim::Job bare;
    bare.steps = {{spoolsim::StepKind::StartPage, {}}, {spoolsim::StepKind::Write, spoolsim::ToBytes("hello")}};
    shown = jobtool::ShowJob(bare);
    EXPECT_FALSE(shown.settings);
    EXPECT_TRUE(shown.options.empty());
    EXPECT_EQ(shown.steps, (std::vector<std::string>{"start page", "write 5 bytes: data"}));
    EXPECT_TRUE(Contains(jobtool::FormatShownJob(shown, bare, "bare.kdjob"), "settings: none")) << "";
}

TEST(Show, WordsComeBackAsTheShellReadsThem)
{
    EXPECT_EQ(jobtool::ShellWord("--copies"), "--copies");
    EXPECT_EQ(jobtool::ShellWord("C:\\forms\\x.ovl"), "'C:\\forms\\x.ovl'");
    EXPECT_EQ(jobtool::ShellWord("it's"), "'it'\\''s'");
    EXPECT_EQ(jobtool::ShellWord(""), "''");
    EXPECT_EQ(jobtool::ShellWord("a b"), "'a b'");
}

} // namespace
} // namespace jobtool_test
