#include "show.h"

#include "prepare.h"
#include "replay.h"

#include <cstring>

namespace jobtool
{

namespace
{

bool IsMarker(const spoolsim::Bytes &d)
{
    return d.size() >= 4 && d[0] == 0x1B && d[1] == 0xF0 && d[2] == 0x10;
}

bool IsText(const spoolsim::Bytes &d, const char *marker)
{
    return d.size() == std::strlen(marker) && std::memcmp(d.data(), marker, d.size()) == 0;
}

bool IsDefer(const spoolsim::Bytes &d, uint8_t code)
{
    return d.size() == 4 && d[0] == 0x1B && d[1] == 0xFB && d[2] == 0x0B && d[3] == code;
}

std::string Text(const CHAR *field, size_t cb)
{
    size_t n = 0;
    while (n < cb && field[n] != 0)
    {
        n++;
    }
    return std::string(field, n);
}

std::string Orientation(int o)
{
    return o == DMORIENT_PORTRAIT    ? "portrait"
           : o == DMORIENT_LANDSCAPE ? "landscape"
                                     : "orientation " + std::to_string(o);
}

// What the end marker carries, as the settings say it is laid out.
struct EndMarker
{
    bool found = false;
    std::optional<int> copies;
    std::string copyCommand;
};

EndMarker FindEnd(const spoolsim::StepSource &job, const DRVDEVMODE &dm)
{
    EndMarker end;
    spoolsim::Bytes head;
    for (size_t i = 0; i < job.Count(); i++)
    {
        if (job.Kind(i) != spoolsim::StepKind::Write || job.Size(i) < 4)
        {
            continue;
        }
        const spoolsim::Bytes &d = StepHead(job, i, head);
        if (!IsMarker(d) || d[3] != 0xFF)
        {
            continue;
        }
        end = EndMarker();
        end.found = true;
        size_t at = 4;
        if (dm.sCollate == 1 && at + 2 <= d.size())
        {
            end.copies = d[at] | d[at + 1] << 8;
            at += 2;
            if (dm.sCopyCommand == 1 && at < d.size() && at + 1 + d[at] <= d.size())
            {
                end.copyCommand.assign(d.begin() + static_cast<long>(at + 1),
                                       d.begin() + static_cast<long>(at + 1 + d[at]));
            }
        }
    }
    return end;
}

// d: the step's head (StepHead), cb: its size.
std::string DescribeStep(spoolsim::StepKind kind, const spoolsim::Bytes &d, size_t cb, bool first, const DRVDEVMODE *dm)
{
    switch (kind)
    {
    case spoolsim::StepKind::StartPage:
        return "start page";
    case spoolsim::StepKind::EndPage:
        return "end page";
    default:
        break;
    }
    std::string what = "write " + std::to_string(cb) + (cb == 1 ? " byte" : " bytes") + ": ";
    if (d.size() == DRVDEVMODE_SIZE)
    {
        DRVDEVMODE b;
        std::memcpy(&b, d.data(), sizeof b);
        std::string turned;
        if (!first && dm != nullptr && b.dmPublic.dmOrientation != dm->dmPublic.dmOrientation)
        {
            turned = " (" + Orientation(b.dmPublic.dmOrientation) + ")";
        }
        return what + (first ? "the settings block" : "a settings block again" + turned);
    }
    if (IsText(d, spoolsim::markers::kWatermark))
    {
        return what + "the watermark marker";
    }
    if (IsText(d, spoolsim::markers::kOverlay))
    {
        return what + "the overlay marker";
    }
    if (IsDefer(d, 0xFA))
    {
        return what + "deferred text begins";
    }
    if (IsDefer(d, 0xFB))
    {
        return what + "deferred text ends";
    }
    if (!IsMarker(d))
    {
        return what + "data";
    }
    switch (d[3])
    {
    case 0xAA:
        return what + "page-start marker" + (d.size() > 4 ? " (" + Orientation(d[4]) + ")" : std::string());
    case 0xFF:
        return what + "end marker";
    case 0xBB:
        return what + "copy-position marker";
    case 0x00:
        return what + "booklet layout record";
    default: {
        char code[8];
        std::snprintf(code, sizeof code, "0x%02X", d[3]);
        return what + "marker record with code " + code + " (the hook ignores it)";
    }
    }
}

// The first page's orientation from its BeginPage, for a job whose pages
// carry no page-start marker (1 portrait, 2 landscape). Only the first
// page's data are read.
std::optional<int> FirstPageOrientation(const spoolsim::StepSource &job)
{
    Bytes page, head;
    bool in = false;
    for (size_t i = 0; i < job.Count(); i++)
    {
        const spoolsim::StepKind kind = job.Kind(i);
        if (kind == spoolsim::StepKind::StartPage)
        {
            in = true;
        }
        else if (kind == spoolsim::StepKind::EndPage && in)
        {
            break;
        }
        else if (in && kind == spoolsim::StepKind::Write && job.Size(i) != DRVDEVMODE_SIZE &&
                 !IsMarker(StepHead(job, i, head)))
        {
            const size_t at = page.size();
            page.resize(at + job.Size(i));
            if (!job.ReadPart(i, 0, page.data() + at, job.Size(i)))
            {
                page.resize(at);
            }
        }
    }
    Commands cs = ReadCommands(pclxl::Bytes(page), pclxl::Context::Session, false);
    for (const pclxl::Command &c : cs.structure.commands)
    {
        if (c.op == pclxl::op::BeginPage)
        {
            const pclxl::Attribute *o = c.find(pclxl::attr::Orientation);
            if (!o)
            {
                return std::nullopt;
            }
            const double v = o->value.number();
            return v == pclxl::val::eLandscapeOrientation || v == 3 ? DMORIENT_LANDSCAPE : DMORIENT_PORTRAIT;
        }
    }
    return std::nullopt;
}

} // namespace

std::string ShellWord(const std::string &word)
{
    bool plain = !word.empty();
    for (char c : word)
    {
        plain = plain && (std::isalnum(static_cast<unsigned char>(c)) || std::strchr("-_.,:/=+@%", c) != nullptr);
    }
    if (plain)
    {
        return word;
    }
    std::string out = "'";
    for (char c : word)
    {
        out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return out + "'";
}

ShownJob ShowJob(const spoolsim::StepSource &job, bool steps)
{
    ShownJob shown;
    std::optional<DRVDEVMODE> dm = SettingsOf(job);
    std::optional<int> firstPage;
    bool first = true;
    spoolsim::Bytes head;
    for (size_t i = 0; i < job.Count(); i++)
    {
        const spoolsim::StepKind kind = job.Kind(i);
        if (kind == spoolsim::StepKind::StartPage)
        {
            shown.pages++;
        }
        const spoolsim::Bytes &d = kind == spoolsim::StepKind::Write ? StepHead(job, i, head) : spoolsim::Bytes();
        if (kind == spoolsim::StepKind::Write && IsMarker(d) && d[3] == 0xAA)
        {
            shown.pageStarts++;
            if (!firstPage && d.size() > 4)
            {
                firstPage = d[4];
            }
        }
        if (steps)
        {
            shown.steps.push_back(
                DescribeStep(kind, d, job.Size(i), first && kind == spoolsim::StepKind::Write, dm ? &*dm : nullptr));
        }
        first = first && kind != spoolsim::StepKind::Write;
    }
    if (!dm)
    {
        return shown;
    }
    shown.settings = true;
    const DRVDEVMODE &d = *dm;
    const DRVDEVMODE plain = spoolsim::DefaultSettings();
    std::vector<std::string> &o = shown.options;
    std::vector<std::string> &other = shown.others;
    const EndMarker end = FindEnd(job, d);

    const int copies = d.sCollate == 1 && end.copies ? *end.copies : d.dmPublic.dmCopies;
    if (copies != 1)
    {
        o.insert(o.end(), {"--copies", std::to_string(copies)});
    }
    if (d.sCollate == 1)
    {
        o.push_back(d.sCopyCommand == 1 ? "--copy-command" : "--collate");
        if (end.copies && *end.copies != d.dmPublic.dmCopies)
        {
            other.push_back("the settings block says " + std::to_string(d.dmPublic.dmCopies) +
                            " copies; the end marker's " + std::to_string(*end.copies) + " count");
        }
    }
    else if (d.sCollate != 0)
    {
        other.push_back("collation value " + std::to_string(d.sCollate) + " (the hook collates only at 1)");
    }
    switch (d.sReverseOrder)
    {
    case 0:
        break;
    case 1:
        o.push_back("--reverse");
        break;
    case 2:
    case 3:
        o.insert(o.end(), {"--page-set", d.sReverseOrder == 2 ? "odd" : "even"});
        break;
    default:
        other.push_back("page order value " + std::to_string(d.sReverseOrder));
    }
    const bool byHand = (d.sManualDuplex != 0 && d.sBooklet == 0) || (d.sBooklet != 0 && d.sManualDuplex == 2);
    if (d.sBooklet != 0)
    {
        if (d.sHardwareBooklet == 2)
        {
            o.insert(o.end(), {"--booklet", "printer"});
        }
        else if (d.sManualDuplex == 2)
        {
            o.insert(o.end(), {"--booklet", "manual"});
        }
        else
        {
            other.push_back("a booklet that neither the printer nor the person turns (no booklet routine runs)");
        }
        if (d.sBookletOption == 1)
        {
            o.insert(o.end(), {"--direction", "rtl"});
        }
        else if (d.sBookletOption != 0)
        {
            other.push_back("booklet reading direction " + std::to_string(d.sBookletOption) +
                            " (the hook reads it as left to right)");
        }
    }
    else if (d.sManualDuplex != 0)
    {
        o.push_back("--manual-duplex");
    }
    if (byHand)
    {
        if (d.sManualDuplexOrder == 1)
        {
            o.insert(o.end(), {"--order", "desc"});
        }
        if (d.sInstructionPage > 0)
        {
            o.push_back("--instruction-page");
        }
    }
    if (d.sMediaKind == 3 && d.sOhpInterleave > 0)
    {
        o.insert(o.end(), {"--transparency", d.sOhpInterleave == 1 ? "same" : "last"});
        if (d.sOhpInterleave > 2)
        {
            other.push_back("transparency interleave value " + std::to_string(d.sOhpInterleave) +
                            " (printed as \"last\")");
        }
        if (d.sOhpOption != 0)
        {
            o.push_back("--transparency-first");
        }
    }
    if (d.sWatermarkOn != 0)
    {
        o.insert(o.end(), {"--watermark", Text(d.szWmText, sizeof d.szWmText)});
        if (d.sWmFontSize != 72)
        {
            o.insert(o.end(), {"--wm-size", std::to_string(d.sWmFontSize)});
        }
        if (d.sWmAngle != 45)
        {
            o.insert(o.end(), {"--wm-angle", std::to_string(d.sWmAngle)});
        }
        if (d.sWmOutline != 0)
        {
            o.push_back("--wm-outline");
        }
        if (d.sWmFirstPageOnly != 0)
        {
            o.push_back("--wm-first-page");
        }
        const std::string face = Text(d.szWmFaceName, sizeof d.szWmFaceName);
        if (face != Text(plain.szWmFaceName, sizeof plain.szWmFaceName))
        {
            other.push_back("watermark font \"" + face + "\"");
        }
        if (d.crWmColor != plain.crWmColor)
        {
            other.push_back("watermark colour " + std::to_string(GetRValue(d.crWmColor)) + "," +
                            std::to_string(GetGValue(d.crWmColor)) + "," + std::to_string(GetBValue(d.crWmColor)));
        }
        if (d.lWmWeight != plain.lWmWeight || d.bWmItalic != 0)
        {
            other.push_back("watermark weight " + std::to_string(d.lWmWeight) + (d.bWmItalic ? ", italic" : ""));
        }
        if (d.sWmOffsetX != 0 || d.sWmOffsetY != 0)
        {
            other.push_back("watermark moved by " + std::to_string(d.sWmOffsetX) + "," + std::to_string(d.sWmOffsetY) +
                            " device units from the page centre");
        }
        if (d.sWmSizeSnap != 0)
        {
            other.push_back("watermark font sizes snapped");
        }
    }
    if (d.sOverlayMode == 1 || d.sOverlayMode == 2)
    {
        o.insert(o.end(), {d.sOverlayMode == 2 ? "--overlay-create" : "--overlay",
                           Text(d.szOverlayFile, sizeof d.szOverlayFile)});
        if (d.sOverlayMode == 1 && d.sOverlayQuery != 0)
        {
            o.push_back("--ask");
        }
        if (d.sOverlayRepeat == 3)
        {
            other.push_back("overlay creation ignores the once-only mark");
        }
    }
    else if (d.sOverlayMode != 0)
    {
        other.push_back("overlay mode " + std::to_string(d.sOverlayMode));
    }
    if (d.sDeferText != 0)
    {
        if (d.sTextMode == 2)
        {
            other.push_back("deferred text asked for, but text capture is off (text mode 2)");
        }
        else
        {
            o.push_back("--defer-text");
        }
    }
    if (d.sPassThrough != 0)
    {
        o.push_back("--pass-through");
    }
    if (!firstPage)
    {
        firstPage = FirstPageOrientation(job);
    }
    if (!firstPage || *firstPage != d.dmPublic.dmOrientation)
    {
        // make takes the first page's orientation unless told otherwise.
        if (d.dmPublic.dmOrientation == DMORIENT_PORTRAIT || d.dmPublic.dmOrientation == DMORIENT_LANDSCAPE)
        {
            o.insert(o.end(), {"--orientation", Orientation(d.dmPublic.dmOrientation)});
        }
        else
        {
            other.push_back(Orientation(d.dmPublic.dmOrientation));
        }
    }
    o.insert(o.end(), {"--name", spoolsim::Narrow(job.DocumentName())});
    if (d.dmPublic.dmScale != 100 && d.dmPublic.dmScale != 0)
    {
        other.push_back("scale " + std::to_string(d.dmPublic.dmScale) + "%");
    }
    if (d.sReverseLeadIn != 0)
    {
        other.push_back("reverse lead-in value " + std::to_string(d.sReverseLeadIn));
    }

    const Paper *paper = PaperForDmPaper(d.dmPublic.dmPaperSize);
    shown.paper = (paper ? std::string(paper->name) : "paper number " + std::to_string(d.dmPublic.dmPaperSize)) + ", " +
                  std::to_string(d.dmPublic.dmYResolution) + " dpi, " + Orientation(d.dmPublic.dmOrientation);
    return shown;
}

namespace
{

// "        1  " before a step's line.
std::string StepNumber(size_t index)
{
    char number[32];
    std::snprintf(number, sizeof number, "  %7zu  ", index + 1);
    return number;
}

} // namespace

std::string FormatShownJob(const ShownJob &shown, const spoolsim::StepSource &job, const std::string &name)
{
    std::string out = name + ": job file of \"" + spoolsim::Narrow(job.DocumentName()) + "\"\n";
    if (!shown.settings)
    {
        out += "  settings: none (the job does not begin with a settings block of " + std::to_string(DRVDEVMODE_SIZE) +
               " bytes)\n";
    }
    else
    {
        std::string words;
        for (const std::string &w : shown.options)
        {
            words += " " + ShellWord(w);
        }
        out += "  as made by: jobtool make " + (job.Source().empty() ? std::string("INPUT") : ShellWord(job.Source())) +
               words + "\n";
        out += "  settings: " + shown.paper + "\n";
        for (const std::string &o : shown.others)
        {
            out += "  also set (make has no option for it): " + o + "\n";
        }
    }
    if (!job.Source().empty())
    {
        out += "  made from: " + job.Source() + " (through Ghostscript)\n";
    }
    out += "  pages: " + std::to_string(shown.pages);
    if (shown.pageStarts != shown.pages)
    {
        out += " (" + std::to_string(shown.pageStarts) + " page-start markers)";
    }
    size_t cbWritten = 0, writes = 0;
    for (size_t i = 0; i < job.Count(); i++)
    {
        if (job.Kind(i) == spoolsim::StepKind::Write)
        {
            cbWritten += job.Size(i);
            writes++;
        }
    }
    out += "\n  the spooler: " + std::to_string(job.Count()) + " steps, " + std::to_string(writes) + " writes of " +
           std::to_string(cbWritten) + " bytes, then " +
           (job.EndDoc() ? std::string("DrvSplEndDoc") : std::string("no DrvSplEndDoc")) +
           (job.Abort() ? " and DrvSplAbort" : "") + "\n";
    for (size_t i = 0; i < shown.steps.size(); i++)
    {
        out += StepNumber(i) + shown.steps[i] + "\n";
    }
    return out;
}

void WriteStepLines(const spoolsim::StepSource &job, std::ostream &out)
{
    const std::optional<DRVDEVMODE> dm = SettingsOf(job);
    bool first = true;
    spoolsim::Bytes head;
    for (size_t i = 0; i < job.Count(); i++)
    {
        const spoolsim::StepKind kind = job.Kind(i);
        const spoolsim::Bytes &d = kind == spoolsim::StepKind::Write ? StepHead(job, i, head) : spoolsim::Bytes();
        out << StepNumber(i)
            << DescribeStep(kind, d, job.Size(i), first && kind == spoolsim::StepKind::Write, dm ? &*dm : nullptr)
            << "\n";
        first = first && kind != spoolsim::StepKind::Write;
    }
}

} // namespace jobtool
