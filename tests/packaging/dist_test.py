#!/usr/bin/env python3
"""Checks the folder scripts/package fills, without installing anything: SHA256SUMS, the
portable zips and the programs in them (architecture, version resource, manifest, header
dates and versions), the read-me, the licence and the third-party notices, and the tables
of both Windows installers (msiinfo, msiextract), so the installer of an architecture
this machine cannot run is checked too.

usage: dist_test.py DIST
"""

import hashlib
import os
import re
import subprocess
import sys
import tempfile
import time
import xml.etree.ElementTree as ET
import zipfile

from common import (ROOT, artifact_names, check, debian_arch, manifest, pe_header, pe_stamps,
                    project_version, run, run_cases, summary, version_info)

DIST = None
VERSION = None
ARCHES = {"x86": ("win32", "i386", "Intel"), "x64": ("win64", "x86-64", "x64")}
PROGRAMS = {"TarvessinViewer.exe": "gui", "qv3.exe": "console"}
TEXTS = ["LICENSE.txt", "README.txt", "THIRD-PARTY-NOTICES.txt"]
# The library for other programs, in the zips only (the installers install programs).
LIBRARY = ["qv3.dll", "qv3.h", "qv3.lib"]
COMPILERS = {"win32": "i686-w64-mingw32-g++-posix", "win64": "x86_64-w64-mingw32-g++-posix"}
# Windows 7, the oldest system the programs are made for.
MINIMUM_WINDOWS = (6, 1)


def path(name):
    return os.path.join(DIST, name)


def zip_programs(zip_arch):
    """{name: bytes} of a portable zip, its layout checked: the folder, then its files in
    byte order, every entry dated by the commit."""
    name = "TarvessinViewer-%s-%s" % (VERSION, zip_arch)
    files = sorted(list(PROGRAMS) + TEXTS + LIBRARY)
    with zipfile.ZipFile(path(name + ".zip")) as z:
        entries = z.namelist()
        expected = [name + "/"] + [name + "/" + f for f in files]
        check(entries == expected, "%s.zip holds %s, expected %s" % (name, entries, expected))
        dates = {i.date_time for i in z.infolist()}
        check(len(dates) == 1, "%s.zip's entries carry several times: %s" % (name, dates))
        return {f: z.read(name + "/" + f) for f in files}


def source_date():
    """The time every artifact is dated by: SOURCE_DATE_EPOCH when given, else the commit's."""
    if os.environ.get("SOURCE_DATE_EPOCH"):
        return int(os.environ["SOURCE_DATE_EPOCH"])
    return int(subprocess.run(["git", "-C", ROOT, "log", "-1", "--format=%ct"],
                              capture_output=True, text=True, check=True).stdout)


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
            check(info["FileVersion"] == numbers and info["ProductVersion"] == numbers,
                  "%s: version numbers %s, expected %s" % (where, info, numbers))
            # A table in Korean and one in English, each naming everything.
            check(sorted(info["tables"]) == ["040904b0", "041204b0"],
                  "%s: version tables %s, expected Korean and English" % (where, sorted(info["tables"])))
            for table, strings in info["tables"].items():
                for key, value in (("FileVersion", VERSION), ("ProductVersion", VERSION),
                                   ("ProductName", "TarvessinViewer"), ("CompanyName", "Tarvessin"),
                                   ("OriginalFilename", name)):
                    check(strings.get(key) == value, "%s (%s): %s is %r, expected %r"
                          % (where, table, key, strings.get(key), value))
                check(strings.get("FileDescription"), "%s (%s) has no description" % (where, table))
            check(info["tables"]["040904b0"]["FileDescription"] != info["tables"]["041204b0"]["FileDescription"],
                  "%s: the English description is the Korean one" % where)
            stamp, os_version, subsystem_version = pe_stamps(files[name])
            check(stamp == source_date(), "%s: its header is dated %d, not by the commit (%d)"
                  % (where, stamp, source_date()))
            check(os_version == MINIMUM_WINDOWS and subsystem_version == MINIMUM_WINDOWS,
                  "%s asks for Windows %s (subsystem %s), not %s"
                  % (where, os_version, subsystem_version, MINIMUM_WINDOWS))


def library_in_the_zips_is_the_api_alone():
    """Each zip's qv3.dll: its architecture, version resource and date, exporting qv3_*
    alone (the runtime linked in, no other DLL of the toolchain needed), with the header
    of the tree and an import library naming it."""
    with open(os.path.join(ROOT, "include", "qv3.h"), "rb") as f:
        header = f.read()
    for zip_arch, machine in (("win32", "i386"), ("win64", "x86-64")):
        files = zip_programs(zip_arch)
        where = "qv3.dll in the %s zip" % zip_arch
        check(pe_header(files["qv3.dll"])[0] == machine, "%s is not %s" % (where, machine))
        info = version_info(files["qv3.dll"])
        check(all(t.get("OriginalFilename") == "qv3.dll" and t.get("FileVersion") == VERSION
                  for t in info["tables"].values()), "%s: version resource %s" % (where, info["tables"]))
        check(pe_stamps(files["qv3.dll"])[0] == source_date(), "%s is not dated by the commit" % where)
        check(files["qv3.h"] == header, "the %s zip's qv3.h is not include/qv3.h" % zip_arch)
        with tempfile.TemporaryDirectory(prefix="dist_test.") as d:
            for name in ("qv3.dll", "qv3.lib"):
                with open(os.path.join(d, name), "wb") as f:
                    f.write(files[name])
            p = run(["x86_64-w64-mingw32-objdump", "-p", os.path.join(d, "qv3.dll")], text=True)
            check(p.returncode == 0, "objdump -p %s failed: %s" % (where, p.stderr))
            table = p.stdout.split("[Ordinal/Name Pointer] Table", 1)[-1].split("\n\n", 1)[0]
            exported = re.findall(r"\]\s+(\S+)$", table, re.M)
            check(exported and all(name.startswith("qv3_") for name in exported),
                  "%s exports %s" % (where, exported))
            imported = set(re.findall(r"DLL Name: (\S+)", p.stdout))
            check(not {"libstdc++-6.dll", "libgcc_s_dw2-1.dll", "libgcc_s_seh-1.dll",
                       "libwinpthread-1.dll"} & imported, "%s needs the toolchain's DLLs: %s" % (where, imported))
            p = run(["x86_64-w64-mingw32-nm", os.path.join(d, "qv3.lib")], text=True)
            check(p.returncode == 0 and "qv3_decrypt_file" in p.stdout and "qv3.dll" in
                  run(["strings", os.path.join(d, "qv3.lib")], text=True).stdout,
                  "the %s zip's qv3.lib does not import qv3_decrypt_file from qv3.dll" % zip_arch)


def programs_declare_styles_dpi_awareness_and_their_systems():
    """Both programs of both zips carry the one manifest: common controls 6 (visual
    styles), per-monitor DPI awareness v2 falling back to the system's, Windows 7 to 11."""
    v1 = "{urn:schemas-microsoft-com:asm.v1}"
    settings = "{http://schemas.microsoft.com/SMI/2016/WindowsSettings}"
    old_settings = "{http://schemas.microsoft.com/SMI/2005/WindowsSettings}"
    compatibility = "{urn:schemas-microsoft-com:compatibility.v1}"
    windows_7, windows_10 = ("{35138b9a-5d96-4fbd-8e2d-a2440225f93a}",
                             "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}")
    texts = set()
    for zip_arch in ("win32", "win64"):
        files = zip_programs(zip_arch)
        for name in PROGRAMS:
            texts.add(manifest(files[name]))
    check(len(texts) == 1, "the programs carry %d different manifests" % len(texts))
    root = ET.fromstring(texts.pop().encode("utf-8"))
    controls = [e.attrib for e in root.iter(v1 + "assemblyIdentity")
                if e.get("name") == "Microsoft.Windows.Common-Controls"]
    check([c.get("version") for c in controls] == ["6.0.0.0"],
          "the manifest does not ask for common controls 6: %s" % controls)
    awareness = [e.text.replace(" ", "").lower().split(",")
                 for e in root.iter(settings + "dpiAwareness")]
    check(awareness == [["permonitorv2", "system"]],
          "dpiAwareness is %s, not per-monitor v2 then system" % awareness)
    check([e.text for e in root.iter(old_settings + "dpiAware")] == ["true"],
          "no system awareness (dpiAware) for systems before Windows 10 1607")
    systems = [e.get("Id") for e in root.iter(compatibility + "supportedOS")]
    check(len(systems) == 4 and systems[0] == windows_7 and systems[-1] == windows_10,
          "supportedOS is %s, not Windows 7, 8, 8.1 and 10/11" % systems)


def licence_and_notices_travel_with_the_programs():
    """Each zip carries the project's licence and, taken whole from the toolchain
    packages' copyright files, the notices of the runtime libraries the programs link."""
    with open(os.path.join(ROOT, "LICENSE"), encoding="utf-8") as f:
        licence = f.read()
    for zip_arch, compiler in COMPILERS.items():
        files = zip_programs(zip_arch)
        check(files["LICENSE.txt"].decode("utf-8") == licence.replace("\n", "\r\n"),
              "the %s zip's LICENSE.txt is not LICENSE" % zip_arch)
        check("Apache License" in licence and "Version 2.0, January 2004" in licence,
              "LICENSE is not the Apache License 2.0")
        notices = files["THIRD-PARTY-NOTICES.txt"].decode("utf-8-sig").replace("\r\n", "\n")
        for library in ("libstdc++.a", "libgcc.a", "libwinpthread.a", "libmingwex.a"):
            p = run([compiler, "-print-file-name=" + library], text=True)
            owner = run(["dpkg", "-S", os.path.realpath(p.stdout.strip())], text=True)
            check(owner.returncode == 0, "no package holds %s of %s" % (library, compiler))
            package = owner.stdout.split(":")[0]
            with open("/usr/share/doc/%s/copyright" % package, encoding="utf-8") as f:
                text = f.read()
            check(package in notices and text in notices,
                  "the %s zip's notices lack %s's copyright file (%s)"
                  % (zip_arch, package, library))


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
        conditions = [row[0] for row in msi_table(msi, "LaunchCondition")]
        check("Installed OR VersionNT >= %d%02d" % MINIMUM_WINDOWS in conditions,
              "%s does not refuse systems before Windows 7: %s" % (msi, conditions))
        check(("Created: %s" % time.strftime("%a %b %e %H:%M:%S %Y",
                                             time.localtime(source_date()))) in p.stdout,
              "%s is not dated by the commit: %s" % (msi, p.stdout))
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
        shipped = {name: data for name, data in zip_programs(zip_arch).items() if name not in LIBRARY}
        check(installed == shipped, "%s installs %s, not the %s zip's %s"
              % (msi, sorted(installed), zip_arch, sorted(shipped)))
    check(codes["x86"][1] == codes["x64"][1], "the installers have different upgrade codes")
    check(codes["x86"][0] != codes["x64"][0], "the installers share a product code")
    check(registries["x86"] == registries["x64"],
          "the installers write different registry entries:\n%s\n%s"
          % (registries["x86"], registries["x64"]))
    # The association's five values and the four verbs' four each (text, selection model,
    # icon, command: on files, on the container type, and both on folders); msi_test
    # compares them with what /RegServer writes.
    written = [r for r in registries["x64"] if r[2] != "*"]
    check(len(written) == 21, "the installer writes %d values, not the association's 5 and the verbs' 16: %s"
          % (len(written), written))


def main():
    global DIST, VERSION
    if len(sys.argv) != 2 or sys.argv[1].startswith("-"):
        print(__doc__.strip().splitlines()[-1])
        return 2
    DIST = os.path.abspath(sys.argv[1])
    VERSION = project_version()
    cases = [sha256sums_list_every_artifact_and_nothing_else,
             programs_carry_the_project_version_and_architecture,
             library_in_the_zips_is_the_api_alone,
             programs_declare_styles_dpi_awareness_and_their_systems,
             licence_and_notices_travel_with_the_programs,
             readme_tells_how_to_register_and_unregister,
             installers_hold_the_zip_programs_and_the_association]
    failed = run_cases(cases)
    summary(len(cases) - failed, failed)
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
