// The digests of a job's input pages (or a booklet's page bodies) made on a
// thread of their own.
#pragma once

#include "digest.h"

#include "spoolsim.h"

#include <atomic>
#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace jobtool
{

// What is known of a job's input pages: each page's digests, or of a
// booklet, each page's body.
struct InputPages
{
    std::vector<std::vector<PageDigest>> pages;
    std::vector<BodyKey> bodies;
};

// The digests of a job's input pages, made apart from the rest of its
// reference: they take a pass over the whole input document, which can go
// beside the hook and the reading of what it prints. Made once, by the
// thread Start() begins or else by the first to ask; every asker waits.
class LaterPages
{
  public:
    using Maker = std::function<InputPages(std::string *error)>;
    explicit LaterPages(Maker make);
    ~LaterPages(); // waits for the thread
    LaterPages(const LaterPages &) = delete;
    LaterPages &operator=(const LaterPages &) = delete;

    void Start();
    // The digests (none when they could not be made: *error says why). What
    // the making threw (memory running out) is thrown to every asker.
    const std::vector<std::vector<PageDigest>> &Pages(std::string *error)
    {
        return Made(error).pages;
    }
    const std::vector<BodyKey> &Bodies(std::string *error)
    {
        return Made(error).bodies;
    }

  private:
    void Make();
    const InputPages &Made(std::string *error);

    Maker make_;
    std::atomic<int> state_{0}; // 0 not begun, 1 being made, 2 made
    InputPages made_;
    std::string error_;
    std::exception_ptr failure_;
    std::unique_ptr<spoolsim::Thread> thread_;
};

} // namespace jobtool
