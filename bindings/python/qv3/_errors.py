"""The exceptions, one hierarchy under qv3.Error, and the codes they carry (the codes of
qv3.h, which the command line's exit statuses are made from)."""

import enum


class Code(enum.IntEnum):
    """Every outcome of libqv3, as qv3.h numbers it."""
    OK = 0
    INVALID_ARGUMENT = 1
    EMPTY_PASSWORD_REFUSED = 2
    PASSWORD_NOT_EMPTY = 3
    PASSWORD_TOO_LONG = 4
    PASSWORD_NOT_KEPT = 5
    NOT_AVAILABLE = 6
    CANCELLED = 10
    SIZE_UNKNOWN = 100
    TOO_SMALL = 101
    TOO_SMALL_V2 = 102
    HEAD_UNREADABLE = 103
    BAD_SIGNATURE = 104
    BAD_VERSION = 105
    EXTENSION_LENGTH_UNREADABLE = 106
    EXTENSION_UNREADABLE = 107
    BAD_CIPHER_LENGTH = 108
    UNREADABLE = 109
    WRONG_PASSWORD = 110
    WRONG_PASSWORD_OR_DAMAGED = 111
    DAMAGED = 112
    WRITE_FAILED = 113
    KEY_BLOCK_WRITE_FAILED = 114
    NEXT_WRITE_FAILED = 115
    INVALID_NAME = 116
    ODD_NAME = 117
    NOT_A_CONTAINER_NAME = 118
    INPUT_MISSING = 119
    DIRECTORY_NOT_DECRYPTED = 120
    DIRECTORY_NOT_ENCRYPTED = 121
    INPUT_NOT_OPENED = 122
    OUTPUT_NOT_CREATED = 123
    OUTPUT_NOT_OPENED = 124
    TEMPORARY_NAMES_TAKEN = 125
    SOURCE_NOT_DELETED = 126
    SOURCE_IS_LINK = 127
    NO_CRYPTO_PROVIDER = 128
    NO_RANDOM_BYTES = 129
    OUT_OF_MEMORY = 130
    THREAD_NOT_CREATED = 131


class Error(Exception):
    """Every failure of qv3: code (a Code), system_code (errno or the Windows error, 0 for
    none), path (the file it is about, or "") and the message as qv3 prints it, in the
    user's language."""

    def __init__(self, code, system_code=0, path="", message=""):
        super().__init__(message)
        try:
            self.code = Code(code)
        except ValueError:
            self.code = code
        self.system_code = system_code
        self.path = path
        self.message = message

    @property
    def exit_status(self):
        """What qv3 exits with for this failure: 1, 2 or 130."""
        from . import _qv3
        return _qv3.exit_status(int(self.code))


class UsageError(Error, ValueError):
    """The call was refused before any file was touched (qv3's exit status 2): a bad
    argument, or a password that cannot be used."""


class PasswordRefused(UsageError):
    """An empty password not marked as meant, a new password over 11 bytes without
    long_password, or characters no form of a new password can keep."""


class Cancelled(Error):
    """The progress callback (or Ctrl-C) stopped the work; nothing was left behind."""


class FileError(Error):
    """A file's failure (qv3's exit status 1): its output, if any, was removed."""


class NotAContainer(FileError):
    """The input is too small, has no container's head, or is cut short."""


class WrongPassword(FileError):
    """No form of the password opens the container (or its key block is damaged)."""


class Damaged(FileError):
    """The container's data does not match its MAC: nothing of it may be trusted."""


class WrongPasswordOrDamaged(WrongPassword, Damaged):
    """A version 0 container: its one MAC cannot tell a wrong password from damage."""


class InputError(FileError):
    """The input is missing, a folder, or cannot be opened or named."""


class OutputError(FileError):
    """The output cannot be made (it exists, say), written, put in place, or the source
    cannot be removed afterwards."""


_CLASSES = {
    Code.INVALID_ARGUMENT: UsageError, Code.NOT_AVAILABLE: UsageError,
    Code.EMPTY_PASSWORD_REFUSED: PasswordRefused, Code.PASSWORD_NOT_EMPTY: PasswordRefused,
    Code.PASSWORD_TOO_LONG: PasswordRefused, Code.PASSWORD_NOT_KEPT: PasswordRefused,
    Code.CANCELLED: Cancelled,
    Code.WRONG_PASSWORD: WrongPassword, Code.WRONG_PASSWORD_OR_DAMAGED: WrongPasswordOrDamaged,
    Code.DAMAGED: Damaged,
}
for _code in range(Code.SIZE_UNKNOWN, Code.UNREADABLE + 1):
    _CLASSES[Code(_code)] = NotAContainer
for _code in (Code.INVALID_NAME, Code.ODD_NAME, Code.NOT_A_CONTAINER_NAME, Code.INPUT_MISSING,
              Code.DIRECTORY_NOT_DECRYPTED, Code.DIRECTORY_NOT_ENCRYPTED, Code.INPUT_NOT_OPENED):
    _CLASSES[_code] = InputError
for _code in (Code.WRITE_FAILED, Code.KEY_BLOCK_WRITE_FAILED, Code.NEXT_WRITE_FAILED, Code.OUTPUT_NOT_CREATED,
              Code.OUTPUT_NOT_OPENED, Code.TEMPORARY_NAMES_TAKEN, Code.SOURCE_NOT_DELETED, Code.SOURCE_IS_LINK):
    _CLASSES[_code] = OutputError


def error_class(code):
    """The exception class a code raises."""
    return _CLASSES.get(code, FileError)


def _raise(code, system_code, path, message):
    raise error_class(code)(code, system_code, path, message)
