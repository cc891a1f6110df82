#include "commands.h"

#include "args.h"
#include "cli.h"
#include "fileio.h"
#include "jobfile.h"
#include "pagemap.h"

#include <new>

namespace jobtool
{

namespace
{

int Explained(const std::vector<std::string> &argv, std::ostream &out, std::ostream &err)
{
    Args a(argv);
    std::string outputPath, jobPath, inputPath;
    while (a.Next())
    {
        const std::string opt = a.Current();
        if (!a.IsOption())
        {
            if (!outputPath.empty())
            {
                throw UsageError{"explain takes one output file, not also \"" + opt + "\""};
            }
            outputPath = opt;
        }
        else if (opt == "--job")
        {
            jobPath = a.Value();
        }
        else if (opt == "--input")
        {
            inputPath = a.Value();
        }
        else
        {
            throw UsageError{"explain has no option " + opt};
        }
    }
    if (outputPath.empty())
    {
        throw UsageError{"explain needs the file of a printed document"};
    }
    if (!jobPath.empty() && !inputPath.empty())
    {
        throw UsageError{"explain takes --job or --input, not both"};
    }
    std::string error;
    pclxl::FileSource output(outputPath);
    if (!output.ok())
    {
        err << "jobtool: " << output.error() << "\n";
        return kFailed;
    }
    Reference ref;
    if (!jobPath.empty())
    {
        std::optional<Bytes> data = ReadFile(jobPath, error);
        if (!data)
        {
            err << "jobtool: " << error << "\n";
            return kFailed;
        }
        spoolsim::LoadedJob loaded = spoolsim::LoadJob(*data);
        if (!loaded.job)
        {
            err << "jobtool: " << jobPath << ": not a job file: " << loaded.error << "\n";
            return kFailed;
        }
        ref = ReferenceFromJob(*loaded.job, &error);
    }
    else if (!inputPath.empty())
    {
        std::optional<Bytes> data = ReadFile(inputPath, error);
        if (!data)
        {
            err << "jobtool: " << error << "\n";
            return kFailed;
        }
        ref = ReferenceFromInput(*data, &error);
    }
    if (!error.empty())
    {
        err << "jobtool: " << (jobPath.empty() ? inputPath : jobPath) << ": " << error << "\n";
        return kFailed;
    }
    Progress progress("explain " + outputPath, output.size());
    ExplainHooks hooks;
    hooks.progress = &progress;
    PageMap map = Explain(output, ref, hooks);
    if (!output.error().empty())
    {
        err << "jobtool: " << output.error() << "\n";
        return kFailed;
    }
    out << FormatPageMap(map, outputPath);
    return map.wellFormed ? kDone : kFailed;
}

} // namespace

int ExplainCommand(const std::vector<std::string> &argv, std::ostream &out, std::ostream &err)
{
    try
    {
        return Explained(argv, out, err);
    }
    catch (const std::bad_alloc &)
    {
        err << "jobtool: out of memory: the page map could not be made\n";
        return kFailed;
    }
}

} // namespace jobtool
