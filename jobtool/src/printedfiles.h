// The documents a run sends to the printer, each written to its file as the
// simulated printer receives it, so that no printed document is held in
// memory whatever its size.
#pragma once

#include "fileio.h"
#include "spoolsim.h"

#include "pclxl/bytesource.h"

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace jobtool
{

class LiveExplain;

class PrintedFiles
{
  public:
    // Files are named <folder>/<stem>-<n>.pxl, n counting the printer's documents from 1.
    PrintedFiles(const std::string &folder, const std::string &stem);
    ~PrintedFiles();
    PrintedFiles(const PrintedFiles &) = delete;
    PrintedFiles &operator=(const PrintedFiles &) = delete;

    // Bytes of the run's document with this index in RunResult::documents;
    // false when they could not be written (the error, or memory ran out).
    bool Write(size_t document, const BYTE *data, DWORD size);
    // The file of this document (written to already) is read as it is
    // written: what is written is flushed and published to `live` every
    // megabyte or so, and at the end.
    void Follow(size_t document, LiveExplain *live);
    // Where a document is written until it ends; empty before its first write.
    std::string PartOf(size_t document) const;
    // The document that ends next (the newest one written to), or SIZE_MAX.
    size_t Newest() const;
    // Memory ran out in a write (inside the run, where no exception may
    // pass through the hook): the caller ends the command after the run.
    bool OutOfMemory() const
    {
        return outOfMemory_;
    }

    struct Printed
    {
        std::string path;  // the file, when the document was printed
        uint64_t size = 0; // bytes received
    };
    // The printer's document that has just ended (the newest one written to):
    // closed, then named <folder>/<stem>-<number>.pxl when it is kept, or
    // removed. p.path is empty when it was not kept or nothing was written.
    // False (with error()) when the file could not be finished. A followed
    // document is told its end first, and `settle` is called with whether
    // the document is kept: before the file is renamed or removed, so
    // that its reader can be done with it.
    bool Complete(int number, bool keep, Printed &p, const std::function<void(bool kept)> &settle = {});
    // Removes the files of documents that never ended (a run that stopped).
    void DiscardUnfinished();
    // The files written so far (for a run that stops early).
    std::vector<std::string> Written() const;
    const std::string &error() const
    {
        return error_;
    }

  private:
    struct Open
    {
        std::string path;
        std::unique_ptr<pclxl::FileSink> sink;
        uint64_t size = 0;
        LiveExplain *live = nullptr;
        uint64_t published = 0;
        std::unique_ptr<WriteBehind> disk; // the file to the disk as it comes
        uint64_t toDisk = 0;               // what was handed to it
    };
    std::string PartPath(size_t document) const;

    std::string folder_, stem_;
    std::map<size_t, Open> files_;
    std::string error_;
    bool outOfMemory_ = false;
};

} // namespace jobtool
