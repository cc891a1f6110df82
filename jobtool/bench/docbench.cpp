// The job tool at document sizes: makes documents of the sizes asked for by
// repeating the pages of a real Ghostscript document (its job header once,
// its pages over and over, its trailer once: sound PCL XL of any size), then
// runs jobtool make, run and explain on them as child processes and reports
// each one's time, throughput and peak resident memory (the child's
// ru_maxrss, of a process started by a small launcher). Linux only.
//
//   jobtool_docbench --jobtool build/host/bin/jobtool --source DOC.pxl [--sizes 10,100,1000] [--dir /tmp/docbench]
//                    [--keep] [--only collated|booklet] [--hook-alone build/host/bin/jobtool_hookalone]
//                    [--runs N]
//
// With --runs N, run and the hook alone take turns N times and the median
// of each is reported: one run against one run of the hook is at the mercy
// of the machine's other work. make and explain are run N times too.
//
// Before each size, a file of ten times its size is written and removed:
// on a virtual machine the first touch of memory is costly (here writing
// 1 GB took 2.8 s the first time and 0.2 s the next), and the page cache
// of a 1 GB job's runs, unlike a 100 MB one's, would otherwise be new
// memory, timing the host rather than the tool. --cold leaves it out.
//
// tools/docbench.sh runs it on a real document made as the tests make them.
#include "benchdocument.h"
#include "pclxl/pclxl.h"

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

namespace
{

struct Measured
{
    bool ok = false;
    double seconds = 0;    // wall clock
    double cpuSeconds = 0; // user and system: what a shared machine's load does not inflate
    double sysSeconds = 0; // the system's part: page cache and writeback at large sizes
    double peakMiB = 0;
};

// Runs the program with its output to a log file; its time and peak memory.
Measured RunMeasured(const std::vector<std::string> &argv, const std::string &log)
{
    Measured m;
    const auto start = std::chrono::steady_clock::now();
    std::fflush(stdout); // the child must not write what is buffered again
    pid_t pid = fork();
    if (pid < 0)
    {
        std::perror("fork");
        return m;
    }
    if (pid == 0)
    {
        FILE *f = std::freopen(log.c_str(), "w", stdout);
        if (f == nullptr || dup2(fileno(stdout), 2) < 0)
        {
            _exit(126);
        }
        std::vector<char *> args;
        for (const std::string &a : argv)
        {
            args.push_back(const_cast<char *>(a.c_str()));
        }
        args.push_back(nullptr);
        execv(args[0], args.data());
        _exit(127);
    }
    int status = 0;
    struct rusage usage;
    std::memset(&usage, 0, sizeof usage);
    if (wait4(pid, &status, 0, &usage) != pid)
    {
        std::perror("wait4");
        return m;
    }
    m.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    m.peakMiB = static_cast<double>(usage.ru_maxrss) / 1024.0;
    m.cpuSeconds = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                   static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    m.sysSeconds = static_cast<double>(usage.ru_stime.tv_sec) + static_cast<double>(usage.ru_stime.tv_usec) / 1e6;
    m.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    return m;
}

// The programs are started by a small process forked before any document
// is made: a child forked from this program would start with this program's
// pages as its own, and ru_maxrss (kept across exec) would report this
// program's size, not the child's.
class Launcher
{
  public:
    bool Start()
    {
        int requests[2], answers[2];
        if (pipe(requests) != 0 || pipe(answers) != 0)
        {
            std::perror("pipe");
            return false;
        }
        std::fflush(stdout);
        m_pid = fork();
        if (m_pid < 0)
        {
            std::perror("fork");
            return false;
        }
        if (m_pid == 0)
        {
            close(requests[1]);
            close(answers[0]);
            Serve(requests[0], answers[1]);
            _exit(0);
        }
        close(requests[0]);
        close(answers[1]);
        m_to = requests[1];
        m_from = answers[0];
        return true;
    }
    ~Launcher()
    {
        if (m_pid > 0)
        {
            close(m_to);
            close(m_from);
            waitpid(m_pid, nullptr, 0);
        }
    }
    Measured Measure(const std::vector<std::string> &argv, const std::string &log)
    {
        std::vector<std::string> request = argv;
        request.push_back(log);
        Measured m;
        if (!Send(m_to, request) || !ReadAll(m_from, &m, sizeof m))
        {
            std::fprintf(stderr, "docbench: the launcher is gone\n");
            return Measured();
        }
        return m;
    }

  private:
    static bool WriteAll(int fd, const void *data, size_t n)
    {
        const char *p = static_cast<const char *>(data);
        while (n > 0)
        {
            const ssize_t k = write(fd, p, n);
            if (k <= 0)
            {
                return false;
            }
            p += k;
            n -= static_cast<size_t>(k);
        }
        return true;
    }
    static bool ReadAll(int fd, void *data, size_t n)
    {
        char *p = static_cast<char *>(data);
        while (n > 0)
        {
            const ssize_t k = read(fd, p, n);
            if (k <= 0)
            {
                return false;
            }
            p += k;
            n -= static_cast<size_t>(k);
        }
        return true;
    }
    // Count, then each string's length and bytes.
    static bool Send(int fd, const std::vector<std::string> &words)
    {
        const size_t count = words.size();
        bool ok = WriteAll(fd, &count, sizeof count);
        for (const std::string &w : words)
        {
            const size_t n = w.size();
            ok = ok && WriteAll(fd, &n, sizeof n) && WriteAll(fd, w.data(), n);
        }
        return ok;
    }
    static bool Receive(int fd, std::vector<std::string> &words)
    {
        size_t count = 0;
        if (!ReadAll(fd, &count, sizeof count))
        {
            return false;
        }
        words.assign(count, std::string());
        for (std::string &w : words)
        {
            size_t n = 0;
            if (!ReadAll(fd, &n, sizeof n))
            {
                return false;
            }
            w.resize(n);
            if (n > 0 && !ReadAll(fd, &w[0], n))
            {
                return false;
            }
        }
        return true;
    }
    static void Serve(int in, int out)
    {
        std::vector<std::string> request;
        while (Receive(in, request) && request.size() >= 2)
        {
            const std::string log = request.back();
            request.pop_back();
            const Measured m = RunMeasured(request, log);
            if (!WriteAll(out, &m, sizeof m))
            {
                return;
            }
        }
    }
    pid_t m_pid = -1;
    int m_to = -1;
    int m_from = -1;
};

Launcher g_launcher;

// The files earlier steps wrote are on disk first: a step is not charged
// with writing back what the one before it left in the page cache.
Measured Measure(const std::vector<std::string> &argv, const std::string &log)
{
    ::sync();
    return g_launcher.Measure(argv, log);
}

// Writes and removes a file of `bytes` in dir, so that the page cache the
// measured programs use is memory the machine has touched before.
void WarmMemory(const std::string &dir, uint64_t bytes)
{
    const std::string path = dir + "/warm-memory.tmp";
    std::FILE *f = std::fopen(path.c_str(), "wb");
    if (f == nullptr)
    {
        std::perror(path.c_str());
        return;
    }
    static const std::vector<char> block(1u << 20, 0);
    for (uint64_t done = 0; done < bytes && std::fwrite(block.data(), 1, block.size(), f) == block.size();
         done += block.size())
    {
    }
    std::fclose(f);
    std::remove(path.c_str());
}

// The median of each figure (the largest peak), ok when all were.
Measured Median(std::vector<Measured> all)
{
    Measured m;
    if (all.empty())
    {
        return m;
    }
    auto middle = [&all](double Measured::*field) {
        std::vector<double> v;
        for (const Measured &x : all)
        {
            v.push_back(x.*field);
        }
        std::sort(v.begin(), v.end());
        return v.size() % 2 == 1 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
    };
    m.ok = std::all_of(all.begin(), all.end(), [](const Measured &x) { return x.ok; });
    m.seconds = middle(&Measured::seconds);
    m.cpuSeconds = middle(&Measured::cpuSeconds);
    m.sysSeconds = middle(&Measured::sysSeconds);
    for (const Measured &x : all)
    {
        m.peakMiB = std::max(m.peakMiB, x.peakMiB);
    }
    return m;
}

using Made = bench::BenchDocument;

bool MakeDocument(const std::vector<uint8_t> &source, uint64_t target, const std::string &path, Made &made)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    std::string error;
    const bool made_ok = bench::MakeBenchDocument(
        source, target,
        [&out](const uint8_t *data, size_t n) {
            out.write(reinterpret_cast<const char *>(data), static_cast<std::streamsize>(n));
        },
        made, error);
    if (!made_ok)
    {
        std::cerr << "docbench: " << error << "\n";
        return false;
    }
    out.close();
    if (!out)
    {
        std::cerr << "docbench: cannot write " << path << ": " << std::strerror(errno) << "\n";
        return false;
    }
    return true;
}

std::vector<uint64_t> Sizes(const std::string &list)
{
    std::vector<uint64_t> sizes;
    std::stringstream s(list);
    std::string item;
    while (std::getline(s, item, ','))
    {
        sizes.push_back(std::stoull(item) * 1000 * 1000);
    }
    return sizes;
}

void Report(const std::string &step, const Made &doc, uint64_t bytes, const Measured &m)
{
    const double mb = static_cast<double>(bytes) / 1e6;
    std::printf("%-20s %8.1f MB %6zu pages %8.2f s %7.1f MB/s %8.2f s cpu (%5.2f s sys) %7.1f MB/s cpu %8.1f MiB peak "
                "%s\n",
                step.c_str(), mb, doc.pages, m.seconds, m.seconds > 0 ? mb / m.seconds : 0.0, m.cpuSeconds,
                m.sysSeconds, m.cpuSeconds > 0 ? mb / m.cpuSeconds : 0.0, m.peakMiB,
                m.ok ? "" : "(FAILED: see the log)");
    std::fflush(stdout);
}

} // namespace

// The median of `runs` turns of one program (a single turn may meet the
// machine busy with something else).
Measured MeasureTurns(int runs, const std::vector<std::string> &argv, const std::string &log)
{
    std::vector<Measured> all;
    for (int r = 0; r < runs; r++)
    {
        all.push_back(Measure(argv, log));
    }
    return Median(all);
}

int main(int argc, char **argv)
{
    if (!g_launcher.Start())
    {
        return 1;
    }
    std::string jobtool, hookAlone, sourcePath, dir = "/tmp/docbench", sizes = "10,100,1000", only;
    bool keep = false, cold = false;
    int runs = 1;
    for (int i = 1; i < argc; i += 2)
    {
        const std::string opt = argv[i];
        if (opt == "--cold")
        {
            cold = true;
            i--;
        }
        else if (opt == "--keep")
        {
            keep = true; // the documents, jobs and outputs stay, for a profiler
            i--;
        }
        else if (i + 1 >= argc)
        {
            break;
        }
        else if (opt == "--jobtool")
        {
            jobtool = argv[i + 1];
        }
        else if (opt == "--hook-alone")
        {
            hookAlone = argv[i + 1]; // jobtool_hookalone: what run is held against
        }
        else if (opt == "--source")
        {
            sourcePath = argv[i + 1];
        }
        else if (opt == "--sizes")
        {
            sizes = argv[i + 1];
        }
        else if (opt == "--dir")
        {
            dir = argv[i + 1];
        }
        else if (opt == "--only")
        {
            only = argv[i + 1]; // "collated" or "booklet"
        }
        else if (opt == "--runs")
        {
            runs = std::max(1, std::min(99, std::atoi(argv[i + 1])));
        }
    }
    if (jobtool.empty() || sourcePath.empty())
    {
        std::cerr << "usage: jobtool_docbench --jobtool PATH --source DOC.pxl [--sizes 10,100,1000] [--dir DIR]\n";
        return 2;
    }
    std::ifstream in(sourcePath, std::ios::binary);
    const std::vector<uint8_t> source((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (source.empty())
    {
        std::cerr << "docbench: cannot read " << sourcePath << "\n";
        return 1;
    }
    std::filesystem::create_directories(dir);
    bool allOk = true;
    for (uint64_t target : Sizes(sizes))
    {
        const std::string tag = std::to_string(target / 1000000) + "MB";
        const std::string doc = dir + "/doc-" + tag + ".pxl";
        Made made;
        if (!MakeDocument(source, target, doc, made))
        {
            return 1;
        }
        std::printf("-- %s: %zu pages, largest page %.2f MB\n", doc.c_str(), made.pages,
                    static_cast<double>(made.largestPage) / 1e6);
        if (!cold)
        {
            const uint64_t physical = static_cast<uint64_t>(sysconf(_SC_PHYS_PAGES)) * sysconf(_SC_PAGESIZE);
            const uint64_t warm = std::min<uint64_t>(10 * target, physical / 2);
            WarmMemory(dir, warm);
            std::printf("   memory warmed: %.0f MB written and removed first\n", static_cast<double>(warm) / 1e6);
        }
        if (made.pages > 1999)
        {
            // The hook spools at most 1999 pages: it refuses collated copies
            // and booklets of more, so the run stops there.
            std::printf("   note: more than 1999 pages; the hook refuses to spool the job at page 2000 "
                        "(take a source with larger pages for this size)\n");
        }
        const std::string out = dir + "/out-" + tag;
        std::filesystem::create_directories(out);
        struct Case
        {
            const char *name;
            std::vector<std::string> options;
        };
        const Case cases[] = {{"collated x3", {"--copies", "3", "--collate"}}, {"booklet", {"--booklet", "printer"}}};
        for (const Case &c : cases)
        {
            const std::string stem = std::string(c.name) == "booklet" ? "booklet" : "collated";
            if (!only.empty() && only != stem)
            {
                continue;
            }
            const std::string job = dir + "/" + stem + ".kdjob";
            std::vector<std::string> make = {jobtool, "make", doc, "-o", job};
            make.insert(make.end(), c.options.begin(), c.options.end());
            Measured m = MeasureTurns(runs, make, dir + "/" + stem + "-make.log");
            Report(std::string("make ") + c.name, made, made.size, m);
            allOk = allOk && m.ok;
            if (!m.ok)
            {
                continue;
            }
            // Each run and each hook alone begins with an empty folder and
            // nothing else printed lying about; the last run's documents
            // stay for explain.
            std::vector<Measured> runMeasures, hookMeasures;
            const std::string hookOut = dir + "/hook-" + tag;
            for (int r = 0; r < runs; r++)
            {
                std::error_code rec;
                std::filesystem::remove_all(out, rec);
                if (!hookAlone.empty())
                {
                    std::filesystem::remove_all(hookOut, rec);
                    std::filesystem::create_directories(hookOut, rec);
                    hookMeasures.push_back(Measure({hookAlone, job, hookOut}, dir + "/" + stem + "-hook.log"));
                    std::filesystem::remove_all(hookOut, rec);
                }
                std::filesystem::create_directories(out, rec);
                runMeasures.push_back(Measure({jobtool, "run", job, "--out", out}, dir + "/" + stem + "-run.log"));
            }
            m = Median(runMeasures);
            Report(std::string("run ") + c.name, made, made.size, m);
            allOk = allOk && m.ok;
            if (!hookAlone.empty())
            {
                const Measured h = Median(hookMeasures);
                Report(std::string("hook alone ") + c.name, made, made.size, h);
                allOk = allOk && h.ok;
                if (h.ok && h.seconds > 0 && h.cpuSeconds > 0)
                {
                    std::printf("   run / hook alone: %.2fx (%.2fx cpu)%s\n", m.seconds / h.seconds,
                                m.cpuSeconds / h.cpuSeconds,
                                runs > 1 ? (", medians of " + std::to_string(runs) + " turns").c_str() : "");
                }
            }
            const std::string printed = out + "/" + stem + "-1.pxl";
            std::error_code ec;
            const uint64_t printedSize = std::filesystem::file_size(printed, ec);
            if (!ec)
            {
                m = MeasureTurns(runs, {jobtool, "explain", printed, "--job", job}, dir + "/" + stem + "-explain.log");
                Report(std::string("explain ") + c.name, made, printedSize, m);
                allOk = allOk && m.ok;
            }
            if (!keep)
            {
                std::filesystem::remove(job, ec);
                std::filesystem::remove_all(out, ec);
                std::filesystem::create_directories(out, ec);
            }
        }
        if (!keep)
        {
            std::error_code ec;
            std::filesystem::remove(doc, ec);
            std::filesystem::remove_all(out, ec);
        }
    }
    return allOk ? 0 : 1;
}