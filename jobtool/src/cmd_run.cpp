#include "commands.h"

#include "args.h"
#include "cli.h"
#include "delivery.h"
#include "driver.h"
#include "fileio.h"
#include "jobfile.h"
#include "liveexplain.h"
#include "outputs.h"
#include "pagemap.h"
#include "person.h"
#include "printedfiles.h"
#include "replay.h"
#include "sheetpicture.h"

#include <pclxl/samples.h>

#include <algorithm>
#include <cerrno>
#include <exception>
#include <filesystem>
#include <iostream>
#include <iterator>
#include <map>
#include <memory>
#include <new>
#include <optional>

namespace jobtool
{

namespace
{

int RunCommand(const std::vector<std::string> &argv, std::ostream &out, std::ostream &err,
               const TerminalOpener &openTerminal, std::unique_ptr<PrintedFiles> &files)
{
    Args a(argv);
    std::string jobPath, outDir = ".";
    std::vector<int> answers;
    bool trace = false;
    std::optional<QueueTarget> queue;
    std::string server, picturePath;
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
        else if (opt == "--print")
        {
            const std::string name = a.Value();
            const std::string bad = CheckQueueName(name);
            if (!bad.empty())
            {
                throw UsageError{"--print \"" + name + "\": " + bad};
            }
            queue = QueueTarget{name, std::string()};
        }
        else if (opt == "--picture")
        {
            picturePath = a.Value();
        }
        else if (opt == "--server")
        {
            server = a.Value();
            if (server.empty() || server.size() > 255 || server[0] == '-' ||
                server.find_first_of(" \t\r\n/") != std::string::npos)
            {
                throw UsageError{"--server takes HOST or HOST:PORT, not \"" + server + "\""};
            }
        }
        else
        {
            throw UsageError{"run has no option " + opt};
        }
    }
    if (!server.empty())
    {
        if (!queue)
        {
            throw UsageError{"--server needs --print"};
        }
        queue->server = server;
    }

    // A job file's steps are read from the file as they are run.
    spoolsim::Job example;
    spoolsim::JobSteps exampleSteps(example);
    spoolsim::JobFileSteps fileSteps;
    const spoolsim::StepSource *source = &exampleSteps;
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
        example = std::move(*made.job);
        stem = "example";
        out << "job: the built-in example, examples/sample.pxl (six pages) in two collated copies\n";
    }
    else
    {
        if (!OpenJobFile(jobPath, fileSteps, error))
        {
            err << "jobtool: " << error << "\n";
            return kFailed;
        }
        source = &fileSteps;
        stem = Stem(jobPath);
        out << "job: " << jobPath << " (\"" << spoolsim::Narrow(fileSteps.DocumentName()) << "\", " << fileSteps.Count()
            << " steps)\n";
    }
    const spoolsim::StepSource &job = *source;
    std::error_code ec;
    std::filesystem::create_directories(FsPath(outDir), ec);
    if (ec || !std::filesystem::is_directory(FsPath(outDir), ec))
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

    // The input pages are digested beside the hook and the reading of what
    // it prints; a fault found there is told with the first document's map.
    std::string refError;
    Reference ref = ReferenceFromJob(job, &refError, true);
    bool refTold = false;
    auto tellRefError = [&]() {
        if (refTold)
        {
            return;
        }
        refTold = true;
        if (refError.empty() && ref.later)
        {
            ref.later->Pages(&refError);
        }
        if (!refError.empty())
        {
            out << "note: the pages cannot be matched with the input: " << refError << "\n";
        }
    };
    if (!refError.empty())
    {
        tellRefError();
    }
    if (ref.later)
    {
        ref.later->Start();
    }

    // Each document goes to its file as the printer receives it, so that no
    // printed document is held in memory; the moment the hook ends it, it is
    // put in place (and queued) before the hook can ask the person to take it.
    bool failed = false;
    files = std::make_unique<PrintedFiles>(outDir, stem);
    PrintedFiles &printer = *files;
    Delivery delivery(outDir, stem, queue);
    PersonAtPrinter person(answers, openTerminal, TurnOfJob(job), PrintsInstructionPage(job), out);
    std::vector<PrintedDocument> printed;
    // Each document is explained on a thread of its own while the hook
    // writes it; one that could not be followed is explained once written.
    std::map<size_t, std::unique_ptr<LiveExplain>> live;
    int n = 0;
    auto completed = [&](const spoolsim::Document &doc) {
        n++;
        if (printer.OutOfMemory())
        {
            return; // the run stops: what was written stays as it is, and is named
        }
        std::unique_ptr<LiveExplain> following;
        if (auto found = live.find(printer.Newest()); found != live.end())
        {
            following = std::move(found->second);
            live.erase(found);
        }
        std::optional<PageMap> liveMap;
        std::string liveError;
        std::exception_ptr liveFailure;
        // Before the file is named: its reader must be done with it.
        auto settle = [&](bool kept) {
            if (following && kept)
            {
                try
                {
                    liveMap = following->Result("explain document " + std::to_string(n), &liveError);
                }
                catch (...)
                {
                    liveFailure = std::current_exception();
                }
            }
            following.reset();
        };
        PrintedFiles::Printed p;
        if (!printer.Complete(n, doc.ended && !person.Stopped(), p, settle))
        {
            Delivered lost;
            lost.number = n;
            lost.error = printer.error();
            person.Completed(lost);
            err << "jobtool: document " << n << ": " << lost.error << "\n";
            failed = true;
            return;
        }
        if (p.size == 0)
        {
            out << "document " << n << ": empty, nothing reached the printer\n";
            return;
        }
        if (!doc.ended)
        {
            out << "document " << n << ": " << p.size
                << " bytes, cancelled: the spooler drops it and nothing is printed\n";
            return;
        }
        if (person.Stopped())
        {
            out << "document " << n << ": not written or printed, the job was stopped\n";
            failed = true;
            return;
        }
        const std::string name = spoolsim::Narrow(doc.name);
        Delivered d = delivery.DeliverFile(n, p.path, name + " (" + std::to_string(n) + ")");
        person.Completed(d);
        if (d.path.empty())
        {
            err << "jobtool: document " << n << ": " << d.error << "\n";
            failed = true;
            return;
        }
        out << "document " << n << " (\"" << name << "\") written to " << d.path << "\n";
        if (queue)
        {
            if (d.queueJobId.empty())
            {
                err << "jobtool: document " << n << ": " << d.error << "\n";
                failed = true;
            }
            else
            {
                out << "document " << n << " sent to queue " << queue->queue << " as job " << d.queueJobId << "\n";
            }
        }
        if (liveFailure)
        {
            std::rethrow_exception(liveFailure);
        }
        if (!liveMap)
        {
            pclxl::FileSource source(d.path);
            liveMap = ExplainWithProgress(source, ref, "explain " + d.path);
            liveError = source.error();
        }
        PageMap &map = *liveMap;
        tellRefError();
        if (!liveError.empty())
        {
            err << "jobtool: " << liveError << "\n";
            failed = true;
        }
        out << FormatPageMap(map, d.path);
        out.flush();
        failed = failed || !map.printable;
        printed.push_back({"document " + std::to_string(n) + ": " + d.path +
                               (d.queueJobId.empty() ? "" : ", job " + d.queueJobId + " on queue " + d.queue),
                           map});
    };
    // Without --trace only the traces that say why are kept: the hook traces
    // each of its calls, as many as the job's steps.
    auto quiet = [trace](spoolsim::Spooler &spooler) {
        if (!trace)
        {
            spooler.keepTrace = [](const spoolsim::WString &t) {
                static const spoolsim::WString calls[] = {spoolsim::Widen("QVXLUMPD: DrvSplWritePrinter \n"),
                                                          spoolsim::Widen("QVXLUMPD: DrvSplStartPage \n"),
                                                          spoolsim::Widen("QVXLUMPD: DrvSplEndPage \n")};
                return std::find(std::begin(calls), std::end(calls), t) == std::end(calls);
            };
        }
    };
    // Called inside the hook's writes: nothing may be thrown from here.
    auto write = [&printer, &live, &ref](size_t doc, const BYTE *data, DWORD size) {
        const bool ok = printer.Write(doc, data, size);
        if (ok && live.find(doc) == live.end())
        {
            try
            {
                const std::string part = printer.PartOf(doc);
                if (!part.empty())
                {
                    std::unique_ptr<LiveExplain> &l = live[doc];
                    l = std::make_unique<LiveExplain>(part, ref);
                    printer.Follow(doc, l.get());
                }
            }
            catch (...)
            {
                live.erase(doc); // explained once written
            }
        }
        return ok;
    };
    Replay replay = RunJob(
        job, [&person](const spoolsim::MessageBoxRecord &box) { return person.Answer(box); }, completed, quiet, write);
    live.clear(); // documents that never ended are not explained
    if (printer.OutOfMemory())
    {
        throw std::bad_alloc();
    }
    printer.DiscardUnfinished();
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
    failed = failed || !replay.problems.empty();
    for (const std::string &p : replay.problems)
    {
        out << "problem: " << p << "\n";
    }
    for (const std::string &r : replay.reasons)
    {
        out << "reason: " << r << "\n";
    }
    const bool refused = !replay.problems.empty() || !replay.reasons.empty();
    failed = failed || refused;
    if (!replay.loaded)
    {
        return kFailed;
    }
    if (n == 0)
    {
        out << "no document went to the printer\n";
    }
    if (person.Stopped())
    {
        err << "jobtool: " << person.StopReason() << "\n";
        failed = true;
    }
    if (!picturePath.empty())
    {
        std::string why;
        std::unique_ptr<Thumbnails> thumbnails = job.Source().empty() ? nullptr : SourceThumbnails(job.Source(), why);
        if (!job.Source().empty() && !thumbnails)
        {
            out << "note: the picture shows page numbers, not thumbnails: " << why << "\n";
        }
        const std::string title = "\"" + spoolsim::Narrow(job.DocumentName()) + "\" (" +
                                  (jobPath.empty() ? std::string("the built-in example") : jobPath) + ")";
        if (WriteSheetPicture(picturePath, PictureOf(title, printed, person.TurnAdvice()), thumbnails.get(), error))
        {
            out << "picture of the sheets: " << picturePath << "\n";
        }
        else
        {
            err << "jobtool: " << error << "\n";
            failed = true;
        }
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

} // namespace

int Run(const std::vector<std::string> &argv, std::ostream &out, std::ostream &err, const TerminalOpener &openTerminal)
{
    std::unique_ptr<PrintedFiles> files;
    try
    {
        return RunCommand(argv, out, err, openTerminal, files);
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
