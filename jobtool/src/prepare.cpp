#include "prepare.h"

#include "progress.h"

#include "pclxl/documentstream.h"

#include <algorithm>
#include <cctype>
#include <map>
#include <set>

namespace jobtool
{

namespace op = pclxl::op;
namespace attr = pclxl::attr;

namespace
{

const Paper kPapers[] = {
    {pclxl::val::eLetterPaper, 1, 8.5, 11.0, "Letter"},  {pclxl::val::eLegalPaper, 5, 8.5, 14.0, "Legal"},
    {pclxl::val::eA4Paper, 9, 8.27, 11.69, "A4"},        {pclxl::val::eExecPaper, 7, 7.25, 10.5, "Executive"},
    {pclxl::val::eLedgerPaper, 4, 11.0, 17.0, "Ledger"}, {pclxl::val::eA3Paper, 8, 11.69, 16.54, "A3"},
    {pclxl::val::eA5Paper, 11, 5.83, 8.27, "A5"},        {11 /* eJB5Paper */, 13, 7.17, 10.12, "JIS B5"},
};

// The rendering driver's buffer size: Chunks() cuts a body into pieces of
// about this many bytes.
const size_t kChunkBytes = 4096;

Bytes Slice(pclxl::Bytes data, size_t begin, size_t end)
{
    return Bytes(data.data + begin, data.data + end);
}

void Append(Bytes &to, const Bytes &from)
{
    to.insert(to.end(), from.begin(), from.end());
}

std::string FontName(const pclxl::Command &c)
{
    const pclxl::Attribute *a = c.find(attr::FontName);
    return a ? a->value.text() : std::string();
}

bool IsOpener(uint8_t o)
{
    switch (o)
    {
    case op::PushGS:
    case op::BeginImage:
    case op::BeginRastPattern:
    case op::BeginScan:
    case op::BeginStream:
    case op::BeginFontHeader:
    case op::BeginChar:
    case op::BeginUserDefinedLineCap:
        return true;
    default:
        return false;
    }
}

bool IsCloser(uint8_t o)
{
    switch (o)
    {
    case op::PopGS:
    case op::EndImage:
    case op::EndRastPattern:
    case op::EndScan:
    case op::EndStream:
    case op::EndFontHeader:
    case op::EndChar:
    case op::EndUserDefinedLineCap:
        return true;
    default:
        return false;
    }
}

// Commands that set up the text that follows them: the deferred run starts
// with them, so that the text keeps its place and font when it is replayed.
bool LeadsText(uint8_t o)
{
    switch (o)
    {
    case op::SetCursor:
    case op::SetCursorRel:
    case op::SetFont:
    case op::SetCharAngle:
    case op::SetCharScale:
    case op::SetCharShear:
    case op::SetCharBoldValue:
    case op::SetCharSubMode:
    case op::SetCharAttributes:
        return true;
    default:
        return false;
    }
}

bool DrawsText(uint8_t o)
{
    return o == op::Text || o == op::TextPath;
}

// Where a command of a page body lies, and what it is: all the text run and
// the chunk cuts need of it.
struct CommandMark
{
    uint8_t op = 0;
    size_t begin = 0;
    size_t end = 0;
};

// The deferred run of a page body: from the setup of its first text to the
// end of its last, when that run is closed in itself at the body's own level.
std::optional<Span> TextRun(const std::vector<CommandMark> &commands)
{
    std::vector<int> depthBefore;
    int depth = 0;
    size_t first = commands.size(), last = commands.size();
    for (size_t i = 0; i < commands.size(); i++)
    {
        depthBefore.push_back(depth);
        uint8_t o = commands[i].op;
        depth += IsOpener(o) ? 1 : IsCloser(o) ? -1 : 0;
        if (DrawsText(o))
        {
            first = std::min(first, i);
            last = i;
        }
    }
    depthBefore.push_back(depth);
    if (first == commands.size())
    {
        return std::nullopt;
    }
    while (first > 0 && LeadsText(commands[first - 1].op) && depthBefore[first - 1] == depthBefore[first])
    {
        first--;
    }
    if (depthBefore[first] != 0 || depthBefore[last + 1] != 0)
    {
        return std::nullopt;
    }
    for (size_t i = first; i <= last; i++)
    {
        if (depthBefore[i] < 0)
        {
            return std::nullopt;
        }
    }
    return Span{commands[first].begin, commands[last].end};
}

// The cuts Chunks() makes of [from, to), appended to out.
void ChunkCuts(const std::vector<CommandMark> &commands, size_t from, size_t to, std::vector<size_t> &out)
{
    size_t start = from;
    for (const CommandMark &m : commands)
    {
        if (m.begin > start && m.begin < to && m.begin - start >= kChunkBytes)
        {
            out.push_back(m.begin);
            start = m.begin;
        }
    }
}

// A command rebuilt with some attributes left out or replaced and others
// added; the operator and its embedded data stay as they are.
Bytes Rebuild(pclxl::Bytes data, const pclxl::Command &c, const std::set<uint16_t> &drop,
              const std::map<uint16_t, Bytes> &replace, const std::vector<Bytes> &add)
{
    Bytes out;
    for (const AttributeBytes &a : AttributeList(data, c))
    {
        auto r = replace.find(a.id);
        if (r != replace.end())
        {
            Append(out, r->second);
        }
        else if (drop.count(a.id) == 0)
        {
            Append(out, a.pair);
        }
    }
    for (const Bytes &b : add)
    {
        Append(out, b);
    }
    Append(out, Slice(data, c.op_offset, c.end));
    return out;
}

Bytes FontNamePair(const std::string &name)
{
    pclxl::Writer w;
    w.ubyteArray(name).attr(attr::FontName);
    return w.take();
}

// Offset of "@PJL ENTER LANGUAGE" in the PJL that opens the data, if any.
std::optional<size_t> EnterLanguage(pclxl::Bytes data, size_t end)
{
    static const char kWanted[] = "@PJL ENTER LANGUAGE";
    const size_t n = sizeof(kWanted) - 1;
    for (size_t i = 0; i + n <= end; i++)
    {
        bool match = true;
        for (size_t j = 0; j < n && match; j++)
        {
            match = std::toupper(data[i + j]) == static_cast<unsigned char>(kWanted[j]);
        }
        if (match && (i == 0 || data[i - 1] == '\n' || data[i - 1] == 'X'))
        {
            return i;
        }
    }
    return std::nullopt;
}

// What a page body downloads and what the pages share, to decide whether the
// downloads may move into the job header.
struct Downloads
{
    bool conflict = false;
    std::string why;
};

} // namespace

const Paper &PaperForMediaSize(uint8_t mediaSize)
{
    for (const Paper &p : kPapers)
    {
        if (p.mediaSize == mediaSize)
        {
            return p;
        }
    }
    return kPapers[2];
}

const Paper *PaperForDmPaper(short dmPaperSize)
{
    for (const Paper &p : kPapers)
    {
        if (p.dmPaperSize == dmPaperSize)
        {
            return &p;
        }
    }
    return nullptr;
}

std::string Commands::error() const
{
    if (!tokens.ok() && (structure.ok() || tokens.error->offset <= structure.error->offset))
    {
        return tokens.error->message();
    }
    return structure.ok() ? std::string() : structure.error->message();
}

Commands ReadCommands(pclxl::Bytes data, pclxl::Context context, bool requireComplete)
{
    Commands c;
    pclxl::ReadOptions ro;
    ro.expect_header = false;
    c.tokens = pclxl::tokenize(data, ro);
    pclxl::CheckOptions co;
    co.context = context;
    co.require_complete = requireComplete && c.tokens.ok();
    c.structure = pclxl::checkStructure(c.tokens, data, co);
    return c;
}

std::vector<AttributeBytes> AttributeList(pclxl::Bytes data, const pclxl::Command &c)
{
    std::vector<AttributeBytes> list;
    pclxl::ReadOptions ro;
    ro.expect_header = false;
    ro.base_offset = c.begin;
    pclxl::TokenList tl = pclxl::tokenize(data.sub(c.begin, c.op_offset - c.begin), ro);
    const pclxl::Token *value = nullptr;
    for (const pclxl::Token &t : tl.tokens)
    {
        if (t.kind == pclxl::TokenKind::Value)
        {
            value = &t;
        }
        else if (t.kind == pclxl::TokenKind::Attribute && value != nullptr)
        {
            AttributeBytes a;
            a.id = t.attribute;
            a.value = Slice(data, value->offset, value->end());
            a.pair = a.value;
            Append(a.pair, Slice(data, t.offset, t.end()));
            a.begin = value->offset;
            a.end = t.end();
            list.push_back(a);
            value = nullptr;
        }
    }
    return list;
}

std::vector<Bytes> Chunks(const PreparedPage &page, size_t from, size_t to, size_t cbMax)
{
    std::vector<Bytes> chunks;
    size_t start = from;
    for (size_t cut : page.cuts)
    {
        if (cut <= start || cut >= to)
        {
            continue;
        }
        if (cut - start >= cbMax)
        {
            chunks.emplace_back(page.body.begin() + static_cast<long>(start),
                                page.body.begin() + static_cast<long>(cut));
            start = cut;
        }
    }
    if (start < to)
    {
        chunks.emplace_back(page.body.begin() + static_cast<long>(start), page.body.begin() + static_cast<long>(to));
    }
    return chunks;
}

namespace
{

// The bytes [begin, end) of the document.
bool ReadRange(pclxl::ByteSource &in, size_t begin, size_t end, Bytes &out, std::string &error)
{
    out.resize(end - begin);
    if (end > begin && !in.read(begin, out.data(), end - begin))
    {
        error = "cannot read bytes " + std::to_string(begin) + " to " + std::to_string(end) + " of the document" +
                (in.error().empty() ? std::string() : ": " + in.error());
        return false;
    }
    return true;
}

// The command as if its bytes began at offset 0: for a command read on its own.
pclxl::Command Rebased(const pclxl::Command &c)
{
    pclxl::Command r = c;
    r.op_offset -= c.begin;
    r.end -= c.begin;
    r.begin = 0;
    return r;
}

// The command's bytes, and the command rebased onto them.
bool ReadCommand(pclxl::ByteSource &in, const pclxl::Command &c, Bytes &bytes, pclxl::Command &rebased,
                 std::string &error)
{
    rebased = Rebased(c);
    return ReadRange(in, c.begin, c.end, bytes, error);
}

} // namespace

// The document as the scan sees it, read in one pass: its pages, and of its
// commands only those the scan looks at (the session's, the font and
// character downloads, the page boundaries and every command of page 1),
// each with its index among all commands; of each page, its text run and
// chunk cuts, worked out from its commands while the page is read. Holding
// every command (or every token) would take many times the document's size.
class PrepareView : public pclxl::DocumentHandler
{
  public:
    explicit PrepareView(bool deferText) : m_deferText(deferText)
    {
    }
    void onCommand(const pclxl::Command &c, const uint8_t *) override
    {
        const size_t index = count_++;
        if (c.op == op::BeginPage && pages.empty())
        {
            inFirstPage_ = true;
        }
        if (c.op == op::BeginPage)
        {
            m_inPage = true;
            m_bodyBegin = c.end;
            m_marks.clear();
        }
        else if (c.op == op::EndPage)
        {
            m_inPage = false;
        }
        else if (m_inPage)
        {
            m_marks.push_back({c.op, c.begin - m_bodyBegin, c.end - m_bodyBegin});
        }
        bool keep = inFirstPage_;
        switch (c.op)
        {
        case op::BeginSession:
        case op::BeginFontHeader:
        case op::EndFontHeader:
        case op::BeginChar:
        case op::ReadChar:
        case op::EndChar:
        case op::RemoveFont:
        case op::BeginPage:
        case op::EndPage:
            keep = true;
            break;
        default:
            break;
        }
        if (keep)
        {
            commands.push_back(c);
            indices.push_back(index);
        }
    }
    void onPage(const pclxl::Page &p, const uint8_t *) override
    {
        pages.push_back(p);
        inFirstPage_ = false;
        // The page's text run and the cuts its chunks will have.
        PageCuts pc;
        pc.text = TextRun(m_marks);
        const size_t size = p.body.end - p.body.begin;
        if (m_deferText && pc.text)
        {
            ChunkCuts(m_marks, 0, pc.text->begin, pc.cuts);
            ChunkCuts(m_marks, pc.text->begin, pc.text->end, pc.cuts);
            ChunkCuts(m_marks, pc.text->end, size, pc.cuts);
        }
        else
        {
            ChunkCuts(m_marks, 0, size, pc.cuts);
        }
        pageCuts.push_back(std::move(pc));
        m_marks.clear();
    }
    void onBytes(uint64_t offset, const uint8_t *, size_t size) override
    {
        if (progress)
        {
            progress->Update(offset + size, pages.size());
        }
    }

    Progress *progress = nullptr;

    // The kept command with this index among all commands.
    const pclxl::Command &At(size_t index) const
    {
        const auto it = std::lower_bound(indices.begin(), indices.end(), index);
        return commands[static_cast<size_t>(it - indices.begin())];
    }
    // The page whose commands include this one's index, if any.
    std::optional<size_t> PageOf(size_t index) const
    {
        auto it = std::upper_bound(pages.begin(), pages.end(), index,
                                   [](size_t i, const pclxl::Page &p) { return i < p.begin_command; });
        if (it == pages.begin())
        {
            return std::nullopt;
        }
        return static_cast<size_t>(it - pages.begin() - 1);
    }

    struct PageCuts
    {
        std::optional<Span> text;
        std::vector<size_t> cuts;
    };

    std::vector<pclxl::Command> commands;
    std::vector<size_t> indices;
    std::vector<pclxl::Page> pages;
    std::vector<PageCuts> pageCuts;

  private:
    size_t count_ = 0;
    bool inFirstPage_ = false;
    bool m_deferText;
    bool m_inPage = false;
    size_t m_bodyBegin = 0;
    std::vector<CommandMark> m_marks; // of the open page
};

PrepareResult PrepareScan(pclxl::ByteSource &in, const PrepareOptions &options)
{
    PrepareResult result;
    pclxl::DocumentStream stream(in);
    PrepareView view(options.deferText);
    Progress progress("make: reading the document", in.size());
    view.progress = &progress;
    const pclxl::DocumentSummary doc = stream.run(view);
    if (!doc.ok())
    {
        result.error = "not a sound PCL XL document: " + doc.error->message();
        return result;
    }
    if (doc.endian == pclxl::Endian::Big)
    {
        result.error = "big-endian PCL XL (binding '(') is not supported: the hook's fragments are little-endian";
        return result;
    }
    if (view.pages.empty())
    {
        result.error = "no page: the document has no BeginPage ... EndPage";
        return result;
    }
    PreparedDocument out;
    const std::vector<pclxl::Command> &cmds = view.commands;
    const std::vector<pclxl::Page> &pages = view.pages;
    std::string &error = result.error;
    Bytes bytes;
    pclxl::Command rebased;

    for (const pclxl::Command &c : cmds)
    {
        if (c.op != op::BeginSession)
        {
            continue;
        }
        const pclxl::Attribute *units = c.find(attr::UnitsPerMeasure);
        const pclxl::Attribute *measure = c.find(attr::Measure);
        double perMeasure = units ? units->value.number(0) : 600;
        double measurePerInch = 1;
        if (measure && measure->value.number() == 1)
        {
            measurePerInch = 25.4;
        }
        else if (measure && measure->value.number() == 2)
        {
            measurePerInch = 254;
        }
        out.unitsPerInch = perMeasure * measurePerInch;
        break;
    }
    if (!(out.unitsPerInch >= 1 && out.unitsPerInch <= 32767))
    {
        // Not a resolution a printer has: the booklet geometry and the
        // settings block take the usual one instead.
        out.notes.push_back("the document's units (" + std::to_string(out.unitsPerInch) +
                            " per inch) are taken as 600 per inch");
        out.unitsPerInch = 600;
    }
    if (const pclxl::Attribute *size = pages.front().attribute(attr::MediaSize))
    {
        if (size->value.shape == pclxl::Shape::Scalar && size->value.number() >= 0 && size->value.number() < 256)
        {
            out.mediaSize = static_cast<uint8_t>(size->value.number());
        }
    }

    // Font downloads: which page defines what, and whether they can all be
    // defined once, ahead of the first page.
    const size_t firstPageCommand = pages.front().begin_command;
    std::set<std::string> fonts;
    std::set<std::pair<std::string, uint32_t>> chars;
    std::set<std::string> headerFonts;
    Downloads downloads;
    std::vector<std::vector<Span>> pageSpans(pages.size());
    // k walks the kept commands; i is a command's index among all of them.
    for (size_t k = 0; k < cmds.size(); k++)
    {
        const pclxl::Command &c = cmds[k];
        const size_t i = view.indices[k];
        if (c.op == op::BeginFontHeader || c.op == op::BeginChar)
        {
            std::string name = FontName(c);
            if (c.op == op::BeginFontHeader)
            {
                if (!fonts.insert(name).second && !downloads.conflict)
                {
                    downloads.conflict = true;
                    downloads.why = "font \"" + name + "\" is downloaded twice";
                }
                if (i < firstPageCommand)
                {
                    headerFonts.insert(name);
                }
            }
            // The whole definition: Begin, its reads, End.
            size_t j = k + 1;
            while (j < cmds.size() && cmds[j].op != op::EndFontHeader && cmds[j].op != op::EndChar)
            {
                if (cmds[j].op == op::ReadChar)
                {
                    const pclxl::Attribute *code = cmds[j].find(attr::CharCode);
                    std::pair<std::string, uint32_t> key(name, code ? static_cast<uint32_t>(code->value.number()) : 0);
                    if (!chars.insert(key).second && !downloads.conflict)
                    {
                        downloads.conflict = true;
                        downloads.why =
                            "character " + std::to_string(key.second) + " of font \"" + name + "\" is downloaded twice";
                    }
                }
                j++;
            }
            if (j < cmds.size())
            {
                const std::optional<size_t> p = view.PageOf(i);
                if (p && i > pages[*p].begin_command && view.indices[j] < pages[*p].end_command)
                {
                    pageSpans[*p].push_back(Span{c.begin, cmds[j].end});
                }
            }
            k = j;
        }
        else if (c.op == op::RemoveFont && i > firstPageCommand && !downloads.conflict)
        {
            downloads.conflict = true;
            downloads.why = "the document removes fonts between or inside its pages";
        }
    }
    const bool hoist = !downloads.conflict;
    size_t moved = 0;
    if (!hoist)
    {
        out.notes.push_back("font downloads stay in their pages (" + downloads.why +
                            "): pages printed out of order may lack characters");
    }

    if (!ReadRange(in, 0, pages.front().range.begin, out.header, error))
    {
        return result;
    }
    if (std::optional<size_t> enter = EnterLanguage(pclxl::Bytes(out.header), doc.header ? doc.header->offset : 0))
    {
        out.copyPos = *enter;
        out.pjl = true;
    }
    else if (doc.header && doc.header->offset > 0)
    {
        out.copyPos = doc.header->offset;
        out.pjl = true;
    }

    for (size_t p = 0; p < pages.size(); p++)
    {
        const pclxl::Page &page = pages[p];
        PreparedPage pp;
        pp.number = p + 1;
        pp.orientation = page.isLandscape() ? 2 : 1;
        const pclxl::Command &begin = view.At(page.begin_command);
        if (!ReadCommand(in, begin, bytes, rebased, error))
        {
            return result;
        }
        pp.begin = Rebuild(pclxl::Bytes(bytes), rebased, {attr::MediaSource, attr::MediaDestination}, {}, {});
        for (uint16_t id : {attr::MediaSource, attr::MediaDestination})
        {
            const pclxl::Attribute *a = begin.find(id);
            const bool automatic =
                a && a->value.shape == pclxl::Shape::Scalar &&
                (id == attr::MediaSource ? a->value.number() <= pclxl::val::eAutoSelect : a->value.number() == 0);
            if (a && !automatic)
            {
                out.notes.push_back("page " + std::to_string(p + 1) + ": " + pclxl::describeAttributeId(id) + "=" +
                                    pclxl::describeValue(a->value, id) +
                                    " is left out; the lead-in fragments choose tray and bin");
            }
        }
        if (!ReadCommand(in, view.At(page.end_command), bytes, rebased, error))
        {
            return result;
        }
        if (options.pageCopies > 0)
        {
            pclxl::Writer w;
            w.uint16(options.pageCopies).attr(attr::PageCopies);
            pp.end = Rebuild(pclxl::Bytes(bytes), rebased, {attr::PageCopies}, {}, {w.take()});
        }
        else
        {
            pp.end = bytes;
        }
        pp.bodyBegin = page.body.begin;
        pp.bodyEnd = page.body.end;
        if (hoist)
        {
            for (const Span &span : pageSpans[p])
            {
                Bytes download;
                if (!ReadRange(in, span.begin, span.end, download, error))
                {
                    return result;
                }
                Append(out.header, download);
                pp.hoisted.push_back(span);
                moved++;
            }
        }
        const size_t next = p + 1 < pages.size() ? pages[p + 1].range.begin : page.range.end;
        if (next > page.range.end)
        {
            if (hoist)
            {
                Bytes between;
                if (!ReadRange(in, page.range.end, next, between, error))
                {
                    return result;
                }
                Append(out.header, between);
            }
            else
            {
                pp.afterRange = Span{page.range.end, next};
            }
        }
        pp.text = view.pageCuts[p].text;
        pp.cuts = std::move(view.pageCuts[p].cuts);
        out.pages.push_back(std::move(pp));
    }
    if (!ReadRange(in, pages.back().range.end, static_cast<size_t>(in.size()), out.trailer, error))
    {
        return result;
    }
    if (moved > 0)
    {
        out.notes.push_back(std::to_string(moved) +
                            " font and character downloads moved from the pages into the job header");
    }

    // Page 1 as an overlay: it downloads its own fonts under names of their
    // own (a page that runs the overlay may use the same names) and removes
    // them at its end, so that every page can run it again.
    const pclxl::Page &first = pages.front();
    Bytes firstBytes;
    if (!ReadRange(in, first.range.begin, first.range.end, firstBytes, error))
    {
        return result;
    }
    const pclxl::Bytes firstPage(firstBytes);
    auto inFirst = [&first](const pclxl::Command &c) {
        pclxl::Command r = c;
        r.begin -= first.range.begin;
        r.op_offset -= first.range.begin;
        r.end -= first.range.begin;
        return r;
    };
    std::set<std::string> own;
    for (size_t i = first.begin_command + 1; i < first.end_command; i++)
    {
        if (view.At(i).op == op::BeginFontHeader)
        {
            own.insert(FontName(view.At(i)));
        }
    }
    std::set<std::string> borrowed;
    for (size_t i = first.begin_command + 1; i < first.end_command; i++)
    {
        const pclxl::Command c = inFirst(view.At(i));
        bool named =
            c.op == op::BeginFontHeader || c.op == op::BeginChar || c.op == op::SetFont || c.op == op::RemoveFont;
        std::string name = FontName(c);
        if (named && own.count(name) != 0)
        {
            Append(out.overlayBody, Rebuild(firstPage, c, {}, {{attr::FontName, FontNamePair("Ovl." + name)}}, {}));
        }
        else
        {
            if (c.op == op::SetFont && (fonts.count(name) != 0 || headerFonts.count(name) != 0))
            {
                borrowed.insert(name);
            }
            Append(out.overlayBody, Slice(firstPage, c.begin, c.end));
        }
    }
    for (const std::string &name : own)
    {
        pclxl::Writer w;
        w.ubyteArray("Ovl." + name).attr(attr::FontName).op(op::RemoveFont);
        Append(out.overlayBody, w.bytes());
    }
    for (const std::string &name : borrowed)
    {
        out.overlayNotes.push_back("page 1 uses font \"" + name +
                                   "\" downloaded elsewhere in the document: an overlay made of it lacks that font");
    }

    result.doc = std::move(out);
    return result;
}

namespace
{

// Reads the page's body and what follows it. everyCut: its cuts are every
// command's start, and the body is checked on its own (else the cuts are
// those the scan found, unless downloads were taken out of the body).
bool ReadPage(pclxl::ByteSource &in, PreparedPage &page, bool everyCut, std::string &error)
{
    Bytes raw;
    if (!ReadRange(in, page.bodyBegin, page.bodyEnd, raw, error))
    {
        return false;
    }
    if (page.hoisted.empty())
    {
        page.body = std::move(raw);
    }
    else
    {
        page.body.clear();
        size_t at = 0;
        for (const Span &span : page.hoisted)
        {
            page.body.insert(page.body.end(), raw.begin() + static_cast<long>(at),
                             raw.begin() + static_cast<long>(span.begin - page.bodyBegin));
            at = span.end - page.bodyBegin;
        }
        page.body.insert(page.body.end(), raw.begin() + static_cast<long>(at), raw.end());
    }
    if (!ReadRange(in, page.afterRange.begin, page.afterRange.end, page.after, error))
    {
        return false;
    }
    if (!everyCut && page.hoisted.empty())
    {
        return true;
    }
    Commands body = ReadCommands(pclxl::Bytes(page.body), pclxl::Context::Page);
    if (!body.ok())
    {
        error = "page " + std::to_string(page.number) + " cannot be sent on its own: " + body.error();
        return false;
    }
    std::vector<CommandMark> marks;
    marks.reserve(body.structure.commands.size());
    for (const pclxl::Command &c : body.structure.commands)
    {
        marks.push_back({c.op, c.begin, c.end});
    }
    page.text = TextRun(marks);
    // One page is held: every command's start serves Chunks() for any range.
    page.cuts.clear();
    for (const CommandMark &m : marks)
    {
        page.cuts.push_back(m.begin);
    }
    return true;
}

} // namespace

bool LoadPage(pclxl::ByteSource &in, PreparedPage &page, std::string &error, bool onItsOwn)
{
    return ReadPage(in, page, onItsOwn, error);
}

void UnloadPage(PreparedPage &page)
{
    Bytes().swap(page.body);
    Bytes().swap(page.after);
}

PrepareResult Prepare(const Bytes &pxl, uint16_t pageCopies)
{
    pclxl::MemorySource source{pclxl::Bytes(pxl)};
    PrepareOptions options;
    options.pageCopies = pageCopies;
    PrepareResult result = PrepareScan(source, options);
    if (!result.doc)
    {
        return result;
    }
    for (PreparedPage &page : result.doc->pages)
    {
        if (!ReadPage(source, page, true, result.error))
        {
            result.doc.reset();
            return result;
        }
    }
    return result;
}

} // namespace jobtool
