"""What the packaging tests share: the project's version as the top CMakeLists.txt
writes it, the artifacts' names, a runner of named cases with a closing count, and a
reader of a Windows program's header and version resource."""

import os
import re
import struct
import subprocess
import sys
import time
import traceback

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
sys.path.insert(0, os.path.join(ROOT, "tests"))

from harness import check  # noqa: E402,F401  (re-exported for the tests)


def project_version():
    """MAJOR.MINOR.PATCH from the project() line: the one place the version is written."""
    with open(os.path.join(ROOT, "CMakeLists.txt"), encoding="utf-8") as f:
        m = re.search(r"^project\(\s*TarvessinViewer\s+VERSION\s+([0-9]+\.[0-9]+\.[0-9]+)\b",
                      f.read(), re.M)
    if not m:
        raise SystemExit("no project(TarvessinViewer VERSION ...) line in CMakeLists.txt")
    return m.group(1)


def debian_arch():
    return subprocess.run(["dpkg", "--print-architecture"], capture_output=True, text=True,
                          check=True).stdout.strip()


def artifact_names(version, deb_arch):
    """Every file scripts/package writes, SHA256SUMS aside."""
    return (["TarvessinViewer-%s-%s.msi" % (version, a) for a in ("x86", "x64")] +
            ["TarvessinViewer-%s-%s.zip" % (version, a) for a in ("win32", "win64")] +
            ["%s_%s_%s.deb" % (package, version, deb_arch) for package in ("qv3", "libqv3-1", "libqv3-dev")])


def run(args, **kw):
    kw.setdefault("capture_output", True)
    kw.setdefault("stdin", subprocess.DEVNULL)
    kw.setdefault("timeout", 300)
    return subprocess.run(args, **kw)


# --- cases ---------------------------------------------------------------------------------


def run_cases(cases, *args):
    """Runs each case(*args) in order; prints one line each and the closing count.
    Returns the number that failed."""
    failed = 0
    for case in cases:
        started = time.monotonic()
        try:
            case(*args)
            print("ok      %-46s %5.1f s" % (case.__name__, time.monotonic() - started))
        except Exception as e:  # noqa: BLE001 - every failure is reported the same way
            failed += 1
            print("FAILED  %-46s %5.1f s" % (case.__name__, time.monotonic() - started))
            if isinstance(e, AssertionError):
                print("        " + str(e).replace("\n", "\n        "))
            else:
                traceback.print_exc(file=sys.stdout)
        sys.stdout.flush()
    return failed


def summary(passed, failed, skipped=0):
    print("%d passed, %d failed" % (passed, failed) + (", %d skipped" % skipped if skipped else ""))


# --- Windows programs ------------------------------------------------------------------------

PE_MACHINES = {0x14C: "i386", 0x8664: "x86-64"}
PE_SUBSYSTEMS = {2: "gui", 3: "console"}
RT_VERSION = 16
RT_MANIFEST = 24


def pe_header(data):
    """(machine, subsystem, sections, data directories) of a PE image."""
    check(data[:2] == b"MZ", "not a Windows program (no MZ header)")
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    check(data[pe:pe + 4] == b"PE\0\0", "not a Windows program (no PE signature)")
    machine, nsections, _, _, _, optsize, _ = struct.unpack_from("<HHIIIHH", data, pe + 4)
    opt = pe + 24
    magic = struct.unpack_from("<H", data, opt)[0]
    subsystem = struct.unpack_from("<H", data, opt + 68)[0]
    dirs_at = opt + (96 if magic == 0x10B else 112)
    ndirs = struct.unpack_from("<I", data, dirs_at - 4)[0]
    dirs = [struct.unpack_from("<II", data, dirs_at + 8 * i) for i in range(ndirs)]
    sections = []
    for i in range(nsections):
        at = opt + optsize + 40 * i
        vsize, va, rawsize, rawptr = struct.unpack_from("<IIII", data, at + 8)
        sections.append((va, max(vsize, rawsize), rawptr))
    return (PE_MACHINES.get(machine, hex(machine)), PE_SUBSYSTEMS.get(subsystem, subsystem),
            sections, dirs)


def pe_stamps(data):
    """(time stamp, (major, minor) operating system version, (major, minor) subsystem
    version) of a PE image's headers."""
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    stamp = struct.unpack_from("<I", data, pe + 8)[0]
    opt = pe + 24
    os_version = struct.unpack_from("<HH", data, opt + 40)
    subsystem_version = struct.unpack_from("<HH", data, opt + 48)
    return stamp, os_version, subsystem_version


def _offset(sections, rva):
    for va, size, raw in sections:
        if va <= rva < va + size:
            return raw + rva - va
    raise AssertionError("address 0x%x lies in no section" % rva)


def _version_node(data, at):
    """One node of a version resource: (key, value, children)."""
    length, value_length, kind = struct.unpack_from("<HHH", data, at)
    end = at + length
    key_end = at + 6
    while data[key_end:key_end + 2] != b"\0\0":
        key_end += 2
    key = data[at + 6:key_end].decode("utf-16-le")
    pos = (key_end + 2 + 3) & ~3
    if kind == 1:  # text, value_length in characters
        value = data[pos:pos + 2 * value_length].decode("utf-16-le").rstrip("\0")
        pos += 2 * value_length
    else:
        value = data[pos:pos + value_length]
        pos += value_length
    children = []
    pos = (pos + 3) & ~3
    while pos < end:
        child = _version_node(data, pos)
        children.append(child[:3])
        pos = (pos + child[3] + 3) & ~3
    return key, value, children, length


def resource(data, kind, what):
    """(offset, size) in data of the first resource of type kind (its first name and
    language); what names it in the failure."""
    _, _, sections, dirs = pe_header(data)
    check(len(dirs) > 2 and dirs[2][0], "the program has no resources")
    base = _offset(sections, dirs[2][0])

    def entries(directory):
        named, ids = struct.unpack_from("<HH", data, directory + 12)
        for i in range(named + ids):
            ident, target = struct.unpack_from("<II", data, directory + 16 + 8 * i)
            yield ident, target

    level = base
    for wanted in (kind, None, None):   # type, then the first name and language
        found = [t for i, t in entries(level) if wanted is None or i == wanted]
        check(found, "the program has no %s" % what)
        level = base + (found[0] & 0x7FFFFFFF)
    rva, size = struct.unpack_from("<II", data, level)
    return _offset(sections, rva), size


def manifest(data):
    """The application manifest of a PE image, as text."""
    at, size = resource(data, RT_MANIFEST, "application manifest")
    return data[at:at + size].decode("utf-8")


def version_info(data):
    """The version resource of a PE image: {"FileVersion": (a, b, c, d), "ProductVersion":
    (a, b, c, d), "tables": {block name: {name: text}} of its string tables (Korean
    041204b0 and English 040904b0)}."""
    root, size = resource(data, RT_VERSION, "version resource")
    key, fixed, children, _ = _version_node(data[:root + size], root)
    check(key == "VS_VERSION_INFO", "the version resource is named %r" % key)
    signature, _, fms, fls, pms, pls = struct.unpack_from("<IIIIII", fixed)
    check(signature == 0xFEEF04BD, "the version resource has no fixed part")
    split = lambda ms, ls: (ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF)  # noqa: E731
    found = {}
    for name, _, tables in children:
        if name == "StringFileInfo":
            found = {table[0].lower(): {k: v for k, v, _ in table[2]} for table in tables}
    return {"FileVersion": split(fms, fls), "ProductVersion": split(pms, pls), "tables": found}
