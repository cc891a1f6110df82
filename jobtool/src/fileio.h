// Whole files read and written by the commands, with the system's reason
// when that fails.
#pragma once

#include "jobfile.h"
#include "prepare.h"
#include "spoolsim.h"

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>

namespace jobtool
{

// The most a command reads into memory: the hook's spool offsets are 32-bit,
// so nothing larger can be printed, and more would only exhaust memory.
constexpr uint64_t kMaxFileBytes = uint64_t(1) << 31;

// A regular file of at most kMaxFileBytes. A folder, a device or a FIFO is
// refused before it is opened (a FIFO would wait for a writer for ever).
std::optional<Bytes> ReadFile(const std::string &path, std::string &error);
// A job file read and loaded; nothing, and why ("X: not a job file: ..."),
// when it cannot be.
std::optional<spoolsim::Job> ReadJobFile(const std::string &path, std::string &error);
// A job file checked and opened to be read one step at a time (a job of any
// size in bounded memory); false, and why in ReadJobFile's words, when it
// cannot be.
bool OpenJobFile(const std::string &path, spoolsim::JobFileSteps &steps, std::string &error);
bool WriteFile(const std::string &path, const Bytes &data, std::string &error);
// Why a path cannot be read as a document, before anything is done with it;
// empty when it is a regular file of a size the tool takes.
std::string CheckReadable(const std::string &path);
// The same for a printed document, which is read a window at a time: the
// printer's stream may be larger than any print job (collated copies of a
// large job), but offsets must fit the build's size_t.
constexpr uint64_t kMaxPrintedBytes = static_cast<uint64_t>(SIZE_MAX);
std::string CheckPrintedReadable(const std::string &path);
// Both paths name one existing file (the same file by identity, whatever
// the spelling).
bool SameFile(const std::string &a, const std::string &b);
// The tool's paths are UTF-8 on both builds. std::filesystem of the
// Windows build reads a plain string in the ANSI code page but writes one
// in UTF-8, so paths cross into it through these two.
std::filesystem::path FsPath(const std::string &utf8);
std::string Utf8Path(const std::filesystem::path &path);
// std::fopen of a UTF-8 path on both builds (the Windows C runtime's
// fopen takes the ANSI code page); errno says why when it fails.
std::FILE *OpenFile(const std::string &path, const char *mode);
// std::remove and std::rename of UTF-8 paths; errno says why they fail.
int RemoveFile(const std::string &path);
int RenameFile(const std::string &from, const std::string &to);
// The system's words for an errno value.
std::string SystemReason(int error);
// The file name without folder and extension.
std::string Stem(const std::string &path);

// Flushes what the system holds of the open file to the disk.
bool SyncToDisk(std::FILE *f);
// A file being written goes to the disk as it comes, a stretch at a time,
// without waiting for it: syncing it at its end then finds little left
// (a document of gigabytes would take a second or more). Where the system
// has no such call (Windows), nothing is done.
class WriteBehind
{
  public:
    explicit WriteBehind(std::string path) : path_(std::move(path))
    {
    }
    ~WriteBehind();
    WriteBehind(const WriteBehind &) = delete;
    WriteBehind &operator=(const WriteBehind &) = delete;
    // Bytes [0, upTo) of the file are in the system's hands.
    void Written(uint64_t upTo);

  private:
    std::string path_;
    std::FILE *file_ = nullptr; // a handle of its own, opened at the first stretch
    bool failed_ = false;
    uint64_t started_ = 0; // where writing to the disk was begun up to
};
// The same for the file at path; false (errno says why) when it cannot be
// opened, flushed or closed.
bool SyncFileToDisk(const std::string &path);

} // namespace jobtool
