#include "scratchguard.h"

#include "signalend_posix.h"

#include <csignal>
#include <cstring>

#include <unistd.h>

namespace jobtool
{

namespace
{

// The files to remove, read by the signal handler: fixed buffers, each
// complete before the count that makes it visible grows.
char g_paths[ScratchGuard::kMostFiles][4096];
volatile sig_atomic_t g_count = 0;
const int kSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};
struct sigaction g_previous[sizeof(kSignals) / sizeof(kSignals[0])];

extern "C" void OnInterruptWhileMaking(int signal)
{
    for (int i = 0; i < g_count; i++)
    {
        unlink(g_paths[i]); // only a system call, as a signal handler may make
    }
    g_count = 0;
    EndAsTheSignalWould(signal);
}

} // namespace

ScratchGuard::ScratchGuard()
{
    g_count = 0;
    struct sigaction sa;
    std::memset(&sa, 0, sizeof(sa));
    sa.sa_handler = OnInterruptWhileMaking;
    sigemptyset(&sa.sa_mask);
    for (int s : kSignals)
    {
        sigaddset(&sa.sa_mask, s);
    }
    for (size_t i = 0; i < sizeof(kSignals) / sizeof(kSignals[0]); i++)
    {
        sigaction(kSignals[i], &sa, &g_previous[i]);
    }
}

ScratchGuard::~ScratchGuard()
{
    for (size_t i = 0; i < sizeof(kSignals) / sizeof(kSignals[0]); i++)
    {
        sigaction(kSignals[i], &g_previous[i], nullptr);
    }
    g_count = 0;
}

bool ScratchGuard::Add(const std::string &path)
{
    if (g_count >= kMostFiles || path.size() >= sizeof(g_paths[0]))
    {
        return false;
    }
    std::memcpy(g_paths[g_count], path.c_str(), path.size() + 1);
    g_count = g_count + 1;
    return true;
}

} // namespace jobtool
