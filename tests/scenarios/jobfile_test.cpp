// Job files round-trip, and every damaged one is refused with a place and
// a reason.
#include "jobtest.h"

#include "jobfile.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>

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

// A job file written step by step is the file SaveJob makes, and it appears
// only when complete: never a part of one under the job's name.
TEST(JobFile, WrittenStepByStepAppearsOnlyWhole)
{
    const std::filesystem::path dir =
        std::filesystem::temp_directory_path() / ("jobfile-" + std::to_string(std::random_device()()));
    std::filesystem::create_directories(dir);
    const std::string path = (dir / "job.kdjob").string();
    DocumentJob document(Settings(), 3);
    document.documentName = W("R\u00e9sum\u00e9");
    Job job = document.Build();
    // Steps around the megabyte the writer gathers before it writes: with
    // their heads, one byte short of it, as long, one byte more; and larger.
    const size_t kGathered = size_t(1) << 20;
    for (size_t cb : {kGathered - 6, kGathered - 5, kGathered - 4, size_t(3), kGathered, kGathered + 1,
                      size_t(2) * kGathered, size_t(7)})
    {
        Bytes b(cb);
        for (size_t i = 0; i < cb; i++)
        {
            b[i] = static_cast<BYTE>(i * 7 + cb);
        }
        job.steps.push_back({spoolsim::StepKind::Write, b});
    }
    auto write = [&](spoolsim::JobFileWriter &writer, size_t cSteps) {
        std::string error;
        EXPECT_TRUE(writer.Open(path, job.documentName, job.endDoc, job.abort, error)) << error;
        for (size_t i = 0; i < cSteps; i++)
        {
            EXPECT_TRUE(writer.Add(job.steps[i].kind, job.steps[i].data.data(), job.steps[i].data.size()));
        }
    };
    auto read = [&]() {
        std::ifstream in(path, std::ios::binary);
        return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    };
    for (const std::string source : {"", "/home/cv.pdf"})
    {
        job.source = source;
        std::filesystem::remove(path);
        spoolsim::JobFileWriter writer;
        write(writer, job.steps.size());
        EXPECT_FALSE(std::filesystem::exists(path)) << "a job file before it is finished";
        std::string error;
        ASSERT_TRUE(writer.Finish(source, error)) << error;
        EXPECT_EQ(read(), SaveJob(job));
        // Read back by the loader, which shares no code with the writer.
        spoolsim::LoadedJob back = LoadJob(read());
        ASSERT_TRUE(back.job.has_value()) << back.error;
        EXPECT_TRUE(SameJob(*back.job, job));
        EXPECT_FALSE(std::filesystem::exists(path + ".part"));
    }
    {
        // Abandoned half way (an error, an exception): the earlier job stays.
        spoolsim::JobFileWriter writer;
        write(writer, 2);
        EXPECT_TRUE(std::filesystem::exists(path + ".part"));
    }
    EXPECT_FALSE(std::filesystem::exists(path + ".part"));
    EXPECT_EQ(read(), SaveJob(job));
    {
        spoolsim::JobFileWriter writer;
        std::string error;
        EXPECT_FALSE(writer.Open(dir.string(), job.documentName, true, false, error));
        EXPECT_NE(error.find("cannot write " + dir.string()), std::string::npos) << error;
        EXPECT_FALSE(writer.Add(spoolsim::StepKind::Write, nullptr, 0)) << "a step for a file never opened";
        EXPECT_FALSE(writer.Finish("", error));
        // A page step carries no data: such a step is refused, not written.
        ASSERT_TRUE(writer.Open(path, job.documentName, true, false, error)) << error;
        const BYTE data[1] = {1};
        EXPECT_FALSE(writer.Add(spoolsim::StepKind::EndPage, data, 1));
        EXPECT_FALSE(writer.Finish("", error));
        EXPECT_NE(writer.Error().find("cannot be held"), std::string::npos) << writer.Error();
    }
    EXPECT_EQ(read(), SaveJob(job)) << "a failed writer replaced the job file";
    std::filesystem::remove_all(dir);
}

// A job file on disk, removed at the end.
class FileOf
{
  public:
    explicit FileOf(const Bytes &bytes)
        : m_path((std::filesystem::temp_directory_path() /
                  ("kd-jobfile-" + std::to_string(reinterpret_cast<uintptr_t>(this)) + ".kdjob"))
                     .string())
    {
        Write(bytes);
    }
    ~FileOf()
    {
        std::remove(m_path.c_str());
    }
    void Write(const Bytes &bytes) const
    {
        std::ofstream(m_path, std::ios::binary | std::ios::trunc)
            .write(reinterpret_cast<const char *>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    }
    const std::string &Path() const
    {
        return m_path;
    }

  private:
    std::string m_path;
};

// What the file-backed reader refuses the bytes with; it must be LoadJob's refusal.
::testing::AssertionResult SameRefusal(const Bytes &bytes)
{
    FileOf file(bytes);
    spoolsim::JobFileSteps steps;
    std::string error;
    const bool opened = steps.Open(file.Path(), error);
    const std::string loaded = LoadJob(bytes).error;
    if (opened || !steps.Refused() || error != loaded)
    {
        return ::testing::AssertionFailure()
               << "from the file: " << (opened ? "opened" : error) << "; LoadJob: " << loaded;
    }
    return ::testing::AssertionSuccess();
}

TEST(JobFile, StepsReadFromTheFileAreTheLoadedJobsAndTheSameBytesAreRefused)
{
    Job job = DocumentJob(Settings(), 2).Build();
    job.endDoc = false;
    job.abort = true;
    for (const std::string source : {"", "/tmp/x.pdf"})
    {
        job.source = source;
        const Bytes saved = SaveJob(job);
        FileOf file(saved);
        spoolsim::JobFileSteps steps;
        std::string error;
        ASSERT_TRUE(steps.Open(file.Path(), error)) << error;
        EXPECT_EQ(steps.DocumentName(), job.documentName);
        EXPECT_EQ(steps.EndDoc(), job.endDoc);
        EXPECT_EQ(steps.Abort(), job.abort);
        EXPECT_EQ(steps.Source(), job.source);
        ASSERT_EQ(steps.Count(), job.steps.size());
        Bytes buffer;
        // Backwards too: a step is found wherever the reader stands.
        for (size_t k = 0; k < 2 * steps.Count(); k++)
        {
            const size_t i = k < steps.Count() ? k : 2 * steps.Count() - 1 - k;
            EXPECT_EQ(steps.Kind(i), job.steps[i].kind) << i;
            const Bytes *data = steps.Data(i, buffer);
            ASSERT_NE(data, nullptr) << steps.Error();
            EXPECT_EQ(*data, job.steps[i].data) << i;
            if (data->size() > 2)
            {
                BYTE middle[1];
                ASSERT_TRUE(steps.ReadPart(i, 1, middle, 1));
                EXPECT_EQ(middle[0], job.steps[i].data[1]);
                EXPECT_FALSE(steps.ReadPart(i, data->size() - 1, middle, 2)) << "past the step's end";
            }
        }

        for (size_t cb = 0; cb < saved.size(); cb++)
        {
            EXPECT_TRUE(SameRefusal(Bytes(saved.begin(), saved.begin() + static_cast<long>(cb)))) << cb;
        }
        Bytes longer = saved;
        longer.push_back(0);
        EXPECT_TRUE(SameRefusal(longer));
        for (size_t at : {size_t(0), size_t(8), size_t(12), size_t(13), size_t(8 + 4 + 1 + 4 + 2 * 13 + 4)})
        {
            Bytes damaged = saved;
            damaged[at] = 7; // magic, version, flags, name length, first step's kind
            EXPECT_TRUE(SameRefusal(damaged)) << at;
        }
        if (!source.empty())
        {
            Bytes nul = saved;
            nul.back() = 0;
            EXPECT_TRUE(SameRefusal(nul));
        }
    }
    spoolsim::JobFileSteps none;
    std::string error;
    EXPECT_FALSE(none.Open("/no/such/folder/x.kdjob", error));
    EXPECT_FALSE(none.Refused()) << "a file that cannot be read is not called a bad job file";
    EXPECT_EQ(error.rfind("cannot open /no/such/folder/x.kdjob", 0), 0u) << error;
}

// Heads read one step after another (the stream reads over a short gap
// rather than seek) are the steps' own bytes, whatever the gaps between
// them: shorter, as long as and longer than the stream's buffer. So are
// the leads taken as the file was opened, also where a lead lies across
// the ends of what opening read at a time.
TEST(JobFile, PartsReadStepAfterStepAreTheStepsBytes)
{
    Job job = DocumentJob(Settings(), 1).Build();
    std::mt19937 random(7);
    for (size_t cb :
         {1, 5, 100, 4096, 4100, 8186, 8191, 8192, 8193, 9000, 20000, 3, 70000, 2, 8192, 0, 65535, 4, 65533, 65536})
    {
        Bytes b(cb);
        for (BYTE &x : b)
        {
            x = static_cast<BYTE>(random());
        }
        job.steps.push_back({spoolsim::StepKind::Write, b});
    }
    FileOf file(SaveJob(job));
    spoolsim::JobFileSteps steps;
    std::string error;
    ASSERT_TRUE(steps.Open(file.Path(), error)) << error;
    ASSERT_EQ(steps.Count(), job.steps.size());
    const spoolsim::JobSteps inMemory(job);
    for (size_t i = 0; i < steps.Count(); i++)
    {
        const Bytes &step = job.steps[i].data;
        const Bytes want(step.begin(), step.begin() + static_cast<long>(std::min<size_t>(step.size(), 4)));
        BYTE lead[spoolsim::StepSource::kLead];
        ASSERT_EQ(steps.Lead(i, lead), want.size()) << i;
        EXPECT_EQ(Bytes(lead, lead + want.size()), want) << "step " << i << " of " << step.size() << " bytes";
        ASSERT_EQ(inMemory.Lead(i, lead), want.size()) << i;
        EXPECT_EQ(Bytes(lead, lead + want.size()), want) << "step " << i << " in memory";
    }
    for (size_t want : {size_t(1), size_t(4), size_t(4096), size_t(9000)})
    {
        for (size_t offset : {size_t(0), size_t(3)})
        {
            for (size_t i = 0; i < steps.Count(); i++)
            {
                const Bytes &step = job.steps[i].data;
                if (offset >= step.size())
                {
                    continue;
                }
                const size_t cb = std::min(want, step.size() - offset);
                Bytes part(cb);
                ASSERT_TRUE(steps.ReadPart(i, offset, part.data(), cb)) << steps.Error();
                EXPECT_EQ(part, Bytes(step.begin() + static_cast<long>(offset),
                                      step.begin() + static_cast<long>(offset + cb)))
                    << "step " << i << ", " << cb << " bytes from " << offset;
                if (i % 3 == 0)
                {
                    // The whole step between two heads.
                    Bytes buffer;
                    const Bytes *data = steps.Data(i, buffer);
                    ASSERT_NE(data, nullptr) << steps.Error();
                    EXPECT_EQ(*data, step) << i;
                }
            }
        }
    }
}

// Two threads read a job file at once (the hook's replay and the input
// pages' digests): each through a twin with a file of its own, so that
// neither moves the other's place in the file.
TEST(JobFile, ATwinReadsTheSameStepsInterleavedWithTheOriginal)
{
    const Job job = DocumentJob(Settings(), 3).Build();
    FileOf file(SaveJob(job));
    spoolsim::JobFileSteps steps;
    std::string error;
    ASSERT_TRUE(steps.Open(file.Path(), error)) << error;
    const std::unique_ptr<spoolsim::StepSource> twin = steps.Twin();
    ASSERT_NE(twin, nullptr);
    ASSERT_EQ(twin->Count(), steps.Count());
    EXPECT_EQ(twin->DocumentName(), steps.DocumentName());
    Bytes a, b;
    // Forwards in one, backwards in the other, a step at a time each.
    for (size_t k = 0; k < steps.Count(); k++)
    {
        const size_t back = steps.Count() - 1 - k;
        const Bytes *mine = steps.Data(k, a);
        const Bytes *theirs = twin->Data(back, b);
        ASSERT_NE(mine, nullptr) << steps.Error();
        ASSERT_NE(theirs, nullptr) << twin->Error();
        EXPECT_EQ(*mine, job.steps[k].data) << k;
        EXPECT_EQ(*theirs, job.steps[back].data) << back;
    }
    // A file that is gone when the twin is made (where an open file can be
    // removed): the twin's reads fail and say why; the original reads on.
    if (std::remove(file.Path().c_str()) == 0)
    {
        const std::unique_ptr<spoolsim::StepSource> late = steps.Twin();
        BYTE first[1];
        EXPECT_FALSE(late->ReadPart(0, 0, first, 1));
        EXPECT_NE(late->Error().find("cannot open " + file.Path() + " again"), std::string::npos) << late->Error();
        EXPECT_NE(steps.Data(0, a), nullptr) << steps.Error();
    }
}

class JobFileRun : public JobTest
{
};

// A job file changed while it runs: the step that is no longer as checked
// ends the job (DrvSplAbort) and nothing of it is printed.
TEST_F(JobFileRun, AJobFileThatChangesWhileItRunsEndsTheJobThere)
{
    DocumentJob document(Settings(), 3);
    const Job job = document.Build();
    const Bytes saved = SaveJob(job);
    // Where the last write's length lies.
    size_t at = 8 + 4 + 1 + 4 + 2 * job.documentName.size() + 4, lastWrite = 0;
    for (const spoolsim::Step &step : job.steps)
    {
        lastWrite = step.kind == spoolsim::StepKind::Write ? at + 1 : lastWrite;
        at += 5 + step.data.size();
    }
    // Shrunk to half; a step's length changed in place.
    Bytes changed = saved;
    changed[lastWrite] ^= 1;
    for (const Bytes &now : {Bytes(saved.begin(), saved.begin() + static_cast<long>(saved.size() / 2)), changed})
    {
        FileOf file(saved);
        spoolsim::JobFileSteps steps;
        std::string error;
        ASSERT_TRUE(steps.Open(file.Path(), error)) << error;
        const RunResult whole = spooler->Run(*spooler, steps);
        EXPECT_EQ(whole.stepError, "");
        ASSERT_EQ(whole.PrinterDocuments().size(), 1u);
        EXPECT_TRUE(whole.PrinterDocument(0).ended);

        spooler->beforeStep = [&](size_t i) {
            if (i == 2)
            {
                file.Write(now);
            }
        };
        const RunResult r = spooler->Run(*spooler, steps);
        spooler->beforeStep = nullptr;
        EXPECT_NE(r.stepError.find("changed after it was checked"), std::string::npos) << r.stepError;
        EXPECT_LT(r.writes.size(), whole.writes.size());
        for (const spoolsim::Document *d : r.PrinterDocuments())
        {
            EXPECT_TRUE(d->aborted || !d->ended) << "a job cut short is not printed";
        }
    }
}

// A long job's per-call traces can be left out; the others are kept in order.
TEST_F(JobFileRun, TracesAreKeptAsThePrinterChooses)
{
    const Job job = DocumentJob(Settings(), 3).Build();
    const RunResult all = spooler->Run(job);
    const WString write = W("QVXLUMPD: DrvSplWritePrinter \n");
    spooler->keepTrace = [&write](const WString &t) { return t != write; };
    const RunResult some = spooler->Run(job);
    spooler->keepTrace = nullptr;
    std::vector<WString> expected;
    for (const WString &t : all.traces)
    {
        if (t != write)
        {
            expected.push_back(t);
        }
    }
    EXPECT_LT(expected.size(), all.traces.size());
    EXPECT_EQ(some.traces, expected);
}

} // namespace
} // namespace scenarios
