#include "commands.h"

#include "args.h"
#include "cli.h"
#include "fileio.h"
#include "jobfile.h"
#include "pagemap.h"
#include "sheetpicture.h"

#include <algorithm>

#include <new>

namespace jobtool
{

namespace
{

int Explained(const std::vector<std::string> &argv, std::ostream &out, std::ostream &err)
{
    Args a(argv);
    std::string outputPath, jobPath, inputPath, picturePath, source;
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
        else if (opt == "--picture")
        {
            picturePath = a.Value();
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
    std::string error = CheckPrintedReadable(outputPath);
    if (!error.empty())
    {
        err << "jobtool: " << error << "\n";
        return kFailed;
    }
    pclxl::FileSource output(outputPath);
    if (!output.ok())
    {
        err << "jobtool: " << output.error() << "\n";
        return kFailed;
    }
    static const char kJobMagic[] = "KDJOB\r\n\x1A";
    uint8_t magic[8];
    if (output.size() >= 8 && output.read(0, magic, sizeof(magic)) && std::equal(kJobMagic, kJobMagic + 8, magic))
    {
        throw UsageError{outputPath + " is a job file, not a document the printer received: 'jobtool show " +
                         outputPath + "' shows what it holds, 'jobtool run " + outputPath + "' prints it"};
    }
    spoolsim::JobFileSteps job; // outlives ref, whose pages may be read from it beside the explaining
    Reference ref;
    if (!jobPath.empty())
    {
        if (!OpenJobFile(jobPath, job, error))
        {
            err << "jobtool: " << error << "\n";
            return kFailed;
        }
        ref = ReferenceFromJob(job, &error, true);
        source = job.Source();
        if (ref.later)
        {
            ref.later->Start();
        }
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
    PageMap map = ExplainWithProgress(output, ref, "explain " + outputPath);
    if (!output.error().empty())
    {
        err << "jobtool: " << output.error() << "\n";
        return kFailed;
    }
    if (ref.later)
    {
        // As when the reference is made first: a job whose pages cannot be read has no map.
        ref.later->Pages(&error);
        if (!error.empty())
        {
            err << "jobtool: " << jobPath << ": " << error << "\n";
            return kFailed;
        }
    }
    out << FormatPageMap(map, outputPath);
    if (!picturePath.empty())
    {
        std::string why;
        std::unique_ptr<Thumbnails> thumbnails = source.empty() ? nullptr : SourceThumbnails(source, why);
        if (!source.empty() && !thumbnails)
        {
            out << "note: the picture shows page numbers, not thumbnails: " << why << "\n";
        }
        if (!WriteSheetPicture(picturePath, PictureOf(outputPath, {{outputPath, map}}, {}), thumbnails.get(), error))
        {
            err << "jobtool: " << error << "\n";
            return kFailed;
        }
        out << "picture of the sheets: " << picturePath << "\n";
    }
    return map.printable ? kDone : kFailed;
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
