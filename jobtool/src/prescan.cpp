#include "prescan.h"

#include "reasons.h"

#include <pclxl/commandreader.h>

namespace jobtool
{

std::optional<uint64_t> CountPages(const std::string &path)
{
    pclxl::FileSource source(path);
    if (!source.ok())
    {
        return std::nullopt;
    }
    // A command with its embedded data must fit the window; a page of an
    // image larger than this is read in pieces of it all the same.
    pclxl::CommandReader reader(source, size_t(1) << 20);
    if (!reader.open())
    {
        return std::nullopt;
    }
    reader.decodeOnly({pclxl::op::BeginPage});
    pclxl::StreamCommand command;
    uint64_t pages = 0;
    while (reader.next(command))
    {
        pages += command.op == pclxl::op::BeginPage ? 1 : 0;
    }
    if (reader.error())
    {
        return std::nullopt;
    }
    return pages;
}

bool WillSpool(const JobOptions &options)
{
    // The settings depend on the document only through its first page's
    // orientation, paper and resolution, none of which decides spooling.
    PreparedDocument doc;
    doc.pages.emplace_back();
    return Spools(MakeSettings(options, doc));
}

std::string PageLimitRefusal(uint64_t pages, const JobOptions &options)
{
    if (pages <= kMaxSpooledPages || !WillSpool(options))
    {
        return std::string();
    }
    return TooManyPages(pages);
}

} // namespace jobtool
