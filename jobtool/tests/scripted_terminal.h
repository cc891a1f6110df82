// A person at a terminal, scripted for in-process runs of the tool: the
// lines typed (running out is Ctrl-D), everything shown, and a look around
// each time the tool waits for a line.
#pragma once

#include "person.h"
#include "terminal.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace jobtool_test
{

struct Screen
{
    std::string text;               // all the tool wrote to the terminal
    std::vector<std::string> lines; // what the person types, in order
    size_t next = 0;
    std::function<void()> beforeRead; // called as the tool waits for each line
    int opened = 0;                   // how often the tool opened the terminal
};

class ScriptedTerminal : public jobtool::Terminal
{
  public:
    explicit ScriptedTerminal(Screen &screen) : m_screen(screen)
    {
    }
    bool Write(const std::string &text) override
    {
        m_screen.text += text;
        return true;
    }
    bool ReadLine(std::string &line) override
    {
        if (m_screen.beforeRead)
        {
            m_screen.beforeRead();
        }
        if (m_screen.next >= m_screen.lines.size())
        {
            return false;
        }
        line = m_screen.lines[m_screen.next++];
        m_screen.text += line + "\n";
        return true;
    }

  private:
    Screen &m_screen;
};

inline jobtool::TerminalOpener OpenScripted(Screen &screen)
{
    return [&screen](std::string &) -> std::unique_ptr<jobtool::Terminal> {
        screen.opened++;
        return std::make_unique<ScriptedTerminal>(screen);
    };
}

} // namespace jobtool_test
