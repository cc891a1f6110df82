#include "input.h"

#include "fileio.h"

#include <filesystem>

namespace jobtool
{

namespace
{

// A name next to `beside` that no file has: the scratch PCL XL must not
// overwrite anything of the person's.
std::string ScratchName(const std::string &beside)
{
    std::error_code ec;
    for (int i = 0;; i++)
    {
        std::string name = beside + ".converting" + (i == 0 ? std::string() : "-" + std::to_string(i)) + ".pxl";
        if (!std::filesystem::exists(FsPath(name), ec) && !ec)
        {
            return name;
        }
    }
}

} // namespace

std::string AbsolutePath(const std::string &path)
{
    std::error_code ec;
    std::filesystem::path abs = std::filesystem::absolute(FsPath(path), ec);
    return ec ? path : Utf8Path(abs.lexically_normal());
}

InputDocument ConvertedInput(const std::string &input, const std::string &beside, const ConvertOptions &options)
{
    InputDocument in;
    const std::string scratch = ScratchName(beside);
    Conversion c = ConvertToPclXl(input, scratch, options);
    in.source = c.source;
    if (!c.ok)
    {
        in.error = c.error;
        return in;
    }
    std::string error;
    in.pxl = ReadFile(scratch, error);
    std::error_code ec;
    std::filesystem::remove(FsPath(scratch), ec);
    if (!in.pxl)
    {
        in.error = error;
        return in;
    }
    if (c.source == DocumentFormat::PclXl)
    {
        in.notes.push_back("unpacked: the file holds compressed PCL XL");
        return in;
    }
    in.notes.push_back(std::string("converted from ") + FormatName(c.source) + " by Ghostscript at " +
                       std::to_string(options.resolution) + " dpi, " +
                       (options.paper.empty() ? std::string("each page on the paper the document sets")
                                              : "every page fitted to " + options.paper));
    for (const std::string &n : c.notes)
    {
        in.notes.push_back("Ghostscript: " + n);
    }
    return in;
}

} // namespace jobtool
