// Fault-injection sweep: every scenario job of the catalogue is run once to
// count the platform calls it makes, then once more for each call, with that
// one call failing (every allocation, file create, write, read, seek, library
// load and export look-up of kernel32), each file write short (failing and
// succeeding), each printer write failing and short, and each message box
// failing. Every run must end clean: nothing left open or on disk, the page
// index within the spool file, only the messages the hook has for failures,
// each in its own style, and no failure that the job would pass for success.
#include <gtest/gtest.h>

#include <w32emu.h>

#include <algorithm>
#include <cstdlib>
#include <map>
#include <set>

#include "catalogue.h"
#include "fuzzjob.h"
#include "spldata.h"

namespace
{

using fuzzjob::Scenario;
using spoolsim::Bytes;
using spoolsim::Narrow;
using spoolsim::RunResult;
using spoolsim::WString;

// One injection: a kernel32 call, a file write made short, a printer write,
// or a message box.
struct Injection
{
    enum Kind
    {
        None,
        Call,
        ShortFileWrite,
        Printer,
        Box
    } kind = None;
    std::string function; // Call
    DWORD nth = 0;        // the call, write or box, counted from the scenario's start
    bool succeed = false; // ShortFileWrite: TRUE with the short count; Printer: a short write

    std::string Describe() const
    {
        switch (kind)
        {
        case Call:
            return function + " #" + std::to_string(nth) + " fails";
        case ShortFileWrite:
            return std::string("WriteFile #") + std::to_string(nth) + " short, " + (succeed ? "TRUE" : "FALSE");
        case Printer:
            return std::string("WritePrinter #") + std::to_string(nth) + (succeed ? " short" : " fails");
        case Box:
            return "MessageBoxW #" + std::to_string(nth) + " fails";
        default:
            return "no fault";
        }
    }
};

struct JobOutcome
{
    RunResult run;
    DWORD cHandlesBefore = 0, cHandlesAfter = 0;
    DWORD cBlocksBefore = 0, cBlocksAfter = 0;
    int cSpoolFilesAfter = 0;
    size_t cGdiAfter = 0;
    std::vector<std::pair<std::string, uint64_t>> spoolAtEndDoc;
    std::map<std::string, DWORD> callsAtEndDoc; // counted from the scenario's start
    std::map<std::string, DWORD> callsAfter;
    bool watermarkFileAsSpooled = true; // the spooler wrote the watermark job's file whole
};

struct Outcome
{
    std::vector<JobOutcome> jobs;
    Bytes printed; // every printer document, in order
    std::vector<spoolsim::MessageBoxRecord> boxes;
    bool anyFailureReported = false; // a hook returned FALSE or NULL
    bool readBackFailed = false;     // the output routine could not read its spool file back
    DWORD cPrinterWrites = 0;
    DWORD cFileWrites = 0;
};

// The calls of fuzzjob::FailedCalls(), in the layer's order.
std::vector<std::string> FaultableNames()
{
    const std::vector<std::string> &failed = fuzzjob::FailedCalls();
    std::vector<std::string> names;
    for (DWORD i = 0; W32EmuFaultableAt(i) != nullptr; i++)
    {
        if (std::find(failed.begin(), failed.end(), W32EmuFaultableAt(i)) != failed.end())
        {
            names.push_back(W32EmuFaultableAt(i));
        }
    }
    return names;
}

Outcome RunScenario(const Scenario &s, const Injection &inj, const std::vector<int> &answers)
{
    Outcome out;
    spoolsim::Machine machine;
    fuzzjob::PrepareDriverFiles(s.iniVariant);
    spoolsim::Spooler spooler;
    EXPECT_TRUE(spooler.Loaded());
    spooler.user.script = answers;
    const std::vector<std::string> names = FaultableNames();
    auto counts = [&]() {
        std::map<std::string, DWORD> c;
        for (const std::string &n : names)
        {
            c[n] = W32EmuCallCount(n.c_str());
        }
        return c;
    };

    W32EmuResetFaults();
    switch (inj.kind)
    {
    case Injection::Call:
        W32EmuFailCall(inj.function.c_str(), inj.nth, fuzzjob::FailureError(inj.function), 1);
        break;
    case Injection::ShortFileWrite:
        W32EmuShortWrite(inj.nth, 1, inj.succeed ? TRUE : FALSE);
        break;
    default:
        break;
    }

    DWORD cPrinterWritesBefore = 0;
    for (const spoolsim::Job &job : s.jobs)
    {
        JobOutcome jo;
        if (inj.kind == Injection::Printer && inj.nth > cPrinterWritesBefore)
        {
            // The simulation counts printer writes per run.
            spooler.printerFault = spoolsim::PrinterFault();
            spooler.printerFault.nth = inj.nth - cPrinterWritesBefore;
            spooler.printerFault.shortWrite = inj.succeed;
            spooler.printerFault.cbShort = 1;
        }
        else
        {
            spooler.printerFault = spoolsim::PrinterFault();
        }
        jo.cHandlesBefore = spoolsim::OpenHandleCount();
        jo.cBlocksBefore = W32EmuLiveGlobalBlocks();
        spooler.beforeStep = [&](size_t i) {
            if (i == job.steps.size())
            {
                jo.spoolAtEndDoc = fuzzjob::SpoolFiles();
                jo.callsAtEndDoc = counts();
            }
        };
        jo.run = spooler.Run(job);
        spooler.beforeStep = nullptr;
        jo.callsAfter = counts();
        if (jo.callsAtEndDoc.empty())
        {
            jo.callsAtEndDoc = jo.callsAfter; // no DrvSplEndDoc
        }
        jo.cHandlesAfter = spoolsim::OpenHandleCount();
        jo.cBlocksAfter = W32EmuLiveGlobalBlocks();
        jo.cSpoolFilesAfter = spoolsim::Machine::SpoolFilesLeft();
        jo.cGdiAfter = spoolsim::LiveGdiObjects() + spoolsim::LiveDeviceContexts();

        for (const spoolsim::Document &d : jo.run.documents)
        {
            if (d.nested)
            {
                // The watermark job's file as the spooler despooled it: a
                // fault in that write is the spooler's, not the hook's.
                std::optional<Bytes> file = spoolsim::Machine::ReadFileBytes(d.outputFile);
                jo.watermarkFileAsSpooled = jo.watermarkFileAsSpooled && file && *file == d.data;
                continue;
            }
            out.printed.insert(out.printed.end(), d.data.begin(), d.data.end());
            out.cPrinterWrites += static_cast<DWORD>(d.writes.size());
            cPrinterWritesBefore += static_cast<DWORD>(d.writes.size());
        }
        out.boxes.insert(out.boxes.end(), jo.run.boxes.begin(), jo.run.boxes.end());
        out.anyFailureReported =
            out.anyFailureReported || !jo.run.started ||
            std::any_of(jo.run.writes.begin(), jo.run.writes.end(),
                        [](const spoolsim::WriteRecord &w) { return !w.result; }) ||
            std::any_of(jo.run.endPageResults.begin(), jo.run.endPageResults.end(), [](BOOL b) { return !b; });
        out.readBackFailed =
            out.readBackFailed || !jo.run.TracesStartingWith(W("QVXLUMPD: spool file read back failed")).empty();
        out.jobs.push_back(std::move(jo));
    }
    out.cFileWrites = W32EmuCallCount("WriteFile");
    W32EmuResetFaults();
    return out;
}

// ---- what the hook may show ----------------------------------------------------------

bool IsNumber(const std::string &s)
{
    return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) { return (c >= '0' && c <= '9') || c == '-'; });
}

// The failure messages and the styles each is shown in.
const std::map<std::string, std::set<UINT>> &ErrorMessages()
{
    static const std::map<std::string, std::set<UINT>> table = {
        {"Failed to SetFilePointer", {MB_OK}},
        {"Failed to read file : PRINT_BUF_SIZE", {MB_ICONERROR}},
        {"Failed to read file: dwTextfileCount", {MB_ICONERROR}},
        {"Failed to write date to the printer : PRINT_BUF_SIZE", {MB_ICONERROR}},
        {"Failed to write date to the printer: cbSize", {MB_ICONERROR}},
        {"Failed to print in reverse order", {MB_OK}},
        {"Failed in collation printing", {MB_OK}},
        {"Failed to makewatermark: WMark", {MB_ICONERROR}},
        {"Could not create temporary file.", {MB_OK}},
        {"Failed to createDC in PSUI", {MB_OK}},
        {"failed to MultiByteToWideChar", {MB_OK}},
        {"Failed to startDoc", {MB_OK}},
        {"Failed to TextOut", {MB_OK}},
        {"Failed to CreateFile", {MB_OK}},
        {"Failed to GetFileSize", {MB_OK}},
        {"Failed to ReadFile", {MB_OK}},
        {"failed to allocate memeory", {MB_OK, MB_ICONERROR}},
        {"failed to read watermark data", {MB_ICONERROR}},
        {"failed to WritePrinter in watermark module", {MB_ICONERROR}},
        {"Failed to CreateFile in Create Overlay", {MB_OK}},
        {"Failed in Writing Overlay file", {MB_ICONERROR}}};
    return table;
}

const UINT kQuestion = MB_OKCANCEL | MB_ICONQUESTION | MB_SYSTEMMODAL;
const UINT kDuplexPrompt = MB_OK | MB_ICONWARNING | MB_SYSTEMMODAL | MB_SETFOREGROUND;

void CheckBoxes(const Outcome &out, std::vector<std::string> &problems)
{
    const std::string *pPrevious = nullptr;
    std::string previous;
    for (const spoolsim::MessageBoxRecord &box : out.boxes)
    {
        std::string text = Narrow(box.text);
        if (!box.ownerNull)
        {
            problems.push_back("\"" + text + "\" has an owner window");
        }
        if (box.style == kQuestion || box.style == kDuplexPrompt)
        {
            if (box.captionNull)
            {
                problems.push_back("prompt \"" + text + "\" without its caption");
            }
        }
        else
        {
            auto it = ErrorMessages().find(text);
            bool known = it != ErrorMessages().end() && it->second.count(box.style) > 0;
            // GetLastError's value follows "Failed to createDC in PSUI".
            bool number = IsNumber(text) && box.style == MB_OK && pPrevious != nullptr &&
                          *pPrevious == "Failed to createDC in PSUI";
            if (!known && !number)
            {
                problems.push_back("unexpected message \"" + text + "\", style " + std::to_string(box.style));
            }
            if (!box.captionNull)
            {
                problems.push_back("message \"" + text + "\" with a caption");
            }
        }
        previous = text;
        pPrevious = &previous;
    }
}

// Whether a is b with parts left out (what a seek, read or printer write
// that fails inside a page copy may do), nothing added.
bool IsSubsequence(const Bytes &a, const Bytes &b)
{
    size_t j = 0;
    for (size_t i = 0; i < a.size(); i++)
    {
        while (j < b.size() && b[j] != a[i])
        {
            j++;
        }
        if (j == b.size())
        {
            return false;
        }
        j++;
    }
    return true;
}

bool HasTrace(const RunResult &run, const std::string &prefix)
{
    return !run.TracesStartingWith(spoolsim::Widen(prefix)).empty();
}

struct SweepTotals
{
    size_t injections = 0;
    std::map<std::string, size_t> byKind;
};
SweepTotals g_totals;

std::vector<std::string> Check(const Scenario &s, const Outcome &base, const Injection &inj, const Outcome &out)
{
    std::vector<std::string> problems;

    CheckBoxes(out, problems);

    bool bSpoolerSide = false;
    for (size_t j = 0; j < out.jobs.size(); j++)
    {
        const JobOutcome &jo = out.jobs[j];
        const std::string at = "job " + std::to_string(j + 1) + ": ";
        bSpoolerSide = bSpoolerSide || !jo.watermarkFileAsSpooled;

        if (jo.cHandlesAfter != jo.cHandlesBefore)
        {
            problems.push_back(at + std::to_string(jo.cHandlesAfter - jo.cHandlesBefore) +
                               " handle(s) open after DrvSplClose");
        }
        if (jo.cBlocksAfter != jo.cBlocksBefore)
        {
            problems.push_back(at + "memory blocks live after DrvSplClose: " + std::to_string(jo.cBlocksAfter) +
                               ", before the job " + std::to_string(jo.cBlocksBefore));
        }
        if (jo.cSpoolFilesAfter != 0)
        {
            problems.push_back(at + "spool file left after DrvSplClose");
        }
        if (jo.cGdiAfter != 0)
        {
            problems.push_back(at + "GDI objects or device contexts left");
        }
        if (jo.run.started && s.jobs[j].endDoc)
        {
            fuzzjob::TracedIndex idx = fuzzjob::LastTracedIndex(jo.run.traces);
            if (jo.spoolAtEndDoc.size() == 1 && static_cast<uint64_t>(idx.dwCount) > jo.spoolAtEndDoc[0].second)
            {
                problems.push_back(at + "dwCount " + std::to_string(idx.dwCount) + " counts bytes not in the " +
                                   std::to_string(jo.spoolAtEndDoc[0].second) + "-byte spool file");
            }
            for (long long page : idx.pages)
            {
                if (page > idx.dwCount)
                {
                    problems.push_back(at + "page index entry " + std::to_string(page) + " beyond dwCount");
                }
            }
        }
        for (const spoolsim::WriteRecord &w : jo.run.writes)
        {
            if (w.result && w.cbWritten > w.cbBuf)
            {
                problems.push_back(at + "a write reports more bytes written than it was given");
            }
        }
        // A job whose start failed shows nothing; only the context's
        // allocation or the overlay library's load may fail it.
        if (!jo.run.started)
        {
            if (!(inj.kind == Injection::Call && (inj.function == "GlobalAlloc" || inj.function == "LoadLibraryW")))
            {
                problems.push_back(at + "DrvSplStartDoc failed");
            }
            if (!jo.run.boxes.empty())
            {
                problems.push_back(at + "a failed DrvSplStartDoc showed a message");
            }
        }
        // The spool file could not be made: a trace only, and nothing is
        // printed from the spool file at the end.
        if (HasTrace(jo.run, "Could not create temporary file.") &&
            !HasTrace(base.jobs[j].run, "Could not create temporary file."))
        {
            for (const spoolsim::MessageBoxRecord &box : jo.run.boxes)
            {
                if (Narrow(box.text) == "Could not create temporary file.")
                {
                    problems.push_back(at + "the spool file's creation failure was shown");
                }
            }
        }
    }

    // Where the injected call fell: while the job was taken in, or in the
    // output routines of DrvSplEndDoc (whose seeks, reads and printer writes
    // are examined only for the gap a failed read back leaves).
    bool bOutputPhase = false;
    if (inj.kind == Injection::Call || inj.kind == Injection::ShortFileWrite)
    {
        std::string fn = inj.kind == Injection::Call ? inj.function : "WriteFile";
        DWORD cBefore = 0;
        for (const JobOutcome &jo : base.jobs)
        {
            auto atEnd = jo.callsAtEndDoc.find(fn);
            auto after = jo.callsAfter.find(fn);
            DWORD cAtEnd = atEnd != jo.callsAtEndDoc.end() ? atEnd->second : 0;
            DWORD cAfter = after != jo.callsAfter.end() ? after->second : 0;
            if (inj.nth > cBefore && inj.nth <= cAfter)
            {
                bOutputPhase = inj.nth > cAtEnd;
                break;
            }
            cBefore = cAfter;
        }
    }
    else if (inj.kind == Injection::Printer)
    {
        bOutputPhase = true; // judged by its content below
    }

    // The failures with a stated outcome of their own.
    const bool bCall = inj.kind == Injection::Call;
    if (bCall && inj.nth == 1 && (inj.function == "GlobalAlloc" || inj.function == "LoadLibraryW") &&
        out.jobs[0].run.started)
    {
        problems.push_back("DrvSplStartDoc succeeded without its job context or overlay library");
    }
    if (bCall && inj.function == "GlobalAlloc" && bOutputPhase && out.printed != base.printed)
    {
        // The transfer buffer: collation and reverse order say so; the other
        // routines end silently.
        const char *pszExpected = nullptr;
        if (s.name.compare(0, 7, "collate") == 0 || s.name == "watermark_spooled")
        {
            pszExpected = "Failed in collation printing";
        }
        else if (s.name.compare(0, 7, "reverse") == 0 || s.name == "overlay_spooled")
        {
            pszExpected = "Failed to print in reverse order";
        }
        bool bShown = std::any_of(out.boxes.begin(), out.boxes.end(), [&](const spoolsim::MessageBoxRecord &b) {
            return pszExpected != nullptr && Narrow(b.text) == pszExpected && b.style == MB_OK;
        });
        if (pszExpected != nullptr && !bShown)
        {
            problems.push_back(std::string("no \"") + pszExpected + "\" for a failed transfer buffer");
        }
        auto errors = [](const Outcome &o) {
            return std::count_if(o.boxes.begin(), o.boxes.end(), [](const spoolsim::MessageBoxRecord &b) {
                return b.style != kQuestion && b.style != kDuplexPrompt;
            });
        };
        if (pszExpected == nullptr && errors(out) != errors(base))
        {
            problems.push_back("a message for a failed transfer buffer of a routine that reports none");
        }
    }

    const bool bDiffers = out.printed != base.printed;
    const bool bNewMessage = out.boxes.size() != base.boxes.size();
    if (bOutputPhase)
    {
        if (bDiffers && !IsSubsequence(out.printed, base.printed) && !out.anyFailureReported)
        {
            problems.push_back("the printer received bytes the job does not hold");
        }
        // A seek or read of the spool file that fails ends what is sent from
        // it: the printer gets less than the job holds, and nothing else.
        if (out.readBackFailed &&
            (out.printed.size() >= base.printed.size() || !IsSubsequence(out.printed, base.printed)))
        {
            problems.push_back("the printer received more than what came before a failed read back");
        }
        const bool bRoutineReports = s.name.compare(0, 7, "collate") == 0 || s.name.compare(0, 7, "reverse") == 0 ||
                                     s.name == "watermark_spooled" || s.name == "overlay_spooled";
        const bool bShownAny = std::any_of(out.boxes.begin(), out.boxes.end(), [](const spoolsim::MessageBoxRecord &b) {
            const std::string text = Narrow(b.text);
            return text == "Failed in collation printing" || text == "Failed to print in reverse order";
        });
        if (out.readBackFailed && bRoutineReports && !bShownAny)
        {
            problems.push_back("a failed read back that collation or reverse order does not report");
        }
        for (const spoolsim::MessageBoxRecord &box : out.boxes)
        {
            std::string text = Narrow(box.text);
            if ((text == "Failed in collation printing" || text == "Failed to print in reverse order") &&
                !(inj.kind == Injection::Call && inj.function == "GlobalAlloc") && !out.readBackFailed)
            {
                problems.push_back("\"" + text + "\" for a failure the routine does not examine");
            }
        }
    }
    else if (inj.kind != Injection::None && inj.kind != Injection::Box && bDiffers && !out.anyFailureReported &&
             !bNewMessage && !bSpoolerSide)
    {
        problems.push_back("the output changed but no hook reported a failure and nothing was shown");
    }

    return problems;
}

class FaultSweep : public ::testing::TestWithParam<size_t>
{
};

TEST_P(FaultSweep, EveryInjectionEndsClean)
{
    const Scenario &s = fuzzjob::Catalogue()[GetParam()];
    const Outcome base = RunScenario(s, Injection(), {});
    {
        std::vector<std::string> problems = Check(s, base, Injection(), base);
        ASSERT_TRUE(problems.empty()) << s.name << " without faults: " << problems.front();
        ASSERT_FALSE(base.anyFailureReported) << s.name << " fails without faults";
        ASSERT_FALSE(base.jobs.empty());
    }

    std::vector<Injection> injections;
    const std::map<std::string, DWORD> &total = base.jobs.back().callsAfter;
    for (const auto &entry : total)
    {
        for (DWORD n = 1; n <= entry.second; n++)
        {
            Injection inj;
            inj.kind = Injection::Call;
            inj.function = entry.first;
            inj.nth = n;
            injections.push_back(inj);
        }
    }
    for (DWORD n = 1; n <= base.cFileWrites; n++)
    {
        for (bool succeed : {false, true})
        {
            Injection inj;
            inj.kind = Injection::ShortFileWrite;
            inj.nth = n;
            inj.succeed = succeed;
            injections.push_back(inj);
        }
    }
    for (DWORD n = 1; n <= base.cPrinterWrites; n++)
    {
        for (bool shortWrite : {false, true})
        {
            Injection inj;
            inj.kind = Injection::Printer;
            inj.nth = n;
            inj.succeed = shortWrite;
            injections.push_back(inj);
        }
    }
    for (DWORD n = 1; n <= base.boxes.size(); n++)
    {
        Injection inj;
        inj.kind = Injection::Box;
        inj.nth = n;
        injections.push_back(inj);
    }

    for (const Injection &inj : injections)
    {
        std::vector<int> answers;
        if (inj.kind == Injection::Box)
        {
            for (DWORD i = 0; i + 1 < inj.nth; i++)
            {
                answers.push_back(base.boxes[i].answer);
            }
            answers.push_back(0);
        }
        Outcome out = RunScenario(s, inj, answers);
        for (const std::string &p : Check(s, base, inj, out))
        {
            ADD_FAILURE() << s.name << ", " << inj.Describe() << ": " << p;
        }
        g_totals.injections++;
        g_totals.byKind[inj.kind == Injection::Call             ? inj.function
                        : inj.kind == Injection::ShortFileWrite ? "WriteFile (short)"
                        : inj.kind == Injection::Printer        ? "WritePrinter"
                                                                : "MessageBoxW"]++;
    }
    // Every scenario makes allocations, file calls and printer writes.
    EXPECT_GT(total.count("GlobalAlloc") ? total.at("GlobalAlloc") : 0, 0u) << s.name;
    EXPECT_GT(base.cPrinterWrites, 0u) << s.name;
}

std::string ScenarioName(const ::testing::TestParamInfo<size_t> &info)
{
    return fuzzjob::Catalogue()[info.param].name;
}

INSTANTIATE_TEST_SUITE_P(Catalogue, FaultSweep, ::testing::Range<size_t>(0, fuzzjob::Catalogue().size()), ScenarioName);

class Totals : public ::testing::Environment
{
  public:
    void TearDown() override
    {
        std::printf("fault sweep: %zu injection points exercised over %zu scenarios\n", g_totals.injections,
                    fuzzjob::Catalogue().size());
        for (const auto &k : g_totals.byKind)
        {
            std::printf("  %-22s %zu\n", k.first.c_str(), k.second);
        }
    }
};
const ::testing::Environment *const g_env = ::testing::AddGlobalTestEnvironment(new Totals);

} // namespace
