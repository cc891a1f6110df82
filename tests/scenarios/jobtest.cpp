#include "jobtest.h"

#include <cctype>
#include <cstdlib>
#include <cstring>

namespace scenarios
{

using spoolsim::Narrow;
using spoolsim::ToBytes;

Part P(const std::string &name, const Bytes &bytes)
{
    return Part{name, bytes};
}

Part P(const std::string &name, const std::string &text)
{
    return Part{name, ToBytes(text)};
}

DRVDEVMODE Settings()
{
    return spoolsim::DefaultSettings();
}

::testing::AssertionResult PartsEqual(const Bytes &actual, const Parts &expected)
{
    std::string report = spoolsim::CompareParts(actual, expected);
    if (report.empty())
    {
        return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure() << report;
}

Parts Layout(const DocumentJob &job, const std::vector<Item> &items)
{
    Parts parts;
    for (const Item &item : items)
    {
        if (item.page > 0)
        {
            parts.push_back(P("page " + std::to_string(item.page), job.Page(item.page)));
        }
        else if (item.name == "H")
        {
            parts.push_back(P("header", job.Header()));
        }
        else if (item.name == "h")
        {
            parts.push_back(P("header without lead-ins", job.ShortHeader()));
        }
        else if (item.name == "L1")
        {
            parts.push_back(P("lead-in 1", job.leadIn1));
        }
        else if (item.name == "L2")
        {
            parts.push_back(P("lead-in 2", job.leadIn2));
        }
        else if (item.name == "T")
        {
            parts.push_back(P("trailer", job.trailer));
        }
        else
        {
            ADD_FAILURE() << "unknown layout item " << item.name;
        }
    }
    return parts;
}

std::vector<WString> IndexTraces(int iTotalPage, DWORD dwCount, const std::vector<DWORD> &pages)
{
    std::vector<WString> traces;
    traces.push_back(spoolsim::Widen(" pData->file_info.iTotalPage = " + std::to_string(iTotalPage) + " \n"));
    traces.push_back(spoolsim::Widen(" pData->file_info.dwCount = " + std::to_string(dwCount) + " \n"));
    for (size_t i = 0; i < pages.size(); i++)
    {
        traces.push_back(spoolsim::Widen(" pData->file_info.dwPage[" + std::to_string(i) +
                                         "] = " + std::to_string(pages[i]) + " \n"));
    }
    return traces;
}

void JobTest::SetUp()
{
    UseMachine();
}

bool HookThreadsWanted()
{
    const char *psz = std::getenv("KD_HOOK_THREADS");
    return psz != nullptr && std::strcmp(psz, "1") == 0;
}

void JobTest::UseMachine(spoolsim::OverlayLibrary overlay)
{
    spooler.reset();
    machine.reset();
    machine = std::make_unique<spoolsim::Machine>(overlay);
    spooler = std::make_unique<spoolsim::Spooler>();
    ASSERT_TRUE(spooler->Loaded()) << "kd7720um.dll not loaded from " << Narrow(spoolsim::BuildBinDir());
    spooler->hookThreads = HookThreadsWanted();
}

// Text that differs between machines for reasons that are not the product's:
// the Windows directory's spelling and the spool file's name.
static std::string Normalize(const WString &text)
{
    std::string s = Narrow(text);
    std::string windir = Narrow(spoolsim::WindowsDir());
    std::string lower = s;
    for (char &c : lower)
    {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    std::string lowerWindir = windir;
    for (char &c : lowerWindir)
    {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    for (size_t at = lower.find(lowerWindir); !windir.empty() && at != std::string::npos;
         at = lower.find(lowerWindir, at + 1))
    {
        s.replace(at, windir.size(), std::string(windir.size(), '\x01'));
    }
    std::string out;
    for (size_t i = 0; i < s.size(); i++)
    {
        if (s[i] == '\x01')
        {
            out += "%WINDIR%";
            i += windir.size() - 1;
        }
        else
        {
            out += s[i];
        }
    }
    size_t vnt = out.find("\\VNT");
    if (vnt != std::string::npos && out.size() > 4 && out.compare(out.size() - 4, 4, ".tmp") == 0)
    {
        out = "<spool file>";
    }
    return spoolsim::Printable(ToBytes(out), 4096);
}

static std::string DataText(const Bytes &data)
{
    if (data.size() <= 65536)
    {
        return spoolsim::Printable(data, 65536);
    }
    uint64_t hash = 1469598103934665603ULL;
    for (BYTE b : data)
    {
        hash = (hash ^ b) * 1099511628211ULL;
    }
    return "fnv1a64=" + std::to_string(hash);
}

RunResult JobTest::Run(const spoolsim::Job &job)
{
    RunResult r = spooler->Run(job);
    std::string &t = m_transcript;
    t += "run " + std::to_string(++m_runs) + " started=" + std::to_string(r.started) + "\n";
    for (const spoolsim::WriteRecord &w : r.writes)
    {
        t += "  write cb=" + std::to_string(w.cbBuf) + " result=" + std::to_string(w.result) +
             " written=" + std::to_string(w.cbWritten) + "\n";
    }
    for (BOOL b : r.endPageResults)
    {
        t += "  endpage " + std::to_string(b) + "\n";
    }
    for (const spoolsim::Document &d : r.documents)
    {
        t += "  document job=" + std::to_string(d.jobId) + " name=" + Normalize(d.name) +
             " datatype=" + Normalize(d.datatype) + " output=" + Normalize(d.outputFile) +
             " ended=" + std::to_string(d.ended) + " aborted=" + std::to_string(d.aborted) +
             " nested=" + std::to_string(d.nested) + " bytes=" + std::to_string(d.cbTotal) + "\n    " +
             DataText(d.data) + "\n";
    }
    for (const WString &trace : r.traces)
    {
        t += "  trace " + Normalize(trace) + "\n";
    }
    for (const spoolsim::MessageBoxRecord &b : r.boxes)
    {
        t += "  box text=" + Normalize(b.text) + " caption=" + (b.captionNull ? "NULL" : Normalize(b.caption)) +
             " style=" + std::to_string(b.style) + " owner=" + (b.ownerNull ? "NULL" : "set") +
             " answer=" + std::to_string(b.answer) + "\n";
    }
    return r;
}

void JobTest::TearDown()
{
    spooler.reset();
    machine.reset();
    const char *dir = std::getenv("KD_TRANSCRIPTS");
    if (dir == nullptr || *dir == 0 || m_transcript.empty())
    {
        return;
    }
    const ::testing::TestInfo *info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = std::string(info->test_suite_name()) + "." + info->name() + ".txt";
    for (char &c : name)
    {
        if (c == '/')
        {
            c = '_';
        }
    }
    spoolsim::Machine::WriteFileBytes(spoolsim::Widen(std::string(dir) + "\\" + name), ToBytes(m_transcript));
}

} // namespace scenarios
