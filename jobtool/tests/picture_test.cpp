// The picture of the sheets, read back as SVG: every side in order, every
// page in its place and turned as it prints, the marks, both passes with
// the turn of the stack between them, and thumbnails embedded once.
#include "paper_support.h"

#include "picture.h"
#include "programs.h"
#include "svgread.h"
#include "thumbnails.h"
#include "tool_run.h"

#include <algorithm>
#include <cmath>
#include <iterator>
#include <sstream>

namespace jobtool_test
{
namespace
{

using jobtool::Picture;
using jobtool::PictureDocument;
using jobtool::PicturePage;
using jobtool::PictureSide;
using jobtool::Slot;

const double kA4W = 8.27, kA4H = 11.69;

PicturePage Portrait(int page, Slot slot)
{
    PicturePage p;
    p.page = page;
    p.slot = slot;
    return p;
}

PicturePage Landscape(int page, Slot slot, int turn)
{
    PicturePage p = Portrait(page, slot);
    p.widthInch = kA4H;
    p.heightInch = kA4W;
    p.turn = turn;
    return p;
}

// A booklet side of A4 sheets: the sheet lies on its long side, two A4
// pages scaled into its halves.
PictureSide BookletSide(const std::string &label, PicturePage left, PicturePage right)
{
    PictureSide s;
    s.label = label;
    s.widthInch = kA4H;
    s.heightInch = kA4W;
    s.pages = {left, right};
    return s;
}

std::unique_ptr<XmlNode> Draw(const Picture &picture, const jobtool::ThumbnailSource &thumbnails = nullptr)
{
    std::ostringstream out;
    jobtool::DrawPicture(out, picture, thumbnails);
    std::string error;
    std::unique_ptr<XmlNode> root = ParseXml(out.str(), error);
    EXPECT_NE(root, nullptr) << error << "\n" << out.str().substr(0, 2000);
    return root;
}

struct DrawnPage
{
    int page = -1;
    std::string slot;
    int turn = 0;
    Box area;        // where the page lies on the side
    Box content;     // its drawing, turned
    double ownW = 0; // the drawing's own width and height, before turning
    double ownH = 0;
    std::string number; // the page number shown, when no thumbnail is
    const XmlNode *node = nullptr;
};

struct DrawnSide
{
    int document = 0, number = 0;
    std::string label;
    Box sheet;
    std::vector<DrawnPage> pages;
    std::vector<std::string> marks; // "lead-in: ...", "watermark: ...", ...
    const XmlNode *node = nullptr;
};

std::vector<DrawnSide> Sides(const XmlNode &root)
{
    std::vector<DrawnSide> sides;
    for (const XmlNode *g : root.FindClass("side"))
    {
        DrawnSide s;
        s.node = g;
        s.document = std::atoi(g->Attr("data-document").c_str());
        s.number = std::atoi(g->Attr("data-side").c_str());
        std::vector<const XmlNode *> labels = g->FindClass("side-label");
        s.label = labels.empty() ? "" : labels[0]->AllText();
        std::vector<const XmlNode *> sheets = g->FindClass("sheet");
        EXPECT_EQ(sheets.size(), 1u);
        if (!sheets.empty())
        {
            s.sheet = DocumentBox(*sheets[0]);
        }
        for (const XmlNode *p : g->FindClass("page"))
        {
            DrawnPage d;
            d.node = p;
            d.page = std::atoi(p->Attr("data-page").c_str());
            d.slot = p->Attr("data-slot");
            d.turn = std::atoi(p->Attr("data-turn").c_str());
            std::vector<const XmlNode *> area = p->FindClass("page-area");
            EXPECT_EQ(area.size(), 1u);
            if (!area.empty())
            {
                d.area = DocumentBox(*area[0]);
            }
            std::vector<const XmlNode *> content = p->FindClass("page-content");
            if (!content.empty())
            {
                // The drawing: the thumbnail, or the frame under the number.
                const XmlNode *shape = nullptr;
                for (const auto &c : content[0]->children)
                {
                    if (c->name == "use" || c->name == "rect")
                    {
                        shape = shape ? shape : c.get();
                    }
                    if (c->HasClass("page-number"))
                    {
                        d.number = c->AllText();
                    }
                }
                EXPECT_NE(shape, nullptr);
                if (shape)
                {
                    d.content = DocumentBox(*shape);
                    d.ownW = shape->Number("width");
                    d.ownH = shape->Number("height");
                }
            }
            s.pages.push_back(d);
        }
        for (const XmlNode *m : g->FindClass("mark"))
        {
            if (m->name == "text")
            {
                std::string kind = m->Attr("class").substr(5);
                s.marks.push_back(kind + ": " + m->AllText());
            }
        }
        sides.push_back(s);
    }
    return sides;
}

// The part of the sheet a slot names.
Box SlotBox(const Box &sheet, const std::string &slot)
{
    const double midX = (sheet.left + sheet.right) / 2, midY = (sheet.top + sheet.bottom) / 2;
    if (slot == "left")
        return {sheet.left, sheet.top, midX, sheet.bottom};
    if (slot == "right")
        return {midX, sheet.top, sheet.right, sheet.bottom};
    if (slot == "top")
        return {sheet.left, sheet.top, sheet.right, midY};
    if (slot == "bottom")
        return {sheet.left, midY, sheet.right, sheet.bottom};
    return sheet;
}

double Width(const Box &b)
{
    return b.right - b.left;
}
double Height(const Box &b)
{
    return b.bottom - b.top;
}

TEST(Picture, BookletSidesCarryTheirPagesInTheirHalves)
{
    // Seven pages in a booklet read left to right: eight places on two
    // sheets. Folded, sheet 1 is the cover: its outer side has the last
    // place (blank here) on the left, page 1 on the right; its inner side
    // pages 2 and 7; sheet 2 pages 6 and 3 outside, 4 and 5 inside. Page 3
    // is a landscape page turned into its half.
    Picture picture;
    picture.title = "booklet of doc.pdf";
    PictureDocument doc;
    doc.title = "document 1: doc-1.pxl";
    doc.sides = {
        BookletSide("sheet 1, outer side", Portrait(0, Slot::Left), Portrait(1, Slot::Right)),
        BookletSide("sheet 1, inner side", Portrait(2, Slot::Left), Portrait(7, Slot::Right)),
        BookletSide("sheet 2, outer side", Portrait(6, Slot::Left), Landscape(3, Slot::Right, 90)),
        BookletSide("sheet 2, inner side", Portrait(4, Slot::Left), Portrait(5, Slot::Right)),
    };
    picture.documents = {doc};
    std::unique_ptr<XmlNode> root = Draw(picture);
    ASSERT_NE(root, nullptr);
    EXPECT_EQ(root->name, "svg");
    const Box canvas{0, 0, root->Number("width"), root->Number("height")};

    const int expected[4][2] = {{0, 1}, {2, 7}, {6, 3}, {4, 5}};
    std::vector<DrawnSide> sides = Sides(*root);
    ASSERT_EQ(sides.size(), 4u);
    for (size_t i = 0; i < sides.size(); i++)
    {
        const DrawnSide &s = sides[i];
        SCOPED_TRACE(s.label);
        EXPECT_EQ(s.number, static_cast<int>(i + 1));
        EXPECT_EQ(s.label, doc.sides[i].label);
        EXPECT_TRUE(s.sheet.Inside(canvas));
        EXPECT_GT(Width(s.sheet), Height(s.sheet)) << "a booklet side of A4 lies on its long side";
        ASSERT_EQ(s.pages.size(), 2u);
        for (size_t h = 0; h < 2; h++)
        {
            const DrawnPage &p = s.pages[h];
            EXPECT_EQ(p.page, expected[i][h]);
            EXPECT_EQ(p.slot, h == 0 ? "left" : "right");
            const Box half = SlotBox(s.sheet, p.slot);
            EXPECT_TRUE(p.area.Inside(half, 0.05)) << "page " << p.page << " leaves its half";
            if (p.page == 0)
            {
                EXPECT_TRUE(Contains(p.node->AllText(), "blank"));
                continue;
            }
            EXPECT_EQ(p.number, std::to_string(p.page));
            EXPECT_TRUE(p.content.Inside(p.area, 0.05)) << "page " << p.page << " is drawn outside its place";
            // Scaled to fill its half along one side.
            EXPECT_TRUE(std::abs(Width(p.area) - Width(half)) < 0.1 || std::abs(Height(p.area) - Height(half)) < 0.1);
        }
        for (size_t a = 0; a < sides.size(); a++)
        {
            const Box &o = sides[a].sheet;
            const bool apart = o.right <= s.sheet.left || s.sheet.right <= o.left || o.bottom <= s.sheet.top ||
                               s.sheet.bottom <= o.top;
            EXPECT_TRUE(a == i || apart) << "sides " << i + 1 << " and " << a + 1 << " overlap";
        }
    }
    // The landscape page is drawn landscape and turned upright into its half.
    const DrawnPage &turned = sides[2].pages[1];
    EXPECT_EQ(turned.turn, 90);
    EXPECT_GT(turned.ownW, turned.ownH);
    EXPECT_LT(Width(turned.content), Height(turned.content));
    // A page's top bar shows where its top went: turned clockwise, to the right.
    std::vector<const XmlNode *> bar = turned.node->FindClass("page-top");
    ASSERT_EQ(bar.size(), 1u);
    const Box top = DocumentBox(*bar[0]);
    EXPECT_GT(top.left, (turned.area.left + turned.area.right) / 2);
}

TEST(Picture, LandscapeBookletsStackTheirHalves)
{
    PictureSide side;
    side.widthInch = kA4W;
    side.heightInch = kA4H;
    side.pages = {Landscape(4, Slot::Top, 0), Portrait(1, Slot::Bottom)};
    side.pages[1].turn = 270;
    Picture picture;
    picture.documents = {{"document 1", {side}}};
    std::unique_ptr<XmlNode> root = Draw(picture);
    ASSERT_NE(root, nullptr);
    std::vector<DrawnSide> sides = Sides(*root);
    ASSERT_EQ(sides.size(), 1u);
    EXPECT_EQ(sides[0].label, "side 1");
    for (const DrawnPage &p : sides[0].pages)
    {
        EXPECT_TRUE(p.area.Inside(SlotBox(sides[0].sheet, p.slot), 0.05)) << p.page;
        EXPECT_TRUE(p.content.Inside(p.area, 0.05)) << p.page;
        EXPECT_GT(Width(p.content), Height(p.content)) << "page " << p.page << " lies across its half";
    }
    std::vector<const XmlNode *> bar = sides[0].pages[1].node->FindClass("page-top");
    ASSERT_EQ(bar.size(), 1u);
    EXPECT_LT(DocumentBox(*bar[0]).right, (sides[0].pages[1].area.left + sides[0].pages[1].area.right) / 2)
        << "turned 270 degrees clockwise, the page's top is at the left";
}

TEST(Picture, MarksAndTwoPassesWithTheTurnBetween)
{
    Picture picture;
    picture.title = "R&D <draft> \"v2\"";
    PictureDocument first{"document 1: out/doc-1.pxl (job Q-3 on queue Q)", {}};
    PictureSide a;
    a.label = "sheet 1";
    a.leadIn = "lead-in 1: MediaSource=eAutoSelect";
    a.pages = {Portrait(4, Slot::Whole)};
    a.pages[0].watermark = "CONFIDENTIAL & <SECRET>";
    a.pages[0].overlay = true;
    PictureSide b;
    b.label = "sheet 2";
    b.pages = {Portrait(2, Slot::Whole)};
    b.copies = 3;
    first.sides = {a, b};
    PictureDocument second{"document 2: out/doc-2.pxl", {}};
    PictureSide c = b;
    c.copies = 1;
    c.label = "sheet 2, second side";
    c.leadIn = "lead-in 2: MediaDestination=2";
    c.pages = {Portrait(1, Slot::Whole)};
    PictureSide sep;
    sep.separator = true;
    sep.pages = {Portrait(3, Slot::Whole)};
    PictureSide film;
    film.transparency = true;
    film.note = "matches no input page";
    PicturePage instructions;
    instructions.instructionPage = true;
    film.pages = {instructions};
    second.sides = {c, sep, film};
    picture.documents = {first, second};
    picture.turn = {"Put the printed sheets back into the multi-purpose tray.", "Then answer OK."};

    std::unique_ptr<XmlNode> root = Draw(picture);
    ASSERT_NE(root, nullptr);
    std::vector<const XmlNode *> title = root->FindClass("title");
    ASSERT_EQ(title.size(), 1u);
    EXPECT_EQ(title[0]->AllText(), "R&D <draft> \"v2\"");

    std::vector<DrawnSide> sides = Sides(*root);
    ASSERT_EQ(sides.size(), 5u);
    EXPECT_EQ(sides[0].document, 1);
    EXPECT_EQ(sides[2].document, 2);
    EXPECT_EQ(sides[2].number, 1);
    EXPECT_EQ(sides[0].marks, (std::vector<std::string>{"overlay: overlay", "watermark: CONFIDENTIAL & <SECRET>",
                                                        "lead-in: lead-in 1: MediaSource=eAutoSelect"}));
    EXPECT_EQ(sides[1].label, "sheet 2, 3 copies");
    EXPECT_EQ(sides[1].node->Attr("data-copies"), "3");
    EXPECT_EQ(sides[2].marks, std::vector<std::string>{"lead-in: lead-in 2: MediaDestination=2"});
    EXPECT_EQ(sides[3].marks, std::vector<std::string>{"separator: separator sheet"});
    EXPECT_EQ(sides[4].marks, (std::vector<std::string>{"transparency: transparency", "note: matches no input page"}));
    ASSERT_EQ(sides[4].pages.size(), 1u);
    EXPECT_EQ(sides[4].pages[0].node->Attr("data-instruction"), "1");
    EXPECT_EQ(sides[4].pages[0].number, "instructions");
    // The watermark lies over its page.
    std::vector<const XmlNode *> wm = sides[0].node->FindClass("watermark");
    ASSERT_EQ(wm.size(), 1u);
    const Point at = ToDocument(*wm[0], {wm[0]->Number("x"), wm[0]->Number("y")});
    EXPECT_TRUE((Box{at.x, at.y, at.x, at.y}).Inside(sides[0].pages[0].area));

    // The turn of the stack stands between the two passes.
    std::vector<const XmlNode *> turn = root->FindClass("turn");
    ASSERT_EQ(turn.size(), 1u);
    std::vector<const XmlNode *> steps = turn[0]->FindClass("turn-step");
    ASSERT_EQ(steps.size(), 2u);
    EXPECT_EQ(steps[0]->AllText(), picture.turn[0]);
    const double turnY = steps[0]->Number("y");
    EXPECT_GT(turnY, sides[1].sheet.bottom);
    EXPECT_LT(turnY, sides[2].sheet.top);
    for (const DrawnSide &s : sides)
    {
        EXPECT_TRUE(s.sheet.Inside({0, 0, root->Number("width"), root->Number("height")})) << s.label;
    }

    // Documents that follow each other have no turn between them.
    picture.turn.clear();
    root = Draw(picture);
    ASSERT_NE(root, nullptr);
    EXPECT_TRUE(root->FindClass("turn").empty());
}

std::vector<uint8_t> Unbase64(const std::string &text)
{
    static const std::string digits = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::vector<uint8_t> out;
    uint32_t bits = 0;
    int count = 0;
    for (char c : text)
    {
        if (c == '=')
        {
            break;
        }
        bits = bits << 6 | static_cast<uint32_t>(digits.find(c));
        if ((count += 6) >= 8)
        {
            count -= 8;
            out.push_back(static_cast<uint8_t>(bits >> count));
        }
    }
    return out;
}

TEST(Picture, ThumbnailsAreEmbeddedOnceAndShownWherePagesPrint)
{
    // RFC 4648's examples.
    EXPECT_EQ(jobtool::Base64({}), "");
    const std::string foobar = "foobar";
    const char *const expected[] = {"", "Zg==", "Zm8=", "Zm9v", "Zm9vYg==", "Zm9vYmE=", "Zm9vYmFy"};
    for (size_t n = 0; n <= foobar.size(); n++)
    {
        EXPECT_EQ(jobtool::Base64(std::vector<uint8_t>(foobar.begin(), foobar.begin() + static_cast<long>(n))),
                  expected[n]);
    }

    std::map<int, Bytes> pngs;
    int asked = 0;
#ifndef _WIN32
    std::string error;
    std::unique_ptr<jobtool::Thumbnails> rendered = jobtool::Thumbnails::Render(Example("sample.ps"), error);
    ASSERT_NE(rendered, nullptr) << error;
    for (int k = 1; k <= 2; k++)
    {
        std::optional<Bytes> png = rendered->Png(k);
        ASSERT_TRUE(png) << "page " << k;
        pngs[k] = *png;
    }
#else
    pngs[1] = {0x89, 'P', 'N', 'G', 1, 2, 3};
    pngs[2] = {0x89, 'P', 'N', 'G', 4, 5, 6, 7};
#endif
    const jobtool::ThumbnailSource source = [&](int page) -> std::optional<Bytes> {
        asked++;
        auto it = pngs.find(page);
        return it == pngs.end() ? std::nullopt : std::optional<Bytes>(it->second);
    };
    // Two collated copies of pages 1 to 3; page 3 has no thumbnail.
    PictureDocument doc{"document 1", {}};
    for (int copy = 0; copy < 2; copy++)
    {
        for (int k = 1; k <= 3; k++)
        {
            PictureSide s;
            s.pages = {Portrait(k, Slot::Whole)};
            doc.sides.push_back(s);
        }
    }
    Picture picture;
    picture.documents = {doc};
    std::unique_ptr<XmlNode> root = Draw(picture, source);
    ASSERT_NE(root, nullptr);
    EXPECT_EQ(asked, 3) << "each page's thumbnail is fetched once";

    std::map<std::string, const XmlNode *> symbols;
    for (const XmlNode *s : root->Find([](const XmlNode &n) { return n.name == "symbol"; }))
    {
        EXPECT_TRUE(symbols.emplace(s->Attr("id"), s).second) << "symbol " << s->Attr("id") << " twice";
    }
    EXPECT_EQ(symbols.size(), 2u);
    std::vector<DrawnSide> sides = Sides(*root);
    ASSERT_EQ(sides.size(), 6u);
    for (const DrawnSide &s : sides)
    {
        ASSERT_EQ(s.pages.size(), 1u);
        const DrawnPage &p = s.pages[0];
        std::vector<const XmlNode *> uses = p.node->Find([](const XmlNode &n) { return n.name == "use"; });
        if (p.page == 3)
        {
            EXPECT_TRUE(uses.empty());
            EXPECT_EQ(p.number, "3");
            continue;
        }
        ASSERT_EQ(uses.size(), 1u) << "page " << p.page;
        const std::string ref = uses[0]->Attr("xlink:href");
        ASSERT_EQ(ref, "#page-" + std::to_string(p.page));
        const XmlNode *symbol = symbols[ref.substr(1)];
        ASSERT_NE(symbol, nullptr);
        std::vector<const XmlNode *> images = symbol->Find([](const XmlNode &n) { return n.name == "image"; });
        ASSERT_EQ(images.size(), 1u);
        const std::string href = images[0]->Attr("xlink:href");
        const std::string prefix = "data:image/png;base64,";
        ASSERT_EQ(href.compare(0, prefix.size(), prefix), 0);
        EXPECT_EQ(Unbase64(href.substr(prefix.size())), pngs[p.page]);
        EXPECT_TRUE(p.content.Inside(p.area, 0.05));
    }
}

TEST(Picture, AFileThatCannotBeWrittenSaysWhy)
{
    TempDir dir;
    std::string error;
    EXPECT_FALSE(jobtool::WritePicture(dir.Path("no/such/folder/p.svg"), Picture(), nullptr, error));
    EXPECT_TRUE(Contains(error, "cannot write")) << error;
    EXPECT_TRUE(jobtool::WritePicture(dir.Path("p.svg"), Picture(), nullptr, error)) << error;
    const Bytes svg = ReadBytes(dir.Path("p.svg"));
    std::unique_ptr<XmlNode> root = ParseXml(std::string(svg.begin(), svg.end()), error);
    ASSERT_NE(root, nullptr) << error;
    EXPECT_TRUE(Sides(*root).empty());
}

// ---- the picture as the tool draws it ------------------------------------------------

std::unique_ptr<XmlNode> ReadSvg(const std::string &path)
{
    const Bytes data = ReadBytes(path);
    std::string error;
    std::unique_ptr<XmlNode> root = ParseXml(std::string(data.begin(), data.end()), error);
    EXPECT_NE(root, nullptr) << path << ": " << error;
    return root;
}

// Every side of the picture shows the pages that the page map names for
// that printed page, in the halves it names (left|right), and nothing else.
void ExpectSidesFollowThePageMaps(const std::vector<DrawnSide> &sides,
                                  const std::vector<std::vector<std::string>> &maps)
{
    size_t expected = 0;
    for (const auto &m : maps)
    {
        expected += m.size();
    }
    ASSERT_EQ(sides.size(), expected);
    for (const DrawnSide &side : sides)
    {
        ASSERT_GE(side.document, 1);
        ASSERT_LE(static_cast<size_t>(side.document), maps.size());
        const std::vector<std::string> &map = maps[static_cast<size_t>(side.document) - 1];
        ASSERT_GE(side.number, 1);
        ASSERT_LE(static_cast<size_t>(side.number), map.size());
        const std::string named = map[static_cast<size_t>(side.number) - 1];
        SCOPED_TRACE("document " + std::to_string(side.document) + " side " + std::to_string(side.number) + ": " +
                     named);
        const size_t bar = named.find('|');
        if (bar == std::string::npos)
        {
            ASSERT_EQ(side.pages.size(), 1u);
            EXPECT_EQ(std::to_string(side.pages[0].page), named);
            EXPECT_EQ(side.pages[0].slot, "whole");
            continue;
        }
        ASSERT_EQ(side.pages.size(), 2u);
        const std::string halves[2] = {named.substr(0, bar), named.substr(bar + 1)};
        for (const DrawnPage &p : side.pages)
        {
            ASSERT_TRUE(p.slot == "left" || p.slot == "right") << p.slot;
            const std::string &want = halves[p.slot == "left" ? 0 : 1];
            EXPECT_EQ(p.page == 0 ? std::string("-") : std::to_string(p.page), want) << p.slot;
            EXPECT_TRUE(p.area.Inside(SlotBox(side.sheet, p.slot), 0.05)) << "page " << p.page << " leaves its half";
        }
    }
}

TEST(PictureOfARun, ABookletTurnedByHandShowsEverySideAsThePageMapSaysWithTheTurn)
{
    TempDir dir;
    WriteBytes(dir.Path("sample.pxl"), Sample("sample.pxl"));
    ASSERT_EQ(Tool({"make", dir.Path("sample.pxl"), "--booklet", "manual", "-o", dir.Path("b.kdjob")}).code, 0);
    ToolRun run =
        Tool({"run", dir.Path("b.kdjob"), "--out", dir.Path("out"), "--answer", "ok", "--picture", dir.Path("b.svg")});
    ASSERT_EQ(run.code, 0) << run.out << run.err;
    EXPECT_TRUE(Contains(run.out, "picture of the sheets: " + dir.Path("b.svg"))) << run.out;
    const std::vector<std::vector<std::string>> maps = PrintedLines(run.out);
    ASSERT_EQ(maps.size(), 2u) << run.out;
    std::unique_ptr<XmlNode> root = ReadSvg(dir.Path("b.svg"));
    ASSERT_NE(root, nullptr);
    ExpectSidesFollowThePageMaps(Sides(*root), maps);
    // Pages drawn as numbers: a PCL XL job has no source to take thumbnails from.
    for (const DrawnSide &side : Sides(*root))
    {
        for (const DrawnPage &p : side.pages)
        {
            EXPECT_EQ(p.number, p.page > 0 ? std::to_string(p.page) : "");
        }
    }
    // The turn between the passes says what the person was told, every
    // line within the picture (SVG text does not wrap by itself).
    std::vector<const XmlNode *> turn = root->FindClass("turn");
    ASSERT_EQ(turn.size(), 1u);
    const double width = root->Number("width");
    std::string told;
    for (const XmlNode *line : turn[0]->FindClass("turn-step"))
    {
        const std::string text = line->AllText();
        EXPECT_LE(line->Number("x") + text.size() * 6.2, width) << "runs off the picture: " << text;
        told += (told.empty() ? "" : " ") + text.substr(text.find_first_not_of(' '));
    }
    EXPECT_TRUE(Contains(told, "Put the printed sheets back into the multi-purpose tray, printed side up, top edge "
                               "first, in the order they came out"))
        << told;
    const std::string firstPass = (std::filesystem::path(dir.Path("out")) / "b-1.pxl").string();
    EXPECT_TRUE(Contains(told, "The first pass is in " + firstPass + ", a complete print job")) << told;
}

TEST(PictureOfARun, ExplainDrawsOneDocumentAndPointsJobFilesToShow)
{
    TempDir dir;
    WriteBytes(dir.Path("sample.pxl"), Sample("sample.pxl"));
    ASSERT_EQ(
        Tool({"make", dir.Path("sample.pxl"), "--reverse", "--watermark", "DRAFT", "-o", dir.Path("r.kdjob")}).code, 0);
    ASSERT_EQ(Tool({"run", dir.Path("r.kdjob"), "--out", dir.Path("out")}).code, 0);
    const std::string printed = dir.Path("out") + "/r-1.pxl";
    ToolRun explained = Tool({"explain", printed, "--job", dir.Path("r.kdjob"), "--picture", dir.Path("r.svg")});
    ASSERT_EQ(explained.code, 0) << explained.err;
    std::unique_ptr<XmlNode> root = ReadSvg(dir.Path("r.svg"));
    ASSERT_NE(root, nullptr);
    const std::vector<DrawnSide> sides = Sides(*root);
    ExpectSidesFollowThePageMaps(sides, PrintedLines(explained.out));
    ASSERT_EQ(sides.size(), 6u);
    EXPECT_EQ(sides.front().pages[0].page, 6) << "reverse order starts with the last page";
    for (const DrawnSide &side : sides)
    {
        EXPECT_TRUE(std::find(side.marks.begin(), side.marks.end(), "watermark: DRAFT") != side.marks.end())
            << "side " << side.number;
    }

    // A job file is not a printed document: the person is sent to show.
    ToolRun wrong = Tool({"explain", dir.Path("r.kdjob")});
    EXPECT_EQ(wrong.code, 2);
    EXPECT_TRUE(Contains(wrong.err, "is a job file, not a document the printer received: 'jobtool show ")) << wrong.err;
    ToolRun shown = Tool({"show", dir.Path("r.kdjob")});
    EXPECT_EQ(shown.code, 0) << shown.err;
    EXPECT_TRUE(Contains(shown.out, "as made by: jobtool make INPUT --reverse --watermark DRAFT")) << shown.out;
    // A picture that cannot be written says why, and fails.
    ToolRun unwritable = Tool({"explain", printed, "--picture", dir.Path("no/such/dir/r.svg")});
    EXPECT_EQ(unwritable.code, 1);
    EXPECT_TRUE(Contains(unwritable.err, "no/such/dir/r.svg")) << unwritable.err;
}

TEST(PictureOfARun, APdfJobShowsThumbnailsOfItsSourcePages)
{
    if (!std::filesystem::exists(kMimeInfoDocument))
    {
        GTEST_SKIP() << kMimeInfoDocument << " is not installed";
    }
    TempDir dir;
    ToolRun made = Tool({"make", kMimeInfoDocument, "--booklet", "printer", "-o", dir.Path("m.kdjob")});
    if (made.code == 1 &&
        (Contains(made.err, "install the Debian package ghostscript") || Contains(made.err, jobtool::kNotOnThisBuild)))
    {
        GTEST_SKIP() << made.err;
    }
    ASSERT_EQ(made.code, 0) << made.err;
    ToolRun run = Tool({"run", dir.Path("m.kdjob"), "--out", dir.Path("out"), "--picture", dir.Path("m.svg")});
    ASSERT_EQ(run.code, 0) << run.out << run.err;
    std::unique_ptr<XmlNode> root = ReadSvg(dir.Path("m.svg"));
    ASSERT_NE(root, nullptr);
    const std::vector<DrawnSide> sides = Sides(*root);
    ExpectSidesFollowThePageMaps(sides, PrintedLines(run.out));
    // Each of the 17 pages has its thumbnail, embedded once.
    std::vector<const XmlNode *> images = root->Find([](const XmlNode &n) { return n.name == "image"; });
    EXPECT_EQ(images.size(), 17u);
    for (const DrawnSide &side : sides)
    {
        for (const DrawnPage &p : side.pages)
        {
            if (p.page > 0)
            {
                EXPECT_EQ(p.number, "") << "page " << p.page << " shows a number, not its thumbnail";
            }
        }
    }
}

} // namespace
} // namespace jobtool_test
