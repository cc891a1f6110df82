// How kd_bench measures, on both builds: the hook and its twins run
// interleaved (hook, twin, hook, twin, ...) on the same machine in the same
// process, so that whatever else the machine does at a moment weighs on both
// members of a pair; each pair gives one ratio, and a measurement is the
// median of its pairs' ratios with their spread.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

namespace bench
{

// Seconds on a steady clock.
double Now();

// The median of a set of values and how far they spread: quartiles and
// extremes. Empty input gives n = 0 and zeros.
struct Spread
{
    double median = 0, q1 = 0, q3 = 0, min = 0, max = 0;
    size_t n = 0;
};
Spread Summarise(std::vector<double> values);

// The time of a timed part: wall-clock seconds, and the seconds of CPU time
// the thread spent in it (user and system), which other work on the machine
// disturbs less.
struct Timing
{
    double wall = 0, cpu = 0;
};

// Times a part of a run: from construction to Stop().
class Stopwatch
{
  public:
    Stopwatch();
    Timing Stop() const;

  private:
    double m_wall, m_cpu;
};

// One run of a measured side: does the work once, returns the time of the
// part that is timed (setting up and tidying up are not).
using Run = std::function<Timing()>;

// How a pair's ratio is formed.
enum class RatioKind
{
    Throughput, // twin seconds / hook seconds: the hook's speed as a share of the twin's
    Cost,       // hook seconds / twin seconds: what the hook costs in twins
};

double PairRatio(RatioKind kind, double hookSeconds, double twinSeconds);

struct Series
{
    std::vector<Timing> hook, twin, layer; // one per pair
};

// One untimed warm-up round, then cPairs rounds of hook, twin and (when
// given) layer, in that order.
Series Interleave(const Run &hook, const Run &twin, const Run *layer, int cPairs);

// The per-pair ratios of two sides of a series, by wall-clock or CPU time.
std::vector<double> Ratios(RatioKind kind, const std::vector<Timing> &hook, const std::vector<Timing> &twin,
                           bool bCpu = false);
// The wall-clock or CPU seconds of one side.
std::vector<double> Seconds(const std::vector<Timing> &side, bool bCpu = false);

// A small JSON writer for the report: objects and arrays, numbers, strings.
class Json
{
  public:
    Json &Open(const char *key = nullptr);  // {
    Json &Close();                          // }
    Json &OpenArray(const char *key);       // [
    Json &CloseArray();                     // ]
    Json &Field(const char *key, double v); // non-finite numbers are written as null
    Json &Field(const char *key, const std::string &v);
    Json &Field(const char *key, const Spread &s);
    const std::string &Text() const
    {
        return m_text;
    }

  private:
    void Key(const char *key);
    std::string m_text;
    std::vector<bool> m_first; // per open level: nothing written in it yet
};

} // namespace bench
