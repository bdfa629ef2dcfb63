#!/usr/bin/env python3
"""Makes the release packages of a build, the same bytes from the same commit
whatever the folder and the time of the build: every time stamp is the
commit's, archive members go in name order with root as their owner and fixed
modes, and gzip stores no name and no time.

    package.py BUILD_DIR SOURCE_DIR NAME.zip                the Windows ZIP
    package.py BUILD_DIR SOURCE_DIR NAME.tar.gz CONTROL DEB  the Linux .tar.gz,
                                                           and the .deb DEB with
                                                           this control file

Each archive holds one folder NAME; the .deb holds the same tree under /usr.
The time is SOURCE_DATE_EPOCH when it is set, otherwise the time of the last
commit, and outside a git checkout the date of the newest entry of
packaging/changelog.
"""
import email.utils
import gzip
import hashlib
import os
import shutil
import subprocess
import sys
import tarfile
import time
import zipfile


def source_date(source_dir):
    if os.environ.get("SOURCE_DATE_EPOCH"):
        return int(os.environ["SOURCE_DATE_EPOCH"])
    git = subprocess.run(["git", "-C", source_dir, "log", "-1", "--format=%ct"], capture_output=True, text=True)
    if git.returncode == 0 and git.stdout.strip():
        return int(git.stdout)
    with open(os.path.join(source_dir, "packaging", "changelog")) as f:
        signature = next(line for line in f if line.startswith(" -- "))
    return int(email.utils.parsedate_to_datetime(signature.split("  ")[-1]).timestamp())


def normalize(root, epoch):
    """Gives `root` and every entry below it the time `epoch` and the mode 755
    (folders, programs) or 644; returns the entries below, in name order."""
    entries = sorted(os.path.relpath(os.path.join(folder, name), root)
                     for folder, folders, files in os.walk(root) for name in folders + files)
    for path in [root] + [os.path.join(root, entry) for entry in entries]:
        os.chmod(path, 0o755 if os.path.isdir(path) or os.stat(path).st_mode & 0o100 else 0o644)
        os.utime(path, (epoch, epoch))
    return entries


def make_zip(root, entries, top, epoch, out):
    stamp = time.gmtime(epoch)[:6]
    with zipfile.ZipFile(out, "w") as archive:
        for entry in entries:
            path = os.path.join(root, entry)
            if os.path.isdir(path):
                continue
            info = zipfile.ZipInfo(f"{top}/{entry}", stamp)
            info.create_system, info.external_attr = 3, os.stat(path).st_mode << 16
            with open(path, "rb") as f:
                archive.writestr(info, f.read(), zipfile.ZIP_DEFLATED, 9)


def make_tar_gz(root, entries, top, out):
    def as_root(info):
        info.uid = info.gid = 0
        info.uname = info.gname = "root"
        return info
    with open(out, "wb") as f, gzip.GzipFile("", "wb", 9, f, mtime=0) as packed, \
            tarfile.open(fileobj=packed, mode="w", format=tarfile.GNU_FORMAT) as archive:
        for entry in entries:
            archive.add(os.path.join(root, entry), f"{top}/{entry}", recursive=False, filter=as_root)


def make_deb(root, entries, control, epoch, out):
    """A .deb of the tree below `root`: `entries`, which are all below usr/."""
    files = [e for e in entries if os.path.isfile(os.path.join(root, e))]
    kib = sum(-(-os.path.getsize(os.path.join(root, e)) // 1024) for e in files) + len(entries) - len(files)
    os.mkdir(os.path.join(root, "DEBIAN"))
    with open(control) as f, open(os.path.join(root, "DEBIAN", "control"), "w") as written:
        written.write(f.read() + f"Installed-Size: {kib}\n")
    with open(os.path.join(root, "DEBIAN", "md5sums"), "w") as sums:
        for entry in files:
            with open(os.path.join(root, entry), "rb") as f:
                sums.write(f"{hashlib.md5(f.read()).hexdigest()}  {entry}\n")
    normalize(root, epoch)
    # dpkg-deb sorts the members and takes its own time from SOURCE_DATE_EPOCH.
    subprocess.run(["dpkg-deb", "--root-owner-group", "--build", root, out], check=True, stdout=subprocess.DEVNULL,
                   env=dict(os.environ, SOURCE_DATE_EPOCH=str(epoch)))


def main():
    build_dir, source_dir, archive = sys.argv[1:4]
    epoch = source_date(source_dir)
    stage = os.path.join(build_dir, "package-stage")
    shutil.rmtree(stage, ignore_errors=True)
    tree = os.path.join(stage, "usr")
    subprocess.run(["cmake", "--install", build_dir, "--prefix", tree], check=True, stdout=subprocess.DEVNULL)
    entries = normalize(tree, epoch)
    out = os.path.join(build_dir, archive)
    if archive.endswith(".zip"):
        make_zip(tree, entries, archive.removesuffix(".zip"), epoch, out)
    else:
        make_tar_gz(tree, entries, archive.removesuffix(".tar.gz"), out)
        usr_entries = ["usr"] + [os.path.join("usr", entry) for entry in entries]
        make_deb(stage, usr_entries, sys.argv[4], epoch, os.path.join(build_dir, sys.argv[5]))
    shutil.rmtree(stage)


if __name__ == "__main__":
    main()
