// Where things land on the paper: the sheet a BeginPage asks for, the
// session's units, and the page transformation that SetPageOrigin,
// SetPageRotation and SetPageScale build, as a PCL XL interpreter applies
// them:
// - BeginPage starts a sheet side in its Orientation and MediaSize, user
//   space with its origin at the top left corner and y running down;
// - each of SetPageOrigin, SetPageRotation and SetPageScale changes user
//   space within the space the ones before it left; SetPageDefaultCTM
//   undoes them;
// - a positive PageAngle turns user space counterclockwise as seen on paper.
#pragma once

#include "pclxl/structure.h"

#include <optional>
#include <vector>

namespace pclxl
{

struct PagePoint
{
    double x = 0, y = 0;
};

// A sheet side's extent, or a page's, in user units.
struct PageSize
{
    double width = 0, height = 0;
};

// Short and long side in millimetres of a MediaSize value; false when the
// value names no paper of a known size (eDefaultPaperSize, envelopes not
// listed, ...).
bool paperMillimetres(int mediaSize, double &shortSide, double &longSide);

// User units per inch from BeginSession's UnitsPerMeasure and Measure
// (either may be null); 600 when neither says otherwise. Values that are not
// positive fall back to 600 as well: no unit can be zero.
double unitsPerInch(const Attribute *unitsPerMeasure, const Attribute *measure);

// The sheet side a BeginPage's attributes ask for, in user units: from
// MediaSize (or CustomMediaSize and CustomMediaSizeUnits) and Orientation.
// Empty when the paper is not one of a known size.
std::optional<PageSize> sheetSize(const std::vector<Attribute> &beginPage, double unitsPerInch);

// User space as a matrix: x' = a x + c y + e, y' = b x + d y + f.
struct PageMatrix
{
    double a = 1, b = 0, c = 0, d = 1, e = 0, f = 0;

    PagePoint apply(PagePoint p) const
    {
        return {a * p.x + c * p.y + e, b * p.x + d * p.y + f};
    }
    // The change `m` made inside the current space: the new space's points
    // go through m first, then through this.
    void concat(const PageMatrix &m);

    static PageMatrix translation(double x, double y);
    // Counterclockwise as seen on paper, with y running down: the new x
    // axis (1, 0) points to (cos, -sin).
    static PageMatrix rotation(double degrees);
    static PageMatrix scaling(double sx, double sy);
};

} // namespace pclxl
