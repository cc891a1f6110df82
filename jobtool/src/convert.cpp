#include "convert.h"

#include "fileio.h"
#include "programs.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <random>

namespace jobtool
{

namespace
{

struct PaperPoints
{
    const char *name;
    int width; // portrait, in points
    int height;
};

// The paper sizes of the printer, by the names a person uses; Ghostscript
// gets their sizes in points, as it does not know every name.
const PaperPoints kPapers[] = {
    {"letter", 612, 792},  {"legal", 612, 1008}, {"a4", 595, 842}, {"executive", 522, 756},
    {"ledger", 792, 1224}, {"a3", 842, 1191},    {"a5", 420, 595}, {"jisb5", 516, 729},
};

std::string Lower(std::string s)
{
    for (char &c : s)
    {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return s;
}

bool StartsWith(const uint8_t *data, size_t cb, size_t at, const char *text)
{
    const size_t n = std::strlen(text);
    return at <= cb && cb - at >= n && std::memcmp(data + at, text, n) == 0;
}

// Where text occurs in data[from, cb), ignoring case; cb when it does not.
size_t FindNoCase(const uint8_t *data, size_t cb, size_t from, const char *text)
{
    const size_t n = std::strlen(text);
    for (size_t i = from; i + n <= cb; i++)
    {
        size_t j = 0;
        while (j < n && std::toupper(data[i + j]) == static_cast<unsigned char>(text[j]))
        {
            j++;
        }
        if (j == n)
        {
            return i;
        }
    }
    return cb;
}

// The language a PJL job enters ("PCLXL", "POSTSCRIPT", ...), upper case;
// empty when the bytes do not say.
std::string EnteredLanguage(const uint8_t *data, size_t cb)
{
    size_t at = FindNoCase(data, cb, 0, "@PJL ENTER LANGUAGE");
    if (at == cb)
    {
        return std::string();
    }
    at += std::strlen("@PJL ENTER LANGUAGE");
    while (at < cb && (data[at] == ' ' || data[at] == '\t' || data[at] == '='))
    {
        at++;
    }
    std::string language;
    while (at < cb && std::isalnum(data[at]) && language.size() < 32)
    {
        language += static_cast<char>(std::toupper(data[at++]));
    }
    return language;
}

std::string Absolute(const std::string &path)
{
    std::error_code ec;
    std::filesystem::path abs = std::filesystem::absolute(path, ec);
    return ec ? path : abs.lexically_normal().string();
}

// Ghostscript reads '%' in an output file name as a page-number format.
std::string EscapeOutputName(const std::string &path)
{
    std::string out;
    for (char c : path)
    {
        out += c;
        if (c == '%')
        {
            out += '%';
        }
    }
    return out;
}

// Ghostscript's warnings ("**** Warning: ...") and errors, one line each,
// at most a few.
std::vector<std::string> Warnings(const std::string &text)
{
    const size_t kMost = 5;
    std::vector<std::string> lines;
    size_t more = 0;
    size_t at = 0;
    while (at < text.size())
    {
        size_t end = text.find('\n', at);
        end = end == std::string::npos ? text.size() : end;
        std::string line = text.substr(at, end - at);
        at = end + 1;
        const size_t mark = line.find("****");
        if (mark == std::string::npos)
        {
            continue;
        }
        line = line.substr(mark + 4);
        line.erase(0, std::min(line.find_first_not_of(' '), line.size()));
        while (!line.empty() && (line.back() == ' ' || line.back() == '\r' || line.back() == '.'))
        {
            line.pop_back();
        }
        if (line.empty() || std::find(lines.begin(), lines.end(), line) != lines.end())
        {
            continue;
        }
        if (lines.size() < kMost)
        {
            lines.push_back(line);
        }
        else
        {
            more++;
        }
    }
    if (more > 0)
    {
        lines.push_back("and " + std::to_string(more) + " more");
    }
    return lines;
}

// The line of Ghostscript's messages that says what went wrong: its
// "Error: ..." line when it has one (a PostScript error ends with a dump of
// the interpreter's stacks), else its last line.
std::string ReasonIn(const std::string &text)
{
    size_t at = 0;
    while (at < text.size())
    {
        size_t end = text.find('\n', at);
        end = end == std::string::npos ? text.size() : end;
        std::string line = text.substr(at, end - at);
        at = end + 1;
        const size_t mark = line.find("Error:");
        if (mark != std::string::npos)
        {
            line = line.substr(mark);
            while (!line.empty() && (line.back() == ' ' || line.back() == '\r'))
            {
                line.pop_back();
            }
            return line;
        }
    }
    return LastLine(text);
}

// A file name next to `beside` that no file has yet.
std::string FreshName(const std::string &beside, const char *suffix)
{
    std::random_device rd;
    for (;;)
    {
        std::string name = beside + "." + std::to_string(rd() % 1000000) + suffix;
        std::error_code ec;
        if (!std::filesystem::exists(name, ec))
        {
            return name;
        }
    }
}

void RemoveQuietly(const std::string &path)
{
    std::error_code ec;
    std::filesystem::remove(path, ec);
}

// Makes (or empties) the output first, so that a folder that cannot be
// written gets the system's reason rather than Ghostscript's.
std::string PrepareOutput(const std::string &path)
{
    std::FILE *f = OpenFile(path, "wb");
    if (f == nullptr)
    {
        return "cannot write " + path + ": " + std::strerror(errno);
    }
    std::fclose(f);
    return std::string();
}

} // namespace

std::string GhostscriptReason(const std::string &text)
{
    return ReasonIn(text);
}

DocumentFormat SniffFormat(const uint8_t *data, size_t cb)
{
    cb = std::min(cb, kSniffBytes);
    if (StartsWith(data, cb, 0, "\x1F\x8B"))
    {
        return DocumentFormat::Gzip;
    }
    if (StartsWith(data, cb, 0, "\xC5\xD0\xD3\xC6"))
    {
        return DocumentFormat::PostScript; // the binary header of an EPS file with a preview
    }
    size_t at = 0;
    while (at < cb && (data[at] == 0x04 || std::isspace(data[at])))
    {
        at++; // a Ctrl-D or blank lines left by a spooler
    }
    if (StartsWith(data, cb, at, "\x1B%-12345X"))
    {
        const std::string language = EnteredLanguage(data, cb);
        if (language == "PCLXL")
        {
            return DocumentFormat::PclXl;
        }
        if (language == "POSTSCRIPT")
        {
            return DocumentFormat::PostScript;
        }
        if (language == "PDF")
        {
            return DocumentFormat::Pdf;
        }
        if (!language.empty())
        {
            return DocumentFormat::Unknown;
        }
    }
    if (StartsWith(data, cb, at, ") HP-PCL XL") || StartsWith(data, cb, at, "( HP-PCL XL"))
    {
        return DocumentFormat::PclXl;
    }
    if (StartsWith(data, cb, at, "%!"))
    {
        return DocumentFormat::PostScript;
    }
    // A PDF reader finds the header after leading junk too.
    if (FindNoCase(data, cb, 0, "%PDF-") < cb)
    {
        return DocumentFormat::Pdf;
    }
    if (FindNoCase(data, cb, 0, ") HP-PCL XL") < cb)
    {
        return DocumentFormat::PclXl; // after PJL that does not name the language
    }
    return DocumentFormat::Unknown;
}

const char *FormatName(DocumentFormat format)
{
    switch (format)
    {
    case DocumentFormat::PclXl:
        return "PCL XL";
    case DocumentFormat::Pdf:
        return "PDF";
    case DocumentFormat::PostScript:
        return "PostScript";
    case DocumentFormat::Gzip:
        return "gzip-compressed data";
    default:
        return "not a document format the tool reads";
    }
}

FormatFound DetectFileFormat(const std::string &path)
{
    FormatFound found;
    std::FILE *f = OpenFile(path, "rb");
    if (f == nullptr)
    {
        found.error = "cannot open " + path + ": " + std::strerror(errno);
        return found;
    }
    uint8_t head[kSniffBytes];
    const size_t cb = std::fread(head, 1, sizeof head, f);
    const bool failed = std::ferror(f) != 0;
    const int why = errno;
    std::fclose(f);
    if (failed)
    {
        found.error = "cannot read " + path + ": " + std::strerror(why);
        return found;
    }
    found.format = SniffFormat(head, cb);
    return found;
}

std::vector<std::string> PaperNames()
{
    std::vector<std::string> names;
    for (const PaperPoints &p : kPapers)
    {
        names.push_back(p.name);
    }
    return names;
}

bool IsPaperName(const std::string &name)
{
    const std::string lower = Lower(name);
    return std::any_of(std::begin(kPapers), std::end(kPapers),
                       [&lower](const PaperPoints &p) { return lower == p.name; });
}

std::string MissingProgram(const std::string &program, const std::string &package, const std::string &purpose)
{
    return purpose + " needs " + program + ", which is not installed: install the Debian package " + package +
           " (apt-get install " + package + ")";
}

std::vector<std::string> GhostscriptCommand(const std::string &input, const std::string &output,
                                            const ConvertOptions &options)
{
    std::vector<std::string> argv = {
        "gs", "-q", "-dBATCH", "-dNOPAUSE", "-dSAFER", "-sDEVICE=pxlmono", "-r" + std::to_string(options.resolution)};
    const std::string paper = Lower(options.paper);
    for (const PaperPoints &p : kPapers)
    {
        if (paper == p.name)
        {
            argv.push_back("-dDEVICEWIDTHPOINTS=" + std::to_string(p.width));
            argv.push_back("-dDEVICEHEIGHTPOINTS=" + std::to_string(p.height));
            argv.push_back("-dFIXEDMEDIA");
            argv.push_back("-dFitPage");
        }
    }
    argv.push_back("-sOutputFile=" + EscapeOutputName(Absolute(output)));
    argv.push_back(Absolute(input));
    return argv;
}

ReadableSource::ReadableSource(const std::string &input, const std::string &scratch) : m_path(input)
{
    FormatFound found = DetectFileFormat(input);
    m_format = found.format;
    m_error = found.error;
    if (!m_error.empty() || m_format != DocumentFormat::Gzip)
    {
        return;
    }
    if (!CanRunPrograms())
    {
        m_error = std::string("unpacking a compressed document is ") + kNotOnThisBuild;
        return;
    }
    m_unpacked = FreshName(scratch, ".unpacked");
    ProgramRun gzip;
    gzip.argv = {"gzip", "-dc", "--", Absolute(input)};
    gzip.outputFile = m_unpacked;
    ProgramResult r = RunProgram(gzip);
    if (!r.Succeeded())
    {
        m_error = r.missing ? MissingProgram("gzip", "gzip", "unpacking a compressed document")
                            : "cannot unpack " + input + ": " + (r.failure.empty() ? LastLine(r.errors) : r.failure);
        return;
    }
    found = DetectFileFormat(m_unpacked);
    m_format = found.format;
    m_error = found.error;
    m_path = m_unpacked;
}

ReadableSource::~ReadableSource()
{
    if (!m_unpacked.empty())
    {
        RemoveQuietly(m_unpacked);
    }
}

std::string ReadableSource::KeepAs(const std::string &path)
{
    std::error_code ec;
    std::filesystem::rename(m_unpacked, path, ec);
    if (ec)
    {
        return "cannot write " + path + ": " + ec.message();
    }
    m_unpacked.clear();
    m_path = path;
    return std::string();
}

Conversion ConvertToPclXl(const std::string &input, const std::string &output, const ConvertOptions &options)
{
    Conversion result;
    if (!CanRunPrograms())
    {
        result.error = std::string("reading PDF and PostScript is ") + kNotOnThisBuild;
        return result;
    }
    if (!options.paper.empty() && !IsPaperName(options.paper))
    {
        result.error = "no paper called \"" + options.paper + "\"";
        return result;
    }
    if (options.resolution < kMinResolution || options.resolution > kMaxResolution)
    {
        result.error = "a resolution of " + std::to_string(options.resolution) + " dpi is not from " +
                       std::to_string(kMinResolution) + " to " + std::to_string(kMaxResolution);
        return result;
    }
    std::error_code ec;
    if (std::filesystem::exists(output, ec) && std::filesystem::equivalent(input, output, ec))
    {
        result.error = "the PCL XL would overwrite the document itself (" + output + ")";
        return result;
    }
    ReadableSource source(input, output);
    result.source = source.Format();
    if (!source.Error().empty())
    {
        result.error = source.Error();
        return result;
    }
    if (result.source == DocumentFormat::PclXl && source.Unpacked())
    {
        // Compressed PCL XL: unpacking was all it needed.
        result.error = source.KeepAs(output);
        result.ok = result.error.empty();
        return result;
    }
    if (result.source != DocumentFormat::Pdf && result.source != DocumentFormat::PostScript)
    {
        result.error =
            input + (source.Unpacked() ? " (unpacked)" : "") + " is " +
            (result.source == DocumentFormat::PclXl  ? "PCL XL already"
             : result.source == DocumentFormat::Gzip ? "compressed twice"
                                                     : "neither PCL XL, PDF nor PostScript (gzip-compressed or not)");
        return result;
    }

    std::string error = PrepareOutput(output);
    if (!error.empty())
    {
        result.error = error;
        return result;
    }
    ProgramRun gs;
    gs.argv = GhostscriptCommand(source.Path(), output, options);
    ProgramResult r = RunProgram(gs);
    result.notes = Warnings(r.output + "\n" + r.errors);
    if (!r.Succeeded())
    {
        RemoveQuietly(output);
        if (r.missing)
        {
            result.error = MissingProgram("Ghostscript (gs)", "ghostscript", "reading PDF and PostScript");
        }
        else if (!r.failure.empty())
        {
            result.error = r.failure;
        }
        else
        {
            std::string why = GhostscriptReason(r.output + "\n" + r.errors);
            result.error = std::string("Ghostscript could not convert ") + input + " (" + FormatName(result.source) +
                           "): exit status " + std::to_string(r.exitCode) + (why.empty() ? "" : ": " + why);
        }
        return result;
    }
    if (std::filesystem::file_size(output, ec) == 0 || ec)
    {
        RemoveQuietly(output);
        result.error = "Ghostscript wrote no PCL XL for " + input + " (a document without pages?)";
        return result;
    }
    result.ok = true;
    return result;
}

} // namespace jobtool
