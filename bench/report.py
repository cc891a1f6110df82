#!/usr/bin/env python3
"""kd_bench's reports: checked for form, and printed side by side.

    report.py --check REPORT.json             exit 1, saying why, when a report is not well formed
    report.py LINUX.json [WINDOWS.json|-] [--windows-note TEXT]
                                              the table of ratios of both builds, the twins, the layer split
"""
import json
import math
import sys

EXPECTED = ["intake/16", "intake/256", "intake/4096", "intake/65536", "output/collate", "output/reverse", "call",
            "memory"]
CHECKS = ["output/collate", "output/reverse", "call"]


def problems_of(report):
    """What is wrong with a report's form (not its figures), as a list of texts."""
    found = []
    if report.get("build") not in ("linux", "windows"):
        found.append("build is %r" % report.get("build"))
    pairs = report.get("pairs")
    checks = {c.get("name"): c for c in report.get("checks", [])}
    for name in CHECKS:
        c = checks.get(name)
        if c is None:
            found.append("no twin check %s" % name)
        elif c.get("same_writes") != 1 or not c.get("printer_writes"):
            found.append("twin check %s failed" % name)
    results = {r.get("name"): r for r in report.get("results", [])}
    for name in EXPECTED:
        r = results.get(name)
        if r is None:
            found.append("no result %s" % name)
            continue
        if name == "memory":
            for key in ("growth_small_kib", "growth_large_kib", "difference_mib"):
                v = r.get(key)
                if not isinstance(v, (int, float)) or not math.isfinite(v):
                    found.append("%s: %s is %r" % (name, key, v))
            continue
        if r.get("kind") not in ("throughput", "cost") or not r.get("twin") or not r.get("label"):
            found.append("%s: kind, twin or label missing" % name)
        for key in ("ratio", "hook_seconds", "twin_seconds"):
            s = r.get(key) or {}
            values = [s.get(k) for k in ("min", "q1", "median", "q3", "max")]
            if not all(isinstance(v, (int, float)) and math.isfinite(v) and v > 0 for v in values):
                found.append("%s: %s has values that are not positive numbers: %r" % (name, key, values))
            elif values != sorted(values):
                found.append("%s: %s is out of order: %r" % (name, key, values))
            if s.get("n") != pairs:
                found.append("%s: %s counts %r pairs, not %r" % (name, key, s.get("n"), pairs))
    return found


def met(result):
    if result["kind"] == "memory":
        return result["difference_mib"] <= result["target"]
    m = result["ratio"]["median"]
    return m >= result["target"] if result["kind"] == "throughput" else m <= result["target"]


def cell(result):
    if result is None:
        return ""
    verdict = "met" if met(result) else "MISSED"
    if result["kind"] == "memory":
        return "%8.3f MiB %s" % (result["difference_mib"], verdict)
    s = result["ratio"]
    return "%6.3f [%5.3f .. %5.3f] %s" % (s["median"], s["q1"], s["q3"], verdict)


def target(result):
    if result["kind"] == "memory":
        return "<= %g MiB" % result["target"]
    return (">= %g" if result["kind"] == "throughput" else "<= %g") % result["target"]


def print_table(reports, windows_note):
    linux = reports.get("linux")
    windows = reports.get("windows")
    by_build = {b: {r["name"]: r for r in rep["results"]} for b, rep in reports.items()}
    print()
    print("kd7720um against raw system calls: the median of the ratios of interleaved pairs, [quartiles]")
    for b, rep in reports.items():
        print("  %s: %d pairs per measurement" % (b, rep["pairs"]))
    if windows is None:
        print("  windows: not measured%s" % (": " + windows_note if windows_note else ""))
    elif windows_note:
        print("  windows: %s" % windows_note)
    print()
    width = 30
    print("%-38s %-*s %-*s %s" % ("ratio", width, "Linux build", width, "Windows build (Wine)", "target"))
    for name in EXPECTED:
        any_result = next((by_build[b][name] for b in by_build if name in by_build[b]), None)
        if any_result is None:
            continue
        print("%-38s %-*s %-*s %s" % (any_result["label"], width, cell(by_build.get("linux", {}).get(name)), width,
                                      cell(by_build.get("windows", {}).get(name)), target(any_result)))
    print()
    print("What each twin does (the same data movement as the hook, with plain system calls):")
    for name in EXPECTED:
        for b in ("linux", "windows"):
            r = by_build.get(b, {}).get(name)
            if r is not None and r.get("twin"):
                print("  %-15s %-8s %s" % (name, b, r["twin"]))
    if linux is not None:
        print()
        print("Linux build, through the Win32 layer: the layer twin (the raw twin's calls through our layer) against")
        print("the raw twin, and the hook against the layer twin (the hook's own share):")
        for name in EXPECTED:
            r = by_build["linux"].get(name)
            if r is None or "layer_twin_ratio" not in r:
                continue
            a, h = r["layer_twin_ratio"], r["hook_to_layer_ratio"]
            print("  %-36s layer/raw %6.3f [%5.3f .. %5.3f]   hook/layer %6.3f [%5.3f .. %5.3f]" %
                  (r["label"], a["median"], a["q1"], a["q3"], h["median"], h["q1"], h["q3"]))
    for b, rep in reports.items():
        r = by_build[b].get("call")
        if r is not None and "per_call_us" in r:
            u = r["per_call_us"]
            print()
            print("%s, one 16-byte call, microseconds (medians): the hook %.3f; the raw write %.3f; the hook's" %
                  (b, u["hook"], u["twin"]))
            print("  trace alone (OutputDebugStringW, which it makes on every call) %.3f; the rest %.3f" %
                  (u["trace"], u["hook"] - u["twin"] - u["trace"]))
    for b, rep in reports.items():
        r = by_build[b].get("memory")
        if r is not None:
            print()
            print("%s memory: %d KiB of growth for the small job, %d KiB for the large one" %
                  (b, r["growth_small_kib"], r["growth_large_kib"]))


def main(argv):
    if len(argv) >= 2 and argv[0] == "--check":
        ok = True
        for path in argv[1:]:
            try:
                with open(path) as f:
                    found = problems_of(json.load(f))
            except (OSError, ValueError) as e:
                found = ["cannot read it: %s" % e]
            for p in found:
                print("%s: %s" % (path, p))
            ok = ok and not found
        return 0 if ok else 1
    note = ""
    if "--windows-note" in argv:
        i = argv.index("--windows-note")
        note = argv[i + 1] if i + 1 < len(argv) else ""
        argv = argv[:i] + argv[i + 2:]
    reports = {}
    for path in argv:
        if path == "-":
            continue
        with open(path) as f:
            rep = json.load(f)
        found = problems_of(rep)
        if found:
            print("%s is not a complete report: %s" % (path, "; ".join(found)), file=sys.stderr)
            return 1
        reports[rep["build"]] = rep
    if not reports:
        print(__doc__, file=sys.stderr)
        return 2
    print_table(reports, note)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
