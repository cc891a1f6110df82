// The later pages of a document read by a second pass on a thread of its
// own, while the first pass reads up to where it began: a document checked
// page by page keeps one processor busy, a machine has more.
#pragma once

#include "spoolsim.h"

#include "pclxl/documentstream.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

namespace jobtool
{

class SecondPass
{
  public:
    // Starts reading source from offset (where a page is thought to begin)
    // with handler, the check in its state at point.
    SecondPass(std::unique_ptr<pclxl::ByteSource> source, std::shared_ptr<const pclxl::PassPoint> point,
               uint64_t offset, pclxl::DocumentHandler &handler);
    ~SecondPass(); // abandons the pass if it runs, and waits for its thread
    SecondPass(const SecondPass &) = delete;
    SecondPass &operator=(const SecondPass &) = delete;

    uint64_t Offset() const
    {
        return offset_;
    }
    // The pass is of no use: it stops at its next page end.
    void Abandon();
    // Waits for the pass to end, telling progress (the bytes read up to,
    // the pages found) meanwhile. Its summary (with the fault it found, a
    // read fault too), or nothing when it threw (memory running out).
    std::optional<pclxl::DocumentSummary> Wait(const std::function<void(uint64_t, size_t)> &progress);

  private:
    class Watch;
    void Work();

    std::unique_ptr<pclxl::ByteSource> source_;
    std::shared_ptr<const pclxl::PassPoint> point_;
    uint64_t offset_;
    std::unique_ptr<Watch> watch_;
    std::optional<pclxl::DocumentSummary> summary_;
    std::atomic<bool> abandoned_{false};
    std::atomic<bool> done_{false};
    std::atomic<uint64_t> read_{0};
    std::atomic<size_t> pages_{0};
    std::unique_ptr<spoolsim::Thread> thread_; // last: it starts when everything else is ready
};

} // namespace jobtool
