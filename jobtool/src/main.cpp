#include "cli.h"

#include <cstdio>
#include <exception>
#include <iostream>
#include <new>

int main(int argc, char **argv)
{
    try
    {
        std::vector<std::string> args(argv + 1, argv + argc);
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
