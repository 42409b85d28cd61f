#!/usr/bin/env python3
"""Runs a program built against libqv3 (sample_program.c) on a copy of the bundled sample,
as its user would: usage: run_sample.py PROGRAM SAMPLE PASSWORD_FILE [EMULATOR...]

The program checks each step itself (inspect, decrypt, an existing output and a wrong
password refused with their codes, encrypt, the new container read back through the
streaming reader); this checks that it says so, and that what it left is the plaintext,
read-only, and a container of it."""

import os
import shutil
import stat
import subprocess
import sys
import tempfile

program, sample, password = (os.path.abspath(a) for a in sys.argv[1:4])
emulator = [a for a in sys.argv[4:] if a]
with tempfile.TemporaryDirectory(prefix="qv3-sample-") as folder:
    # Names relative to the folder, which a Windows program under Wine reads as they are.
    shutil.copyfile(sample, os.path.join(folder, os.path.basename(sample)))
    shutil.copyfile(password, os.path.join(folder, "password"))
    p = subprocess.run(emulator + [program, os.path.basename(sample), "password", "."], cwd=folder,
                       stdin=subprocess.DEVNULL, capture_output=True, timeout=300)
    out = p.stdout.decode("utf-8", "replace").replace("\r\n", "\n")
    print(out, end="")
    print(p.stderr.decode("utf-8", "replace"), end="", file=sys.stderr)
    left = sorted(os.listdir(folder))
    problems = []
    if p.returncode != 0 or "FAILED" in out or not out.endswith("0 failed\n"):
        problems.append("the program failed (exit %d)" % p.returncode)
    if left != sorted([os.path.basename(sample), "password", "plain.txt", "plain.txt.aqv3"]):
        problems.append("left %s" % left)
    elif os.stat(os.path.join(folder, "plain.txt")).st_mode & stat.S_IWUSR:
        problems.append("the plaintext is writable")
for problem in problems:
    print("FAILED: " + problem)
print("%d passed, %d failed" % (0 if problems else 1, 1 if problems else 0))
sys.exit(1 if problems else 0)
