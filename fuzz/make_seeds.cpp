// Writes the fuzzer's seed corpus: every catalogue scenario, encoded as a
// fuzz input, one file each, into the folder named on the command line.
#include <cstdio>
#include <filesystem>
#include <fstream>

#include "catalogue.h"
#include "fuzzjob.h"

int main(int argc, char **argv)
{
    if (argc != 2)
    {
        std::fprintf(stderr, "usage: fuzz_seeds FOLDER\n");
        return 2;
    }
    std::error_code ec;
    std::filesystem::create_directories(argv[1], ec);
    int count = 0;
    for (const fuzzjob::Scenario &s : fuzzjob::Catalogue())
    {
        fuzzjob::Bytes in = fuzzjob::Encode(s.jobs, s.iniVariant);
        std::ofstream out(std::string(argv[1]) + "/" + s.name, std::ios::binary);
        out.write(reinterpret_cast<const char *>(in.data()), static_cast<std::streamsize>(in.size()));
        if (!out)
        {
            std::fprintf(stderr, "fuzz_seeds: cannot write %s\n", s.name.c_str());
            return 1;
        }
        count++;
    }
    std::printf("%d seeds written to %s\n", count, argv[1]);
    return 0;
}
