// Where a booklet's pages land on the paper, computed from what the printer
// receives as a PCL XL interpreter applies it, and which half of its sheet
// side each page belongs in by the way a booklet is folded and read. Written
// from the printer language's documented semantics (pclxl/pagegeometry.h),
// not from the driver's arithmetic.
#pragma once

#include "support.h"

#include <pclxl/pagegeometry.h>

#include <string>
#include <vector>

namespace jobtool_test
{

using Point = pclxl::PagePoint;
// A page's extent in its own user space.
using PageSize = pclxl::PageSize;

// The sizes of a document's pages, by orientation and paper of their
// BeginPage, in the document's units.
std::vector<PageSize> PageSizes(const Bytes &document);

struct Placement
{
    int page = 0;     // the input page
    Point corners[4]; // on the sheet
    int half = -1;    // the half all four corners lie in (0 left or top, 1 right or bottom), -1 for none
};

struct SheetSide
{
    bool landscape = false; // the sheet is wider than high: halves left and right
    double width = 0, height = 0;
    std::vector<Placement> placements;
};

// Every sheet side of a printed booklet with the input pages it carries (by
// their bodies) and where each lands. `tolerance` widens the halves by that
// many units (the layout's origins are whole units).
std::vector<SheetSide> PlaceBooklet(const Bytes &printed, const std::vector<Bytes> &bodies,
                                    const std::vector<PageSize> &sizes, double tolerance);
// The page bodies of the document as make sends them (its downloads moved
// ahead of the pages).
std::vector<Bytes> BodiesOf(const Bytes &document);

// The pages a folded booklet of `pages` pages shows on a sheet side, left
// (or top) first, in reading direction 0 (left to right) or 1; 0 for a
// blank half. `anyPage` is one page on that side.
std::pair<int, int> FoldedSide(int pages, int anyPage, int direction);

// Empty when every page of the job is on exactly one sheet side, inside the
// half the fold gives it; else what is wrong.
std::string CheckBooklet(const std::vector<SheetSide> &sides, int pages, int direction);

} // namespace jobtool_test
