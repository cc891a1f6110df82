#include "driver.h"

#include "faultpoint.h"
#include "fileio.h"
#include "progress.h"

#include "pclxl/documentstream.h"
#include "pclxl/relocate.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>

namespace jobtool
{

namespace op = pclxl::op;
namespace attr = pclxl::attr;
namespace val = pclxl::val;
namespace markers = spoolsim::markers;

namespace
{

// The pages a spooled job's page index holds.
const size_t kMostSpooledPages = 1999;

// The options that make the hook re-order or repeat pages, by name.
std::vector<std::string> PageOrderOptions(const JobOptions &o)
{
    std::vector<std::string> names;
    if (o.collate)
    {
        names.push_back(o.copyCommand ? "--copy-command" : "--collate");
    }
    if (o.reverse)
    {
        names.push_back("--reverse");
    }
    if (o.pageSet != PageSet::All)
    {
        names.push_back("--page-set");
    }
    if (o.manualDuplex)
    {
        names.push_back("--manual-duplex");
    }
    if (o.booklet != BookletKind::None)
    {
        names.push_back("--booklet");
    }
    if (o.transparency != Interleave::None)
    {
        names.push_back("--transparency");
    }
    return names;
}

std::vector<std::string> DecorationOptions(const JobOptions &o)
{
    std::vector<std::string> names;
    if (o.watermark)
    {
        names.push_back("--watermark");
    }
    if (o.overlay)
    {
        names.push_back("--overlay");
    }
    if (o.overlayCreate)
    {
        names.push_back("--overlay-create");
    }
    return names;
}

void CopyText(CHAR *dst, size_t cb, const std::string &text)
{
    std::memset(dst, 0, cb);
    std::memcpy(dst, text.data(), std::min(text.size(), cb - 1));
}

Bytes Concat(std::initializer_list<Bytes> parts)
{
    Bytes out;
    for (const Bytes &b : parts)
    {
        out.insert(out.end(), b.begin(), b.end());
    }
    return out;
}

// A page's MediaSize (as BeginPage gives it), or the document's.
uint8_t PageMediaSize(const PreparedPage &page, uint8_t fallback)
{
    Commands begin = ReadCommands(pclxl::Bytes(page.begin), pclxl::Context::Session, false);
    for (const pclxl::Command &c : begin.structure.commands)
    {
        const pclxl::Attribute *size = c.op == op::BeginPage ? c.find(attr::MediaSize) : nullptr;
        if (size && size->value.shape == pclxl::Shape::Scalar && size->value.number() >= 0 &&
            size->value.number() < 256)
        {
            return static_cast<uint8_t>(size->value.number());
        }
    }
    return fallback;
}

Bytes OriginFragment(double x, double y)
{
    // Whole units where they fit the usual 16 bits, else real numbers.
    const bool fits = std::abs(x) < 32767 && std::abs(y) < 32767;
    pclxl::Writer w;
    w.xy(fits ? pclxl::ElementType::SInt16 : pclxl::ElementType::Real32, std::round(x), std::round(y))
        .attr(attr::PageOrigin)
        .op(op::SetPageOrigin);
    return w.take();
}

} // namespace

std::string CheckOptions(const JobOptions &o)
{
    if (o.copies < 1 || o.copies > 32767)
    {
        return "--copies must be from 1 to 32767";
    }
    if (o.copyCommand && !o.collate)
    {
        return "--copy-command needs --collate";
    }
    std::vector<std::string> order = PageOrderOptions(o);
    std::vector<std::string> decorations = DecorationOptions(o);
    if (o.passThrough || o.deferText)
    {
        const char *mode = o.passThrough ? "--pass-through" : "--defer-text";
        const char *why = o.passThrough ? "the hook then passes every buffer on unchanged"
                                        : "in deferred-text mode the hook neither spools pages nor inserts fragments";
        std::vector<std::string> other = order;
        other.insert(other.end(), decorations.begin(), decorations.end());
        if (o.passThrough && o.deferText)
        {
            other.push_back("--defer-text");
        }
        if (!other.empty())
        {
            return std::string(mode) + " cannot be combined with " + other.front() + ": " + why;
        }
    }
    if (o.overlay && o.overlayCreate)
    {
        return "--overlay-create and --overlay cannot be combined";
    }
    if (o.overlayCreate && (!order.empty() || o.copies > 1))
    {
        return "--overlay-create cannot be combined with " + (order.empty() ? std::string("--copies") : order.front()) +
               ": an overlay-creation job prints nothing";
    }
    if (o.reverse && o.pageSet != PageSet::All)
    {
        return "--reverse and --page-set cannot be combined: the odd or even pages print first to last";
    }
    if (o.manualDuplex && o.booklet != BookletKind::None)
    {
        return "--manual-duplex and --booklet cannot be combined (--booklet manual turns the sheets by hand itself)";
    }
    const bool byHand = o.manualDuplex || o.booklet == BookletKind::Manual;
    const char *twoPass = o.manualDuplex ? "--manual-duplex" : "--booklet manual";
    if (byHand && (o.collate || o.copies > 1))
    {
        return std::string(twoPass) + " prints one copy: --copies and --collate do not apply";
    }
    if (o.manualDuplex || o.booklet != BookletKind::None)
    {
        const char *what = o.manualDuplex ? "--manual-duplex" : "--booklet";
        if (o.reverse || o.pageSet != PageSet::All || o.transparency != Interleave::None)
        {
            const char *other = o.reverse ? "--reverse" : o.pageSet != PageSet::All ? "--page-set" : "--transparency";
            return std::string(what) + " cannot be combined with " + other + ": it sets the page order itself";
        }
    }
    if (o.transparency != Interleave::None && o.pageSet != PageSet::All)
    {
        return "--transparency cannot be combined with --page-set";
    }
    if (o.booklet == BookletKind::Printer && o.copies > 1 && !o.collate)
    {
        return "--booklet printer makes several copies only with --collate";
    }
    if (o.direction != 0 && o.direction != 1)
    {
        return "--direction must be 0 or 1";
    }
    if (o.watermark)
    {
        if (o.watermark->empty())
        {
            return "--watermark needs a text";
        }
        if (o.watermark->size() >= CB_WM_TEXT)
        {
            return "--watermark text is longer than " + std::to_string(CB_WM_TEXT - 1) + " bytes";
        }
        if (o.wmSize < 1 || o.wmSize > 999)
        {
            return "--wm-size must be from 1 to 999 points";
        }
        if (o.wmAngle < -360 || o.wmAngle > 360)
        {
            return "--wm-angle must be from -360 to 360 degrees";
        }
    }
    for (const std::optional<std::string> *path : {&o.overlay, &o.overlayCreate})
    {
        if (*path && ((*path)->empty() || (*path)->size() >= CB_OVERLAY_FILE))
        {
            return std::string(path == &o.overlay ? "--overlay" : "--overlay-create") + " needs a path of 1 to " +
                   std::to_string(CB_OVERLAY_FILE - 1) + " bytes";
        }
    }
    if (o.orientation != 0 && o.orientation != DMORIENT_PORTRAIT && o.orientation != DMORIENT_LANDSCAPE)
    {
        return "--orientation must be portrait or landscape";
    }
    return std::string();
}

namespace driver
{
const char kOverlayStream[] = "PageOverlay";

Bytes LeadIn1()
{
    return {pclxl::dt::UByte, val::eAutoSelect, pclxl::tag::AttrUByte, attr::MediaSource};
}

Bytes LeadIn2()
{
    return {pclxl::dt::UByte, 2 /* eFaceUpBin */, pclxl::tag::AttrUByte, attr::MediaDestination};
}

Bytes CopyCommand(int copies, bool prelude)
{
    std::string line = "@PJL SET QTY=" + std::to_string(copies) + "\n";
    if (prelude)
    {
        line = std::string(pclxl::kUniversalExit) + line + "@PJL ENTER LANGUAGE = PCLXL\n";
    }
    return Bytes(line.begin(), line.end());
}

Bytes InstructionPage(bool landscape, double unitsPerInch, uint8_t mediaSize)
{
    static const char *const kLines[] = {
        "Manual duplex",
        "",
        "The first side of the sheets is being printed.",
        "When it is done, put the printed stack back into the",
        "multi-purpose tray, printed side up, top edge first,",
        "and answer the message on the screen.",
    };
    const double u = unitsPerInch;
    pclxl::Writer w;
    w.beginPage(landscape ? val::eLandscapeOrientation : val::ePortraitOrientation, mediaSize);
    w.setColorSpaceGray().setBrushGray(0);
    w.setFont("Courier         ", static_cast<float>(u * 12 / 72));
    int line = 0;
    for (const char *text : kLines)
    {
        if (*text != 0)
        {
            w.setCursor(static_cast<int16_t>(std::min(u, 32767.0)),
                        static_cast<int16_t>(std::min(u + line * u / 4, 32767.0)));
            w.text(text);
        }
        line++;
    }
    w.endPage(1);
    return w.take();
}

Bytes OverlayBegin()
{
    pclxl::Writer w;
    w.beginStream(kOverlayStream);
    return w.take();
}

Bytes OverlayCall()
{
    // The overlay draws in a graphics state of its own, so that the page's
    // own drawing is not changed by it.
    pclxl::Writer w;
    w.pushGS().execStream(kOverlayStream).popGS();
    return w.take();
}

Bytes OverlayEnd()
{
    pclxl::Writer w;
    w.endStream();
    return w.take();
}
} // namespace driver

Bytes Reorderable(const Bytes &pxl, std::vector<std::string> &notes, std::string &why)
{
    pclxl::MemorySource in{pclxl::Bytes(pxl)};
    pclxl::VectorSink out;
    pclxl::RelocationResult moved = pclxl::relocateDownloads(in, out);
    if (!moved.ok)
    {
        why = moved.error;
        return pxl;
    }
    notes.insert(notes.end(), moved.notes.begin(), moved.notes.end());
    return std::move(out.bytes);
}

DRVDEVMODE MakeSettings(const JobOptions &o, const PreparedDocument &doc)
{
    DRVDEVMODE dm = spoolsim::DefaultSettings();
    const Paper &paper = PaperForMediaSize(doc.mediaSize);
    const short dpi = static_cast<short>(std::lround(std::min(doc.unitsPerInch, 32767.0)));
    dm.dmPublic.dmPaperSize = paper.dmPaperSize;
    dm.dmPublic.dmPrintQuality = dpi;
    dm.dmPublic.dmYResolution = dpi;
    dm.dmPublic.dmOrientation = static_cast<short>(o.orientation != 0 ? o.orientation : doc.pages.front().orientation);
    dm.dmPublic.dmCopies = static_cast<short>(o.copies);
    dm.dmPublic.dmCollate = o.collate ? 1 : 0;
    dm.sCollate = o.collate ? 1 : 0;
    dm.sCopyCommand = o.copyCommand ? 1 : 0;
    dm.sReverseOrder = o.reverse ? 1 : o.pageSet == PageSet::Odd ? 2 : o.pageSet == PageSet::Even ? 3 : 0;
    dm.sManualDuplex = o.manualDuplex ? 1 : o.booklet == BookletKind::Manual ? 2 : 0;
    dm.sManualDuplexOrder = o.descending ? 1 : 0;
    dm.sInstructionPage = o.instructionPage ? 1 : 0;
    dm.sBooklet = o.booklet != BookletKind::None ? 1 : 0;
    dm.sHardwareBooklet = o.booklet == BookletKind::Printer ? 2 : 0;
    dm.sBookletOption = static_cast<SHORT>(o.direction);
    if (o.transparency != Interleave::None)
    {
        dm.sMediaKind = 3;
        dm.sOhpInterleave = o.transparency == Interleave::SamePage ? 1 : 2;
        dm.sOhpOption = o.transparencyFirst ? 1 : 0;
    }
    if (o.watermark)
    {
        dm.sWatermarkOn = 1;
        CopyText(dm.szWmText, sizeof(dm.szWmText), *o.watermark);
        dm.sWmFontSize = static_cast<SHORT>(o.wmSize);
        dm.sWmAngle = static_cast<SHORT>(o.wmAngle);
        dm.sWmOutline = o.wmOutline ? 1 : 0;
        dm.sWmFirstPageOnly = o.wmFirstPage ? 1 : 0;
    }
    if (o.overlayCreate || o.overlay)
    {
        dm.sOverlayMode = o.overlayCreate ? 2 : 1;
        CopyText(dm.szOverlayFile, sizeof(dm.szOverlayFile), o.overlayCreate ? *o.overlayCreate : *o.overlay);
        dm.sOverlayQuery = o.ask ? 1 : 0;
    }
    dm.sDeferText = o.deferText ? 1 : 0;
    dm.sTextMode = 0;
    dm.sPassThrough = o.passThrough ? 1 : 0;
    return dm;
}

bool Spools(const DRVDEVMODE &dm)
{
    if (dm.sPassThrough != 0 || dm.sOverlayMode == 2)
    {
        return false;
    }
    return dm.sReverseOrder != 0 || dm.sCollate == 1 || dm.sManualDuplex != 0 || dm.sBooklet != 0 ||
           (dm.sMediaKind == 3 && dm.sOhpInterleave > 0);
}

BookletLayout MakeBookletLayout(const PreparedDocument &doc, const DRVDEVMODE &dm)
{
    const bool landscapeBooklet = dm.dmPublic.dmOrientation == DMORIENT_LANDSCAPE;
    const Paper &paper = PaperForMediaSize(doc.mediaSize);
    const double u = doc.unitsPerInch;
    const double S = std::min(paper.widthInch, paper.heightInch) * u;
    const double L = std::max(paper.widthInch, paper.heightInch) * u;
    // The largest short and long sides among the pages: one scale has to
    // fit every page into its half, whatever paper it was made for.
    double pageS = S, pageL = L;
    for (const PreparedPage &page : doc.pages)
    {
        const Paper &own = PaperForMediaSize(PageMediaSize(page, doc.mediaSize));
        pageS = std::max(pageS, std::min(own.widthInch, own.heightInch) * u);
        pageL = std::max(pageL, std::max(own.widthInch, own.heightInch) * u);
    }

    // Two pages side by side on a sheet turned the other way; each page is
    // scaled into its half and centred there. On a portrait booklet (a
    // landscape sheet, halves left and right) every page's short side runs
    // across the sheet; on a landscape booklet (a portrait sheet, halves top
    // and bottom) its long side does. A page of the other orientation is
    // turned by a PageAngle of 270: with y running down the sheet, PCL XL
    // turns a positive angle counterclockwise as seen on paper, so 270 turns
    // the page clockwise, its x axis running down the sheet and its y axis to
    // the left; its origin is then at the right edge of where it lands.
    double scale, o[4][2];
    if (!landscapeBooklet)
    {
        const double halfW = L / 2, halfH = S;
        scale = std::min(halfW / pageS, halfH / pageL);
        const double ox = (halfW - scale * pageS) / 2, oy = (halfH - scale * pageL) / 2;
        const double table[4][2] = {
            {ox, oy}, {halfW + ox, oy}, {ox + scale * pageS, oy}, {halfW + ox + scale * pageS, oy}};
        std::memcpy(o, table, sizeof(o));
    }
    else
    {
        const double halfW = S, halfH = L / 2;
        scale = std::min(halfW / pageL, halfH / pageS);
        const double ox = (halfW - scale * pageL) / 2, oy = (halfH - scale * pageS) / 2;
        const double table[4][2] = {
            {ox + scale * pageL, oy}, {ox + scale * pageL, halfH + oy}, {ox, oy}, {ox, halfH + oy}};
        std::memcpy(o, table, sizeof(o));
    }

    pclxl::Writer bp;
    bp.ubyte(landscapeBooklet ? val::ePortraitOrientation : val::eLandscapeOrientation).attr(attr::Orientation);
    bp.ubyte(doc.mediaSize).attr(attr::MediaSize);
    if (dm.sHardwareBooklet == 2)
    {
        // The fold runs across the sheet's long side.
        bp.ubyte(landscapeBooklet ? 0 : 1).attr(attr::DuplexPageMode);
    }
    else
    {
        bp.ubyte(0).attr(attr::SimplexPageMode);
    }
    bp.op(op::BeginPage);
    Bytes beginPage = bp.take();
    if (dm.sHardwareBooklet != 2)
    {
        beginPage = Concat({driver::LeadIn1(), driver::LeadIn2(), beginPage});
    }
    pclxl::Writer ep;
    ep.endPage(1);
    pclxl::Writer rotation;
    rotation.sint16(270).attr(attr::PageAngle).op(op::SetPageRotation);
    pclxl::Writer sc;
    sc.xy(pclxl::ElementType::Real32, scale, scale).attr(attr::PageScale).op(op::SetPageScale);
    pclxl::Writer cm;
    cm.ubyte(0).attr(attr::ClipMode).op(op::SetClipMode);
    pclxl::Writer border;
    border.ubyte(1).attr(attr::PenWidth).op(op::SetPenWidth);

    BookletLayout layout;
    layout.endPage = ep.take();
    const Bytes items[] = {beginPage,
                           layout.endPage,
                           OriginFragment(o[0][0], o[0][1]),
                           OriginFragment(o[1][0], o[1][1]),
                           OriginFragment(o[2][0], o[2][1]),
                           OriginFragment(o[3][0], o[3][1]),
                           rotation.bytes(),
                           rotation.bytes(),
                           sc.take(),
                           cm.take(),
                           border.take()};
    BYTE index = 1;
    for (const Bytes &item : items)
    {
        layout.record.items.push_back({index++, item});
    }
    layout.record.orientationIndex = 12;
    layout.record.orientation = static_cast<BYTE>(landscapeBooklet ? 2 : 1);
    if (dm.sOverlayMode == 1)
    {
        // Once per sheet side: the overlay in a graphics state of its own,
        // at the sheet's scale.
        pclxl::Writer run;
        run.execStream(driver::kOverlayStream).popGS();
        pclxl::Writer push;
        push.pushGS();
        layout.record.overlayItems.push_back({13, run.take()});
        layout.record.overlayItems.push_back({14, push.take()});
    }
    return layout;
}

namespace
{

// The rendering driver's stream, step by step into a sink. It keeps a sample
// of what reaches the printer when the hook sends everything as it arrives
// (the job header, the first page, and all after the last page): checked as
// PCL XL, it shows that the driver's pieces fit together, without holding
// the document.
class StreamBuilder
{
  public:
    explicit StreamBuilder(spoolsim::StepSink &sink) : m_sink(sink)
    {
    }
    void Write(const Bytes &data)
    {
        if (!data.empty())
        {
            Add(spoolsim::StepKind::Write, data);
            Printable(data);
        }
    }
    // A write that the printer never sees as it is (a marker, or text that
    // the hook holds back and sends later).
    void Marker(const Bytes &data)
    {
        Add(spoolsim::StepKind::Write, data);
    }
    void Text(const char *marker)
    {
        Marker(Bytes(marker, marker + std::strlen(marker)));
    }
    void WriteSettings(const DRVDEVMODE &dm)
    {
        const BYTE *pb = reinterpret_cast<const BYTE *>(&dm);
        Marker(Bytes(pb, pb + sizeof(dm)));
    }
    void StartPage()
    {
        Add(spoolsim::StepKind::StartPage, Bytes());
    }
    void EndPage()
    {
        Add(spoolsim::StepKind::EndPage, Bytes());
    }
    void Printable(const Bytes &data)
    {
        if (m_sampling)
        {
            m_printable.insert(m_printable.end(), data.begin(), data.end());
        }
    }
    // Pages between the first and the last are left out of the sample.
    void Sample(bool on)
    {
        m_sampling = on;
    }
    const Bytes &Printable() const
    {
        return m_printable;
    }
    // The first step the sink refused, if any: the steps after it are dropped.
    bool Failed() const
    {
        return m_failed;
    }
    size_t Steps() const
    {
        return m_steps;
    }

  private:
    void Add(spoolsim::StepKind kind, const Bytes &data)
    {
        if (!m_failed)
        {
            m_failed = !m_sink.Add(kind, data.data(), data.size());
            m_steps += m_failed ? 0 : 1;
        }
    }
    spoolsim::StepSink &m_sink;
    Bytes m_printable;
    bool m_sampling = true;
    bool m_failed = false;
    size_t m_steps = 0;
};

// The relocated document: in memory, or in a scratch file removed at the end.
class Relocated
{
  public:
    explicit Relocated(std::string scratch) : m_scratch(std::move(scratch))
    {
    }
    ~Relocated()
    {
        m_file.reset();
        if (!m_scratch.empty())
        {
            RemoveFile(m_scratch);
        }
    }
    Relocated(const Relocated &) = delete;
    Relocated &operator=(const Relocated &) = delete;

    // Relocates `in`; false with the reason when its downloads cannot be
    // moved (why) or the scratch file fails (error).
    bool Make(pclxl::ByteSource &in, std::vector<std::string> &notes, std::string &why, std::string &error)
    {
        // A document with nothing to move is read where it is, not copied.
        pclxl::RelocationResult moved;
        if (m_scratch.empty())
        {
            moved = pclxl::relocateDownloads(in, m_memory, false);
        }
        else
        {
            // The document again, a few kilobytes a command: written a
            // megabyte at a time.
            pclxl::FileSink sink(m_scratch, size_t(1) << 20);
            if (!sink.ok())
            {
                error = sink.error();
                return false;
            }
            moved = pclxl::relocateDownloads(in, sink, false);
            if (!sink.close() && moved.ok)
            {
                error = sink.error();
                return false;
            }
        }
        if (!moved.ok)
        {
            why = moved.error;
            return false;
        }
        notes.insert(notes.end(), moved.notes.begin(), moved.notes.end());
        if (moved.unchanged)
        {
            m_unchanged = &in;
            return true;
        }
        if (m_scratch.empty())
        {
            m_source = std::make_unique<pclxl::MemorySource>(pclxl::Bytes(m_memory.bytes));
        }
        else
        {
            m_file = std::make_unique<pclxl::FileSource>(m_scratch);
            if (!m_file->ok())
            {
                error = m_file->error();
                return false;
            }
        }
        return true;
    }
    pclxl::ByteSource &Source()
    {
        if (m_unchanged != nullptr)
        {
            return *m_unchanged;
        }
        return m_file ? static_cast<pclxl::ByteSource &>(*m_file) : *m_source;
    }

  private:
    std::string m_scratch;
    pclxl::VectorSink m_memory;
    std::unique_ptr<pclxl::MemorySource> m_source;
    std::unique_ptr<pclxl::FileSource> m_file;
    pclxl::ByteSource *m_unchanged = nullptr; // the input itself, when nothing was moved
};

} // namespace

MadeJob MakeJob(pclxl::ByteSource &input, const JobOptions &o, spoolsim::StepSink &sink, const std::string &scratch,
                bool pagesOnTheirOwn)
{
    MadeJob made;
    made.error = CheckOptions(o);
    if (!made.error.empty())
    {
        made.usage = true;
        return made;
    }
    // Pages the hook may send in any order need every download ahead of the
    // first page; an overlay is made of page 1 as it stands, downloads and all.
    std::vector<std::string> moved;
    std::string unmovable;
    Relocated relocated(scratch);
    pclxl::ByteSource *document = &input;
    if (!o.overlayCreate)
    {
        std::string error;
        if (relocated.Make(input, moved, unmovable, error))
        {
            document = &relocated.Source();
        }
        else if (!error.empty())
        {
            made.error = error;
            return made;
        }
    }
    PrepareOptions po;
    po.pageCopies = !o.collate && o.copies > 1 ? static_cast<uint16_t>(o.copies) : 0;
    po.deferText = o.deferText;
    PrepareResult prepared = PrepareScan(*document, po);
    if (!prepared.doc)
    {
        made.error = prepared.error;
        return made;
    }
    if (!unmovable.empty() && (!PageOrderOptions(o).empty() || o.copies > 1))
    {
        made.error = "the pages cannot be made to print the same in any order: " + unmovable;
        return made;
    }
    PreparedDocument &doc = *prepared.doc;
    made.notes = moved;
    if (!unmovable.empty())
    {
        made.notes.push_back("font downloads stay in their pages (" + unmovable + ")");
    }
    made.notes.insert(made.notes.end(), doc.notes.begin(), doc.notes.end());
    DRVDEVMODE dm = MakeSettings(o, doc);
    const bool spooling = Spools(dm);
    const bool booklet = dm.sBooklet != 0;
    const bool watermark = dm.sWatermarkOn != 0;
    const bool overlay = dm.sOverlayMode == 1;
    const bool copyCommand = dm.sCollate == 1 && dm.sCopyCommand == 1;

    StreamBuilder s(sink);
    auto refused = [&s, &made]() {
        if (s.Failed())
        {
            made.error = "the job's steps could not be kept";
        }
        return s.Failed();
    };
    s.WriteSettings(dm);

    if (dm.sOverlayMode == 2)
    {
        // Overlay creation: the hook keeps what the first page sends and
        // prints nothing, so the driver sends page 1 as an overlay body and
        // stops there (a trailer after it would land in the overlay).
        made.notes.insert(made.notes.end(), doc.overlayNotes.begin(), doc.overlayNotes.end());
        s.Write(doc.header);
        s.StartPage();
        if (watermark)
        {
            s.Text(spoolsim::markers::kWatermark);
        }
        PreparedPage body;
        body.body = doc.overlayBody;
        Commands commands = ReadCommands(pclxl::Bytes(body.body), pclxl::Context::Page);
        for (const pclxl::Command &c : commands.structure.commands)
        {
            body.cuts.push_back(c.begin);
        }
        for (const Bytes &chunk : Chunks(body, 0, body.body.size()))
        {
            s.Write(chunk);
        }
        s.EndPage();
        if (refused())
        {
            return made;
        }
        made.ok = true;
        made.steps = s.Steps();
        made.summary =
            "overlay creation from page 1 of " + std::to_string(doc.pages.size()) + " (the printer receives nothing)";
        return made;
    }

    // The job header, with the copy position and the overlay definition.
    if (copyCommand)
    {
        s.Write(Bytes(doc.header.begin(), doc.header.begin() + static_cast<long>(doc.copyPos)));
        s.Marker(markers::CopyPos());
        s.Write(Bytes(doc.header.begin() + static_cast<long>(doc.copyPos), doc.header.end()));
    }
    else
    {
        s.Write(doc.header);
    }
    if (overlay)
    {
        s.Write(driver::OverlayBegin());
        s.Text(spoolsim::markers::kOverlay);
        // Stands for the embedding in the sound-stream check below.
        pclxl::Writer stand;
        stand.readStream(pclxl::Bytes());
        s.Printable(stand.bytes());
        s.Write(driver::OverlayEnd());
    }
    // The lead-in fragments right before the first page. A booklet takes
    // its lead-ins from the layout record and sends these with the header,
    // ahead of a sheet's own BeginPage: there they are whitespace.
    if (booklet)
    {
        s.Write(Bytes(8, ' '));
    }
    else
    {
        s.Write(Concat({driver::LeadIn1(), driver::LeadIn2()}));
    }
    BookletLayout layout;
    if (booklet)
    {
        layout = MakeBookletLayout(doc, dm);
        s.Marker(markers::Booklet(layout.record));
    }

    Progress progress("make: writing the job", document->size(), doc.pages.size());
    SHORT orientation = dm.dmPublic.dmOrientation;
    for (PreparedPage &page : doc.pages)
    {
        s.Sample(page.number == 1 || page.number == doc.pages.size());
        FaultPoint("make page");
        if (!LoadPage(*document, page, made.error, pagesOnTheirOwn))
        {
            return made;
        }
        // A page of the other orientation gets a settings block of its own,
        // so that the hook draws its watermark for that orientation; the
        // hook takes such a block only while the watermark is on.
        if (watermark && page.orientation != orientation)
        {
            DRVDEVMODE turned = dm;
            turned.dmPublic.dmOrientation = page.orientation;
            s.WriteSettings(turned);
            orientation = page.orientation;
        }
        s.StartPage();
        if (spooling)
        {
            s.Marker(markers::PageStart(page.orientation));
        }
        if (!booklet)
        {
            s.Write(overlay ? Concat({page.begin, driver::OverlayCall()}) : page.begin);
        }
        if (watermark)
        {
            s.Text(spoolsim::markers::kWatermark);
        }
        const bool defer = dm.sDeferText != 0 && page.text.has_value();
        if (defer)
        {
            // The text goes to the printer at the end of the page, before
            // the EndPage that the driver sends after the page's end.
            for (const Bytes &chunk : Chunks(page, 0, page.text->begin))
            {
                s.Write(chunk);
            }
            s.Marker(markers::DeferStart());
            std::vector<Bytes> text = Chunks(page, page.text->begin, page.text->end);
            for (const Bytes &chunk : text)
            {
                s.Marker(chunk);
            }
            s.Marker(markers::DeferEnd());
            for (const Bytes &chunk : Chunks(page, page.text->end, page.body.size()))
            {
                s.Write(chunk);
            }
            for (const Bytes &chunk : text)
            {
                s.Printable(chunk);
            }
        }
        else
        {
            for (const Bytes &chunk : Chunks(page, 0, page.body.size()))
            {
                s.Write(chunk);
            }
        }
        if (booklet)
        {
            s.Write(page.after);
            s.EndPage();
        }
        else if (defer)
        {
            s.EndPage();
            s.Write(Concat({page.end, page.after}));
        }
        else
        {
            s.Write(Concat({page.end, page.after}));
            s.EndPage();
        }
        UnloadPage(page);
        if (refused())
        {
            return made;
        }
        progress.Update(page.bodyEnd, page.number);
    }
    s.Sample(true);
    if (spooling)
    {
        markers::EndFields fields;
        if (dm.sCollate == 1)
        {
            fields.copies = static_cast<WORD>(dm.dmPublic.dmCopies);
        }
        if (copyCommand)
        {
            fields.copyCommand = driver::CopyCommand(o.copies, !doc.pjl);
        }
        if (booklet)
        {
            fields.bookletEnd = std::make_pair(BYTE{2}, layout.endPage);
        }
        s.Marker(markers::End(fields));
    }
    s.Write(doc.trailer);
    if (refused())
    {
        return made;
    }

    if (!booklet)
    {
        const Bytes &printable = s.Printable();
        pclxl::MemorySource source{pclxl::Bytes(printable)};
        pclxl::DocumentStream stream(source);
        pclxl::DocumentHandler nothing;
        const pclxl::DocumentSummary check = stream.run(nothing);
        if (!check.ok())
        {
            made.error = "the prepared stream is not sound PCL XL: " + check.error->message();
            return made;
        }
    }
    if (spooling && doc.pages.size() > kMostSpooledPages)
    {
        made.notes.push_back("the hook spools at most " + std::to_string(kMostSpooledPages) +
                             " pages: it will refuse this job at page " + std::to_string(kMostSpooledPages + 1));
    }
    made.ok = true;
    made.steps = s.Steps();
    made.summary = std::to_string(doc.pages.size()) + (doc.pages.size() == 1 ? " page" : " pages") +
                   (spooling ? ", spooled by the hook (page-start and end markers)" : ", printed as it arrives");
    return made;
}

MadeJob MakeJob(const Bytes &pxl, const JobOptions &o)
{
    pclxl::MemorySource input{pclxl::Bytes(pxl)};
    spoolsim::StepList steps;
    MadeJob made = MakeJob(input, o, steps, std::string(), true);
    if (made.ok)
    {
        spoolsim::Job job;
        job.documentName = spoolsim::Widen(o.documentName);
        job.steps = std::move(steps.steps);
        made.job = std::move(job);
    }
    return made;
}

} // namespace jobtool
