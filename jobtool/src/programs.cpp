#include "programs.h"

namespace jobtool
{

std::string LastLine(const std::string &text)
{
    size_t end = text.size();
    while (end > 0 && (text[end - 1] == '\n' || text[end - 1] == '\r' || text[end - 1] == ' '))
    {
        end--;
    }
    if (end == 0)
    {
        return std::string();
    }
    const size_t newline = text.find_last_of('\n', end - 1);
    const size_t begin = newline == std::string::npos ? 0 : newline + 1;
    return text.substr(begin, end - begin);
}

} // namespace jobtool
