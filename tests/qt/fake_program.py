#!/usr/bin/env python3
"""Stands in for the program a desktop associates with a document type, in the viewer's
end-to-end test. Records what it was given on one JSON line of LOG per file.

usage: fake_program.py view LOG FILE...      reads each file and keeps it open for a
                                             moment, then exits
       fake_program.py hand-off LOG FILE...  exits at once, as a launcher that hands the
                                             files to an instance already running; that
                                             instance opens them a little later
       fake_program.py edit LOG FILE...      reads each file, then saves "edited" over it
                                             in place (as an editor's "write anyway" does)
       fake_program.py hold LOG FILE...      reads each file and keeps it open for
                                             HOLD_LONG seconds (a program that never lets
                                             go), exiting at once
"""

import hashlib
import json
import os
import sys
import time

HOLD = 0.6      # seconds a file is kept open
HOLD_LONG = 40  # seconds the holding instance keeps it
EDITED = b"edited by the fake program\n"
LATER = 0.8     # seconds before the running instance opens a handed-over file


def record(log, entry):
    fd = os.open(log, os.O_WRONLY | os.O_APPEND | os.O_CREAT, 0o600)
    os.write(fd, (json.dumps(entry) + "\n").encode())
    os.close(fd)


def view(log, files, mode):
    for path in files:
        entry = {"as": mode, "file": path, "pid": os.getpid()}
        try:
            with open(path, "rb") as f:
                entry["sha256"] = hashlib.sha256(f.read()).hexdigest()
                entry["mode"] = os.fstat(f.fileno()).st_mode & 0o7777
                time.sleep(HOLD)
        except OSError as e:
            entry["error"] = e.strerror
        record(log, entry)


def edit(log, files):
    for path in files:
        entry = {"as": "edit", "file": path, "pid": os.getpid()}
        with open(path, "rb") as f:
            entry["sha256"] = hashlib.sha256(f.read()).hexdigest()
        os.chmod(path, 0o600)
        with open(path, "r+b") as f:
            f.truncate(0)
            f.write(EDITED)
        record(log, entry)


def hold(log, files):
    if os.fork() > 0:
        return  # the launcher ends; the instance keeps the files
    os.setsid()
    devnull = os.open(os.devnull, os.O_RDWR)
    for fd in (0, 1, 2):
        os.dup2(devnull, fd)
    held = [open(path, "rb") for path in files]
    for f, path in zip(held, files):
        record(log, {"as": "hold", "file": path, "pid": os.getpid(),
                     "sha256": hashlib.sha256(f.read()).hexdigest()})
    time.sleep(HOLD_LONG)
    os._exit(0)


def main():
    mode, log, files = sys.argv[1], sys.argv[2], sys.argv[3:]
    if mode == "view":
        view(log, files, mode)
    elif mode == "edit":
        edit(log, files)
    elif mode == "hold":
        hold(log, files)
    elif mode == "hand-off":
        if os.fork() > 0:
            return 0  # the launcher: gone before anything is opened
        os.setsid()
        if os.fork() > 0:
            os._exit(0)
        devnull = os.open(os.devnull, os.O_RDWR)
        for fd in (0, 1, 2):
            os.dup2(devnull, fd)
        time.sleep(LATER)
        view(log, files, mode)
        os._exit(0)
    else:
        print("fake_program.py: unknown mode " + mode, file=sys.stderr)
        return 2
    return 0


if __name__ == "__main__":
    sys.exit(main())
