#!/usr/bin/env python3
"""The whole chain, timed (python3 bench/chain.py [--write]): realistic tiles (textured palette bases of about
25 KB, overlays of antialiased lines) from a loopback tile server that waits 0 ms, then 20 ms, before each answer,
made into the map of 16 x 16 tiles (768 requests) by the README's step-by-step recipe, by the shell script that
rastrel-map was before it became one program (taken from git history) and by rastrel-map, beside the curl tool
fetching the same files alone, and again from noisier tiles (RGB bases of about 130 KB); then 64 x 64 tiles
already in the tile folder by the script and by rastrel-map, with peak memory, peak disk beside the tiles and the
PNG's size against pnmtopng's for the same image, and by rastrel-map --ozf2 (with the OZF2 image's error against the
PNG, and Netpbm's median cut's); and the merge alone, rastrel-merge on one core against merge_fn.sh; then the
download over HTTP/2 from a loopback server with TLS (16 x 16 tiles at 20 and 100 ms, 64 x 64 at 20 ms) by
rastrel-map, against rastrel-map over HTTP/1.1 and the curl tool fetching the same files. It prints CONTRIBUTING.md's
sections "The chain" and "Many requests at once", and with --write puts them there; --http2 runs the last alone."""
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
SCRIPT_COMMIT = "7eab245"  # the last commit with map/rastrel-map.sh
SMALL, LARGE = "7eb1 7f29 8041 80b9", "7eb1 80a9 8041 8239"  # 16 x 16 and 64 x 64 tiles
LAYERS = {"turist": "map", "tcyklo": "cyk", "ttur": "tur"}


def sh(command, **options):
    return subprocess.run(command, shell=True, check=True, stdout=subprocess.PIPE, **options).stdout


def draw(folder, noisy=False):
    """Bases: a smooth field of colour on paper with a fine grain, quantised to 20 colours (a palette PNG of about
    25 KB), 24 kinds with palettes of their own, or (`noisy`) with a coarser grain and not quantised (an RGB PNG
    of about 130 KB); overlays: lines drawn four times larger and scaled down, so their edges are antialiased and
    the merged map has thousands of colours."""
    os.makedirs(folder)
    grain, quantise = ("0.3", "") if noisy else ("0.1", " | pnmquant 20 2>/dev/null")
    lines = {"over_route": "line 0 160 1023 300; line 360 0 520 1023", "over_trail": "line 0 700 1023 500"}
    sh(f"cd {folder} && pgmnoise -randomseed=9 256 256 > fine.pgm && ppmmake rgb:e0/f0/d0 256 256 > paper.ppm")
    for kind in range(24):
        fields = " ".join(f"s{kind}{i}.pgm" for i in range(3))
        for i in range(3):
            sh(f"cd {folder} && pgmnoise -randomseed={10 * kind + i} 64 64 | pamscale -xsize 256 -ysize 256 "
               f"-filter=sinc > s{kind}{i}.pgm 2>/dev/null")
        sh(f"cd {folder} && rgb3toppm {fields} | pamcomp -opacity=0.6 - paper.ppm | pamcomp -alpha=fine.pgm "
           f"-opacity={grain} paper.ppm -{quantise} | pnmtopng > base{kind}")
    for name, drawn in lines.items():
        thick = "; ".join(f"{drawn.replace(' 0 ', f' {d} ').replace(' 1023 ', f' {1023 - d} ')}" for d in range(8))
        sh(f"cd {folder} && ppmmake black 1024 1024 | ppmdraw -script='setcolor white; {thick}' | ppmtopgm | "
           f"pamscale -xsize 256 -ysize 256 > {name}.pgm && ppmmake rgb:c0/20/20 256 256 | "
           f"pnmtopng -alpha={name}.pgm > {name}")
    return {"turist": [f"base{kind}" for kind in range(24)], "tcyklo": ["over_route"], "ttur": ["over_trail"]}


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
            self.send_response(200)
            data = Path(folder, tile_kind(kinds, layer, name)).read_bytes()
            self.send_header("Content-Type", "image/png")
            self.send_header("Content-Length", str(len(data)))
            self.end_headers()
            self.wfile.write(data)
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Tiles)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    return server


def tile_kind(kinds, layer, name):
    x, y = (int(v, 16) for v in name.split("_")[1:])
    options = kinds[layer]
    return options[(x + y) // 8 % len(options)]


def install(top):
    """The release installed into a prefix, with the old script beside rastrel-map as rastrel-map-script."""
    prefix = f"{top}/prefix"
    sh(f"cmake --install {ROOT}/build/release --prefix {prefix} > /dev/null")
    script = sh(f"git -C {ROOT} show {SCRIPT_COMMIT}:map/rastrel-map.sh").decode().replace("@PROJECT_VERSION@", "old")
    Path(f"{prefix}/bin/rastrel-map-script").write_text(script)
    os.chmod(f"{prefix}/bin/rastrel-map-script", 0o755)
    return prefix


class Peaks:
    """Peak disk used in a folder's file system beside what was there at the start, sampled every 50 ms."""
    def __init__(self, folder):
        self.folder, self.start, self.low, self.done = folder, shutil.disk_usage(folder).free, None, False
        self.thread = threading.Thread(target=self.sample)
        self.thread.start()

    def sample(self):
        self.low = self.start
        while not self.done:
            self.low = min(self.low, shutil.disk_usage(self.folder).free)
            time.sleep(0.05)

    def stop(self):
        self.done = True
        self.thread.join()
        return self.start - self.low


def timed_map(command, keys, cwd, env):
    """Seconds to the download's line and to the end, peak KiB (GNU time) and peak disk bytes."""
    start, peaks = time.perf_counter(), Peaks(cwd)
    process = subprocess.Popen(f"/usr/bin/time -f '@peak %M' {command} --keys {keys} bench", shell=True, cwd=cwd,
                               env=env, stderr=subprocess.PIPE, text=True)
    downloaded, peak = None, 0
    for line in process.stderr:
        if " download " in line and downloaded is None:
            downloaded = time.perf_counter() - start
        if line.startswith("@peak"):
            peak = int(line.split()[1])
    if process.wait():
        sys.exit(f"{command} failed")
    return downloaded, time.perf_counter() - start, peak, peaks.stop()


def curl_alone(keys, cwd, env):
    """The download floor this server allows: the curl tool fetching every file of the block to /dev/null on two
    kept-alive connections, nothing else."""
    xstart, xstop, ystart, ystop = (int(k, 16) for k in keys.split())
    urls = [f"http://tiles.example.com/{layer}/13_{x:x}000_{y:x}000" for y in range(ystop, ystart - 1, -8)
            for x in range(xstart, xstop + 1, 8) for layer in LAYERS]
    for half in range(2):
        Path(cwd, f"urls{half}").write_text("".join(f'url = "{u}"\noutput = "/dev/null"\n' for u in urls[half::2]))
    start = time.perf_counter()
    fetches = [subprocess.Popen(["curl", "-s", "-K", f"urls{half}"], cwd=cwd, env=env) for half in range(2)]
    if any(fetch.wait() for fetch in fetches):
        sys.exit("curl failed")
    return None, time.perf_counter() - start, None, None


def recipe(prefix, keys, cwd, env):
    readme = (ROOT / "README.md").read_text()
    block = re.search(r"\n#+ Recipe on Linux\n.*?```sh\n(.*?)```", readme, re.S)[1]
    block = re.sub(r"keys=\S+ --block [^)]*\)", f'keys="{keys}"', block).replace("/usr/share/", f"{prefix}/share/")
    start = time.perf_counter()
    subprocess.run(["sh", "-c", block], cwd=cwd, env=env, check=True, stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL)
    return None, time.perf_counter() - start, None, None


def cached(top, kinds, name):
    """64 x 64 tiles already in NAME_tiles, as links to the drawn ones."""
    folder = f"{top}/{name}"
    for layer, short in LAYERS.items():
        os.makedirs(f"{folder}/bench_tiles/tiles_{short}")
        for i in range(64):
            for j in range(64):
                tile = f"13_{0x7eb1 + 8 * i:x}000_{0x8041 + 8 * j:x}000"
                os.link(f"{top}/tiles/{tile_kind(kinds, layer, tile)}", f"{folder}/bench_tiles/tiles_{short}/{tile}")
    return folder


def merge_alone(prefix, work, env):
    """ms a tile: rastrel-merge in one process on one core, and merge_fn.sh tile after tile."""
    tiles = [line.split()[-1] for line in Path(work, "do_merge.cmd").read_text().splitlines()]
    start = time.perf_counter()
    subprocess.run(f"taskset -c 0 {prefix}/bin/rastrel-merge {' '.join(tiles)}", shell=True, check=True, cwd=work)
    native = (time.perf_counter() - start) / len(tiles)
    shutil.copy(f"{prefix}/share/doc/rastrel/examples/merge_fn.sh", work)
    start = time.perf_counter()
    subprocess.run(" && ".join(f"sh merge_fn.sh {t}" for t in tiles[:64]), shell=True, check=True, cwd=work, env=env)
    return native, (time.perf_counter() - start) / 64


def urls_of(keys, base):
    xstart, xstop, ystart, ystop = (int(k, 16) for k in keys.split())
    return [f"{base}/{layer}/13_{x:x}000_{y:x}000" for y in range(ystop, ystart - 1, -8)
            for x in range(xstart, xstop + 1, 8) for layer in LAYERS]


def curl_parallel(keys, base, at_once, cwd, env, http2):
    """The curl tool fetching every file of the block to /dev/null, `at_once` at a time."""
    Path(cwd, "urls").write_text("".join(f'url = "{u}"\noutput = "/dev/null"\n' for u in urls_of(keys, base)))
    start = time.perf_counter()
    subprocess.run(["curl", "-s", "--no-progress-meter", "--fail", "--parallel", "--parallel-max", str(at_once),
                    "--http2" if http2 else "--http1.1", "-K", "urls"], cwd=cwd, env=env, check=True)
    return None, time.perf_counter() - start, None, None


def http2_rows(top, prefix, kinds):
    """The download over HTTP/2 and over HTTP/1.1 on 2 connections, by rastrel-map and by the curl tool."""
    sys.path.insert(0, str(ROOT / "tests" / "e2e"))
    import h2_server
    import run_map
    authority, *certificate = run_map.test_authority(top)
    tiles = {f"/{layer}/13_{x:x}000_{y:x}000": Path(top, "tiles", tile_kind(kinds, layer, f"13_{x:x}000_{y:x}000"))
             .read_bytes() for layer in LAYERS for x in range(0x7eb1, 0x80aa, 8) for y in range(0x8041, 0x823a, 8)}
    h2 = h2_server.H2TileServer(certificate)
    base = f"https://localhost:{h2.server_port}"
    env = dict(os.environ, PATH=f"{prefix}/bin:{os.environ['PATH']}", CURL_CA_BUNDLE=authority)
    env.pop("http_proxy", None)
    rows = []
    for keys, size, delay in ((SMALL, "16 × 16", 0.02), (SMALL, "16 × 16", 0.1), (LARGE, "64 × 64", 0.02),
                              (SMALL, "16 × 16", 0.0), (LARGE, "64 × 64", 0.0)):
        case = f"{size}, {delay * 1000:.0f} ms"
        h2.reset(tiles, delay=delay)
        runs = [("rastrel-map, HTTP/2", lambda w: timed_map(f"rastrel-map --server {base}", keys, w, env))]
        if delay:
            runs.append(("curl, HTTP/2", lambda w: curl_parallel(keys, base, 32, w, env, True)))
            server = serve(f"{top}/tiles", kinds, delay)
            proxied = dict(env, http_proxy=f"http://127.0.0.1:{server.server_port}")
            runs += [("rastrel-map, HTTP/1.1", lambda w: timed_map("rastrel-map --server http://tiles.example.com",
                                                                   keys, w, proxied)),
                     ("curl, HTTP/1.1", lambda w: curl_parallel(keys, "http://tiles.example.com", 2, w, proxied,
                                                                False))]
        for name, run in runs:
            os.makedirs(work := f"{top}/h2-{name.replace(', ', '-').replace('/', '')}-{size[:2]}-{delay}")
            rows.append((case, name, run(work)))
        if delay:
            server.shutdown()
    return rows


def report_http2(rows):
    lines = ["| tiles, wait a request | run | total s | peak memory KiB |", "|---|---|---|---|"]
    totals = {}
    for case, name, (_, total, memory, _) in rows:
        totals[case, name] = total
        lines.append(f"| {case} | {name} | {total:.2f} | {'-' if memory is None else f'{memory:,}'} |")
    ratios = []
    for size, delay in (("16 × 16", 20), ("16 × 16", 100), ("64 × 64", 20)):
        case, idle = f"{size}, {delay} ms", f"{size}, 0 ms"
        ours, goal = totals[case, "rastrel-map, HTTP/2"], max(totals[case, "curl, HTTP/2"],
                                                              totals[idle, "rastrel-map, HTTP/2"])
        ratios.append(f"- {case}: over HTTP/2 {ours / totals[case, 'curl, HTTP/2']:.2f} × the curl tool and "
                      f"{ours / totals[idle, 'rastrel-map, HTTP/2']:.2f} × the run with no wait ({ours / goal:.2f} × the "
                      f"longer of the two); {totals[case, 'rastrel-map, HTTP/1.1'] / ours:.1f} × faster than over "
                      f"HTTP/1.1, where it takes {totals[case, 'rastrel-map, HTTP/1.1'] / totals[case, 'curl, HTTP/1.1']:.2f}"
                      f" × the curl tool on 2 connections.")
    return f"""
### Many requests at once

The same run of `python3 bench/chain.py` (or `--http2` for this part alone)
serves the bench's realistic tiles from a loopback HTTP/2 server with TLS
(`tests/e2e/h2_server.py`, Python's h2, trusted through a test authority)
that waits 20 or 100 ms before each answer, and times `rastrel-map` with its
defaults (2 connections, 32 requests at once) making the map from nothing, the
curl tool fetching the same files 32 at once over HTTP/2 (`curl --parallel
--parallel-max 32`, keeping nothing), and both over HTTP/1.1 on 2 connections
(the bench's plain server, through its proxy; `--parallel-max 2`). The rows at
0 ms are the work of the join, the least any download can add to.

{chr(10).join(lines)}

{chr(10).join(ratios)}
"""


def main():
    subprocess.run(["cmake", "--workflow", "--preset", "release"], cwd=ROOT, check=True, stdout=subprocess.DEVNULL)
    if "--http2" in sys.argv[1:]:
        with tempfile.TemporaryDirectory(prefix="rastrel-chain-", dir=os.environ.get("TMPDIR", "/var/tmp")) as top:
            text = report_http2(http2_rows(top, install(top), draw(f"{top}/tiles")))
        print(text)
        if "--write" in sys.argv[1:]:
            contributing = ROOT / "CONTRIBUTING.md"
            before = contributing.read_text()
            marker = "\n### Many requests at once\n"
            contributing.write_text((before[:before.index(marker)] if marker in before else before.rstrip("\n") + "\n")
                                    + text)
        return
    with tempfile.TemporaryDirectory(prefix="rastrel-chain-", dir=os.environ.get("TMPDIR", "/var/tmp")) as top:
        prefix = install(top)
        kinds = draw(f"{top}/tiles")
        draw(f"{top}/noisy", noisy=True)
        sizes = [[os.path.getsize(f"{top}/{t}/{k}") for k in kinds["turist"]] for t in ("tiles", "noisy")]
        rows = []
        # The placeholder server, which the loopback server answers for as the proxy.
        env = dict(os.environ, PATH=f"{prefix}/bin:{os.environ['PATH']}", RASTREL_SERVER="http://tiles.example.com")
        for delay in (0.0, 0.02):
            server = serve(f"{top}/tiles", kinds, delay)
            env["http_proxy"] = f"http://127.0.0.1:{server.server_port}"
            for name, run in (("curl alone", lambda w: curl_alone(SMALL, w, env)),
                              ("recipe", lambda w: recipe(prefix, SMALL, w, env)),
                              ("script", lambda w: timed_map("rastrel-map-script", SMALL, w, env)),
                              ("rastrel-map", lambda w: timed_map("rastrel-map", SMALL, w, env))):
                os.makedirs(work := f"{top}/{name}-{delay}")
                rows.append((f"16 × 16, {delay * 1000:.0f} ms", name, run(work)))
            server.shutdown()
            server = serve(f"{top}/noisy", kinds, delay)
            env["http_proxy"] = f"http://127.0.0.1:{server.server_port}"
            for name in ("script", "rastrel-map") if delay == 0 else ("rastrel-map",):
                os.makedirs(work := f"{top}/noisy-{name}-{delay}")
                rows.append((f"16 × 16 noisy, {delay * 1000:.0f} ms", name, timed_map(name if name == "rastrel-map"
                                                                                     else "rastrel-map-script", SMALL,
                                                                                     work, env)))
            server.shutdown()
        env["http_proxy"] = "http://127.0.0.1:1"  # nothing is fetched
        for name in ("script", "rastrel-map", "rastrel-map --ozf2"):
            work = cached(top, kinds, f"large-{name.replace(' ', '')}")
            command = "rastrel-map-script" if name == "script" else name
            rows.append(("64 × 64, in the tile folder", name, timed_map(command, LARGE, work, env)))
        ours = f"{top}/large-rastrel-map/bench.png"
        png = (os.path.getsize(ours), len(sh(f"pngtopam {ours} | pnmtopng 2>/dev/null")),
               os.path.getsize(f"{top}/large-rastrel-map--ozf2/bench.ozf2"))
        quality = [ozf2_quality(f"{top}/{folder}", env) for folder in ("rastrel-map-0.0", "noisy-rastrel-map-0.0")]
        native, netpbm = merge_alone(prefix, f"{top}/recipe-0.0", env)
        text = report(rows, sizes, png, native, netpbm, quality) + report_http2(http2_rows(top, prefix, kinds))
    print(text)
    if "--write" in sys.argv[1:]:
        contributing = ROOT / "CONTRIBUTING.md"
        before = contributing.read_text()
        contributing.write_text(before[:before.index("### The chain\n")] + text)


def ozf2_quality(work, env):
    """The 16 × 16 map made again with --ozf2 from its tiles: level 0's PSNR against its PNG on red, green and
    blue, its colours, and the same for Netpbm's plain median cut (pnmquant -meanpixel 256)."""
    subprocess.run(f"rastrel-map --ozf2 --tiles bench_tiles --keys {SMALL} again", shell=True, check=True, cwd=work,
                   env=env, stderr=subprocess.DEVNULL)
    sh("pngtopam bench.png > full.ppm && gdal_translate -q -of PNM -expand rgb again.map ozf2.ppm && "
       "pnmquant -meanpixel 256 full.ppm > cut.ppm 2>/dev/null", cwd=work)
    def decibels(other):
        out = subprocess.run(f"pnmpsnr -rgb full.ppm {other}", shell=True, cwd=work, stderr=subprocess.PIPE,
                             text=True).stderr
        return [float(v) for v in re.findall(r"(?:Red|Green|Blue):\s+([0-9.]+)", out)]
    colours = int(sh("ppmhist -nomap full.ppm | wc -l", cwd=work)) - 2
    return decibels("ozf2.ppm"), decibels("cut.ppm"), colours


def report(rows, sizes, png, native, netpbm, quality):
    floor = 768 * 0.02 / 2
    lines = ["| tiles, wait a request | chain | download done s | total s | peak memory KiB | peak disk MB |",
             "|---|---|---|---|---|---|"]
    totals = {}
    for case, name, (downloaded, total, memory, disk) in rows:
        totals[case, name] = total
        lines.append(f"| {case} | {name} | {'-' if downloaded is None else f'{downloaded:.2f}'} | {total:.2f} | "
                     f"{'-' if memory is None else f'{memory:,}'} | {'-' if disk is None else f'{disk / 1e6:,.0f}'} |")
    small0, small20, large = "16 × 16, 0 ms", "16 × 16, 20 ms", "64 × 64, in the tile folder"
    (ours, cut, colours), (noisy_ours, noisy_cut, noisy_colours) = quality
    db = lambda values: " / ".join(f"{v:.1f}" for v in values)
    noisy0, noisy20 = "16 × 16 noisy, 0 ms", "16 × 16 noisy, 20 ms"
    (low, high), (noisy_low, noisy_high) = ((min(k) / 1000, max(k) / 1000) for k in sizes)
    return f"""### The chain

`python3 bench/chain.py` builds the release preset, installs it into a
temporary prefix and makes maps from realistic tiles (bases: textured
palette PNGs of {low:.1f} to {high:.1f} KB; overlays: antialiased lines, so the
merged map has the many colours of a real one): 16 × 16 tiles (768 requests)
from a loopback tile server that waits 0 ms, then 20 ms, before each answer,
by the curl tool alone (every file fetched on two connections and thrown
away: the floor this server allows), by the README's step-by-step recipe
(`merge_fn.sh`, Netpbm), by the shell
script `rastrel-map` was before it became one program (from commit
`{SCRIPT_COMMIT}`) and by `rastrel-map`, each with its defaults (2
connections); the same with noisier tiles (bases of a coarser grain, not
quantised: RGB PNGs of {noisy_low:.1f} to {noisy_high:.1f} KB) by the script and `rastrel-map`;
then 64 × 64 tiles already in the tile folder, also with `--ozf2`. Peak disk is
what the file system lost beside the tiles while the run went (sampled every
50 ms). `python3 bench/chain.py --write` writes this section from one run.
This run: 2 cores, x86_64 (shared and noisy: compare the ratios).

{chr(10).join(lines)}

- 16 × 16 tiles at 0 ms a request: `rastrel-map` takes {totals[small0, 'rastrel-map'] / totals[small0, 'script']:.2f} × the script's time and {totals[small0, 'rastrel-map'] / totals[small0, 'recipe']:.2f} × the recipe's.
- At 20 ms a request, the download floor is 768 requests × 20 ms ÷ 2 connections = {floor:.2f} s: `rastrel-map` takes {totals[small20, 'rastrel-map'] / floor:.2f} × that floor, the script {totals[small20, 'script'] / floor:.2f} ×, the recipe {totals[small20, 'recipe'] / floor:.2f} ×. The curl tool alone, fetching the same files on two connections and keeping none, takes {totals[small20, 'curl alone'] / floor:.2f} × (the loopback server's own time a request): `rastrel-map` takes {totals[small20, 'rastrel-map'] / totals[small20, 'curl alone']:.2f} × what curl alone takes.
- Noisy tiles: at 0 ms `rastrel-map` takes {totals[noisy0, 'rastrel-map'] / totals[noisy0, 'script']:.2f} × the script's time; at 20 ms {totals[noisy20, 'rastrel-map'] / floor:.2f} × the floor, {totals[noisy20, 'rastrel-map'] / totals[small20, 'curl alone']:.2f} × what curl alone takes for the bench's tiles.
- 64 × 64 tiles in the tile folder: `rastrel-map` takes {totals[large, 'rastrel-map'] / totals[large, 'script']:.2f} × the script's time. Its PNG is {png[0]:,} bytes, {png[0] / png[1]:.3f} × the {png[1]:,} bytes of `pnmtopng` (default settings) for the same pixels.
- `--ozf2` on 64 × 64 tiles in the tile folder: {totals[large, 'rastrel-map --ozf2'] / totals[large, 'rastrel-map']:.2f} × the run without it. Its OZF2 image is {png[2]:,} bytes, {png[2] / png[0]:.1f} × the PNG: its tiles of 64 × 64 palette indices, each deflated on its own and without the PNG's filters, compress less.
- The OZF2 image's full-size level against the PNG (PSNR on red / green / blue; the 16 × 16 maps made again with `--ozf2` from their tiles): {db(ours)} dB on the bench's tiles ({colours:,} colours), {db(noisy_ours)} dB on the noisy ones ({noisy_colours:,} colours). Netpbm's plain median cut, `pnmquant -meanpixel 256`, reaches {db(cut)} and {db(noisy_cut)} dB.
- Merge alone: `rastrel-merge` takes {native * 1000:.2f} ms a tile in one process on one core, `merge_fn.sh` {netpbm * 1000:.1f} ms: {netpbm / native:.0f} times as long.
"""


if __name__ == "__main__":
    main()
