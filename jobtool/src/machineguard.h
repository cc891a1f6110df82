// While a job runs on the simulated machine, an interrupted tool (Ctrl-C at
// a prompt, a terminal that closes, kill) still removes the machine: on
// Linux its private folder, on Windows the package's files in the driver
// directory. A machine left by a crash is removed by the next run (see
// spoolsim::Machine).
#pragma once

#include <string>

namespace jobtool
{

class MachineGuard
{
  public:
    // hostRoot: the machine's host folder (empty on Windows).
    explicit MachineGuard(const std::string &hostRoot);
    ~MachineGuard();
    MachineGuard(const MachineGuard &) = delete;
    MachineGuard &operator=(const MachineGuard &) = delete;
};

} // namespace jobtool
