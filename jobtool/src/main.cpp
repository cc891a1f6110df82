#include "cli.h"

#include <cstdio>
#include <exception>
#include <iostream>
#include <new>

#ifdef _WIN32
#include <io.h>
#define isatty _isatty
#define fileno _fileno
#else
#include <unistd.h>
#endif

int main(int argc, char **argv)
{
    try
    {
        std::vector<std::string> args(argv + 1, argv + argc);
        return jobtool::Main(args, std::cin, std::cout, std::cerr, isatty(fileno(stdin)) != 0);
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
