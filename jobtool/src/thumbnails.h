// Small pictures of a document's pages, rendered by Ghostscript from its PDF
// or PostScript source (gzip-compressed too), for the picture of the sheets.
// They wait on disk, in a folder of their own, until asked for.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace jobtool
{

class Thumbnails
{
  public:
    // Renders every page (at most kMostPages) at dpi dots per inch: at the
    // default, an A4 page is 132 by 187 pixels. Null, and why, when the
    // source cannot be rendered.
    static constexpr int kDefaultDpi = 16;
    static constexpr int kMostPages = 5000;
    static std::unique_ptr<Thumbnails> Render(const std::string &source, std::string &error, int dpi = kDefaultDpi);
    ~Thumbnails();
    Thumbnails(const Thumbnails &) = delete;
    Thumbnails &operator=(const Thumbnails &) = delete;

    int Pages() const
    {
        return m_pages;
    }
    // Page k's picture as PNG data (k from 1); nothing when there is none.
    std::optional<std::vector<uint8_t>> Png(int page) const;

  private:
    Thumbnails() = default;
    std::string File(int page) const;

    std::string m_dir;
    int m_pages = 0;
};

// The size of a PNG picture from its header; nothing when it is not PNG.
struct PixelSize
{
    uint32_t width = 0;
    uint32_t height = 0;
};
std::optional<PixelSize> PngSize(const std::vector<uint8_t> &png);

} // namespace jobtool
