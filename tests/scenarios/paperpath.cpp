#include "paperpath.h"

#include <algorithm>
#include <set>

namespace scenarios
{
namespace paperpath
{

std::vector<Sheet> PrintAndTurn(const std::vector<Face> &firstPass, const std::vector<Face> &secondPass, int order)
{
    std::vector<Sheet> sheets;
    for (const Face &f : firstPass)
    {
        Sheet s;
        s.firstPass = f;
        sheets.push_back(s);
    }
    // The output stack, put back on top of the fresh paper.
    std::vector<size_t> feed;
    for (size_t i = 0; i < sheets.size(); i++)
    {
        feed.push_back(order == 1 ? i : sheets.size() - 1 - i);
    }
    for (size_t j = 0; j < secondPass.size(); j++)
    {
        if (j < feed.size())
        {
            sheets[feed[j]].secondPass = secondPass[j];
        }
        else
        {
            Sheet s;
            s.fresh = true;
            s.secondPass = secondPass[j];
            sheets.push_back(s);
        }
    }
    return sheets;
}

static std::string Describe(const Face &f)
{
    return "(" + std::to_string(f.left) + ", " + std::to_string(f.right) + ")";
}

static std::string Describe(const Sheet &s)
{
    return std::string("sheet [") + (s.firstPass ? Describe(*s.firstPass) : "blank") + " / " +
           (s.secondPass ? Describe(*s.secondPass) : "blank") + (s.fresh ? ", fresh" : "") + "]";
}

std::string CheckTwoSided(const std::vector<Sheet> &sheets, int n)
{
    size_t cSheets = static_cast<size_t>((n + 1) / 2);
    if (sheets.size() != cSheets)
    {
        return std::to_string(sheets.size()) + " sheets for " + std::to_string(n) + " pages";
    }
    std::set<int> seen;
    int oddPass = 0; // the pass whose side carries the odd pages: 1 or 2
    for (const Sheet &s : sheets)
    {
        int a = s.firstPass ? s.firstPass->left : 0;
        int b = s.secondPass ? s.secondPass->left : 0;
        int odd = a % 2 ? a : b;
        int even = a % 2 ? b : a;
        if (odd % 2 == 0 || odd < 1 || odd > n || !seen.insert(odd).second)
        {
            return Describe(s) + ": no odd page of its own";
        }
        if (odd == n)
        {
            // The last page of an odd count stands alone, on a sheet the
            // tray supplies after the stack.
            if (even != 0 || (n > 1 && (!s.fresh || !s.secondPass)))
            {
                return Describe(s) + ": page " + std::to_string(n) + " should be alone on a fresh sheet";
            }
            continue;
        }
        if (even != odd + 1)
        {
            return Describe(s) + ": page " + std::to_string(odd) + " is backed by " + std::to_string(even);
        }
        int pass = a == odd ? 1 : 2;
        if (oddPass != 0 && pass != oddPass)
        {
            return Describe(s) + ": turned the other way from the sheets before it";
        }
        oddPass = pass;
    }
    return std::string();
}

std::string CheckBooklet(const std::vector<Sheet> &sheets, int n, bool rtl)
{
    int cSheets = (n + 3) / 4;
    int m = 4 * cSheets;
    if (static_cast<int>(sheets.size()) != cSheets)
    {
        return std::to_string(sheets.size()) + " sheets for a booklet of " + std::to_string(n) + " pages";
    }
    auto page = [n](int p) { return p <= n ? p : 0; };
    // Sheet j (1 the outermost) of a folded booklet, opened flat: its outer
    // side has the front cover's leaf on the right (page 2j-1) and the
    // back's on the left (m+2-2j); turning that leaf shows 2j on the left of
    // the inner side, and the centre of the booklet lies between 2j and
    // m+1-2j. A booklet read right to left has its spine on the other side:
    // each side mirrored.
    auto side = [&](int left, int right) {
        return rtl ? Face{page(right), page(left)} : Face{page(left), page(right)};
    };
    std::vector<bool> found(static_cast<size_t>(cSheets + 1), false);
    int outerPass = 0;
    for (const Sheet &s : sheets)
    {
        Face a = s.firstPass.value_or(Face{});
        Face b = s.secondPass.value_or(Face{});
        bool matched = false;
        for (int j = 1; j <= cSheets && !matched; j++)
        {
            Face outer = side(m + 2 - 2 * j, 2 * j - 1);
            Face inner = side(2 * j, m + 1 - 2 * j);
            int pass = (a == outer && b == inner) ? 1 : (b == outer && a == inner) ? 2 : 0;
            if (pass == 0 || found[static_cast<size_t>(j)])
            {
                continue;
            }
            if (outerPass != 0 && pass != outerPass)
            {
                return Describe(s) + ": sheet " + std::to_string(j) + " turned the other way";
            }
            outerPass = pass;
            found[static_cast<size_t>(j)] = true;
            matched = true;
        }
        if (!matched)
        {
            return Describe(s) + ": no sheet of the folded booklet";
        }
    }
    return std::string();
}

} // namespace paperpath
} // namespace scenarios
