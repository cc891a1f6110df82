#include "cli.h"

#include <cstdio>
#include <iostream>

#ifdef _WIN32
#include <io.h>
#define isatty _isatty
#define fileno _fileno
#else
#include <unistd.h>
#endif

int main(int argc, char **argv)
{
    std::vector<std::string> args(argv + 1, argv + argc);
    return jobtool::Main(args, std::cin, std::cout, std::cerr, isatty(fileno(stdin)) != 0);
}
