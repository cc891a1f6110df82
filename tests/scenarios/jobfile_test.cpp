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
    if (a.documentName != b.documentName || a.endDoc != b.endDoc || a.abort != b.abort ||
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
    Bytes saved = SaveJob(job);
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

TEST(JobFile, RefusesForeignAndMalformedFiles)
{
    Bytes saved = SaveJob(DocumentJob(Settings(), 1).Build());
    Bytes foreign = saved;
    foreign[0] = '%';
    EXPECT_EQ(LoadJob(foreign).error, "offset 0: not a job file (no KDJOB header)");
    Bytes version = saved;
    version[8] = 2;
    EXPECT_EQ(LoadJob(version).error, "offset 8: job file version 2 is not 1");
    Bytes kind = saved;
    size_t firstStep = 8 + 4 + 1 + 4 + 2 * 13 + 4; // "Test document"
    kind[firstStep] = 7;
    EXPECT_EQ(LoadJob(kind).error.rfind("offset " + std::to_string(firstStep) + ": step 1 has kind 7", 0), 0u)
        << LoadJob(kind).error;
}

} // namespace
} // namespace scenarios
