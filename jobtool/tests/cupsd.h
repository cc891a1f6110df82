// A real CUPS scheduler for the print-queue tests: Debian's cupsd, started
// in the foreground on a private port with its own configuration, spool and
// log folders, run as the current user (as root: its usual "lp" user for
// the backends), stopped and removed at the end. And a network printer that
// takes raw jobs on a TCP port, as a JetDirect-style printer does, keeping
// what each connection delivered.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <sys/types.h>

namespace jobtool_test
{

class RawPrinter
{
  public:
    RawPrinter();
    ~RawPrinter();
    int Port() const
    {
        return m_port;
    }
    // The data of the first `count` connections, waiting up to `seconds`
    // for them to end; fewer when they did not come.
    std::vector<std::vector<uint8_t>> Jobs(size_t count, int seconds);

  private:
    void Serve();
    int m_listen = -1;
    int m_port = 0;
    bool m_stop = false;
    std::mutex m_mutex;
    std::condition_variable m_done;
    std::vector<std::vector<uint8_t>> m_jobs;
    std::thread m_thread;
};

// A printer that is a file: a named pipe for a queue whose device is
// file://PATH, read as the scheduler writes, keeping all that arrives.
class FilePrinter
{
  public:
    explicit FilePrinter(const std::string &path);
    ~FilePrinter();
    FilePrinter(const FilePrinter &) = delete;
    FilePrinter &operator=(const FilePrinter &) = delete;
    const std::string &Error() const
    {
        return m_error;
    }
    // All bytes so far, after waiting up to `seconds` for at least `cb`.
    std::vector<uint8_t> Received(size_t cb, int seconds);

  private:
    void Read();
    std::string m_path;
    std::string m_error;
    int m_fd = -1;
    bool m_stop = false;
    std::mutex m_mutex;
    std::condition_variable m_more;
    std::vector<uint8_t> m_data;
    std::thread m_thread;
};

class CupsScheduler
{
  public:
    explicit CupsScheduler(const std::string &parent);
    ~CupsScheduler();
    CupsScheduler(const CupsScheduler &) = delete;
    CupsScheduler &operator=(const CupsScheduler &) = delete;

    bool Running() const
    {
        return m_error.empty();
    }
    const std::string &Error() const
    {
        return m_error;
    }
    std::string Server() const; // "127.0.0.1:PORT"
    // A raw queue (no filters, no PPD) printing to the device URI.
    bool AddRawQueue(const std::string &name, const std::string &deviceUri, std::string &error);
    // A queue whose device is the file (or named pipe) at `path`. The
    // scheduler writes a file device only through a filter, so the queue has
    // one filter that passes the job's bytes on unchanged (gziptoany, which
    // copies data that is not compressed as it is).
    bool AddFileQueue(const std::string &name, const std::string &path, std::string &error);
    std::string LogTail() const;

  private:
    bool Start(std::string &error);
    std::string m_dir;
    int m_port = 0;
    pid_t m_pid = -1;
    std::string m_error;
};

} // namespace jobtool_test
