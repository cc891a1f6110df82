// The person's terminal: where questions are asked and answered. It is the
// controlling terminal itself, not standard input and output, so that a
// question still reaches the person when the report goes to a file or pipe.
#pragma once

#include <memory>
#include <string>

namespace jobtool
{

class Terminal
{
  public:
    virtual ~Terminal() = default;
    // False when the terminal no longer takes text.
    virtual bool Write(const std::string &text) = 0;
    // One line without its end; false at end of input (Ctrl-D) or when the
    // terminal is gone. A line longer than kMostLine is cut there.
    virtual bool ReadLine(std::string &line) = 0;

    static constexpr size_t kMostLine = 1024;
};

// The controlling terminal; null, and why, when the tool has none.
std::unique_ptr<Terminal> OpenTerminal(std::string &why);

} // namespace jobtool
