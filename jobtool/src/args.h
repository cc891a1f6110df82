// The arguments of one command: options with values and positional arguments.
#pragma once

#include <cctype>
#include <exception>
#include <initializer_list>
#include <optional>
#include <string>
#include <vector>

namespace jobtool
{

// A command line that cannot be used; the tool says why and exits with 2.
struct UsageError
{
    std::string message;
};

inline std::string Lower(std::string s)
{
    for (char &c : s)
    {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return s;
}

// Walks the arguments of a command: options with values (as "--x V" or
// "--x=V") and positional arguments.
class Args
{
  public:
    explicit Args(const std::vector<std::string> &args) : m_args(args)
    {
    }
    bool Next()
    {
        if (m_i >= m_args.size())
        {
            return false;
        }
        m_current = m_args[m_i++];
        m_value.reset();
        size_t eq = m_current.find('=');
        if (m_current.compare(0, 2, "--") == 0 && eq != std::string::npos)
        {
            m_value = m_current.substr(eq + 1);
            m_current.resize(eq);
        }
        return true;
    }
    const std::string &Current() const
    {
        return m_current;
    }
    bool IsOption() const
    {
        return m_current.size() > 1 && m_current[0] == '-';
    }
    std::string Value()
    {
        if (m_value)
        {
            return *m_value;
        }
        if (m_i >= m_args.size())
        {
            throw UsageError{m_current + " needs a value"};
        }
        return m_args[m_i++];
    }
    int Number(int min, int max)
    {
        std::string v = Value();
        size_t used = 0;
        int n = 0;
        try
        {
            n = std::stoi(v, &used);
        }
        catch (const std::exception &)
        {
            used = 0;
        }
        if (used == 0 || used != v.size() || n < min || n > max)
        {
            throw UsageError{m_current + " needs a number from " + std::to_string(min) + " to " + std::to_string(max) +
                             ", not \"" + v + "\""};
        }
        return n;
    }
    std::string Choice(std::initializer_list<const char *> choices)
    {
        std::string v = Lower(Value());
        std::string list;
        for (const char *c : choices)
        {
            if (v == c)
            {
                return v;
            }
            list += (list.empty() ? "" : "|") + std::string(c);
        }
        throw UsageError{m_current + " takes " + list + ", not \"" + v + "\""};
    }
    void NoValue() const
    {
        if (m_value)
        {
            throw UsageError{m_current + " takes no value"};
        }
    }

  private:
    const std::vector<std::string> &m_args;
    size_t m_i = 0;
    std::string m_current;
    std::optional<std::string> m_value;
};

} // namespace jobtool
