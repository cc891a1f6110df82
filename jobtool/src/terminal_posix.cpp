#include "terminal.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace jobtool
{

namespace
{

class Tty : public Terminal
{
  public:
    explicit Tty(int fd) : m_fd(fd)
    {
    }
    ~Tty() override
    {
        ::close(m_fd);
    }
    bool Write(const std::string &text) override
    {
        size_t done = 0;
        while (done < text.size())
        {
            const ssize_t cb = ::write(m_fd, text.data() + done, text.size() - done);
            if (cb < 0 && errno == EINTR)
            {
                continue;
            }
            if (cb <= 0)
            {
                return false;
            }
            done += static_cast<size_t>(cb);
        }
        return true;
    }
    bool ReadLine(std::string &line) override
    {
        // A terminal hands over whole lines, so a byte at a time costs
        // nothing and reads no further than the answer.
        line.clear();
        bool any = false;
        for (;;)
        {
            char c = 0;
            const ssize_t cb = ::read(m_fd, &c, 1);
            if (cb < 0 && errno == EINTR)
            {
                continue;
            }
            if (cb <= 0)
            {
                return any;
            }
            any = true;
            if (c == '\n')
            {
                return true;
            }
            if (line.size() < kMostLine)
            {
                line += c;
            }
        }
    }

  private:
    int m_fd;
};

} // namespace

std::unique_ptr<Terminal> OpenTerminal(std::string &why)
{
    const int fd = ::open("/dev/tty", O_RDWR | O_CLOEXEC | O_NOCTTY);
    if (fd < 0)
    {
        why = std::string("no terminal (/dev/tty: ") + std::strerror(errno) + ")";
        return nullptr;
    }
    return std::unique_ptr<Terminal>(new Tty(fd));
}

} // namespace jobtool
