#include "jobfile.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <vector>

namespace spoolsim
{

namespace
{
// The job file's paths are UTF-8 on both builds; the Windows C runtime's
// narrow remove and rename take the ANSI code page.
int RemovePath(const std::string &path)
{
#ifdef _WIN32
    return _wremove(std::filesystem::u8path(path).c_str());
#else
    return std::remove(path.c_str());
#endif
}

int RenamePath(const std::string &from, const std::string &to)
{
#ifdef _WIN32
    return _wrename(std::filesystem::u8path(from).c_str(), std::filesystem::u8path(to).c_str());
#else
    return std::rename(from.c_str(), to.c_str());
#endif
}

std::string Reason()
{
    return errno != 0 ? std::string(": ") + std::strerror(errno) : std::string();
}
} // namespace

// Steps are a few kilobytes each: the file is written this much at a time,
// not with a system call each. They are gathered here: the stream's own
// buffer takes no piece of a kilobyte or more.
const size_t kBuffer = 1u << 20;

struct JobFileWriter::File
{
    std::vector<char> gathered; // steps not written yet
    std::ofstream out;
    // Writes what is gathered; false when the stream failed.
    bool Write()
    {
        out.write(gathered.data(), static_cast<std::streamsize>(gathered.size()));
        gathered.clear();
        return static_cast<bool>(out);
    }
    // The head is written again by Finish with the step count and version.
    WString documentName;
    bool endDoc = true;
    bool abort = false;
};

JobFileWriter::~JobFileWriter()
{
    if (m_file != nullptr)
    {
        m_file->out.close();
        RemovePath(m_partPath);
        delete m_file;
    }
}

void JobFileWriter::Fail(const std::string &what)
{
    if (m_error.empty())
    {
        m_error = what;
    }
}

bool JobFileWriter::Open(const std::string &path, const WString &documentName, bool endDoc, bool abort,
                         std::string &error)
{
    if (m_file != nullptr || documentName.size() > 4096)
    {
        error = m_file != nullptr ? "the job file " + m_path + " is already being written"
                                  : "a document name of " + std::to_string(documentName.size()) +
                                        " characters is longer than a job file holds (4096)";
        return false;
    }
    std::error_code ec;
    if (std::filesystem::is_directory(std::filesystem::u8path(path), ec))
    {
        error = "cannot write " + path + ": " + std::strerror(EISDIR);
        return false;
    }
    m_path = path;
    m_partPath = path + ".part";
    m_error.clear();
    m_cSteps = 0;
    m_file = new File;
    m_file->gathered.reserve(kBuffer);
    errno = 0;
    m_file->out.open(std::filesystem::u8path(m_partPath), std::ios::binary | std::ios::trunc);
    if (!m_file->out)
    {
        error = "cannot write " + m_partPath + Reason();
        delete m_file;
        m_file = nullptr;
        return false;
    }
    m_file->documentName = documentName;
    m_file->endDoc = endDoc;
    m_file->abort = abort;
    const Bytes head = JobFileHead(documentName, endDoc, abort, false, 0);
    m_file->out.write(reinterpret_cast<const char *>(head.data()), static_cast<std::streamsize>(head.size()));
    if (!m_file->out)
    {
        error = "cannot write " + m_partPath + Reason();
        return false;
    }
    return true;
}

bool JobFileWriter::Add(StepKind kind, const BYTE *data, size_t cb)
{
    if (m_file == nullptr || !m_error.empty())
    {
        Fail("the job file is not open");
        return false;
    }
    if (cb > 0xFFFFFFFFu || m_cSteps == 0xFFFFFFFFu || (kind != StepKind::Write && cb != 0))
    {
        Fail("a step of " + std::to_string(cb) + " bytes cannot be held in a job file");
        return false;
    }
    const Bytes head = JobFileStepHead(kind, static_cast<uint32_t>(cb));
    std::vector<char> &gathered = m_file->gathered;
    errno = 0;
    if (gathered.size() + head.size() + cb > kBuffer && !m_file->Write())
    {
        Fail("cannot write " + m_partPath + Reason());
        return false;
    }
    gathered.insert(gathered.end(), head.begin(), head.end());
    if (cb >= kBuffer)
    {
        // A step larger than the buffer goes as it is, after its head.
        m_file->Write();
        m_file->out.write(reinterpret_cast<const char *>(data), static_cast<std::streamsize>(cb));
    }
    else
    {
        gathered.insert(gathered.end(), data, data + cb);
    }
    if (!m_file->out)
    {
        Fail("cannot write " + m_partPath + Reason());
        return false;
    }
    m_cSteps++;
    return true;
}

bool JobFileWriter::Finish(const std::string &source, std::string &error)
{
    if (m_file == nullptr || !m_error.empty())
    {
        error = m_error.empty() ? std::string("the job file is not open") : m_error;
        return false;
    }
    std::ofstream &out = m_file->out;
    errno = 0;
    m_file->Write();
    const Bytes tail = JobFileTail(source);
    out.write(reinterpret_cast<const char *>(tail.data()), static_cast<std::streamsize>(tail.size()));
    // The head again, now that the version and the step count are known.
    const Bytes head = JobFileHead(m_file->documentName, m_file->endDoc, m_file->abort, !source.empty(),
                                   static_cast<uint32_t>(m_cSteps));
    out.seekp(0);
    out.write(reinterpret_cast<const char *>(head.data()), static_cast<std::streamsize>(head.size()));
    out.close();
    const bool written = !out.fail();
    delete m_file;
    m_file = nullptr;
    if (!written)
    {
        error = "cannot write " + m_partPath + Reason();
        RemovePath(m_partPath);
        return false;
    }
    errno = 0;
    bool placed = RenamePath(m_partPath, m_path) == 0;
    std::error_code ec;
    if (!placed && std::filesystem::is_regular_file(std::filesystem::u8path(m_path), ec) && RemovePath(m_path) == 0)
    {
        // Windows renames only to a name that is free.
        errno = 0;
        placed = RenamePath(m_partPath, m_path) == 0;
    }
    if (!placed)
    {
        error = "cannot put " + m_partPath + " in place as " + m_path + Reason();
        RemovePath(m_partPath);
        return false;
    }
    return true;
}

} // namespace spoolsim
