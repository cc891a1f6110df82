#include "delivery.h"

#include "fileio.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

namespace jobtool
{

bool WriteDurably(const std::string &path, const std::vector<uint8_t> &data, std::string &error)
{
    std::FILE *f = OpenFile(path, "wb");
    if (f == nullptr)
    {
        error = "cannot write " + path + ": " + std::strerror(errno);
        return false;
    }
    bool ok = data.empty() || std::fwrite(data.data(), 1, data.size(), f) == data.size();
    int why = errno;
    if (ok && std::fflush(f) != 0)
    {
        ok = false;
        why = errno;
    }
    if (ok && !SyncToDisk(f))
    {
        ok = false;
        why = errno;
    }
    if (std::fclose(f) != 0 && ok)
    {
        ok = false;
        why = errno;
    }
    if (!ok)
    {
        error = "cannot write " + path + ": " + std::strerror(why);
        std::error_code ec;
        std::filesystem::remove(FsPath(path), ec);
    }
    return ok;
}

Delivery::Delivery(std::string dir, std::string stem, std::optional<QueueTarget> queue)
    : m_dir(std::move(dir)), m_stem(std::move(stem)), m_queue(std::move(queue))
{
}

Delivered Delivery::Deliver(int number, const std::vector<uint8_t> &data, const std::string &title)
{
    Delivered d;
    d.number = number;
    const std::string path = Utf8Path(FsPath(m_dir) / FsPath(m_stem + "-" + std::to_string(number) + ".pxl"));
    if (!WriteDurably(path, data, d.error))
    {
        return d;
    }
    d.path = path;
    return Queued(d, title);
}

Delivered Delivery::DeliverFile(int number, const std::string &path, const std::string &title)
{
    Delivered d;
    d.number = number;
    if (!SyncFileToDisk(path))
    {
        const int why = errno;
        d.error = "cannot write " + path + ": " + std::strerror(why);
        std::error_code ec;
        std::filesystem::remove(FsPath(path), ec); // no half document waits for a person
        return d;
    }
    d.path = path;
    return Queued(d, title);
}

Delivered Delivery::Queued(Delivered d, const std::string &title)
{
    if (m_queue)
    {
        d.queue = m_queue->queue;
        QueuedJob job = SendToQueue(*m_queue, d.path, title);
        if (!job.ok)
        {
            d.error = job.error;
            return d;
        }
        d.queueJobId = job.jobId;
    }
    return d;
}

} // namespace jobtool
