#include "pclxl/printability.h"

#include "pclxl/describe.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <optional>
#include <unordered_map>
#include <unordered_set>

namespace pclxl
{

namespace
{

// Graphics states nest this deep at most here; a stream that keeps pushing
// would otherwise hold memory in proportion to its length.
const size_t kMostGraphicsStates = 256;
// Streams that run streams: deeper than this is taken for a loop.
const size_t kMostStreamDepth = 8;

// One command, wherever it came from.
struct View
{
    uint8_t op = 0;
    size_t begin = 0;
    size_t op_offset = 0;
    const std::vector<Attribute> *attributes = nullptr;
    Bytes payload;

    const Attribute *find(uint16_t id) const
    {
        for (const Attribute &a : *attributes)
        {
            if (a.id == id)
            {
                return &a;
            }
        }
        return nullptr;
    }
    std::string name() const
    {
        const char *n = operatorName(op);
        return n ? n : "operator " + std::to_string(op);
    }
};

// The view of a command whose bytes, from its begin, are at `bytes`.
View ViewOf(const Command &c, const uint8_t *bytes)
{
    View v;
    v.op = c.op;
    v.begin = c.begin;
    v.op_offset = c.op_offset;
    v.attributes = &c.attributes;
    if (c.has_data)
    {
        v.payload = Bytes(bytes + (c.payload_offset - c.begin), c.payload_length);
    }
    return v;
}

// The shape each attribute this check reads (and a few more whose shape is
// never in doubt) must have.
struct ShapeRule
{
    uint16_t id;
    Shape shape;
};

const ShapeRule kShapes[] = {
    {attr::PageAngle, Shape::Scalar},   {attr::GrayLevel, Shape::Scalar},   {attr::ColorSpace, Shape::Scalar},
    {attr::CharCode, Shape::Scalar},    {attr::CharSize, Shape::Scalar},    {attr::SymbolSet, Shape::Scalar},
    {attr::ROP3, Shape::Scalar},        {attr::Orientation, Shape::Scalar}, {attr::PaletteIndex, Shape::Scalar},
    {attr::PageCopies, Shape::Scalar},  {attr::PageOrigin, Shape::XY},      {attr::PageScale, Shape::XY},
    {attr::Point, Shape::XY},           {attr::EndPoint, Shape::XY},        {attr::ControlPoint1, Shape::XY},
    {attr::ControlPoint2, Shape::XY},   {attr::DestinationSize, Shape::XY}, {attr::UnitsPerMeasure, Shape::XY},
    {attr::CustomMediaSize, Shape::XY}, {attr::BoundingBox, Shape::Box},    {attr::FontName, Shape::Array},
    {attr::TextData, Shape::Array},     {attr::XSpacingData, Shape::Array}, {attr::YSpacingData, Shape::Array},
    {attr::StreamName, Shape::Array},   {attr::RGBColor, Shape::Array},     {attr::PrimaryArray, Shape::Array},
};

// What is asked of an attribute's value: the shape kShapes gives it, and
// whether it is enumerated or text. Every attribute of every command is
// looked up.
struct AttributeRule
{
    std::optional<Shape> shape;
    bool enumerated = false;
    bool text = false;
};

// The rules of the attribute ids of one byte, by id.
const AttributeRule *narrowAttributeRules()
{
    static const std::vector<AttributeRule> table = [] {
        std::vector<AttributeRule> t(256);
        for (const ShapeRule &r : kShapes)
        {
            if (r.id < 256 && !t[r.id].shape)
            {
                t[r.id].shape = r.shape;
            }
        }
        for (uint16_t id = 0; id < 256; id++)
        {
            t[id].enumerated = isEnumeratedAttribute(id);
            t[id].text = isTextAttribute(id);
        }
        return t;
    }();
    return table.data();
}

// The rule of an attribute id of two bytes: no shape rule, the rest looked
// up as they come.
AttributeRule wideAttributeRule(uint16_t id)
{
    AttributeRule wide;
    wide.enumerated = isEnumeratedAttribute(id);
    wide.text = isTextAttribute(id);
    return wide;
}

const char *shapeWords(Shape s)
{
    switch (s)
    {
    case Shape::Scalar:
        return "a single number";
    case Shape::XY:
        return "an xy pair";
    case Shape::Box:
        return "a box";
    case Shape::Array:
        return "an array";
    }
    return "";
}

// Operators that belong in a session but not necessarily in a page.
bool outsidePages(uint8_t o)
{
    switch (o)
    {
    case op::BeginSession:
    case op::EndSession:
    case op::OpenDataSource:
    case op::CloseDataSource:
    case op::BeginPage:
    case op::EndPage:
    case op::Comment:
    case op::VendorUnique:
    case op::EchoComment:
    case op::Query:
    case op::BeginFontHeader:
    case op::ReadFontHeader:
    case op::EndFontHeader:
    case op::BeginChar:
    case op::ReadChar:
    case op::EndChar:
    case op::RemoveFont:
    case op::BeginStream:
    case op::ReadStream:
    case op::EndStream:
    case op::ExecStream:
    case op::RemoveStream:
    case op::PassThrough:
        return true;
    default:
        return false;
    }
}

bool isBoxShape(uint8_t o)
{
    switch (o)
    {
    case op::Rectangle:
    case op::RectanglePath:
    case op::RoundRectangle:
    case op::RoundRectanglePath:
    case op::Ellipse:
    case op::EllipsePath:
    case op::ArcPath:
    case op::Chord:
    case op::ChordPath:
    case op::Pie:
    case op::PiePath:
        return true;
    default:
        return false;
    }
}

std::string number(double v)
{
    if (v == std::floor(v) && std::fabs(v) < 1e15)
    {
        return std::to_string(static_cast<long long>(v));
    }
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.3g", v);
    return buf;
}

// A font name as a person reads it: quoted, bytes outside printable ASCII as '?'.
std::string printable(const std::string &name)
{
    std::string s = "\"";
    for (char ch : name)
    {
        s += ch >= 0x20 && ch < 0x7F ? ch : '?';
    }
    return s + "\"";
}

std::string pointText(PagePoint p)
{
    return "(" + number(std::round(p.x)) + ", " + number(std::round(p.y)) + ")";
}

struct Graphics
{
    int colorSpace = 0; // 0 until SetColorSpace
    bool fontSet = false;
    std::string font; // FontName as text
    bool fontWasDownloaded = false;
    PageMatrix ctm;
    std::string placement; // the commands that made ctm, for messages
    size_t placementOffset = 0;
    bool cursorKnown = false;
    PagePoint cursor;
};

struct Font
{
    bool complete = false;
    size_t offset = 0; // of its BeginFontHeader
    std::unordered_set<uint32_t> chars;
};

struct Stream
{
    bool complete = false;
    std::vector<uint8_t> data; // its ReadStream data, stream header included
};

// Drawing positions of a stretch of the page under one transformation.
struct Tally
{
    size_t inside = 0, outside = 0;
    PagePoint user, sheet; // the first position off the sheet
    size_t offset = 0;     // of the command that drew there
};

} // namespace

struct PrintabilityChecker::State
{
    PrintabilityOptions options;
    std::optional<Error> error;
    double unitsPerInch = 600;
    bool inPage = false;
    size_t pageNumber = 0;
    std::optional<PageSize> sheet;
    std::vector<Graphics> gs = std::vector<Graphics>(1);
    Tally tally;

    std::unordered_map<std::string, Font> fonts; // looked up by every Text
    // The font the last Text drew with (Texts come in runs with one font);
    // forgotten when a font is removed.
    std::string lastTextFontName;
    Font *lastTextFont = nullptr;
    std::map<std::string, size_t> selectedUndownloaded; // font name -> the first Text that drew with it
    std::map<std::string, size_t> removed;              // font name -> its RemoveFont
    std::optional<std::string> header;                  // the font whose header is being downloaded
    std::string charFont;                               // the font BeginChar downloads into

    std::map<std::string, Stream> streams;
    std::optional<std::string> defining;                 // the stream being defined
    std::vector<std::pair<std::string, size_t>> running; // streams being run, with their ExecStream
    // Counts the changes to what lasts from page to page (the session's
    // units, fonts, streams, fonts drawn with before their download).
    uint64_t generation = 1;
    // Looked up for every attribute: the table is taken once.
    const AttributeRule *narrowRules = narrowAttributeRules();

    void fail(size_t offset, std::string reason)
    {
        if (error)
        {
            return;
        }
        // A fault inside a stream is found where the stream runs.
        for (auto it = running.rbegin(); it != running.rend(); ++it)
        {
            reason = "in stream \"" + it->first + "\" run here: " + reason + " (offset " + std::to_string(offset) +
                     " of the stream's data)";
            offset = it->second;
        }
        error = Error{offset, std::move(reason)};
    }

    Graphics &g()
    {
        return gs.back();
    }

    std::string pageWords() const
    {
        return inPage ? "on page " + std::to_string(pageNumber) : std::string("on this page");
    }

    // The attributes' shapes, and those an operator cannot do without.
    bool checkAttributes(const View &c)
    {
        for (const Attribute &a : *c.attributes)
        {
            const AttributeRule rules = a.id < 256 ? narrowRules[a.id] : wideAttributeRule(a.id);
            // Only real32 elements can be other than finite numbers.
            const double *v = a.value.isReal() ? a.value.numbers.begin() : nullptr;
            for (size_t k = 0; v != nullptr && k < a.value.numbers.size(); k++)
            {
                if (!std::isfinite(v[k]))
                {
                    fail(a.offset, c.name() + "'s " + describeAttributeId(a.id) + " holds " + number(v[k]) +
                                       ", which is not a number a printer can use");
                    return false;
                }
            }
            const std::optional<Shape> &rule = rules.shape;
            const bool mediaName = a.id == attr::MediaSize && a.value.shape == Shape::Array;
            if (rule && a.value.shape != *rule && !mediaName)
            {
                fail(a.offset, c.name() + "'s " + describeAttributeId(a.id) + " is a " + a.value.typeName() +
                                   "; a printer takes " + shapeWords(*rule) + " there");
                return false;
            }
            if (rules.enumerated && a.value.shape == Shape::Scalar && a.value.element != ElementType::UByte)
            {
                fail(a.offset, c.name() + "'s " + describeAttributeId(a.id) + " is a " + a.value.typeName() +
                                   "; a printer takes its values as a ubyte");
                return false;
            }
            if (rules.text && a.value.shape == Shape::Array && a.value.element != ElementType::UByte &&
                a.value.element != ElementType::UInt16)
            {
                fail(a.offset, c.name() + "'s " + describeAttributeId(a.id) + " is a " + a.value.typeName() +
                                   "; a printer takes ubyte or uint16 characters");
                return false;
            }
        }
        auto need = [&](uint16_t id, uint16_t alternative = 0) {
            if (c.find(id) || (alternative != 0 && c.find(alternative)))
            {
                return true;
            }
            fail(c.op_offset, c.name() + " has no " + describeAttributeId(id) + " attribute");
            return false;
        };
        switch (c.op)
        {
        case op::SetColorSpace:
            return need(attr::ColorSpace, attr::ColorimetricColorSpace);
        case op::SetFont:
            return need(attr::FontName, attr::PCLSelectFont);
        case op::BeginFontHeader:
        case op::BeginChar:
        case op::RemoveFont:
            return need(attr::FontName);
        case op::ReadChar:
            return need(attr::CharCode);
        case op::Text:
        case op::TextPath:
            return need(attr::TextData);
        case op::SetPageOrigin:
            return need(attr::PageOrigin);
        case op::SetPageRotation:
            return need(attr::PageAngle);
        case op::SetPageScale:
            return need(attr::PageScale, attr::UnitsPerMeasure);
        case op::SetCursor:
            return need(attr::Point);
        case op::SetROP:
            return need(attr::ROP3);
        case op::BeginStream:
        case op::ExecStream:
        case op::RemoveStream:
            return need(attr::StreamName);
        default:
            return true;
        }
    }

    static std::string nameOf(const View &c, uint16_t id)
    {
        const Attribute *a = c.find(id);
        return a ? a->value.text() : std::string();
    }

    static std::string quoted(const View &c, uint16_t id)
    {
        const Attribute *a = c.find(id);
        return a ? describeValue(a->value, id) : std::string("\"\"");
    }

    void onCommand(const View &c)
    {
        if (error || !checkAttributes(c))
        {
            return;
        }
        if (!inPage && !outsidePages(c.op) && options.context != Context::Page)
        {
            fail(c.op_offset, c.name() + " outside a page (BeginPage missing)");
            return;
        }
        if (lastsBeyondPage(c.op))
        {
            generation++;
        }
        switch (c.op)
        {
        case op::BeginSession:
            unitsPerInch = pclxl::unitsPerInch(c.find(attr::UnitsPerMeasure), c.find(attr::Measure));
            break;
        case op::BeginPage:
            beginPage(c);
            break;
        case op::EndPage:
            flushPlacement();
            inPage = false;
            gs.assign(1, Graphics());
            break;
        case op::PushGS:
            if (gs.size() >= kMostGraphicsStates)
            {
                fail(c.op_offset,
                     "PushGS nests graphics states more than " + std::to_string(kMostGraphicsStates) + " deep");
                return;
            }
            gs.push_back(g());
            break;
        case op::PopGS:
            if (gs.size() > 1)
            {
                const bool moved = std::memcmp(&gs.back().ctm, &gs[gs.size() - 2].ctm, sizeof(PageMatrix)) != 0;
                if (moved)
                {
                    flushPlacement();
                }
                gs.pop_back();
            }
            break;
        case op::SetColorSpace:
            setColorSpace(c);
            break;
        case op::SetBrushSource:
        case op::SetPenSource:
            colourSource(c);
            break;
        case op::BeginImage:
        case op::BeginRastPattern:
            if (g().colorSpace == 0)
            {
                fail(c.op_offset, c.name() + " before any SetColorSpace " + pageWords() +
                                      ": a printer has no colour space to read its pixels in");
                return;
            }
            if (c.op == op::BeginImage)
            {
                image(c);
            }
            break;
        case op::SetPageOrigin:
        case op::SetPageRotation:
        case op::SetPageScale:
        case op::SetPageDefaultCTM:
            transform(c);
            break;
        case op::BeginFontHeader:
            beginFontHeader(c);
            break;
        case op::EndFontHeader:
            if (header)
            {
                fonts[*header].complete = true;
            }
            header.reset();
            break;
        case op::BeginChar:
            beginChar(c);
            break;
        case op::ReadChar:
            readChar(c);
            break;
        case op::EndChar:
            charFont.clear();
            break;
        case op::RemoveFont: {
            const std::string name = nameOf(c, attr::FontName);
            lastTextFont = nullptr;
            if (fonts.erase(name) > 0)
            {
                removed[name] = c.op_offset;
            }
            break;
        }
        case op::SetFont:
            setFont(c);
            break;
        case op::Text:
        case op::TextPath:
            text(c);
            break;
        case op::BeginStream:
            beginStream(c);
            break;
        case op::ReadStream:
            if (defining)
            {
                Stream &s = streams[*defining];
                s.data.insert(s.data.end(), c.payload.data, c.payload.data + c.payload.size);
            }
            break;
        case op::EndStream:
            if (defining)
            {
                streams[*defining].complete = true;
            }
            defining.reset();
            break;
        case op::RemoveStream: {
            streams.erase(nameOf(c, attr::StreamName));
            break;
        }
        case op::ExecStream:
            execStream(c);
            break;
        default:
            position(c);
            break;
        }
    }

    // Operators whose effect may outlast the page they are on.
    static bool lastsBeyondPage(uint8_t o)
    {
        switch (o)
        {
        case op::BeginSession:
        case op::EndSession:
        case op::BeginFontHeader:
        case op::ReadFontHeader:
        case op::EndFontHeader:
        case op::BeginChar:
        case op::ReadChar:
        case op::EndChar:
        case op::RemoveFont:
        case op::BeginStream:
        case op::ReadStream:
        case op::EndStream:
        case op::RemoveStream:
            return true;
        default:
            return false;
        }
    }

    void beginPage(const View &c)
    {
        inPage = true;
        pageNumber++;
        gs.assign(1, Graphics());
        tally = Tally();
        const Attribute *o = c.find(attr::Orientation);
        if (o && !enumValueName(attr::Orientation, static_cast<uint32_t>(o->value.number())))
        {
            fail(o->offset, "BeginPage's Orientation " + number(o->value.number()) + " is not an orientation");
            return;
        }
        sheet = sheetSize(*c.attributes, unitsPerInch);
    }

    void setColorSpace(const View &c)
    {
        const Attribute *a = c.find(attr::ColorSpace);
        if (!a)
        {
            g().colorSpace = -1; // colorimetric: some colour space, none this check knows
            return;
        }
        const uint32_t v = static_cast<uint32_t>(a->value.number());
        if (!enumValueName(attr::ColorSpace, v) || a->value.number() != v)
        {
            fail(a->offset, "SetColorSpace's ColorSpace " + number(a->value.number()) + " is not a colour space");
            return;
        }
        g().colorSpace = static_cast<int>(v);
    }

    void colourSource(const View &c)
    {
        static const uint16_t kColours[] = {attr::GrayLevel, attr::RGBColor, attr::PrimaryArray, attr::PaletteIndex};
        for (uint16_t id : kColours)
        {
            if (!c.find(id))
            {
                continue;
            }
            const std::string given = c.name() + " gives " + describeAttributeId(id);
            if (g().colorSpace == 0)
            {
                fail(c.op_offset, given + " before any SetColorSpace " + pageWords() +
                                      ": a printer reports a colour space mismatch");
                return;
            }
            if (id == attr::GrayLevel && g().colorSpace > 0 && g().colorSpace != val::eGray)
            {
                fail(c.op_offset, given + " in the " + enumValueName(attr::ColorSpace, g().colorSpace) +
                                      " colour space: a printer reports a colour space mismatch");
                return;
            }
            if (id == attr::RGBColor && g().colorSpace == val::eGray)
            {
                fail(c.op_offset, given + " in the eGray colour space: a printer reports a colour space mismatch");
                return;
            }
        }
    }

    void transform(const View &c)
    {
        flushPlacement();
        Graphics &s = g();
        std::string what;
        if (c.op == op::SetPageDefaultCTM)
        {
            s.ctm = PageMatrix();
            s.placement.clear();
            return;
        }
        if (c.op == op::SetPageOrigin)
        {
            const Value &v = c.find(attr::PageOrigin)->value;
            s.ctm.concat(PageMatrix::translation(v.number(0), v.number(1)));
            what = "SetPageOrigin (" + number(v.number(0)) + ", " + number(v.number(1)) + ")";
        }
        else if (c.op == op::SetPageRotation)
        {
            const double angle = c.find(attr::PageAngle)->value.number();
            s.ctm.concat(PageMatrix::rotation(angle));
            what = "SetPageRotation " + number(angle);
        }
        else if (const Attribute *scale = c.find(attr::PageScale))
        {
            s.ctm.concat(PageMatrix::scaling(scale->value.number(0), scale->value.number(1)));
            what = "SetPageScale (" + number(scale->value.number(0)) + ", " + number(scale->value.number(1)) + ")";
        }
        else
        {
            // A scale given as new units: session units per new unit.
            const Attribute *units = c.find(attr::UnitsPerMeasure);
            const double k = unitsPerInch / pclxl::unitsPerInch(units, c.find(attr::Measure));
            s.ctm.concat(PageMatrix::scaling(k, k));
            what = "SetPageScale to " + number(units->value.number(0)) + " units";
        }
        // The last few are enough to tell a person where the page went.
        s.placement = s.placement.size() > 200 ? what : (s.placement.empty() ? "" : s.placement + ", ") + what;
        s.placementOffset = c.op_offset;
    }

    // A drawing position in the current user space.
    void mark(PagePoint p, size_t offset)
    {
        if (!sheet || !inPage || !std::isfinite(p.x) || !std::isfinite(p.y))
        {
            return;
        }
        const PagePoint on = g().ctm.apply(p);
        const double tolerance = unitsPerInch / 10;
        const bool inside = on.x >= -tolerance && on.y >= -tolerance && on.x <= sheet->width + tolerance &&
                            on.y <= sheet->height + tolerance;
        if (inside)
        {
            tally.inside++;
            return;
        }
        if (tally.outside++ == 0)
        {
            tally.user = p;
            tally.sheet = on;
            tally.offset = offset;
        }
    }

    void flushPlacement()
    {
        const Tally t = tally;
        tally = Tally();
        if (t.outside == 0 || t.outside <= t.inside || !sheet)
        {
            return;
        }
        const Graphics &s = g();
        std::string reason = "page " + std::to_string(pageNumber) + " draws off its " +
                             number(std::round(sheet->width)) + " x " + number(std::round(sheet->height)) +
                             " sheet: " + std::to_string(t.outside) + " of " + std::to_string(t.outside + t.inside) +
                             " drawing positions fall outside it, the first " + pointText(t.user) + " at " +
                             pointText(t.sheet) + " on the sheet";
        if (!s.placement.empty())
        {
            reason += ", after " + s.placement;
        }
        fail(s.placement.empty() ? t.offset : s.placementOffset, reason);
    }

    void image(const View &c)
    {
        const Attribute *size = c.find(attr::DestinationSize);
        if (g().cursorKnown && size)
        {
            mark({g().cursor.x + size->value.number(0) / 2, g().cursor.y + size->value.number(1) / 2}, c.op_offset);
        }
    }

    // Positions of drawing and cursor moves.
    void position(const View &c)
    {
        Graphics &s = g();
        if (c.op == op::SetCursor)
        {
            const Value &p = c.find(attr::Point)->value;
            s.cursor = {p.number(0), p.number(1)};
            s.cursorKnown = true;
            return;
        }
        if (c.op == op::SetCursorRel)
        {
            const Attribute *p = c.find(attr::Point);
            if (p)
            {
                s.cursor = {s.cursor.x + p->value.number(0), s.cursor.y + p->value.number(1)};
            }
            s.cursorKnown = s.cursorKnown && p;
            return;
        }
        if (isBoxShape(c.op))
        {
            if (const Attribute *box = c.find(attr::BoundingBox))
            {
                const Value &b = box->value;
                mark({(b.number(0) + b.number(2)) / 2, (b.number(1) + b.number(3)) / 2}, c.op_offset);
            }
            return;
        }
        if (c.op == op::LinePath || c.op == op::BezierPath || c.op == op::LineRelPath || c.op == op::BezierRelPath)
        {
            const Attribute *end = c.find(attr::EndPoint);
            const bool relative = c.op == op::LineRelPath || c.op == op::BezierRelPath;
            if (!end || (relative && !s.cursorKnown))
            {
                s.cursorKnown = false; // points in embedded data: not followed
                return;
            }
            PagePoint p{end->value.number(0), end->value.number(1)};
            if (relative)
            {
                p = {s.cursor.x + p.x, s.cursor.y + p.y};
            }
            mark(p, c.op_offset);
            s.cursor = p;
            s.cursorKnown = true;
        }
    }

    void beginFontHeader(const View &c)
    {
        const std::string name = nameOf(c, attr::FontName);
        auto defined = fonts.find(name);
        if (defined != fonts.end())
        {
            fail(c.op_offset, "BeginFontHeader downloads font " + quoted(c, attr::FontName) +
                                  " again: it was downloaded at offset " + std::to_string(defined->second.offset) +
                                  " and not removed (RemoveFont); a printer refuses the second font header");
            return;
        }
        auto used = selectedUndownloaded.find(name);
        if (used != selectedUndownloaded.end())
        {
            fail(used->second, "Text draws with font " + quoted(c, attr::FontName) +
                                   " before it is downloaded (its BeginFontHeader comes later, at offset " +
                                   std::to_string(c.op_offset) + "): a printer has no such font there");
            return;
        }
        header = name;
        fonts[name].offset = c.op_offset;
    }

    void beginChar(const View &c)
    {
        const std::string name = nameOf(c, attr::FontName);
        auto it = fonts.find(name);
        if (it == fonts.end() || !it->second.complete)
        {
            fail(c.op_offset, "BeginChar downloads characters into font " + quoted(c, attr::FontName) +
                                  ", whose header has not been downloaded (BeginFontHeader ... EndFontHeader "
                                  "missing before it)");
            return;
        }
        charFont = name;
    }

    void readChar(const View &c)
    {
        auto it = fonts.find(charFont);
        if (it == fonts.end())
        {
            return;
        }
        const double code = c.find(attr::CharCode)->value.number();
        if (code < 0 || code > 0xFFFF || code != std::floor(code))
        {
            fail(c.op_offset, "ReadChar's CharCode " + number(code) + " is not a character code (0 to 65535)");
            return;
        }
        it->second.chars.insert(static_cast<uint32_t>(code));
    }

    void setFont(const View &c)
    {
        Graphics &s = g();
        s.fontSet = true;
        s.font = nameOf(c, attr::FontName);
        s.fontWasDownloaded = c.find(attr::FontName) && fonts.count(s.font) > 0;
        if (!c.find(attr::FontName))
        {
            return; // a PCL font selection: the printer's own fonts
        }
        auto gone = removed.find(s.font);
        if (!s.fontWasDownloaded && gone != removed.end())
        {
            fail(c.op_offset, "SetFont selects font " + quoted(c, attr::FontName) + ", which RemoveFont at offset " +
                                  std::to_string(gone->second) + " removed");
        }
    }

    Font *textFont(const std::string &name)
    {
        if (lastTextFont != nullptr && name == lastTextFontName)
        {
            return lastTextFont;
        }
        auto it = fonts.find(name);
        if (it == fonts.end())
        {
            return nullptr;
        }
        lastTextFontName = name;
        lastTextFont = &it->second;
        return lastTextFont;
    }

    void text(const View &c)
    {
        const Graphics &s = g();
        if (!s.fontSet)
        {
            fail(c.op_offset, c.name() + " with no font selected (SetFont missing " + pageWords() + ")");
            return;
        }
        const Value &data = c.find(attr::TextData)->value;
        const Attribute *dx = c.find(attr::XSpacingData);
        const Attribute *dy = c.find(attr::YSpacingData);
        for (const Attribute *spacing : {dx, dy})
        {
            if (spacing && spacing->value.count() != data.count())
            {
                fail(spacing->offset, c.name() + " has " + std::to_string(data.count()) + " characters but " +
                                          std::to_string(spacing->value.count()) + " " +
                                          describeAttributeId(spacing->id) + " values");
                return;
            }
        }
        Font *font = textFont(s.font);
        if (font != nullptr)
        {
            for (size_t i = 0; i < data.count(); i++)
            {
                const uint32_t code = static_cast<uint32_t>(data.number(i));
                if (font->chars.count(code) == 0)
                {
                    const std::string shown =
                        code >= 0x20 && code < 0x7F ? " ('" + std::string(1, static_cast<char>(code)) + "')" : "";
                    fail(c.op_offset, c.name() + " draws character code " + std::to_string(code) + shown + " of font " +
                                          printable(s.font) +
                                          ", which has not been downloaded (BeginChar ... ReadChar missing before it)");
                    return;
                }
            }
        }
        else if (s.fontWasDownloaded)
        {
            fail(c.op_offset,
                 c.name() + " draws with font " + printable(s.font) + ", which was removed after SetFont selected it");
            return;
        }
        else if (!s.font.empty())
        {
            if (selectedUndownloaded.emplace(s.font, c.op_offset).second)
            {
                generation++;
            }
        }
        if (g().cursorKnown)
        {
            mark(g().cursor, c.op_offset);
            double x = 0, y = 0;
            for (size_t i = 0; dx && i < dx->value.count(); i++)
            {
                x += dx->value.number(i);
            }
            for (size_t i = 0; dy && i < dy->value.count(); i++)
            {
                y += dy->value.number(i);
            }
            g().cursor = {g().cursor.x + x, g().cursor.y + y};
        }
    }

    void beginStream(const View &c)
    {
        const std::string name = nameOf(c, attr::StreamName);
        auto it = streams.find(name);
        if (it != streams.end())
        {
            fail(c.op_offset,
                 "BeginStream defines stream " + quoted(c, attr::StreamName) + " again without RemoveStream");
            return;
        }
        defining = name;
        streams[name];
    }

    void execStream(const View &c)
    {
        const std::string name = nameOf(c, attr::StreamName);
        auto it = streams.find(name);
        if (it == streams.end() || !it->second.complete)
        {
            fail(c.op_offset, "ExecStream runs stream " + quoted(c, attr::StreamName) +
                                  ", which has not been defined (BeginStream ... EndStream missing before it)");
            return;
        }
        if (running.size() >= kMostStreamDepth)
        {
            fail(c.op_offset,
                 "ExecStream runs streams inside streams more than " + std::to_string(kMostStreamDepth) + " deep");
            return;
        }
        // The stream's data may go when a stream it runs is removed: work on a copy.
        const std::vector<uint8_t> data = it->second.data;
        Error e;
        std::optional<StreamHeader> h = parseStreamHeader(Bytes(data), 0, true, &e);
        if (!h)
        {
            fail(c.op_offset, "ExecStream runs stream " + quoted(c, attr::StreamName) + ": " + e.reason);
            return;
        }
        ReadOptions ro;
        ro.expect_header = false;
        ro.endian = h->endian;
        ro.base_offset = h->length;
        const Bytes body = Bytes(data).sub(h->length);
        TokenList tokens = tokenize(body, ro);
        CheckOptions co;
        co.context = Context::Page;
        co.stream_body = true;
        Structure st = checkStructure(tokens, body, co);
        std::optional<Error> fault = tokens.error ? tokens.error : st.error;
        running.emplace_back(name, c.op_offset);
        if (fault)
        {
            fail(fault->offset, fault->reason);
        }
        for (const Command &inner : st.commands)
        {
            if (error)
            {
                break;
            }
            onCommand(ViewOf(inner, Bytes(data).data + inner.begin));
        }
        running.pop_back();
    }
};

PrintabilityChecker::PrintabilityChecker(const PrintabilityOptions &options) : state_(new State)
{
    state_->options = options;
    if (options.context == Context::Page)
    {
        state_->inPage = true;
    }
}

PrintabilityChecker::PrintabilityChecker(const PrintabilityChecker &other) : state_(new State(*other.state_))
{
    state_->lastTextFont = nullptr; // it points into the other's fonts
}

PrintabilityChecker::~PrintabilityChecker() = default;

void PrintabilityChecker::feed(const StreamCommand &command)
{
    View v;
    v.op = command.op;
    v.begin = static_cast<size_t>(command.begin);
    v.op_offset = static_cast<size_t>(command.op_offset);
    v.attributes = &command.attributes;
    if (command.has_data)
    {
        v.payload = command.payload();
    }
    state_->onCommand(v);
}

void PrintabilityChecker::feed(const Command &command, Bytes data)
{
    state_->onCommand(ViewOf(command, data.data + command.begin));
}

void PrintabilityChecker::feed(const Command &command, const uint8_t *bytes)
{
    state_->onCommand(ViewOf(command, bytes));
}

uint64_t PrintabilityChecker::acrossPages() const
{
    const State &s = *state_;
    if (s.error || s.inPage || s.gs.size() != 1 || !s.running.empty() || s.header || !s.charFont.empty() || s.defining)
    {
        return 0;
    }
    return s.generation;
}

void PrintabilityChecker::repeatPage()
{
    state_->pageNumber++;
}

void PrintabilityChecker::finish()
{
    if (state_->inPage)
    {
        state_->flushPlacement();
    }
}

const std::optional<Error> &PrintabilityChecker::error() const
{
    return state_->error;
}

std::optional<Error> checkPrintability(Bytes data, const PrintabilityOptions &options)
{
    PrintabilityChecker checker(options);
    if (options.context == Context::Document)
    {
        MemorySource source(data);
        CommandReader reader(source);
        if (!reader.open())
        {
            return reader.error();
        }
        StreamCommand c;
        while (checker.ok() && reader.next(c))
        {
            checker.feed(c);
        }
        if (reader.error())
        {
            return reader.error();
        }
        checker.finish();
        return checker.error();
    }
    ReadOptions ro;
    ro.expect_header = false;
    TokenList tokens = tokenize(data, ro);
    CheckOptions co;
    co.context = options.context;
    Structure st = checkStructure(tokens, data, co);
    if (tokens.error || st.error)
    {
        return tokens.error ? tokens.error : st.error;
    }
    for (const Command &c : st.commands)
    {
        checker.feed(c, data);
        if (!checker.ok())
        {
            break;
        }
    }
    checker.finish();
    return checker.error();
}

} // namespace pclxl
