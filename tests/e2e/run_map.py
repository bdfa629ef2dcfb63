#!/usr/bin/env python3
"""End-to-end cases of rastrel-map (run_map.py PROGRAM TILE_HOST [LAUNCHER...]; a Windows build through the Wine
launcher) against a loopback tile server that
it reaches as its proxy, each in a fresh folder: the exit status, every line on standard error, every file left
(the map's pixels decoded and compared with the tiles laid over each other) and the requests the server saw."""
import functools
import hashlib
import json
import math
import os
import re
import shutil
import signal
import ssl
import struct
import subprocess
import sys
import tempfile
import time
import zlib
from pathlib import Path

import cases
import h2_server
from tile_server import LAST_MODIFIED, TileServer

HOST = "tiles.example.com"
TLS_SERVER, AUTHORITY = None, None  # the https server, and the file of the authority that signs its certificate
H2_SERVER = None  # the HTTP/2 server, with the same certificate
CONSOLE_CTRL = None  # the Windows helper that sends a console Ctrl-C
WINDOWS = False  # a Windows build under Wine
LAYERS = {"turist": "map", "tcyklo": "cyk", "ttur": "tur"}
KEYS = ["--keys", "7eb1", "7eb9", "8041", "8049", "m"]
BOX = ["14.3292", "49.6760", "14.3525", "49.6911", "m"]  # inside the same 2 x 2 tiles
NW, NE, SW, SE = (0x7EB1, 0x8049), (0x7EB9, 0x8049), (0x7EB1, 0x8041), (0x7EB9, 0x8041)
# Each tile's layers, as (PNG, its pixels) or None where the server has none: every colour type among them.
STOCK = {NW: (cases.BASES["1_1"], cases.OVERLAYS["2_1"], None), NE: (cases.BASES["1_6"], None, None),
         SW: (cases.BASES["1_3"], None, cases.OVERLAYS["2_4"]), SE: (cases.BASES["1_5"], cases.OVERLAYS["2_3"], None)}
SOLID = [(cases.png(2, 8, cases.image(lambda x, y, c=c: c)), lambda x, y, c=c: c) for c in
         [(0, 0, 0), (255, 255, 255), (9, 8, 7), (200, 100, 50)]]
CALIBRATION = (451424, 5504672, 511, 511, 453472, 5502624)
MAP = cases.map_file("m", *CALIBRATION)
WHITE = lambda x, y: (255, 255, 255)


def path(layer, tile):
    return f"/{layer}/13_{tile[0]:x}000_{tile[1]:x}000"


def kept(layer, tile):
    return f"m_tiles/tiles_{LAYERS[layer]}/13_{tile[0]:x}000_{tile[1]:x}000"


def served(stock=STOCK, prefix=""):
    return {prefix + path(layer, tile): layers[i][0] for tile, layers in stock.items() for i, layer in enumerate(LAYERS)
            if layers[i] is not None}


def cache(stock=STOCK, but=(), folder="m_tiles", server=None):
    """The tile folder's files: its tiles and its record of the server."""
    return {**{kept(layer, tile).replace("m_tiles", folder): layers[i][0] for tile, layers in stock.items()
               for i, layer in enumerate(LAYERS) if layers[i] is not None and (layer, tile) not in but},
            f"{folder}/server.txt": f"{server or 'http://' + HOST}\n".encode()}


@functools.cache
def tile_pixels(base, *overlays):
    return b"".join(bytes(row) for row in cases.image(cases.laid_over(base, *overlays)))


def image(stock=STOCK, white=()):
    """The map's RGB rows: north row first, each tile its base (white where given) with its overlays over it."""
    tiles = {tile: tile_pixels(WHITE if tile in white else layers[0][1], *[o[1] for o in layers[1:] if o])
             for tile, layers in stock.items()}
    return b"".join(tiles[w][r * 768:(r + 1) * 768] + tiles[e][r * 768:(r + 1) * 768]
                    for w, e in ((NW, NE), (SW, SE)) for r in range(256))


def decode_png(data):
    """8-bit RGB PNG of our own making: its width and its unfiltered rows."""
    assert data[:8] == b"\x89PNG\r\n\x1a\n"
    chunks, at = {}, 8
    while at < len(data):
        length, kind = struct.unpack(">I4s", data[at:at + 8])
        body = data[at + 8:at + 8 + length]
        assert zlib.crc32(kind + body) == struct.unpack(">I", data[at + 8 + length:at + 12 + length])[0], kind
        chunks[kind] = chunks.get(kind, b"") + body
        at += 12 + length
    width, height, depth, colour = struct.unpack(">IIBB", chunks[b"IHDR"][:10])
    step = 3 if colour == 2 else 1  # bytes a pixel for the filters: RGB, or palette indices packed in bytes
    raw, stride, rows = zlib.decompress(chunks[b"IDAT"]), (width * depth * (3 if colour == 2 else 1) + 7) // 8, []
    previous = bytearray(stride)
    for r in range(height):
        kind, row = raw[r * (stride + 1)], bytearray(raw[r * (stride + 1) + 1:(r + 1) * (stride + 1)])
        for i in range(stride):
            a, b = row[i - step] if i >= step else 0, previous[i]
            c = previous[i - step] if i >= step else 0
            p = a + b - c
            row[i] = (row[i] + [0, a, b, (a + b) // 2, a if abs(p - a) <= abs(p - b) and abs(p - a) <= abs(p - c)
                                 else b if abs(p - b) <= abs(p - c) else c][kind]) & 255
        previous = row
        if colour == 3:
            bits = "".join(f"{byte:08b}" for byte in row)
            row = b"".join(chunks[b"PLTE"][3 * i:3 * i + 3] for i in (int(bits[x * depth:(x + 1) * depth], 2)
                                                                        for x in range(width)))
        rows.append(bytes(row))
    return (width, height, depth, colour), b"".join(rows)


class MapCase:
    """One run of rastrel-map. `served`: the server's tiles by path; `scripts`: answers given first, by path;
    `before`: files in the folder; `files`: all of them after (None: the stock cache, m.png and m.map); `png`: the
    map's pixels; `stderr`: its lines, without "rastrel-map: "; `requests`: a check of the server's log, true when
    right; `then`: a case run after it in the same folder; `interrupt`: a signal sent once the server has stalled; `needs`:
    "posix" (not under Wine), "dev_full", "tls", "gdal", each with the reason; `interrupt_at`: the interruption sent
    once this file appears instead; `map`: the map's name; `tls`: the https server
    answers; `twin`: the same command run at the same time in the folder "twin"; `delay`: seconds the server waits
    before each answer; `stdout`: what standard output holds ("full": /dev/full in its place); `terminal`: standard
    error on a pseudo-terminal; `h2`: the HTTP/2 server answers, set up so (h2_server.H2TileServer.reset); `counted`:
    a check of the server itself, true when right."""
    DEFAULTS = dict(args=KEYS, served=None, scripts={}, before={}, modified={}, status=0, stderr="", files=None,
                    png=None, depth_and_colours=(8, 2), requests=None, env={}, then=None, interrupt=None, needs={},
                    map="m", tls=False, twin=False, delay=0.0, stdout=b"", terminal=False, interrupt_at=None,
                    h2=None, counted=None)

    def __init__(self, name, **given):
        self.__dict__.update(self.DEFAULTS, name=name, **given)
        if self.served is None:
            self.served = served()
        if self.files is None:
            self.files = {**cache(), "m.map": MAP}
        if self.status == 0 and self.map + ".png" not in self.files and {"--block", "--ozf2"}.isdisjoint(self.args):
            self.files[self.map + ".png"], self.png = None, self.png or image()


def lines(*texts):
    return "".join(f"rastrel-map: {t}\n" for t in texts)


VIA = " over HTTP/1.1 on at most 2 connections"
DOWNLOAD = "download {} of {} tile files" + VIA + ", {} base and {} overlay tiles missing"
KEYS_LINE = "keys 7eb1 7eb9 8041 8049 (2 x 2 tiles) from http://tiles.example.com"
JOINED = ["join m.png, 512 x 512 pixels, and m.map", "m.png and m.map made from 4 tiles; 0 base and 5 overlay tiles "
          "were missing on the server (white where a base is missing), running again fetches them"]


def made(download=DOWNLOAD.format(12, 12, 0, 5), *middle):
    return lines(KEYS_LINE, *middle, download, *JOINED)


def stopped(why, kept=""):
    return lines(KEYS_LINE, f"the download stopped: {why}" + (f" (the complete tiles are kept in {kept})" if kept else ""))


def url(layer, tile):
    return f"http://{HOST}{path(layer, tile)}"


def paused(seconds, at):
    """The requests for `at`: the second came `seconds` or more after the first."""
    def check(log):
        first, second, *_ = [t for t, p, _ in log if p == at]
        return second - first >= seconds - 0.05
    return check


NO_BASE = {**STOCK, NE: (None, None, None)}
WIDE_ROW = {f"/turist/13_{x:x}000_8049000": SOLID[3][0] for x in range(0x7EB1, 0x9DEA, 8)}
BAD_BASE = path("turist", NE)
REFUSED = [  # arguments, the one line
    (["14.34", "49.68", "14.36", "m"], "usage: rastrel-map [OPTIONS] WEST SOUTH EAST NORTH NAME rastrel-map [OPTIONS]"
     " --keys XSTART XSTOP YSTART YSTOP NAME rastrel-map --block [--remainder R] WEST SOUTH EAST NORTH"),
    (["--fast", *KEYS], "unknown option --fast (rastrel-map --help lists them)"),
    (["24.5", "49.68", "25", "49.69", "m"], "the box must lie within 6 to 24 degrees east and 0 to 84 degrees north, "
     "where UTM zone 33 serves"),
    (["14.36", "49.68", "14.34", "49.69", "m"], "the box needs WEST < EAST and SOUTH < NORTH"),
    (["14", "49", "1e1", "50", "m"], "WEST SOUTH EAST NORTH must be decimal degrees, such as 14.25"),
    (["--keys", "7eb1", "7ec1", "8041", "8g49", "m"], "'8g49' is not a key: 1 to 8 hexadecimal digits, such as 7eb1"),
    (["--keys", "7eb1", "7ec1", "8041", "180410000", "m"], "'180410000' is not a key: 1 to 8 hexadecimal digits, such "
     "as 7eb1"),
    (["--connections", "17", *KEYS], "--connections needs a whole number from 1 to 16, not '17'"),
    (["--jobs", "0", *KEYS], "--jobs needs a whole number from 1 to 64, not '0'"),
    (["--remainder", "8", *BOX], "--remainder needs a whole number from 0 to 7, not '8'"),
    (["--jobs"], "--jobs needs a value"),
    ([*KEYS, "--server"], "--server needs a value"),
    (["--server", *KEYS], "--server needs a value"),
    (["--refresh=yes", *KEYS], "--refresh takes no value"),
    (["--streams", "129", *KEYS], "--streams needs a whole number from 1 to 128, not '129'"),
    (["--streams=0", *KEYS], "--streams needs a whole number from 1 to 128, not '0'"),
    *[(["--rate", rate, *KEYS], f"--rate needs requests a second, a minute or an hour, such as 10/s, 100/m or 1000/h, "
                                f"not '{rate}'") for rate in ["10/d", "0/s", "10", "/s", "1.5/s", "1234567/s"]],
    (["--keys", "7ec1", "7eb1", "8041", "8049", "m"], "the block 7ec1 7eb1 8041 8049 is empty: a stop key lies 8 or "
     "more below its start key"),
    ([*KEYS[:5], ""], "the map name is empty"),
    ([*KEYS[:5], "sub/m"], "the map name 'sub/m' holds a folder: run rastrel-map in the map's folder, with a name "
     "alone"),
    (["--keys", "0", "7f8", "0", "7fff8", "m"], re.compile(r"the map of 256 x 65536 tiles needs about "
                                                           r"1099511 MB, and this folder has \d+ MB")),
    # A row of 65536 tiles is 12.9 GB: beyond a 32-bit process, within a 64-bit one (but not the disk).
    (["--keys", "0", "7fff8", "0", "7fff8", "m"], re.compile(
        r"the map of 65536 x 65536 tiles (needs about 281474976 MB, and this folder has \d+ MB|is too wide for this "
        r"program's memory: make it as maps of fewer columns)")),
    (["--ozf2", "--keys", "0", "1fff8", "0", "0", "m"], "the map of 16384 x 1 tiles is too large for --ozf2: an OZF2 "
     "image holds at most 65,535 tiles of 64 pixels a side; make it as maps of fewer tiles"),
    (["--ozf2", "--keys", "0", "7f8", "0", "7f8", "m"], "the map of 256 x 256 tiles is too large for --ozf2: an OZF2 "
     "image holds at most 4 GiB, which a map this large could exceed; make it as maps of fewer tiles"),
    (["--geotiff", *KEYS], re.compile(r"gdal_translate not found: install GDAL (\(apt-get install gdal-bin\)|"
                                       r"\(it comes with QGIS and OSGeo4W\) and put its bin folder on the PATH)")),
]


def all_cases():
    # One connection, so the first tile is the one named.
    unreachable = dict(args=["--connections", "1", *KEYS], status=1, files={}, requests=lambda log: log == [],
                       stderr=re.compile(re.escape(lines(KEYS_LINE) + "rastrel-map: the download stopped: cannot reach "
                                                   f"the server for {url('turist', NW)}: ") +
                                         r"[^\n]+\n"))
    return [
        MapCase("a block of keys: every colour type, overlays missing", stderr=made(),
                requests=lambda log: {h.get("User-Agent") for _, _, h in log} == {"rastrel-map/1.0.0"}),
        MapCase("a box, merged and compressed on 3 threads", args=["--jobs", "3", *BOX], stderr=made()),
        MapCase("a base missing on the server", served=served(NO_BASE), files={**cache(NO_BASE), "m.map": MAP},
                png=image(white=[NE]), stderr=lines(
                    KEYS_LINE, "tiles_map/13_7eb9000_8049000 is missing or not a 256 x 256 PNG, a white tile stands in",
                    DOWNLOAD.format(12, 12, 1, 5), JOINED[0], "m.png and m.map made from 4 tiles; 1 base and 5 overlay"
                    " tiles were missing on the server (white where a base is missing), running again fetches them")),
        MapCase("every answer a page", scripts={path(l, t): ["html"] for l in LAYERS for t in STOCK}, files={},
                status=1, stderr=stopped('the server sends no tiles: its first answers were not PNG tiles but '
                                         'text/html; charset=utf-8 ("<!DOCTYPE html> <html><head><title>Log in</title>'
                                         '</head></ht")'), requests=lambda log: len(log) < 12),
        MapCase("one base a page, then again", scripts={BAD_BASE: ["html"]}, files=cache(but=[("turist", NE)]),
                status=1, stderr=lines(KEYS_LINE, DOWNLOAD.format(11, 12, 0, 5).replace("ons,", "ons, 1 failed,"),
                                       "no m.png made: 1 of the tile files "
                                       "failed after their tries (the last: not a 256 x 256 PNG but text/html; charset"
                                       '=utf-8 ("<!DOCTYPE html> <html><head><title>Log in</title></head></ht") for '
                                       f"{url('turist', NE)}); running again fetches them (the complete tiles are kept "
                                       "in m_tiles)"),
                then=MapCase("again", stderr=made(DOWNLOAD.format(6, 6, 0, 5)),
                             requests=lambda log: sorted(p for _, p, _ in log) == sorted(
                                 [BAD_BASE] + [path(l, t) for t, layers in STOCK.items() for l, v in zip(LAYERS, layers)
                                               if v is None]))),
        # The first request of a connection: a reused one that closes is tried again by the library itself.
        # A 5xx on the second row's base: the first answers showed the server serves, so the full pause.
        *[MapCase(f"{what}, tried again", scripts={path("turist", tile): [answer]}, stderr=made(
            DOWNLOAD.format(12, 12, 0, 5) + ", 1 tries repeated"), requests=paused(seconds, path("turist", tile)))
          for what, answer, seconds, tile in [("a connection closed before the answer", "close", 1, NW),
                                              ("a connection closed halfway through a tile", "half", 1, NW),
                                              ("a 500", "status:500", 1, SW),
                                              ("a 429 with Retry-After: 2", "status:429:Retry-After=2", 2, NW)]],
        # At most 256 colours: a palette PNG, its indices of as few bits as hold them.
        *[MapCase(f"{what}: a palette of {depth} bits", served=served(stock), files={**cache(stock), "m.map": MAP},
                  png=image(stock), depth_and_colours=(depth, 3), stderr=made(DOWNLOAD.format(12, 12, 0, 8)).replace(
                      "0 base and 5 overlay", "0 base and 8 overlay")) for what, depth, stock in [
            ("256 colours", 8, {tile: (cases.BASES["1_6"], None, None) for tile in STOCK}),
            ("four colours", 2, {tile: (SOLID[i], None, None) for i, tile in enumerate(STOCK)})]],
        MapCase("a redirect", scripts={BAD_BASE: ["redirect"]}, stderr=made(),
                requests=lambda log: "/moved" + BAD_BASE in [p for _, p, _ in log]),
        MapCase("a 403 stops the run", args=["--connections", "1", *KEYS], scripts={path("turist", NW): ["status:403"]},
                files={}, status=1, stderr=stopped(f"the server answered 403 for {url('turist', NW)}"),
                requests=lambda log: len(log) == 1),
        MapCase("overlays and a base answered 204 or empty", scripts={
            path("tcyklo", NW): ["status:204"], path("ttur", SW): ["empty"], BAD_BASE: ["status:204"]},
                files={**cache(but=[("tcyklo", NW), ("ttur", SW), ("turist", NE)]), kept("tcyklo", NW): b"",
                       kept("ttur", SW): b"", "m.map": MAP},
                png=image({**STOCK, NW: (STOCK[NW][0], None, None), SW: (STOCK[SW][0], None, None)}, white=[NE]),
                stderr=lines(KEYS_LINE, "tiles_map/13_7eb9000_8049000 is missing or not a 256 x 256 PNG, a white tile "
                             "stands in", DOWNLOAD.format(12, 12, 1, 5), JOINED[0], "m.png and m.map made from 4 tiles;"
                             " 1 base and 5 overlay tiles were missing on the server (white where a base is missing), "
                             "running again fetches them")),
        # One connection, so every file before the stalled one is settled.
        # SIGINT is a console Ctrl-C on Windows; closing the console (SIGTERM) cannot be sent there.
        *[MapCase(f"{name} mid-tile, then again", args=["--connections", "1", *KEYS], interrupt=number,
                  needs=needs, scripts={path("tcyklo", SE): ["half:30"]}, status=128 + number,
                  files=cache(but=[("tcyklo", SE)]),
                  stderr=lines(KEYS_LINE, "interrupted; the complete tiles are kept in m_tiles, run again to go on"),
                  then=MapCase("again", stderr=made(DOWNLOAD.format(6, 6, 0, 5))))
          for name, number, needs in [("SIGINT (Ctrl-C)", signal.SIGINT, {}),
                                      ("SIGTERM", signal.SIGTERM, {"posix": "POSIX signals"})]],
        MapCase("a server it cannot reach", env={"http_proxy": "http://127.0.0.1:1"}, **unreachable),
        # curl's no_proxy takes a domain with its subdomains; http_proxy alone serves http, not https_proxy.
        *[MapCase(f"no_proxy={bypass}, https_proxy set: {what}", env={"no_proxy": bypass, "https_proxy":
                                                                       "http://127.0.0.1:1"}, **expected)
          for bypass, what, expected in [
              ("other.example.com", "through the proxy", dict(stderr=made())),
              ("example.com", "past the proxy", unreachable)]],
        # Windows gives the name in its ANSI code page (Wine here: 1252), and so does rastrel2's .map.
        MapCase("a name outside ASCII", args=[*KEYS[:5], "H\u00f6he"], map="H\u00f6he", stderr=None,
                files={**cache(folder="H\u00f6he_tiles"),
                       "H\u00f6he.map": cases.map_file(
                           "H\u00f6he".encode("cp1252" if WINDOWS else "utf-8").decode("latin-1"),
                           *CALIBRATION)}),
        # No limit of cmd's or of a 32-bit process's memory on a row: 1,000 tiles of one colour, a 1-bit palette.
        MapCase("a row of 1,000 tiles", args=["--keys", "7eb1", "9de9", "8049", "8049", "m"], served=WIDE_ROW,
                files={**{"m_tiles/tiles_map" + p.removeprefix("/turist"): t for p, t in WIDE_ROW.items()},
                                    "m_tiles/server.txt": cache({})["m_tiles/server.txt"], "m.map": cases.map_file(
                    "m", 451424, 5504672, 255999, 255, 1475424, 5503648), "m.png": lambda png: png[12:26] == b"IHDR" +
                    struct.pack(">IIBB", 256000, 256, 1, 3)}, stderr=lines(
                    "keys 7eb1 9de9 8049 8049 (1000 x 1 tiles) from http://tiles.example.com", DOWNLOAD.format(3000, 3000, 0, 2000),
                    "join m.png, 256000 x 256 pixels, and m.map", "m.png and m.map made from 1000 tiles; 0 base and "
                    "2000 overlay tiles were missing on the server (white where a base is missing), running again "
                    "fetches them")),
        *server_and_folder_cases(),
        *https_cases(),
        *http2_cases(),
        *ozf2_cases(),
        MapCase("a folder where the map must go", before={"m.png": cases.DIR}, status=1,
                files={**cache(), "m.png": cases.DIR}, stderr=lines(KEYS_LINE, DOWNLOAD.format(12, 12, 0, 5),
                                                                  "cannot move m.png into place: File access denied")),
        MapCase("a full disk under the PNG", before={**cache(), "m_tiles/m.png": cases.FULL}, status=1,
                files=cache(), needs={"posix": "POSIX errors", "dev_full": "no /dev/full to link to here"},
                stderr=lines(KEYS_LINE, "cannot write m_tiles/m.png: I/O error 28")),
        MapCase("a tile folder of the earlier layout, without a record: taken over", before={
            name: data for name, data in cache().items() if not name.endswith("server.txt")},
                stderr=made(DOWNLOAD.format(5, 5, 0, 5)),
                requests=lambda log: BAD_BASE not in [p for _, p, _ in log]),
        MapCase("--refresh: a 304 and a changed tile", args=["--refresh", *KEYS], before={
            **cache(), kept("turist", NE): cases.BASES["1_1"][0]}, modified={BAD_BASE: LAST_MODIFIED + 60},
                stderr=made(), requests=lambda log: all(h.get("If-Modified-Since") for _, p, h in log
                                                         if p.startswith("/turist/"))),
        *[MapCase(f"refused: {' '.join(args)}", args=args, status=2, files={}, needs={
            "posix": "Windows drops an empty argument"} if "" in args else {}, stderr=re.compile(
            "rastrel-map: " + message.pattern + "\n") if isinstance(message, re.Pattern) else lines(message),
                  requests=lambda log: log == [], env={"PATH": ""} if "gdal" in str(message) else {})
          for args, message in REFUSED],
        *[MapCase(f"--block {' '.join(args)}", args=["--block", *args], files={}, stdout=out)
          for args, out in [(BOX[:4], b"7eb1 7eb9 8041 8049\n"), (["--remainder", "0", *BOX[:4]], b"7eb0 7eb8 8040 8048\n"),
                            (["6.1", "0.5", "23.9", "83.9"], b"61d1 9e81 ffffda01 f4e1\n")]],
    ]


BIG = {(0x7EB1 + 8 * c, 0x8041 + 8 * r): (SOLID[(c + r) % 4], None, None) for c in range(4) for r in range(4)}
ALL_PATHS = sorted(path(layer, tile) for tile in STOCK for layer in LAYERS)
WEST = {NW: STOCK[NW], SW: STOCK[SW]}
# Row 0 of small values that alternate across it, so that its filter looks up, to the row above the first; many
# colours below it.
TEXTURED = {tile: ((cases.png(2, 8, cases.image(f)), f), None, None) for tile, f in [
    (t, lambda x, y, s=i: tuple((x % 2) * 3 + c if y == 0 else (x * (7 + s) + y * 3 + c * 50) & 255 for c in range(3)))
    for i, t in enumerate(STOCK)]}
ANY = lambda data: data is not None


def server_and_folder_cases():
    base = f"http://{HOST}"
    refused = lambda message: lines(message)
    nothing = dict(status=2, files={}, requests=lambda log: log == [])
    keys_from = lambda server: KEYS_LINE.replace(f"from {base}", f"from {server}")
    return [
        MapCase("--server with a path and a trailing /", args=["--server", f"{base}/base/", *KEYS],
                served=served(prefix="/base"), files={**cache(server=f"{base}/base"), "m.map": MAP},
                stderr=made().replace(KEYS_LINE, keys_from(f"{base}/base")),
                requests=lambda log: sorted(p for _, p, _ in log) == ["/base" + p for p in ALL_PATHS]),
        MapCase("RASTREL_SERVER with a path", env={"RASTREL_SERVER": f"{base}/v"}, served=served(prefix="/v"),
                files={**cache(server=f"{base}/v"), "m.map": MAP}, stderr=made().replace(KEYS_LINE, keys_from(f"{base}/v"))),
        MapCase("--server over RASTREL_SERVER", args=["--server", base, *KEYS], env={"RASTREL_SERVER": "ftp://x"},
                stderr=made()),
        *[MapCase(f"refused: --server {address}", args=["--server", address, *KEYS], stderr=refused(message), **nothing)
          for address, message in [
              ("ftp://tiles.example.com", "the server address 'ftp://tiles.example.com' must start with http:// or "
               "https://"),
              ("http:///t", "the server address 'http:///t' has no host"),
              ("http://h/t?k=1", "the server address 'http://h/t?k=1' has a query or fragment (? or #): name the base "
               "address alone, before the layer folders"),
              ("http://h/my tiles", "the server address 'http://h/my tiles' holds a blank or a character that cannot "
               "stand in a URL"),
              ("http://me:secret@h", "the server address holds a user name or password, which would show in the "
               "process list and in error lines: name the server without them"),
              ("http://h:65536", "the server address 'http://h:65536' has a port that is not a number from 1 to 65535")]],
        MapCase("refused: RASTREL_SERVER without a scheme", env={"RASTREL_SERVER": "h/t"}, stderr=refused(
            "the server address 'h/t' must start with http:// or https:// (from RASTREL_SERVER)"), **nothing),
        MapCase("refused: no server named, and the build's is the placeholder", env={"RASTREL_SERVER": None},
                stderr=refused("name your tile server: --server URL, or the environment variable RASTREL_SERVER (this "
                               "build knows no server; rastrel-map --help says more)"), **nothing),
        MapCase("refused: a tile folder filled from another server", before={"m_tiles/server.txt": b"http://o.example\n"},
                files={"m_tiles/server.txt": b"http://o.example\n"}, status=2, requests=lambda log: log == [],
                stderr=refused(f"the tile folder m_tiles holds tiles from http://o.example, not from {base}: name "
                               f"another folder with --tiles, or remove m_tiles (or only its record m_tiles/server.txt, "
                               f"if you know its tiles are those of {base}) to fill it from {base}")),
        MapCase("a record that names the scheme's own port: the same server", before={
            "m_tiles/server.txt": b"http://tiles.example.com:80\n"}, stderr=made(), files={
            **cache(), "m_tiles/server.txt": b"http://tiles.example.com:80\n", "m.map": MAP}),
        MapCase("--server with the scheme's own port: named without it", args=["--server", f"{base}:80", *KEYS],
                stderr=made()),
        MapCase("a run that kept no tile ties its tile folder to no server", args=["--tiles", "t", *KEYS], status=1,
                env={"http_proxy": "http://127.0.0.1:1"}, stderr=None, files={f"t/{f}": cases.DIR for f in LAYERS.values()
                                                                              for f in [f"tiles_{f}"]},
                then=MapCase("then the right server", args=["--server", "http://other.example.com", "--tiles", "t", *KEYS],
                             stderr=None, files={**cache(folder="t", server="http://other.example.com"), "m.map": MAP})),
        *[MapCase(f"refused: a tile folder {what}", args=["--tiles", folder, *KEYS], before=before, stderr=refused(
            f"the tile folder {folder} {message}"), **{**nothing, "files": {n: d for n, d in before.items()}})
          for what, folder, before, message in [
              ("that is a file", "f", {"f": b"x"}, "is a file, not a folder"),
              ("whose parent is missing", "no/t", {}, "cannot be made: the folder no/ that would hold it does not "
                                                     "exist")]],
        # The second map asks for the tiles the first lacked, and again for those the server lacks.
        MapCase("a tile folder shared by two maps", args=["--tiles", "shared", "--keys", "7eb1", "7eb1", "8041", "8049",
                                                          "w"], map="w", stderr=None,
                files={**cache(WEST, folder="shared"), "w.png": ANY, "w.map": ANY},
                then=MapCase("the second map of an overlapping block", args=["--tiles", "shared", *KEYS],
                             files={**cache(folder="shared"), "w.png": ANY, "w.map": ANY, "m.map": MAP},
                             stderr=made(DOWNLOAD.format(8, 8, 0, 5)), requests=lambda log: sorted(
                                 p for _, p, _ in log) == sorted(p for p in ALL_PATHS if p not in served(WEST)))),
        MapCase("two runs at once on one tile folder, maps of one name in two folders", twin=True, delay=0.02,
                args=["--tiles", "../shared", *KEYS], map="a/m", png=image(), stderr=None,
                files={**cache(folder="shared"), "a/m.map": MAP, "a/m.png": None, "b/m.map": MAP, "b/m.png": None}),
        MapCase("--refresh: a kept base the server no longer has stays drawn", args=["--refresh", *KEYS],
                before=cache(), served=served(NO_BASE), stderr=lines(
                    KEYS_LINE, DOWNLOAD.format(12, 12, 0, 5) + ", 1 gone from the server (the copies kept are used)",
                    JOINED[0], JOINED[1] + "; the server no longer has 1 of the tile files kept, whose copies are drawn")),
        MapCase("a proxy answering 502 to everything: stopped at once", args=["--connections", "8", *KEYS], served={},
                scripts={p: ["status:502"] * 5 for p in ALL_PATHS}, status=1, files={}, stderr=re.compile(re.escape(
                    lines(KEYS_LINE) + "rastrel-map: the download stopped: the server answered 502 to each of the first "
                    "8 requests and sent no tile (the last for ") + r"http://tiles\.example\.com/\S+\)\n"),
                requests=lambda log: len(log) < 2 * len(ALL_PATHS)),  # not every file tried again
        *[MapCase(f"https through a proxy that refuses the tunnel with {code}: stopped at once",
                  args=["--server", "https://tiles.example.com", *KEYS], env={"https_proxy": "PROXY"}, status=1,
                  files={}, scripts={"CONNECT": [f"status:{code}"] * 40},
                  needs={"posix": "Wine's WinHTTP takes a refused tunnel for a secure channel that failed (and stops)"},
                  stderr=re.compile(re.escape(lines(KEYS_LINE.replace("http:", "https:")) + "rastrel-map: the download "
                                              "stopped: the proxy ") + r"http://127\.0\.0\.1:\d+" + re.escape(
                      f" refused the tunnel with {code}{tail}") + r"https://tiles\.example\.com/\S+\)?\n"),
                  requests=lambda log, most=most: len(log) <= most)
          for code, tail, most in [(403, " for ", 2), (407, " for ", 2),
                                   (502, " to each of the first 8 requests and sent no tile (the last for ", 10)]],
        # Over HTTP/1.1 one request a connection, however many may be in flight over HTTP/2.
        MapCase("--connections 3 --streams 32 over HTTP/1.1: at most 3 connections at once", delay=0.05,
                args=["--connections", "3", "--streams", "32", *KEYS], stderr=made(DOWNLOAD.format(12, 12, 0, 5).replace(
                    "2 connections", "3 connections")), counted=lambda s: s.most_connections == 3),
        MapCase("--rate 20/s over HTTP/1.1: no second holds more", args=["--rate", "20/s", "--keys", "7eb1", "7ec9", "8041",
                                                                           "8059", "m"], served=served(BIG), stderr=None,
                files={**cache(BIG), "m.map": ANY, "m.png": ANY}, requests=lambda log: len(log) == 48 and
                most_in_a_second(t for t, _, _ in log) <= 20 and log[-1][0] - log[0][0] >= 47 / 20 - 0.1),
        MapCase("--server=URL, --connections=1", args=["--server=http://tiles.example.com", "--connections=1", *KEYS],
                stderr=made(DOWNLOAD.format(12, 12, 0, 5).replace("2 connections", "1 connection"))),
        # The longest name whose files can all be written: its calibration within 259 characters, its work files within
        # 255 bytes a part on Linux; its work files within 259 characters a path on Windows.
        *[MapCase(f"a map name of {n} characters{' refused' if refused else ''}", args=[*KEYS[:5], "n" * n],
                  map="n" * n, stderr=lines(f"the map name '{'n' * n}' is too long for the names of its files")
                  if refused else None, status=2 if refused else 0, files={} if refused else {
                      **cache(folder="n" * n + "_tiles"), "n" * n + ".map": ANY})
          for n, refused in ([(120, False), (121, True)] if WINDOWS else [(237, False), (238, True)])],
        MapCase("a 300 is not asked again", scripts={BAD_BASE: ["status:300"]}, status=1, files=cache(but=[("turist", NE)]),
                stderr=lines(KEYS_LINE, DOWNLOAD.format(11, 12, 0, 5).replace("ons,", "ons, 1 failed,"),
                             "no m.png made: 1 of the tile files failed after "
                             f"their tries (the last: the server answered 300 for {url('turist', NE)}); running again "
                             "fetches them (the complete tiles are kept in m_tiles)"),
                requests=lambda log: [p for _, p, _ in log].count(BAD_BASE) == 1),
        MapCase("textured tiles: the first row filtered from zeros above it", served=served(TEXTURED),
                files={**cache(TEXTURED), "m.map": MAP}, png=image(TEXTURED), stderr=made(
                    DOWNLOAD.format(12, 12, 0, 8)).replace("0 base and 5 overlay", "0 base and 8 overlay")),
        MapCase("the status line on a terminal", args=["--connections", "1", *KEYS], terminal=True, delay=0.15,
                needs={"posix": "a pseudo-terminal"}, stderr=re.compile(
                    r"(?s).*\rrastrel-map: download [1-9]\d* of 12 tile files, \d+ KB/s, 0:\d\d left; [01] of 2 rows "
                    r"joined\x1b\[K.*")),
        MapCase("--help", args=["--help"], files={}, stdout=lambda out: out.startswith(
            b"usage: rastrel-map [OPTIONS] WEST") and b"setx RASTREL_SERVER" in out),
        MapCase("--version", args=["--version", *KEYS], files={}, stdout=b"rastrel-map 1.0.0\n"),
        MapCase("--block to a full standard output", args=["--block", *BOX[:4]], stdout="full", files={}, status=1,
                stderr=lines("cannot write to standard output: I/O error 28"),
                needs={"posix": "POSIX errors", "dev_full": "no /dev/full here"}),
    ]


def block(columns, rows, layers):
    """A block of tiles from 7eb1 8041, east and north: each tile's layers as `layers(column, row)` gives them."""
    return {(0x7EB1 + 8 * c, 0x8041 + 8 * r): layers(c, r) for c in range(columns) for r in range(rows)}


def block_image(stock, columns, rows):
    """The block's RGB rows, north first."""
    tiles = {tile: tile_pixels(layers[0][1], *[o[1] for o in layers[1:] if o]) for tile, layers in stock.items()}
    return b"".join(tiles[(0x7EB1 + 8 * c, 0x8041 + 8 * r)][line * 768:(line + 1) * 768] for r in reversed(range(rows))
                    for line in range(256) for c in range(columns))


def ozf2_levels(data):
    """An OZF2 file's levels as (width, height, palette, RGB rows), read by the format's description: each tile
    a zlib stream of 64 rows of 64 indices, bottom row first, the tiles of the top row first."""
    assert data[:2] == b"xw" and data[6:14] == bytes.fromhex("4000010036040000") and data[54:58] == b"wwww"
    count, = struct.unpack_from("<H", data, 58)
    table, = struct.unpack_from("<I", data, len(data) - 4)
    levels = []
    for offset in struct.unpack_from(f"<{count}I", data, table):
        width, height, across, down = struct.unpack_from("<IIHH", data, offset)
        assert (across, down) == (-(-width // 64), -(-height // 64))
        palette = [data[offset + 12 + 4 * i:offset + 15 + 4 * i][::-1] for i in range(256)]
        ends = struct.unpack_from(f"<{across * down + 1}I", data, offset + 1036)
        rows = [[b""] * across for _ in range(64 * down)]
        for t in range(across * down):
            stream = data[ends[t]:ends[t + 1]]
            indices = zlib.decompress(stream)
            assert stream[:2] == b"\x78\xda" and len(indices) == 4096
            for r in range(64):
                rows[t // across * 64 + 63 - r][t % across] = b"".join(palette[i] for i in indices[64 * r:64 * r + 64])
        levels.append((width, height, palette, b"".join(b"".join(row)[:3 * width] for row in rows[:height])))
    return levels


def area_average(rgb, width, height, to_width, to_height):
    """The image made smaller, each pixel the average of those it covers, each by the share covered."""
    def shares(size, to):
        return [[(i, min(j + 1, (i + 1) * to / size) - max(j, i * to / size)) for i in range(size)
                 if i * to / size < j + 1 and (i + 1) * to / size > j] for j in range(to)]
    across, down = shares(width, to_width), shares(height, to_height)
    rows = [[sum(rgb[3 * (y * width + x) + c] * f for x, f in across[j]) for j in range(to_width) for c in range(3)]
            for y in range(height)]
    return bytes(min(255, math.floor(sum(rows[y][i] * f for y, f in down[j]) + 0.5)) for j in range(to_height)
                 for i in range(3 * to_width))


def psnr(got, want):
    """Each channel's peak signal-to-noise ratio in dB (99 where equal)."""
    errors = [sum((got[i] - want[i]) ** 2 for i in range(c, len(want), 3)) / (len(want) / 3) for c in range(3)]
    return [99 if e == 0 else 10 * math.log10(255 * 255 / e) for e in errors]


def gdal_pixels(folder, *options):
    """The map's pixels as GDAL reads them through NAME.map, its palette's colours expanded."""
    out = Path(folder, "gdal.ppm")
    subprocess.run(["gdal_translate", "-q", "-of", "PNM", "-expand", "rgb", *options, str(Path(folder, "m.map")),
                    str(out)], check=True)
    data = out.read_bytes()
    out.unlink()
    Path(folder, "gdal.ppm.aux.xml").unlink(missing_ok=True)
    return data[data.index(b"255\n") + 4:]


def ozf2_check(rgb, width, height, zooms, exact, digest=None):
    """A check of m.ozf2: GDAL opens it through m.map with the levels of `zooms` as overviews and reads level 0 as
    `rgb` (equal if `exact`, else within 38 dB on each channel); each smaller level is the area average of `rgb`
    (within 1 where its colours fit its palette, else 38 dB), its pixels' colours all in its palette."""
    def check(data, folder):
        info = json.loads(subprocess.run(["gdalinfo", "-json", str(Path(folder, "m.map"))], check=True,
                                         stdout=subprocess.PIPE).stdout)
        levels = ozf2_levels(data)
        problems = [] if [info["size"], *[o["size"] for o in info["bands"][0]["overviews"]]] == [
            [w, h] for w, h in zooms] == [[w, h] for w, h, _, _ in levels] else [f"levels {[l[:2] for l in levels]}"]
        full = gdal_pixels(folder)
        if full != levels[0][3] or (full != rgb if exact else min(psnr(full, rgb)) < 38):
            problems.append(f"level 0: {psnr(full, rgb)} dB")
        for n, (w, h, palette, pixels) in enumerate(levels[1:], 1):
            average = area_average(rgb, width, height, w, h)
            fits = len({average[i:i + 3] for i in range(0, len(average), 3)}) <= 256
            near = max(abs(a - b) for a, b in zip(pixels, average)) <= 1 if fits else min(psnr(pixels, average)) >= 38
            if not near or not {pixels[i:i + 3] for i in range(0, len(pixels), 3)} <= set(palette):
                problems.append(f"level {n}: {psnr(pixels, average)} dB")
        if digest and hashlib.sha256(repr(levels).encode()).hexdigest()[:16] != digest:
            problems.append(f"digest {hashlib.sha256(repr(levels).encode()).hexdigest()[:16]}")
        for problem in problems:
            print(f"    m.ozf2: {problem}")
        return not problems
    check.needs_folder = True
    return check


def ozf2_cases():
    solid = block(2, 2, lambda c, r: (SOLID[c + 2 * r], None, None))
    # A map's kind of image: flat fields of 40 colours, and antialiased lines over them: thousands of colours.
    fields = [(40 + 5 * i, 200 - 3 * i, 90 + (i * 37) % 160) for i in range(40)]
    field = lambda x, y: fields[(x // 40 + 3 * (y // 48)) % 40]
    line = lambda x, y: (200, 30, 30, max(0, 255 - 12 * abs((x - 2 * y) % 37 - 18)))
    maplike = (cases.png(2, 8, cases.image(field)), field), (cases.png(6, 8, cases.image(line)), line), None
    wide = block(3, 2, lambda c, r: maplike)
    tall = block(2, 3, lambda c, r: (SOLID[(c + r) % 4], None, None))
    one = block(1, 1, lambda c, r: (cases.BASES["1_6"], None, None))

    def case(name, stock, columns, rows, zooms, colours, exact, zoom_text, **given):
        east, north = 0x7EB1 + 8 * columns, 0x8041 + 8 * rows
        calibration = cases.map_file("m", 451424, north * 128 + 1300000, 256 * columns - 1, 256 * rows - 1,
                                     east * 128 - 3700000, 0x8041 * 128 + 1300000).replace(b"m.png", b"m.ozf2")
        keys = ["--keys", "7eb1", f"{east - 8:x}", "8041", f"{north - 8:x}", "m"]
        missing = sum(1 for layers in stock.values() for layer in layers[1:] if layer is None)
        lines_of_run = lines(f"keys {' '.join(keys[1:5])} ({columns} x {rows} tiles) from http://tiles.example.com",
                             DOWNLOAD.format(3 * columns * rows, 3 * columns * rows, 0, missing),
                             f"join m.ozf2, {256 * columns} x {256 * rows} pixels in {colours}, zooms {zoom_text} %, "
                             f"and m.map", *given.pop("made", []), f"m.ozf2 and m.map made from {columns * rows} tiles; 0 base and {missing} "
                             "overlay tiles were missing on the server (white where a base is missing), running "
                             "again fetches them")
        return MapCase(name, args=["--ozf2", *given.pop("options", []), *keys], served=served(stock), stderr=lines_of_run,
                       needs={"gdal": "GDAL's gdalinfo is not installed", **given.pop("needs", {})}, files={**cache(stock), "m.map": calibration,
                       "m.ozf2": ozf2_check(block_image(stock, columns, rows), 256 * columns, 256 * rows, zooms, exact,
                                            given.pop("digest", None)), **given.pop("more", {})}, **given)
    tall_solid = block(4, 40, lambda c, r: (SOLID[(c + r) % 4], None, None))
    keys = ["--ozf2", "--keys", "7eb1", "7ec9", "8041", "8179", "m"]
    tall_made = {**cache(tall_solid), "m.map": lambda data: b"\r\nm.ozf2\r\n" in data,
                 "m.ozf2": lambda data: data[18:26] == struct.pack("<II", 1024, 10240)}
    def left(first, then, names):
        """A run with `first` options, then one with `then`: its last line names the files left from the first."""
        tail = re.compile(r"(?s).*made from 4 tiles;[^\n]*" + re.escape(
            "; left from earlier runs, not made from this m.map: " + names) + r"\n")
        made = lambda options: {"m.ozf2" if "--ozf2" in options else "m.png": ANY,
                                **({"m.tif": ANY} if "--geotiff" in options else {})}
        needs = {"gdal": "GDAL's gdalinfo is not installed", "posix": "no GDAL for Windows here"} if any(
            "--geotiff" in o for o in (first, then)) else {}
        return MapCase(f"{' '.join(first) or 'plain'}, then {' '.join(then) or 'plain'}: {names} named as left",
                       args=[*first, *KEYS], stderr=None, files={**cache(), "m.map": ANY, **made(first)}, needs=needs,
                       then=MapCase("then", args=[*then, *KEYS], stderr=tail,
                                    files={**cache(), "m.map": ANY, **made(first), **made(then)}))
    return [
        left([], ["--ozf2"], "m.png"),
        left(["--ozf2"], [], "m.ozf2"),
        left(["--geotiff"], ["--ozf2"], "m.png and m.tif"),
        left(["--ozf2", "--geotiff"], [], "m.ozf2 and m.tif"),
        left(["--ozf2", "--geotiff"], ["--geotiff"], "m.ozf2"),
        MapCase("--ozf2: a full disk under the OZF2 image", args=["--ozf2", *KEYS], before={
            **cache(), "m_tiles/m.ozf2": cases.FULL}, status=1, files=cache(), needs={
            "posix": "POSIX errors", "dev_full": "no /dev/full to link to here"}, stderr=lines(
            KEYS_LINE, DOWNLOAD.format(5, 5, 0, 5), "cannot write m_tiles/m.ozf2: I/O error 28")),
        MapCase("--ozf2: a folder where the image must go", args=["--ozf2", *KEYS], before={"m.ozf2": cases.DIR},
                status=1, files={**cache(), "m.ozf2": cases.DIR}, stderr=lines(
                    KEYS_LINE, DOWNLOAD.format(12, 12, 0, 5), "cannot move m.ozf2 into place: File access denied")),
        MapCase("--ozf2: interrupted while the OZF2 image is written, then again", args=keys, served=served(tall_solid),
                interrupt=signal.SIGINT, interrupt_at="m_tiles/m.ozf2", status=128 + signal.SIGINT,
                files=cache(tall_solid), stderr=lines("keys 7eb1 7ec9 8041 8179 (4 x 40 tiles) from "
                                                      "http://tiles.example.com", DOWNLOAD.format(480, 480, 0, 320),
                                                      "interrupted; the complete tiles are kept in m_tiles, run "
                                                      "again to go on"),
                then=MapCase("again", args=keys, served=served(tall_solid), stderr=None, files=tall_made)),
        MapCase("--ozf2: the status line on a terminal while the OZF2 image is written", args=keys, terminal=True,
                served=served(tall_solid), needs={"posix": "a pseudo-terminal"}, files=tall_made, stderr=re.compile(
                    r"(?s).*\rrastrel-map: write m\.ozf2, \d+ of 14636 rows of its 5 zoom levels\x1b\[K.*")),
        case("--ozf2: four colours", solid, 2, 2, [(512, 512), (300, 300)], "4 colours", True,
             zoom_text="100 and 58.59"),
        case("--ozf2: 256 colours, one tile: the map again as its overview", one, 1, 1, [(256, 256)] * 2,
             "256 colours", True, zoom_text="100 and 100"),
        case("--ozf2: a map's image of thousands of colours, 3 x 2 tiles", wide, 3, 2, [(768, 512), (300, 200)],
             "256 colours chosen from more", False, zoom_text="100 and 39.06", digest="0b5e79d3efaf574d"),
        case("--ozf2 --geotiff: 2 x 3 tiles, the GeoTIFF read through m.map", tall, 2, 3, [(512, 768), (200, 300)],
             "4 colours", True, zoom_text="100 and 39.06", options=["--geotiff"], made=["made m.tif"],
             needs={"posix": "no GDAL for Windows here"},
             more={"m.tif": lambda data: data[:4] == b"II*\0"}),
    ]


def https_cases():
    port = TLS_SERVER.server_port if TLS_SERVER else 1
    trusted, no_tls = {"CURL_CA_BUNDLE": AUTHORITY}, "no openssl here to make a test authority"
    keys_from = lambda server: KEYS_LINE.replace(f"from http://{HOST}", f"from {server}")
    return [
        # Under Wine the authority is trusted from the Wine prefix's store instead.
        MapCase("https, trusting the test authority (named in CURL_CA_BUNDLE)", tls=True, env=trusted,
                args=["--server", f"https://localhost:{port}", *KEYS],
                files={**cache(server=f"https://localhost:{port}"), "m.map": MAP},
                stderr=made().replace(KEYS_LINE, keys_from(f"https://localhost:{port}")), needs={"tls": no_tls}),
        MapCase("https, a certificate for another name: one line, no retries", tls=True, env=trusted,
                args=["--server", f"https://127.0.0.1:{port}", *KEYS], status=1, files={},
                requests=lambda log: log == [], needs={"tls": no_tls}, stderr=re.compile(re.escape(lines(
                    keys_from(f"https://127.0.0.1:{port}")) + "rastrel-map: the download stopped: no trusted connection "
                    f"to https://127.0.0.1:{port}: ") + r"[^\n]+ \(authorities trusted: " + (
                    r"those of Windows' certificate store" if WINDOWS else re.escape(f"those of CURL_CA_BUNDLE {AUTHORITY}"))
                    + r"\)\n")),
    ]


def most_in_a_second(times, window=0.95):
    """The most of `times` within any `window` seconds (a little under one: the loopback's jitter)."""
    times = sorted(times)
    return max((sum(1 for u in times[i:] if u < t + window) for i, t in enumerate(times)), default=0)


def http2_cases():
    port = H2_SERVER.server_port if H2_SERVER else 1
    base, needs = f"https://localhost:{port}", {"h2": "no HTTP/2 test server here (python3-h2, openssl; not under Wine)"}
    big = BIG
    big_keys = ["--keys", "7eb1", "7ec9", "8041", "8059", "m"]

    def case(name, stock=STOCK, args=(), connections=2, stderr=True, **given):
        keys = big_keys if stock is big else KEYS
        files = {**cache(stock, server=base), "m.map": MAP} if stock is STOCK else {
            **cache(stock, server=base), "m.map": ANY, "m.png": ANY}
        png = image() if stock is STOCK else None
        line = None
        if stderr:
            count, overlays = (12, 5) if stock is STOCK else (48, 32)
            line = re.compile(re.escape(lines(KEYS_LINE.replace(f"http://{HOST}", base)) + "rastrel-map: download "
                                        f"{count} of {count} tile files over HTTP/2, up to ") + r"\d+" + re.escape(
                f" requests at once on at most {connections} connection{'s' * (connections > 1)}, 0 base and "
                f"{overlays} overlay tiles missing") + r"(, \d+ tries repeated)?\n.*", re.S)
        return MapCase(f"HTTP/2: {name}", args=["--server", base, *args, *keys], served=served(stock), files=files,
                       png=png, stderr=line, env={"CURL_CA_BUNDLE": AUTHORITY}, needs=needs, **given)
    return [
        case("8 requests at once on one connection, the map as over HTTP/1.1", args=["--streams", "8"], delay=0.05,
             h2={}, counted=lambda s: s.most_connections == 1 and 1 < s.most_on_one <= 8 and s.most_streams <= 8),
        case("never more streams than the server allows", args=["--streams", "32"], delay=0.05, h2=dict(max_streams=3),
             counted=lambda s: s.most_on_one == 3),
        case("one connection allowed", args=["--connections", "1", "--streams", "8"], delay=0.05, h2={},
             connections=1, counted=lambda s: s.connections == 1),
        case("--rate 20/s: no second holds more", stock=big, args=["--rate", "20/s"], h2={}, stderr=False,
             requests=lambda log: len(log) == 48 and most_in_a_second(t for t, _, _ in log) <= 20 and
             log[-1][0] - log[0][0] >= 47 / 20 - 0.1),
        case("a server of 20 requests a second answering 429 beyond: slowed, no file failed", stock=big, stderr=False,
             h2=dict(per_second=20), counted=lambda s: s.refused and sum(t > s.refused[0] + 0.1 for t in s.refused) <= 3
             and not any(s.refused[0] + 0.2 < t < s.refused[0] + 0.9 for t, _, _ in s.requests)),
        case("a stream reset, tried again", args=["--streams", "8"], h2={}, scripts={BAD_BASE: ["reset"]},
             requests=lambda log: [p for _, p, _ in log].count(BAD_BASE) == 2),
        case("GOAWAY after 5 streams of each connection: the run goes on", args=["--streams", "8"], delay=0.02,
             h2=dict(goaway_after=5), counted=lambda s: s.connections >= 3 and s.most_connections <= 2),
    ]


def run(case, program, launcher, server, work, problems):
    for name, data in case.before.items():
        made = Path(work, name)
        made.parent.mkdir(parents=True, exist_ok=True)
        if data == cases.DIR:
            made.mkdir()
        elif isinstance(data, tuple):
            made.symlink_to(data[1])
        else:
            made.write_bytes(data)
            os.utime(made, (LAST_MODIFIED, LAST_MODIFIED))
    server = H2_SERVER if case.h2 is not None else TLS_SERVER if case.tls else server
    if case.h2 is not None:
        server.reset(case.served, case.scripts, case.delay, **case.h2)
    else:
        server.reset(case.served, case.scripts, case.delay, modified=case.modified)
    # Wine's loader needs the shell's PATH, and a Windows PATH holds no GDAL anyway.
    env = {**os.environ, "http_proxy": server.proxy, "RASTREL_SERVER": f"http://{HOST}",
           **{name: server.proxy if value == "PROXY" else value for name, value in case.env.items()
              if not (launcher and name == "PATH")}}
    env = {name: value for name, value in env.items() if value is not None}
    go = Path(work).with_suffix(".ctrl-c")
    helper = [CONSOLE_CTRL, str(go)] if launcher and case.interrupt else []
    command = launcher + helper + [program, *case.args]
    terminal = os.openpty() if case.terminal else None
    full = open("/dev/full", "wb") if case.stdout == "full" else None
    # Twins run side by side in the folders a and b.
    folders = [Path(work, "a"), Path(work, "b")] if case.twin else [Path(work)]
    for folder in folders:
        folder.mkdir(exist_ok=True)
    process = subprocess.Popen(command, cwd=folders[0], env=env, stdout=full or subprocess.PIPE,
                               stderr=terminal[1] if terminal else subprocess.PIPE)
    if case.twin:
        twin = subprocess.Popen(command, cwd=folders[1], env=env, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    if case.interrupt:
        if case.interrupt_at:
            for _ in range(60000):
                if Path(folders[0], case.interrupt_at).exists():
                    break
                time.sleep(0.001)
        else:
            server.stalled.wait(30)
            time.sleep(0.3)
        if helper:
            go.touch()
        else:
            process.send_signal(case.interrupt)
        sent = time.monotonic()
    stdout, stderr = process.communicate(timeout=120)
    if terminal:
        os.close(terminal[1])
        stderr = read_terminal(terminal[0])
    if full:
        full.close()
        stdout = "full"
    if case.twin and (twin.communicate(timeout=120)[0] or twin.returncode):
        problems.append(f"{case.name}: the twin run ended with {twin.returncode}")
    server.release.set()
    if helper and process.returncode == 77:
        raise Skipped(stdout.decode().removeprefix("SKIP: ").strip())
    # The server stalls for 30 s: a stop that waits for it is too late.
    if case.interrupt and time.monotonic() - sent > 10:
        problems.append(f"{case.name}: stopped {time.monotonic() - sent:.1f} s after the interruption")
    got = {"status": process.returncode, "stdout": stdout, **{
        str(p.relative_to(work)): ("link", os.readlink(p)) if p.is_symlink() else p.read_bytes() if p.is_file() else
        cases.DIR for p in Path(work).rglob("*") if p.is_symlink() or p.is_file() or not any(p.iterdir())}}
    want = {"status": case.status, "stdout": case.stdout, **case.files}
    if case.stderr is not None:
        got["stderr"], want["stderr"] = stderr if terminal else stderr.decode(), case.stderr
    for png in dict.fromkeys([case.map + ".png", "a/m.png", "b/m.png"]):
        if case.png is not None and png in got:
            got[png], want[png] = decode_png(got[png]), ((512, 512, *case.depth_and_colours), case.png)
    for name in sorted(set(got) | set(want)):
        g, w = got.get(name), want.get(name)
        if not (w.fullmatch(g) if isinstance(w, re.Pattern) and g is not None else
                (w(g, folders[0]) if getattr(w, "needs_folder", False) else w(g)) if callable(w) and g is not None
                else g == w):
            problems.append(f"{case.name}: {name}: got {g!r:.300}, want {w!r:.300}")
    if case.requests and not case.requests(server.requests):
        problems.append(f"{case.name}: requests: {[(p, h.get('User-Agent')) for _, p, h in server.requests]!r:.600}")
    if case.counted and not case.counted(server):
        counts = {k: v for k, v in vars(server).items() if isinstance(v, (int, float)) and not isinstance(v, bool)}
        problems.append(f"{case.name}: the server counted {counts}, refused at {server.refused!r:.300}, asked at "
                        f"{[round(t, 3) for t, _, _ in server.requests]!r:.900}")
    if case.then:
        run(case.then, program, launcher, server, work, problems)


class Skipped(Exception):
    pass


def read_terminal(fd):
    """All the pseudo-terminal's bytes until its other end is closed."""
    data = b""
    while True:
        try:
            chunk = os.read(fd, 65536)
        except OSError:  # EIO: no writer left
            chunk = b""
        if not chunk:
            os.close(fd)
            return data.decode()
        data += chunk


def test_authority(folder):
    """A test authority and a certificate it signs for localhost alone (openssl): their files, or None."""
    if not shutil.which("openssl"):
        return None
    key = ["-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes"]
    steps = [["req", "-x509", *key, "-keyout", "ca.key", "-out", "ca.pem", "-days", "2", "-subj", "/CN=rastrel test"],
             ["req", *key, "-keyout", "server.key", "-out", "server.csr", "-subj", "/CN=localhost"],
             ["x509", "-req", "-in", "server.csr", "-CA", "ca.pem", "-CAkey", "ca.key", "-CAcreateserial", "-days", "2",
              "-out", "server.pem", "-extfile", "names.cnf"]]
    Path(folder, "names.cnf").write_text("subjectAltName=DNS:localhost\n")
    for step in steps:
        subprocess.run(["openssl", *step], cwd=folder, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    return [str(Path(folder, name)) for name in ("ca.pem", "server.pem", "server.key")]


def trust_in_wine(launcher, authority):
    """The authority added to the Wine prefix's store of trusted roots, where WinHTTP looks (the prefix is the
    build's own); the registry key it went to."""
    der = ssl.PEM_cert_to_DER_cert(Path(authority).read_text())
    roots = "HKLM\\Software\\Microsoft\\SystemCertificates\\Root\\Certificates"
    key = f"{roots}\\{hashlib.sha1(der).hexdigest().upper()}"
    blob = struct.pack("<III", 32, 1, len(der)) + der  # the certificate's property: its DER bytes
    subprocess.run(launcher + ["reg", "add", key, "/v", "Blob", "/t", "REG_BINARY", "/d", blob.hex(), "/f"],
                   stdout=subprocess.DEVNULL, check=True)
    return key


def main():
    global HOST, CONSOLE_CTRL, WINDOWS
    arguments = sys.argv[1:]
    if arguments[0].startswith("--console-ctrl="):
        CONSOLE_CTRL = os.path.abspath(arguments.pop(0).split("=", 1)[1])
    program, host, *launcher = arguments
    HOST, WINDOWS = host.lower(), bool(launcher)
    if launcher:
        # Where Wine cannot run, the launcher says why and exits with 77 (skipped).
        probe = subprocess.run(launcher + ["cmd", "/c", "exit"], stdout=subprocess.PIPE, timeout=120)
        if probe.returncode:
            print(probe.stdout.decode(), end="")
            return probe.returncode
    global TLS_SERVER, AUTHORITY, H2_SERVER
    server = TileServer()
    authority_folder = tempfile.TemporaryDirectory(prefix="rastrel-ca-")
    made = test_authority(authority_folder.name)
    if made:
        AUTHORITY, certificate = made[0], made[1:]
        TLS_SERVER = TileServer(certificate)
        if h2_server.h2 and not launcher:
            H2_SERVER = h2_server.H2TileServer(certificate)
        if launcher:
            trust = trust_in_wine(launcher, AUTHORITY)
    passed = failed = 0
    for case in all_cases():
        offered = {"windows"} if launcher else {"posix"} | ({"dev_full"} if os.path.exists("/dev/full") else set())
        offered |= {"tls"} if made else set()
        offered |= {"h2"} if H2_SERVER else set()
        offered |= {"gdal"} if shutil.which("gdalinfo") else set()
        unmet = [why for need, why in case.needs.items() if need not in offered]
        if unmet:
            print(f"SKIP {case.name}: {unmet[0]}")
            continue
        problems = []
        with tempfile.TemporaryDirectory(prefix="rastrel-map-") as work:
            try:
                run(case, os.path.abspath(program), launcher, server, work, problems)
            except Skipped as reason:
                print(f"SKIP {case.name}: {reason}")
                continue
        print(f"{'FAIL' if problems else 'ok  '} {case.name}" + "".join(f"\n    {p}" for p in problems))
        failed += bool(problems)
        passed += not problems
    if made and launcher:
        subprocess.run(launcher + ["reg", "delete", trust, "/f"], stdout=subprocess.DEVNULL, check=True)
    print(f"{passed} passed, {failed} failed")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
