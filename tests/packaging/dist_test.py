#!/usr/bin/env python3
"""Checks the folder scripts/package fills, without installing anything: SHA256SUMS, the
portable zips and the programs in them (architecture, version resource), the read-me, and
the tables of both Windows installers (msiinfo, msiextract), so the installer of an
architecture this machine cannot run is checked too.

usage: dist_test.py DIST
"""

import hashlib
import os
import re
import sys
import tempfile
import zipfile

from common import (artifact_names, check, debian_arch, pe_header, project_version, run,
                    run_cases, summary, version_info)

DIST = None
VERSION = None
ARCHES = {"x86": ("win32", "i386", "Intel"), "x64": ("win64", "x86-64", "x64")}
PROGRAMS = {"TarvessinViewer.exe": "gui", "qv3.exe": "console"}


def path(name):
    return os.path.join(DIST, name)


def zip_programs(zip_arch):
    """{name: bytes} of a portable zip, its layout checked."""
    name = "TarvessinViewer-%s-%s" % (VERSION, zip_arch)
    with zipfile.ZipFile(path(name + ".zip")) as z:
        entries = sorted(z.namelist())
        expected = sorted([name + "/"] + [name + "/" + f for f in list(PROGRAMS) + ["README.txt"]])
        check(entries == expected, "%s.zip holds %s, expected %s" % (name, entries, expected))
        return {f: z.read(name + "/" + f) for f in list(PROGRAMS) + ["README.txt"]}


def msi_table(msi, table):
    """The rows of one table, as tuples of texts (msiinfo export)."""
    p = run(["msiinfo", "export", msi, table], text=True)
    check(p.returncode == 0, "msiinfo export %s %s failed: %s" % (msi, table, p.stderr))
    lines = p.stdout.replace("\r\n", "\n").split("\n")[3:]
    return sorted(tuple(line.split("\t")) for line in lines if line)


def msi_properties(msi):
    return dict(row[:2] for row in msi_table(msi, "Property"))


# --- cases -----------------------------------------------------------------------------------


def sha256sums_list_every_artifact_and_nothing_else():
    expected = artifact_names(VERSION, debian_arch())
    present = sorted(os.listdir(DIST))
    check(present == sorted(expected + ["SHA256SUMS"]),
          "the folder holds %s, expected %s and SHA256SUMS" % (present, sorted(expected)))
    with open(path("SHA256SUMS"), encoding="ascii") as f:
        rows = [line.rstrip("\n").split("  ", 1) for line in f if line.strip()]
    check(sorted(name for _, name in rows) == sorted(expected),
          "SHA256SUMS lists %s" % [name for _, name in rows])
    for digest, name in rows:
        with open(path(name), "rb") as f:
            actual = hashlib.sha256(f.read()).hexdigest()
        check(digest == actual,
              "SHA256SUMS says %s for %s, the file has %s" % (digest, name, actual))
    # The form sha256sum itself checks.
    p = run(["sha256sum", "--check", "--strict", "SHA256SUMS"], cwd=DIST, text=True)
    check(p.returncode == 0, "sha256sum --check failed:\n" + p.stdout + p.stderr)


def programs_carry_the_project_version_and_architecture():
    """Every program in the zips: its architecture and kind, and a version resource naming
    the project's version, product and publisher, and the program itself."""
    numbers = tuple(int(n) for n in VERSION.split(".")) + (0,)
    for msi_arch, (zip_arch, machine, _) in ARCHES.items():
        files = zip_programs(zip_arch)
        for name, subsystem in PROGRAMS.items():
            where = "%s in the %s zip" % (name, zip_arch)
            got = pe_header(files[name])[:2]
            check(got == (machine, subsystem),
                  "%s is %s, expected %s" % (where, got, (machine, subsystem)))
            info = version_info(files[name])
            strings = info["strings"]
            check(info["FileVersion"] == numbers and info["ProductVersion"] == numbers,
                  "%s: version numbers %s, expected %s" % (where, info, numbers))
            for key, value in (("FileVersion", VERSION), ("ProductVersion", VERSION),
                               ("ProductName", "TarvessinViewer"), ("CompanyName", "Tarvessin"),
                               ("OriginalFilename", name)):
                check(strings.get(key) == value, "%s: %s is %r, expected %r"
                      % (where, key, strings.get(key), value))
            check(strings.get("FileDescription"), "%s has no description" % where)


def readme_tells_how_to_register_and_unregister():
    texts = [zip_programs(zip_arch)["README.txt"] for zip_arch in ("win32", "win64")]
    check(texts[0] == texts[1], "the two zips carry different read-mes")
    text = texts[0]
    check(b"\r\n" in text and not re.search(rb"(?<!\r)\n", text),
          "the read-me's lines do not all end in CR LF")
    text = text.decode("ascii")
    check("TarvessinViewer " + VERSION in text, "the read-me does not name version " + VERSION)
    for switch in ("TarvessinViewer.exe /RegServer", "TarvessinViewer.exe /UnRegServer"):
        check(switch in text, "the read-me does not show %r" % switch)
    check("@" not in text, "a placeholder was left in the read-me")


def installers_hold_the_zip_programs_and_the_association():
    """Both installers: per-machine, named and versioned, installing the zip's programs and
    read-me into Program Files\\TarvessinViewer (the 64-bit one for x64), running nothing of
    ours, with one upgrade code and the same registry rows; only the architecture differs."""
    codes, registries = {}, {}
    for msi_arch, (zip_arch, _, template) in ARCHES.items():
        msi = path("TarvessinViewer-%s-%s.msi" % (VERSION, msi_arch))
        p = run(["msiinfo", "suminfo", msi], text=True)
        check(p.returncode == 0 and ("Template: %s;" % template) in p.stdout,
              "%s: summary %s" % (msi, p.stdout))
        props = msi_properties(msi)
        for key, value in (("ProductName", "TarvessinViewer"), ("ProductVersion", VERSION),
                           ("Manufacturer", "Tarvessin"), ("ALLUSERS", "1")):
            check(props.get(key) == value, "%s: %s is %r" % (msi, key, props.get(key)))
        codes[msi_arch] = (props["ProductCode"], props["UpgradeCode"])
        program_files = "ProgramFiles64Folder" if msi_arch == "x64" else "ProgramFilesFolder"
        check(("INSTALLDIR", program_files, "TarvessinViewer") in msi_table(msi, "Directory"),
              "%s: INSTALLDIR is not %s\\TarvessinViewer" % (msi, program_files))
        check(msi_table(msi, "CustomAction") == [], "%s runs custom actions" % msi)
        registries[msi_arch] = [row[1:] for row in msi_table(msi, "Registry")]

        with tempfile.TemporaryDirectory(prefix="dist_test.") as out:
            p = run(["msiextract", "-C", out, msi], text=True)
            check(p.returncode == 0, "msiextract %s failed: %s" % (msi, p.stderr))
            installed = {}
            for folder, _, names in os.walk(out):
                for name in names:
                    check(os.path.basename(folder) == "TarvessinViewer",
                          "%s installs %s outside INSTALLDIR" % (msi, name))
                    with open(os.path.join(folder, name), "rb") as f:
                        installed[name] = f.read()
        shipped = zip_programs(zip_arch)
        check(installed == shipped, "%s installs %s, not the %s zip's %s"
              % (msi, sorted(installed), zip_arch, sorted(shipped)))
    check(codes["x86"][1] == codes["x64"][1], "the installers have different upgrade codes")
    check(codes["x86"][0] != codes["x64"][0], "the installers share a product code")
    check(registries["x86"] == registries["x64"],
          "the installers write different registry entries:\n%s\n%s"
          % (registries["x86"], registries["x64"]))
    check(len([r for r in registries["x64"] if r[2] != "*"]) == 5,
          "the installer writes %d values, not the association's five" % len(registries["x64"]))


def main():
    global DIST, VERSION
    if len(sys.argv) != 2 or sys.argv[1].startswith("-"):
        print(__doc__.strip().splitlines()[-1])
        return 2
    DIST = os.path.abspath(sys.argv[1])
    VERSION = project_version()
    cases = [sha256sums_list_every_artifact_and_nothing_else,
             programs_carry_the_project_version_and_architecture,
             readme_tells_how_to_register_and_unregister,
             installers_hold_the_zip_programs_and_the_association]
    failed = run_cases(cases)
    summary(len(cases) - failed, failed)
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
