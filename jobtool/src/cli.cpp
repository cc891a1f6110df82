#include "cli.h"

#include "args.h"
#include "commands.h"
#include "usage.h"

#include <algorithm>
#include <filesystem>
#include <iostream>
#include <new>
#include <stdexcept>

namespace jobtool
{

std::string ToWindowsPath(const std::string &path)
{
    std::string p = path;
    const bool windows = (p.size() >= 2 && p[1] == ':') || p.compare(0, 2, "\\\\") == 0;
    if (!windows)
    {
        std::error_code ec;
        std::filesystem::path abs = std::filesystem::absolute(path, ec).lexically_normal();
        p = ec ? path : abs.string();
#ifndef _WIN32
        p = "Z:" + p;
#endif
    }
    for (char &c : p)
    {
        c = c == '/' ? '\\' : c;
    }
    return p;
}

int Main(const std::vector<std::string> &args, std::ostream &out, std::ostream &err, const TerminalOpener &openTerminal)
{
    const std::string command = args.empty() ? std::string() : args.front();
    const std::vector<std::string> rest(args.begin() + (args.empty() ? 0 : 1), args.end());
    const bool wantsHelp = std::find(rest.begin(), rest.end(), "--help") != rest.end() ||
                           std::find(rest.begin(), rest.end(), "-h") != rest.end();
    if (command.empty())
    {
        err << UsageText();
        return kUsage;
    }
    if (command == "--help" || command == "-h" || (command == "help" && rest.empty()))
    {
        out << UsageText();
        return kDone;
    }
    if (command == "help" || wantsHelp)
    {
        const std::string topic = command == "help" ? rest.front() : command;
        std::optional<std::string> usage = CommandUsage(topic);
        if (!usage || (command == "help" && rest.size() > 1))
        {
            err << "jobtool: "
                << (usage ? "help takes one command"
                          : "no help on \"" + topic + "\" (make, run, explain, show or help)")
                << "\nTry 'jobtool --help'.\n";
            return kUsage;
        }
        out << *usage;
        return kDone;
    }
    try
    {
        if (command == "make")
        {
            return Make(rest, out, err);
        }
        if (command == "run")
        {
            return Run(rest, out, err, openTerminal);
        }
        if (command == "explain")
        {
            return ExplainCommand(rest, out, err);
        }
        if (command == "show")
        {
            return ShowCommand(rest, out, err);
        }
        throw UsageError{"no command \"" + command + "\" (make, run, explain, show or help)"};
    }
    catch (const UsageError &e)
    {
        err << "jobtool: " << e.message << "\nTry 'jobtool --help'.\n";
        return kUsage;
    }
    // Whatever a command did not foresee ends it with words, never an abort.
    catch (const std::bad_alloc &)
    {
        err << "jobtool: " << command << ": out of memory\n";
        return kFailed;
    }
    catch (const std::exception &e)
    {
        err << "jobtool: " << command << ": " << e.what() << "\n";
        return kFailed;
    }
}

} // namespace jobtool
