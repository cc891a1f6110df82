// The world outside the printer-driver package, simulated for tests and
// tools on both builds: the Windows spooler that loads kd7720um and calls its
// hooks, the user who answers message boxes, the printer's rendering driver
// that writes the job stream, and the printer's GDI device context on which
// the watermark job is drawn.
//
// Written against Win32 types and calls only. On Linux the hook library's
// calls to winspool, user32 and gdi32 reach these simulations through the
// Win32 layer's redirect table; on Windows the simulation patches the hook
// DLL's import address table. kernel32 stays the platform's own.
//
// A test's life:
//
//     spoolsim::Machine machine;                 // fresh C:\ with the driver directory
//     spoolsim::Spooler spooler;                 // loads kd7720um.dll as the spooler does
//     spoolsim::DocumentJob job(settings, 3);    // the rendering driver's stream
//     spoolsim::RunResult run = spooler.Run(job.Build());
//     EXPECT_PARTS(run.PrinterDocument(0).data, {job.Header(), job.Page(3), ...});
//
// Only one Spooler exists at a time: the redirected C entry points find it
// through a process-wide pointer, as the real spooler is one per machine. It
// serves several printers at once: Run(printer, job) may be called from
// several threads, each with a Printer of its own, and each printer may have
// the spooler call the hooks from a pool of threads (Printer::hookThreads).
#pragma once

#include <windows.h>
#include <winspool.h>

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "devmode.h"
#include "wtext.h"

namespace spoolsim
{

using Bytes = std::vector<BYTE>;
using WString = std::basic_string<WCHAR>;

// UTF-16 to UTF-8 and back, for messages and file names of the tools.
std::string Narrow(const WString &s);
// One code point appended to UTF-8 text.
void AppendUtf8(std::string &out, uint32_t codePoint);
WString Widen(const std::string &s);
Bytes ToBytes(const std::string &s);
std::string Printable(const Bytes &b, size_t cbMax = 64); // escaped, for diagnostics

// ---- the machine --------------------------------------------------------------

// Windows directory paths the package uses.
extern const WCHAR kDriverDir[]; // C:\WINDOWS\system32\spool\drivers\w32x86\2 (Windows directory based)
WString WindowsDir();
WString DriverDir();
WString DriverFile(const WString &name); // DriverDir() + "\" + name
WString BuildBinDir();                   // where the built DLLs are, as a Windows path

// Which overlay library the driver directory holds.
enum class OverlayLibrary
{
    Standard, // the package's kd7720o.dll
    None,
    NoReadOverlay, // a variant without the ReadOverlay export
    HugeSize       // a variant that reports 0xFFFFFFF0 bytes
};

// Prepares the machine a test runs on and cleans up after it. Linux: a fresh
// temporary C:\ with the Windows, driver and temp directories. Windows (Wine
// prefix): the driver directory emptied of the package's files and of spool
// leftovers. Both: the chosen overlay library copied into the driver
// directory.
class Machine
{
  public:
    explicit Machine(OverlayLibrary overlay = OverlayLibrary::Standard);
    ~Machine();
    Machine(const Machine &) = delete;
    Machine &operator=(const Machine &) = delete;

    // Files through kernel32 (the layer on Linux): Windows paths.
    static bool WriteFileBytes(const WString &path, const Bytes &data);
    static std::optional<Bytes> ReadFileBytes(const WString &path);
    static bool Exists(const WString &path);
    static bool Remove(const WString &path);
    static bool CopyFileBytes(const WString &from, const WString &to);
    // The driver settings file kd7720u.ini: a whole file, or one key.
    static bool WriteIni(const std::string &text);
    static std::string ReadIniValue(const std::string &section, const std::string &key);

    // Spool files (VNT*.tmp) left in the temp directory.
    static int SpoolFilesLeft();

    // Linux: the host folder that stands for C:\ (empty on Windows). A
    // private folder under $TMPDIR (else /tmp) named after the process, so
    // that folders of processes that died are removed by the next machine.
    const std::string &HostRoot() const
    {
        return m_hostRoot;
    }
    // Empty when the machine is ready; else why its folder could not be made.
    const std::string &Problem() const
    {
        return m_problem;
    }
    // What the destructor does, for a program that is interrupted: the
    // package's files and spool leftovers, and the host folder.
    static void CleanUp(const std::string &hostRoot);

  private:
    std::string m_hostRoot; // Linux: the temporary root, removed at the end
    std::string m_problem;
};

// Open kernel handles of the process (files, searches), for leak checks.
DWORD OpenHandleCount();

// From now on the debug strings of every module go nowhere and no run keeps
// traces, as on a print server with no debugger listening: what a benchmark
// measures the hook on.
void DropDebugOutput();

// ---- the user -------------------------------------------------------------------

struct MessageBoxRecord
{
    WString text;
    WString caption;  // empty when NULL (the system's default caption)
    bool captionNull; // NULL was passed
    bool ownerNull;
    UINT style;
    int answer;
};

// Answers message boxes: from a script of answers, else from the callback,
// else the first button (IDOK for MB_OK and MB_OKCANCEL). An answer of 0
// makes MessageBoxW fail, as it does when no box can be shown.
struct User
{
    std::vector<int> script;
    std::function<int(const MessageBoxRecord &)> answer;
    std::vector<MessageBoxRecord> boxes;
};

// ---- the printer's GDI device context ------------------------------------------------

struct GdiCall
{
    std::string name;       // "CreateDCW", "TextOutW", "StrokePath", ...
    std::vector<long> args; // numbers: coordinates, modes, colours
    WString text;           // TextOutW text, CreateDCW device, StartDocW output file
    std::optional<LOGFONTW> font;
    Bytes data; // CreateDCW: the device mode, private part included
};

// Properties of the simulated printer's pages and fonts.
struct PrinterModel
{
    int dpi = 600;
    int physicalWidth = 4960; // A4 at 600 dpi
    int physicalHeight = 7016;
    int offsetX = 100;
    int offsetY = 100;
    // Fonts that have no outline for text under DEFAULT_CHARSET (a path of
    // them is empty) but do under a specific character set.
    std::vector<WString> charsetOnlyOutlineFaces = {W("Charset Sans")};
    // TranslateCharsetInfo of the system code page.
    UINT systemCharset = ANSI_CHARSET;
    bool translateCharsetFails = false;
    // A font cell is this much taller than the em height asked for.
    int internalLeadingPercent = 20;
    // Faults: CreateDCW fails with this error; StartDocW fails; the next n
    // TextOutW calls fail.
    DWORD createDcError = 0;
    bool startDocFails = false;
    int textOutFailures = 0;
};

// Fonts and pens created on printer DCs and not deleted, and DCs not deleted,
// by the runs of the spooler so far.
size_t LiveGdiObjects();
size_t LiveDeviceContexts();

// ---- the spooler ----------------------------------------------------------------------

struct Document
{
    DWORD jobId = 0;
    WString name;
    WString datatype;
    WString outputFile; // empty: the printer
    Bytes data;
    std::vector<DWORD> writes; // the size of every WritePrinter call (when data are kept)
    DWORD cbTotal = 0;         // bytes written, also when data are not kept
    bool ended = false;
    bool aborted = false;
    bool nested = false; // made by a GDI document (the watermark job)
};

enum class StepKind
{
    Write,
    StartPage,
    EndPage
};

struct Step
{
    StepKind kind;
    Bytes data;
};

// Where a job's steps go as they are made: a job in memory, or a job file
// written as it grows.
class StepSink
{
  public:
    virtual ~StepSink() = default;
    // False when the step could not be kept (the sink says why).
    virtual bool Add(StepKind kind, const BYTE *data, size_t cb) = 0;
};

// Steps kept in memory, for a job that is small enough to hold.
class StepList : public StepSink
{
  public:
    bool Add(StepKind kind, const BYTE *data, size_t cb) override;
    std::vector<Step> steps;
};

// One job as the spooler hands it to the hooks.
struct Job
{
    WString documentName = W("Test document");
    std::vector<Step> steps;
    bool endDoc = true; // DrvSplEndDoc after the last step
    bool abort = false; // DrvSplAbort (after EndDoc when both are set)
    // The document the job was made from when it was not PCL XL (a PDF or
    // PostScript file's path), so that its pages can be pictured; empty
    // otherwise. The hooks never see it.
    std::string source;
};

// A job's steps, read one at a time when the spooler comes to them, so that
// a job of any size runs in the memory of its largest step: a Job in memory
// (JobSteps) or a job file on disk (JobFileSteps in jobfile.h).
class StepSource
{
  public:
    virtual ~StepSource() = default;
    virtual size_t Count() const = 0;
    virtual StepKind Kind(size_t i) const = 0;
    virtual size_t Size(size_t i) const = 0;
    // cb bytes of step i from offset into out; false (see Error()) when they
    // cannot be read, as when a file changed after it was checked.
    virtual bool ReadPart(size_t i, size_t offset, BYTE *out, size_t cb) const = 0;
    // The whole of step i: the step's own bytes, or read into buffer; null
    // (see Error()) when they cannot be read.
    virtual const Bytes *Data(size_t i, Bytes &buffer) const;
    // The first min(Size(i), kLead) bytes of step i into out, as the steps
    // were when they were taken in: enough to tell most page data from the
    // driver's markers without reading the step. 0 when they cannot be read.
    static constexpr size_t kLead = 4;
    virtual size_t Lead(size_t i, BYTE (&out)[kLead]) const;
    virtual std::string Error() const
    {
        return std::string();
    }
    virtual const WString &DocumentName() const = 0;
    virtual bool EndDoc() const = 0;
    virtual bool Abort() const = 0;
    virtual const std::string &Source() const = 0;
    // The same steps with reads of their own, for another thread to read
    // while this source is read; null when reads of this source share
    // nothing (another thread may read it as it is).
    virtual std::unique_ptr<StepSource> Twin() const
    {
        return nullptr;
    }
};

// The steps of a job in memory (which must outlive it).
class JobSteps : public StepSource
{
  public:
    explicit JobSteps(const Job &job) : m_job(job)
    {
    }
    size_t Count() const override
    {
        return m_job.steps.size();
    }
    StepKind Kind(size_t i) const override
    {
        return m_job.steps[i].kind;
    }
    size_t Size(size_t i) const override
    {
        return m_job.steps[i].data.size();
    }
    bool ReadPart(size_t i, size_t offset, BYTE *out, size_t cb) const override;
    const Bytes *Data(size_t i, Bytes &buffer) const override;
    const WString &DocumentName() const override
    {
        return m_job.documentName;
    }
    bool EndDoc() const override
    {
        return m_job.endDoc;
    }
    bool Abort() const override
    {
        return m_job.abort;
    }
    const std::string &Source() const override
    {
        return m_job.source;
    }

  private:
    const Job &m_job;
};

struct WriteRecord
{
    DWORD cbBuf;
    BOOL result;
    DWORD cbWritten;
};

struct RunResult
{
    bool started = false;             // DrvSplStartDoc returned a job context
    std::vector<WriteRecord> writes;  // every DrvSplWritePrinter of the job
    std::vector<BOOL> endPageResults; // every DrvSplEndPage
    std::vector<Document> documents;  // every spooler document, in order of creation
    std::vector<WString> traces;      // OutputDebugString texts
    std::vector<MessageBoxRecord> boxes;
    std::vector<GdiCall> gdiCalls;

    // The documents that went to the printer (not to an output file), in order.
    std::vector<const Document *> PrinterDocuments() const;
    const Document &PrinterDocument(size_t i) const;
    bool AllWritesSucceeded() const;
    // Spooler::stopAtFailedWrite ended the job at a refused write.
    bool stoppedAtFailedWrite = false;
    // A step of the job could not be read (its file changed while it ran):
    // the job ended there with DrvSplAbort, as a program does whose print
    // data fail; what failed, else empty.
    std::string stepError;
    // Traces that begin with the prefix.
    std::vector<WString> TracesStartingWith(const WString &prefix) const;
};

// Printer write faults: from the nth WritePrinter call of a run on the
// printer's documents (1-based; a watermark job's writes do not count),
// cTimes calls fail (0: all later ones), or write only cbShort bytes. Set
// before the run: the writes are counted only while nth is not 0.
struct PrinterFault
{
    DWORD nth = 0;
    DWORD cTimes = 1;
    bool shortWrite = false;
    DWORD cbShort = 0;
};

// A printer the spooler serves, and the world around its jobs: the person
// who answers their message boxes, the printer's model and faults, and how
// the spooler calls the hooks for them.
struct Printer
{
    User user;
    PrinterModel model;
    PrinterFault printerFault;
    // Called before each step of a run with the step's index, and with the
    // number of steps before DrvSplEndDoc: tests arm faults at a chosen point.
    std::function<void(size_t)> beforeStep;
    bool keepData = true; // false: documents count bytes only (large jobs)
    // Which debug strings a run keeps in RunResult::traces (null: all): the
    // hook traces every call, so that a long job's traces grow with its writes.
    std::function<bool(const WString &)> keepTrace;
    // Given the bytes of every printer write that the printer accepts (not
    // those of a watermark job's file), as a port monitor passes them on.
    std::function<void(const BYTE *, DWORD)> printerSink;
    // Called when one of the printer's documents (not an output file's, not
    // a watermark job's) ends, finished or dropped, before the hook goes on:
    // as the spooler despools a job while the program that prints it still
    // runs. The document is valid for the call only.
    std::function<void(const Document &)> documentEnded;
    // The same bytes with the index of their document in RunResult::documents,
    // so that each printed document can go to a file of its own as it comes.
    // False: the bytes could not be taken, and the write fails (ERROR_WRITE_FAULT).
    std::function<bool(size_t, const BYTE *, DWORD)> documentSink;
    // As an application does when a print call fails: a write that the hook
    // refuses (FALSE, or fewer bytes than given) ends the job there with
    // DrvSplAbort instead of DrvSplEndDoc, and the open document is dropped.
    // Off by default: the scenarios drive every step whatever the results.
    bool stopAtFailedWrite = false;
    WString printerName = W("KD7720 PCL6");
    WString driverName = W("KD7720 PCL6");
    // As the spooler serves its callers from a pool of threads: every hook
    // call of a job, and of the watermark job that GDI starts from inside one
    // of its writes, comes on a thread of its own (the caller waits for it).
    // Off: every call on the thread that runs the job.
    bool hookThreads = false;
};

class Spooler : public Printer
{
  public:
    // Loads the hook library by path (default: kd7720um.dll of the build).
    explicit Spooler(const WString &hookLibrary = WString());
    ~Spooler();
    Spooler(const Spooler &) = delete;
    Spooler &operator=(const Spooler &) = delete;

    bool Loaded() const;
    HMODULE Module() const;

    // Runs a job through the hooks in the spooler's calling order:
    // DrvSplStartDoc; the steps (DrvSplWritePrinter, DrvSplStartPage,
    // DrvSplEndPage); DrvSplEndDoc; DrvSplAbort; DrvSplClose. A job whose
    // DrvSplStartDoc returns NULL gets no further call. The first form runs
    // it on the spooler's own printer (the fields it inherits); the second on
    // the given printer, and may be called from several threads at once,
    // each with a printer of its own.
    RunResult Run(const Job &job);
    RunResult Run(Printer &printer, const Job &job);
    // The same with the steps read one at a time into one buffer.
    RunResult Run(Printer &printer, const StepSource &job);

    // The spooler's own state, for the simulated entry points.
    struct Impl;
    Impl *impl() const
    {
        return m_impl.get();
    }

  private:
    std::unique_ptr<Impl> m_impl;
};

// A thread of the simulated world (the spooler's pool, or a program that
// prints), on both builds.
class Thread
{
  public:
    explicit Thread(std::function<void()> body);
    ~Thread(); // joins
    Thread(const Thread &) = delete;
    Thread &operator=(const Thread &) = delete;
    void Join();
    // The calling thread gives way to the others on a busy machine: for
    // work whose result is wanted only later.
    static void GiveWay();
    struct Impl;

  private:
    std::unique_ptr<Impl> m_impl;
};

// ---- the rendering driver ---------------------------------------------------------------

// Settings of the simulated printer with every feature off: portrait A4 at
// 600 dpi, one copy, device name "KD7720 PCL6", a watermark face "Arial".
DRVDEVMODE DefaultSettings();

namespace markers
{
extern const char kWatermark[]; // "TimeToInsertWatermark"
extern const char kOverlay[];   // "TimeToInsertOverlay"
Bytes PageStart(BYTE orientation);
Bytes CopyPos();
struct EndFields
{
    std::optional<WORD> copies;                       // present when the settings collate
    std::optional<Bytes> copyCommand;                 // length byte + bytes; when sCopyCommand is 1 too
    std::optional<std::pair<BYTE, Bytes>> bookletEnd; // index, fragment; when booklet
};
Bytes End(const EndFields &fields = EndFields());
Bytes EndCopies(WORD copies); // the end marker of a collated job
Bytes Raw(BYTE code, const Bytes &payload = Bytes());
Bytes DeferStart();
Bytes DeferEnd();

// The booklet layout record: eleven items, the orientation pair, and two
// overlay items when the settings print with an overlay.
struct BookletItem
{
    BYTE index;
    Bytes data;
};
struct BookletRecord
{
    std::vector<BookletItem> items; // items 1 to 11
    BYTE orientationIndex = 12;
    BYTE orientation = 1;
    std::vector<BookletItem> overlayItems; // items 13 and 14
    static BookletRecord Standard(bool bSoftwareLeadIns, bool bWithOverlay);
};
Bytes Booklet(const BookletRecord &record);
} // namespace markers

// Builds a job step by step.
class JobBuilder
{
  public:
    JobBuilder &Settings(const DRVDEVMODE &dm);
    JobBuilder &Write(const Bytes &data);
    JobBuilder &Write(const std::string &text);
    JobBuilder &StartPage();
    JobBuilder &EndPage();
    Job Build(const WString &documentName = W("Test document")) const;

  private:
    Job m_job;
};

// The usual stream of an N-page document, with named parts to state what
// the printer must receive:
//   settings block; header (with the copy-position marker at copyPosAt when
//   set); the two lead-ins; the booklet record (when set); for each page:
//   StartPage, page-start marker, the page's buffers, EndPage; the end
//   marker; the trailer.
struct PageSpec
{
    BYTE orientation = 1;
    std::vector<Bytes> buffers; // default: one buffer "[page k]" padded to size
    size_t size = 0;            // default content size (0: just the label)
};

class DocumentJob
{
  public:
    DocumentJob(const DRVDEVMODE &settings, int cPages);

    DRVDEVMODE settings;
    bool sendSettings = true;
    // Page-start and end markers: the rendering driver writes them for the
    // hook's page ordering; a job printed as it arrives has none.
    bool pageMarkers = true;
    Bytes header = ToBytes("[job header]");
    Bytes leadIn1 = ToBytes("<L1>");
    Bytes leadIn2 = ToBytes("<L2>");
    Bytes trailer = ToBytes("[trailer]");
    std::optional<size_t> copyPosAt; // offset in the header of the copy-position marker
    markers::EndFields end;
    std::optional<markers::BookletRecord> booklet;
    std::vector<PageSpec> pages;
    WString documentName = W("Test document");

    Job Build() const;

    // Named parts, as the hook sends them on.
    Bytes Header() const;      // the header with both lead-ins
    Bytes ShortHeader() const; // the header without them
    Bytes HeaderUpTo(size_t cb) const;
    Bytes HeaderFrom(size_t ib) const;
    Bytes Page(int k) const; // page k's buffers as spooled (markers among them excluded)
    Bytes PageLabel(int k) const;
};

// ---- comparing output with named parts -----------------------------------------------------

struct Part
{
    std::string name;
    Bytes bytes;
};
using Parts = std::vector<Part>;

// Empty when actual equals the parts concatenated; else a report naming the
// first part that differs, its offset, and what was expected and found.
std::string CompareParts(const Bytes &actual, const Parts &expected);

} // namespace spoolsim
