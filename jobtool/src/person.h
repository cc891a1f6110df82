// The person at the printer during "run": answers the hook's message boxes,
// from --answer or on the terminal, and is told at the turn of a job printed
// in two passes which file or queue job to take, how to put the stack back
// and when one more sheet is needed. Cancel (or the end of the input) at a
// box that has no Cancel of its own stops the job: no later document is
// written or printed.
#pragma once

#include "delivery.h"
#include "prompt.h"

#include "spoolsim.h"

#include <functional>
#include <iosfwd>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace jobtool
{

// Opens the person's terminal; null, and why, when there is none.
using TerminalOpener = std::function<std::unique_ptr<Terminal>(std::string &why)>;

// The turn of the stack a job's settings ask for (manual duplex, or a
// booklet turned by hand), with the document's page count (the pages the
// spooler starts); nothing when the job prints in one pass. firstPass is
// left for the run to fill in.
std::optional<StackTurn> TurnOfJob(const spoolsim::StepSource &job);
// The job's first pass begins with the driver's instruction page.
bool PrintsInstructionPage(const spoolsim::StepSource &job);

// A hook's message box in the tool's terms.
PromptBox BoxOf(const spoolsim::MessageBoxRecord &box);

class PersonAtPrinter
{
  public:
    // answers: IDOK or IDCANCEL, one per box, the last for the rest; empty:
    // the boxes are asked on the terminal that `open` gives. The report gets
    // a line per answer (never the box's text when it was asked on the
    // terminal: that is the person's, not the report's).
    PersonAtPrinter(std::vector<int> answers, TerminalOpener open, std::optional<StackTurn> turn, bool instructionPage,
                    std::ostream &report);

    // A printer document is complete, and where it went.
    void Completed(const Delivered &document);
    // The answer to a box, as MessageBoxW returns it.
    int Answer(const spoolsim::MessageBoxRecord &box);

    // The job was stopped at a box; why.
    bool Stopped() const
    {
        return !m_stop.empty();
    }
    const std::string &StopReason() const
    {
        return m_stop;
    }
    // What the person was told at the turn of the stack; empty before it.
    const std::vector<std::string> &TurnAdvice() const
    {
        return m_advice;
    }

  private:
    std::vector<std::string> Advice();

    std::vector<int> m_answers;
    size_t m_next = 0;
    TerminalOpener m_open;
    bool m_opened = false;
    std::unique_ptr<Terminal> m_terminal;
    std::string m_noTerminal;
    std::optional<StackTurn> m_turn;
    bool m_instructionPage = false;
    bool m_turnTold = false;
    std::vector<std::string> m_advice;
    std::vector<Delivered> m_completed;
    std::ostream &m_report;
    std::string m_stop;
};

} // namespace jobtool
