#!/usr/bin/env python3
"""Checks what a release ships (package.py BUILD_DIR SOURCE_DIR PRESET [OBJDUMP]): the same packages from a source
tarball of the commit built by someone else; Windows: the DLLs and the ZIP's files; Linux: static programs, the
packages' layout, lintian, the manual pages, and the README's recipe, conversions and keys with the .deb.
package.py --merge-example BUILD_DIR LAUNCHER...: the ZIP's merge_fn.cmd under Wine."""
import functools
import glob
import http.server
import io
import json
import math
import os
import re
import shutil
import subprocess
import sys
import tarfile
import tempfile
import threading
import zipfile
from pathlib import Path

PROGRAMS = ["rastrel1", "rastrel2"]
SYSTEM_DLLS = {"kernel32.dll", "user32.dll", "msvcrt.dll", "advapi32.dll", "ntdll.dll"}
EXAMPLES = ["examples/keys.sh", "examples/merge_fn.cmd", "examples/merge_fn.sh"]
LINUX_LAYOUT = ["bin/rastrel1", "bin/rastrel2", *[f"share/doc/rastrel/{f}" for f in ["LICENSE", "README.md",
                "changelog.gz", "copyright", *EXAMPLES]], "share/lintian/overrides/rastrel",
                "share/man/man1/rastrel1.1.gz", "share/man/man1/rastrel2.1.gz"]
X_KEYS, Y_KEYS = [0x7EB1, 0x7EB9, 0x7EC1], [0x8041, 0x8049]  # the README's block
# Overlay tiles: black, transparent in the PNG, but for a 32 x 16 mark at row 16; the second lies over the first.
RED, BLUE, WHITE = (255, 0, 0), (0, 0, 255), (255, 255, 255)
MARKS = {"tcyklo": (16, RED), "ttur": (32, BLUE)}  # layer: the mark's first column, its colour
OVERLAYS = {layer: f"ppmmake rgb:{r:x}/{g:x}/{b:x} 32 16 | pnmpad -black -left {left} -right {224 - left} -top 16 "
            "-bottom 224" for layer, (left, (r, g, b)) in MARKS.items()}
# What the server first lacks: a base tile, and an overlay of each kind; the recipe runs again once they are there.
MISSING = {("turist", 0x7EB9, 0x8049), ("tcyklo", 0x7EB1, 0x8041), ("ttur", 0x7EC1, 0x8049)}
REFUSALS = [(["14", "49", "16"], "usage"), (["14", "49", "16", "50", "8"], "REMAINDER"),
            (["14", "49", "1e1", "50"], "decimal degrees"), (["16", "49", "14", "50"], "WEST < EAST"),
            (["14", "49", "24.5", "50"], "6 to 24"), (["14", "49", "16", "50"], "install GDAL")]
problems = []


def check(what, got, want):
    if got != want:
        problems.append(f"{what}: got {got!r:.300}, want {want!r:.300}")


def run(argv, **options):
    return subprocess.run(argv, check=True, stdout=subprocess.PIPE, text=True, **options).stdout


def packages(build_dir, **options):
    run(["cmake", "--build", build_dir, "--target", "package"], **options)
    return {Path(p).name: p for p in glob.glob(os.path.join(build_dir, "rastrel[-_]*.*"))}


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
    for program in PROGRAMS:
        dlls = {d.lower() for d in re.findall(r"DLL Name: (\S+)", run([objdump, "-p", f"{build_dir}/{program}.exe"]))}
        check(f"{program}.exe imports only system DLLs", bool(dlls) and dlls <= SYSTEM_DLLS, True)
    (name, path), = made.items()
    check("ZIP", sorted(zipfile.ZipFile(path).namelist()),
          [f"{name[:-4]}/{f}" for f in ["LICENSE", "README.md", *EXAMPLES, "rastrel1.exe", "rastrel2.exe"]])


def base_colour(x, y):
    return (x >> 3) & 0xFF, (y >> 3) & 0xFF, 0x80


def png(layer, x, y):
    drawing = OVERLAYS.get(layer, "ppmmake rgb:{:02x}/{:02x}/{:02x} 256 256".format(*base_colour(x, y)))
    return subprocess.run(drawing + " | pnmtopng -transparent black", shell=True, check=True, stdout=subprocess.PIPE).stdout


def draw_tiles(root, tiles):
    for layer, x, y in tiles:
        Path(folder := f"{root}/http:/tiles.example.com/{layer}").mkdir(parents=True, exist_ok=True)
        Path(folder, f"13_{x:x}000_{y:x}000").write_bytes(png(layer, x, y))


def serve_tiles(root):
    """A tile server reached as a proxy: http://HOST/LAYER/13_X_Y is the file root/http:/HOST/LAYER/13_X_Y, or 404."""
    handler = type("Tiles", (http.server.SimpleHTTPRequestHandler,),  # HTTP/1.1: wget keeps its connection
                   {"protocol_version": "HTTP/1.1", "log_message": lambda *args: None})
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), functools.partial(handler, directory=root))
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
    result = subprocess.run(["sh", "-ec", block.replace("/usr/share/", f"{top}/root/usr/share/")], cwd=work, env=env,
                            stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
    return print(result.stdout) or result


def check_recipe(readme, env, top):
    """The README's recipe, first with tiles missing on the server, then again in the same folder with all of them."""
    recipe = readme_block(readme, "Recipe on Linux", "sh")
    tiles = [(layer, x, y) for layer in ("turist", *MARKS) for x in X_KEYS for y in Y_KEYS]
    for attempt, missing in ("first run", MISSING), ("second run", set()):
        draw_tiles(f"{top}/server", [tile for tile in tiles if tile not in missing])
        result = run_block(recipe, f"{top}/work", env, top)
        check(f"{attempt}: exit status, gdalinfo's origin", (result.returncode, "Origin = (451424.000000000000000,"
              "5504672.000000000000000)" in result.stdout), (0, True))
        check(f"{attempt}: lines naming a missing base tile", re.findall(r"tiles_map/13_\w+ is missing", result.stdout),
              ["tiles_map/13_7eb9000_8049000 is missing"] if missing else [])
        check_colours(f"{top}/work", missing, attempt)
    check("second copies of files fetched again", [p.name for p in Path(top, "work").rglob("*.1")], [])
    check("blocks in conv.cmd", Path(top, "work", "conv.cmd").read_text().count("pnmcat -tb"), 1)


def check_conversions(readme, env, top):
    """The README's conversions of the recipe's map: a GeoTIFF as the .map places it, MBTiles in Web Mercator."""
    work = f"{top}/work"
    check("conversions' exit status", run_block(readme_block(readme, "Into your map software", "sh"), work, env,
                                                top).returncode, 0)
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
        return f"{k - (k - 1) % 8:x}"
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


def check_keys(env, top):
    """keys.sh against gdaltransform itself, and its refusals."""
    keys_sh = [shutil.which("sh"), f"{top}/root/usr/share/doc/rastrel/examples/keys.sh"]
    # Across 15 E the south edge dips below its corners: a box whose south edge crosses 15 E a millimetre south of
    # a row's edge, its corners in that row and nearby points along the edge too.
    dip = (500000.0, 0x7DF1 * 128 + 1300000 - 0.001)
    (_, south), = transform("EPSG:32633", "EPSG:4326", dip)
    w, s, e, n = box = (14.3, south, 15.3, south + 0.5)
    corners = transform("EPSG:4326", "EPSG:32633", (w, s), (w, n), (e, s), (e, n))
    check("keys.sh: a box across 15 E", run(keys_sh + [str(v) for v in box]).split(), block_of(corners + [dip]))
    os.mkdir(f"{top}/bin")
    os.symlink(shutil.which("awk"), f"{top}/bin/awk")
    for argv, message in REFUSALS:  # the last with a PATH that has awk alone
        result = subprocess.run(keys_sh + argv, env=dict(env, PATH=f"{top}/bin") if message == "install GDAL" else env,
                                capture_output=True, text=True)
        check(f"keys.sh {' '.join(argv)}", (result.returncode != 0, result.stdout, message in result.stderr,
                                             result.stderr.count("\n")), (True, "", True, 1))


def check_merge_cmd(work, standin, launcher):
    """merge_fn.cmd called by do_merge.cmd for two tiles in the unpacked ZIP, with stand-ins for Netpbm: the first
    tile with its base, one overlay and an empty one; the second with no base, no first overlay and the second."""
    shutil.copy(f"{work}/examples/merge_fn.cmd", work)
    [shutil.copy(standin, f"{work}/{tool}.exe") for tool in ("pngtopam", "pamcomp", "ppmmake")]
    tiles = ("7eb1000_8041000", "7eb9000_8041000")
    for layer, tile, content in (("map", 0, "png"), ("cyk", 0, "png"), ("tur", 0, ""), ("tur", 1, "png")):
        Path(f"{work}/tiles_{layer}").mkdir(exist_ok=True)
        Path(f"{work}/tiles_{layer}/13_{tiles[tile]}").write_text(content)
    for argv in (["rastrel1.exe", "7eb1", "7eb9", "8041", "8041"], ["cmd", "/c", "do_merge.cmd"]):
        if subprocess.run(launcher + argv, cwd=work).returncode == 77:
            return 77  # the launcher said why this machine cannot run them
    pamcomp = "pamcomp -alpha=tg\\overlay_alpha.pgm tg\\overlay.ppm tg\\aa_{}.pnm"
    overlay = lambda layer, tile: [f"pngtopam tiles_{layer}\\13_{tile}", f"pngtopam -alpha tiles_{layer}\\13_{tile}",
                                   pamcomp.format(tile)]
    check("Netpbm calls", Path(work, "netpbm.log").read_text().splitlines() if Path(work, "netpbm.log").exists() else [],
          [f"pngtopam tiles_map\\13_{tiles[0]}", *overlay("cyk", tiles[0]), f"pngtopam tiles_map\\13_{tiles[1]}",
           "ppmmake white 256 256", *overlay("tur", tiles[1])])
    # Each tile image is what the last pamcomp wrote; nothing else is left in tg.
    check("tg", {p.name: p.read_text() for p in Path(work, "tg").iterdir()} if Path(work, "tg").is_dir() else None,
          {f"aa_{tile}.pnm": pamcomp.format(tile) + "\n" for tile in tiles})


def check_linux(build_dir, made, source_dir, top):
    for program in PROGRAMS:
        check(f"{program} is static", "statically linked" in run(["ldd", f"{build_dir}/{program}"]), True)
        page = f"{build_dir}/doc/{program}.1"
        run(["mandoc", "-Tlint", "-W", "all", page])
        check(f"{program}.1 names the build's host", "\n.BR tiles.example.com .\n" in Path(page).read_text(), True)
    tar_gz, deb = (next(p for name, p in made.items() if name.endswith(end)) for end in (".tar.gz", ".deb"))
    subprocess.run(["lintian", "--fail-on", "error,warning", deb], check=True)
    deb_tree = subprocess.run(["dpkg-deb", "--fsys-tarfile", deb], check=True, stdout=subprocess.PIPE).stdout
    # Members below the top folder: rastrel-VERSION-linux-amd64/ in the .tar.gz, ./usr/ in the .deb.
    for what, archive, depth in (".tar.gz", tarfile.open(tar_gz), 1), (".deb", tarfile.open(fileobj=io.BytesIO(deb_tree)), 2):
        check(what, sorted(m.name.split("/", depth)[depth] for m in archive.getmembers() if m.isfile()), LINUX_LAYOUT)
    run(["dpkg-deb", "-x", deb, f"{top}/root"])
    env = dict(os.environ, PATH=f"{top}/root/usr/bin:{os.environ['PATH']}", http_proxy=serve_tiles(f"{top}/server"))
    os.mkdir(f"{top}/work")
    readme = Path(source_dir, "README.md").read_text()
    check_recipe(readme, env, top)
    check_conversions(readme, env, top)
    check_console_examples(readme, env, top)
    check_keys(env, top)


def main():
    if sys.argv[1] == "--merge-example":
        build_dir, *launcher = sys.argv[2:]
        made = packages(build_dir)
        with tempfile.TemporaryDirectory(prefix="rastrel-merge-") as top:
            zipfile.ZipFile(*made.values()).extractall(top)
            if check_merge_cmd(f"{top}/{Path(*made).stem}", f"{build_dir}/tests/netpbm_standin.exe", launcher) == 77:
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
