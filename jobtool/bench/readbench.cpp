// The reading passes in process, on a document made in memory by repeating
// the pages of a real Ghostscript document (benchdocument.h): MB/s of
//
//   stream    tokenize and check in one pass (DocumentStream, a handler that does nothing)
//   commands  one pass of the command reader as relocation reads (CommandReader)
//   relocate  relocation whole: its two passes and the writing (to a sink that drops the bytes)
//   explain   the page map, as `jobtool explain OUT.pxl` makes it (no job file), of
//             the document relocated as make relocates it (a printer refuses
//             the repeated pages' font downloads as they are)
//
// Each figure is the best processor time of --runs runs (a shared machine's
// load only ever slows a run down).
//
//   jobtool_readbench --source DOC.pxl [--mb 100] [--runs 3] [--only stream,commands,relocate,explain]
//                     [--save FILE]
//
// --save writes the relocated document that explain reads, for timing the
// program itself on it (`jobtool explain FILE`).
#include "benchdocument.h"
#include "pagemap.h"

#include "pclxl/pclxl.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fstream>
#include <functional>
#include <iostream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

namespace
{

bool MakeDocument(const std::vector<uint8_t> &source, uint64_t target, std::vector<uint8_t> &made, size_t &pages)
{
    made.reserve(static_cast<size_t>(target) + source.size());
    bench::BenchDocument doc;
    std::string error;
    if (!bench::MakeBenchDocument(
            source, target, [&made](const uint8_t *data, size_t n) { made.insert(made.end(), data, data + n); }, doc,
            error))
    {
        std::cerr << "readbench: " << error << "\n";
        return false;
    }
    pages = doc.pages;
    return true;
}

class DropSink : public pclxl::ByteSink
{
  public:
    bool write(const uint8_t *, size_t n) override
    {
        written += n;
        return true;
    }
    uint64_t written = 0;
};

double CpuSeconds()
{
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

// The best processor time of `runs` runs of f (what other programs on a
// shared machine inflate least); false when a run fails.
bool Time(int runs, const std::function<bool()> &f, double &best)
{
    best = 0;
    for (int i = 0; i < runs; i++)
    {
        const double start = CpuSeconds();
        if (!f())
        {
            return false;
        }
        const double s = CpuSeconds() - start;
        best = i == 0 ? s : std::min(best, s);
    }
    return true;
}

} // namespace

int main(int argc, char **argv)
{
    std::string sourcePath, savePath, only = "stream,commands,relocate,explain";
    double mb = 100;
    int runs = 3;
    for (int i = 1; i + 1 < argc; i += 2)
    {
        const std::string opt = argv[i];
        if (opt == "--source")
        {
            sourcePath = argv[i + 1];
        }
        else if (opt == "--mb")
        {
            mb = std::stod(argv[i + 1]);
        }
        else if (opt == "--runs")
        {
            runs = std::max(1, std::stoi(argv[i + 1]));
        }
        else if (opt == "--only")
        {
            only = argv[i + 1];
        }
        else if (opt == "--save")
        {
            savePath = argv[i + 1];
        }
        else
        {
            sourcePath.clear();
            break;
        }
    }
    if (sourcePath.empty() || argc % 2 == 0)
    {
        std::cerr << "usage: jobtool_readbench --source DOC.pxl [--mb 100] [--runs 3] "
                     "[--only stream,commands,relocate,explain] [--save FILE]\n";
        return 2;
    }
    std::ifstream in(sourcePath, std::ios::binary);
    const std::vector<uint8_t> source((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (!in.eof() && !in)
    {
        std::cerr << "readbench: cannot read " << sourcePath << "\n";
        return 1;
    }
    std::vector<uint8_t> doc;
    size_t pages = 0;
    if (!MakeDocument(source, static_cast<uint64_t>(mb * 1e6), doc, pages))
    {
        return 1;
    }
    const double size = static_cast<double>(doc.size()) / 1e6;
    std::printf("%s: %.1f MB, %zu pages, best of %d runs\n", sourcePath.c_str(), size, pages, runs);

    auto wanted = [&only](const char *name) {
        return ("," + only + ",").find("," + std::string(name) + ",") != std::string::npos;
    };
    auto report = [&](const char *name, bool ok, double seconds, const std::string &note, double mbs = 0) {
        mbs = mbs > 0 ? mbs : size;
        if (!ok)
        {
            std::printf("%-10s failed: %s\n", name, note.c_str());
            return;
        }
        std::printf("%-10s %8.1f MB %8.3f s cpu %8.1f MB/s  %s\n", name, mbs, seconds, mbs / seconds, note.c_str());
    };
    int failed = 0;
    double seconds = 0;
    if (wanted("stream"))
    {
        pclxl::DocumentSummary summary;
        bool ok = Time(
            runs,
            [&] {
                pclxl::MemorySource src{pclxl::Bytes(doc)};
                pclxl::DocumentStream stream(src);
                pclxl::DocumentHandler nothing;
                summary = stream.run(nothing);
                return summary.ok();
            },
            seconds);
        report("stream", ok, seconds, ok ? std::to_string(summary.pages) + " pages" : summary.error->message());
        failed += ok ? 0 : 1;
    }
    if (wanted("commands"))
    {
        size_t commands = 0;
        std::string error;
        bool ok = Time(
            runs,
            [&] {
                pclxl::MemorySource src{pclxl::Bytes(doc)};
                pclxl::CommandReader reader(src);
                namespace op = pclxl::op;
                reader.decodeOnly({op::BeginFontHeader, op::BeginChar, op::ReadChar, op::RemoveFont, op::SetFont,
                                   op::Text, op::TextPath, op::BeginStream});
                if (!reader.open())
                {
                    error = reader.error()->message();
                    return false;
                }
                pclxl::StreamCommand c;
                commands = 0;
                while (reader.next(c))
                {
                    commands++;
                }
                error = reader.error() ? reader.error()->message() : "";
                return !reader.error();
            },
            seconds);
        report("commands", ok, seconds, ok ? std::to_string(commands) + " commands" : error);
        failed += ok ? 0 : 1;
    }
    if (wanted("relocate"))
    {
        pclxl::RelocationResult r;
        bool ok = Time(
            runs,
            [&] {
                pclxl::MemorySource src{pclxl::Bytes(doc)};
                DropSink sink;
                r = pclxl::relocateDownloads(src, sink);
                return r.ok;
            },
            seconds);
        report("relocate", ok, seconds, ok ? std::to_string(r.downloads) + " downloads, two passes" : r.error);
        failed += ok ? 0 : 1;
    }
    if (wanted("explain"))
    {
        pclxl::MemorySource in{pclxl::Bytes(doc)};
        pclxl::VectorSink relocated;
        const pclxl::RelocationResult r = pclxl::relocateDownloads(in, relocated);
        if (!r.ok)
        {
            std::printf("explain    failed: the document cannot be relocated: %s\n", r.error.c_str());
            return 1;
        }
        if (!savePath.empty())
        {
            std::ofstream out(savePath, std::ios::binary | std::ios::trunc);
            out.write(reinterpret_cast<const char *>(relocated.bytes.data()),
                      static_cast<std::streamsize>(relocated.bytes.size()));
            if (!out)
            {
                std::cerr << "readbench: cannot write " << savePath << "\n";
                return 1;
            }
        }
        jobtool::PageMap map;
        bool ok = Time(
            runs,
            [&] {
                pclxl::MemorySource src{pclxl::Bytes(relocated.bytes)};
                map = jobtool::Explain(src, jobtool::Reference{}, jobtool::ExplainHooks{});
                return map.wellFormed && map.printable;
            },
            seconds);
        report("explain", ok, seconds,
               ok ? std::to_string(map.entries.size()) + " entries, relocated document" : map.error + map.refusal,
               static_cast<double>(relocated.bytes.size()) / 1e6);
        failed += ok ? 0 : 1;
    }
    return failed ? 1 : 0;
}
