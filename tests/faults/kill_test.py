#!/usr/bin/env python3
"""A decryption killed outright (SIGKILL) in the middle of a large container leaves no
file under the final output name, only its temporary file, readable by its owner alone;
the next run over the same container removes that file (no one holds it), says so, and
succeeds.

usage: kill_test.py QV3
"""
import hashlib
import os
import signal
import subprocess
import sys
import tempfile
import time

SIZE = 192 << 20


def main():
    qv3 = sys.argv[1]
    with tempfile.TemporaryDirectory(prefix="qv3-kill-") as d:
        plain = os.path.join(d, "big.bin")
        password = os.path.join(d, "pw")
        with open(password, "w") as f:
            f.write("kill test\n")
        digest = hashlib.sha256()
        with open(plain, "wb") as f:
            block = os.urandom(1 << 20)
            for i in range(SIZE >> 20):
                chunk = bytes([i & 0xFF]) + block[1:]
                digest.update(chunk)
                f.write(chunk)
        subprocess.run([qv3, "encrypt", "--password-file", password, "--delete-source", plain], check=True)
        container = plain + ".aqv3"
        assert os.path.exists(container) and not os.path.exists(plain)
        partial = plain + ".qv3part"

        # The slow, portable crypto paths give time to catch it in the middle.
        env = dict(os.environ, QV3_CPU="portable")
        proc = subprocess.Popen([qv3, "decrypt", "--password-file", password, container],
                                env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        deadline = time.time() + 60
        while time.time() < deadline:
            if os.path.exists(partial) and os.path.getsize(partial) >= (16 << 20):
                break
            if proc.poll() is not None:
                sys.exit("qv3 finished before it could be killed; the test needs a slower run")
            time.sleep(0.005)
        else:
            proc.kill()
            sys.exit("no partial output appeared")
        proc.send_signal(signal.SIGKILL)
        proc.wait()
        assert proc.returncode == -signal.SIGKILL, proc.returncode
        if os.path.exists(plain):
            sys.exit("a file appeared under the final output name after SIGKILL")
        print("killed with %d MiB written to the temporary file" % (os.path.getsize(partial) >> 20))
        mode = os.stat(partial).st_mode & 0o777
        if mode != 0o600:
            sys.exit("the temporary file is readable by others: %o" % mode)

        # What a dead run of this user's left, that no one holds, goes, and the user is told.
        p = subprocess.run([qv3, "decrypt", "--password-file", password, container], check=True,
                           stderr=subprocess.PIPE, text=True)
        if partial not in p.stderr:
            sys.exit("the removal of the dead run's temporary file was not said: %r" % p.stderr)
        h = hashlib.sha256()
        with open(plain, "rb") as f:
            for chunk in iter(lambda: f.read(1 << 20), b""):
                h.update(chunk)
        if h.digest() != digest.digest():
            sys.exit("the plaintext of the second run differs")
        if os.path.exists(partial) or os.path.exists(partial + "2"):
            sys.exit("a temporary file was left after a successful run")
        print("1 passed, 0 failed")


if __name__ == "__main__":
    main()
