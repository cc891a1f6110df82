#include "cli.h"

#include <cstdio>
#include <exception>
#include <iostream>
#include <new>

#ifdef _WIN32
#include <windows.h>

#include <shellapi.h>

// The tool's text is UTF-8 on both builds, as std::filesystem reads paths
// here: the C runtime's arguments are in the ANSI code page, which cannot
// spell every file name and would be taken for UTF-8 by the path functions.
static std::vector<std::string> Arguments(int argc, char **argv)
{
    int count = 0;
    LPWSTR *wide = CommandLineToArgvW(GetCommandLineW(), &count);
    if (wide == nullptr)
    {
        return std::vector<std::string>(argv + (argc > 0 ? 1 : 0), argv + argc);
    }
    std::vector<std::string> args;
    for (int i = 1; i < count; i++)
    {
        const int cb = WideCharToMultiByte(CP_UTF8, 0, wide[i], -1, nullptr, 0, nullptr, nullptr);
        std::string arg(cb > 0 ? static_cast<size_t>(cb) : 1, '\0');
        if (cb > 0)
        {
            WideCharToMultiByte(CP_UTF8, 0, wide[i], -1, &arg[0], cb, nullptr, nullptr);
        }
        arg.pop_back(); // the terminator
        args.push_back(arg);
    }
    LocalFree(wide);
    SetConsoleOutputCP(CP_UTF8);
    return args;
}
#else
static std::vector<std::string> Arguments(int argc, char **argv)
{
    return std::vector<std::string>(argv + (argc > 0 ? 1 : 0), argv + argc);
}
#endif

int main(int argc, char **argv)
{
    try
    {
        const std::vector<std::string> args = Arguments(argc, argv);
        return jobtool::Main(args, std::cout, std::cerr, jobtool::OpenTerminal);
    }
    catch (const std::bad_alloc &)
    {
        std::fputs("jobtool: out of memory\n", stderr);
    }
    catch (const std::exception &e)
    {
        std::fprintf(stderr, "jobtool: %s\n", e.what());
    }
    return jobtool::kFailed;
}
