// The Windows build runs no other program: Ghostscript, gzip and the print
// queue's client are Debian's.
#include "programs.h"

namespace jobtool
{

const char kNotOnThisBuild[] = "not available on this build (the Windows build runs no other program)";

bool CanRunPrograms()
{
    return false;
}

ProgramResult RunProgram(const ProgramRun &run)
{
    ProgramResult result;
    result.failure = (run.argv.empty() ? std::string("running a program") : "running " + run.argv.front()) + " is " +
                     kNotOnThisBuild;
    return result;
}

} // namespace jobtool
