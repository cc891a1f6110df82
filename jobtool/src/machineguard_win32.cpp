#include "machineguard.h"

#include "spoolsim.h"

#include <windows.h>

namespace jobtool
{

namespace
{

BOOL WINAPI OnConsoleEvent(DWORD event)
{
    (void)event;
    spoolsim::Machine::CleanUp(std::string());
    return FALSE; // the default handler ends the process
}

} // namespace

MachineGuard::MachineGuard(const std::string &hostRoot)
{
    (void)hostRoot; // Windows machines have no folder of their own
    SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}

MachineGuard::~MachineGuard()
{
    SetConsoleCtrlHandler(OnConsoleEvent, FALSE);
}

} // namespace jobtool
