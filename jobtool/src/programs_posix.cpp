#include "programs.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace jobtool
{

const char kNotOnThisBuild[] = "not available on this build";

bool CanRunPrograms()
{
    return true;
}

namespace
{

class Fd
{
  public:
    explicit Fd(int fd = -1) : m_fd(fd)
    {
    }
    ~Fd()
    {
        Close();
    }
    Fd(const Fd &) = delete;
    Fd &operator=(const Fd &) = delete;
    int Get() const
    {
        return m_fd;
    }
    void Reset(int fd)
    {
        Close();
        m_fd = fd;
    }
    void Close()
    {
        if (m_fd >= 0)
        {
            ::close(m_fd);
        }
        m_fd = -1;
    }

  private:
    int m_fd;
};

// Keeps the first (head) or last (tail) cbKeep bytes of what a program prints.
void Keep(std::string &kept, const char *data, size_t cb, size_t cbKeep, bool tail)
{
    if (!tail)
    {
        kept.append(data, std::min(cb, cbKeep - std::min(cbKeep, kept.size())));
        return;
    }
    kept.append(data, cb);
    if (kept.size() > cbKeep)
    {
        kept.erase(0, kept.size() - cbKeep);
    }
}

} // namespace

ProgramResult RunProgram(const ProgramRun &run)
{
    ProgramResult result;
    if (run.argv.empty() || run.argv.front().empty())
    {
        result.failure = "no program named";
        return result;
    }

    Fd output;
    if (!run.outputFile.empty())
    {
        output.Reset(::open(run.outputFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
        if (output.Get() < 0)
        {
            result.failure = "cannot write " + run.outputFile + ": " + std::strerror(errno);
            return result;
        }
    }
    int outPipe[2] = {-1, -1};
    int errPipe[2] = {-1, -1};
    if ((run.outputFile.empty() && ::pipe2(outPipe, O_CLOEXEC) != 0) || ::pipe2(errPipe, O_CLOEXEC) != 0)
    {
        result.failure = std::string("cannot make a pipe: ") + std::strerror(errno);
        if (outPipe[0] >= 0)
        {
            ::close(outPipe[0]);
            ::close(outPipe[1]);
        }
        return result;
    }
    Fd outRead(outPipe[0]), outWrite(outPipe[1]), errRead(errPipe[0]), errWrite(errPipe[1]);

    std::vector<std::string> envText;
    for (char **e = environ; e && *e; ++e)
    {
        std::string entry(*e);
        bool replaced = false;
        for (const auto &kv : run.env)
        {
            replaced = replaced || entry.compare(0, kv.first.size() + 1, kv.first + "=") == 0;
        }
        if (!replaced)
        {
            envText.push_back(entry);
        }
    }
    for (const auto &kv : run.env)
    {
        envText.push_back(kv.first + "=" + kv.second);
    }
    std::vector<char *> envp, argv;
    for (std::string &e : envText)
    {
        envp.push_back(&e[0]);
    }
    envp.push_back(nullptr);
    std::vector<std::string> args = run.argv;
    for (std::string &a : args)
    {
        argv.push_back(&a[0]);
    }
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, output.Get() >= 0 ? output.Get() : outWrite.Get(), 1);
    posix_spawn_file_actions_adddup2(&actions, errWrite.Get(), 2);
    // The tool may ignore SIGPIPE; the program gets the usual dispositions.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    sigaddset(&defaults, SIGINT);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF);
    pid_t pid = 0;
    const int spawned = posix_spawnp(&pid, argv[0], &actions, &attributes, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    output.Close();
    outWrite.Close();
    errWrite.Close();
    if (spawned != 0)
    {
        result.missing = spawned == ENOENT;
        result.failure = "cannot run " + run.argv.front() + ": " + std::strerror(spawned);
        return result;
    }
    result.started = true;

    // Both pipes are drained together, so that a program that fills one
    // while the tool waits on the other cannot stall.
    char buffer[16384];
    while (outRead.Get() >= 0 || errRead.Get() >= 0)
    {
        pollfd fds[2] = {{outRead.Get(), POLLIN, 0}, {errRead.Get(), POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0)
        {
            if (errno == EINTR)
            {
                continue;
            }
            break;
        }
        for (int i = 0; i < 2; i++)
        {
            if (fds[i].fd < 0 || fds[i].revents == 0)
            {
                continue;
            }
            const ssize_t cb = ::read(fds[i].fd, buffer, sizeof buffer);
            if (cb > 0)
            {
                Keep(i == 0 ? result.output : result.errors, buffer, static_cast<size_t>(cb), run.cbKeep, i == 1);
            }
            else if (cb == 0 || errno != EINTR)
            {
                (i == 0 ? outRead : errRead).Close();
            }
        }
    }
    outRead.Close();
    errRead.Close();

    int status = 0;
    pid_t waited;
    do
    {
        waited = ::waitpid(pid, &status, 0);
    } while (waited < 0 && errno == EINTR);
    if (waited < 0)
    {
        result.failure = std::string("lost track of ") + run.argv.front() + ": " + std::strerror(errno);
    }
    else if (WIFEXITED(status))
    {
        result.exitCode = WEXITSTATUS(status);
    }
    else if (WIFSIGNALED(status))
    {
        result.failure = run.argv.front() + " was ended by signal " + std::to_string(WTERMSIG(status)) + " (" +
                         strsignal(WTERMSIG(status)) + ")";
    }
    return result;
}

} // namespace jobtool
