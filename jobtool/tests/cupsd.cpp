#include "cupsd.h"

#include "programs.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <grp.h>
#include <netinet/in.h>
#include <poll.h>
#include <pwd.h>
#include <random>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace jobtool_test
{

namespace
{

// A TCP socket on 127.0.0.1 with a port of the system's choosing.
int ListenAnywhere(int &port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0 || ::listen(fd, 8) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr *>(&a), &len) != 0)
    {
        if (fd >= 0)
        {
            ::close(fd);
        }
        return -1;
    }
    port = ntohs(a.sin_port);
    return fd;
}

bool Accepts(int port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<uint16_t>(port));
    const bool ok = fd >= 0 && ::connect(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0;
    if (fd >= 0)
    {
        ::close(fd);
    }
    return ok;
}

void WriteText(const std::string &path, const std::string &text)
{
    std::ofstream f(path, std::ios::trunc);
    f << text;
}

} // namespace

RawPrinter::RawPrinter()
{
    m_listen = ListenAnywhere(m_port);
    if (m_listen >= 0)
    {
        m_thread = std::thread([this] { Serve(); });
    }
}

RawPrinter::~RawPrinter()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stop = true;
    }
    if (m_thread.joinable())
    {
        m_thread.join();
    }
    if (m_listen >= 0)
    {
        ::close(m_listen);
    }
}

void RawPrinter::Serve()
{
    for (;;)
    {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            if (m_stop)
            {
                return;
            }
        }
        pollfd p{m_listen, POLLIN, 0};
        if (::poll(&p, 1, 100) <= 0)
        {
            continue;
        }
        const int c = ::accept4(m_listen, nullptr, nullptr, SOCK_CLOEXEC);
        if (c < 0)
        {
            continue;
        }
        // One job per connection: everything until the sender closes.
        std::vector<uint8_t> job;
        char buffer[65536];
        for (;;)
        {
            const ssize_t cb = ::recv(c, buffer, sizeof buffer, 0);
            if (cb < 0 && errno == EINTR)
            {
                continue;
            }
            if (cb <= 0)
            {
                break;
            }
            job.insert(job.end(), buffer, buffer + cb);
        }
        ::close(c);
        std::lock_guard<std::mutex> lock(m_mutex);
        m_jobs.push_back(std::move(job));
        m_done.notify_all();
    }
}

std::vector<std::vector<uint8_t>> RawPrinter::Jobs(size_t count, int seconds)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    m_done.wait_for(lock, std::chrono::seconds(seconds), [&] { return m_jobs.size() >= count; });
    return m_jobs;
}

CupsScheduler::CupsScheduler(const std::string &parent)
{
    std::random_device rd;
    std::error_code ec;
    for (int attempt = 0; attempt < 3; attempt++)
    {
        m_dir = (std::filesystem::path(parent) / ("cupsd-" + std::to_string(rd()))).string();
        if (!std::filesystem::create_directories(m_dir, ec))
        {
            m_error = "cannot make " + m_dir + ": " + ec.message();
            continue;
        }
        // The port is free when chosen; another process may take it before
        // the scheduler does, so a failed start is tried again.
        if (Start(m_error))
        {
            m_error.clear();
            return;
        }
        std::filesystem::remove_all(m_dir, ec);
    }
    m_dir.clear();
}

FilePrinter::FilePrinter(const std::string &path) : m_path(path)
{
    if (::mkfifo(path.c_str(), 0666) != 0)
    {
        m_error = "mkfifo " + path + ": " + std::strerror(errno);
        return;
    }
    // Open for reading and writing: the open does not wait for a writer,
    // and the reader sees no end of file between the scheduler's jobs.
    m_fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
    if (m_fd < 0)
    {
        m_error = "open " + path + ": " + std::strerror(errno);
        return;
    }
    m_thread = std::thread([this] { Read(); });
}

FilePrinter::~FilePrinter()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stop = true;
    }
    if (m_thread.joinable())
    {
        m_thread.join();
    }
    if (m_fd >= 0)
    {
        ::close(m_fd);
    }
    ::unlink(m_path.c_str());
}

void FilePrinter::Read()
{
    uint8_t buffer[65536];
    for (;;)
    {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            if (m_stop)
            {
                return;
            }
        }
        pollfd p = {m_fd, POLLIN, 0};
        if (::poll(&p, 1, 100) <= 0)
        {
            continue;
        }
        const ssize_t n = ::read(m_fd, buffer, sizeof buffer);
        if (n > 0)
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_data.insert(m_data.end(), buffer, buffer + n);
            m_more.notify_all();
        }
    }
}

std::vector<uint8_t> FilePrinter::Received(size_t cb, int seconds)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    m_more.wait_for(lock, std::chrono::seconds(seconds), [&] { return m_data.size() >= cb; });
    return m_data;
}

bool CupsScheduler::Start(std::string &error)
{
    const int probe = ListenAnywhere(m_port);
    if (probe < 0)
    {
        error = "no free port";
        return false;
    }
    ::close(probe);
    for (const char *sub : {"conf", "spool", "spool/tmp", "log", "cache", "state"})
    {
        std::filesystem::create_directories(std::filesystem::path(m_dir) / sub);
    }
    // As root the scheduler runs backends as an unprivileged user; as
    // anyone else it runs everything as that user.
    std::string user = "lp", group = "lp", systemGroup = "root";
    if (::getuid() != 0)
    {
        const passwd *pw = ::getpwuid(::getuid());
        const struct group *gr = ::getgrgid(::getgid());
        user = pw ? pw->pw_name : std::to_string(::getuid());
        group = systemGroup = gr ? gr->gr_name : std::to_string(::getgid());
    }
    const std::string d = m_dir;
    WriteText(d + "/conf/cupsd.conf", "Listen 127.0.0.1:" + std::to_string(m_port) +
                                          "\n"
                                          "ServerAlias *\n"
                                          "LogLevel info\n"
                                          "Browsing No\n"
                                          "DefaultShared No\n"
                                          "DefaultAuthType None\n"
                                          "WebInterface No\n"
                                          "<Location />\n  Order allow,deny\n  Allow all\n</Location>\n"
                                          "<Policy default>\n  <Limit All>\n    Order allow,deny\n    Allow all\n"
                                          "  </Limit>\n</Policy>\n");
    WriteText(d + "/conf/cups-files.conf",
              "ServerRoot " + d + "/conf\nRequestRoot " + d + "/spool\nTempDir " + d + "/spool/tmp\nCacheDir " + d +
                  "/cache\nStateDir " + d + "/state\nAccessLog " + d + "/log/access_log\nErrorLog " + d +
                  "/log/error_log\nPageLog " + d + "/log/page_log\nPrintcap " + d + "/state/printcap\nUser " + user +
                  "\nGroup " + group + "\nSystemGroup " + systemGroup +
                  // A queue may print to a file: a test's stand-in for a printer.
                  "\nFileDevice Yes\n");

    std::vector<std::string> args = {"cupsd", "-f", "-c", d + "/conf/cupsd.conf", "-s", d + "/conf/cups-files.conf"};
    std::vector<char *> argv;
    for (std::string &a : args)
    {
        argv.push_back(&a[0]);
    }
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    const std::string out = d + "/log/cupsd.out";
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    pid_t pid = -1;
    const int spawned = posix_spawnp(&pid, "cupsd", &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0)
    {
        error = std::string("cannot run cupsd (install the Debian package cups: run tools/setup-machine): ") +
                std::strerror(spawned);
        return false;
    }
    m_pid = pid;
    for (int i = 0; i < 200; i++)
    {
        if (Accepts(m_port))
        {
            return true;
        }
        int status = 0;
        if (::waitpid(m_pid, &status, WNOHANG) == m_pid)
        {
            m_pid = -1;
            error = "cupsd ended at its start: " + LogTail();
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    error = "cupsd does not answer on port " + std::to_string(m_port) + ": " + LogTail();
    ::kill(m_pid, SIGKILL);
    ::waitpid(m_pid, nullptr, 0);
    m_pid = -1;
    return false;
}

CupsScheduler::~CupsScheduler()
{
    if (m_pid > 0)
    {
        ::kill(m_pid, SIGTERM);
        int status = 0;
        for (int i = 0; i < 100 && ::waitpid(m_pid, &status, WNOHANG) == 0; i++)
        {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        if (::waitpid(m_pid, &status, WNOHANG) == 0)
        {
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, &status, 0);
        }
    }
    if (!m_dir.empty())
    {
        std::error_code ec;
        std::filesystem::remove_all(m_dir, ec);
    }
}

std::string CupsScheduler::Server() const
{
    return "127.0.0.1:" + std::to_string(m_port);
}

bool CupsScheduler::AddRawQueue(const std::string &name, const std::string &deviceUri, std::string &error)
{
    jobtool::ProgramRun run;
    run.argv = {"lpadmin", "-h", Server(), "-p", name, "-v", deviceUri, "-E"};
    jobtool::ProgramResult r = jobtool::RunProgram(run);
    if (!r.Succeeded())
    {
        error = "lpadmin: " + (r.failure.empty() ? r.errors + r.output : r.failure) + "\n" + LogTail();
        return false;
    }
    return true;
}

bool CupsScheduler::AddFileQueue(const std::string &name, const std::string &path, std::string &error)
{
    const std::string ppd = m_dir + "/conf/" + name + "-file.ppd";
    WriteText(ppd, "*PPD-Adobe: \"4.3\"\n*FormatVersion: \"4.3\"\n*FileVersion: \"1.0\"\n"
                   "*LanguageVersion: English\n*LanguageEncoding: ISOLatin1\n*PCFileName: \"KDFILE.PPD\"\n"
                   "*Manufacturer: \"Test\"\n*Product: \"(File)\"\n*ModelName: \"File\"\n"
                   "*ShortNickName: \"File\"\n*NickName: \"File\"\n*PSVersion: \"(3010.000) 0\"\n"
                   "*LanguageLevel: \"3\"\n*ColorDevice: False\n*DefaultColorSpace: Gray\n*FileSystem: False\n"
                   "*Throughput: \"1\"\n*cupsFilter: \"application/vnd.cups-raw 0 gziptoany\"\n"
                   "*OpenUI *PageSize: PickOne\n*DefaultPageSize: A4\n*PageSize A4: \"\"\n*CloseUI: *PageSize\n"
                   "*DefaultPageRegion: A4\n*PageRegion A4: \"\"\n*DefaultImageableArea: A4\n"
                   "*ImageableArea A4: \"0 0 595 842\"\n*DefaultPaperDimension: A4\n"
                   "*PaperDimension A4: \"595 842\"\n");
    jobtool::ProgramRun run;
    run.argv = {"lpadmin", "-h", Server(), "-p", name, "-v", "file://" + path, "-P", ppd, "-E"};
    jobtool::ProgramResult r = jobtool::RunProgram(run);
    if (!r.Succeeded())
    {
        error = "lpadmin: " + (r.failure.empty() ? r.errors + r.output : r.failure) + "\n" + LogTail();
        return false;
    }
    return true;
}

std::string CupsScheduler::LogTail() const
{
    std::string tail;
    for (const char *name : {"/log/cupsd.out", "/log/error_log"})
    {
        std::ifstream f(m_dir + name);
        std::string text((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
        tail += text.size() > 3000 ? text.substr(text.size() - 3000) : text;
    }
    return tail;
}

} // namespace jobtool_test
