#include "pclxl/bytesource.h"

#include <cerrno>
#include <cstring>
#include <filesystem>

namespace pclxl
{

namespace
{

// ": <the system's words>" for the last failed file operation, if it said.
std::string SystemReason()
{
    return errno != 0 ? std::string(": ") + std::strerror(errno) : std::string();
}

} // namespace

bool MemorySource::read(uint64_t offset, uint8_t *out, size_t n)
{
    if (offset > data_.size || n > data_.size - offset)
    {
        return false;
    }
    if (n > 0)
    {
        std::memcpy(out, data_.data + offset, n);
    }
    return true;
}

FileSource::FileSource(const std::string &path) : path_(path)
{
    errno = 0;
    file_.open(std::filesystem::u8path(path), std::ios::binary); // UTF-8 on both builds
    if (!file_)
    {
        error_ = "cannot open " + path + SystemReason();
        return;
    }
    file_.seekg(0, std::ios::end);
    const std::streamoff end = file_.tellg();
    if (end < 0)
    {
        error_ = "cannot find the size of " + path;
        return;
    }
    size_ = static_cast<uint64_t>(end);
}

bool FileSource::read(uint64_t offset, uint8_t *out, size_t n)
{
    // size(): a file still being written (a subclass) is read as far as it is known.
    const uint64_t known = size();
    if (!error_.empty() || offset > known || n > known - offset)
    {
        return false;
    }
    errno = 0;
    file_.clear();
    file_.seekg(static_cast<std::streamoff>(offset));
    file_.read(reinterpret_cast<char *>(out), static_cast<std::streamsize>(n));
    if (static_cast<size_t>(file_.gcount()) != n)
    {
        error_ = "cannot read " + path_ + " at offset " + std::to_string(offset) + SystemReason();
        return false;
    }
    return true;
}

FileSink::FileSink(const std::string &path, size_t buffer) : buffer_(buffer), path_(path)
{
    // The stream's own buffer takes no piece of a kilobyte or more: what is
    // gathered is gathered here.
    gathered_.reserve(buffer);
    errno = 0;
    file_.open(std::filesystem::u8path(path), std::ios::binary | std::ios::trunc);
    if (!file_)
    {
        error_ = "cannot write " + path + SystemReason();
    }
}

FileSink::~FileSink()
{
    close();
}

bool FileSink::writeGathered()
{
    if (gathered_.empty())
    {
        return true;
    }
    errno = 0;
    file_.write(gathered_.data(), static_cast<std::streamsize>(gathered_.size()));
    gathered_.clear();
    if (!file_)
    {
        error_ = "cannot write " + path_ + SystemReason();
        return false;
    }
    return true;
}

bool FileSink::write(const uint8_t *data, size_t n)
{
    if (!error_.empty())
    {
        return false;
    }
    if (n < buffer_)
    {
        if (gathered_.size() + n > buffer_ && !writeGathered())
        {
            return false;
        }
        gathered_.insert(gathered_.end(), data, data + n);
        return true;
    }
    if (!writeGathered())
    {
        return false;
    }
    errno = 0;
    file_.write(reinterpret_cast<const char *>(data), static_cast<std::streamsize>(n));
    if (!file_)
    {
        error_ = "cannot write " + path_ + SystemReason();
        return false;
    }
    return true;
}

bool FileSink::flush()
{
    if (!error_.empty() || !writeGathered())
    {
        return false;
    }
    errno = 0;
    file_.flush();
    if (!file_)
    {
        error_ = "cannot write " + path_ + SystemReason();
        return false;
    }
    return true;
}

bool FileSink::close()
{
    if (file_.is_open())
    {
        if (error_.empty())
        {
            writeGathered();
        }
        file_.close();
        if (!file_ && error_.empty())
        {
            error_ = "cannot write " + path_;
        }
    }
    return error_.empty();
}

} // namespace pclxl
