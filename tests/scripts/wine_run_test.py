#!/usr/bin/env python3
"""scripts/wine-run's choices, as test-all and run-sample rely on them: the architecture
read from a program's PE header, and a 32-bit program refused in one line with exit 125
where the machine cannot run it (simulated with QV3_NO_32BIT=1), never a shell's
"Exec format error".

usage: wine_run_test.py WINE_RUN MACHINE PROGRAM.exe...   (MACHINE: i386 or x86-64)
"""
import os
import struct
import subprocess
import sys
import tempfile

WINE_RUN, MACHINE, PROGRAMS = sys.argv[1], sys.argv[2], sys.argv[3:]
failures = []


def check(condition, what):
    if not condition:
        failures.append(what)
        print("FAIL: " + what)


def run(*args, **env):
    p = subprocess.run([WINE_RUN] + list(args), stdin=subprocess.DEVNULL, capture_output=True,
                       env=dict(os.environ, **env), timeout=120)
    return p.returncode, p.stdout.decode(errors="replace"), p.stderr.decode(errors="replace")


def fake_pe(folder, name, machine, signature=b"PE\0\0"):
    """A file with just enough of a PE header for its machine field to be read."""
    path = os.path.join(folder, name)
    header = bytearray(128)
    header[0:2] = b"MZ"
    header[60:64] = struct.pack("<I", 64)
    header[64:68] = signature
    header[68:70] = struct.pack("<H", machine)
    with open(path, "wb") as f:
        f.write(header)
    return path


def refused_in_one_line(result, what):
    code, out, err = result
    check(code == 125, "%s: exit %d, not 125" % (what, code))
    check(out == "", "%s: printed %r on stdout" % (what, out))
    lines = err.splitlines()
    check(len(lines) == 1 and lines[0].startswith("wine-run: "), "%s: not one line: %r" % (what, err))
    check("Exec format error" not in err, "%s: the shell's error leaked: %r" % (what, err))
    return err


# The build's own programs carry the build's architecture, and this machine runs them.
for program in PROGRAMS:
    code, out, _ = run("--machine", program)
    check((code, out.strip()) == (0, MACHINE), "%s: --machine gave %r (exit %d), not %s"
          % (os.path.basename(program), out.strip(), code, MACHINE))
    check(run("--can-run", program)[0] == 0, "%s: --can-run refused a program of this build"
          % os.path.basename(program))

# --env gives what a run uses: its loader runs the build's qv3 (the last program) without
# the script.
QV3 = PROGRAMS[-1]
code, out, _ = run("--env", QV3)
env = dict(line.split("=", 1) for line in out.splitlines() if "=" in line)
check(code == 0 and {"WINEPREFIX", "WINELOADER", "LC_ALL"} <= env.keys(), "--env gave %r (exit %d)" % (out, code))
if code == 0 and "WINELOADER" in env:
    expected = "/usr/lib/wine/wine64" if MACHINE == "x86-64" else "/usr/lib/wine/wine"
    check(env["WINELOADER"] == expected, "--env: loader %s, not %s" % (env["WINELOADER"], expected))
    direct = subprocess.run([env["WINELOADER"], QV3, "--version"], env=dict(os.environ, **env),
                            stdin=subprocess.DEVNULL, capture_output=True, timeout=120)
    via = run(QV3, "--version")
    check(via[0] == 0 and via[1].startswith("qv3 "), "%s --version: %r (exit %d)" % (QV3, via[1], via[0]))
    check((direct.returncode, direct.stdout.decode(errors="replace")) == (via[0], via[1]),
          "--env: the loader alone answered %r, the script %r" % (direct.stdout, via[1]))

with tempfile.TemporaryDirectory(prefix="wine_run_test.") as folder:
    i386 = fake_pe(folder, "x86.exe", 0x014C)
    amd64 = fake_pe(folder, "x64.exe", 0x8664)
    arm = fake_pe(folder, "arm.exe", 0xAA64)
    not_pe = fake_pe(folder, "text.exe", 0x014C, signature=b"NE\0\0")
    for path, expected in ((i386, "i386"), (amd64, "x86-64")):
        code, out, _ = run("--machine", path)
        check((code, out.strip()) == (0, expected), "fake %s header read as %r" % (expected, out.strip()))
    for path in (arm, not_pe):
        refused_in_one_line(run("--machine", path), os.path.basename(path))

    # A machine without 32-bit execution: the question and the run both refuse, the same way.
    for args in (("--can-run", i386), ("--can-run", "i386"), (i386, "/?")):
        err = refused_in_one_line(run(*args, QV3_NO_32BIT="1"), "no 32-bit: " + " ".join(args))
        check("cannot run 32-bit programs" in err, "no 32-bit: %s: reason missing: %r" % (args, err))
    # ... while 64-bit programs are still welcome there.
    check(run("--can-run", amd64, QV3_NO_32BIT="1")[0] == 0, "no 32-bit: a 64-bit program refused")
    check(run("--can-run", "x86-64", QV3_NO_32BIT="1")[0] == 0, "no 32-bit: x86-64 refused")

print("%d problems" % len(failures) if failures else "wine-run: every check passed")
sys.exit(1 if failures else 0)
