#include "boxes.h"

#include "args.h"

#include <algorithm>
#include <iostream>

namespace jobtool
{

namespace
{

std::string Buttons(UINT style)
{
    switch (style & MB_TYPEMASK)
    {
    case MB_OKCANCEL:
        return "[OK] [Cancel]";
    case MB_YESNO:
        return "[Yes] [No]";
    case MB_YESNOCANCEL:
        return "[Yes] [No] [Cancel]";
    case MB_RETRYCANCEL:
        return "[Retry] [Cancel]";
    case MB_ABORTRETRYIGNORE:
        return "[Abort] [Retry] [Ignore]";
    default:
        return "[OK]";
    }
}

const char *Icon(UINT style)
{
    switch (style & MB_ICONMASK)
    {
    case MB_ICONERROR:
        return "error";
    case MB_ICONQUESTION:
        return "question";
    case MB_ICONWARNING:
        return "warning";
    case MB_ICONINFORMATION:
        return "information";
    default:
        return "message";
    }
}

} // namespace

int Terminal::operator()(const spoolsim::MessageBoxRecord &box)
{
    m_out << "+-- " << Icon(box.style) << " box"
          << (box.captionNull ? std::string() : ": " + spoolsim::Narrow(box.caption)) << "\n";
    m_out << "| " << spoolsim::Narrow(box.text) << "\n";
    m_out << "| " << Buttons(box.style) << "\n";
    const bool question = (box.style & MB_TYPEMASK) == MB_OKCANCEL;
    if (!m_answers.empty() || !question)
    {
        int answer = IDOK;
        if (question && !m_answers.empty())
        {
            answer = m_answers[std::min(m_next, m_answers.size() - 1)];
            m_next++;
        }
        if (!question && m_answers.empty())
        {
            m_out << "+-- press Enter: ";
            m_out.flush();
            std::string line;
            return Read(line) ? IDOK : 0;
        }
        m_out << "+-- answered " << (answer == IDOK ? "OK" : "Cancel") << "\n";
        return answer;
    }
    for (;;)
    {
        m_out << "+-- answer ok or cancel: ";
        m_out.flush();
        std::string line;
        if (!Read(line))
        {
            return 0;
        }
        line = Lower(line);
        while (!line.empty() && (line.back() == '\r' || line.back() == ' '))
        {
            line.pop_back();
        }
        if (line.empty() || line == "ok" || line == "o")
        {
            return IDOK;
        }
        if (line == "cancel" || line == "c")
        {
            return IDCANCEL;
        }
    }
}

bool Terminal::Read(std::string &line)
{
    if (!std::getline(m_in, line))
    {
        m_out << "(no terminal input: the box could not be shown)\n";
        return false;
    }
    if (m_echo)
    {
        m_out << line << "\n";
    }
    return true;
}

} // namespace jobtool
