#!/usr/bin/env python3
"""Builds and runs the benchmarks, then writes docs/performance-results.md
(tables, machine) and docs/performance.png (chart).

    bench/run_benchmarks.py                      # preset "bench" (build/bench)
    bench/run_benchmarks.py --build-dir build-x  # any build directory
    bench/run_benchmarks.py --skip-build --json results.json  # report only
    bench/run_benchmarks.py --baseline OLD/ostrel_bench  # before/after too
    bench/run_benchmarks.py --scale  # only the table loads: writes
        # docs/performance-scale-results.md and docs/performance-scale.png

Needs cmake, a C++20 compiler, Google Benchmark, protobuf-c and gnuplot:
    apt-get install libbenchmark-dev libprotobuf-c-dev protobuf-c-compiler \
        gnuplot-nox
gnuplot is installed with apt-get when missing and we run as root.
Standard library only.
"""

import argparse
import json
import math
import os
import re
import shutil
import subprocess
import sys
import tempfile
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
BATCH_PAYLOAD_MAX = 130056 - 8  # OSTREL_BATCH_SIZE less the 8-byte batch head
TARGET_MEMCPY_SHARE = 0.5
TARGET_SMALL_OP_NS = 1000.0      # I:1/A:1, median
TARGET_OTHER_SMALL_OP_NS = 1500.0  # every other I = 1 row
# ours / protobuf-c time, by ACE count: (encode, decode)
TARGET_CODEC_RATIO = {1: (1.0, 0.5), 64: (0.5, 0.25), 1000: (0.5, 0.25)}
TARGET_E2E_SHARE = 0.8           # of the ping-pong rate, I:1/A:1
# Table loads of V VLANs x 48 interfaces x 8 ACEs
TARGET_BULK_SPEEDUP = 50.0       # single-call time per ACE / bulk's
TARGET_BULK_BYTES = 1.02         # bulk bytes sent / the final requests
TARGET_RAW_STREAM_SHARE = 0.5    # end-to-end bulk rate / raw stream's
BATCH_HEAD = 8
SCALE_FILTER = "BM_LoadTable|BM_Resync"
SCALE_E2E_FILTER = "BM_EndToEndLoadTable|BM_EndToEndResync|BM_SeqpacketStream"


# glibc hands the top of the heap back to the kernel when a free leaves
# more than its trim threshold (128 KiB) there. A library that frees its
# 130056-byte batch block right after every send (the baseline does) gets
# the next batch faulted in page by page again in a benchmark's small
# heap. The runner raises both thresholds, as a process that programs at
# a high rate would, so that both versions run under the same settings;
# --default-malloc measures with glibc's defaults.
HEAP_KEPT_TUNABLES = ("glibc.malloc.trim_threshold=67108864:"
                      "glibc.malloc.mmap_threshold=67108864")


def run(cmd, **kw):
    print("+", " ".join(str(c) for c in cmd), flush=True)
    return subprocess.run([str(c) for c in cmd], check=True, **kw)


def ensure_gnuplot():
    if shutil.which("gnuplot"):
        return
    if os.geteuid() != 0:
        sys.exit("gnuplot missing: apt-get install gnuplot-nox")
    run(["apt-get", "install", "-y", "-q", "gnuplot-nox"],
        env=dict(os.environ, DEBIAN_FRONTEND="noninteractive"))


def build(args):
    """Configures and builds ostrel_bench; returns (binary, build dir)."""
    if args.build_dir:
        build_dir = Path(args.build_dir).resolve()
        if not args.skip_build:
            run(["cmake", "-S", ROOT, "-B", build_dir,
                 "-DCMAKE_BUILD_TYPE=Release", "-DOSTREL_BUILD_TESTS=OFF",
                 "-DOSTREL_BUILD_BENCH=ON"])
            run(["cmake", "--build", build_dir, "-j2", "--target",
                 "ostrel_bench", "ostrel_e2e_bench"])
    else:
        build_dir = ROOT / "build" / "bench"
        if not args.skip_build:
            run(["cmake", "--preset", "bench"], cwd=ROOT)
            run(["cmake", "--build", "--preset", "bench", "--target",
                 "ostrel_bench", "ostrel_e2e_bench"], cwd=ROOT)
    return build_dir / "bench" / "ostrel_bench", build_dir


def run_benchmarks(binary, out_json, args, scale_filter=None):
    cmd = [binary, f"--benchmark_out={out_json}",
           "--benchmark_out_format=json",
           f"--benchmark_repetitions={args.repetitions}",
           "--benchmark_display_aggregates_only=true",
           "--benchmark_enable_random_interleaving=true"]
    if args.min_time:
        cmd.append(f"--benchmark_min_time={args.min_time}")
    if args.filter or scale_filter:
        cmd.append(f"--benchmark_filter={scale_filter or args.filter}")
    env = dict(os.environ)
    if not args.default_malloc:
        env["GLIBC_TUNABLES"] = HEAP_KEPT_TUNABLES
    run(cmd, env=env)


# ---- results ----

UNIT_NS = {"ns": 1.0, "us": 1e3, "ms": 1e6, "s": 1e9}


def load_results(path, statistic):
    """Per run name: real time in ns (the fastest repetition, or their
    median), the spread of the repetitions and the counters; plus the error
    messages of skipped benchmarks."""
    data = json.loads(Path(path).read_text())
    reps, rows, errors, medians = {}, {}, {}, {}
    for b in data["benchmarks"]:
        name = b.get("run_name", b["name"])
        if b.get("error_occurred"):
            errors[name] = b.get("error_message", "error")
            continue
        if b.get("run_type", "iteration") != "iteration":
            if b.get("aggregate_name") == "median":
                medians[name] = b  # used when no repetition was kept
            continue
        ns = b["real_time"] * UNIT_NS[b.get("time_unit", "ns")]
        reps.setdefault(name, []).append(ns)
        rows.setdefault(name, dict(b))
    for name, b in medians.items():
        if name not in reps:
            reps[name] = [b["real_time"] * UNIT_NS[b.get("time_unit", "ns")]]
            rows[name] = dict(b)
    for name, times in reps.items():
        times.sort()
        median = times[len(times) // 2] if len(times) % 2 else \
            (times[len(times) // 2 - 1] + times[len(times) // 2]) / 2
        rows[name]["ns"] = times[0] if statistic == "min" else median
        rows[name]["median_ns"] = median
        rows[name]["repetitions"] = len(times)
    return data.get("context", {}), rows, errors


def param(name, key):
    m = re.search(rf"{key}:(\d+)", name)
    return int(m.group(1)) if m else None


def prog_name(kind, op, i, a):
    suffix = "/manual_time" if kind == "Program" else ""
    return f"BM_{kind}{op}/I:{i}/A:{a}{suffix}"


def fmt_time(ns):
    if ns >= 1e6:
        return f"{ns / 1e6:.2f} ms"
    if ns >= 1e3:
        return f"{ns / 1e3:.2f} µs"
    return f"{ns:.0f} ns"


def fmt_rate(bytes_per_s):
    return f"{bytes_per_s / 1e9:.2f}"


def request_size(interfaces, aces, op):
    """Bytes of one interface's request after the op: 24 + 64 x records."""
    extra = 1 if op == "Add" else 0
    records = interfaces * (aces - 1) + extra + 2
    return 24 + 64 * records


def grid_axes(rows, errors):
    names = list(rows) + list(errors)
    iv = sorted({param(n, "I") for n in names if "BM_Program" in n} - {None})
    av = sorted({param(n, "A") for n in names if "BM_Program" in n} - {None})
    return iv, av


def reps_of(rows):
    counts = sorted({r.get("repetitions", 1) for r in rows.values()})
    return ", ".join(str(c) for c in counts) or "0"


# ---- machine ----

def lscpu_field(field):
    try:
        out = subprocess.run(["lscpu"], capture_output=True, text=True).stdout
    except OSError:
        return "?"
    for line in out.splitlines():
        if line.startswith(field + ":"):
            return line.split(":", 1)[1].strip()
    return "?"


def compiler_of(build_dir):
    cache = Path(build_dir) / "CMakeCache.txt"
    cxx, build_type = "c++", "?"
    if cache.exists():
        for line in cache.read_text().splitlines():
            if line.startswith("CMAKE_CXX_COMPILER:"):
                cxx = line.split("=", 1)[1]
            elif line.startswith("CMAKE_BUILD_TYPE:"):
                build_type = line.split("=", 1)[1]
    try:
        version = subprocess.run([cxx, "--version"], capture_output=True,
                                 text=True).stdout.splitlines()[0]
    except (OSError, IndexError):
        version = cxx
    return version, build_type


def machine_lines(context, build_dir):
    version, build_type = compiler_of(build_dir)
    load = context.get("load_avg", [])
    caches = ", ".join(
        f"L{c['level']} {c['type'].lower()} {c['size'] // 1024} KiB"
        + (f" x{c['num_sharing']}" if c.get("num_sharing", 0) > 1 else "")
        for c in context.get("caches", []))
    return [
        f"- CPU: {lscpu_field('Model name')}, {lscpu_field('CPU(s)')} "
        f"cores ({lscpu_field('Thread(s) per core')} thread(s) per core), "
        f"{context.get('mhz_per_cpu', '?')} MHz; "
        f"hypervisor: {lscpu_field('Hypervisor vendor')}",
        f"- Caches: {caches}",
        f"- Compiler: {version}; build type {build_type}",
        f"- Run: {context.get('date', '?')}, load average at start "
        + " / ".join(f"{x:.2f}" for x in load)
        + f"; {context.get('executable', '')}",
    ]


# ---- report ----

def programming_table(rows, errors, iv, av):
    out = ["| op | I | A | request bytes per op | sends | time per op "
           "| library GB/s | memcpy GB/s | library / memcpy |",
           "|---|---:|---:|---:|---:|---:|---:|---:|---:|"]
    for op in ("Add", "Delete"):
        for i in iv:
            for a in av:
                name = prog_name("Program", op, i, a)
                base = rows.get(prog_name("Memcpy", op, i, a))
                r = rows.get(name)
                if r is None:
                    why = errors.get(name, "not run")
                    if why.startswith("refused"):
                        why = (f"refused: each request would be "
                               f"{request_size(i, a, op)} bytes, over the "
                               f"{BATCH_PAYLOAD_MAX} a batch holds")
                    out.append(f"| {op.lower()} | {i} | {a} | — | — | "
                               f"{why} | | | |")
                    continue
                nbytes = r["request_bytes"]
                lib = nbytes / (r["ns"] * 1e-9)
                mem = nbytes / (base["ns"] * 1e-9) if base else float("nan")
                share = lib / mem if base else float("nan")
                mark = " ✔" if share >= TARGET_MEMCPY_SHARE else ""
                out.append(f"| {op.lower()} | {i} | {a} | {nbytes:.0f} | "
                           f"{r.get('sends', 0):.0f} | {fmt_time(r['ns'])} | "
                           f"{fmt_rate(lib)} | {fmt_rate(mem)} | "
                           f"{share:.3f}{mark} |")
    return out


def scaling_tables(rows, iv, av):
    out = []
    for op in ("Add", "Delete"):
        out += [f"Time per {op.lower()} (rows I, columns A); in brackets ns "
                f"per KiB of request produced:", "",
                "| I \\ A | " + " | ".join(str(a) for a in av) + " |",
                "|---|" + "---:|" * len(av)]
        for i in iv:
            cells = []
            for a in av:
                r = rows.get(prog_name("Program", op, i, a))
                if r is None:
                    cells.append("refused")
                else:
                    per_kib = r["ns"] / (r["request_bytes"] / 1024)
                    cells.append(f"{fmt_time(r['ns'])} ({per_kib:.0f})")
            out.append(f"| {i} | " + " | ".join(cells) + " |")
        out.append("")
    out += ["Local growth exponents of the add time, d log(time) / "
            "d log(x) between neighbouring grid points (1 = linear):", ""]
    for i in iv:
        pts = [(a, rows[prog_name("Program", "Add", i, a)]["ns"]) for a in av
               if prog_name("Program", "Add", i, a) in rows]
        steps = [f"A {a0}→{a1}: {math.log(t1 / t0) / math.log(a1 / a0):.2f}"
                 for (a0, t0), (a1, t1) in zip(pts, pts[1:])]
        if steps:
            out.append(f"- I = {i}: " + ", ".join(steps))
    for a in av:
        pts = [(i, rows[prog_name("Program", "Add", i, a)]["ns"]) for i in iv
               if prog_name("Program", "Add", i, a) in rows]
        steps = [f"I {i0}→{i1}: {math.log(t1 / t0) / math.log(i1 / i0):.2f}"
                 for (i0, t0), (i1, t1) in zip(pts, pts[1:])]
        if steps:
            out.append(f"- A = {a}: " + ", ".join(steps))
    return out


def registry_table(rows):
    labels = {
        "BM_RegistryVlanLookup/vlan:4094": "VLAN lookup, newest VLAN",
        "BM_RegistryVlanLookup/vlan:2047": "VLAN lookup, middle VLAN",
        "BM_RegistryVlanLookup/vlan:1": "VLAN lookup, oldest VLAN",
        "BM_RegistryVlanLookup/vlan:4095": "VLAN lookup, absent VLAN",
        "BM_RegistryIntfLookupRandom": "VLAN + interface lookup, random",
        "BM_RegistryAceAddRandom/manual_time":
            "ACE add (2 lookups, alloc, link), random interface",
        "BM_RegistryVlanAddMissing/manual_time":
            "add on a new VLAN (missed lookup, VLAN + interface entries)",
    }
    out = ["| operation (4094 VLANs × 48 interfaces) | time |", "|---|---:|"]
    for name, label in labels.items():
        if name in rows:
            out.append(f"| {label} | {fmt_time(rows[name]['ns'])} |")
    return out


def codec_table(rows):
    out = ["| ACEs | direction | ours: time | ours: MB/s | ours: ns/ACE "
           "| protobuf-c: time | protobuf-c: MB/s | protobuf-c: ns/ACE "
           "| ours / protobuf-c (time) |",
           "|---:|---|---:|---:|---:|---:|---:|---:|---:|"]
    for n in (1, 64, 1000):
        for label, ours, theirs in (("encode", "OurEncode", "ProtobufCPack"),
                                    ("decode", "OurDecode",
                                     "ProtobufCUnpack")):
            o = rows.get(f"BM_{ours}/aces:{n}")
            t = rows.get(f"BM_{theirs}/aces:{n}")
            if o is None or t is None:
                continue
            ratio = o["ns"] / t["ns"]
            target = TARGET_CODEC_RATIO[n][0 if label == "encode" else 1]
            mark = " ✔" if ratio <= target else f" (target ≤ {target})"
            out.append(
                f"| {n} | {label} | {fmt_time(o['ns'])} | "
                f"{o['encoded_bytes'] / o['ns'] * 1e3:.0f} | "
                f"{o['ns'] / n:.0f} | {fmt_time(t['ns'])} | "
                f"{t['encoded_bytes'] / t['ns'] * 1e3:.0f} | "
                f"{t['ns'] / n:.0f} | {ratio:.2f}{mark} |")
    return out


def small_op_lines(rows):
    """Target 1: I:1/A:1 (median) and every other I = 1 row."""
    out = []
    for op in ("Add", "Delete"):
        for name, r in rows.items():
            if not name.startswith(f"BM_Program{op}/I:1/"):
                continue
            limit = (TARGET_SMALL_OP_NS if "/A:1/" in name
                     else TARGET_OTHER_SMALL_OP_NS)
            ok = r["median_ns"] <= limit
            out.append(f"| {name.split('/manual')[0]} | "
                       f"{fmt_time(r['median_ns'])} | ≤ {fmt_time(limit)} | "
                       f"{'✔' if ok else 'not met'} |")
    return ["| benchmark | median | target | |", "|---|---:|---:|---|"] + out


def e2e_table(rows, errors):
    names = [n for n in list(rows) + list(errors) if "BM_EndToEndAdd" in n]
    iv = sorted({param(n, "I") for n in names})
    av = sorted({param(n, "A") for n in names})
    out = ["| I | A | sends per add | end to end: time per add | adds/s "
           "| ping-pong: time | ping-pong: ops/s "
           "| end to end / ping-pong (rate) |",
           "|---:|---:|---:|---:|---:|---:|---:|---:|"]
    for i in iv:
        for a in av:
            e = rows.get(f"BM_EndToEndAdd/I:{i}/A:{a}/manual_time")
            p = rows.get(f"BM_SeqpacketPingPong/I:{i}/A:{a}/real_time")
            if e is None or p is None:
                out.append(f"| {i} | {a} | — | refused (a request over "
                           f"what a batch holds) | | | | |")
                continue
            share = p["ns"] / e["ns"]
            mark = (" ✔" if share >= TARGET_E2E_SHARE else " (target ≥ "
                    f"{TARGET_E2E_SHARE})") if (i, a) == (1, 1) else ""
            out.append(f"| {i} | {a} | {e.get('sends', 0):.0f} | "
                       f"{fmt_time(e['ns'])} | {1e9 / e['ns']:.0f} | "
                       f"{fmt_time(p['ns'])} | {1e9 / p['ns']:.0f} | "
                       f"{share:.2f}{mark} |")
    return out


def before_after_table(before, after):
    out = ["| benchmark | before | after | before / after |",
           "|---|---:|---:|---:|"]
    def natural(item):  # BM_X/I:8 before BM_X/I:48
        return [int(t) if t.isdigit() else t
                for t in re.split(r"(\d+)", item[0])]
    for name, r in sorted(after.items(), key=natural):
        b = before.get(name)
        if b is None:
            continue
        out.append(f"| {name} | {fmt_time(b['ns'])} | {fmt_time(r['ns'])} "
                   f"| {b['ns'] / r['ns']:.2f} |")
    return out


def write_report(path, context, rows, errors, build_dir, chart_name,
                 statistic, before, e2e_rows, e2e_errors, default_malloc):
    iv, av = grid_axes(rows, errors)
    dram = rows.get("BM_MemcpyDram/67108864")
    lines = [
        "# Benchmark results",
        "",
        "Generated by `bench/run_benchmarks.py`; analysis in "
        "[performance.md](performance.md). Times are wall clock, "
        + ("the fastest of the repetitions (each repetition the mean over "
           "many iterations): the machine is shared, and the fastest "
           "repetition is the one least disturbed by other work."
           if statistic == "min" else "the median of the repetitions.")
        + f" Repetitions per benchmark: {reps_of(rows)}.",
        "",
        "## Machine",
        "",
        *machine_lines(context, build_dir),
        "- Allocator: glibc's default thresholds" if default_malloc else
        f"- Allocator: `GLIBC_TUNABLES={HEAP_KEPT_TUNABLES}` (the heap is "
        "kept across batches, see performance.md)",
        "",
        f"![Programming path and codecs]({chart_name})",
        "",
        "## Programming path",
        "",
        "One ACE add or delete on the named interface of a VLAN of I "
        "interfaces with A ACEs each, drain included, through the simulated "
        "platform without payload copies. *memcpy GB/s*: the same request "
        "bytes copied request by request into a batch-sized buffer. Target: "
        f"library / memcpy ≥ {TARGET_MEMCPY_SHARE} (✔).",
        "",
        *programming_table(rows, errors, iv, av),
        "",
        "Small operations (target: I:1/A:1 at most 1.0 µs, every other "
        "I = 1 row at most 1.5 µs, medians):",
        "",
        *small_op_lines(rows),
        "",
    ]
    if dram:
        rate = 64 * 2**20 / (dram["ns"] * 1e-9)
        lines += [f"Main-memory reference: one 64 MiB memcpy runs at "
                  f"{fmt_rate(rate)} GB/s.", ""]
    lines += ["## Scaling of the programming path", "",
              *scaling_tables(rows, iv, av), "",
              "## Registry alone", "", *registry_table(rows), "",
              "## Policy update request codec against protobuf-c", "",
              "MB/s of each side's own encoding (ours is larger: 94 bytes "
              "per ACE against protobuf's 61). Targets: encode ≤ 1.0 at 1 ACE and "
              "≤ 0.5 at 64 and 1000, decode ≤ 0.5 at 1 and ≤ 0.25 at 64 and "
              "1000 (✔ when met).", "", *codec_table(rows), ""]
    if e2e_rows:
        lines += ["## End to end over a SOCK_SEQPACKET socket", "",
                  "One add and its drain from the library through the socket "
                  "transport to `aclsvc-sim --quiet` in another process, "
                  "against a raw ping-pong between two processes with the "
                  "same frames per add (per batch: a Send of the batch's "
                  "size, an Accept and a Reply of the daemon's sizes). "
                  f"Target: ≥ {TARGET_E2E_SHARE} of the ping-pong rate for "
                  "I:1/A:1.", "", *e2e_table(e2e_rows, e2e_errors), ""]
    if before:
        lines += ["## Before and after", "",
                  "The same benchmarks built from the library before these "
                  "changes (`--baseline`), run in the same session.", "",
                  *before_after_table(before, rows), ""]
    Path(path).write_text("\n".join(lines))


# ---- chart ----

def write_chart(png, rows, errors):
    iv, av = grid_axes(rows, errors)
    tmp = Path(tempfile.mkdtemp(prefix="ostrel-bench-"))
    for op in ("Add", "Delete"):
        for i in iv:
            with open(tmp / f"{op}_{i}.dat", "w") as f:
                for a in av:
                    r = rows.get(prog_name("Program", op, i, a))
                    b = rows.get(prog_name("Memcpy", op, i, a))
                    if r is None or b is None:
                        continue
                    f.write(f"{a} {r['ns'] / 1e3} {b['ns'] / r['ns']}\n")
    with open(tmp / "codec.dat", "w") as f:
        for n in (1, 64, 1000):
            vals = [rows.get(f"BM_{k}/aces:{n}") for k in
                    ("OurEncode", "ProtobufCPack", "OurDecode",
                     "ProtobufCUnpack")]
            if all(vals):
                f.write(f"{n} " + " ".join(f"{v['ns'] / n}" for v in vals)
                        + "\n")
    colors = ["#1b9e77", "#d95f02", "#7570b3", "#e7298a"]
    plot_time, plot_share = [], []
    for k, i in enumerate(iv):
        c = colors[k % len(colors)]
        for op, dash in (("Add", 1), ("Delete", 2)):
            dat = tmp / f"{op}_{i}.dat"
            if dat.stat().st_size == 0:
                continue
            style = f"w lp lw 2 dt {dash} pt {5 + 2 * (dash - 1)} lc rgb '{c}'"
            plot_time.append(f"'{dat}' u 1:2 {style} t '{op.lower()}, I={i}'")
            plot_share.append(f"'{dat}' u 1:3 {style} t '{op.lower()}, I={i}'")
    codec = tmp / "codec.dat"
    script = f"""
set terminal pngcairo size 1400,1000 font 'DejaVu Sans,11'
set output '{png}'
set multiplot layout 2,2
set grid
set key top left
set logscale xy
set xrange [0.8:400]
set xlabel 'ACEs per interface (A)'
set ylabel 'time per operation (µs)'
set title 'Programming path: one add / delete, drained'
plot {', '.join(plot_time)}
set ylabel 'library bytes/s ÷ memcpy bytes/s'
set title 'Programming path against memcpy of the same bytes'
set yrange [0.0005:1]
set key bottom right
plot {', '.join(plot_share)}, 0.5 w l lc rgb 'black' dt 3 t 'target 0.5'
set autoscale y
set xrange [0.8:1500]
set xlabel 'ACE records in the request'
set ylabel 'ns per ACE record'
set title 'Policy update codec: ours against protobuf-c'
set key bottom left
plot '{codec}' u 1:2 w lp lw 2 lc rgb '#1b9e77' pt 5 t 'ours, encode', \\
     '{codec}' u 1:3 w lp lw 2 lc rgb '#1b9e77' dt 2 pt 7 t 'protobuf-c, pack', \\
     '{codec}' u 1:4 w lp lw 2 lc rgb '#d95f02' pt 5 t 'ours, decode', \\
     '{codec}' u 1:5 w lp lw 2 lc rgb '#d95f02' dt 2 pt 7 t 'protobuf-c, unpack'
unset logscale y
set ylabel 'ours ÷ protobuf-c (time)'
set title 'Codec time ratio'
set yrange [0:*]
plot '{codec}' u 1:($2/$3) w lp lw 2 lc rgb '#1b9e77' pt 5 t 'encode', \\
     '{codec}' u 1:($4/$5) w lp lw 2 lc rgb '#d95f02' pt 5 t 'decode', \\
     0.5 w l lc rgb 'black' dt 3 t 'encode target (64, 1000)', \\
     0.25 w l lc rgb 'black' dt 4 t 'decode target (64, 1000)'
unset multiplot
"""
    (tmp / "chart.gp").write_text(script)
    run(["gnuplot", tmp / "chart.gp"])
    shutil.rmtree(tmp)


# ---- scale: table loads ----

def scale_name(kind, v, mode=None):
    """Run name of a table-load benchmark of V VLANs x 48 x 8."""
    shape = f"V:{v}/I:48/A:8"
    suffix = "/real_time" if kind == "SeqpacketStream" else "/manual_time"
    middle = f"mode:{mode}/" if mode else ""
    return f"BM_{kind}/{middle}{shape}{suffix}"


SCALE_ROWS = [  # (label, in-process kind, end-to-end kind, V, mode)
    ("bulk load, 64 VLANs", "LoadTable", "EndToEndLoadTable", 64, "bulk"),
    ("bulk load, 4 VLANs", "LoadTable", "EndToEndLoadTable", 4, "bulk"),
    ("single calls, 4 VLANs", "LoadTable", "EndToEndLoadTable", 4, "single"),
    ("resync, 64 VLANs", "Resync", "EndToEndResync", 64, None),
    ("raw SOCK_SEQPACKET stream of the 64-VLAN bulk load's messages", None,
     "SeqpacketStream", 64, None),
]


def per_ace_ns(r):
    return r["ns"] / r["aces"]


def scale_table(rows, e2e_rows, errors):
    out = ["| load | where | ACEs | time per load | per ACE | sends "
           "| bytes sent | MB/s sent |",
           "|---|---|---:|---:|---:|---:|---:|---:|"]
    for label, kind, e2e_kind, v, mode in SCALE_ROWS:
        for where, k, src in (("in process", kind, rows),
                              ("end to end", e2e_kind, e2e_rows)):
            if k is None:
                continue
            name = scale_name(k, v, mode)
            r = src.get(name)
            if r is None:
                out.append(f"| {label} | {where} | | "
                           f"{errors.get(name, 'not run')} | | | | |")
                continue
            out.append(f"| {label} | {where} | {r['aces']:.0f} | "
                       f"{fmt_time(r['ns'])} | {fmt_time(per_ace_ns(r))} | "
                       f"{r['sends']:.0f} | {r['sent_bytes']:.0f} | "
                       f"{r['sent_bytes'] / r['ns'] * 1e3:.0f} |")
    return out


class Target:
    """One measured ratio: lower is None when it has no target; `at_most`
    for an upper bound."""

    def __init__(self, label, short, value, digits, bound=None,
                 at_most=False, unit=""):
        self.label, self.short, self.value = label, short, value
        self.digits, self.bound, self.at_most = digits, bound, at_most
        self.unit = unit

    def met(self):
        if self.bound is None:
            return None
        return self.value <= self.bound if self.at_most else \
            self.value >= self.bound

    def share(self):
        """Measured over required, inverted for an upper bound: ≥ 1 met."""
        return self.bound / self.value if self.at_most else \
            self.value / self.bound

    def row(self):
        required = "(no target)" if self.bound is None else \
            f"{'≤' if self.at_most else '≥'} {self.bound:g}{self.unit}"
        met = self.met()
        mark = "" if met is None else ("✔" if met else "**not met**")
        return (f"| {self.label} | {self.value:.{self.digits}f}{self.unit} "
                f"| {required} | {mark} |")


def scale_targets(rows, e2e_rows):
    out = []
    for where, src, kind in (("in process", rows, "LoadTable"),
                             ("end to end", e2e_rows, "EndToEndLoadTable")):
        single = src.get(scale_name(kind, 4, "single"))
        for v in (64, 4):
            bulk = src.get(scale_name(kind, v, "bulk"))
            if bulk and single:
                out.append(Target(
                    f"single calls (V:4) ÷ bulk (V:{v}), time per ACE, "
                    f"{where}", f"single ÷ bulk V:{v}, {where}",
                    per_ace_ns(single) / per_ace_ns(bulk), 1,
                    TARGET_BULK_SPEEDUP, unit="×"))
    for where, src, load_kind, resync_kind in (
            ("in process", rows, "LoadTable", "Resync"),
            ("end to end", e2e_rows, "EndToEndLoadTable", "EndToEndResync")):
        bulk = src.get(scale_name(load_kind, 64, "bulk"))
        resync = src.get(scale_name(resync_kind, 64))
        if bulk and resync:
            final = resync["sent_bytes"] - BATCH_HEAD * resync["sends"]
            out.append(Target(
                "bytes sent by the bulk load ÷ the final requests (what the "
                f"resync sends less its batch heads), {where}",
                f"bulk bytes ÷ resync's, {where}",
                bulk["sent_bytes"] / final, 5, TARGET_BULK_BYTES, True))
    bulk = rows.get(scale_name("LoadTable", 64, "bulk"))
    if bulk and "final_request_bytes" in bulk:
        out.append(Target(
            "bytes sent by the bulk load ÷ the final requests computed from "
            "the registry (per interface 24 + 64 × records), in process",
            "bulk bytes ÷ registry's", bulk["sent_bytes"] /
            bulk["final_request_bytes"], 5, TARGET_BULK_BYTES, True))
    raw = e2e_rows.get(scale_name("SeqpacketStream", 64))
    for label, kind, mode in (("bulk load", "EndToEndLoadTable", "bulk"),
                              ("resync", "EndToEndResync", None)):
        e = e2e_rows.get(scale_name(kind, 64, mode))
        if raw and e:
            out.append(Target(
                f"end-to-end {label} ÷ raw stream of the same messages, "
                "bytes per second", f"end-to-end {label} ÷ raw stream",
                (e["sent_bytes"] / e["ns"]) / (raw["sent_bytes"] / raw["ns"]),
                2, TARGET_RAW_STREAM_SHARE if mode else None))
    return out


def scale_target_lines(targets):
    return ["| ratio | measured | target | |", "|---|---:|---:|---|"] + \
        [t.row() for t in targets]


def scale_decomposition(rows, e2e_rows):
    """The end-to-end bulk load against its parts measured in the same
    run: the client's work (the in-process load) and the raw exchange."""
    e2e = e2e_rows.get(scale_name("EndToEndLoadTable", 64, "bulk"))
    local = rows.get(scale_name("LoadTable", 64, "bulk"))
    raw = e2e_rows.get(scale_name("SeqpacketStream", 64))
    if not (e2e and local and raw):
        return []
    rest = e2e["ns"] - local["ns"] - raw["ns"]
    return [
        "The end-to-end bulk load is serial: the library drains each full "
        "batch's reply before it builds the next, and the daemon answers "
        "only after it has validated and stored the batch. Its "
        f"{fmt_time(e2e['ns'])} against its parts in this run: the "
        "library's own work (the in-process load, simulated platform "
        f"included) {fmt_time(local['ns'])}, "
        f"the raw exchange of the same messages {fmt_time(raw['ns'])}, "
        f"the rest (the transport's copies, the daemon's work) "
        f"{fmt_time(rest)}. With the rest at zero the end-to-end load "
        f"would reach {raw['ns'] / (local['ns'] + raw['ns']):.2f} of the "
        "raw stream's rate.", ""]


def write_scale_report(path, context, rows, e2e_rows, errors, build_dir,
                       chart_name, statistic, default_malloc):
    lines = [
        "# Scale benchmark results",
        "",
        "Generated by `bench/run_benchmarks.py --scale` (or a full run); "
        "analysis in [performance.md](performance.md). Times are wall "
        "clock, "
        + ("the fastest of the repetitions."
           if statistic == "min" else "the median of the repetitions.")
        + f" Repetitions per benchmark: {reps_of({**rows, **e2e_rows})}.",
        "",
        "## Machine",
        "",
        *machine_lines(context, build_dir),
        "- Allocator: glibc's default thresholds" if default_malloc else
        f"- Allocator: `GLIBC_TUNABLES={HEAP_KEPT_TUNABLES}`",
        "",
        f"![Table loads]({chart_name})",
        "",
        "## Table loads",
        "",
        "A table of V VLANs × 48 interfaces × 8 ACEs, every ACE with its "
        "own nonzero first address, loaded into an empty registry: with one "
        "`ostrel_api_program_acl_bulk` call, or with one "
        "`ostrel_api_program_acl` call per ACE; and "
        "`ostrel_api_resync` of the loaded table. The last reply is "
        "drained in the timed region. *In process*: through the simulated "
        "platform, payload copies off. *End to end*: through the socket "
        "transport to `aclsvc-sim --quiet` in another process. The raw "
        "stream sends the bulk load's message sizes in the same order over "
        "a socketpair to a peer that answers each with the daemon's Accept "
        "and Reply, as the library waits for them. Bytes sent: every "
        "message handed to the transport, batch heads included.",
        "",
        *scale_table(rows, e2e_rows, errors),
        "",
        "## Targets",
        "",
        *scale_target_lines(scale_targets(rows, e2e_rows)),
        "",
        *scale_decomposition(rows, e2e_rows),
    ]
    Path(path).write_text("\n".join(lines))


def write_scale_chart(png, rows, e2e_rows):
    tmp = Path(tempfile.mkdtemp(prefix="ostrel-scale-"))
    with open(tmp / "per_ace.dat", "w") as f:
        for label, kind, e2e_kind, v, mode in SCALE_ROWS:
            cells = []
            for k, src in ((kind, rows), (e2e_kind, e2e_rows)):
                r = src.get(scale_name(k, v, mode)) if k else None
                cells.append(f"{per_ace_ns(r) / 1e3:.6f}" if r else "NaN")
            short = "raw stream" if kind is None else label.split(",")[0]
            f.write(f'"{short}\\nV:{v}" {cells[0]} {cells[1]}\n')
    with open(tmp / "targets.dat", "w") as f:
        for t in scale_targets(rows, e2e_rows):
            if t.met() is not None:
                f.write(f'"{t.short}" {t.share():.4f}\n')
    e2e = (", '' u 3 t 'end to end (aclsvc-sim)' lc rgb '#d95f02'"
           if e2e_rows else "")
    script = f"""
set terminal pngcairo size 1400,700 font 'DejaVu Sans,10' noenhanced
set bmargin 7
set output '{png}'
set multiplot layout 1,2
set grid y
set style data histograms
set style histogram clustered gap 1
set style fill solid 0.8 border -1
set logscale y
set ylabel 'time per ACE (µs)'
set title 'Table of V VLANs × 48 interfaces × 8 ACEs: time per ACE'
set key top left
set xtics font ',9'
plot '{tmp / "per_ace.dat"}' u 2:xtic(1) t 'in process' lc rgb '#1b9e77'{e2e}
unset logscale y
set yrange [0:*]
set ylabel 'measured ÷ target (≥ 1: met)'
set title 'Targets'
set xtics rotate by -30 font ',8'
set key off
plot '{tmp / "targets.dat"}' u 2:xtic(1) lc rgb '#7570b3', \\
     1 w l lc rgb 'black' dt 3 lw 2
unset multiplot
"""
    (tmp / "chart.gp").write_text(script)
    run(["gnuplot", tmp / "chart.gp"])
    shutil.rmtree(tmp)


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--build-dir", help="build here instead of the preset's "
                    "directory (configured as a Release benchmark build)")
    ap.add_argument("--skip-build", action="store_true")
    ap.add_argument("--json", help="use these results instead of running")
    ap.add_argument("--repetitions", type=int, default=10)
    ap.add_argument("--statistic", choices=("min", "median"), default="min",
                    help="which repetition's time to report")
    ap.add_argument("--min-time", default="0.1",
                    help="seconds per benchmark and repetition")
    ap.add_argument("--filter", help="benchmark name regex")
    ap.add_argument("--docs", default=str(ROOT / "docs"))
    ap.add_argument("--baseline", help="an ostrel_bench built from an "
                    "earlier version, run in the same session for the "
                    "before/after table")
    ap.add_argument("--default-malloc", action="store_true",
                    help="run with glibc's default trim and mmap "
                    "thresholds instead of " + HEAP_KEPT_TUNABLES)
    ap.add_argument("--scale", action="store_true",
                    help="run only the table loads and write only "
                    "docs/performance-scale-results.md and "
                    "docs/performance-scale.png")
    args = ap.parse_args()

    ensure_gnuplot()
    prefix = "bench_scale" if args.scale else "bench"
    if args.json:
        results = Path(args.json)
        build_dir = Path(args.build_dir or ROOT / "build" / "bench")
    else:
        binary, build_dir = build(args)
        results = build_dir / f"{prefix}_results.json"
        run_benchmarks(binary, results, args,
                       SCALE_FILTER if args.scale else None)
        run_benchmarks(binary.parent / "ostrel_e2e_bench",
                       build_dir / f"{prefix}_e2e_results.json", args,
                       SCALE_E2E_FILTER if args.scale else None)
        if args.baseline and not args.scale:
            run_benchmarks(args.baseline,
                           build_dir / "bench_baseline_results.json", args)
    e2e = results.parent / f"{prefix}_e2e_results.json"
    e2e_rows, e2e_errors = ({}, {}) if not e2e.exists() else \
        load_results(e2e, args.statistic)[1:]
    base = results.parent / "bench_baseline_results.json"
    before = load_results(base, args.statistic)[1] \
        if args.baseline and base.exists() else {}

    context, rows, errors = load_results(results, args.statistic)
    docs = Path(args.docs)
    docs.mkdir(parents=True, exist_ok=True)
    if not args.scale:
        chart = docs / "performance.png"
        write_chart(chart, rows, errors)
        write_report(docs / "performance-results.md", context, rows, errors,
                     build_dir, chart.name, args.statistic, before, e2e_rows,
                     e2e_errors, args.default_malloc)
        print(f"wrote {docs / 'performance-results.md'} and {chart}")
    if any(n.startswith("BM_LoadTable") for n in list(rows) + list(errors)):
        chart = docs / "performance-scale.png"
        write_scale_chart(chart, rows, e2e_rows)
        write_scale_report(docs / "performance-scale-results.md", context,
                           rows, e2e_rows, {**errors, **e2e_errors},
                           build_dir, chart.name, args.statistic,
                           args.default_malloc)
        print(f"wrote {docs / 'performance-scale-results.md'} and {chart}")


if __name__ == "__main__":
    main()
