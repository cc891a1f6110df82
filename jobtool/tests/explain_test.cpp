// "explain": faults in a printed document, and pages matched without a job.
#include "support.h"

#include "pclxl/samples.h"
#include "pclxl/writer.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <memory>

namespace jobtool_test
{
namespace
{

using jobtool::JobOptions;

Bytes Printed(const std::string &sample, const JobOptions &o, jobtool::Reference *ref = nullptr)
{
    Outcome out = MakeAndRun(sample, o);
    if (ref != nullptr)
    {
        *ref = out.reference;
    }
    return out.replay.run.PrinterDocument(0).data;
}

TEST(Explain, SaysWhereAndWhyADocumentIsNotWellFormed)
{
    jobtool::Reference ref;
    const Bytes good = Printed("sample.pxl", JobOptions(), &ref);
    ASSERT_TRUE(jobtool::Explain(good, ref).wellFormed);

    // Cut inside page 4: the pages before it still map.
    jobtool::PageMap cut = jobtool::Explain(Bytes(good.begin(), good.begin() + 15000), ref);
    EXPECT_FALSE(cut.wellFormed);
    EXPECT_NE(cut.error.find("offset"), std::string::npos) << cut.error;
    EXPECT_EQ(cut.Sequence(), (std::vector<std::string>{"1", "2", "3"}));
    EXPECT_NE(jobtool::FormatPageMap(cut, "cut.pxl").find("NOT well-formed"), std::string::npos);

    // The same attribute twice in a BeginPage: a lead-in the page carried already.
    pclxl::Document doc = pclxl::readDocument(pclxl::Bytes(good));
    Bytes twice = good;
    const Bytes l1 = jobtool::driver::LeadIn1();
    twice.insert(twice.begin() + static_cast<long>(doc.pages[1].range.begin), l1.begin(), l1.end());
    twice.insert(twice.begin() + static_cast<long>(doc.pages[1].range.begin), l1.begin(), l1.end());
    jobtool::PageMap dup = jobtool::Explain(twice, ref);
    EXPECT_FALSE(dup.wellFormed);
    EXPECT_NE(dup.error.find("MediaSource twice"), std::string::npos) << dup.error;
}

TEST(Explain, NamesPagesThatComeFromNoInputPage)
{
    jobtool::Reference ref;
    Bytes printed = Printed("one-page.pxl", JobOptions(), &ref);
    // A page of another document put in before the trailer.
    pclxl::Writer w;
    w.beginPage().setCursor(10, 10).text("stranger").endPage(1);
    pclxl::Document doc = pclxl::readDocument(pclxl::Bytes(printed));
    Bytes page = w.take();
    printed.insert(printed.begin() + static_cast<long>(doc.job_trailer.begin), page.begin(), page.end());
    jobtool::PageMap map = jobtool::Explain(printed, ref);
    EXPECT_TRUE(map.wellFormed) << map.error;
    EXPECT_EQ(map.Sequence(), (std::vector<std::string>{"1", "?"}));
    EXPECT_NE(jobtool::FormatPageMap(map, "x").find("matches no input page"), std::string::npos);
}

TEST(Explain, MatchesPagesWithTheInputDocumentAlone)
{
    std::string error;
    jobtool::Reference input = jobtool::ReferenceFromInput(Sample("sample.pxl"), &error);
    ASSERT_EQ(error, "");
    struct Case
    {
        const char *what;
        JobOptions options;
        std::vector<std::string> expected;
    };
    JobOptions reverse, copies, defer, booklet;
    reverse.reverse = true;
    copies.copies = 2;
    defer.deferText = true;
    booklet.booklet = jobtool::BookletKind::Printer;
    const Case cases[] = {
        {"reverse", reverse, {"6", "5", "4", "3", "2", "1"}},
        {"uncollated copies", copies, {"1", "2", "3", "4", "5", "6"}},
        {"deferred text", defer, {"1", "2", "3", "4", "5", "6"}},
        {"booklet", booklet, {"-|1", "2|-", "6|3", "4|5"}},
    };
    for (const Case &c : cases)
    {
        jobtool::PageMap map = jobtool::Explain(Printed("sample.pxl", c.options), input);
        EXPECT_TRUE(map.wellFormed) << c.what;
        EXPECT_EQ(map.Sequence(), c.expected) << c.what << "\n" << jobtool::FormatPageMap(map, c.what);
    }
    EXPECT_EQ(jobtool::ReferenceFromInput(spoolsim::ToBytes("not PCL XL"), &error).pages.size(), 0u);
    EXPECT_NE(error, "");
}

// Every command fed to the checks, none taken as the repeat of a page met before.
jobtool::PageMap ExplainEveryCommand(const Bytes &printed, const jobtool::Reference &ref)
{
    pclxl::MemorySource source{pclxl::Bytes(printed)};
    jobtool::ExplainHooks hooks;
    hooks.command = [](const pclxl::Command &, const uint8_t *) {};
    return jobtool::Explain(source, ref, hooks);
}

TEST(Explain, PagesPrintedAgainMapAsWhenEveryCommandIsRead)
{
    JobOptions collated, reversed, booklet, uncollated;
    collated.copies = reversed.copies = uncollated.copies = 3;
    collated.collate = reversed.collate = true;
    reversed.reverse = true;
    booklet.booklet = jobtool::BookletKind::Printer;
    booklet.copies = 2;
    booklet.collate = true;
    // What a person takes out of the printer: each copy whole, in order or
    // reversed; the booklet's two sheets (both sides) twice; uncollated
    // copies made by the printer from each page once.
    using Seq = std::vector<std::string>;
    auto times = [](const Seq &once, int n) {
        Seq all;
        for (int i = 0; i < n; i++)
        {
            all.insert(all.end(), once.begin(), once.end());
        }
        return all;
    };
    const std::pair<JobOptions, Seq> cases[] = {
        {collated, times({"1", "2", "3", "4", "5", "6"}, 3)},
        {reversed, times({"6", "5", "4", "3", "2", "1"}, 3)},
        {booklet, times({"-|1", "2|-", "6|3", "4|5"}, 2)},
        {uncollated, {"1", "2", "3", "4", "5", "6"}},
    };
    for (const auto &[o, expected] : cases)
    {
        jobtool::Reference ref;
        const Bytes printed = Printed("sample.pxl", o, &ref);
        const jobtool::PageMap taken = jobtool::Explain(printed, ref);
        const jobtool::PageMap read = ExplainEveryCommand(printed, ref);
        EXPECT_TRUE(taken.wellFormed && taken.printable) << taken.error << taken.refusal;
        EXPECT_EQ(taken.Sequence(), expected) << jobtool::FormatPageMap(taken, "x");
        EXPECT_EQ(jobtool::FormatPageMap(read, "x"), jobtool::FormatPageMap(taken, "x"));
    }
}

// Pages of shapes, each drawn at its own place.
// asAJob: between universal exits, with PJL, as a printer driver sends it.
Bytes Shapes(int count, int perPage = 200, bool asAJob = false)
{
    pclxl::Writer w;
    if (asAJob)
    {
        const std::string pjl = "@PJL ENTER LANGUAGE = PCLXL\r\n";
        w.universalExit().raw(Bytes(pjl.begin(), pjl.end()));
    }
    w.streamHeader("shapes").beginSession(600).openDataSource();
    for (int page = 0; page < count; page++)
    {
        w.beginPage().setColorSpaceGray().setBrushGray(0);
        for (int r = 0; r < perPage; r++)
        {
            const uint16_t x = static_cast<uint16_t>(100 + page * 10 + r % 20 * 100);
            const uint16_t y = static_cast<uint16_t>(100 + r / 20 % 60 * 100);
            w.newPath().rectangle(x, y, static_cast<uint16_t>(x + 50), static_cast<uint16_t>(y + 50));
        }
        w.endPage(1);
    }
    w.closeDataSource().endSession();
    if (asAJob)
    {
        w.universalExit();
    }
    return w.take();
}

// What a map says, all of it.
std::string Said(const jobtool::PageMap &map)
{
    return jobtool::FormatPageMap(map, "x") + (map.wellFormed ? " well-formed" : " not well-formed: " + map.error) +
           (map.printable ? " printable" : " not printable: " + map.refusal);
}

// The later pages of a booklet, or of a job that prints each page once,
// are read by a second pass beside the first: the map is the one pass's,
// whether what the second read is taken or, with a fault after where it
// began (which the first pass then finds and words itself), not.
TEST(Explain, PagesReadByTwoPassesAreExplainedAsByOne)
{
    JobOptions booklet, reversed, collated;
    booklet.booklet = jobtool::BookletKind::Printer;
    reversed.reverse = true;
    collated.copies = 2;
    collated.collate = true;
    const std::pair<Bytes, JobOptions> cases[] = {
        {pclxl::samples::get("sample.pxl").copy(), booklet},
        {Shapes(16), booklet},
        {Shapes(16), reversed},
        {Shapes(16), collated},
    };
    for (const auto &[document, options] : cases)
    {
        const Outcome out = MakeAndRun(document, options);
        const Bytes printed = out.replay.run.PrinterDocument(0).data;
        std::vector<std::pair<uint64_t, bool>> told;
        auto explain = [&](const Bytes &b, uint64_t secondPassFrom) {
            pclxl::MemorySource source{pclxl::Bytes(b)};
            jobtool::ExplainHooks hooks;
            hooks.secondPassFrom = secondPassFrom;
            hooks.secondPass = [&](uint64_t begin, bool taken) { told.emplace_back(begin, taken); };
            return jobtool::Explain(source, out.reference, hooks);
        };
        const jobtool::PageMap one = explain(printed, 0);
        ASSERT_TRUE(told.empty());
        ASSERT_TRUE(one.wellFormed && one.printable) << Said(one);
        const std::vector<std::string> pages = one.Sequence();
        EXPECT_EQ(std::count(pages.begin(), pages.end(), "?"), 0) << Said(one);
        EXPECT_EQ(Said(explain(printed, 1)), Said(one));
        if (options.copies > 1)
        {
            // Pages met again are taken as repeats by one pass.
            EXPECT_TRUE(told.empty());
            continue;
        }
        ASSERT_EQ(told.size(), 1u);
        EXPECT_TRUE(told[0].second) << "the second pass's reading was taken";
        const size_t begin = static_cast<size_t>(told[0].first);
        EXPECT_GT(begin, printed.size() / 2) << "it read the later half";

        // Faults before and after where the second pass began: bytes no
        // reader accepts, and a colour space that a gray brush cannot draw in.
        std::vector<Bytes> damaged;
        for (size_t at : {begin - 1, begin + 1, begin + (printed.size() - begin) / 2, printed.size() - 40})
        {
            for (uint8_t b : {uint8_t{0xFF}, uint8_t{pclxl::op::EndSession}})
            {
                damaged.push_back(printed);
                damaged.back()[at] = b;
            }
        }
        const Bytes gray = {pclxl::dt::UByte, 1, pclxl::tag::AttrUByte, pclxl::attr::ColorSpace,
                            pclxl::op::SetColorSpace};
        const auto last = std::find_end(printed.begin(), printed.end(), gray.begin(), gray.end());
        ASSERT_NE(last, printed.end());
        damaged.push_back(printed);
        damaged.back()[static_cast<size_t>(last - printed.begin()) + 1] = 2; // RGB
        size_t faulty = 0;
        for (const Bytes &d : damaged)
        {
            told.clear();
            const jobtool::PageMap alone = explain(d, 0);
            const bool fault = !alone.wellFormed || !alone.printable;
            faulty += fault ? 1 : 0;
            EXPECT_EQ(Said(explain(d, 1)), Said(alone));
            // With the EndPage before the place damaged, the second pass
            // begins at a later page start, if there is one.
            ASSERT_EQ(told.size(), d[begin - 1] == printed[begin - 1] ? 1u : told.size())
                << "damaged at " << std::mismatch(d.begin(), d.end(), printed.begin()).first - d.begin() << " of "
                << d.size() << ", the second pass found at " << begin;
            ASSERT_LE(told.size(), 1u);
            // A byte in a number or in data may change no command.
            EXPECT_TRUE(told.empty() || told[0].second == !fault) << "only a reading without a fault is taken";
        }
        EXPECT_GE(faulty, 3u);
        EXPECT_FALSE(explain(damaged.back(), 0).printable) << "gray drawn in the RGB colour space";
    }
}

// A document the printer is receiving: `published` bytes are there, and the
// writer says it is done only when a reader waits for more. Readers made by
// twin() note whether they read before that, short of the last bytes.
class Receiving : public pclxl::ByteSource
{
  public:
    struct Shared
    {
        Bytes data;
        std::atomic<uint64_t> published{0};
        std::atomic<bool> ended{false};
        std::atomic<bool> twinReadEarly{false};
    };
    Receiving(std::shared_ptr<Shared> shared, bool first) : shared_(std::move(shared)), first_(first)
    {
    }
    uint64_t size() const override
    {
        return shared_->published.load();
    }
    bool growing() const override
    {
        return true;
    }
    uint64_t await(uint64_t want, bool *ended) override
    {
        if (!shared_->ended.load() && want > shared_->published.load())
        {
            shared_->published.store(shared_->data.size()); // the writer finishes
            shared_->ended.store(true);
        }
        *ended = shared_->ended.load();
        return shared_->published.load();
    }
    bool read(uint64_t offset, uint8_t *out, size_t n) override
    {
        const uint64_t held = shared_->published.load();
        if (offset > held || held - offset < n)
        {
            return false;
        }
        if (!first_ && !shared_->ended.load() && offset + n + pclxl::kUniversalExitLength < held)
        {
            shared_->twinReadEarly.store(true);
        }
        std::memcpy(out, shared_->data.data() + offset, n);
        return true;
    }
    std::unique_ptr<pclxl::ByteSource> twin() const override
    {
        return std::make_unique<Receiving>(shared_, false);
    }

  private:
    std::shared_ptr<Shared> shared_;
    bool first_;
};

// The hook removes its spool file before it ends a printed document, which
// takes a while: the second pass begins once the document is most likely
// whole. That is when it ends as a job does, or, for a booklet, when it
// ends with a page and holds the page bodies its sheets carry.
TEST(Explain, ASecondPassBeginsWhenTheDocumentIsMostLikelyWhole)
{
    JobOptions booklet, reversed;
    booklet.booklet = jobtool::BookletKind::Printer;
    reversed.reverse = true;
    struct Case
    {
        const char *what;
        const JobOptions &options;
        int published; // 0: to a page's end three quarters in, 1: to the trailer, 2: all
        bool early;
    };
    const Case cases[] = {
        {"a booklet's sheets", booklet, 1, true},
        {"a whole booklet", booklet, 2, true},
        {"three quarters of a booklet's sheets", booklet, 0, false},
        {"a whole job", reversed, 2, true},
        {"a job's pages", reversed, 1, false},
    };
    for (const Case &c : cases)
    {
        SCOPED_TRACE(c.what);
        // Pages of 60 KB: the first pass reads pages before it has to wait
        // for more (it reads 256 KB ahead).
        const Outcome out = MakeAndRun(Shapes(16, 4000, true), c.options);
        const Bytes printed = out.replay.run.PrinterDocument(0).data;
        const pclxl::Document doc = pclxl::readDocument(pclxl::Bytes(printed));
        ASSERT_TRUE(doc.ok());
        ASSERT_GE(doc.pages.size(), 8u);
        auto shared = std::make_shared<Receiving::Shared>();
        shared->data = printed;
        const size_t upTo[] = {doc.pages[doc.pages.size() * 3 / 4 - 1].range.end, doc.job_trailer.begin,
                               printed.size()};
        shared->published = upTo[c.published];
        Receiving source(shared, true);
        jobtool::ExplainHooks hooks;
        hooks.secondPassFrom = 1;
        const jobtool::PageMap map = jobtool::Explain(source, out.reference, hooks);
        EXPECT_EQ(shared->twinReadEarly.load(), c.early);
        EXPECT_EQ(Said(map), Said(jobtool::Explain(printed, out.reference)));
    }
}

// A printer refuses text drawn with a font removed before it, on a page
// whose bytes it accepted twice before.
TEST(Explain, APageAgainAfterItsFontWasRemovedIsRefused)
{
    pclxl::Writer font;
    font.ubyteArray("F1")
        .attr(pclxl::attr::FontName)
        .ubyte(0)
        .attr(pclxl::attr::FontFormat)
        .op(pclxl::op::BeginFontHeader);
    font.uint16(1)
        .attr(pclxl::attr::FontHeaderLength)
        .op(pclxl::op::ReadFontHeader)
        .data(pclxl::Bytes(std::string("h")));
    font.op(pclxl::op::EndFontHeader);
    font.ubyteArray("F1").attr(pclxl::attr::FontName).op(pclxl::op::BeginChar);
    font.uint16('A').attr(pclxl::attr::CharCode).uint16(1).attr(pclxl::attr::CharDataSize).op(pclxl::op::ReadChar);
    font.data(pclxl::Bytes(std::string("g"))).op(pclxl::op::EndChar);
    auto page = [](pclxl::Writer &w, const std::string &text, bool remove = false) {
        w.beginPage().setColorSpaceGray().setBrushGray(0).setFont("F1", 40, 2).setCursor(300, 400).text(text);
        if (remove)
        {
            w.ubyteArray("F1").attr(pclxl::attr::FontName).op(pclxl::op::RemoveFont);
        }
        w.endPage(1);
    };
    const std::string many(80, 'A'); // a page long enough to be remembered
    // Three times two pages; with `remove`, the last of them removes the font.
    auto document = [&](bool remove) {
        pclxl::Writer w;
        w.streamHeader("fonts").beginSession(600).openDataSource().raw(pclxl::Bytes(font.bytes()));
        for (int i = 0; i < 3; i++)
        {
            page(w, many);
            page(w, "AA", remove && i == 2);
        }
        page(w, many);
        w.closeDataSource().endSession();
        return w.take();
    };
    std::string error;
    const jobtool::Reference ref = jobtool::ReferenceFromInput(document(false), &error);
    ASSERT_EQ(error, "");
    EXPECT_TRUE(jobtool::Explain(document(false), ref).printable);
    const jobtool::PageMap map = jobtool::Explain(document(true), ref);
    EXPECT_TRUE(map.wellFormed) << map.error;
    EXPECT_FALSE(map.printable);
    EXPECT_NE(map.refusal.find("SetFont selects font \"F1\", which RemoveFont at offset"), std::string::npos)
        << map.refusal;
    EXPECT_EQ(map.refusal, ExplainEveryCommand(document(true), ref).refusal);
}

// A job whose stream the printer could not read has no input pages to
// match; the reference says why, made first or beside the run.
TEST(Explain, AJobWhoseStreamIsNotPclXlHasNoPagesToMatchAndSaysWhy)
{
    Outcome out = MakeAndRun("sample.pxl", JobOptions());
    ASSERT_TRUE(out.made.job);
    spoolsim::Job job = *out.made.job;
    // A byte that no PCL XL tag has, in the second page's data.
    int pagesSeen = 0;
    bool damaged = false;
    for (spoolsim::Step &step : job.steps)
    {
        pagesSeen += step.kind == spoolsim::StepKind::StartPage ? 1 : 0;
        if (pagesSeen == 2 && step.kind == spoolsim::StepKind::Write && step.data.size() > 64 && step.data[0] != 0x1B)
        {
            step.data.insert(step.data.begin() + 40, 0xFF);
            damaged = true;
            break;
        }
    }
    ASSERT_TRUE(damaged);
    const spoolsim::JobSteps steps(job);
    std::string first, beside;
    const jobtool::Reference now = jobtool::ReferenceFromJob(steps, &first);
    EXPECT_NE(first.find("the job's stream is not sound PCL XL: "), std::string::npos) << first;
    EXPECT_TRUE(now.pages.empty());
    const jobtool::Reference later = jobtool::ReferenceFromJob(steps, &beside, true);
    ASSERT_TRUE(later.later);
    EXPECT_TRUE(later.later->Pages(&beside).empty());
    EXPECT_EQ(beside, first);
    // The undamaged job's pages all match.
    std::string none;
    EXPECT_EQ(jobtool::ReferenceFromJob(spoolsim::JobSteps(*out.made.job), &none, false).pages.size(), 6u);
    EXPECT_EQ(none, "");
}

} // namespace
} // namespace jobtool_test
