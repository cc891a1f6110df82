#include "session.h"

#include "simstate.h"

namespace spoolsim
{

JobSession::JobSession(Spooler &spooler, const WString &documentName) : m_spooler(spooler)
{
    Spooler::Impl &s = *spooler.impl();
    s.documents.clear();
    s.handles.clear();
    s.cWritePrinter = 0;
    s.run = &m_result;
    spooler.user.boxes.clear();
    platform::StartDebugCapture();
    if (s.hHook == nullptr)
    {
        return;
    }
    PrinterHandle *ph = s.NewHandle();
    m_hPrinter = ph;
    DWORD jobId = s.StartDocument(ph, documentName, WString(), W("RAW"), false);
    m_hJob = s.hooks.StartDoc(ph, jobId);
    m_result.started = m_hJob != nullptr;
}

JobSession::~JobSession()
{
    if (!m_finished)
    {
        Finish();
    }
}

bool JobSession::Started() const
{
    return m_hJob != nullptr;
}

void JobSession::Trim()
{
    if (!keepTraces && ++m_cCalls % 4096 == 0)
    {
        platform::StartDebugCapture(); // drops what was captured
    }
}

BOOL JobSession::Write(const void *pv, DWORD cb, DWORD *pcWritten)
{
    if (m_hJob == nullptr || m_finished)
    {
        return FALSE;
    }
    DWORD cbWritten = 0;
    BOOL ok = m_spooler.impl()->hooks.WritePrinter(m_hJob, const_cast<void *>(pv), cb, &cbWritten);
    if (pcWritten != nullptr)
    {
        *pcWritten = cbWritten;
    }
    Trim();
    return ok;
}

BOOL JobSession::StartPage()
{
    if (m_hJob == nullptr || m_finished)
    {
        return FALSE;
    }
    BOOL ok = m_spooler.impl()->hooks.StartPage(m_hJob);
    Trim();
    return ok;
}

BOOL JobSession::EndPage()
{
    if (m_hJob == nullptr || m_finished)
    {
        return FALSE;
    }
    BOOL ok = m_spooler.impl()->hooks.EndPage(m_hJob);
    m_result.endPageResults.push_back(ok);
    Trim();
    return ok;
}

void JobSession::EndDoc()
{
    if (m_hJob != nullptr && !m_finished && !m_endDocDone)
    {
        m_endDocDone = true;
        m_spooler.impl()->hooks.EndDoc(m_hJob);
    }
}

RunResult JobSession::Finish(bool endDoc, bool abort)
{
    Spooler::Impl &s = *m_spooler.impl();
    if (m_finished)
    {
        return m_result;
    }
    m_finished = true;
    if (m_hJob != nullptr)
    {
        if (endDoc && !m_endDocDone)
        {
            s.hooks.EndDoc(m_hJob);
        }
        if (abort)
        {
            s.hooks.Abort(m_hJob);
        }
        s.hooks.Close(m_hJob);
    }
    if (m_hPrinter != nullptr)
    {
        s.EndDocument(static_cast<PrinterHandle *>(m_hPrinter), m_hJob == nullptr || abort);
    }
    std::vector<WString> traces = platform::TakeDebugStrings();
    if (keepTraces)
    {
        m_result.traces = std::move(traces);
    }
    m_result.documents = s.documents;
    s.run = nullptr;
    return m_result;
}

} // namespace spoolsim
