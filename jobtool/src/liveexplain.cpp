#include "liveexplain.h"

#include "faultpoint.h"
#include "fileio.h"
#include "progress.h"

#include <cerrno>
#include <fstream>

namespace jobtool
{

// The file as far as the writer has published it. A reader that is ahead of
// the writer waits a millisecond at a time: it is mostly behind, and the
// toolchain of the Windows build has no condition variables.
class LiveExplain::Source : public pclxl::ByteSource
{
  public:
    explicit Source(LiveExplain &live) : live_(live)
    {
        errno = 0;
        file_.open(FsPath(live.path_), std::ios::binary);
        if (!file_)
        {
            error_ = "cannot open " + live.path_ + ": " + SystemReason(errno);
        }
    }
    bool growing() const override
    {
        return true;
    }
    uint64_t size() const override
    {
        return live_.published_.load();
    }
    uint64_t await(uint64_t want, bool *ended) override
    {
        for (;;)
        {
            // Ended before published: what Ended() publishes last is then all.
            const bool over = live_.ended_.load() || live_.abandoned_.load() || !error_.empty();
            const uint64_t held = live_.published_.load();
            if (over || held >= want)
            {
                *ended = over;
                return held;
            }
            Sleep(1);
        }
    }
    bool read(uint64_t offset, uint8_t *out, size_t n) override
    {
        if (live_.abandoned_.load())
        {
            error_ = "the document was dropped before it was read";
        }
        if (!error_.empty())
        {
            return false;
        }
        errno = 0;
        file_.clear();
        file_.seekg(static_cast<std::streamoff>(offset));
        file_.read(reinterpret_cast<char *>(out), static_cast<std::streamsize>(n));
        if (static_cast<size_t>(file_.gcount()) != n)
        {
            error_ = "cannot read " + live_.path_ + " at offset " + std::to_string(offset) + ": " + SystemReason(errno);
            return false;
        }
        return true;
    }
    std::string error() const override
    {
        return error_;
    }

  private:
    LiveExplain &live_;
    std::ifstream file_;
    std::string error_;
};

LiveExplain::LiveExplain(const std::string &path, const Reference &reference)
    : path_(path), reference_(reference), owner_(GetCurrentThreadId())
{
    FaultPoint("live explain");
    thread_ = std::make_unique<spoolsim::Thread>([this] { Work(); });
}

LiveExplain::~LiveExplain()
{
    if (!done_.load())
    {
        Abandon();
    }
    thread_->Join();
}

void LiveExplain::Published(uint64_t bytes)
{
    published_.store(bytes);
}

void LiveExplain::Ended()
{
    ended_.store(true);
}

void LiveExplain::Abandon()
{
    abandoned_.store(true);
}

void LiveExplain::Work()
{
    if (GetCurrentThreadId() == owner_)
    {
        // No thread could be had, and this is the writer's: Result reads
        // the document once it is written.
        afterwards_ = true;
        done_.store(true);
        return;
    }
    try
    {
        PageMap map;
        std::string readError;
        {
            Source source(*this);
            ExplainHooks hooks;
            hooks.progress = [this](uint64_t bytes, size_t pages) {
                read_.store(bytes);
                pages_.store(pages);
            };
            map = Explain(source, reference_, hooks);
            readError = source.error();
        }
        map_ = std::move(map);
        readError_ = std::move(readError);
    }
    catch (...)
    {
        failure_ = std::current_exception();
    }
    done_.store(true);
}

PageMap LiveExplain::Result(const std::string &what, std::string *readError)
{
    {
        Progress progress(what, published_.load());
        while (!done_.load())
        {
            progress.Update(read_.load(), pages_.load());
            Sleep(20);
        }
    }
    thread_->Join();
    if (afterwards_)
    {
        pclxl::FileSource source(path_);
        Progress progress(what, source.size());
        ExplainHooks hooks;
        hooks.progress = [&progress](uint64_t bytes, size_t pages) { progress.Update(bytes, pages); };
        PageMap map = Explain(source, reference_, hooks);
        *readError = source.error();
        return map;
    }
    if (failure_)
    {
        std::rethrow_exception(failure_);
    }
    *readError = readError_;
    return std::move(map_);
}

} // namespace jobtool
