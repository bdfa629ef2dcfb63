#!/usr/bin/env python3
"""How the tests start Wine (wine.py 32|64 PROGRAM ARGS...): each word size through its own loader, named by
WINELOADER too (Debian's `wine` script picks the 32-bit loader whenever wine32 is installed, which fails on a kernel
that cannot run 32-bit programs). `wine.py 32|64 --prefix` probes once, makes the prefix WINEPREFIX names and starts a
Wine server for the tests; where the kernel refuses the loader, it leaves the reason next to the prefix, and every run
prints it and exits with 77 (CTest: skipped)."""
import errno
import os
import subprocess
import sys
from pathlib import Path

bits, argv = sys.argv[1], sys.argv[2:]
loader = "/usr/lib/wine/wine" if bits == "32" else "/usr/lib/wine/wine64"
os.environ.update(WINELOADER=loader, WINEDEBUG=os.environ.get("WINEDEBUG", "-all"))
skip_file = os.environ["WINEPREFIX"].rstrip("/") + ".skip"

if argv == ["--prefix"]:
    Path(skip_file).unlink(missing_ok=True)
    try:
        subprocess.run([loader, "--version"], stdout=subprocess.DEVNULL, check=True)
        subprocess.run([loader, "wineboot", "--init"], check=True, timeout=300)
        subprocess.run(["wineserver", "-w"], check=True, timeout=300)
        # A server that outlives each program (one started by a test's program
        # would hold that test's output pipes open until it ends). It goes to
        # the background by itself; a first client starts its clock, so it
        # ends 10 s after the last program.
        quiet = dict(stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        subprocess.run(["wineserver", "-p10"], check=True, **quiet)
        subprocess.run([loader, "cmd", "/c", "exit"], check=True, **quiet)
    except OSError as e:
        if e.errno != errno.ENOEXEC:
            raise
        Path(skip_file).write_text(f"this machine cannot run {bits}-bit programs ({loader}: {e.strerror})\n")
if os.path.exists(skip_file):
    print(f"SKIP: {Path(skip_file).read_text().strip()}")
    sys.exit(77)
if argv != ["--prefix"]:
    os.execv(loader, [loader] + argv)
