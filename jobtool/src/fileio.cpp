#include "fileio.h"

#include "jobfile.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <system_error>

#ifdef _WIN32
#include <io.h>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

#ifdef _WIN32
#include <windows.h>
#endif

namespace jobtool
{

namespace
{

namespace fs = std::filesystem;

const char *KindOf(fs::file_type type)
{
    switch (type)
    {
    case fs::file_type::directory:
        return "a folder";
    case fs::file_type::character:
        return "a character device";
    case fs::file_type::block:
        return "a block device";
    case fs::file_type::fifo:
        return "a FIFO (named pipe)";
    case fs::file_type::socket:
        return "a socket";
    default:
        return "not a regular file";
    }
}

struct FileCloser
{
    void operator()(std::FILE *f) const
    {
        std::fclose(f);
    }
};

} // namespace

std::string SystemReason(int error)
{
    return std::generic_category().message(error);
}

namespace
{
std::string CheckReadableUpTo(const std::string &path, uint64_t maxBytes, const char *limit);
}

std::string CheckReadable(const std::string &path)
{
    return CheckReadableUpTo(path, kMaxFileBytes, "a print job can hold");
}

std::string CheckPrintedReadable(const std::string &path)
{
    return CheckReadableUpTo(path, kMaxPrintedBytes, "this build of the tool can read");
}

namespace
{
std::string CheckReadableUpTo(const std::string &path, uint64_t maxBytes, const char *limit)
{
    std::error_code ec;
    const fs::file_status st = fs::status(FsPath(path), ec);
    if (ec)
    {
        return "cannot open " + path + ": " + ec.message();
    }
    if (st.type() == fs::file_type::not_found)
    {
        return "cannot open " + path + ": " + SystemReason(ENOENT);
    }
    if (st.type() == fs::file_type::directory)
    {
        return "cannot read " + path + ": " + SystemReason(EISDIR);
    }
    if (st.type() != fs::file_type::regular)
    {
        return "cannot read " + path + ": it is " + KindOf(st.type()) + ", not a file";
    }
    const uintmax_t size = fs::file_size(FsPath(path), ec);
    if (ec)
    {
        return "cannot read " + path + ": " + ec.message();
    }
    if (size > maxBytes)
    {
        return "cannot read " + path + ": it holds " + std::to_string(size) + " bytes, more than the " +
               std::to_string(maxBytes) + " " + limit;
    }
    return std::string();
}
} // namespace

std::filesystem::path FsPath(const std::string &utf8)
{
    return std::filesystem::u8path(utf8);
}

std::string Utf8Path(const std::filesystem::path &path)
{
    return path.u8string();
}

std::FILE *OpenFile(const std::string &path, const char *mode)
{
#ifdef _WIN32
    auto widen = [](const std::string &s) {
        const int cch = MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), nullptr, 0);
        std::wstring w(cch > 0 ? static_cast<size_t>(cch) : 0, L'\0');
        if (cch > 0)
        {
            MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), &w[0], cch);
        }
        return w;
    };
    const std::wstring wide = widen(path);
    if (wide.empty() && !path.empty())
    {
        errno = EINVAL;
        return nullptr;
    }
    return _wfopen(wide.c_str(), widen(mode).c_str());
#else
    return std::fopen(path.c_str(), mode);
#endif
}

int RemoveFile(const std::string &path)
{
#ifdef _WIN32
    return _wremove(FsPath(path).c_str());
#else
    return std::remove(path.c_str());
#endif
}

int RenameFile(const std::string &from, const std::string &to)
{
#ifdef _WIN32
    return _wrename(FsPath(from).c_str(), FsPath(to).c_str());
#else
    return std::rename(from.c_str(), to.c_str());
#endif
}

std::optional<Bytes> ReadFile(const std::string &path, std::string &error)
{
    error = CheckReadable(path);
    if (!error.empty())
    {
        return std::nullopt;
    }
    errno = 0;
    std::unique_ptr<std::FILE, FileCloser> f(OpenFile(path, "rb"));
    if (!f)
    {
        error = "cannot open " + path + ": " + SystemReason(errno);
        return std::nullopt;
    }
    Bytes data;
    uint8_t chunk[65536];
    for (;;)
    {
        const size_t n = std::fread(chunk, 1, sizeof(chunk), f.get());
        if (data.size() + n > kMaxFileBytes)
        {
            error = "cannot read " + path + ": it grew beyond " + std::to_string(kMaxFileBytes) + " bytes";
            return std::nullopt;
        }
        data.insert(data.end(), chunk, chunk + n);
        if (n < sizeof(chunk))
        {
            break;
        }
    }
    if (std::ferror(f.get()))
    {
        error = "cannot read " + path + ": " + SystemReason(errno != 0 ? errno : EIO);
        return std::nullopt;
    }
    return data;
}

std::optional<spoolsim::Job> ReadJobFile(const std::string &path, std::string &error)
{
    std::optional<Bytes> data = ReadFile(path, error);
    if (!data)
    {
        return std::nullopt;
    }
    spoolsim::LoadedJob loaded = spoolsim::LoadJob(*data);
    if (!loaded.job)
    {
        error = path + ": not a job file: " + loaded.error;
    }
    return std::move(loaded.job);
}

bool OpenJobFile(const std::string &path, spoolsim::JobFileSteps &steps, std::string &error)
{
    error = CheckReadable(path);
    if (!error.empty())
    {
        return false;
    }
    std::string why;
    if (!steps.Open(path, why))
    {
        error = steps.Refused() ? path + ": not a job file: " + why : why;
        return false;
    }
    return true;
}

bool WriteFile(const std::string &path, const Bytes &data, std::string &error)
{
    errno = 0;
    std::FILE *f = OpenFile(path, "wb");
    if (f == nullptr)
    {
        error = "cannot write " + path + ": " + SystemReason(errno);
        return false;
    }
    const bool written = std::fwrite(data.data(), 1, data.size(), f) == data.size() && std::fflush(f) == 0;
    const int writeError = errno;
    const bool closed = std::fclose(f) == 0;
    if (!written || !closed)
    {
        const int reason = !written ? writeError : errno;
        error = "cannot write " + path + ": " + SystemReason(reason != 0 ? reason : EIO);
        // A partial file would pass for a whole one; a device stays.
        std::error_code ec;
        if (fs::is_regular_file(FsPath(path), ec))
        {
            fs::remove(FsPath(path), ec);
        }
        return false;
    }
    return true;
}

bool SameFile(const std::string &a, const std::string &b)
{
    std::error_code ec;
    return fs::equivalent(FsPath(a), FsPath(b), ec) && !ec;
}

std::string Stem(const std::string &path)
{
    return Utf8Path(FsPath(path).stem());
}

bool SyncToDisk(std::FILE *f)
{
#ifdef _WIN32
    return _commit(_fileno(f)) == 0;
#else
    return ::fsync(::fileno(f)) == 0;
#endif
}

WriteBehind::~WriteBehind()
{
    if (file_ != nullptr)
    {
        std::fclose(file_);
    }
}

void WriteBehind::Written(uint64_t upTo)
{
#ifdef _WIN32
    (void)upTo; // an open handle would keep the file from being renamed
#else
    if (failed_ || upTo <= started_)
    {
        return;
    }
    if (file_ == nullptr)
    {
        file_ = OpenFile(path_, "rb");
        failed_ = file_ == nullptr; // the sync at the end says why, if it fails too
    }
    // Only a start: a failure shows in the sync at the end.
    if (file_ != nullptr && ::sync_file_range(::fileno(file_), static_cast<off_t>(started_),
                                              static_cast<off_t>(upTo - started_), SYNC_FILE_RANGE_WRITE) != 0)
    {
        failed_ = true;
    }
    started_ = upTo;
#endif
}

bool SyncFileToDisk(const std::string &path)
{
    std::FILE *f = OpenFile(path, "ab");
    if (f == nullptr)
    {
        return false;
    }
    bool ok = SyncToDisk(f);
    int why = errno;
    if (std::fclose(f) != 0 && ok)
    {
        ok = false;
        why = errno;
    }
    errno = why;
    return ok;
}

} // namespace jobtool
