#!/usr/bin/env python3
"""The whole chain, timed (python3 bench/chain.py): a block of 16 x 16 tiles fetched from a loopback tile
server that waits a set time before each answer (0 and 20 ms), made into a map by the README's step-by-step recipe
with merge_fn.sh (Netpbm, one tile after another) and by rastrel-map with its defaults, phase by phase; and the merge
alone, rastrel-merge on one core against merge_fn.sh, with rastrel-merge's peak memory for 1 and 256 tiles.
It prints the table and lines of CONTRIBUTING.md's section "The chain"."""
import http.server
import os
import re
import shutil
import socket
import subprocess
import sys
import tempfile
import threading
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
KEYS = "7eb1 7f29 8041 80b9"  # 16 x 16 tiles
LAYERS = {"turist": "map", "tcyklo": "cyk", "ttur": "tur"}


def sh(command, **options):
    return subprocess.run(command, shell=True, check=True, stdout=subprocess.PIPE, **options).stdout


def draw(folder):
    """Tiles like a server's: noisy bases (RGB, and palette ones), overlays mostly transparent with a few lines."""
    os.makedirs(folder)
    for i in range(3):
        sh(f"pgmnoise -randomseed={i} 256 256 > {folder}/n{i}.pgm")
    sh(f"cd {folder} && rgb3toppm n0.pgm n1.pgm n2.pgm | pnmtopng > base_rgb"
       f" && rgb3toppm n2.pgm n0.pgm n1.pgm | pnmquant 200 2>/dev/null | pnmtopng > base_palette"
       " && ppmmake black 256 256 | ppmdraw -script='setcolor red; line 0 40 255 60; line 90 0 120 255' | "
       "pnmtopng -transparent black > over_lines"
       " && ppmmake black 256 256 | ppmdraw -script='setcolor blue; filledrectangle 20 20 30 30' | "
       "pnmtopng -transparent black > over_box")
    return {"turist": ["base_rgb", "base_palette"], "tcyklo": ["over_lines"], "ttur": ["over_box"]}


def serve(folder, kinds, delay):
    """Every tile of every layer, after `delay` seconds; tile n of a layer is that layer's kind n % kinds."""
    class Tiles(http.server.BaseHTTPRequestHandler):
        protocol_version = "HTTP/1.1"

        def log_message(self, *args):
            pass

        def setup(self):
            super().setup()  # headers and body go out at once, as a real server sends them
            self.request.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)

        def do_GET(self):
            time.sleep(delay)
            layer, name = self.path.split("/")[-2:]
            x, y = (int(v, 16) for v in name.split("_")[1:])
            options = kinds[layer]
            data = Path(folder, options[(x + y) // 8 % len(options)]).read_bytes()
            self.send_response(200)
            self.send_header("Content-Length", str(len(data)))
            self.end_headers()
            self.wfile.write(data)
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Tiles)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    return server


def timed(command, cwd, env):
    start = time.perf_counter()
    subprocess.run(command, shell=True, check=True, cwd=cwd, env=env, stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL)
    return time.perf_counter() - start


def recipe_phases(prefix, cwd, env):
    """The README's Linux step-by-step recipe on the benchmark's block, timed by phase: a clock line before each
    line of the block tells which phase it begins."""
    readme = (ROOT / "README.md").read_text()
    block = re.search(r"\n#+ Recipe on Linux\n.*?```sh\n(.*?)```", readme, re.S)[1]
    block = block.replace("7eb1 7ec1 8041 8049", KEYS).replace("/usr/share/", f"{prefix}/share/")
    phase = lambda line: "download" if "wget" in line else "merge" if "do_merge" in line else "join"
    marked = "".join(f'echo "@{phase(line)} $(date +%s.%N)" >&2\n{line}\n' if line[:1] not in "()" else f"{line}\n"
                     for line in block.splitlines())
    result = subprocess.run(["sh", "-c", marked + 'echo "@end $(date +%s.%N)" >&2'], cwd=cwd, env=env, check=True,
                            stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
    marks = [(name, float(t)) for name, t in re.findall(r"^@(\w+) ([\d.]+)$", result.stderr, re.M)]
    times = {"download": 0.0, "merge": 0.0, "join": 0.0}
    for (name, start), (_, end) in zip(marks, marks[1:]):
        times[name] += end - start
    return times


def map_phases(cwd, env):
    """rastrel-map with its defaults, timed by phase from its progress lines' arrival."""
    start = time.perf_counter()
    process = subprocess.Popen(f"rastrel-map --keys {KEYS} bench", shell=True, cwd=cwd, env=env,
                               stderr=subprocess.PIPE, text=True)
    marks = {}
    for line in process.stderr:
        phase = line.split()[1]
        marks.setdefault(phase, time.perf_counter() - start)
    if process.wait():
        sys.exit("rastrel-map failed")
    total = time.perf_counter() - start
    return {"download": marks["download"] - marks["keys"], "merge": marks["merge"] - marks["download"],
            "join": total - marks["merge"]}


def merge_alone(prefix, work, env):
    """ms a tile: rastrel-merge in one process on one core, and merge_fn.sh tile after tile."""
    tiles = [line.split()[-1] for line in Path(work, "do_merge.cmd").read_text().splitlines()]
    native = timed(f"taskset -c 0 {prefix}/bin/rastrel-merge {' '.join(tiles)}", work, env) / len(tiles)
    shutil.copy(f"{prefix}/share/doc/rastrel/examples/merge_fn.sh", work)
    netpbm = timed(" && ".join(f"sh merge_fn.sh {t}" for t in tiles[:64]), work, env) / 64
    memory = [int(sh(f"/usr/bin/time -f %M {prefix}/bin/rastrel-merge {' '.join(tiles[:n])} 2>&1 >/dev/null",
                     cwd=work, env=env).split()[-1]) for n in (1, 256)]
    return native, netpbm, memory


def main():
    subprocess.run(["cmake", "--workflow", "--preset", "release"], cwd=ROOT, check=True, stdout=subprocess.DEVNULL)
    with tempfile.TemporaryDirectory(prefix="rastrel-chain-") as top:
        prefix = f"{top}/prefix"
        sh(f"cmake --install {ROOT}/build/release --prefix {prefix} > /dev/null")
        kinds = draw(f"{top}/tiles")
        rows = []
        for delay in (0.0, 0.02):
            server = serve(f"{top}/tiles", kinds, delay)
            env = dict(os.environ, PATH=f"{prefix}/bin:{os.environ['PATH']}",
                       http_proxy=f"http://127.0.0.1:{server.server_port}")
            for name, run in (("recipe", lambda w: recipe_phases(prefix, w, env)), ("rastrel-map", lambda w: map_phases(w, env))):
                os.makedirs(work := f"{top}/{name}-{delay}")
                rows.append((delay, name, run(work)))
            server.shutdown()
        native, netpbm, memory = merge_alone(prefix, f"{top}/recipe-0.0", env)
    print(report(rows, native, netpbm, memory))


def report(rows, native, netpbm, memory):
    floor = 768 * 0.02 / 2
    lines = ["| ms a request | chain | download s | merge s | join s | total s |", "|---|---|---|---|---|---|"]
    totals = {}
    for delay, name, phases in rows:
        totals[delay, name] = sum(phases.values())
        lines.append(f"| {delay * 1000:.0f} | {name} | {phases['download']:.2f} | {phases['merge']:.2f} | "
                     f"{phases['join']:.2f} | {totals[delay, name]:.2f} |")
    return "\n".join(lines) + (
        f"\n\n- Merge alone: `rastrel-merge` takes {native * 1000:.2f} ms a tile in one process on one core, "
        f"`merge_fn.sh` {netpbm * 1000:.1f} ms: {netpbm / native:.0f} times as long. Its peak memory is "
        f"{memory[0]:,} KiB for 1 tile and {memory[1]:,} KiB for 256.\n"
        f"- At 0 ms a request, `rastrel-map` takes {totals[0.0, 'rastrel-map'] / totals[0.0, 'recipe']:.2f} x the "
        f"recipe's time ({totals[0.0, 'recipe'] / totals[0.0, 'rastrel-map']:.1f} times as fast).\n"
        f"- At 20 ms a request, the download floor is 768 requests x 20 ms / 2 connections = {floor:.2f} s; "
        f"`rastrel-map` takes {totals[0.02, 'rastrel-map'] / floor:.2f} x that floor, the recipe "
        f"{totals[0.02, 'recipe'] / floor:.2f} x.")


if __name__ == "__main__":
    main()
