// A printed document explained on a thread of its own while the printer
// still receives it: the run's two halves, the hook writing and the page
// map reading, go side by side instead of one after the other.
#pragma once

#include "pagemap.h"
#include "spoolsim.h"

#include <atomic>
#include <cstdint>
#include <exception>
#include <memory>
#include <string>

namespace jobtool
{

class LiveExplain
{
  public:
    // Starts reading the file at path, which the writer goes on writing.
    LiveExplain(const std::string &path, const Reference &reference);
    ~LiveExplain(); // abandons the reading if it has not ended, and waits for the thread
    LiveExplain(const LiveExplain &) = delete;
    LiveExplain &operator=(const LiveExplain &) = delete;

    // The writer's side: the first `bytes` of the file can be read (they
    // are flushed to the system), and then: no more will come.
    void Published(uint64_t bytes);
    void Ended();
    // The document will not be explained (it was dropped or cut short): the
    // reading stops as soon as it can.
    void Abandon();

    // The page map, once the writer has ended: waits for the thread,
    // drawing progress under `what` on a terminal. What the thread threw
    // (memory running out) is thrown here. *readError: why the file could
    // not be read, or empty.
    PageMap Result(const std::string &what, std::string *readError);

  private:
    class Source;
    void Work();

    std::string path_;
    const Reference &reference_;
    DWORD owner_;             // the writer's thread
    bool afterwards_ = false; // no thread of its own: read once written
    std::atomic<uint64_t> published_{0};
    std::atomic<bool> ended_{false};
    std::atomic<bool> abandoned_{false};
    std::atomic<bool> done_{false};
    // For the progress drawn while the result is waited for.
    std::atomic<uint64_t> read_{0};
    std::atomic<size_t> pages_{0};
    PageMap map_;
    std::string readError_;
    std::exception_ptr failure_;
    std::unique_ptr<spoolsim::Thread> thread_; // last: it starts when everything else is ready
};

} // namespace jobtool
