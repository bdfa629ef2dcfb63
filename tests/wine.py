#!/usr/bin/env python3
"""How the tests start Wine, for CMake and the end-to-end runner: each word
size through its own loader, with WINELOADER naming it (Debian's `wine` script
picks the 32-bit loader whenever wine32 is installed, which fails on a kernel
that cannot run 32-bit programs, even for 64-bit ones).

    wine.py 32|64 --prefix         probe once, then make the prefix WINEPREFIX names
    wine.py 32|64 PROGRAM ARGS...  run a Windows program

Where the kernel refuses the loader's format, the probe leaves the reason next
to the prefix, and every run prints it and exits with SKIP (CTest: skipped).
"""
import errno
import os
import subprocess
import sys

SKIP = 77


def loader(bits):
    # The tests may point the 32-bit one at a file that cannot run, to play a
    # machine without 32-bit support.
    return (os.environ.get("RASTREL_TEST_WINE32_LOADER", "/usr/lib/wine/wine") if bits == "32"
            else "/usr/lib/wine/wine64")


def environment(bits):
    return dict(os.environ, WINELOADER=loader(bits), WINEDEBUG=os.environ.get("WINEDEBUG", "-all"))


def command(bits, argv):
    return [loader(bits)] + list(argv)


def skip_file():
    return os.environ["WINEPREFIX"].rstrip("/") + ".skip"


def skip_reason():
    if os.path.exists(skip_file()):
        with open(skip_file()) as f:
            return f.read().strip()
    return None


def make_prefix(bits):
    if os.path.exists(skip_file()):
        os.remove(skip_file())
    try:
        subprocess.run(command(bits, ["--version"]), env=environment(bits), stdout=subprocess.DEVNULL, check=True)
    except OSError as e:
        if e.errno != errno.ENOEXEC:
            raise
        with open(skip_file(), "w") as f:
            f.write(f"this machine cannot run {bits}-bit programs ({loader(bits)}: {e.strerror})\n")
        return
    subprocess.run(command(bits, ["wineboot", "--init"]), env=environment(bits), check=True, timeout=300)
    subprocess.run(["wineserver", "-w"], env=environment(bits), check=True, timeout=300)


if __name__ == "__main__":
    bits, argv = sys.argv[1], sys.argv[2:]
    if argv == ["--prefix"]:
        make_prefix(bits)
    if skip_reason():
        print(f"SKIP: {skip_reason()}")
        sys.exit(SKIP)
    if argv != ["--prefix"]:
        os.execve(loader(bits), command(bits, argv), environment(bits))
