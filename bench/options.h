// kd_bench's command line.
#pragma once

#include <cstddef>
#include <string>

namespace bench
{

struct Options
{
    int cPairs = 9;          // interleaved pairs per measurement
    double runSeconds = 0.3; // what one hook run of intake and per-call cost is sized to take
    bool quick = false;      // a smoke run: small volumes, few pairs
    std::string only;        // comma-separated groups (intake, output, call, memory); empty: all
    std::string json;        // where the report goes ("" or "-": standard output)
    std::string root;        // Linux: host folder for the emulated C: drive (default: $KD_BENCH_ROOT)
    std::string temp;        // Windows: folder for the temp files, a Windows path (TMP)
    std::string printer;     // where the printer's data go in the output measurements (a Windows path)
    size_t outputPages = 200;
    size_t outputPageBytes = 1000 * 1000;
    size_t memorySmallMB = 1, memoryLargeMB = 1000;
    // The child of a memory measurement on Windows: its job size and result file.
    size_t memoryChildMB = 0;
    std::string memoryChildOut;

    bool Wants(const char *pszGroup) const;
};

// FALSE, with a message on stderr, for a command line that is not understood.
bool ParseOptions(int argc, char **argv, Options &o);

} // namespace bench
