#include "progress.h"

#include <windows.h>

#include <cstdio>

#ifdef _WIN32
#include <io.h>
#define isatty _isatty
#define fileno _fileno
#else
#include <unistd.h>
#endif

namespace jobtool
{

namespace
{

std::string Megabytes(uint64_t bytes)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", static_cast<double>(bytes) / 1e6);
    return text;
}

} // namespace

std::string ProgressLine(const std::string &what, uint64_t bytes, uint64_t totalBytes, size_t pages, size_t totalPages,
                         double seconds)
{
    std::string line = what + ": ";
    if (pages > 0 || totalPages > 0)
    {
        line += std::to_string(pages) + (totalPages > 0 ? " of " + std::to_string(totalPages) : std::string()) +
                (totalPages == 1 || (totalPages == 0 && pages == 1) ? " page, " : " pages, ");
    }
    line += Megabytes(bytes) + (totalBytes > 0 ? " of " + Megabytes(totalBytes) : std::string()) + " MB";
    if (seconds > 0)
    {
        line += ", " + Megabytes(static_cast<uint64_t>(static_cast<double>(bytes) / seconds)) + " MB/s";
    }
    return line;
}

Progress::Progress(std::string what, uint64_t totalBytes, size_t totalPages)
    : what_(std::move(what)), totalBytes_(totalBytes), totalPages_(totalPages), on_(isatty(fileno(stderr)) != 0),
      start_(Clock::now()), last_(start_)
{
}

Progress::~Progress()
{
    if (drawn_)
    {
        std::fputs("\r\033[K", stderr);
        std::fflush(stderr);
    }
}

void Progress::Update(uint64_t bytes, size_t pages)
{
    if (!on_)
    {
        return;
    }
    const Clock::time_point now = Clock::now();
    // Short work shows nothing; long work a line redrawn four times a second.
    if (now - start_ < std::chrono::seconds(1) || now - last_ < std::chrono::milliseconds(250))
    {
        return;
    }
    last_ = now;
    const double seconds = std::chrono::duration<double>(now - start_).count();
    const std::string line = ProgressLine(what_, bytes, totalBytes_, pages, totalPages_, seconds);
    std::fprintf(stderr, "\r%s\033[K", line.c_str());
    std::fflush(stderr);
    drawn_ = true;
}

void WaitUntil(const std::atomic<bool> &done, const std::function<void()> &tick)
{
    for (unsigned waited = 0; !done.load(); waited++)
    {
        if (waited % 20 == 0)
        {
            tick();
        }
        Sleep(1);
    }
}

} // namespace jobtool
