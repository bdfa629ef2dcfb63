#!/usr/bin/env python3
"""Benchmark: rastrel1 and rastrel2 against the floor of the machine.

Builds the release preset, then in one run times whole processes on blocks of
100 x 100, 300 x 300 and 1000 x 1000 tiles (several runs each, minimum and
median), the same bytes written in 128-byte write() calls (the design's
floor) and in 1 MiB calls, and an awk script that writes rastrel1's four files
(checked equal byte for byte); records each program's peak resident memory;
prints one table. Usage: python3 bench/bench.py [--runs N]
"""
import argparse
import filecmp
import os
import platform
import shutil
import statistics
import subprocess
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
BUILD = os.path.join(ROOT, "build", "release")
FLOOR = os.path.join(ROOT, "build", "bench", "write_floor")
LISTS = ["wget_map.dat", "wget_cyk.dat", "wget_tur.dat", "do_merge.cmd"]
BLOCKS = [1, 100, 300, 1000]
AWKS = ["mawk", "gawk"]  # Debian's default awk, and GNU awk where installed


def build():
    subprocess.run(["cmake", "--workflow", "--preset", "release"], cwd=ROOT, check=True, stdout=subprocess.DEVNULL)
    os.makedirs(os.path.dirname(FLOOR), exist_ok=True)
    subprocess.run(["c++", "-O2", "-o", FLOOR, os.path.join(ROOT, "bench", "write_floor.cc")], check=True)


def timed(argv, cwd, runs):
    """Times `runs` runs of a command; returns (seconds list, peak KiB)."""
    times, peak = [], 0
    memory_file = os.path.join(cwd, ".." , "memory")
    for _ in range(runs):
        start = time.perf_counter()
        subprocess.run(["/usr/bin/time", "-f", "%M", "-o", memory_file] + argv, cwd=cwd, check=True,
                       stdout=subprocess.DEVNULL)
        times.append(time.perf_counter() - start)
        with open(memory_file) as f:
            peak = max(peak, int(f.read().split()[-1]))
    return times, peak


def time_awk(awk, work, program_dir, n, runs, host):
    """Times the awk script for an n x n block and checks that its files equal
    rastrel1's byte for byte, so the comparison is fair."""
    awk_dir = os.path.join(work, f"{awk}-{n}")
    os.makedirs(awk_dir)
    first, last = block_args(n)[:2]
    argv = [awk, "-v", f"xstart={first}", "-v", f"xstop={last}", "-v", f"ystart={first}", "-v", f"ystop={last}",
            "-v", f"host={host}", "-f", os.path.join(ROOT, "bench", "lists.awk")]
    times, _ = timed(argv, awk_dir, runs)
    for name in LISTS:
        if not filecmp.cmp(os.path.join(program_dir, name), os.path.join(awk_dir, name), shallow=False):
            raise SystemExit(f"{awk}'s {name} differs from rastrel1's for {n} x {n}")
    shutil.rmtree(awk_dir)
    return times


def block_args(n):
    last = f"{8 * (n - 1):x}"
    return ["0", last, "0", last]


def total_bytes(directory, names):
    return sum(os.path.getsize(os.path.join(directory, name)) for name in names)


def measure(work, runs, host):
    rows = []
    for n in BLOCKS:
        count = runs if n > 1 else 3
        for program, names in (("rastrel1", LISTS), ("rastrel2", ["conv.cmd", "b.map"])):
            run_dir = os.path.join(work, f"{program}-{n}")
            os.makedirs(run_dir)
            args = block_args(n) + (["b"] if program == "rastrel2" else [])
            if program == "rastrel2":
                # conv.cmd grows with every run: time each run on a fresh one.
                argv = ["sh", "-c", f'rm -f conv.cmd && exec "$0" "$@"', os.path.join(BUILD, program)] + args
            else:
                argv = [os.path.join(BUILD, program)] + args
            times, peak = timed(argv, run_dir, count)
            size = total_bytes(run_dir, names)
            row = {"program": program, "n": n, "bytes": size, "times": times, "peak": peak}
            if n > 1:
                floor_file = os.path.join(run_dir, "floor.out")
                row["floor"], _ = timed([FLOOR, floor_file, str(size), "128"], run_dir, count)
                row["floor_1m"], _ = timed([FLOOR, floor_file, str(size), str(1 << 20)], run_dir, count)
                os.remove(floor_file)
            if program == "rastrel1" and n > 1:
                row["awk"] = {awk: time_awk(awk, work, run_dir, n, count, host) for awk in AWKS if shutil.which(awk)}
            shutil.rmtree(run_dir)
            rows.append(row)
    return rows


def print_table(rows):
    median = statistics.median
    print("| program | block | bytes written | median s | min s | tiles/s | MB/s | ÷ 128-B floor "
          "| (floor s, 1 MiB s) | ÷ awk | peak KiB |")
    print("|---|---|---|---|---|---|---|---|---|---|---|")
    for r in rows:
        t = median(r["times"])
        tiles = r["n"] * r["n"]
        floor = f"{t / median(r['floor']):.2f}" if "floor" in r else "-"
        floors = f"{median(r['floor']):.3f}, {median(r['floor_1m']):.3f}" if "floor" in r else "-"
        awk = ", ".join(f"{name} {t / median(times):.2f} ({median(times):.3f} s)"
                        for name, times in r.get("awk", {}).items()) or "-"
        print(f"| {r['program']} | {r['n']} × {r['n']} | {r['bytes']:,} | {t:.3f} | {min(r['times']):.3f} "
              f"| {tiles / t:,.0f} | {r['bytes'] / t / 1e6:.0f} | {floor} | {floors} | {awk} | {r['peak']:,} |")


def describe_machine(work):
    disk = " ".join(subprocess.run(["df", "-h", "--output=source,fstype,size", work], capture_output=True,
                                   text=True).stdout.splitlines()[-1].split())
    return f"{os.cpu_count()} cores, {platform.machine()}, Linux {platform.release()}; disk {disk}"


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--runs", type=int, default=7)
    parser.add_argument("--tile-host", default="tiles.example.com")
    options = parser.parse_args()
    build()
    with tempfile.TemporaryDirectory(prefix="rastrel-bench-", dir=os.path.join(ROOT, "build")) as work:
        print(describe_machine(work))
        rows = measure(work, options.runs, options.tile_host)
    print_table(rows)


if __name__ == "__main__":
    main()
