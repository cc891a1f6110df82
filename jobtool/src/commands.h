// The job tool's commands, each given its arguments (without the command's
// name). They throw UsageError for a command line that cannot be used.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

namespace jobtool
{

int Make(const std::vector<std::string> &argv, std::ostream &out, std::ostream &err);
int Run(const std::vector<std::string> &argv, std::istream &in, std::ostream &out, std::ostream &err, bool terminal);
int ExplainCommand(const std::vector<std::string> &argv, std::ostream &out, std::ostream &err);

} // namespace jobtool
