// The job tool's help texts.
#pragma once

#include <optional>
#include <string>

namespace jobtool
{

// The whole help: every command and every option.
std::string UsageText();
// One command's usage and options; nothing for a command the tool lacks.
std::optional<std::string> CommandUsage(const std::string &command);

} // namespace jobtool
