// The console of the Windows build: CONIN$ and CONOUT$ are the console
// itself, whatever standard input and output were redirected to.
#include "terminal.h"

#include <windows.h>

namespace jobtool
{

namespace
{

class Console : public Terminal
{
  public:
    Console(HANDLE in, HANDLE out) : m_in(in), m_out(out)
    {
    }
    ~Console() override
    {
        CloseHandle(m_in);
        CloseHandle(m_out);
    }
    bool Write(const std::string &text) override
    {
        size_t done = 0;
        while (done < text.size())
        {
            DWORD cb = 0;
            if (!WriteFile(m_out, text.data() + done, static_cast<DWORD>(text.size() - done), &cb, NULL) || cb == 0)
            {
                return false;
            }
            done += cb;
        }
        return true;
    }
    bool ReadLine(std::string &line) override
    {
        line.clear();
        bool any = false;
        for (;;)
        {
            char c = 0;
            DWORD cb = 0;
            // Ctrl-Z is the console's end of input.
            if (!ReadFile(m_in, &c, 1, &cb, NULL) || cb == 0 || c == 0x1A)
            {
                return any && c != 0x1A;
            }
            any = true;
            if (c == '\n')
            {
                if (!line.empty() && line.back() == '\r')
                {
                    line.pop_back();
                }
                return true;
            }
            if (line.size() < kMostLine)
            {
                line += c;
            }
        }
    }

  private:
    HANDLE m_in;
    HANDLE m_out;
};

} // namespace

std::unique_ptr<Terminal> OpenTerminal(std::string &why)
{
    HANDLE in = CreateFileA("CONIN$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                            OPEN_EXISTING, 0, NULL);
    HANDLE out = CreateFileA("CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                             OPEN_EXISTING, 0, NULL);
    if (in == INVALID_HANDLE_VALUE || out == INVALID_HANDLE_VALUE)
    {
        why = "no console (error " + std::to_string(GetLastError()) + ")";
        if (in != INVALID_HANDLE_VALUE)
        {
            CloseHandle(in);
        }
        if (out != INVALID_HANDLE_VALUE)
        {
            CloseHandle(out);
        }
        return nullptr;
    }
    return std::unique_ptr<Terminal>(new Console(in, out));
}

} // namespace jobtool
