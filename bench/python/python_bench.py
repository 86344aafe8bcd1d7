#!/usr/bin/env python3
"""The Python package's cost against the same calls from C, in one run.

    python_bench.py C_REFERENCE [--cycles N] [--rounds R]

C_REFERENCE is the c_reference program built beside it (target
ostrel_python_bench_c of the bench preset; the bench_python target runs
this script with the build tree's libraries). Both sides use the same
shared libraries on the simulated platform, with payload copies off:

- single: one add and one delete, each with the drain of its reply (in
  Python the next call drains it), per cycle; per call is half of it;
- bulk: 24,576 changes (256 VLANs x 48 interfaces x 2 ACEs) made into one
  bulk call and drained, into an empty registry.

Each figure is the median of R rounds. Prints a Markdown table, for the
package with its C module, or through ctypes alone when
OSTRELAPI_NO_SPEEDUPS is set.
"""

import argparse
import statistics
import subprocess
import time

import ostrelapi as oa

A1, A2 = "00:11:22:33:44:55", "66:77:88:99:aa:bb"
BULK_CHANGES = 24576


def c_figures(program, cycles, rounds):
    out = subprocess.run([program, str(cycles), str(rounds)], check=True,
                         capture_output=True, text=True).stdout
    return {k: float(v) for k, v in (line.split() for line in out.splitlines())}


def single_round(c, cycles):
    c.sim.reset()
    c.sim.set_copy_payloads(False)
    start = time.perf_counter_ns()
    for _ in range(cycles):
        c.add(vlan=10, intf=5, addr1=A1, addr2=A2, qual=7)
        c.delete(vlan=10, intf=5, addr1=A1, addr2=A2, qual=7)
    c.drain()
    return (time.perf_counter_ns() - start) / cycles


def bulk_changes():
    """The C side's table, as a caller would hold it in Python."""
    return [dict(vlan=1 + i // 96, intf=1 + (i // 2) % 48,
                 addr1=bytes((2, 0, 0, 0, (i >> 8) & 0xFF, i & 0xFF)), addr2=b"\x66" * 6,
                 qual=i & 0xFFFF) for i in range(BULK_CHANGES)]


def bulk_round(c, changes):
    c.sim.reset()
    c.sim.set_copy_payloads(False)
    start = time.perf_counter_ns()
    with c.bulk() as b:
        for change in changes:
            b.add(**change)
    c.drain()
    elapsed = time.perf_counter_ns() - start
    c.forget_registry()
    return elapsed


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("c_reference")
    parser.add_argument("--cycles", type=int, default=20000)
    parser.add_argument("--rounds", type=int, default=9)
    args = parser.parse_args()
    ref = c_figures(args.c_reference, args.cycles, args.rounds)
    c = oa.Client.simulated()
    single = statistics.median(single_round(c, args.cycles) for _ in range(args.rounds))
    changes = bulk_changes()
    bulk = statistics.median(bulk_round(c, changes) for _ in range(args.rounds))
    c_call, py_call = ref["single_cycle_ns"] / 2, single / 2
    path = "C module" if c.speedups else "ctypes alone"
    print(f"Python's programming calls through: {path}\n")
    print("| measure | C | Python | Python - C | Python / C |")
    print("|---|---|---|---|---|")
    print(f"| one call and its drain (add or delete) | {c_call / 1000:.2f} µs "
          f"| {py_call / 1000:.2f} µs | {(py_call - c_call) / 1000:+.2f} µs "
          f"| {py_call / c_call:.2f} |")
    print(f"| bulk load of {BULK_CHANGES:,} changes, drained | {ref['bulk_ns'] / 1e6:.2f} ms "
          f"| {bulk / 1e6:.2f} ms | {(bulk - ref['bulk_ns']) / 1e6:+.2f} ms "
          f"| {bulk / ref['bulk_ns']:.2f} |")


if __name__ == "__main__":
    main()
