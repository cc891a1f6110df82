// The end of an interrupt handler that has cleaned up: the tool ends as the
// signal would have ended it, so that its exit status says so. Only system
// calls, as a signal handler may make.
#pragma once

#include <csignal>
#include <cstring>

namespace jobtool
{

inline void EndAsTheSignalWould(int signal)
{
    struct sigaction dfl;
    std::memset(&dfl, 0, sizeof(dfl));
    dfl.sa_handler = SIG_DFL;
    sigaction(signal, &dfl, nullptr);
    raise(signal);
}

} // namespace jobtool
