// Shared by the tests of PDF and PostScript input, the print queue, the
// prompt, the picture and "show": files, the documents Debian ships, and a
// PATH without the programs the tool runs.
#pragma once

#include "support.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace jobtool_test
{

inline Bytes ReadBytes(const std::string &path)
{
    std::ifstream f(path, std::ios::binary);
    return Bytes((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
}

inline void WriteBytes(const std::string &path, const Bytes &data)
{
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f.write(reinterpret_cast<const char *>(data.data()), static_cast<std::streamsize>(data.size()));
}

inline std::string Example(const std::string &name)
{
    return std::string(KD_EXAMPLES_DIR) + "/" + name;
}

// Documents that Debian ships and tools/setup-machine installs: a manual
// in PostScript (gzip-compressed, 26 A4 pages by its own DSC comments) and
// a format document in PDF (17 pages).
const char kManDbManual[] = "/usr/share/doc/man-db/man-db-manual.ps.gz";
const char kMimeInfoDocument[] = "/usr/share/doc/shared-mime-info/shared-mime-info-spec.pdf";

inline bool Installed(const std::string &path)
{
    std::error_code ec;
    if (std::filesystem::exists(path, ec))
    {
        return true;
    }
    ADD_FAILURE() << path << " is missing: run tools/setup-machine";
    return false;
}

// PATH for the test's duration, restored after.
class ScopedPath
{
  public:
    explicit ScopedPath(const std::string &path)
    {
        const char *old = std::getenv("PATH");
        m_had = old != nullptr;
        m_old = old ? old : "";
#ifdef _WIN32
        _putenv_s("PATH", path.c_str());
#else
        setenv("PATH", path.c_str(), 1);
#endif
    }
    ~ScopedPath()
    {
#ifdef _WIN32
        _putenv_s("PATH", m_old.c_str());
#else
        if (m_had)
        {
            setenv("PATH", m_old.c_str(), 1);
        }
        else
        {
            unsetenv("PATH");
        }
#endif
    }

  private:
    bool m_had = false;
    std::string m_old;
};

inline bool Contains(const std::string &text, const std::string &part)
{
    return text.find(part) != std::string::npos;
}

} // namespace jobtool_test
