#!/usr/bin/env python3
"""Runs the built qv3 as a user does, on real files in a temporary folder, and checks
its standard output and error, exit status and the files it leaves.

usage: qv3_cli_test.py QV3 QV3_TEST_HOOKS [EMULATOR]

QV3_TEST_HOOKS is the same program built with the switches only tests use (Ctrl-C at a
chosen moment); QV3 itself must not have them.

With EMULATOR (the Windows build under Wine) the program writes to its pipes in the ANSI
code page of the Wine locale (QV3_WINE_LOCALE, Korean unless set: code page 949),
every line it writes ends in exactly CR LF, and a lean subset runs: each start of a
Windows program costs a second or two. Under a locale other than the Korean one only
the tests of names and texts that hold on every code page run.
"""

import errno
import fcntl
import json
import os
import pty
import re
import select
import shutil
import signal
import stat
import subprocess
import sys
import tempfile
import time
import traceback

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
from harness import check, line_ends  # noqa: E402
import folder_tree  # noqa: E402

QV3 = os.path.abspath(sys.argv[1])
QV3_TEST_HOOKS = os.path.abspath(sys.argv[2])
EMULATOR = sys.argv[3] if len(sys.argv) > 3 and sys.argv[3] else None
WINE = EMULATOR is not None
LOCALE = os.environ.get("QV3_WINE_LOCALE", "ko_KR.UTF-8")
KOREAN_LOCALE = LOCALE == "ko_KR.UTF-8"
# What the Windows program writes to a pipe: the ANSI code page of its locale.
ENCODING = ("cp949" if KOREAN_LOCALE else "cp1252") if WINE else "utf-8"

# Under Wine with another locale than the Korean one the programs speak English: the
# texts expected are then po/en.po's English of the Korean ones.
ENGLISH = WINE and not KOREAN_LOCALE
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "po"))
import po_tool  # noqa: E402
CATALOG = {o: t for o, t, _ in po_tool.parse(os.path.join(os.path.dirname(os.path.abspath(__file__)),
                                                          "..", "..", "po", "en.po"))}


def tr(korean):
    """A text as qv3 writes it in the run's language."""
    return CATALOG.get(korean, korean) if ENGLISH else korean


# qv3's own texts the checks look for, as the code writes them (in Korean).
TOO_LONG_FOR_VIEWERS = ("암호가 %s 바이트인데, 데스크톱 뷰어는 암호 창에 입력한 앞의 %u 바이트만 써서 그 암호 파일을 열 수 "
                        "없습니다. 더 짧은 암호를 고르거나, qv3 decrypt 로만 열 암호 파일을 만들려면 --long-password 를 "
                        "주십시오 (아무것도 쓰지 않았습니다)")
NO_PASSWORD_READ = "암호를 읽을 수 없습니다: %s 에서 빈 암호가 왔습니다 (빈 암호를 뜻한다면 --empty-password 를 주십시오)"
KEY_BLOCK_PREFIX = "파일에 오류가 있습니다.\r\n"
KEY_BLOCK_SUFFIX = "\r\n파일이 수정되었거나 암호가 틀립니다."
CONTAINER_OVERHEAD = 294

TESTS = []


def test(native_only=False, every_locale=False):
    def register(fn):
        if not (WINE and native_only) and (every_locale or not WINE or KOREAN_LOCALE):
            TESTS.append(fn)
        return fn

    return register


class Result:
    def __init__(self, code, raw_out, raw_err):
        self.code = code
        self.raw_out = raw_out
        self.raw_err = raw_err
        # Text for the checks that read it; a run told to write UTF-8 (--utf8) is checked
        # by its bytes.
        self.out = raw_out.decode(ENCODING, "replace")
        self.err = raw_err.decode(ENCODING, "replace")

    def __repr__(self):
        return "exit %d\nstdout: %r\nstderr: %r" % (self.code, self.out, self.err)


def nl(text):
    """text as qv3 writes it on this system."""
    return line_ends(text, WINE)


def command(args, program=None):
    return ([EMULATOR] if WINE else []) + [program or QV3] + list(args)


def qv3(folder, *args, stdin=b"", env=None, program=None):
    p = subprocess.run(command(args, program), cwd=folder, input=stdin, capture_output=True, env=env,
                       timeout=300)
    r = Result(p.returncode, p.stdout, p.stderr)
    if WINE:
        # Whatever the command, no line of either stream ends any other way.
        for data in (p.stdout, p.stderr):
            check(data.count(b"\n") == data.count(b"\r\n") and b"\r\r\n" not in data,
                  "every line ends in exactly CR LF: qv3 %s" % " ".join(args), r)
    return r


def write(folder, name, data):
    with open(os.path.join(folder, name), "wb") as f:
        f.write(data)


def read(folder, name):
    with open(os.path.join(folder, name), "rb") as f:
        return f.read()


def exists(folder, name):
    return os.path.exists(os.path.join(folder, name))


def key_block_error(path):
    return nl("qv3: error: " + KEY_BLOCK_PREFIX + path + KEY_BLOCK_SUFFIX + "\n")


def without_file(folder, name):
    os.chmod(os.path.join(folder, name), 0o644)
    os.remove(os.path.join(folder, name))


def encrypt(folder, name, password=b"pw", *more):
    write(folder, "pw.txt", password)
    r = qv3(folder, "encrypt", "--password-file", "pw.txt", *more, name)
    check(r.code == 0 and r.err == "" and r.out == "", "encrypt %s failed" % name, r)
    return r


def is_read_only(folder, name):
    return not (os.stat(os.path.join(folder, name)).st_mode & stat.S_IWUSR)


# --- encrypt and decrypt ---------------------------------------------------------------


@test()
def round_trip_names_and_read_only(d):
    content = bytes(range(256)) * 40 + b"tail"
    write(d, "report.docx", content)
    encrypt(d, "report.docx", b"secret")
    check(exists(d, "report.docx.aqv3"), "a non-empty password names the container aqv3")
    check(os.path.getsize(os.path.join(d, "report.docx.aqv3")) ==
          CONTAINER_OVERHEAD + (len(content) // 16 + 1) * 16, "container size")
    check(read(d, "report.docx") == content, "the plaintext is not changed by encrypt")
    os.remove(os.path.join(d, "report.docx"))
    r = qv3(d, "decrypt", "--password-stdin", "report.docx.aqv3", stdin=b"secret\n")
    check(r.code == 0 and r.err == "" and r.out == "", "decrypt", r)
    check(read(d, "report.docx") == content, "round trip gives the plaintext back")
    check(is_read_only(d, "report.docx"), "the plaintext is read-only")
    check(exists(d, "report.docx.aqv3"), "the container stays without --delete-source")

    # An empty password names the container by category and still round-trips.
    write(d, "notes.docx", b"empty password")
    write(d, "empty.txt", b"")
    r = qv3(d, "encrypt", "--password-file", "empty.txt", "--empty-password", "notes.docx")
    check(r.code == 0 and exists(d, "notes.docx.wqv3") and not exists(d, "notes.docx.aqv3"),
          "an empty password names the container wqv3", r)
    os.remove(os.path.join(d, "notes.docx"))
    r = qv3(d, "decrypt", "--password-file", "empty.txt", "--empty-password", "notes.docx.wqv3")
    check(r.code == 0 and read(d, "notes.docx") == b"empty password", "empty password", r)


@test()
def wrong_password_leaves_nothing_and_keeps_existing_file(d):
    write(d, "a.txt", b"alpha" * 1000)
    encrypt(d, "a.txt", b"right")
    os.remove(os.path.join(d, "a.txt"))
    write(d, "wrong.txt", b"wrong\n")
    r = qv3(d, "decrypt", "--password-file", "wrong.txt", "a.txt.aqv3")
    check(r.code == 1, "a wrong password exits 1", r)
    check(r.err == key_block_error("a.txt.aqv3"), "exact key-block message", r)
    check(sorted(os.listdir(d)) == ["a.txt.aqv3", "pw.txt", "wrong.txt"],
          "no output or partial file is left: %s" % os.listdir(d))

    write(d, "a.txt", b"my own file")
    r = qv3(d, "decrypt", "--password-file", "wrong.txt", "a.txt.aqv3")
    check(r.code == 1 and read(d, "a.txt") == b"my own file",
          "a file already at the output path survives a wrong password", r)


@test()
def encrypt_twice_keeps_first_container(d):
    write(d, "x.bin", b"x" * 100)
    encrypt(d, "x.bin")
    first = read(d, "x.bin.aqv3")
    r = qv3(d, "encrypt", "--password-file", "pw.txt", "x.bin")
    check(r.code == 1, "the second encrypt fails", r)
    check(r.err.startswith(nl("qv3: error: 출력 파일을 열 수 없습니다.\r\nx.bin.aqv3:\n")) and
          r.err.endswith("\n") and r.err.count("\n") == 3,
          "message with the system's text after ':\\n'", r)
    check(read(d, "x.bin.aqv3") == first, "the first container stays as it was")


@test()
def line_ends_exact_bytes(d):
    """The bytes of multi-line text on both streams: natively each line ends in "\\n"
    and a message keeps the "\\r\\n" of its own text; under Wine every line ends in
    exactly "\\r\\n" (the checks of qv3() add that no line of any run ends otherwise)."""
    write(d, "a.txt", b"alpha")
    encrypt(d, "a.txt", b"right")
    os.remove(os.path.join(d, "a.txt"))
    write(d, "wrong.txt", b"wrong")
    info = json.loads(qv3(d, "inspect", "--json", "a.txt.aqv3").out)
    inspected = ("a.txt.aqv3\n  version     2\n" +
                 "".join("  extension   %s\n" % e for e in info["extensions"]) +
                 "  ciphertext  16 bytes\n  plaintext   5 bytes\n")
    cancel = dict(os.environ, QV3_TEST_INTERRUPT="1:100")
    system_text = "<the system's text>"
    cases = [
        # (arguments, environment, exit status, stdout, stderr)
        (("decrypt", "--password-file", "wrong.txt", "a.txt.aqv3"), None, 1, "",
         "qv3: error: " + tr(KEY_BLOCK_PREFIX) + "a.txt.aqv3" + tr(KEY_BLOCK_SUFFIX) + "\n"),
        (("decrypt", "--password-file", "pw.txt", "a.txt.aqv3"), cancel, 130, "",
         tr("qv3: 취소했습니다\n")),
        # The front end's ":\n" before the system's text, after text on stdout.
        (("inspect", "a.txt.aqv3", "missing.aqv3"), None, 1, inspected,
         "qv3: error: " + tr("입력 파일이 존재하지 않습니다.\r\n") + "missing.aqv3:\n" + system_text + "\n"),
    ]
    for args, env, code, out, err in cases:
        r = qv3(d, *args, env=env, program=QV3_TEST_HOOKS if env else None)
        expected_err = re.escape(nl(err).encode(ENCODING)).replace(
            re.escape(system_text.encode(ENCODING)), rb"[^\r\n]+")
        check(r.code == code and r.raw_out == nl(out).encode(ENCODING) and
              re.fullmatch(expected_err, r.raw_err), "the bytes qv3 %s writes" % " ".join(args), r)
    check(sorted(os.listdir(d)) == ["a.txt.aqv3", "pw.txt", "wrong.txt"], "no output left")


@test(native_only=True)
def delete_source(d):
    write(d, "doc.pdf", b"pdf bytes")
    encrypt(d, "doc.pdf", b"pw", "--delete-source")
    check(not exists(d, "doc.pdf") and exists(d, "doc.pdf.aqv3"), "encrypt --delete-source")
    os.chmod(os.path.join(d, "doc.pdf.aqv3"), 0o444)
    r = qv3(d, "decrypt", "--password-file", "pw.txt", "--delete-source", "doc.pdf.aqv3")
    check(r.code == 0 and read(d, "doc.pdf") == b"pdf bytes", "decrypt --delete-source", r)
    check(not exists(d, "doc.pdf.aqv3"), "a read-only container is removed after success")

    # A failed decryption never removes its container.
    write(d, "bad.txt", b"bad")
    encrypt(d, "doc.pdf", b"pw")
    os.chmod(os.path.join(d, "doc.pdf"), 0o644)
    os.remove(os.path.join(d, "doc.pdf"))
    r = qv3(d, "decrypt", "--password-file", "bad.txt", "--delete-source", "doc.pdf.aqv3")
    check(r.code == 1 and exists(d, "doc.pdf.aqv3") and not exists(d, "doc.pdf"),
          "the container stays after a failure", r)


def snapshot(folder):
    """Every file in folder (partial outputs included), with its bytes."""
    return {name: read(folder, name) for name in sorted(os.listdir(folder))}


@test()
def a_failure_does_not_stop_the_others_whatever_the_jobs(d):
    """A batch with failures mixed in (a wrong password, a damaged container, a missing
    one, an existing output, one given twice, one whose output is another's temporary
    name, two whose names differ in letter case alone): every other file is done, each
    file's messages come in the order given, and --jobs 1 and --jobs 4 leave byte for
    byte the same files, messages and exit status."""
    base = os.path.join(d, "base")
    os.mkdir(base)
    plain = {n: os.urandom(size) for n, size in
             (("a.bin", 3 << 20), ("b.bin", 500), ("c.bin", 1 << 20), ("d.bin", 17), ("e.bin", 0),
              ("f.bin", 2 << 20), ("g.bin", 4000), ("k", 3 << 20), ("k.qv3part", 3 << 20),
              ("\u00c4.bin", 2 << 20))}
    for name, content in plain.items():
        write(base, name, content)
        encrypt(base, name, b"other" if name == "b.bin" else b"pw")
    write(base, "pw.txt", b"pw")
    damaged = bytearray(read(base, "d.bin.aqv3"))
    damaged[-40] ^= 1  # the ciphertext's last block
    write(base, "d.bin.aqv3", bytes(damaged))
    for name in plain:
        if name != "f.bin":  # f.bin stays: its plaintext's name is taken
            os.remove(os.path.join(base, name))
    write(base, "h.txt", b"to encrypt")
    write(base, "f.bin.aqv3.aqv3", b"taken")
    # The same container under a name that differs in letter case alone: Windows (and Wine)
    # take both for one name, so the second's plaintext is taken there.
    shutil.copyfile(os.path.join(base, "\u00c4.bin.aqv3"), os.path.join(base, "\u00e4.bin.aqv3"))
    containers = ["a.bin.aqv3", "b.bin.aqv3", "c.bin.aqv3", "missing.aqv3", "d.bin.aqv3",
                  "e.bin.aqv3", "f.bin.aqv3", "g.bin.aqv3", "a.bin.aqv3", "k.aqv3", "k.qv3part.aqv3",
                  "\u00c4.bin.aqv3", "\u00e4.bin.aqv3"]
    case_fails = ["\u00e4.bin:".encode(ENCODING, "replace").decode(ENCODING)] if WINE else []
    runs = [("decrypt", containers, ["b.bin.aqv3", "missing.aqv3", "d.bin.aqv3", "f.bin:", "a.bin:"] + case_fails),
            ("encrypt", ["h.txt", "missing.txt", "f.bin.aqv3", "h.txt"],
             ["missing.txt", "f.bin.aqv3.aqv3", "h.txt.aqv3"])]
    for command, files, failing in runs:
        results = {}
        for jobs in ("1", "4"):
            folder = os.path.join(d, "%s-%s" % (command, jobs))
            shutil.copytree(base, folder)
            r = qv3(folder, command, "--password-file", "pw.txt", "--jobs", jobs, *files)
            after = snapshot(folder)
            if command == "encrypt":  # a new container's bytes are random: its size then
                after = {n: len(b) if n not in os.listdir(base) else b for n, b in after.items()}
            results[jobs] = (r.code, r.raw_out, r.raw_err, after)
        check(results["1"] == results["4"], "%s: --jobs 1 and --jobs 4 differ" % command,
              (results["1"][:3], results["4"][:3]))
        code, out, err, files_after = results["1"]
        # One notice per failing file, in the order given, each naming its file.
        notices = err.decode(ENCODING).split(nl("qv3: error: "))[1:]
        check(code == 1 and out == b"" and len(notices) == len(failing) and
              all(name in notice for name, notice in zip(failing, notices)),
              "%s: one notice per failure, in order" % command, err)
        check(not any(n.endswith(".qv3part") and n not in plain for n in files_after),
              "no partial file: %s" % sorted(files_after))
        if command == "decrypt":
            for name in ("a.bin", "c.bin", "e.bin", "g.bin", "k", "k.qv3part", "\u00c4.bin"):
                check(files_after.get(name) == plain[name], "%s decrypted beside the failures" % name)
            check(files_after["f.bin"] == plain["f.bin"] and "b.bin" not in files_after and
                  "d.bin" not in files_after, "the failures leave no output and an existing file as it was")
        else:
            check(files_after.get("h.txt.aqv3") == CONTAINER_OVERHEAD + 16 and
                  files_after["f.bin.aqv3.aqv3"] == b"taken", "encrypted beside the failures: %s" % sorted(files_after))


def wine_path(path):
    """The Windows name of a Linux path: Wine shows the Linux file system as drive Z:."""
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def wine_folder_to_linux(path):
    """The Linux path of a Windows path inside the prefix scripts/wine-run uses."""
    prefix = os.environ.get("WINEPREFIX")
    if not prefix:
        build = os.path.dirname(QV3)
        while not os.path.exists(os.path.join(build, "CMakeCache.txt")) and build != "/":
            build = os.path.dirname(build)
        prefix = os.path.join(build, "wineprefix")
    drive, rest = path[0].lower(), path[2:].replace("\\", "/").lstrip("/")
    return os.path.join("/", rest) if drive == "z" else os.path.join(prefix, "drive_" + drive, rest)


@test()
def to_working_folder_and_korean_names(d):
    runtime = os.path.join(d, "runtime")
    os.mkdir(runtime, 0o700)
    env = dict(os.environ, XDG_RUNTIME_DIR=runtime)
    name = "메모 %d.hwp" % os.getpid()  # unique: the Windows working folder is shared
    write(d, name, "한글 내용".encode("utf-8"))
    encrypt(d, name, b"pw")
    check(exists(d, name + ".aqv3"), "a Korean file name gives a Korean container name")
    os.remove(os.path.join(d, name))
    help_text = qv3(d, "decrypt", "--help", env=env).out.splitlines()
    folder = help_text[[i for i, l in enumerate(help_text) if "--to-working-folder" in l][0] + 1].strip()
    if WINE:
        folder = wine_folder_to_linux(folder)
    else:
        check(folder == os.path.join(runtime, "QV3V"), "--help names the working folder: " + folder)
    out = os.path.join(folder, name)
    try:
        # A container named without a folder is taken from the current folder.
        r = qv3(d, "decrypt", "--password-file", "pw.txt", "--to-working-folder", name + ".aqv3",
                env=env)
        check(r.code == 0, "decrypt --to-working-folder of a bare name", r)
        check(os.path.exists(out) and open(out, "rb").read() == "한글 내용".encode("utf-8"),
              "plaintext in the working folder " + out)
        check(not exists(d, name), "nothing beside the container")
    finally:
        if os.path.exists(out):
            os.chmod(out, 0o600)
            os.remove(out)


# --- what a new user trips over, and what others put in a shared folder ---------------


@test()
def no_traps_for_a_new_user(d):
    """Passwords the viewers could not take, an empty one by accident, a file the user
    edited, a name that is no container's: each refused with a word and the right exit
    status, nothing written; each option that asks for it gets it."""
    content = b"the plaintext" * 100
    write(d, "doc.txt", content)
    long_korean = "한글암호".encode("utf-8")  # 12 bytes, as hashed here
    cases = [
        # (arguments, standard input, exit status, text in stderr, files that must exist after)
        (("encrypt", "--password-stdin", "doc.txt"), b"S3cret pass!", 2, "--long-password", []),
        (("encrypt", "--password-stdin", "doc.txt"), long_korean, 2, tr(TOO_LONG_FOR_VIEWERS) % ("12", 11), []),
        (("encrypt", "--password-stdin", "doc.txt"), b"", 2, "--empty-password", []),
        (("decrypt", "--password-stdin", "doc.txt.aqv3"), b"", 2, tr(NO_PASSWORD_READ) % tr("표준 입력"), []),
        # An empty name: the file's failure, said (the library call refuses it silently).
        (("decrypt", "--password-stdin", ""), b"pw", 1, "qv3: error: ", []),
        (("encrypt", "--password-stdin", ""), b"pw", 1, "qv3: error: ", []),
        (("encrypt", "--password-stdin", "--long-password", "doc.txt"), b"S3cret pass!", 0, "warning",
         ["doc.txt.aqv3"]),
    ]
    for args, stdin, code, said, made in cases:
        r = qv3(d, *args, stdin=stdin)
        check(r.code == code and said in r.err, "qv3 %s with %r" % (" ".join(args), stdin), r)
        check(sorted(os.listdir(d)) == sorted(["doc.txt"] + made), "files after %s: %s" % (args, os.listdir(d)))
    r = qv3(d, "encrypt", "--password-stdin", "--empty-password", "doc.txt", stdin=b"")
    check(r.code == 0 and exists(d, "doc.txt.bqv3"), "--empty-password makes the category container", r)

    # A file the user edited is never replaced unless asked.
    write(d, "doc.txt", b"precious data")
    r = qv3(d, "decrypt", "--password-stdin", "doc.txt.aqv3", stdin=b"S3cret pass!")
    check(r.code == 1 and r.err.startswith(nl("qv3: error: " + tr("파일을 생성할 수 없습니다.\r\n") + "doc.txt:\n")) and
          read(d, "doc.txt") == b"precious data", "an existing file is left alone", r)
    os.chmod(os.path.join(d, "doc.txt"), 0o444)
    r = qv3(d, "decrypt", "--password-stdin", "--overwrite", "doc.txt.aqv3", stdin=b"S3cret pass!")
    check(r.code == 0 and read(d, "doc.txt") == content and is_read_only(d, "doc.txt"),
          "--overwrite replaces it, a read-only one too", r)

    # A name that is no container's is refused; -o names the plaintext, never written
    # before the container has been verified.
    os.rename(os.path.join(d, "doc.txt.aqv3"), os.path.join(d, "renamed.bin"))
    r = qv3(d, "decrypt", "--password-stdin", "renamed.bin", stdin=b"S3cret pass!")
    check(r.code == 1 and "renamed.bin" in r.err and not exists(d, "rename"), "renamed.bin is refused", r)
    r = qv3(d, "decrypt", "--password-stdin", "-o", "out.txt", "renamed.bin", stdin=b"wrong")
    check(r.code == 1 and not exists(d, "out.txt"), "-o with a wrong password writes nothing", r)
    r = qv3(d, "decrypt", "--password-stdin", "-o", "out.txt", "renamed.bin", stdin=b"S3cret pass!")
    check(r.code == 0 and read(d, "out.txt") == content, "-o names the plaintext", r)
    r = qv3(d, "decrypt", "--password-stdin", "-o", "x.txt", "renamed.bin", "doc.txt.bqv3", stdin=b"pw")
    check(r.code == 2 and tr("-o 는 암호 파일 하나의 평문 이름입니다. %s 개를 주었습니다") % 2 in r.err,
          "-o takes one container", r)
    if not WINE:
        check(b"\r" not in qv3(d, "decrypt", "--password-stdin", "renamed.bin", stdin=b"pw").raw_err,
              "no carriage return reaches a Linux terminal, log or pipe")


@test()
def nothing_is_written_through_what_others_planted(d):
    """At an output's temporary name: a link (to a victim, or to nothing), a file another
    process holds, another user's file: decryption beside, into the working folder, and
    encryption write nothing through it and change nothing of it, and the output still
    arrives (under the next temporary name). What a dead run of ours left there is
    removed, and said."""
    runtime = os.path.join(d, "runtime")
    os.mkdir(runtime, 0o700)
    env = dict(os.environ, XDG_RUNTIME_DIR=runtime)
    help_text = qv3(d, "decrypt", "--help", env=env).out.splitlines()
    folder = help_text[[i for i, l in enumerate(help_text) if "--to-working-folder" in l][0] + 1].strip()
    folder = wine_folder_to_linux(folder) if WINE else folder
    os.makedirs(folder, exist_ok=True)
    write(d, "victim", b"victim")
    victim = os.path.join(d, "victim")
    planted_kinds = ["link", "dangling link", "abandoned file"]
    # Wine sees neither a Linux process's lock nor a file's Linux owner.
    if not WINE:
        planted_kinds.append("held file")
        if os.geteuid() == 0:
            planted_kinds.append("foreign file")
    for road in ("beside", "working folder", "encrypt"):
        for planted in planted_kinds:
            tag = "%s %s %d" % (road.split()[0], planted.split()[0], os.getpid())
            source = "doc %s.txt" % tag
            write(d, source, tag.encode() * 100)
            if road != "encrypt":
                encrypt(d, source, b"pw")
                os.remove(os.path.join(d, source))
                output = os.path.join(folder if road == "working folder" else d, source)
                args = ["decrypt", "--password-file", "pw.txt"] + (
                    ["--to-working-folder"] if road == "working folder" else []) + [source + ".aqv3"]
            else:
                write(d, "pw.txt", b"pw")
                output = os.path.join(d, source + ".aqv3")
                args = ["encrypt", "--password-file", "pw.txt", source]
            temporary = output + ".qv3part"
            holder = None
            if planted.endswith("file"):
                write(os.path.dirname(temporary), os.path.basename(temporary), b"theirs")
                if planted == "held file":
                    holder = os.open(temporary, os.O_RDWR)
                    fcntl.flock(holder, fcntl.LOCK_EX)
                if planted == "foreign file":
                    os.chown(temporary, 65534, 65534)
            else:
                os.symlink(victim if planted == "link" else victim + ".none", temporary)
            try:
                r = qv3(d, *args, env=env)
                what = "%s with a %s at %s" % (road, planted, temporary)
                check(r.code == 0, what, r)
                check(read(d, "victim") == b"victim" and not os.path.exists(victim + ".none"), what + ": victim")
                if planted == "abandoned file":
                    check(not os.path.lexists(temporary) and os.path.exists(output), what + ": reclaimed", r)
                    said = tr("끝나지 못한 지난 실행이 남긴 임시 파일을 지웠습니다: %s") % ""
                    check(r.err.startswith("qv3: " + said) and os.path.basename(temporary) in r.err, what + ": said", r)
                else:
                    check(os.path.islink(temporary) if "link" in planted else
                          open(temporary, "rb").read() == b"theirs", what + ": the planted name is as it was")
                    check(os.path.exists(output) and not os.path.exists(temporary + "2"), what + ": output")
            finally:
                if holder is not None:
                    os.close(holder)
                for path in (temporary, output):
                    if os.path.lexists(path):
                        os.chmod(path, 0o600) if not os.path.islink(path) else None
                        os.remove(path)


@test()
def outputs_never_lose_or_expose_a_file(d):
    """Where an output goes: onto its own input (however it is spelt, or a second name of
    it) is refused with nothing touched; --delete-source on a link does nothing; when
    every temporary name is taken the message names the temporaries; a plaintext takes
    its container's permissions less writing."""
    write(d, "m.txt", b"mine")
    encrypt(d, "m.txt", b"pw", "--delete-source")
    os.mkdir(os.path.join(d, "sub"))
    os.link(os.path.join(d, "m.txt.aqv3"), os.path.join(d, "second.aqv3"))
    container = read(d, "m.txt.aqv3")
    os.symlink("m.txt.aqv3", os.path.join(d, "link.txt.aqv3"))
    taken = ["x.txt.qv3part"] + ["x.txt.qv3part%d" % n for n in range(2, 100)]
    write(d, "x.txt", b"x")
    encrypt(d, "x.txt", b"pw", "--delete-source")
    for name in taken:
        os.mkdir(os.path.join(d, name))
    cannot_create = tr("파일을 생성할 수 없습니다.\r\n")
    cases = [
        # (what, arguments, expected error text, files that must stay as they were)
        ("-o naming the input", ["-o", "sub/../m.txt.aqv3", "--overwrite", "--delete-source", "m.txt.aqv3"],
         cannot_create + "sub/../m.txt.aqv3"),
        ("-o naming a second name of the input", ["-o", "second.aqv3", "--overwrite", "m.txt.aqv3"],
         cannot_create + "second.aqv3"),
        ("--delete-source on a link", ["--delete-source", "link.txt.aqv3"],
         tr("링크는 지우지 않습니다(--delete-source). 아무것도 하지 않았습니다.\r\n") + "link.txt.aqv3"),
        ("every temporary name taken", ["x.txt.aqv3"],
         tr("임시 파일을 만들 수 없습니다. 다음 이름과 그 뒤에 번호를 붙인 이름이 모두 쓰이고 있습니다.\r\n")
         + "x.txt.qv3part"),
    ]
    for what, args, text in cases:
        before = sorted(os.listdir(d))
        r = qv3(d, "decrypt", "--password-file", "pw.txt", *args)
        check(r.code == 1 and r.err == nl("qv3: error: " + text + "\n"), what, r)
        check(sorted(os.listdir(d)) == before and read(d, "m.txt.aqv3") == container, what + ": nothing touched", r)
    # --overwrite onto a link to a read-only file: the link is replaced, the file it led
    # to keeps its bytes and its read-only mark.
    write(d, "victim.txt", b"victim")
    os.chmod(os.path.join(d, "victim.txt"), 0o444)
    os.symlink("victim.txt", os.path.join(d, "out.txt"))
    r = qv3(d, "decrypt", "--password-file", "pw.txt", "--overwrite", "-o", "out.txt", "m.txt.aqv3")
    check(r.code == 0 and not os.path.islink(os.path.join(d, "out.txt")) and read(d, "out.txt") == b"mine" and
          read(d, "victim.txt") == b"victim" and not os.stat(os.path.join(d, "victim.txt")).st_mode & 0o222,
          "--overwrite onto a link replaces the link alone", r)
    if not WINE:
        os.chmod(os.path.join(d, "m.txt.aqv3"), 0o640)
        r = qv3(d, "decrypt", "--password-file", "pw.txt", "m.txt.aqv3")
        mode = stat.S_IMODE(os.stat(os.path.join(d, "m.txt")).st_mode)
        check(r.code == 0 and mode == 0o440, "a 0640 container gives a 0440 plaintext, not %o" % mode, r)


# --- any name, any code page -------------------------------------------------------------

# Hangul with a character beyond the first plane, Latin letters code page 949 lacks,
# Japanese, and Hanja that no Korean code page holds.
ANY_NAMES = ["보고서 📄.txt", "Zoë — résumé.txt", "東京の地図.txt", "𠜎 丟.txt"]


def as_ansi(text):
    """A regular expression for text as written to a pipe in the ANSI code page: every
    character the page lacks becomes '?' (a character beyond the first plane, one or two:
    it is two UTF-16 units)."""
    out = b""
    for c in text:
        try:
            out += re.escape(c.encode(ENCODING))
        except UnicodeEncodeError:
            out += rb"\?\??" if ord(c) > 0xFFFF else rb"\?"
    return out


@test(every_locale=True)
def any_name_on_any_code_page(d):
    """Files named with characters no single code page holds are encrypted, decrypted
    and named in messages as they are: to a pipe in UTF-8 with --utf8, else in the ANSI
    code page with '?' for what it lacks (Windows)."""
    contents = {}
    for name in ANY_NAMES:
        contents[name] = name.encode("utf-8") * 50
        write(d, name, contents[name])
    write(d, "pw.txt", b"pw")
    r = qv3(d, "encrypt", "--password-file", "pw.txt", *ANY_NAMES)
    check(r.code == 0 and r.err == "", "encrypt every name", r)
    for name in ANY_NAMES:
        check(exists(d, name + ".aqv3"), "the container of %s" % name)
        os.remove(os.path.join(d, name))
    r = qv3(d, "decrypt", "--password-file", "pw.txt", *[n + ".aqv3" for n in ANY_NAMES])
    check(r.code == 0 and r.err == "", "decrypt every name", r)
    for name in ANY_NAMES:
        check(read(d, name) == contents[name], "the plaintext of %s" % name)

    r = qv3(d, "--utf8", "inspect", ANY_NAMES[0] + ".aqv3", "없는 📄.aqv3")
    check(r.code == 1 and r.raw_out.split(b"\r\n" if WINE else b"\n")[0] == (ANY_NAMES[0] + ".aqv3").encode() and
          "없는 📄.aqv3".encode() in r.raw_err, "--utf8: names exactly as they are", r)
    if WINE:
        r = qv3(d, "inspect", ANY_NAMES[1] + ".aqv3")
        check(r.code == 0 and re.match(as_ansi(ANY_NAMES[1] + ".aqv3") + rb"\r\n", r.raw_out),
              "without --utf8: the ANSI code page, '?' for what it lacks", r)
        # A path longer than the system's limit is refused as a name, never cut.
        deep = os.path.join(d, *(["폴더" * 20] * 5))
        os.makedirs(deep)
        long_name = os.path.join(deep, "문서 " + "가" * 70 + ".txt.aqv3")
        shutil.copyfile(os.path.join(d, ANY_NAMES[0] + ".aqv3"), long_name)
        r = qv3(d, "--utf8", "decrypt", "--password-file", "pw.txt", wine_path(long_name))
        check(r.code == 1 and r.raw_err.startswith(nl("qv3: error: " + tr("잘못된 파일명입니다.\r\n")).encode()) and
              os.listdir(deep) == [os.path.basename(long_name)], "a %d-character path" % len(wine_path(long_name)), r)


# --- passwords -------------------------------------------------------------------------


@test()
def usage_errors(d):
    write(d, "f.txt", b"data")
    write(d, "pw.txt", b"pw")
    write(d, "long.txt", b"p" * 257)
    # Each with the whole text it must print: the command, what is wrong, where its help is.
    def usage(command, text):
        return "qv3: error: " + tr("%s: %s (qv3 %s --help 를 보십시오)") % (command, text, command) + "\n"

    cases = [
        (("encrypt", "--password-file", "pw.txt", "--bogus", "f.txt"),
         usage("encrypt", tr("알 수 없는 옵션 '%s'") % "--bogus")),
        (("decrypt", "--password-file", "pw.txt"), usage("decrypt", tr("암호 파일을 주지 않았습니다"))),
        (("encrypt", "--password-file", "pw.txt"), usage("encrypt", tr("파일을 주지 않았습니다"))),
        (("encrypt", "--password-file", "long.txt", "f.txt"),
         "qv3: error: encrypt: " + tr("암호가 %u 바이트보다 깁니다") % 256 + "\n"),
        (("encrypt", "--password-file", "pw.txt", "--password-stdin", "f.txt"),
         usage("encrypt", tr("암호는 한 가지로만 주십시오 (--password-file 또는 --password-stdin)"))),
        (("encrypt", "--to-working-folder", "--password-file", "pw.txt", "f.txt"),
         usage("encrypt", tr("알 수 없는 옵션 '%s'") % "--to-working-folder")),
        (("decrypt", "--password-encoding", "latin1", "--password-file", "pw.txt", "f.txt"),
         usage("decrypt", tr("알 수 없는 암호 인코딩 '%s' (쓸 수 있는 것은 cp949)") % "latin1")),
        (("decrypt", "--password-file", "no-such-file", "f.txt.aqv3"),
         "qv3: error: decrypt: " + tr("암호를 담은 파일 %s 을(를) 읽을 수 없습니다") % "no-such-file" + ":\n"),
        (("frobnicate",), "qv3: error: " + tr("알 수 없는 명령 '%s' (qv3 --help 를 보십시오)") % "frobnicate" + "\n"),
        (("decrypt", "--jobs", "0", "--password-file", "pw.txt", "f.txt.aqv3"),
         usage("decrypt", tr("--jobs 에는 1 에서 %u 까지의 수가 필요합니다") % 64)),
    ]
    if WINE:
        cases = cases[:5]
    for args, text in cases:
        r = qv3(d, *args)
        check(r.code == 2 and r.err.startswith(nl(text)) and r.out == "", "usage error for %s" % (args,), r)
    check(sorted(os.listdir(d)) == ["f.txt", "long.txt", "pw.txt"], "a usage error makes no file")

    # 256 bytes is the longest password accepted.
    write(d, "max.txt", b"p" * 256 + b"\n")
    r = qv3(d, "encrypt", "--password-file", "max.txt", "--long-password", "f.txt")
    check(r.code == 0 and exists(d, "f.txt.aqv3"), "a 256-byte password", r)


@test(native_only=True)
def password_bytes_are_kept_to_first_line_end(d):
    write(d, "f.txt", b"spaces matter")
    encrypt(d, "f.txt", b"  two word \r\nsecond line")
    os.remove(os.path.join(d, "f.txt"))
    for wrong in (b"two word", b"  two word", b" two word  "):
        r = qv3(d, "decrypt", "--password-stdin", "f.txt.aqv3", stdin=wrong)
        check(r.code == 1 and not exists(d, "f.txt"), "password %r must not open it" % wrong, r)
    # The last: its first 11 bytes, as a desktop prompt takes what is typed, are the password.
    for right in (b"  two word ", b"  two word \n", b"  two word \x00junk", b"  two word \rx", b"  two word  "):
        r = qv3(d, "decrypt", "--password-stdin", "f.txt.aqv3", stdin=right)
        check(r.code == 0 and read(d, "f.txt") == b"spaces matter", "password %r opens it" % right, r)
        os.chmod(os.path.join(d, "f.txt"), 0o644)
        os.remove(os.path.join(d, "f.txt"))


KOREAN = "비밀 한글"  # 9 bytes in code page 949, 13 in UTF-8


@test(native_only=True)
def password_encoding_cp949(d):
    write(d, "k.txt", b"korean")
    # The container's key made from the code page 949 bytes, as on Korean Windows.
    encrypt(d, "k.txt", KOREAN.encode("cp949"))
    os.remove(os.path.join(d, "k.txt"))
    write(d, "utf8.txt", KOREAN.encode("utf-8") + b"\n")
    r = qv3(d, "decrypt", "--password-file", "utf8.txt", "k.txt.aqv3")
    check(r.code == 0 and read(d, "k.txt") == b"korean",
          "without --password-encoding the UTF-8 text's code page 949 form is tried after its bytes", r)
    os.chmod(os.path.join(d, "k.txt"), 0o644)
    os.remove(os.path.join(d, "k.txt"))
    r = qv3(d, "decrypt", "--password-file", "utf8.txt", "--password-encoding", "cp949", "k.txt.aqv3")
    check(r.code == 0 and read(d, "k.txt") == b"korean", "--password-encoding cp949 opens it", r)

    write(d, "bad.txt", "\u00e9\u0100".encode("utf-8"))  # Latin letters code page 949 lacks
    r = qv3(d, "decrypt", "--password-file", "bad.txt", "--password-encoding=cp949", "k.txt.aqv3")
    check(r.code == 2 and r.err == nl("qv3: error: decrypt: " + tr("--password-encoding cp949: 암호가 코드 페이지 949 로 "
                                                                  "나타낼 수 있는 UTF-8 글자가 아닙니다") + "\n"),
          "an unconvertible password is a usage error", r)


def run_on_terminal(d, args, typed, at_prompts=True, env=None, program=None):
    """Runs qv3 with a pseudo-terminal as its terminal (and standard input, output and
    error). typed: the lines to type, each once one more password prompt is shown (with
    at_prompts false: all at once). Returns (exit status, everything the terminal showed,
    how many password prompts it showed)."""
    pid, fd = pty.fork()
    if pid == 0:
        try:
            os.chdir(d)
            os.execve(program or QV3, [program or QV3] + list(args), env or os.environ)
        finally:
            os._exit(127)
    shown = b""
    sent = 0
    deadline = time.time() + 60
    while time.time() < deadline:
        ready, _, _ = select.select([fd], [], [], 0.2)
        if ready:
            try:
                chunk = os.read(fd, 4096)
            except OSError:
                break
            if not chunk:
                break
            shown += chunk
        prompts = shown.count(tr("암호: ").encode()) + shown.count(tr("암호 다시: ").encode())
        if sent < len(typed) and (sent < prompts or not at_prompts):
            time.sleep(0.1)  # the prompt is written before echo is off is certain: wait a little
            os.write(fd, typed[sent] + b"\n")
            sent += 1
    else:
        os.kill(pid, signal.SIGKILL)
    _, status = os.waitpid(pid, 0)
    os.close(fd)
    prompts = shown.count(tr("암호: ").encode()) + shown.count(tr("암호 다시: ").encode())
    return os.waitstatus_to_exitcode(status), shown.decode("utf-8", "replace"), prompts


@test(native_only=True)
def terminal_prompt_and_the_password_rule(d):
    write(d, "t.txt", b"typed" * 100000)
    code, shown, _ = run_on_terminal(d, ["encrypt", "t.txt"], [b"typed pass"] * 2)
    check(code == 0 and exists(d, "t.txt.aqv3"), "encrypt with a typed password: " + shown)
    check("typed pass" not in shown, "the password is not echoed: " + repr(shown))
    os.remove(os.path.join(d, "t.txt"))

    code, shown, prompts = run_on_terminal(d, ["decrypt", "t.txt.aqv3"], [b"typed pass"])
    check(code == 0 and read(d, "t.txt") == b"typed" * 100000, "decrypt with a typed password")
    check(prompts == 1, "decrypt asks once: " + repr(shown))
    check("t.txt.aqv3" in shown and "100%" in shown, "progress bar on the terminal: " + repr(shown))

    # One text typed opens each container with whichever form it was keyed with, in any
    # order: the code page 949 bytes (Korean Windows), the first 11 bytes of its UTF-8
    # (earlier Linux builds), the whole UTF-8 (--long-password).
    typed = "가나다라마"
    forms = {"k.txt": typed.encode("cp949"), "u.txt": typed.encode("utf-8")[:9], "w.txt": typed.encode("utf-8")}
    for name, key in forms.items():
        write(d, name, name.encode() * 1000)
        write(d, "pw.txt", key)
        check(qv3(d, "encrypt", "--password-file", "pw.txt", "--long-password", name).code == 0, name)
        os.remove(os.path.join(d, name))
    for order in (list(forms), list(reversed(list(forms)))):
        code, shown, _ = run_on_terminal(d, ["decrypt"] + [n + ".aqv3" for n in order], [typed.encode("utf-8")])
        check(code == 0, "%s opened by one typing: %s" % (order, shown))
        for name in forms:
            check(read(d, name) == name.encode() * 1000, name)
            without_file(d, name)
    code, shown, _ = run_on_terminal(d, ["decrypt", "k.txt.aqv3"], ["다른 암호".encode("utf-8")])
    check(code == 1 and not exists(d, "k.txt"), "a wrong typed password still fails: " + shown)
    check(KEY_BLOCK_SUFFIX.replace("\r\n", "") in shown.replace("\r\n", "").replace("\n", ""),
          "the key-block message: " + shown)

    # Made from a typing: keyed with the code page 949 form a Korean Windows system types;
    # a character no such form holds is named and nothing is written.
    write(d, "m.txt", b"made")
    code, shown, _ = run_on_terminal(d, ["encrypt", "m.txt"], [typed.encode("utf-8")] * 2)
    check(code == 0, "encrypt with Hangul typed: " + shown)
    write(d, "cp949.txt", typed.encode("cp949"))
    r = qv3(d, "decrypt", "--password-file", "cp949.txt", "-o", "m.out", "m.txt.aqv3")
    check(r.code == 0 and read(d, "m.out") == b"made", "keyed with the code page 949 bytes", r)
    os.remove(os.path.join(d, "m.txt.aqv3"))
    code, shown, _ = run_on_terminal(d, ["encrypt", "m.txt"], ["가\U0001F600".encode("utf-8")] * 2)
    check(code == 2 and "\U0001F600" in shown and not exists(d, "m.txt.aqv3"), "an emoji is refused: " + shown)

    # A category container made with the empty password opens with no prompt and no
    # terminal; --empty-password alone needs neither.
    write(d, "e.txt", b"empty")
    r = qv3(d, "encrypt", "--empty-password", "e.txt")
    check(r.code == 0 and exists(d, "e.txt.bqv3"), "--empty-password alone makes the container", r)
    os.remove(os.path.join(d, "e.txt"))
    p = subprocess.run([QV3, "decrypt", "e.txt.bqv3"], cwd=d, stdin=subprocess.DEVNULL,
                       capture_output=True, start_new_session=True, timeout=60)
    check(p.returncode == 0 and read(d, "e.txt") == b"empty", "opened with no prompt: %r" % p.stderr)
    r = qv3(d, "decrypt", "--empty-password", "-o", "e2.txt", "e.txt.bqv3")
    check(r.code == 0 and read(d, "e2.txt") == b"empty", "--empty-password with no terminal", r)
    r = qv3(d, "encrypt", "--password-file", "cp949.txt", "--empty-password", "m.txt")
    check(r.code == 2 and "--empty-password" in r.err and not exists(d, "m.txt.aqv3"),
          "--empty-password beside a password that is not empty is refused", r)

    # Several containers: one line for the whole batch, files and bytes done of all.
    for name in ("x1.txt", "x2.txt"):
        write(d, name, b"x" * 300000)
        encrypt(d, name, b"pw")
        os.remove(os.path.join(d, name))
    code, shown, _ = run_on_terminal(d, ["decrypt", "--password-file", "pw.txt", "x1.txt.aqv3", "x2.txt.aqv3"], [])
    check(code == 0 and "[2/2] 0.6/0.6 MB 100%" in shown, "the batch's progress line: " + repr(shown))
    for name in ("x1.txt", "x2.txt"):
        without_file(d, name)
    # The line counts only what was done: a failed file and one cancelled are not counted,
    # and the line is cleared before a message, never left above it.
    shutil.copyfile(os.path.join(d, "x1.txt.aqv3"), os.path.join(d, "x3.txt.aqv3"))
    write(d, "other.txt", b"other")
    code, shown, _ = run_on_terminal(d, ["decrypt", "--password-file", "other.txt", "--jobs", "1", "x1.txt.aqv3",
                                         "k.txt.aqv3"], [])
    check(code == 1 and "[0/2] 0.0/" in shown and "[1/2]" not in shown and "[2/2]" not in shown,
          "failed files are not done: " + repr(shown))
    check(not re.search(r"\[\d/2\][^\r\n]*\r?\nqv3: error", shown), "the line was left above a message: " + repr(shown))
    code, shown, _ = run_on_terminal(d, ["decrypt", "--password-file", "pw.txt", "--jobs", "1", "x1.txt.aqv3",
                                         "x2.txt.aqv3", "x3.txt.aqv3"], [], program=QV3_TEST_HOOKS,
                                     env=dict(os.environ, QV3_TEST_INTERRUPT="2:50"))
    last = shown.replace("\r\n", "\n").split("\r")[-1]
    check(code == 130 and "[1/3] 0.3/0.9 MB" in last, "a cancelled file is not done: " + repr(shown))

    # No terminal to ask on.
    p = subprocess.run([QV3, "decrypt", "u.txt.aqv3"], cwd=d, stdin=subprocess.DEVNULL,
                       capture_output=True, start_new_session=True, timeout=60)
    check(p.returncode == 2 and b"--password-file" in p.stderr, "no terminal: usage error %r" % p.stderr)


@test(native_only=True)
def encrypt_asks_twice_at_the_terminal(d):
    """A password typed for encryption is asked again; when the two differ nothing is
    written and the file stays, --delete-source or not. From standard input it is read
    once, with no prompt."""
    cases = [
        # (options, lines typed, at prompts, prompts shown, exit status, password made with)
        (["--delete-source"], [b"secret", b"secreT"], True, 2, 2, None),
        ([], [b"secret", b"secret "], True, 2, 2, None),
        (["--delete-source"], [b"secret", b"secret"], True, 2, 0, b"secret"),
        (["--password-stdin"], [b"from stdin"], False, 0, 0, b"from stdin"),
    ]
    for options, typed, at_prompts, prompts_expected, code_expected, password in cases:
        content = os.urandom(1000)
        write(d, "m.txt", content)
        code, shown, prompts = run_on_terminal(d, ["encrypt"] + options + ["m.txt"], typed,
                                               at_prompts)
        what = "encrypt %s typing %r: %r" % (options, typed, shown)
        check(code == code_expected and prompts == prompts_expected, what)
        if password is None:
            check("qv3: error: encrypt: " + tr("입력한 두 암호가 다릅니다. 아무것도 쓰지 않았습니다") in shown, what)
            check(sorted(os.listdir(d)) == ["m.txt"] and read(d, "m.txt") == content,
                  "nothing written, the file stays: %s" % os.listdir(d))
            continue
        check(exists(d, "m.txt") != ("--delete-source" in options), what)
        if exists(d, "m.txt"):
            os.remove(os.path.join(d, "m.txt"))
        r = qv3(d, "decrypt", "--password-stdin", "m.txt.aqv3", stdin=password)
        check(r.code == 0 and read(d, "m.txt") == content, "the container opens with %r" % password, r)
        without_file(d, "m.txt")
        os.remove(os.path.join(d, "m.txt.aqv3"))


@test(native_only=True)
def ctrl_c_cancels_and_cleans_up(d):
    """Ctrl-C, a hang-up (a closed terminal, a dropped connection), quit and terminate as
    three files are being written: every one of them stops and leaves nothing, and the
    exit status tells which."""
    size = 200 * 1000 * 1000
    with open(os.path.join(d, "big.bin"), "wb") as f:
        f.truncate(size)
    encrypt(d, "big.bin", b"pw")
    os.remove(os.path.join(d, "big.bin"))
    for copy in ("big2.bin.aqv3", "big3.bin.aqv3"):
        shutil.copyfile(os.path.join(d, "big.bin.aqv3"), os.path.join(d, copy))
    containers = ["big.bin.aqv3", "big2.bin.aqv3", "big3.bin.aqv3"]
    partials = [os.path.join(d, c[:-5] + ".qv3part") for c in containers]
    for sig in (signal.SIGINT, signal.SIGHUP, signal.SIGQUIT, signal.SIGTERM):
        p = subprocess.Popen([QV3, "decrypt", "--password-file", "pw.txt", "--jobs", "3"] + containers, cwd=d,
                             stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        deadline = time.time() + 60
        while not all(map(os.path.exists, partials)) and p.poll() is None and time.time() < deadline:
            time.sleep(0.001)
        check(p.poll() is None, "the decryption ended before it could be interrupted")
        modes = {stat.S_IMODE(os.stat(partial).st_mode) for partial in partials if os.path.exists(partial)}
        p.send_signal(sig)
        out, err = p.communicate(timeout=120)
        check(p.returncode == 128 + sig, "%s exits %d (%d, %r)" % (sig.name, 128 + sig, p.returncode, err))
        check(b"error" not in err, "%s shows no error: %r" % (sig.name, err))
        check(modes == {0o600}, "temporaries readable by their owner alone: %s" % modes)
        check(sorted(os.listdir(d)) == sorted(containers + ["pw.txt"]),
              "%s leaves nothing: %s" % (sig.name, os.listdir(d)))


@test()
def ctrl_c_counts_only_when_it_stops_work(d):
    """A Ctrl-C the engine meets stops the file in progress: exit 130, no output for that
    file or the ones after it. One that comes once every file is done stopped nothing:
    exit 0. QV3_TEST_INTERRUPT raises it at a moment a signal from outside cannot hit."""
    data = {n: os.urandom(3 << 20) for n in ("a.bin", "b.bin")}  # several pieces each
    for name, content in data.items():
        write(d, name, content)
        encrypt(d, name, b"pw")
        os.remove(os.path.join(d, name))
    containers = ["a.bin.aqv3", "b.bin.aqv3"]
    cases = [
        # (when, exit status, files made)
        ("end", 0, ["a.bin", "b.bin"]),  # the last plaintext verified and in place
        ("2:100", 130, ["a.bin"]),        # the last piece read, not yet verified
        ("2:0", 130, ["a.bin"]),          # between the two files
        ("1:50", 130, []),                # in the middle of the first
    ]
    # The shipped program has no such switch.
    r = qv3(d, "decrypt", "--password-file", "pw.txt", *containers, env=dict(os.environ, QV3_TEST_INTERRUPT="1:0"))
    check(r.code == 0 and r.err == "", "qv3 itself ignores QV3_TEST_INTERRUPT", r)
    for name in data:
        without_file(d, name)
    for when, code, made in cases:
        r = qv3(d, "decrypt", "--password-file", "pw.txt", "--jobs", "1", *containers,
                env=dict(os.environ, QV3_TEST_INTERRUPT=when), program=QV3_TEST_HOOKS)
        check(r.code == code and r.out == "" and
              r.err == ("" if code == 0 else nl(tr("qv3: 취소했습니다\n"))), "Ctrl-C at " + when, r)
        check(sorted(os.listdir(d)) == sorted(containers + ["pw.txt"] + made),
              "Ctrl-C at %s leaves %s" % (when, os.listdir(d)))
        for name in made:
            check(read(d, name) == data[name], "the plaintext %s is whole" % name)
            without_file(d, name)

    # Four at once, Ctrl-C as the third is half done: every file in progress is
    # cancelled, none starts after, and nothing but whole plaintexts is left.
    more = {"%d.bin" % i: os.urandom(3 << 20) for i in range(6)}
    for name, content in more.items():
        write(d, name, content)
        encrypt(d, name, b"pw")
        os.remove(os.path.join(d, name))
    r = qv3(d, "decrypt", "--password-file", "pw.txt", "--jobs", "4", *sorted(n + ".aqv3" for n in more),
            env=dict(os.environ, QV3_TEST_INTERRUPT="3:50"), program=QV3_TEST_HOOKS)
    left = set(os.listdir(d)) - set(containers + ["pw.txt"]) - set(n + ".aqv3" for n in more)
    check(r.code == 130 and r.err == nl(tr("qv3: 취소했습니다\n")) and "2.bin" not in left and
          all(read(d, name) == more.get(name) for name in left), "Ctrl-C during --jobs 4 leaves %s" % left, r)

    write(d, "c.bin", data["a.bin"])
    for when, code, made in (("1:100", 130, False), ("end", 0, True)):
        r = qv3(d, "encrypt", "--password-file", "pw.txt", "c.bin",
                env=dict(os.environ, QV3_TEST_INTERRUPT=when), program=QV3_TEST_HOOKS)
        check(r.code == code and exists(d, "c.bin.aqv3") == made and read(d, "c.bin") == data["a.bin"],
              "encrypt with Ctrl-C at " + when, r)


@test(native_only=True)
def names_never_drive_the_terminal(d):
    """A name is its sender's: no control character of it (C0, C1) nor a byte that is not
    UTF-8 reaches the terminal, in an error, a notice, the progress line or inspect."""
    hostile = "x\x1b]0;pwned\x07\x1b[2J\u009b1m\udcff"  # the last: a byte that is not UTF-8
    raw = os.fsencode(hostile)
    write(d, "h.txt", b"h" * 100000)
    encrypt(d, "h.txt", b"pw")
    os.rename(os.path.join(os.fsencode(d), b"h.txt.aqv3"), os.path.join(os.fsencode(d), raw + b".aqv3"))
    write(d, "wrong.txt", b"wrong")
    runs = [
        ("a wrong password", ["decrypt", "--password-file", "wrong.txt", raw + b".aqv3"]),
        ("a missing container", ["decrypt", "--password-file", "pw.txt", raw + b"2.aqv3"]),
        ("inspect", ["inspect", raw + b"2.aqv3"]),
        ("an unknown option", ["decrypt", b"--" + raw]),
    ]
    for what, args in runs:
        p = subprocess.run([QV3] + args, cwd=d, capture_output=True, timeout=60)
        check(p.returncode != 0 and p.stderr and not re.search(rb"[\x00-\x09\x0b\x0c\x0e-\x1f\x7f]|\xc2[\x80-\x9f]",
                                                               p.stderr + p.stdout) and b"\\x1B" in p.stderr,
              "%s: %r" % (what, p.stderr))
    code, shown, _ = run_on_terminal(d, ["decrypt", "--password-file", "pw.txt", raw.decode("utf-8", "surrogateescape")
                                         + ".aqv3"], [])
    check(code == 0 and "\x1b]0" not in shown and "\\x1B]0" in shown, "the progress line: %r" % shown)


# --- inspect and help ------------------------------------------------------------------


@test()
def inspect_json_and_help(d):
    write(d, "i.txt", b"0123456789abcdefX")
    encrypt(d, "i.txt", b"pw")
    r = qv3(d, "inspect", "--json", "i.txt.aqv3")
    check(r.code == 0 and r.err == "", "inspect --json", r)
    info = json.loads(r.out)
    check(info["path"] == "i.txt.aqv3" and info["version"] == 2 and info["ciphertext"] == 32 and
          info["plaintext"] == 17 and info["extensions"][0].startswith("CREATED_BY "),
          "inspect --json fields", r)

    # The CREATED_BY text is not authenticated: whatever a sender put there, no control
    # character reaches the terminal, and JSON stays JSON.
    data = read(d, "i.txt.aqv3")
    check(data.count(b"TARVESSIN KVT 3") == 1, "the writer's CREATED_BY text", data[:64])
    write(d, "esc.aqv3", data.replace(b"TARVESSIN KVT 3", b"\x1b[2J\x07\\x\x7fKVT 3!\r"))
    r = qv3(d, "inspect", "esc.aqv3")
    check(r.code == 0 and "CREATED_BY \\x1B[2J\\x07\\x5Cx\\x7FKVT 3!\\x0D" in r.out and
          "\x1b" not in r.out and "\x07" not in r.out, "inspect escapes control characters", r)
    r = qv3(d, "inspect", "--json", "esc.aqv3")
    check(r.code == 0 and json.loads(r.out)["extensions"][0] == "CREATED_BY \x1b[2J\x07\\x\x7fKVT 3!\r",
          "inspect --json keeps the text exactly", r)

    # The help in the run's language: what it must tell, in its words.
    words = ({"usage": "usage: qv3 ", "exit": "Exit status", "bytes": "256 bytes", "once": "asked for once",
              "twice": "asked for twice"} if ENGLISH else
             {"usage": "사용법: qv3 ", "exit": "종료 상태", "bytes": "256 바이트", "once": "한 번",
              "twice": "두 번"})
    for cmd, asked in (("decrypt", words["once"]), ("encrypt", words["twice"]), ("inspect", None)):
        r = qv3(d, cmd, "--help")
        check(r.code == 0 and r.out.startswith(words["usage"] + cmd) and r.err == "",
              "%s --help" % cmd, r)
        if asked:
            check(words["exit"] in r.out and words["bytes"] in r.out and "130" in r.out and
                  asked in r.out and "--jobs N" in r.out, "%s --help tells exit statuses, password rules, --jobs" % cmd, r)
        if WINE:
            break


# --- the CPU switch ---------------------------------------------------------------------


@test()
def cpu_switch_turns_accelerated_paths_off(d):
    """QV3_CPU turns each accelerated path off; the portable ones read what the others
    wrote."""
    def version(setting):
        env = dict(os.environ)
        if setting is None:
            env.pop("QV3_CPU", None)
        else:
            env["QV3_CPU"] = setting
        r = qv3(d, "--version", env=env)
        check(r.code == 0, "--version", r)
        return r.out, env

    out, _ = version("portable")
    check("aes: portable" in out and "sha-256: portable" in out, "QV3_CPU=portable", out)
    out, _ = version("noaesni")
    check("aes: portable" in out, "QV3_CPU=noaesni", out)
    out, _ = version("noshani")
    check("sha-256: portable" in out, "QV3_CPU=noshani", out)

    data = os.urandom(300000)
    write(d, "c.bin", data)
    encrypt(d, "c.bin", b"pw")
    os.remove(os.path.join(d, "c.bin"))
    write(d, "pw.txt", b"pw")
    _, env = version("portable")
    r = qv3(d, "decrypt", "--password-file", "pw.txt", "c.bin.aqv3", env=env)
    check(r.code == 0 and read(d, "c.bin") == data, "portable paths decrypt", r)


class Unreadable:
    """Makes one file unreadable for the runs inside the block, whoever runs them (root
    reads any file): natively every open of it fails (QV3_FAIL_IO, the test library of
    tests/faults, preloaded); under Wine a Windows program holds it open sharing nothing
    (QV3_GUI_DRIVER)."""

    def __init__(self, path):
        self.path = path
        self.env = dict(os.environ)
        self.holder = None

    def __enter__(self):
        if WINE:
            driver = os.environ.get("QV3_GUI_DRIVER")
            check(driver, "QV3_GUI_DRIVER names the Windows driver that holds a file")
            self.holder = subprocess.Popen(command(["hold", wine_path(self.path), "none", ";", "sleep", "600000"],
                                                   driver), stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                           stderr=subprocess.DEVNULL)
            check(self.holder.stdout.readline().startswith(b"ok"), "the driver holds the file")
        else:
            library = os.environ.get("QV3_FAIL_IO")
            check(library, "QV3_FAIL_IO names the library that makes a file's opens fail")
            self.env.update(LD_PRELOAD=library, QV3_FAIL_PATH=self.path, QV3_FAIL_CALL="open",
                            QV3_FAIL_ERRNO=str(errno.EACCES))
            self.env["ASAN_OPTIONS"] = ":".join(filter(None, [self.env.get("ASAN_OPTIONS"),
                                                               "verify_asan_link_order=0"]))
        return self

    def __exit__(self, *exc):
        if self.holder:
            self.holder.kill()
            self.holder.wait()


@test()
def whole_folders(d):
    """One tree (tests/folder_tree.py) through every way qv3 takes a folder: refused
    without -r (with the hint), -r with what cannot go with it, encryption (one failure,
    every skip counted and listed, nothing outside the tree or behind a link touched, the
    FIFO never waited on), a second run at --jobs 1 and the default (each container
    refused, nothing replaced, the same messages), and decryption."""
    tree = folder_tree.Tree(d, windows=WINE)
    write(d, "pw.txt", b"pw")
    sep = "\\" if WINE else "/"
    name = lambda rel: folder_tree.TREE + sep + rel.replace(os.sep, sep)  # noqa: E731
    before = tree.snapshot()

    def numbers(r):
        """The summary's figures: files done, failed, then each kind skipped."""
        last = r.err.rstrip("\r\n").split("\n")[-1]
        check(last.startswith("qv3: "), "a summary ends the run", r)
        return [int(n) for n in re.findall(r"\d+", last[len("qv3: "):])]

    encrypted = tree.encrypted(before)
    with Unreadable(tree.unreadable) as unreadable:
        steps = [
            # (what, arguments, exit status, summary figures or None, what the tree holds after)
            ("no -r", ["encrypt", "--password-file", "pw.txt", "tree"], 1, None, before),
            ("-r with -o", ["decrypt", "-r", "-o", "x", "tree"], 2, None, before),
            ("-r with the working folder", ["decrypt", "--recursive", "--to-working-folder", "tree"], 2, None,
             before),
            ("a listing without -r", ["encrypt", "--list-skipped", "tree"], 2, None, before),
            ("encrypt -r", ["encrypt", "-r", "--list-skipped", "--password-file", "pw.txt", "tree"], 1,
             [len(tree.plain), 1] + list(tree.skipped(True).values()), encrypted),
            ("again, --jobs 1", ["encrypt", "-r", "--jobs", "1", "--password-file", "pw.txt", "tree"], 1,
             [0, len(tree.plain) + 1] + list(tree.skipped(True, again=True).values()), encrypted),
            ("again", ["encrypt", "-r", "--password-file", "pw.txt", "tree"], 1,
             [0, len(tree.plain) + 1] + list(tree.skipped(True, again=True).values()), encrypted),
        ]
        results = {}
        for what, args, code, figures, expected in steps:
            r = qv3(d, *args, env=unreadable.env)
            results[what] = r
            check(r.code == code, "%s: exit status %d" % (what, code), r)
            if figures is not None:
                check(numbers(r) == figures, "%s: the summary's figures %s" % (what, figures), r)
            problems = tree.differences(tree.snapshot(), expected)
            check(not problems, "%s: the tree\n%s" % (what, "\n".join(problems)), r)
    check(tr("폴더 안의 파일을 모두 하려면 -r 을 주십시오") in results["no -r"].err, "the hint to use -r",
          results["no -r"])
    listed = [line.split("\t") for line in results["encrypt -r"].out.splitlines()]
    expected_listing = sorted([["link", name("link-to-folder")], ["container", name(folder_tree.CONTAINER)]] +
                              ([["link", name("link-to-file")]] if tree.file_link else []) +
                              ([["fifo", name("fifo")]] if tree.fifo else []), key=lambda e: e[1])
    check(listed == expected_listing, "each skipped entry listed in the walk's order", results["encrypt -r"])
    errors = [line for line in results["encrypt -r"].err.splitlines() if line.startswith("qv3: error:")]
    check(len(errors) == 1 and results["encrypt -r"].err.count(folder_tree.UNREADABLE) == 1,
          "the unreadable file is the one failure", results["encrypt -r"])
    check(results["again"].err == results["again, --jobs 1"].err,
          "the same messages whatever --jobs", (results["again"], results["again, --jobs 1"]))

    tree.remove_plaintexts()
    gone = tree.snapshot()
    r = qv3(d, "decrypt", "-r", "--password-file", "pw.txt", "tree")
    check(r.code == 1 and numbers(r) == [len(tree.plain), 1] + list(tree.skipped(False).values()),
          "decrypt -r: every container but the junk one", r)
    problems = tree.differences(tree.snapshot(), tree.decrypted(gone))
    check(not problems, "decrypt -r: the tree\n" + "\n".join(problems), r)


def main():
    if WINE:
        # The first start may set up the emulator (and say so on standard error).
        subprocess.run(command(["--version"]), stdin=subprocess.DEVNULL, capture_output=True,
                       timeout=300)
    failures = 0
    for fn in TESTS:
        with tempfile.TemporaryDirectory(prefix="qv3-cli-") as d:
            start = time.time()
            try:
                fn(d)
                print("PASS %s (%.1f s)" % (fn.__name__, time.time() - start))
            except Exception:
                failures += 1
                print("FAIL %s" % fn.__name__)
                traceback.print_exc(file=sys.stdout)
            finally:
                for root, dirs, files in os.walk(d):
                    for name in dirs + files:
                        if not os.path.islink(os.path.join(root, name)):  # a link's target may be gone
                            os.chmod(os.path.join(root, name), 0o700)
    print("%d of %d failed" % (failures, len(TESTS)))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
