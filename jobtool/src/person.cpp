#include "person.h"

#include "driver.h"
#include "replay.h"

#include <algorithm>
#include <cstring>
#include <ostream>

namespace jobtool
{

bool PrintsInstructionPage(const spoolsim::StepSource &job)
{
    const std::optional<DRVDEVMODE> dm = SettingsOf(job);
    return dm && dm->sInstructionPage > 0 && TurnOfJob(job).has_value();
}

std::optional<StackTurn> TurnOfJob(const spoolsim::StepSource &job)
{
    const std::optional<DRVDEVMODE> settings = SettingsOf(job);
    if (!settings)
    {
        return std::nullopt;
    }
    const DRVDEVMODE &dm = *settings;
    if (dm.sPassThrough != 0)
    {
        return std::nullopt;
    }
    StackTurn turn;
    if (dm.sBooklet != 0)
    {
        if (dm.sHardwareBooklet == 2 || dm.sManualDuplex != 2)
        {
            return std::nullopt; // the printer turns the sheets
        }
        turn.kind = StackTurn::Kind::Booklet;
    }
    else if (dm.sManualDuplex != 0)
    {
        turn.kind = StackTurn::Kind::ManualDuplex;
    }
    else
    {
        return std::nullopt;
    }
    turn.pages = 0;
    for (size_t i = 0; i < job.Count(); i++)
    {
        turn.pages += job.Kind(i) == spoolsim::StepKind::StartPage ? 1 : 0;
    }
    turn.order = dm.sManualDuplexOrder == 1 ? 1 : 0;
    return turn;
}

PromptBox BoxOf(const spoolsim::MessageBoxRecord &box)
{
    PromptBox p;
    p.caption = box.captionNull ? std::string() : spoolsim::Narrow(box.caption);
    p.text = spoolsim::Narrow(box.text);
    p.okCancel = (box.style & MB_TYPEMASK) == MB_OKCANCEL;
    return p;
}

PersonAtPrinter::PersonAtPrinter(std::vector<int> answers, TerminalOpener open, std::optional<StackTurn> turn,
                                 bool instructionPage, std::ostream &report)
    : m_answers(std::move(answers)), m_open(std::move(open)), m_turn(std::move(turn)),
      m_instructionPage(instructionPage), m_report(report)
{
}

void PersonAtPrinter::Completed(const Delivered &document)
{
    m_completed.push_back(document);
}

std::vector<std::string> PersonAtPrinter::Advice()
{
    // The turn comes once, after the first pass is complete.
    if (!m_turn || m_turnTold || m_completed.size() != 1)
    {
        return {};
    }
    m_turnTold = true;
    const Delivered &first = m_completed.front();
    StackTurn turn = *m_turn;
    turn.queued = !first.queueJobId.empty();
    turn.firstPass = turn.queued ? "job " + first.queueJobId + " on queue " + first.queue : first.path;
    m_advice = StackAdvice(turn);
    if (m_instructionPage && !m_advice.empty())
    {
        // It comes out with the pass, on a sheet of its own, but is no back
        // of any page: put back, it would take a front page of the document.
        m_advice.insert(m_advice.begin() + 1, "The pass begins with the instruction page, one sheet more: read it "
                                              "and keep it out of the stack that goes back.");
    }
    return m_advice;
}

int PersonAtPrinter::Answer(const spoolsim::MessageBoxRecord &record)
{
    const PromptBox box = BoxOf(record);
    const std::string name = box.caption.empty() ? "\"" + box.text + "\"" : box.caption;
    if (Stopped())
    {
        m_report << "question " << name << ": not asked, the job is stopped\n";
        return IDCANCEL;
    }
    // A document the person cannot take: nobody should turn the stack for it.
    for (const Delivered &d : m_completed)
    {
        if (!d.Ok())
        {
            m_stop = "document " + std::to_string(d.number) + " did not reach its place (" + d.error +
                     "), so the job stops at the question " + name;
            m_report << "question " << name << ": answered Cancel, document " << d.number << " failed\n";
            return IDCANCEL;
        }
    }
    const std::vector<std::string> advice = Advice();
    if (!m_answers.empty())
    {
        const int answer = m_answers[std::min(m_next++, m_answers.size() - 1)];
        m_report << FormatPrompt(box, advice) << "+-- answered " << (answer == IDOK ? "OK" : "Cancel")
                 << " (--answer)\n";
        if (answer != IDOK && !box.okCancel)
        {
            m_stop = "--answer cancel at the question " + name;
        }
        return answer;
    }
    if (!m_opened)
    {
        m_opened = true;
        if (m_open)
        {
            m_terminal = m_open(m_noTerminal);
        }
        else
        {
            m_noTerminal = "no terminal";
        }
    }
    const PromptOutcome outcome = Ask(m_terminal.get(), m_noTerminal, box, advice);
    switch (outcome.answer)
    {
    case jobtool::Answer::Ok:
        m_report << "question " << name << ": answered OK on the terminal\n";
        return IDOK;
    case jobtool::Answer::Cancel:
        m_report << "question " << name << ": answered Cancel on the terminal\n";
        if (!box.okCancel)
        {
            m_stop = "the person cancelled the job at the question " + name;
        }
        return IDCANCEL;
    default:
        m_stop = outcome.message;
        return IDCANCEL;
    }
}

} // namespace jobtool
