// The simulated rendering driver: the settings block, the marker records and
// the stream of a whole document, with the named parts that tests expect at
// the printer; and the comparison of printer output with those parts.
#include "spoolsim.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace spoolsim
{

void AppendUtf8(std::string &out, uint32_t c)
{
    if (c < 0x80)
    {
        out += static_cast<char>(c);
    }
    else if (c < 0x800)
    {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
    else if (c < 0x10000)
    {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
    else
    {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

std::string Narrow(const WString &s)
{
    std::string out;
    for (size_t i = 0; i < s.size(); i++)
    {
        uint32_t c = static_cast<uint16_t>(s[i]);
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < s.size())
        {
            uint32_t lo = static_cast<uint16_t>(s[i + 1]);
            if (lo >= 0xDC00 && lo <= 0xDFFF)
            {
                c = 0x10000 + ((c - 0xD800) << 10) + (lo - 0xDC00);
                i++;
            }
        }
        AppendUtf8(out, c);
    }
    return out;
}

WString Widen(const std::string &s)
{
    WString out;
    for (size_t i = 0; i < s.size();)
    {
        uint32_t c = static_cast<uint8_t>(s[i]);
        size_t n = c < 0x80 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
        if (n > 1)
        {
            c &= (0x3F >> (n - 1));
            for (size_t j = 1; j < n && i + j < s.size(); j++)
            {
                c = (c << 6) | (static_cast<uint8_t>(s[i + j]) & 0x3F);
            }
        }
        i += n;
        if (c >= 0x10000)
        {
            c -= 0x10000;
            out += static_cast<WCHAR>(0xD800 + (c >> 10));
            out += static_cast<WCHAR>(0xDC00 + (c & 0x3FF));
        }
        else
        {
            out += static_cast<WCHAR>(c);
        }
    }
    return out;
}

Bytes ToBytes(const std::string &s)
{
    return Bytes(s.begin(), s.end());
}

std::string Printable(const Bytes &b, size_t cbMax)
{
    std::string out;
    for (size_t i = 0; i < b.size() && i < cbMax; i++)
    {
        BYTE c = b[i];
        if (c >= 0x20 && c < 0x7F && c != '\\')
        {
            out += static_cast<char>(c);
        }
        else
        {
            char hex[8];
            std::snprintf(hex, sizeof(hex), "\\x%02X", c);
            out += hex;
        }
    }
    if (b.size() > cbMax)
    {
        out += "... (" + std::to_string(b.size()) + " bytes)";
    }
    return out;
}

// ---- settings ----------------------------------------------------------------------------

static void CopyWide(WCHAR *dst, size_t cch, const WCHAR *src)
{
    size_t i = 0;
    for (; i + 1 < cch && src[i] != 0; i++)
    {
        dst[i] = src[i];
    }
    dst[i] = 0;
}

DRVDEVMODE DefaultSettings()
{
    DRVDEVMODE dm;
    std::memset(&dm, 0, sizeof(dm));
    CopyWide(dm.dmPublic.dmDeviceName, CCHDEVICENAME, W("KD7720 PCL6"));
    dm.dmPublic.dmSpecVersion = DM_SPECVERSION;
    dm.dmPublic.dmDriverVersion = 0x0100;
    dm.dmPublic.dmSize = sizeof(DEVMODEW);
    dm.dmPublic.dmDriverExtra = DRVDEVMODE_SIZE - sizeof(DEVMODEW);
    dm.dmPublic.dmFields = DM_ORIENTATION | DM_PAPERSIZE | DM_SCALE | DM_COPIES | DM_YRESOLUTION | DM_COLLATE;
    dm.dmPublic.dmOrientation = DMORIENT_PORTRAIT;
    dm.dmPublic.dmPaperSize = DMPAPER_A4;
    dm.dmPublic.dmScale = 100;
    dm.dmPublic.dmCopies = 1;
    dm.dmPublic.dmPrintQuality = 600;
    dm.dmPublic.dmYResolution = 600;
    CopyWide(dm.dmPublic.dmFormName, CCHFORMNAME, W("A4"));
    std::strcpy(dm.szWmText, "CONFIDENTIAL");
    std::strcpy(dm.szWmFaceName, "Arial");
    dm.sWmFontSize = 72;
    dm.sWmAngle = 45;
    dm.crWmColor = RGB(192, 192, 192);
    dm.lWmWeight = FW_BOLD;
    std::strcpy(dm.szUserID, "tester");
    return dm;
}

// ---- markers --------------------------------------------------------------------------------

namespace markers
{
const char kWatermark[] = "TimeToInsertWatermark";
const char kOverlay[] = "TimeToInsertOverlay";

Bytes Raw(BYTE code, const Bytes &payload)
{
    Bytes b(4 + payload.size());
    b[0] = 0x1B;
    b[1] = 0xF0;
    b[2] = 0x10;
    b[3] = code;
    std::copy(payload.begin(), payload.end(), b.begin() + 4);
    return b;
}

Bytes PageStart(BYTE orientation)
{
    return Raw(0xAA, {orientation});
}

Bytes CopyPos()
{
    return Raw(0xBB);
}

Bytes End(const EndFields &fields)
{
    Bytes payload;
    if (fields.copies)
    {
        payload.push_back(static_cast<BYTE>(*fields.copies));
        payload.push_back(static_cast<BYTE>(*fields.copies >> 8));
    }
    if (fields.copyCommand)
    {
        payload.push_back(static_cast<BYTE>(fields.copyCommand->size()));
        payload.insert(payload.end(), fields.copyCommand->begin(), fields.copyCommand->end());
    }
    if (fields.bookletEnd)
    {
        payload.push_back(fields.bookletEnd->first);
        payload.push_back(static_cast<BYTE>(fields.bookletEnd->second.size()));
        payload.insert(payload.end(), fields.bookletEnd->second.begin(), fields.bookletEnd->second.end());
    }
    return Raw(0xFF, payload);
}

Bytes EndCopies(WORD copies)
{
    EndFields fields;
    fields.copies = copies;
    return End(fields);
}

Bytes DeferStart()
{
    return {0x1B, 0xFB, 0x0B, 0xFA};
}

Bytes DeferEnd()
{
    return {0x1B, 0xFB, 0x0B, 0xFB};
}

BookletRecord BookletRecord::Standard(bool bSoftwareLeadIns, bool bWithOverlay)
{
    static const char *const apszItems[] = {"{BP}", "{EP}", "{O0}", "{O1}", "{O2}", "{O3}",
                                            "{R0}", "{R1}", "{SC}", "{CM}", "{BD}"};
    BookletRecord r;
    for (int i = 0; i < 11; i++)
    {
        Bytes data = ToBytes(apszItems[i]);
        if (i == 0 && bSoftwareLeadIns)
        {
            Bytes leadIns = ToBytes("<B1><B2>");
            data.insert(data.begin(), leadIns.begin(), leadIns.end());
        }
        r.items.push_back({static_cast<BYTE>(i + 1), data});
    }
    if (bWithOverlay)
    {
        r.overlayItems.push_back({13, ToBytes("{X0}")});
        r.overlayItems.push_back({14, ToBytes("{X1}")});
    }
    return r;
}

Bytes Booklet(const BookletRecord &record)
{
    Bytes payload;
    for (const BookletItem &item : record.items)
    {
        payload.push_back(item.index);
        payload.push_back(static_cast<BYTE>(item.data.size()));
        payload.insert(payload.end(), item.data.begin(), item.data.end());
    }
    payload.push_back(record.orientationIndex);
    payload.push_back(record.orientation);
    for (const BookletItem &item : record.overlayItems)
    {
        payload.push_back(item.index);
        payload.push_back(static_cast<BYTE>(item.data.size()));
        payload.insert(payload.end(), item.data.begin(), item.data.end());
    }
    return Raw(0x00, payload);
}
} // namespace markers

// ---- jobs -------------------------------------------------------------------------------------

JobBuilder &JobBuilder::Settings(const DRVDEVMODE &dm)
{
    const BYTE *pb = reinterpret_cast<const BYTE *>(&dm);
    return Write(Bytes(pb, pb + sizeof(dm)));
}

JobBuilder &JobBuilder::Write(const Bytes &data)
{
    m_job.steps.push_back({StepKind::Write, data});
    return *this;
}

JobBuilder &JobBuilder::Write(const std::string &text)
{
    return Write(ToBytes(text));
}

JobBuilder &JobBuilder::StartPage()
{
    m_job.steps.push_back({StepKind::StartPage, {}});
    return *this;
}

JobBuilder &JobBuilder::EndPage()
{
    m_job.steps.push_back({StepKind::EndPage, {}});
    return *this;
}

Job JobBuilder::Build(const WString &documentName) const
{
    Job job = m_job;
    job.documentName = documentName;
    return job;
}

DocumentJob::DocumentJob(const DRVDEVMODE &dm, int cPages) : settings(dm), pages(static_cast<size_t>(cPages))
{
    for (PageSpec &p : pages)
    {
        p.orientation = static_cast<BYTE>(dm.dmPublic.dmOrientation == DMORIENT_LANDSCAPE ? 2 : 1);
    }
}

Bytes DocumentJob::PageLabel(int k) const
{
    const PageSpec &spec = pages.at(static_cast<size_t>(k - 1));
    Bytes b = ToBytes("[page " + std::to_string(k) + "]");
    // Longer pages repeat a pattern that names the page, so that any
    // misplaced chunk of it still tells where it came from.
    std::string fill = "<p" + std::to_string(k) + ">";
    while (b.size() < spec.size)
    {
        b.push_back(static_cast<BYTE>(fill[b.size() % fill.size()]));
    }
    return b;
}

Job DocumentJob::Build() const
{
    JobBuilder b;
    if (sendSettings)
    {
        b.Settings(settings);
    }
    if (copyPosAt && *copyPosAt <= header.size())
    {
        b.Write(HeaderUpTo(*copyPosAt));
        b.Write(markers::CopyPos());
        if (*copyPosAt < header.size())
        {
            b.Write(HeaderFrom(*copyPosAt));
        }
    }
    else
    {
        b.Write(header);
    }
    Bytes leadIns = leadIn1;
    leadIns.insert(leadIns.end(), leadIn2.begin(), leadIn2.end());
    b.Write(leadIns);
    if (booklet)
    {
        b.Write(markers::Booklet(*booklet));
    }
    for (size_t i = 0; i < pages.size(); i++)
    {
        const PageSpec &spec = pages[i];
        b.StartPage();
        if (pageMarkers)
        {
            b.Write(markers::PageStart(spec.orientation));
        }
        if (spec.buffers.empty())
        {
            b.Write(PageLabel(static_cast<int>(i + 1)));
        }
        for (const Bytes &buffer : spec.buffers)
        {
            b.Write(buffer);
        }
        b.EndPage();
    }
    if (pageMarkers)
    {
        // The rendering driver reads the settings as the hook does: a
        // collated job's end marker carries the copy count.
        markers::EndFields fields = end;
        if (settings.sCollate == 1 && !fields.copies)
        {
            fields.copies = static_cast<WORD>(settings.dmPublic.dmCopies);
        }
        b.Write(markers::End(fields));
    }
    b.Write(trailer);
    return b.Build(documentName);
}

Bytes DocumentJob::Header() const
{
    Bytes b = header;
    b.insert(b.end(), leadIn1.begin(), leadIn1.end());
    b.insert(b.end(), leadIn2.begin(), leadIn2.end());
    return b;
}

Bytes DocumentJob::ShortHeader() const
{
    return header;
}

Bytes DocumentJob::HeaderUpTo(size_t cb) const
{
    return Bytes(header.begin(), header.begin() + static_cast<long>(std::min(cb, header.size())));
}

Bytes DocumentJob::HeaderFrom(size_t ib) const
{
    return Bytes(header.begin() + static_cast<long>(std::min(ib, header.size())), header.end());
}

static bool IsMarkerBuffer(const Bytes &b)
{
    auto is = [&b](const char *text) {
        size_t n = std::strlen(text);
        return b.size() == n && std::memcmp(b.data(), text, n) == 0;
    };
    return (b.size() >= 3 && b[0] == 0x1B && b[1] == 0xF0 && b[2] == 0x10) || is(markers::kWatermark) ||
           is(markers::kOverlay);
}

Bytes DocumentJob::Page(int k) const
{
    const PageSpec &spec = pages.at(static_cast<size_t>(k - 1));
    if (spec.buffers.empty())
    {
        return PageLabel(k);
    }
    Bytes b;
    for (const Bytes &buffer : spec.buffers)
    {
        if (!IsMarkerBuffer(buffer))
        {
            b.insert(b.end(), buffer.begin(), buffer.end());
        }
    }
    return b;
}

// ---- parts ------------------------------------------------------------------------------------

std::string CompareParts(const Bytes &actual, const Parts &expected)
{
    size_t ib = 0;
    for (size_t i = 0; i < expected.size(); i++)
    {
        const Part &part = expected[i];
        size_t cbHere = std::min(part.bytes.size(), actual.size() - std::min(ib, actual.size()));
        Bytes found(actual.begin() + static_cast<long>(std::min(ib, actual.size())),
                    actual.begin() + static_cast<long>(std::min(ib, actual.size()) + cbHere));
        if (found != part.bytes)
        {
            std::string report =
                "part " + std::to_string(i + 1) + " of " + std::to_string(expected.size()) + " (" + part.name +
                ") differs at offset " + std::to_string(ib) + "\n  expected: " + Printable(part.bytes) +
                "\n  found:    " +
                Printable(
                    Bytes(actual.begin() + static_cast<long>(std::min(ib, actual.size())),
                          actual.begin() + static_cast<long>(std::min(actual.size(), ib + part.bytes.size() + 16))));
            return report;
        }
        ib += part.bytes.size();
    }
    if (ib != actual.size())
    {
        return "after all " + std::to_string(expected.size()) + " parts (" + std::to_string(ib) +
               " bytes) the output goes on: " + Printable(Bytes(actual.begin() + static_cast<long>(ib), actual.end()));
    }
    return std::string();
}

} // namespace spoolsim

namespace spoolsim
{

bool StepList::Add(StepKind kind, const BYTE *data, size_t cb)
{
    steps.push_back({kind, cb == 0 ? Bytes() : Bytes(data, data + cb)});
    return true;
}

} // namespace spoolsim
