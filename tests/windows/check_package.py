#!/usr/bin/env python3
"""Checks a Windows build: each program imports only DLLs that every Windows
has, and the ZIP package holds exactly the programs, the README and the
licence."""
import argparse
import os
import subprocess
import sys
import tempfile
import zipfile

sys.path.insert(0, os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
from checks import check, finish, problem  # noqa: E402

SYSTEM_DLLS = {"kernel32.dll", "user32.dll", "msvcrt.dll", "advapi32.dll", "ntdll.dll"}
PROGRAMS = ["rastrel1.exe", "rastrel2.exe"]


def imported_dlls(objdump, exe):
    listing = subprocess.run([objdump, "-p", exe], check=True, capture_output=True, text=True).stdout
    return {line.split("DLL Name:")[1].strip().lower() for line in listing.splitlines() if "DLL Name:" in line}


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build-dir", required=True)
    parser.add_argument("--objdump", required=True)
    parser.add_argument("--name", required=True)
    options = parser.parse_args()
    for program in PROGRAMS:
        dlls = imported_dlls(options.objdump, os.path.join(options.build_dir, program))
        print(f"{program} imports {sorted(dlls)}")
        if not dlls or dlls - SYSTEM_DLLS:
            problem(f"{program} needs DLLs beyond the system's: {sorted(dlls - SYSTEM_DLLS)}")
    with tempfile.TemporaryDirectory() as out:
        subprocess.run(["cpack", "--config", os.path.join(options.build_dir, "CPackConfig.cmake"), "-B", out],
                       check=True, capture_output=True)
        archive = os.path.join(out, options.name + ".zip")
        names = sorted(zipfile.ZipFile(archive).namelist())
    want = sorted(f"{options.name}/{f}" for f in PROGRAMS + ["README.md", "LICENSE"])
    print(f"{options.name}.zip holds {names}")
    check("package", names, want)
    return finish()


if __name__ == "__main__":
    sys.exit(main())
