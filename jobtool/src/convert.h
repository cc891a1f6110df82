// Documents in: what a file holds, judged by its first bytes, and PDF and
// PostScript turned into PCL XL by Ghostscript's monochrome PCL XL device,
// as the printer's rendering driver would have sent them. Ghostscript writes
// the PCL XL straight to a file, page by page.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace jobtool
{

enum class DocumentFormat
{
    PclXl,
    Pdf,
    PostScript,
    Gzip, // compressed; what it holds is known once it is unpacked
    Unknown
};

// How many leading bytes SniffFormat looks at.
constexpr size_t kSniffBytes = 1024;

// The format of a document from its first bytes. A PJL job is judged by the
// language it enters.
DocumentFormat SniffFormat(const uint8_t *data, size_t cb);
// "PCL XL", "PDF", "PostScript", "gzip-compressed data", "not a document format the tool reads"
const char *FormatName(DocumentFormat format);

struct FormatFound
{
    DocumentFormat format = DocumentFormat::Unknown;
    std::string error; // the file cannot be read (with the system's reason)
};
FormatFound DetectFileFormat(const std::string &path);

// The paper names --paper takes, lower case: letter, legal, a4, ...
std::vector<std::string> PaperNames();
bool IsPaperName(const std::string &name); // case does not matter

struct ConvertOptions
{
    // Empty: every page on its own paper size, as the document sets it.
    // Else a paper name: every page is scaled (and turned) to fit it.
    std::string paper;
    int resolution = 600; // dots per inch, kMinResolution to kMaxResolution
};
constexpr int kMinResolution = 72;
constexpr int kMaxResolution = 1200;

struct Conversion
{
    bool ok = false;
    DocumentFormat source = DocumentFormat::Unknown; // what the document turned out to be (inside gzip too)
    std::string error;                               // why there is no PCL XL
    std::vector<std::string> notes;                  // what Ghostscript warned about
};

// A document as Ghostscript can read it: the file itself, or an unpacked
// copy of a gzip-compressed one (next to `scratch`, removed with this).
class ReadableSource
{
  public:
    ReadableSource(const std::string &input, const std::string &scratch);
    ~ReadableSource();
    ReadableSource(const ReadableSource &) = delete;
    ReadableSource &operator=(const ReadableSource &) = delete;

    const std::string &Path() const
    {
        return m_path;
    }
    DocumentFormat Format() const // what the document is, once unpacked
    {
        return m_format;
    }
    bool Unpacked() const
    {
        return !m_unpacked.empty();
    }
    const std::string &Error() const
    {
        return m_error;
    }
    // Gives up the unpacked copy: it is renamed to `path`.
    std::string KeepAs(const std::string &path);

  private:
    std::string m_path;
    std::string m_unpacked;
    DocumentFormat m_format = DocumentFormat::Unknown;
    std::string m_error;
};

// Ghostscript's command that converts `input` (PDF or PostScript) into PCL
// XL at `output`. Both paths are made absolute, so that neither can read as
// one of Ghostscript's options, pipes or devices.
std::vector<std::string> GhostscriptCommand(const std::string &input, const std::string &output,
                                            const ConvertOptions &options);

// Converts a PDF or PostScript document (gzip-compressed or not) into PCL
// XL at `output`. Without Ghostscript: an error that names the package.
Conversion ConvertToPclXl(const std::string &input, const std::string &output, const ConvertOptions &options);

// The line of Ghostscript's messages that says what went wrong.
std::string GhostscriptReason(const std::string &messages);

// The message for a missing program: which Debian package holds it.
std::string MissingProgram(const std::string &program, const std::string &package, const std::string &purpose);

} // namespace jobtool
