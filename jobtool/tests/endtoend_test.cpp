// Real PCL XL end to end: the sample documents made into jobs for every
// option, run through kd7720um, and every printed document checked to be
// well-formed PCL XL whose pages are the expected input pages in the
// expected order, with the expected fragments around them.
#include "support.h"

#include "cli.h"

#include <functional>

namespace jobtool_test
{
namespace
{

using jobtool::JobOptions;
using Seq = std::vector<std::string>;

Seq Pages(std::initializer_list<int> pages)
{
    Seq s;
    for (int p : pages)
    {
        s.push_back(std::to_string(p));
    }
    return s;
}

Seq Twice(const Seq &s)
{
    Seq t = s;
    t.insert(t.end(), s.begin(), s.end());
    return t;
}

struct Case
{
    const char *name;
    const char *sample;
    std::function<void(JobOptions &)> options;
    std::vector<Seq> documents;
};

TEST(EndToEnd, EveryOptionPrintsTheExpectedPagesAsWellFormedPclXl)
{
    using jobtool::BookletKind;
    using jobtool::Interleave;
    using jobtool::PageSet;
    const Seq all = Pages({1, 2, 3, 4, 5, 6});
    const Case cases[] = {
        {"as it arrives", "sample.pxl", [](JobOptions &) {}, {all}},
        {"pass-through", "sample.pxl", [](JobOptions &o) { o.passThrough = true; }, {all}},
        {"deferred text", "sample.pxl", [](JobOptions &o) { o.deferText = true; }, {all}},
        {"collated copies",
         "sample.pxl",
         [](JobOptions &o) {
             o.collate = true;
             o.copies = 2;
         },
         {Twice(all)}},
        {"copies by the printer", "sample.pxl", [](JobOptions &o) { o.copies = 3; }, {all}},
        {"copy command",
         "sample.pxl",
         [](JobOptions &o) {
             o.collate = o.copyCommand = true;
             o.copies = 3;
         },
         {all}},
        {"reverse", "sample.pxl", [](JobOptions &o) { o.reverse = true; }, {Pages({6, 5, 4, 3, 2, 1})}},
        {"reverse, collated",
         "sample.pxl",
         [](JobOptions &o) {
             o.reverse = o.collate = true;
             o.copies = 2;
         },
         {Twice(Pages({6, 5, 4, 3, 2, 1}))}},
        {"reverse, two landscape pages", "landscape.pxl", [](JobOptions &o) { o.reverse = true; }, {Pages({2, 1})}},
        {"odd pages", "sample.pxl", [](JobOptions &o) { o.pageSet = PageSet::Odd; }, {Pages({1, 3, 5})}},
        {"even pages", "sample.pxl", [](JobOptions &o) { o.pageSet = PageSet::Even; }, {Pages({2, 4, 6})}},
        {"even pages of one", "one-page.pxl", [](JobOptions &o) { o.pageSet = PageSet::Even; }, {Pages({1})}},
        {"manual duplex",
         "sample.pxl",
         [](JobOptions &o) { o.manualDuplex = true; },
         {Pages({6, 4, 2}), Pages({1, 3, 5})}},
        {"manual duplex, descending, instruction page",
         "sample.pxl",
         [](JobOptions &o) { o.manualDuplex = o.descending = o.instructionPage = true; },
         {Seq{"I", "6", "4", "2"}, Pages({5, 3, 1})}},
        {"manual duplex, two landscape pages",
         "landscape.pxl",
         [](JobOptions &o) { o.manualDuplex = true; },
         {Pages({2}), Pages({1})}},
        {"booklet by the printer",
         "sample.pxl",
         [](JobOptions &o) { o.booklet = BookletKind::Printer; },
         {Seq{"-|1", "2|-", "6|3", "4|5"}}},
        {"booklet by the printer, other direction, collated",
         "sample.pxl",
         [](JobOptions &o) {
             o.booklet = BookletKind::Printer;
             o.direction = 1;
             o.collate = true;
             o.copies = 2;
         },
         {Twice(Seq{"1|-", "-|2", "3|6", "5|4"})}},
        {"booklet by hand",
         "sample.pxl",
         [](JobOptions &o) { o.booklet = BookletKind::Manual; },
         {Seq{"4|5", "2|-"}, Seq{"-|1", "6|3"}}},
        {"booklet by hand, descending, instruction page",
         "sample.pxl",
         [](JobOptions &o) {
             o.booklet = BookletKind::Manual;
             o.descending = o.instructionPage = true;
         },
         {Seq{"I", "4|5", "2|-"}, Seq{"6|3", "-|1"}}},
        {"booklet of one page", "one-page.pxl", [](JobOptions &o) { o.booklet = BookletKind::Manual; }, {Seq{"-|1"}}},
        {"landscape booklet",
         "landscape.pxl",
         [](JobOptions &o) { o.booklet = BookletKind::Printer; },
         {Seq{"-|1", "2|-"}}},
        {"transparencies, same page",
         "sample.pxl",
         [](JobOptions &o) { o.transparency = Interleave::SamePage; },
         {Pages({1, 1, 2, 2, 3, 3, 4, 4, 5, 5, 6, 6})}},
        {"transparencies, last page, transparency first",
         "sample.pxl",
         [](JobOptions &o) {
             o.transparency = Interleave::LastPage;
             o.transparencyFirst = true;
         },
         {Pages({1, 6, 2, 6, 3, 6, 4, 6, 5, 6})}},
        {"transparencies, reverse, collated",
         "landscape.pxl",
         [](JobOptions &o) {
             o.transparency = Interleave::SamePage;
             o.reverse = o.collate = true;
             o.copies = 2;
         },
         {Pages({2, 2, 1, 1, 2, 2, 1, 1})}},
        {"watermark", "sample.pxl", [](JobOptions &o) { o.watermark = "CONFIDENTIAL"; }, {all}},
        {"outlined watermark, reverse",
         "sample.pxl",
         [](JobOptions &o) {
             o.watermark = "DRAFT";
             o.wmOutline = o.reverse = true;
             o.wmSize = 40;
             o.wmAngle = 0;
         },
         {Pages({6, 5, 4, 3, 2, 1})}},
        {"watermark on a booklet",
         "sample.pxl",
         [](JobOptions &o) {
             o.watermark = "COPY";
             o.booklet = BookletKind::Printer;
         },
         {Seq{"-|1", "2|-", "6|3", "4|5"}}},
        {"orientation given",
         "sample.pxl",
         [](JobOptions &o) {
             o.orientation = DMORIENT_LANDSCAPE;
             o.watermark = "X";
         },
         {all}},
    };
    for (const Case &c : cases)
    {
        JobOptions o;
        c.options(o);
        o.documentName = c.name;
        Outcome out = MakeAndRun(c.sample, o);
        ASSERT_TRUE(out.made.job) << c.name << ": " << out.made.error;
        EXPECT_TRUE(out.replay.problems.empty()) << c.name << "\n" << out.Report();
        EXPECT_TRUE(out.AllWellFormed()) << c.name << "\n" << out.Report();
        EXPECT_EQ(out.Sequences(), c.documents) << c.name << "\n" << out.Report();
    }
}

// The lead-ins go where the hook puts them: both before the first page of a
// document sent as it is; one before the pages of each pass or sheet kind.
TEST(EndToEnd, LeadInsStandBeforeThePagesTheHookChose)
{
    auto leadIns = [](const jobtool::PageMap &map) {
        Seq s;
        for (const jobtool::Entry *e : map.Pages())
        {
            std::string l = std::string(e->Has("lead-in 1") ? "1" : "") + (e->Has("lead-in 2") ? "2" : "");
            s.push_back(l.empty() ? "-" : l);
        }
        return s;
    };
    JobOptions plain;
    plain.collate = true;
    plain.copies = 2;
    Outcome collated = MakeAndRun("landscape.pxl", plain);
    ASSERT_EQ(collated.maps.size(), 1u) << collated.Report();
    EXPECT_EQ(leadIns(collated.maps[0]), (Seq{"12", "-", "-", "-"}));

    JobOptions reverse;
    reverse.reverse = true;
    Outcome reversed = MakeAndRun("sample.pxl", reverse);
    ASSERT_EQ(reversed.maps.size(), 1u) << reversed.Report();
    EXPECT_EQ(leadIns(reversed.maps[0]), (Seq{"2", "-", "-", "-", "-", "-"}));

    JobOptions duplex;
    duplex.manualDuplex = duplex.instructionPage = true;
    Outcome twoPass = MakeAndRun("sample.pxl", duplex);
    ASSERT_EQ(twoPass.maps.size(), 2u) << twoPass.Report();
    EXPECT_EQ(leadIns(twoPass.maps[0]), (Seq{"-", "1", "-", "-"}));
    EXPECT_EQ(leadIns(twoPass.maps[1]), (Seq{"2", "-", "-"}));
    ASSERT_EQ(twoPass.boxes.size(), 1u);
    EXPECT_EQ(spoolsim::Narrow(twoPass.boxes[0].text), "Re-insert the sheets into Multi-purpose tray");

    JobOptions ohp;
    ohp.transparency = jobtool::Interleave::SamePage;
    Outcome sheets = MakeAndRun("landscape.pxl", ohp);
    ASSERT_EQ(sheets.maps.size(), 1u) << sheets.Report();
    EXPECT_EQ(leadIns(sheets.maps[0]), (Seq{"1", "2", "1", "2"})) << "separator, transparency, ...";

    JobOptions booklet;
    booklet.booklet = jobtool::BookletKind::Manual;
    Outcome folded = MakeAndRun("sample.pxl", booklet);
    ASSERT_EQ(folded.maps.size(), 2u) << folded.Report();
    EXPECT_EQ(leadIns(folded.maps[0]), (Seq{"1", "-"}));
    EXPECT_EQ(leadIns(folded.maps[1]), (Seq{"2", "-"}));
}

TEST(EndToEnd, CopyCommandGoesIntoTheHeaderOnlyForSeveralCopies)
{
    for (int copies : {1, 3})
    {
        JobOptions o;
        o.collate = o.copyCommand = true;
        o.copies = copies;
        Outcome out = MakeAndRun("sample.pxl", o);
        ASSERT_EQ(out.maps.size(), 1u) << out.Report();
        const jobtool::Entry &header = out.maps[0].entries.front();
        ASSERT_EQ(header.kind, jobtool::EntryKind::Header);
        const jobtool::Fragment *command = header.Find("copy command");
        if (copies == 1)
        {
            EXPECT_EQ(command, nullptr) << out.Report();
            continue;
        }
        ASSERT_NE(command, nullptr) << out.Report();
        EXPECT_EQ(command->text, "@PJL SET QTY=3");
        EXPECT_TRUE(out.AllWellFormed()) << out.Report();
    }

    // A document that opens without PJL gets the command with a PJL prelude.
    pclxl::Writer w;
    w.streamHeader("plain").beginSession(300).openDataSource();
    for (const char *text : {"one", "two"})
    {
        w.beginPage().setColorSpaceGray().setFont("Courier         ", 36).setCursor(300, 300).text(text).endPage(1);
    }
    w.closeDataSource().endSession();
    JobOptions o;
    o.collate = o.copyCommand = true;
    o.copies = 2;
    Outcome plain = MakeAndRun(w.take(), o);
    ASSERT_EQ(plain.maps.size(), 1u) << plain.made.error << plain.Report();
    EXPECT_TRUE(plain.AllWellFormed()) << plain.Report();
    EXPECT_EQ(plain.Sequences()[0], Pages({1, 2}));
    const Bytes &data = plain.replay.run.PrinterDocument(0).data;
    const std::string prelude = "\x1B%-12345X@PJL SET QTY=2\n@PJL ENTER LANGUAGE = PCLXL\n) HP-PCL XL;2;0;plain\n";
    EXPECT_EQ(std::string(data.begin(), data.begin() + static_cast<long>(prelude.size())), prelude);
}

TEST(EndToEnd, WatermarkFollowsPageOrientationAndFirstPageSetting)
{
    JobOptions o;
    o.watermark = "CONFIDENTIAL";
    Outcome every = MakeAndRun("sample.pxl", o);
    ASSERT_EQ(every.maps.size(), 1u) << every.Report();
    const Bytes &data = every.replay.run.PrinterDocument(0).data;
    std::vector<Bytes> marks;
    for (const jobtool::Entry *e : every.maps[0].Pages())
    {
        const jobtool::Fragment *f = e->Find("watermark");
        ASSERT_NE(f, nullptr) << "input page " << e->inputPage;
        EXPECT_EQ(f->text, "\"CONFIDENTIAL\"");
        marks.emplace_back(data.begin() + static_cast<long>(f->offset),
                           data.begin() + static_cast<long>(f->offset + f->size));
    }
    ASSERT_EQ(marks.size(), 6u);
    // Pages 3 and 5 are landscape: their watermark is drawn for a landscape
    // page; the portrait pages share the portrait one.
    EXPECT_NE(marks[2], marks[0]);
    EXPECT_EQ(marks[4], marks[2]);
    EXPECT_EQ(marks[3], marks[0]);
    EXPECT_EQ(marks[5], marks[0]);

    o.wmFirstPage = o.reverse = true;
    Outcome first = MakeAndRun("sample.pxl", o);
    ASSERT_EQ(first.maps.size(), 1u) << first.Report();
    Seq marked;
    for (const jobtool::Entry *e : first.maps[0].Pages())
    {
        marked.push_back(e->Has("watermark") ? "W" : "-");
    }
    EXPECT_EQ(marked, (Seq{"-", "-", "-", "-", "-", "W"})) << "only input page 1, printed last";
}

TEST(EndToEnd, OverlayIsCreatedFromPage1AndPrintedUnderEveryPage)
{
    TempDir dir;
    const std::string path = jobtool::ToWindowsPath(dir.Path("form.ovl"));
    JobOptions create;
    create.overlayCreate = path;
    create.watermark = "FORM";
    Outcome made = MakeAndRun("one-page.pxl", create, {IDOK});
    ASSERT_TRUE(made.replay.problems.empty()) << made.Report();
    ASSERT_EQ(made.boxes.size(), 1u);
    EXPECT_EQ(spoolsim::Narrow(made.boxes[0].text), "Create Page Overlay ?");
    EXPECT_EQ(spoolsim::Narrow(made.boxes[0].caption), path);
    EXPECT_TRUE(made.maps.empty()) << "nothing is printed";
    ASSERT_TRUE(made.replay.overlayFile);
    const Bytes overlay = *made.replay.overlayFile;
    jobtool::Commands body = jobtool::ReadCommands(pclxl::Bytes(overlay), pclxl::Context::Page);
    EXPECT_TRUE(body.ok()) << body.error();
    EXPECT_EQ(body.structure.commands.front().op, pclxl::op::SetClipToPage) << "the watermark, without PushGS";
    pclxl::PrintabilityOptions pageBody;
    pageBody.context = pclxl::Context::Page;
    const std::optional<pclxl::Error> refused = pclxl::checkPrintability(pclxl::Bytes(overlay), pageBody);
    EXPECT_FALSE(refused) << refused->message();

    for (bool booklet : {false, true})
    {
        JobOptions use;
        use.overlay = path;
        use.ask = true;
        if (booklet)
        {
            use.booklet = jobtool::BookletKind::Printer;
        }
        else
        {
            use.reverse = true;
        }
        Outcome printed = MakeAndRun("sample.pxl", use, {IDOK});
        ASSERT_EQ(printed.maps.size(), 1u) << printed.Report();
        EXPECT_TRUE(printed.AllWellFormed()) << printed.Report();
        EXPECT_TRUE(printed.AllPrintable()) << printed.Report();
        EXPECT_EQ(printed.Sequences()[0], booklet ? (Seq{"-|1", "2|-", "6|3", "4|5"}) : Pages({6, 5, 4, 3, 2, 1}));
        const jobtool::Fragment *embedding = printed.maps[0].entries.front().Find("overlay embedding");
        ASSERT_NE(embedding, nullptr) << printed.Report();
        EXPECT_EQ(embedding->size, overlay.size() + 76);
        for (const jobtool::Entry *e : printed.maps[0].Pages())
        {
            EXPECT_TRUE(e->Has("overlay")) << "page " << e->inputPage;
        }
        EXPECT_EQ(spoolsim::Narrow(printed.boxes.at(0).text), "Print Document with the Overlay ?");
    }

    // Declined, or an overlay that is not there: the job is refused and
    // nothing is printed.
    JobOptions declined;
    declined.overlay = path;
    declined.ask = true;
    Outcome no = MakeAndRun("sample.pxl", declined, {IDCANCEL});
    ASSERT_EQ(no.replay.problems.size(), 1u) << no.Report();
    EXPECT_NE(no.replay.problems[0].find("settings block"), std::string::npos) << no.replay.problems[0];
    EXPECT_TRUE(no.maps.empty());
    EXPECT_TRUE(no.replay.run.stoppedAtFailedWrite);
    EXPECT_EQ(no.replay.run.writes.size(), 1u) << "nothing after the refused write";
    EXPECT_TRUE(no.replay.run.PrinterDocument(0).aborted);
    JobOptions missing;
    missing.overlay = jobtool::ToWindowsPath(dir.Path("none.ovl"));
    Outcome none = MakeAndRun("sample.pxl", missing);
    ASSERT_EQ(none.replay.problems.size(), 1u) << none.Report();
    EXPECT_NE(none.replay.problems[0].find("overlay marker"), std::string::npos) << none.replay.problems[0];
    EXPECT_TRUE(none.maps.empty());
}

TEST(EndToEnd, DeferredTextEndsEachPageAndPassThroughChangesNothing)
{
    JobOptions defer;
    defer.deferText = true;
    Outcome deferred = MakeAndRun("sample.pxl", defer);
    ASSERT_EQ(deferred.maps.size(), 1u) << deferred.Report();
    const Bytes &data = deferred.replay.run.PrinterDocument(0).data;
    pclxl::Document doc = pclxl::readDocument(pclxl::Bytes(data));
    ASSERT_TRUE(doc.ok());
    for (const pclxl::Page &p : doc.pages)
    {
        EXPECT_EQ(doc.commands[p.end_command - 1].op, pclxl::op::Text) << "page " << p.number << " ends with its text";
    }

    JobOptions pass;
    pass.passThrough = true;
    Outcome passed = MakeAndRun("sample.pxl", pass);
    ASSERT_EQ(passed.maps.size(), 1u) << passed.Report();
    Bytes sent;
    std::vector<Bytes> writes = Writes(*passed.made.job);
    for (size_t i = 1; i < writes.size(); i++)
    {
        sent.insert(sent.end(), writes[i].begin(), writes[i].end());
    }
    EXPECT_EQ(passed.replay.run.PrinterDocument(0).data, sent);
}

} // namespace
} // namespace jobtool_test
