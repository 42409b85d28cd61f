"""The qv3 package as a user installs it, against the container corpus that qv3 itself is
tested with (tests/corpus: every row's outcome is qv3 decrypt's), and on the promises
that are the library's own: codes as qv3.h numbers them, the password rule, nothing
authenticated handed out unless asked for, cancel leaving nothing, the GIL released."""

import hashlib
import os
import re
import shutil
import stat
import sys
import threading
import time

import pytest

import qv3

ROOT = os.environ.get("QV3_SOURCE_DIR") or os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "..")
CORPUS = os.path.join(ROOT, "tests", "corpus")
sys.path.insert(0, os.path.join(ROOT, "tests"))
from harness import unescape  # noqa: E402


def table(name, fields):
    with open(os.path.join(CORPUS, name), encoding="utf-8") as f:
        for line in f:
            line = line.rstrip("\n")
            if line and not line.startswith("#"):
                cells = line.split("\t")
                assert len(cells) == fields, line
                yield cells


MANIFEST = list(table("manifest.tsv", 6))
MESSAGES = {name: (unescape(prefix), unescape(suffix)) for name, prefix, suffix in table("messages.tsv", 3)}
# The engines' failure kinds as the corpus names them, and the code each is in qv3.h.
KIND_CODES = {"TooSmall": qv3.Code.TOO_SMALL, "TooSmallV2": qv3.Code.TOO_SMALL_V2,
              "BadSignature": qv3.Code.BAD_SIGNATURE, "BadVersion": qv3.Code.BAD_VERSION,
              "BadCipherLength": qv3.Code.BAD_CIPHER_LENGTH, "KeyBlockMac": qv3.Code.WRONG_PASSWORD,
              "BulkMacV0": qv3.Code.WRONG_PASSWORD_OR_DAMAGED, "BulkMac": qv3.Code.DAMAGED,
              "Unreadable": qv3.Code.UNREADABLE, "HeadUnreadable": qv3.Code.HEAD_UNREADABLE,
              "ExtensionLengthUnreadable": qv3.Code.EXTENSION_LENGTH_UNREADABLE,
              "ExtensionUnreadable": qv3.Code.EXTENSION_UNREADABLE}


def password_of(hex_column, encoding):
    """The row's password as qv3 decrypt --password-file [--password-encoding] takes it."""
    if hex_column == "-":
        return b""
    # A password file's password: its bytes up to the first line end or NUL.
    given = re.split(b"[\r\n\0]", bytes.fromhex(hex_column))[0]
    return given.decode("utf-8").encode("cp949") if encoding == "cp949" else given


@pytest.mark.parametrize("row", MANIFEST, ids=[r[0] for r in MANIFEST])
def test_corpus(row, tmp_path):
    """Every row through decrypt (also with a file already at the output path) and through
    open: qv3's outcome, its message, and nothing left by a failure."""
    container, hex_column, encoding, outcome, detail, _ = row
    password = password_of(hex_column, encoding)
    empty = hex_column == "-"
    copy = tmp_path / container
    shutil.copyfile(os.path.join(CORPUS, "containers", container), copy)
    original = copy.read_bytes()
    plain = tmp_path / container[:-5]
    if outcome == "ok":
        assert qv3.decrypt(str(copy), password, empty_password=empty) == str(plain)
        assert hashlib.sha256(plain.read_bytes()).hexdigest() == detail
        assert not os.stat(plain).st_mode & (stat.S_IWUSR | stat.S_IWGRP | stat.S_IWOTH)
        with qv3.open(copy, password, empty_password=empty) as f:
            assert hashlib.sha256(f.read()).hexdigest() == detail
    else:
        for pre_existing in (False, True):
            if pre_existing:
                plain.write_bytes(b"there before")
            with pytest.raises(qv3.Error) as caught:
                qv3.decrypt(str(copy), password, overwrite=pre_existing, empty_password=empty)
            error = caught.value
            assert error.code == KIND_CODES[detail] and isinstance(error, qv3.error_class(error.code))
            assert isinstance(error, qv3.FileError) and error.exit_status == 1
            prefix, suffix = MESSAGES[detail]
            assert str(error) == prefix + str(copy) + suffix
            assert sorted(os.listdir(tmp_path)) == sorted([container] + ([plain.name] if pre_existing else []))
            if pre_existing:
                assert plain.read_bytes() == b"there before"
        with pytest.raises(qv3.error_class(KIND_CODES[detail])):
            qv3.open(copy, password, empty_password=empty)
    assert copy.read_bytes() == original


def test_codes_are_the_headers():
    """qv3.Code is qv3.h's enum, name for name and number for number; each code's class
    and exit status is the command line's (2 for usage, 130 for a cancel, 1 for a file)."""
    with open(os.path.join(ROOT, "include", "qv3.h"), encoding="utf-8") as f:
        header = dict((name, int(value)) for name, value in re.findall(r"^\s+QV3_([A-Z0-9_]+) = (\d+)", f.read(), re.M))
    assert header == {c.name: c.value for c in qv3.Code}
    for code in qv3.Code:
        if code == qv3.Code.OK:
            continue
        error = qv3.error_class(code)(code)
        expected = 2 if code < 10 else 130 if code == qv3.Code.CANCELLED else 1
        assert error.exit_status == expected, code
        assert isinstance(error, qv3.UsageError if expected == 2 else qv3.Cancelled if expected == 130
                          else qv3.FileError)


def test_password_rule(tmp_path):
    """A typed (str) Korean password keys the container with its code page 949 bytes, as a
    Korean Windows system types it; characters no such form holds, an empty password not
    meant and one longer than the prompts take are refused, and nothing is written."""
    source = tmp_path / "note.txt"
    source.write_bytes(b"hello")
    made = qv3.encrypt(source, "가나다라마")
    assert made == str(source) + ".aqv3"
    os.rename(made, tmp_path / "k.aqv3")
    out = qv3.decrypt(tmp_path / "k.aqv3", "가나다라마".encode("cp949"), tmp_path / "as-bytes")
    assert open(out, "rb").read() == b"hello"
    assert open(qv3.decrypt(tmp_path / "k.aqv3", "가나다라마", tmp_path / "typed"), "rb").read() == b"hello"
    for password, error in (("東京😀", qv3.Code.PASSWORD_NOT_KEPT), ("", qv3.Code.EMPTY_PASSWORD_REFUSED),
                            ("123456789012", qv3.Code.PASSWORD_TOO_LONG)):
        with pytest.raises(qv3.PasswordRefused) as caught:
            qv3.encrypt(source, password)
        assert caught.value.code == error and caught.value.exit_status == 2
    assert not os.path.exists(str(source) + ".aqv3")
    made = qv3.encrypt(source, "123456789012", long_password=True)
    assert open(qv3.decrypt(made, b"123456789012", tmp_path / "long"), "rb").read() == b"hello"
    os.remove(made)
    # The empty password, meant: the kind's extension, which opens without being asked.
    made = qv3.encrypt(source, "", empty_password=True)
    assert made == str(source) + ".bqv3"
    assert open(qv3.decrypt(made, "anything", tmp_path / "empty"), "rb").read() == b"hello"


def damaged(tmp_path, size=300000):
    """A container of size bytes whose last ciphertext block is flipped: only its MAC, at
    the very end, tells."""
    source = tmp_path / "big.bin"
    data = os.urandom(size)
    source.write_bytes(data)
    made = qv3.encrypt(source, "pw")
    raw = bytearray(open(made, "rb").read())
    raw[-34] ^= 1
    with open(made, "wb") as f:
        f.write(raw)
    source.unlink()
    return made, data


def test_unauthenticated_only_when_asked(tmp_path):
    """open() hands out nothing of a damaged container; unauthenticated=True streams it
    and raises Damaged once its end is read; decrypt leaves nothing."""
    made, data = damaged(tmp_path)
    with pytest.raises(qv3.Damaged):
        qv3.open(made, "pw")
    with qv3.open(made, "pw", unauthenticated=True) as f:
        first = f.read(1000)
        assert first == data[:1000]
        with pytest.raises(qv3.Damaged):
            f.read()
    with pytest.raises(qv3.Damaged):
        qv3.decrypt(made, "pw")
    assert sorted(os.listdir(tmp_path)) == [os.path.basename(made)]


def test_progress_cancel_and_gil(tmp_path):
    """progress sees 0 … 100, never going back; returning True cancels and leaves nothing; another
    Python thread runs while the library works."""
    source = tmp_path / "data.bin"
    source.write_bytes(os.urandom(32 << 20))
    seen = []
    made = qv3.encrypt(source, "pw", progress=seen.append)
    assert seen[0] == 0 and seen[-1] == 100 and seen == sorted(seen)
    source.unlink()
    with pytest.raises(qv3.Cancelled) as caught:
        qv3.decrypt(made, "pw", progress=lambda percent: percent >= 30)
    assert caught.value.exit_status == 130
    assert os.listdir(tmp_path) == [os.path.basename(made)]

    ticks, done = [0], threading.Event()

    def count():
        while not done.is_set():
            ticks[0] += 1
            time.sleep(0)  # lets go of the GIL each turn, as the library's callbacks need it

    # A long switch interval: the other thread runs while this one is in the call only if
    # the call lets go of the GIL.
    interval = sys.getswitchinterval()
    sys.setswitchinterval(1.0)
    counter = threading.Thread(target=count)
    try:
        counter.start()
        before = ticks[0]
        qv3.decrypt(made, "pw")  # no progress callable: the GIL is taken only between pieces
        during = ticks[0] - before
    finally:
        done.set()
        counter.join()
        sys.setswitchinterval(interval)
    assert during > 100, "the other thread hardly ran: the GIL was held"


def test_inputs_and_outputs(tmp_path):
    """Missing inputs and folders are input errors; an existing output survives, is
    replaced only with overwrite; inspect reads without the password."""
    with pytest.raises(qv3.InputError) as caught:
        qv3.decrypt(tmp_path / "missing.aqv3", "pw")
    assert caught.value.code == qv3.Code.INPUT_MISSING and caught.value.path.endswith("missing.aqv3")
    with pytest.raises(qv3.InputError):
        qv3.encrypt(tmp_path, "pw")
    source = tmp_path / "a.txt"
    source.write_bytes(b"new")
    made = qv3.encrypt(source, "pw", delete_source=True)
    assert not source.exists()
    info = qv3.inspect(made)
    assert (info.version, info.plaintext_length, info.ciphertext_length) == (2, 3, 16)
    source.write_bytes(b"old")
    with pytest.raises(qv3.OutputError):
        qv3.decrypt(made, "pw")
    assert source.read_bytes() == b"old"
    qv3.decrypt(made, "pw", overwrite=True)
    assert source.read_bytes() == b"new"
    with pytest.raises(qv3.OutputError):
        qv3.encrypt(source, "pw")  # its container is there: nothing is replaced
