#!/usr/bin/env python3
"""From the generated files to a calibrated map, with the real tools.

1. rastrel1 on a 3 x 2 block with keys below 1000; real wget fetches each URL
   list from a tile server of this test's own on the loopback address (wget
   reaches it as its proxy, so the built-in host name needs no change).
2. Wine's cmd runs the generated do_merge.cmd against a merge_fn.cmd that
   records its argument.
3. rastrel2 on both blocks; distinct tiles made with Netpbm; the pnmcat lines of
   conv.cmd run as they are; the joined image is checked tile by tile.
4. GDAL reads the .map file of the central-European block.
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

LOW_BLOCK = ("0ff0", "1000", "0ff8", "1000")     # 3 x 2 tiles, zero-padded labels
EUROPE_BLOCK = ("7eb1", "7ec1", "8041", "8049")  # 3 x 2 tiles near 49.7 N 14.3 E
LAYERS = ("map", "cyk", "tur")



def sh(command, cwd, env=None):
    subprocess.run(command, shell=True, cwd=cwd, check=True, env=env, timeout=120)


class TileServer(http.server.ThreadingHTTPServer):
    """Answers every GET with a small body naming the path, and records the
    requests in order."""
    daemon_threads = True

    def __init__(self):
        self.requests = []

        class Handler(http.server.BaseHTTPRequestHandler):
            def do_GET(handler):
                self.requests.append(handler.path)
                body = f"tile {handler.path}\n".encode()
                handler.send_response(200)
                handler.send_header("Content-Length", str(len(body)))
                handler.end_headers()
                handler.wfile.write(body)

            def log_message(handler, *args):
                pass

        super().__init__(("127.0.0.1", 0), Handler)


def read_lines(path):
    with open(path, "rb") as f:
        return f.read().decode().split("\r\n")[:-1]


def fetch_lists(work):
    server = TileServer()
    threading.Thread(target=server.serve_forever, daemon=True).start()
    env = dict(os.environ, http_proxy=f"http://127.0.0.1:{server.server_address[1]}", no_proxy="")
    try:
        for layer in LAYERS:
            sh(f"wget --no-verbose --tries=1 --timeout=5 -i wget_{layer}.dat -P tiles_{layer}", work, env)
    finally:
        server.shutdown()
    wanted = [url for layer in LAYERS for url in read_lines(os.path.join(work, f"wget_{layer}.dat"))]
    check("URLs the tile server was asked for, in order", server.requests, wanted)
    check("tiles fetched", sorted(os.listdir(os.path.join(work, "tiles_tur"))),
          sorted(url.rsplit("/", 1)[1] for url in read_lines(os.path.join(work, "wget_tur.dat"))))


def run_merge_script(work):
    with open(os.path.join(work, "merge_fn.cmd"), "wb") as f:
        f.write(b"@>>calls.txt echo %1\r\n")
    subprocess.run(wine.command("64", ["cmd", "/c", "do_merge.cmd"]), cwd=work, env=wine.environment("64"),
                   check=True, timeout=300)
    check("merge_fn.cmd calls", read_lines(os.path.join(work, "calls.txt")),
          ["0ff0000_0ff8000", "0ff0000_1000000", "0ff8000_0ff8000", "0ff8000_1000000",
           "1000000_0ff8000", "1000000_1000000"])


def colour(column, row):
    return (40 + 60 * column, 200 - 80 * row, 90)


def make_tiles(work, columns, rows):
    os.makedirs(os.path.join(work, "tg"), exist_ok=True)
    for c, x in enumerate(columns):
        for r, y in enumerate(rows):  # r = 0 is the southern row
            red, green, blue = colour(c, r)
            sh(f"ppmmake rgb:{red:02x}/{green:02x}/{blue:02x} 256 256 > tg/aa_{x}000_{y}000.pnm", work)


def read_ppm(path):
    with open(path, "rb") as f:
        data = f.read()
    fields = data.split(maxsplit=4)
    check("image format", fields[0], b"P6")
    return int(fields[1]), int(fields[2]), fields[4]


def check_mosaic(work, name, columns, rows):
    """Runs the pnmcat lines of conv.cmd (as the README's recipe does) and
    checks that each tile landed at its column and row, north-most row first."""
    sh("tr -d '\\r' < conv.cmd | grep '^pnmcat' | sh", work)
    width, height, pixels = read_ppm(os.path.join(work, "temp.pnm"))
    check(f"{name}: image size", (width, height), (256 * len(columns), 256 * len(rows)))
    for c in range(len(columns)):
        for r in range(len(rows)):
            top = (len(rows) - 1 - r) * 256
            offset = 3 * ((top + 128) * width + c * 256 + 128)
            check(f"{name}: tile {columns[c]}_{rows[r]}", tuple(pixels[offset:offset + 3]), colour(c, r))
    sh(f"pnmtopng temp.pnm > {name}.png && rm -f temp.pnm line_*.pnm conv.cmd", work)


def check_calibration(work, name, columns, rows):
    info = json.loads(subprocess.run(["gdalinfo", "-json", f"{name}.map"], cwd=work, check=True,
                                     capture_output=True, text=True).stdout)
    width, height = 256 * len(columns), 256 * len(rows)
    check("GDAL raster size", info["size"], [width, height])
    wkt = info["coordinateSystem"]["wkt"]
    for part in ('"UTM zone 33N"', 'BASEGEOGCRS["WGS 84"'):
        if part not in wkt:
            problem(f"projection lacks {part}: {wkt}")
    transform = info["geoTransform"]
    check("origin (north-west corner)", (transform[0], transform[3]), (451424.0, 5504672.0))
    check("rotation", (transform[2], transform[4]), (0.0, 0.0))
    for axis, size, tiles in (("x", transform[1], len(columns)), ("y", -transform[5], len(rows))):
        want = 1024 * tiles / (256 * tiles - 1)
        if abs(size - want) > 1e-9:
            problem(f"pixel size on {axis}: got {size}, want {want}")
    for lon, lat in info["wgs84Extent"]["coordinates"][0]:
        if not (12 < lon < 19 and 48 < lat < 52):
            problem(f"corner {lat} N {lon} E lies outside central Europe")


def block_keys(block):
    xstart, xstop, ystart, ystop = (int(k, 16) for k in block)
    return ([f"{k:04x}" for k in range(xstart, xstop + 1, 8)], [f"{k:04x}" for k in range(ystart, ystop + 1, 8)])


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--bin-dir", required=True)
    bin_dir = os.path.abspath(parser.parse_args().bin_dir)
    with tempfile.TemporaryDirectory(prefix="rastrel-tools-") as work:
        sh(f"{bin_dir}/rastrel1 {' '.join(LOW_BLOCK)} > /dev/null", work)
        fetch_lists(work)
        run_merge_script(work)
        for name, block in (("low", LOW_BLOCK), ("eu", EUROPE_BLOCK)):
            columns, rows = block_keys(block)
            make_tiles(work, columns, rows)
            sh(f"{bin_dir}/rastrel2 {' '.join(block)} {name} > /dev/null", work)
            check_mosaic(work, name, columns, rows)
        check_calibration(work, "eu", *block_keys(EUROPE_BLOCK))
    return finish()


if __name__ == "__main__":
    sys.exit(main())
