// The job tool's commands, each given its arguments (without the command's
// name). They throw UsageError for a command line that cannot be used.
#pragma once

#include "person.h"

#include <iosfwd>
#include <string>
#include <vector>

namespace jobtool
{

int Make(const std::vector<std::string> &argv, std::ostream &out, std::ostream &err);
// Questions go to the terminal that `openTerminal` gives (none: nobody can be
// asked, unless --answer answers them).
int Run(const std::vector<std::string> &argv, std::ostream &out, std::ostream &err, const TerminalOpener &openTerminal);
int ExplainCommand(const std::vector<std::string> &argv, std::ostream &out, std::ostream &err);
int ShowCommand(const std::vector<std::string> &argv, std::ostream &out, std::ostream &err);

} // namespace jobtool
