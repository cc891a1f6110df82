// Replays fuzz inputs through the normal test build: every file of the
// regression folder (inputs that once broke an invariant or crashed) and the
// seeds, each of which must now run with every check holding.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "catalogue.h"
#include "fuzzjob.h"

namespace
{

std::string g_regressionDir;

std::vector<std::string> RegressionFiles()
{
    std::vector<std::string> files;
    std::error_code ec;
    for (const auto &e : std::filesystem::directory_iterator(g_regressionDir, ec))
    {
        if (e.is_regular_file() && e.path().extension() != ".md")
        {
            files.push_back(e.path().string());
        }
    }
    std::sort(files.begin(), files.end());
    return files;
}

std::string Report(const std::vector<std::string> &problems)
{
    std::string s;
    for (const std::string &p : problems)
    {
        s += "\n  " + p;
    }
    return s;
}

TEST(FuzzReplay, RegressionInputsRunClean)
{
    fuzzjob::Harness harness;
    ASSERT_TRUE(harness.Ready());
    std::vector<std::string> files = RegressionFiles();
    ASSERT_FALSE(files.empty()) << "no regression inputs in " << g_regressionDir;
    for (const std::string &file : files)
    {
        std::ifstream in(file, std::ios::binary);
        std::vector<uint8_t> data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        std::vector<std::string> problems = harness.Run(data.data(), data.size());
        std::string name = std::filesystem::path(file).filename().string();
        EXPECT_EQ(Report(problems), "") << name;
    }
}

TEST(FuzzReplay, SeedsRunCleanAndPrintWhatTheirJobsPrint)
{
    // A seed must decode to the job it was made from: the same buffers and
    // page calls, so the fuzzer starts from real jobs.
    fuzzjob::Harness harness;
    ASSERT_TRUE(harness.Ready());
    for (const fuzzjob::Scenario &s : fuzzjob::Catalogue())
    {
        fuzzjob::Bytes seed = fuzzjob::Encode(s.jobs, s.iniVariant);
        fuzzjob::FuzzInput in = fuzzjob::Decode(seed.data(), seed.size());
        EXPECT_EQ(in.iniVariant, s.iniVariant) << s.name;
        ASSERT_EQ(in.jobs.size(), s.jobs.size()) << s.name;
        for (size_t j = 0; j < s.jobs.size(); j++)
        {
            const spoolsim::Job &want = s.jobs[j];
            const spoolsim::Job &got = in.jobs[j].job;
            EXPECT_EQ(got.endDoc, want.endDoc) << s.name;
            EXPECT_EQ(got.abort, want.abort) << s.name;
            ASSERT_EQ(got.steps.size(), want.steps.size()) << s.name;
            for (size_t i = 0; i < want.steps.size(); i++)
            {
                EXPECT_EQ(got.steps[i].kind, want.steps[i].kind) << s.name << " step " << i;
                EXPECT_EQ(got.steps[i].data, want.steps[i].data) << s.name << " step " << i;
            }
        }
        EXPECT_EQ(Report(harness.Run(seed.data(), seed.size())), "") << s.name;
    }
}

TEST(FuzzReplay, AnyBytesDecodeWithinTheLimits)
{
    // Truncated, empty and hostile inputs decode to bounded jobs.
    std::vector<uint8_t> noise(5000);
    for (size_t i = 0; i < noise.size(); i++)
    {
        noise[i] = static_cast<uint8_t>((i * 2654435761u) >> 13);
    }
    for (size_t cb : {size_t(0), size_t(1), size_t(2), size_t(17), noise.size()})
    {
        fuzzjob::FuzzInput in = fuzzjob::Decode(noise.data(), cb);
        EXPECT_GE(in.jobs.size(), 1u);
        EXPECT_LE(in.jobs.size(), 3u);
        for (const fuzzjob::FuzzJob &j : in.jobs)
        {
            EXPECT_LE(j.job.steps.size(), 400u);
        }
    }
    // A big write asks for up to 72 KiB of one byte from four input bytes.
    const uint8_t big[] = {0, 0, fuzzjob::kOpBigWrite, 0x00, 0x48, 0, 'z', fuzzjob::kOpBigWrite, 0xFF, 0xFF, 3, 'y'};
    fuzzjob::FuzzInput in = fuzzjob::Decode(big, sizeof(big));
    ASSERT_EQ(in.jobs[0].job.steps.size(), 2u);
    EXPECT_EQ(in.jobs[0].job.steps[0].data, fuzzjob::Bytes(72 * 1024, 'z'));
    EXPECT_EQ(in.jobs[0].job.steps[1].data, fuzzjob::Bytes(0x3FFFF % (72 * 1024 + 1), 'y'));
}

TEST(FuzzReplay, PlatformFaultsDecodeAndEveryCheckStillHolds)
{
    // A collated two-page job with one platform call failing: the input
    // names the call, its nth use in this job, and how many uses fail.
    fuzzjob::Harness harness;
    ASSERT_TRUE(harness.Ready());
    struct Case
    {
        uint8_t call;
        const char *function;
    } cases[] = {
        {0, "GlobalAlloc"}, {3, "WriteFile"}, {12, "WriteFile (short)"}, {4, "ReadFile"}, {5, "SetFilePointer"}};
    for (const Case &c : cases)
    {
        for (uint8_t nth = 0; nth < 8; nth++)
        {
            const uint8_t input[] = {0, 0x40, c.call,           nth, 1,  fuzzjob::kOpSettings, 1, 15, 200,
                                     1, 0,    fuzzjob::kOpPage, 0,   90, fuzzjob::kOpPage,     1, 90, fuzzjob::kOpEnd,
                                     0};
            fuzzjob::FuzzInput in = fuzzjob::Decode(input, sizeof(input));
            ASSERT_EQ(in.jobs.size(), 1u);
            EXPECT_EQ(in.jobs[0].platformFault.function, c.function);
            EXPECT_EQ(in.jobs[0].platformFault.nth, nth + 1u);
            EXPECT_EQ(in.jobs[0].platformFault.cTimes, 1u);
            EXPECT_EQ(Report(harness.Run(input, sizeof(input))), "") << c.function << " #" << nth + 1;
        }
    }
}

} // namespace

int main(int argc, char **argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    if (argc > 1)
    {
        g_regressionDir = argv[1];
    }
    return RUN_ALL_TESTS();
}
