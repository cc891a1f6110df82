// Text options as the printer's ANSI code page, Windows-1252, holds them:
// the hook reads the settings block's 8-bit strings in that code page.
#pragma once

#include <optional>
#include <string>

namespace jobtool
{

// The argument of a text option (in the user's encoding: UTF-8 on Linux,
// the ANSI code page on Windows) in Windows-1252; nothing, with the reason
// in `error` (naming the option and the character), when it is not valid
// text or holds a character that Windows-1252 lacks.
std::optional<std::string> ToPrinterCodePage(const std::string &argument, const std::string &option,
                                             std::string &error);

// Windows-1252 text as UTF-8, for messages.
std::string PrinterCodePageToUtf8(const std::string &ansi);

} // namespace jobtool
