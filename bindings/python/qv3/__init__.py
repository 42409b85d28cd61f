"""qv3: password-protected containers (*.aqv3 and the category extensions .pqv3 … .zqv3)
from Python, on libqv3: the same rules and messages as the qv3 command.

    import qv3
    qv3.decrypt("report.docx.aqv3", "암호")           # writes report.docx, read-only
    qv3.encrypt("report.docx", "암호")                 # writes report.docx.aqv3
    with qv3.open("report.docx.aqv3", "암호") as f:    # authenticated before the first byte
        data = f.read()

A password given as str is text as a person types it: a container keyed with any form a
system may have made of it opens, and a new one is keyed with the form a Korean Windows
system types. Given as bytes it is used as it is (first; then, if it is UTF-8, as text).
Every failure raises a subclass of qv3.Error. The work runs without the GIL; Ctrl-C and a
progress callback that returns True cancel it, leaving nothing behind.
"""

import io
import os
import tempfile
from typing import BinaryIO, Callable, Optional, Union

from . import _qv3
from ._errors import (Cancelled, Code, Damaged, Error, FileError, InputError, NotAContainer, OutputError,
                      PasswordRefused, UsageError, WrongPassword, WrongPasswordOrDamaged, error_class)

__all__ = ["inspect", "decrypt", "encrypt", "open", "Info", "Code", "Error", "UsageError", "PasswordRefused",
           "Cancelled", "FileError", "NotAContainer", "WrongPassword", "Damaged", "WrongPasswordOrDamaged",
           "InputError", "OutputError", "error_class", "library_version"]

Path = Union[str, bytes, "os.PathLike[str]", "os.PathLike[bytes]"]
Password = Union[str, bytes]
Progress = Optional[Callable[[int], Optional[bool]]]

library_version: str = _qv3.library_version


class Info:
    """What a container says of itself. None of it is authenticated: the last length byte,
    which sets plaintext_length, is outside both MACs by the format's design."""

    __slots__ = ("version", "container_size", "ciphertext_length", "plaintext_length", "extension_count",
                 "created_by")

    def __init__(self, version: int, container_size: int, ciphertext_length: int, plaintext_length: int,
                 extension_count: int, created_by: str) -> None:
        self.version = version
        self.container_size = container_size
        self.ciphertext_length = ciphertext_length
        self.plaintext_length = plaintext_length
        self.extension_count = extension_count
        self.created_by = created_by

    def __repr__(self) -> str:
        return "Info(%s)" % ", ".join("%s=%r" % (name, getattr(self, name)) for name in self.__slots__)


def _path(path: Path) -> bytes:
    return os.fsencode(path)


def _password(password: Password, empty: bool) -> "tuple[bytes, int]":
    if isinstance(password, str):
        data, flags = password.encode("utf-8", "surrogatepass"), 0
    elif isinstance(password, (bytes, bytearray, memoryview)):
        data, flags = bytes(password), _qv3.PASSWORD_BYTES
    else:
        raise TypeError("password must be str or bytes, not %s" % type(password).__name__)
    if empty:
        flags |= _qv3.EMPTY_PASSWORD
    return data, flags


def inspect(path: Path) -> Info:
    """Version, sizes and the CREATED_BY text of the container at path, read without the
    password."""
    return Info(**_qv3.inspect(_path(path)))


def decrypt(path: Path, password: Password, out: Optional[Path] = None, overwrite: bool = False, *,
            delete_source: bool = False, empty_password: bool = False, progress: Progress = None) -> str:
    """Decrypts the container at path into out (None: beside it, its name less its
    extension), read-only, and returns the plaintext's path. The plaintext appears only
    once the container has authenticated; an existing file there is replaced only with
    overwrite. An empty password must be meant: empty_password=True. progress(percent) is
    called as the work goes (0 to 100, never less than before); returning True cancels
    it."""
    data, flags = _password(password, empty_password)
    if overwrite:
        flags |= _qv3.OVERWRITE
    if delete_source:
        flags |= _qv3.DELETE_SOURCE
    _qv3.decrypt(_path(path), _path(out) if out is not None else b"", data, flags, progress)
    if out is not None:
        return os.fsdecode(out)
    return os.fsdecode(_path(path))[:-5]


def encrypt(path: Path, password: Password, *, delete_source: bool = False, long_password: bool = False,
            empty_password: bool = False, progress: Progress = None) -> str:
    """Encrypts the file at path into a container beside it (path + ".aqv3"; with the
    empty password, the extension of its kind) and returns the container's path. Nothing
    is ever replaced. A password over the 11 bytes the desktop viewers take is refused
    unless long_password."""
    data, flags = _password(password, empty_password)
    if delete_source:
        flags |= _qv3.DELETE_SOURCE
    if long_password:
        flags |= _qv3.LONG_PASSWORD
    return os.fsdecode(_qv3.encrypt(_path(path), data, flags, progress))


class _ReaderFile(io.RawIOBase):
    """The plaintext straight from the container, UNAUTHENTICATED until the end: the MAC is
    checked once the last byte has been read (Damaged is raised then)."""

    def __init__(self, reader) -> None:
        super().__init__()
        self._reader = reader
        self._ended = False

    def readable(self) -> bool:
        return True

    def readinto(self, buffer) -> int:
        if self._ended:
            return 0
        view = memoryview(buffer).cast("B")
        data = _qv3.reader_read(self._reader, max(len(view), 16))
        if not data:
            _qv3.reader_finish(self._reader)
            self._ended = True
            return 0
        if len(data) > len(view):  # a buffer under one block: keep nothing back
            raise ValueError("read into a buffer of at least 16 bytes")
        view[:len(data)] = data
        return len(data)

    def close(self) -> None:
        self._reader = None
        super().close()


def open(path: Path, password: Password, *, unauthenticated: bool = False,
         empty_password: bool = False) -> BinaryIO:
    """A read-only binary file object of the container's plaintext.

    By default the whole container is decrypted and its MAC checked before this returns
    (into memory, or a private temporary file past 64 MiB), so every byte read is
    authenticated. unauthenticated=True streams the plaintext as it is decrypted instead:
    what is read may have been changed by anyone until the last byte has been read
    without Damaged being raised; choose it only when you can undo what you do with it."""
    data, flags = _password(password, empty_password)
    reader = _qv3.reader_open(_path(path), data, flags)
    stream = io.BufferedReader(_ReaderFile(reader), buffer_size=1 << 20)
    if unauthenticated:
        return stream
    spooled = tempfile.SpooledTemporaryFile(max_size=64 << 20)
    try:
        while True:
            piece = stream.read1(1 << 20)
            if not piece:
                break
            spooled.write(piece)
        spooled.seek(0)
    except BaseException:
        spooled.close()
        raise
    finally:
        stream.close()
    return spooled  # type: ignore[return-value]
