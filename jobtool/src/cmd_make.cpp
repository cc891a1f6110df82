#include "commands.h"

#include "args.h"
#include "cli.h"
#include "codepage.h"
#include "convert.h"
#include "driver.h"
#include "faultpoint.h"
#include "fileio.h"
#include "input.h"
#include "jobfile.h"
#include "outputs.h"
#include "prescan.h"
#include "scratchguard.h"

#include <filesystem>
#include <map>
#include <new>
#include <set>

namespace jobtool
{

namespace
{

// A text option in the printer's code page, or a usage error that names the
// character it lacks.
std::string PrinterText(const std::string &argument, const std::string &option)
{
    std::string error;
    std::optional<std::string> ansi = ToPrinterCodePage(argument, option, error);
    if (!ansi)
    {
        throw UsageError{error};
    }
    return *ansi;
}

// The booklet's reading direction: left to right (the hook's 0: page 1 on
// the right half of the outer side) or right to left (1).
int BookletDirection(Args &a)
{
    const std::string v = Lower(a.Value());
    if (v == "ltr" || v == "0")
    {
        return 0;
    }
    if (v == "rtl" || v == "1")
    {
        return 1;
    }
    throw UsageError{"--direction takes ltr|rtl (or 0|1), not \"" + v + "\""};
}

int MakeCommand(const std::vector<std::string> &argv, std::ostream &out, std::ostream &err)
{
    Args a(argv);
    std::string input, output, overlayHostPath;
    JobOptions o;
    ConvertOptions convert;
    std::set<std::string> given;
    while (a.Next())
    {
        const std::string opt = a.Current();
        if (!a.IsOption())
        {
            if (!input.empty())
            {
                throw UsageError{"make takes one input file, not also \"" + opt + "\""};
            }
            input = opt;
            continue;
        }
        given.insert(opt);
        if (opt == "-o" || opt == "--output")
        {
            output = a.Value();
        }
        else if (opt == "--copies")
        {
            o.copies = a.Number(1, 32767);
        }
        else if (opt == "--collate")
        {
            a.NoValue();
            o.collate = true;
        }
        else if (opt == "--copy-command")
        {
            a.NoValue();
            o.copyCommand = o.collate = true;
        }
        else if (opt == "--reverse")
        {
            a.NoValue();
            o.reverse = true;
        }
        else if (opt == "--page-set")
        {
            o.pageSet = a.Choice({"odd", "even"}) == "odd" ? PageSet::Odd : PageSet::Even;
        }
        else if (opt == "--manual-duplex")
        {
            a.NoValue();
            o.manualDuplex = true;
        }
        else if (opt == "--order")
        {
            o.descending = a.Choice({"asc", "desc"}) == "desc";
        }
        else if (opt == "--instruction-page")
        {
            a.NoValue();
            o.instructionPage = true;
        }
        else if (opt == "--booklet")
        {
            o.booklet = a.Choice({"printer", "manual"}) == "printer" ? BookletKind::Printer : BookletKind::Manual;
        }
        else if (opt == "--direction")
        {
            o.direction = BookletDirection(a);
        }
        else if (opt == "--paper")
        {
            convert.paper = Lower(a.Value());
            if (!IsPaperName(convert.paper))
            {
                std::string names;
                for (const std::string &n : PaperNames())
                {
                    names += (names.empty() ? "" : "|") + n;
                }
                throw UsageError{"--paper takes " + names + ", not \"" + convert.paper + "\""};
            }
        }
        else if (opt == "--resolution")
        {
            convert.resolution = a.Number(kMinResolution, kMaxResolution);
        }
        else if (opt == "--transparency")
        {
            o.transparency = a.Choice({"same", "last"}) == "same" ? Interleave::SamePage : Interleave::LastPage;
        }
        else if (opt == "--transparency-first")
        {
            a.NoValue();
            o.transparencyFirst = true;
        }
        else if (opt == "--watermark")
        {
            o.watermark = PrinterText(a.Value(), opt);
        }
        else if (opt == "--wm-size")
        {
            o.wmSize = a.Number(1, 999);
        }
        else if (opt == "--wm-angle")
        {
            o.wmAngle = a.Number(-360, 360);
        }
        else if (opt == "--wm-outline")
        {
            a.NoValue();
            o.wmOutline = true;
        }
        else if (opt == "--wm-first-page")
        {
            a.NoValue();
            o.wmFirstPage = true;
        }
        else if (opt == "--overlay-create")
        {
            // The hook reads the path in the printer's code page.
            o.overlayCreate = PrinterText(ToWindowsPath(a.Value()), opt);
        }
        else if (opt == "--overlay")
        {
            overlayHostPath = a.Value();
            o.overlay = PrinterText(ToWindowsPath(overlayHostPath), opt);
        }
        else if (opt == "--ask")
        {
            a.NoValue();
            o.ask = true;
        }
        else if (opt == "--defer-text")
        {
            a.NoValue();
            o.deferText = true;
        }
        else if (opt == "--pass-through")
        {
            a.NoValue();
            o.passThrough = true;
        }
        else if (opt == "--orientation")
        {
            o.orientation = a.Choice({"portrait", "landscape"}) == "portrait" ? DMORIENT_PORTRAIT : DMORIENT_LANDSCAPE;
        }
        else if (opt == "--name")
        {
            // Held as UTF-8 (the job keeps it as UTF-16), but only in
            // characters the printer's code page has.
            o.documentName = PrinterCodePageToUtf8(PrinterText(a.Value(), opt));
        }
        else
        {
            throw UsageError{"make has no option " + opt};
        }
    }
    if (input.empty())
    {
        throw UsageError{"make needs an input document (PCL XL, PDF or PostScript)"};
    }
    // Options that only refine another one.
    const std::pair<const char *, bool> refinements[] = {
        {"--order", o.manualDuplex || o.booklet == BookletKind::Manual},
        {"--instruction-page", o.manualDuplex || o.booklet == BookletKind::Manual},
        {"--direction", o.booklet != BookletKind::None},
        {"--transparency-first", o.transparency != Interleave::None},
        {"--wm-size", o.watermark.has_value()},
        {"--wm-angle", o.watermark.has_value()},
        {"--wm-outline", o.watermark.has_value()},
        {"--wm-first-page", o.watermark.has_value()},
        {"--ask", o.overlay.has_value()},
    };
    for (const auto &r : refinements)
    {
        if (given.count(r.first) != 0 && !r.second)
        {
            static const std::map<std::string, std::string> needs = {
                {"--order", "--manual-duplex or --booklet manual"},
                {"--instruction-page", "--manual-duplex or --booklet manual"},
                {"--direction", "--booklet"},
                {"--transparency-first", "--transparency"},
                {"--wm-size", "--watermark"},
                {"--wm-angle", "--watermark"},
                {"--wm-outline", "--watermark"},
                {"--wm-first-page", "--watermark"},
                {"--ask", "--overlay"}};
            throw UsageError{std::string(r.first) + " needs " + needs.at(r.first)};
        }
    }
    if (o.documentName.empty())
    {
        o.documentName = Utf8Path(FsPath(input).filename());
    }
    std::string check = CheckOptions(o);
    if (!check.empty())
    {
        throw UsageError{check};
    }
    if (output.empty())
    {
        output = Stem(input) + ".kdjob";
    }
    std::string refusal = JobOutputRefusal(input, output);
    if (!refusal.empty())
    {
        err << "jobtool: " << refusal << "\n";
        return kFailed;
    }

    // What is sure to be refused is refused before any heavy work.
    std::string error = CheckReadable(input);
    if (!error.empty())
    {
        err << "jobtool: " << error << "\n";
        return kFailed;
    }
    // Only a spooled job has a page limit: the count is a pass of its own.
    if (std::optional<uint64_t> pages = WillSpool(o) ? CountPages(input) : std::nullopt)
    {
        refusal = PageLimitRefusal(*pages, o);
        if (!refusal.empty())
        {
            err << "jobtool: " << input << ": " << refusal << "\n";
            return kFailed;
        }
    }
    std::error_code ec;
    if (!overlayHostPath.empty() && !std::filesystem::is_regular_file(FsPath(overlayHostPath), ec))
    {
        err << "jobtool: warning: the overlay file " << overlayHostPath
            << " does not exist here; the job will be refused on a machine where it does not exist when it runs\n";
    }

    const FormatFound format = DetectFileFormat(input);
    if (!format.error.empty())
    {
        err << "jobtool: " << format.error << "\n";
        return kFailed;
    }
    const bool convertible = format.format == DocumentFormat::Pdf || format.format == DocumentFormat::PostScript ||
                             format.format == DocumentFormat::Gzip;
    if (!convertible && (given.count("--paper") != 0 || given.count("--resolution") != 0))
    {
        throw UsageError{std::string(given.count("--paper") != 0 ? "--paper" : "--resolution") +
                         " is for PDF and PostScript input; " + input + " is " + FormatName(format.format)};
    }
    std::vector<std::string> conversionNotes;
    std::string source; // the PDF or PostScript the job is made from
    std::string pxlPath = input;
    // Interrupted, make leaves none of its unfinished files behind.
    ScratchGuard guard;
    const std::string relocating = ScratchName(output, ".relocating");
    guard.Add(output + ".part");
    guard.Add(relocating);
    InputDocument converted;
    if (convertible)
    {
        const std::string converting = ScratchName(output, ".converting");
        guard.Add(converting);
        converted = ConvertedInput(input, converting, convert);
        if (!converted.error.empty())
        {
            err << "jobtool: " << input << ": " << converted.error << "\n";
            return kFailed;
        }
        if (converted.source == DocumentFormat::PclXl &&
            (given.count("--paper") != 0 || given.count("--resolution") != 0))
        {
            throw UsageError{"--paper and --resolution are for PDF and PostScript input; " + input +
                             " holds compressed PCL XL"};
        }
        pxlPath = converted.pxl.Path();
        conversionNotes = std::move(converted.notes);
        source = converted.source == DocumentFormat::PclXl ? std::string() : AbsolutePath(input);
    }
    pclxl::FileSource document(pxlPath);
    if (!document.ok())
    {
        err << "jobtool: " << document.error() << "\n";
        return kFailed;
    }
    FaultPoint("make");
    spoolsim::JobFileWriter writer;
    if (!writer.Open(output, spoolsim::Widen(o.documentName), true, false, error))
    {
        err << "jobtool: " << error << "\n";
        return kFailed;
    }
    MadeJob made = MakeJob(document, o, writer, relocating);
    if (!made.ok)
    {
        err << "jobtool: " << input << ": " << (writer.Error().empty() ? made.error : writer.Error()) << "\n";
        return made.usage ? kUsage : kFailed;
    }
    if (!writer.Finish(source, error))
    {
        err << "jobtool: " << error << "\n";
        return kFailed;
    }
    out << output << ": " << made.steps << " steps, " << made.summary << "\n";
    for (const std::string &note : conversionNotes)
    {
        out << "  note: " << note << "\n";
    }
    for (const std::string &note : made.notes)
    {
        out << "  note: " << note << "\n";
    }
    return kDone;
}

} // namespace

int Make(const std::vector<std::string> &argv, std::ostream &out, std::ostream &err)
{
    try
    {
        return MakeCommand(argv, out, err);
    }
    catch (const std::bad_alloc &)
    {
        err << "jobtool: out of memory: no job file was written\n";
        return kFailed;
    }
}

} // namespace jobtool
