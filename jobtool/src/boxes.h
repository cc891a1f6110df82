// Message boxes shown on the terminal and answered there or by --answer.
#pragma once

#include "spoolsim.h"

#include <iosfwd>
#include <string>
#include <vector>

namespace jobtool
{

// Shows a message box on the terminal and takes the user's answer, from
// --answer or from the input; 0 (the box could not be shown) when the input
// has ended.
class Terminal
{
  public:
    Terminal(std::vector<int> answers, std::istream &in, std::ostream &out, bool echo)
        : m_answers(std::move(answers)), m_in(in), m_out(out), m_echo(echo)
    {
    }
    int operator()(const spoolsim::MessageBoxRecord &box);

  private:
    bool Read(std::string &line);

    std::vector<int> m_answers;
    size_t m_next = 0;
    std::istream &m_in;
    std::ostream &m_out;
    bool m_echo;
};

} // namespace jobtool
