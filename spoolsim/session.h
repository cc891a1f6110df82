// A job driven through the hooks one call at a time, for jobs too large to
// hold as a Job (benchmarks, soak runs): the same calling order and spooler
// documents as Spooler::Run, without keeping a record of every write.
#pragma once

#include "spoolsim.h"

namespace spoolsim
{

struct RunState;

class JobSession
{
  public:
    // DrvSplStartDoc on a new printer handle and spooler document.
    explicit JobSession(Spooler &spooler, const WString &documentName = W("Test document"));
    ~JobSession(); // Finish() if not yet done
    JobSession(const JobSession &) = delete;
    JobSession &operator=(const JobSession &) = delete;

    bool Started() const;
    BOOL Write(const void *pv, DWORD cb, DWORD *pcWritten = nullptr);
    BOOL StartPage();
    BOOL EndPage();
    // Debug strings are kept only when asked: a job of millions of buffers
    // would otherwise hold one trace per call.
    bool keepTraces = false;

    // DrvSplEndDoc alone, for timing the output routines apart from the
    // job's close.
    void EndDoc();

    // DrvSplEndDoc (when endDoc and not yet called), DrvSplAbort (when
    // abort), DrvSplClose, and the spooler's end of the document; the run's
    // documents and traces.
    RunResult Finish(bool endDoc = true, bool abort = false);

  private:
    Spooler &m_spooler;
    std::unique_ptr<RunState> m_run;
    void *m_hPrinter = nullptr;
    HANDLE m_hJob = nullptr;
    bool m_finished = false;
    bool m_endDocDone = false;
    RunResult m_result;
};

} // namespace spoolsim
