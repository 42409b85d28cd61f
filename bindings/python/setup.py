"""The qv3 package: `pip install ./bindings/python` (offline, with Debian's setuptools).

The extension is built against libqv3: the installed one (pkg-config qv3, the libqv3-dev
package), or a build of this tree named by QV3_BUILD_DIR (its capi/ folder), whose path
is then recorded in the extension so it finds that library at run time."""

import os
import shutil
import subprocess

from setuptools import Extension, setup

build = os.environ.get("QV3_BUILD_DIR")
include_dirs, library_dirs, runtime_dirs = [], [], []
if build:
    # The header of the tree that build was configured from.
    with open(os.path.join(build, "CMakeCache.txt"), encoding="utf-8") as cache:
        source = next(line.split("=", 1)[1].strip() for line in cache if line.startswith("CMAKE_HOME_DIRECTORY:"))
    include_dirs = [os.path.join(source, "include")]
    library_dirs = runtime_dirs = [os.path.join(os.path.abspath(build), "capi")]
elif shutil.which("pkg-config") and subprocess.run(["pkg-config", "--exists", "qv3"]).returncode == 0:
    flags = subprocess.run(["pkg-config", "--cflags-only-I", "--libs-only-L", "qv3"], capture_output=True,
                           text=True, check=True).stdout.split()
    include_dirs = [f[2:] for f in flags if f.startswith("-I")]
    library_dirs = [f[2:] for f in flags if f.startswith("-L")]

setup(
    name="qv3",
    version="1.0.0",
    description="Password-protected containers (*.aqv3): decrypt, encrypt, inspect, on libqv3",
    license="Apache-2.0",
    packages=["qv3"],
    package_data={"qv3": ["py.typed", "*.pyi"]},
    python_requires=">=3.9",
    ext_modules=[Extension("qv3._qv3", ["qv3/_qv3.c"], include_dirs=include_dirs, library_dirs=library_dirs,
                           runtime_library_dirs=runtime_dirs, libraries=["qv3"])],
    zip_safe=False,
)
