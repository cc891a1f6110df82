#include "fuzzjob.h"

#include <w32emu.h>

#include "spldata.h"

#include <link.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>

namespace fuzzjob
{

using spoolsim::Job;
using spoolsim::Step;
using spoolsim::StepKind;
using spoolsim::WString;
namespace markers = spoolsim::markers;

namespace
{

// One input stays a few milliseconds long: bounded steps and bytes.
const size_t kMaxStepsPerJob = 400;
const size_t kMaxBytesPerInput = 4u << 20;
const size_t kMaxJobs = 3;
const size_t kMaxBigWrite = 72 * 1024;

// Reads the input front to back; past its end every read is zero.
class Reader
{
  public:
    Reader(const uint8_t *pb, size_t cb) : m_pb(pb), m_cb(cb)
    {
    }
    bool Done() const
    {
        return m_ib >= m_cb;
    }
    uint8_t Byte()
    {
        return m_ib < m_cb ? m_pb[m_ib++] : 0;
    }
    uint16_t Word()
    {
        uint16_t lo = Byte();
        return static_cast<uint16_t>(lo | (Byte() << 8));
    }
    Bytes Take(size_t cb)
    {
        Bytes b;
        b.reserve(cb);
        for (size_t i = 0; i < cb; i++)
        {
            b.push_back(Byte());
        }
        return b;
    }

  private:
    const uint8_t *m_pb;
    size_t m_cb;
    size_t m_ib = 0;
};

class Writer
{
  public:
    void Byte(uint8_t b)
    {
        m_out.push_back(b);
    }
    void Word(uint16_t w)
    {
        Byte(static_cast<uint8_t>(w));
        Byte(static_cast<uint8_t>(w >> 8));
    }
    void Put(const Bytes &b)
    {
        m_out.insert(m_out.end(), b.begin(), b.end());
    }
    Bytes Out() const
    {
        return m_out;
    }

  private:
    Bytes m_out;
};

#define FIELD(f, sz)                                                                                                   \
    {                                                                                                                  \
#f, offsetof(DRVDEVMODE, f), sz                                                                                \
    }

const short kSmallValues[] = {0, 1, 2, 3, -1, 4, 5, 0, 1, 2, 64, 100, 255, -32768, 32767, 1};

std::string OverlayChoice(uint8_t sel)
{
    switch (sel % 5)
    {
    case 0:
        return spoolsim::Narrow(spoolsim::DriverFile(W("stored.ovl")));
    case 1:
        return spoolsim::Narrow(spoolsim::DriverFile(W("created.ovl")));
    case 2:
        return "C:\\no such folder\\x.ovl";
    case 3:
        return std::string(); // empty
    default:
        return std::string(CB_OVERLAY_FILE, 'O'); // fills the field, no terminator
    }
}

void DecodeSettingsEdits(Reader &r, DRVDEVMODE &dm)
{
    BYTE *pb = reinterpret_cast<BYTE *>(&dm);
    const std::vector<Field> &fields = Fields();
    int cEdits = r.Byte() % 16;
    for (int i = 0; i < cEdits; i++)
    {
        size_t iField = r.Byte() % (fields.size() + 1);
        if (iField == fields.size())
        {
            // A raw patch anywhere in the block.
            size_t ib = r.Word() % DRVDEVMODE_SIZE;
            size_t cb = std::min<size_t>(r.Byte() % 16, DRVDEVMODE_SIZE - ib);
            Bytes patch = r.Take(cb);
            std::copy(patch.begin(), patch.end(), pb + ib);
            continue;
        }
        const Field &f = fields[iField];
        if (f.size <= 4)
        {
            uint8_t sel = r.Byte();
            if (sel < 200)
            {
                short v = kSmallValues[sel % (sizeof(kSmallValues) / sizeof(kSmallValues[0]))];
                std::memset(pb + f.offset, v < 0 ? 0xFF : 0, f.size);
                std::memcpy(pb + f.offset, &v, std::min<size_t>(f.size, sizeof(v)));
            }
            else
            {
                Bytes raw = r.Take(f.size);
                std::copy(raw.begin(), raw.end(), pb + f.offset);
            }
            continue;
        }
        std::memset(pb + f.offset, 0, f.size);
        if (f.offset == offsetof(DRVDEVMODE, szOverlayFile))
        {
            std::string path = OverlayChoice(r.Byte());
            std::memcpy(pb + f.offset, path.data(), std::min(path.size(), f.size));
        }
        else
        {
            size_t cb = r.Byte() % (f.size + 1);
            Bytes text = r.Take(cb);
            std::copy(text.begin(), text.end(), pb + f.offset);
        }
    }
}

Bytes DecodeBooklet(Reader &r)
{
    uint8_t flags = r.Byte();
    markers::BookletRecord rec = markers::BookletRecord::Standard(flags & 1, (flags & 2) != 0);
    rec.orientation = r.Byte() % 4;
    int cEdits = r.Byte() % 4;
    for (int i = 0; i < cEdits; i++)
    {
        uint8_t sel = r.Byte();
        size_t cb = r.Byte() % 48;
        Bytes data = r.Take(cb);
        if (sel % 16 < rec.items.size())
        {
            rec.items[sel % 16].data = data;
        }
        else if (sel % 16 == 11)
        {
            rec.items.pop_back(); // a record without its last item
        }
        else
        {
            rec.items.push_back({static_cast<BYTE>(sel), data}); // unlisted index
        }
    }
    Bytes b = markers::Booklet(rec);
    if (flags & 4)
    {
        b.resize(4 + r.Byte() % (b.size() - 3)); // cut anywhere after the code byte
    }
    return b;
}

Bytes DecodeEnd(Reader &r)
{
    uint8_t flags = r.Byte();
    markers::EndFields f;
    if (flags & 1)
    {
        f.copies = r.Word() % 8;
    }
    if (flags & 2)
    {
        f.copyCommand = r.Take(r.Byte());
    }
    if (flags & 4)
    {
        BYTE index = r.Byte();
        f.bookletEnd = std::make_pair(index, r.Take(r.Byte() % 40));
    }
    Bytes b = markers::End(f);
    if (flags & 8)
    {
        // The length byte of a field that claims more than the record holds.
        b.push_back(r.Byte());
    }
    return b;
}

// Copies multiply the output of a job; the copy loops are the same for 3
// copies as for 30000, so the counts that a settings block or an end marker
// carry are kept small and one input stays fast.
short SmallCopies(short v)
{
    return v > 9 ? static_cast<short>(v % 10) : v;
}

// The settings block's copies always; the end marker's only in a job whose
// settings collate, the one case in which the marker carries them.
void BoundCopies(Bytes &b, bool bFirstWrite, bool &bCollate)
{
    if (b.size() == DRVDEVMODE_SIZE)
    {
        short v;
        size_t ib = offsetof(DRVDEVMODE, dmPublic.dmCopies);
        std::memcpy(&v, b.data() + ib, sizeof(v));
        v = SmallCopies(v);
        std::memcpy(b.data() + ib, &v, sizeof(v));
        if (bFirstWrite)
        {
            short sCollate;
            std::memcpy(&sCollate, b.data() + offsetof(DRVDEVMODE, sCollate), sizeof(sCollate));
            bCollate = sCollate == 1;
        }
    }
    if (bCollate && b.size() >= 6 && b[0] == 0x1B && b[1] == 0xF0 && b[2] == 0x10 && b[3] == 0xFF)
    {
        short v = static_cast<short>(b[4] | (b[5] << 8));
        v = SmallCopies(v);
        b[4] = static_cast<BYTE>(v);
        b[5] = static_cast<BYTE>(static_cast<uint16_t>(v) >> 8);
    }
}

WString DocumentName(int sel)
{
    switch (sel & 3)
    {
    case 1:
        return WString();
    case 2:
        return WString(300, 'D');
    case 3: {
        WString s(258, 'd');
        s.push_back(0xD83D); // a surrogate pair across the 259th character
        s.push_back(0xDE00);
        return s;
    }
    default:
        return W("Test document");
    }
}

} // namespace

const std::vector<std::string> &FailedCalls()
{
    static const std::vector<std::string> calls = {
        "GlobalAlloc", "CreateFileW",  "CreateFileA",      "WriteFile",    "ReadFile",       "SetFilePointer",
        "GetFileSize", "GetTempPathW", "GetTempFileNameW", "LoadLibraryW", "GetProcAddress", "MultiByteToWideChar"};
    return calls;
}

DWORD FailureError(const std::string &function)
{
    static const std::map<std::string, DWORD> errors = {
        {"GlobalAlloc", ERROR_NOT_ENOUGH_MEMORY}, {"CreateFileW", ERROR_ACCESS_DENIED},
        {"CreateFileA", ERROR_ACCESS_DENIED},     {"WriteFile", ERROR_DISK_FULL},
        {"ReadFile", ERROR_READ_FAULT},           {"SetFilePointer", ERROR_NEGATIVE_SEEK},
        {"LoadLibraryW", ERROR_MOD_NOT_FOUND},    {"GetProcAddress", ERROR_PROC_NOT_FOUND},
        {"GetTempFileNameW", ERROR_ACCESS_DENIED}};
    auto it = errors.find(function);
    return it != errors.end() ? it->second : ERROR_GEN_FAILURE;
}

const std::vector<Field> &Fields()
{
    static const std::vector<Field> fields = {FIELD(dmPublic.dmOrientation, 2),
                                              FIELD(dmPublic.dmScale, 2),
                                              FIELD(dmPublic.dmCopies, 2),
                                              FIELD(sMediaKind, 2),
                                              FIELD(sOhpInterleave, 2),
                                              FIELD(sOverlayRepeat, 2),
                                              FIELD(sDeferText, 2),
                                              FIELD(sTextMode, 2),
                                              FIELD(sWmSizeSnap, 2),
                                              FIELD(sBooklet, 2),
                                              FIELD(sOverlayMode, 2),
                                              FIELD(sManualDuplex, 2),
                                              FIELD(sInstructionPage, 2),
                                              FIELD(sManualDuplexOrder, 2),
                                              FIELD(sReverseOrder, 2),
                                              FIELD(sCollate, 2),
                                              FIELD(sCopyCommand, 2),
                                              FIELD(sOhpOption, 2),
                                              FIELD(sOverlayQuery, 2),
                                              FIELD(sHardwareBooklet, 2),
                                              FIELD(sReverseLeadIn, 2),
                                              FIELD(sWatermarkOn, 2),
                                              FIELD(sWmFontSize, 2),
                                              FIELD(sWmAngle, 2),
                                              FIELD(sPassThrough, 2),
                                              FIELD(sWmOffsetX, 2),
                                              FIELD(sWmOffsetY, 2),
                                              FIELD(sWmOutline, 2),
                                              FIELD(sWmFirstPageOnly, 2),
                                              FIELD(crWmColor, 4),
                                              FIELD(lWmWeight, 4),
                                              FIELD(bWmItalic, 1),
                                              FIELD(sBookletOption, 2),
                                              FIELD(szOverlayFile, CB_OVERLAY_FILE),
                                              FIELD(szWmText, CB_WM_TEXT),
                                              FIELD(szWmFaceName, CB_WM_FACENAME),
                                              FIELD(szUserID, CB_USER_ID),
                                              FIELD(dmPublic.dmDeviceName, sizeof(WCHAR) * CCHDEVICENAME)};
    return fields;
}

FuzzInput Decode(const uint8_t *pb, size_t cb)
{
    Reader r(pb, cb);
    FuzzInput in;
    uint8_t env = r.Byte();
    in.iniVariant = env & 3;
    size_t cJobs = std::min<size_t>(((env >> 2) & 3) + 1, kMaxJobs);
    size_t cbTotal = 0;

    for (size_t iJob = 0; iJob < cJobs && (iJob == 0 || !r.Done()); iJob++)
    {
        FuzzJob fj;
        uint8_t jb = r.Byte();
        fj.job.endDoc = (jb & 1) == 0;
        fj.job.abort = (jb & 2) != 0;
        if (jb & 4)
        {
            fj.fault.nth = 1 + r.Byte() % 64;
            fj.fault.cTimes = r.Byte() % 4;
            fj.fault.shortWrite = (r.Byte() & 1) != 0;
            fj.fault.cbShort = r.Byte() % 16;
        }
        if (jb & 8)
        {
            static const int kAnswers[] = {IDOK, IDCANCEL, 0, IDOK};
            int cAnswers = r.Byte() % 8;
            for (int i = 0; i < cAnswers; i++)
            {
                fj.answers.push_back(kAnswers[r.Byte() % 4]);
            }
        }
        fj.job.documentName = DocumentName(jb >> 4);
        if (jb & 0x40)
        {
            // One value past the calls: a short write.
            size_t iCall = r.Byte() % (FailedCalls().size() + 1);
            fj.platformFault.function = iCall < FailedCalls().size() ? FailedCalls()[iCall] : "WriteFile (short)";
            fj.platformFault.nth = 1 + r.Byte() % 64;
            fj.platformFault.cTimes = r.Byte() % 4;
        }

        bool bCollate = false;
        bool bFirstWrite = true;
        auto write = [&](Bytes b) {
            BoundCopies(b, bFirstWrite, bCollate);
            bFirstWrite = false;
            cbTotal += b.size();
            fj.job.steps.push_back({StepKind::Write, std::move(b)});
        };
        auto page = [&](StepKind k) { fj.job.steps.push_back({k, Bytes()}); };

        while (!r.Done() && fj.job.steps.size() < kMaxStepsPerJob && cbTotal < kMaxBytesPerInput)
        {
            uint8_t op = r.Byte() % kOpCount;
            if (op == kOpEndJob)
            {
                break;
            }
            switch (op)
            {
            case kOpSettings: {
                DRVDEVMODE dm = spoolsim::DefaultSettings();
                DecodeSettingsEdits(r, dm);
                const BYTE *p = reinterpret_cast<const BYTE *>(&dm);
                write(Bytes(p, p + sizeof(dm)));
                break;
            }
            case kOpWrite:
                write(r.Take(r.Word()));
                break;
            case kOpMarker: {
                static const BYTE kCodes[] = {0xAA, 0xFF, 0xBB, 0x00};
                uint8_t sel = r.Byte();
                BYTE code = sel % 5 < 4 ? kCodes[sel % 5] : r.Byte();
                write(markers::Raw(code, r.Take(r.Byte())));
                break;
            }
            case kOpPageStart:
                write(markers::PageStart(r.Byte() % 4));
                break;
            case kOpEnd:
                write(DecodeEnd(r));
                break;
            case kOpCopyPos:
                write(markers::CopyPos());
                break;
            case kOpBooklet:
                write(DecodeBooklet(r));
                break;
            case kOpWatermark:
                write(spoolsim::ToBytes(markers::kWatermark));
                break;
            case kOpOverlay:
                write(spoolsim::ToBytes(markers::kOverlay));
                break;
            case kOpDeferStart:
                write(markers::DeferStart());
                break;
            case kOpDeferEnd:
                write(markers::DeferEnd());
                break;
            case kOpStartPage:
                page(StepKind::StartPage);
                break;
            case kOpEndPage:
                page(StepKind::EndPage);
                break;
            case kOpPage: {
                BYTE orientation = r.Byte() % 4;
                size_t cbPage = static_cast<size_t>(r.Byte()) * 97;
                page(StepKind::StartPage);
                write(markers::PageStart(orientation));
                write(Bytes(cbPage, static_cast<BYTE>('a' + fj.job.steps.size() % 26)));
                page(StepKind::EndPage);
                break;
            }
            case kOpBigWrite: {
                // Up to 72 KiB: past the rendering driver's largest buffer
                // (64 KiB) and across several transfer-buffer chunks.
                size_t cbBig = ((static_cast<size_t>(r.Word()) << 2) | (r.Byte() & 3)) % (kMaxBigWrite + 1);
                write(Bytes(cbBig, r.Byte()));
                break;
            }
            default:
                break;
            }
        }
        in.jobs.push_back(std::move(fj));
    }
    return in;
}

Bytes Encode(const std::vector<Job> &jobs, int iniVariant)
{
    Writer w;
    size_t cJobs = std::min(jobs.size(), kMaxJobs);
    w.Byte(static_cast<uint8_t>((iniVariant & 3) | (((cJobs > 0 ? cJobs : 1) - 1) << 2)));
    for (size_t iJob = 0; iJob < cJobs; iJob++)
    {
        const Job &job = jobs[iJob];
        int name = job.documentName.empty() ? 1 : 0;
        w.Byte(static_cast<uint8_t>((job.endDoc ? 0 : 1) | (job.abort ? 2 : 0) | (name << 4)));
        bool first = true;
        for (const Step &step : job.steps)
        {
            if (step.kind == StepKind::StartPage)
            {
                w.Byte(kOpStartPage);
                continue;
            }
            if (step.kind == StepKind::EndPage)
            {
                w.Byte(kOpEndPage);
                continue;
            }
            if (first && step.data.size() == DRVDEVMODE_SIZE)
            {
                // The fields that differ from the defaults, as raw patches.
                DRVDEVMODE def = spoolsim::DefaultSettings();
                const BYTE *pDef = reinterpret_cast<const BYTE *>(&def);
                std::vector<std::pair<size_t, size_t>> runs;
                for (size_t i = 0; i < DRVDEVMODE_SIZE; i++)
                {
                    if (step.data[i] != pDef[i])
                    {
                        if (!runs.empty() && runs.back().first + runs.back().second == i && runs.back().second < 15)
                        {
                            runs.back().second++;
                        }
                        else
                        {
                            runs.push_back({i, 1});
                        }
                    }
                }
                runs.resize(std::min<size_t>(runs.size(), 15));
                w.Byte(kOpSettings);
                w.Byte(static_cast<uint8_t>(runs.size()));
                for (const auto &run : runs)
                {
                    w.Byte(static_cast<uint8_t>(Fields().size()));
                    w.Word(static_cast<uint16_t>(run.first));
                    w.Byte(static_cast<uint8_t>(run.second));
                    w.Put(Bytes(step.data.begin() + static_cast<long>(run.first),
                                step.data.begin() + static_cast<long>(run.first + run.second)));
                }
                first = false;
                continue;
            }
            first = false;
            if (step.data.size() >= 16 && step.data.size() < (1u << 18) &&
                std::all_of(step.data.begin(), step.data.end(), [&](BYTE b) { return b == step.data[0]; }))
            {
                // A page's bulk in four bytes: seeds stay small, and so do
                // the inputs the fuzzer makes from them.
                w.Byte(kOpBigWrite);
                w.Word(static_cast<uint16_t>(step.data.size() >> 2));
                w.Byte(static_cast<uint8_t>(step.data.size() & 3));
                w.Byte(step.data[0]);
                continue;
            }
            for (size_t ib = 0; ib < step.data.size() || ib == 0; ib += 0xFFFF)
            {
                size_t cb = std::min<size_t>(step.data.size() - ib, 0xFFFF);
                w.Byte(kOpWrite);
                w.Word(static_cast<uint16_t>(cb));
                w.Put(Bytes(step.data.begin() + static_cast<long>(ib), step.data.begin() + static_cast<long>(ib + cb)));
                if (step.data.empty())
                {
                    break;
                }
            }
        }
        if (iJob + 1 < cJobs)
        {
            w.Byte(kOpEndJob);
        }
    }
    return w.Out();
}

// ---- the machine and the checks ---------------------------------------------------

std::string HostPath(const WString &windowsPath)
{
    char sz[4096];
    if (!W32EmuToHostPath(windowsPath.c_str(), sz, sizeof(sz)))
    {
        return std::string();
    }
    return sz;
}

static WString TempDir()
{
    WCHAR sz[MAX_PATH];
    DWORD cch = GetTempPathW(MAX_PATH, sz);
    return cch > 0 && cch < MAX_PATH ? WString(sz, cch) : WString();
}

std::vector<std::pair<std::string, uint64_t>> SpoolFiles()
{
    return SpoolFiles(HostPath(TempDir()));
}

std::vector<std::pair<std::string, uint64_t>> SpoolFiles(const std::string &dir)
{
    std::vector<std::pair<std::string, uint64_t>> files;
    std::error_code ec;
    for (const auto &e : std::filesystem::directory_iterator(dir, ec))
    {
        std::string name = e.path().filename().string();
        if (name.size() >= 7 && (name.compare(0, 3, "VNT") == 0 || name.compare(0, 3, "vnt") == 0))
        {
            files.push_back({name, e.file_size(ec)});
        }
    }
    return files;
}

TracedIndex LastTracedIndex(const std::vector<WString> &traces)
{
    TracedIndex idx;
    const std::string kEndDoc = "QVXLUMPD: DrvSplEndDoc ";
    size_t iStart = traces.size();
    for (size_t i = traces.size(); i-- > 0;)
    {
        if (spoolsim::Narrow(traces[i]).compare(0, kEndDoc.size(), kEndDoc) == 0)
        {
            iStart = i;
            break;
        }
    }
    for (size_t i = iStart + 1; i < traces.size(); i++)
    {
        std::string t = spoolsim::Narrow(traces[i]);
        long long v = 0;
        int k = 0;
        if (std::sscanf(t.c_str(), " pData->file_info.iTotalPage = %lld", &v) == 1)
        {
            idx.found = true;
            idx.iTotalPage = v;
        }
        else if (std::sscanf(t.c_str(), " pData->file_info.dwCount = %lld", &v) == 1)
        {
            idx.dwCount = v;
        }
        else if (std::sscanf(t.c_str(), " pData->file_info.dwPage[%d] = %lld", &k, &v) == 2)
        {
            idx.pages.push_back(v);
        }
    }
    return idx;
}

void PrepareDriverFiles(int iniVariant)
{
    PrepareDriverFiles(iniVariant, HostPath(spoolsim::DriverDir()));
}

void PrepareDriverFiles(int iniVariant, const std::string &dir)
{
    auto put = [&](const char *name, const std::string &text) {
        std::ofstream(dir + "/" + name, std::ios::binary) << text;
    };
    put("stored.ovl", std::string(100, '\x42'));
    switch (iniVariant)
    {
    case 1:
        put("kd7720u.ini", "[DUPLEX]\r\nMD_Message=Turn the sheets\r\nMD_CAPTION=Duplex\r\n"
                           "INSTRUCT_PORT=\\instr_p.pcl\r\nINSTRUCT_LAND=\\instr_l.pcl\r\n");
        put("instr_p.pcl", std::string(8193, 'I'));
        put("instr_l.pcl", std::string(10, 'J'));
        break;
    case 2:
        put("kd7720u.ini", "[GetUserID]\r\nUserID=someone\r\n[Overlay Data]\r\nOverlay Message=1\r\n"
                           "[OVERLAY]\r\nOverlayCreateMessage=Create?\r\nOverlayQueryMessage=Use?\r\n");
        break;
    case 3:
        put("kd7720u.ini", "[DUPLEX]\r\nINSTRUCT_PORT=\\" + std::string(300, 'x') +
                               "\r\nINSTRUCT_LAND=\\missing.pcl\r\n[GetUserID]\r\nUserID=\r\n");
        break;
    default:
        // A machine on which the user id is known already: the settings file
        // is read, not rewritten, by every job.
        put("kd7720u.ini", "[GetUserID]\r\nUserID=fuzz\r\n");
        break;
    }
}

// ---- the hook library's state between inputs ---------------------------------------

// The hook library must stay loaded for the whole fuzz run: libFuzzer keeps
// reading the coverage counters of every module it has seen, and an
// unloaded one would take them along. Its library-wide variables would then
// carry one input's state into the next, so their pristine contents (the
// writable data of the loaded image, as it was after its entry point ran)
// are saved once and put back before every input. The coverage counters lie
// in that data too: each input starts with the counts of the library's load,
// the same for every input, so they tell the fuzzer nothing new.
namespace
{

struct Segment
{
    uintptr_t start;
    size_t size;
};

int FindSegments(struct dl_phdr_info *info, size_t, void *pv)
{
    auto *segments = static_cast<std::vector<Segment> *>(pv);
    const char *name = info->dlpi_name ? info->dlpi_name : "";
    size_t len = std::strlen(name);
    const char kName[] = "kd7720um.dll";
    if (len < sizeof(kName) - 1 || std::strcmp(name + len - (sizeof(kName) - 1), kName) != 0)
    {
        return 0;
    }
    uintptr_t relroStart = 0, relroEnd = 0;
    for (int i = 0; i < info->dlpi_phnum; i++)
    {
        const ElfW(Phdr) &ph = info->dlpi_phdr[i];
        if (ph.p_type == PT_GNU_RELRO)
        {
            relroStart = info->dlpi_addr + ph.p_vaddr;
            relroEnd = relroStart + ph.p_memsz;
        }
    }
    for (int i = 0; i < info->dlpi_phnum; i++)
    {
        const ElfW(Phdr) &ph = info->dlpi_phdr[i];
        if (ph.p_type != PT_LOAD || !(ph.p_flags & PF_W))
        {
            continue;
        }
        uintptr_t start = info->dlpi_addr + ph.p_vaddr;
        uintptr_t end = start + ph.p_memsz;
        if (start < relroEnd && relroStart < end)
        {
            start = std::max(start, relroEnd); // read-only after relocation
        }
        if (end > start)
        {
            segments->push_back({start, end - start});
        }
    }
    return 1;
}

// Unchecked: the image's globals are separated by redzones that the address
// sanitizer would report a plain copy for. Word by word where both sides
// allow it, else byte by byte; no coverage either, as the copy is the
// harness's, not the hook's.
#if defined(__clang__)
#define KD_RAW_COPY __attribute__((no_sanitize("address", "coverage")))
#else
#define KD_RAW_COPY __attribute__((no_sanitize_address))
#endif
KD_RAW_COPY void CopyRaw(volatile uint8_t *pTo, const volatile uint8_t *pFrom, size_t cb)
{
    size_t i = 0;
    if ((reinterpret_cast<uintptr_t>(pTo) | reinterpret_cast<uintptr_t>(pFrom)) % sizeof(uint64_t) == 0)
    {
        for (; i + sizeof(uint64_t) <= cb; i += sizeof(uint64_t))
        {
            *reinterpret_cast<volatile uint64_t *>(pTo + i) = *reinterpret_cast<const volatile uint64_t *>(pFrom + i);
        }
    }
    for (; i < cb; i++)
    {
        pTo[i] = pFrom[i];
    }
}

} // namespace

class ImageState
{
  public:
    bool Save()
    {
        m_segments.clear();
        dl_iterate_phdr(FindSegments, &m_segments);
        m_saved.clear();
        for (const Segment &seg : m_segments)
        {
            Bytes b(seg.size);
            CopyRaw(b.data(), reinterpret_cast<const volatile uint8_t *>(seg.start), seg.size);
            m_saved.push_back(std::move(b));
        }
        return !m_segments.empty();
    }
    void Restore() const
    {
        for (size_t i = 0; i < m_segments.size(); i++)
        {
            CopyRaw(reinterpret_cast<volatile uint8_t *>(m_segments[i].start), m_saved[i].data(), m_segments[i].size);
        }
    }

  private:
    std::vector<Segment> m_segments;
    std::vector<Bytes> m_saved;
};

// The emulated C: drive of the harness lives in memory (/dev/shm, or the
// folder that KD_FUZZ_ROOT names): every job creates and deletes files, and
// on a disk file system that is most of an input's time. The folder carries
// the process id; one whose process is gone (a fuzzer stopped by a signal
// does not clean up) is removed by the next harness.
static std::string MakeMemoryRoot()
{
    const char *pszBase = std::getenv("KD_FUZZ_ROOT");
    std::string base = pszBase && *pszBase ? pszBase : "/dev/shm";
    std::error_code ec;
    if (!std::filesystem::is_directory(base, ec))
    {
        base = std::filesystem::temp_directory_path(ec).string();
    }
    const std::string kPrefix = "kd-fuzz-";
    for (const auto &e : std::filesystem::directory_iterator(base, ec))
    {
        std::string name = e.path().filename().string();
        long pid = 0;
        if (name.compare(0, kPrefix.size(), kPrefix) == 0 &&
            std::sscanf(name.c_str() + kPrefix.size(), "%ld-", &pid) == 1 && pid > 0 &&
            kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH)
        {
            std::filesystem::remove_all(e.path(), ec);
        }
    }
    std::string pattern = base + "/" + kPrefix + std::to_string(getpid()) + "-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr)
    {
        return std::string();
    }
    return pattern;
}

Harness::Harness()
{
    std::string overlayLibrary = HostPath(spoolsim::BuildBinDir() + W("\\kd7720o.dll"));
    m_root = MakeMemoryRoot();
    if (!m_root.empty())
    {
        W32EmuSetRoot(m_root.c_str());
    }
    m_driverDirHost = HostPath(spoolsim::DriverDir());
    m_tempDirHost = HostPath(TempDir());
    std::error_code ec;
    std::filesystem::create_directories(m_driverDirHost, ec);
    std::filesystem::create_directories(m_tempDirHost, ec);
    std::filesystem::copy_file(overlayLibrary, m_driverDirHost + "/kd7720o.dll", ec);
    m_hOverlayPin = LoadLibraryW(spoolsim::DriverFile(W("kd7720o.dll")).c_str());
    m_hHookPin = LoadLibraryW((spoolsim::BuildBinDir() + W("\\kd7720um.dll")).c_str());
    m_image.reset(new ImageState);
    m_imageSaved = m_hHookPin != nullptr && m_image->Save();
    // One spooler for all inputs: setting up its redirections costs more
    // than most jobs.
    m_spooler.reset(new spoolsim::Spooler());
}

Harness::~Harness()
{
    m_spooler.reset();
    if (!m_root.empty())
    {
        std::error_code ec;
        std::filesystem::remove_all(m_root, ec);
        W32EmuSetRoot(nullptr);
    }
    if (m_hOverlayPin != nullptr)
    {
        FreeLibrary(m_hOverlayPin);
    }
    if (m_hHookPin != nullptr)
    {
        FreeLibrary(m_hHookPin);
    }
}

bool Harness::Ready() const
{
    return m_hOverlayPin != nullptr && m_imageSaved && !m_driverDirHost.empty() && !m_tempDirHost.empty();
}

// Back to the machine as a fresh one would be, without remaking it: a new
// root would make every job load the overlay library anew.
void Harness::ResetMachine(int iniVariant)
{
    std::error_code ec;
    for (const std::string &dir : {m_driverDirHost, m_tempDirHost})
    {
        for (const auto &e : std::filesystem::directory_iterator(dir, ec))
        {
            if (e.path().filename() != "kd7720o.dll")
            {
                std::filesystem::remove_all(e.path(), ec);
            }
        }
    }
    PrepareDriverFiles(iniVariant, m_driverDirHost);
    m_image->Restore();
    W32EmuResetFaults();
    W32EmuDebugClear();
}

namespace
{

void ArmPlatformFault(const PlatformFault &f)
{
    if (f.function.empty())
    {
        return;
    }
    if (f.function == "WriteFile (short)")
    {
        // One short write, reported as success: the caller must check the count.
        W32EmuShortWrite(f.nth, 1, TRUE);
        return;
    }
    W32EmuFailCall(f.function.c_str(), f.nth, FailureError(f.function), f.cTimes);
}

} // namespace

std::vector<std::string> Harness::Run(const uint8_t *pb, size_t cb)
{
    std::vector<std::string> problems;
    FuzzInput in = Decode(pb, cb);
    ResetMachine(in.iniVariant);
    // The simulated printer keeps every GDI object it ever made, and finding
    // one takes longer as they pile up: a fresh spooler now and then.
    if (++m_cRuns % 256 == 0)
    {
        m_spooler.reset();
        m_spooler.reset(new spoolsim::Spooler());
    }
    const DWORD cHandles = W32EmuOpenHandleCount();
    const DWORD cBlocks = W32EmuLiveGlobalBlocks();
    {
        spoolsim::Spooler &spooler = *m_spooler;
        spooler.keepData = false;
        if (!spooler.Loaded())
        {
            problems.push_back("the hook library did not load");
            return problems;
        }
        const DWORD cModules = W32EmuLoadedModuleCount();
        for (size_t iJob = 0; iJob < in.jobs.size(); iJob++)
        {
            const FuzzJob &fj = in.jobs[iJob];
            std::string at = "job " + std::to_string(iJob + 1) + ": ";
            spooler.user.script = fj.answers;
            spooler.printerFault = fj.fault;
            std::vector<std::pair<std::string, uint64_t>> atEndDoc;
            size_t cSteps = fj.job.steps.size();
            spooler.beforeStep = [&](size_t i) {
                if (i == cSteps)
                {
                    atEndDoc = SpoolFiles(m_tempDirHost);
                }
            };
            ArmPlatformFault(fj.platformFault);
            spoolsim::RunResult run = spooler.Run(fj.job);
            spooler.beforeStep = nullptr;
            W32EmuResetFaults();

            if (W32EmuOpenHandleCount() != cHandles)
            {
                problems.push_back(at + "handles open after DrvSplClose: " + std::to_string(W32EmuOpenHandleCount()) +
                                   ", before the job " + std::to_string(cHandles));
            }
            if (W32EmuLiveGlobalBlocks() != cBlocks)
            {
                problems.push_back(at +
                                   "memory blocks live after DrvSplClose: " + std::to_string(W32EmuLiveGlobalBlocks()) +
                                   ", before the job " + std::to_string(cBlocks));
            }
            if (spoolsim::LiveGdiObjects() != 0 || spoolsim::LiveDeviceContexts() != 0)
            {
                problems.push_back(at + "GDI objects or device contexts left");
            }
            if (!SpoolFiles(m_tempDirHost).empty())
            {
                problems.push_back(at + "spool file left after DrvSplClose");
            }
            if (W32EmuLoadedModuleCount() != cModules)
            {
                problems.push_back(at + "overlay library loads not balanced");
            }
            for (size_t i = 0; i < run.writes.size(); i++)
            {
                const spoolsim::WriteRecord &w = run.writes[i];
                if (w.result && w.cbWritten > w.cbBuf)
                {
                    problems.push_back(at + "write " + std::to_string(i + 1) + " reports " +
                                       std::to_string(w.cbWritten) + " of " + std::to_string(w.cbBuf) +
                                       " bytes written");
                }
            }
            for (const spoolsim::MessageBoxRecord &box : run.boxes)
            {
                if (!box.ownerNull)
                {
                    problems.push_back(at + "message box with an owner window");
                }
            }
            if (run.started && fj.job.endDoc)
            {
                TracedIndex idx = LastTracedIndex(run.traces);
                if (!idx.found)
                {
                    problems.push_back(at + "DrvSplEndDoc traced no page index");
                }
                else
                {
                    if (atEndDoc.size() > 1)
                    {
                        problems.push_back(at + "several spool files at DrvSplEndDoc");
                    }
                    if (atEndDoc.size() == 1 && static_cast<uint64_t>(idx.dwCount) > atEndDoc[0].second)
                    {
                        problems.push_back(at + "dwCount " + std::to_string(idx.dwCount) + " beyond the " +
                                           std::to_string(atEndDoc[0].second) + " bytes of the spool file");
                    }
                    for (size_t k = 0; k < idx.pages.size(); k++)
                    {
                        if (idx.pages[k] < 0 || idx.pages[k] > idx.dwCount)
                        {
                            problems.push_back(at + "dwPage[" + std::to_string(k) +
                                               "] = " + std::to_string(idx.pages[k]) + " beyond dwCount " +
                                               std::to_string(idx.dwCount));
                        }
                    }
                    if (idx.iTotalPage < 0 || idx.iTotalPage >= PAGE_INDEX_SIZE)
                    {
                        problems.push_back(at + "iTotalPage out of the index: " + std::to_string(idx.iTotalPage));
                    }
                }
            }
        }
    }
    if (W32EmuLiveGlobalBlocks() != cBlocks)
    {
        problems.push_back("memory blocks live after the input: " + std::to_string(W32EmuLiveGlobalBlocks()) +
                           ", before " + std::to_string(cBlocks));
    }
    if (W32EmuOpenHandleCount() != cHandles)
    {
        problems.push_back("handles open after the input");
    }
    // What the layer recorded for this input goes now, not at the next one:
    // libFuzzer looks for leaks in inputs that allocate more than they free.
    W32EmuResetFaults();
    W32EmuDebugClear();
    return problems;
}

} // namespace fuzzjob
