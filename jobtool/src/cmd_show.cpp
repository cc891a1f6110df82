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
    std::optional<spoolsim::Job> loaded = ReadJobFile(jobPath, error);
    if (!loaded)
    {
        err << "jobtool: " << error << "\n";
        return kFailed;
    }
    out << FormatShownJob(ShowJob(*loaded), *loaded, jobPath);
    return kDone;
}

} // namespace jobtool
