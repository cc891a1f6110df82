#include "machineguard.h"

#include "signalend_posix.h"

#include <cerrno>
#include <csignal>
#include <cstring>

#include <dirent.h>
#include <fcntl.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace jobtool
{

namespace
{

// The folder to remove, read by the signal handler: a fixed buffer, set
// before the handlers are installed.
char g_root[4096];
const int kSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};
struct sigaction g_previous[sizeof(kSignals) / sizeof(kSignals[0])];

// Removes everything below the open folder dirFd, then closes it. Only
// system calls, as a signal handler may make: no allocation, no stdio.
void RemoveBelow(int dirFd, int depth)
{
    alignas(8) char buffer[2048];
    for (;;)
    {
        const long cb = syscall(SYS_getdents64, dirFd, buffer, sizeof(buffer));
        if (cb <= 0)
        {
            break;
        }
        bool removedAny = false;
        for (long ib = 0; ib < cb;)
        {
            // struct linux_dirent64: ino (8), off (8), reclen (2), type (1), name.
            unsigned short reclen;
            std::memcpy(&reclen, buffer + ib + 16, sizeof(reclen));
            const char *name = buffer + ib + 19;
            ib += reclen;
            if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0)
            {
                continue;
            }
            if (unlinkat(dirFd, name, 0) == 0)
            {
                removedAny = true;
                continue;
            }
            if ((errno == EISDIR || errno == EPERM) && depth < 32)
            {
                const int sub = openat(dirFd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
                if (sub >= 0)
                {
                    RemoveBelow(sub, depth + 1);
                    removedAny = unlinkat(dirFd, name, AT_REMOVEDIR) == 0 || removedAny;
                }
            }
        }
        if (removedAny)
        {
            // Entries moved as others went: read the folder again from its start.
            lseek(dirFd, 0, SEEK_SET);
        }
    }
    close(dirFd);
}

extern "C" void OnInterrupt(int signal)
{
    const int saved = errno;
    if (g_root[0] == '/')
    {
        const int fd = open(g_root, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (fd >= 0)
        {
            RemoveBelow(fd, 0);
            rmdir(g_root);
        }
        g_root[0] = 0;
    }
    errno = saved;
    EndAsTheSignalWould(signal);
}

} // namespace

MachineGuard::MachineGuard(const std::string &hostRoot)
{
    if (hostRoot.empty() || hostRoot[0] != '/' || hostRoot.size() >= sizeof(g_root))
    {
        g_root[0] = 0;
        return;
    }
    std::memcpy(g_root, hostRoot.c_str(), hostRoot.size() + 1);
    struct sigaction sa;
    std::memset(&sa, 0, sizeof(sa));
    sa.sa_handler = OnInterrupt;
    sigemptyset(&sa.sa_mask);
    for (size_t i = 0; i < sizeof(kSignals) / sizeof(kSignals[0]); i++)
    {
        sigaddset(&sa.sa_mask, kSignals[i]);
    }
    for (size_t i = 0; i < sizeof(kSignals) / sizeof(kSignals[0]); i++)
    {
        sigaction(kSignals[i], &sa, &g_previous[i]);
    }
}

MachineGuard::~MachineGuard()
{
    if (g_root[0] == 0)
    {
        return;
    }
    for (size_t i = 0; i < sizeof(kSignals) / sizeof(kSignals[0]); i++)
    {
        sigaction(kSignals[i], &g_previous[i], nullptr);
    }
    g_root[0] = 0;
}

} // namespace jobtool
