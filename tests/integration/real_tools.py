#!/usr/bin/env python3
"""From the generated files to a calibrated map, with the real tools, on a
3 x 2 block near 49.7 N 14.3 E:
1. real wget fetches each URL list of rastrel1 from a tile server of this
   test's own on the loopback address (wget reaches it as its proxy, so the
   built-in host name needs no change);
2. Wine's cmd runs do_merge.cmd against a merge_fn.cmd that records its argument;
3. distinct tiles are made with Netpbm, the pnmcat lines of rastrel2's conv.cmd
   run as they are, and the joined image is checked tile by tile;
4. GDAL reads the .map file.
"""
import argparse
import http.server
import json
import os
import subprocess
import sys
import tempfile
import threading

sys.path.insert(0, os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
import wine  # noqa: E402
from checks import check, finish, problem  # noqa: E402

BLOCK = ("7eb1", "7ec1", "8041", "8049")
COLUMNS, ROWS = ["7eb1", "7eb9", "7ec1"], ["8041", "8049"]  # rows south to north


def sh(command, cwd, env=None):
    subprocess.run(command, shell=True, cwd=cwd, check=True, env=env, timeout=120)


def read_lines(path):
    with open(path, "rb") as f:
        return f.read().decode().split("\r\n")[:-1]


def fetch_lists(work):
    """Serves every GET with a small body and records the paths asked for."""
    requests = []

    class Handler(http.server.BaseHTTPRequestHandler):
        def do_GET(self):
            requests.append(self.path)
            self.send_response(200)
            self.send_header("Content-Length", "5")
            self.end_headers()
            self.wfile.write(b"tile\n")

        def log_message(self, *args):
            pass

    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    env = dict(os.environ, http_proxy=f"http://127.0.0.1:{server.server_address[1]}", no_proxy="")
    try:
        for layer in ("map", "cyk", "tur"):
            sh(f"wget --no-verbose --tries=1 --timeout=5 -i wget_{layer}.dat -P tiles_{layer}", work, env)
    finally:
        server.shutdown()
    check("URLs asked for, in order", requests,
          [url for layer in ("map", "cyk", "tur") for url in read_lines(os.path.join(work, f"wget_{layer}.dat"))])


def run_merge_script(work):
    with open(os.path.join(work, "merge_fn.cmd"), "wb") as f:
        f.write(b"@>>calls.txt echo %1\r\n")
    subprocess.run(wine.command("64", ["cmd", "/c", "do_merge.cmd"]), cwd=work, env=wine.environment("64"),
                   check=True, timeout=300)
    check("merge_fn.cmd calls", read_lines(os.path.join(work, "calls.txt")),
          [f"{x}000_{y}000" for x in COLUMNS for y in ROWS])


def colour(column, row):
    return (40 + 60 * column, 200 - 80 * row, 90)


def check_mosaic(work):
    """Runs the pnmcat lines of conv.cmd (as the README's recipe does) and
    checks that each tile landed at its column and row, north-most row first."""
    os.makedirs(os.path.join(work, "tg"))
    for c, x in enumerate(COLUMNS):
        for r, y in enumerate(ROWS):
            sh("ppmmake rgb:{:02x}/{:02x}/{:02x} 256 256 > tg/aa_{}000_{}000.pnm".format(*colour(c, r), x, y), work)
    sh("tr -d '\\r' < conv.cmd | grep '^pnmcat' | sh", work)
    with open(os.path.join(work, "temp.pnm"), "rb") as f:
        magic, width, height, _, pixels = f.read().split(maxsplit=4)
    check("image", (magic, int(width), int(height)), (b"P6", 768, 512))
    centres = {(c, r): 3 * (((1 - r) * 256 + 128) * 768 + c * 256 + 128) for c in range(3) for r in range(2)}
    check("tile colours", {t: tuple(pixels[o:o + 3]) for t, o in centres.items()}, {t: colour(*t) for t in centres})
    sh("pnmtopng temp.pnm > eu.png", work)


def check_calibration(work):
    info = json.loads(subprocess.run(["gdalinfo", "-json", "eu.map"], cwd=work, check=True, capture_output=True,
                                     text=True).stdout)
    wkt, t = info["coordinateSystem"]["wkt"], info["geoTransform"]
    check("UTM zone 33N on WGS 84", ('"UTM zone 33N"' in wkt, 'BASEGEOGCRS["WGS 84"' in wkt), (True, True))
    check("size, origin (north-west corner), rotation", (info["size"], t[0], t[3], t[2], t[4]),
          ([768, 512], 451424.0, 5504672.0, 0.0, 0.0))
    check("pixel size", (round(t[1], 9), round(-t[5], 9)), (round(3072 / 767, 9), round(2048 / 511, 9)))
    if not all(12 < lon < 19 and 48 < lat < 52 for lon, lat in info["wgs84Extent"]["coordinates"][0]):
        problem(f"corners outside central Europe: {info['wgs84Extent']}")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--bin-dir", required=True)
    bin_dir = os.path.abspath(parser.parse_args().bin_dir)
    with tempfile.TemporaryDirectory(prefix="rastrel-tools-") as work:
        sh(f"{bin_dir}/rastrel1 {' '.join(BLOCK)} > /dev/null", work)
        fetch_lists(work)
        run_merge_script(work)
        sh(f"{bin_dir}/rastrel2 {' '.join(BLOCK)} eu > /dev/null", work)
        check_mosaic(work)
        check_calibration(work)
    return finish()


if __name__ == "__main__":
    sys.exit(main())
