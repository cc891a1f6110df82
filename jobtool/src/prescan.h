// What make can tell of a document before any heavy work: how many pages it
// has, counted by a quick pass that decodes nothing but the operators, and
// the refusals that are sure to come from the hook when the job runs.
#pragma once

#include "driver.h"

#include <cstdint>
#include <optional>
#include <string>

namespace jobtool
{

// The pages of the document in the file (its BeginPage operators); nothing
// when the file cannot be read as PCL XL (the full reading says why).
std::optional<uint64_t> CountPages(const std::string &path);

// Whether the hook will spool a job made with these options (and so hold
// its pages in its page index).
bool WillSpool(const JobOptions &options);

// Empty when the hook can take a document of this many pages with these
// options; else the refusal, in the words run gives for it.
std::string PageLimitRefusal(uint64_t pages, const JobOptions &options);

} // namespace jobtool
