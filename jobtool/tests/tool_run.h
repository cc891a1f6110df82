// The tool run in-process by the tests: exit code, report and messages; and
// the pages of each printed document, as its "printed:" line lists them.
#pragma once

#include "cli.h"

#include <iterator>
#include <sstream>
#include <string>
#include <vector>

namespace jobtool_test
{

struct ToolRun
{
    int code;
    std::string out, err;
};

inline ToolRun Tool(const std::vector<std::string> &args, const jobtool::TerminalOpener &open = nullptr)
{
    std::ostringstream out, err;
    const int code = jobtool::Main(args, out, err, open);
    return {code, out.str(), err.str()};
}

inline std::vector<std::vector<std::string>> PrintedLines(const std::string &report)
{
    std::vector<std::vector<std::string>> docs;
    std::istringstream in(report);
    std::string line;
    const std::string tag = "  printed:";
    while (std::getline(in, line))
    {
        if (line.compare(0, tag.size(), tag) == 0)
        {
            std::istringstream words(line.substr(tag.size()));
            docs.emplace_back(std::istream_iterator<std::string>(words), std::istream_iterator<std::string>());
        }
    }
    return docs;
}

} // namespace jobtool_test
