// The one-pass reader against readDocument: the same tokens, commands,
// pages, stream definitions and first fault (at the same offset, with the
// same words) on the example documents, on the real documents when they are
// there, and on every prefix and many damaged copies of them; and its window
// stays small on a document much larger than the window.
#include "helpers.h"

#include "pclxl/pagestart.h"
#include "pclxl/samples.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <iterator>

using namespace pclxl;
using namespace pclxl_test;

namespace
{

std::string show(const Value &v)
{
    std::string s = std::to_string(v.tag) + ":";
    for (double n : v.numbers)
    {
        s += std::to_string(n) + ",";
    }
    return s;
}

std::string show(const std::vector<Attribute> &attributes)
{
    std::string s;
    for (const Attribute &a : attributes)
    {
        s += std::to_string(a.id) + "@" + std::to_string(a.offset) + "=" + show(a.value) + ";";
    }
    return s;
}

std::string show(const Command &c)
{
    return std::to_string(c.op) + " " + std::to_string(c.begin) + "/" + std::to_string(c.op_offset) + "/" +
           std::to_string(c.end) +
           (c.has_data ? " data " + std::to_string(c.data_offset) + "/" + std::to_string(c.payload_offset) + "+" +
                             std::to_string(c.payload_length)
                       : std::string()) +
           " " + show(c.attributes);
}

std::string show(const Token &t)
{
    return std::string(tokenKindName(t.kind)) + " " + std::to_string(t.offset) + "+" + std::to_string(t.length) + " " +
           std::to_string(t.attribute) + " " + show(t.value) + " " + std::to_string(t.payload_offset) + " " + t.text;
}

std::string show(const Page &p)
{
    return std::to_string(p.number) + " " + std::to_string(p.range.begin) + "-" + std::to_string(p.range.end) +
           " body " + std::to_string(p.body.begin) + "-" + std::to_string(p.body.end) + " commands " +
           std::to_string(p.begin_command) + "-" + std::to_string(p.end_command) + " " + show(p.attributes) + " | " +
           show(p.end_attributes);
}

std::string show(const StreamDefinition &s)
{
    std::string out = s.name + " " + std::to_string(s.begin) + "-" + std::to_string(s.end) + " from " +
                      std::to_string(s.begin_command) + " reads";
    for (size_t i : s.read_commands)
    {
        out += " " + std::to_string(i);
    }
    for (const Command &c : s.body_commands)
    {
        out += "\n  " + show(c);
    }
    return out;
}

template <typename T>
std::vector<std::string> all(const std::vector<T> &items)
{
    std::vector<std::string> out;
    for (const T &i : items)
    {
        out.push_back(show(i));
    }
    return out;
}

// A reader that wants no tokens of commands, so that the commands are
// taken whole: what it is told must still be what the tokens say.
class WholeCommands : public DocumentHandler
{
  public:
    void onToken(const Token &t, const uint8_t *) override
    {
        if (t.kind == TokenKind::Pjl || t.kind == TokenKind::StreamHeader || t.kind == TokenKind::UniversalExit)
        {
            edges.push_back(show(t));
        }
    }
    void onCommand(const Command &c, const uint8_t *) override
    {
        commands.push_back(show(c));
    }
    void onStream(const StreamDefinition &s) override
    {
        streams.push_back(show(s));
    }
    void onPage(const Page &p, const uint8_t *) override
    {
        pages.push_back(show(p));
    }
    std::vector<std::string> edges, commands, streams, pages;
};

std::vector<std::string> edgesOf(const std::vector<Token> &tokens)
{
    std::vector<std::string> out;
    for (const Token &t : tokens)
    {
        if (t.kind == TokenKind::Pjl || t.kind == TokenKind::StreamHeader || t.kind == TokenKind::UniversalExit)
        {
            out.push_back(show(t));
        }
    }
    return out;
}

// A document still arriving: it tells its size only when a reader has
// waited for more than it holds, and then only what it holds.
class Arriving : public MemorySource
{
  public:
    using MemorySource::MemorySource;
    bool growing() const override
    {
        return true;
    }
    uint64_t await(uint64_t want, bool *ended) override
    {
        *ended = want > size();
        waits++;
        return *ended ? size() : want;
    }
    size_t waits = 0;
};

// Whole-document and one-pass readings of data agree in everything, with
// and without the tokens of commands, and when the document is read while
// it arrives.
void expectSame(const ByteVector &data, size_t window, const std::string &what)
{
    SCOPED_TRACE(what + ", window " + std::to_string(window));
    const Document whole = readDocument(Bytes(data));
    MemorySource source{Bytes(data)};
    const Document streamed = readDocumentStreaming(source, window);
    EXPECT_EQ(errorText(whole.error), errorText(streamed.error));
    EXPECT_EQ(whole.header.has_value(), streamed.header.has_value());
    EXPECT_EQ(whole.endian, streamed.endian);
    EXPECT_EQ(all(whole.tokens), all(streamed.tokens));
    EXPECT_EQ(all(whole.commands), all(streamed.commands));
    EXPECT_EQ(all(whole.pages), all(streamed.pages));
    EXPECT_EQ(all(whole.streams), all(streamed.streams));
    EXPECT_EQ(whole.job_header.begin, streamed.job_header.begin);
    EXPECT_EQ(whole.job_header.end, streamed.job_header.end);
    EXPECT_EQ(whole.job_trailer.begin, streamed.job_trailer.begin);
    EXPECT_EQ(whole.job_trailer.end, streamed.job_trailer.end);

    // Commands taken whole, from a document whole and from one still arriving.
    auto expectWhole = [&](ByteSource &source, const char *how) {
        SCOPED_TRACE(how);
        DocumentStream stream(source, window);
        WholeCommands fast;
        const DocumentSummary s = stream.run(fast);
        EXPECT_EQ(errorText(whole.error), errorText(s.error));
        EXPECT_EQ(edgesOf(whole.tokens), fast.edges);
        EXPECT_EQ(all(whole.commands), fast.commands);
        EXPECT_EQ(all(whole.pages), fast.pages);
        EXPECT_EQ(all(whole.streams), fast.streams);
        EXPECT_EQ(whole.pages.size(), s.pages);
        EXPECT_EQ(whole.job_header.end, s.job_header.end);
        EXPECT_EQ(whole.job_trailer.begin, s.job_trailer.begin);
        EXPECT_EQ(data.size(), s.size);
    };
    MemorySource again{Bytes(data)};
    expectWhole(again, "commands whole");
    Arriving arrivingWhole{Bytes(data)};
    expectWhole(arrivingWhole, "commands whole, arriving");

    Arriving arriving{Bytes(data)};
    const Document live = readDocumentStreaming(arriving, window);
    EXPECT_EQ(errorText(whole.error), errorText(live.error));
    EXPECT_EQ(all(whole.tokens), all(live.tokens));
    EXPECT_EQ(all(whole.commands), all(live.commands));
    EXPECT_EQ(all(whole.pages), all(live.pages));
    EXPECT_EQ(whole.job_trailer.end, live.job_trailer.end) << "the size learnt at the end";
}

// The bytes handed out with each token, command and page are the input's
// own at their offsets, however the window moved in between.
void expectBytesInPlace(const ByteVector &data, size_t window, const std::string &what)
{
    SCOPED_TRACE(what + ", window " + std::to_string(window));
    class Check : public DocumentHandler
    {
      public:
        explicit Check(const ByteVector &d) : data(d)
        {
        }
        void onToken(const Token &t, const uint8_t *bytes) override
        {
            misplaced += !same(t.offset, t.length, bytes);
        }
        void onCommand(const Command &c, const uint8_t *bytes) override
        {
            misplaced += !same(c.begin, c.end - c.begin, bytes);
        }
        void onPage(const Page &p, const uint8_t *bytes) override
        {
            misplaced += !same(p.range.begin, p.range.size(), bytes);
            pages++;
        }
        void onBytes(uint64_t offset, const uint8_t *bytes, size_t size) override
        {
            misplaced += offset != next || !same(static_cast<size_t>(offset), size, bytes);
            next = offset + size;
        }
        bool same(size_t offset, size_t size, const uint8_t *bytes) const
        {
            return bytes != nullptr && offset + size <= data.size() &&
                   std::equal(bytes, bytes + size, data.begin() + static_cast<long>(offset));
        }
        const ByteVector &data;
        size_t misplaced = 0, pages = 0;
        uint64_t next = 0;
    } check(data);
    MemorySource source{Bytes(data)};
    DocumentStream stream(source, window);
    stream.keepPages(true);
    const DocumentSummary s = stream.run(check);
    EXPECT_EQ(check.misplaced, 0u);
    EXPECT_EQ(check.pages, s.pages);
    if (s.ok())
    {
        EXPECT_EQ(check.next, data.size()) << "not every byte was handed out once";
    }
}

std::vector<std::pair<std::string, ByteVector>> realDocuments()
{
    std::vector<std::pair<std::string, ByteVector>> docs;
    const char *dir = std::getenv("KD_REAL_DOCUMENTS");
    if (dir == nullptr)
    {
        return docs;
    }
    for (const char *name : {"man-db.pxl", "man-db-nocache.pxl", "man-db-landscape.pxl", "mime-info.pxl",
                             "mime-info-nocache.pxl", "mixed.pxl"})
    {
        std::ifstream in(std::string(dir) + "/" + name, std::ios::binary);
        ByteVector b((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        EXPECT_FALSE(b.empty()) << name << " is missing from " << dir;
        docs.emplace_back(name, std::move(b));
    }
    return docs;
}

// A document with PJL around it, a stream definition in two ReadStream
// pieces, a page that runs its stream and a universal exit.
ByteVector documentWithStream()
{
    Writer body;
    body.setCursor(10, 10).text("from the stream");
    const ByteVector inner = Writer().streamHeader("inner").take() + body.take();
    const size_t half = inner.size() / 2;
    Writer w;
    w.raw(Bytes(std::string_view("\x1b%-12345X@PJL JOB\r\n@PJL ENTER LANGUAGE = PCLXL\n")));
    w.streamHeader("streams").beginSession().openDataSource();
    w.beginStream("S1");
    w.uint32(static_cast<uint32_t>(half)).attr(attr::StreamDataLength).op(op::ReadStream);
    w.data(Bytes(inner.data(), half));
    w.uint32(static_cast<uint32_t>(inner.size() - half)).attr(attr::StreamDataLength).op(op::ReadStream);
    w.data(Bytes(inner.data() + half, inner.size() - half), true);
    w.endStream();
    w.beginPage().execStream("S1").endPage();
    writeTextPage(w, "second");
    w.closeDataSource().endSession().universalExit();
    w.raw(Bytes(std::string_view("@PJL EOJ\n")));
    return w.take();
}

std::vector<std::pair<std::string, ByteVector>> examples()
{
    std::vector<std::pair<std::string, ByteVector>> docs;
    for (const samples::Sample &s : samples::all())
    {
        docs.emplace_back(s.name, s.bytes.copy());
    }
    docs.emplace_back("document with a stream", documentWithStream());
    docs.emplace_back("big-endian document", smallDocument(3, Endian::Big));
    // PJL before the stream header, longer than a piece of lexing, with
    // the header's line running across the piece's end.
    std::string pjl = "\x1b%-12345X";
    while (pjl.size() < 4000)
    {
        pjl += "@PJL COMMENT a long job header from a print server\r\n";
    }
    Writer lead;
    lead.raw(Bytes(std::string_view(pjl))).streamHeader(std::string(300, 'c')).beginSession().openDataSource();
    writeTextPage(lead, "after a long lead");
    lead.closeDataSource().endSession();
    docs.emplace_back("long PJL lead", lead.take());
    return docs;
}

} // namespace

TEST(DocumentStream, ExamplesReadTheSameAsWholeDocuments)
{
    for (const auto &[name, data] : examples())
    {
        // Windows from a few bytes (every token cut somewhere) to larger than the document.
        for (size_t window : {size_t{64}, size_t{100}, size_t{333}, size_t{4096}, size_t{1} << 20})
        {
            expectSame(data, window, name);
            expectBytesInPlace(data, window, name);
        }
    }
}

TEST(DocumentStream, RealDocumentsReadTheSameAsWholeDocuments)
{
    const auto docs = realDocuments();
    if (docs.empty())
    {
        GTEST_SKIP() << "KD_REAL_DOCUMENTS is not set";
    }
    for (const auto &[name, data] : docs)
    {
        for (size_t window : {size_t{4096}, size_t{1} << 20})
        {
            expectSame(data, window, name);
            expectBytesInPlace(data, window, name);
        }
    }
}

TEST(DocumentStream, EveryPrefixFaultsWhereTheWholeReadingDoes)
{
    for (const auto &[name, data] : examples())
    {
        const size_t step = data.size() > 5000 ? 37 : 1;
        for (size_t n = 0; n < data.size(); n += step)
        {
            expectSame(ByteVector(data.begin(), data.begin() + static_cast<long>(n)), 200,
                       name + " cut at " + std::to_string(n));
        }
    }
}

TEST(DocumentStream, DamagedBytesFaultWhereTheWholeReadingDoes)
{
    // Bytes that break a document in different ways: a bad tag, a long
    // embedded data length, an array length, an escape, a stray operator.
    const uint8_t damage[] = {0x00, 0xFF, 0xFA, 0xFB, 0xC8, 0xF8, 0x1B, 0x43, 0x41, 0x2A, 0x7F};
    for (const auto &[name, data] : examples())
    {
        const size_t step = data.size() > 5000 ? 97 : 3;
        for (size_t at = 0; at < data.size(); at += step)
        {
            ByteVector bad = data;
            bad[at] = damage[(at / step) % sizeof damage];
            expectSame(bad, 128, name + " damaged at " + std::to_string(at));
        }
    }
}

TEST(DocumentStream, AFaultyCopyOfTheRealDocumentsFaultsTheSame)
{
    const auto docs = realDocuments();
    if (docs.empty())
    {
        GTEST_SKIP() << "KD_REAL_DOCUMENTS is not set";
    }
    for (const auto &[name, data] : docs)
    {
        expectSame(ByteVector(data.begin(), data.begin() + static_cast<long>(data.size() * 2 / 3)), 4096,
                   name + " cut at two thirds");
        ByteVector bad = data;
        bad[data.size() / 2] = 0x00; // not a tag, or a changed length or value
        expectSame(bad, 4096, name + " damaged in the middle");
    }
}

TEST(DocumentStream, WindowStaysBoundedOnADocumentMuchLargerThanIt)
{
    const ByteVector doc = smallDocument(4000);
    ASSERT_GT(doc.size(), 300000u);
    MemorySource source{Bytes(doc)};
    size_t peak = 0;
    const Document d = readDocumentStreaming(source, 4096, &peak);
    EXPECT_TRUE(d.ok()) << errorText(d.error);
    EXPECT_EQ(d.pages.size(), 4000u);
    EXPECT_GE(peak, 4096u);
    EXPECT_LE(peak, 2u * 4096u);

    // Keeping each page for the handler adds at most a page to the window.
    class Pages : public DocumentHandler
    {
      public:
        void onPage(const Page &p, const uint8_t *bytes) override
        {
            largest = std::max(largest, p.range.size());
            // The bytes handed out are the page's: BeginPage's list first, EndPage last.
            if (bytes == nullptr || bytes[p.range.size() - 1] != op::EndPage)
            {
                bad++;
            }
        }
        size_t largest = 0;
        size_t bad = 0;
    } pages;
    DocumentStream stream(source, 4096);
    stream.keepPages(true);
    DocumentSummary s = stream.run(pages);
    EXPECT_TRUE(s.ok());
    EXPECT_EQ(s.pages, 4000u);
    EXPECT_EQ(pages.bad, 0u);
    EXPECT_LE(stream.peakWindow(), 2u * 4096u + pages.largest);
}

TEST(DocumentStream, ALargeTokenGrowsTheWindowOnlyWhileItIsRead)
{
    // An embedded data block larger than the window among many small pages.
    Writer w;
    w.streamHeader().beginSession().openDataSource();
    const ByteVector inner = Writer().streamHeader().take() + ByteVector(100000, ' ');
    w.beginStream("big").uint32(static_cast<uint32_t>(inner.size())).attr(attr::StreamDataLength);
    w.op(op::ReadStream).data(Bytes(inner), true).endStream();
    for (int i = 0; i < 2000; i++)
    {
        writeTextPage(w, "page " + std::to_string(i));
    }
    w.closeDataSource().endSession();
    const ByteVector doc = w.take();
    expectSame(doc, 4096, "large stream");
    MemorySource source{Bytes(doc)};
    size_t peak = 0;
    readDocumentStreaming(source, 4096, &peak);
    EXPECT_GE(peak, inner.size());
    EXPECT_LE(peak, inner.size() + 3u * 4096u);
}

TEST(DocumentStream, AnUnreadableInputIsAFaultWithTheReason)
{
    class Failing : public ByteSource
    {
      public:
        explicit Failing(const ByteVector &d) : data_(d)
        {
        }
        uint64_t size() const override
        {
            return data_.size();
        }
        bool read(uint64_t offset, uint8_t *out, size_t n) override
        {
            if (offset + n > 3000)
            {
                return false;
            }
            std::copy(data_.begin() + static_cast<long>(offset), data_.begin() + static_cast<long>(offset + n), out);
            return true;
        }
        std::string error() const override
        {
            return "input/output error";
        }

      private:
        const ByteVector &data_;
    };
    const ByteVector doc = smallDocument(100);
    Failing source(doc);
    const Document d = readDocumentStreaming(source, 1000);
    ASSERT_FALSE(d.ok());
    EXPECT_EQ(d.error->reason, "input/output error");
    EXPECT_LE(d.error->offset, 3000u);
    EXPECT_LT(d.pages.size(), 100u);
}
namespace
{

// A reader that takes pages met again whole, as the page map does.
class TakesRepeats : public WholeCommands
{
  public:
    bool takesRepeatedPages() const override
    {
        return true;
    }
    uint64_t repeatState() const override
    {
        return state;
    }
    bool rememberPage(const Page &p) override
    {
        return p.number != refuse;
    }
    void onPage(const Page &p, const uint8_t *bytes) override
    {
        WholeCommands::onPage(p, bytes);
        misplaced += !same(p, bytes);
        if (p.number == changeAfter)
        {
            state++;
        }
    }
    void onRepeatedPage(const Page &p, size_t earlier, const uint8_t *bytes) override
    {
        WholeCommands::onPage(p, bytes);
        repeats.push_back(std::to_string(p.number) + " of " + std::to_string(earlier));
        repeated.push_back(p.number);
        misplaced += !same(p, bytes);
    }
    void onBytes(uint64_t offset, const uint8_t *, size_t size) override
    {
        misplaced += offset != next;
        next = offset + size;
    }
    bool same(const Page &p, const uint8_t *bytes) const
    {
        return bytes != nullptr && p.range.end <= data.size() &&
               std::equal(bytes, bytes + p.range.size(), data.begin() + static_cast<long>(p.range.begin));
    }
    ByteVector data;
    uint64_t state = 7;
    size_t changeAfter = 0; // the handler's state changes after this page
    size_t refuse = 0;      // the page it cannot give again
    std::vector<std::string> repeats;
    std::vector<size_t> repeated;
    size_t misplaced = 0;
    uint64_t next = 0;
};

// Pages 1 and 2 three times over (`between` before the third page), then
// a page with page 1's length and first bytes whose text differs.
ByteVector repeatingDocument(const ByteVector &between = {})
{
    Writer w;
    w.streamHeader("copies").beginSession(600).openDataSource();
    for (int copy = 0; copy < 3; copy++)
    {
        if (copy == 1)
        {
            w.raw(Bytes(between));
        }
        writeTextPage(w, "first page");
        writeTextPage(w, "the second", val::eLandscapeOrientation);
    }
    writeTextPage(w, "first pagE");
    w.closeDataSource().endSession();
    return w.take();
}

struct Taken
{
    DocumentSummary summary;
    std::vector<std::string> repeats;
};

// Reads data with pages taken again and checks that everything told is
// what readDocument says, whatever was taken whole.
Taken readTakingRepeats(const ByteVector &data, TakesRepeats &handler, size_t window, bool arriving = false)
{
    SCOPED_TRACE("window " + std::to_string(window) + (arriving ? ", arriving" : ""));
    handler.data = data;
    const Document whole = readDocument(Bytes(data));
    MemorySource memory{Bytes(data)};
    Arriving growing{Bytes(data)};
    DocumentStream stream(arriving ? static_cast<ByteSource &>(growing) : memory, window);
    stream.keepPages(true);
    Taken t;
    t.summary = stream.run(handler);
    EXPECT_EQ(errorText(whole.error), errorText(t.summary.error));
    EXPECT_EQ(all(whole.pages), handler.pages);
    EXPECT_EQ(whole.pages.size(), t.summary.pages);
    EXPECT_EQ(whole.job_trailer.begin, t.summary.job_trailer.begin);
    EXPECT_EQ(handler.misplaced, 0u);
    EXPECT_EQ(handler.next, data.size());
    // The repeated pages' commands do not come; every other command does.
    size_t taken = 0;
    for (size_t n : handler.repeated)
    {
        taken += whole.pages[n - 1].end_command - whole.pages[n - 1].begin_command + 1;
    }
    EXPECT_EQ(handler.commands.size(), whole.commands.size() - taken);
    t.repeats = handler.repeats;
    return t;
}

} // namespace

TEST(DocumentStream, PagesMetAgainAreTakenWholeWithTheirOwnPlaces)
{
    const ByteVector doc = repeatingDocument();
    const Document whole = readDocument(Bytes(doc));
    ASSERT_EQ(whole.pages.size(), 7u);
    // The last page starts as the first does and is as long: only its text tells them apart.
    const Range first = whole.pages[0].range, last = whole.pages[6].range;
    ASSERT_EQ(first.size(), last.size());
    ASSERT_TRUE(std::equal(doc.begin() + static_cast<long>(first.begin),
                           doc.begin() + static_cast<long>(first.begin + 64),
                           doc.begin() + static_cast<long>(last.begin)));
    for (size_t window : {size_t{64}, size_t{333}, size_t{4096}, size_t{1} << 20})
    {
        for (bool arriving : {false, true})
        {
            TakesRepeats handler;
            // The first page, read on from the stream header token by token,
            // is not remembered; the third is, as it is checked.
            EXPECT_EQ(readTakingRepeats(doc, handler, window, arriving).repeats,
                      (std::vector<std::string>{"4 of 2", "5 of 3", "6 of 2"}));
        }
    }
}

TEST(DocumentStream, APageIsTakenAgainOnlyInTheStatesItWasFirstMetIn)
{
    const std::vector<std::string> fromTheThird = {"5 of 3", "6 of 4"};
    // The handler's state changes after the second page: it is not remembered.
    {
        TakesRepeats handler;
        handler.changeAfter = 2;
        EXPECT_EQ(readTakingRepeats(repeatingDocument(), handler, 4096).repeats, fromTheThird);
    }
    // A page the handler cannot give again comes as commands.
    {
        TakesRepeats handler;
        handler.refuse = 2;
        EXPECT_EQ(readTakingRepeats(repeatingDocument(), handler, 4096).repeats, fromTheThird);
    }
    // The data source closed before the third page: the fourth is not the
    // repeat of the second, met with the data source open. (The third,
    // after a command between pages, is not remembered.)
    {
        const ByteVector closed = Writer().closeDataSource().take();
        TakesRepeats handler;
        EXPECT_EQ(readTakingRepeats(repeatingDocument(closed), handler, 4096).repeats,
                  std::vector<std::string>{"6 of 4"});
    }
    // The session ended before the third page: the check faults there as
    // readDocument does, however like the page is to the first.
    {
        const ByteVector ended = Writer().closeDataSource().endSession().take();
        TakesRepeats handler;
        const Taken t = readTakingRepeats(repeatingDocument(ended), handler, 4096);
        EXPECT_TRUE(t.repeats.empty());
        ASSERT_FALSE(t.summary.ok());
        EXPECT_NE(t.summary.error->reason.find("outside a session"), std::string::npos) << t.summary.error->reason;
    }
}

namespace
{

// The command reader's commands against readDocument's: the same places and
// the same attributes, decoded from the command's bytes.
void expectCommandsOfTheReader(const ByteVector &data, const std::string &name, size_t window)
{
    SCOPED_TRACE("window " + std::to_string(window));
    const Document doc = readDocument(Bytes(data));
    ASSERT_TRUE(doc.ok()) << name << ": " << errorText(doc.error);
    MemorySource source{Bytes(data)};
    CommandReader reader(source, window);
    ASSERT_TRUE(reader.open()) << name;
    StreamCommand c;
    size_t i = 0;
    while (reader.next(c))
    {
        ASSERT_LT(i, doc.commands.size()) << name;
        const Command &want = doc.commands[i];
        Command got;
        got.op = c.op;
        got.begin = static_cast<size_t>(c.begin);
        got.op_offset = static_cast<size_t>(c.op_offset);
        got.end = static_cast<size_t>(c.end);
        got.attributes = c.attributes;
        got.has_data = c.has_data;
        got.data_offset = want.data_offset; // the reader does not keep it
        got.payload_offset = static_cast<size_t>(c.payload_offset);
        got.payload_length = static_cast<size_t>(c.payload_length);
        ASSERT_EQ(show(got), show(want)) << name << ", command " << i;
        ASSERT_TRUE(std::equal(c.bytes, c.bytes + (c.end - c.gap), data.begin() + static_cast<long>(c.gap)))
            << name << ", command " << i << ": not its own bytes";
        i++;
    }
    EXPECT_FALSE(reader.error()) << name << ": " << errorText(reader.error());
    EXPECT_EQ(i, doc.commands.size()) << name;
}

// What the printability check says when fed from the one-pass reader with
// each command's own bytes.
class PrintabilityFeed : public DocumentHandler
{
  public:
    void onCommand(const Command &c, const uint8_t *bytes) override
    {
        printer.feed(c, bytes);
    }
    PrintabilityChecker printer;
};

} // namespace

TEST(CommandReader, AttributesAreThoseOfTheWholeReading)
{
    auto docs = examples();
    for (auto &doc : realDocuments())
    {
        docs.push_back(std::move(doc));
    }
    for (const auto &[name, data] : docs)
    {
        for (size_t window : {size_t{64}, size_t{4096}, size_t{1} << 20})
        {
            expectCommandsOfTheReader(data, name, window);
        }
    }
}

TEST(CommandReader, AValueNamesAnAttributeOnlyWithTheIdRightAfterIt)
{
    // An id with no value, a value that another value replaces, and a value
    // the operator follows: one attribute, the second value's.
    ByteVector d = header();
    const uint8_t list[] = {tag::AttrUByte, attr::PageAngle, dt::UByte,      1,         dt::UInt16, 0x34,
                            0x12,           tag::AttrUByte,  attr::CharCode, dt::UByte, 9,          op::Text};
    d.insert(d.end(), std::begin(list), std::end(list));
    MemorySource source{Bytes(d)};
    CommandReader reader(source);
    ASSERT_TRUE(reader.open());
    StreamCommand c;
    ASSERT_TRUE(reader.next(c)) << errorText(reader.error());
    ASSERT_EQ(c.attributes.size(), 1u);
    EXPECT_EQ(c.attributes[0].id, attr::CharCode);
    EXPECT_EQ(c.attributes[0].value.numbers, std::vector<double>{0x1234});
    EXPECT_EQ(c.attributes[0].value.element, ElementType::UInt16);
    EXPECT_EQ(c.attributes[0].offset, header().size() + 4);
}

TEST(PrintabilityChecker, FedWithEachCommandsBytesItJudgesAsOnTheWholeDocument)
{
    auto docs = examples();
    for (auto &doc : realDocuments())
    {
        docs.push_back(std::move(doc));
    }
    // And one the check refuses: Text with no font selected. (The examples'
    // streams are run from the ReadStream data the bytes hand over.)
    Writer w;
    w.streamHeader("faults").beginSession().openDataSource();
    writeTextPage(w, "ok");
    w.beginPage().setCursor(5, 5).text("x").endPage();
    w.closeDataSource().endSession();
    docs.emplace_back("text without its font", w.take());
    for (const auto &[name, data] : docs)
    {
        MemorySource source{Bytes(data)};
        DocumentStream stream(source, 4096);
        PrintabilityFeed feed;
        const DocumentSummary s = stream.run(feed);
        ASSERT_TRUE(s.ok()) << name << ": " << errorText(s.error);
        feed.printer.finish();
        EXPECT_EQ(errorText(feed.printer.error()), errorText(checkPrintability(Bytes(data)))) << name;
    }
}

namespace
{

// What a pass hands out, with its offsets, and its page ends: it keeps the
// check's state at one and stops at another.
class Relay : public DocumentHandler
{
  public:
    bool wantsPageEnds() const override
    {
        return true;
    }
    void onCommand(const Command &c, const uint8_t *) override
    {
        commands.push_back(show(c));
    }
    void onPage(const Page &p, const uint8_t *) override
    {
        // Numbers and command indices count from where a pass began.
        pages.push_back(std::to_string(p.range.begin) + "-" + std::to_string(p.range.end) + " " + show(p.attributes));
    }
    void onPageEnd(PageEnd &end) override
    {
        ends.push_back(end.offset());
        states.push_back(end.state());
        if (end.offset() == keepAt)
        {
            point = end.point();
        }
        if (end.offset() == stopAt)
        {
            end.stop();
        }
    }

    uint64_t keepAt = ~uint64_t{0};
    uint64_t stopAt = ~uint64_t{0};
    std::shared_ptr<const PassPoint> point;
    std::vector<std::string> commands, pages;
    std::vector<uint64_t> ends, states;
};

std::vector<std::pair<std::string, ByteVector>> examplesAndRealDocuments()
{
    auto docs = examples();
    for (auto &d : realDocuments())
    {
        docs.push_back(std::move(d));
    }
    return docs;
}

// A second pass resumed at page end `at` with the state kept at the first
// page end reads on as the whole reading does: the same commands and pages
// at the same offsets, the same fault, the same trailer.
void expectResumedAsWhole(const ByteVector &data, const Relay &whole, const DocumentSummary &all, uint64_t at,
                          const std::string &name)
{
    SCOPED_TRACE(name + ", resumed at " + std::to_string(at));
    MemorySource source{Bytes(data)};
    Relay first;
    first.keepAt = whole.ends.front();
    first.stopAt = at;
    const DocumentSummary before = DocumentStream(source, 4096).run(first);
    EXPECT_TRUE(before.stopped);
    EXPECT_FALSE(before.error) << errorText(before.error);
    EXPECT_EQ(before.job_trailer.begin, at);
    ASSERT_TRUE(first.point);
    EXPECT_EQ(first.states.back(), first.states.front()) << "what lasts from page to page is the same";

    MemorySource again{Bytes(data)};
    Relay rest;
    const DocumentSummary after = DocumentStream(again, 4096).resume(*first.point, at, rest);
    EXPECT_FALSE(after.stopped);
    EXPECT_EQ(errorText(after.error), errorText(all.error));
    EXPECT_EQ(after.job_trailer.begin, all.job_trailer.begin);
    EXPECT_EQ(after.job_trailer.end, all.job_trailer.end);
    EXPECT_EQ(before.pages + after.pages, all.pages);
    std::vector<std::string> commands = first.commands, pages = first.pages;
    commands.insert(commands.end(), rest.commands.begin(), rest.commands.end());
    pages.insert(pages.end(), rest.pages.begin(), rest.pages.end());
    EXPECT_EQ(commands, whole.commands);
    EXPECT_EQ(pages, whole.pages);
}

} // namespace

TEST(DocumentStream, APassResumedAtALaterPageEndReadsOnAsTheWholeReading)
{
    size_t resumed = 0;
    for (const auto &[name, data] : examplesAndRealDocuments())
    {
        MemorySource source{Bytes(data)};
        Relay whole;
        const DocumentSummary all = DocumentStream(source, 4096).run(whole);
        ASSERT_TRUE(all.ok()) << name << ": " << errorText(all.error);
        if (whole.ends.size() < 3)
        {
            continue;
        }
        EXPECT_NE(whole.states.front(), 0u) << name;
        for (size_t m : {size_t{1}, whole.ends.size() / 2, whole.ends.size() - 1})
        {
            expectResumedAsWhole(data, whole, all, whole.ends[m], name);
            // A fault after the second pass began is its fault, worded and
            // placed as the whole reading has it.
            ByteVector damaged = data;
            const size_t at = static_cast<size_t>(whole.ends[m] + (data.size() - whole.ends[m]) / 3);
            for (uint8_t b : {uint8_t{0xFF}, uint8_t{op::EndSession}, uint8_t{tag::DataLength}})
            {
                damaged[at] = b;
                MemorySource damagedSource{Bytes(damaged)};
                Relay broken;
                const DocumentSummary faulty = DocumentStream(damagedSource, 4096).run(broken);
                expectResumedAsWhole(damaged, broken, faulty, whole.ends[m],
                                     name + " with " + std::to_string(b) + " at " + std::to_string(at));
            }
            resumed++;
        }
    }
    EXPECT_GE(resumed, 3u) << "documents of three pages or more were resumed";

    // A place past the end is refused, not read.
    const ByteVector doc = smallDocument(3);
    MemorySource source{Bytes(doc)};
    Relay first;
    DocumentStream(source, 4096).run(first);
    ASSERT_TRUE(first.point == nullptr && !first.ends.empty());
    first.keepAt = first.ends.front();
    DocumentStream(source, 4096).run(first);
    ASSERT_TRUE(first.point);
    Relay rest;
    const DocumentSummary past = DocumentStream(source, 4096).resume(*first.point, doc.size() + 1, rest);
    ASSERT_FALSE(past.ok());
    EXPECT_EQ(past.error->reason, "a pass cannot begin past the input's end");
    EXPECT_TRUE(rest.commands.empty());
}

// A guessed page start can be wrong: a pass resumed anywhere, inside a
// command or its data, reads to a verdict of its own without reading
// outside the input (the first pass then does not take it).
TEST(DocumentStream, APassResumedAnywhereEndsWithAVerdict)
{
    for (const auto &[name, data] : examples())
    {
        MemorySource source{Bytes(data)};
        Relay first;
        DocumentStream(source, 4096).run(first);
        if (first.ends.empty())
        {
            continue;
        }
        first.keepAt = first.ends.front();
        DocumentStream(source, 4096).run(first);
        ASSERT_TRUE(first.point) << name;
        const size_t step = data.size() > 20000 ? 13 : 1;
        for (size_t at = static_cast<size_t>(first.ends.front()); at <= data.size(); at += step)
        {
            Relay rest;
            const DocumentSummary s = DocumentStream(source, 256).resume(*first.point, at, rest);
            EXPECT_FALSE(s.stopped) << name << " from " << at;
            EXPECT_EQ(s.size, data.size()) << name << " from " << at;
            if (s.error)
            {
                EXPECT_GE(s.error->offset, at) << name << " from " << at;
                EXPECT_LE(s.error->offset, data.size()) << name << " from " << at;
            }
        }
    }
}

TEST(DocumentStream, APageStartIsGuessedWhereTheReadingFindsOne)
{
    for (const auto &[name, data] : examplesAndRealDocuments())
    {
        const Document doc = readDocument(Bytes(data));
        ASSERT_TRUE(doc.ok()) << name;
        // The pages that begin right after an EndPage.
        std::vector<uint64_t> begins;
        for (const Page &p : doc.pages)
        {
            if (p.range.begin > 0 && data[p.range.begin - 1] == op::EndPage)
            {
                begins.push_back(p.range.begin);
            }
        }
        MemorySource source{Bytes(data)};
        for (const Page &p : doc.pages)
        {
            // From the middle of each page (inside its commands and data).
            const uint64_t from = p.range.begin + p.range.size() / 2;
            const auto next = std::lower_bound(begins.begin(), begins.end(), from);
            const std::optional<uint64_t> guess = guessPageStart(source, from, data.size(), doc.endian);
            if (next == begins.end())
            {
                EXPECT_FALSE(guess) << name << " from " << from;
            }
            else
            {
                EXPECT_EQ(guess, std::optional<uint64_t>(*next)) << name << " from " << from;
            }
        }
        // Where nothing can be read, nothing is guessed.
        EXPECT_FALSE(guessPageStart(source, data.size(), data.size() + 10, doc.endian));
    }
}
