#include "pclxl/pagegeometry.h"

#include <cmath>

namespace pclxl
{

bool paperMillimetres(int mediaSize, double &shortSide, double &longSide)
{
    struct Paper
    {
        int size;
        double s, l;
    };
    static const Paper kPapers[] = {
        {val::eLetterPaper, 215.9, 279.4}, {val::eLegalPaper, 215.9, 355.6},  {val::eA4Paper, 210, 297},
        {val::eExecPaper, 184.15, 266.7},  {val::eLedgerPaper, 279.4, 431.8}, {val::eA3Paper, 297, 420},
        {val::eA5Paper, 148, 210},         {17 /* eA6Paper */, 105, 148},     {13 /* eB5Paper */, 176, 250},
    };
    for (const Paper &p : kPapers)
    {
        if (p.size == mediaSize)
        {
            shortSide = p.s;
            longSide = p.l;
            return true;
        }
    }
    return false;
}

namespace
{

// Inches per unit of a Measure value (eInch, eMillimeter, eTenthsOfAMillimeter).
double inchesPer(double measure)
{
    return measure == 1 ? 1 / 25.4 : measure == 2 ? 1 / 254.0 : 1;
}

} // namespace

double unitsPerInch(const Attribute *unitsPerMeasure, const Attribute *measure)
{
    const double perMeasure = unitsPerMeasure ? unitsPerMeasure->value.number(0) : 600;
    const double m = measure ? measure->value.number() : 0;
    const double perInch = perMeasure / inchesPer(m);
    return std::isfinite(perInch) && perInch > 0 ? perInch : 600;
}

std::optional<PageSize> sheetSize(const std::vector<Attribute> &beginPage, double unitsPerInch)
{
    const Attribute *orientation = nullptr, *media = nullptr, *custom = nullptr, *customUnits = nullptr;
    for (const Attribute &a : beginPage)
    {
        orientation = a.id == attr::Orientation ? &a : orientation;
        media = a.id == attr::MediaSize ? &a : media;
        custom = a.id == attr::CustomMediaSize ? &a : custom;
        customUnits = a.id == attr::CustomMediaSizeUnits ? &a : customUnits;
    }
    double w = 0, h = 0; // portrait, in inches
    if (media && media->value.shape == Shape::Scalar)
    {
        double s = 0, l = 0;
        if (!paperMillimetres(static_cast<int>(media->value.number()), s, l))
        {
            return std::nullopt;
        }
        w = s / 25.4;
        h = l / 25.4;
    }
    else if (custom && custom->value.shape == Shape::XY)
    {
        const double k = inchesPer(customUnits ? customUnits->value.number() : 0);
        w = std::min(custom->value.number(0), custom->value.number(1)) * k;
        h = std::max(custom->value.number(0), custom->value.number(1)) * k;
    }
    if (!(w > 0 && h > 0))
    {
        return std::nullopt;
    }
    const double o = orientation ? orientation->value.number() : val::ePortraitOrientation;
    const bool landscape = o == val::eLandscapeOrientation || o == val::eReverseLandscape;
    w *= unitsPerInch;
    h *= unitsPerInch;
    return landscape ? PageSize{h, w} : PageSize{w, h};
}

void PageMatrix::concat(const PageMatrix &m)
{
    PageMatrix r;
    r.a = a * m.a + c * m.b;
    r.b = b * m.a + d * m.b;
    r.c = a * m.c + c * m.d;
    r.d = b * m.c + d * m.d;
    r.e = a * m.e + c * m.f + e;
    r.f = b * m.e + d * m.f + f;
    *this = r;
}

PageMatrix PageMatrix::translation(double x, double y)
{
    PageMatrix m;
    m.e = x;
    m.f = y;
    return m;
}

PageMatrix PageMatrix::rotation(double degrees)
{
    // Whole quarter turns exactly, so that a turned page's corners stay whole units.
    const double turns = degrees / 90;
    PageMatrix m;
    double s = 0, c = 0;
    if (std::fmod(degrees, 90) == 0 && std::isfinite(degrees))
    {
        const long q = ((static_cast<long>(std::fmod(turns, 4)) % 4) + 4) % 4;
        static const double kSin[] = {0, 1, 0, -1};
        s = kSin[q];
        c = kSin[(q + 1) % 4];
    }
    else
    {
        const double r = degrees * 3.14159265358979323846 / 180;
        s = std::sin(r);
        c = std::cos(r);
    }
    m.a = c;
    m.b = -s;
    m.c = s;
    m.d = c;
    return m;
}

PageMatrix PageMatrix::scaling(double sx, double sy)
{
    PageMatrix m;
    m.a = sx;
    m.d = sy;
    return m;
}

} // namespace pclxl
