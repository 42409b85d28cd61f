#!/usr/bin/env python3
"""Every text the programs show has its English twin, and nothing else is in the catalog.

usage: catalog_test.py

Extracts the marked texts (Tr and N_) of every source file the programs are built from
with xgettext, then checks po/en.po against them with po/po_tool.py check, the Windows
viewer's English dialog templates included. Exit status 0 when complete.
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
        return subprocess.run([sys.executable, os.path.join(ROOT, "po", "po_tool.py"), "check",
                               os.path.join(ROOT, "po", "en.po"), template,
                               os.path.join(ROOT, "resources", "TarvessinViewer.rc")]).returncode


if __name__ == "__main__":
    sys.exit(main())
