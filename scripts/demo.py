#!/usr/bin/env python3
"""The README's first command after the build (demo.py RASTREL_MAP FOLDER): a tile server on this machine's loopback
serves the example block 7eb1 7ec1 8041 8049 with tiles drawn on the spot (a landscape with contour lines, a red
and a blue route over it), rastrel-map fetches them from http://tiles.example.com through http_proxy (that server)
and leaves demo.png and demo.map in FOLDER,
and GDAL, where it is installed, says where the map lies."""
import math
import os
import shutil
import subprocess
import sys
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent.parent / "tests" / "e2e"))
from cases import png  # noqa: E402  (a PNG of 256 x 256 pixels)
from tile_server import TileServer  # noqa: E402

COLUMNS, ROWS = [0x7EB1, 0x7EB9, 0x7EC1], [0x8049, 0x8041]  # west to east, north to south


def land(x, y):
    height = math.sin(x / 70) + math.cos(y / 55) + 0.6 * math.sin((x + 2 * y) / 130)
    t = (height + 2.6) / 5.2
    colour = [round(a + (b - a) * t) for a, b in zip((120, 180, 100), (215, 190, 140))]
    return [c // 2 for c in colour] if (height * 4) % 1 < 0.08 else colour


def route(distance, rgb):
    alpha = max(0.0, min(1.0, 3.5 - distance)) * 255
    return (*rgb, round(alpha))


def tile(layer, column, row):
    pixels = []
    for py in range(256):
        y, line = row * 256 + py, []
        for px in range(256):
            x = column * 256 + px
            if layer == "turist":
                line += land(x, y)
            elif layer == "tcyklo":
                line += route(abs(y - (256 + 120 * math.sin(x / 110))), (200, 30, 30))
            else:
                line += route(abs(x - 0.6 * y - 150) / 1.17, (30, 60, 220))
        pixels.append(line)
    return png(2 if layer == "turist" else 6, 8, [bytes(line) for line in pixels])


def main():
    program, folder = os.path.abspath(sys.argv[1]), sys.argv[2]
    server = TileServer()
    server.reset({f"/{layer}/13_{x:x}000_{y:x}000": tile(layer, c, r) for layer in ("turist", "tcyklo", "ttur")
                  for c, x in enumerate(COLUMNS) for r, y in enumerate(ROWS)})
    os.makedirs(folder, exist_ok=True)
    made = subprocess.run([program, "--server", "http://tiles.example.com", "--keys", "7eb1", "7ec1", "8041", "8049",
                           "demo"], cwd=folder, env=dict(os.environ, http_proxy=server.proxy))
    if made.returncode:
        return made.returncode
    print(f"\nThe map: {os.path.abspath(folder)}/demo.png, calibrated by {os.path.abspath(folder)}/demo.map",
          flush=True)
    if shutil.which("gdalinfo"):
        info = subprocess.run(["gdalinfo", "demo.map"], cwd=folder, stdout=subprocess.PIPE, text=True).stdout
        print("GDAL places it so:\n" + "".join(line + "\n" for line in info.splitlines()
                                               if line.startswith(("Size is", "Origin", "Pixel Size", "Upper Left",
                                                                   "Lower Right", "Center"))))
    return 0


if __name__ == "__main__":
    sys.exit(main())
