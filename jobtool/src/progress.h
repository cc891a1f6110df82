// Progress of long work, on a terminal only: "explain out-1.pxl: 812 of
// 1515 pages, 512.0 of 954.3 MB, 143.2 MB/s" redrawn in place on stderr, at
// most a few times a second, from the second second on. Nothing at all when
// stderr is not a terminal (a log, a pipe, the tests).
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace jobtool
{

class Progress
{
  public:
    // totalBytes/totalPages 0: not known.
    Progress(std::string what, uint64_t totalBytes, size_t totalPages = 0);
    ~Progress(); // clears the line
    Progress(const Progress &) = delete;
    Progress &operator=(const Progress &) = delete;

    void Update(uint64_t bytes, size_t pages);

    // Whether anything is shown (stderr is a terminal).
    bool Shown() const
    {
        return on_;
    }

  private:
    using Clock = std::chrono::steady_clock;

    std::string what_;
    uint64_t totalBytes_;
    size_t totalPages_;
    bool on_;
    bool drawn_ = false;
    Clock::time_point start_, last_;
};

// Waits until done is set, looking every millisecond (the result is wanted
// the moment it is there, and the Windows build's threads have no condition
// variables), calling tick now and then: to draw progress meanwhile.
void WaitUntil(const std::atomic<bool> &done, const std::function<void()> &tick);

// The line Progress draws, without its carriage return: for the tests.
std::string ProgressLine(const std::string &what, uint64_t bytes, uint64_t totalBytes, size_t pages, size_t totalPages,
                         double seconds);

} // namespace jobtool
