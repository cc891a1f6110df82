// What the commands may overwrite or remove: make writes a job file only
// where no document is, and run's report names only the documents that run
// wrote.
#pragma once

#include <string>
#include <vector>

namespace jobtool
{

// Empty when make may write its job file at `output`; else why not: it is
// the input itself, or an existing file that is not a job file (a document
// would be lost).
std::string JobOutputRefusal(const std::string &input, const std::string &output);

// The documents an earlier run of a job named `stem` left in `folder`
// (stem-N.pxl), removed before the run writes its own, so that none of them
// passes for this run's. The names removed; false with `error` (and the
// system's reason) when one cannot be removed. `keep` (the job file) is
// never removed.
bool RemoveEarlierDocuments(const std::string &folder, const std::string &stem, const std::string &keep,
                            std::vector<std::string> &removed, std::string &error);

} // namespace jobtool
