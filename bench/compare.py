#!/usr/bin/env python3
"""Runs a Google Benchmark program once and prints, for each pair of benchmark
names, candidate throughput / baseline throughput (items or bytes per second),
both measured in the same run: the median of several repetitions, run in
random interleaved order so that a slow moment of the machine does not fall on
one side only. With --time, the ratio is turned over: candidate time / baseline
time, how many times as long the candidate takes.

usage: bench/compare.py [--repetitions N] [--time] BENCH_BINARY BASELINE:CANDIDATE
       [BASELINE:CANDIDATE ...] [-- extra benchmark arguments]
"""
import json
import subprocess
import sys


def main() -> int:
    args = sys.argv[1:]
    extra = []
    if "--" in args:
        extra = args[args.index("--") + 1:]
        args = args[: args.index("--")]
    repetitions = 5
    if len(args) >= 2 and args[0] == "--repetitions":
        repetitions = int(args[1])
        args = args[2:]
    as_time = bool(args) and args[0] == "--time"
    if as_time:
        args = args[1:]
    if len(args) < 2:
        print(__doc__, file=sys.stderr)
        return 2
    binary, pairs = args[0], args[1:]
    out = subprocess.run([binary, "--benchmark_format=json",
                          f"--benchmark_repetitions={repetitions}",
                          "--benchmark_enable_random_interleaving=true",
                          "--benchmark_report_aggregates_only=true", *extra],
                         check=True, capture_output=True, text=True).stdout
    rates = {}
    for b in json.loads(out)["benchmarks"]:
        if b.get("aggregate_name") != "median":
            continue
        rate = b.get("items_per_second") or b.get("bytes_per_second")
        rates[b["run_name"]] = rate
    status = 0
    for pair in pairs:
        base, cand = pair.split(":")
        if base not in rates or cand not in rates:
            print(f"{pair}: missing from the run ({sorted(rates)})", file=sys.stderr)
            status = 1
            continue
        if as_time:
            print(f"{cand} / {base}: {rates[base] / rates[cand]:.2f} times as long "
                  f"({1e3 / rates[cand]:.4g} vs {1e3 / rates[base]:.4g} ms each, "
                  f"medians of {repetitions} interleaved runs)")
        else:
            print(f"{cand} / {base}: {rates[cand] / rates[base]:.2f} "
                  f"({rates[cand]:.4g} vs {rates[base]:.4g} per second, "
                  f"medians of {repetitions} interleaved runs)")
    return status


if __name__ == "__main__":
    sys.exit(main())
