// kd7720um against the physical limit: each hook benchmark has a raw twin
// that does the same data movement with plain system calls on the same
// machine, in the same run, so that tools/bench.sh can print their ratio.
//
//   Intake/hook/B, Intake/raw/B      a 32 MiB job in B-byte buffers into the spool file
//                                    / write() of the same buffers to a file
//   Output/hook/collate, /reverse    DrvSplEndDoc of a 200 MB job: 3 collated copies,
//                                    reverse order / read() and write() through one
//                                    8 KiB buffer of the same bytes (both to /dev/null)
//   DirectCall/hook, DirectCall/raw  one 16-byte DrvSplWritePrinter on the direct path,
//                                    its printer write going on to a file with write()
//                                    / one 16-byte write() to a file
//   Intake/layer/B, Output/layer/A   the raw twins' work through the Win32 layer
//   Memory/job/MB                    growth of the resident set while a job of MB
//                                    megabytes is spooled and printed (in a child)
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include <w32emu.h>

#include "session.h"
#include "spoolsim.h"

namespace
{

using spoolsim::Bytes;
using spoolsim::JobSession;

std::string HostOf(const spoolsim::WString &path)
{
    char host[4096];
    return W32EmuToHostPath(path.c_str(), host, sizeof(host)) ? std::string(host) : std::string();
}

// One machine and one spooler for the whole program, as loading the hook
// library is no part of what is measured. KD_BENCH_ROOT moves the machine's
// C: drive (spool files and the raw twins' files alike) into that folder,
// /dev/shm for instance, to measure without the disk.
struct World
{
    spoolsim::Machine machine;
    std::unique_ptr<spoolsim::Spooler> spooler;
    std::string tempHost; // the machine's temp folder, where spool files go
    std::string movedRoot;
    World()
    {
        const char *pszRoot = std::getenv("KD_BENCH_ROOT");
        if (pszRoot != nullptr && *pszRoot != 0)
        {
            std::string overlay = HostOf(spoolsim::DriverFile(W("kd7720o.dll")));
            std::string pattern = std::string(pszRoot) + "/kd-bench-XXXXXX";
            if (mkdtemp(pattern.data()) != nullptr)
            {
                movedRoot = pattern;
                W32EmuSetRoot(movedRoot.c_str());
                std::string driverDir = HostOf(spoolsim::DriverDir());
                std::string cmd = "mkdir -p '" + driverDir + "' && cp '" + overlay + "' '" + driverDir + "/'";
                if (std::system(cmd.c_str()) != 0)
                {
                    std::fprintf(stderr, "kd_bench: cannot prepare %s\n", movedRoot.c_str());
                }
            }
        }
        WCHAR sz[MAX_PATH];
        GetTempPathW(MAX_PATH, sz);
        tempHost = HostOf(sz);
        std::string cmd = "mkdir -p '" + tempHost + "'";
        if (std::system(cmd.c_str()) != 0)
        {
            std::fprintf(stderr, "kd_bench: cannot make %s\n", tempHost.c_str());
        }
        spooler.reset(new spoolsim::Spooler());
        spooler->keepData = false;
        // No debugger listens on a print server: the hook's trace strings go
        // nowhere, as they do there.
        W32EmuDebugSinks(FALSE, FALSE);
    }
    ~World()
    {
        spooler.reset();
        if (!movedRoot.empty())
        {
            std::string cmd = "rm -rf '" + movedRoot + "'";
            (void)!std::system(cmd.c_str());
            W32EmuSetRoot(nullptr);
        }
    }
};

World &TheWorld()
{
    static World w;
    return w;
}

// The printer's side of the hook's writes, as its raw twin does it: every
// accepted printer write goes on to this file with one write().
class PrinterToFile
{
  public:
    PrinterToFile(spoolsim::Spooler &spooler, const std::string &path, int flags)
        : m_spooler(spooler), m_fd(open(path.c_str(), flags, 0600))
    {
        int fd = m_fd;
        m_spooler.printerSink = [fd](const BYTE *pb, DWORD cb) { benchmark::DoNotOptimize(write(fd, pb, cb)); };
    }
    ~PrinterToFile()
    {
        m_spooler.printerSink = nullptr;
        close(m_fd);
    }
    PrinterToFile(const PrinterToFile &) = delete;
    PrinterToFile &operator=(const PrinterToFile &) = delete;

  private:
    spoolsim::Spooler &m_spooler;
    int m_fd;
};

Bytes SettingsBlock(bool collate, short copies, bool reverse)
{
    DRVDEVMODE dm = spoolsim::DefaultSettings();
    dm.sCollate = collate ? 1 : 0;
    dm.dmPublic.dmCopies = copies;
    dm.sReverseOrder = reverse ? 1 : 0;
    const BYTE *p = reinterpret_cast<const BYTE *>(&dm);
    return Bytes(p, p + sizeof(dm));
}

const size_t kIntakeBytes = 32u << 20;

void IntakeHook(benchmark::State &state)
{
    World &w = TheWorld();
    const size_t cb = static_cast<size_t>(state.range(0));
    Bytes buffer(cb, 'x');
    Bytes settings = SettingsBlock(true, 1, false);
    for (auto _ : state)
    {
        state.PauseTiming();
        {
            JobSession job(*w.spooler);
            job.Write(settings.data(), static_cast<DWORD>(settings.size()));
            state.ResumeTiming();
            for (size_t done = 0; done < kIntakeBytes; done += cb)
            {
                job.Write(buffer.data(), static_cast<DWORD>(cb));
            }
            state.PauseTiming();
            job.Finish(false); // no printing: DrvSplClose deletes the spool file
        }
        state.ResumeTiming();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kIntakeBytes));
}

void IntakeRaw(benchmark::State &state)
{
    World &w = TheWorld();
    const size_t cb = static_cast<size_t>(state.range(0));
    Bytes buffer(cb, 'x');
    std::string path = w.tempHost + "/raw-intake.tmp";
    for (auto _ : state)
    {
        state.PauseTiming();
        int fd = open(path.c_str(), O_CREAT | O_TRUNC | O_RDWR, 0600);
        state.ResumeTiming();
        for (size_t done = 0; done < kIntakeBytes; done += cb)
        {
            benchmark::DoNotOptimize(write(fd, buffer.data(), cb));
        }
        state.PauseTiming();
        close(fd);
        unlink(path.c_str());
        state.ResumeTiming();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kIntakeBytes));
}

// The layer twins do the raw twins' work through the Win32 layer's calls
// that the hook makes (CreateFileW, WriteFile, SetFilePointer, ReadFile):
// what lies between a layer twin and its raw twin is the layer's cost, what
// lies between the hook and its layer twin is the hook's own.
struct TwinFile
{
    WCHAR szPath[MAX_PATH];
    HANDLE h;
    explicit TwinFile(const WCHAR *pszName)
    {
        GetTempPathW(MAX_PATH, szPath);
        lstrcatW(szPath, pszName);
        h = CreateFileW(szPath, GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                        nullptr);
    }
    ~TwinFile()
    {
        CloseHandle(h);
        DeleteFileW(szPath);
    }
    TwinFile(const TwinFile &) = delete;
    TwinFile &operator=(const TwinFile &) = delete;
};

void IntakeLayer(benchmark::State &state)
{
    TheWorld();
    const size_t cb = static_cast<size_t>(state.range(0));
    Bytes buffer(cb, 'x');
    for (auto _ : state)
    {
        state.PauseTiming();
        {
            TwinFile file(W("layer-intake.tmp"));
            state.ResumeTiming();
            for (size_t done = 0; done < kIntakeBytes; done += cb)
            {
                DWORD cbWritten = 0;
                benchmark::DoNotOptimize(WriteFile(file.h, buffer.data(), static_cast<DWORD>(cb), &cbWritten, nullptr));
            }
            state.PauseTiming();
        }
        state.ResumeTiming();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kIntakeBytes));
}

// A job of cPages pages of cbPage bytes each, streamed into the hook.
void SpoolDocument(JobSession &job, const Bytes &settings, size_t cPages, size_t cbPage)
{
    static const BYTE kPageStart[] = {0x1B, 0xF0, 0x10, 0xAA, 0x01};
    static const BYTE kEnd[] = {0x1B, 0xF0, 0x10, 0xFF, 0x01, 0x00};
    Bytes chunk(64 * 1024, 'p');
    job.Write(settings.data(), static_cast<DWORD>(settings.size()));
    job.Write("[header]<L1><L2>", 16);
    for (size_t p = 0; p < cPages; p++)
    {
        job.StartPage();
        job.Write(kPageStart, sizeof(kPageStart));
        for (size_t done = 0; done < cbPage; done += chunk.size())
        {
            job.Write(chunk.data(), static_cast<DWORD>(std::min(chunk.size(), cbPage - done)));
        }
        job.EndPage();
    }
    BYTE end[sizeof(kEnd)];
    std::memcpy(end, kEnd, sizeof(end));
    end[4] = settings[offsetof(DRVDEVMODE, dmPublic.dmCopies)];
    job.Write(end, sizeof(end));
    job.Write("[trailer]", 9);
}

const size_t kOutputPages = 200;
const size_t kOutputPageBytes = 1000 * 1000; // 200 MB

void OutputHook(benchmark::State &state)
{
    World &w = TheWorld();
    const bool collate = state.range(0) != 0;
    Bytes settings = collate ? SettingsBlock(true, 3, false) : SettingsBlock(false, 1, true);
    PrinterToFile printer(*w.spooler, "/dev/null", O_WRONLY);
    uint64_t cbPrinted = 0;
    for (auto _ : state)
    {
        state.PauseTiming();
        JobSession job(*w.spooler);
        SpoolDocument(job, settings, kOutputPages, kOutputPageBytes);
        sync(); // no writeback of the fresh spool file during the copy
        state.ResumeTiming();
        job.EndDoc(); // the output routine: all that is timed
        state.PauseTiming();
        spoolsim::RunResult r = job.Finish();
        cbPrinted = r.PrinterDocument(0).cbTotal;
        state.ResumeTiming();
    }
    state.counters["printed_MB"] = static_cast<double>(cbPrinted) / 1e6;
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * cbPrinted));
}

// The raw twin reads a file written just before, in the same 64 KiB pieces,
// as the hook reads a spool file that it has just written; both are synced
// before the copy, which then reads the page cache alone. The twin reads
// from offset 0, so every 8 KiB read covers two whole memory pages; the
// hook's pages start wherever the stream put them, and such reads cost the
// kernel about 8% more on tmpfs (measured on its own).
void OutputRaw(benchmark::State &state)
{
    World &w = TheWorld();
    const int copies = state.range(0) != 0 ? 3 : 1;
    std::string path = w.tempHost + "/raw-output.tmp";
    std::vector<char> chunk(64 * 1024, 'p');
    int fdOut = open("/dev/null", O_WRONLY);
    char buffer[8192];
    uint64_t cbCopied = 0;
    for (auto _ : state)
    {
        state.PauseTiming();
        int fdIn = open(path.c_str(), O_CREAT | O_TRUNC | O_RDWR, 0600);
        for (size_t p = 0; p < kOutputPages; p++)
        {
            for (size_t done = 0; done < kOutputPageBytes; done += chunk.size())
            {
                size_t cb = std::min(chunk.size(), kOutputPageBytes - done);
                benchmark::DoNotOptimize(write(fdIn, chunk.data(), cb));
            }
        }
        sync();
        state.ResumeTiming();
        cbCopied = 0;
        for (int c = 0; c < copies; c++)
        {
            lseek(fdIn, 0, SEEK_SET);
            ssize_t cb;
            while ((cb = read(fdIn, buffer, sizeof(buffer))) > 0)
            {
                benchmark::DoNotOptimize(write(fdOut, buffer, static_cast<size_t>(cb)));
                cbCopied += static_cast<uint64_t>(cb);
            }
        }
        state.PauseTiming();
        close(fdIn);
        unlink(path.c_str());
        state.ResumeTiming();
    }
    close(fdOut);
    state.counters["printed_MB"] = static_cast<double>(cbCopied) / 1e6;
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * cbCopied));
}

void OutputLayer(benchmark::State &state)
{
    TheWorld();
    const int copies = state.range(0) != 0 ? 3 : 1;
    Bytes chunk(64 * 1024, 'p');
    int fdOut = open("/dev/null", O_WRONLY);
    BYTE buffer[8192];
    uint64_t cbCopied = 0;
    for (auto _ : state)
    {
        state.PauseTiming();
        {
            TwinFile file(W("layer-output.tmp"));
            for (size_t p = 0; p < kOutputPages; p++)
            {
                for (size_t done = 0; done < kOutputPageBytes; done += chunk.size())
                {
                    DWORD cb = static_cast<DWORD>(std::min(chunk.size(), kOutputPageBytes - done));
                    DWORD cbWritten = 0;
                    benchmark::DoNotOptimize(WriteFile(file.h, chunk.data(), cb, &cbWritten, nullptr));
                }
            }
            sync();
            state.ResumeTiming();
            cbCopied = 0;
            for (int c = 0; c < copies; c++)
            {
                SetFilePointer(file.h, 0, nullptr, FILE_BEGIN);
                DWORD cbRead = 0;
                while (ReadFile(file.h, buffer, sizeof(buffer), &cbRead, nullptr) && cbRead > 0)
                {
                    benchmark::DoNotOptimize(write(fdOut, buffer, cbRead));
                    cbCopied += cbRead;
                }
            }
            state.PauseTiming();
        }
        state.ResumeTiming();
    }
    close(fdOut);
    state.counters["printed_MB"] = static_cast<double>(cbCopied) / 1e6;
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * cbCopied));
}

const size_t kCalls = 1u << 20;

void DirectCallHook(benchmark::State &state)
{
    World &w = TheWorld();
    Bytes settings = SettingsBlock(false, 1, false);
    std::string path = w.tempHost + "/printer-direct.tmp";
    BYTE buffer[16];
    std::memset(buffer, 'd', sizeof(buffer));
    for (auto _ : state)
    {
        state.PauseTiming();
        {
            PrinterToFile printer(*w.spooler, path, O_CREAT | O_TRUNC | O_WRONLY);
            JobSession job(*w.spooler);
            job.Write(settings.data(), static_cast<DWORD>(settings.size()));
            state.ResumeTiming();
            for (size_t i = 0; i < kCalls; i++)
            {
                job.Write(buffer, sizeof(buffer));
            }
            state.PauseTiming();
            job.Finish();
        }
        unlink(path.c_str());
        state.ResumeTiming();
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * kCalls));
}

void DirectCallRaw(benchmark::State &state)
{
    World &w = TheWorld();
    std::string path = w.tempHost + "/raw-direct.tmp";
    BYTE buffer[16];
    std::memset(buffer, 'd', sizeof(buffer));
    for (auto _ : state)
    {
        state.PauseTiming();
        int fd = open(path.c_str(), O_CREAT | O_TRUNC | O_WRONLY, 0600);
        state.ResumeTiming();
        for (size_t i = 0; i < kCalls; i++)
        {
            benchmark::DoNotOptimize(write(fd, buffer, sizeof(buffer)));
        }
        state.PauseTiming();
        close(fd);
        unlink(path.c_str());
        state.ResumeTiming();
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * kCalls));
}

long StatusKiB(const char *field)
{
    std::ifstream f("/proc/self/status");
    std::string line;
    while (std::getline(f, line))
    {
        if (line.compare(0, std::strlen(field), field) == 0)
        {
            return std::atol(line.c_str() + std::strlen(field) + 1);
        }
    }
    return -1;
}

// The resident set's growth over a whole job, in a child process so that
// the peak belongs to this job alone.
void MemoryJob(benchmark::State &state)
{
    World &w = TheWorld();
    const size_t cMB = static_cast<size_t>(state.range(0));
    Bytes settings = SettingsBlock(true, 1, false);
    long growthKiB = 0;
    for (auto _ : state)
    {
        int fds[2];
        if (pipe(fds) != 0)
        {
            state.SkipWithError("pipe");
            return;
        }
        pid_t pid = fork();
        if (pid == 0)
        {
            close(fds[0]);
            long before = StatusKiB("VmRSS:");
            // The peak is reset so that it starts from here.
            std::ofstream("/proc/self/clear_refs") << "5";
            {
                JobSession job(*w.spooler);
                SpoolDocument(job, settings, cMB, 1000 * 1000);
                job.Finish(true);
            }
            long peak = StatusKiB("VmHWM:");
            long growth = peak - before;
            ssize_t ignored = write(fds[1], &growth, sizeof(growth));
            (void)ignored;
            _exit(0);
        }
        close(fds[1]);
        if (read(fds[0], &growthKiB, sizeof(growthKiB)) != sizeof(growthKiB))
        {
            growthKiB = -1;
        }
        close(fds[0]);
        waitpid(pid, nullptr, 0);
    }
    state.counters["rss_growth_KiB"] = static_cast<double>(growthKiB);
}

} // namespace

BENCHMARK(IntakeHook)
    ->Name("Intake/hook")
    ->RangeMultiplier(16)
    ->Range(16, 64 << 10)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(IntakeRaw)
    ->Name("Intake/raw")
    ->RangeMultiplier(16)
    ->Range(16, 64 << 10)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(IntakeLayer)
    ->Name("Intake/layer")
    ->RangeMultiplier(16)
    ->Range(16, 64 << 10)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(OutputLayer)
    ->Name("Output/layer")
    ->Arg(1)
    ->Arg(0)
    ->Iterations(3)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(OutputHook)->Name("Output/hook")->Arg(1)->Arg(0)->Iterations(3)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(OutputRaw)->Name("Output/raw")->Arg(1)->Arg(0)->Iterations(3)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(DirectCallHook)->Name("DirectCall/hook")->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(DirectCallRaw)->Name("DirectCall/raw")->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(MemoryJob)
    ->Name("Memory/job")
    ->Arg(1)
    ->Arg(1000)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

BENCHMARK_MAIN();
