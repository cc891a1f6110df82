#include "picture.h"

#include "fileio.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <ostream>
#include <set>
#include <sstream>

namespace jobtool
{

namespace
{

const double kPx = 20; // picture units per inch of paper
const double kMargin = 20;
const double kGap = 24;   // between sides
const double kLabel = 20; // room above a side for its label
const double kLine = 16;  // a line of text
// The width the turn's 11-pixel text takes per character, a little more
// than a sans-serif face's average, so that a wrapped line fits.
const double kTurnCharPx = 6.2;
const size_t kColumns = 6;

std::string Escape(const std::string &text)
{
    std::string out;
    for (char c : text)
    {
        switch (c)
        {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '"':
            out += "&quot;";
            break;
        default:
            // Control characters have no place in XML 1.0 text.
            out += static_cast<unsigned char>(c) < 0x20 && c != '\t' && c != '\n' ? ' ' : c;
        }
    }
    return out;
}

std::string Num(double v)
{
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%.2f", std::abs(v) < 0.005 ? 0.0 : v);
    std::string s = buffer;
    while (s.back() == '0')
    {
        s.pop_back();
    }
    if (s.back() == '.')
    {
        s.pop_back();
    }
    return s;
}

struct Rect
{
    double x, y, w, h;
};

Rect SlotRect(Slot slot, double w, double h)
{
    switch (slot)
    {
    case Slot::Left:
        return {0, 0, w / 2, h};
    case Slot::Right:
        return {w / 2, 0, w / 2, h};
    case Slot::Top:
        return {0, 0, w, h / 2};
    case Slot::Bottom:
        return {0, h / 2, w, h / 2};
    default:
        return {0, 0, w, h};
    }
}

int NormalTurn(int turn)
{
    return ((turn % 360) + 360) % 360;
}

// The lines under a side: lead-in, sheet kind, note.
std::vector<std::string> SideMarks(const PictureSide &side)
{
    std::vector<std::string> marks;
    if (!side.leadIn.empty())
    {
        marks.push_back(side.leadIn);
    }
    if (side.separator)
    {
        marks.push_back("separator sheet");
    }
    if (side.transparency)
    {
        marks.push_back("transparency");
    }
    if (side.overlay)
    {
        marks.push_back("over the overlay");
    }
    if (!side.note.empty())
    {
        marks.push_back(side.note);
    }
    return marks;
}

// The turn's lines broken at spaces to fit the picture's width, as an SVG
// text element does not wrap by itself; a continued line is indented.
std::vector<std::string> Wrapped(const std::vector<std::string> &lines, double widthPx)
{
    const size_t most = std::max<size_t>(24, static_cast<size_t>(widthPx / kTurnCharPx));
    std::vector<std::string> out;
    for (const std::string &line : lines)
    {
        std::string rest = line;
        std::string indent;
        while (rest.size() + indent.size() > most)
        {
            const size_t room = most - indent.size();
            size_t cut = rest.rfind(' ', room);
            cut = cut == std::string::npos || cut == 0 ? room : cut;
            out.push_back(indent + rest.substr(0, cut));
            rest.erase(0, rest[cut] == ' ' ? cut + 1 : cut);
            indent = "  ";
        }
        out.push_back(indent + rest);
    }
    return out;
}

struct Layout
{
    double cellW = 0, cellH = 0;
    double width = 0, height = 0;
    size_t columns = 1;
    size_t markLines = 0;
    std::vector<std::string> turn; // the turn's lines as drawn
};

Layout Measure(const Picture &picture)
{
    Layout l;
    double sideW = 8.5 * kPx, sideH = 11 * kPx;
    size_t most = 0;
    for (const PictureDocument &d : picture.documents)
    {
        most = std::max(most, d.sides.size());
        for (const PictureSide &s : d.sides)
        {
            sideW = std::max(sideW, s.widthInch * kPx);
            sideH = std::max(sideH, s.heightInch * kPx);
            l.markLines = std::max(l.markLines, SideMarks(s).size());
        }
    }
    l.columns = std::max<size_t>(1, std::min(kColumns, most));
    l.cellW = sideW + kGap;
    l.cellH = kLabel + sideH + 4 + l.markLines * kLine + kGap;
    l.width = 2 * kMargin + l.columns * l.cellW;
    l.height = kMargin + (picture.title.empty() ? 0 : 2 * kLine);
    for (size_t i = 0; i < picture.documents.size(); i++)
    {
        const size_t rows = (picture.documents[i].sides.size() + l.columns - 1) / l.columns;
        l.height += 2 * kLine + std::max<size_t>(rows, 1) * l.cellH;
        if (i == 0 && picture.documents.size() > 1 && !picture.turn.empty())
        {
            l.turn = Wrapped(picture.turn, l.width - 2 * kMargin - 20);
            l.height += (l.turn.size() + 2) * kLine + kGap;
        }
    }
    l.height += kMargin;
    return l;
}

class Writer
{
  public:
    Writer(std::ostream &out, const ThumbnailSource &thumbnails) : m_out(out), m_thumbnails(thumbnails)
    {
    }

    void Page(const PicturePage &p, double sideW, double sideH)
    {
        const Rect slot = SlotRect(p.slot, sideW, sideH);
        if (p.page <= 0 && !p.instructionPage)
        {
            m_out << "<g class=\"page blank\" data-page=\"0\" data-slot=\"" << SlotName(p.slot) << "\">"
                  << "<rect class=\"page-area\" x=\"" << Num(slot.x) << "\" y=\"" << Num(slot.y) << "\" width=\""
                  << Num(slot.w) << "\" height=\"" << Num(slot.h) << "\" fill=\"url(#blank)\" stroke=\"none\"/>"
                  << "<text x=\"" << Num(slot.x + slot.w / 2) << "\" y=\"" << Num(slot.y + slot.h / 2)
                  << "\" text-anchor=\"middle\" font-size=\"12\" fill=\"#888\">blank</text></g>\n";
            return;
        }
        const int turn = NormalTurn(p.turn);
        const bool across = turn == 90 || turn == 270;
        const double pw = std::max(p.widthInch, 0.1), ph = std::max(p.heightInch, 0.1);
        const double fw = across ? ph : pw, fh = across ? pw : ph;
        const double scale = std::min(slot.w / fw, slot.h / fh);
        const double cx = slot.x + slot.w / 2, cy = slot.y + slot.h / 2;
        const Rect area{cx - fw * scale / 2, cy - fh * scale / 2, fw * scale, fh * scale};
        const Rect content{cx - pw * scale / 2, cy - ph * scale / 2, pw * scale, ph * scale};

        m_out << "<g class=\"page\" data-page=\"" << (p.instructionPage ? 0 : p.page) << "\" data-slot=\""
              << SlotName(p.slot) << "\" data-turn=\"" << turn << "\""
              << (p.instructionPage ? " data-instruction=\"1\"" : "") << ">";
        m_out << "<rect class=\"page-area\" x=\"" << Num(area.x) << "\" y=\"" << Num(area.y) << "\" width=\""
              << Num(area.w) << "\" height=\"" << Num(area.h) << "\" fill=\"#fff\" stroke=\"#999\"/>";
        m_out << "<g class=\"page-content\" transform=\"rotate(" << turn << " " << Num(cx) << " " << Num(cy) << ")\">";
        std::optional<std::vector<uint8_t>> png;
        if (!p.instructionPage && m_thumbnails)
        {
            png = Thumbnail(p.page);
        }
        if (png)
        {
            m_out << "<use class=\"thumbnail\" xlink:href=\"#page-" << p.page << "\" x=\"" << Num(content.x)
                  << "\" y=\"" << Num(content.y) << "\" width=\"" << Num(content.w) << "\" height=\"" << Num(content.h)
                  << "\"/>";
        }
        else
        {
            const std::string label = p.instructionPage ? "instructions" : std::to_string(p.page);
            const double size = std::min(content.w, content.h) * (p.instructionPage ? 0.12 : 0.4);
            // The number's top points to the page's top, so a turned page shows it turned.
            m_out << "<rect x=\"" << Num(content.x) << "\" y=\"" << Num(content.y) << "\" width=\"" << Num(content.w)
                  << "\" height=\"" << Num(content.h) << "\" fill=\"none\" stroke=\"none\"/>"
                  << "<text class=\"page-number\" x=\"" << Num(cx) << "\" y=\"" << Num(cy + size * 0.35)
                  << "\" text-anchor=\"middle\" font-size=\"" << Num(size) << "\">" << Escape(label) << "</text>";
            // A bar along the page's top edge shows which way the page reads.
            m_out << "<rect class=\"page-top\" x=\"" << Num(content.x + content.w * 0.2) << "\" y=\""
                  << Num(content.y + content.h * 0.04) << "\" width=\"" << Num(content.w * 0.6) << "\" height=\""
                  << Num(std::max(1.0, content.h * 0.02)) << "\" fill=\"#bbb\"/>";
        }
        m_out << "</g>";
        if (p.overlay)
        {
            m_out << "<rect class=\"mark overlay\" data-page=\"" << p.page << "\" x=\"" << Num(area.x + 3) << "\" y=\""
                  << Num(area.y + 3) << "\" width=\"" << Num(std::max(0.0, area.w - 6)) << "\" height=\""
                  << Num(std::max(0.0, area.h - 6)) << "\" fill=\"none\" stroke=\"#2a7\" stroke-dasharray=\"4 3\"/>"
                  << "<text class=\"mark overlay\" x=\"" << Num(area.x + 6) << "\" y=\"" << Num(area.y + area.h - 6)
                  << "\" font-size=\"9\" fill=\"#2a7\">overlay</text>";
        }
        if (!p.watermark.empty())
        {
            const double size = std::max(6.0, std::min(area.w, area.h) / std::max<size_t>(4, p.watermark.size()) * 1.4);
            m_out << "<text class=\"mark watermark\" data-page=\"" << p.page << "\" x=\"" << Num(cx) << "\" y=\""
                  << Num(cy) << "\" text-anchor=\"middle\" font-size=\"" << Num(size)
                  << "\" fill=\"#c33\" fill-opacity=\"0.45\" transform=\"rotate(" << (turn - 45) << " " << Num(cx)
                  << " " << Num(cy) << ")\">" << Escape(p.watermark) << "</text>";
        }
        m_out << "</g>\n";
    }

    void Side(const PictureSide &s, size_t number, size_t document, double x, double y)
    {
        const double w = s.widthInch * kPx, h = s.heightInch * kPx;
        std::string label = s.label.empty() ? "side " + std::to_string(number) : s.label;
        if (s.copies > 1)
        {
            label += ", " + std::to_string(s.copies) + " copies";
        }
        m_out << "<g class=\"side\" data-document=\"" << document << "\" data-side=\"" << number << "\" data-copies=\""
              << s.copies << "\" transform=\"translate(" << Num(x) << " " << Num(y) << ")\">\n";
        m_out << "<text class=\"side-label\" x=\"0\" y=\"" << Num(kLabel - 6) << "\" font-size=\"12\">" << Escape(label)
              << "</text>\n";
        const char *fill = s.transparency ? "#e3f0ff" : s.separator ? "#fff6d0" : "#fff";
        m_out << "<g transform=\"translate(0 " << Num(kLabel) << ")\">";
        m_out << "<rect class=\"sheet\" x=\"0\" y=\"0\" width=\"" << Num(w) << "\" height=\"" << Num(h) << "\" fill=\""
              << fill << "\" stroke=\"#333\"/>\n";
        const bool halves =
            std::any_of(s.pages.begin(), s.pages.end(), [](const PicturePage &p) { return p.slot != Slot::Whole; });
        if (halves)
        {
            const bool upright = std::any_of(s.pages.begin(), s.pages.end(), [](const PicturePage &p) {
                return p.slot == Slot::Left || p.slot == Slot::Right;
            });
            m_out << "<line class=\"fold\" x1=\"" << Num(upright ? w / 2 : 0) << "\" y1=\"" << Num(upright ? 0 : h / 2)
                  << "\" x2=\"" << Num(upright ? w / 2 : w) << "\" y2=\"" << Num(upright ? h : h / 2)
                  << "\" stroke=\"#777\" stroke-dasharray=\"6 4\"/>\n";
        }
        for (const PicturePage &p : s.pages)
        {
            Page(p, w, h);
        }
        double my = h + 4 + kLine - 4;
        for (const std::string &m : SideMarks(s))
        {
            const char *kind = !s.leadIn.empty() && m == s.leadIn ? "lead-in"
                               : m == "separator sheet"           ? "separator"
                               : m == "transparency"              ? "transparency"
                               : m == "over the overlay"          ? "overlay"
                                                                  : "note";
            m_out << "<text class=\"mark " << kind << "\" x=\"0\" y=\"" << Num(my) << "\" font-size=\"10\">"
                  << Escape(m) << "</text>\n";
            my += kLine;
        }
        m_out << "</g></g>\n";
    }

  private:
    std::optional<std::vector<uint8_t>> Thumbnail(int page)
    {
        if (m_missing.count(page) != 0)
        {
            return std::nullopt;
        }
        if (m_defined.count(page) != 0)
        {
            return std::vector<uint8_t>();
        }
        std::optional<std::vector<uint8_t>> png = m_thumbnails(page);
        if (!png || png->empty())
        {
            m_missing.insert(page);
            return std::nullopt;
        }
        // Defined where first used; a symbol stretches to the page's box.
        m_out << "<defs><symbol id=\"page-" << page << "\" viewBox=\"0 0 100 100\" preserveAspectRatio=\"none\">"
              << "<image width=\"100\" height=\"100\" preserveAspectRatio=\"none\" xlink:href=\"data:image/png;base64,"
              << Base64(*png) << "\"/></symbol></defs>";
        m_defined.insert(page);
        return png;
    }

    std::ostream &m_out;
    const ThumbnailSource &m_thumbnails;
    std::set<int> m_defined, m_missing;
};

} // namespace

const char *SlotName(Slot slot)
{
    switch (slot)
    {
    case Slot::Left:
        return "left";
    case Slot::Right:
        return "right";
    case Slot::Top:
        return "top";
    case Slot::Bottom:
        return "bottom";
    default:
        return "whole";
    }
}

std::string Base64(const std::vector<uint8_t> &data)
{
    static const char kDigits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    out.reserve((data.size() + 2) / 3 * 4);
    for (size_t i = 0; i < data.size(); i += 3)
    {
        const uint32_t n = static_cast<uint32_t>(data[i]) << 16 |
                           (i + 1 < data.size() ? static_cast<uint32_t>(data[i + 1]) << 8 : 0) |
                           (i + 2 < data.size() ? data[i + 2] : 0);
        out += kDigits[n >> 18 & 63];
        out += kDigits[n >> 12 & 63];
        out += i + 1 < data.size() ? kDigits[n >> 6 & 63] : '=';
        out += i + 2 < data.size() ? kDigits[n & 63] : '=';
    }
    return out;
}

void DrawPicture(std::ostream &out, const Picture &picture, const ThumbnailSource &thumbnails)
{
    const Layout l = Measure(picture);
    out << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        << "<svg xmlns=\"http://www.w3.org/2000/svg\" xmlns:xlink=\"http://www.w3.org/1999/xlink\" width=\""
        << Num(l.width) << "\" height=\"" << Num(l.height) << "\" viewBox=\"0 0 " << Num(l.width) << " "
        << Num(l.height) << "\" font-family=\"sans-serif\">\n"
        << "<defs><pattern id=\"blank\" width=\"8\" height=\"8\" patternUnits=\"userSpaceOnUse\">"
        << "<path d=\"M0 8 L8 0\" stroke=\"#ddd\"/></pattern></defs>\n"
        << "<rect width=\"100%\" height=\"100%\" fill=\"#f4f4f4\"/>\n";
    double y = kMargin;
    if (!picture.title.empty())
    {
        out << "<text class=\"title\" x=\"" << Num(kMargin) << "\" y=\"" << Num(y + kLine)
            << "\" font-size=\"16\" font-weight=\"bold\">" << Escape(picture.title) << "</text>\n";
        y += 2 * kLine;
    }
    Writer w(out, thumbnails);
    for (size_t d = 0; d < picture.documents.size(); d++)
    {
        const PictureDocument &doc = picture.documents[d];
        out << "<g class=\"document\" data-document=\"" << d + 1 << "\">\n"
            << "<text class=\"document-title\" x=\"" << Num(kMargin) << "\" y=\"" << Num(y + kLine)
            << "\" font-size=\"14\" font-weight=\"bold\">" << Escape(doc.title) << "</text>\n";
        y += 2 * kLine;
        for (size_t i = 0; i < doc.sides.size(); i++)
        {
            w.Side(doc.sides[i], i + 1, d + 1, kMargin + (i % l.columns) * l.cellW, y + (i / l.columns) * l.cellH);
        }
        const size_t rows = (doc.sides.size() + l.columns - 1) / l.columns;
        y += std::max<size_t>(rows, 1) * l.cellH;
        out << "</g>\n";
        if (d == 0 && picture.documents.size() > 1 && !picture.turn.empty())
        {
            const double h = (l.turn.size() + 2) * kLine;
            out << "<g class=\"turn\">\n<rect x=\"" << Num(kMargin) << "\" y=\"" << Num(y) << "\" width=\""
                << Num(l.width - 2 * kMargin) << "\" height=\"" << Num(h)
                << "\" fill=\"#fff3e0\" stroke=\"#e80\" rx=\"6\"/>\n"
                << "<text x=\"" << Num(kMargin + 10) << "\" y=\"" << Num(y + kLine)
                << "\" font-size=\"12\" font-weight=\"bold\">&#x21BB; turn of the stack</text>\n";
            for (size_t i = 0; i < l.turn.size(); i++)
            {
                out << "<text class=\"turn-step\" x=\"" << Num(kMargin + 10) << "\" y=\"" << Num(y + (i + 2) * kLine)
                    << "\" font-size=\"11\">" << Escape(l.turn[i]) << "</text>\n";
            }
            out << "</g>\n";
            y += h + kGap;
        }
    }
    out << "</svg>\n";
}

bool WritePicture(const std::string &path, const Picture &picture, const ThumbnailSource &thumbnails,
                  std::string &error)
{
    std::ofstream f(FsPath(path), std::ios::binary | std::ios::trunc);
    if (!f)
    {
        error = "cannot write " + path + ": " + std::strerror(errno);
        return false;
    }
    DrawPicture(f, picture, thumbnails);
    f.close();
    if (!f)
    {
        error = "cannot write " + path + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

} // namespace jobtool
