#include "liveexplain.h"

#include "faultpoint.h"
#include "progress.h"

namespace jobtool
{

// The file as far as the writer has published it: a file source whose size
// is what was published. A reader that is ahead of the writer waits a
// millisecond at a time: it is mostly behind, and the toolchain of the
// Windows build has no condition variables.
class LiveExplain::Source : public pclxl::FileSource
{
  public:
    explicit Source(LiveExplain &live) : pclxl::FileSource(live.path_), live_(live)
    {
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
            const bool over = live_.ended_.load() || live_.abandoned_.load() || !error().empty();
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
        dropped_ = dropped_ || live_.abandoned_.load();
        return !dropped_ && pclxl::FileSource::read(offset, out, n);
    }
    std::string error() const override
    {
        return dropped_ ? "the document was dropped before it was read" : pclxl::FileSource::error();
    }
    std::unique_ptr<pclxl::ByteSource> twin() const override
    {
        return std::make_unique<Source>(live_);
    }

  private:
    LiveExplain &live_;
    bool dropped_ = false;
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
        WaitUntil(done_, [&] { progress.Update(read_.load(), pages_.load()); });
    }
    thread_->Join();
    if (afterwards_)
    {
        pclxl::FileSource source(path_);
        PageMap map = ExplainWithProgress(source, reference_, what);
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
