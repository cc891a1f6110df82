#include "measure.h"

#include "platform.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>

namespace bench
{

double Now()
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

Stopwatch::Stopwatch() : m_wall(Now()), m_cpu(platform::ThreadCpuSeconds())
{
}

Timing Stopwatch::Stop() const
{
    Timing t;
    t.wall = Now() - m_wall;
    t.cpu = platform::ThreadCpuSeconds() - m_cpu;
    return t;
}

namespace
{

// The value below which a share p of sorted values lies, interpolated
// between neighbours.
double Quantile(const std::vector<double> &sorted, double p)
{
    double at = p * static_cast<double>(sorted.size() - 1);
    size_t lo = static_cast<size_t>(std::floor(at));
    size_t hi = std::min(lo + 1, sorted.size() - 1);
    return sorted[lo] + (sorted[hi] - sorted[lo]) * (at - static_cast<double>(lo));
}

} // namespace

Spread Summarise(std::vector<double> values)
{
    Spread s;
    if (values.empty())
    {
        return s;
    }
    std::sort(values.begin(), values.end());
    s.n = values.size();
    s.median = Quantile(values, 0.5);
    s.q1 = Quantile(values, 0.25);
    s.q3 = Quantile(values, 0.75);
    s.min = values.front();
    s.max = values.back();
    return s;
}

double PairRatio(RatioKind kind, double hookSeconds, double twinSeconds)
{
    return kind == RatioKind::Throughput ? twinSeconds / hookSeconds : hookSeconds / twinSeconds;
}

Series Interleave(const Run &hook, const Run &twin, const Run *layer, int cPairs)
{
    // The warm-up round fills caches, maps the code and grows the heap.
    hook();
    twin();
    if (layer)
    {
        (*layer)();
    }
    Series s;
    for (int i = 0; i < cPairs; i++)
    {
        s.hook.push_back(hook());
        s.twin.push_back(twin());
        if (layer)
        {
            s.layer.push_back((*layer)());
        }
    }
    return s;
}

std::vector<double> Ratios(RatioKind kind, const std::vector<Timing> &hook, const std::vector<Timing> &twin, bool bCpu)
{
    std::vector<double> r;
    for (size_t i = 0; i < hook.size() && i < twin.size(); i++)
    {
        r.push_back(bCpu ? PairRatio(kind, hook[i].cpu, twin[i].cpu) : PairRatio(kind, hook[i].wall, twin[i].wall));
    }
    return r;
}

std::vector<double> Seconds(const std::vector<Timing> &side, bool bCpu)
{
    std::vector<double> v;
    for (const Timing &t : side)
    {
        v.push_back(bCpu ? t.cpu : t.wall);
    }
    return v;
}

// ---- JSON ----------------------------------------------------------------------------

void Json::Key(const char *key)
{
    if (!m_first.empty())
    {
        if (!m_first.back())
        {
            m_text += ",";
        }
        m_first.back() = false;
        m_text += "\n" + std::string(2 * m_first.size(), ' ');
    }
    if (key)
    {
        m_text += "\"" + std::string(key) + "\": ";
    }
}

Json &Json::Open(const char *key)
{
    Key(key);
    m_text += "{";
    m_first.push_back(true);
    return *this;
}

Json &Json::Close()
{
    m_first.pop_back();
    m_text += "\n" + std::string(2 * m_first.size(), ' ') + "}";
    return *this;
}

Json &Json::OpenArray(const char *key)
{
    Key(key);
    m_text += "[";
    m_first.push_back(true);
    return *this;
}

Json &Json::CloseArray()
{
    m_first.pop_back();
    m_text += "\n" + std::string(2 * m_first.size(), ' ') + "]";
    return *this;
}

Json &Json::Field(const char *key, double v)
{
    Key(key);
    if (std::isfinite(v))
    {
        char sz[64];
        std::snprintf(sz, sizeof(sz), "%.6g", v);
        m_text += sz;
    }
    else
    {
        m_text += "null";
    }
    return *this;
}

Json &Json::Field(const char *key, const std::string &v)
{
    Key(key);
    m_text += "\"";
    for (char c : v)
    {
        if (c == '"' || c == '\\')
        {
            m_text += '\\';
            m_text += c;
        }
        else if (static_cast<unsigned char>(c) < 0x20)
        {
            char sz[8];
            std::snprintf(sz, sizeof(sz), "\\u%04x", static_cast<unsigned>(static_cast<unsigned char>(c)));
            m_text += sz;
        }
        else
        {
            m_text += c;
        }
    }
    m_text += "\"";
    return *this;
}

Json &Json::Field(const char *key, const Spread &s)
{
    Open(key);
    Field("median", s.median);
    Field("q1", s.q1);
    Field("q3", s.q3);
    Field("min", s.min);
    Field("max", s.max);
    Field("n", static_cast<double>(s.n));
    return Close();
}

} // namespace bench
