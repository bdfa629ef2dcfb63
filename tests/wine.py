#!/usr/bin/env python3
"""How the tests start Wine: the one place that decides it, for CMake, the
end-to-end runner and the real-tools test.

Each word size has its own loader, started directly with WINELOADER naming
it. Debian's `wine` script picks the 32-bit loader whenever wine32 is
installed, so on a kernel that cannot run 32-bit programs it fails even for
64-bit programs and Wine's own cmd.

    wine.py 32|64 --prefix         makes the Wine prefix named by WINEPREFIX,
                                   after probing once whether the loader runs
    wine.py 32|64 PROGRAM ARGS...  runs a Windows program

Where the machine cannot run the loader's programs at all, the probe leaves
the reason next to the prefix and every later run prints it and exits with
SKIP, which CTest reports as skipped. Any other failure is a failure.
"""
import errno
import os
import subprocess
import sys

SKIP = 77
LOADERS = {"32": "/usr/lib/wine/wine", "64": "/usr/lib/wine/wine64"}


def loader(bits):
    if bits == "32":
        # Tests may point this at a file that cannot run, to play a machine
        # without 32-bit support.
        return os.environ.get("RASTREL_TEST_WINE32_LOADER", LOADERS["32"])
    return LOADERS["64"]


def environment(bits, base=None):
    env = dict(os.environ if base is None else base)
    env["WINELOADER"] = loader(bits)
    env.setdefault("WINEDEBUG", "-all")
    return env


def command(bits, argv):
    return [loader(bits)] + list(argv)


def skip_file():
    return os.environ["WINEPREFIX"].rstrip("/") + ".skip"


def skip_reason():
    """The probe's reason to skip, or None where the loader runs."""
    try:
        with open(skip_file()) as f:
            return f.read().strip()
    except (FileNotFoundError, KeyError):
        return None


def probe(bits):
    """Starts the loader once. Only a kernel that refuses its format is a
    reason to skip; a loader missing or failing otherwise raises."""
    try:
        subprocess.run(command(bits, ["--version"]), env=environment(bits), stdout=subprocess.DEVNULL,
                       check=True, timeout=60)
    except OSError as e:
        if e.errno != errno.ENOEXEC:
            raise
        return f"this machine cannot run {bits}-bit programs ({loader(bits)}: {e.strerror})"
    return None


def make_prefix(bits):
    if os.path.exists(skip_file()):
        os.remove(skip_file())
    reason = probe(bits)
    if reason:
        with open(skip_file(), "w") as f:
            f.write(reason + "\n")
        return reason
    subprocess.run(command(bits, ["wineboot", "--init"]), env=environment(bits), check=True, timeout=300)
    subprocess.run(["wineserver", "-w"], env=environment(bits), check=True, timeout=300)
    return None


def main(bits, argv):
    reason = make_prefix(bits) if argv == ["--prefix"] else skip_reason()
    if reason:
        print(f"SKIP: {reason}")
        return SKIP
    if argv == ["--prefix"]:
        return 0
    os.execve(loader(bits), command(bits, argv), environment(bits))


if __name__ == "__main__":
    sys.exit(main(sys.argv[1], sys.argv[2:]))
