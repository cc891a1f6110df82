// make's input when it is not PCL XL: a PDF or PostScript document (gzip-
// compressed or not) turned into PCL XL by Ghostscript, as the printer's
// rendering driver would have sent it, into a file of the tool's own.
#pragma once

#include "convert.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace jobtool
{

// A file of the tool's own, removed when this goes.
class ScratchFile
{
  public:
    ScratchFile() = default;
    explicit ScratchFile(std::string path) : m_path(std::move(path))
    {
    }
    ~ScratchFile();
    ScratchFile(ScratchFile &&other) noexcept : m_path(std::move(other.m_path))
    {
        other.m_path.clear();
    }
    ScratchFile &operator=(ScratchFile &&other) noexcept;
    ScratchFile(const ScratchFile &) = delete;
    ScratchFile &operator=(const ScratchFile &) = delete;
    const std::string &Path() const
    {
        return m_path;
    }

  private:
    std::string m_path;
};

// A name next to `beside` that no file has, ending in `suffix`: a scratch
// file must not overwrite anything of the person's.
std::string ScratchName(const std::string &beside, const std::string &suffix);

struct InputDocument
{
    ScratchFile pxl;                                 // the PCL XL, read from its file as it is needed
    DocumentFormat source = DocumentFormat::Unknown; // what the file held (inside gzip too)
    std::vector<std::string> notes;                  // how it was converted, what Ghostscript warned about
    std::string error;                               // why there is no PCL XL
};

// Converts `input` into the scratch file `scratch` (removed with the result).
InputDocument ConvertedInput(const std::string &input, const std::string &scratch, const ConvertOptions &options);

// The path made absolute, so that it still names the file from elsewhere.
std::string AbsolutePath(const std::string &path);

} // namespace jobtool
