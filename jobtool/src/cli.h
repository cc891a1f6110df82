// The job tool's command line: make, run and explain.
#pragma once

#include "person.h"

#include <iosfwd>
#include <string>
#include <vector>

namespace jobtool
{

// Exit codes.
constexpr int kDone = 0;
constexpr int kFailed = 1; // the job was refused or failed, or a file could not be used
constexpr int kUsage = 2;

// Runs the tool with its arguments (without the program name). The hook's
// questions are asked on the terminal that `openTerminal` gives (the
// program's controlling terminal: never standard input and output, which
// may be files); without one, only --answer can answer them.
int Main(const std::vector<std::string> &args, std::ostream &out, std::ostream &err,
         const TerminalOpener &openTerminal = nullptr);

// A path the hook can open: Windows paths stay as they are, host paths
// become absolute paths under Z:\, where both builds see the host's root.
std::string ToWindowsPath(const std::string &path);

} // namespace jobtool
