#include "session.h"

#include "simstate.h"

namespace spoolsim
{

// Every call of the session works for its run, on whichever thread it comes.
JobSession::JobSession(Spooler &spooler, const WString &documentName) : m_spooler(spooler), m_run(new RunState)
{
    Spooler::Impl &s = *spooler.impl();
    m_run->sim = &s;
    m_run->printer = &spooler;
    m_run->result = &m_result;
    // Whether traces are kept is known from the first call on: the start's
    // are kept until then.
    m_run->keepTraces = true;
    spooler.user.boxes.clear();
    if (s.hHook == nullptr)
    {
        return;
    }
    CurrentRunScope scope(m_run.get());
    PrinterHandle *ph = m_run->NewHandle();
    m_hPrinter = ph;
    DWORD jobId = m_run->StartDocument(ph, documentName, WString(), W("RAW"), false);
    m_run->CallHook([&] { m_hJob = s.hooks.StartDoc(ph, jobId); });
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

BOOL JobSession::Write(const void *pv, DWORD cb, DWORD *pcWritten)
{
    if (m_hJob == nullptr || m_finished)
    {
        return FALSE;
    }
    CurrentRunScope scope(m_run.get());
    m_run->keepTraces = keepTraces;
    DWORD cbWritten = 0;
    BOOL ok = FALSE;
    m_run->CallHook([&] { ok = m_spooler.impl()->hooks.WritePrinter(m_hJob, const_cast<void *>(pv), cb, &cbWritten); });
    if (pcWritten != nullptr)
    {
        *pcWritten = cbWritten;
    }
    return ok;
}

BOOL JobSession::StartPage()
{
    if (m_hJob == nullptr || m_finished)
    {
        return FALSE;
    }
    CurrentRunScope scope(m_run.get());
    m_run->keepTraces = keepTraces;
    BOOL ok = FALSE;
    m_run->CallHook([&] { ok = m_spooler.impl()->hooks.StartPage(m_hJob); });
    return ok;
}

BOOL JobSession::EndPage()
{
    if (m_hJob == nullptr || m_finished)
    {
        return FALSE;
    }
    CurrentRunScope scope(m_run.get());
    m_run->keepTraces = keepTraces;
    BOOL ok = FALSE;
    m_run->CallHook([&] { ok = m_spooler.impl()->hooks.EndPage(m_hJob); });
    m_result.endPageResults.push_back(ok);
    return ok;
}

void JobSession::EndDoc()
{
    if (m_hJob != nullptr && !m_finished && !m_endDocDone)
    {
        CurrentRunScope scope(m_run.get());
        m_run->keepTraces = keepTraces;
        m_endDocDone = true;
        m_run->CallHook([&] { m_spooler.impl()->hooks.EndDoc(m_hJob); });
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
    CurrentRunScope scope(m_run.get());
    m_run->keepTraces = keepTraces;
    if (m_hJob != nullptr)
    {
        if (endDoc && !m_endDocDone)
        {
            m_run->CallHook([&] { s.hooks.EndDoc(m_hJob); });
        }
        if (abort)
        {
            m_run->CallHook([&] { s.hooks.Abort(m_hJob); });
        }
        m_run->CallHook([&] { s.hooks.Close(m_hJob); });
    }
    if (m_hPrinter != nullptr)
    {
        m_run->EndDocument(static_cast<PrinterHandle *>(m_hPrinter), m_hJob == nullptr || abort);
    }
    m_run->CountLeftovers();
    if (!keepTraces)
    {
        m_result.traces.clear();
    }
    m_result.documents = m_run->documents;
    return m_result;
}

} // namespace spoolsim
