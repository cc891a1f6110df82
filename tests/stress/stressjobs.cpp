#include "stressjobs.h"

#include <cstdio>
#include <cstring>
#include <random>
#include <sstream>

namespace stress
{

using spoolsim::DocumentJob;
using spoolsim::ToBytes;
namespace markers = spoolsim::markers;

std::string PrinterOverlay(int printer)
{
    return spoolsim::Narrow(spoolsim::DriverFile(spoolsim::Widen("form-" + std::to_string(printer) + ".ovl")));
}

Bytes PrinterOverlayData(int printer)
{
    return ToBytes("[overlay of printer " + std::to_string(printer) + "]");
}

enum Kind
{
    Direct,
    DirectWatermark,
    Collate,
    CollateCommand,
    Reverse,
    OddPages,
    ManualDuplex,
    SoftwareBooklet,
    PrinterBooklet,
    Transparencies,
    DeferredText,
    OverlayPrint,
    OverlayCreate,
    WatermarkOrientationChange,
    PassThrough,
    KindCount
};

static const char *const kKindNames[KindCount] = {"direct",           "direct with watermark",
                                                  "collated",         "collated by the printer",
                                                  "reverse",          "odd pages",
                                                  "manual duplex",    "software booklet",
                                                  "printer booklet",  "transparencies",
                                                  "deferred text",    "overlay",
                                                  "overlay creation", "watermark, orientation change",
                                                  "pass-through"};

// Pages that name their job, some with the markers the decorations replace.
static void NamePages(DocumentJob &d, const std::string &tag, bool watermark, bool overlay)
{
    d.header = ToBytes("[" + tag + " header]");
    d.trailer = ToBytes("[" + tag + " trailer]");
    d.leadIn1 = ToBytes("<" + tag.substr(0, 2) + "1>");
    d.leadIn2 = ToBytes("<" + tag.substr(0, 2) + "2>");
    for (size_t k = 0; k < d.pages.size(); k++)
    {
        std::string label = "[" + tag + " page " + std::to_string(k + 1) + "]";
        std::vector<Bytes> buffers = {ToBytes(label)};
        if (watermark)
        {
            buffers.push_back(ToBytes(markers::kWatermark));
        }
        if (overlay)
        {
            buffers.push_back(ToBytes(markers::kOverlay));
        }
        buffers.push_back(ToBytes(label + " end"));
        d.pages[k].buffers = buffers;
    }
}

static void WatermarkText(DRVDEVMODE &dm, const std::string &tag)
{
    dm.sWatermarkOn = 1;
    std::snprintf(dm.szWmText, sizeof(dm.szWmText), "MARK %s", tag.c_str());
}

StressJob MakeJob(int printer, int index, uint32_t seed)
{
    std::mt19937 rng(seed ^ static_cast<uint32_t>(printer * 7919 + index * 104729));
    auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
    Kind kind = static_cast<Kind>(pick(0, KindCount - 1));
    int n = pick(1, 9);
    std::string tag = "P" + std::to_string(printer) + "J" + std::to_string(index);

    DRVDEVMODE dm = spoolsim::DefaultSettings();
    bool watermark = false, overlay = false;
    StressJob s;
    switch (kind)
    {
    case Direct:
    case PassThrough:
        dm.sPassThrough = kind == PassThrough ? 1 : 0;
        break;
    case DirectWatermark:
        WatermarkText(dm, tag);
        watermark = true;
        break;
    case Collate:
    case CollateCommand:
        dm.sCollate = 1;
        dm.dmPublic.dmCopies = static_cast<short>(pick(2, 3));
        dm.sCopyCommand = kind == CollateCommand ? 1 : 0;
        WatermarkText(dm, tag);
        watermark = pick(0, 1) == 1;
        break;
    case Reverse:
    case OddPages:
        dm.sReverseOrder = kind == Reverse ? 1 : static_cast<short>(pick(2, 3));
        break;
    case ManualDuplex:
        dm.sManualDuplex = 1;
        dm.sManualDuplexOrder = static_cast<short>(pick(0, 1));
        break;
    case SoftwareBooklet:
    case PrinterBooklet:
        dm.sBooklet = 1;
        (kind == SoftwareBooklet ? dm.sManualDuplex : dm.sHardwareBooklet) = 2;
        dm.sManualDuplexOrder = static_cast<short>(pick(0, 1));
        dm.sBookletOption = static_cast<short>(pick(0, 1));
        break;
    case Transparencies:
        dm.sMediaKind = 3;
        dm.sOhpInterleave = static_cast<short>(pick(1, 3));
        dm.sOhpOption = static_cast<short>(pick(0, 1));
        break;
    case DeferredText:
        dm.sDeferText = 1;
        break;
    case OverlayPrint:
        dm.sOverlayMode = 1;
        dm.sOverlayQuery = 1;
        std::snprintf(dm.szOverlayFile, sizeof(dm.szOverlayFile), "%s", PrinterOverlay(printer).c_str());
        overlay = true;
        dm.sCollate = static_cast<short>(pick(0, 1));
        break;
    case OverlayCreate:
        dm.sOverlayMode = 2;
        dm.sOverlayRepeat = 3;
        s.overlayOut = spoolsim::Narrow(spoolsim::DriverFile(spoolsim::Widen("made-" + tag + ".ovl")));
        std::snprintf(dm.szOverlayFile, sizeof(dm.szOverlayFile), "%s", s.overlayOut.c_str());
        WatermarkText(dm, tag);
        watermark = true;
        break;
    case WatermarkOrientationChange:
        WatermarkText(dm, tag);
        watermark = true;
        dm.sCollate = 1;
        dm.dmPublic.dmCopies = 2;
        break;
    case KindCount:
        break;
    }

    DocumentJob d(dm, n);
    NamePages(d, tag, watermark, overlay);
    d.documentName = spoolsim::Widen("stress " + tag);
    if (kind == SoftwareBooklet || kind == PrinterBooklet)
    {
        d.booklet = markers::BookletRecord::Standard(kind == SoftwareBooklet, false);
    }
    if (kind == Collate || kind == CollateCommand || kind == WatermarkOrientationChange)
    {
        d.end.copies = static_cast<WORD>(dm.dmPublic.dmCopies);
        if (kind == CollateCommand)
        {
            d.end.copyCommand = ToBytes("{QTY " + tag + "}");
        }
    }
    s.job = d.Build();
    if (kind == DeferredText)
    {
        // Each page's text is held back to the page's end.
        std::vector<spoolsim::Step> steps;
        for (const spoolsim::Step &step : s.job.steps)
        {
            steps.push_back(step);
            if (step.kind == spoolsim::StepKind::StartPage)
            {
                steps.push_back({spoolsim::StepKind::Write, markers::DeferStart()});
                steps.push_back({spoolsim::StepKind::Write, ToBytes("(text of " + tag + ")")});
                steps.push_back({spoolsim::StepKind::Write, markers::DeferEnd()});
            }
        }
        s.job.steps = steps;
    }
    if (kind == WatermarkOrientationChange)
    {
        // After the first page the rendering driver turns to landscape.
        DRVDEVMODE landscape = dm;
        landscape.dmPublic.dmOrientation = DMORIENT_LANDSCAPE;
        const BYTE *pb = reinterpret_cast<const BYTE *>(&landscape);
        for (size_t i = 0; i < s.job.steps.size(); i++)
        {
            if (s.job.steps[i].kind == spoolsim::StepKind::EndPage)
            {
                s.job.steps.insert(s.job.steps.begin() + static_cast<std::ptrdiff_t>(i + 1),
                                   {spoolsim::StepKind::Write, Bytes(pb, pb + sizeof(landscape))});
                break;
            }
        }
    }
    s.name = "printer " + std::to_string(printer) + ", job " + std::to_string(index) + ": " + kKindNames[kind] + ", " +
             std::to_string(n) + " pages";
    return s;
}

static bool EndsWith(const std::string &s, const std::string &tail)
{
    return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

std::string Outcome(const StressJob &job, const spoolsim::RunResult &r)
{
    std::ostringstream o;
    o << "started " << r.started << "\n";
    for (const spoolsim::WriteRecord &w : r.writes)
    {
        o << "write " << w.cbBuf << " -> " << w.result << " " << w.cbWritten << "\n";
    }
    for (BOOL b : r.endPageResults)
    {
        o << "end page " << b << "\n";
    }
    for (const spoolsim::Document *d : r.PrinterDocuments())
    {
        o << "document '" << spoolsim::Narrow(d->name) << "' ended " << d->ended << " aborted " << d->aborted << ": "
          << spoolsim::Printable(d->data, 1 << 20) << "\n";
    }
    for (const spoolsim::MessageBoxRecord &b : r.boxes)
    {
        o << "box '" << spoolsim::Narrow(b.text) << "' '" << spoolsim::Narrow(b.caption) << "' " << b.style << "\n";
    }
    for (const spoolsim::WString &t : r.traces)
    {
        std::string s = spoolsim::Narrow(t);
        // The spool file's name is the machine's choice, and taking a file
        // of the job's own when another job holds the shared one is noted.
        if (EndsWith(s, ".tmp") || s.find("shared file in use") != std::string::npos)
        {
            continue;
        }
        o << "trace " << spoolsim::Printable(spoolsim::ToBytes(s), 4096) << "\n";
    }
    if (!job.overlayOut.empty())
    {
        o << "overlay file: "
          << spoolsim::Printable(spoolsim::Machine::ReadFileBytes(spoolsim::Widen(job.overlayOut)).value_or(Bytes()),
                                 1 << 20)
          << "\n";
    }
    return o.str();
}

std::string FirstDifference(const std::string &expected, const std::string &actual)
{
    std::istringstream e(expected), a(actual);
    std::string le, la;
    for (int line = 1;; line++)
    {
        bool me = static_cast<bool>(std::getline(e, le));
        bool ma = static_cast<bool>(std::getline(a, la));
        if (!me && !ma)
        {
            return std::string();
        }
        if (!me || !ma || le != la)
        {
            return "line " + std::to_string(line) + ":\n  alone:        " + (me ? le.substr(0, 300) : "(none)") +
                   "\n  side by side: " + (ma ? la.substr(0, 300) : "(none)");
        }
    }
}

} // namespace stress
