#!/usr/bin/env python3
"""The README's way from tiles to a calibrated map, run as it stands, and the shipped merge examples.

    recipe.py BUILD_DIR SOURCE_DIR              the Linux recipe, read from the README, with the programs and
                                                merge_fn.sh installed into a temporary prefix, wget fetching
                                                made-up PNG tiles from a loopback server through http_proxy, and
                                                the real Netpbm and GDAL
    recipe.py BUILD_DIR SOURCE_DIR LAUNCHER...  merge_fn.cmd run by do_merge.cmd under Wine's cmd, with stand-ins
                                                for the Netpbm programs that record their arguments
"""
import http.server
import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile
import threading
import zlib
from pathlib import Path

TILE = 256
# Overlay marks in tile pixels (columns): the second layer lies over the first where they meet.
MARKS = {"tcyklo": ((16, 48), (255, 0, 0)), "ttur": ((32, 64), (0, 0, 255))}
TOOLS = ["wget", "pngtopam", "pamcomp", "pnmcat", "pnmtopng", "gdalinfo"]


def readme_recipe(source_dir):
    section = Path(source_dir, "README.md").read_text().split("\n## From tiles to a calibrated map\n")[1]
    return re.search(r"```sh\n(.*?)```", section.split("\n## ")[0], re.S)[1]


def base_colour(x, y):
    return (x >> 3) & 0xFF, (y >> 3) & 0xFF, 0x80


def png(rows):
    """An 8-bit RGBA PNG of rows of (r, g, b, a) pixels."""
    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))
    raw = b"".join(b"\0" + bytes(v for pixel in row for v in pixel) for row in rows)
    header = struct.pack(">IIBBBBB", len(rows[0]), len(rows), 8, 6, 0, 0, 0)
    return b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(raw)) + chunk(b"IEND", b"")


def tile_png(layer, x, y):
    if layer == "turist":
        return png([[base_colour(x, y) + (255,)] * TILE] * TILE)
    (first, last), colour = MARKS[layer]
    row = [colour + (255,) if first <= c < last else (0, 0, 0, 0) for c in range(TILE)]
    return png([row if 16 <= r < 32 else [(0, 0, 0, 0)] * TILE for r in range(TILE)])


class TileServer(http.server.BaseHTTPRequestHandler):
    """A tile server reached as a proxy: the request names the whole URL."""
    protocol_version = "HTTP/1.1"  # wget keeps its connection
    requests = []

    def do_GET(self):
        found = re.fullmatch(r"http://[^/]+/(turist|tcyklo|ttur)/13_([0-9a-f]+)000_([0-9a-f]+)000", self.path)
        self.requests.append(self.path)
        body = tile_png(found[1], int(found[2], 16), int(found[3], 16)) if found else b""
        self.send_response(200 if found else 404)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def log_message(self, *args):
        pass


def read_ppm(data):
    """Width, height and rows of (r, g, b) of a binary PPM."""
    magic, width, height, maxval, pixels = data.split(maxsplit=4)
    width, height = int(width), int(height)
    assert magic == b"P6" and maxval == b"255", data[:20]
    return width, height, [[tuple(pixels[3 * (r * width + c):3 * (r * width + c) + 3]) for c in range(width)]
                           for r in range(height)]


def calibration(map_file):
    """Pixel = f(easting, northing) from the .map's two calibration points."""
    points = [line.split(",") for line in Path(map_file).read_text().splitlines() if re.match(r"Point0[12],", line)]
    (x1, y1, e1, n1), (x2, y2, e2, n2) = ([int(p[i]) for i in (2, 3, 14, 15)] for p in points)
    return lambda e, n: (x1 + (e - e1) * (x2 - x1) / (e2 - e1), y1 + (n - n1) * (y2 - y1) / (n2 - n1))


def check_image(work, keys, problems):
    x_keys, y_keys = keys
    width, height, image = read_ppm(subprocess.run(["pngtopam", "mymap.png"], cwd=work, check=True,
                                                   stdout=subprocess.PIPE).stdout)
    if (width, height) != (TILE * len(x_keys), TILE * len(y_keys)):
        problems.append(f"image is {width} x {height} for {len(x_keys)} x {len(y_keys)} tiles")
        return
    pixel_of = calibration(Path(work, "mymap.map"))
    for x in x_keys:
        for y in y_keys:
            # The tile's north-west corner, where the .map puts it.
            left, top = pixel_of(x * 128 - 3700000, (y + 8) * 128 + 1300000)
            for column, want in ((24, MARKS["tcyklo"][1]), (40, MARKS["ttur"][1]), (56, MARKS["ttur"][1]),
                                 (24, None), (128, None)):
                row = 24 if want else 128
                got = image[round(top + row)][round(left + column)]
                if got != (want or base_colour(x, y)):
                    problems.append(f"tile {x:x}_{y:x} at ({column}, {row}): {got}, want {want or base_colour(x, y)}")


def run_linux(build_dir, source_dir, top):
    missing = [tool for tool in TOOLS if not shutil.which(tool)]
    if missing:
        print(f"SKIP: not installed: {' '.join(missing)} (scripts/setup.sh test installs them)")
        return 77
    prefix, work = os.path.join(top, "prefix"), os.path.join(top, "work")
    subprocess.run(["cmake", "--install", build_dir, "--prefix", prefix], check=True, stdout=subprocess.DEVNULL)
    os.mkdir(work)
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), TileServer)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    env = {k: v for k, v in os.environ.items() if not k.lower().endswith("_proxy")}
    env.update(PATH=f"{prefix}/bin:{env['PATH']}", http_proxy=f"http://127.0.0.1:{server.server_port}")
    recipe = readme_recipe(source_dir).replace("/usr/share/doc/rastrel/", f"{prefix}/share/doc/rastrel/")
    result = subprocess.run(["sh", "-ec", recipe], cwd=work, env=env, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                            text=True)
    server.shutdown()
    print(result.stdout)
    problems = [f"the recipe ended with status {result.returncode}"] if result.returncode else []
    keys = ([0x7EB1, 0x7EB9, 0x7EC1], [0x8041, 0x8049])
    if len(TileServer.requests) != 3 * 6:
        problems.append(f"{len(TileServer.requests)} tiles fetched, want 18")
    for text in ("UTM zone 33N", "Origin = (451424.000000000000000,5504672.000000000000000)"):
        if text not in result.stdout:
            problems.append(f"gdalinfo did not print {text!r}")
    if not problems:
        check_image(work, keys, problems)
    return problems


def run_windows(build_dir, source_dir, top, launcher):
    """do_merge.cmd for two tiles, with merge_fn.cmd and stand-in pngtopam.exe and pamcomp.exe in the folder."""
    work = os.path.join(top, "work")
    os.mkdir(work)
    shutil.copy(os.path.join(source_dir, "examples", "merge_fn.cmd"), work)
    for tool in ("pngtopam", "pamcomp"):
        shutil.copy(os.path.join(build_dir, "tests", "netpbm_standin.exe"), os.path.join(work, tool + ".exe"))
    program = os.path.join(build_dir, "rastrel1.exe")
    for argv in ([program, "7eb1", "7eb9", "8041", "8041"], ["cmd", "/c", "do_merge.cmd"]):
        result = subprocess.run(launcher + argv, cwd=work, stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
        if result.returncode == 77:
            print(result.stdout.decode())
            return 77
    problems = []
    log = Path(work, "netpbm.log").read_text().splitlines() if Path(work, "netpbm.log").exists() else []
    want = [line for tile in ("7eb1000_8041000", "7eb9000_8041000") for line in
            [f"pngtopam tiles_map\\13_{tile}"] + [line for layer in ("cyk", "tur") for line in
            [f"pngtopam tiles_{layer}\\13_{tile}", f"pngtopam -alpha tiles_{layer}\\13_{tile}",
             f"pamcomp -alpha=tg\\overlay_alpha.pgm tg\\overlay.ppm tg\\aa_{tile}.pnm"]]]
    if log != want:
        problems.append(f"Netpbm calls: got {log}, want {want}")
    tg = {p.name: p.read_text() for p in Path(work, "tg").iterdir()} if Path(work, "tg").is_dir() else None
    # Each tile image is what the last pamcomp wrote.
    want_tg = {f"aa_{tile}.pnm": f"pamcomp -alpha=tg\\overlay_alpha.pgm tg\\overlay.ppm tg\\aa_{tile}.pnm\n"
               for tile in ("7eb1000_8041000", "7eb9000_8041000")}
    if tg != want_tg:
        problems.append(f"tg: got {tg}, want {want_tg}")
    return problems


def main():
    build_dir, source_dir, *launcher = sys.argv[1:]
    with tempfile.TemporaryDirectory(prefix="rastrel-recipe-") as top:
        if launcher:
            problems = run_windows(build_dir, source_dir, top, launcher)
        else:
            problems = run_linux(build_dir, source_dir, top)
    if problems == 77:
        return 77
    print("".join(f"FAIL {p}\n" for p in problems) + ("failed" if problems else "passed"))
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
