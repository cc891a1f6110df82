// Transparency interleave: separator sheets between transparencies.
#include "jobtest.h"

namespace scenarios
{
namespace
{

using spoolsim::ToBytes;

DRVDEVMODE Transparency(short interleave, short option, bool reverse)
{
    DRVDEVMODE dm = Settings();
    dm.sMediaKind = 3;
    dm.sOhpInterleave = interleave;
    dm.sOhpOption = option;
    dm.sReverseOrder = reverse ? 1 : 0;
    return dm;
}

struct Row
{
    int n;
    short interleave;
    short option;
    bool reverse;
    std::vector<Item> sheets; // one copy, without header and trailer
};

using TransparencyInterleave = JobTest;

TEST_F(TransparencyInterleave, SheetOrders)
{
    const Row rows[] = {
        {3, 1, 0, false, {"L1", 1, "L2", 1, "L1", 2, "L2", 2, "L1", 3, "L2", 3}},
        {3, 1, 1, false, {"L2", 1, "L1", 1, "L2", 2, "L1", 2, "L2", 3, "L1", 3}},
        {3, 1, 0, true, {"L1", 3, "L2", 3, "L1", 2, "L2", 2, "L1", 1, "L2", 1}},
        {4, 2, 0, false, {"L1", 4, "L2", 1, "L1", 4, "L2", 2, "L1", 4, "L2", 3}},
        {4, 2, 1, false, {"L2", 1, "L1", 4, "L2", 2, "L1", 4, "L2", 3, "L1", 4}},
        {4, 3, 0, true, {"L1", 4, "L2", 3, "L1", 4, "L2", 2, "L1", 4, "L2", 1}},
        {1, 1, 0, false, {"L1", 1, "L2", 1}},
        {1, 2, 0, false, {}},
        {1, 3, 1, true, {}},
        // above 3: as 2 and 3, the separators carry the last page
        {3, 4, 0, false, {"L1", 3, "L2", 1, "L1", 3, "L2", 2}},
    };
    for (const Row &row : rows)
    {
        DocumentJob job(Transparency(row.interleave, row.option, row.reverse), row.n);
        std::vector<Item> layout = {"h"};
        layout.insert(layout.end(), row.sheets.begin(), row.sheets.end());
        layout.push_back("T");
        EXPECT_PARTS(Run(job).PrinterDocument(0).data, Layout(job, layout))
            << row.n << " pages, interleave " << row.interleave << ", option " << row.option << ", reverse "
            << row.reverse;
    }
}

TEST_F(TransparencyInterleave, CopiesWithAndWithoutTheCopyCommand)
{
    DRVDEVMODE dm = Transparency(1, 0, false);
    dm.sCollate = 1;
    dm.dmPublic.dmCopies = 2;
    DocumentJob twice(dm, 2);
    EXPECT_PARTS(Run(twice).PrinterDocument(0).data,
                 Layout(twice, {"h", "L1", 1, "L2", 1, "L1", 2, "L2", 2, "L1", 1, "L2", 1, "L1", 2, "L2", 2, "T"}));

    dm.sCopyCommand = 1;
    DocumentJob once(dm, 2);
    once.copyPosAt = 4;
    once.end.copyCommand = ToBytes("{C2}");
    Parts expected = {P("header to copy position", once.HeaderUpTo(4)), P("copy command", "{C2}"),
                      P("rest of header", once.HeaderFrom(4))};
    Parts sheets = Layout(once, {"L1", 1, "L2", 1, "L1", 2, "L2", 2, "T"});
    expected.insert(expected.end(), sheets.begin(), sheets.end());
    EXPECT_PARTS(Run(once).PrinterDocument(0).data, expected);
}

TEST_F(TransparencyInterleave, OnlyWithTransparencyMedia)
{
    DRVDEVMODE dm = Transparency(1, 0, false);
    dm.sMediaKind = 2;
    dm.sCollate = 1;
    DocumentJob job(dm, 2);
    EXPECT_PARTS(Run(job).PrinterDocument(0).data, Layout(job, {"H", 1, 2, "T"}));
}

} // namespace
} // namespace scenarios
