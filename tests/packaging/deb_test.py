#!/usr/bin/env python3
"""Checks the Debian package of qv3 as a Debian user and its archive's tools would: what
dpkg-deb lists, what lintian reports, and the package unpacked into a scratch root (its
qv3 states the project's version and decrypts the bundled sample; its manual page renders
and covers every command and option that qv3's help names).

usage: deb_test.py DIST
"""

import os
import re
import shutil
import stat
import sys
import tempfile

from common import check, debian_arch, project_version, run, run_cases, summary

DEB = None
ROOT = None      # the package unpacked (dpkg -x)
VERSION = None
SAMPLE_TEXT = b"This is the sample document of TarvessinViewer."


def qv3(*args, **kw):
    return run([os.path.join(ROOT, "usr/bin/qv3")] + list(args), text=True, **kw)


def dpkg_deb(*args):
    p = run(["dpkg-deb"] + list(args) + [DEB], text=True)
    check(p.returncode == 0, "dpkg-deb %s failed: %s" % (" ".join(args), p.stderr))
    return p.stdout


# --- cases -----------------------------------------------------------------------------------


def control_names_package_version_and_computed_dependencies():
    fields = dict(re.findall(r"^ ?([A-Za-z-]+): (.*)$", dpkg_deb("--info"), re.M))
    for key, value in (("Package", "qv3"), ("Version", VERSION), ("Architecture", debian_arch())):
        check(fields.get(key) == value,
              "control: %s is %r, expected %r" % (key, fields.get(key), value))
    # What dpkg-shlibdeps finds for the packaged program now, on this system.
    with tempfile.TemporaryDirectory(prefix="deb_test.") as source:
        os.makedirs(os.path.join(source, "debian", "qv3", "DEBIAN"))
        with open(os.path.join(source, "debian", "control"), "w") as f:
            f.write("Source: qv3\n\nPackage: qv3\nArchitecture: any\n")
        shutil.copytree(os.path.join(ROOT, "usr"), os.path.join(source, "debian", "qv3", "usr"))
        p = run(["dpkg-shlibdeps", "-O", "debian/qv3/usr/bin/qv3",
                 "debian/qv3/usr/bin/tarvessin-viewer"], cwd=source, text=True)
    check(p.returncode == 0, "dpkg-shlibdeps failed: %s" % p.stderr)
    computed = p.stdout.strip().split("=", 1)[1] + ", shared-mime-info"
    check("libqt6widgets" in computed.lower(), "the viewer's Qt libraries are not among %r" % computed)
    check(fields.get("Depends") == computed,
          "Depends is %r, dpkg-shlibdeps finds %r" % (fields.get("Depends"), computed))


def contents_are_the_program_its_manual_and_its_documents():
    listed = {}
    for line in dpkg_deb("--contents").splitlines():
        mode, owner, _, _, _, name = line.split(None, 5)
        listed[name.split(" -> ")[0].lstrip(".")] = (mode, owner)
    for name, mode in (("/usr/bin/qv3", "-rwxr-xr-x"),
                       ("/usr/bin/tarvessin-viewer", "-rwxr-xr-x"),
                       ("/usr/share/applications/tarvessin-viewer.desktop", "-rw-r--r--"),
                       ("/usr/share/mime/packages/tarvessin-viewer.xml", "-rw-r--r--"),
                       ("/usr/share/icons/hicolor/32x32/apps/tarvessin-viewer.png", "-rw-r--r--"),
                       # The file managers' menus, system-wide (Dolphin runs only executable ones).
                       ("/usr/share/kio/servicemenus/tarvessin-viewer-encrypt.desktop", "-rwxr-xr-x"),
                       ("/usr/share/kio/servicemenus/tarvessin-viewer-decrypt-here.desktop", "-rwxr-xr-x"),
                       ("/usr/share/nemo/actions/tarvessin-viewer-encrypt.nemo_action", "-rw-r--r--"),
                       ("/usr/share/nemo/actions/tarvessin-viewer-decrypt-here.nemo_action", "-rw-r--r--"),
                       ("/usr/share/man/man1/qv3.1.gz", "-rw-r--r--"),
                       ("/usr/share/man/ko/man1/qv3.1.gz", "-rw-r--r--"),
                       ("/usr/share/man/ko/man1/tarvessin-viewer.1.gz", "-rw-r--r--"),
                       ("/usr/share/locale/en/LC_MESSAGES/tarvessin.mo", "-rw-r--r--"),
                       ("/usr/share/doc/qv3/copyright", "-rw-r--r--"),
                       ("/usr/share/doc/qv3/changelog.gz", "-rw-r--r--"),
                       ("/usr/share/doc/qv3/examples/welcome.txt.aqv3", "-rw-r--r--")):
        check(listed.get(name) == (mode, "root/root"),
              "%s is listed as %s, expected %s root/root" % (name, listed.get(name), mode))
    others = [n for n, (mode, _) in listed.items()
              if not mode.startswith("d") and not n.startswith(("/usr/bin/", "/usr/share/"))]
    check(not others, "files outside /usr/bin and /usr/share: %s" % others)
    # Installed, the menus start the program found through PATH, as the desktop entry does
    # (Nemo on file:// URIs), and hide once PATH finds it no more.
    for menu in ("kio/servicemenus/tarvessin-viewer-encrypt.desktop", "nemo/actions/tarvessin-viewer-encrypt.nemo_action",
                 "kio/servicemenus/tarvessin-viewer-decrypt-here.desktop",
                 "nemo/actions/tarvessin-viewer-decrypt-here.nemo_action"):
        with open(os.path.join(ROOT, "usr/share", menu), encoding="utf-8") as f:
            text = f.read()
        execs = re.findall(r"^Exec=(.*)$", text, re.M)
        road = "--encrypt" if "encrypt" in menu.split("-")[-1] else "--decrypt-here"
        nemo = menu.startswith("nemo/")
        expected = "tarvessin-viewer %s --uris -- %%U" % road if nemo else "tarvessin-viewer %s -- %%F" % road
        check(execs == [expected], "%s: Exec lines %r" % (menu, execs))
        hides = "Dependencies=tarvessin-viewer;" if nemo else "TryExec=tarvessin-viewer"
        check(re.search("^%s$" % re.escape(hides), text, re.M), "%s lacks %s" % (menu, hides))
    with open(os.path.join(ROOT, "usr/share/doc/qv3/copyright"), encoding="utf-8") as f:
        check("TarvessinViewer project's own" in f.read(),
              "the copyright file does not say the code is the project's own")


def lintian_reports_no_error():
    p = run(["lintian", "--fail-on", "error", "--display-info", "--no-tag-display-limit", DEB], text=True,
            timeout=600)
    if p.stdout.strip():
        print("        lintian: " + p.stdout.strip().replace("\n", "\n        lintian: "))
    check(p.returncode == 0 and not re.search(r"^E: ", p.stdout, re.M),
          "lintian failed (%d):\n%s%s" % (p.returncode, p.stdout, p.stderr))
    # The programs are built hardened: no hardening tag at any level.
    hardening = re.findall(r"^\w: \S+: hardening-.*$", p.stdout, re.M)
    check(not hardening, "lintian on the programs' hardening:\n" + "\n".join(hardening))
    # The licence is what lets people audit and reuse the package: not even a warning
    # about the copyright file.
    about_copyright = re.findall(r"^[EW]: \S+: \S*copyright\S*.*$", p.stdout, re.M)
    check(not about_copyright, "lintian on the copyright file:\n" + "\n".join(about_copyright))
    with open(os.path.join(ROOT, "usr/share/doc/qv3/copyright"), encoding="utf-8") as f:
        text = f.read()
    check(re.search(r"^License: Apache-2\.0$", text, re.M) and
          "/usr/share/common-licenses/Apache-2.0" in text,
          "the copyright file does not grant the Apache License 2.0")


def unpacked_qv3_states_the_version_and_decrypts_the_sample():
    p = qv3("--version")
    check(p.returncode == 0 and p.stdout.startswith("qv3 %s (" % VERSION),
          "qv3 --version says %r, expected the project's version %s" % (p.stdout, VERSION))
    with tempfile.TemporaryDirectory(prefix="deb_test.") as d:
        examples = os.path.join(ROOT, "usr/share/doc/qv3/examples")
        shutil.copy(os.path.join(examples, "welcome.txt.aqv3"), d)
        p = qv3("decrypt", "--password-file", os.path.join(examples, "welcome.password"),
                os.path.join(d, "welcome.txt.aqv3"))
        check(p.returncode == 0, "qv3 decrypt of the sample failed", p)
        plaintext = os.path.join(d, "welcome.txt")
        with open(plaintext, "rb") as f:
            check(SAMPLE_TEXT in f.read(), "the sample's plaintext is not the sample document")
        check(not os.stat(plaintext).st_mode & stat.S_IWUSR, "the plaintext is not read-only")


def manual_page_renders_and_says_what_help_says():
    # The English page against the English help, the Korean page (under ko) against the
    # Korean help: every command, option and exit status that the help texts name.
    for page, locale, statuses_in, heading in (
            ("usr/share/man/man1/qv3.1.gz", "en_US.UTF-8", r"\b(\d+) (?:when|for)\b", "EXIT STATUS"),
            ("usr/share/man/ko/man1/qv3.1.gz", "C.UTF-8", r"(?:면|는) (\d+)\b", "종료 상태")):
        p = run(["man", "--warnings", "-l", os.path.join(ROOT, page)], text=True,
                env=dict(os.environ, MANWIDTH="80", MAN_KEEP_FORMATTING="", LC_ALL="C.UTF-8"))
        check(p.returncode == 0 and not p.stderr.strip(),
              "man -l %s failed or warned (%d): %s" % (page, p.returncode, p.stderr))
        text = re.sub(r".\x08", "", p.stdout)
        text = re.sub(r"\s+", " ", text.replace("\u2010", "-").replace("\u2011", "-"))
        check("qv3 " + VERSION in text, "%s does not name version %s" % (page, VERSION))
        environment = dict(os.environ, LC_ALL=locale, LANGUAGE="")
        overview = qv3("--help", env=environment).stdout
        commands = re.findall(r"^  (\w+) \[", overview, re.M)
        check(commands, "qv3 --help names no commands:\n" + overview)
        missing = []
        for command in [None] + commands:
            p = qv3(*([command, "--help"] if command else ["--help"]), env=environment)
            help_text = p.stdout
            check(p.returncode == 0 and help_text, "qv3 %s --help failed" % (command or ""), p)
            names = set(re.findall(r"(?<![\w-])(--?[a-z][a-z0-9-]*)", help_text))
            statuses = re.findall(statuses_in, help_text)
            check(not command or statuses, "qv3 %s --help names no exit status" % command)
            names |= {"exit status " + code for code in statuses}
            if command:
                names.add("qv3 " + command)
            for name in sorted(names):
                if name.startswith("exit status "):
                    found = re.search(r"%s.*\b%s\b" % (heading, name.split()[-1]), text)
                else:
                    found = re.search(r"(?<![\w-])%s(?![\w-])" % re.escape(name), text)
                if not found:
                    missing.append("%s (from qv3 %s--help)" % (name, command + " " if command else ""))
        check(not missing, "%s does not mention: %s" % (page, ", ".join(missing)))


def main():
    global DEB, ROOT, VERSION
    if len(sys.argv) != 2 or sys.argv[1].startswith("-"):
        print(__doc__.strip().splitlines()[-1])
        return 2
    VERSION = project_version()
    DEB = os.path.join(os.path.abspath(sys.argv[1]), "qv3_%s_%s.deb" % (VERSION, debian_arch()))
    if not os.path.isfile(DEB):
        print("deb_test: no %s (scripts/package builds it)" % DEB)
        return 1
    scratch = tempfile.mkdtemp(prefix="deb_test.root.")
    try:
        ROOT = os.path.join(scratch, "root")
        p = run(["dpkg", "-x", DEB, ROOT], text=True)
        if p.returncode != 0:
            print("deb_test: dpkg -x failed: %s" % p.stderr)
            return 1
        cases = [control_names_package_version_and_computed_dependencies,
                 contents_are_the_program_its_manual_and_its_documents,
                 lintian_reports_no_error,
                 unpacked_qv3_states_the_version_and_decrypts_the_sample,
                 manual_page_renders_and_says_what_help_says]
        failed = run_cases(cases)
        summary(len(cases) - failed, failed)
        return 1 if failed else 0
    finally:
        shutil.rmtree(scratch, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
