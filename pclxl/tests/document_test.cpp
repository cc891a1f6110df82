#include "helpers.h"

#include <gtest/gtest.h>

using namespace pclxl;
using namespace pclxl_test;

namespace
{

const ByteVector kWatermarkFragment = ByteVector{0x61, 0x69, 0xC0, 0xFC, 0xF8, 0x2C, 0x7B} +
                                      Writer().setFont("Arial", 40).text("DRAFT").take() + ByteVector{0x60};

ByteVector insertAt(ByteVector doc, size_t at, const ByteVector &what)
{
    doc.insert(doc.begin() + static_cast<std::ptrdiff_t>(at), what.begin(), what.end());
    return doc;
}

} // namespace

TEST(Document, PagesRunFromTheirAttributeListToEndPage)
{
    Writer w;
    w.streamHeader().beginSession().openDataSource();
    const size_t page1 = w.size();
    writeTextPage(w, "one", val::ePortraitOrientation, val::eA4Paper, 2);
    const size_t page1End = w.size();
    w.whitespace('\n');
    const size_t page2 = w.size();
    w.beginPage(val::eLandscapeOrientation, val::eLetterPaper);
    const size_t body2 = w.size();
    w.setCursor(1, 1);
    const size_t endList2 = w.size();
    w.endPage(3);
    const size_t page2End = w.size();
    w.closeDataSource().endSession();
    const ByteVector doc = w.take();

    Document d = readDocument(Bytes(doc));
    ASSERT_TRUE(d.ok()) << errorText(d.error);
    ASSERT_EQ(d.pages.size(), 2u);
    EXPECT_EQ(d.job_header.begin, 0u);
    EXPECT_EQ(d.job_header.end, page1);
    EXPECT_EQ(d.pages[0].range.begin, page1);
    EXPECT_EQ(d.pages[0].range.end, page1End);
    EXPECT_EQ(d.pages[1].number, 2u);
    EXPECT_EQ(d.pages[1].range.begin, page2);
    EXPECT_EQ(d.pages[1].range.end, page2End);
    EXPECT_EQ(d.pages[1].body.begin, body2);
    EXPECT_EQ(d.pages[1].body.end, endList2);
    EXPECT_EQ(d.job_trailer.begin, page2End);
    EXPECT_EQ(d.job_trailer.end, doc.size());

    EXPECT_EQ(d.pages[0].orientationName(), "ePortraitOrientation");
    EXPECT_FALSE(d.pages[0].isLandscape());
    EXPECT_EQ(d.pages[0].mediaSizeName(), "eA4Paper");
    EXPECT_EQ(d.pages[0].mediaSourceName(), "eAutoSelect");
    EXPECT_EQ(d.pages[0].copies(), 2u);
    EXPECT_TRUE(d.pages[1].isLandscape());
    EXPECT_EQ(d.pages[1].mediaSizeName(), "eLetterPaper");
    EXPECT_EQ(d.pages[1].mediaSourceName(), "");
    EXPECT_EQ(d.pages[1].copies(), 3u);
    EXPECT_EQ(describe(d.commands[d.pages[1].begin_command]),
              "BeginPage Orientation=eLandscapeOrientation MediaSize=eLetterPaper");
    EXPECT_EQ(describe(d.commands[d.pages[1].end_command]), "EndPage PageCopies=3");
}

TEST(Document, MediaSizeGivenByName)
{
    Writer w;
    w.streamHeader().beginSession();
    w.ubyte(0).attr(attr::Orientation).ubyteArray("A4").attr(attr::MediaSize).op(op::BeginPage).endPage();
    w.endSession();
    Document d = readDocument(w.bytes());
    ASSERT_TRUE(d.ok()) << errorText(d.error);
    ASSERT_EQ(d.pages.size(), 1u);
    EXPECT_EQ(d.pages[0].mediaSizeName(), "A4");
    EXPECT_EQ(d.pages[0].orientation(), val::ePortraitOrientation);
    EXPECT_FALSE(d.pages[0].copies());
}

TEST(Document, FragmentsInsertedAtEitherEndOfABodyKeepTheDocumentSound)
{
    const ByteVector doc = smallDocument(3);
    Document d = readDocument(Bytes(doc));
    ASSERT_TRUE(d.ok()) << errorText(d.error);
    ASSERT_EQ(d.pages.size(), 3u);
    // Insert from the back so that earlier offsets stay valid.
    ByteVector edited = doc;
    for (size_t i = d.pages.size(); i-- > 0;)
    {
        edited = insertAt(edited, d.pages[i].body.end, kWatermarkFragment);
        edited = insertAt(edited, d.pages[i].body.begin, kWatermarkFragment);
    }
    Document e = readDocument(Bytes(edited));
    ASSERT_TRUE(e.ok()) << errorText(e.error);
    ASSERT_EQ(e.pages.size(), 3u);
    for (size_t i = 0; i < 3; ++i)
    {
        EXPECT_EQ(e.pages[i].body.size(), d.pages[i].body.size() + 2 * kWatermarkFragment.size());
        EXPECT_EQ(e.commands[e.pages[i].begin_command + 1].op, op::PushGS);
    }
    // The same fragment between pages is out of place, and said so where it starts.
    const ByteVector misplaced = insertAt(doc, d.pages[1].range.begin, kWatermarkFragment);
    EXPECT_EQ(errorText(readDocument(Bytes(misplaced)).error),
              "offset " + std::to_string(d.pages[1].range.begin) + ": PushGS outside a page (BeginPage missing)");
}

TEST(Document, WithoutPagesEverythingIsJobHeader)
{
    Writer w;
    w.streamHeader().beginSession().endSession();
    Document d = readDocument(w.bytes());
    ASSERT_TRUE(d.ok()) << errorText(d.error);
    EXPECT_TRUE(d.pages.empty());
    EXPECT_EQ(d.job_header.end, w.size());
    EXPECT_TRUE(d.job_trailer.empty());
    EXPECT_EQ(d.job_trailer.begin, w.size());
}

TEST(Document, PagesBeforeAFaultAreStillFound)
{
    ByteVector doc = smallDocument(3);
    Document d = readDocument(Bytes(doc));
    doc[d.pages[2].range.begin] = 0x3F;
    Document broken = readDocument(Bytes(doc));
    EXPECT_EQ(errorText(broken.error),
              "offset " + std::to_string(d.pages[2].range.begin) + ": 0x3F is not a PCL XL tag");
    EXPECT_EQ(broken.pages.size(), 2u);
}

TEST(Describe, ValuesCommandsAndTokens)
{
    Value v;
    v.tag = dt::UByteArray;
    v.shape = Shape::Array;
    v.numbers = {72, 105};
    EXPECT_EQ(describeValue(v, attr::TextData), "\"Hi\"");
    EXPECT_EQ(describeValue(v, attr::LineDashStyle), "[72 105]");
    v.numbers.assign(20, 1);
    EXPECT_EQ(describeValue(v), "[1 1 1 1 1 1 1 1 1 1 1 1 1 1 1 1 ... (20 elements)]");

    Structure st = checkFragment(Writer().setROP(252).setCharAngle(-22.5f).text("A").take());
    ASSERT_TRUE(st.ok()) << errorText(st.error);
    EXPECT_EQ(describe(st.commands[0]), "SetROP ROP3=252");
    EXPECT_EQ(describe(st.commands[1]), "SetCharAngle CharAngle=-22.5");

    TokenList tl = tokenize(Bytes(header() + Writer().setROP(252).take()));
    ASSERT_EQ(tl.tokens.size(), 4u);
    EXPECT_EQ(describe(tl.tokens[0]), "stream header ) HP-PCL XL;2;0;test");
    EXPECT_EQ(describe(tl.tokens[1]), "ubyte 252");
    EXPECT_EQ(describe(tl.tokens[2]), "attribute ROP3");
    EXPECT_EQ(describe(tl.tokens[3]), "operator SetROP");
}

TEST(Describe, ExplainFragmentListsOperatorsAndWhatIsLeft)
{
    EXPECT_EQ(explainFragment(Bytes(kWatermarkFragment)),
              (std::vector<std::string>{"PushGS", "SetClipToPage", "SetROP ROP3=252",
                                        "SetFont FontName=\"Arial\" CharSize=40 SymbolSet=629",
                                        "Text TextData=\"DRAFT\"", "PopGS"}));
    // Four bytes cut from an attribute list, as between the job header and the first page.
    EXPECT_EQ(explainFragment(Bytes(ByteVector{0xC0, 0x01, 0xF8, 0x28}), Context::Session),
              (std::vector<std::string>{"unfinished: ubyte 1, attribute Orientation"}));
    EXPECT_EQ(explainFragment(Bytes(ByteVector{0x60}), Context::Page, Endian::Little, 500),
              (std::vector<std::string>{"PopGS", "error: offset 500: PopGS without PushGS"}));
}
