#!/usr/bin/env python3
"""Every text the programs show has its English twin, and nothing else is in the catalog.

usage: catalog_test.py

Extracts the marked texts (Tr and N_) of every source file the programs are built from
with xgettext, then checks po/en.po against them with po/po_tool.py check, the Windows
viewer's English dialog templates included. Exit status 0 when complete. The check must
also catch a slip: the catalog with one English conversion changed (a "%s" made "%u", a
"%u" dropped) must fail it, naming that text.
"""

import os
import subprocess
import sys
import tempfile

ROOT = os.path.normpath(os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
FOLDERS = ("app", "association", "capi", "cli", "container", "jobs", "platform", "ui", "web")


def sources():
    found = []
    for folder in FOLDERS:
        for dirpath, _, names in os.walk(os.path.join(ROOT, folder)):
            found += [os.path.relpath(os.path.join(dirpath, n), ROOT) for n in names if n.endswith((".cpp", ".h"))]
    return sorted(found)


def main():
    with tempfile.TemporaryDirectory() as scratch:
        template = os.path.join(scratch, "texts.pot")
        p = subprocess.run(["xgettext", "--language=C++", "--from-code=UTF-8", "--keyword=", "--keyword=Tr",
                            "--keyword=N_", "--force-po", "-o", template] + sources(),
                           cwd=ROOT, capture_output=True, text=True)
        if p.returncode != 0:
            print("catalog_test: xgettext failed:\n" + p.stderr)
            return 1
        catalog = os.path.join(ROOT, "po", "en.po")
        status = check(catalog, template, os.path.join(ROOT, "resources", "TarvessinViewer.rc")).returncode
        for slip in (("%s", "%u"), ("%u", "")):
            status |= catches_slip(catalog, template, scratch, *slip)
        return status


def check(catalog, template, *scripts, **kwargs):
    return subprocess.run([sys.executable, os.path.join(ROOT, "po", "po_tool.py"), "check", catalog, template]
                          + list(scripts), **kwargs)


def catches_slip(catalog, template, scratch, was, becomes):
    """0 when the catalog with the first English `was` made `becomes` fails the check on that text."""
    with open(catalog, encoding="utf-8") as f:
        lines = f.read().split("\n")
    at = next(i for i, line in enumerate(lines) if line.startswith("msgstr ") and was in line)
    lines[at] = lines[at].replace(was, becomes, 1)
    doctored = os.path.join(scratch, "slip.po")
    with open(doctored, "w", encoding="utf-8") as f:
        f.write("\n".join(lines))
    p = check(doctored, template, capture_output=True, text=True)
    korean = lines[at - 1][len("msgid "):]
    if p.returncode != 1 or "conversions" not in p.stderr or korean.strip('"')[:20] not in p.stderr:
        print("catalog_test: %s made %r in %s was not caught:\n%s" % (was, becomes, lines[at], p.stderr))
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
