#!/usr/bin/env python3
"""Checks what a release ships (package.py BUILD_DIR SOURCE_DIR PRESET [OBJDUMP]): the same packages byte for byte
from a source tarball of the commit, built later in another folder with another umask, time zone and locale; the Windows programs' DLLs and the ZIP's files; static Linux
programs, the install layout of the .tar.gz and the .deb, lintian, and manual pages that pass mandoc's lint and
document exactly the messages the end-to-end cases expect."""
import glob
import io
import os
import re
import shutil
import subprocess
import sys
import tarfile
import tempfile
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


def unpack_sources(source_dir, into, preexec_fn):
    """The sources as a source tarball holds them: `git archive` of the commit (with the work tree's changes to its
    files, while they are not committed); outside a checkout of its own, the files as they are."""
    git = ["git", "-c", "safe.directory=*", "-C", source_dir]
    top = shutil.which("git") and subprocess.run(git + ["rev-parse", "--show-toplevel"], capture_output=True,
                                                   text=True).stdout.strip()
    if top != os.path.realpath(source_dir):
        shutil.copytree(source_dir, into, ignore=lambda folder, names: ["build"] if folder == source_dir else [])
        return
    commit = run(git + ["stash", "create"]).strip() or "HEAD"
    os.mkdir(into)
    archive = subprocess.run(git + ["archive", commit], check=True, stdout=subprocess.PIPE).stdout
    subprocess.run(["tar", "-x", "--no-same-permissions", "-C", into], input=archive, check=True, preexec_fn=preexec_fn)


def check_rebuild(made, source_dir, preset, sources):
    """The packages again, from a source tarball built by someone else: another folder, time zone, locale and umask."""
    other = dict(cwd=sources, preexec_fn=lambda: os.umask(0o077),
                 env=dict(os.environ, TZ="Asia/Tokyo", LC_ALL="C.UTF-8", LANG="C.UTF-8"))
    unpack_sources(source_dir, sources, other["preexec_fn"])
    run(["cmake", "--preset", preset, "-DBUILD_TESTING=OFF"], **other)
    again = packages(os.path.join(sources, "build", preset), **other)
    check("packages made again", sorted(again), sorted(made))
    for name in set(made) & set(again):
        check(f"{name} made again", Path(again[name]).read_bytes() == Path(made[name]).read_bytes(), True)


def check_windows(build_dir, made, objdump):
    for program in PROGRAMS:
        dlls = {d.lower() for d in re.findall(r"DLL Name: (\S+)", run([objdump, "-p", f"{build_dir}/{program}.exe"]))}
        check(f"{program}.exe imports only system DLLs", bool(dlls) and dlls <= SYSTEM_DLLS, True)
    (name, path), = made.items()
    check("ZIP", sorted(zipfile.ZipFile(path).namelist()),
          [f"{name[:-4]}/{f}" for f in ["LICENSE", "README.md", *EXAMPLES, "rastrel1.exe", "rastrel2.exe"]])


def documented_messages(page):
    """The messages of the DIAGNOSTICS list as patterns: bold text literal,
    italic placeholders (TEXT, N) standing for any text, even none."""
    section = page.split(".SH DIAGNOSTICS")[1].split(".SH ")[0]
    patterns = []
    for line in re.findall(r"^\.TP\n(\.BI? .*)$", section, re.M):
        parts = [quoted or bare for quoted, bare in re.findall(r'"([^"]*)"|(\S+)', line.split(" ", 1)[1])]
        text = "".join(".*" if line.startswith(".BI") and i % 2 else re.escape(p) for i, p in enumerate(parts))
        patterns.append(text.replace(re.escape("\\(aq"), "'"))
    return patterns


def check_linux(build_dir, made, source_dir):
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


def main():
    build_dir, source_dir, preset = sys.argv[1:4]
    made = packages(build_dir)
    with tempfile.TemporaryDirectory(prefix="rastrel-package-") as top:
        check_rebuild(made, source_dir, preset, f"{top}/sources")
        if len(sys.argv) > 4:
            check_windows(build_dir, made, sys.argv[4])
        else:
            check_linux(build_dir, made, source_dir)
    print("".join(f"FAIL {p}\n" for p in problems) + ("failed" if problems else "passed"))
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
