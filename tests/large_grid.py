#!/usr/bin/env python3
"""A 1000 x 1000-tile block through both programs: the files hold the right
number of lines with the right first and last lines, and the peak memory of
the run is that of a one-tile run (output is streamed, nothing grows with the
grid)."""
import argparse
import os
import subprocess
import sys
import tempfile

from checks import check, finish, problem

LAST = "1f38"  # 999 steps of 8 from key 0


def run(argv, cwd):
    """Runs a program and returns its peak resident memory in KiB. GNU time
    measures it: a child forked from this Python process would count the
    interpreter's own pages from before the exec."""
    result = subprocess.run(["/usr/bin/time", "-f", "%M", "-o", "/dev/stderr"] + argv, cwd=cwd,
                            stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    if result.returncode != 0:
        raise SystemExit(f"{argv} failed: {result.stderr!r}")
    return int(result.stderr.split()[-1])


def lines_of(path):
    """Line count, first and last line of a CR LF file, read in chunks."""
    count, first, tail = 0, None, b""
    with open(path, "rb") as f:
        while chunk := f.read(1 << 20):
            count += chunk.count(b"\r\n")
            if first is None:
                first = chunk.split(b"\r\n", 1)[0]
            tail = (tail + chunk)[-4096:]
    return count, first.decode(), tail.split(b"\r\n")[-2].decode()


def check_rastrel1(bin_dir, host):
    with tempfile.TemporaryDirectory(prefix="rastrel-large-") as work:
        one = run([os.path.join(bin_dir, "rastrel1"), "0", "0", "0", "0"], work)
        big = run([os.path.join(bin_dir, "rastrel1"), "0", LAST, "0", LAST], work)
        prefixes = {"wget_map.dat": f"http://{host}/turist/13_", "wget_cyk.dat": f"http://{host}/tcyklo/13_",
                    "wget_tur.dat": f"http://{host}/ttur/13_", "do_merge.cmd": "@call merge_fn.cmd "}
        for name, prefix in prefixes.items():
            check(name, lines_of(os.path.join(work, name)),
                  (1000000, prefix + "0000000_0000000", prefix + f"{LAST}000_{LAST}000"))
    return one, big


def check_rastrel2(bin_dir):
    with tempfile.TemporaryDirectory(prefix="rastrel-large-") as work:
        one = run([os.path.join(bin_dir, "rastrel2"), "0", "0", "0", "0", "one"], work)
        os.remove(os.path.join(work, "conv.cmd"))
        big = run([os.path.join(bin_dir, "rastrel2"), "0", LAST, "0", LAST, "big"], work)
        count, first, last = lines_of(os.path.join(work, "conv.cmd"))
        check("conv.cmd lines", count, 1004)
        check("conv.cmd first line start", first[:37], "pnmcat -lr tg/aa_0000000_1f38000.pnm ")
        check("conv.cmd first line end", first[-44:], "tg/aa_1f38000_1f38000.pnm > line_1f38000.pnm")
        check("conv.cmd last line", last, "@del line_*.pnm")
        with open(os.path.join(work, "big.map"), "rb") as f:
            points = f.read().split(b"\r\n")[9:11]
        tail = "in, deg,    ,        ,N,    ,        ,W, grid, 33,"
        check("big.map points", [p.decode() for p in points],
              [f"Point01,xy,    0,    0,{tail}   -3700000,    2324000,N",
               f"Point02,xy,255999,255999,{tail}   -2676000,    1300000,N"])
    return one, big


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--bin-dir", required=True)
    parser.add_argument("--tile-host", default="tiles.example.com")
    options = parser.parse_args()
    options.bin_dir = os.path.abspath(options.bin_dir)
    memory = {"rastrel1": check_rastrel1(options.bin_dir, options.tile_host),
              "rastrel2": check_rastrel2(options.bin_dir)}
    for program, (one, big) in memory.items():
        print(f"{program}: peak memory {one} KiB for 1 tile, {big} KiB for 1000 x 1000 tiles")
        # Allow for page-level noise of the loader; a per-tile cost would show as megabytes.
        if big > one * 1.1 + 256:
            problem(f"{program}: memory grows with the grid ({one} KiB -> {big} KiB)")
    return finish()


if __name__ == "__main__":
    sys.exit(main())
