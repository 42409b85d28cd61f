#!/usr/bin/env python3
"""Checks the library's Debian packages, libqv3-1 and libqv3-dev, as Debian's tools and a
programmer would: their control fields and contents, lintian, and a C program (the one
in tests/capi) built against the unpacked -dev package with pkg-config --cflags --libs
qv3 and run on the bundled sample with the unpacked libqv3-1.

usage: libqv3_deb_test.py DIST
"""

import os
import re
import shutil
import subprocess
import sys
import tempfile

from common import ROOT, check, debian_arch, project_version, run, run_cases, summary

VERSION = DIST = UNPACKED = MULTIARCH = None


def deb(package):
    return os.path.join(DIST, "%s_%s_%s.deb" % (package, VERSION, debian_arch()))


def control(package):
    p = run(["dpkg-deb", "--field", deb(package)], text=True)
    check(p.returncode == 0, "dpkg-deb --field %s failed: %s" % (package, p.stderr))
    return dict(re.findall(r"^([A-Za-z-]+): (.*)$", p.stdout, re.M))


def contents(package):
    p = run(["dpkg-deb", "--contents", deb(package)], text=True)
    check(p.returncode == 0, "dpkg-deb --contents %s failed" % package)
    listed = {}
    for line in p.stdout.splitlines():
        mode, owner, _, _, _, name = line.split(None, 5)
        if not mode.startswith("d"):
            listed[name.split(" -> ")[0].lstrip(".")] = mode[0]
    return listed


def control_fields_tie_the_packages_together():
    lib, dev = control("libqv3-1"), control("libqv3-dev")
    for fields, package, section in ((lib, "libqv3-1", "libs"), (dev, "libqv3-dev", "libdevel")):
        for key, value in (("Package", package), ("Version", VERSION), ("Source", "qv3"),
                           ("Section", section), ("Multi-Arch", "same"), ("Architecture", debian_arch())):
            check(fields.get(key) == value, "%s: %s is %r, expected %r" % (package, key, fields.get(key), value))
    check("libc6" in lib.get("Depends", "") and "libstdc++6" in lib.get("Depends", ""),
          "libqv3-1 depends on %r, not on what dpkg-shlibdeps finds" % lib.get("Depends"))
    check(dev.get("Depends") == "libqv3-1 (= %s)" % VERSION, "libqv3-dev depends on %r" % dev.get("Depends"))


def contents_are_the_library_and_its_development_files():
    library = "/usr/lib/%s/" % MULTIARCH
    expected = {
        "libqv3-1": {library + "libqv3.so." + VERSION: "-", library + "libqv3.so.1": "l",
                     "/usr/share/doc/libqv3-1/copyright": "-", "/usr/share/doc/libqv3-1/changelog.gz": "-"},
        "libqv3-dev": {"/usr/include/qv3.h": "-", library + "libqv3.so": "l", library + "pkgconfig/qv3.pc": "-",
                       "/usr/share/doc/libqv3-dev/copyright": "-", "/usr/share/doc/libqv3-dev/changelog.gz": "-"},
    }
    for package, files in expected.items():
        check(contents(package) == files, "%s holds %s, expected %s" % (package, contents(package), files))
    qv3 = [name for name in contents("qv3") if "libqv3" in name or name.endswith((".h", ".pc"))]
    check(not qv3, "the qv3 package holds the library's files: %s" % qv3)
    p = run(["readelf", "-d", os.path.join(UNPACKED, library.lstrip("/"), "libqv3.so." + VERSION)], text=True)
    check("Library soname: [libqv3.so.1]" in p.stdout, "libqv3.so.%s names no SONAME libqv3.so.1" % VERSION)
    p = run(["dpkg-deb", "--ctrl-tarfile", deb("libqv3-1")])
    members = run(["tar", "-t"], input=p.stdout, stdin=None).stdout.decode()
    check("./shlibs" in members and "./triggers" in members, "libqv3-1's control has no shlibs or triggers: "
          + members)


def lintian_is_clean():
    p = run(["lintian", "--fail-on", "error,warning", "--no-tag-display-limit", deb("libqv3-1"),
             deb("libqv3-dev")], text=True, timeout=600)
    if p.stdout.strip():
        print("        lintian: " + p.stdout.strip().replace("\n", "\n        lintian: "))
    check(p.returncode == 0 and not re.search(r"^[EW]: ", p.stdout, re.M),
          "lintian failed (%d):\n%s%s" % (p.returncode, p.stdout, p.stderr))


def a_program_built_with_pkg_config_decrypts_and_encrypts_the_sample():
    environment = dict(os.environ, PKG_CONFIG_SYSROOT_DIR=UNPACKED,
                       PKG_CONFIG_LIBDIR=os.path.join(UNPACKED, "usr/lib", MULTIARCH, "pkgconfig"))
    p = run(["pkg-config", "--cflags", "--libs", "qv3"], text=True, env=environment)
    check(p.returncode == 0, "pkg-config --cflags --libs qv3 failed: %s" % p.stderr)
    flags = p.stdout.split()
    check("-lqv3" in flags and any(f.startswith("-I" + UNPACKED) for f in flags),
          "pkg-config says %r" % p.stdout)
    with tempfile.TemporaryDirectory(prefix="libqv3_deb_test.") as d:
        program = os.path.join(d, "qv3_sample")
        p = run(["cc", "-std=c99", "-Wall", "-Wextra", "-pedantic", "-Werror", "-o", program,
                 os.path.join(ROOT, "tests", "capi", "sample_program.c")] + flags, text=True)
        check(p.returncode == 0, "the C program does not build against libqv3-dev:\n" + p.stderr)
        needed = run(["readelf", "-d", program], text=True).stdout
        check("Shared library: [libqv3.so.1]" in needed, "the program does not need libqv3.so.1")
        p = run([sys.executable, os.path.join(ROOT, "tests", "capi", "run_sample.py"), program,
                 os.path.join(ROOT, "samples", "welcome.txt.aqv3"), os.path.join(ROOT, "samples", "welcome.password")],
                text=True, env=dict(os.environ, LD_LIBRARY_PATH=os.path.join(UNPACKED, "usr/lib", MULTIARCH)))
        check(p.returncode == 0, "the program failed on the sample:\n" + p.stdout + p.stderr)


def main():
    global VERSION, DIST, UNPACKED, MULTIARCH
    if len(sys.argv) != 2 or sys.argv[1].startswith("-"):
        print(__doc__.strip().splitlines()[-1])
        return 2
    VERSION = project_version()
    DIST = os.path.abspath(sys.argv[1])
    MULTIARCH = subprocess.run(["dpkg-architecture", "-qDEB_HOST_MULTIARCH"], capture_output=True, text=True,
                               check=True).stdout.strip()
    scratch = tempfile.mkdtemp(prefix="libqv3_deb_test.root.")
    try:
        UNPACKED = os.path.join(scratch, "root")
        for package in ("libqv3-1", "libqv3-dev"):
            if not os.path.isfile(deb(package)):
                print("libqv3_deb_test: no %s (scripts/package builds it)" % deb(package))
                return 1
            p = run(["dpkg", "-x", deb(package), UNPACKED], text=True)
            if p.returncode != 0:
                print("libqv3_deb_test: dpkg -x failed: %s" % p.stderr)
                return 1
        cases = [control_fields_tie_the_packages_together, contents_are_the_library_and_its_development_files,
                 lintian_is_clean, a_program_built_with_pkg_config_decrypts_and_encrypts_the_sample]
        failed = run_cases(cases)
        summary(len(cases) - failed, failed)
        return 1 if failed else 0
    finally:
        shutil.rmtree(scratch, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
