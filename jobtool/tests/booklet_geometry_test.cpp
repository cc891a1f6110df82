// Booklets by geometry: every page of every sheet side lands inside the half
// the folded booklet shows it in, for portrait and landscape pages on
// portrait and landscape booklets, both reading directions, printed by the
// printer or turned by hand.
#include "sheetgeometry.h"

namespace
{

using jobtool::BookletKind;
using jobtool::JobOptions;
using jobtool_test::Bytes;

// A document of pages with the given orientations ('p', 'l'; 'L' is a
// landscape Letter page among A4 ones), each drawing a frame of its own.
Bytes Document(const std::string &pages, uint16_t unitsPerInch = 600)
{
    pclxl::Writer w;
    w.streamHeader("booklet geometry");
    w.beginSession(unitsPerInch).openDataSource();
    for (size_t i = 0; i < pages.size(); i++)
    {
        const bool landscape = pages[i] != 'p';
        w.beginPage(landscape ? pclxl::val::eLandscapeOrientation : pclxl::val::ePortraitOrientation,
                    pages[i] == 'L' ? pclxl::val::eLetterPaper : pclxl::val::eA4Paper);
        w.setColorSpaceGray().setBrushGray(0);
        const uint16_t k = static_cast<uint16_t>(i + 1);
        w.rectangle(10, 10, static_cast<uint16_t>(100 + k), static_cast<uint16_t>(200 + k));
        w.endPage(1);
    }
    w.closeDataSource().endSession();
    return w.take();
}

// Some mix of orientations for n pages: never all alike from two pages on.
std::string Mix(int n, int seed)
{
    std::string pages;
    for (int i = 0; i < n; i++)
    {
        pages += ((i * 7 + seed) % 3 == 0) ? 'l' : 'p';
    }
    if (n >= 2 && pages.find('l') == std::string::npos)
    {
        pages[1] = 'l';
    }
    if (n >= 2 && pages.find('p') == std::string::npos)
    {
        pages[0] = 'p';
    }
    return pages;
}

std::string Check(const Bytes &document, const JobOptions &options, size_t pages)
{
    jobtool_test::Outcome o = jobtool_test::MakeAndRun(document, options);
    if (!o.made.job || o.maps.empty())
    {
        return "no output: " + o.Report();
    }
    std::vector<jobtool_test::PageSize> sizes = jobtool_test::PageSizes(document);
    std::vector<jobtool_test::SheetSide> sides;
    const std::vector<Bytes> bodies = jobtool_test::BodiesOf(document);
    for (const spoolsim::Document *d : o.replay.run.PrinterDocuments())
    {
        std::vector<jobtool_test::SheetSide> more = jobtool_test::PlaceBooklet(d->data, bodies, sizes, 1.0);
        sides.insert(sides.end(), more.begin(), more.end());
    }
    std::string problem = jobtool_test::CheckBooklet(sides, static_cast<int>(pages), options.direction);
    return problem.empty() ? problem : problem + "\n" + o.Report();
}

TEST(BookletGeometry, EveryPageLandsInsideItsHalf)
{
    for (int n = 1; n <= 9; n++)
    {
        const std::string pages = Mix(n, n);
        const Bytes document = Document(pages);
        for (BookletKind kind : {BookletKind::Printer, BookletKind::Manual})
        {
            for (short orientation : {DMORIENT_PORTRAIT, DMORIENT_LANDSCAPE})
            {
                for (int direction : {0, 1})
                {
                    JobOptions o;
                    o.booklet = kind;
                    o.orientation = orientation;
                    o.direction = direction;
                    const std::string what = pages + (kind == BookletKind::Printer ? " printer" : " manual") +
                                             (orientation == DMORIENT_PORTRAIT ? " portrait" : " landscape") +
                                             " booklet, direction " + std::to_string(direction);
                    EXPECT_EQ(Check(document, o, pages.size()), "") << what;
                }
            }
        }
    }
}

// One scale fits every page: a Letter page among A4 ones, and all pages of
// one orientation, at another resolution.
TEST(BookletGeometry, PagesOfOtherPaperAndAllOfOneOrientationFit)
{
    for (const std::string &pages :
         {std::string("ppLp"), std::string("plLpl"), std::string("lllll"), std::string("pppppp")})
    {
        for (short orientation : {DMORIENT_PORTRAIT, DMORIENT_LANDSCAPE})
        {
            JobOptions o;
            o.booklet = BookletKind::Printer;
            o.orientation = orientation;
            EXPECT_EQ(Check(Document(pages, 300), o, pages.size()), "") << pages << " " << orientation;
        }
    }
    // The Ghostscript sample: landscape pages 3 and 5, Letter page 4.
    JobOptions o;
    o.booklet = BookletKind::Manual;
    EXPECT_EQ(Check(jobtool_test::Sample("sample.pxl"), o, 6), "");
}

// The model: the folded booklet's sides, and the rotation direction.
TEST(BookletGeometry, FoldedBookletShowsCoverPagesOnTheOutside)
{
    using jobtool_test::FoldedSide;
    EXPECT_EQ(FoldedSide(8, 1, 0), std::make_pair(8, 1)) << "front of the outer sheet";
    EXPECT_EQ(FoldedSide(8, 7, 0), std::make_pair(2, 7)) << "back of the outer sheet";
    EXPECT_EQ(FoldedSide(8, 4, 0), std::make_pair(4, 5)) << "middle of the booklet";
    EXPECT_EQ(FoldedSide(8, 6, 1), std::make_pair(3, 6)) << "right to left";
    EXPECT_EQ(FoldedSide(5, 3, 0), std::make_pair(0, 3)) << "a blank page beyond the last";
    EXPECT_EQ(FoldedSide(1, 1, 0), std::make_pair(0, 1));

    // A page turned by 90 after its origin is set: its x axis runs up the
    // sheet, its y axis to the right.
    pclxl::Writer w;
    w.streamHeader().beginSession(600).openDataSource();
    w.beginPage(pclxl::val::eLandscapeOrientation, pclxl::val::eA4Paper);
    w.xy(pclxl::ElementType::SInt16, 3000, 4000).attr(pclxl::attr::PageOrigin).op(pclxl::op::SetPageOrigin);
    w.sint16(90).attr(pclxl::attr::PageAngle).op(pclxl::op::SetPageRotation);
    w.xy(pclxl::ElementType::Real32, 0.5, 0.5).attr(pclxl::attr::PageScale).op(pclxl::op::SetPageScale);
    pclxl::Writer body;
    body.setColorSpaceGray().rectangle(1, 2, 3, 4);
    w.raw(pclxl::Bytes(body.bytes())).endPage().closeDataSource().endSession();
    std::vector<jobtool_test::SheetSide> sides =
        jobtool_test::PlaceBooklet(w.bytes(), {body.bytes()}, {jobtool_test::PageSize{1000, 600}}, 0);
    ASSERT_EQ(sides.size(), 1u);
    ASSERT_EQ(sides[0].placements.size(), 1u);
    const jobtool_test::Point *c = sides[0].placements[0].corners;
    EXPECT_NEAR(c[0].x, 3000, 1e-9);
    EXPECT_NEAR(c[0].y, 4000, 1e-9);
    EXPECT_NEAR(c[1].x, 3000, 1e-9) << "(1000, 0) goes up";
    EXPECT_NEAR(c[1].y, 3500, 1e-9);
    EXPECT_NEAR(c[2].x, 3300, 1e-9) << "(0, 600) goes right";
    EXPECT_NEAR(c[2].y, 4000, 1e-9);
}

} // namespace
