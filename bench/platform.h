// What differs between the builds' benchmarks: where the files go, how the
// machine is made quiet, and how memory is measured in a process of its own.
#pragma once

#include <cstddef>
#include <string>

#include "options.h"

namespace bench
{

class World;

namespace platform
{

const char *BuildName(); // "linux" or "windows"

// Before the machine is made (Windows: the temp folder, TMP, from --temp).
void BeforeMachine(const Options &o);
// After it is made (Linux: C: moved into --root, call counting off).
void AfterMachine(const Options &o);
// The moved C: drive removed (Linux).
void Tidy();
// Written data on their way to the disk before a timed read starts.
void Settle();
// The CPU time this thread has used, in seconds; whether that clock is fine
// enough to report (under Wine it is not: ticks, and not always forward).
double ThreadCpuSeconds();
bool ThreadCpuUsable();
// The Windows path of the default printer target for output measurements:
// the null device.
std::string NullDevice();

// The growth of the resident set over a job of cMB megabytes, in KiB,
// measured in a process of its own; -1 when it cannot be measured.
long MemoryGrowthKiB(World &w, const Options &o, size_t cMB);
// The child's side of that on Windows (kd_bench --memory-child MB FILE).
int MemoryChild(const Options &o);

} // namespace platform
} // namespace bench
