#include "commands.h"

#include "args.h"
#include "cli.h"
#include "fileio.h"
#include "jobfile.h"
#include "show.h"

#include <ostream>

namespace jobtool
{

int ShowCommand(const std::vector<std::string> &argv, std::ostream &out, std::ostream &err)
{
    Args a(argv);
    std::string jobPath;
    while (a.Next())
    {
        if (a.IsOption())
        {
            throw UsageError{"show has no option " + a.Current()};
        }
        if (!jobPath.empty())
        {
            throw UsageError{"show takes one job file, not also \"" + a.Current() + "\""};
        }
        jobPath = a.Current();
    }
    if (jobPath.empty())
    {
        throw UsageError{"show needs a job file"};
    }
    std::string error;
    spoolsim::JobFileSteps job;
    if (!OpenJobFile(jobPath, job, error))
    {
        err << "jobtool: " << error << "\n";
        return kFailed;
    }
    // The steps' lines go out one at a time: a job of any size is shown in
    // little memory.
    const ShownJob shown = ShowJob(job, false);
    if (!job.Error().empty())
    {
        err << "jobtool: " << job.Error() << "\n";
        return kFailed;
    }
    out << FormatShownJob(shown, job, jobPath);
    WriteStepLines(job, out);
    if (!job.Error().empty())
    {
        err << "jobtool: " << job.Error() << "\n";
        return kFailed;
    }
    return kDone;
}

} // namespace jobtool
