// Job files round-trip, and every damaged one is refused with a place and
// a reason.
#include "jobtest.h"

#include "jobfile.h"

namespace scenarios
{
namespace
{

using spoolsim::LoadJob;
using spoolsim::SaveJob;

bool SameJob(const Job &a, const Job &b)
{
    if (a.documentName != b.documentName || a.endDoc != b.endDoc || a.abort != b.abort || a.source != b.source ||
        a.steps.size() != b.steps.size())
    {
        return false;
    }
    for (size_t i = 0; i < a.steps.size(); i++)
    {
        if (a.steps[i].kind != b.steps[i].kind || a.steps[i].data != b.steps[i].data)
        {
            return false;
        }
    }
    return true;
}

TEST(JobFile, RoundTripsAndRefusesEveryTruncation)
{
    DocumentJob document(Settings(), 2);
    document.documentName = W("R\u00e9sum\u00e9");
    Job job = document.Build();
    job.abort = true;
    // Without and with the document it was made from.
    for (const std::string source : {"", "/home/r\xC3\xA9sum\xC3\xA9/cv 2.pdf"})
    {
        job.source = source;
        Bytes saved = SaveJob(job);
        EXPECT_EQ(saved[8], source.empty() ? 1 : 2) << "a job without its source keeps the first version";
        spoolsim::LoadedJob loaded = LoadJob(saved);
        ASSERT_TRUE(loaded.job.has_value()) << loaded.error;
        EXPECT_TRUE(SameJob(*loaded.job, job));

        for (size_t cb = 0; cb < saved.size(); cb++)
        {
            spoolsim::LoadedJob cut = LoadJob(Bytes(saved.begin(), saved.begin() + static_cast<long>(cb)));
            EXPECT_FALSE(cut.job.has_value()) << cb;
            EXPECT_EQ(cut.error.rfind("offset ", 0), 0u) << cb << ": " << cut.error;
        }
        Bytes longer = saved;
        longer.push_back(0);
        EXPECT_EQ(LoadJob(longer).error, "offset " + std::to_string(saved.size()) + ": data after the last step");
    }
}

TEST(JobFile, RefusesASourcePathThatCannotBeOne)
{
    Job job = DocumentJob(Settings(), 1).Build();
    job.source = "x.pdf";
    const Bytes saved = SaveJob(job);
    const size_t at = saved.size() - 4 - 5;
    Bytes empty(saved.begin(), saved.begin() + static_cast<long>(at));
    empty.insert(empty.end(), {0, 0, 0, 0});
    EXPECT_EQ(LoadJob(empty).error, "offset " + std::to_string(at) + ": a source path of 0 bytes (1 to 4096)");
    Bytes huge = empty;
    huge[at + 2] = 1; // 65536 bytes
    EXPECT_EQ(LoadJob(huge).error, "offset " + std::to_string(at) + ": a source path of 65536 bytes (1 to 4096)");
    Bytes nul = saved;
    nul[at + 4 + 1] = 0;
    EXPECT_EQ(LoadJob(nul).error, "offset " + std::to_string(at + 4) + ": the source path holds a NUL byte");
}

TEST(JobFile, RefusesForeignAndMalformedFiles)
{
    Bytes saved = SaveJob(DocumentJob(Settings(), 1).Build());
    Bytes foreign = saved;
    foreign[0] = '%';
    EXPECT_EQ(LoadJob(foreign).error, "offset 0: not a job file (no KDJOB header)");
    Bytes version = saved;
    version[8] = 3;
    EXPECT_EQ(LoadJob(version).error, "offset 8: job file version 3 is not 1 or 2");
    // Version 2 promises a source path after the steps.
    version[8] = 2;
    EXPECT_EQ(LoadJob(version).error,
              "offset " + std::to_string(saved.size()) + ": the source path length needs 4 bytes, 0 remain");
    Bytes kind = saved;
    size_t firstStep = 8 + 4 + 1 + 4 + 2 * 13 + 4; // "Test document"
    kind[firstStep] = 7;
    EXPECT_EQ(LoadJob(kind).error.rfind("offset " + std::to_string(firstStep) + ": step 1 has kind 7", 0), 0u)
        << LoadJob(kind).error;
}

} // namespace
} // namespace scenarios
