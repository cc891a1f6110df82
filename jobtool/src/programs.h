// Other programs the job tool runs: Ghostscript to read PDF and PostScript,
// gzip for compressed documents, the print queue's lp client. Arguments go
// to the program as they are (no shell), its standard input is empty, and
// what it prints is kept up to a bound.
#pragma once

#include <cstddef>
#include <string>
#include <utility>
#include <vector>

namespace jobtool
{

struct ProgramRun
{
    std::vector<std::string> argv;                        // argv[0] is looked up in PATH
    std::vector<std::pair<std::string, std::string>> env; // set for the program only
    std::string outputFile;                               // non-empty: standard output goes there
    size_t cbKeep = 64 * 1024;                            // of each of standard output and error
};

struct ProgramResult
{
    bool started = false; // the program ran (whatever its exit status)
    bool missing = false; // not started because no such program was found
    std::string failure;  // why it did not start, or how it ended abnormally
    int exitCode = -1;    // when it ended by itself
    std::string output;   // standard output (its first cbKeep bytes), unless it went to a file
    std::string errors;   // standard error (its last cbKeep bytes)

    bool Succeeded() const
    {
        return started && exitCode == 0 && failure.empty();
    }
};

// Whether this build can run other programs at all; the Windows build does
// not (the programs it would run are Debian's).
bool CanRunPrograms();
extern const char kNotOnThisBuild[]; // "not available on this build (...)"

// Runs the program to its end.
ProgramResult RunProgram(const ProgramRun &run);

// The last non-empty line of a program's messages, for a one-line reason.
std::string LastLine(const std::string &text);

} // namespace jobtool
