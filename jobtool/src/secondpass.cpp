#include "secondpass.h"

#include "progress.h"

namespace jobtool
{

// Hands everything to the handler, stops at a page end once abandoned, and
// counts for the progress.
class SecondPass::Watch : public pclxl::DocumentHandler
{
  public:
    Watch(SecondPass &owner, pclxl::DocumentHandler &inner) : owner_(owner), inner_(inner)
    {
    }
    bool wantsCommandTokens() const override
    {
        return inner_.wantsCommandTokens();
    }
    void onToken(const pclxl::Token &token, const uint8_t *bytes) override
    {
        inner_.onToken(token, bytes);
    }
    void onCommand(const pclxl::Command &command, const uint8_t *bytes) override
    {
        inner_.onCommand(command, bytes);
    }
    void onStream(const pclxl::StreamDefinition &stream) override
    {
        inner_.onStream(stream);
    }
    void onPage(const pclxl::Page &page, const uint8_t *bytes) override
    {
        inner_.onPage(page, bytes);
        owner_.pages_++;
    }
    bool takesRepeatedPages() const override
    {
        return inner_.takesRepeatedPages();
    }
    uint64_t repeatState() const override
    {
        return inner_.repeatState();
    }
    bool rememberPage(const pclxl::Page &page) override
    {
        return inner_.rememberPage(page);
    }
    void onRepeatedPage(const pclxl::Page &page, size_t earlier, const uint8_t *bytes) override
    {
        inner_.onRepeatedPage(page, earlier, bytes);
        owner_.pages_++;
    }
    bool wantsPageEnds() const override
    {
        return true;
    }
    void onPageEnd(pclxl::PageEnd &end) override
    {
        if (owner_.abandoned_.load())
        {
            end.stop();
            return;
        }
        inner_.onPageEnd(end);
    }
    void onBytes(uint64_t offset, const uint8_t *bytes, size_t size) override
    {
        inner_.onBytes(offset, bytes, size);
        owner_.read_.store(offset + size);
    }

  private:
    SecondPass &owner_;
    pclxl::DocumentHandler &inner_;
};

SecondPass::SecondPass(std::unique_ptr<pclxl::ByteSource> source, std::shared_ptr<const pclxl::PassPoint> point,
                       uint64_t offset, pclxl::DocumentHandler &handler)
    : source_(std::move(source)), point_(std::move(point)), offset_(offset),
      watch_(std::make_unique<Watch>(*this, handler)), read_(offset)
{
    thread_ = std::make_unique<spoolsim::Thread>([this] { Work(); });
}

SecondPass::~SecondPass()
{
    Abandon();
    thread_->Join();
}

void SecondPass::Abandon()
{
    abandoned_.store(true);
}

void SecondPass::Work()
{
    try
    {
        pclxl::DocumentStream stream(*source_);
        stream.keepPages(true);
        pclxl::DocumentSummary s = stream.resume(*point_, offset_, *watch_);
        if (!s.stopped) // abandoned: not the rest of the document
        {
            summary_ = std::move(s);
        }
    }
    catch (...)
    {
        summary_.reset(); // the first pass reads these pages itself
    }
    done_.store(true);
}

std::optional<pclxl::DocumentSummary> SecondPass::Wait(const std::function<void(uint64_t, size_t)> &progress)
{
    WaitUntil(done_, [&] {
        if (progress)
        {
            progress(read_.load(), pages_.load());
        }
    });
    thread_->Join();
    return summary_;
}

} // namespace jobtool
