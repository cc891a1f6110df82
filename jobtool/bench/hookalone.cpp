// What run is measured against: the same job file through kd7720um with the
// simulated spooler, each printed document written to its file as it comes,
// and nothing else (no page map, no report). The hook's own spooling and
// output of the job, with what any program that feeds it pays.
//
//   jobtool_hookalone JOB.kdjob OUT_FOLDER
#include "jobfile.h"
#include "spoolsim.h"

#include <cstdio>
#include <string>
#include <vector>

int main(int argc, char **argv)
{
    if (argc != 3)
    {
        std::fprintf(stderr, "usage: jobtool_hookalone JOB.kdjob OUT_FOLDER\n");
        return 2;
    }
    spoolsim::JobFileSteps steps;
    std::string error;
    if (!steps.Open(argv[1], error))
    {
        std::fprintf(stderr, "jobtool_hookalone: %s\n", error.c_str());
        return 1;
    }
    spoolsim::Machine machine;
    if (!machine.Problem().empty())
    {
        std::fprintf(stderr, "jobtool_hookalone: %s\n", machine.Problem().c_str());
        return 1;
    }
    spoolsim::Spooler spooler;
    if (!spooler.Loaded())
    {
        std::fprintf(stderr, "jobtool_hookalone: kd7720um.dll could not be loaded\n");
        return 1;
    }
    std::vector<std::FILE *> files;
    bool written = true;
    spooler.keepData = false;
    spooler.keepTrace = [](const spoolsim::WString &) { return false; };
    spooler.documentSink = [&](size_t index, const BYTE *data, DWORD cb) {
        while (files.size() <= index)
        {
            const std::string path = std::string(argv[2]) + "/hook-" + std::to_string(files.size() + 1) + ".pxl";
            files.push_back(std::fopen(path.c_str(), "wb"));
        }
        const bool ok = files[index] != nullptr && std::fwrite(data, 1, cb, files[index]) == cb;
        written = written && ok;
        return ok;
    };
    const spoolsim::RunResult run = spooler.Run(spooler, steps);
    for (std::FILE *f : files)
    {
        written = f != nullptr && std::fclose(f) == 0 && written;
    }
    if (!run.started || !written || !run.AllWritesSucceeded())
    {
        std::fprintf(stderr, "jobtool_hookalone: the job did not go through (started %d, written %d)\n",
                     run.started ? 1 : 0, written ? 1 : 0);
        return 1;
    }
    std::printf("%zu documents\n", files.size());
    return 0;
}
