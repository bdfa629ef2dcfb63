#!/usr/bin/env python3
"""Checks what a release ships.

Windows: each program imports only DLLs every Windows has; the ZIP holds the
programs, the README and the licence. Linux: the programs are static; the
manual pages pass mandoc's lint and document exactly the messages the
end-to-end cases expect; the .tar.gz holds the install layout; the .deb,
unpacked into a temporary folder (never installed), runs both programs on
the example block, and lintian finds nothing in it.
"""
import argparse
import glob
import os
import re
import subprocess
import sys
import tarfile
import tempfile
import zipfile

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "e2e"))
import cases  # noqa: E402

problems = []


def check(what, got, want):
    if got != want:
        problems.append(f"{what}: got {got!r:.300}, want {want!r:.300}")

PROGRAMS = ["rastrel1", "rastrel2"]
SYSTEM_DLLS = {"kernel32.dll", "user32.dll", "msvcrt.dll", "advapi32.dll", "ntdll.dll"}
LINUX_LAYOUT = ["bin/rastrel1", "bin/rastrel2", "share/doc/rastrel/LICENSE", "share/doc/rastrel/README.md",
                "share/doc/rastrel/changelog.gz", "share/doc/rastrel/copyright",
                "share/lintian/overrides/rastrel", "share/man/man1/rastrel1.1.gz", "share/man/man1/rastrel2.1.gz"]
# Documented, but no test can stage it: the file must vanish between the
# test for it and its opening.
UNSTAGED = {"File not found."}


def run(argv, **kwargs):
    return subprocess.run(argv, check=True, capture_output=True, text=True, **kwargs).stdout


def check_windows(options, packages):
    for program in PROGRAMS:
        listing = run([options.objdump, "-p", os.path.join(options.build_dir, program + ".exe")])
        dlls = {line.split(":")[1].strip().lower() for line in listing.splitlines() if "DLL Name:" in line}
        if not dlls or dlls - SYSTEM_DLLS:
            problems.append(f"{program}.exe needs DLLs beyond the system's: {sorted(dlls - SYSTEM_DLLS)}")
    names = zipfile.ZipFile(packages[options.name + ".zip"]).namelist()
    check("ZIP", sorted(names), sorted(f"{options.name}/{f}" for f in ["rastrel1.exe", "rastrel2.exe",
                                                                       "README.md", "LICENSE"]))


def documented_messages(page):
    """The messages of the DIAGNOSTICS list as patterns: bold text literal,
    italic placeholders (TEXT, N) standing for any text, even none."""
    section = page.split(".SH DIAGNOSTICS")[1].split(".SH ")[0]
    patterns = []
    for line in re.findall(r"^\.TP\n(\.BI? .*)$", section, re.M):
        words = re.findall(r'"([^"]*)"|(\S+)', line.split(" ", 1)[1])
        parts = [quoted or bare for quoted, bare in words]
        italic = line.startswith(".BI")
        text = "".join(".*" if italic and i % 2 else re.escape(p) for i, p in enumerate(parts))
        patterns.append(text.replace(re.escape("\\(aq"), "'"))
    return patterns


def check_manual(program, page_path, host):
    lint = subprocess.run(["mandoc", "-Tlint", "-W", "all", page_path], capture_output=True, text=True)
    check(f"{program}.1: mandoc -Tlint", lint.stdout + lint.stderr, "")
    with open(page_path) as f:
        patterns = documented_messages(f.read())
    printed = {c.fatal[1] + "." for c in cases.all_cases(program, host, 128) if c.fatal}
    check(f"{program}.1: documented messages no case prints",
          [p for p in patterns if not any(re.fullmatch(p, m) for m in printed | UNSTAGED)], [])
    check(f"{program}.1: messages not documented",
          [m for m in printed if not any(re.fullmatch(p, m) for p in patterns)], [])


def check_linux(options, packages, out):
    for program in PROGRAMS:
        ldd = subprocess.run(["ldd", os.path.join(options.build_dir, program)], capture_output=True, text=True)
        if not re.search(r"statically linked|not a dynamic executable", ldd.stdout + ldd.stderr):
            problems.append(f"{program} is not static: {ldd.stdout}")
        check_manual(program, os.path.join(options.source_dir, "man", program + ".1"), options.tile_host)
    with tarfile.open(packages[options.name + ".tar.gz"]) as archive:
        files = sorted(m.name.split("/", 1)[1] for m in archive.getmembers() if not m.isdir())
    check(".tar.gz", files, LINUX_LAYOUT)
    deb = next(p for name, p in packages.items() if name.endswith("_amd64.deb"))
    root = os.path.join(out, "root")
    run(["dpkg-deb", "-x", deb, root])
    check("files of the .deb", sorted(os.path.relpath(os.path.join(d, f), os.path.join(root, "usr"))
                                      for d, _, fs in os.walk(root) for f in fs), LINUX_LAYOUT)
    work = os.path.join(out, "work")
    os.mkdir(work)
    run([os.path.join(root, "usr/bin/rastrel1"), "7eb1", "7ec1", "8041", "8051"], cwd=work)
    run([os.path.join(root, "usr/bin/rastrel2"), "7eb1", "7ec1", "8041", "8051", "test"], cwd=work)
    want = {**cases.lists(*cases.EXAMPLE_PAIRS), "conv.cmd": cases.EXAMPLE_BLOCK, "test.map": cases.EXAMPLE_MAP}
    for name, content in want.items():
        with open(os.path.join(work, name), "rb") as f:
            check(f"{name} written by the packaged program", f.read(), content)
    lintian = subprocess.run(["lintian", "--fail-on", "none", deb], capture_output=True, text=True).stdout
    check("lintian", lintian, "")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build-dir", required=True)
    parser.add_argument("--source-dir", required=True)
    parser.add_argument("--name", required=True, help="package file name without its ending")
    parser.add_argument("--objdump", help="the Windows build's objdump")
    parser.add_argument("--tile-host", default="tiles.example.com")
    options = parser.parse_args()
    with tempfile.TemporaryDirectory(prefix="rastrel-package-") as out:
        run(["cpack", "--config", os.path.join(options.build_dir, "CPackConfig.cmake"), "-B", out])
        packages = {os.path.basename(p): p for p in glob.glob(os.path.join(out, "*.*"))}
        print("packages:", ", ".join(sorted(packages)))
        if options.objdump:
            check_windows(options, packages)
        else:
            check_linux(options, packages, out)
    print("".join(f"FAIL {p}\n" for p in problems) + f"{0 if problems else 1} passed, {1 if problems else 0} failed")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
