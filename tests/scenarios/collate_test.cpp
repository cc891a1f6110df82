// Collated copies, reverse order, odd and even pages.
#include "jobtest.h"

namespace scenarios
{
namespace
{

using spoolsim::ToBytes;

DRVDEVMODE Reverse(short order, short copies, short leadIn)
{
    DRVDEVMODE dm = Settings();
    dm.sReverseOrder = order;
    dm.sReverseLeadIn = leadIn;
    if (copies != 1)
    {
        dm.sCollate = 1;
    }
    dm.dmPublic.dmCopies = copies;
    return dm;
}

struct Selection
{
    short order;
    int n;
    bool several;
    std::vector<int> pages;
};

// What each order selects, and when it counts as several pages.
const Selection kSelections[] = {
    {1, 1, false, {1}},
    {1, 2, true, {2, 1}},
    {1, 3, true, {3, 2, 1}},
    {1, 4, true, {4, 3, 2, 1}},
    {1, 5, true, {5, 4, 3, 2, 1}},
    {2, 1, false, {1}},
    {2, 2, false, {1}},
    {2, 3, true, {1, 3}},
    {2, 4, true, {1, 3}},
    {2, 5, true, {1, 3, 5}},
    {3, 1, false, {1}},
    {3, 2, false, {2}},
    {3, 3, false, {2}},
    {3, 4, true, {2, 4}},
    {3, 5, true, {2, 4}},
};

std::vector<Item> ReverseLayout(const Selection &s, int copies, bool leadInFirst)
{
    std::vector<Item> items = {"h"};
    for (int c = 0; c < copies; c++)
    {
        if (!s.several)
        {
            items.push_back("L1");
            items.push_back(s.pages[0]);
            continue;
        }
        size_t i = 0;
        if (leadInFirst)
        {
            items.push_back("L1");
            items.push_back(s.pages[i++]);
        }
        items.push_back("L2");
        for (; i < s.pages.size(); i++)
        {
            items.push_back(s.pages[i]);
        }
    }
    items.push_back("T");
    return items;
}

using Collation = JobTest;

TEST_F(Collation, ReverseOddAndEvenPagesForOneToFivePages)
{
    for (const Selection &s : kSelections)
    {
        for (short leadIn : {0, 1})
        {
            for (short copies : {1, 2})
            {
                DocumentJob job(Reverse(s.order, copies, leadIn), s.n);
                RunResult r = Run(job);
                EXPECT_PARTS(r.PrinterDocument(0).data, Layout(job, ReverseLayout(s, copies, leadIn != 0)))
                    << "order " << s.order << ", " << s.n << " pages, lead-in " << leadIn << ", copies " << copies;
            }
        }
    }
}

// Four pages last to first, two collated copies.
TEST_F(Collation, FourPageExampleWithBothLeadInRules)
{
    DocumentJob plain(Reverse(1, 2, 0), 4);
    EXPECT_PARTS(Run(plain).PrinterDocument(0).data, Layout(plain, {"h", "L2", 4, 3, 2, 1, "L2", 4, 3, 2, 1, "T"}));
    DocumentJob leadIn(Reverse(1, 2, 1), 4);
    EXPECT_PARTS(Run(leadIn).PrinterDocument(0).data,
                 Layout(leadIn, {"h", "L1", 4, "L2", 3, 2, 1, "L1", 4, "L2", 3, 2, 1, "T"}));
}

TEST_F(Collation, CopiesOfTheWholeDocumentBetweenOneHeaderAndOneTrailer)
{
    struct Case
    {
        short copies;
        std::vector<Item> layout;
    } cases[] = {
        {2, {"H", 1, 2, 3, 1, 2, 3, "T"}},
        {3, {"H", 1, 2, 3, 1, 2, 3, 1, 2, 3, "T"}},
        {1, {"H", 1, 2, 3, "T"}},
        {0, {"H", "T"}},
        {-1, {"H", "T"}},
    };
    for (const Case &c : cases)
    {
        DRVDEVMODE dm = Settings();
        dm.sCollate = 1;
        dm.dmPublic.dmCopies = c.copies;
        DocumentJob job(dm, 3);
        EXPECT_PARTS(Run(job).PrinterDocument(0).data, Layout(job, c.layout)) << c.copies << " copies";
    }
}

// The end marker's copy count overrides the settings' one.
TEST_F(Collation, EndMarkerCopiesOverrideTheSettings)
{
    DRVDEVMODE dm = Settings();
    dm.sCollate = 1;
    dm.dmPublic.dmCopies = 5;
    DocumentJob job(dm, 2);
    job.end.copies = 2;
    EXPECT_PARTS(Run(job).PrinterDocument(0).data, Layout(job, {"H", 1, 2, 1, 2, "T"}));
}

// With the printer's copy command the document goes once, the command in
// the header at the copy position; one copy needs no command.
TEST_F(Collation, CopyCommandGoesIntoTheHeaderOnce)
{
    for (short copies : {3, 1})
    {
        DRVDEVMODE dm = Settings();
        dm.sCollate = 1;
        dm.sCopyCommand = 1;
        dm.dmPublic.dmCopies = copies;
        DocumentJob job(dm, 3);
        job.copyPosAt = 5;
        job.end.copies = static_cast<WORD>(copies);
        job.end.copyCommand = ToBytes("{COPIES}");
        Parts expected = {P("header to copy position", job.HeaderUpTo(5))};
        if (copies > 1)
        {
            expected.push_back(P("copy command", "{COPIES}"));
        }
        Parts rest = Layout(job, {1, 2, 3, "T"});
        expected.push_back(P("rest of header", job.HeaderFrom(5)));
        expected.push_back(P("lead-ins", "<L1><L2>"));
        expected.insert(expected.end(), rest.begin(), rest.end());
        EXPECT_PARTS(Run(job).PrinterDocument(0).data, expected) << copies << " copies";
    }
}

// Values without a meaning of their own: an order other than 1, 2 and 3
// prints all pages last first; a copy-command setting other than 1 carries no
// command, so the hook makes the copies.
TEST_F(Collation, UndefinedSettingValuesFallBackToTheirPlainMeaning)
{
    DocumentJob reverse(Reverse(4, 1, 0), 3);
    EXPECT_PARTS(Run(reverse).PrinterDocument(0).data, Layout(reverse, {"h", "L2", 3, 2, 1, "T"}));

    DRVDEVMODE dm = Settings();
    dm.sCollate = 1;
    dm.sCopyCommand = 2;
    dm.dmPublic.dmCopies = 2;
    DocumentJob copies(dm, 2);
    EXPECT_PARTS(Run(copies).PrinterDocument(0).data, Layout(copies, {"H", 1, 2, 1, 2, "T"}));
}

TEST_F(Collation, ReverseWithCopyCommandSendsThePagesOnce)
{
    DRVDEVMODE dm = Reverse(1, 3, 0);
    dm.sCopyCommand = 1;
    DocumentJob job(dm, 3);
    job.copyPosAt = 0;
    job.end.copyCommand = ToBytes("{C3}");
    Parts expected = {P("copy command", "{C3}")};
    Parts rest = Layout(job, {"h", "L2", 3, 2, 1, "T"});
    expected.insert(expected.end(), rest.begin(), rest.end());
    EXPECT_PARTS(Run(job).PrinterDocument(0).data, expected);
}

} // namespace
} // namespace scenarios
