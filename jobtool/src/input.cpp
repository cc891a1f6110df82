#include "input.h"

#include "fileio.h"

#include <filesystem>

namespace jobtool
{

ScratchFile::~ScratchFile()
{
    if (!m_path.empty())
    {
        std::error_code ec;
        std::filesystem::remove(FsPath(m_path), ec);
    }
}

ScratchFile &ScratchFile::operator=(ScratchFile &&other) noexcept
{
    if (this != &other)
    {
        ScratchFile gone(std::move(*this));
        m_path = std::move(other.m_path);
        other.m_path.clear();
    }
    return *this;
}

std::string ScratchName(const std::string &beside, const std::string &suffix)
{
    std::error_code ec;
    for (int i = 0;; i++)
    {
        std::string name = beside + suffix + (i == 0 ? std::string() : "-" + std::to_string(i)) + ".pxl";
        if (!std::filesystem::exists(FsPath(name), ec) && !ec)
        {
            return name;
        }
    }
}

std::string AbsolutePath(const std::string &path)
{
    std::error_code ec;
    std::filesystem::path abs = std::filesystem::absolute(FsPath(path), ec);
    return ec ? path : Utf8Path(abs.lexically_normal());
}

InputDocument ConvertedInput(const std::string &input, const std::string &scratchPath, const ConvertOptions &options)
{
    InputDocument in;
    ScratchFile scratch(scratchPath);
    Conversion c = ConvertToPclXl(input, scratch.Path(), options);
    in.source = c.source;
    if (!c.ok)
    {
        in.error = c.error;
        return in;
    }
    in.pxl = std::move(scratch);
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
