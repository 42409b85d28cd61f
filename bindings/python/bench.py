#!/usr/bin/env python3
"""qv3.decrypt against the native qv3 decrypt on one file, best of --runs each, taken by
turns so that both meet the same machine: usage (with the package installed)
    bench.py QV3 [--size-mib 1024] [--runs 3] [--folder /dev/shm]
Prints MB/s for each and the package's share of the native speed."""

import argparse
import os
import shutil
import subprocess
import tempfile
import time

import qv3

parser = argparse.ArgumentParser()
parser.add_argument("qv3")
parser.add_argument("--size-mib", type=int, default=1024)
parser.add_argument("--runs", type=int, default=3)
parser.add_argument("--folder", default="/dev/shm" if os.path.isdir("/dev/shm") else None)
args = parser.parse_args()

folder = tempfile.mkdtemp(prefix="qv3-bench-", dir=args.folder)
try:
    source = os.path.join(folder, "data.bin")
    with open(source, "wb") as f:
        block = os.urandom(1 << 20)
        for _ in range(args.size_mib):
            f.write(block)
    size = os.path.getsize(source)
    container = qv3.encrypt(source, "bench-pw")
    os.remove(source)
    with open(os.path.join(folder, "password"), "w") as f:
        f.write("bench-pw")
    native, package = [], []
    for _ in range(args.runs):
        start = time.perf_counter()
        subprocess.run([args.qv3, "decrypt", "--password-file", os.path.join(folder, "password"), container],
                       check=True)
        native.append(time.perf_counter() - start)
        os.remove(source)
        start = time.perf_counter()
        qv3.decrypt(container, b"bench-pw")
        package.append(time.perf_counter() - start)
        os.remove(source)
    mbps = lambda seconds: size / 1e6 / min(seconds)  # noqa: E731
    print("| %d MiB | qv3 decrypt %.0f MB/s | qv3.decrypt (Python) %.0f MB/s | %.2f |" %
          (args.size_mib, mbps(native), mbps(package), min(native) / min(package)))
finally:
    shutil.rmtree(folder, ignore_errors=True)
