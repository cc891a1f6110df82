#include "catalogue.h"

#include <cstdio>

#include "fuzzjob.h"

namespace fuzzjob
{

using spoolsim::Bytes;
using spoolsim::DocumentJob;
using spoolsim::Job;
using spoolsim::ToBytes;
namespace markers = spoolsim::markers;

namespace
{

DRVDEVMODE Base()
{
    return spoolsim::DefaultSettings();
}

// Pages of 300 bytes, the last one larger than the transfer buffer, with the
// given text markers inside every page.
DocumentJob Doc(const DRVDEVMODE &dm, int cPages, const std::vector<std::string> &inPage = {})
{
    DocumentJob job(dm, cPages);
    for (size_t k = 0; k < job.pages.size(); k++)
    {
        spoolsim::PageSpec &page = job.pages[k];
        size_t cb = k + 1 == job.pages.size() ? 9000 : 300;
        page.buffers.push_back(Bytes(cb / 2, static_cast<BYTE>('a' + k)));
        for (const std::string &m : inPage)
        {
            page.buffers.push_back(ToBytes(m));
        }
        page.buffers.push_back(Bytes(cb - cb / 2, static_cast<BYTE>('A' + k)));
    }
    return job;
}

std::string Driver(const char *name)
{
    return spoolsim::Narrow(spoolsim::DriverFile(spoolsim::Widen(name)));
}

void SetOverlay(DRVDEVMODE &dm, short mode, const std::string &path)
{
    dm.sOverlayMode = mode;
    std::snprintf(dm.szOverlayFile, sizeof(dm.szOverlayFile), "%s", path.c_str());
}

Scenario Make(const std::string &name, int ini, std::vector<Job> jobs)
{
    Scenario s;
    s.name = name;
    s.iniVariant = ini;
    s.jobs = std::move(jobs);
    return s;
}

std::vector<Scenario> Build()
{
    std::vector<Scenario> all;
    {
        all.push_back(Make("direct", 0, {Doc(Base(), 2).Build()}));
    }
    {
        DRVDEVMODE dm = Base();
        dm.sPassThrough = 1;
        all.push_back(Make("pass_through", 0, {Doc(dm, 2, {markers::kWatermark}).Build()}));
    }
    {
        DRVDEVMODE dm = Base();
        dm.sDeferText = 1;
        DocumentJob job(dm, 2);
        job.pageMarkers = false;
        Bytes start = markers::DeferStart(), end = markers::DeferEnd();
        job.pages[0].buffers = {ToBytes("[p1]"), start, Bytes(9000, 'q'), end, ToBytes("[p1 end]")};
        job.pages[1].buffers = {start, ToBytes("[short]"), end};
        all.push_back(Make("deferred_text", 0, {job.Build()}));
    }
    {
        DRVDEVMODE dm = Base();
        dm.sCollate = 1;
        dm.dmPublic.dmCopies = 2;
        DocumentJob job = Doc(dm, 3);
        job.end.copies = 2;
        all.push_back(Make("collate", 0, {job.Build()}));
    }
    {
        DRVDEVMODE dm = Base();
        dm.sCollate = 1;
        dm.sCopyCommand = 1;
        dm.dmPublic.dmCopies = 3;
        DocumentJob job = Doc(dm, 2);
        job.copyPosAt = 4;
        job.end.copies = 3;
        job.end.copyCommand = ToBytes("{copies 3}");
        all.push_back(Make("collate_copy_command", 0, {job.Build()}));
    }
    for (short order : {1, 2, 3})
    {
        DRVDEVMODE dm = Base();
        dm.sReverseOrder = order;
        dm.sReverseLeadIn = order == 1 ? 1 : 0;
        all.push_back(Make("reverse_" + std::to_string(order), 0, {Doc(dm, 4).Build()}));
    }
    {
        DRVDEVMODE dm = Base();
        dm.sManualDuplex = 1;
        dm.sInstructionPage = 1;
        all.push_back(Make("manual_duplex", 1, {Doc(dm, 4).Build()}));
    }
    for (bool hardware : {false, true})
    {
        DRVDEVMODE dm = Base();
        dm.sBooklet = 1;
        if (hardware)
        {
            dm.sHardwareBooklet = 2;
            dm.sCollate = 1;
            dm.dmPublic.dmCopies = 2;
        }
        else
        {
            dm.sManualDuplex = 2;
        }
        SetOverlay(dm, 1, Driver("stored.ovl"));
        DocumentJob job = Doc(dm, 5);
        job.booklet = markers::BookletRecord::Standard(!hardware, true);
        job.pages[1].orientation = 2;
        job.end.bookletEnd = std::make_pair(BYTE(2), ToBytes("{EP2}"));
        if (hardware)
        {
            job.end.copies = 2;
        }
        all.push_back(Make(hardware ? "booklet_printer" : "booklet_by_hand", 0, {job.Build()}));
    }
    for (short interleave : {1, 2})
    {
        DRVDEVMODE dm = Base();
        dm.sMediaKind = 3;
        dm.sOhpInterleave = interleave;
        dm.sOhpOption = interleave == 2 ? 1 : 0;
        all.push_back(Make("transparency_" + std::to_string(interleave), 0, {Doc(dm, 3).Build()}));
    }
    {
        DRVDEVMODE dm = Base();
        dm.sWatermarkOn = 1;
        all.push_back(Make("watermark_direct", 0, {Doc(dm, 2, {markers::kWatermark}).Build()}));
    }
    {
        DRVDEVMODE dm = Base();
        dm.sWatermarkOn = 1;
        dm.sWmOutline = 1;
        dm.sCollate = 1;
        dm.dmPublic.dmCopies = 2;
        DocumentJob job = Doc(dm, 2, {markers::kWatermark});
        job.end.copies = 2;
        all.push_back(Make("watermark_spooled", 0, {job.Build()}));
    }
    {
        DRVDEVMODE dm = Base();
        SetOverlay(dm, 1, Driver("stored.ovl"));
        dm.sOverlayQuery = 1;
        all.push_back(Make("overlay_direct", 0, {Doc(dm, 2, {markers::kOverlay}).Build()}));
    }
    {
        DRVDEVMODE dm = Base();
        SetOverlay(dm, 1, Driver("stored.ovl"));
        dm.sReverseOrder = 1;
        all.push_back(Make("overlay_spooled", 0, {Doc(dm, 3, {markers::kOverlay}).Build()}));
    }
    {
        DRVDEVMODE create = Base();
        SetOverlay(create, 2, Driver("created.ovl"));
        create.sWatermarkOn = 1;
        create.sOverlayRepeat = 3;
        DRVDEVMODE use = Base();
        SetOverlay(use, 1, Driver("created.ovl"));
        all.push_back(Make("overlay_create_then_use", 0,
                           {Doc(create, 2, {markers::kWatermark}).Build(), Doc(use, 1, {markers::kOverlay}).Build()}));
    }
    {
        DRVDEVMODE dm = Base();
        dm.sCollate = 1;
        dm.dmPublic.dmCopies = 2;
        Job job = Doc(dm, 3).Build();
        job.endDoc = true;
        job.abort = true;
        all.push_back(Make("collate_aborted", 0, {job}));
    }
    return all;
}

} // namespace

const std::vector<Scenario> &Catalogue()
{
    static const std::vector<Scenario> all = Build();
    return all;
}

} // namespace fuzzjob
