#!/usr/bin/env python3
"""Makes the release packages of a build, the same bytes from the same source however it arrives (a git clone, a
source tarball, a clone git will not read) and whoever builds it: every time stamp is that of the newest entry of
packaging/changelog, members go in name order with root as their owner and fixed modes, and gzip stores no name and
no time.

    package.py BUILD_DIR SOURCE_DIR NAME.zip                the Windows ZIP
    package.py BUILD_DIR SOURCE_DIR NAME.tar.gz CONTROL DEB  the Linux .tar.gz, and the .deb DEB with this control
                                                           file

Each archive holds one folder NAME; the .deb holds the same tree under /usr, its
manual pages naming the examples' folder there. SOURCE_DATE_EPOCH, when it is set,
takes the place of the changelog's date.
"""
import email.utils
import hashlib
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time
import zipfile

# The trailer line of a Debian changelog entry: " -- NAME <ADDRESS>  DATE".
TRAILER = re.compile(r"^ -- .*>  (.*)$", re.M)


def changelog_date(changelog):
    """The time of the newest entry, as `dpkg-parsechangelog -STimestamp` gives it, or exit with the reason."""
    try:
        with open(changelog) as f:
            found = TRAILER.search(f.read())
    except OSError as e:
        sys.exit(f"package.py: cannot date the packages: {changelog}: {e.strerror}")
    if not found:
        sys.exit(f"package.py: cannot date the packages: {changelog} has no entry with a ' -- NAME <ADDRESS>  DATE' line")
    date = email.utils.parsedate_tz(found[1])
    # The zone must be numeric and known: "-0000", like no zone at all, means
    # an unknown one, which would leave the time to whoever reads it.
    if date is None or not re.search(r" [+-]\d{4}$", found[1]) or found[1].endswith("-0000"):
        sys.exit(f"package.py: cannot date the packages: {changelog}: the newest entry's date {found[1]!r} is not "
                 "an RFC 2822 date with a time zone such as +0000")
    return email.utils.mktime_tz(date)


def normalize(root, epoch):
    """Gives `root` and every entry below it the time `epoch` and the mode 755
    (folders, programs) or 644; returns the entries below, in name order."""
    entries = sorted(os.path.relpath(os.path.join(folder, name), root)
                     for folder, folders, files in os.walk(root) for name in folders + files)
    for path in [root] + [os.path.join(root, entry) for entry in entries]:
        os.chmod(path, 0o755 if os.path.isdir(path) or os.stat(path).st_mode & 0o100 else 0o644)
        os.utime(path, (epoch, epoch))
    return entries


def make_zip(stage, top, entries, epoch, out):
    stamp = time.gmtime(epoch)[:6]
    with zipfile.ZipFile(out, "w") as archive:
        for entry in entries:
            path = os.path.join(stage, top, entry)
            if os.path.isdir(path):
                continue
            info = zipfile.ZipInfo(f"{top}/{entry}", stamp)
            info.create_system, info.external_attr = 3, os.stat(path).st_mode << 16
            with open(path, "rb") as f:
                archive.writestr(info, f.read(), zipfile.ZIP_DEFLATED, 9)


def make_tar_gz(stage, top, epoch, out):
    """The reproducible-builds recipe: GNU tar in name order, one time, root as owner, modes from the owner's."""
    tar = ["tar", "--sort=name", "--format=gnu", f"--mtime=@{epoch}", "--owner=0", "--group=0", "--numeric-owner",
           "--mode=u=rwX,go=rX", "-C", stage, "-cf", "-", top]
    c_locale = dict(os.environ, LC_ALL="C")
    with open(out, "wb") as f:
        archive = subprocess.Popen(tar, stdout=subprocess.PIPE, env=c_locale)
        subprocess.run(["gzip", "-9n"], stdin=archive.stdout, stdout=f, check=True, env=c_locale)
        if archive.wait():
            sys.exit("package.py: tar failed")


def shared_library_depends(root):
    """The Depends of the dynamically linked programs, as dpkg-shlibdeps finds them (it wants a source tree)."""
    with tempfile.TemporaryDirectory(prefix="rastrel-shlibs-") as source:
        os.mkdir(os.path.join(source, "debian"))
        with open(os.path.join(source, "debian", "control"), "w") as f:
            f.write("Source: rastrel\n\nPackage: rastrel\nArchitecture: any\n")
        found = subprocess.run(["dpkg-shlibdeps", "-O", "--warnings=0", "-e" + os.path.join(root, "usr/bin/rastrel-map")],
                               cwd=source, check=True, stdout=subprocess.PIPE, text=True).stdout
    return found.strip().removeprefix("shlibs:Depends=")


def make_deb(root, entries, control, epoch, out):
    """A .deb of the tree below `root`: `entries`, which are all below usr/."""
    files = [e for e in entries if os.path.isfile(os.path.join(root, e))]
    kib = sum(-(-os.path.getsize(os.path.join(root, e)) // 1024) for e in files) + len(entries) - len(files)
    depends = shared_library_depends(root)
    os.mkdir(os.path.join(root, "DEBIAN"))
    with open(control) as f, open(os.path.join(root, "DEBIAN", "control"), "w") as written:
        written.write(f.read() + f"Depends: {depends}\nInstalled-Size: {kib}\n")
    with open(os.path.join(root, "DEBIAN", "md5sums"), "w") as sums:
        for entry in files:
            with open(os.path.join(root, entry), "rb") as f:
                sums.write(f"{hashlib.md5(f.read()).hexdigest()}  {entry}\n")
    normalize(root, epoch)
    # dpkg-deb sorts the members and takes its own time from SOURCE_DATE_EPOCH;
    # the compression is named, as other dpkg versions default to others.
    subprocess.run(["dpkg-deb", "-Zxz", "--root-owner-group", "--build", root, out], check=True,
                   stdout=subprocess.DEVNULL, env=dict(os.environ, SOURCE_DATE_EPOCH=str(epoch)))


def package_date(source_dir):
    """SOURCE_DATE_EPOCH when it is set, a whole number of seconds; else the changelog's date."""
    given = os.environ.get("SOURCE_DATE_EPOCH")
    if not given:
        return changelog_date(os.path.join(source_dir, "packaging", "changelog"))
    if not re.fullmatch(r"[0-9]+", given):
        sys.exit(f"package.py: cannot date the packages: SOURCE_DATE_EPOCH={given!r} is not a whole number of seconds")
    return int(given)


def main():
    build_dir, source_dir, archive = sys.argv[1:4]
    epoch = package_date(source_dir)
    stage = os.path.join(build_dir, "package-stage")
    shutil.rmtree(stage, ignore_errors=True)
    top = re.sub(r"\.(zip|tar\.gz)$", "", archive)
    # The archives unpack anywhere: their manual pages say where the examples
    # are relative to the folder they were unpacked or copied into.
    install(build_dir, os.path.join(stage, top), RASTREL_RELOCATABLE_PAGES="1")
    entries = normalize(os.path.join(stage, top), epoch)
    out = os.path.join(build_dir, archive)
    if archive.endswith(".zip"):
        make_zip(stage, top, entries, epoch, out)
    else:
        make_tar_gz(stage, top, epoch, out)
        deb_root = os.path.join(stage, "deb")
        install(build_dir, "/usr", DESTDIR=os.path.abspath(deb_root))
        make_deb(deb_root, normalize(deb_root, epoch), sys.argv[4], epoch, os.path.join(build_dir, sys.argv[5]))
    shutil.rmtree(stage)


def install(build_dir, prefix, **settings):
    env = {name: value for name, value in os.environ.items() if name not in ("DESTDIR", "RASTREL_RELOCATABLE_PAGES")}
    subprocess.run(["cmake", "--install", build_dir, "--prefix", prefix], check=True, stdout=subprocess.DEVNULL,
                   env=dict(env, **settings))


if __name__ == "__main__":
    main()
