#include "pagemap.h"

#include <pclxl/commandreader.h>
#include <pclxl/printability.h>

#include "digest.h"
#include "driver.h"
#include "faultpoint.h"
#include "progress.h"
#include "replay.h"
#include "secondpass.h"

#include "pclxl/documentstream.h"
#include "pclxl/pagestart.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <functional>
#include <map>
#include <optional>
#include <system_error>
#include <unordered_map>
#include <unordered_set>

namespace jobtool
{

namespace op = pclxl::op;
namespace attr = pclxl::attr;

namespace
{

Bytes Slice(pclxl::Bytes data, size_t begin, size_t end)
{
    return Bytes(data.data + begin, data.data + end);
}

void Append(Bytes &to, const Bytes &from)
{
    to.insert(to.end(), from.begin(), from.end());
}

bool EndsWith(const Bytes &b, size_t end, const Bytes &tail)
{
    return !tail.empty() && end >= tail.size() &&
           std::equal(tail.begin(), tail.end(), b.begin() + static_cast<long>(end - tail.size()));
}

std::string DescribeLeadIn(const Bytes &b)
{
    if (b.size() == 4 && b[0] == pclxl::dt::UByte && b[2] == pclxl::tag::AttrUByte)
    {
        const char *name = pclxl::attributeName(b[3]);
        const char *value = pclxl::enumValueName(b[3], b[1]);
        return std::string(name ? name : "attribute") + "=" + (value ? value : std::to_string(b[1]));
    }
    return spoolsim::Printable(b);
}

std::string Text(const pclxl::Command &c)
{
    const pclxl::Attribute *a = c.find(attr::TextData);
    return a ? a->value.text() : std::string();
}

// "landscape A4" from a BeginPage's attributes.
std::string PageDetail(const pclxl::Command &beginPage)
{
    std::string out;
    auto name = [&beginPage](uint16_t id, const char *prefix, const char *suffix) {
        const pclxl::Attribute *a = beginPage.find(id);
        if (!a || a->value.shape != pclxl::Shape::Scalar)
        {
            return std::string();
        }
        const char *n = pclxl::enumValueName(id, static_cast<uint32_t>(a->value.number()));
        std::string s = n ? n : std::to_string(a->value.integer());
        if (s.compare(0, std::strlen(prefix), prefix) == 0)
        {
            s = s.substr(std::strlen(prefix));
        }
        if (s.size() > std::strlen(suffix) && s.compare(s.size() - std::strlen(suffix), std::string::npos, suffix) == 0)
        {
            s.resize(s.size() - std::strlen(suffix));
        }
        return s;
    };
    std::string orientation = name(attr::Orientation, "e", "Orientation");
    std::string size = name(attr::MediaSize, "e", "Paper");
    for (char &ch : orientation)
    {
        ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    }
    out = orientation;
    if (!size.empty())
    {
        out += (out.empty() ? "" : " ") + size;
    }
    return out;
}

struct Normalised
{
    Bytes bytes;
    std::vector<Fragment> fragments;
    std::string detail;
    std::vector<Span> cuts; // taken out of the page's bytes, in order

    // Where offset `at` of the page is in bytes; false inside a cut.
    bool Place(size_t at, size_t &placed) const
    {
        size_t removed = 0;
        for (const Span &c : cuts)
        {
            if (at < c.begin)
            {
                break;
            }
            if (at < c.end)
            {
                return false;
            }
            removed += c.end - c.begin;
        }
        placed = at - removed;
        return true;
    }
};

// A page (or booklet sheet) with what the hook adds taken out: lead-ins in
// front of its attributes and watermark fragments; and PageCopies, which
// tells copies apart but not pages.
// The first `count` of a list of commands.
struct CommandList
{
    const pclxl::Command *first;
    size_t count;

    size_t size() const
    {
        return count;
    }
    bool empty() const
    {
        return count == 0;
    }
    const pclxl::Command &front() const
    {
        return first[0];
    }
    const pclxl::Command &operator[](size_t i) const
    {
        return first[i];
    }
};

// cmds: the commands of data, with offsets in data. Only the first
// command's attributes and those of NormaliseReadsAttributes' operators are
// read (the explain pass copies no others).
// room: a buffer for the normalised bytes, whose capacity is used again
// (a page is megabytes, and fresh memory for each costs its page faults).
Normalised Normalise(pclxl::Bytes data, size_t base, const Reference &ref, CommandList cmds, Bytes &&room = Bytes())
{
    Normalised n;
    n.bytes = std::move(room);
    n.bytes.clear();
    n.bytes.reserve(data.size);
    std::vector<Span> cut;
    if (!cmds.empty())
    {
        for (const AttributeBytes &a : AttributeList(data, cmds.front()))
        {
            auto it = std::find(ref.leadIns.begin(), ref.leadIns.end(), a.pair);
            if (it == ref.leadIns.end())
            {
                break;
            }
            cut.push_back({a.begin, a.end});
            n.fragments.push_back({"lead-in " + std::to_string(it - ref.leadIns.begin() + 1), base + a.begin,
                                   a.end - a.begin, DescribeLeadIn(a.pair)});
        }
        if (cmds.front().op == op::BeginPage)
        {
            n.detail = PageDetail(cmds.front());
        }
    }
    for (size_t i = 0; i < cmds.size(); i++)
    {
        const pclxl::Command &c = cmds[i];
        if (c.op == op::EndPage)
        {
            for (const AttributeBytes &a : AttributeList(data, c))
            {
                if (a.id == attr::PageCopies)
                {
                    cut.push_back({a.begin, a.end});
                    const pclxl::Attribute *copies = c.find(attr::PageCopies);
                    if (copies && copies->value.number() > 1)
                    {
                        n.detail += (n.detail.empty() ? "" : ", ") + std::to_string(copies->value.integer()) +
                                    " copies of the page";
                    }
                }
            }
        }
        const pclxl::Attribute *rop = i + 2 < cmds.size() ? cmds[i + 2].find(attr::ROP3) : nullptr;
        if (c.op == op::PushGS && rop && cmds[i + 1].op == op::SetClipToPage && cmds[i + 2].op == op::SetROP &&
            rop->value.number() == 252)
        {
            int depth = 0;
            std::string text;
            size_t j = i;
            for (; j < cmds.size(); j++)
            {
                depth += cmds[j].op == op::PushGS ? 1 : cmds[j].op == op::PopGS ? -1 : 0;
                if (cmds[j].op == op::Text || cmds[j].op == op::TextPath)
                {
                    text += Text(cmds[j]);
                }
                if (depth == 0)
                {
                    break;
                }
            }
            if (j < cmds.size())
            {
                cut.push_back({c.begin, cmds[j].end});
                n.fragments.push_back({"watermark", base + c.begin, cmds[j].end - c.begin, "\"" + text + "\""});
                i = j;
                continue;
            }
        }
        const pclxl::Attribute *stream = c.find(attr::StreamName);
        if (c.op == op::ExecStream && stream && stream->value.text() == driver::kOverlayStream)
        {
            n.fragments.push_back(
                {"overlay", base + c.begin, c.end - c.begin, "ExecStream \"" + stream->value.text() + "\""});
        }
    }
    std::sort(cut.begin(), cut.end(), [](const Span &a, const Span &b) { return a.begin < b.begin; });
    size_t at = 0;
    for (const Span &s : cut)
    {
        if (s.begin >= at)
        {
            Append(n.bytes, Slice(data, at, s.begin));
            n.cuts.push_back(s);
            at = s.end;
        }
    }
    Append(n.bytes, Slice(data, at, data.size));
    return n;
}

Normalised Normalise(pclxl::Bytes data, size_t base, const Reference &ref, const std::vector<pclxl::Command> &cmds)
{
    return Normalise(data, base, ref, CommandList{cmds.data(), cmds.size()});
}

Normalised Normalise(pclxl::Bytes data, size_t base, const Reference &ref)
{
    return Normalise(data, base, ref, ReadCommands(data, pclxl::Context::Session, false).structure.commands);
}

// The commands whose attributes Normalise reads (besides a page's first).
bool NormaliseReadsAttributes(uint8_t o)
{
    switch (o)
    {
    case op::BeginPage:
    case op::EndPage:
    case op::SetROP:
    case op::Text:
    case op::TextPath:
    case op::ExecStream:
        return true;
    default:
        return false;
    }
}

// A command of a page with offsets in the page's own bytes, into r (whose
// attribute list's room is used again); without its attributes when
// `attributes` is false.
void RebaseInto(pclxl::Command &r, const pclxl::Command &c, size_t pageBegin, bool attributes = true)
{
    if (attributes)
    {
        r = c;
    }
    else
    {
        r.op = c.op;
        r.begin = c.begin;
        r.op_offset = c.op_offset;
        r.end = c.end;
        r.attributes.clear();
        r.has_data = c.has_data;
        r.data_offset = c.data_offset;
        r.payload_offset = c.payload_offset;
        r.payload_length = c.payload_length;
    }
    r.begin -= pageBegin;
    r.op_offset -= pageBegin;
    r.end -= pageBegin;
    if (r.has_data)
    {
        r.data_offset -= pageBegin;
        r.payload_offset -= pageBegin;
    }
    for (pclxl::Attribute &a : r.attributes)
    {
        a.offset -= pageBegin;
    }
}

// The commands Normalise looks at (the watermark's frame besides those
// whose attributes it reads); it passes over the others.
bool NormaliseLooksAt(uint8_t o)
{
    return NormaliseReadsAttributes(o) || o == op::PushGS || o == op::PopGS || o == op::SetClipToPage;
}

// A page's commands as Normalise reads them, kept as they pass with
// offsets in the page: its first command, those Normalise looks at (with
// only the attributes it reads), and each run of other commands as one
// with no operator, so that commands next to each other stay so. The slots
// are used again page after page.
class PageCommands
{
  public:
    // With `edges`, the page's command boundaries are kept too.
    explicit PageCommands(bool edges = false) : edges_(edges)
    {
    }
    bool Edges() const
    {
        return edges_;
    }
    void Begin(size_t pageBegin)
    {
        count_ = 0;
        begin_ = pageBegin;
        starts_.clear();
    }
    void Add(const pclxl::Command &c)
    {
        if (edges_)
        {
            // Where a command begins, and where one ends (whitespace may follow it).
            if (starts_.empty() || starts_.back() != c.begin - begin_)
            {
                starts_.push_back(c.begin - begin_);
            }
            starts_.push_back(c.end - begin_);
        }
        const bool first = count_ == 0;
        const bool looked = first || NormaliseLooksAt(c.op);
        if (!looked && count_ > 0 && commands_[count_ - 1].op == kOther)
        {
            commands_[count_ - 1].end = c.end - begin_;
            return;
        }
        if (count_ == commands_.size())
        {
            commands_.emplace_back();
        }
        pclxl::Command &r = commands_[count_++];
        RebaseInto(r, c, begin_, first || NormaliseReadsAttributes(c.op));
        if (!looked)
        {
            r.op = kOther;
        }
    }
    CommandList List() const
    {
        return CommandList{commands_.data(), count_};
    }
    void Clear()
    {
        count_ = 0;
        starts_.clear();
    }
    // The boundaries between the page's commands, offsets in the page (ascending; with edges).
    const std::vector<size_t> &Starts() const
    {
        return starts_;
    }

  private:
    static constexpr uint8_t kOther = 0; // no operator has this byte
    bool edges_;
    std::vector<size_t> starts_;
    std::vector<pclxl::Command> commands_;
    size_t count_ = 0;
    size_t begin_ = 0;
};

// Which half of a sheet a body at pos lies in, from the origin before it;
// -1 when the layout fragments are not there.
int HalfOf(const Bytes &sheet, size_t pos, const Reference &ref)
{
    size_t p = pos;
    for (const Bytes *setup : {&ref.clipMode, &ref.scale})
    {
        if (!EndsWith(sheet, p, *setup))
        {
            return -1;
        }
        p -= setup->size();
    }
    for (const Bytes &r : ref.rotations)
    {
        if (EndsWith(sheet, p, r))
        {
            p -= r.size();
            break;
        }
    }
    for (size_t k = 0; k < ref.origins.size(); k++)
    {
        if (EndsWith(sheet, p, ref.origins[k]))
        {
            return static_cast<int>(k % 2);
        }
    }
    return -1;
}

// Where input pages' bodies may begin in a sheet: each body is known by a
// hash of its first kAnchor bytes, and one pass over the sheet finds every
// place where any of them may begin. Searching every body
// in every sheet instead grows with pages times bytes.
class BodyIndex
{
  public:
    static constexpr size_t kAnchor = kBodyHead;

    explicit BodyIndex(const std::vector<BodyKey> &bodies)
    {
        for (size_t k = 0; k < bodies.size(); k++)
        {
            if (bodies[k].size > 0)
            {
                order_.push_back(static_cast<int>(k + 1));
            }
        }
        // Longest first, so that a short body is not found inside a longer one.
        std::stable_sort(order_.begin(), order_.end(),
                         [&bodies](int a, int b) { return bodies[a - 1].size > bodies[b - 1].size; });
        for (size_t k = 0; k < bodies.size(); k++)
        {
            if (bodies[k].size >= kAnchor)
            {
                anchors_[Hash(bodies[k].head.data())].push_back(static_cast<int>(k + 1));
                const size_t b = Bucket(bodies[k].head.data());
                seen_[b / 64] |= uint64_t{1} << (b % 64);
            }
        }
    }

    // Per input page, the places in the sheet (ascending) where its body may
    // begin: among `starts` (ascending) when given, else at every byte.
    std::unordered_map<int, std::vector<size_t>> Candidates(const Bytes &sheet,
                                                            const std::vector<size_t> *starts = nullptr) const
    {
        std::unordered_map<int, std::vector<size_t>> out;
        if (anchors_.empty() || sheet.size() < kAnchor)
        {
            return out;
        }
        auto at = [&](size_t pos) {
            // The bitmap of the bodies' first eight bytes rules out nearly
            // all places before a hash is made.
            const size_t b = Bucket(sheet.data() + pos);
            if ((seen_[b / 64] & (uint64_t{1} << (b % 64))) == 0)
            {
                return;
            }
            auto found = anchors_.find(Hash(sheet.data() + pos));
            if (found != anchors_.end())
            {
                for (int page : found->second)
                {
                    out[page].push_back(pos);
                }
            }
        };
        if (starts != nullptr)
        {
            for (size_t pos : *starts)
            {
                if (pos + kAnchor <= sheet.size())
                {
                    at(pos);
                }
            }
            return out;
        }
        for (size_t pos = 0; pos + kAnchor <= sheet.size(); pos++)
        {
            at(pos);
        }
        return out;
    }

    // The input pages with a body, longest body first (then in page order).
    const std::vector<int> &Order() const
    {
        return order_;
    }

  private:
    static constexpr uint64_t kBase = 0x100000001B3ULL;
    static constexpr size_t kBucketBits = 16;
    // One bit per bucket of anchor hashes: set where some body's anchor falls.
    std::array<uint64_t, (size_t{1} << kBucketBits) / 64> seen_{};

    static size_t Bucket(const uint8_t *p)
    {
        uint64_t w;
        std::memcpy(&w, p, sizeof w);
        return static_cast<size_t>((w * 0x9E3779B97F4A7C15ULL) >> (64 - kBucketBits));
    }

    static uint64_t Hash(const uint8_t *p)
    {
        uint64_t h = 0;
        for (size_t i = 0; i < kAnchor; i++)
        {
            h = h * kBase + p[i];
        }
        return h;
    }

    std::unordered_map<uint64_t, std::vector<int>> anchors_;
    std::vector<int> order_;
};

// The input pages whose bodies (those of the reference ref) a booklet sheet carries, by half.
// starts: where in the sheet a body can begin (ascending), or null for anywhere.
bool FindHalves(const Bytes &sheet, const std::vector<BodyKey> &bodies, const Reference &ref, const BodyIndex &index,
                Entry &entry, const std::vector<size_t> *starts = nullptr)
{
    struct Hit
    {
        size_t pos, len;
        int page;
    };
    std::vector<Hit> hits;
    const std::unordered_map<int, std::vector<size_t>> candidates = index.Candidates(sheet, starts);
    for (int page : index.Order())
    {
        const BodyKey &key = bodies[page - 1];
        auto isFree = [&hits, &key](size_t pos) {
            return std::none_of(hits.begin(), hits.end(),
                                [&](const Hit &h) { return pos < h.pos + h.len && h.pos < pos + key.size; });
        };
        if (key.size >= BodyIndex::kAnchor)
        {
            // The first free place where the whole body is, among those its start hashes to.
            auto places = candidates.find(page);
            if (places == candidates.end())
            {
                continue;
            }
            for (size_t pos : places->second)
            {
                if (pos + key.size <= sheet.size() && isFree(pos) &&
                    DigestPage(sheet.data() + pos, key.size) == key.digest)
                {
                    hits.push_back({pos, key.size, page});
                    break;
                }
            }
            continue;
        }
        const Bytes &body = key.head; // the whole of a short body
        const std::boyer_moore_horspool_searcher<Bytes::const_iterator> searcher(body.begin(), body.end());
        for (auto it = sheet.begin(); it != sheet.end();)
        {
            it = std::search(it, sheet.end(), searcher);
            if (it == sheet.end())
            {
                break;
            }
            size_t pos = static_cast<size_t>(it - sheet.begin());
            if (isFree(pos))
            {
                hits.push_back({pos, body.size(), page});
                break;
            }
            ++it;
        }
    }
    if (hits.empty() || hits.size() > 2)
    {
        return false;
    }
    std::sort(hits.begin(), hits.end(), [](const Hit &a, const Hit &b) { return a.pos < b.pos; });
    int halves[2] = {HalfOf(sheet, hits[0].pos, ref), hits.size() > 1 ? HalfOf(sheet, hits[1].pos, ref) : -1};
    bool known = halves[0] >= 0 && (hits.size() == 1 || (halves[1] >= 0 && halves[1] != halves[0]));
    for (size_t i = 0; i < hits.size(); i++)
    {
        entry.halves[known ? halves[i] : static_cast<int>(i)] = hits[i].page;
    }
    if (!known)
    {
        entry.detail += (entry.detail.empty() ? "" : ", ") + std::string("halves in order of appearance");
    }
    return true;
}

} // namespace

BodyKey KeyOfBody(const uint8_t *body, size_t size)
{
    BodyKey key;
    key.size = size;
    key.digest = DigestPage(body, size);
    key.head.assign(body, body + std::min(size, kBodyHead));
    return key;
}

namespace
{

uint32_t U32(const uint8_t *p)
{
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
           static_cast<uint32_t>(p[3]) << 24;
}

} // namespace

bool Entry::Has(const std::string &kind) const
{
    return Find(kind) != nullptr;
}

const Fragment *Entry::Find(const std::string &kind) const
{
    for (const Fragment &f : fragments)
    {
        if (f.kind == kind)
        {
            return &f;
        }
    }
    return nullptr;
}

std::vector<const Entry *> PageMap::Pages() const
{
    std::vector<const Entry *> pages;
    for (const Entry &e : entries)
    {
        if (e.kind == EntryKind::Page || e.kind == EntryKind::Sheet || e.kind == EntryKind::InstructionPage)
        {
            pages.push_back(&e);
        }
    }
    return pages;
}

std::vector<std::string> PageMap::Sequence() const
{
    std::vector<std::string> seq;
    auto page = [](int k) { return k > 0 ? std::to_string(k) : std::string("-"); };
    for (const Entry *e : Pages())
    {
        if (e->kind == EntryKind::InstructionPage)
        {
            seq.push_back("I");
        }
        else if (e->kind == EntryKind::Sheet)
        {
            seq.push_back(page(e->halves[0]) + "|" + page(e->halves[1]));
        }
        else
        {
            seq.push_back(e->inputPage > 0 ? std::to_string(e->inputPage) : "?");
        }
    }
    return seq;
}

namespace
{

// The printable stream of a job: pieces of its steps (and a few bytes of its
// own) end to end, read from the steps as the reader comes to them, so that
// the stream is never held whole.
class StepStream : public pclxl::ByteSource
{
  public:
    explicit StepStream(const spoolsim::StepSource &steps) : m_steps(&steps)
    {
    }
    // Reads the same steps from another source (a twin for another thread).
    void ReadFrom(const spoolsim::StepSource &steps)
    {
        m_steps = &steps;
    }
    void AddStep(size_t i)
    {
        Add(i, false, m_steps->Size(i));
    }
    void AddBytes(const Bytes &b)
    {
        m_own.push_back(b);
        Add(m_own.size() - 1, true, b.size());
    }
    uint64_t size() const override
    {
        return m_size;
    }
    bool read(uint64_t offset, uint8_t *out, size_t n) override
    {
        if (offset > m_size || m_size - offset < n)
        {
            m_error = "bytes " + std::to_string(offset) + " to " + std::to_string(offset + n) + " of a stream of " +
                      std::to_string(m_size);
            return false;
        }
        auto it = std::upper_bound(m_pieces.begin(), m_pieces.end(), offset,
                                   [](uint64_t at, const Piece &p) { return at < p.at; });
        for (--it; n > 0; ++it)
        {
            const size_t from = static_cast<size_t>(offset - it->at);
            const size_t take = std::min<uint64_t>(n, it->cb - from);
            if (it->own)
            {
                std::memcpy(out, m_own[it->index].data() + from, take);
            }
            else if (!m_steps->ReadPart(it->index, from, out, take))
            {
                m_error = m_steps->Error();
                return false;
            }
            out += take;
            offset += take;
            n -= take;
        }
        return true;
    }
    std::string error() const override
    {
        return m_error;
    }

  private:
    struct Piece
    {
        uint64_t at; // in the stream
        size_t index;
        bool own;
        size_t cb;
    };
    void Add(size_t index, bool own, size_t cb)
    {
        if (cb > 0)
        {
            m_pieces.push_back({m_size, index, own, cb});
            m_size += cb;
        }
    }
    const spoolsim::StepSource *m_steps;
    std::vector<Piece> m_pieces;
    std::vector<Bytes> m_own;
    uint64_t m_size = 0;
    std::string m_error;
};

} // namespace

// The digests of the input pages of a job's stream (printable: its steps
// that reach the printer), with the hook's lead-ins taken away.
std::vector<std::vector<PageDigest>> DigestInputPages(pclxl::ByteSource &printable, const std::vector<Bytes> &leadIns,
                                                      std::string *error)
{
    Reference ref;
    ref.leadIns = leadIns;
    // The command reader: make checked the stream, and matching needs its
    // pages and the few attributes Normalise reads, not a second check.
    pclxl::CommandReader reader(printable);
    std::vector<std::vector<PageDigest>> pages;
    if (reader.open())
    {
        std::vector<uint8_t> decoded;
        for (unsigned o = 0; o < 256; o++)
        {
            if (NormaliseReadsAttributes(static_cast<uint8_t>(o)))
            {
                decoded.push_back(static_cast<uint8_t>(o));
            }
        }
        reader.decodeOnly(decoded);
        PageCommands commands;
        Bytes page; // from its BeginPage's attribute list on
        Bytes normalised;
        bool open = false;
        pclxl::StreamCommand sc;
        pclxl::Command c;
        while (reader.next(sc))
        {
            if (sc.op == op::BeginPage)
            {
                open = true;
                page.clear();
                commands.Begin(static_cast<size_t>(sc.begin));
            }
            if (!open)
            {
                continue;
            }
            const pclxl::Bytes bytes = sc.slice(page.empty() ? sc.begin : sc.gap, sc.end);
            page.insert(page.end(), bytes.data, bytes.data + bytes.size);
            c.op = sc.op;
            c.begin = static_cast<size_t>(sc.begin);
            c.op_offset = static_cast<size_t>(sc.op_offset);
            c.end = static_cast<size_t>(sc.end);
            c.attributes.swap(sc.attributes);
            c.has_data = sc.has_data;
            c.payload_offset = static_cast<size_t>(sc.payload_offset);
            c.data_offset = c.payload_offset;
            c.payload_length = static_cast<size_t>(sc.payload_length);
            commands.Add(c);
            c.attributes.swap(sc.attributes);
            if (sc.op == op::EndPage)
            {
                normalised = Normalise(pclxl::Bytes(page), 0, ref, commands.List(), std::move(normalised)).bytes;
                pages.push_back({DigestPage(normalised.data(), normalised.size())});
                commands.Clear();
                open = false;
            }
        }
    }
    if (!printable.error().empty())
    {
        *error = "the job's steps cannot be read: " + printable.error();
        return {};
    }
    if (reader.error())
    {
        *error = "the job's stream is not sound PCL XL: " + reader.error()->message();
        return {};
    }
    return pages;
}

Reference ReferenceFromJob(const spoolsim::StepSource &job, std::string *error, bool pagesLater)
{
    Reference ref;
    size_t first = 0;
    while (first < job.Count() && job.Kind(first) != spoolsim::StepKind::Write)
    {
        first++;
    }
    DRVDEVMODE dm;
    if (first == job.Count() || job.Size(first) != DRVDEVMODE_SIZE ||
        !job.ReadPart(first, 0, reinterpret_cast<BYTE *>(&dm), sizeof(dm)))
    {
        *error = "the job does not begin with a settings block";
        return ref;
    }
    if (dm.sOverlayMode == 2)
    {
        return ref; // an overlay-creation job prints nothing
    }
    ref.pagesOnce = dm.sCollate != 1 && dm.sOhpInterleave == 0;
    const bool defer = dm.sDeferText != 0 && dm.sTextMode != 2;
    // A booklet's pages are found by their bodies; the stream as a whole is
    // not needed. Only a booklet's bodies are kept: they are the document's
    // size again.
    const bool whole = dm.sBooklet == 0;
    // With pagesLater a booklet's bodies are read by ref.later, not here.
    const bool keepBodies = !whole && !pagesLater;

    // The steps are classified by their heads (StepHead: every marker and
    // record is shorter); page data are read only when the stream is.
    StepStream printable(job);
    std::vector<size_t> text; // the steps of the deferred text, re-sent at the page's end
    Bytes header;             // its last 8 bytes: the lead-ins
    size_t cbHeader = 0;
    bool capturing = false, captured = false, pageSeen = false;
    // A booklet's pages are known by their bodies: one is read at a time.
    std::vector<BodyKey> bodies;
    size_t cBodies = 0;
    bool inBody = false; // between a body's marker and the next
    Bytes current;
    Bytes *body = nullptr;
    auto endBody = [&bodies, &current, &body]() {
        if (body != nullptr)
        {
            bodies.push_back(KeyOfBody(current.data(), current.size()));
            current.clear();
            body = nullptr;
        }
    };
    Bytes record, head, data;
    for (size_t i = first + 1; i < job.Count(); i++)
    {
        const spoolsim::StepKind kind = job.Kind(i);
        if (kind == spoolsim::StepKind::StartPage)
        {
            pageSeen = true;
            continue;
        }
        if (kind == spoolsim::StepKind::EndPage)
        {
            if (captured)
            {
                if (whole)
                {
                    for (size_t t : text)
                    {
                        printable.AddStep(t);
                    }
                }
                captured = false;
            }
            continue;
        }
        // Page data are told from the driver's markers and records by their
        // first bytes and size, without a read; only those that may be one
        // are read (every marker and record begins with ESC or has a size
        // of its own).
        BYTE lead[spoolsim::StepSource::kLead];
        const size_t cbLead = job.Lead(i, lead);
        const size_t cbStep = job.Size(i);
        const bool mayBeMarker = (cbLead > 0 && lead[0] == 0x1B) || cbStep == DRVDEVMODE_SIZE ||
                                 cbStep == std::strlen(spoolsim::markers::kOverlay) ||
                                 cbStep == std::strlen(spoolsim::markers::kWatermark);
        // A body's steps are read whole, once: their heads are taken from
        // them (reading the head first and the step again would read the
        // document twice).
        const Bytes *read = nullptr;
        if (body != nullptr)
        {
            read = job.Data(i, data);
            if (read == nullptr)
            {
                *error = "the job's steps cannot be read: " + job.Error();
                return ref;
            }
            head.assign(read->begin(), read->begin() + static_cast<long>(std::min(read->size(), kStepHead)));
        }
        else if (!mayBeMarker)
        {
            head.clear(); // page data: nothing below matches
        }
        else if (StepHead(job, i, head).size() != std::min(cbStep, kStepHead))
        {
            *error = "the job's steps cannot be read: " + job.Error();
            return ref;
        }
        const Bytes &d = head;
        auto is = [&d](const char *marker) {
            return d.size() == std::strlen(marker) && std::memcmp(d.data(), marker, d.size()) == 0;
        };
        if (d.size() == DRVDEVMODE_SIZE && dm.sWatermarkOn != 0 &&
            std::memcmp(d.data(), dm.dmPublic.dmDeviceName, sizeof(dm.dmPublic.dmDeviceName)) == 0)
        {
            continue; // a repeated settings block
        }
        if (d.size() >= 4 && d[0] == 0x1B && d[1] == 0xF0 && d[2] == 0x10)
        {
            if (d[3] == 0xAA)
            {
                cBodies++;
                inBody = true;
                if (keepBodies)
                {
                    endBody();
                    body = &current;
                }
            }
            else if (d[3] == 0xFF)
            {
                endBody();
                inBody = false;
                size_t at = 4 + (dm.sCollate == 1 ? 2 : 0);
                if (dm.sCollate == 1 && dm.sCopyCommand == 1 && at < d.size() && at + 1 + d[at] <= d.size())
                {
                    ref.copyCommand.assign(d.begin() + static_cast<long>(at + 1),
                                           d.begin() + static_cast<long>(at + 1 + d[at]));
                }
            }
            else if (d[3] == 0x00)
            {
                record = d;
            }
            continue;
        }
        if (is(spoolsim::markers::kOverlay))
        {
            if (dm.sOverlayMode == 1)
            {
                // Stands for the embedding, so that the stream reads as PCL XL.
                pclxl::Writer w;
                w.readStream(pclxl::Bytes());
                if (whole)
                {
                    printable.AddBytes(w.bytes());
                }
            }
            continue;
        }
        if (is(spoolsim::markers::kWatermark))
        {
            continue;
        }
        if (defer && d.size() >= 4 && d[0] == 0x1B && d[1] == 0xFB && d[2] == 0x0B && (d[3] == 0xFA || d[3] == 0xFB))
        {
            capturing = d[3] == 0xFA;
            captured = !capturing;
            if (capturing)
            {
                text.clear();
            }
            continue;
        }
        if (capturing)
        {
            text.push_back(i);
            continue;
        }
        if (whole)
        {
            printable.AddStep(i);
        }
        if (inBody)
        {
            ref.bodyBytes += cbStep;
        }
        if (body != nullptr)
        {
            const Bytes *all = read != nullptr ? read : job.Data(i, data);
            if (all == nullptr)
            {
                *error = "the job's steps cannot be read: " + job.Error();
                return ref;
            }
            Append(*body, *all);
        }
        else if (!pageSeen && cBodies == 0)
        {
            // Only the header's end is wanted (the lead-ins).
            const size_t cb = job.Size(i);
            const size_t tail = std::min<size_t>(cb, 8);
            const size_t keep = std::min<size_t>(header.size(), 8 - tail);
            header.erase(header.begin(), header.end() - static_cast<long>(keep));
            header.resize(keep + tail);
            if (!job.ReadPart(i, cb - tail, header.data() + keep, tail))
            {
                *error = "the job's steps cannot be read: " + job.Error();
                return ref;
            }
            cbHeader += cb;
        }
    }

    // The booklet layout record: items of index, size and data; the twelfth
    // is two bytes; the overlay items follow when printing with an overlay.
    std::vector<Bytes> items;
    for (size_t at = 4, k = 1; at < record.size() && k <= 14; k++)
    {
        if (k == 12)
        {
            at += 2;
            items.emplace_back();
            continue;
        }
        if (at + 2 > record.size() || at + 2 + record[at + 1] > record.size())
        {
            break;
        }
        items.emplace_back(record.begin() + static_cast<long>(at + 2),
                           record.begin() + static_cast<long>(at + 2 + record[at + 1]));
        at += 2 + record[at + 1];
    }
    if (items.size() >= 10)
    {
        ref.origins.assign(items.begin() + 2, items.begin() + 6);
        ref.rotations.assign(items.begin() + 6, items.begin() + 8);
        ref.scale = items[8];
        ref.clipMode = items[9];
    }

    const bool whitespace =
        cbHeader >= 8 && std::all_of(header.end() - 8, header.end(), [](uint8_t b) { return pclxl::isWhitespace(b); });
    if (cbHeader >= 8 && !whitespace)
    {
        ref.leadIns = {Bytes(header.end() - 8, header.end() - 4), Bytes(header.end() - 4, header.end())};
    }
    else if (!items.empty() && items[0].size() >= 8 && dm.sHardwareBooklet != 2)
    {
        ref.leadIns = {Bytes(items[0].begin(), items[0].begin() + 4),
                       Bytes(items[0].begin() + 4, items[0].begin() + 8)};
    }
    else
    {
        ref.leadIns = {driver::LeadIn1(), driver::LeadIn2()};
    }

    const Paper *paper = PaperForDmPaper(dm.dmPublic.dmPaperSize);
    const double units = dm.dmPublic.dmYResolution > 0 ? dm.dmPublic.dmYResolution : 600;
    for (bool landscape : {false, true})
    {
        Bytes page = driver::InstructionPage(landscape, units, paper ? paper->mediaSize : pclxl::val::eA4Paper);
        ref.instructionPages.push_back(Normalise(pclxl::Bytes(page), 0, ref).bytes);
    }

    if (dm.sBooklet != 0)
    {
        endBody();
        ref.booklet = true;
        if (!pagesLater)
        {
            ref.bodies = std::move(bodies);
            return ref;
        }
        // The bodies are the document again: read beside, through reads of their own.
        std::shared_ptr<const spoolsim::StepSource> twin = job.Twin();
        const spoolsim::StepSource *steps = twin ? twin.get() : &job;
        ref.later = std::make_shared<LaterPages>([twin, steps](std::string *why) {
            InputPages in;
            in.bodies = ReferenceFromJob(*steps, why).bodies;
            return in;
        });
        return ref;
    }
    // One page at a time: the stream is as large as the document. The
    // digests need only the lead-ins of the reference.
    if (!pagesLater)
    {
        ref.pages = DigestInputPages(printable, ref.leadIns, error);
        return ref;
    }
    // Another thread reads the steps meanwhile: this reading gets reads of its own.
    std::shared_ptr<const spoolsim::StepSource> twin = job.Twin();
    auto stream = std::make_shared<StepStream>(std::move(printable));
    if (twin)
    {
        stream->ReadFrom(*twin);
    }
    ref.later = std::make_shared<LaterPages>([stream, twin, leadIns = ref.leadIns](std::string *why) {
        InputPages in;
        in.pages = DigestInputPages(*stream, leadIns, why);
        return in;
    });
    return ref;
}

Reference ReferenceFromInput(const Bytes &pxl, std::string *error)
{
    Reference ref;
    std::vector<std::string> notes;
    std::string unmovable;
    PrepareResult prepared = Prepare(Reorderable(pxl, notes, unmovable), 0);
    if (!prepared.doc)
    {
        *error = prepared.error;
        return ref;
    }
    const PreparedDocument &doc = *prepared.doc;
    ref.leadIns = {driver::LeadIn1(), driver::LeadIn2()};
    for (const PreparedPage &p : doc.pages)
    {
        Bytes plain = p.begin;
        Append(plain, p.body);
        Append(plain, p.end);
        const Bytes form = Normalise(pclxl::Bytes(plain), 0, ref).bytes;
        std::vector<PageDigest> forms = {DigestPage(form.data(), form.size())};
        if (p.text)
        {
            Bytes deferred = p.begin;
            Append(deferred, Bytes(p.body.begin(), p.body.begin() + static_cast<long>(p.text->begin)));
            Append(deferred, Bytes(p.body.begin() + static_cast<long>(p.text->end), p.body.end()));
            Append(deferred, Bytes(p.body.begin() + static_cast<long>(p.text->begin),
                                   p.body.begin() + static_cast<long>(p.text->end)));
            Append(deferred, p.end);
            const Bytes held = Normalise(pclxl::Bytes(deferred), 0, ref).bytes;
            forms.push_back(DigestPage(held.data(), held.size()));
        }
        ref.pages.push_back(forms);
        ref.bodies.push_back(KeyOfBody(p.body.data(), p.body.size()));
    }
    for (bool landscape : {false, true})
    {
        Bytes page = driver::InstructionPage(landscape, doc.unitsPerInch, doc.mediaSize);
        ref.instructionPages.push_back(Normalise(pclxl::Bytes(page), 0, ref).bytes);
    }
    JobOptions options;
    DRVDEVMODE dm = MakeSettings(options, doc);
    BookletLayout layout = MakeBookletLayout(doc, dm);
    const std::vector<spoolsim::markers::BookletItem> &items = layout.record.items;
    for (size_t k = 2; k < 6; k++)
    {
        ref.origins.push_back(items[k].data);
    }
    ref.rotations = {items[6].data, items[7].data};
    ref.scale = items[8].data;
    ref.clipMode = items[9].data;
    return ref;
}

namespace
{

// Summarise's words for the commands of a stretch of the document, gathered
// as the commands come.
class Summary
{
  public:
    void Add(uint8_t o, const std::string &streamName)
    {
        const char *n = pclxl::operatorName(o);
        std::string name = n ? n : "?";
        if (o == op::BeginFontHeader)
        {
            fonts_++;
        }
        else if (o == op::ReadChar)
        {
            chars_++; // a BeginChar may download many
        }
        else if (o == op::BeginStream)
        {
            parts_.push_back("stream \"" + streamName + "\"");
        }
        else if (o == op::ReadFontHeader || o == op::EndFontHeader || o == op::BeginChar || o == op::EndChar ||
                 o == op::ReadStream || o == op::EndStream)
        {
        }
        else if (name != last_)
        {
            parts_.push_back(name);
        }
        last_ = name;
    }

    std::string Text() const
    {
        std::vector<std::string> parts = parts_;
        if (fonts_ > 0)
        {
            parts.push_back(std::to_string(fonts_) + (fonts_ == 1 ? " font" : " fonts"));
        }
        if (chars_ > 0)
        {
            parts.push_back(std::to_string(chars_) + (chars_ == 1 ? " character" : " characters"));
        }
        std::string out;
        for (const std::string &p : parts)
        {
            out += (out.empty() ? "" : ", ") + p;
        }
        return out;
    }

  private:
    std::vector<std::string> parts_;
    size_t fonts_ = 0, chars_ = 0;
    std::string last_;
};

std::string StreamNameOf(const pclxl::Command &c)
{
    const pclxl::Attribute *a = c.find(attr::StreamName);
    return a ? a->value.text() : std::string();
}

std::optional<pclxl::Error> DuplicateAttribute(const pclxl::Command &c)
{
    // A command has a handful of attributes; every command is asked.
    for (size_t i = 0; i < c.attributes.size(); i++)
    {
        const pclxl::Attribute &a = c.attributes[i];
        const auto earlier = c.attributes.begin() + static_cast<long>(i);
        if (std::any_of(c.attributes.begin(), earlier, [&a](const pclxl::Attribute &b) { return b.id == a.id; }))
        {
            return pclxl::Error{a.offset, std::string(c.name() ? c.name() : "operator") + " has attribute " +
                                              pclxl::describeAttributeId(a.id) + " twice"};
        }
    }
    return std::nullopt;
}

// The page map built in one pass over the printed document: each page is
// matched when its EndPage arrives, and the stretches between pages are
// summarised as their commands pass.
class MapBuilder : public pclxl::DocumentHandler
{
  public:
    // printer: the printability check, fed every command (and told of pages
    // taken as repeats). source: the document, for a second pass.
    MapBuilder(const Reference &ref, const ExplainHooks &hooks, pclxl::PrintabilityChecker &printer,
               pclxl::ByteSource *source = nullptr)
        : ref_(ref), hooks_(hooks), printer_(&printer), source_(source),
          pageCommands_(ref.booklet || !ref.bodies.empty())
    {
        if (!Deferred())
        {
            Frame(ref.pages);
        }
    }

    // The builder of a second pass that reads on from a later page end
    // (begin) in the state this one is in at a page end: its entries are
    // those after begin, its printability check a copy of this one's.
    struct SecondHalf
    {
    };
    MapBuilder(const MapBuilder &first, size_t begin, SecondHalf)
        : ref_(first.ref_), printer_(nullptr), source_(nullptr), twin_(true),
          ownPrinter_(std::make_unique<pclxl::PrintabilityChecker>(*first.printer_)), bodies_(first.bodies_),
          index_(first.index_), framed_(first.framed_), sizes_(first.sizes_), stream_(first.stream_),
          pageCommands_(first.pageCommands_.Edges()), pages_(1), lastPageEnd_(begin)
    {
        printer_ = ownPrinter_.get();
    }

    // The printability check that saw the document's end.
    pclxl::PrintabilityChecker &Printer()
    {
        return *printer_;
    }

    void onToken(const pclxl::Token &t, const uint8_t *) override
    {
        if (t.kind == pclxl::TokenKind::Pjl)
        {
            pjl_.push_back({t.offset, static_cast<size_t>(std::count(t.text.begin(), t.text.end(), '\n'))});
        }
        else if (t.kind == pclxl::TokenKind::UniversalExit)
        {
            exits_.push_back(t.offset);
        }
        if (t.kind != pclxl::TokenKind::Whitespace && pages_ > 0 && firstAfterPage_ == kNone)
        {
            firstAfterPage_ = t.offset;
        }
    }

    // Every command of the printed document passes here, in order: what
    // checks the commands one at a time plugs in through hooks_.command.
    void onCommand(const pclxl::Command &c, const uint8_t *bytes) override
    {
        // A command's first byte is its first token (commands come without tokens).
        if (pages_ > 0 && firstAfterPage_ == kNone)
        {
            firstAfterPage_ = c.begin;
        }
        printer_->feed(c, bytes);
        if (hooks_.command)
        {
            hooks_.command(c, bytes);
        }
        if (!duplicate_ && c.attributes.size() > 1)
        {
            duplicate_ = DuplicateAttribute(c);
        }
        if (c.op == op::BeginStream)
        {
            stream_ = StreamNameOf(c);
            pageClean_ = false; // a stream defined on a page outlasts it
        }
        else if (c.op == op::ReadStream && pages_ == 0)
        {
            FindEmbedding(c, bytes);
        }
        // Commands of a page that is still open count for the stretch they
        // lie in only if the page never ends (as a page of findPages).
        if (c.op == op::BeginPage)
        {
            FlushOpenPage();
            pageOpen_ = true;
            pageClean_ = true;
            pageCommands_.Begin(c.begin);
        }
        if (pageOpen_)
        {
            pageCommands_.Add(c);
            openOps_.push_back(static_cast<char>(c.op));
            if (c.op == op::BeginStream)
            {
                openStreams_.push_back(stream_);
            }
            if (c.op == op::EndPage)
            {
                openOps_.clear();
                openStreams_.clear();
                pageOpen_ = false; // onPage comes next and takes pageCommands_
            }
            return;
        }
        stretch_.Add(c.op, stream_);
    }

    void onStream(const pclxl::StreamDefinition &s) override
    {
        for (const pclxl::Command &c : s.body_commands)
        {
            if (!streamDuplicate_)
            {
                streamDuplicate_ = DuplicateAttribute(c);
            }
        }
    }

    // A page's entry depends on its bytes and the reference alone; the
    // printability check says (acrossPages) when a page could come out
    // differently. Commands a caller watches (hooks.command) must all come.
    bool takesRepeatedPages() const override
    {
        // A booklet's sheets each carry other pages, and a job that prints
        // each page once has none again: remembering them would digest every
        // page for nothing.
        return !hooks_.command && !ref_.booklet && !ref_.pagesOnce;
    }

    uint64_t repeatState() const override
    {
        return duplicate_ || pageOpen_ ? 0 : printer_->acrossPages();
    }

    bool rememberPage(const pclxl::Page &) override
    {
        return pageClean_ && !duplicate_;
    }

    // The pages of a booklet, or of a job that prints each page once, are
    // read by two passes side by side: each page's entry depends on its
    // bytes and the reference alone, and no page is taken as a repeat.
    // Commands a caller watches must come in order.
    bool wantsPageEnds() const override
    {
        return !twin_ && source_ != nullptr && hooks_.secondPassFrom > 0 && (ref_.booklet || ref_.pagesOnce) &&
               !hooks_.command;
    }

    void onPageEnd(pclxl::PageEnd &end) override
    {
        if (!second_)
        {
            MayBeginSecondPass(end);
            return;
        }
        if (end.offset() < second_->pass->Offset())
        {
            return;
        }
        std::unique_ptr<Second> second = std::move(second_);
        const uint64_t begin = second->pass->Offset();
        // The second pass read on as this one would only if a page ends
        // where it began, with what lasts from page to page as it was.
        if (end.offset() != begin || end.state() != second->state || repeatState() != second->handlerState)
        {
            Told(begin, false);
            return; // abandoned as second goes
        }
        const size_t pagesHere = pages_;
        std::optional<pclxl::DocumentSummary> rest = second->pass->Wait([&](uint64_t bytes, size_t pages) {
            if (hooks_.progress)
            {
                hooks_.progress(bytes, pagesHere + pages);
            }
        });
        MapBuilder &twin = *second->builder;
        // A fault is worded with what only this pass knows (page numbers):
        // this pass reads on and finds it itself.
        if (!rest || rest->error || twin.duplicate_ || twin.streamDuplicate_ || !twin.printer_->ok())
        {
            Told(begin, false);
            return;
        }
        Adopt(twin);
        adopted_ = std::move(rest);
        end.stop();
        Told(begin, true);
    }

    void Told(uint64_t begin, bool taken) const
    {
        if (hooks_.secondPass)
        {
            hooks_.secondPass(begin, taken);
        }
    }

    void onRepeatedPage(const pclxl::Page &page, size_t earlier, const uint8_t *) override
    {
        FaultPoint("explain page");
        printer_->repeatPage();
        if (firstAfterPage_ == kNone)
        {
            firstAfterPage_ = page.range.begin; // its BeginPage
        }
        StartPage(page);
        Entry e = entries_[pageEntries_[earlier - 1]];
        if (Deferred())
        {
            const Unmatched same = unmatched_[earlier - 1];
            unmatched_.push_back(same);
        }
        const size_t delta = page.range.begin - e.offset;
        e.offset = page.range.begin;
        for (Fragment &f : e.fragments)
        {
            f.offset += delta;
        }
        pageEntries_.push_back(entries_.size());
        entries_.push_back(std::move(e));
    }

    void onPage(const pclxl::Page &page, const uint8_t *bytes) override
    {
        if (!twin_)
        {
            FaultPoint("explain page");
        }
        StartPage(page);

        Entry e;
        e.offset = page.range.begin;
        e.size = page.range.size();
        Normalised n = Normalise(pclxl::Bytes(bytes, page.range.size()), page.range.begin, ref_, pageCommands_.List(),
                                 std::move(normalRoom_));
        // A body in a sheet is whole commands: it begins where one does, or
        // where one ends.
        starts_.clear();
        for (size_t at : pageCommands_.Starts())
        {
            size_t placed = 0;
            if (n.Place(at, placed) && (starts_.empty() || starts_.back() != placed))
            {
                starts_.push_back(placed);
            }
        }
        pageCommands_.Clear();
        e.fragments = n.fragments;
        e.detail = n.detail;
        if (Deferred())
        {
            // The input pages are still being digested: matched at the end.
            unmatched_.push_back({DigestPage(n.bytes.data(), n.bytes.size()), IsInstructionPage(n.bytes)});
        }
        else if (const int input = Match(n.bytes); input > 0)
        {
            e.kind = EntryKind::Page;
            e.inputPage = input;
        }
        else if (IsInstructionPage(n.bytes))
        {
            e.kind = EntryKind::InstructionPage;
        }
        else if ((ref_.booklet || !ref_.bodies.empty()) && FindSheet(n.bytes, e))
        {
            e.kind = EntryKind::Sheet;
        }
        else
        {
            e.kind = EntryKind::Page;
        }
        pageEntries_.push_back(entries_.size());
        entries_.push_back(std::move(e));
        normalRoom_ = std::move(n.bytes);
    }

    bool IsInstructionPage(const Bytes &page) const
    {
        return std::find(ref_.instructionPages.begin(), ref_.instructionPages.end(), page) !=
               ref_.instructionPages.end();
    }

    // Whether the input pages' digests come later: pages are then matched when the map ends.
    bool Deferred() const
    {
        return ref_.later && !ref_.booklet;
    }

    // The halves of a booklet sheet; its bodies are waited for when they are made beside.
    bool FindSheet(const Bytes &sheet, Entry &e)
    {
        if (!index_)
        {
            // A reference that failed has no bodies: no sheet is found, as when it is made first.
            std::string ignored;
            bodies_ = ref_.later && ref_.booklet ? &ref_.later->Bodies(&ignored) : &ref_.bodies;
            index_ = std::make_shared<const BodyIndex>(*bodies_);
        }
        return FindHalves(sheet, *bodies_, ref_, *index_, e, &starts_);
    }

    // The stretch since the last page, and the count, for a page that begins.
    void StartPage(const pclxl::Page &page)
    {
        if (pages_ == 0)
        {
            headerEnd_ = page.range.begin;
            headerDetail_ = stretch_.Text();
        }
        else if (firstAfterPage_ < page.range.begin)
        {
            Entry between;
            between.kind = EntryKind::Between;
            between.offset = lastPageEnd_;
            between.size = page.range.begin - between.offset;
            between.detail = stretch_.Text();
            entries_.push_back(between);
        }
        stretch_ = Summary();
        pages_++;
        lastPageEnd_ = page.range.end;
        firstAfterPage_ = kNone;
    }

    void onBytes(uint64_t offset, const uint8_t *bytes, size_t size) override
    {
        if (hooks_.progress)
        {
            hooks_.progress(offset + size, pages_);
        }
        const Bytes &want = ref_.copyCommand;
        if (want.empty() || copyAt_ != kNone || (pages_ > 0 && offset >= headerEnd_))
        {
            return;
        }
        // The first place of the copy command, across the pieces the bytes come in.
        Bytes seen = carry_;
        seen.insert(seen.end(), bytes, bytes + size);
        auto it = std::search(seen.begin(), seen.end(), want.begin(), want.end());
        const size_t seenBegin = static_cast<size_t>(offset) - carry_.size();
        if (it != seen.end())
        {
            copyAt_ = seenBegin + static_cast<size_t>(it - seen.begin());
            return;
        }
        const size_t keep = std::min(seen.size(), want.size() - 1);
        carry_.assign(seen.end() - static_cast<long>(keep), seen.end());
    }

    PageMap Finish(pclxl::DocumentSummary s)
    {
        if (second_)
        {
            // This pass ended (at a fault, or at the end) before the place
            // the second began.
            Told(second_->pass->Offset(), false);
            second_.reset();
        }
        if (adopted_)
        {
            // The second pass read from where this one stopped to the end.
            s.pages += adopted_->pages;
            s.job_trailer = adopted_->job_trailer;
            s.size = adopted_->size;
            s.error = adopted_->error;
            s.stopped = false;
        }
        FlushOpenPage();
        if (Deferred())
        {
            // A reference that failed has no pages: nothing matches, as when it is made first.
            std::string ignored;
            Frame(ref_.later->Pages(&ignored));
            for (size_t k = 0; k < unmatched_.size(); k++)
            {
                Entry &e = entries_[pageEntries_[k]];
                e.inputPage = MatchDigest(unmatched_[k].digest);
                e.kind = e.inputPage == 0 && unmatched_[k].instruction ? EntryKind::InstructionPage : EntryKind::Page;
            }
        }
        PageMap map;
        map.size = s.size;
        std::optional<pclxl::Error> fault = s.error;
        if (!fault)
        {
            fault = duplicate_ ? duplicate_ : streamDuplicate_;
        }
        map.wellFormed = !fault.has_value();
        map.error = fault ? fault->message() : std::string();

        Entry header;
        header.kind = EntryKind::Header;
        header.size = pages_ == 0 ? s.size : headerEnd_;
        size_t pjlLines = 0;
        for (const auto &[offset, lines] : pjl_)
        {
            pjlLines += offset < header.size ? lines : 0;
        }
        header.detail = (pjlLines > 0 ? "PJL (" + std::to_string(pjlLines) + " lines)" : std::string("no PJL"));
        const std::string ops = pages_ == 0 ? stretch_.Text() : headerDetail_;
        if (!ops.empty())
        {
            header.detail += ", " + ops;
        }
        if (copyAt_ != kNone && copyAt_ + ref_.copyCommand.size() <= header.size)
        {
            std::string text(ref_.copyCommand.begin(), ref_.copyCommand.end());
            while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
            {
                text.pop_back();
            }
            header.fragments.push_back(
                {"copy command", copyAt_, ref_.copyCommand.size(), spoolsim::Printable(spoolsim::ToBytes(text))});
        }
        for (const Fragment &f : embeddings_)
        {
            if (f.offset < header.size)
            {
                header.fragments.push_back(f);
            }
        }
        map.entries.push_back(std::move(header));
        for (Entry &e : entries_)
        {
            map.entries.push_back(std::move(e));
        }
        if (pages_ > 0)
        {
            Entry trailer;
            trailer.kind = EntryKind::Trailer;
            trailer.offset = lastPageEnd_;
            trailer.size = s.size - trailer.offset;
            trailer.detail = stretch_.Text();
            for (size_t at : exits_)
            {
                if (at >= trailer.offset)
                {
                    trailer.detail += (trailer.detail.empty() ? "" : ", ") + std::string("universal exit");
                }
            }
            map.entries.push_back(std::move(trailer));
        }
        return map;
    }

  private:
    static constexpr size_t kNone = static_cast<size_t>(-1);

    // A second pass and the state it began in.
    struct Second
    {
        uint64_t state = 0;
        uint64_t handlerState = 0;
        std::unique_ptr<MapBuilder> builder;
        std::unique_ptr<SecondPass> pass; // after builder: it is gone before the builder goes
    };

    // Whether the document still being written is most likely whole at
    // `size`: it ends as a job does (the universal exit), or, for a
    // booklet, it ends with a page and holds as many bytes as the page
    // bodies its sheets carry (each body is printed once; the sheets and
    // the job header add little). Its writer may take a while before it
    // says it is done (here the hook removes its spool file first); were it
    // not whole, a second pass begun now would only have more to read than
    // this one.
    bool LikelyWhole(uint64_t size)
    {
        if (size == probedAt_)
        {
            return probedWhole_;
        }
        probedAt_ = size;
        probedWhole_ = false;
        if (size < pclxl::kUniversalExitLength)
        {
            return false;
        }
        if (!probe_)
        {
            probe_ = source_->twin();
        }
        uint8_t last[pclxl::kUniversalExitLength];
        if (!probe_ || !probe_->read(size - sizeof(last), last, sizeof(last)))
        {
            return false;
        }
        const bool sheetsDone = ref_.booklet && ref_.bodyBytes > 0 && size >= ref_.bodyBytes;
        probedWhole_ = std::memcmp(last, pclxl::kUniversalExit, sizeof(last)) == 0 ||
                       (sheetsDone && last[sizeof(last) - 1] == op::EndPage);
        return probedWhole_;
    }

    // Once the document's size is known, or most likely known while it is
    // still being written, and enough of it is left, the second half goes to
    // a second pass from a page start found there. A second pass reads on as
    // the document grows, should more come after all.
    void MayBeginSecondPass(pclxl::PageEnd &end)
    {
        if (secondTried_ || !wantsPageEnds())
        {
            return;
        }
        bool ended = !source_->growing();
        const uint64_t size = ended ? source_->size() : source_->await(0, &ended);
        const uint64_t state = end.state();
        const uint64_t handlerState = repeatState();
        if ((!ended && !LikelyWhole(size)) || state == 0 || handlerState == 0)
        {
            return; // looked at again at the next page end
        }
        secondTried_ = true;
        probe_.reset();
        const uint64_t here = end.offset();
        if (size < here || size - here < 2 * hooks_.secondPassFrom)
        {
            return;
        }
        std::unique_ptr<pclxl::ByteSource> twinSource = source_->twin();
        if (!twinSource)
        {
            return;
        }
        // The first page start from half a page before the middle: on
        // average the halves are then alike, also when a page is a good
        // part of what is left.
        const uint64_t middle = here + (size - here) / 2;
        const uint64_t halfPage = std::min<uint64_t>(here / (2 * std::max<size_t>(pages_, 1)), (middle - here) / 4);
        const std::optional<uint64_t> begin = pclxl::guessPageStart(*twinSource, middle - halfPage, size, end.endian());
        if (!begin)
        {
            return;
        }
        auto second = std::make_unique<Second>();
        second->state = state;
        second->handlerState = handlerState;
        second->builder = std::make_unique<MapBuilder>(*this, static_cast<size_t>(*begin), SecondHalf());
        try
        {
            second->pass = std::make_unique<SecondPass>(std::move(twinSource), end.point(), *begin, *second->builder);
        }
        catch (const std::system_error &)
        {
            return; // no thread to be had: this pass reads it all
        }
        second_ = std::move(second);
    }

    // Takes what a second pass found from this pass's page end on.
    void Adopt(MapBuilder &twin)
    {
        const size_t base = entries_.size();
        for (size_t k : twin.pageEntries_)
        {
            pageEntries_.push_back(base + k);
        }
        std::move(twin.entries_.begin(), twin.entries_.end(), std::back_inserter(entries_));
        unmatched_.insert(unmatched_.end(), twin.unmatched_.begin(), twin.unmatched_.end());
        pjl_.insert(pjl_.end(), twin.pjl_.begin(), twin.pjl_.end());
        exits_.insert(exits_.end(), twin.exits_.begin(), twin.exits_.end());
        embeddings_.insert(embeddings_.end(), twin.embeddings_.begin(), twin.embeddings_.end());
        stream_ = twin.stream_;
        stretch_ = twin.stretch_;
        pages_ += twin.pages_ - 1; // it began counting at 1
        lastPageEnd_ = twin.lastPageEnd_;
        firstAfterPage_ = twin.firstAfterPage_;
        pageOpen_ = twin.pageOpen_;
        pageClean_ = twin.pageClean_;
        openOps_ = twin.openOps_;
        openStreams_ = twin.openStreams_;
        ownPrinter_ = std::move(twin.ownPrinter_);
        printer_ = ownPrinter_.get();
    }

    void Frame(const std::vector<std::vector<PageDigest>> &pages)
    {
        for (size_t k = 0; k < pages.size(); k++)
        {
            for (const PageDigest &form : pages[k])
            {
                framed_[form.first].push_back({static_cast<int>(k + 1), form});
                sizes_.insert(form.size);
            }
        }
    }

    // The first input page (of those that print this way) with these bytes.
    int Match(const Bytes &page) const
    {
        // A page of no input page's size (a booklet sheet) needs no digest.
        if (sizes_.count(page.size()) == 0)
        {
            return 0;
        }
        return MatchDigest(DigestPage(page.data(), page.size()));
    }

    int MatchDigest(const PageDigest &digest) const
    {
        auto found = framed_.find(digest.first);
        if (found == framed_.end())
        {
            return 0;
        }
        int best = 0;
        for (const auto &[k, form] : found->second)
        {
            if (form == digest && (best == 0 || k < best))
            {
                best = k;
            }
        }
        return best;
    }

    // A BeginPage that another BeginPage (or the end) leaves unended: its
    // commands belong to the stretch after the last page.
    void FlushOpenPage()
    {
        size_t s = 0;
        for (char o : openOps_)
        {
            const uint8_t code = static_cast<uint8_t>(o);
            stretch_.Add(code, code == op::BeginStream && s < openStreams_.size() ? openStreams_[s++] : std::string());
        }
        openOps_.clear();
        openStreams_.clear();
        pageCommands_.Clear();
        pageOpen_ = false;
    }

    // The hook's overlay embedding: uint32 N, StreamDataLength, ReadStream and
    // N bytes of data whose stream header is the hook's.
    void FindEmbedding(const pclxl::Command &c, const uint8_t *p)
    {
        static const char kHeader[] = ") HP-PCL XL;2;0;Comment ";
        if (c.end - c.begin < 15 + 60 + 1)
        {
            return;
        }
        const uint32_t n = U32(p + 1);
        if (p[0] == pclxl::dt::UInt32 && p[5] == 0xF8 && p[6] == attr::StreamDataLength && p[7] == op::ReadStream &&
            p[8] == pclxl::tag::DataLength && U32(p + 9) == n && std::memcmp(p + 13, kHeader, sizeof(kHeader) - 1) == 0)
        {
            embeddings_.push_back({"overlay embedding", c.begin, c.end - c.begin,
                                   "stream \"" + stream_ + "\", " + std::to_string(n - 63) + " bytes of overlay data"});
        }
    }

    const Reference &ref_;
    const ExplainHooks hooks_; // none for a second pass's builder
    pclxl::PrintabilityChecker *printer_;
    pclxl::ByteSource *source_;
    const bool twin_ = false; // the builder of a second pass
    std::unique_ptr<pclxl::PrintabilityChecker> ownPrinter_;
    // A booklet's bodies and their index, taken when the first page ends
    // (and shared with a second pass).
    const std::vector<BodyKey> *bodies_ = nullptr;
    std::shared_ptr<const BodyIndex> index_;
    Bytes normalRoom_; // the room of the last page's normalised bytes, used again
    std::unordered_map<uint64_t, std::vector<std::pair<int, PageDigest>>> framed_;
    std::unordered_set<uint64_t> sizes_;         // of the input pages as they print
    std::vector<std::pair<size_t, size_t>> pjl_; // offset, lines
    std::vector<size_t> exits_;
    std::vector<Entry> entries_;
    std::vector<size_t> pageEntries_; // entries_ index of each page
    // With the input pages digested later: each page's digest, and whether
    // it is the instruction page, for matching at the end.
    struct Unmatched
    {
        PageDigest digest;
        bool instruction = false;
    };
    std::vector<Unmatched> unmatched_;
    std::vector<Fragment> embeddings_;
    std::optional<pclxl::Error> duplicate_, streamDuplicate_;
    std::string stream_;
    Summary stretch_; // since the last page (or the start)
    std::string headerDetail_;
    bool pageOpen_ = false;
    bool pageClean_ = false;     // the open page leaves nothing behind that the map keeps
    PageCommands pageCommands_;  // of the open page
    std::vector<size_t> starts_; // where a body may begin in the last sheet
    std::string openOps_;
    std::vector<std::string> openStreams_;
    size_t pages_ = 0;
    size_t headerEnd_ = 0;
    size_t lastPageEnd_ = 0;
    size_t firstAfterPage_ = kNone; // the first token after the last page that is not whitespace
    size_t copyAt_ = kNone;
    Bytes carry_;
    bool secondTried_ = false;
    std::unique_ptr<Second> second_;
    // Reads the end of a document still being written (LikelyWhole).
    std::unique_ptr<pclxl::ByteSource> probe_;
    uint64_t probedAt_ = 0; // the size it last read the end of
    bool probedWhole_ = false;
    std::optional<pclxl::DocumentSummary> adopted_; // what the second pass found after this one stopped
};

} // namespace

PageMap Explain(pclxl::ByteSource &output, const Reference &ref, const ExplainHooks &hooks)
{
    // The printer's view of the same pass: each command goes to the
    // printability check as it comes, so nothing more is held.
    pclxl::PrintabilityChecker first;
    MapBuilder builder(ref, hooks, first, &output);
    pclxl::DocumentStream stream(output);
    stream.keepPages(true);
    PageMap map = builder.Finish(stream.run(builder));
    if (map.wellFormed)
    {
        pclxl::PrintabilityChecker &printer = builder.Printer();
        printer.finish();
        map.printable = printer.ok();
        map.refusal = printer.error() ? printer.error()->message() : std::string();
    }
    return map;
}

PageMap ExplainWithProgress(pclxl::ByteSource &output, const Reference &ref, const std::string &what)
{
    Progress progress(what, output.size());
    ExplainHooks hooks;
    hooks.progress = [&progress](uint64_t bytes, size_t pages) { progress.Update(bytes, pages); };
    return Explain(output, ref, hooks);
}

PageMap Explain(const Bytes &output, const Reference &ref)
{
    pclxl::MemorySource source{pclxl::Bytes(output)};
    return Explain(source, ref, ExplainHooks());
}

std::string FormatPageMap(const PageMap &map, const std::string &name)
{
    std::string out = name + ": " + std::to_string(map.size) + " bytes, ";
    out += map.wellFormed ? "well-formed PCL XL" : "NOT well-formed PCL XL (" + map.error + ")";
    if (map.wellFormed && !map.printable)
    {
        out += ", not printable (" + map.refusal + ")";
    }
    std::vector<const Entry *> pages = map.Pages();
    out += ", " + std::to_string(pages.size()) + (pages.size() == 1 ? " page\n" : " pages\n");
    char line[96];
    std::snprintf(line, sizeof line, "  %9s %8s  %s\n", "offset", "bytes", "what");
    out += line;
    size_t printed = 0;
    auto page = [](int k) { return k > 0 ? "input page " + std::to_string(k) : std::string("blank"); };
    for (const Entry &e : map.entries)
    {
        std::string what;
        switch (e.kind)
        {
        case EntryKind::Header:
            what = "job header";
            break;
        case EntryKind::Trailer:
            what = "job trailer";
            break;
        case EntryKind::Between:
            what = "between pages";
            break;
        case EntryKind::InstructionPage:
            what = "page " + std::to_string(++printed) + ": instruction page";
            break;
        case EntryKind::Sheet:
            // As the reader sees the sheet side opened out.
            what = "page " + std::to_string(++printed) + ": sheet, left page " + page(e.halves[0]) + ", right page " +
                   page(e.halves[1]);
            break;
        case EntryKind::Page:
            what = "page " + std::to_string(++printed) + ": " +
                   (e.inputPage > 0 ? page(e.inputPage) : std::string("matches no input page"));
            break;
        }
        if (!e.detail.empty())
        {
            const bool part =
                e.kind == EntryKind::Header || e.kind == EntryKind::Trailer || e.kind == EntryKind::Between;
            what += part ? ": " + e.detail : " (" + e.detail + ")";
        }
        std::snprintf(line, sizeof line, "  %9zu %8zu  ", e.offset, e.size);
        out += line + what + "\n";
        for (const Fragment &f : e.fragments)
        {
            std::snprintf(line, sizeof line, "  %9zu %8zu    ", f.offset, f.size);
            out += line + f.kind + (f.text.empty() ? "" : ": " + f.text) + "\n";
        }
    }
    std::string seq;
    for (const std::string &s : map.Sequence())
    {
        seq += " " + s;
    }
    out += "  printed:" + (seq.empty() ? std::string(" nothing") : seq) + "\n";
    return out;
}

} // namespace jobtool
