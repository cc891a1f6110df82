// "explain": faults in a printed document, and pages matched without a job.
#include "support.h"

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

} // namespace
} // namespace jobtool_test
