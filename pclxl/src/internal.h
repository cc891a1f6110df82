// Helpers shared by the library's sources.
#pragma once

#include "pclxl/protocol.h"
#include "pclxl/reader.h"
#include "pclxl/structure.h"

#include <memory>

#include <cstddef>
#include <cstdint>
#include <string>

namespace pclxl
{
namespace detail
{

// An unsigned number of 1, 2 or 4 bytes (inline: every token reads one).
inline uint32_t readUnsigned(const uint8_t *p, size_t size, Endian endian)
{
    switch (size)
    {
    case 1:
        return p[0];
    case 2:
        return endian == Endian::Little ? static_cast<uint32_t>(p[0] | (p[1] << 8))
                                        : static_cast<uint32_t>((p[0] << 8) | p[1]);
    case 4:
        return endian == Endian::Little ? static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
                                              (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24)
                                        : (static_cast<uint32_t>(p[0]) << 24) | (static_cast<uint32_t>(p[1]) << 16) |
                                              (static_cast<uint32_t>(p[2]) << 8) | static_cast<uint32_t>(p[3]);
    default: {
        uint32_t v = 0;
        for (size_t i = 0; i < size; ++i)
        {
            const size_t k = endian == Endian::Little ? size - 1 - i : i;
            v = (v << 8) | p[k];
        }
        return v;
    }
    }
}
double readElement(const uint8_t *p, ElementType element, Endian endian);
// count elements from p into out.
void readElements(const uint8_t *p, size_t count, ElementType element, Endian endian, double *out);
std::string hexByte(uint8_t b);

// What a byte starts, and for a data type tag its element type and shape:
// looked up for every token.
enum class Starts : uint8_t
{
    Other,
    Whitespace,
    Value,
    Attribute,
    Data,
    Operator,
    Esc
};

struct ByteKind
{
    Starts starts = Starts::Other;
    DataTypeInfo type;
    uint8_t element_size = 0;
    // The length of the token the byte begins when that is fixed (a value
    // that is not an array, an attribute id, whitespace); 0 for the rest.
    uint8_t skip = 0;
};

// 256 entries, one per byte.
const ByteKind *byteKinds();
std::string plural(size_t n, const char *one, const char *many);

// Where tokenizeWindow stopped.
struct WindowStop
{
    bool suspended = false; // a token runs past the window (but not past the input)
    size_t consumed = 0;    // bytes of the window that the tokens cover
    size_t needed = 0;      // bytes from `consumed` the cut token needs; 0 when not known yet
};

// Tokenizes a window onto an input that holds `limit` bytes from the
// window's start: the same tokens and faults as tokenize() on the whole
// input, except that a token cut by the window's end stops the lexer
// (stop.suspended) so that it can go on in a window read further.
// `recycled`: a vector whose room the tokens reuse.
TokenList tokenizeWindow(Bytes window, const ReadOptions &options, size_t limit, WindowStop &stop,
                         std::vector<Token> recycled = {});

// The structure check fed one token at a time, so that a document can be
// checked as it is read. Commands collect in result().commands; a reader
// that does not keep them takes the ready ones and drops them.
class Checker
{
  public:
    explicit Checker(const CheckOptions &options);
    ~Checker();
    // A copy in the same state, which goes on by itself (between pages:
    // for a second pass that reads on from a later page end).
    Checker(const Checker &other);
    Checker &operator=(const Checker &) = delete;

    // bytes: the token's own bytes. The second form may take the token's value.
    void feed(const Token &token, const uint8_t *bytes);
    void feed(Token &&token, const uint8_t *bytes);
    // The input ends at end_offset (a universal exit finishes by itself);
    // check_end false accepts what is still open (a prefix).
    void finish(size_t end_offset, bool check_end);
    Structure &result();
    const Structure &result() const;
    // How many commands are complete (result().commands holds them all
    // when none are dropped).
    size_t ready() const;
    // The i-th command not yet dropped (i < ready()); the ready ones lie side by side.
    const Command &readyCommand(size_t i) const;
    // Takes the first n commands away (ready ones only); result().commands
    // is then of no use, and readyCommand gives the commands.
    void drop(size_t n);
    // The first input byte a command that is not ready yet may hold.
    size_t earliestPending() const;

    // True between commands: no value, attribute list or operator of a
    // command is held (the embedded data of the last one may still come).
    bool atBoundary() const;
    // Takes up to `most` whole commands straight from bytes (offset: where
    // they lie in the input), as if their tokens had been fed, without
    // making tokens. Stops before anything it does not take whole: a
    // command that runs past `size`, whitespace, the universal exit, or a
    // fault, which feeding the tokens then finds and words. Returns the
    // bytes taken, 0 when not at a boundary. With stop_after_page it also
    // stops after an EndPage.
    size_t readCommands(const uint8_t *bytes, size_t size, size_t offset, Endian endian, size_t most,
                        bool stop_after_page = false);
    // Between pages with every command handed out and dropped: the
    // constructs open (session, data source, ...) as a number, which a page
    // that ends cleanly leaves as it found it; 0 anywhere else (in a page,
    // inside a download, with data still to come, after a fault).
    uint32_t pageStartState() const;
    // Counts a page of `commands` commands ending at `end` as read: a page
    // whose bytes are those of a page checked before in the same
    // pageStartState().
    void skipPage(size_t end, size_t commands);

  private:
    class Impl;
    std::unique_ptr<Impl> impl_;
};

} // namespace detail
} // namespace pclxl
