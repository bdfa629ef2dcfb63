#!/usr/bin/env python3
"""Checks what a release ships (package.py BUILD_DIR SOURCE_DIR PRESET [OBJDUMP LAUNCHER...]): the same packages from
a source tarball of the commit built by someone else; Windows: the DLLs, the ZIP's files, its merge_fn.cmd under Wine;
Linux: static programs, the packages' layout, lintian, the manual pages, and the README's recipe with the .deb."""
import functools
import glob
import http.server
import io
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

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "e2e"))
import cases  # noqa: E402

PROGRAMS = ["rastrel1", "rastrel2"]
SYSTEM_DLLS = {"kernel32.dll", "user32.dll", "msvcrt.dll", "advapi32.dll", "ntdll.dll"}
EXAMPLES = ["examples/merge_fn.cmd", "examples/merge_fn.sh"]
LINUX_LAYOUT = ["bin/rastrel1", "bin/rastrel2", *[f"share/doc/rastrel/{f}" for f in ["LICENSE", "README.md",
                "changelog.gz", "copyright", *EXAMPLES]], "share/lintian/overrides/rastrel",
                "share/man/man1/rastrel1.1.gz", "share/man/man1/rastrel2.1.gz"]
X_KEYS, Y_KEYS = [0x7EB1, 0x7EB9, 0x7EC1], [0x8041, 0x8049]  # the README's block
# Overlay tiles: black, transparent in the PNG, but for a 32 x 16 mark at row 16; the second lies over the first.
RED, BLUE = (255, 0, 0), (0, 0, 255)
OVERLAYS = {"tcyklo": "ppmmake red 32 16 | pnmpad -black -left 16 -right 208 -top 16 -bottom 224",
            "ttur": "ppmmake blue 32 16 | pnmpad -black -left 32 -right 192 -top 16 -bottom 224"}
UNSTAGED = {"File not found."}  # documented; the file would have to vanish between the test for it and its opening
problems = []


def check(what, got, want):
    if got != want:
        problems.append(f"{what}: got {got!r:.300}, want {want!r:.300}")


def run(argv, **options):
    return subprocess.run(argv, check=True, stdout=subprocess.PIPE, text=True, **options).stdout


def packages(build_dir, **options):
    run(["cmake", "--build", build_dir, "--target", "package"], **options)
    return {Path(p).name: p for p in glob.glob(os.path.join(build_dir, "rastrel[-_]*.*"))}


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


def serve_tiles(root):
    """A tile server reached as a proxy: it serves http://HOST/LAYER/13_X_Y as the file root/http:/HOST/LAYER/13_X_Y."""
    for layer in ("turist", "tcyklo", "ttur"):
        os.makedirs(folder := f"{root}/http:/tiles.example.com/{layer}")
        [Path(folder, f"13_{x:x}000_{y:x}000").write_bytes(png(layer, x, y)) for x in X_KEYS for y in Y_KEYS]
    handler = type("Tiles", (http.server.SimpleHTTPRequestHandler,),  # HTTP/1.1: wget keeps its connection
                   {"protocol_version": "HTTP/1.1", "log_message": lambda *args: None})
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), functools.partial(handler, directory=root))
    threading.Thread(target=server.serve_forever, daemon=True).start()
    return f"http://127.0.0.1:{server.server_port}"


def check_colours(work):
    """Each tile's colours where GDAL finds them through the .map: 4 m a pixel from the tile's west and north edges."""
    samples = [(x, y, c, r, want) for x in X_KEYS for y in Y_KEYS for c, r, want in
               ((24, 24, RED), (40, 24, BLUE), (56, 24, BLUE), (128, 128, base_colour(x, y)))]
    found = re.findall(r"Location: \((\d+)P,(\d+)L\)", subprocess.run(
        ["gdallocationinfo", "-geoloc", "mymap.map"], cwd=work, text=True, stdout=subprocess.PIPE, input="".join(
            f"{x * 128 - 3700000 + 4 * c + 2} {(y + 8) * 128 + 1300000 - 4 * r - 2}\n" for x, y, c, r, _ in samples)).stdout)
    image = [int(v) for v in subprocess.run(["pngtopam", "-plain", "mymap.png"], cwd=work,
                                            stdout=subprocess.PIPE).stdout.split()[1:]]  # width, height, 255, r g b...
    colours = [tuple(image[3 + 3 * (int(line) * image[0] + int(pixel)):][:3]) for pixel, line in found]
    check("colours of tiles x_y at tile pixels (column, row)", [f"{x:x}_{y:x} ({c}, {r}) {got}" for (x, y, c, r, _), got
          in zip(samples, colours)], [f"{x:x}_{y:x} ({c}, {r}) {want}" for x, y, c, r, want in samples])


def check_recipe(deb, source_dir, top):
    """The README's Linux recipe, with the programs and merge_fn.sh of the .deb."""
    run(["dpkg-deb", "-x", deb, f"{top}/root"])
    env = dict(os.environ, PATH=f"{top}/root/usr/bin:{os.environ['PATH']}", http_proxy=serve_tiles(f"{top}/server"))
    recipe = re.search(r"\n## From tiles to a calibrated map\n.*?```sh\n(.*?)```", Path(source_dir, "README.md").read_text(),
                       re.S)[1]
    os.mkdir(f"{top}/work")
    result = subprocess.run(["sh", "-ec", recipe.replace("/usr/share/", f"{top}/root/usr/share/")], cwd=f"{top}/work",
                            env=env, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
    print(result.stdout)
    check("recipe's exit status", result.returncode, 0)
    for text in ("Size is 768, 512", "UTM zone 33N", "Origin = (451424.000000000000000,5504672.000000000000000)"):
        check(f"gdalinfo prints {text!r}", text in result.stdout, True)
    check_colours(f"{top}/work")


def check_merge_cmd(work, standin, launcher):
    """merge_fn.cmd called by do_merge.cmd for two tiles in the unpacked ZIP, with stand-ins for pngtopam and pamcomp."""
    shutil.copy(f"{work}/examples/merge_fn.cmd", work)
    [shutil.copy(standin, f"{work}/{tool}.exe") for tool in ("pngtopam", "pamcomp")]
    for argv in (["rastrel1.exe", "7eb1", "7eb9", "8041", "8041"], ["cmd", "/c", "do_merge.cmd"]):
        if subprocess.run(launcher + argv, cwd=work).returncode == 77:
            return  # the launcher said why this machine cannot run them
    tiles = ("7eb1000_8041000", "7eb9000_8041000")
    pamcomp = "pamcomp -alpha=tg\\overlay_alpha.pgm tg\\overlay.ppm tg\\aa_{}.pnm"
    check("Netpbm calls", Path(work, "netpbm.log").read_text().splitlines() if Path(work, "netpbm.log").exists() else [],
          [line for tile in tiles for line in [f"pngtopam tiles_map\\13_{tile}"] + [
              line for layer in ("cyk", "tur") for line in (f"pngtopam tiles_{layer}\\13_{tile}",
                                                            f"pngtopam -alpha tiles_{layer}\\13_{tile}", pamcomp.format(tile))]])
    # Each tile image is what the last pamcomp wrote; nothing else is left in tg.
    check("tg", {p.name: p.read_text() for p in Path(work, "tg").iterdir()} if Path(work, "tg").is_dir() else None,
          {f"aa_{tile}.pnm": pamcomp.format(tile) + "\n" for tile in tiles})


def documented_messages(page):
    """The DIAGNOSTICS list's messages as patterns: bold text literal, italic placeholders (TEXT, N) any text or none."""
    section = page.split(".SH DIAGNOSTICS")[1].split(".SH ")[0]
    patterns = []
    for line in re.findall(r"^\.TP\n(\.BI? .*)$", section, re.M):
        parts = [quoted or bare for quoted, bare in re.findall(r'"([^"]*)"|(\S+)', line.split(" ", 1)[1])]
        text = "".join(".*" if line.startswith(".BI") and i % 2 else re.escape(p) for i, p in enumerate(parts))
        patterns.append(text.replace(re.escape("\\(aq"), "'"))
    return patterns


def check_linux(build_dir, made, source_dir, top):
    for program in PROGRAMS:
        check(f"{program} is static", "statically linked" in run(["ldd", f"{build_dir}/{program}"]), True)
        page = f"{source_dir}/man/{program}.1"
        run(["mandoc", "-Tlint", "-W", "all", page])
        patterns = documented_messages(Path(page).read_text())
        printed = {c.fatal[1] + "." for c in cases.all_cases(program, cases.HOST, 128) if c.fatal}
        check(f"{program}.1: documented messages no case prints",
              [p for p in patterns if not any(re.fullmatch(p, m) for m in printed | UNSTAGED)], [])
        check(f"{program}.1: messages not documented", [m for m in printed if not any(re.fullmatch(p, m) for p in patterns)], [])
    tar_gz, deb = (next(p for name, p in made.items() if name.endswith(end)) for end in (".tar.gz", ".deb"))
    subprocess.run(["lintian", "--fail-on", "error,warning", deb], check=True)
    deb_tree = subprocess.run(["dpkg-deb", "--fsys-tarfile", deb], check=True, stdout=subprocess.PIPE).stdout
    # Members below the top folder: rastrel-VERSION-linux-amd64/ in the .tar.gz, ./usr/ in the .deb.
    for what, archive, depth in (".tar.gz", tarfile.open(tar_gz), 1), (".deb", tarfile.open(fileobj=io.BytesIO(deb_tree)), 2):
        check(what, sorted(m.name.split("/", depth)[depth] for m in archive.getmembers() if m.isfile()), LINUX_LAYOUT)
    check_recipe(deb, source_dir, top)


def main():
    build_dir, source_dir, preset, *windows = sys.argv[1:]
    made = packages(build_dir)
    with tempfile.TemporaryDirectory(prefix="rastrel-package-") as top:
        check_rebuild(made, source_dir, preset, f"{top}/sources")
        if windows:
            check_windows(build_dir, made, windows[0])
            zipfile.ZipFile(*made.values()).extractall(top)
            check_merge_cmd(f"{top}/{Path(*made).stem}", f"{build_dir}/tests/netpbm_standin.exe", windows[1:])
        else:
            check_linux(build_dir, made, source_dir, top)
    print("".join(f"FAIL {p}\n" for p in problems) + ("failed" if problems else "passed"))
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
