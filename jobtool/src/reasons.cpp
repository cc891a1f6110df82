#include "reasons.h"

#include "codepage.h"
#include "driver.h"
#include "replay.h"

#include <cstring>
#include <optional>

namespace jobtool
{

namespace
{

// The hook's own texts (traces and message boxes), as it writes them.
const char kTracePageIndexFull[] = "QVXLUMPD: page index full, job refused";
const char kTraceNoOrientationRoom[] = "QVXLUMPD: no room for page orientations, job refused";
const char kTraceBookletRefused[] = "QVXLUMPD: booklet record refused";
const char kTraceSpoolFileLost[] = "QVXLUMPD: spool file lost";
const char kTraceNoSpoolFile[] = "Could not create temporary file.";
const char kTraceSpoolIncomplete[] = "QVXLUMPD: spooled data incomplete, nothing sent";
const char kTraceReadBackFailed[] = "QVXLUMPD: spool file read back failed, the document is incomplete";
const char kTraceTextLost[] = "QVXLUMPD: deferred text lost, job refused";
const char kBoxNoTempFile[] = "Could not create temporary file.";
const char kBoxOverlayCreateFailed[] = "Failed to CreateFile in Create Overlay";
const char kBoxOverlayWriteFailed[] = "Failed in Writing Overlay file";
const char kBoxConversionFailed[] = "failed to MultiByteToWideChar";
const char kBoxWatermarkMade[] = "Failed to makewatermark: WMark";
const char kBoxCreateDc[] = "Failed to createDC in PSUI";
const char kBoxStartDoc[] = "Failed to startDoc";
const char kBoxTextOut[] = "Failed to TextOut";
const char kBoxWatermarkOpen[] = "Failed to CreateFile";
const char kBoxWatermarkRead[] = "failed to read watermark data";
const char kBoxWatermarkWrite[] = "failed to WritePrinter in watermark module";
const char kBoxCollation[] = "Failed in collation printing";
const char kBoxReverse[] = "Failed to print in reverse order";
const char kBoxReplayRead[] = "Failed to read file";
const char kBoxReplayWrite[] = "Failed to write date to the printer";
const char kBoxReplaySeek[] = "Failed to SetFilePointer";

constexpr BYTE kMarkPageStart = 0xAA;
constexpr BYTE kMarkBooklet = 0x00;

// The head of the job's write (StepHead): all that tells what it carried.
const spoolsim::Bytes *WriteData(const spoolsim::StepSource &job, size_t writeIndex, spoolsim::Bytes &buffer)
{
    size_t n = 0;
    for (size_t i = 0; i < job.Count(); i++)
    {
        if (job.Kind(i) == spoolsim::StepKind::Write && n++ == writeIndex)
        {
            return &StepHead(job, i, buffer);
        }
    }
    return nullptr;
}

bool IsText(const spoolsim::Bytes &d, const char *text)
{
    return d.size() == std::strlen(text) && std::memcmp(d.data(), text, d.size()) == 0;
}

bool IsMarker(const spoolsim::Bytes &d, BYTE code)
{
    return d.size() >= 4 && d[0] == 0x1B && d[1] == 0xF0 && d[2] == 0x10 && d[3] == code;
}

uint64_t PageStartMarkers(const spoolsim::StepSource &job)
{
    uint64_t n = 0;
    for (size_t i = 0; i < job.Count(); i++)
    {
        BYTE d[4];
        n += job.Kind(i) == spoolsim::StepKind::Write && job.Size(i) >= 4 && job.ReadPart(i, 0, d, 4) &&
                     IsMarker(spoolsim::Bytes(d, d + 4), kMarkPageStart)
                 ? 1
                 : 0;
    }
    return n;
}

std::string FieldText(const CHAR *field, size_t cb)
{
    size_t n = 0;
    while (n < cb && field[n] != 0)
    {
        n++;
    }
    return std::string(field, n);
}

// The Windows error of a failed file call, in words.
std::string ErrorWords(DWORD error)
{
    switch (error)
    {
    case ERROR_FILE_NOT_FOUND:
        return "it does not exist";
    case ERROR_PATH_NOT_FOUND:
        return "its folder does not exist";
    case ERROR_ACCESS_DENIED:
        return "access is denied";
    case ERROR_SHARING_VIOLATION:
        return "another program has it open";
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
        return "the disk is full";
    case ERROR_DIRECTORY:
        return "the folder name is not a folder";
    default:
        return "Windows error " + std::to_string(error);
    }
}

// Empty when a new file can be made in the folder; else why not.
std::string CannotMakeFileIn(const spoolsim::WString &folder)
{
    const DWORD attributes = GetFileAttributesW(folder.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
    {
        const DWORD error = GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND
                   ? "the folder " + spoolsim::Narrow(folder) + " does not exist"
                   : spoolsim::Narrow(folder) + ": " + ErrorWords(error);
    }
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY))
    {
        return spoolsim::Narrow(folder) + " is a file, not a folder";
    }
    const spoolsim::WString probe = folder + spoolsim::Widen("\\jobtool-probe.tmp");
    HANDLE h = CreateFileW(probe.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE)
    {
        const DWORD error = GetLastError();
        return error == ERROR_FILE_EXISTS
                   ? std::string()
                   : "no file can be made in " + spoolsim::Narrow(folder) + ": " + ErrorWords(error);
    }
    CloseHandle(h);
    DeleteFileW(probe.c_str());
    return std::string();
}

// Empty when the file can be read; else why not.
std::string CannotRead(const spoolsim::WString &path)
{
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
    {
        const DWORD error = GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? "does not exist"
                                                                              : "cannot be read: " + ErrorWords(error);
    }
    if (attributes & FILE_ATTRIBUTE_DIRECTORY)
    {
        return "is a folder, not a file";
    }
    HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                           nullptr);
    if (h == INVALID_HANDLE_VALUE)
    {
        return "cannot be read: " + ErrorWords(GetLastError());
    }
    CloseHandle(h);
    return std::string();
}

// Why the driver folder's overlay library cannot give the overlay's data:
// an export missing, or a size no embedding can count.
std::string LibraryCannotGive(const std::string &overlayPath)
{
    typedef DWORD(WINAPI * GetOverlaySize)(LPSTR);
    HMODULE h = LoadLibraryW(spoolsim::DriverFile(spoolsim::Widen("kd7720o.dll")).c_str());
    if (h == nullptr)
    {
        return "the overlay library kd7720o.dll in the driver folder cannot be loaded";
    }
    std::string problem;
    auto getSize = reinterpret_cast<GetOverlaySize>(reinterpret_cast<void *>(GetProcAddress(h, "getOverlaySize")));
    if (getSize == nullptr || GetProcAddress(h, "ReadOverlay") == nullptr)
    {
        problem = std::string("the overlay library kd7720o.dll in the driver folder has no ") +
                  (getSize == nullptr ? "getOverlaySize" : "ReadOverlay");
    }
    else
    {
        std::string name = overlayPath;
        const DWORD cb = getSize(&name[0]);
        // The embedding adds 76 bytes, and all must count in 32 bits.
        if (cb > 0xFFFFFFFFUL - 76)
        {
            problem = "the overlay library reports " + std::to_string(cb) +
                      " bytes for the overlay, more than a print stream can embed";
        }
    }
    FreeLibrary(h);
    return problem;
}

spoolsim::WString FolderOf(const spoolsim::WString &path)
{
    const size_t cut = path.find_last_of(spoolsim::Widen("\\/"));
    if (cut == spoolsim::WString::npos)
    {
        return spoolsim::Widen(".");
    }
    return path.substr(0, cut == 2 && path.size() > 1 && path[1] == ':' ? 3 : cut);
}

std::string Quoted(const spoolsim::WString &text)
{
    return "\"" + spoolsim::Narrow(text) + "\"";
}

// What one run shows: its traces, its boxes.
class Evidence
{
  public:
    explicit Evidence(const spoolsim::RunResult &run) : m_run(run)
    {
    }
    bool Traced(const char *text) const
    {
        const spoolsim::WString wanted = spoolsim::Widen(text);
        for (const spoolsim::WString &t : m_run.traces)
        {
            if (t.find(wanted) != spoolsim::WString::npos)
            {
                return true;
            }
        }
        return false;
    }
    // The first box with this text, or (prefix) whose text begins with it.
    const spoolsim::MessageBoxRecord *Box(const char *text, bool prefix = false) const
    {
        const spoolsim::WString wanted = spoolsim::Widen(text);
        for (const spoolsim::MessageBoxRecord &b : m_run.boxes)
        {
            if (prefix ? b.text.compare(0, wanted.size(), wanted) == 0 : b.text == wanted)
            {
                return &b;
            }
        }
        return nullptr;
    }
    // The box shown after this one, if any.
    const spoolsim::MessageBoxRecord *Next(const spoolsim::MessageBoxRecord *box) const
    {
        for (size_t i = 0; i + 1 < m_run.boxes.size(); i++)
        {
            if (&m_run.boxes[i] == box)
            {
                return &m_run.boxes[i + 1];
            }
        }
        return nullptr;
    }
    // The question the person answered with Cancel, if any.
    const spoolsim::MessageBoxRecord *Cancelled() const
    {
        for (const spoolsim::MessageBoxRecord &b : m_run.boxes)
        {
            if (b.answer == IDCANCEL)
            {
                return &b;
            }
        }
        return nullptr;
    }

  private:
    const spoolsim::RunResult &m_run;
};

// Why the watermark could not be made or read, from the hook's boxes.
std::string WatermarkCause(const Evidence &e)
{
    if (const spoolsim::MessageBoxRecord *b = e.Box(kBoxCreateDc))
    {
        // The hook shows the system's error number in the box after it.
        const spoolsim::MessageBoxRecord *code = e.Next(b);
        return "the printer's device context for drawing the watermark could not be created" +
               (code != nullptr ? " (Windows error " + spoolsim::Narrow(code->text) + ")" : std::string());
    }
    if (e.Box(kBoxStartDoc) != nullptr)
    {
        return "the job that draws the watermark could not be started";
    }
    if (e.Box(kBoxTextOut) != nullptr)
    {
        return "the watermark text could not be drawn";
    }
    if (e.Box(kBoxConversionFailed) != nullptr)
    {
        return "the watermark text or face name could not be read in the printer's code page";
    }
    if (e.Box(kBoxWatermarkMade) != nullptr)
    {
        return "the watermark file could not be made";
    }
    if (e.Box(kBoxWatermarkOpen) != nullptr || e.Box(kBoxWatermarkRead) != nullptr)
    {
        return "the watermark file in the driver folder could not be read";
    }
    if (e.Box(kBoxWatermarkWrite) != nullptr)
    {
        return "the printer refused the watermark's data";
    }
    return std::string();
}

} // namespace

std::string TooManyPages(uint64_t pages)
{
    return "the document has " + std::to_string(pages) + " pages and the driver holds at most " +
           std::to_string(kMaxSpooledPages) + " in one job (print it in parts)";
}

MachineState LookAtMachine(const spoolsim::StepSource &job)
{
    MachineState m;
    const spoolsim::WString library = spoolsim::DriverFile(spoolsim::Widen("kd7720o.dll"));
    m.overlayLibrary = spoolsim::Machine::Exists(library);
    if (HMODULE h = m.overlayLibrary ? LoadLibraryW(library.c_str()) : nullptr)
    {
        FreeLibrary(h);
    }
    else
    {
        m.overlayLibraryLoads = false;
    }
    const std::optional<DRVDEVMODE> dm = SettingsOf(job);
    if (dm && dm->sOverlayMode != 0)
    {
        // The field is in the printer's code page.
        const std::string ansiPath = FieldText(dm->szOverlayFile, CB_OVERLAY_FILE);
        m.overlayPath = PrinterCodePageToUtf8(ansiPath);
        const spoolsim::WString path = spoolsim::Widen(m.overlayPath);
        m.overlayFileProblem = CannotRead(path);
        m.overlayFolderProblem = CannotMakeFileIn(FolderOf(path));
        if (m.overlayLibrary && m.overlayFileProblem.empty())
        {
            m.overlayLibraryProblem = LibraryCannotGive(ansiPath);
        }
    }
    WCHAR szTemp[MAX_PATH];
    const DWORD cch = GetTempPathW(MAX_PATH, szTemp);
    if (cch > 0 && cch < MAX_PATH)
    {
        spoolsim::WString temp(szTemp);
        temp.pop_back(); // the closing backslash
        m.tempFolder = spoolsim::Narrow(temp);
        m.tempProblem = CannotMakeFileIn(temp);
    }
    else
    {
        m.tempProblem = "the system names no temporary folder";
    }
    m.driverFolder = spoolsim::Narrow(spoolsim::DriverDir());
    m.driverProblem = CannotMakeFileIn(spoolsim::DriverDir());
    return m;
}

std::vector<std::string> Reasons(const spoolsim::StepSource &job, const spoolsim::RunResult &run,
                                 const MachineState &machine)
{
    std::vector<std::string> reasons;
    auto add = [&reasons](const std::string &r) {
        for (const std::string &have : reasons)
        {
            if (have == r)
            {
                return;
            }
        }
        reasons.push_back(r);
    };
    const Evidence e(run);
    const std::optional<DRVDEVMODE> dm = SettingsOf(job);
    const std::string overlay = "the overlay file " + machine.overlayPath;

    if (!machine.machineProblem.empty())
    {
        add(machine.machineProblem);
        return reasons;
    }
    if (!run.started)
    {
        add(!machine.overlayLibrary
                ? "the overlay library kd7720o.dll is not in the driver folder " + machine.driverFolder +
                      ": the hook loads it for every job and takes no job without it"
            : !machine.overlayLibraryLoads
                ? "the overlay library kd7720o.dll in the driver folder " + machine.driverFolder +
                      " cannot be loaded: the hook takes no job without it"
                : "the hook could not start the job: there was no memory for its job context");
        return reasons;
    }

    for (size_t i = 0; i < run.writes.size(); i++)
    {
        const spoolsim::WriteRecord &w = run.writes[i];
        if (w.result && w.cbWritten == w.cbBuf)
        {
            continue;
        }
        spoolsim::Bytes head;
        const spoolsim::Bytes *data = WriteData(job, i, head);
        if (data == nullptr)
        {
            continue;
        }
        if (w.result)
        {
            add("the printer took only " + std::to_string(w.cbWritten) + " of " + std::to_string(w.cbBuf) +
                " bytes of a write");
            continue;
        }
        if (i == 0 && data->size() == DRVDEVMODE_SIZE && dm)
        {
            const spoolsim::MessageBoxRecord *cancelled = e.Cancelled();
            if (cancelled != nullptr)
            {
                add("the person answered Cancel to " + Quoted(cancelled->text) +
                    (dm->sOverlayMode == 2 ? ": no overlay is made" : ": the job is not printed"));
            }
            else if (e.Box(kBoxOverlayCreateFailed) != nullptr)
            {
                add("the hook could not create the overlay file " + machine.overlayPath + ": " +
                    (machine.overlayFolderProblem.empty() ? "the system refused it" : machine.overlayFolderProblem));
            }
            else if (e.Box(kBoxConversionFailed) != nullptr)
            {
                add("the overlay path " + machine.overlayPath + " cannot be read in the printer's code page");
            }
            else if (dm->sOverlayMode == 2)
            {
                add("the overlay was offered once already on this machine (kd7720u.ini, [Overlay Data] "
                    "Overlay Message=1), and these settings offer it only once: no overlay is made");
            }
            else
            {
                add("the hook refused the job's settings");
            }
            continue;
        }
        if (IsMarker(*data, kMarkPageStart))
        {
            if (e.Traced(kTracePageIndexFull))
            {
                add(TooManyPages(PageStartMarkers(job)));
            }
            else if (e.Traced(kTraceNoOrientationRoom))
            {
                add("the hook had no memory left to note the booklet's page orientations");
            }
            else
            {
                add("the hook refused a page after an earlier refusal of the job");
            }
            continue;
        }
        if (IsMarker(*data, kMarkBooklet))
        {
            add(e.Traced(kTraceBookletRefused)
                    ? "the booklet layout record the driver sent is malformed: an item is missing or too long"
                    : "the hook refused the booklet layout record");
            continue;
        }
        if (IsText(*data, spoolsim::markers::kOverlay))
        {
            if (!machine.overlayLibrary)
            {
                add("the overlay library kd7720o.dll is not in the driver folder " + machine.driverFolder);
            }
            else if (!machine.overlayFileProblem.empty())
            {
                add(overlay + " " + machine.overlayFileProblem);
            }
            else if (!machine.overlayLibraryProblem.empty())
            {
                add(machine.overlayLibraryProblem);
            }
            else
            {
                add(dm && Spools(*dm) ? "the hook could not write the overlay of " + overlay + " into its spool file"
                                      : "the printer refused the overlay's data");
            }
            continue;
        }
        if (IsText(*data, spoolsim::markers::kWatermark))
        {
            const std::string cause = WatermarkCause(e);
            add("the watermark could not be put on the page: " +
                (cause.empty() ? std::string("the printer refused its data") : cause));
            continue;
        }
        // Data, or a marker of the data.
        if (e.Traced(kTraceTextLost))
        {
            add("the deferred-text file could not be written and could not be put back: the text of the page is "
                "lost, so the job is refused");
        }
        else if (dm && dm->sDeferText != 0 && dm->sTextMode != 2 && e.Box(kBoxNoTempFile) != nullptr)
        {
            add("the hook could not create its deferred-text file in the driver folder " + machine.driverFolder + ": " +
                (machine.driverProblem.empty() ? "the system refused it" : machine.driverProblem));
        }
        else if (e.Traced(kTracePageIndexFull))
        {
            add(TooManyPages(PageStartMarkers(job)));
        }
        else if (e.Traced(kTraceSpoolFileLost))
        {
            add("writing the hook's spool file failed and the file could not be put back, so it was dropped" +
                (machine.tempProblem.empty() ? std::string() : ": " + machine.tempProblem));
        }
        else if (e.Traced(kTraceNoSpoolFile))
        {
            add("the hook could not create its spool file in " + machine.tempFolder + ": " +
                (machine.tempProblem.empty() ? "the system refused it" : machine.tempProblem));
        }
        else if (dm && dm->sOverlayMode == 2)
        {
            add("the hook could not write " + overlay +
                (machine.overlayFolderProblem.empty() ? std::string() : ": " + machine.overlayFolderProblem));
        }
        else if (dm && Spools(*dm))
        {
            add("the hook could not write its spool file in " + machine.tempFolder +
                (machine.tempProblem.empty() ? std::string() : ": " + machine.tempProblem));
        }
        else
        {
            add("the printer refused the data (the spooler's WritePrinter failed)");
        }
    }

    for (size_t i = 0; i < run.endPageResults.size(); i++)
    {
        if (run.endPageResults[i])
        {
            continue;
        }
        if (e.Traced(kTraceTextLost))
        {
            add("the deferred text of page " + std::to_string(i + 1) + " was lost, so the page cannot be finished");
        }
        else if (e.Box(kBoxReplayRead, true) != nullptr || e.Box(kBoxReplaySeek) != nullptr)
        {
            add("the deferred-text file could not be read back at the end of page " + std::to_string(i + 1));
        }
        else if (e.Box(kBoxReplayWrite, true) != nullptr)
        {
            add("the printer refused the deferred text of page " + std::to_string(i + 1));
        }
        else
        {
            add("the hook could not finish page " + std::to_string(i + 1));
        }
    }

    // Failures at the end of the document, which refuse nothing but print
    // less than was asked.
    if (e.Traced(kTraceSpoolIncomplete))
    {
        add("part of the job was refused, so the hook sent none of it to the printer");
    }
    if (e.Traced(kTraceReadBackFailed))
    {
        add("the hook could not read the job back from its spool file: the printed document stops where the "
            "reading failed" +
            (machine.tempProblem.empty() ? std::string() : " (" + machine.tempProblem + ")"));
    }
    else if (e.Box(kBoxCollation) != nullptr || e.Box(kBoxReverse) != nullptr)
    {
        add("the hook could not read the job back from its spool file to print it" +
            (machine.tempProblem.empty() ? std::string() : ": " + machine.tempProblem));
    }
    if (e.Box(kBoxOverlayWriteFailed) != nullptr)
    {
        add("the overlay file " + machine.overlayPath + " could not be written or put in place" +
            (machine.overlayFolderProblem.empty() ? std::string() : ": " + machine.overlayFolderProblem));
    }
    if (reasons.empty() && dm && dm->sWatermarkOn != 0)
    {
        const std::string cause = WatermarkCause(e);
        if (!cause.empty())
        {
            add("the watermark could not be made: " + cause);
        }
    }
    return reasons;
}

} // namespace jobtool
