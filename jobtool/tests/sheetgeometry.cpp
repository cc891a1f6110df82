#include "sheetgeometry.h"

#include <algorithm>
#include <cmath>
#include <optional>
#include <set>

namespace jobtool_test
{

namespace
{

namespace op = pclxl::op;
namespace attr = pclxl::attr;

double UnitsPerInch(const pclxl::Document &doc)
{
    for (const pclxl::Command &c : doc.commands)
    {
        if (c.op == op::BeginSession)
        {
            return pclxl::unitsPerInch(c.find(attr::UnitsPerMeasure), c.find(attr::Measure));
        }
    }
    return 600;
}

// Width and height of a BeginPage's page in user units; A4 when its paper is
// not one of a known size.
PageSize SizeOf(const pclxl::Command &beginPage, double unitsPerInch)
{
    if (std::optional<PageSize> size = pclxl::sheetSize(beginPage.attributes, unitsPerInch))
    {
        return *size;
    }
    std::vector<pclxl::Attribute> a4;
    if (const pclxl::Attribute *orientation = beginPage.find(attr::Orientation))
    {
        a4.push_back(*orientation);
    }
    a4.emplace_back();
    a4.back().id = attr::MediaSize;
    a4.back().value.numbers = {pclxl::val::eA4Paper};
    return pclxl::sheetSize(a4, unitsPerInch).value_or(PageSize{});
}

using Ctm = pclxl::PageMatrix;

bool Inside(const Point &p, double x0, double y0, double x1, double y1, double tolerance)
{
    return p.x >= x0 - tolerance && p.x <= x1 + tolerance && p.y >= y0 - tolerance && p.y <= y1 + tolerance;
}

} // namespace

std::vector<PageSize> PageSizes(const Bytes &document)
{
    std::vector<PageSize> sizes;
    pclxl::Document doc = pclxl::readDocument(pclxl::Bytes(document));
    const double units = UnitsPerInch(doc);
    for (const pclxl::Page &p : doc.pages)
    {
        sizes.push_back(SizeOf(doc.commands[p.begin_command], units));
    }
    return sizes;
}

std::vector<SheetSide> PlaceBooklet(const Bytes &printed, const std::vector<Bytes> &bodies,
                                    const std::vector<PageSize> &sizes, double tolerance)
{
    std::vector<SheetSide> sides;
    pclxl::Document doc = pclxl::readDocument(pclxl::Bytes(printed));
    const double units = UnitsPerInch(doc);
    for (const pclxl::Page &sheet : doc.pages)
    {
        SheetSide side;
        PageSize paper = SizeOf(doc.commands[sheet.begin_command], units);
        side.width = paper.width;
        side.height = paper.height;
        side.landscape = paper.width > paper.height;

        // The bodies of input pages on this side, where they begin.
        std::vector<std::pair<size_t, int>> found;
        for (size_t k = 0; k < bodies.size(); k++)
        {
            const Bytes &body = bodies[k];
            auto from = printed.begin() + static_cast<long>(sheet.range.begin);
            auto to = printed.begin() + static_cast<long>(sheet.range.end);
            auto at = body.empty() ? to : std::search(from, to, body.begin(), body.end());
            if (at != to)
            {
                found.emplace_back(static_cast<size_t>(at - printed.begin()), static_cast<int>(k + 1));
            }
        }
        std::sort(found.begin(), found.end());

        Ctm ctm;
        size_t next = 0;
        for (size_t i = sheet.begin_command + 1; i <= sheet.end_command; i++)
        {
            const pclxl::Command &c = doc.commands[i];
            while (next < found.size() && found[next].first <= c.begin)
            {
                const int page = found[next].second;
                Placement pl;
                pl.page = page;
                const PageSize size = page <= static_cast<int>(sizes.size()) ? sizes[page - 1] : PageSize{};
                const Point corners[4] = {{0, 0}, {size.width, 0}, {0, size.height}, {size.width, size.height}};
                for (int j = 0; j < 4; j++)
                {
                    pl.corners[j] = ctm.apply(corners[j]);
                }
                for (int h = 0; h < 2 && pl.half < 0; h++)
                {
                    const double x0 = side.landscape ? h * side.width / 2 : 0;
                    const double y0 = side.landscape ? 0 : h * side.height / 2;
                    const double x1 = side.landscape ? x0 + side.width / 2 : side.width;
                    const double y1 = side.landscape ? side.height : y0 + side.height / 2;
                    if (std::all_of(std::begin(pl.corners), std::end(pl.corners),
                                    [&](const Point &p) { return Inside(p, x0, y0, x1, y1, tolerance); }))
                    {
                        pl.half = h;
                    }
                }
                side.placements.push_back(pl);
                next++;
            }
            const pclxl::Attribute *a = nullptr;
            switch (c.op)
            {
            case op::SetPageOrigin:
                a = c.find(attr::PageOrigin);
                if (a != nullptr)
                {
                    ctm.concat(Ctm::translation(a->value.number(0), a->value.number(1)));
                }
                break;
            case op::SetPageRotation:
                a = c.find(attr::PageAngle);
                if (a != nullptr)
                {
                    ctm.concat(Ctm::rotation(a->value.number()));
                }
                break;
            case op::SetPageScale:
                a = c.find(attr::PageScale);
                if (a != nullptr)
                {
                    ctm.concat(Ctm::scaling(a->value.number(0), a->value.number(1)));
                }
                break;
            case op::SetPageDefaultCTM:
                ctm = Ctm();
                break;
            default:
                break;
            }
        }
        sides.push_back(side);
    }
    return sides;
}

std::pair<int, int> FoldedSide(int pages, int anyPage, int direction)
{
    // A stack of sheets folded in the middle, sheet 0 outermost. Read left to
    // right, the front of sheet j shows M - 2j (left) and 2j + 1 (right), its
    // back 2j + 2 and M - 2j - 1; right to left reads the other way round.
    const int m = 4 * ((pages + 3) / 4);
    const int p = anyPage;
    const bool front = (p <= m / 2) == (p % 2 == 1);
    const int j = p <= m / 2 ? (front ? (p - 1) / 2 : (p - 2) / 2) : (front ? (m - p) / 2 : (m - 1 - p) / 2);
    std::pair<int, int> lr = front ? std::make_pair(m - 2 * j, 2 * j + 1) : std::make_pair(2 * j + 2, m - 2 * j - 1);
    if (direction == 1)
    {
        std::swap(lr.first, lr.second);
    }
    lr.first = lr.first <= pages ? lr.first : 0;
    lr.second = lr.second <= pages ? lr.second : 0;
    return lr;
}

std::string CheckBooklet(const std::vector<SheetSide> &sides, int pages, int direction)
{
    std::set<int> seen;
    for (size_t s = 0; s < sides.size(); s++)
    {
        const SheetSide &side = sides[s];
        const std::string where = "sheet side " + std::to_string(s + 1) + ": ";
        if (side.placements.empty() || side.placements.size() > 2)
        {
            return where + std::to_string(side.placements.size()) + " pages found";
        }
        const std::pair<int, int> folded = FoldedSide(pages, side.placements.front().page, direction);
        for (const Placement &pl : side.placements)
        {
            std::string corners;
            for (const Point &p : pl.corners)
            {
                corners += " (" + std::to_string(std::lround(p.x)) + ", " + std::to_string(std::lround(p.y)) + ")";
            }
            if (!seen.insert(pl.page).second)
            {
                return where + "page " + std::to_string(pl.page) + " is printed twice";
            }
            if (pl.half < 0)
            {
                return where + "page " + std::to_string(pl.page) + " lies in neither half of the " +
                       std::to_string(std::lround(side.width)) + " x " + std::to_string(std::lround(side.height)) +
                       " sheet; its corners land at" + corners;
            }
            const int wanted = pl.half == 0 ? folded.first : folded.second;
            if (wanted != pl.page)
            {
                return where + "page " + std::to_string(pl.page) + " lies in half " + std::to_string(pl.half) +
                       ", where the folded booklet shows " +
                       (wanted == 0 ? std::string("a blank half") : "page " + std::to_string(wanted));
            }
        }
    }
    if (static_cast<int>(seen.size()) != pages)
    {
        return std::to_string(seen.size()) + " of " + std::to_string(pages) + " pages are printed";
    }
    return std::string();
}

std::vector<Bytes> BodiesOf(const Bytes &document)
{
    std::vector<std::string> notes;
    std::string why;
    jobtool::PrepareResult prepared = jobtool::Prepare(jobtool::Reorderable(document, notes, why), 0);
    std::vector<Bytes> bodies;
    EXPECT_TRUE(prepared.doc.has_value()) << prepared.error;
    if (prepared.doc)
    {
        for (const jobtool::PreparedPage &p : prepared.doc->pages)
        {
            bodies.push_back(p.body);
        }
    }
    return bodies;
}

} // namespace jobtool_test
