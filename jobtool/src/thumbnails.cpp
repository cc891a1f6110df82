#include "thumbnails.h"

#include "convert.h"
#include "programs.h"

#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>

namespace jobtool
{

namespace
{

// A folder of its own under the system's temporary folder.
std::string MakeFolder(std::string &error)
{
    std::error_code ec;
    const std::filesystem::path base = std::filesystem::temp_directory_path(ec);
    if (ec)
    {
        error = "no temporary folder: " + ec.message();
        return std::string();
    }
    std::random_device rd;
    for (int attempt = 0; attempt < 100; attempt++)
    {
        std::filesystem::path dir = base / ("jobtool-thumbnails-" + std::to_string(rd()));
        if (std::filesystem::create_directory(dir, ec))
        {
            return dir.string();
        }
        if (ec)
        {
            error = "cannot make a folder in " + base.string() + ": " + ec.message();
            return std::string();
        }
    }
    error = "cannot find a free folder name in " + base.string();
    return std::string();
}

} // namespace

std::unique_ptr<Thumbnails> Thumbnails::Render(const std::string &source, std::string &error, int dpi)
{
    if (!CanRunPrograms())
    {
        error = std::string("page pictures are ") + kNotOnThisBuild;
        return nullptr;
    }
    std::unique_ptr<Thumbnails> t(new Thumbnails);
    t->m_dir = MakeFolder(error);
    if (t->m_dir.empty())
    {
        return nullptr;
    }
    ReadableSource readable(source, (std::filesystem::path(t->m_dir) / "source").string());
    if (!readable.Error().empty())
    {
        error = readable.Error();
        return nullptr;
    }
    if (readable.Format() != DocumentFormat::Pdf && readable.Format() != DocumentFormat::PostScript)
    {
        error = "page pictures need PDF or PostScript, and " + source + " is " +
                (readable.Format() == DocumentFormat::PclXl ? std::string("PCL XL") : FormatName(readable.Format()));
        return nullptr;
    }
    // Gray levels with smoothed text and lines: legible at a few pixels.
    ProgramRun gs;
    gs.argv = GhostscriptCommand(readable.Path(), (std::filesystem::path(t->m_dir) / "page-%d.png").string(), {});
    for (std::string &a : gs.argv)
    {
        if (a == "-sDEVICE=pxlmono")
        {
            a = "-sDEVICE=pnggray";
        }
        else if (a.compare(0, 2, "-r") == 0)
        {
            a = "-r" + std::to_string(dpi);
        }
        else if (a.compare(0, 13, "-sOutputFile=") == 0)
        {
            // The page number goes where the file name asks for it.
            const size_t at = a.rfind("%%d");
            a.replace(at, 3, "%d");
        }
    }
    gs.argv.insert(gs.argv.end() - 1,
                   {"-dTextAlphaBits=4", "-dGraphicsAlphaBits=4", "-dLastPage=" + std::to_string(kMostPages)});
    ProgramResult r = RunProgram(gs);
    if (!r.Succeeded())
    {
        error = r.missing            ? MissingProgram("Ghostscript (gs)", "ghostscript", "drawing page pictures")
                : !r.failure.empty() ? r.failure
                                     : "Ghostscript could not draw the pages of " + source + ": " +
                                           GhostscriptReason(r.output + "\n" + r.errors);
        return nullptr;
    }
    std::error_code ec;
    while (t->m_pages < kMostPages && std::filesystem::exists(t->File(t->m_pages + 1), ec))
    {
        t->m_pages++;
    }
    return t;
}

Thumbnails::~Thumbnails()
{
    std::error_code ec;
    std::filesystem::remove_all(m_dir, ec);
}

std::string Thumbnails::File(int page) const
{
    return (std::filesystem::path(m_dir) / ("page-" + std::to_string(page) + ".png")).string();
}

std::optional<std::vector<uint8_t>> Thumbnails::Png(int page) const
{
    if (page < 1 || page > m_pages)
    {
        return std::nullopt;
    }
    std::ifstream f(File(page), std::ios::binary);
    if (!f)
    {
        return std::nullopt;
    }
    std::vector<uint8_t> data((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    if (!PngSize(data))
    {
        return std::nullopt;
    }
    return data;
}

std::optional<PixelSize> PngSize(const std::vector<uint8_t> &png)
{
    static const uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    if (png.size() < 24 || !std::equal(kSignature, kSignature + 8, png.begin()) ||
        std::string(png.begin() + 12, png.begin() + 16) != "IHDR")
    {
        return std::nullopt;
    }
    auto u32 = [&png](size_t at) {
        return static_cast<uint32_t>(png[at]) << 24 | static_cast<uint32_t>(png[at + 1]) << 16 |
               static_cast<uint32_t>(png[at + 2]) << 8 | png[at + 3];
    };
    return PixelSize{u32(16), u32(20)};
}

} // namespace jobtool
