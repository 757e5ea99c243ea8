#!/usr/bin/env python3
"""Markdown table of a scalar_bench run (JSON output with repetitions):
medians of processor time, and the ratios that the targets are about.

    scalar_bench --benchmark_min_time=0.05 --benchmark_repetitions=5 \\
        --benchmark_report_aggregates_only=true --benchmark_out=run.json \\
        --benchmark_out_format=json
    bench/scalar_table.py run.json
"""
import json
import sys


def medians(path):
    """{run name: (microseconds, counters)} of the median aggregates."""
    with open(path) as f:
        runs = json.load(f)["benchmarks"]
    result = {}
    for run in runs:
        if run.get("aggregate_name") != "median":
            continue
        name = run["run_name"].replace("/manual_time", "")
        # Manual-time runs measure thread processor time themselves.
        seconds_field = "real_time" if "manual_time" in run["run_name"] else "cpu_time"
        scale = {"ns": 1e-3, "us": 1.0, "ms": 1e3, "s": 1e6}[run["time_unit"]]
        result[name] = (run[seconds_field] * scale, run)
    return result


def main(path):
    m = medians(path)
    print("| function | type | n | plain µs | linked µs | linked/plain | temp µs | temp/plain |")
    print("|---|---|---:|---:|---:|---:|---:|---:|")
    for name in m:
        if not name.endswith("/plain"):
            continue
        base = name[: -len("/plain")]
        function, kind, n = base.split("/")
        plain = m[name][0]
        linked = m.get(base + "/linked", (float("nan"),))[0]
        temp = m.get(base + "/temp", (float("nan"),))[0]
        print(f"| {function} | {kind} | {n} | {plain:.1f} | {linked:.1f} | {linked / plain:.2f} "
              f"| {temp:.1f} | {temp / plain:.2f} |")
    print()
    for name, (us, run) in m.items():
        if name.startswith("Chain3"):
            print(f"- {name}: {us:.1f} µs, blocks allocated per call: {run.get('blocks_per_call', 'n/a')}")
    for n in ("1000", "1000000", "10000000"):
        bits = m.get(f"And/BOOL/{n}/linked")
        ints = m.get(f"And/INTG/{n}/linked")
        if bits and ints:
            print(f"- ∧ per element, INTG/BOOL at n={n}: {ints[0] / bits[0]:.0f}x")


if __name__ == "__main__":
    main(sys.argv[1])
