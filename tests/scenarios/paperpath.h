// A person at a printer without a duplex unit, and the sheets that come out:
// the oracle for two-pass jobs. The first pass's sheets are stacked as they
// come out; the person puts the stack back into the tray on top of the fresh
// paper, and the tray feeds it as the job's order setting says (0: the sheet
// printed last comes first; 1: the sheet printed first comes first), then
// fresh sheets. Each page of the second pass goes on the next sheet fed.
//
// What is checked against the sheets comes from how a stack of sheets is
// read, not from how the hook orders pages: two-sided copies carry pages
// 2j-1 and 2j on one sheet; a folded booklet reads 1, 2, 3, ... from its
// cover.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace scenarios
{
namespace paperpath
{

// What the printer put on one side of a sheet: for two-sided copies one page
// in `left`; for a booklet the pages in its left and right halves, as
// printed (0: blank).
struct Face
{
    int left = 0;
    int right = 0;
    bool operator==(const Face &o) const
    {
        return left == o.left && right == o.right;
    }
};

struct Sheet
{
    std::optional<Face> firstPass;  // printed while the sheet went through first
    std::optional<Face> secondPass; // printed after the person put it back
    bool fresh = false;             // taken from the fresh paper in the second pass
};

// The sheets of a job printed in one pass (secondPass empty and no prompt)
// or two. Re-inserted sheets come first, in the order the first pass printed
// them, then the fresh sheets of the second pass.
std::vector<Sheet> PrintAndTurn(const std::vector<Face> &firstPass, const std::vector<Face> &secondPass, int order);

// Empty when the sheets are two-sided copies of pages 1 to n: every sheet
// carries 2j-1 and 2j, the odd pages all on the same pass's side, an odd n's
// last page alone on a sheet of its own. Otherwise what is wrong.
std::string CheckTwoSided(const std::vector<Sheet> &sheets, int n);

// Empty when the sheets, folded, make a booklet of pages 1 to n (pages
// above n blank) that reads left to right (rtl false: spine on the left of
// the closed booklet) or right to left. Otherwise what is wrong.
std::string CheckBooklet(const std::vector<Sheet> &sheets, int n, bool rtl);

} // namespace paperpath
} // namespace scenarios
