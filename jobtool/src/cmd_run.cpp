#include "commands.h"

#include "args.h"
#include "boxes.h"
#include "cli.h"
#include "driver.h"
#include "fileio.h"
#include "jobfile.h"
#include "outputs.h"
#include "pagemap.h"
#include "replay.h"

#include <pclxl/samples.h>

#include <cerrno>
#include <filesystem>
#include <functional>
#include <iostream>

namespace jobtool
{

int Run(const std::vector<std::string> &argv, std::istream &in, std::ostream &out, std::ostream &err, bool terminal)
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
    if (ec || !std::filesystem::is_directory(outDir, ec))
    {
        err << "jobtool: cannot make the folder " << outDir << ": " << (ec ? ec.message() : SystemReason(ENOTDIR))
            << "\n";
        return kFailed;
    }
    // The report names only what this run wrote.
    std::vector<std::string> removed;
    if (!RemoveEarlierDocuments(outDir, stem, jobPath, removed, error))
    {
        err << "jobtool: " << error << "\n";
        return kFailed;
    }
    if (!removed.empty())
    {
        out << "removed the documents of an earlier run from " << outDir << ":";
        for (const std::string &name : removed)
        {
            out << " " << name;
        }
        out << "\n";
    }

    Terminal boxes(answers, in, out, !terminal);
    Replay replay = RunJob(job, std::ref(boxes));
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
    for (const std::string &r : replay.reasons)
    {
        out << "reason: " << r << "\n";
    }
    failed = failed || !replay.reasons.empty();
    const bool refused = failed;
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
    size_t n = 0;
    for (const spoolsim::Document *doc : replay.run.PrinterDocuments())
    {
        n++;
        if (doc->data.empty())
        {
            out << "document " << n << ": empty, nothing reached the printer\n";
            continue;
        }
        if (!doc->ended)
        {
            out << "document " << n << ": " << doc->data.size()
                << " bytes, cancelled: the spooler drops it and nothing is printed\n";
            continue;
        }
        std::string path = (std::filesystem::path(outDir) / (stem + "-" + std::to_string(n) + ".pxl")).string();
        if (!WriteFile(path, doc->data, error))
        {
            err << "jobtool: " << error << "\n";
            return kFailed;
        }
        PageMap map = Explain(doc->data, ref);
        out << "document " << n << " (\"" << spoolsim::Narrow(doc->name) << "\") written to " << path << "\n";
        out << FormatPageMap(map, path);
        failed = failed || !map.printable;
    }
    if (n == 0)
    {
        out << "no document went to the printer\n";
    }
    if (!replay.overlayPath.empty())
    {
        if (!replay.overlayFile || refused)
        {
            // A refused creation leaves an earlier overlay as it was: it is
            // not this run's.
            out << "no overlay was made at " << replay.overlayPath
                << (replay.overlayFile ? " (the file there is an earlier one, left as it was)" : "") << "\n";
            failed = true;
        }
        else
        {
            Commands body = ReadCommands(pclxl::Bytes(*replay.overlayFile), pclxl::Context::Page);
            // A page body runs on a page of which it can assume nothing: it
            // must set up what it draws with.
            pclxl::PrintabilityOptions page;
            page.context = pclxl::Context::Page;
            const std::optional<pclxl::Error> refused =
                body.ok() ? pclxl::checkPrintability(pclxl::Bytes(*replay.overlayFile), page) : std::nullopt;
            out << "overlay file " << replay.overlayPath << ": " << replay.overlayFile->size() << " bytes, "
                << body.structure.commands.size() << " commands, "
                << (body.ok() ? "a well-formed page body" : "NOT a well-formed page body (" + body.error() + ")")
                << (refused ? ", not printable (" + refused->message() + ")" : std::string()) << "\n";
            failed = failed || !body.ok() || refused.has_value();
        }
    }
    return failed ? kFailed : kDone;
}

} // namespace jobtool
