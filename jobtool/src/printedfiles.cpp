#include "printedfiles.h"

#include "faultpoint.h"
#include "fileio.h"
#include "liveexplain.h"
#include "pclxl/protocol.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <new>

namespace jobtool
{

PrintedFiles::PrintedFiles(const std::string &folder, const std::string &stem) : folder_(folder), stem_(stem)
{
}

PrintedFiles::~PrintedFiles() = default;

// A document's number among the printer's documents is known only when it
// ends (a watermark job's file comes in between): it is written under its
// index in the run and renamed then.
std::string PrintedFiles::PartPath(size_t document) const
{
    return Utf8Path(FsPath(folder_) / FsPath(stem_ + "-document" + std::to_string(document) + ".part"));
}

std::function<void(const char *)> g_faultPoint;

// How much a followed document's reader may fall behind what is written
// before the writer flushes for it.
const uint64_t kPublishEvery = 1u << 20;
// How much of a document is written before it is handed to the disk.
const uint64_t kToDiskEvery = 8u << 20;

bool PrintedFiles::Write(size_t document, const BYTE *data, DWORD size)
{
    if (outOfMemory_)
    {
        return false; // the document has a gap from here: nothing more goes in
    }
    try
    {
        FaultPoint("printed write");
        Open &f = files_[document];
        if (!f.sink)
        {
            f.path = PartPath(document);
            f.sink = std::make_unique<pclxl::FileSink>(f.path);
        }
        if (!f.sink->write(data, size))
        {
            error_ = error_.empty() ? f.sink->error() : error_;
            return false;
        }
        f.size += size;
        // A write that ends with what may be a page's end goes to the
        // reader at once: the last page's end may be all there is for a
        // while (the reader then begins a second pass; see the page map).
        // And the document goes to the disk as it comes: the sync that makes
        // it durable at its end then has little left to wait for.
        const bool pageEnd = size > 0 && data[size - 1] == pclxl::op::EndPage;
        const bool publish = f.live && (f.size - f.published >= kPublishEvery || pageEnd);
        const bool toDisk = f.size - f.toDisk >= kToDiskEvery;
        if ((publish || toDisk) && !f.sink->flush())
        {
            error_ = error_.empty() ? f.sink->error() : error_;
            return false;
        }
        if (publish)
        {
            f.live->Published(f.size);
            f.published = f.size;
        }
        if (toDisk)
        {
            if (!f.disk)
            {
                f.disk = std::make_unique<WriteBehind>(f.path);
            }
            f.disk->Written(f.size);
            f.toDisk = f.size;
        }
        return true;
    }
    catch (const std::bad_alloc &)
    {
        outOfMemory_ = true;
        return false;
    }
}

void PrintedFiles::Follow(size_t document, LiveExplain *live)
{
    auto found = files_.find(document);
    if (found != files_.end() && found->second.sink)
    {
        found->second.live = live;
    }
}

std::string PrintedFiles::PartOf(size_t document) const
{
    auto found = files_.find(document);
    return found != files_.end() && found->second.sink ? found->second.path : std::string();
}

size_t PrintedFiles::Newest() const
{
    return files_.empty() ? SIZE_MAX : files_.rbegin()->first;
}

bool PrintedFiles::Complete(int number, bool keep, Printed &p, const std::function<void(bool kept)> &settle)
{
    p = Printed();
    auto newest = files_.rbegin();
    if (newest == files_.rend() || !newest->second.sink)
    {
        return true; // nothing reached the printer
    }
    Open &f = newest->second;
    p.size = f.size;
    const bool closed = f.sink->close();
    if (!closed)
    {
        error_ = f.sink->error();
    }
    f.sink.reset();
    f.disk.reset(); // its handle must not keep the file from being renamed or removed
    const bool followed = f.live != nullptr;
    if (followed)
    {
        f.live->Published(f.size);
        f.live->Ended();
        f.live = nullptr;
    }
    if (keep && closed && followed)
    {
        // Made durable while its reader finishes: delivery's own sync then
        // has little left to write (and finds a fault again).
        (void)SyncFileToDisk(f.path);
    }
    if (settle)
    {
        settle(keep && closed);
    }
    if (!keep || !closed)
    {
        RemoveFile(f.path); // dropped by the spooler, or cut short
        f.path.clear();
        return closed;
    }
    const std::string path = Utf8Path(FsPath(folder_) / FsPath(stem_ + "-" + std::to_string(number) + ".pxl"));
    // A file of an earlier run goes first (renaming onto it fails on
    // Windows); anything else under the name stays, and the document fails.
    std::error_code ec;
    if (std::filesystem::is_directory(FsPath(path), ec))
    {
        error_ = "cannot write " + path + ": " + std::strerror(EISDIR);
        RemoveFile(f.path);
        f.path.clear();
        return false;
    }
    RemoveFile(path);
    errno = 0;
    if (RenameFile(f.path, path) != 0)
    {
        error_ = "cannot write " + path + ": " + std::strerror(errno);
        RemoveFile(f.path);
        f.path.clear();
        return false;
    }
    f.path = path;
    p.path = path;
    return true;
}

void PrintedFiles::DiscardUnfinished()
{
    for (auto &[index, f] : files_)
    {
        f.live = nullptr;
        if (f.sink)
        {
            f.sink.reset();
            f.disk.reset();
            RemoveFile(f.path);
            f.path.clear();
        }
    }
}

std::vector<std::string> PrintedFiles::Written() const
{
    std::vector<std::string> paths;
    for (const auto &[index, f] : files_)
    {
        if (!f.path.empty())
        {
            paths.push_back(f.path);
        }
    }
    return paths;
}

} // namespace jobtool
