// While make writes, an interrupted tool (Ctrl-C, a terminal that closes,
// kill) still removes its unfinished files: the job file's part, the
// relocated and the converted document. Each is named to the guard before
// it is made.
#pragma once

#include <string>

namespace jobtool
{

class ScratchGuard
{
  public:
    ScratchGuard();
    ~ScratchGuard();
    ScratchGuard(const ScratchGuard &) = delete;
    ScratchGuard &operator=(const ScratchGuard &) = delete;

    // False when the guard holds as many files as it can (see kMostFiles):
    // the file is then not removed on an interruption.
    bool Add(const std::string &path);

    static const int kMostFiles = 4;
};

} // namespace jobtool
