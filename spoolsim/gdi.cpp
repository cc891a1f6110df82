// The printer's device context, simulated: fonts, pens, paths and text as
// GDI keeps them, and the printer's rendering driver behind it, which turns a
// document drawn on the DC into a spooler job through the hook library's own
// hooks: first the settings block given to CreateDCW, then the PCL XL
// operators of each drawing call (a page body: font, brush or pen, cursor,
// text). Every call is logged for tests.
#include "simstate.h"

#include <pclxl/pclxl.h>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace spoolsim
{

// GDI objects and DCs belong to the run of the thread that uses them: the
// watermark job is drawn on the DC of the job it is made for.
static DeviceContext *FindDC(HDC hdc)
{
    RunState *run = CurrentRun();
    if (run == nullptr)
    {
        return nullptr;
    }
    for (DeviceContext &dc : run->dcs)
    {
        if (reinterpret_cast<HDC>(&dc) == hdc && !dc.devmode.empty())
        {
            return &dc;
        }
    }
    return nullptr;
}

static GdiObject *FindObject(HGDIOBJ h)
{
    RunState *run = CurrentRun();
    if (run == nullptr || h == nullptr)
    {
        return nullptr;
    }
    for (GdiObject &o : run->objects)
    {
        if (&o == h && o.width >= 0)
        {
            return &o;
        }
    }
    return nullptr;
}

static GdiCall Call(const char *name, std::vector<long> args = {}, const WString &text = WString())
{
    GdiCall c;
    c.name = name;
    c.args = std::move(args);
    c.text = text;
    return c;
}

static const LOGFONTW *SelectedFont(const DeviceContext &dc)
{
    GdiObject *font = FindObject(dc.hFont);
    return font ? &font->font : nullptr;
}

static SHORT DevmodeOrientation(const DeviceContext &dc)
{
    SHORT o = 0;
    std::memcpy(&o, dc.devmode.data() + offsetof(DEVMODEW, dmOrientation), sizeof(o));
    return o;
}

// The rendering driver's output for one drawing call goes to the hook as a
// buffer of its own.
static bool SendToHook(DeviceContext &dc, const std::vector<uint8_t> &data)
{
    if (!dc.inDocument || dc.hJob == nullptr)
    {
        return true;
    }
    DWORD cbWritten = 0;
    BYTE *pb = const_cast<BYTE *>(data.data());
    RunState *run = CurrentRun();
    BOOL ok = FALSE;
    run->CallHook([&] { ok = run->sim->hooks.WritePrinter(dc.hJob, pb, static_cast<DWORD>(data.size()), &cbWritten); });
    return ok && cbWritten == data.size();
}

static uint8_t GrayOf(COLORREF c)
{
    return static_cast<uint8_t>((GetRValue(c) * 30 + GetGValue(c) * 59 + GetBValue(c) * 11) / 100);
}

// The raster operation the driver draws decorations with: destination AND
// texture (ROP3 0xA0, "DTa"). ROP3 codes follow the ternary raster operations
// that PCL takes from Windows: bit (4T + 2S + D) of the code is the result
// for those operand bits, computed in RGB terms, 1 white and 0 black (PCL 5
// Comparison Guide, "Logical Operation"; public interpreters keep that
// convention and invert it for devices that store black as 1). A filled or
// stroked shape is the texture, painted through a black source. D AND T
// keeps every black bit of the destination black whatever the source, the
// texture or the transparency modes, and turns white only to the texture's
// ink: a watermark of any colour adds ink and never removes it. The page's
// own ROP (252, T OR S, the default, which paints the texture over what is
// there) would lighten dark page content under a gray watermark.
const uint8_t kRopAddInk = 0xA0;

// Unicode to the code points of the Windows Latin 1 symbol set (19U) that
// the driver selects fonts with; what that set lacks becomes '?'.
static uint16_t Latin1Code(WCHAR ch)
{
    static const uint16_t k80[32] = {0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                     0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0,      0x017D, 0,
                                     0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                     0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};
    if (ch < 0x80 || (ch >= 0xA0 && ch <= 0xFF))
    {
        return ch;
    }
    for (uint16_t i = 0; i < 32; i++)
    {
        if (k80[i] != 0 && k80[i] == ch)
        {
            return static_cast<uint16_t>(0x80 + i);
        }
    }
    return '?';
}

// The advance of a character in thousandths of the em: the widths of the
// common sans-serif faces (regular and bold) for printable ASCII, half an
// em for anything else.
static int AdvanceThousandths(uint16_t code, bool bold)
{
    static const short kRegular[95] = {278,  278, 355, 556, 556, 889, 667, 191, 333, 333, 389, 584, 278, 333, 278, 278,
                                       556,  556, 556, 556, 556, 556, 556, 556, 556, 556, 278, 278, 584, 584, 584, 556,
                                       1015, 667, 667, 722, 722, 667, 611, 778, 722, 278, 500, 667, 556, 833, 722, 778,
                                       667,  778, 722, 667, 611, 722, 667, 944, 667, 667, 611, 278, 278, 278, 469, 556,
                                       333,  556, 556, 500, 556, 556, 278, 556, 556, 222, 222, 500, 222, 833, 556, 556,
                                       556,  556, 333, 500, 278, 556, 500, 722, 500, 500, 500, 334, 260, 334, 584};
    static const short kBold[95] = {278, 333, 474, 556, 556, 889, 722, 238, 333, 333, 389, 584, 278, 333, 278, 278,
                                    556, 556, 556, 556, 556, 556, 556, 556, 556, 556, 333, 333, 584, 584, 584, 611,
                                    975, 722, 722, 722, 722, 667, 611, 778, 722, 278, 556, 722, 611, 833, 722, 778,
                                    667, 778, 722, 667, 611, 722, 667, 944, 667, 667, 611, 333, 278, 333, 584, 556,
                                    333, 556, 611, 556, 611, 556, 333, 611, 611, 278, 278, 556, 278, 889, 611, 611,
                                    611, 611, 389, 556, 333, 611, 556, 778, 556, 556, 500, 389, 280, 389, 584};
    if (code < 32 || code > 126)
    {
        return 500;
    }
    return (bold ? kBold : kRegular)[code - 32];
}

// The cell of the selected font as GetTextMetricsW reports it: a negative
// height asks for the em height, and the cell adds the internal leading.
static LONG EmHeight(const LOGFONTW &lf)
{
    return lf.lfHeight < 0 ? -lf.lfHeight : lf.lfHeight;
}

static LONG CellHeight(const LOGFONTW &lf)
{
    LONG em = EmHeight(lf);
    return lf.lfHeight < 0 ? em + em * CurrentRun()->printer->model.internalLeadingPercent / 100 : em;
}

static LONG CellAscent(const LOGFONTW &lf)
{
    return CellHeight(lf) * 4 / 5;
}

// A line of text as the printer draws it: the codes, the cursor on the
// baseline at the start of the first character, and the advance after each
// character along the escapement (y runs down the page, the escapement turns
// counterclockwise as seen on paper, as PCL XL's CharAngle does).
struct TextLine
{
    std::vector<uint16_t> codes;
    int16_t x = 0, y = 0;
    std::vector<int16_t> dx, dy;
};

// To the nearest whole unit, halves up. The C libraries of the two builds
// may differ in the last bits of a sine (sin 30 degrees is a hair below 0.5
// on one), so a value that close below a half rounds up on both.
static long Whole(double v)
{
    return static_cast<long>(std::floor(v + 0.5 + 1e-9));
}

static int16_t Clamp16(double v)
{
    return static_cast<int16_t>(Whole(std::max(-32768.0, std::min(32767.0, v))));
}

// GDI positions text by its reference point: left, centre or right of the
// advance, and top, baseline or bottom of the cell (the alignment flags).
static TextLine LayOut(int x, int y, const WString &text, const LOGFONTW &lf, UINT align)
{
    TextLine line;
    const double em = static_cast<double>(EmHeight(lf) > 0 ? EmHeight(lf) : 100);
    const bool bold = lf.lfWeight >= 600; // semibold and heavier
    const double theta = lf.lfEscapement / 10.0 * 3.14159265358979323846 / 180.0;
    const double ux = std::cos(theta), uy = -std::sin(theta); // along the baseline
    const double vx = std::sin(theta), vy = std::cos(theta);  // down, across it
    double width = 0;
    std::vector<double> advances;
    for (WCHAR ch : text)
    {
        uint16_t code = Latin1Code(ch);
        line.codes.push_back(code);
        advances.push_back(em * AdvanceThousandths(code, bold) / 1000.0);
        width += advances.back();
    }
    double along = (align & TA_CENTER) == TA_CENTER ? -width / 2 : (align & TA_RIGHT) ? -width : 0;
    double down = (align & TA_BASELINE) == TA_BASELINE ? 0
                  : (align & TA_BOTTOM)                ? -(CellHeight(lf) - CellAscent(lf))
                                                       : CellAscent(lf);
    const double sx = x + along * ux + down * vx, sy = y + along * uy + down * vy;
    line.x = Clamp16(sx);
    line.y = Clamp16(sy);
    // Each advance rounded from the running total, so that the rounding
    // never adds up along the line.
    double run = 0;
    long px = 0, py = 0;
    for (double a : advances)
    {
        run += a;
        long nx = Whole(run * ux), ny = Whole(run * uy);
        line.dx.push_back(Clamp16(static_cast<double>(nx - px)));
        line.dy.push_back(Clamp16(static_cast<double>(ny - py)));
        px = nx;
        py = ny;
    }
    return line;
}

// The state a decoration's text needs, whatever the page set before it:
// the font and every character transformation.
static void PutFont(pclxl::Writer &w, const LOGFONTW &lf)
{
    std::string face = Narrow(WString(lf.lfFaceName));
    face.resize(16, ' ');
    float size = static_cast<float>(EmHeight(lf));
    w.setFont(face, size > 0 ? size : 100.0f);
    w.setCharAngle(static_cast<float>(lf.lfEscapement) / 10.0f);
    w.xy(pclxl::ElementType::Real32, 1, 1).attr(pclxl::attr::CharScale).op(pclxl::op::SetCharScale);
    w.xy(pclxl::ElementType::Real32, 0, 0).attr(pclxl::attr::CharShear).op(pclxl::op::SetCharShear);
    w.real32(0).attr(pclxl::attr::CharBoldValue).op(pclxl::op::SetCharBoldValue);
}

// Cursor, codes and spacing of a line; the caller adds Text or TextPath.
static void PutLine(pclxl::Writer &w, const TextLine &line)
{
    w.setCursor(line.x, line.y);
    w.uint16Array(line.codes).attr(pclxl::attr::TextData);
    w.sint16Array(line.dx).attr(pclxl::attr::XSpacingData);
    w.sint16Array(line.dy).attr(pclxl::attr::YSpacingData);
}

// What every drawing call sets first: the colour space its colours are
// given in and the raster operation, so that the data print the same
// wherever they stand in a page.
static void PutPaintSetup(pclxl::Writer &w)
{
    w.setColorSpaceGray();
    w.setROP(kRopAddInk);
}

// ---- entry points ---------------------------------------------------------------------

static HDC WINAPI Sim_CreateDCW(LPCWSTR pwszDriver, LPCWSTR pwszDevice, LPCWSTR pszPort, const DEVMODEW *pdm)
{
    (void)pszPort;
    RunState *run = CurrentRun();
    if (run == nullptr)
    {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    GdiCall call = Call("CreateDCW", {}, pwszDevice ? WString(pwszDevice) : WString());
    if (pdm != nullptr && pdm->dmSize == sizeof(DEVMODEW) && pdm->dmDriverExtra <= DRVDEVMODE_SIZE - sizeof(DEVMODEW))
    {
        const BYTE *pb = reinterpret_cast<const BYTE *>(pdm);
        call.data.assign(pb, pb + pdm->dmSize + pdm->dmDriverExtra);
    }
    run->LogGdi(call);
    if (pwszDevice == nullptr || run->printer->printerName != pwszDevice || pwszDriver == nullptr ||
        run->printer->driverName != pwszDriver)
    {
        SetLastError(ERROR_INVALID_PRINTER_NAME);
        return nullptr;
    }
    if (run->printer->model.createDcError != 0)
    {
        SetLastError(run->printer->model.createDcError);
        return nullptr;
    }
    DeviceContext dc;
    if (pdm == nullptr)
    {
        DRVDEVMODE dm = DefaultSettings();
        const BYTE *pb = reinterpret_cast<const BYTE *>(&dm);
        dc.devmode.assign(pb, pb + sizeof(dm));
    }
    else
    {
        // The driver accepts its own DEVMODEW only: the public part and at
        // most its private part.
        if (pdm->dmSize != sizeof(DEVMODEW) || pdm->dmDriverExtra > DRVDEVMODE_SIZE - sizeof(DEVMODEW))
        {
            SetLastError(ERROR_INVALID_PARAMETER);
            return nullptr;
        }
        const BYTE *pb = reinterpret_cast<const BYTE *>(pdm);
        dc.devmode.assign(pb, pb + pdm->dmSize + pdm->dmDriverExtra);
    }
    // Stock font and pen, as a new DC has them selected.
    GdiObject font;
    font.kind = GdiObject::Font;
    std::memset(&font.font, 0, sizeof(font.font));
    font.font.lfHeight = -50;
    run->objects.push_back(font);
    dc.hFont = &run->objects.back();
    GdiObject pen;
    pen.kind = GdiObject::Pen;
    std::memset(&pen.font, 0, sizeof(pen.font));
    pen.width = 1;
    run->objects.push_back(pen);
    dc.hPen = &run->objects.back();
    run->dcs.push_back(dc);
    return reinterpret_cast<HDC>(&run->dcs.back());
}

static void EndNestedJob(DeviceContext &dc, bool aborted)
{
    RunState *run = CurrentRun();
    if (dc.hJob != nullptr)
    {
        const HookTable &hooks = run->sim->hooks;
        HANDLE hJob = dc.hJob;
        if (aborted)
        {
            run->CallHook([&] { hooks.Abort(hJob); });
        }
        else
        {
            run->CallHook([&] { hooks.EndDoc(hJob); });
        }
        run->CallHook([&] { hooks.Close(hJob); });
        dc.hJob = nullptr;
    }
    if (dc.hPrinter != nullptr)
    {
        run->EndDocument(dc.hPrinter, aborted);
    }
    dc.inDocument = false;
    dc.inPage = false;
}

static BOOL WINAPI Sim_DeleteDC(HDC hdc)
{
    DeviceContext *dc = FindDC(hdc);
    if (dc == nullptr)
    {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    CurrentRun()->LogGdi(Call("DeleteDC", {dc->inDocument ? 1L : 0L}));
    // Deleting the DC of an unfinished document aborts the document.
    if (dc->inDocument)
    {
        EndNestedJob(*dc, true);
    }
    dc->devmode.clear();
    return TRUE;
}

static int WINAPI Sim_GetDeviceCaps(HDC hdc, int index)
{
    DeviceContext *dc = FindDC(hdc);
    if (dc == nullptr)
    {
        return 0;
    }
    const PrinterModel &m = CurrentRun()->printer->model;
    bool landscape = DevmodeOrientation(*dc) == DMORIENT_LANDSCAPE;
    switch (index)
    {
    case LOGPIXELSX:
    case LOGPIXELSY:
        return m.dpi;
    case PHYSICALWIDTH:
        return landscape ? m.physicalHeight : m.physicalWidth;
    case PHYSICALHEIGHT:
        return landscape ? m.physicalWidth : m.physicalHeight;
    case PHYSICALOFFSETX:
        return landscape ? m.offsetY : m.offsetX;
    case PHYSICALOFFSETY:
        return landscape ? m.offsetX : m.offsetY;
    default:
        return 0;
    }
}

static HFONT WINAPI Sim_CreateFontIndirectW(const LOGFONTW *lplf)
{
    RunState *run = CurrentRun();
    if (run == nullptr || lplf == nullptr)
    {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    GdiCall call = Call("CreateFontIndirectW");
    call.font = *lplf;
    CurrentRun()->LogGdi(call);
    GdiObject o;
    o.kind = GdiObject::Font;
    o.font = *lplf;
    run->objects.push_back(o);
    return reinterpret_cast<HFONT>(&run->objects.back());
}

static HPEN WINAPI Sim_CreatePen(int iStyle, int cWidth, COLORREF color)
{
    RunState *run = CurrentRun();
    if (run == nullptr)
    {
        return nullptr;
    }
    CurrentRun()->LogGdi(Call("CreatePen", {iStyle, cWidth, static_cast<long>(color)}));
    GdiObject o;
    o.kind = GdiObject::Pen;
    std::memset(&o.font, 0, sizeof(o.font));
    o.color = color;
    o.width = cWidth < 1 ? 1 : cWidth;
    run->objects.push_back(o);
    return reinterpret_cast<HPEN>(&run->objects.back());
}

static HGDIOBJ WINAPI Sim_SelectObject(HDC hdc, HGDIOBJ h)
{
    DeviceContext *dc = FindDC(hdc);
    GdiObject *o = FindObject(h);
    if (dc == nullptr || o == nullptr)
    {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    CurrentRun()->LogGdi(Call("SelectObject", {o->kind == GdiObject::Font ? 0L : 1L}));
    HGDIOBJ *slot = o->kind == GdiObject::Font ? &dc->hFont : &dc->hPen;
    HGDIOBJ previous = *slot;
    *slot = h;
    return previous;
}

static BOOL WINAPI Sim_DeleteObject(HGDIOBJ h)
{
    GdiObject *o = FindObject(h);
    if (o == nullptr)
    {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    CurrentRun()->LogGdi(Call("DeleteObject", {o->kind == GdiObject::Font ? 0L : 1L}));
    o->width = -1; // gone
    return TRUE;
}

static COLORREF WINAPI Sim_SetTextColor(HDC hdc, COLORREF color)
{
    DeviceContext *dc = FindDC(hdc);
    if (dc == nullptr)
    {
        return static_cast<COLORREF>(0xFFFFFFFF);
    }
    CurrentRun()->LogGdi(Call("SetTextColor", {static_cast<long>(color)}));
    COLORREF previous = dc->textColor;
    dc->textColor = color;
    return previous;
}

static int WINAPI Sim_SetBkMode(HDC hdc, int mode)
{
    DeviceContext *dc = FindDC(hdc);
    if (dc == nullptr)
    {
        return 0;
    }
    CurrentRun()->LogGdi(Call("SetBkMode", {mode}));
    int previous = dc->bkMode;
    dc->bkMode = mode;
    return previous;
}

static UINT WINAPI Sim_SetTextAlign(HDC hdc, UINT align)
{
    DeviceContext *dc = FindDC(hdc);
    if (dc == nullptr)
    {
        return GDI_ERROR;
    }
    CurrentRun()->LogGdi(Call("SetTextAlign", {static_cast<long>(align)}));
    UINT previous = dc->textAlign;
    dc->textAlign = align;
    return previous;
}

static BOOL WINAPI Sim_GetTextMetricsW(HDC hdc, LPTEXTMETRICW lptm)
{
    DeviceContext *dc = FindDC(hdc);
    const LOGFONTW *lf = dc ? SelectedFont(*dc) : nullptr;
    if (dc == nullptr || lptm == nullptr || lf == nullptr)
    {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    LONG em = EmHeight(*lf);
    LONG height = CellHeight(*lf);
    std::memset(lptm, 0, sizeof(*lptm));
    lptm->tmHeight = height;
    lptm->tmAscent = CellAscent(*lf);
    lptm->tmDescent = height - lptm->tmAscent;
    lptm->tmInternalLeading = height - em;
    lptm->tmAveCharWidth = em / 2;
    lptm->tmMaxCharWidth = em;
    lptm->tmWeight = lf->lfWeight;
    lptm->tmItalic = lf->lfItalic;
    lptm->tmCharSet = lf->lfCharSet;
    CurrentRun()->LogGdi(Call("GetTextMetricsW", {height}));
    return TRUE;
}

static int WINAPI Sim_StartDocW(HDC hdc, const DOCINFOW *lpdi)
{
    DeviceContext *dc = FindDC(hdc);
    if (dc == nullptr || lpdi == nullptr || lpdi->cbSize != static_cast<int>(sizeof(DOCINFOW)))
    {
        SetLastError(ERROR_INVALID_PARAMETER);
        return -1;
    }
    GdiCall call = Call("StartDocW", {}, lpdi->lpszOutput ? WString(lpdi->lpszOutput) : WString());
    CurrentRun()->LogGdi(call);
    RunState *run = CurrentRun();
    if (dc->inDocument || run->printer->model.startDocFails)
    {
        SetLastError(ERROR_INVALID_PRINTER_STATE);
        return -1;
    }
    // The rendering driver's job on the printer: a document of its own,
    // printed to the DOCINFOW output file, run through the hooks, which the
    // spooler calls as it calls them for any job.
    dc->hPrinter = run->NewHandle();
    WString name = lpdi->lpszDocName ? WString(lpdi->lpszDocName) : WString();
    WString output = lpdi->lpszOutput ? WString(lpdi->lpszOutput) : WString();
    WString datatype = lpdi->lpszDatatype ? WString(lpdi->lpszDatatype) : WString(W("RAW"));
    DWORD jobId = run->StartDocument(dc->hPrinter, name, output, datatype, true);
    HANDLE hPrinter = dc->hPrinter;
    HANDLE hJob = nullptr;
    run->CallHook([&] { hJob = run->sim->hooks.StartDoc(hPrinter, jobId); });
    dc->hJob = hJob;
    if (dc->hJob == nullptr)
    {
        run->EndDocument(dc->hPrinter, true);
        dc->hPrinter = nullptr;
        SetLastError(ERROR_INVALID_PRINTER_STATE);
        return -1;
    }
    dc->inDocument = true;
    SendToHook(*dc, dc->devmode);
    return static_cast<int>(jobId);
}

static int WINAPI Sim_StartPage(HDC hdc)
{
    DeviceContext *dc = FindDC(hdc);
    if (dc == nullptr || !dc->inDocument)
    {
        return 0;
    }
    RunState *run = CurrentRun();
    run->LogGdi(Call("StartPage"));
    HANDLE hJob = dc->hJob;
    run->CallHook([&] { run->sim->hooks.StartPage(hJob); });
    dc->inPage = true;
    return 1;
}

static int WINAPI Sim_EndPage(HDC hdc)
{
    DeviceContext *dc = FindDC(hdc);
    if (dc == nullptr || !dc->inPage)
    {
        return 0;
    }
    RunState *run = CurrentRun();
    run->LogGdi(Call("EndPage"));
    dc->inPage = false;
    HANDLE hJob = dc->hJob;
    BOOL ok = FALSE;
    run->CallHook([&] { ok = run->sim->hooks.EndPage(hJob); });
    return ok ? 1 : 0;
}

static int WINAPI Sim_EndDoc(HDC hdc)
{
    DeviceContext *dc = FindDC(hdc);
    if (dc == nullptr || !dc->inDocument)
    {
        return 0;
    }
    CurrentRun()->LogGdi(Call("EndDoc"));
    EndNestedJob(*dc, false);
    return 1;
}

static BOOL WINAPI Sim_TextOutW(HDC hdc, int x, int y, LPCWSTR lpString, int c)
{
    DeviceContext *dc = FindDC(hdc);
    if (dc == nullptr || lpString == nullptr || c < 0)
    {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    WString text(lpString, lpString + c);
    CurrentRun()->LogGdi(Call("TextOutW", {x, y, dc->inPath ? 1L : 0L}, text));
    PrinterModel &m = CurrentRun()->printer->model;
    if (m.textOutFailures > 0)
    {
        m.textOutFailures--;
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const LOGFONTW *lf = SelectedFont(*dc);
    LOGFONTW font;
    std::memset(&font, 0, sizeof(font));
    if (lf != nullptr)
    {
        font = *lf;
    }
    if (dc->inPath)
    {
        dc->path.push_back({x, y, text, font});
        return TRUE;
    }
    pclxl::Writer w;
    PutPaintSetup(w);
    w.setBrushGray(GrayOf(dc->textColor));
    w.ubyte(0).attr(pclxl::attr::NullPen).op(pclxl::op::SetPenSource);
    PutFont(w, font);
    PutLine(w, LayOut(x, y, text, font, dc->textAlign));
    w.op(pclxl::op::Text);
    return SendToHook(*dc, w.bytes()) ? TRUE : FALSE;
}

static BOOL WINAPI Sim_BeginPath(HDC hdc)
{
    DeviceContext *dc = FindDC(hdc);
    if (dc == nullptr)
    {
        return FALSE;
    }
    CurrentRun()->LogGdi(Call("BeginPath"));
    dc->inPath = true;
    dc->pathClosed = false;
    dc->path.clear();
    return TRUE;
}

static BOOL WINAPI Sim_EndPath(HDC hdc)
{
    DeviceContext *dc = FindDC(hdc);
    if (dc == nullptr || !dc->inPath)
    {
        return FALSE;
    }
    CurrentRun()->LogGdi(Call("EndPath"));
    dc->inPath = false;
    dc->pathClosed = true;
    return TRUE;
}

// Points of the text outlines in the path: four per visible character,
// none for a face that has outlines only under a specific character set.
static int PathPoints(const DeviceContext &dc)
{
    const PrinterModel &m = CurrentRun()->printer->model;
    int points = 0;
    for (const DeviceContext::PathText &t : dc.path)
    {
        WString face(t.font.lfFaceName);
        bool charsetOnly = std::find(m.charsetOnlyOutlineFaces.begin(), m.charsetOnlyOutlineFaces.end(), face) !=
                           m.charsetOnlyOutlineFaces.end();
        if (charsetOnly && t.font.lfCharSet == DEFAULT_CHARSET)
        {
            continue;
        }
        points += 4 * static_cast<int>(std::count_if(t.text.begin(), t.text.end(), [](WCHAR ch) { return ch != ' '; }));
    }
    return points;
}

static int WINAPI Sim_GetPath(HDC hdc, LPPOINT apt, LPBYTE aj, int cpt)
{
    DeviceContext *dc = FindDC(hdc);
    if (dc == nullptr || !dc->pathClosed)
    {
        SetLastError(ERROR_INVALID_PARAMETER);
        return -1;
    }
    int points = PathPoints(*dc);
    CurrentRun()->LogGdi(Call("GetPath", {cpt, points}));
    if (cpt == 0)
    {
        return points;
    }
    if (apt == nullptr || aj == nullptr || cpt < points)
    {
        SetLastError(ERROR_INVALID_PARAMETER);
        return -1;
    }
    for (int i = 0; i < points; i++)
    {
        apt[i].x = i;
        apt[i].y = 0;
        aj[i] = 2; // PT_LINETO
    }
    return points;
}

static BOOL WINAPI Sim_StrokePath(HDC hdc)
{
    DeviceContext *dc = FindDC(hdc);
    if (dc == nullptr || !dc->pathClosed)
    {
        return FALSE;
    }
    GdiObject *pen = FindObject(dc->hPen);
    CurrentRun()->LogGdi(Call("StrokePath", {PathPoints(*dc)}));
    pclxl::Writer w;
    PutPaintSetup(w);
    // The stock pen of a DC is black, one unit wide.
    w.setPenGray(pen != nullptr ? GrayOf(pen->color) : 0);
    w.ubyte(static_cast<uint8_t>(pen != nullptr ? std::min(pen->width, 255) : 1))
        .attr(pclxl::attr::PenWidth)
        .op(pclxl::op::SetPenWidth);
    w.ubyte(0).attr(pclxl::attr::SolidLine).op(pclxl::op::SetLineDash);
    w.ubyte(0).attr(pclxl::attr::NullBrush).op(pclxl::op::SetBrushSource);
    for (const DeviceContext::PathText &t : dc->path)
    {
        PutFont(w, t.font);
        w.newPath();
        PutLine(w, LayOut(t.x, t.y, t.text, t.font, dc->textAlign));
        w.op(pclxl::op::TextPath);
        w.op(pclxl::op::PaintPath);
    }
    dc->path.clear();
    dc->pathClosed = false;
    return SendToHook(*dc, w.bytes()) ? TRUE : FALSE;
}

static BOOL WINAPI Sim_TranslateCharsetInfo(DWORD *lpSrc, LPCHARSETINFO lpCs, DWORD dwFlags)
{
    RunState *run = CurrentRun();
    if (run == nullptr || lpCs == nullptr)
    {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const PrinterModel &m = run->printer->model;
    CurrentRun()->LogGdi(Call("TranslateCharsetInfo",
                              {static_cast<long>(reinterpret_cast<DWORD_PTR>(lpSrc)), static_cast<long>(dwFlags)}));
    if (dwFlags != TCI_SRCCODEPAGE || m.translateCharsetFails)
    {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    std::memset(lpCs, 0, sizeof(*lpCs));
    lpCs->ciCharset = m.systemCharset;
    lpCs->ciACP = static_cast<UINT>(reinterpret_cast<DWORD_PTR>(lpSrc));
    return TRUE;
}

const std::vector<RedirectEntry> &GdiEntries()
{
    static const std::vector<RedirectEntry> entries = {
        {"gdi32.dll", "CreateDCW", reinterpret_cast<void *>(&Sim_CreateDCW)},
        {"gdi32.dll", "DeleteDC", reinterpret_cast<void *>(&Sim_DeleteDC)},
        {"gdi32.dll", "GetDeviceCaps", reinterpret_cast<void *>(&Sim_GetDeviceCaps)},
        {"gdi32.dll", "CreateFontIndirectW", reinterpret_cast<void *>(&Sim_CreateFontIndirectW)},
        {"gdi32.dll", "CreatePen", reinterpret_cast<void *>(&Sim_CreatePen)},
        {"gdi32.dll", "SelectObject", reinterpret_cast<void *>(&Sim_SelectObject)},
        {"gdi32.dll", "DeleteObject", reinterpret_cast<void *>(&Sim_DeleteObject)},
        {"gdi32.dll", "SetTextColor", reinterpret_cast<void *>(&Sim_SetTextColor)},
        {"gdi32.dll", "SetBkMode", reinterpret_cast<void *>(&Sim_SetBkMode)},
        {"gdi32.dll", "SetTextAlign", reinterpret_cast<void *>(&Sim_SetTextAlign)},
        {"gdi32.dll", "GetTextMetricsW", reinterpret_cast<void *>(&Sim_GetTextMetricsW)},
        {"gdi32.dll", "StartDocW", reinterpret_cast<void *>(&Sim_StartDocW)},
        {"gdi32.dll", "EndDoc", reinterpret_cast<void *>(&Sim_EndDoc)},
        {"gdi32.dll", "StartPage", reinterpret_cast<void *>(&Sim_StartPage)},
        {"gdi32.dll", "EndPage", reinterpret_cast<void *>(&Sim_EndPage)},
        {"gdi32.dll", "TextOutW", reinterpret_cast<void *>(&Sim_TextOutW)},
        {"gdi32.dll", "BeginPath", reinterpret_cast<void *>(&Sim_BeginPath)},
        {"gdi32.dll", "EndPath", reinterpret_cast<void *>(&Sim_EndPath)},
        {"gdi32.dll", "GetPath", reinterpret_cast<void *>(&Sim_GetPath)},
        {"gdi32.dll", "StrokePath", reinterpret_cast<void *>(&Sim_StrokePath)},
        {"gdi32.dll", "TranslateCharsetInfo", reinterpret_cast<void *>(&Sim_TranslateCharsetInfo)},
    };
    return entries;
}

// Fonts, pens and DCs created and not deleted: a leak check for the
// watermark job.
size_t LiveGdiObjects()
{
    if (g_sim == nullptr)
    {
        return 0;
    }
    EnterCriticalSection(&g_sim->lock);
    size_t c = g_sim->cLeftObjects;
    LeaveCriticalSection(&g_sim->lock);
    return c;
}

size_t LiveDeviceContexts()
{
    if (g_sim == nullptr)
    {
        return 0;
    }
    EnterCriticalSection(&g_sim->lock);
    size_t c = g_sim->cLeftDCs;
    LeaveCriticalSection(&g_sim->lock);
    return c;
}

} // namespace spoolsim
