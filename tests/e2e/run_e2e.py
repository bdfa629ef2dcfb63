#!/usr/bin/env python3
"""End-to-end runner: starts a built program in a fresh temporary directory
for each case and compares stdout, stderr, the exit status and every file
left in the directory, byte for byte. The same cases run a native build or a
Windows build under Wine (--wine gives its word size).
"""
import argparse
import os
import re
import resource
import subprocess
import sys
import tempfile

import cases

sys.path.insert(0, os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
import wine  # noqa: E402

ADDRESS = re.compile(rb"at ([0-9A-F]{8})\.\r\n")


def snapshot(directory):
    """Every entry of `directory`: bytes for a file, DIR for a directory,
    ('link', target) for a symbolic link (never followed)."""
    found = {}
    for name in os.listdir(directory):
        path = os.path.join(directory, name)
        if os.path.islink(path) or os.path.isdir(path):
            found[name] = ("link", os.readlink(path)) if os.path.islink(path) else cases.DIR
        else:
            with open(path, "rb") as f:
                found[name] = f.read()
    return found


def child_setup(case):
    def run():
        for name, value in case.limits.items():
            resource.setrlimit(getattr(resource, "RLIMIT_" + name), (value, value))
        if case.stdout == "closed":
            os.close(1)
    return run


def start(case, options, program, work):
    stdout = subprocess.PIPE  # also for "closed": closed in the child
    if case.stdout == "broken pipe":
        reader, stdout = os.pipe()
        os.close(reader)
    argv, executable = [program] + (case.args or []), None
    if case.argv0 is not None and not options.wine:
        argv[0], executable = case.argv0, program
    if case.command_line is not None:
        # Through cmd with the command line exactly as typed, so the program
        # splits the raw text itself, as it does on Windows.
        with open(os.path.join(work, "..", "run.cmd"), "wb") as f:
            f.write(b"@Z:" + program.replace("/", "\\").encode() + b" " + case.command_line.encode("cp1252") + b"\r\n")
        argv = ["cmd", "/c", "Z:" + os.path.abspath(f.name).replace("/", "\\")]
    env = None
    if options.wine:
        argv, env = wine.command(options.wine, argv), wine.environment(options.wine)
    if case.remove_cwd:
        # The shell removes its own directory, then becomes the program.
        work = os.path.join(work, "gone")
        os.mkdir(work)
        argv = ["sh", "-c", 'rmdir "$PWD" && exec "$@"', "sh"] + argv
    stdin = os.open(work, os.O_RDONLY) if case.stdin == cases.DIR else subprocess.PIPE
    process = subprocess.Popen(argv, executable=executable, cwd=work, stdin=stdin, stdout=stdout, stderr=subprocess.PIPE,
                               preexec_fn=child_setup(case), env=env)
    for end in (stdin, stdout):
        if end != subprocess.PIPE:
            os.close(end)
    return process


def run_case(case, options, program, addresses):
    with tempfile.TemporaryDirectory(prefix="rastrel-e2e-") as top:
        work = os.path.join(top, "work")
        os.mkdir(work)
        if case.setup:
            case.setup(work)
        before = snapshot(work)
        process = start(case, options, program, work)
        stdout, stderr = process.communicate(None if case.stdin == cases.DIR else case.stdin, timeout=120)
        after = snapshot(work)
    addresses.update(int(found, 16) for found in ADDRESS.findall(stderr))
    want = {"stdout": case.out if case.stdout == "pipe" else None, "exit status": case.status,
            "stderr": case.expected_stderr(os.path.basename(program)), **(before if case.files is None else case.files)}
    got = {"stdout": stdout if case.stdout == "pipe" else None, "exit status": process.returncode,
           "stderr": ADDRESS.sub(b"at XXXXXXXX.\r\n", stderr), **after}
    return [f"{name}: got {got.get(name)!r:.300}, want {want.get(name)!r:.300}"
            for name in sorted(set(got) | set(want), key=str) if got.get(name) != want.get(name)]


def address_problems(addresses, program):
    """The report's code address is relative to the program's load address,
    so it lies inside the program, and it tells failure sites apart."""
    size = os.path.getsize(program)
    problems = [f"code address {a:08X} lies beyond the program's {size} bytes" for a in addresses if a >= size]
    return problems + ([f"every failure site reported the same code address: {addresses}"] if len(addresses) < 2 else [])


def start_wine_server(options):
    """Keeps one Wine server running between the program starts, ending by
    itself a few seconds after the last. Without it each start would launch a
    server that inherits the case's output pipes and holds them open."""
    env, quiet = wine.environment(options.wine), subprocess.DEVNULL
    subprocess.Popen(["wineserver", "-f", "-p5"], stdin=quiet, stdout=quiet, stderr=quiet, start_new_session=True,
                     env=env)
    subprocess.run(wine.command(options.wine, ["cmd", "/c", "exit"]), stdin=quiet, stdout=quiet, stderr=quiet,
                   timeout=120, env=env, check=True)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--program", required=True)
    parser.add_argument("--bin-dir", required=True)
    parser.add_argument("--wine", help="word size (32 or 64) of a Windows build run under Wine")
    parser.add_argument("--tile-host", default="tiles.example.com")
    parser.add_argument("--buffer-size", type=int, default=128, help="the build's file buffer size")
    parser.add_argument("--sanitized", action="store_true", help="the programs run under sanitizers")
    parser.add_argument("--only", help="run only cases whose name contains this text")
    options = parser.parse_args()
    program = os.path.join(os.path.abspath(options.bin_dir), options.program + (".exe" if options.wine else ""))
    if options.wine:
        if wine.skip_reason():
            print(f"SKIP: {wine.skip_reason()}")
            return wine.SKIP
        start_wine_server(options)
    with open(program, "rb") as f:
        dynamic = b"/ld-linux" in f.read(4096)  # the ELF interpreter of a dynamic program
    passed = failed = skipped = 0
    addresses = set()
    for case in cases.all_cases(options.program, options.tile_host, options.buffer_size):
        if options.only and options.only not in case.name:
            continue
        skip = case.skip_reason(bool(options.wine), options.sanitized, dynamic)
        if skip:
            print(f"SKIP {case.name}: {skip}")
            skipped += 1
            continue
        problems = run_case(case, options, program, addresses)
        print(f"{'FAIL' if problems else 'ok  '} {case.name}" + "".join(f"\n    {p}" for p in problems))
        failed += bool(problems)
        passed += not problems
    for problem in [] if options.only else address_problems(addresses, program):
        print(f"FAIL {problem}")
        failed += 1
    print(f"{passed} passed, {failed} failed, {skipped} skipped")
    return 1 if failed or not passed else 0


if __name__ == "__main__":
    sys.exit(main())
