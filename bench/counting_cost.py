#!/usr/bin/env python3
"""What counting costs: runs ostrel_bench and ostrel_bench_uncounted (the
same benchmarks linked with the core built with OSTREL_NO_COUNTING, where
every counter and clock reading is compiled out) in turn, round after
round, and prints each benchmark's median time in both and their ratio.

  bench/counting_cost.py [--build-dir build/bench] [--rounds 9]
                         [--filter REGEX] [--min-time SECONDS]
                         [--limit 1.03]

Exits 1 when the small operation (BM_ProgramAdd/I:1/A:1) with counting takes
more than --limit times the processor time it takes without (judged on
processor time: on a shared machine the wall time also holds the time other
processes ran).
"""
import argparse
import json
import os
import statistics
import subprocess
import sys

# The heap kept as run_benchmarks.py keeps it, so both binaries meet the
# same allocator.
HEAP_KEPT_TUNABLES = ("glibc.malloc.trim_threshold=67108864:"
                      "glibc.malloc.mmap_threshold=67108864")
SMALL = "BM_ProgramAdd/I:1/A:1"


def run_once(binary, args):
    env = dict(os.environ, GLIBC_TUNABLES=HEAP_KEPT_TUNABLES)
    out = subprocess.run(
        [binary, f"--benchmark_filter={args.filter}",
         "--benchmark_format=json",
         f"--benchmark_min_time={args.min_time}"],
        env=env, capture_output=True, check=True, text=True).stdout
    return {b["name"].removesuffix("/manual_time"):
            (b["real_time"], b.get("region_cpu_ns", b["cpu_time"]))
            for b in json.loads(out)["benchmarks"]}


def main():
    p = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    p.add_argument("--build-dir", default="build/bench")
    p.add_argument("--rounds", type=int, default=9)
    p.add_argument("--filter",
                   default=r"^BM_Program(Add|Delete)/(I:1/A:1|I:8/A:16|I:48/A:64)/")
    p.add_argument("--min-time", default="0.3")
    p.add_argument("--limit", type=float, default=1.03)
    args = p.parse_args()
    binaries = {name: os.path.join(args.build_dir, "bench", name)
                for name in ("ostrel_bench", "ostrel_bench_uncounted")}
    times = {name: {} for name in binaries}
    for r in range(args.rounds):
        # Alternate which goes first, so a drift of the machine falls on
        # both alike.
        order = list(binaries) if r % 2 == 0 else list(binaries)[::-1]
        for name in order:
            for bench, t in run_once(binaries[name], args).items():
                times[name].setdefault(bench, []).append(t)
    counted, uncounted = times["ostrel_bench"], times["ostrel_bench_uncounted"]
    print(f"medians of {args.rounds} rounds (ns per operation; wall time, "
          "and the processor time of the timed region)\n")
    print("| Benchmark | wall counted | wall uncounted | ratio "
          "| cpu counted | cpu uncounted | ratio |")
    print("|---|---:|---:|---:|---:|---:|---:|")
    ratios = {}
    for bench in counted:
        row = []
        for i in (0, 1):
            c = statistics.median(t[i] for t in counted[bench])
            u = statistics.median(t[i] for t in uncounted[bench])
            row += [f"{c:.0f}", f"{u:.0f}", f"{c / u:.3f}"]
        ratios[bench] = float(row[5])
        print(f"| `{bench}` | " + " | ".join(row) + " |")
    if SMALL in ratios and ratios[SMALL] > args.limit:
        print(f"\n{SMALL}: counting costs more than {args.limit:.2f}x "
              "processor time")
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
