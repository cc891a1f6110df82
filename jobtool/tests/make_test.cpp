// "make": the stream the rendering driver sends, and what it refuses.
#include "support.h"

#include <cstring>

namespace jobtool_test
{
namespace
{

using jobtool::JobOptions;
using jobtool::MakeJob;

size_t Count(const std::vector<Bytes> &writes, uint8_t code)
{
    return static_cast<size_t>(
        std::count_if(writes.begin(), writes.end(), [code](const Bytes &b) { return IsMarker(b, code); }));
}

bool Contains(const Bytes &b, const Bytes &part)
{
    return std::search(b.begin(), b.end(), part.begin(), part.end()) != b.end();
}

bool Equals(const Bytes &b, const char *text)
{
    return b.size() == std::strlen(text) && std::memcmp(b.data(), text, b.size()) == 0;
}

TEST(Make, DirectJobCarriesNoMarkersAndLeadInsBeforeThePage)
{
    JobOptions o;
    jobtool::MadeJob made = MakeJob(Sample("sample.pxl"), o);
    ASSERT_TRUE(made.job) << made.error;
    std::vector<Bytes> writes = Writes(*made.job);
    ASSERT_EQ(writes.front().size(), static_cast<size_t>(DRVDEVMODE_SIZE));
    for (uint8_t code : {0xAA, 0xFF, 0xBB, 0x00})
    {
        EXPECT_EQ(Count(writes, code), 0u) << "marker " << int(code);
    }
    // The lead-ins are one buffer of two BeginPage attributes, right before
    // the first page's StartPage.
    const std::vector<spoolsim::Step> &steps = made.job->steps;
    auto firstPage = std::find_if(steps.begin(), steps.end(),
                                  [](const spoolsim::Step &s) { return s.kind == spoolsim::StepKind::StartPage; });
    ASSERT_NE(firstPage, steps.begin());
    Bytes leadIns = jobtool::driver::LeadIn1();
    Bytes l2 = jobtool::driver::LeadIn2();
    leadIns.insert(leadIns.end(), l2.begin(), l2.end());
    EXPECT_EQ((firstPage - 1)->data, leadIns);
    EXPECT_EQ(std::count_if(steps.begin(), steps.end(),
                            [](const spoolsim::Step &s) { return s.kind == spoolsim::StepKind::EndPage; }),
              6);
    DRVDEVMODE dm;
    std::memcpy(&dm, writes.front().data(), sizeof(dm));
    EXPECT_EQ(dm.dmPublic.dmYResolution, 150);
    EXPECT_EQ(dm.dmPublic.dmPaperSize, DMPAPER_A4);
    EXPECT_EQ(dm.dmPublic.dmOrientation, DMORIENT_PORTRAIT);
}

TEST(Make, SpooledJobsMarkEveryPageWithItsOrientation)
{
    JobOptions o;
    o.reverse = true;
    o.collate = true;
    o.copies = 3;
    jobtool::MadeJob made = MakeJob(Sample("sample.pxl"), o);
    ASSERT_TRUE(made.job) << made.error;
    std::vector<Bytes> writes = Writes(*made.job);
    std::vector<int> orientations;
    for (const Bytes &w : writes)
    {
        if (IsMarker(w, 0xAA))
        {
            ASSERT_EQ(w.size(), 5u);
            orientations.push_back(w[4]);
        }
    }
    EXPECT_EQ(orientations, (std::vector<int>{1, 1, 2, 1, 2, 1}));
    ASSERT_EQ(Count(writes, 0xFF), 1u);
    const Bytes &end = *std::find_if(writes.begin(), writes.end(), [](const Bytes &b) { return IsMarker(b, 0xFF); });
    EXPECT_EQ(end, (Bytes{0x1B, 0xF0, 0x10, 0xFF, 3, 0})) << "the copies of a collated job, and nothing else";
}

TEST(Make, CopyCommandIsAPjlLineAtTheCopyPosition)
{
    JobOptions o;
    o.collate = o.copyCommand = true;
    o.copies = 4;
    jobtool::MadeJob made = MakeJob(Sample("one-page.pxl"), o);
    ASSERT_TRUE(made.job) << made.error;
    std::vector<Bytes> writes = Writes(*made.job);
    auto pos = std::find_if(writes.begin(), writes.end(), [](const Bytes &b) { return IsMarker(b, 0xBB); });
    ASSERT_NE(pos, writes.end());
    ASSERT_NE(pos, writes.begin());
    const Bytes &after = *(pos + 1);
    EXPECT_TRUE(Equals(Bytes(after.begin(), after.begin() + 19), "@PJL ENTER LANGUAGE")) << "the copy position";
    const Bytes &end = *std::find_if(writes.begin(), writes.end(), [](const Bytes &b) { return IsMarker(b, 0xFF); });
    const std::string command = "@PJL SET QTY=4\n";
    Bytes expected = {0x1B, 0xF0, 0x10, 0xFF, 4, 0, static_cast<uint8_t>(command.size())};
    expected.insert(expected.end(), command.begin(), command.end());
    EXPECT_EQ(end, expected);
    // A document without PJL gets the PJL prelude with the command.
    EXPECT_EQ(jobtool::driver::CopyCommand(2, true).front(), 0x1B);
}

TEST(Make, BookletFragmentsAreShortRealPclXl)
{
    for (jobtool::BookletKind kind : {jobtool::BookletKind::Printer, jobtool::BookletKind::Manual})
    {
        for (bool overlay : {false, true})
        {
            JobOptions o;
            o.booklet = kind;
            o.overlay = overlay ? std::make_optional<std::string>("C:\\overlay.bin") : std::nullopt;
            jobtool::MadeJob made = MakeJob(Sample("sample.pxl"), o);
            ASSERT_TRUE(made.job) << made.error;
            std::vector<Bytes> writes = Writes(*made.job);
            ASSERT_EQ(Count(writes, 0x00), 1u);
            DRVDEVMODE dm;
            std::memcpy(&dm, writes.front().data(), sizeof(dm));
            jobtool::PrepareResult prepared = jobtool::Prepare(Sample("sample.pxl"), 0);
            jobtool::BookletLayout layout = jobtool::MakeBookletLayout(*prepared.doc, dm);
            std::vector<spoolsim::markers::BookletItem> items = layout.record.items;
            items.insert(items.end(), layout.record.overlayItems.begin(), layout.record.overlayItems.end());
            ASSERT_EQ(items.size(), overlay ? 13u : 11u);
            EXPECT_LE(spoolsim::markers::Booklet(layout.record).size(), 256u) << "items are found by one-byte offsets";
            std::vector<Bytes> data;
            for (size_t i = 0; i < items.size(); i++)
            {
                data.push_back(items[i].data);
                if (i == 0 && kind == jobtool::BookletKind::Manual)
                {
                    ASSERT_GE(data[0].size(), 8u);
                    EXPECT_EQ(Bytes(data[0].begin(), data[0].begin() + 4), jobtool::driver::LeadIn1());
                    data[0].erase(data[0].begin(), data[0].begin() + 8);
                }
                EXPECT_LE(data[i].size(), 31u) << "item " << i + 1;
            }
            // Each fragment is sound where the hook puts it: BeginPage and
            // EndPage frame a sheet side; the overlay items (14 first) open
            // and close a graphics state; the rest stand in a page.
            auto sound = [](const Bytes &a, const Bytes &b, pclxl::Context context) {
                Bytes both = a;
                both.insert(both.end(), b.begin(), b.end());
                jobtool::Commands c = jobtool::ReadCommands(pclxl::Bytes(both), context);
                return c.ok() ? ::testing::AssertionSuccess() : ::testing::AssertionFailure() << c.error();
            };
            EXPECT_TRUE(sound(data[0], data[1], pclxl::Context::Session));
            for (size_t i = 2; i < 11; i++)
            {
                EXPECT_TRUE(sound(data[i], {}, pclxl::Context::Page)) << "item " << i + 1;
            }
            if (overlay)
            {
                EXPECT_TRUE(sound(data[12], data[11], pclxl::Context::Page));
            }
            // The pages go as bodies (the sheets' frames come from the
            // record): all of them together read as one page's content.
            Bytes bodies;
            bool inPages = false;
            for (const Bytes &w : writes)
            {
                inPages = IsMarker(w, 0xAA) || (inPages && !IsMarker(w, 0xFF));
                if (inPages && !IsMarker(w, 0xAA))
                {
                    bodies.insert(bodies.end(), w.begin(), w.end());
                }
            }
            jobtool::Commands c = jobtool::ReadCommands(pclxl::Bytes(bodies), pclxl::Context::Page);
            EXPECT_TRUE(c.ok()) << c.error();
        }
    }
}

TEST(Make, LandscapePagesGetTheirOwnSettingsOnlyWithAWatermark)
{
    for (bool watermark : {false, true})
    {
        JobOptions o;
        if (watermark)
        {
            o.watermark = "DRAFT";
        }
        jobtool::MadeJob made = MakeJob(Sample("sample.pxl"), o);
        ASSERT_TRUE(made.job) << made.error;
        std::vector<int> blocks;
        size_t markers = 0;
        for (const Bytes &w : Writes(*made.job))
        {
            if (w.size() == DRVDEVMODE_SIZE)
            {
                DRVDEVMODE dm;
                std::memcpy(&dm, w.data(), sizeof(dm));
                blocks.push_back(dm.dmPublic.dmOrientation);
            }
            markers += Equals(w, spoolsim::markers::kWatermark) ? 1 : 0;
        }
        // Portrait, then landscape for page 3, portrait for page 4, and so on.
        EXPECT_EQ(blocks, watermark ? (std::vector<int>{1, 2, 1, 2, 1}) : std::vector<int>{1});
        EXPECT_EQ(markers, watermark ? 6u : 0u);
    }
}

TEST(Make, DeferredTextEndsItsPageAfterThePageEndHook)
{
    JobOptions o;
    o.deferText = true;
    jobtool::MadeJob made = MakeJob(Sample("sample.pxl"), o);
    ASSERT_TRUE(made.job) << made.error;
    const std::vector<spoolsim::Step> &steps = made.job->steps;
    int starts = 0, ends = 0, pageEndsAfterHook = 0;
    for (size_t i = 0; i < steps.size(); i++)
    {
        const Bytes &d = steps[i].data;
        starts += d == Bytes{0x1B, 0xFB, 0x0B, 0xFA} ? 1 : 0;
        ends += d == Bytes{0x1B, 0xFB, 0x0B, 0xFB} ? 1 : 0;
        if (steps[i].kind == spoolsim::StepKind::EndPage && i + 1 < steps.size())
        {
            const Bytes &next = steps[i + 1].data;
            pageEndsAfterHook += !next.empty() && std::find(next.begin(), next.end(), pclxl::op::EndPage) != next.end();
        }
    }
    EXPECT_EQ(starts, 6);
    EXPECT_EQ(ends, 6);
    EXPECT_EQ(pageEndsAfterHook, 6);
}

TEST(Make, FontDownloadsMoveIntoTheHeaderUnlessTheyClash)
{
    jobtool::PrepareResult p = jobtool::Prepare(Sample("sample.pxl"), 0);
    ASSERT_TRUE(p.doc) << p.error;
    for (const jobtool::PreparedPage &page : p.doc->pages)
    {
        jobtool::Commands c = jobtool::ReadCommands(pclxl::Bytes(page.body), pclxl::Context::Page);
        for (const pclxl::Command &cmd : c.structure.commands)
        {
            EXPECT_NE(cmd.op, pclxl::op::BeginChar) << "page " << page.number;
            EXPECT_NE(cmd.op, pclxl::op::BeginFontHeader) << "page " << page.number;
        }
        EXPECT_FALSE(Contains(page.begin, {pclxl::dt::UByte, 1, 0xF8, pclxl::attr::MediaSource}))
            << "MediaSource is the lead-ins' to give";
    }

    // Two pages that download the same font: the downloads stay in place.
    pclxl::Writer w;
    w.streamHeader().beginSession(600).openDataSource();
    for (int i = 0; i < 2; i++)
    {
        w.beginPage();
        w.ubyteArray("F")
            .attr(pclxl::attr::FontName)
            .ubyte(0)
            .attr(pclxl::attr::FontFormat)
            .op(pclxl::op::BeginFontHeader);
        Bytes header(16, 0);
        w.uint16(16).attr(pclxl::attr::FontHeaderLength).op(pclxl::op::ReadFontHeader).data(pclxl::Bytes(header));
        w.op(pclxl::op::EndFontHeader);
        w.setFont("F", 12).setCursor(100, 100).text("A").endPage(1);
    }
    w.closeDataSource().endSession();
    Bytes doc = w.take();
    jobtool::PrepareResult clash = jobtool::Prepare(doc, 0);
    ASSERT_TRUE(clash.doc) << clash.error;
    ASSERT_FALSE(clash.doc->notes.empty());
    EXPECT_NE(clash.doc->notes.front().find("downloaded twice"), std::string::npos) << clash.doc->notes.front();
    EXPECT_NE(std::find(clash.doc->pages[1].body.begin(), clash.doc->pages[1].body.end(), pclxl::op::BeginFontHeader),
              clash.doc->pages[1].body.end());
}

// A document whose second page downloads another character under a code the
// first page used: reordered, each page still draws its own character; a
// download that cannot be moved refuses reordering options only.
TEST(Make, PagesThatReuseCharacterCodesPrintInAnyOrder)
{
    auto define = [](pclxl::Writer &w, const char *glyph) {
        w.ubyteArray("@").attr(pclxl::attr::FontName).op(pclxl::op::BeginChar);
        w.uint16(7).attr(pclxl::attr::CharCode).uint16(5).attr(pclxl::attr::CharDataSize).op(pclxl::op::ReadChar);
        w.data(pclxl::Bytes(std::string(glyph)));
        w.op(pclxl::op::EndChar);
    };
    pclxl::Writer w;
    w.streamHeader().beginSession(600).openDataSource();
    w.ubyteArray("@").attr(pclxl::attr::FontName).ubyte(0).attr(pclxl::attr::FontFormat).op(pclxl::op::BeginFontHeader);
    w.uint16(4)
        .attr(pclxl::attr::FontHeaderLength)
        .op(pclxl::op::ReadFontHeader)
        .data(pclxl::Bytes(std::string("head")));
    w.op(pclxl::op::EndFontHeader);
    for (const char *glyph : {"first", "other"})
    {
        w.beginPage();
        define(w, glyph);
        w.setFont("@", 12, 0).setCursor(100, 100);
        w.uint16Array({7}).attr(pclxl::attr::TextData).op(pclxl::op::Text).endPage(1);
    }
    w.closeDataSource().endSession();
    const Bytes doc = w.take();

    JobOptions reverse;
    reverse.reverse = true;
    Outcome o = MakeAndRun(doc, reverse);
    ASSERT_TRUE(o.made.job) << o.made.error;
    ASSERT_EQ(o.made.notes.size(), 2u);
    EXPECT_NE(o.made.notes[1].find("as 2 fonts"), std::string::npos) << o.made.notes[1];
    ASSERT_EQ(o.Sequences(), (std::vector<std::vector<std::string>>{{"2", "1"}})) << o.Report();
    const Bytes &printed = o.replay.run.PrinterDocuments().front()->data;
    // Each page selects the font that holds its own character.
    pclxl::Document out = pclxl::readDocument(pclxl::Bytes(printed));
    ASSERT_TRUE(out.ok());
    std::vector<std::string> selected;
    for (const pclxl::Command &c : out.commands)
    {
        if (c.op == pclxl::op::SetFont)
        {
            selected.push_back(c.find(pclxl::attr::FontName)->value.text());
        }
    }
    EXPECT_EQ(selected, (std::vector<std::string>{"@~1", "@"}));

    // A stream that downloads characters itself cannot move: reordering is
    // refused, printing as it comes is not.
    pclxl::Writer stream;
    define(stream, "inner");
    pclxl::Writer s;
    s.streamHeader().beginSession(600).openDataSource();
    s.beginStream("S").readStream(pclxl::Bytes(stream.bytes())).endStream();
    s.beginPage().execStream("S").endPage(1);
    s.closeDataSource().endSession();
    jobtool::MadeJob refused = MakeJob(s.bytes(), reverse);
    EXPECT_FALSE(refused.job);
    EXPECT_NE(refused.error.find("cannot be made to print the same in any order: stream \"S\" downloads"),
              std::string::npos)
        << refused.error;
    jobtool::MadeJob plain = MakeJob(s.bytes(), JobOptions());
    ASSERT_TRUE(plain.job) << plain.error;
    ASSERT_FALSE(plain.notes.empty());
    EXPECT_NE(plain.notes.front().find("font downloads stay in their pages"), std::string::npos);
}

TEST(Make, Page1AsAnOverlayDownloadsAndRemovesItsOwnFonts)
{
    jobtool::PrepareResult p = jobtool::Prepare(Sample("sample.pxl"), 0);
    ASSERT_TRUE(p.doc) << p.error;
    const Bytes &body = p.doc->overlayBody;
    jobtool::Commands c = jobtool::ReadCommands(pclxl::Bytes(body), pclxl::Context::Page);
    ASSERT_TRUE(c.ok()) << c.error();
    const std::vector<pclxl::Command> &cmds = c.structure.commands;
    ASSERT_FALSE(cmds.empty());
    EXPECT_EQ(cmds.back().op, pclxl::op::RemoveFont);
    for (const pclxl::Command &cmd : cmds)
    {
        if (const pclxl::Attribute *name = cmd.find(pclxl::attr::FontName))
        {
            EXPECT_EQ(name->value.text().compare(0, 4, "Ovl."), 0) << pclxl::describe(cmd);
        }
    }
}

TEST(Make, RefusesWhatIsNotASoundPclXlDocumentSayingWhereAndWhy)
{
    const Bytes sample = Sample("sample.pxl");
    struct Case
    {
        const char *what;
        Bytes data;
        const char *expected;
    };
    pclxl::Writer big(pclxl::Endian::Big);
    big.streamHeader().beginSession(600).openDataSource().beginPage().endPage().closeDataSource().endSession();
    pclxl::Writer noPage;
    noPage.streamHeader().beginSession(600).openDataSource().closeDataSource().endSession();
    std::vector<Case> cases = {
        {"empty", {}, "offset 0"},
        {"text", spoolsim::ToBytes("%!PS-Adobe-3.0\nshowpage\n"), "offset 0"},
        {"cut in the PJL", Bytes(sample.begin(), sample.begin() + 40), "offset"},
        {"cut in a page", Bytes(sample.begin(), sample.begin() + 5000), "offset"},
        {"cut before the end", Bytes(sample.begin(), sample.end() - 1), "offset"},
        {"big-endian", big.take(), "big-endian"},
        {"no page", noPage.take(), "no page"},
    };
    for (const Case &c : cases)
    {
        jobtool::MadeJob made = MakeJob(c.data, JobOptions());
        EXPECT_FALSE(made.job) << c.what;
        EXPECT_FALSE(made.usage) << c.what;
        EXPECT_NE(made.error.find(c.expected), std::string::npos) << c.what << ": " << made.error;
    }
}

TEST(Make, RefusesOptionsThatCannotBePrintedTogether)
{
    auto with = [](auto change) {
        JobOptions o;
        change(o);
        return jobtool::CheckOptions(o);
    };
    struct Case
    {
        std::string error;
        const char *expected;
    };
    const Case cases[] = {
        {with([](JobOptions &o) { o.copies = 0; }), "--copies"},
        {with([](JobOptions &o) { o.passThrough = o.collate = true; }),
         "--pass-through cannot be combined with --collate"},
        {with([](JobOptions &o) {
             o.passThrough = true;
             o.watermark = "X";
         }),
         "--pass-through cannot be combined with --watermark"},
        {with([](JobOptions &o) { o.deferText = o.reverse = true; }), "--defer-text cannot be combined with --reverse"},
        {with([](JobOptions &o) {
             o.overlay = "a";
             o.overlayCreate = "b";
         }),
         "--overlay-create and --overlay"},
        {with([](JobOptions &o) {
             o.overlayCreate = "b";
             o.collate = true;
         }),
         "prints nothing"},
        {with([](JobOptions &o) {
             o.reverse = true;
             o.pageSet = jobtool::PageSet::Odd;
         }),
         "--reverse and --page-set"},
        {with([](JobOptions &o) {
             o.manualDuplex = true;
             o.booklet = jobtool::BookletKind::Printer;
         }),
         "--manual-duplex and --booklet"},
        {with([](JobOptions &o) {
             o.manualDuplex = true;
             o.copies = 2;
         }),
         "prints one copy"},
        {with([](JobOptions &o) {
             o.booklet = jobtool::BookletKind::Manual;
             o.collate = true;
         }),
         "prints one copy"},
        {with([](JobOptions &o) {
             o.booklet = jobtool::BookletKind::Printer;
             o.transparency = jobtool::Interleave::SamePage;
         }),
         "sets the page order itself"},
        {with([](JobOptions &o) {
             o.transparency = jobtool::Interleave::LastPage;
             o.pageSet = jobtool::PageSet::Even;
         }),
         "--transparency cannot be combined with --page-set"},
        {with([](JobOptions &o) {
             o.booklet = jobtool::BookletKind::Printer;
             o.copies = 2;
         }),
         "only with --collate"},
        {with([](JobOptions &o) { o.watermark = std::string(80, 'x'); }), "longer than 79 bytes"},
        {with([](JobOptions &o) { o.overlay = std::string(260, 'x'); }), "1 to 259 bytes"},
        {with([](JobOptions &o) { o.copyCommand = true; }), "needs --collate"},
    };
    for (const Case &c : cases)
    {
        EXPECT_NE(c.error.find(c.expected), std::string::npos)
            << "expected \"" << c.expected << "\", got \"" << c.error << "\"";
    }
    // Combinations that print.
    EXPECT_EQ(with([](JobOptions &o) {
                  o.transparency = jobtool::Interleave::SamePage;
                  o.reverse = o.collate = true;
                  o.copies = 2;
              }),
              "");
    EXPECT_EQ(with([](JobOptions &o) {
                  o.booklet = jobtool::BookletKind::Printer;
                  o.collate = o.copyCommand = true;
                  o.copies = 3;
                  o.watermark = "W";
                  o.overlay = "C:\\o";
              }),
              "");
    jobtool::MadeJob made = MakeJob(Sample("one-page.pxl"), [] {
        JobOptions o;
        o.deferText = o.collate = true;
        return o;
    }());
    EXPECT_TRUE(made.usage);
    EXPECT_FALSE(made.job);
}

} // namespace
} // namespace jobtool_test
