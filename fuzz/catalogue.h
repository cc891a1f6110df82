// Scenario jobs that together reach every output routine and decoration:
// the seeds of the fuzzer and the jobs of the fault-injection sweep.
#pragma once

#include <string>
#include <vector>

#include "spoolsim.h"

namespace fuzzjob
{

struct Scenario
{
    std::string name;
    int iniVariant = 0;              // PrepareDriverFiles
    std::vector<spoolsim::Job> jobs; // run one after the other on one machine
};

const std::vector<Scenario> &Catalogue();

} // namespace fuzzjob
