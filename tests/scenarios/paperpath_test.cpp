// Two-pass jobs held to the sheets a person takes out of the printer and puts
// back: manual duplex and the software booklet, every page count from 0 to
// 40, both orders of feeding the stack back, both reading directions.
#include "jobtest.h"
#include "paperpath.h"

#include <algorithm>

namespace scenarios
{
namespace
{

using paperpath::Face;
using spoolsim::ToBytes;
namespace markers = spoolsim::markers;

const int kMaxPages = 40;

size_t Find(const Bytes &hay, const Bytes &needle, size_t from)
{
    auto it = std::search(hay.begin() + static_cast<std::ptrdiff_t>(std::min(from, hay.size())), hay.end(),
                          needle.begin(), needle.end());
    return it == hay.end() ? std::string::npos : static_cast<size_t>(it - hay.begin());
}

// The pages in a stretch of a printed document, in the order they stand.
std::vector<std::pair<size_t, int>> PagesIn(const DocumentJob &job, const Bytes &doc, size_t from, size_t to)
{
    std::vector<std::pair<size_t, int>> found;
    for (int k = 1; k <= static_cast<int>(job.pages.size()); k++)
    {
        Bytes page = job.Page(k);
        for (size_t at = Find(doc, page, from); at != std::string::npos && at < to; at = Find(doc, page, at + 1))
        {
            found.push_back({at, k});
        }
    }
    std::sort(found.begin(), found.end());
    return found;
}

// One page per sheet side.
std::vector<Face> DuplexFaces(const DocumentJob &job, const Bytes &doc)
{
    std::vector<Face> faces;
    for (const auto &p : PagesIn(job, doc, 0, doc.size()))
    {
        faces.push_back(Face{p.second, 0});
    }
    return faces;
}

// Sheet sides of the standard booklet record: each from {BP} to {EP}. The
// origin fragment before a page puts it in the sheet's left half ({O0}) or
// right half ({O1}); the pages are portrait.
std::vector<Face> BookletFaces(const DocumentJob &job, const Bytes &doc)
{
    const Bytes begin = ToBytes("{BP}"), end = ToBytes("{EP}"), left = ToBytes("{O0}"), right = ToBytes("{O1}");
    std::vector<Face> faces;
    size_t at = Find(doc, begin, 0);
    while (at != std::string::npos)
    {
        size_t stop = std::min(Find(doc, end, at), doc.size());
        size_t oLeft = Find(doc, left, at), oRight = Find(doc, right, at);
        Face f;
        for (const auto &p : PagesIn(job, doc, at, stop))
        {
            bool isLeft = oLeft < p.first && (oRight >= stop || p.first < oRight);
            bool isRight = oRight < p.first && oRight < stop;
            EXPECT_TRUE(isLeft != isRight) << "page " << p.second << " has no half of its own";
            (isLeft ? f.left : f.right) = p.second;
        }
        faces.push_back(f);
        at = Find(doc, begin, stop);
    }
    return faces;
}

std::string Label(int n, int order, int direction = 0)
{
    return std::to_string(n) + " pages, order " + std::to_string(order) + ", direction " + std::to_string(direction);
}

using PaperPath = JobTest;

TEST_F(PaperPath, ManualDuplexPairsEveryFrontWithItsBack)
{
    for (int order : {0, 1})
    {
        for (int n = 0; n <= kMaxPages; n++)
        {
            DRVDEVMODE dm = Settings();
            dm.sManualDuplex = 1;
            dm.sManualDuplexOrder = static_cast<short>(order);
            DocumentJob job(dm, n);
            RunResult r = Run(job);
            std::vector<const spoolsim::Document *> docs = r.PrinterDocuments();
            ASSERT_FALSE(docs.empty()) << Label(n, order);
            bool twoPasses = n > 1;
            ASSERT_EQ(docs.size(), twoPasses ? 2u : 1u) << Label(n, order);
            ASSERT_EQ(r.boxes.size(), twoPasses ? 1u : 0u) << Label(n, order) << ": one prompt between the passes";
            std::vector<Face> pass1 = DuplexFaces(job, docs[0]->data);
            std::vector<Face> pass2 = twoPasses ? DuplexFaces(job, docs[1]->data) : std::vector<Face>();
            EXPECT_EQ(paperpath::CheckTwoSided(paperpath::PrintAndTurn(pass1, pass2, order), n), "") << Label(n, order);
        }
    }
}

TEST_F(PaperPath, SoftwareBookletFoldsIntoABookletThatReadsInOrder)
{
    for (int direction : {0, 1})
    {
        for (int order : {0, 1})
        {
            for (int n = 0; n <= kMaxPages; n++)
            {
                DRVDEVMODE dm = Settings();
                dm.sBooklet = 1;
                dm.sManualDuplex = 2;
                dm.sManualDuplexOrder = static_cast<short>(order);
                dm.sBookletOption = static_cast<short>(direction);
                DocumentJob job(dm, n);
                job.booklet = markers::BookletRecord::Standard(true, false);
                RunResult r = Run(job);
                std::vector<const spoolsim::Document *> docs = r.PrinterDocuments();
                ASSERT_FALSE(docs.empty()) << Label(n, order, direction);
                bool twoPasses = n > 1;
                ASSERT_EQ(docs.size(), twoPasses ? 2u : 1u) << Label(n, order, direction);
                ASSERT_EQ(r.boxes.size(), twoPasses ? 1u : 0u) << Label(n, order, direction);
                if (n == 0)
                {
                    EXPECT_PARTS(docs[0]->data, Layout(job, {"H", "T"})) << "no pages: the data once";
                    continue;
                }
                std::vector<Face> pass1 = BookletFaces(job, docs[0]->data);
                std::vector<Face> pass2 = twoPasses ? BookletFaces(job, docs[1]->data) : std::vector<Face>();
                EXPECT_EQ(paperpath::CheckBooklet(paperpath::PrintAndTurn(pass1, pass2, order), n, direction == 1), "")
                    << Label(n, order, direction);
            }
        }
    }
}

// The oracle itself: sheets stacked and put back the wrong way round are
// caught, so a pass printed in the wrong order cannot pass.
TEST(PaperPathModel, CatchesFrontsPairedWithTheWrongBacks)
{
    // Five pages, descending feed: backs 4, 2; fronts must come 3, 1, then 5.
    std::vector<Face> backs = {{4, 0}, {2, 0}};
    EXPECT_EQ(paperpath::CheckTwoSided(paperpath::PrintAndTurn(backs, {{3, 0}, {1, 0}, {5, 0}}, 1), 5), "");
    EXPECT_NE(paperpath::CheckTwoSided(paperpath::PrintAndTurn(backs, {{5, 0}, {3, 0}, {1, 0}}, 1), 5), "");
    EXPECT_NE(paperpath::CheckTwoSided(paperpath::PrintAndTurn(backs, {{3, 0}, {1, 0}, {5, 0}}, 0), 5), "");
    // Four-page booklet: inner side (2, 3), outer (4, 1), read left to right.
    EXPECT_EQ(paperpath::CheckBooklet(paperpath::PrintAndTurn({{2, 3}}, {{4, 1}}, 0), 4, false), "");
    EXPECT_NE(paperpath::CheckBooklet(paperpath::PrintAndTurn({{2, 3}}, {{1, 4}}, 0), 4, false), "");
    EXPECT_EQ(paperpath::CheckBooklet(paperpath::PrintAndTurn({{3, 2}}, {{1, 4}}, 0), 4, true), "");
}

} // namespace
} // namespace scenarios
