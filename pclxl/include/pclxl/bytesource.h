// Where a transform reads its input and writes its output: a document held
// in memory or a file read at any offset, and bytes appended to a vector or
// a file. Transforms read a document more than once, a window at a time, so
// that a file of any size goes through in bounded memory.
#pragma once

#include "pclxl/reader.h"

#include <cstdint>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

namespace pclxl
{

class ByteSource
{
  public:
    virtual ~ByteSource() = default;
    virtual uint64_t size() const = 0;
    // Exactly n bytes from offset into out; false (with error()) when they
    // cannot be read.
    virtual bool read(uint64_t offset, uint8_t *out, size_t n) = 0;
    // A source still being written (a document the printer is receiving,
    // read as it comes): its size is known only once await() has said that
    // it ended.
    virtual bool growing() const
    {
        return false;
    }
    // Waits until the source holds `want` bytes or more, or has ended;
    // returns how many it holds, with *ended set when that is all of it.
    virtual uint64_t await(uint64_t want, bool *ended)
    {
        (void)want;
        *ended = true;
        return size();
    }
    virtual std::string error() const
    {
        return std::string();
    }
    // Another reader of the same bytes, for another thread; null when there
    // can be none.
    virtual std::unique_ptr<ByteSource> twin() const
    {
        return nullptr;
    }
};

class MemorySource : public ByteSource
{
  public:
    explicit MemorySource(Bytes data) : data_(data)
    {
    }
    uint64_t size() const override
    {
        return data_.size;
    }
    bool read(uint64_t offset, uint8_t *out, size_t n) override;
    std::unique_ptr<ByteSource> twin() const override
    {
        return std::make_unique<MemorySource>(data_);
    }

  private:
    Bytes data_;
};

class FileSource : public ByteSource
{
  public:
    explicit FileSource(const std::string &path);
    bool ok() const
    {
        return error_.empty();
    }
    uint64_t size() const override
    {
        return size_;
    }
    bool read(uint64_t offset, uint8_t *out, size_t n) override;
    std::string error() const override
    {
        return error_;
    }
    std::unique_ptr<ByteSource> twin() const override
    {
        return std::make_unique<FileSource>(path_);
    }

  private:
    std::ifstream file_;
    uint64_t size_ = 0;
    std::string path_;
    std::string error_;
};

class ByteSink
{
  public:
    virtual ~ByteSink() = default;
    // false (with error()) when the bytes could not all be written.
    virtual bool write(const uint8_t *data, size_t n) = 0;
    virtual std::string error() const
    {
        return std::string();
    }
};

class VectorSink : public ByteSink
{
  public:
    bool write(const uint8_t *data, size_t n) override
    {
        bytes.insert(bytes.end(), data, data + n);
        return true;
    }
    std::vector<uint8_t> bytes;
};

class FileSink : public ByteSink
{
  public:
    // buffer: bytes gathered before each write to the system (0: none
    // gathered here; the stream writes a piece of a kilobyte or more at once).
    explicit FileSink(const std::string &path, size_t buffer = 0);
    // Closes what was not closed, as close() does.
    ~FileSink() override;
    FileSink(const FileSink &) = delete;
    FileSink &operator=(const FileSink &) = delete;
    bool ok() const
    {
        return error_.empty();
    }
    bool write(const uint8_t *data, size_t n) override;
    // Hands what was written to the system, where readers of the file see
    // it; false when it could not be written.
    bool flush();
    // Flushes and closes; false when the last bytes could not be written.
    bool close();
    std::string error() const override
    {
        return error_;
    }

  private:
    bool writeGathered();
    size_t buffer_ = 0;
    std::vector<char> gathered_;
    std::ofstream file_;
    std::string path_;
    std::string error_;
};

} // namespace pclxl
