// Relocated documents print every page the same in any order: each page's
// texts draw the same characters, by a model of how a printer keeps fonts,
// when the pages run in their own order, reversed, alone or repeated.
#include "fontmodel.h"
#include "helpers.h"

#include <gtest/gtest.h>

#include <pclxl/samples.h>

#include <algorithm>
#include <functional>

namespace
{

using pclxl_test::ByteVector;
namespace op = pclxl::op;
namespace attr = pclxl::attr;

void WriteChars(pclxl::Writer &w, const std::string &name, const std::vector<std::pair<uint16_t, std::string>> &glyphs)
{
    w.ubyteArray(name).attr(attr::FontName).op(op::BeginChar);
    for (const auto &g : glyphs)
    {
        w.uint16(g.first).attr(attr::CharCode);
        w.uint16(static_cast<uint16_t>(g.second.size())).attr(attr::CharDataSize).op(op::ReadChar);
        w.data(pclxl::Bytes(g.second));
    }
    w.op(op::EndChar);
}

// Builds documents whose pages download and draw with fonts.
class Builder
{
  public:
    Builder()
    {
        w.streamHeader("relocation").beginSession(600).openDataSource();
    }
    Builder &font(const std::string &name, const std::string &header = "header")
    {
        w.ubyteArray(name).attr(attr::FontName).ubyte(0).attr(attr::FontFormat).op(op::BeginFontHeader);
        w.uint16(static_cast<uint16_t>(header.size())).attr(attr::FontHeaderLength).op(op::ReadFontHeader);
        w.data(pclxl::Bytes(header));
        w.op(op::EndFontHeader);
        return *this;
    }
    // Characters of one font in one BeginChar ... EndChar.
    Builder &chars(const std::string &name, const std::vector<std::pair<uint16_t, std::string>> &glyphs)
    {
        WriteChars(w, name, glyphs);
        return *this;
    }
    Builder &removeFont(const std::string &name)
    {
        w.ubyteArray(name).attr(attr::FontName).op(op::RemoveFont);
        return *this;
    }
    Builder &page()
    {
        w.beginPage(pclxl::val::ePortraitOrientation, pclxl::val::eA4Paper);
        w.setColorSpaceGray().setBrushGray(0);
        return *this;
    }
    Builder &endPage()
    {
        w.endPage(1);
        return *this;
    }
    Builder &select(const std::string &name, float size = 12)
    {
        w.setFont(name, size, 0);
        return *this;
    }
    Builder &text(const std::vector<uint16_t> &codes)
    {
        w.setCursor(100, 100);
        w.uint16Array(codes).attr(attr::TextData).op(op::Text);
        return *this;
    }
    Builder &push()
    {
        w.pushGS();
        return *this;
    }
    Builder &pop()
    {
        w.popGS();
        return *this;
    }
    ByteVector take()
    {
        w.closeDataSource().endSession();
        return w.take();
    }
    pclxl::Writer w;
};

struct Relocated
{
    pclxl::RelocationResult result;
    ByteVector bytes;
};

Relocated Relocate(const ByteVector &in)
{
    Relocated r;
    pclxl::MemorySource source{pclxl::Bytes(in)};
    pclxl::VectorSink sink;
    r.result = pclxl::relocateDownloads(source, sink);
    r.bytes = std::move(sink.bytes);
    return r;
}

std::string Describe(const std::vector<fontmodel::Drawn> &texts)
{
    std::string s;
    for (const fontmodel::Drawn &t : texts)
    {
        s += "[" + t.font;
        for (const std::vector<uint8_t> &g : t.glyphs)
        {
            s += " " + std::string(g.begin(), g.end());
        }
        s += "]";
    }
    return s;
}

// Empty when the relocated document downloads nothing inside or between its
// pages and every page, in any order, draws what it drew in the input.
std::string Reorderable(const ByteVector &input, const ByteVector &output, bool eachPageAlone = true)
{
    fontmodel::Drawing original = fontmodel::Draw(input);
    if (!original.error.empty())
    {
        return "the input itself: " + original.error;
    }
    pclxl::Document doc = pclxl::readDocument(pclxl::Bytes(output));
    if (!doc.ok())
    {
        return "the output is not sound: " + doc.error->message();
    }
    for (const pclxl::Command &c : doc.commands)
    {
        const bool download = c.op == op::BeginFontHeader || c.op == op::BeginChar || c.op == op::RemoveFont;
        if (download && c.begin >= doc.job_header.end)
        {
            return std::string(c.name()) + " at offset " + std::to_string(c.begin) + ", after the job header";
        }
    }
    const size_t n = original.pages.size();
    std::vector<std::vector<size_t>> orders(1);
    for (size_t k = 1; k <= n; k++)
    {
        orders[0].push_back(k);
        if (eachPageAlone)
        {
            orders.push_back({k});
        }
    }
    orders.emplace_back(orders[0].rbegin(), orders[0].rend());
    std::vector<size_t> mixed;
    for (size_t k = 0; k < 2 * n; k++)
    {
        mixed.push_back((k * 7 + 3) % n + 1);
    }
    orders.push_back(mixed);
    for (const std::vector<size_t> &order : orders)
    {
        fontmodel::Drawing printed = fontmodel::Draw(fontmodel::Reordered(output, order));
        std::string o;
        for (size_t k : order)
        {
            o += " " + std::to_string(k);
        }
        if (!printed.error.empty())
        {
            return "pages" + o + ": " + printed.error;
        }
        for (size_t i = 0; i < order.size(); i++)
        {
            if (printed.pages[i] != original.pages[order[i] - 1])
            {
                return "pages" + o + ": page " + std::to_string(order[i]) + " draws " + Describe(printed.pages[i]) +
                       " instead of " + Describe(original.pages[order[i] - 1]);
            }
        }
    }
    return std::string();
}

TEST(Relocate, CodesReusedByAGlyphCachePrintTheSameInAnyOrder)
{
    // Four codes used round and round, as a cache of four characters would.
    Builder b;
    b.font("@");
    int round = 0;
    for (int p = 0; p < 6; p++)
    {
        b.page().select("@");
        for (int i = 0; i < 3; i++, round++)
        {
            const uint16_t code = static_cast<uint16_t>(2 + round % 4);
            b.chars("@", {{code, "glyph" + std::to_string(round)}}).text({code});
            if (round % 2 == 0)
            {
                b.text({code});
            }
        }
        b.endPage();
    }
    ByteVector in = b.take();
    Relocated r = Relocate(in);
    ASSERT_TRUE(r.result.ok) << r.result.error;
    EXPECT_EQ(Reorderable(in, r.bytes), "");
    EXPECT_EQ(r.result.downloads, 1u + 18u);
    EXPECT_EQ(r.result.characters, 18u) << "every character once";
    EXPECT_EQ(r.result.fonts, 5u);
    ASSERT_EQ(r.result.notes.size(), 2u);
    EXPECT_NE(r.result.notes[1].find("14 times"), std::string::npos) << r.result.notes[1];
}

TEST(Relocate, TextsOfSeveralCodesAndCharactersRedefinedMidPage)
{
    struct Case
    {
        const char *name;
        std::function<void(Builder &)> build;
    } cases[] = {
        {"a text drawing a redefined and a kept code",
         [](Builder &b) {
             b.font("F").chars("F", {{1, "a1"}, {2, "b1"}, {3, "c1"}});
             b.page().select("F").text({1, 2, 3}).endPage();
             b.page().select("F").chars("F", {{2, "b2"}}).text({1, 2}).text({3, 2}).endPage();
             b.page().select("F").chars("F", {{1, "a2"}}).text({1, 3}).text({2, 1}).endPage();
             b.page().select("F").chars("F", {{3, "c3"}, {2, "b3"}}).text({3, 1, 2}).text({2}).endPage();
         }},
        {"a character redefined after SetFont, inside PushGS, and after PopGS",
         [](Builder &b) {
             b.font("F").chars("F", {{5, "x1"}});
             b.page().select("F").text({5}).push().select("F", 20).text({5});
             b.chars("F", {{5, "x2"}}).text({5}).pop().text({5}).endPage();
             b.page().select("F", 30).push().text({5}).chars("F", {{5, "x3"}}).pop().text({5}).endPage();
         }},
        {"a font removed and defined again with another header",
         [](Builder &b) {
             b.font("F", "first").chars("F", {{1, "one"}});
             b.page().select("F").text({1}).endPage();
             b.removeFont("F").font("F", "second").chars("F", {{1, "uno"}, {2, "dos"}});
             b.page().select("F").text({1, 2}).endPage();
             b.page().removeFont("F").font("F", "third").chars("F", {{1, "eins"}}).select("F").text({1}).endPage();
         }},
        {"two fonts, a font the printer has, and downloads in the job header",
         [](Builder &b) {
             b.font("A").font("B").chars("A", {{1, "A1"}}).chars("B", {{1, "B1"}});
             b.page().select("A").text({1}).select("Courier").text({65, 66}).select("B").text({1}).endPage();
             b.page().chars("B", {{1, "B2"}}).select("B").text({1}).select("A").text({1}).endPage();
             b.page().select("B").text({1}).chars("A", {{2, "A2"}}).select("A").text({2, 1}).endPage();
         }},
    };
    for (const Case &c : cases)
    {
        Builder b;
        c.build(b);
        ByteVector in = b.take();
        Relocated r = Relocate(in);
        ASSERT_TRUE(r.result.ok) << c.name << ": " << r.result.error;
        EXPECT_EQ(Reorderable(in, r.bytes), "") << c.name;
    }
}

// Pages that never redefine a character keep their bytes, downloads aside;
// a document without downloads is copied unchanged.
TEST(Relocate, DocumentsWithoutRedefinitionsKeepTheirPages)
{
    ByteVector sample;
    pclxl::Bytes s = pclxl::samples::get("sample.pxl");
    sample.assign(s.data, s.data + s.size);
    Relocated r = Relocate(sample);
    ASSERT_TRUE(r.result.ok) << r.result.error;
    EXPECT_EQ(Reorderable(sample, r.bytes), "");
    EXPECT_EQ(r.result.selections, 0u);
    pclxl::Document in = pclxl::readDocument(pclxl::Bytes(sample));
    pclxl::Document out = pclxl::readDocument(pclxl::Bytes(r.bytes));
    ASSERT_EQ(in.pages.size(), out.pages.size());
    for (size_t p = 0; p < in.pages.size(); p++)
    {
        ByteVector kept;
        for (size_t i = in.pages[p].begin_command; i <= in.pages[p].end_command; i++)
        {
            const pclxl::Command &c = in.commands[i];
            const bool download = c.op == op::BeginChar || c.op == op::ReadChar || c.op == op::EndChar ||
                                  c.op == op::BeginFontHeader || c.op == op::ReadFontHeader ||
                                  c.op == op::EndFontHeader;
            if (!download)
            {
                kept.insert(kept.end(), sample.begin() + static_cast<long>(c.begin),
                            sample.begin() + static_cast<long>(c.end));
            }
        }
        ByteVector page(r.bytes.begin() + static_cast<long>(out.pages[p].range.begin),
                        r.bytes.begin() + static_cast<long>(out.pages[p].range.end));
        EXPECT_EQ(page, kept) << "page " << p + 1;
    }

    ByteVector plain = pclxl_test::smallDocument(3);
    Relocated same = Relocate(plain);
    ASSERT_TRUE(same.result.ok);
    EXPECT_EQ(same.bytes, plain);
    EXPECT_TRUE(same.result.notes.empty());
    EXPECT_TRUE(same.result.unchanged);
    EXPECT_FALSE(r.result.unchanged) << "the sample's downloads were moved";

    // Not copied when the caller reads the input itself; a document whose
    // downloads move is written all the same.
    for (const ByteVector *doc : {&plain, &sample})
    {
        pclxl::MemorySource source{pclxl::Bytes(*doc)};
        pclxl::VectorSink sink;
        const pclxl::RelocationResult kept = pclxl::relocateDownloads(source, sink, false);
        ASSERT_TRUE(kept.ok) << kept.error;
        EXPECT_EQ(kept.unchanged, doc == &plain);
        EXPECT_EQ(sink.bytes, doc == &plain ? ByteVector() : r.bytes);
    }
}

TEST(Relocate, RefusesWhatItCannotMoveAndSaysWhy)
{
    struct Case
    {
        const char *name;
        std::function<ByteVector()> build;
        std::string why;
    } cases[] = {
        {"characters for a font never defined",
         [] {
             Builder b;
             b.page().chars("X", {{1, "x"}}).endPage();
             return b.take();
         },
         "characters are downloaded for font \"X\", which the document has not defined there"},
        {"a stream that downloads",
         [] {
             pclxl::Writer body;
             WriteChars(body, "F", {{1, "x"}});
             Builder b;
             b.font("F").chars("F", {{1, "x"}});
             b.w.beginStream("S").readStream(pclxl::Bytes(body.bytes())).endStream();
             b.page().select("F").text({1}).endPage();
             return b.take();
         },
         "stream \"S\" downloads or removes fonts itself"},
        {"a stream that draws text when codes are reused",
         [] {
             pclxl::Writer body;
             body.setFont("F", 12, 0).uint16Array({1}).attr(attr::TextData).op(op::Text);
             Builder b;
             b.font("F").chars("F", {{1, "x"}});
             b.w.beginStream("S").readStream(pclxl::Bytes(body.bytes())).endStream();
             b.page().select("F").text({1}).endPage();
             b.page().chars("F", {{1, "y"}}).select("F").text({1}).endPage();
             return b.take();
         },
         "stream \"S\" draws text"},
        {"a document cut short",
         [] {
             Builder b;
             b.font("F").chars("F", {{1, "glyph data"}});
             b.page().select("F").text({1}).endPage();
             ByteVector d = b.take();
             d.resize(d.size() - 30);
             return d;
         },
         "not a sound PCL XL document: offset "},
        {"not PCL XL", [] { return pclxl_test::bytesOf("%!PS-Adobe-3.0\n"); },
         "not a sound PCL XL document: offset 0: not a PCL XL stream"},
    };
    for (const Case &c : cases)
    {
        Relocated r = Relocate(c.build());
        EXPECT_FALSE(r.result.ok) << c.name;
        EXPECT_NE(r.result.error.find(c.why), std::string::npos) << c.name << ": " << r.result.error;
    }
}

// Through a file, a window at a time: the reader never holds much more than
// its window and the largest command, however long the document.
TEST(Relocate, StreamsThroughFilesInABoundedWindow)
{
    Builder b;
    b.font("@");
    const std::string big(60000, 'i'); // one large character
    for (int p = 0; p < 800; p++)
    {
        b.page().select("@");
        for (int i = 0; i < 20; i++)
        {
            const uint16_t code = static_cast<uint16_t>(2 + (p * 20 + i) % 50);
            b.chars("@", {{code, (p == 7 && i == 3 ? big : "g" + std::to_string(p * 20 + i) + std::string(110, '.'))}})
                .text({code});
        }
        b.endPage();
    }
    ByteVector in = b.take();
    ASSERT_GT(in.size(), 2u << 20);
    const std::string dir = ::testing::TempDir();
    const std::string inPath = dir + "relocate-in.pxl", outPath = dir + "relocate-out.pxl";
    {
        pclxl::FileSink f(inPath);
        ASSERT_TRUE(f.write(in.data(), in.size()) && f.close());
    }
    pclxl::FileSource source(inPath);
    pclxl::FileSink sink(outPath);
    ASSERT_TRUE(source.ok() && sink.ok());
    pclxl::RelocationResult r = pclxl::relocateDownloads(source, sink);
    ASSERT_TRUE(r.ok) << r.error;
    ASSERT_TRUE(sink.close());
    EXPECT_LE(r.peakWindow, (1u << 20) + big.size() + 64);
    pclxl::FileSource written(outPath);
    ByteVector out(static_cast<size_t>(written.size()));
    ASSERT_TRUE(written.read(0, out.data(), out.size()));
    EXPECT_EQ(Reorderable(in, out, false), "");

    pclxl::FileSource missing(dir + "no-such-file.pxl");
    EXPECT_FALSE(missing.ok());
    EXPECT_NE(missing.error().find("cannot open"), std::string::npos);
}

} // namespace
