// The step-by-step job session that the benchmarks drive must be the same
// job to the hook as a whole Job run: the same printer documents, the same
// messages, the same end-of-page results.
#include <gtest/gtest.h>

#include "catalogue.h"
#include "fuzzjob.h"
#include "session.h"

namespace
{

using spoolsim::RunResult;

std::vector<spoolsim::Bytes> Printed(const RunResult &r)
{
    std::vector<spoolsim::Bytes> docs;
    for (const spoolsim::Document *d : r.PrinterDocuments())
    {
        docs.push_back(d->data);
    }
    return docs;
}

// The traces, less the spool file's name, which is new for every job.
std::vector<spoolsim::WString> Traces(const RunResult &r)
{
    std::vector<spoolsim::WString> traces;
    for (const spoolsim::WString &t : r.traces)
    {
        if (t.find(W("\\VNT")) == spoolsim::WString::npos)
        {
            traces.push_back(t);
        }
    }
    return traces;
}

TEST(JobSession, PrintsWhatAWholeRunPrints)
{
    for (const fuzzjob::Scenario &s : fuzzjob::Catalogue())
    {
        if (s.jobs.size() != 1)
        {
            continue;
        }
        const spoolsim::Job &job = s.jobs[0];
        RunResult whole, stepped;
        {
            spoolsim::Machine machine;
            fuzzjob::PrepareDriverFiles(s.iniVariant);
            spoolsim::Spooler spooler;
            whole = spooler.Run(job);
        }
        {
            spoolsim::Machine machine;
            fuzzjob::PrepareDriverFiles(s.iniVariant);
            spoolsim::Spooler spooler;
            spoolsim::JobSession session(spooler, job.documentName);
            session.keepTraces = true;
            ASSERT_TRUE(session.Started()) << s.name;
            for (const spoolsim::Step &step : job.steps)
            {
                switch (step.kind)
                {
                case spoolsim::StepKind::Write:
                    session.Write(step.data.data(), static_cast<DWORD>(step.data.size()));
                    break;
                case spoolsim::StepKind::StartPage:
                    session.StartPage();
                    break;
                case spoolsim::StepKind::EndPage:
                    session.EndPage();
                    break;
                }
            }
            stepped = session.Finish(job.endDoc, job.abort);
            EXPECT_TRUE(spoolsim::Machine::SpoolFilesLeft() == 0) << s.name;
        }
        EXPECT_EQ(Printed(stepped), Printed(whole)) << s.name;
        EXPECT_EQ(stepped.endPageResults, whole.endPageResults) << s.name;
        ASSERT_EQ(stepped.boxes.size(), whole.boxes.size()) << s.name;
        for (size_t i = 0; i < whole.boxes.size(); i++)
        {
            EXPECT_EQ(stepped.boxes[i].text, whole.boxes[i].text) << s.name;
        }
        EXPECT_EQ(Traces(stepped), Traces(whole)) << s.name;
    }
}

TEST(JobSession, DropsTracesUnlessAskedAndEndsTheDocumentOnce)
{
    spoolsim::Machine machine;
    spoolsim::Spooler spooler;
    spooler.keepData = false;
    DRVDEVMODE dm = spoolsim::DefaultSettings();
    const BYTE *p = reinterpret_cast<const BYTE *>(&dm);
    spoolsim::JobSession session(spooler);
    ASSERT_TRUE(session.Write(p, sizeof(dm)));
    BYTE data[16] = {'d'};
    for (int i = 0; i < 10000; i++)
    {
        ASSERT_TRUE(session.Write(data, sizeof(data)));
    }
    session.EndDoc();
    RunResult r = session.Finish(); // DrvSplEndDoc is not called twice
    EXPECT_TRUE(r.traces.empty());
    ASSERT_EQ(r.PrinterDocuments().size(), 1u);
    EXPECT_EQ(r.PrinterDocument(0).cbTotal, 10000u * sizeof(data));
    EXPECT_TRUE(r.PrinterDocument(0).ended);
    EXPECT_EQ(session.Finish().PrinterDocument(0).cbTotal, 10000u * sizeof(data));
}

} // namespace
