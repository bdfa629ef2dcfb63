#!/usr/bin/env python3
"""Checks what a release ships (package.py BUILD_DIR SOURCE_DIR PRESET [OBJDUMP]): the same packages from a source
tarball of the commit built by someone else; Windows: the DLLs and the ZIP's files; Linux: static programs, the
packages' layout, lintian, the manual pages, and the README's recipe, conversions and blocks with the .deb.
package.py --merge-example BUILD_DIR LAUNCHER...: the ZIP's merge_fn.cmd under Wine."""
import functools
import glob
import gzip
import http.server
import io
import json
import math
import os
import re
import shutil
import struct
import subprocess
import sys
import tarfile
import tempfile
import threading
import zipfile
from pathlib import Path

sys.path.insert(0, str(Path(__file__).parent / "e2e"))
import cases  # noqa: E402  (PNG tiles and the merged tile images they give)

PROGRAMS = ["rastrel-merge", "rastrel1", "rastrel2"]
SYSTEM_DLLS = {"kernel32.dll", "user32.dll", "msvcrt.dll", "advapi32.dll", "ntdll.dll", "winhttp.dll"}
EXAMPLES = ["examples/merge_fn.cmd", "examples/merge_fn.sh"]
LINUX_LAYOUT = [*[f"bin/{p}" for p in ["rastrel-map", *PROGRAMS]], *[f"share/doc/rastrel/{f}" for f in [
    "LICENSE", "README.md", "changelog.gz", "copyright", *EXAMPLES]], "share/lintian/overrides/rastrel",
    *[f"share/man/man1/{p}.1.gz" for p in ["rastrel-map", *PROGRAMS]]]
X_KEYS, Y_KEYS = [0x7EB1, 0x7EB9, 0x7EC1], [0x8041, 0x8049]  # the README's block
# Overlay tiles: black, transparent in the PNG, but for a 32 x 16 mark at row 16; the second lies over the first.
RED, BLUE, WHITE = (255, 0, 0), (0, 0, 255), (255, 255, 255)
MARKS = {"tcyklo": (16, RED), "ttur": (32, BLUE)}  # layer: the mark's first column, its colour
LAYERS = {"turist": "map", "tcyklo": "cyk", "ttur": "tur"}  # the server's layer folders, the tiles' folders
OVERLAYS = {layer: f"ppmmake rgb:{r:x}/{g:x}/{b:x} 32 16 | pnmpad -black -left {left} -right {224 - left} -top 16 "
            "-bottom 224" for layer, (left, (r, g, b)) in MARKS.items()}
# What the server first lacks: a base tile, and an overlay of each kind; the recipe runs again once they are there.
MISSING = {("turist", 0x7EB9, 0x8049), ("tcyklo", 0x7EB1, 0x8041), ("ttur", 0x7EC1, 0x8049)}
problems = []


def check(what, got, want):
    if got != want:
        problems.append(f"{what}: got {got!r:.300}, want {want!r:.300}")


def run(argv, **options):
    return subprocess.run(argv, check=True, stdout=subprocess.PIPE, text=True, **options).stdout


def packages(build_dir, **options):
    run(["cmake", "--build", build_dir, "--target", "package"], **options)
    return {Path(p).name: p for p in glob.glob(os.path.join(build_dir, "rastrel[-_]*.*"))
            if p.endswith((".zip", ".tar.gz", ".deb"))}


def check_bad_date(build_dir):
    result = subprocess.run(["cmake", "--build", build_dir, "--target", "package"], stdout=subprocess.PIPE, text=True,
                            stderr=subprocess.STDOUT, env=dict(os.environ, SOURCE_DATE_EPOCH="yesterday"))
    check("package target with SOURCE_DATE_EPOCH=yesterday", re.findall(r"^package.py: .*", result.stdout, re.M),
          ["package.py: cannot date the packages: SOURCE_DATE_EPOCH='yesterday' is not a whole number of seconds"])


def unpack_sources(source_dir, into):
    """The sources as a source tarball holds them: `git archive` of the commit, with the work tree's changes."""
    git = ["git", "-c", "safe.directory=*", "-C", source_dir]
    commit = run(git + ["stash", "create"]).strip() or "HEAD"
    archive = subprocess.run(git + ["archive", commit], check=True, stdout=subprocess.PIPE).stdout
    tarfile.open(fileobj=io.BytesIO(archive)).extractall(into)


def check_rebuild(made, source_dir, preset, sources):
    """The packages again, from a source tarball built by someone else: another folder, time zone, locale and umask."""
    other = dict(cwd=sources, preexec_fn=lambda: os.umask(0o077),
                 env=dict(os.environ, TZ="Asia/Tokyo", LC_ALL="C.UTF-8", LANG="C.UTF-8"))
    unpack_sources(source_dir, sources)
    run(["cmake", "--preset", preset, "-DBUILD_TESTING=OFF"], **other)
    again = packages(os.path.join(sources, "build", preset), **other)
    check("packages made again, differing", sorted(name for name in made.keys() | again.keys() if name not in again
          or name not in made or Path(again[name]).read_bytes() != Path(made[name]).read_bytes()), [])


def check_windows(build_dir, made, objdump):
    for program in ["rastrel-map", *PROGRAMS]:
        dlls = {d.lower() for d in re.findall(r"DLL Name: (\S+)", run([objdump, "-p", f"{build_dir}/{program}.exe"]))}
        check(f"{program}.exe imports only system DLLs", bool(dlls) and dlls <= SYSTEM_DLLS, True)
    (name, path), = made.items()
    archive, top = zipfile.ZipFile(path), name[:-4]
    pages = [f"{p}.txt" for p in ["rastrel-map", *PROGRAMS]]
    check("ZIP", sorted(archive.namelist()), sorted(f"{top}/{f}" for f in [
        "LICENSE", "README.md", *EXAMPLES, *pages, *[f"{p}.exe" for p in ["rastrel-map", *PROGRAMS]]]))
    # The manual pages as Notepad shows them: plain ASCII lines ending in CRLF, every placeholder filled in.
    for page in pages:
        text = archive.read(f"{top}/{page}")
        check(f"{page}: its title, plain CRLF lines", (text.split(b"  ")[0], b"\n" in text.replace(b"\r\n", b""),
              re.search(rb"[^\t\r\n -~]|@[A-Z_]+@", text)), (page[:-4].upper().encode() + b"(1)", False, None))


def base_colour(x, y):
    return (x >> 3) & 0xFF, (y >> 3) & 0xFF, 0x80


@functools.cache
def png(layer, x, y):
    drawing = OVERLAYS.get(layer, "ppmmake rgb:{:02x}/{:02x}/{:02x} 256 256".format(*base_colour(x, y)))
    return subprocess.run(drawing + " | pnmtopng -transparent black", shell=True, check=True, stdout=subprocess.PIPE).stdout


TILES = [(layer, x, y) for layer in LAYERS for x in X_KEYS for y in Y_KEYS]


def stock_server(top, missing):
    """The server's tiles: every tile of the block but those `missing`."""
    for layer, x, y in TILES:
        Path(folder := f"{top}/server/http:/tiles.example.com/{layer}").mkdir(parents=True, exist_ok=True)
        tile = Path(folder, f"13_{x:x}000_{y:x}000")
        tile.unlink(missing_ok=True) if (layer, x, y) in missing else tile.write_bytes(png(layer, x, y))


class Tiles(http.server.SimpleHTTPRequestHandler):
    protocol_version = "HTTP/1.1"  # connections kept alive

    def log_message(self, *args):
        pass


def serve_tiles(root):
    """A tile server reached as a proxy: http://HOST/LAYER/13_X_Y is the file root/http:/HOST/LAYER/13_X_Y, or 404."""
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), functools.partial(Tiles, directory=root))
    threading.Thread(target=server.serve_forever, daemon=True).start()
    return f"http://127.0.0.1:{server.server_port}"


def expected_colour(x, y, column, row, missing):
    """White where the base is missing; each overlay's mark where that overlay is there, the second on top."""
    return ([WHITE if ("turist", x, y) in missing else base_colour(x, y)] + [mark for layer, (left, mark) in MARKS.items()
            if (layer, x, y) not in missing and left <= column < left + 32 and 16 <= row < 32])[-1]


def check_colours(work, missing, attempt):
    """Each tile's colours where GDAL finds them through the .map: 4 m a pixel from the tile's west and north edges."""
    samples = [(x, y, c, r) for x in X_KEYS for y in Y_KEYS for c, r in ((24, 24), (40, 24), (56, 24), (128, 128))]
    found = re.findall(r"Location: \((\d+)P,(\d+)L\)", subprocess.run(
        ["gdallocationinfo", "-geoloc", "mymap.map"], cwd=work, text=True, stdout=subprocess.PIPE, input="".join(
            f"{x * 128 - 3700000 + 4 * c + 2} {(y + 8) * 128 + 1300000 - 4 * r - 2}\n" for x, y, c, r in samples)).stdout)
    image = [int(v) for v in subprocess.run(["pngtopam", "-plain", "mymap.png"], cwd=work,
                                            stdout=subprocess.PIPE).stdout.split()[1:]]  # width, height, 255, r g b...
    colours = [tuple(image[3 + 3 * (int(line) * image[0] + int(pixel)):][:3]) for pixel, line in found]
    check(f"{attempt}: colours of tiles x_y at tile pixels (column, row)", [f"{x:x}_{y:x} ({c}, {r}) {got}" for (
        x, y, c, r), got in zip(samples, colours)], [f"{x:x}_{y:x} ({c}, {r}) {expected_colour(x, y, c, r, missing)}"
                                                     for x, y, c, r in samples])


def readme_block(readme, heading, language):
    return re.search(rf"\n#+ {heading}\n.*?```{language}\n(.*?)```", readme, re.S)[1]


def run_block(block, work, env, top):
    result = subprocess.run(["sh", "-c", block.replace("/usr/share/", f"{top}/root/usr/share/")], cwd=work, env=env,
                            stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
    return print(result.stdout) or result


def check_recipe(readme, env, top):
    """The README's recipe, first with tiles missing on the server, then again in the same folder with all of them."""
    recipe = readme_block(readme, "Recipe on Linux", "sh")
    os.mkdir(f"{top}/down")  # a server nobody answers at: the block stops by itself, and the shell goes on
    result = run_block(recipe + 'echo "the shell goes on after status $?"\n', f"{top}/down",
                       dict(env, http_proxy="http://127.0.0.1:1"), top)
    check("server down: the map; the shell after the block, and the block's status",
          (os.path.exists(f"{top}/down/mymap.png"), bool(re.search(r"goes on after status [1-9]\d*\n$", result.stdout))),
          (False, True))
    for attempt, missing in ("first run", MISSING), ("second run", set()):
        stock_server(top, missing)
        result = run_block(recipe, f"{top}/work", env, top)
        check(f"{attempt}: exit status, gdalinfo's origin", (result.returncode, "Origin = (451424.000000000000000,"
              "5504672.000000000000000)" in result.stdout), (0, True))
        check(f"{attempt}: lines naming a missing base tile", re.findall(r"tiles_map/13_\w+ is missing", result.stdout),
              ["tiles_map/13_7eb9000_8049000 is missing"] if missing else [])
        check_colours(f"{top}/work", missing, attempt)
    check("second copies of files fetched again", [p.name for p in Path(top, "work").rglob("*.1")], [])
    check("blocks in conv.cmd", Path(top, "work", "conv.cmd").read_text().count("pnmcat -tb"), 1)


def check_map_folder(work, tiles, attempt):
    """What a finished run leaves: the map and the complete tiles, each as the server has it, and nothing else."""
    check(f"{attempt}: files left", sorted(str(p.relative_to(work)) for p in Path(work).rglob("*") if p.is_file()),
          sorted(["mymap.map", "mymap.png", "mymap_tiles/server.txt"] + [
              f"mymap_tiles/tiles_{LAYERS[layer]}/13_{x:x}000_{y:x}000" for layer, x, y in tiles]))
    check(f"{attempt}: tiles not as served", not_as_served(work), [])


def not_as_served(work):
    return [p.name for p in Path(work, "mymap_tiles").rglob("13_*") if p.read_bytes() != png(
        next(k for k, v in LAYERS.items() if v == p.parent.name[6:]), int(p.name[3:-11], 16), int(p.name[-7:-3], 16))]


def check_rastrel_map(readme, env, top):
    """rastrel-map from the .deb: the README's box with tiles missing and again with all, then again with the
    conversions."""
    block = readme_block(readme, "The map in one command", "sh")
    check("the block of the README's box", run(["rastrel-map", "--block", *block.split()[1:5]], env=env),
          "7eb1 7ec1 8041 8049\n")
    os.mkdir(work := f"{top}/map")
    for attempt, missing in ("rastrel-map", MISSING), ("rastrel-map again", set()):
        stock_server(top, missing)
        result = run_block(block, work, env, top)
        check(f"{attempt}: status, last line", (result.returncode, result.stdout.splitlines()[-1]), (0, (
            "rastrel-map: mymap.png and mymap.map made from 6 tiles" + ("; 1 base and 2 overlay tiles were missing on"
            " the server (white where a base is missing), running again fetches them" if missing else ""))))
        check_colours(work, missing, attempt)
        check_map_folder(work, [tile for tile in TILES if tile not in missing], attempt)
    result = subprocess.run(["rastrel-map", "--geotiff", "--mbtiles", *block.split()[1:]], cwd=work, env=env,
                            capture_output=True, text=True)
    check("again, with the conversions: status", result.returncode, 0)
    check_converted(work)


def check_conversions(readme, env, top):
    """The README's conversions of the recipe's map: a GeoTIFF as the .map places it, MBTiles in Web Mercator."""
    work = f"{top}/work"
    check("conversions' exit status", run_block(readme_block(readme, "Into your map software", "sh"), work, env,
                                                top).returncode, 0)
    check_converted(work)


def check_converted(work):
    tiff, calibrated, tiles = (json.loads(run(["gdalinfo", "-json", f"{work}/mymap.{end}"])) for end in ("tif", "map",
                                                                                                        "mbtiles"))
    check("GeoTIFF's zone, origin and pixel size; MBTiles' projection", ("UTM zone 33N" in tiff["coordinateSystem"][
        "wkt"], tiff["geoTransform"], "Pseudo-Mercator" in tiles["coordinateSystem"]["wkt"]),
          (True, calibrated["geoTransform"], True))
    centres = transform("EPSG:32633", "EPSG:4326", *[(x * 128 - 3700000 + 512, y * 128 + 1300000 + 512)
                                                    for x in X_KEYS for y in Y_KEYS])
    check("MBTiles' colour at each tile's centre", [run(["gdallocationinfo", "-valonly", "-wgs84", f"{work}/mymap.mbtiles",
                                                         str(lon), str(lat)]).split()[:3] for lon, lat in centres],
          [[str(v) for v in base_colour(x, y)] for x in X_KEYS for y in Y_KEYS])


def block_of(keys):
    """The keys of the block that holds every point (E, N) given, by the README's formulas, moved down to the
    examples' grid (remainder 1)."""
    def key(value, offset):
        k = math.floor((value + offset) / 128)
        return f"{(k - (k - 1) % 8) & 0xFFFFFFFF:x}"  # below row 0 the keys wrap, as 32-bit numbers
    east, north = zip(*keys)
    return [key(min(east), 3700000), key(max(east), 3700000), key(min(north), -1300000), key(max(north), -1300000)]


def check_console_examples(readme, env, top):
    """Each `$ COMMAND` of the README's console blocks, in a folder of their own, prints what follows it there."""
    os.mkdir(folder := f"{top}/console")
    for block in re.findall(r"```console\n(.*?)```", readme, re.S):
        for command, printed in re.findall(r"^\$ (.*)\n([^$]*)", "\n".join(l.strip() for l in block.splitlines()), re.M):
            check(f"README: {command}", run_block(command, folder, env, top).stdout.strip(), printed.strip())


def transform(source, target, *points):
    return [tuple(map(float, line.split()[:2])) for line in run(["gdaltransform", "-s_srs", source, "-t_srs", target],
                                                                input="".join(f"{x} {y}\n" for x, y in points)).splitlines()]


def check_blocks(env):
    """rastrel-map --block against the same points projected by gdaltransform: boxes across the zone, near its edges
    and across 15 E, where the south edge dips below its corners (a millimetre south of a row's edge there)."""
    dip = (500000.0, 0x7DF1 * 128 + 1300000 - 0.001)
    (_, south), = transform("EPSG:32633", "EPSG:4326", dip)
    for box in [(14.3, south, 15.3, south + 0.5), (14.34, 49.68, 14.36, 49.69), (6.0, 0.0, 6.5, 0.3),
                (23.1, 83.2, 24.0, 84.0), (12.0, 45.0, 18.0, 55.0), (14.99999, 49.99999, 15.00001, 50.00001)]:
        w, s, e, n = box
        steps = [i / 64 for i in range(65)]
        edges = [(w + (e - w) * t, y) for t in steps for y in (s, n)] + [(x, s + (n - s) * t) for t in steps
                                                                         for x in (w, e)]
        edges += [(15, s), (15, n)] if w < 15 < e else []
        check(f"rastrel-map --block {box}", run(["rastrel-map", "--block", *map(str, box)], env=env).split(),
              block_of(transform("EPSG:4326", "EPSG:32633", *edges)))


def check_merge_cmd(work, launcher):
    """merge_fn.cmd called by do_merge.cmd for two tiles in the unpacked ZIP: the first with its base, a truncated
    overlay and none of the second kind; the second with only the second overlay."""
    shutil.copy(f"{work}/examples/merge_fn.cmd", work)
    solid = lambda *colour: cases.png(2 + 4 * (len(colour) == 4), 8, cases.image(lambda x, y: colour))
    tiles = ("7eb1000_8041000", "7eb9000_8041000")
    for layer, tile, content in (("map", 0, solid(1, 2, 3)), ("cyk", 0, solid(9, 9, 9)[:500]),
                                 ("tur", 1, solid(200, 0, 0, 255))):
        Path(f"{work}/tiles_{layer}").mkdir(exist_ok=True)
        Path(f"{work}/tiles_{layer}/13_{tiles[tile]}").write_bytes(content)
    for argv in (["rastrel1.exe", "7eb1", "7eb9", "8041", "8041"], ["cmd", "/c", "do_merge.cmd"]):
        result = subprocess.run(launcher + argv, cwd=work, stderr=subprocess.PIPE)
        if result.returncode == 77:
            return 77  # the launcher said why this machine cannot run them
    check("lines of the merge", result.stderr, cases.merge_note(f"tiles_cyk/13_{tiles[0]}") +
          cases.merge_note(f"tiles_map/13_{tiles[1]}", True))
    check("tg", {p.name: p.read_bytes() for p in Path(work, "tg").iterdir()} if Path(work, "tg").is_dir() else None,
          {f"aa_{tiles[0]}.pnm": cases.ppm(lambda x, y: (1, 2, 3)), f"aa_{tiles[1]}.pnm": cases.ppm(lambda x, y: (200, 0, 0))})


def check_pages(build_dir, readme, tar_gz, top):
    """The manual pages of the .deb, the .tar.gz and the README's `cmake --install` (with HOME in a folder with a
    hyphen) lint clean and name the build's host and the examples' folder as each is installed."""
    install = re.search(r"^cmake --install build/release .*", readme, re.M)[0].replace("build/release", build_dir)
    run(["sh", "-c", install], env=dict(os.environ, HOME=f"{top}/my-home"))
    tarfile.open(tar_gz).extractall(f"{top}/tar")
    for where, prefix, examples in ((".deb", f"{top}/root/usr", ".B /usr/share/doc/rastrel/examples"),
                                    (".tar.gz", glob.glob(f"{top}/tar/*")[0], ".IR \\%PREFIX /share/doc/rastrel/examples"),
                                    (install, f"{top}/my-home/.local",
                                     f".B {top}/my-home/.local/share/doc/rastrel/examples".replace("-", "\\-"))):
        for program in ["rastrel-map", *PROGRAMS]:
            page = f"{prefix}/share/man/man1/{program}.1.gz"
            run(["mandoc", "-Tlint", "-W", "all", page])
            text = gzip.open(page).read().decode()
            named = bool(re.search(r"\n\.BR (http://)?tiles\.example\.com", text))
            check(f"{where}: {program}.1 names the host and the examples", (named, f"\n{examples}\n" in text),
                  (program != "rastrel-merge", program in ("rastrel1", "rastrel2")))


def check_other_host(build_dir, source_dir, readme, top):
    """A build for the README's own server, configured only: its packages have the names the README gives, and its
    .deb's version sorts after this build's, so that a plain `apt install` replaces this one."""
    other = f"{top}/other-host"
    run(["cmake", "-S", source_dir, "-B", other, "-G", "Ninja", "-DCMAKE_BUILD_TYPE=Release", "-DBUILD_TESTING=OFF",
         "-DRASTREL_TILE_HOST=tiles.my-server.cz"])
    check("packages for another host", set(re.findall(r"rastrel[-_][^ /]*?\.(?:deb|tar\.gz)", Path(other, "build.ninja").read_text())),
          set(re.findall(r"rastrel[-_]1\.0\.0\+[^`/ ]*?\.(?:deb|tar\.gz)", readme)))
    version = {build: re.search(r"^Version: (.*)", Path(build, "control").read_text(), re.M)[1] for build in (build_dir, other)}
    check(f"{version[other]} sorts after {version[build_dir]}", subprocess.run(
        ["dpkg", "--compare-versions", version[other], "gt", version[build_dir]]).returncode, 0)


def check_demo(readme, source_dir):
    """The README's first command: the release built, and the example block's map made from a server of its own."""
    command = re.search(r"```\n\s*(scripts/setup\.sh demo)\n", readme)[1]
    result = subprocess.run(command, shell=True, cwd=source_dir, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                            text=True)
    png = re.search(r"^The map: (/\S+/demo\.png), calibrated by \S+/demo\.map$", result.stdout, re.M)
    check("demo: status, the map's size and GDAL's origin", (result.returncode, png and Path(png[1]).read_bytes()[
        16:24], "Origin = (451424.000000000000000,5504672.000000000000000)" in result.stdout),
          (0, struct.pack(">II", 768, 512), True))
    if png:
        shutil.rmtree(Path(png[1]).parent)


def check_linux(build_dir, made, source_dir, top):
    for program in PROGRAMS:
        check(f"{program} is static", "statically linked" in run(["ldd", f"{build_dir}/{program}"]), True)
    tar_gz, deb = (next(p for name, p in made.items() if name.endswith(end)) for end in (".tar.gz", ".deb"))
    subprocess.run(["lintian", "--fail-on", "error,warning", deb], check=True)
    deb_tree = subprocess.run(["dpkg-deb", "--fsys-tarfile", deb], check=True, stdout=subprocess.PIPE).stdout
    # Members below the top folder: rastrel-VERSION-linux-amd64/ in the .tar.gz, ./usr/ in the .deb.
    for what, archive, depth in (".tar.gz", tarfile.open(tar_gz), 1), (".deb", tarfile.open(fileobj=io.BytesIO(deb_tree)), 2):
        check(what, sorted(m.name.split("/", depth)[depth] for m in archive.getmembers() if m.isfile()), LINUX_LAYOUT)
    run(["dpkg-deb", "-x", deb, f"{top}/root"])
    readme = Path(source_dir, "README.md").read_text()
    check_pages(build_dir, readme, tar_gz, top)
    check_other_host(build_dir, source_dir, readme, top)
    # The placeholder server, reached through the loopback server as its proxy.
    env = dict(os.environ, PATH=f"{top}/root/usr/bin:{os.environ['PATH']}", http_proxy=serve_tiles(f"{top}/server"),
               RASTREL_SERVER="http://tiles.example.com")
    os.mkdir(f"{top}/work")
    check_rastrel_map(readme, env, top)
    check_recipe(readme, env, top)
    check_conversions(readme, env, top)
    check_console_examples(readme, env, top)
    check_blocks(env)
    check_demo(readme, source_dir)


def main():
    if sys.argv[1] == "--merge-example":
        build_dir, *launcher = sys.argv[2:]
        made = packages(build_dir)
        with tempfile.TemporaryDirectory(prefix="rastrel-merge-") as top:
            zipfile.ZipFile(*made.values()).extractall(top)
            if check_merge_cmd(f"{top}/{Path(*made).stem}", launcher) == 77:
                return 77
    else:
        build_dir, source_dir, preset, *objdump = sys.argv[1:]
        made = packages(build_dir)
        with tempfile.TemporaryDirectory(prefix="rastrel-package-") as top:
            check_rebuild(made, source_dir, preset, f"{top}/sources")
            check_bad_date(build_dir)
            if objdump:
                check_windows(build_dir, made, objdump[0])
            else:
                check_linux(build_dir, made, source_dir, top)
    print("".join(f"FAIL {p}\n" for p in problems) + ("failed" if problems else "passed"))
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
