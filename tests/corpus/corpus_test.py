#!/usr/bin/env python3
"""Decrypts every container of the corpus with qv3 as a user would and checks each
outcome the manifest gives.

usage: corpus_test.py [--english] QV3 CORPUS_DIR [EMULATOR]

For each manifest row, on a copy of the container in a temporary folder:
  qv3 decrypt --password-file FILE [--password-encoding cp949] CONTAINER
must exit 0 leaving exactly the plaintext with the stated SHA-256 beside the container,
or exit 1 printing exactly "qv3: error: " + the reader's message and leave nothing
behind (no plaintext, no partial file). A failing row runs a second time with a file
already at the output path, which must come through unchanged. The container itself
must never change. Nothing is written to standard output. Then the rows of each password
run once more together, one qv3 decrypt --jobs 4 over all their containers: the same
outcomes, the messages in the order the containers were given.

With EMULATOR (the Windows build under Wine) the program's text is code page 949 and
every line it writes ends in exactly CR LF: the message's own CR LF stay, its final LF
becomes CR LF.

With --english the program runs under an English locale (LC_ALL=en_US.UTF-8, or an
English Wine prefix, code page 1252): every message is the English of po/en.po around
the same path, no Hangul anywhere, the exit statuses and files the same.
"""

import concurrent.futures
import hashlib
import os
import shutil
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
from harness import line_ends, unescape  # noqa: E402

ARGS = [a for a in sys.argv[1:] if a != "--english"]
ENGLISH = "--english" in sys.argv[1:]
QV3 = os.path.abspath(ARGS[0])
CORPUS = os.path.abspath(ARGS[1])
EMULATOR = ARGS[2] if len(ARGS) > 2 and ARGS[2] else None
ENCODING = ("cp1252" if ENGLISH else "cp949") if EMULATOR else "utf-8"
ENVIRONMENT = dict(os.environ, LANGUAGE="")
if ENGLISH:
    ENVIRONMENT.update(LC_ALL="en_US.UTF-8", QV3_WINE_LOCALE="en_US.UTF-8")
PRE_EXISTING = b"a file that was here before; a failed decryption must leave it alone\n"


def rows(name, fields):
    with open(os.path.join(CORPUS, name), encoding="utf-8", newline="\n") as f:
        for number, line in enumerate(f, 1):
            line = line.rstrip("\n")
            if not line or line.startswith("#"):
                continue
            cells = line.split("\t")
            if len(cells) != fields:
                raise SystemExit("%s:%d: %d fields, expected %d" % (name, number, len(cells), fields))
            yield number, cells


MESSAGES = {name: (unescape(prefix), unescape(suffix))
            for _, (name, prefix, suffix) in rows("messages.tsv", 3)}
if ENGLISH:
    sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "po"))
    import po_tool  # noqa: E402
    CATALOG = {o: t for o, t, _ in po_tool.parse(os.path.join(os.path.dirname(os.path.abspath(__file__)),
                                                              "..", "..", "po", "en.po"))}
    MESSAGES = {name: (CATALOG.get(prefix, prefix) if prefix else "", CATALOG.get(suffix, suffix) if suffix else "")
                for name, (prefix, suffix) in MESSAGES.items()}


def read(path):
    with open(path, "rb") as f:
        return f.read()


def listing(folder):
    return sorted(os.listdir(folder))


def run_qv3(folder, containers, password_file, encoding, overwrite, empty, jobs="1"):
    args = ["decrypt", "--jobs", jobs, "--password-file", password_file]
    if encoding != "-":
        args += ["--password-encoding", encoding]
    # A file already at the output path may be replaced, so that the run goes as far as
    # the container's own failure; it must survive that failure all the same.
    if overwrite:
        args.append("--overwrite")
    if empty:
        args.append("--empty-password")
    args += containers
    command = ([EMULATOR] if EMULATOR else []) + [QV3] + args
    p = subprocess.run(command, cwd=folder, stdin=subprocess.DEVNULL, capture_output=True,
                       timeout=120, env=ENVIRONMENT)
    if EMULATOR and p.returncode != 0 and not p.stdout and not p.stderr:
        # Seen once in many thousand runs under Wine: exit 1 with nothing written at all,
        # which qv3 never does for a failure of its own. Said here and run once more, so
        # that a second silent run still fails the row.
        print("WARNING: %s exited %d without a word; run again" % (" ".join(args), p.returncode))
        p = subprocess.run(command, cwd=folder, stdin=subprocess.DEVNULL, capture_output=True,
                           timeout=120, env=ENVIRONMENT)
    return p


def stderr_matches(actual, expected_text):
    return actual == line_ends(expected_text.encode(ENCODING), EMULATOR is not None)


def check_row(base, number, container, password_hex, encoding, outcome, detail):
    """Returns a list of problems (empty when the row passed)."""
    problems = []
    source = os.path.join(CORPUS, "containers", container)
    original = read(source)
    output = container[:-5]
    tries = [False] if outcome == "ok" else [False, True]
    for pre_existing in tries:
        where = "line %d, %s%s" % (number, container, " (output already there)" if pre_existing else "")
        run_dir = tempfile.mkdtemp(prefix="row%d-" % number, dir=base)
        work = os.path.join(run_dir, "work")
        os.mkdir(work)
        with open(os.path.join(run_dir, "password"), "wb") as f:
            f.write(b"" if password_hex == "-" else bytes.fromhex(password_hex))
        shutil.copyfile(source, os.path.join(work, container))
        if pre_existing:
            with open(os.path.join(work, output), "wb") as f:
                f.write(PRE_EXISTING)
        p = run_qv3(work, [container], os.path.join("..", "password"), encoding, pre_existing, password_hex == "-")

        def problem(text):
            problems.append("%s: %s\n    exit %d, stdout %r, stderr %r" %
                            (where, text, p.returncode, p.stdout[:200], p.stderr[:400]))

        if p.stdout:
            problem("wrote to standard output")
        if read(os.path.join(work, container)) != original:
            problem("the container was changed")
        files = listing(work)
        if outcome == "ok":
            if p.returncode != 0 or p.stderr:
                problem("expected success")
            elif files != sorted([container, output]):
                problem("expected the container and %s, found %s" % (output, files))
            else:
                digest = hashlib.sha256(read(os.path.join(work, output))).hexdigest()
                if digest != detail:
                    problem("plaintext SHA-256 %s, expected %s" % (digest, detail))
        else:
            prefix, suffix = MESSAGES[detail]
            message = "qv3: error: " + prefix + container + suffix + "\n"
            if p.returncode != 1:
                problem("expected exit status 1 (%s)" % detail)
            elif not stderr_matches(p.stderr, message):
                problem("expected the %s message %r" % (detail, message))
            if ENGLISH and any("\uac00" <= c <= "\ud7a3" for c in p.stderr.decode(ENCODING, "replace")):
                problem("Hangul in an English message")
            expected_files = sorted([container] + ([output] if pre_existing else []))
            if files != expected_files:
                problem("left %s, expected %s" % (files, expected_files))
            if pre_existing and output in files and read(os.path.join(work, output)) != PRE_EXISTING:
                problem("the file already at the output path was changed")
        shutil.rmtree(run_dir, ignore_errors=True)
    return problems


def check_batches(base, manifest):
    """The rows of each password in one run over all their containers with --jobs 4:
    each container's outcome is its row's, and the messages come in the order given.
    Returns a list of problems."""
    groups = {}
    for number, (container, password_hex, encoding, outcome, detail, _) in manifest:
        rows_of = groups.setdefault((password_hex, encoding), {})
        rows_of.setdefault(container, (number, outcome, detail))  # a container once a run
    problems = []
    for (password_hex, encoding), rows_of in sorted(groups.items()):
        run_dir = tempfile.mkdtemp(prefix="batch-", dir=base)
        work = os.path.join(run_dir, "work")
        os.mkdir(work)
        with open(os.path.join(run_dir, "password"), "wb") as f:
            f.write(b"" if password_hex == "-" else bytes.fromhex(password_hex))
        for container in rows_of:
            shutil.copyfile(os.path.join(CORPUS, "containers", container), os.path.join(work, container))
        p = run_qv3(work, list(rows_of), os.path.join("..", "password"), encoding, False, password_hex == "-", "4")
        message = "".join("qv3: error: %s%s%s\n" % (MESSAGES[detail][0], container, MESSAGES[detail][1])
                          for container, (_, outcome, detail) in rows_of.items() if outcome == "fail")
        made = {container[:-5]: detail for container, (_, outcome, detail) in rows_of.items() if outcome == "ok"}
        files = listing(work)
        where = "lines %s in one run" % ",".join(str(n) for n, _, _ in rows_of.values())
        if p.returncode != (1 if message else 0) or p.stdout or not stderr_matches(p.stderr, message):
            problems.append("%s: exit %d, stdout %r, stderr %r; expected %r" %
                            (where, p.returncode, p.stdout[:200], p.stderr[:400], message[:400]))
        elif files != sorted(list(rows_of) + list(made)):
            problems.append("%s: left %s" % (where, files))
        else:
            for output, digest in made.items():
                if hashlib.sha256(read(os.path.join(work, output))).hexdigest() != digest:
                    problems.append("%s: %s is not the plaintext" % (where, output))
        shutil.rmtree(run_dir, ignore_errors=True)
    return problems, len(groups)


def main():
    manifest = list(rows("manifest.tsv", 6))
    containers = set(os.listdir(os.path.join(CORPUS, "containers")))
    problems = []
    listed = set()
    for number, (container, _, _, outcome, detail, _) in manifest:
        listed.add(container)
        if container not in containers:
            problems.append("line %d: no container %s" % (number, container))
        if outcome not in ("ok", "fail") or (outcome == "fail" and detail not in MESSAGES):
            problems.append("line %d: unknown outcome %s %s" % (number, outcome, detail))
    for extra in sorted(containers - listed):
        problems.append("%s is in no manifest row" % extra)
    if problems:
        print("\n".join(problems))
        return 1

    if EMULATOR:
        # The first start may set up the emulator (and say so on standard error).
        subprocess.run([EMULATOR, QV3, "--version"], stdin=subprocess.DEVNULL,
                       capture_output=True, timeout=300, env=ENVIRONMENT)
    runs = failed = 0
    with tempfile.TemporaryDirectory(prefix="qv3-corpus-") as base:
        # The rows are independent (each in folders of its own): a few at once, so that a
        # program's start (the emulator's above all) does not leave the cores idle. Their
        # problems are reported in the manifest's order.
        with concurrent.futures.ThreadPoolExecutor(max_workers=min(4, os.cpu_count() or 1)) as pool:
            results = [pool.submit(check_row, base, number, container, password_hex, encoding, outcome, detail)
                       for number, (container, password_hex, encoding, outcome, detail, _) in manifest]
            for (_, (_, _, _, outcome, _, _)), result in zip(manifest, results):
                found = result.result()
                problems += found
                failed += 1 if found else 0
                runs += 1 if outcome == "ok" else 2
        batch_problems, batches = check_batches(base, manifest)
        problems += batch_problems
        failed += len(batch_problems)
    for p in problems:
        print("FAIL " + p)
    print("%d manifest rows, %d runs of qv3 decrypt over %d containers and %d with --jobs 4%s%s: %s" %
          (len(manifest), runs, len(containers), batches, " under " + os.path.basename(EMULATOR) if EMULATOR else "",
           " in English" if ENGLISH else "",
           "%d rows FAILED" % failed if problems else "all passed"))
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
