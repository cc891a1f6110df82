// kd_bench: kd7720um against the physical limit of the same work, on either
// build. Each measurement runs the hook and its raw twin interleaved in one
// process (and, on Linux, the layer twin: the raw twin's calls through our
// Win32 layer) and reports the median of the per-pair ratios with their
// spread, as JSON for tools/bench.sh. Before measuring, it checks on a small
// document that every twin sends the printer exactly what the hook sends, in
// the same writes.
//
//   kd_bench [--pairs N] [--run-seconds S] [--quick] [--only intake,output,call,memory]
//            [--json FILE] [--root HOSTDIR] [--temp WINDIR] [--printer WINPATH]
//            [--output-mb PAGES] [--memory-mb SMALL,LARGE]
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "measure.h"
#include "options.h"
#include "platform.h"
#include "workload.h"

namespace bench
{

bool Options::Wants(const char *pszGroup) const
{
    if (only.empty())
    {
        return true;
    }
    std::string list = "," + only + ",";
    return list.find("," + std::string(pszGroup) + ",") != std::string::npos;
}

bool ParseOptions(int argc, char **argv, Options &o)
{
    for (int i = 1; i < argc; i++)
    {
        std::string a = argv[i];
        auto value = [&](const char *pszWhat) -> const char * {
            if (i + 1 >= argc)
            {
                std::fprintf(stderr, "kd_bench: %s needs %s\n", a.c_str(), pszWhat);
                return nullptr;
            }
            return argv[++i];
        };
        auto number = [&](const char *pszWhat, double lo, double hi, double *pv) {
            const char *psz = value(pszWhat);
            char *pszEnd = nullptr;
            double v = psz ? std::strtod(psz, &pszEnd) : 0;
            if (!psz || *pszEnd != 0 || !(v >= lo && v <= hi))
            {
                std::fprintf(stderr, "kd_bench: %s takes %s from %g to %g\n", a.c_str(), pszWhat, lo, hi);
                return false;
            }
            *pv = v;
            return true;
        };
        double v = 0;
        const char *psz = nullptr;
        if (a == "--quick")
        {
            o.quick = true;
        }
        else if (a == "--pairs")
        {
            if (!number("a count", 1, 1000, &v))
            {
                return false;
            }
            o.cPairs = static_cast<int>(v);
        }
        else if (a == "--run-seconds")
        {
            if (!number("seconds", 0.001, 60, &v))
            {
                return false;
            }
            o.runSeconds = v;
        }
        else if (a == "--output-mb")
        {
            if (!number("megabyte pages", 1, 1999, &v))
            {
                return false;
            }
            o.outputPages = static_cast<size_t>(v);
        }
        else if (a == "--memory-mb")
        {
            unsigned long small = 0, large = 0;
            char extra = 0;
            if ((psz = value("SMALL,LARGE")) == nullptr || std::sscanf(psz, "%lu,%lu%c", &small, &large, &extra) != 2 ||
                small < 1 || large <= small || large > 4000)
            {
                std::fprintf(stderr, "kd_bench: --memory-mb takes SMALL,LARGE megabytes, SMALL < LARGE <= 4000\n");
                return false;
            }
            o.memorySmallMB = small;
            o.memoryLargeMB = large;
        }
        else if (a == "--memory-child")
        {
            if (!number("megabytes", 1, 4000, &v) || (psz = value("a result file")) == nullptr)
            {
                return false;
            }
            o.memoryChildMB = static_cast<size_t>(v);
            o.memoryChildOut = psz;
        }
        else if (a == "--only" || a == "--json" || a == "--root" || a == "--temp" || a == "--printer")
        {
            if ((psz = value("a value")) == nullptr)
            {
                return false;
            }
            std::string &field = a == "--only"   ? o.only
                                 : a == "--json" ? o.json
                                 : a == "--root" ? o.root
                                 : a == "--temp" ? o.temp
                                                 : o.printer;
            field = psz;
        }
        else
        {
            std::fprintf(stderr, "kd_bench: %s is not understood\n", a.c_str());
            return false;
        }
    }
    if (o.quick)
    {
        o.cPairs = std::min(o.cPairs, 3);
        o.outputPages = std::min<size_t>(o.outputPages, 8);
        o.outputPageBytes = 128 * 1024 + 100;
        o.memorySmallMB = 1;
        o.memoryLargeMB = 16;
    }
    return true;
}

namespace
{

struct Measurement
{
    std::string name, label, twin, volume;
    RatioKind kind;
    double target;
    Series series;
    // Per call: the hook's trace alone (OutputDebugStringW of its entry
    // string), timed interleaved with the other two, and the calls per run.
    std::vector<Timing> trace;
    size_t cCalls = 0;
};

std::string Size(uint64_t cb)
{
    char sz[64];
    if (cb >= 10 * 1000 * 1000)
    {
        std::snprintf(sz, sizeof(sz), "%.0f MB", static_cast<double>(cb) / 1e6);
    }
    else
    {
        std::snprintf(sz, sizeof(sz), "%.0f kB", static_cast<double>(cb) / 1e3);
    }
    return sz;
}

void Write(Json &j, const Measurement &m)
{
    j.Open();
    j.Field("name", m.name);
    j.Field("label", m.label);
    j.Field("twin", m.twin);
    j.Field("volume", m.volume);
    j.Field("kind", std::string(m.kind == RatioKind::Throughput ? "throughput" : "cost"));
    j.Field("target", m.target);
    j.Field("ratio", Summarise(Ratios(m.kind, m.series.hook, m.series.twin)));
    const bool bCpu = platform::ThreadCpuUsable();
    if (bCpu)
    {
        j.Field("cpu_ratio", Summarise(Ratios(m.kind, m.series.hook, m.series.twin, true)));
    }
    j.Field("hook_seconds", Summarise(Seconds(m.series.hook)));
    j.Field("twin_seconds", Summarise(Seconds(m.series.twin)));
    if (!m.series.layer.empty())
    {
        // How far the layer alone is from the raw calls, and the hook from
        // the layer: the hook's own share.
        j.Field("layer_twin_ratio", Summarise(Ratios(m.kind, m.series.layer, m.series.twin)));
        j.Field("hook_to_layer_ratio", Summarise(Ratios(m.kind, m.series.hook, m.series.layer)));
        if (bCpu)
        {
            j.Field("layer_twin_cpu_ratio", Summarise(Ratios(m.kind, m.series.layer, m.series.twin, true)));
            j.Field("hook_to_layer_cpu_ratio", Summarise(Ratios(m.kind, m.series.hook, m.series.layer, true)));
        }
    }
    if (!m.trace.empty())
    {
        auto perCall = [&](const std::vector<Timing> &side) {
            return Summarise(Seconds(side)).median / static_cast<double>(m.cCalls) * 1e6;
        };
        j.Open("per_call_us");
        j.Field("hook", perCall(m.series.hook));
        j.Field("twin", perCall(m.series.twin));
        j.Field("trace", perCall(m.trace));
        j.Close();
    }
    j.Close();
}

void Progress(const Measurement &m)
{
    Spread s = Summarise(Ratios(m.kind, m.series.hook, m.series.twin));
    std::fprintf(stderr, "%-34s %.3f  [%.3f .. %.3f]", m.label.c_str(), s.median, s.q1, s.q3);
    if (platform::ThreadCpuUsable())
    {
        Spread c = Summarise(Ratios(m.kind, m.series.hook, m.series.twin, true));
        std::fprintf(stderr, "  cpu %.3f [%.3f .. %.3f]", c.median, c.q1, c.q3);
    }
    std::fprintf(stderr, "  (%zu pairs)\n", s.n);
}

// How many calls make a hook run of about the seconds asked for, from a
// trial run of cTrial calls; at least cTrial, at most cMax.
size_t CallsFor(double seconds, double trialSeconds, size_t cTrial, size_t cMax)
{
    double c = trialSeconds > 0 ? seconds / trialSeconds * static_cast<double>(cTrial) : static_cast<double>(cMax);
    return std::max(cTrial, std::min(cMax, static_cast<size_t>(c)));
}

class Bench
{
  public:
    Bench(World &w, const Options &o) : m_w(w), m_o(o)
    {
    }

    // Every twin must send what the hook sends, write for write: a twin that
    // did other work would make its ratio meaningless.
    void CheckTwins(Json &j)
    {
        j.OpenArray("checks");
        Document doc{5, 20000};
        for (OutputMode mode : {OutputMode::Collate, OutputMode::Reverse})
        {
            const char *pszName = mode == OutputMode::Collate ? "output/collate" : "output/reverse";
            RecordingPrinter hook, raw, layer;
            uint64_t cb = 0;
            OutputHook(
                m_w, doc, mode, [&](const BYTE *pb, DWORD cbWrite) { hook.Write(pb, cbWrite); }, &cb);
            std::vector<Step> plan = OutputPlan(doc, mode);
            OutputTwin<RawFile>(m_w, doc, plan, raw, &cb);
            bool same = hook == raw;
            if (kLayerTwin)
            {
                OutputTwin<Win32File>(m_w, doc, plan, layer, &cb);
                same = same && hook == layer;
            }
            Check(j, pszName, same, hook.sizes.size());
        }
        RecordingPrinter hook, raw;
        CallsHook(m_w, 100, [&](const BYTE *pb, DWORD cbWrite) { hook.Write(pb, cbWrite); });
        CallsTwin(raw, 100);
        Check(j, "call", hook == raw, hook.sizes.size());
        j.CloseArray();
    }

    void Intake(Json &j)
    {
        for (size_t cb : {16u, 256u, 4096u, 65536u})
        {
            spoolsim::Bytes buffer(cb, 'x');
            const size_t cMax = std::max<size_t>(1, (m_o.quick ? (2u << 20) : (256u << 20)) / cb);
            size_t cTrial = std::min<size_t>(m_o.quick ? 500 : 2048, cMax);
            double tTrial = IntakeHook(m_w, buffer, cTrial).wall;
            size_t cCalls = m_o.quick ? cTrial : CallsFor(m_o.runSeconds, tTrial, cTrial, cMax);
            Measurement m;
            m.name = "intake/" + std::to_string(cb);
            m.label = "spool intake, " + std::to_string(cb) + "-byte buffers";
            m.twin =
                std::string("one ") + kRawWrite + " per buffer, the same buffers, to a new file in the temp folder";
            m.volume = std::to_string(cCalls) + " buffers, " + Size(cCalls * cb);
            m.kind = RatioKind::Throughput;
            m.target = 0.95;
            Run hook = [&] { return IntakeHook(m_w, buffer, cCalls); };
            Run twin = [&] { return IntakeTwin<RawFile>(m_w, buffer, cCalls); };
            Run layer = [&] { return IntakeTwin<Win32File>(m_w, buffer, cCalls); };
            m.series = Interleave(hook, twin, kLayerTwin ? &layer : nullptr, m_o.cPairs);
            Add(j, m);
        }
    }

    void Output(Json &j)
    {
        Document doc{m_o.outputPages, m_o.outputPageBytes};
        RawFile printer(m_w.PrinterPath(), FileMode::ExistingWrite);
        if (!printer.IsOpen())
        {
            Fatal("cannot open the printer target " + spoolsim::Narrow(m_w.PrinterPath()));
        }
        PrinterSink sink = [&](const BYTE *pb, DWORD cb) { printer.Write(pb, cb); };
        for (OutputMode mode : {OutputMode::Collate, OutputMode::Reverse})
        {
            std::vector<Step> plan = OutputPlan(doc, mode);
            uint64_t cbHook = 0, cbTwin = 0;
            Measurement m;
            bool collate = mode == OutputMode::Collate;
            m.name = collate ? "output/collate" : "output/reverse";
            m.label = collate ? "output, 3 collated copies" : "output, reverse order";
            m.twin = collate ? "the header, pages 1..N three times, the trailer"
                             : "the header less its lead-ins, the lead-ins read and the second sent, pages N..1, the "
                               "trailer";
            m.twin += std::string(": per range a seek, then ") + kRawRead + " into one 8 KiB buffer and " + kRawWrite +
                      " of each piece to the printer target";
            m.kind = RatioKind::Throughput;
            m.target = 0.95;
            Run hook = [&] { return OutputHook(m_w, doc, mode, sink, &cbHook); };
            Run twin = [&] { return OutputTwin<RawFile>(m_w, doc, plan, printer, &cbTwin); };
            Run layer = [&] { return OutputTwin<Win32File>(m_w, doc, plan, printer, &cbTwin); };
            m.series = Interleave(hook, twin, kLayerTwin ? &layer : nullptr, m_o.cPairs);
            if (cbHook != cbTwin)
            {
                Fatal(m.name + ": the hook printed " + std::to_string(cbHook) + " bytes, the twin " +
                      std::to_string(cbTwin));
            }
            m.volume = std::to_string(doc.cPages) + " pages of " + Size(doc.cbPage) + ", " + Size(cbHook) + " printed";
            Add(j, m);
        }
    }

    void Calls(Json &j)
    {
        const WString path = m_w.TempFile(W("printer-calls.tmp"));
        auto hookRun = [&](size_t cCalls) {
            RawFile printer(path, FileMode::New);
            Timing t = CallsHook(m_w, cCalls, [&](const BYTE *pb, DWORD cb) { printer.Write(pb, cb); });
            printer.Delete();
            return t;
        };
        const size_t cMax = m_o.quick ? 2000 : (4u << 20);
        size_t cTrial = m_o.quick ? 2000 : 4096;
        double tTrial = hookRun(cTrial).wall;
        size_t cCalls = m_o.quick ? cTrial : CallsFor(m_o.runSeconds, tTrial, cTrial, cMax);
        Measurement m;
        m.name = "call";
        m.label = "per-call cost, 16 bytes direct";
        m.twin = std::string("one ") + kRawWrite + " of 16 bytes to a new file per call";
        m.volume = std::to_string(cCalls) + " calls";
        m.kind = RatioKind::Cost;
        m.target = 1.2;
        Run hook = [&] { return hookRun(cCalls); };
        Run twin = [&] {
            RawFile printer(path, FileMode::New);
            Timing t = CallsTwin(printer, cCalls);
            printer.Delete();
            return t;
        };
        // The hook traces every call, as it must; what that system call
        // costs alone shows how much of the hook's cost lies in it.
        Run trace = [&] {
            Stopwatch watch;
            for (size_t i = 0; i < cCalls; i++)
            {
                OutputDebugStringW(W("QVXLUMPD: DrvSplWritePrinter \n"));
            }
            return watch.Stop();
        };
        m.series = Interleave(hook, twin, &trace, m_o.cPairs);
        m.trace.swap(m.series.layer);
        m.cCalls = cCalls;
        Add(j, m);
    }

    void Memory(Json &j)
    {
        long small = platform::MemoryGrowthKiB(m_w, m_o, m_o.memorySmallMB);
        long large = platform::MemoryGrowthKiB(m_w, m_o, m_o.memoryLargeMB);
        if (small < 0 || large < 0)
        {
            Fatal("the memory of a job could not be measured");
        }
        double mib = static_cast<double>(large - small) / 1024.0;
        std::fprintf(stderr, "%-34s %.3f MiB (%ld KiB for %zu MB, %ld KiB for %zu MB)\n", "memory, large vs small job",
                     mib, large, m_o.memoryLargeMB, small, m_o.memorySmallMB);
        j.Open();
        j.Field("name", std::string("memory"));
        j.Field("label", "memory, " + std::to_string(m_o.memoryLargeMB) + " MB job vs " +
                             std::to_string(m_o.memorySmallMB) + " MB job (MiB)");
        j.Field("kind", std::string("memory"));
        j.Field("target", 1.0);
        j.Field("growth_small_kib", static_cast<double>(small));
        j.Field("growth_large_kib", static_cast<double>(large));
        j.Field("difference_mib", mib);
        j.Close();
    }

  private:
    void Check(Json &j, const char *pszName, bool same, size_t cWrites)
    {
        j.Open().Field("name", std::string(pszName)).Field("same_writes", same ? 1.0 : 0.0);
        j.Field("printer_writes", static_cast<double>(cWrites)).Close();
        if (!same)
        {
            m_bTwinsDiffer = true;
            std::fprintf(stderr, "kd_bench: the %s twin does not send what the hook sends\n", pszName);
        }
    }

    void Add(Json &j, const Measurement &m)
    {
        Progress(m);
        Write(j, m);
    }

    World &m_w;
    const Options &m_o;

  public:
    bool m_bTwinsDiffer = false;
};

} // namespace
} // namespace bench

int main(int argc, char **argv)
{
    using namespace bench;
    Options o;
    if (!ParseOptions(argc, argv, o))
    {
        std::fprintf(stderr, "usage: kd_bench [--pairs N] [--run-seconds S] [--quick] "
                             "[--only intake,output,call,memory] [--json FILE] [--root HOSTDIR] [--temp WINDIR] "
                             "[--printer WINPATH] [--output-mb PAGES] [--memory-mb SMALL,LARGE]\n");
        return 2;
    }
    if (o.memoryChildMB != 0)
    {
        return platform::MemoryChild(o);
    }
    World w(o);
    Bench b(w, o);
    Json j;
    j.Open();
    j.Field("build", std::string(platform::BuildName()));
    j.Field("pairs", static_cast<double>(o.cPairs));
    j.Field("quick", o.quick ? 1.0 : 0.0);
    b.CheckTwins(j);
    if (b.m_bTwinsDiffer)
    {
        return 1;
    }
    j.OpenArray("results");
    if (o.Wants("intake"))
    {
        b.Intake(j);
    }
    if (o.Wants("output"))
    {
        b.Output(j);
    }
    if (o.Wants("call"))
    {
        b.Calls(j);
    }
    if (o.Wants("memory"))
    {
        b.Memory(j);
    }
    j.CloseArray();
    j.Close();
    std::string text = j.Text() + "\n";
    if (o.json.empty() || o.json == "-")
    {
        std::fwrite(text.data(), 1, text.size(), stdout);
        return 0;
    }
    FILE *pf = std::fopen(o.json.c_str(), "wb");
    bool ok = pf != nullptr && std::fwrite(text.data(), 1, text.size(), pf) == text.size();
    ok = pf != nullptr && std::fclose(pf) == 0 && ok;
    if (!ok)
    {
        std::fprintf(stderr, "kd_bench: cannot write %s\n", o.json.c_str());
        return 1;
    }
    return 0;
}
