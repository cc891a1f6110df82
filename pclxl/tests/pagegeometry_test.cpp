// The sheet a BeginPage asks for and where the page transformation puts
// user space on it: sizes of real paper at the session's units, and the
// direction a PageAngle turns as seen on paper.
#include <gtest/gtest.h>

#include <pclxl/pclxl.h>

#include <cmath>

namespace
{

namespace attr = pclxl::attr;
namespace val = pclxl::val;

pclxl::Attribute Scalar(uint16_t id, double v)
{
    pclxl::Attribute a;
    a.id = id;
    a.value.numbers = {v};
    return a;
}

pclxl::Attribute Pair(uint16_t id, double x, double y)
{
    pclxl::Attribute a;
    a.id = id;
    a.value.shape = pclxl::Shape::XY;
    a.value.numbers = {x, y};
    return a;
}

TEST(PageGeometry, SheetsArePaperSizesInTheSessionsUnits)
{
    std::optional<pclxl::PageSize> a4 = pclxl::sheetSize(
        {Scalar(attr::Orientation, val::eLandscapeOrientation), Scalar(attr::MediaSize, val::eA4Paper)}, 600);
    ASSERT_TRUE(a4);
    EXPECT_EQ(std::lround(a4->width), 7016) << "297 mm across";
    EXPECT_EQ(std::lround(a4->height), 4961);
    std::optional<pclxl::PageSize> letter = pclxl::sheetSize({Scalar(attr::MediaSize, val::eLetterPaper)}, 300);
    ASSERT_TRUE(letter);
    EXPECT_EQ(std::lround(letter->width), 2550) << "portrait when no orientation is given";
    EXPECT_EQ(std::lround(letter->height), 3300);
    // A custom size in millimetres, given long side first.
    std::optional<pclxl::PageSize> custom =
        pclxl::sheetSize({Pair(attr::CustomMediaSize, 254, 127), Scalar(attr::CustomMediaSizeUnits, 1)}, 100);
    ASSERT_TRUE(custom);
    EXPECT_NEAR(custom->width, 500, 1e-9);
    EXPECT_NEAR(custom->height, 1000, 1e-9);
    EXPECT_FALSE(pclxl::sheetSize({Scalar(attr::MediaSize, val::eDefaultPaperSize)}, 600)) << "unknown paper";
    EXPECT_FALSE(pclxl::sheetSize({}, 600));

    const pclxl::Attribute perMm = Pair(attr::UnitsPerMeasure, 10, 10), mm = Scalar(attr::Measure, 1);
    EXPECT_NEAR(pclxl::unitsPerInch(&perMm, &mm), 254, 1e-9);
    const pclxl::Attribute zero = Pair(attr::UnitsPerMeasure, 0, 0);
    EXPECT_EQ(pclxl::unitsPerInch(&zero, nullptr), 600) << "no unit is zero long";
    EXPECT_EQ(pclxl::unitsPerInch(nullptr, nullptr), 600);
}

TEST(PageGeometry, PositiveAnglesTurnCounterclockwiseOnPaper)
{
    // y runs down the sheet: turned by 90, the page's x axis runs up.
    pclxl::PageMatrix m = pclxl::PageMatrix::translation(3000, 4000);
    m.concat(pclxl::PageMatrix::rotation(90));
    m.concat(pclxl::PageMatrix::scaling(0.5, 0.5));
    pclxl::PagePoint p = m.apply({1000, 0});
    EXPECT_EQ(p.x, 3000);
    EXPECT_EQ(p.y, 3500) << "exactly: quarter turns are whole";
    p = m.apply({0, 600});
    EXPECT_EQ(p.x, 3300);
    EXPECT_EQ(p.y, 4000);
    // 270 is the same as -90: clockwise, x axis down the sheet.
    for (double angle : {270.0, -90.0})
    {
        p = pclxl::PageMatrix::rotation(angle).apply({100, 0});
        EXPECT_EQ(p.x, 0) << angle;
        EXPECT_EQ(p.y, 100) << angle;
    }
    p = pclxl::PageMatrix::rotation(45).apply({100, 0});
    EXPECT_NEAR(p.x, 70.71, 0.01);
    EXPECT_NEAR(p.y, -70.71, 0.01);
    p = pclxl::PageMatrix::rotation(720 + 90).apply({100, 0});
    EXPECT_EQ(p.x, 0);
    EXPECT_EQ(p.y, -100);
}

} // namespace
