#!/usr/bin/env python3
"""End-to-end runner: starts a built program in a fresh temporary directory
for each case and compares stdout, stderr, the exit status and every file
left in the directory, byte for byte.

The same cases run a native build or a Windows build under Wine (--wine gives
its word size, --suffix its file ending).
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
    """Every entry below `directory`: bytes for a file, DIR for a directory,
    ('link', target) for a symbolic link (never followed)."""
    found = {}
    for root, dirs, files in os.walk(directory):
        for name in dirs + files:
            path = os.path.join(root, name)
            key = os.path.relpath(path, directory)
            if os.path.islink(path):
                found[key] = ("link", os.readlink(path))
            elif os.path.isdir(path):
                found[key] = cases.DIR
            else:
                with open(path, "rb") as f:
                    found[key] = f.read()
    return found


def describe(value):
    if isinstance(value, bytes) and len(value) > 400:
        return repr(value[:200]) + f"... ({len(value)} bytes)"
    return repr(value)


def child_setup(case):
    def run():
        for name, value in case.limits.items():
            resource.setrlimit(getattr(resource, "RLIMIT_" + name), (value, value))
        if case.stdout == "closed":
            os.close(1)
    return run


def windows_command(program, command_line, script_dir):
    """Starts the program through cmd with `command_line` exactly as typed,
    so the program splits the raw text itself, as it does on Windows."""
    script = os.path.join(script_dir, "run.cmd")
    with open(script, "wb") as f:
        f.write(b"@Z:" + program.replace("/", "\\").encode() + b" " + command_line.encode("cp1252") + b"\r\n")
    return ["cmd", "/c", "Z:" + script.replace("/", "\\")]


def start(case, options, program, work, script_dir):
    stdout_target = subprocess.PIPE  # "pipe", and "closed" (closed in the child)
    if case.stdout == "full":
        stdout_target = os.open("/dev/full", os.O_WRONLY)
    elif case.stdout == "broken pipe":
        reader, stdout_target = os.pipe()
        os.close(reader)
    argv = [program] + (case.args or [])
    if case.command_line is not None:
        argv = windows_command(program, case.command_line, script_dir)
    env = None
    if options.wine:
        argv, env = wine.command(options.wine, argv), wine.environment(options.wine)
    cwd = work
    if case.remove_cwd:
        # The shell removes its own directory, then becomes the program.
        cwd = os.path.join(work, "gone")
        os.mkdir(cwd)
        argv = ["sh", "-c", 'rmdir "$PWD" && exec "$@"', "sh"] + argv
    process = subprocess.Popen(argv, cwd=cwd, stdin=subprocess.PIPE, stdout=stdout_target, stderr=subprocess.PIPE,
                               preexec_fn=child_setup(case), env=env)
    if stdout_target != subprocess.PIPE:
        os.close(stdout_target)
    return process


def run_case(case, options, program, addresses):
    with tempfile.TemporaryDirectory(prefix="rastrel-e2e-") as work, \
            tempfile.TemporaryDirectory(prefix="rastrel-cmd-") as script_dir:
        if case.setup:
            case.setup(work)
        before = snapshot(work)
        process = start(case, options, program, work, script_dir)
        stdout, stderr = process.communicate(case.stdin, timeout=120)
        after = snapshot(work)
    addresses.update(int(found, 16) for found in ADDRESS.findall(stderr))
    expected_stderr = case.expected_stderr(os.path.basename(program))
    problems = []
    if case.stdout == "pipe" and stdout != case.out:
        problems.append(f"stdout: got {describe(stdout)}, want {describe(case.out)}")
    if ADDRESS.sub(b"at XXXXXXXX.\r\n", stderr) != expected_stderr:
        problems.append(f"stderr: got {describe(stderr)}, want {describe(expected_stderr)}")
    if process.returncode != case.status:
        problems.append(f"exit status: got {process.returncode}, want {case.status}")
    want_files = before if case.files is None else case.files
    for name in sorted(set(after) | set(want_files)):
        if after.get(name) != want_files.get(name):
            problems.append(f"{name}: got {describe(after.get(name))}, want {describe(want_files.get(name))}")
    return problems


def address_problems(addresses, program):
    """The report's code address is relative to the program's load address,
    so it lies inside the program, and it tells failure sites apart."""
    size = os.path.getsize(program)
    problems = [f"code address {a:08X} lies beyond the program's {size} bytes" for a in addresses if a >= size]
    if len(addresses) < 2:
        problems.append(f"every failure site reported the same code address: {addresses}")
    return problems


def start_wine_server(options):
    """Keeps one Wine server running between the program starts, ending by
    itself a few seconds after the last. Without it each start would launch a
    server that inherits the case's output pipes and holds them open."""
    env = wine.environment(options.wine)
    subprocess.Popen(["wineserver", "-f", "-p5"], stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                     stderr=subprocess.DEVNULL, start_new_session=True, env=env)
    subprocess.run(wine.command(options.wine, ["cmd", "/c", "exit"]), stdin=subprocess.DEVNULL,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=120, env=env, check=True)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--program", required=True)
    parser.add_argument("--bin-dir", required=True)
    parser.add_argument("--suffix", default="")
    parser.add_argument("--wine", help="word size (32 or 64) of a Windows build run under Wine")
    parser.add_argument("--tile-host", default="tiles.example.com")
    parser.add_argument("--buffer-size", type=int, default=128, help="the build's file buffer size")
    parser.add_argument("--sanitized", action="store_true", help="the programs run under sanitizers")
    parser.add_argument("--only", help="run only cases whose name contains this text")
    options = parser.parse_args()
    program = os.path.join(os.path.abspath(options.bin_dir), options.program + options.suffix)
    windows = options.suffix == ".exe"
    if options.wine:
        if wine.skip_reason():
            print(f"SKIP: {wine.skip_reason()}")
            return wine.SKIP
        start_wine_server(options)
    with open(program, "rb") as f:
        dynamic = b"/ld-linux" in f.read(4096)  # the ELF interpreter of a dynamic program
    passed = failed = skipped = 0
    addresses = set()
    for case in cases.all_cases(options.program, options.tile_host, windows, options.buffer_size):
        if options.only and options.only not in case.name:
            continue
        skip = case.skip_reason(windows, options.sanitized, dynamic)
        if skip:
            print(f"SKIP {case.name}: {skip}")
            skipped += 1
            continue
        problems = run_case(case, options, program, addresses)
        print(f"{'FAIL' if problems else 'ok  '} {case.name}")
        for problem in problems:
            print(f"    {problem}")
        failed += bool(problems)
        passed += not problems
    for problem in [] if options.only else address_problems(addresses, program):
        print(f"FAIL {problem}")
        failed += 1
    print(f"{passed} passed, {failed} failed, {skipped} skipped")
    return 1 if failed or not passed else 0


if __name__ == "__main__":
    sys.exit(main())
