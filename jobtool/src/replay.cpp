#include "replay.h"

#include "codepage.h"
#include "driver.h"
#include "machineguard.h"
#include "progress.h"
#include "reasons.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace jobtool
{

const char kInstructionPortrait[] = "kdinstp.pxl";
const char kInstructionLandscape[] = "kdinstl.pxl";

const Bytes &StepHead(const spoolsim::StepSource &job, size_t i, Bytes &buffer)
{
    const size_t cb = std::min(job.Size(i), kStepHead);
    buffer.resize(cb);
    if (!job.ReadPart(i, 0, buffer.data(), cb))
    {
        buffer.clear();
    }
    return buffer;
}

std::string DescribeWrite(const spoolsim::StepSource &job, size_t writeIndex)
{
    size_t n = 0;
    size_t step = job.Count();
    for (size_t i = 0; i < job.Count(); i++)
    {
        if (job.Kind(i) == spoolsim::StepKind::Write && n++ == writeIndex)
        {
            step = i;
            break;
        }
    }
    if (step == job.Count())
    {
        return "no such write";
    }
    Bytes head;
    const Bytes &d = StepHead(job, step, head);
    auto is = [&d](const char *marker) {
        return d.size() == std::strlen(marker) && std::memcmp(d.data(), marker, d.size()) == 0;
    };
    if (d.size() == DRVDEVMODE_SIZE)
    {
        return writeIndex == 0 ? "the settings block" : "a repeated settings block";
    }
    if (is(spoolsim::markers::kOverlay))
    {
        return "the overlay marker";
    }
    if (is(spoolsim::markers::kWatermark))
    {
        return "the watermark marker";
    }
    if (d.size() >= 4 && d[0] == 0x1B && d[1] == 0xF0 && d[2] == 0x10)
    {
        return "a marker record";
    }
    return "data (" + std::to_string(job.Size(step)) + " bytes)";
}

std::optional<DRVDEVMODE> SettingsOf(const spoolsim::StepSource &job)
{
    for (size_t i = 0; i < job.Count(); i++)
    {
        if (job.Kind(i) == spoolsim::StepKind::Write)
        {
            DRVDEVMODE dm;
            if (job.Size(i) != DRVDEVMODE_SIZE || !job.ReadPart(i, 0, reinterpret_cast<BYTE *>(&dm), sizeof(dm)))
            {
                return std::nullopt;
            }
            return dm;
        }
    }
    return std::nullopt;
}

Replay RunJob(const spoolsim::StepSource &job, const Prompt &prompt, const DocumentEnded &ended,
              const BeforeRun &beforeRun, const std::function<bool(size_t, const BYTE *, DWORD)> &documentSink)
{
    Replay replay;
    std::optional<DRVDEVMODE> dm = SettingsOf(job);
    spoolsim::Machine machine;
    if (!machine.Problem().empty())
    {
        replay.problems.push_back("the job could not be run");
        replay.reasons.push_back(machine.Problem());
        return replay;
    }
    MachineGuard guard(machine.HostRoot());

    const double units = dm && dm->dmPublic.dmYResolution > 0 ? dm->dmPublic.dmYResolution : 600;
    const Paper *found = dm ? PaperForDmPaper(dm->dmPublic.dmPaperSize) : nullptr;
    const Paper &paper = found ? *found : PaperForMediaSize(pclxl::val::eA4Paper);
    spoolsim::Machine::WriteFileBytes(spoolsim::DriverFile(spoolsim::Widen(kInstructionPortrait)),
                                      driver::InstructionPage(false, units, paper.mediaSize));
    spoolsim::Machine::WriteFileBytes(spoolsim::DriverFile(spoolsim::Widen(kInstructionLandscape)),
                                      driver::InstructionPage(true, units, paper.mediaSize));
    spoolsim::Machine::WriteIni(std::string("[DUPLEX]\nINSTRUCT_PORT=\\") + kInstructionPortrait +
                                "\nINSTRUCT_LAND=\\" + kInstructionLandscape + "\n");
    if (dm && dm->sOverlayMode == 2)
    {
        char path[CB_OVERLAY_FILE + 1] = {};
        std::memcpy(path, dm->szOverlayFile, CB_OVERLAY_FILE);
        replay.overlayPath = PrinterCodePageToUtf8(path);
    }

    spoolsim::Spooler spooler;
    replay.loaded = spooler.Loaded();
    if (!replay.loaded)
    {
        replay.problems.push_back("the hook library kd7720um.dll could not be loaded from " +
                                  spoolsim::Narrow(spoolsim::BuildBinDir()));
        // The tool runs the hook of the build it belongs to.
        replay.reasons.push_back(
            spoolsim::Machine::Exists(spoolsim::BuildBinDir() + spoolsim::Widen("\\kd7720um.dll"))
                ? "kd7720um.dll is there but is not a library this build can load"
                : "kd7720um.dll is not there: the tool runs the hook of the build it was made in, so that build "
                  "must still exist");
        return replay;
    }
    spooler.model.dpi = static_cast<int>(units);
    spooler.model.physicalWidth = static_cast<int>(std::lround(paper.widthInch * units));
    spooler.model.physicalHeight = static_cast<int>(std::lround(paper.heightInch * units));
    spooler.model.offsetX = static_cast<int>(units / 6);
    spooler.model.offsetY = static_cast<int>(units / 6);
    spooler.stopAtFailedWrite = true;
    spooler.user.answer = prompt;
    spooler.documentEnded = ended;
    if (beforeRun)
    {
        beforeRun(spooler);
    }
    if (documentSink)
    {
        spooler.keepData = false;
        spooler.documentSink = documentSink;
    }
    // Progress on a terminal: the job's steps replayed, their bytes and pages.
    uint64_t total = 0;
    for (size_t i = 0; i < job.Count(); i++)
    {
        total += job.Size(i);
    }
    Progress progress("run " + spoolsim::Narrow(job.DocumentName()), total);
    uint64_t done = 0;
    size_t pages = 0, next = 0;
    if (progress.Shown())
    {
        spooler.beforeStep = [&](size_t i) {
            for (; next < i && next < job.Count(); next++)
            {
                done += job.Size(next);
                pages += job.Kind(next) == spoolsim::StepKind::EndPage ? 1 : 0;
            }
            progress.Update(done, pages);
        };
    }
    replay.run = spooler.Run(spooler, job);
    spooler.beforeStep = nullptr;

    const spoolsim::RunResult &r = replay.run;
    if (!r.started)
    {
        replay.problems.push_back("DrvSplStartDoc gave the job no job context");
    }
    for (size_t i = 0; i < r.writes.size(); i++)
    {
        const spoolsim::WriteRecord &w = r.writes[i];
        if (!w.result || w.cbWritten != w.cbBuf)
        {
            std::string what = "write " + std::to_string(i + 1) + " (" + DescribeWrite(job, i) + ")";
            replay.problems.push_back(what + (w.result ? " was only partly taken" : " was refused by the hook") +
                                      (r.stoppedAtFailedWrite ? ": the job was cancelled there (DrvSplAbort)" : ""));
        }
    }
    if (!r.stepError.empty())
    {
        replay.problems.push_back("the job could not be read to the end: " + r.stepError +
                                  ": the job was cancelled there (DrvSplAbort)");
    }
    for (size_t i = 0; i < r.endPageResults.size(); i++)
    {
        if (!r.endPageResults[i])
        {
            replay.problems.push_back("DrvSplEndPage of page " + std::to_string(i + 1) + " failed");
        }
    }
    if (!replay.overlayPath.empty())
    {
        replay.overlayFile = spoolsim::Machine::ReadFileBytes(spoolsim::Widen(replay.overlayPath));
    }
    replay.reasons = Reasons(job, r, LookAtMachine(job));
    return replay;
}

} // namespace jobtool
