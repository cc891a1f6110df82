#include "commands.h"

#include "args.h"
#include "cli.h"
#include "driver.h"
#include "faultpoint.h"
#include "fileio.h"
#include "jobfile.h"

#include <filesystem>
#include <map>
#include <new>
#include <set>

namespace jobtool
{

namespace
{

int MakeCommand(const std::vector<std::string> &argv, std::ostream &out, std::ostream &err)
{
    Args a(argv);
    std::string input, output;
    JobOptions o;
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
            o.direction = a.Number(0, 1);
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
            o.watermark = a.Value();
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
            o.overlayCreate = ToWindowsPath(a.Value());
        }
        else if (opt == "--overlay")
        {
            o.overlay = ToWindowsPath(a.Value());
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
            o.documentName = a.Value();
        }
        else
        {
            throw UsageError{"make has no option " + opt};
        }
    }
    if (input.empty())
    {
        throw UsageError{"make needs an input PCL XL file"};
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
        o.documentName = std::filesystem::path(input).filename().string();
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

    std::string error;
    std::optional<Bytes> pxl = ReadFile(input, error);
    if (!pxl)
    {
        err << "jobtool: " << error << "\n";
        return kFailed;
    }
    FaultPoint("make");
    MadeJob made = MakeJob(*pxl, o);
    if (!made.job)
    {
        err << "jobtool: " << input << ": " << made.error << "\n";
        return made.usage ? kUsage : kFailed;
    }
    if (!spoolsim::SaveJobFile(*made.job, output, error))
    {
        err << "jobtool: " << error << "\n";
        return kFailed;
    }
    out << output << ": " << made.job->steps.size() << " steps, " << made.summary << "\n";
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
