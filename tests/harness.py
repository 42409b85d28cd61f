"""What the Python test programs share: checks that stop a test with a reason, the
escaped texts of the tables and of the window driver, the driver's registry reads, and the line ends a program writes
on each system."""

import re


def check(condition, what, detail=None):
    """Stops the test with `what` (and the repr of `detail`, a run's result, say)."""
    if not condition:
        raise AssertionError(what + ("\n" + repr(detail) if detail is not None else ""))


_ESCAPES = {"t": "\t", "r": "\r", "n": "\n", "\\": "\\"}


def escape(text):
    return (text.replace("\\", "\\\\").replace("\t", "\\t").replace("\r", "\\r")
            .replace("\n", "\\n"))


def unescape(text):
    """The inverse of escape; a backslash before any other character keeps that character."""
    out, i = [], 0
    while i < len(text):
        c = text[i]
        if c == "\\" and i + 1 < len(text):
            i += 1
            c = _ESCAPES.get(text[i], text[i])
        out.append(c)
        i += 1
    return "".join(out)


# The window driver's registry commands, asked through `do` (a driver's command runner).
def classes(do, key, name=None):
    """A REG_SZ value of an HKEY_CLASSES_ROOT key (its default value without name); None
    when the key or value is missing. A read that fails is the driver's error, never None."""
    answer = do("classes", key, *([name] if name else []))
    return None if answer == "missing" else answer[1:]


def class_key_exists(do, key):
    return do("classkey", key) == "1"


def line_ends(text, windows):
    """text as our programs write it to a console stream: every line end (a "\\n", or a
    message's own "\\r\\n") is exactly "\\r\\n" on Windows and exactly "\\n" elsewhere."""
    end = "\r\n" if windows else "\n"
    if isinstance(text, bytes):
        return re.sub(rb"\r*\n", end.encode(), text)
    return re.sub(r"\r*\n", end, text)
