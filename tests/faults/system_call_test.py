#!/usr/bin/env python3
"""qv3 decrypt met by real failing system calls. A preloaded library (fail_io) makes the
open of the container, or its reads from a chosen position on, fail with a chosen error
number, as a device or a network file system does. qv3 must print its message, then
":\\n" and exactly the system's own text for that number, exit with 1, leave no partial
output, and leave a file already under the output name as it was.

usage: system_call_test.py QV3 FAIL_IO_LIBRARY
"""
import errno
import os
import subprocess
import sys
import tempfile

SIZE = 4 << 20
MIDDLE = SIZE // 2  # well inside the data: the partial output has been written to by then

# Open, then the head (the first read), then the data in the middle of the file.
CASES = [
    # (what fails, from which position, error number, message before the path, existing output)
    ("open", 0, errno.ENXIO, "파일을 읽을 수 없습니다.\n", False),
    ("open", 0, errno.ETIMEDOUT, "파일을 읽을 수 없습니다.\n", False),
    ("read", 0, errno.ETIMEDOUT, "다음 파일을 읽을 수 없습니다.\n", False),
    ("read", MIDDLE, errno.ETIMEDOUT, "파일을 읽을 수 없습니다.\n", True),
    ("read", MIDDLE, errno.ENXIO, "파일을 읽을 수 없습니다.\n", False),
]


def listing(folder):
    return sorted(os.listdir(folder))


def placement(qv3, library, d, password):
    """Failing calls around putting outputs in place: a source --delete-source cannot
    remove is that file's failure (exit 1, its message, the mark put back, the output
    kept); a file system that can neither refuse a taken name in the rename nor make
    second names still gets every output in place, and nothing left behind."""
    failed = 0
    source = os.path.join(d, "kept.txt")
    with open(source, "wb") as f:
        f.write(b"kept")
    os.chmod(source, 0o444)
    env = dict(os.environ, LD_PRELOAD=library, QV3_FAIL_PATH=source, QV3_FAIL_CALL="unlink",
               QV3_FAIL_ERRNO=str(errno.EPERM))
    env["ASAN_OPTIONS"] = ":".join(filter(None, [env.get("ASAN_OPTIONS"), "verify_asan_link_order=0"]))
    p = subprocess.run([qv3, "encrypt", "--password-file", password, "--delete-source", source], env=env,
                       capture_output=True, timeout=60)
    expected = "qv3: error: 원래 파일을 지울 수 없습니다. 만든 파일은 남아 있습니다.\n%s:\n%s\n" % (
        source, os.strerror(errno.EPERM))
    problems = []
    if p.returncode != 1 or p.stderr.decode() != expected:
        problems.append("exit %d, %r\n  expected %r" % (p.returncode, p.stderr.decode(), expected))
    if not os.path.exists(source) or os.stat(source).st_mode & 0o222:
        problems.append("the source is gone or lost its read-only mark")
    if not os.path.exists(source + ".aqv3"):
        problems.append("the container made was not kept")
    print(("FAIL %s\n  %s" % ("a source that cannot be removed", "\n  ".join(problems))) if problems else
          "ok   a source that cannot be removed")
    failed += bool(problems)

    env.update(QV3_FAIL_PATH=d, QV3_FAIL_CALL="noreplace")
    os.chmod(source, 0o644)
    os.remove(source + ".aqv3")
    runs = [[qv3, "encrypt", "--password-file", password, "--delete-source", source],
            [qv3, "decrypt", "--password-file", password, "--delete-source", source + ".aqv3"]]
    problems = []
    for run in runs:
        p = subprocess.run(run, env=env, capture_output=True, timeout=60)
        if p.returncode != 0:
            problems.append("%s: exit %d, %r" % (run[1], p.returncode, p.stderr))
    with open(source, "rb") as f:
        if f.read() != b"kept":
            problems.append("the round trip changed the file")
    if any(".qv3part" in n for n in os.listdir(d)):
        problems.append("left behind: %s" % os.listdir(d))
    os.chmod(source, 0o644)
    os.remove(source)
    print(("FAIL %s\n  %s" % ("no renaming refusal, no second names", "\n  ".join(problems))) if problems else
          "ok   no renaming refusal, no second names")
    return failed + bool(problems)


def main():
    qv3, library = sys.argv[1], os.path.abspath(sys.argv[2])
    failures = 0
    with tempfile.TemporaryDirectory(prefix="qv3-syscall-") as d:
        plain = os.path.join(d, "data.bin")
        password = os.path.join(d, "pw")
        with open(password, "w") as f:
            f.write("syscalls\n")
        content = os.urandom(SIZE)
        with open(plain, "wb") as f:
            f.write(content)
        subprocess.run([qv3, "encrypt", "--password-file", password, "--delete-source", plain],
                       check=True, capture_output=True)
        container = plain + ".aqv3"
        before = listing(d)

        def decrypt(call, offset, code):
            env = dict(os.environ, LD_PRELOAD=library, QV3_FAIL_PATH=container, QV3_FAIL_CALL=call,
                       QV3_FAIL_ERRNO=str(code), QV3_FAIL_OFFSET=str(offset))
            # A sanitizer's runtime would refuse to start behind a preloaded library.
            env["ASAN_OPTIONS"] = ":".join(filter(None, [env.get("ASAN_OPTIONS"), "verify_asan_link_order=0"]))
            # With a file already at the output path the run may replace it, so that it goes
            # as far as the failure: the file must survive that failure all the same.
            overwrite = ["--overwrite"] if os.path.exists(plain) else []
            return subprocess.run([qv3, "decrypt", "--password-file", password, *overwrite, container],
                                  env=env, capture_output=True, timeout=300)

        for call, offset, code, prefix, existing in CASES:
            name = "%s from %d: %s" % (call, offset, errno.errorcode[code])
            old = b"a file that was here before\n"
            if existing:
                with open(plain, "wb") as f:
                    f.write(old)
            p = decrypt(call, offset, code)
            expected = "qv3: error: %s%s:\n%s\n" % (prefix, container, os.strerror(code))
            problems = []
            if p.returncode != 1:
                problems.append("exit status %d, not 1" % p.returncode)
            if p.stderr.decode("utf-8", "replace") != expected:
                problems.append("stderr %r\n  expected %r" % (p.stderr.decode("utf-8", "replace"), expected))
            if existing:
                with open(plain, "rb") as f:
                    if f.read() != old:
                        problems.append("the file already under the output name was changed")
                os.remove(plain)
            if listing(d) != before:
                problems.append("left behind: %s" % sorted(set(listing(d)) - set(before)))
            for extra in set(listing(d)) - set(before):
                os.remove(os.path.join(d, extra))
            if problems:
                failures += 1
                print("FAIL %s\n  %s" % (name, "\n  ".join(problems)))
            else:
                print("ok   %s" % name)

        # The same library with reads failing only past the end: nothing fails, and the
        # plaintext comes out whole.
        p = decrypt("read", os.path.getsize(container) + 1, errno.ETIMEDOUT)
        whole = p.returncode == 0 and os.path.exists(plain)
        if whole:
            with open(plain, "rb") as f:
                whole = f.read() == content
        if whole:
            print("ok   reads that never reach the failing position")
        else:
            failures += 1
            print("FAIL reads that never reach the failing position: exit %d, %r" % (p.returncode, p.stderr))

        failures += placement(qv3, library, d, password)
    print("%d passed, %d failed" % (len(CASES) + 3 - failures, failures))
    sys.exit(1 if failures else 0)


if __name__ == "__main__":
    main()
