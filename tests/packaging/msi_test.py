#!/usr/bin/env python3
"""Installs the Windows installers under Wine as an administrator would, and uses what
they installed as a user would: refused on Windows Vista, msiexec /i ... /qn, the
association compared with what the installed viewer's /RegServer writes, a container
opened through the association (the password typed into the installed viewer's prompt
through qv3_gui_driver.exe), the same version, the other architecture's installer (on
64-bit) and a newer version installed over it, an older one refused, and
msiexec /x ... /qn.

Each installer runs in a new Wine prefix of its own architecture under WORK (never the
build trees' prefixes), one after the other. An installer whose programs this machine
cannot run is not tested, and the output says so and why.

usage: msi_test.py --dist DIST [--builds PREFIX] [--work WORK]

PREFIXwin64 and PREFIXwin32 (PREFIX is build/ unless given) are the build folders whose
qv3_gui_driver.exe and qv3_fake_viewer.exe drive the viewer (built here if missing).
Needs an X display (run it under xvfb-run).
"""

import argparse
import os
import re
import select
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import traceback
import zipfile

from common import ROOT, check, project_version, run, summary
from harness import class_key_exists, classes, escape, unescape

WINE_RUN = os.path.join(ROOT, "scripts", "wine-run")
MAKE_MSI = os.path.join(ROOT, "packaging", "windows", "make-msi")
ARCHES = (("x64", "win64", "x86-64"), ("x86", "win32", "i386"))
PROMPT = "타르베신 외부암호파일 뷰어"
BOXES = ("타르베신 외부암호파일뷰어", "타르베신 외부암호화파일 뷰어")
PASSWORD = "pkg-test-pw"
# The list of installed programs: 64-bit Windows lists 32-bit ones under Wow6432Node.
UNINSTALL = ("HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall",
             "HKLM\\Software\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\Uninstall")
# The verbs, with the text each shows: on every file, on the container type, on every folder.
VERBS = (("*\\shell\\TarvessinViewer.Encrypt", "암호 파일로 만들기…"),
         ("TarvessinViewer.Document\\shell\\DecryptHere", "여기에 풀기"),
         ("Directory\\shell\\TarvessinViewer.Encrypt", "암호 파일로 만들기…"),
         ("Directory\\shell\\TarvessinViewer.DecryptHere", "여기에 풀기"))
ASSOCIATION_KEYS = (".aqv3", ".aqv3\\shell\\open\\command", "TarvessinViewer.Document",
                    "TarvessinViewer.Document\\DefaultIcon",
                    "TarvessinViewer.Document\\shell\\open\\command") + tuple(
                        key + "\\command" for key, _ in VERBS)
# The verbs' named values, as (key, name).
VERB_VALUES = tuple((key, name) for key, _ in VERBS for name in ("MUIVerb", "MultiSelectModel", "Icon"))


def win(path):
    """The Windows name of a Linux path: Wine shows the Linux file system as drive Z:."""
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def fnv1a64(data):
    h = 14695981039346656037
    for b in data:
        h = ((h ^ b) * 1099511628211) & 0xFFFFFFFFFFFFFFFF
    return "%016x" % h


class Machine:
    """One Wine prefix standing for one Windows computer, with the driver of its
    architecture kept running."""

    def __init__(self, prefix, driver):
        self.prefix = prefix
        self.env = dict(os.environ, WINEPREFIX=prefix)
        self.driver_exe = driver
        self.driver = None

    def wine(self, *args, timeout=180, cwd=None):
        """Runs a program under Wine; its output goes through files, not pipes: a service
        that msiexec starts lives on with the handles it was given, and a pipe would then
        never reach its end."""
        with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
            code = subprocess.run([WINE_RUN] + list(args), stdin=subprocess.DEVNULL, stdout=out,
                                  stderr=err, env=self.env, cwd=cwd, timeout=timeout).returncode
            out.seek(0)
            err.seek(0)
            return subprocess.CompletedProcess(args, code, out.read(), err.read())

    def linux_path(self, windows_path):
        """The Linux file behind a path on the prefix's drive C:."""
        drive, rest = windows_path.split(":", 1)
        check(drive.upper() == "C", "not on drive C: %s" % windows_path)
        return os.path.join(self.prefix, "drive_c", *[p for p in rest.split("\\") if p])

    # The driver: one command per line, one answer line each.
    def ask(self, *fields, timeout=60):
        if self.driver is None:
            self.driver = subprocess.Popen([WINE_RUN, self.driver_exe], stdin=subprocess.PIPE,
                                           stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                                           env=self.env)
        self.driver.stdin.write(("\t".join(escape(str(f)) for f in fields) + "\n").encode("utf-8"))
        self.driver.stdin.flush()
        line = self._line(timeout)
        status, _, value = line.partition(" ")
        return status == "ok", unescape(value)

    def _line(self, timeout):
        deadline, buffer = time.monotonic() + timeout, b""
        while not buffer.endswith(b"\n"):
            left = deadline - time.monotonic()
            if left <= 0 or not select.select([self.driver.stdout], [], [], left)[0]:
                raise AssertionError("the driver did not answer within %d s" % timeout)
            byte = os.read(self.driver.stdout.fileno(), 1)
            check(byte, "the driver ended unexpectedly")
            buffer += byte
        return buffer[:-1].decode("utf-8", "backslashreplace")

    def do(self, *fields, timeout=60):
        ok, value = self.ask(*fields, timeout=timeout)
        check(ok, "driver %s: %s" % (" ".join(str(f) for f in fields[:2]), value))
        return value

    def stop(self):
        if self.driver:
            try:
                self.driver.stdin.close()
                self.driver.wait(timeout=15)
            except (OSError, subprocess.TimeoutExpired):
                self.driver.kill()
                self.driver.wait()
        subprocess.run(["wineserver", "-k"], env=self.env, capture_output=True)
        subprocess.run(["wineserver", "-w"], env=self.env, capture_output=True, timeout=60)

    # The registry: read through the driver (one running program, each failure an error,
    # never taken for a missing value), changed through Wine's own reg.exe.
    def association(self):
        """Every value the association writes: default values by key, named ones by
        (key, name)."""
        values = {key: classes(self.do, key) for key in ASSOCIATION_KEYS}
        values.update({kn: classes(self.do, *kn) for kn in VERB_VALUES})
        return values

    def reg(self, *args):
        p = self.wine("reg", *args)
        check(p.returncode == 0,
              "reg %s failed: %s" % (" ".join(args), p.stderr.decode("cp949", "replace")))

    def installations(self):
        """[{value: data}] of the installed programs listed as TarvessinViewer."""
        text = ""
        for key in UNINSTALL:
            p = self.wine("reg", "query", key, "/s")
            check(p.returncode in (0, 1), "reg query %s failed" % key)   # 1: no such key
            text += p.stdout.decode("cp949") if p.returncode == 0 else ""
        found, entry = [], None
        for line in text.splitlines():
            if line.startswith("HKEY_"):
                entry = {}
                found.append(entry)
            elif entry is not None:
                m = re.match(r"^    (\S+)    (REG_\w+)    ?(.*)$", line)
                if m:
                    entry[m.group(1)] = m.group(3)
        return [e for e in found if e.get("DisplayName") == "TarvessinViewer"]

    def msiexec(self, *args):
        return self.wine("msiexec", *args).returncode


class ArchTest:
    """The installer of one architecture on one new machine, step by step."""

    def __init__(self, a, msi_arch, zip_arch, build):
        self.a, self.arch, self.zip_arch = a, msi_arch, zip_arch
        self.msi = os.path.join(a.dist, "TarvessinViewer-%s-%s.msi" % (VERSION, msi_arch))
        self.work = os.path.join(a.work, msi_arch)
        shutil.rmtree(self.work, ignore_errors=True)
        os.makedirs(self.work)
        self.machine = Machine(os.path.join(a.work, "wine-" + msi_arch),
                               os.path.join(build, "tests/gui/qv3_gui_driver.exe"))
        self.fake_viewer = os.path.join(build, "tests/gui/qv3_fake_viewer.exe")
        self.shipped = {}
        portable = os.path.join(a.dist, "TarvessinViewer-%s-%s.zip" % (VERSION, zip_arch))
        # What the zip holds but the library for other programs (qv3.dll, qv3.lib, qv3.h),
        # which the installers leave out.
        with zipfile.ZipFile(portable) as z:
            for name in z.namelist():
                if not name.endswith("/") and os.path.basename(name) not in ("qv3.dll", "qv3.lib", "qv3.h"):
                    self.shipped[os.path.basename(name)] = z.read(name)
        self.folder_win = None     # C:\Program Files\TarvessinViewer
        self.registered = None     # the association /RegServer wrote

    # --- what the steps check again and again ----------------------------------------------

    def folder(self):
        return self.machine.linux_path(self.folder_win)

    def installed_program(self, name):
        return self.folder_win + "\\" + name

    def check_installed(self, version, what):
        found = sorted(os.listdir(self.folder())) if os.path.isdir(self.folder()) else None
        check(found == sorted(self.shipped), "%s: %s holds %s, expected %s"
              % (what, self.folder_win, found, sorted(self.shipped)))
        for name, data in self.shipped.items():
            with open(os.path.join(self.folder(), name), "rb") as f:
                check(f.read() == data,
                      "%s: the installed %s is not the shipped one" % (what, name))
        listed = self.machine.installations()
        check(len(listed) == 1, "%s: %d installations of TarvessinViewer are listed (versions %s)"
              % (what, len(listed), [e.get("DisplayVersion") for e in listed]))
        for key, value in (("DisplayVersion", version), ("Publisher", "Tarvessin")):
            check(listed[0].get(key) == value, "%s: the list of installed programs shows %s %r"
                  % (what, key, listed[0].get(key)))

    def install(self, msi, what):
        code = self.machine.msiexec("/i", win(msi), "/qn")
        check(code == 0,
              "%s: msiexec /i %s /qn exited with %d" % (what, os.path.basename(msi), code))

    def check_association(self, what):
        """The association is still exactly what /RegServer wrote; a failure names the
        values that differ, as read."""
        now = self.machine.association()
        differ = {key: (now[key], self.registered[key]) for key in now if now[key] != self.registered[key]}
        check(not differ, "%s: the association differs (value read, value expected): %r" % (what, differ))

    # --- the steps, in order ------------------------------------------------------------------

    def windows_vista_refuses_it(self):
        """The launch condition: a system older than Windows 7 installs nothing."""
        program_files = self.machine.do("folder", 38, timeout=180)   # CSIDL_PROGRAM_FILES
        self.folder_win = program_files.rstrip("\\") + "\\TarvessinViewer"
        # The version Wine reports to the programs it starts from now on.
        self.machine.reg("add", "HKCU\\Software\\Wine", "/v", "Version", "/d", "vista", "/f")
        try:
            code = self.machine.msiexec("/i", win(self.msi), "/qn")
        finally:
            self.machine.reg("delete", "HKCU\\Software\\Wine", "/v", "Version", "/f")
        check(code != 0, "msiexec /i on Windows Vista exited with 0")
        check(not os.path.exists(self.folder()), "%s was installed on Windows Vista" % self.folder_win)
        check(self.machine.installations() == [], "Windows Vista lists TarvessinViewer")

    def install_puts_the_files_in_place(self):
        program_files = self.machine.do("folder", 38, timeout=180)   # CSIDL_PROGRAM_FILES
        self.folder_win = program_files.rstrip("\\") + "\\TarvessinViewer"
        check(self.machine.installations() == [], "a new machine lists TarvessinViewer")
        self.install(self.msi, "first installation")
        self.check_installed(VERSION, "first installation")

    def association_equals_what_regserver_writes(self):
        written = self.machine.association()
        viewer = self.installed_program("TarvessinViewer.exe")
        check(written[".aqv3\\shell\\open\\command"] == '"%s" "%%1"' % viewer,
              "the installer's open command does not start the installed viewer: %r" % written)
        p = self.machine.wine(viewer, "/RegServer", timeout=60)
        check(p.returncode == 0, "TarvessinViewer.exe /RegServer exited with %d" % p.returncode)
        self.registered = self.machine.association()
        check(None not in self.registered.values(), "/RegServer wrote %r" % self.registered)
        for key in self.registered:
            check(written[key] == self.registered[key], "HKCR\\%s: the installer wrote %r, "
                  "/RegServer writes %r" % (key, written[key], self.registered[key]))
        # The verbs' texts are the installed program's own, in the user's language.
        for key, text in VERBS:
            shown = self.machine.do("indirect", written[(key, "MUIVerb")])
            check(shown == text, "HKCR\\%s shows %r, expected %r" % (key, shown, text))

    def installed_viewer_opens_a_container_through_the_association(self):
        m = self.machine
        d = os.path.join(self.work, "open")
        os.makedirs(d)
        content = bytes((i * 31 + i // 7) & 0xFF for i in range(300_000))
        with open(os.path.join(d, "note.qv3pkg"), "wb") as f:
            f.write(content)
        with open(os.path.join(d, "pw.txt"), "w") as f:
            f.write(PASSWORD)
        # The container is made by the installed qv3.exe.
        p = m.wine(self.installed_program("qv3.exe"), "encrypt", "--password-file", "pw.txt",
                   "note.qv3pkg", cwd=d)
        check(p.returncode == 0, "the installed qv3.exe encrypt failed", p)
        os.remove(os.path.join(d, "note.qv3pkg"))
        # The plaintext's own type opens with a stand-in program that records what it read.
        fake = win(self.fake_viewer)
        m.reg("add", "HKCR\\.qv3pkg", "/ve", "/d", "Qv3Pkg.Document", "/f")
        m.reg("add", "HKCR\\Qv3Pkg.Document\\shell\\open\\command", "/ve", "/d",
              '"%s" "%%1"' % fake, "/f")
        log = os.path.join(d, "fake_viewer.log")
        env = dict(m.env, QV3_FAKE_VIEWER_LOG=win(log), QV3_FAKE_VIEWER_HOLD_MS="1500")
        # As a double-click does: the shell looks the container's type up and starts what
        # the association names.
        opened = subprocess.Popen([WINE_RUN, "start", "/wait", "/unix",
                                   os.path.join(d, "note.qv3pkg.aqv3")],
                                  stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                  stderr=subprocess.DEVNULL, env=env, start_new_session=True)
        try:
            m.do("wait", PROMPT, 60000, timeout=90)
            m.do("settext", PROMPT, 1003, PASSWORD)
            m.do("click", PROMPT, 1)
            deadline = time.monotonic() + 90
            while True:
                texts = []
                if os.path.exists(log):
                    with open(log, encoding="cp949") as f:
                        texts = [line.split(" ", 1)[-1] for line in f.read().splitlines()]
                if "end" in texts:
                    break
                for caption in BOXES:
                    check(m.do("exists", caption) == "0",
                          "a box appeared: %s" % m.ask("text", caption, 65535)[1])
                check(time.monotonic() < deadline, "the plaintext's program never ran: %s" % texts)
                time.sleep(0.2)
            check(len([t for t in texts if t.startswith("begin ")]) == 1,
                  "not one run of the plaintext's program: %s" % texts)
            record = dict(t.split("=", 1) for t in texts if "=" in t and not t.startswith("begin "))
            check(record.get("path", "").endswith("\\note.qv3pkg"),
                  "the program was handed %r" % record.get("path"))
            check(record.get("size") == str(len(content))
                  and record.get("fnv1a64") == fnv1a64(content),
                  "the program read %s bytes (hash %s), not the plaintext"
                  % (record.get("size"), record.get("fnv1a64")))
            code = opened.wait(timeout=60)
            check(code == 0, "the viewer ended with status %d" % code)
            plaintext = m.linux_path(record["path"])
            check(not os.path.exists(plaintext),
                  "the viewer left the plaintext %s" % record["path"])
        finally:
            if opened.poll() is None:
                os.killpg(opened.pid, signal.SIGKILL)
                opened.wait()
            for key in (".qv3pkg", "Qv3Pkg.Document"):
                m.wine("reg", "delete", "HKCR\\" + key, "/f")

    def reinstalling_the_same_version_leaves_one_installation(self):
        self.install(self.msi, "the same version again")
        self.check_installed(VERSION, "the same version again")
        self.check_association("the same version again")

    def the_other_architectures_installer_replaces_it(self):
        """Both installers own the one association: on 64-bit Windows the x86 installer of
        the same version replaces the x64 one, and the other way round. (32-bit Windows
        runs no x64 installer.) Installing an x86 package runs none of its programs, so
        this holds where 32-bit programs cannot run, too."""
        other = os.path.join(self.a.dist, "TarvessinViewer-%s-x86.msi" % VERSION)
        self.install(other, "the x86 installer over the x64 one")
        listed = self.machine.installations()
        check([e.get("DisplayVersion") for e in listed] == [VERSION],
              "after the x86 installer: installations %s" % listed)
        check(not os.path.exists(self.folder()), "the x64 programs are still installed")
        x86_folder = self.machine.linux_path(self.machine.do("folder", 42) + "\\TarvessinViewer")
        check(sorted(os.listdir(x86_folder)) == sorted(self.shipped),
              "the x86 installer did not install into %s" % x86_folder)
        self.install(self.msi, "the x64 installer over the x86 one")
        check(not os.path.exists(x86_folder), "the x86 programs are still installed")
        self.check_installed(VERSION, "the x64 installer over the x86 one")
        self.check_association("after the x64 installer came back")

    def a_newer_version_replaces_it_and_an_older_one_does_not(self):
        numbers = [int(n) for n in VERSION.split(".")]
        newer = "%d.%d.%d" % (numbers[0], numbers[1], numbers[2] + 1)
        programs = os.path.join(self.work, "programs")
        os.makedirs(programs)
        for name, data in self.shipped.items():
            with open(os.path.join(programs, name), "wb") as f:
                f.write(data)
        self.newer_msi = os.path.join(self.work, "TarvessinViewer-%s-%s.msi" % (newer, self.arch))
        p = run([MAKE_MSI, "--arch", self.arch, "--version", newer,
                 "--viewer", os.path.join(programs, "TarvessinViewer.exe"),
                 "--qv3", os.path.join(programs, "qv3.exe"),
                 "--readme", os.path.join(programs, "README.txt"),
                 "--license", os.path.join(programs, "LICENSE.txt"),
                 "--notices", os.path.join(programs, "THIRD-PARTY-NOTICES.txt"),
                 "--out", self.newer_msi],
                text=True)
        check(p.returncode == 0, "make-msi %s failed: %s" % (newer, p.stderr))
        self.install(self.newer_msi, "version " + newer)
        self.check_installed(newer, "version %s over %s" % (newer, VERSION))
        self.check_association("after the upgrade")
        code = self.machine.msiexec("/i", win(self.msi), "/qn")
        check(code != 0, "installing %s over %s succeeded" % (VERSION, newer))
        self.check_installed(newer, "after %s was refused" % VERSION)

    def uninstalling_removes_files_entries_and_folder(self):
        code = self.machine.msiexec("/x", win(self.newer_msi), "/qn")
        check(code == 0, "msiexec /x /qn exited with %d" % code)
        check(not os.path.exists(self.folder()), "%s is still there: %s" % (
            self.folder_win, os.listdir(self.folder()) if os.path.isdir(self.folder()) else ""))
        left = {k: v for k, v in self.machine.association().items() if v is not None}
        check(not left, "association entries left: %r" % left)
        keys = [key for key in (".aqv3", "TarvessinViewer.Document") + tuple(key for key, _ in VERBS)
                if class_key_exists(self.machine.do, key)]
        check(not keys, "association keys left: %s" % keys)
        check(self.machine.installations() == [], "still listed as installed")

    STEPS = (windows_vista_refuses_it, install_puts_the_files_in_place, association_equals_what_regserver_writes,
             installed_viewer_opens_a_container_through_the_association,
             reinstalling_the_same_version_leaves_one_installation,
             the_other_architectures_installer_replaces_it,
             a_newer_version_replaces_it_and_an_older_one_does_not,
             uninstalling_removes_files_entries_and_folder)

    @classmethod
    def steps(cls, msi_arch):
        return [s for s in cls.STEPS
                if msi_arch == "x64" or s is not cls.the_other_architectures_installer_replaces_it]

    def run(self):
        """Runs the steps in order; a step after a failed one is not run (it would build
        on what failed). Returns (passed, failed, not run)."""
        steps = self.steps(self.arch)
        passed = failed = 0
        prefix = self.machine.prefix
        subprocess.run(["wineserver", "-k"], env=self.machine.env, capture_output=True)
        shutil.rmtree(prefix, ignore_errors=True)
        if os.path.exists(prefix + ".setup.lock"):
            os.remove(prefix + ".setup.lock")
        try:
            for step in steps:
                name = "%s: %s" % (self.arch, step.__name__)
                if failed:
                    print("not run %s (after the failure above)" % name)
                    continue
                started = time.monotonic()
                try:
                    step(self)
                    passed += 1
                    print("ok      %-70s %5.1f s" % (name, time.monotonic() - started))
                except Exception as e:  # noqa: BLE001 - every failure is reported the same way
                    failed += 1
                    print("FAILED  %-70s %5.1f s" % (name, time.monotonic() - started))
                    if isinstance(e, AssertionError):
                        print("        " + str(e).replace("\n", "\n        "))
                    else:
                        traceback.print_exc(file=sys.stdout)
                sys.stdout.flush()
        finally:
            self.machine.stop()
        if not failed:   # kept after a failure, to be looked at
            shutil.rmtree(prefix, ignore_errors=True)
            shutil.rmtree(self.work, ignore_errors=True)
        return passed, failed, len(steps) - passed - failed


def main():
    global VERSION
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--dist", required=True)
    parser.add_argument("--builds", default=os.path.join(ROOT, "build") + "/")
    parser.add_argument("--work", default=os.path.join(ROOT, "build", "package-tests"))
    a = parser.parse_args()
    a.dist, a.work = os.path.abspath(a.dist), os.path.abspath(a.work)
    if not os.environ.get("DISPLAY"):
        print("msi_test: no X display for the viewer's windows (run it under xvfb-run)")
        return 2
    VERSION = project_version()
    passed = failed = skipped = 0
    for msi_arch, zip_arch, machine in ARCHES:
        msi = "TarvessinViewer-%s-%s.msi" % (VERSION, msi_arch)
        p = run([WINE_RUN, "--can-run", machine], text=True)
        if p.returncode != 0:
            why = (p.stderr or p.stdout).strip().replace("wine-run: ", "")
            print("NOT TESTED %s on a machine of its own: %s" % (msi, why))
            skipped += len(ArchTest.steps(msi_arch))
            continue
        build = a.builds + zip_arch
        p = run(["cmake", "--build", build, "--target", "qv3_gui_driver", "qv3_fake_viewer"],
                text=True, timeout=1800)
        if p.returncode != 0:
            print("FAILED  %s: building the driver in %s failed:\n%s"
                  % (msi, build, p.stdout[-3000:]))
            failed += 1
            continue
        print("=== %s in a new %s Wine prefix" % (msi, zip_arch))
        sys.stdout.flush()
        result = ArchTest(a, msi_arch, zip_arch, build).run()
        passed, failed, skipped = passed + result[0], failed + result[1], skipped + result[2]
    summary(passed, failed, skipped)
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
