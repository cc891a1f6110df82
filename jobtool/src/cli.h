// The job tool's command line: make, run and explain.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

namespace jobtool
{

// Exit codes.
constexpr int kDone = 0;
constexpr int kFailed = 1; // the job was refused or failed, or a file could not be used
constexpr int kUsage = 2;

// Runs the tool with its arguments (without the program name). Answers to
// message boxes are read from `in` unless --answer gives them; when `in` is
// not a terminal, what is read is echoed, as a terminal would have shown it.
int Main(const std::vector<std::string> &args, std::istream &in, std::ostream &out, std::ostream &err,
         bool terminal = false);

// A path the hook can open: Windows paths stay as they are, host paths
// become absolute paths under Z:\, where both builds see the host's root.
std::string ToWindowsPath(const std::string &path);

} // namespace jobtool
