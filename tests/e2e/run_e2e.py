#!/usr/bin/env python3
"""End-to-end runner (run_e2e.py [--group GROUP] PROGRAM TILE_HOST FILE_BUFFER_SIZE [LAUNCHER...]): starts the built
program in a fresh temporary directory for each case and compares stdout, stderr, the exit status and every file left
in the directory, byte for byte. The same cases run a native build, or a Windows build through the Wine launcher.

A group is the cases that need the same things of the build and the machine (`portable`: nothing); CTest runs each
group as a test of its own, so a group this build or machine cannot run shows as skipped (exit status 77), with the
reasons in its output. `run_e2e.py --groups PROGRAM` lists the groups."""
import os
import re
import resource
import subprocess
import sys
import tempfile
from pathlib import Path

import cases

ADDRESS = re.compile(rb"at ([0-9A-F]{8})\.\r\n")


def snapshot(directory, prefix=""):
    """Every entry below, by its path: its bytes, DIR for a directory, ("link", target) for a link."""
    found = {}
    for e in os.scandir(directory):
        found[prefix + e.name] = ("link", os.readlink(e)) if e.is_symlink() else cases.DIR if e.is_dir() else Path(
            e).read_bytes()
        if found[prefix + e.name] == cases.DIR:
            found.update(snapshot(e.path, f"{prefix}{e.name}/"))
    return found


def with_folders(files):
    """The files, and each folder they lie in."""
    return {**{"/".join(name.split("/")[:n]): cases.DIR for name in files for n in range(1, name.count("/") + 1)},
            **files}


def start(case, program, launcher, work):
    argv = [program] + case.args
    if case.command_line is not None:
        # Through cmd with the command line exactly as typed, so the program
        # splits the raw text itself, as it does on Windows.
        with open(os.path.join(work, "..", "run.cmd"), "wb") as f:
            f.write(b"@Z:" + program.replace("/", "\\").encode() + b" " + case.command_line.encode("cp1252") +
                    b"\r\n")
        argv = ["cmd", "/c", "Z:" + os.path.abspath(f.name).replace("/", "\\")]
    executable = program if case.argv0 is not None and not launcher else None
    argv = case.wrap + launcher + ([case.argv0] + argv[1:] if executable else argv)
    stdin = os.open(work, os.O_RDONLY) if case.stdin == cases.DIR else subprocess.PIPE
    stdout = subprocess.PIPE
    if case.out is None:  # a pipe nobody reads
        reader, stdout = os.pipe()
        os.close(reader)
    limits = [(getattr(resource, "RLIMIT_" + name), (value, value)) for name, value in case.limits.items()]
    process = subprocess.Popen(argv, executable=executable, cwd=work, stdin=stdin, stdout=stdout,
                               stderr=subprocess.PIPE, preexec_fn=lambda: [resource.setrlimit(*l) for l in limits])
    for end in {stdin, stdout} - {subprocess.PIPE}:
        os.close(end)
    return process


def run_case(case, program, launcher, addresses):
    with tempfile.TemporaryDirectory(prefix="rastrel-e2e-") as top:
        work = os.path.join(top, "work")
        os.mkdir(work)
        case.setup(work)
        before = snapshot(work)
        process = start(case, program, launcher, work)
        stdout, stderr = process.communicate(None if case.stdin == cases.DIR else case.stdin, timeout=120)
        after = snapshot(work)
    addresses.update(int(found, 16) for found in ADDRESS.findall(stderr))
    want = {"stdout": case.out, "exit status": case.status,
            "stderr": case.expected_stderr(os.path.basename(program)),
            **(before if case.files is None else with_folders(case.files))}
    got = {"stdout": stdout, "exit status": process.returncode,
           "stderr": ADDRESS.sub(b"at XXXXXXXX.\r\n", stderr), **after}
    return [f"{name}: got {got.get(name)!r:.300}, want {want.get(name)!r:.300}"
            for name in sorted(set(got) | set(want), key=str) if got.get(name) != want.get(name)]


def address_problems(addresses, program):
    """The report's code address is relative to the program's load address,
    so it lies inside the program, and it tells failure sites apart."""
    size = os.path.getsize(program)
    problems = [f"code address {a:08X} lies beyond the program's {size} bytes" for a in addresses if a >= size]
    return problems + ([f"every failure site reported the same code address: {addresses}"] if len(addresses) < 2 else [])


def features(program, launcher):
    """What the build and this machine offer that some cases need."""
    image = Path(program).read_bytes()
    offered = {"windows"} if launcher else {"posix"} | ({"dev_full"} if os.path.exists("/dev/full") else set())
    return offered | ({"static"} if b"/ld-linux" not in image[:4096] else set()) | (  # no ELF interpreter
        set() if b"__asan_init" in image else {"unsanitized"})


def group_of(case):
    return "_".join(sorted(case.needs)) or "portable"


def main():
    if sys.argv[1] == "--groups":
        print(";".join(sorted({group_of(c) for c in cases.all_cases(sys.argv[2], cases.HOST, cases.BUFFER_SIZE)})))
        return 0
    group = sys.argv[2] if sys.argv[1] == "--group" else None
    del sys.argv[1:3 if group else 1]
    program, host, buffer_size, *launcher = sys.argv[1:]
    program = os.path.abspath(program)
    name = os.path.basename(program).removesuffix(".exe")
    chosen = [c for c in cases.all_cases(name, host, int(buffer_size)) if group in (None, group_of(c))]
    offered = features(program, launcher)
    unmet = {c.name: next(why for need, why in c.needs.items() if need not in offered)
             for c in chosen if not c.needs.keys() <= offered}
    print("".join(f"SKIP {case}: {why}\n" for case, why in unmet.items()), end="")
    if group and unmet:
        return 77  # a group's cases all need the same things
    if launcher:
        # Where Wine cannot run, the launcher says why and exits with 77 (skipped).
        probe = subprocess.run(launcher + ["cmd", "/c", "exit"], stdout=subprocess.PIPE, timeout=120)
        if probe.returncode:
            print(probe.stdout.decode(), end="")
            return probe.returncode
    passed = failed = 0
    addresses = set()
    for case in (c for c in chosen if c.name not in unmet):
        problems = run_case(case, program, launcher, addresses)
        print(f"{'FAIL' if problems else 'ok  '} {case.name}" + "".join(f"\n    {p}" for p in problems))
        failed += bool(problems)
        passed += not problems
    # The portable cases fail at several sites; the groups with needs may hold one.
    for problem in address_problems(addresses, program) if group in (None, "portable") else []:
        print(f"FAIL {problem}")
        failed += 1
    print(f"{passed} passed, {failed} failed")
    return 1 if failed or not passed else 0


if __name__ == "__main__":
    sys.exit(main())
