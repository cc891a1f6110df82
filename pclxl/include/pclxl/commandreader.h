// Reads a PCL XL document command by command from a ByteSource, holding a
// window of the input that is as large as the largest command needs (a
// command with its embedded data), never the whole document.
#pragma once

#include "pclxl/bytesource.h"
#include "pclxl/structure.h"

#include <cstdint>
#include <optional>
#include <vector>

namespace pclxl
{

namespace detail
{
struct ByteKind;
}

// One operator with its attribute list and embedded data, by offsets in the
// input. The bytes are those of the reader's window and stay valid until the
// next call of next().
struct StreamCommand
{
    uint8_t op = 0;
    uint64_t gap = 0;   // where the whitespace before the command begins (the previous command's end)
    uint64_t begin = 0; // first byte of the attribute list (the operator byte when there is none)
    uint64_t op_offset = 0;
    uint64_t end = 0; // after the operator, or after its embedded data
    std::vector<Attribute> attributes;
    bool has_data = false;
    uint64_t payload_offset = 0;
    uint64_t payload_length = 0;
    const uint8_t *bytes = nullptr; // bytes [gap, end) of the input

    const Attribute *find(uint16_t id) const;
    // Bytes [from, to) of the input within [gap, end).
    Bytes slice(uint64_t from, uint64_t to) const
    {
        return Bytes(bytes + (from - gap), static_cast<size_t>(to - from));
    }
    Bytes payload() const
    {
        return slice(payload_offset, payload_offset + payload_length);
    }
};

class CommandReader
{
  public:
    explicit CommandReader(ByteSource &source, size_t window = 1u << 20);

    // Reads PJL and the stream header; false (with error()) when the input
    // does not open as PCL XL.
    bool open();
    // Decodes the attribute lists of these operators only (all by default):
    // the others come with no attributes, which saves most of the work.
    void decodeOnly(const std::vector<uint8_t> &ops);
    const StreamHeader &header() const
    {
        return header_;
    }
    // The first byte after the stream header.
    uint64_t bodyBegin() const
    {
        return body_;
    }

    // The next command; false at the end of the commands (see trailer()) or
    // at a fault (see error()).
    bool next(StreamCommand &command);
    // Where the commands end: the universal exit command and PJL after them,
    // or the end of the input (whitespace after the last command included).
    uint64_t trailer() const
    {
        return trailer_;
    }
    const std::optional<Error> &error() const
    {
        return error_;
    }
    // The most bytes the window has held.
    size_t peakWindow() const
    {
        return peak_;
    }

  private:
    // Makes input bytes [pos, pos + n) available in the window; false at the
    // end of the input (or a read fault, then with error_ set).
    bool need(uint64_t pos, size_t n)
    {
        // Asked for every byte the reader looks at: mostly in the window already.
        return (pos >= start_ && pos - start_ <= window_.size() && n <= window_.size() - (pos - start_)) ||
               needMore(pos, n);
    }
    bool needMore(uint64_t pos, size_t n);
    const uint8_t *at(uint64_t pos) const
    {
        return window_.data() + (pos - start_);
    }
    bool fail(uint64_t pos, std::string reason);
    bool nextInWindow(StreamCommand &command, const detail::ByteKind *kinds, Endian endian);
    void decodeAttributes(StreamCommand &command);

    ByteSource &source_;
    uint64_t size_ = 0;
    size_t chunk_;
    std::vector<bool> decode_;
    std::vector<uint8_t> window_;
    uint64_t start_ = 0; // input offset of window_[0]
    uint64_t pos_ = 0;   // where the next command's gap begins
    uint64_t body_ = 0;
    uint64_t trailer_ = 0;
    bool done_ = false;
    StreamHeader header_;
    std::optional<Error> error_;
    size_t peak_ = 0;
};

} // namespace pclxl
