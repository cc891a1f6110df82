#include "commands.h"

#include "args.h"
#include "boxes.h"
#include "cli.h"
#include "driver.h"
#include "fileio.h"
#include "jobfile.h"
#include "pagemap.h"
#include "printedfiles.h"
#include "replay.h"

#include <pclxl/samples.h>

#include <filesystem>
#include <functional>
#include <iostream>
#include <memory>
#include <new>

namespace jobtool
{

namespace
{

int RunCommand(const std::vector<std::string> &argv, std::istream &in, std::ostream &out, std::ostream &err,
               bool terminal, std::unique_ptr<PrintedFiles> &files)
{
    Args a(argv);
    std::string jobPath, outDir = ".";
    std::vector<int> answers;
    bool trace = false;
    while (a.Next())
    {
        const std::string opt = a.Current();
        if (!a.IsOption())
        {
            if (!jobPath.empty())
            {
                throw UsageError{"run takes one job file, not also \"" + opt + "\""};
            }
            jobPath = opt;
        }
        else if (opt == "--out")
        {
            outDir = a.Value();
        }
        else if (opt == "--answer")
        {
            answers.push_back(a.Choice({"ok", "cancel"}) == "ok" ? IDOK : IDCANCEL);
        }
        else if (opt == "--trace")
        {
            a.NoValue();
            trace = true;
        }
        else
        {
            throw UsageError{"run has no option " + opt};
        }
    }

    spoolsim::Job job;
    std::string stem;
    std::string error;
    if (jobPath.empty())
    {
        const pclxl::Bytes sample = pclxl::samples::get("sample.pxl");
        JobOptions o;
        o.copies = 2;
        o.collate = true;
        o.documentName = "sample.pxl";
        MadeJob made = MakeJob(Bytes(sample.data, sample.data + sample.size), o);
        if (!made.job)
        {
            err << "jobtool: the built-in example: " << made.error << "\n";
            return kFailed;
        }
        job = *made.job;
        stem = "example";
        out << "job: the built-in example, examples/sample.pxl (six pages) in two collated copies\n";
    }
    else
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
        job = *loaded.job;
        stem = Stem(jobPath);
        out << "job: " << jobPath << " (\"" << spoolsim::Narrow(job.documentName) << "\", " << job.steps.size()
            << " steps)\n";
    }
    std::error_code ec;
    std::filesystem::create_directories(outDir, ec);

    Terminal boxes(answers, in, out, !terminal);
    files = std::make_unique<PrintedFiles>(outDir, stem);
    PrintedFiles &printer = *files;
    Replay replay = RunJob(job, std::ref(boxes), [&printer](size_t doc, const BYTE *data, DWORD size) {
        return printer.Write(doc, data, size);
    });
    if (printer.OutOfMemory())
    {
        throw std::bad_alloc();
    }
    if (trace)
    {
        for (const spoolsim::WString &t : replay.run.traces)
        {
            std::string line = spoolsim::Narrow(t);
            while (!line.empty() && (line.back() == '\n' || line.back() == '\r'))
            {
                line.pop_back();
            }
            out << "trace: " << line << "\n";
        }
    }
    bool failed = !replay.problems.empty();
    for (const std::string &p : replay.problems)
    {
        out << "problem: " << p << "\n";
    }
    if (!replay.loaded)
    {
        return kFailed;
    }

    std::string refError;
    Reference ref = ReferenceFromJob(job, &refError);
    if (!refError.empty())
    {
        out << "note: the pages cannot be matched with the input: " << refError << "\n";
    }
    std::vector<PrintedFiles::Printed> printed;
    if (!printer.Finish(replay.run, printed))
    {
        err << "jobtool: " << printer.error() << "\n";
        return kFailed;
    }
    size_t n = 0;
    for (const PrintedFiles::Printed &p : printed)
    {
        n++;
        if (p.size == 0)
        {
            out << "document " << n << ": empty, nothing reached the printer\n";
            continue;
        }
        if (p.path.empty())
        {
            out << "document " << n << ": " << p.size
                << " bytes, cancelled: the spooler drops it and nothing is printed\n";
            continue;
        }
        pclxl::FileSource source(p.path);
        Progress progress("explain " + p.path, source.size());
        ExplainHooks hooks;
        hooks.progress = &progress;
        PageMap map = Explain(source, ref, hooks);
        if (!source.error().empty())
        {
            err << "jobtool: " << source.error() << "\n";
            return kFailed;
        }
        out << "document " << n << " (\"" << spoolsim::Narrow(p.doc->name) << "\") written to " << p.path << "\n";
        out << FormatPageMap(map, p.path);
        failed = failed || !map.wellFormed;
    }
    if (n == 0)
    {
        out << "no document went to the printer\n";
    }
    if (!replay.overlayPath.empty())
    {
        if (!replay.overlayFile)
        {
            out << "no overlay file at " << replay.overlayPath << "\n";
            failed = true;
        }
        else
        {
            Commands body = ReadCommands(pclxl::Bytes(*replay.overlayFile), pclxl::Context::Page);
            out << "overlay file " << replay.overlayPath << ": " << replay.overlayFile->size() << " bytes, "
                << body.structure.commands.size() << " commands, "
                << (body.ok() ? "a well-formed page body" : "NOT a well-formed page body (" + body.error() + ")")
                << "\n";
            failed = failed || !body.ok();
        }
    }
    return failed ? kFailed : kDone;
}

} // namespace

int Run(const std::vector<std::string> &argv, std::istream &in, std::ostream &out, std::ostream &err, bool terminal)
{
    std::unique_ptr<PrintedFiles> files;
    try
    {
        return RunCommand(argv, in, out, err, terminal, files);
    }
    catch (const std::bad_alloc &)
    {
        err << "jobtool: out of memory: the run stops here";
        const std::vector<std::string> written = files ? files->Written() : std::vector<std::string>();
        if (written.empty())
        {
            err << "; no document was written\n";
        }
        for (size_t i = 0; i < written.size(); i++)
        {
            err << (i == 0 ? "; the documents written so far are kept (the last one may be cut short):\n" : "") << "  "
                << written[i] << "\n";
        }
        return kFailed;
    }
}

} // namespace jobtool
