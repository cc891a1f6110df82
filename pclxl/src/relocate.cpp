#include "pclxl/relocate.h"

#include "pclxl/commandreader.h"
#include "pclxl/writer.h"

#include <algorithm>
#include <limits>
#include <map>
#include <memory>
#include <set>
#include <unordered_map>

namespace pclxl
{

namespace
{

struct Range
{
    uint64_t begin = 0;
    uint64_t end = 0;
};

const uint32_t kNone = std::numeric_limits<uint32_t>::max();

// One definition of a font name (a BeginFontHeader) and every character
// downloaded to it while the name stood for it.
struct Font
{
    std::string name;
    std::vector<uint8_t> beginHeader;                // BeginFontHeader, attribute list to operator
    size_t beginHeaderOp = 0;                        // where its operator is in beginHeader
    std::vector<Range> headerReads;                  // its ReadFontHeader commands
    std::map<uint32_t, std::vector<Range>> versions; // per code, its ReadChar commands in order
    // The fonts it is sent as: per font, for each code, which of its
    // downloads that font holds.
    std::vector<std::map<uint32_t, uint32_t>> held;
    std::vector<std::string> names;
};

// Which of its fonts each Text draws with. Both passes make the same
// choices from the same state, so the second finds the fonts the first
// filled.
struct Choices
{
    std::vector<std::map<uint32_t, uint32_t>> held;
    uint32_t last = 0;
    std::unordered_map<uint32_t, uint32_t> downloads; // per code, how often it has been downloaded so far
};

// The font for a Text drawing `codes` now: one that holds, for each code,
// the character downloaded last; preferably the one whose number is that of
// the latest download (a cache that reuses its codes keeps each round of
// characters together), else the last one used, else any, else a new one.
// wanted: room for the codes' latest downloads (every Text is chosen for).
uint32_t Choose(Choices &ch, const Numbers &codes, std::vector<std::pair<uint32_t, uint32_t>> &wanted)
{
    wanted.clear();
    uint32_t latest = 0;
    for (double number : codes)
    {
        const uint32_t code = static_cast<uint32_t>(number);
        auto it = ch.downloads.find(code);
        if (it != ch.downloads.end() && it->second > 0)
        {
            wanted.emplace_back(code, it->second - 1);
            latest = std::max(latest, it->second - 1);
        }
    }
    auto fits = [&](uint32_t k) {
        if (k >= ch.held.size())
        {
            return false;
        }
        for (const auto &w : wanted)
        {
            auto f = ch.held[k].find(w.first);
            if (f != ch.held[k].end() && f->second != w.second)
            {
                return false;
            }
        }
        return true;
    };
    uint32_t k = kNone;
    if (!wanted.empty() && fits(latest))
    {
        k = latest;
    }
    else if (fits(ch.last))
    {
        k = ch.last;
    }
    for (uint32_t i = 0; k == kNone && i < ch.held.size(); i++)
    {
        k = fits(i) ? i : kNone;
    }
    if (k == kNone)
    {
        k = static_cast<uint32_t>(ch.held.size());
        ch.held.emplace_back();
    }
    for (const auto &w : wanted)
    {
        ch.held[k].emplace(w.first, w.second);
    }
    ch.last = k;
    return k;
}

std::string FontNameOf(const StreamCommand &c)
{
    const Attribute *a = c.find(attr::FontName);
    return a ? a->value.text() : std::string();
}

std::string Where(const StreamCommand &c)
{
    return "offset " + std::to_string(c.begin) + ": ";
}

// A command with its FontName replaced: `command` runs from the first byte
// of its attribute list to its end, its operator at `op`.
std::vector<uint8_t> WithFontName(Bytes command, size_t op, const std::string &name, Endian endian)
{
    ReadOptions ro;
    ro.expect_header = false;
    ro.endian = endian;
    TokenList tokens = tokenize(command.sub(0, op), ro);
    std::vector<uint8_t> out;
    const Token *value = nullptr;
    for (const Token &t : tokens.tokens)
    {
        if (t.kind == TokenKind::Value)
        {
            value = &t;
        }
        else if (t.kind == TokenKind::Attribute && value != nullptr)
        {
            if (t.attribute == attr::FontName)
            {
                Writer w(endian);
                w.ubyteArray(name).attr(attr::FontName);
                out.insert(out.end(), w.bytes().begin(), w.bytes().end());
            }
            else
            {
                out.insert(out.end(), command.data + value->offset, command.data + t.end());
            }
            value = nullptr;
        }
    }
    out.insert(out.end(), command.data + op, command.data + command.size);
    return out;
}

// "@" with a suffix, kept to the 16 bytes of a printer's font names when
// the name fits them.
std::string Derived(const std::string &name, const std::string &suffix)
{
    if (name.size() > 16 || name.size() + suffix.size() <= 16)
    {
        return name + suffix;
    }
    return name.substr(0, 16 - suffix.size()) + suffix;
}

class Relocator
{
  public:
    Relocator(ByteSource &in, ByteSink &out, bool copyUnchanged) : in_(in), out_(out), copyUnchanged_(copyUnchanged)
    {
    }

    RelocationResult run()
    {
        if (!walk(false))
        {
            return result_;
        }
        result_.downloads = downloads_;
        if (!downloadingStream_.empty())
        {
            refuse("stream " + downloadingStream_ +
                   " downloads or removes fonts itself: pages that run it would depend on each other");
            return result_;
        }
        if (fonts_.empty() || pages_ == 0)
        {
            return copyUnchanged();
        }
        if (!plan())
        {
            return result_;
        }
        if (!walk(true))
        {
            return result_;
        }
        result_.ok = true;
        return result_;
    }

  private:
    struct Selection
    {
        int font = -1;
        size_t setFontIndex = 0;      // which SetFont of the document made it
        std::vector<uint8_t> setFont; // its SetFont, attribute list to end
        size_t setFontOp = 0;
        uint32_t sent = kNone; // which of the font's fonts the page has selected
    };

    bool refuse(const std::string &why)
    {
        result_.ok = false;
        result_.error = why;
        return false;
    }

    bool write(const uint8_t *data, size_t n)
    {
        if (!out_.write(data, n))
        {
            return refuse(out_.error().empty() ? "cannot write the output" : out_.error());
        }
        return true;
    }
    bool write(const std::vector<uint8_t> &b)
    {
        return write(b.data(), b.size());
    }
    bool write(Bytes b)
    {
        return write(b.data, b.size);
    }

    // Input bytes [begin, end) to the output, a bounded piece at a time.
    bool copy(uint64_t begin, uint64_t end)
    {
        std::vector<uint8_t> buffer(static_cast<size_t>(std::min<uint64_t>(end - begin, 1u << 16)));
        for (uint64_t at = begin; at < end;)
        {
            const size_t n = static_cast<size_t>(std::min<uint64_t>(end - at, buffer.size()));
            if (!in_.read(at, buffer.data(), n))
            {
                return refuse(in_.error().empty() ? "cannot read the input" : in_.error());
            }
            if (!write(buffer.data(), n))
            {
                return false;
            }
            at += n;
        }
        return true;
    }

    RelocationResult copyUnchanged()
    {
        result_.unchanged = true;
        if (!copyUnchanged_ || copy(0, in_.size()))
        {
            result_.ok = true;
        }
        return result_;
    }

    // Names for the fonts each definition is sent as: the first definition
    // of a name keeps it for its first font; the others get names no font
    // of the document has.
    bool plan()
    {
        std::set<std::string> seenNames;
        bool renamed = false;
        for (Font &f : fonts_)
        {
            if (f.held.empty())
            {
                f.held.emplace_back();
            }
            // Characters no Text drew go with the first font, so that nothing
            // the document downloads is lost.
            for (const auto &v : f.versions)
            {
                bool anywhere = std::any_of(f.held.begin(), f.held.end(),
                                            [&v](const std::map<uint32_t, uint32_t> &h) { return h.count(v.first); });
                if (!anywhere)
                {
                    f.held[0].emplace(v.first, 0);
                }
            }
            const bool first = seenNames.insert(f.name).second;
            for (size_t k = 0; k < f.held.size(); k++)
            {
                if (k == 0 && first)
                {
                    f.names.push_back(f.name);
                    continue;
                }
                std::string name;
                do
                {
                    name = Derived(f.name, "~" + std::to_string(++serial_[f.name]));
                } while (names_.count(name) != 0);
                names_.insert(name);
                f.names.push_back(name);
                renamed = true;
            }
            result_.fonts += f.held.size();
            for (const auto &h : f.held)
            {
                result_.characters += h.size();
            }
            if (f.held.size() > 1)
            {
                size_t again = 0;
                for (const auto &v : f.versions)
                {
                    again += v.second.size() - 1;
                }
                result_.notes.push_back("font \"" + f.name + "\" is downloaded with other characters under codes it " +
                                        "has used before (" + std::to_string(again) + " times): the job header holds " +
                                        "it as " + std::to_string(f.held.size()) +
                                        " fonts, and each page selects the one its text was drawn with");
            }
        }
        if (renamed && !textStream_.empty())
        {
            return refuse("stream " + textStream_ + " draws text, and the document's fonts must be sent under " +
                          "other names: which of them the stream would draw with depends on where it runs");
        }
        return true;
    }

    bool emitFonts()
    {
        const Endian endian = reader_->header().endian;
        for (const Font &f : fonts_)
        {
            for (size_t k = 0; k < f.held.size(); k++)
            {
                if (!write(WithFontName(Bytes(f.beginHeader), f.beginHeaderOp, f.names[k], endian)))
                {
                    return false;
                }
                for (const Range &r : f.headerReads)
                {
                    if (!copy(r.begin, r.end))
                    {
                        return false;
                    }
                }
                Writer w(endian);
                w.op(op::EndFontHeader);
                if (!f.held[k].empty())
                {
                    w.ubyteArray(f.names[k]).attr(attr::FontName).op(op::BeginChar);
                }
                if (!write(w.bytes()))
                {
                    return false;
                }
                for (const auto &held : f.held[k])
                {
                    const Range &r = f.versions.at(held.first)[held.second];
                    if (!copy(r.begin, r.end))
                    {
                        return false;
                    }
                }
                if (!f.held[k].empty())
                {
                    const uint8_t endChar = op::EndChar;
                    if (!write(&endChar, 1))
                    {
                        return false;
                    }
                }
            }
        }
        return true;
    }

    std::vector<uint8_t> select(const Selection &s, uint32_t k)
    {
        return WithFontName(Bytes(s.setFont), s.setFontOp, fonts_[static_cast<size_t>(s.font)].names[k],
                            reader_->header().endian);
    }

    bool walk(bool output)
    {
        reader_ = std::make_unique<CommandReader>(in_);
        reader_->decodeOnly({op::BeginFontHeader, op::BeginChar, op::ReadChar, op::RemoveFont, op::SetFont, op::Text,
                             op::TextPath, op::BeginStream});
        if (!reader_->open())
        {
            return refuse("not a sound PCL XL document: " + reader_->error()->message());
        }
        if (output && !copy(0, reader_->bodyBegin()))
        {
            return false;
        }
        std::map<std::string, int> current;
        std::vector<Choices> choices(fonts_.size());
        std::vector<Selection> gs(1);
        int defined = 0, headerFont = -1, charFont = -1;
        size_t setFonts = 0;
        bool fontsSent = false;
        std::vector<uint8_t> streamData;
        std::vector<std::pair<uint32_t, uint32_t>> wanted;
        StreamCommand c;
        while (reader_->next(c))
        {
            uint64_t from = c.gap; // what the output takes of the whitespace before the command
            bool drop = false;
            std::vector<uint8_t> before, instead;
            bool replace = false;
            const std::string name = FontNameOf(c);
            if (!output && c.find(attr::FontName))
            {
                names_.insert(name);
            }
            switch (c.op)
            {
            case op::BeginFontHeader:
                if (!output)
                {
                    Font f;
                    f.name = name;
                    Bytes b = c.slice(c.begin, c.end);
                    f.beginHeader.assign(b.data, b.data + b.size);
                    f.beginHeaderOp = static_cast<size_t>(c.op_offset - c.begin);
                    fonts_.push_back(std::move(f));
                    choices.emplace_back();
                    downloads_++;
                }
                headerFont = defined++;
                current[name] = headerFont;
                drop = true;
                break;
            case op::ReadFontHeader:
                if (headerFont < 0)
                {
                    return refuse(Where(c) + "ReadFontHeader outside a font header");
                }
                if (!output)
                {
                    fonts_[static_cast<size_t>(headerFont)].headerReads.push_back(Range{c.begin, c.end});
                }
                drop = true;
                break;
            case op::EndFontHeader:
                headerFont = -1;
                drop = true;
                break;
            case op::BeginChar: {
                auto it = current.find(name);
                if (it == current.end())
                {
                    return refuse(Where(c) + "characters are downloaded for font \"" + name +
                                  "\", which the document has not defined there");
                }
                charFont = it->second;
                drop = true;
                break;
            }
            case op::ReadChar: {
                const Attribute *code = c.find(attr::CharCode);
                if (charFont < 0 || code == nullptr)
                {
                    return refuse(Where(c) + (charFont < 0 ? "ReadChar outside BeginChar and EndChar"
                                                           : "ReadChar without a CharCode"));
                }
                const uint32_t k = static_cast<uint32_t>(code->value.number());
                if (!output)
                {
                    fonts_[static_cast<size_t>(charFont)].versions[k].push_back(Range{c.begin, c.end});
                    downloads_++;
                }
                choices[static_cast<size_t>(charFont)].downloads[k]++;
                drop = true;
                break;
            }
            case op::EndChar:
                charFont = -1;
                drop = true;
                break;
            case op::RemoveFont:
                current.erase(name);
                drop = true;
                break;
            case op::BeginPage:
                gs.assign(1, Selection());
                pages_ += output ? 0 : 1;
                if (output && !fontsSent)
                {
                    if (!write(c.slice(c.gap, c.begin)) || !emitFonts())
                    {
                        return false;
                    }
                    fontsSent = true;
                    from = c.begin;
                }
                break;
            case op::EndPage:
                gs.assign(1, Selection());
                break;
            case op::PushGS:
                gs.push_back(gs.back());
                break;
            case op::PopGS:
                if (gs.size() > 1)
                {
                    gs.pop_back();
                }
                break;
            case op::SetFont: {
                Selection s;
                auto it = c.find(attr::FontName) ? current.find(name) : current.end();
                if (it != current.end())
                {
                    s.font = it->second;
                    Bytes b = c.slice(c.begin, c.end);
                    s.setFont.assign(b.data, b.data + b.size);
                    s.setFontOp = static_cast<size_t>(c.op_offset - c.begin);
                    s.setFontIndex = setFonts++;
                    if (!output)
                    {
                        firstDrawn_.push_back(kNone);
                    }
                    // The font the first text under this selection draws with,
                    // as the first pass found it.
                    s.sent = firstDrawn_[s.setFontIndex] != kNone ? firstDrawn_[s.setFontIndex]
                                                                  : choices[static_cast<size_t>(s.font)].last;
                    if (output && fonts_[static_cast<size_t>(s.font)].names[s.sent] != name)
                    {
                        instead = select(s, s.sent);
                        replace = true;
                        result_.selections++;
                    }
                }
                gs.back() = s;
                break;
            }
            case op::Text:
            case op::TextPath: {
                Selection &s = gs.back();
                const Attribute *text = c.find(attr::TextData);
                if (s.font >= 0 && text != nullptr)
                {
                    const uint32_t k = Choose(choices[static_cast<size_t>(s.font)], text->value.numbers, wanted);
                    if (!output && firstDrawn_[s.setFontIndex] == kNone)
                    {
                        firstDrawn_[s.setFontIndex] = k;
                    }
                    if (output && k != s.sent)
                    {
                        before = select(s, k);
                        s.sent = k;
                        result_.selections++;
                    }
                }
                break;
            }
            case op::BeginStream:
                if (!output)
                {
                    streamData.clear();
                    const Attribute *a = c.find(attr::StreamName);
                    streamBeingRead_ = a ? a->value.text() : std::string();
                }
                break;
            case op::ReadStream:
                if (!output)
                {
                    Bytes b = c.payload();
                    streamData.insert(streamData.end(), b.data, b.data + b.size);
                }
                break;
            case op::EndStream:
                if (!output && !scanStream(streamData))
                {
                    return false;
                }
                break;
            default:
                break;
            }
            if (output && !drop)
            {
                if (!write(c.slice(from, c.begin)) || !write(before))
                {
                    return false;
                }
                if (!(replace ? write(instead) : write(c.slice(c.begin, c.end))))
                {
                    return false;
                }
            }
        }
        if (reader_->error())
        {
            return refuse("not a sound PCL XL document: " + reader_->error()->message());
        }
        result_.peakWindow = std::max(result_.peakWindow, reader_->peakWindow());
        if (!output)
        {
            for (size_t i = 0; i < fonts_.size(); i++)
            {
                fonts_[i].held = std::move(choices[i].held);
            }
        }
        return !output || copy(reader_->trailer(), in_.size());
    }

    // What a stream's body does with fonts.
    bool scanStream(const std::vector<uint8_t> &data)
    {
        TokenList tokens = tokenize(Bytes(data));
        if (!tokens.ok())
        {
            return refuse("stream \"" + streamBeingRead_ + "\" is not sound PCL XL: " + tokens.error->message());
        }
        const Token *value = nullptr;
        for (const Token &t : tokens.tokens)
        {
            if (t.kind == TokenKind::Value)
            {
                value = &t;
            }
            else if (t.kind == TokenKind::Attribute && t.attribute == attr::FontName && value != nullptr)
            {
                names_.insert(value->value.text());
            }
            else if (t.kind == TokenKind::Operator)
            {
                if (downloadingStream_.empty() &&
                    (t.tag == op::BeginFontHeader || t.tag == op::BeginChar || t.tag == op::RemoveFont))
                {
                    downloadingStream_ = "\"" + streamBeingRead_ + "\"";
                }
                if (textStream_.empty() && (t.tag == op::Text || t.tag == op::TextPath || t.tag == op::SetFont))
                {
                    textStream_ = "\"" + streamBeingRead_ + "\"";
                }
            }
        }
        return true;
    }

    ByteSource &in_;
    ByteSink &out_;
    bool copyUnchanged_;
    std::unique_ptr<CommandReader> reader_;
    RelocationResult result_;
    std::vector<Font> fonts_;
    std::vector<uint32_t> firstDrawn_; // per SetFont of a downloaded font, the font its first text drew with
    std::set<std::string> names_;
    std::map<std::string, int> serial_;
    size_t downloads_ = 0;
    size_t pages_ = 0;
    std::string streamBeingRead_;
    std::string downloadingStream_; // the first stream that downloads fonts, quoted
    std::string textStream_;        // the first stream that draws text, quoted
};

} // namespace

RelocationResult relocateDownloads(ByteSource &in, ByteSink &out, bool copyUnchanged)
{
    Relocator r(in, out, copyUnchanged);
    RelocationResult result = r.run();
    if (result.ok && result.fonts > 0)
    {
        result.notes.insert(result.notes.begin(), std::to_string(result.downloads) +
                                                      " font and character downloads moved into the job " +
                                                      "header, so that each page prints the same in any order");
    }
    return result;
}

} // namespace pclxl
