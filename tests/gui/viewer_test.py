#!/usr/bin/env python3
"""Drives the real TarvessinViewer.exe under Wine as a user would: starts it on
containers, answers its password prompt, watches its progress window and boxes through
qv3_gui_driver.exe, and checks what a user would find afterwards (box texts, files on
disk, registry entries, what the associated program was handed).

usage: viewer_test.py --viewer EXE --driver EXE --fake-viewer EXE --qv3 EXE
                      --wine-run SCRIPT --prefix WINEPREFIX [--only NAME...] [--list]
                      [--screenshots DIR]

Needs an X display (run it under xvfb-run); without one it exits with status 77 (skipped).
Containers are made with the project's own qv3.exe. The test extensions .qv3test and
.qv3hand are associated with qv3_fake_viewer.exe in the prefix for the run and removed
afterwards; the viewer's own association is left unregistered.

With --screenshots DIR no test runs: the password prompt, the progress window, an error
box and (in Korean and in English) the view road's three questions are captured into DIR
as PNG files.
"""

import argparse
import os
import select
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import traceback

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
from harness import check, class_key_exists, classes, escape, unescape  # noqa: E402
import folder_tree  # noqa: E402

CAPTION_VIEWER = "타르베신 외부암호파일뷰어"      # the run's own boxes
CAPTION_PROMPT = "타르베신 외부암호파일 뷰어"     # password prompt
CAPTION_ERROR = "타르베신 외부암호화파일 뷰어"    # every error box of a job
CAPTION_PROGRESS = "파일 처리중"
ALL_CAPTIONS = (CAPTION_VIEWER, CAPTION_PROMPT, CAPTION_ERROR, CAPTION_PROGRESS)
ENGLISH = False                   # the programs speak English (a UI language not Korean)
CATALOG = {}                      # po/en.po: each Korean text's English


def speak_english():
    """Under an English UI language the windows carry the English name, one caption for
    the prompt and the boxes: the driver tells them apart by a control they hold."""
    global ENGLISH, CATALOG, CAPTION_VIEWER, CAPTION_PROMPT, CAPTION_ERROR, CAPTION_PROGRESS, ALL_CAPTIONS
    sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "po"))
    import po_tool
    ENGLISH = True
    CATALOG = {o: t for o, t, _ in po_tool.parse(os.path.join(os.path.dirname(os.path.abspath(__file__)),
                                                              "..", "..", "po", "en.po"))}
    CAPTION_VIEWER = CAPTION_ERROR = "TarvessinViewer#65535"
    CAPTION_PROMPT = "TarvessinViewer#1003"
    CAPTION_PROGRESS = "Processing files"
    ALL_CAPTIONS = (CAPTION_VIEWER, CAPTION_PROMPT, CAPTION_PROGRESS)


def tr(korean):
    """A text as the programs show it in the run's language."""
    return CATALOG.get(korean, korean) if ENGLISH else korean

PASSWORD = "abcdefghijk"          # 11 bytes: the most the prompt takes
FILE_ERROR_PREFIX = "파일에 오류가 있습니다.\r\n"
KEY_BLOCK_SUFFIX = "\r\n파일이 수정되었거나 암호가 틀립니다."
BULK_SUFFIX = "\r\n파일이 수정되어 신뢰할 수 없습니다."

MESSAGE_TEXT_ID = "65535"         # a message box's text is static control 0xFFFF
VK_RETURN, VK_ESCAPE = "13", "27"
ES_PASSWORD = 0x20
SS_ICON = 0x3
FILE_ATTRIBUTE_READONLY = 0x1
BIG_SIZE = 512 << 20              # long enough to press Cancel while it is decrypted

LOCK = "%s.qv3lock"               # a running viewer's mark on its plaintext
REPORTED = "reported.qv3list"     # the clean-up's list of what it reported

# The view road's questions: the run's caption, told apart by a button they hold (the
# identifiers of ui/win32/view_questions.h).
BUTTON_OPEN, BUTTON_DO_NOT_OPEN, BUTTON_SAVE_BACK, BUTTON_KEEP_BESIDE, BUTTON_DISCARD = 2001, 2002, 2003, 2004, 2005
BUTTON_DELETE_NOW, BUTTON_KEEP_WAITING = 2006, 2007


def question(button):
    return CAPTION_VIEWER.split("#")[0] + "#%d" % button

A = None                          # parsed arguments
ENV = None                        # environment of every Wine program
WORK = None                       # this run's scratch folder (Linux path)
WORKING_FOLDER = None             # the viewer's working folder (Linux path)
WORKING_FOLDER_WIN = None         # the same as the viewer names it
FAKE_LOG = None                   # log of qv3_fake_viewer (Linux path)
DRIVER = None
STORE = None                      # containers made once, copied by the cases

TESTS = []
EVERY_LOCALE = set()   # the cases run under every locale; the rest under the Korean one

# Hangul with a character beyond the first plane, Latin letters code page 949 lacks,
# Japanese, and Hanja no Korean code page holds.
ANY_NAMES = ["보고서 📄", "Zoë — résumé", "東京の地図", "𠜎 丟"]


def test(fn):
    TESTS.append(fn)
    return fn


def every_locale(fn):
    EVERY_LOCALE.add(fn.__name__)
    return fn


def ansi():
    """The ANSI code page of the locale the programs run under, for Wine's own tools."""
    return "cp949" if A.locale.startswith("ko_") else "cp1252"


# A test's own reason for failing; anything else that escapes a test is a fault of the
# test program and shows its traceback.
Failure = AssertionError


def win(path):
    """The Windows name of a Linux path: Wine shows the Linux file system as drive Z:."""
    return "Z:" + os.path.abspath(path).replace("/", "\\")


# --- the driver ------------------------------------------------------------------------


class Driver:
    """One qv3_gui_driver.exe kept running; it answers each command with one line."""

    def __init__(self):
        self.proc = subprocess.Popen([A.wine_run, A.driver], stdin=subprocess.PIPE,
                                     stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                                     env=ENV)
        self.buffer = b""

    def _line(self, timeout):
        deadline = time.monotonic() + timeout
        while b"\n" not in self.buffer:
            left = deadline - time.monotonic()
            if left <= 0 or not select.select([self.proc.stdout], [], [], left)[0]:
                raise Failure("the driver did not answer within %d s" % timeout)
            chunk = os.read(self.proc.stdout.fileno(), 65536)
            if not chunk:
                raise Failure("the driver ended unexpectedly")
            self.buffer += chunk
        line, self.buffer = self.buffer.split(b"\n", 1)
        return line.decode("utf-8", errors="backslashreplace")

    def ask(self, *fields, timeout=60):
        """Runs one command; returns (succeeded, value)."""
        line = "\t".join(escape(str(f)) for f in fields) + "\n"
        self.proc.stdin.write(line.encode("utf-8"))
        self.proc.stdin.flush()
        answer = self._line(timeout)
        status, _, value = answer.partition(" ")
        return status == "ok", unescape(value)

    def do(self, *fields, timeout=60):
        ok, value = self.ask(*fields, timeout=timeout)
        if not ok:
            raise Failure("%s: %s" % (" ".join(str(f) for f in fields[:2]), value))
        return value

    def exists(self, caption):
        return self.do("exists", caption) == "1"

    def wait(self, caption, seconds=15):
        ok, why = self.ask("wait", caption, int(seconds * 1000), timeout=seconds + 30)
        if not ok:
            raise Failure("%s; shown instead: %s" % (why, shown() or "nothing"))

    def gone(self, caption, seconds=15):
        self.do("gone", caption, int(seconds * 1000), timeout=seconds + 30)

    def controls(self, caption):
        """[(id, class, style, text)] of the dialog's children, in template order."""
        lines = self.do("controls", caption).split("\n")[1:]
        result = []
        for line in lines:
            ident, cls, style, text = (line.split(" ", 3) + [""])[:4]
            result.append((int(ident), cls, int(style, 16), text))
        return result

    def close(self):
        try:
            self.proc.stdin.close()
            self.proc.wait(timeout=15)
        except (OSError, subprocess.TimeoutExpired):
            self.proc.kill()
            self.proc.wait()


# --- the viewer --------------------------------------------------------------------------


class Viewer:
    """TarvessinViewer.exe started in the background, in a process group of its own so
    that it can be stopped outright. A program it launches through the shell runs in a
    session of its own under Wine and is not stopped with it."""

    def __init__(self, *args, hold_ms=1500, stay_ms=0, edit=False, slow=False):
        env = dict(ENV, QV3_FAKE_VIEWER_LOG=win(FAKE_LOG), QV3_FAKE_VIEWER_HOLD_MS=str(hold_ms),
                   QV3_FAKE_VIEWER_STAY_MS=str(stay_ms), QV3_FAKE_VIEWER_EDIT="1" if edit else "0")
        if slow:
            # The portable cipher and hash: a fast machine's accelerated ones end the big
            # container before a window could be read and Cancel pressed.
            env["QV3_CPU"] = "portable"
        self.stderr = open(os.path.join(WORK, "viewer.stderr"), "ab")
        self.proc = subprocess.Popen([A.wine_run, A.viewer] + list(args),
                                     stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                     stderr=self.stderr, env=env, start_new_session=True)

    def running(self):
        return self.proc.poll() is None

    def ended(self, seconds=15, status=0):
        """Waits for the viewer to end by itself (a modal box or prompt left open would
        keep it running) and checks its exit status: 0 when everything asked was done, 1
        when a failure was shown or the user cancelled; status None: any."""
        try:
            code = self.proc.wait(timeout=seconds)
        except subprocess.TimeoutExpired:
            raise Failure("the viewer did not end within %d s; windows shown: %s"
                          % (seconds, shown() or "none"))
        if status is not None:
            check(code == status, "the viewer ended with status %d, not %d" % (code, status))

    def stop(self):
        if self.running():
            try:
                os.killpg(self.proc.pid, signal.SIGKILL)
            except ProcessLookupError:
                pass
            self.proc.wait()
        self.stderr.close()


VIEWERS = []


def start(*args, **kw):
    v = Viewer(*args, **kw)
    VIEWERS.append(v)
    return v


def enter_password(text, press="click"):
    DRIVER.wait(CAPTION_PROMPT)
    DRIVER.do("settext", CAPTION_PROMPT, 1003, text)
    if press == "click":
        DRIVER.do("click", CAPTION_PROMPT, 1)
    else:
        DRIVER.do("key", CAPTION_PROMPT, 1003, VK_RETURN)


# --- files, registry, the fake program's log ----------------------------------------------


def wine(*args, check_ok=True):
    p = subprocess.run([A.wine_run] + list(args), stdin=subprocess.DEVNULL,
                       capture_output=True, env=ENV, timeout=120)
    if check_ok and p.returncode != 0:
        raise Failure("%s failed (%d): %s" % (" ".join(args), p.returncode,
                                              p.stderr.decode(ansi(), "replace")))
    return p


# The installed product's key, which the working folder's probe reads (32-bit view).
PRODUCT_KEY = "HKLM\\Software\\Belmora\\TarvessinKvt"


def product_key_exists():
    p = wine("reg", "query", PRODUCT_KEY, "/reg:32", check_ok=False)
    return p.returncode == 0


def reg_set(key, value):
    wine("reg", "add", "HKCR\\" + key, "/ve", "/d", value, "/f")


def reg_delete(key):
    wine("reg", "delete", "HKCR\\" + key, "/f", check_ok=False)


def read(path):
    with open(path, "rb") as f:
        return f.read()


def fnv1a64(data):
    h = 14695981039346656037
    for b in data:
        h = ((h ^ b) * 1099511628211) & 0xFFFFFFFFFFFFFFFF
    return "%016x" % h


def working_files():
    return sorted(os.listdir(WORKING_FOLDER)) if os.path.isdir(WORKING_FOLDER) else []


def in_working_folder(name):
    return os.path.join(WORKING_FOLDER, name)


def is_read_only(path):
    """The read-only attribute as Windows programs see it."""
    attributes = DRIVER.do("attrs", win(path))
    return (not attributes.startswith("missing")
            and bool(int(attributes, 16) & FILE_ATTRIBUTE_READONLY))


def check_nothing_left(what):
    check(working_files() == [], "%s: the working folder holds %s" % (what, working_files()))


def log_records():
    """Runs of qv3_fake_viewer in the order they started: a dict per process with its
    "role", its key=value lines and "lines", all its lines."""
    if not os.path.exists(FAKE_LOG):
        return []
    records = {}
    for line in read(FAKE_LOG).decode("utf-8", "replace").splitlines():
        pid, _, text = line.partition(" ")
        rec = records.setdefault(pid, {"pid": pid, "lines": []})
        rec["lines"].append(text)
        for field in text.split(" ") if text.startswith("begin ") else [text]:
            key, sep, value = field.partition("=")
            if sep:
                rec[key] = value
    for rec in records.values():
        rec["ended"] = rec["lines"][-1:] == ["end"]
    return list(records.values())


def shown():
    """What the user sees: each visible window of ours with a box's text."""
    seen = []
    for caption in ALL_CAPTIONS:
        if DRIVER.exists(caption):
            ok, text = DRIVER.ask("text", caption, MESSAGE_TEXT_ID)
            seen.append(caption + (": %r" % text if ok else ""))
    return seen


def no_box():
    """A poll for wait_for: fails at once when a box of the viewer or of a job appears."""
    for caption in (CAPTION_VIEWER, CAPTION_ERROR):
        if DRIVER.exists(caption):
            raise Failure("unexpected box: %s" % shown())


def check_nothing_opened(what):
    check(log_records() == [], "%s: a program was launched: %s" % (what, log_records()))


def wait_for(condition, seconds, what, poll=None):
    """Polls condition() until it holds; poll() runs on every pass and may raise."""
    deadline = time.monotonic() + seconds
    while True:
        if poll:
            poll()
        value = condition()
        if value:
            return value
        if time.monotonic() > deadline:
            raise Failure("%s (waited %d s)" % (what, seconds))
        time.sleep(0.05)


def copy_container(d, name):
    """Copies a ready-made container into the case's folder; returns its Windows path."""
    shutil.copyfile(os.path.join(STORE, name), os.path.join(d, name))
    return win(os.path.join(d, name))


def plaintext(name):
    return read(os.path.join(STORE, name))


# --- cases ------------------------------------------------------------------------------


@test
@every_locale
def no_input_files(d):
    # No name: the box of no input. A name that cannot be opened: named in the box before
    # anything is asked, a usage error.
    missing = win(os.path.join(d, "missing.qv3test.aqv3"))
    for args, text, status in (([], tr("입력 파일이 없습니다."), 1),
                               ([missing], tr("다음 파일은 풀지 못했습니다.") + "\r\n\r\n" + tr("입력 파일이 존재하지 않습니다.\r\n") +
                                missing, 2)):
        v = start(*args)
        DRIVER.wait(CAPTION_VIEWER)
        shown = DRIVER.do("text", CAPTION_VIEWER, MESSAGE_TEXT_ID)
        check(shown.startswith(text), "box text with arguments %s: %r" % (args, shown))
        check(not DRIVER.exists(CAPTION_PROMPT), "no password prompt beside the box")
        DRIVER.do("click", CAPTION_VIEWER, 1)
        v.ended(status=status)


@test
def register_and_unregister_association(d):
    exe = win(A.viewer)
    command = '"%s" "%%1"' % exe
    expected = {
        ".aqv3": "TarvessinViewer.Document",
        ".aqv3\\shell\\open\\command": command,
        "TarvessinViewer.Document": "",
        "TarvessinViewer.Document\\DefaultIcon": '"%s",0' % exe,
        "TarvessinViewer.Document\\shell\\open\\command": command,
    }

    # The file manager's verbs: on every file, on the container type beside open, and both
    # on every folder; their texts are the program's string resources, which the shell shows.
    verbs = {"*\\shell\\TarvessinViewer.Encrypt": ("암호 파일로 만들기…", "/Encrypt", 103),
             "TarvessinViewer.Document\\shell\\DecryptHere": ("여기에 풀기", "/DecryptHere", 104),
             "Directory\\shell\\TarvessinViewer.Encrypt": ("암호 파일로 만들기…", "/Encrypt", 103),
             "Directory\\shell\\TarvessinViewer.DecryptHere": ("여기에 풀기", "/DecryptHere", 104)}
    for key, (_, road, _) in verbs.items():
        expected[key + "\\command"] = '"%s" %s "%%1"' % (exe, road)

    def registered(what):
        for key, value in expected.items():
            got = classes(DRIVER.do, key)
            check(got == value, "%s: HKCR\\%s is %r, expected %r" % (what, key, got, value))
        for key, (text, _, ident) in verbs.items():
            for name, value in (("MUIVerb", "@%s,-%d" % (exe, ident)), ("MultiSelectModel", "Player"),
                                ("Icon", '"%s",0' % exe)):
                got = classes(DRIVER.do, key, name)
                check(got == value, "%s: HKCR\\%s %s is %r, expected %r" % (what, key, name, got, value))
            shown = DRIVER.do("indirect", "@%s,-%d" % (exe, ident))
            check(shown == tr(text), "%s: the shell shows %r for HKCR\\%s" % (what, shown, key))

    def unregistered(what):
        for key in (".aqv3", "TarvessinViewer.Document", "*\\shell\\TarvessinViewer.Encrypt",
                    "Directory\\shell\\TarvessinViewer.Encrypt", "Directory\\shell\\TarvessinViewer.DecryptHere"):
            check(not class_key_exists(DRIVER.do, key), "%s: HKCR\\%s still exists" % (what, key))

    def run(*args, status=0):
        # No box may appear on the switch road: the viewer must end by itself.
        start(*args).ended(status=status)

    run("/UnRegServer")
    unregistered("/UnRegServer with nothing registered")
    run("/RegServer")
    registered("/RegServer")
    run("/RegServer")
    registered("/RegServer twice")
    run("/UnRegServer")
    unregistered("/UnRegServer")
    run("/regserver")
    registered("/regserver")
    run("/unregserver")
    unregistered("/unregserver")

    # The text from the first '/' must be a whole switch; otherwise nothing happens,
    # not even with an existing container after it or a '/' inside a file argument: only
    # the exit status (2, a usage error) tells.
    container = copy_container(d, "doc.qv3test.aqv3")
    run("/RegServer", "x", status=2)
    run(container.replace("\\", "/"), status=2)
    run(container.replace("\\", "/"), "/RegServer", status=2)
    unregistered("a switch with more text after it, or a '/' in a file argument")
    check_nothing_left("switch road")
    check_nothing_opened("switch road")


@test
@every_locale
def password_prompt_controls_empty_ok_and_escape(d):
    v = start(copy_container(d, "doc.qv3test.aqv3"))
    DRIVER.wait(CAPTION_PROMPT)
    controls = DRIVER.controls(CAPTION_PROMPT)
    icons = [c for c in controls if c[1].lower() == "static" and c[2] & 0xF == SS_ICON]
    summary = [(ident, cls.lower(), text) for ident, cls, style, text in controls
               if (ident, cls, style, text) not in icons]
    # Reading order, which is the tab order: the label right before its field.
    expected = [(-1, "static", tr("복호화를 위해 암호를 입력하십시오.")), (-1, "static", tr("암호(&P)")),
                (1003, "edit", ""), (1, "button", tr("확인(&O)")), (2, "button", tr("취소(&C)"))]
    check(summary == expected, "controls in template order: %s" % summary)
    check(len(icons) == 1, "one icon beside the texts: %s" % controls)
    style = {ident: st for ident, _, st, _ in controls}
    check(style[1003] & ES_PASSWORD, "the password field masks what is typed (style %#x)" % style[1003])
    check(style[1] & 0xF == 1, "OK is the default button (style %#x)" % style[1])
    check(DRIVER.do("focus", CAPTION_PROMPT) == "1003", "the keyboard focus starts in the field")

    # OK, by click or by Enter, on an empty field does nothing.
    DRIVER.do("click", CAPTION_PROMPT, 1)
    DRIVER.do("key", CAPTION_PROMPT, 1003, VK_RETURN)
    time.sleep(0.8)
    check(DRIVER.exists(CAPTION_PROMPT), "the prompt stays open after OK on an empty field")
    for caption in (CAPTION_VIEWER, CAPTION_ERROR, CAPTION_PROGRESS):
        check(not DRIVER.exists(caption), "no %r window after OK on an empty field" % caption)

    DRIVER.do("key", CAPTION_PROMPT, 1003, VK_ESCAPE)
    DRIVER.gone(CAPTION_PROMPT)
    v.ended(status=1)
    check_nothing_left("Escape")
    check_nothing_opened("Escape")


@test
def password_prompt_cancel_decrypts_nothing(d):
    # Choosing the working folder asks whether the product is installed; asking leaves no
    # key behind (an empty one that an earlier build made is removed first).
    if product_key_exists():
        wine("reg", "delete", PRODUCT_KEY, "/reg:32", "/f")
    v = start(copy_container(d, "doc.qv3test.aqv3"))
    DRIVER.wait(CAPTION_PROMPT)
    DRIVER.do("type", CAPTION_PROMPT, 1003, PASSWORD)
    DRIVER.do("click", CAPTION_PROMPT, 2)
    DRIVER.gone(CAPTION_PROMPT)
    v.ended(status=1)
    check(not DRIVER.exists(CAPTION_PROGRESS), "no progress window after Cancel")
    check_nothing_left("Cancel")
    check_nothing_opened("Cancel")
    check(not product_key_exists(), "the run created %s" % PRODUCT_KEY)


def follow_plaintext(path, records_expected, what):
    """Watches the plaintext while the fake program holds it: it must stay until the
    holding instance has released it, and go soon after."""
    released_at = None

    def watch():
        nonlocal released_at
        recs = log_records()
        holder = [r for r in recs if r.get("role") == "holder"]
        if holder and "released" in holder[0]["lines"]:
            if released_at is None:
                released_at = time.monotonic()
        elif holder and "holding" in holder[0]["lines"]:
            check(os.path.exists(path), "%s: the plaintext was deleted while the program "
                  "still held it" % what)

    def poll():
        no_box()
        watch()

    wait_for(lambda: released_at is not None, 30, "%s: the program never released the file"
             % what, poll=poll)
    wait_for(lambda: not os.path.exists(path), 20,
             "%s: the plaintext is still there after the program released it" % what)
    recs = log_records()
    check(len(recs) == records_expected and all(r["ended"] for r in recs),
          "%s: program runs logged: %s" % (what, recs))
    return recs


def check_handed_plaintext(rec, name, what, content=None):
    check(rec.get("path", "").lower() == (WORKING_FOLDER_WIN + "\\" + name).lower(),
          "%s: the program was handed %r, expected the working folder's %s"
          % (what, rec.get("path"), name))
    attributes = rec.get("attributes", "")
    check(not attributes.startswith("missing") and int(attributes, 16) & FILE_ATTRIBUTE_READONLY,
          "%s: the plaintext is read-only while the program has it (attributes %s)"
          % (what, attributes))
    if os.geteuid() != 0:   # Wine lets root write to read-only files
        check(rec.get("write_open", "").startswith("failed"),
              "%s: the plaintext could be opened for writing" % what)
    content = plaintext(name) if content is None else content
    check(rec.get("size") == str(len(content)) and rec.get("fnv1a64") == fnv1a64(content),
          "%s: the program read %s bytes (hash %s), expected %d (hash %s)"
          % (what, rec.get("size"), rec.get("fnv1a64"), len(content), fnv1a64(content)))


@test
def one_container_opened_read_only_then_deleted(d):
    container = copy_container(d, "doc.qv3test.aqv3")
    before = read(os.path.join(d, "doc.qv3test.aqv3"))
    v = start(container)
    DRIVER.wait(CAPTION_PROMPT)
    # 15 typed bytes: the prompt takes the first 11, which are the password.
    DRIVER.do("type", CAPTION_PROMPT, 1003, PASSWORD + "lmno")
    DRIVER.do("key", CAPTION_PROMPT, 1003, VK_RETURN)
    path = os.path.join(WORKING_FOLDER, "doc.qv3test")
    wait_for(lambda: any("holding" in r["lines"] for r in log_records()), 30,
             "the associated program was not started", poll=no_box)
    check(os.path.exists(path), "the plaintext is in the working folder while it is viewed")
    rec = follow_plaintext(path, 1, "one container")[0]
    check_handed_plaintext(rec, "doc.qv3test", "one container")
    v.ended(seconds=30)
    check_nothing_left("after viewing")
    check(read(os.path.join(d, "doc.qv3test.aqv3")) == before, "the container is unchanged")
    check(sorted(os.listdir(d)) == ["doc.qv3test.aqv3"], "nothing beside the container: %s"
          % os.listdir(d))


@test
def missing_argument_dropped_and_hand_over_waited_for(d):
    # A missing file before an existing one is named and left out before the password is
    # asked for: the single-file road. The program hands the file to a second instance
    # and exits; the viewer waits until that instance lets go of it.
    container = copy_container(d, "doc.qv3hand.aqv3")
    v = start(win(os.path.join(d, "missing.qv3hand.aqv3")), container, hold_ms=3000)
    DRIVER.wait(CAPTION_VIEWER)
    check(DRIVER.do("text", CAPTION_VIEWER, MESSAGE_TEXT_ID).startswith(tr("다음 파일은 열 수 없어 빼고 엽니다.")),
          "the missing name is said")
    DRIVER.do("click", CAPTION_VIEWER, 1)
    enter_password(PASSWORD)
    path = os.path.join(WORKING_FOLDER, "doc.qv3hand")
    recs = follow_plaintext(path, 2, "hand-over")
    launcher = [r for r in recs if r.get("role") == "launcher"]
    holder = [r for r in recs if r.get("role") == "holder"]
    check(launcher and holder and launcher[0].get("handed") == "yes",
          "a launcher handed the file to a holding instance: %s" % recs)
    check_handed_plaintext(holder[0], "doc.qv3hand", "hand-over")
    v.ended(status=1)  # a name was left out
    check_nothing_left("after the hand-over")


@test
def no_associated_program(d):
    name = "보고서.qv3none"
    v = start(copy_container(d, name + ".aqv3"))
    enter_password(PASSWORD)
    DRIVER.wait(CAPTION_VIEWER, seconds=30)
    # The plaintext is deleted before the box is shown (the run's mark on it goes when the
    # run ends).
    leftovers = [f for f in working_files() if f != LOCK % name]
    check(DRIVER.do("text", CAPTION_VIEWER, MESSAGE_TEXT_ID) == "연결된 프로그램이 없습니다.",
          "box text")
    check(leftovers == [], "the plaintext is gone while the box is shown: %s" % leftovers)
    DRIVER.do("click", CAPTION_VIEWER, 1)
    v.ended(status=1)
    check_nothing_left("no associated program")


def check_error_box(v, container, suffix, what):
    DRIVER.wait(CAPTION_ERROR, seconds=30)
    text = DRIVER.do("text", CAPTION_ERROR, MESSAGE_TEXT_ID)
    expected = tr(FILE_ERROR_PREFIX) + container + tr(suffix)
    check(text == expected, "%s: box text %r, expected %r" % (what, text, expected))
    # The engine closes its progress window only after the box.
    check(DRIVER.exists(CAPTION_PROGRESS), "%s: the progress window stays while the box is "
          "shown" % what)
    check(DRIVER.do("text", CAPTION_PROGRESS, 1013) == container,
          "%s: the progress window names the container" % what)
    check([f for f in working_files() if not f.endswith((".qv3part", ".qv3lock"))] == [],
          "%s: no plaintext appears under its name: %s" % (what, working_files()))
    DRIVER.do("click", CAPTION_ERROR, 1)
    DRIVER.gone(CAPTION_ERROR)
    v.ended(status=1)
    check(not DRIVER.exists(CAPTION_VIEWER), "%s: no further box" % what)
    check_nothing_left(what)
    check_nothing_opened(what)


@test
@every_locale
def wrong_password(d):
    container = copy_container(d, "doc.qv3test.aqv3")
    v = start(container)
    enter_password("wrong")
    check_error_box(v, container, KEY_BLOCK_SUFFIX, "wrong password")


@test
def damaged_container(d):
    container = copy_container(d, "doc.qv3test.aqv3")
    path = os.path.join(d, "doc.qv3test.aqv3")
    data = bytearray(read(path))
    # A byte of the last-but-one cipher block (before the size byte and the 32-byte MAC).
    data[len(data) - 33 - 20] ^= 0x01
    with open(path, "wb") as f:
        f.write(data)
    v = start(container)
    enter_password(PASSWORD)
    check_error_box(v, container, BULK_SUFFIX, "damaged container")


@test
def two_containers_decrypted_beside_themselves(d):
    names = ["a.qv3test", "보고서.qv3test"]
    containers = [copy_container(d, n + ".aqv3") for n in names]
    v = start(*containers)
    enter_password(PASSWORD, press="enter")
    v.ended(seconds=30)
    for n in names:
        path = os.path.join(d, n)
        check(os.path.exists(path), "%s is decrypted beside its container" % n)
        check(read(path) == plaintext(n), "%s has the original content" % n)
        attributes = DRIVER.do("attrs", win(path))
        check(int(attributes, 16) & FILE_ATTRIBUTE_READONLY, "%s is read-only (%s)"
              % (n, attributes))
    check_nothing_left("two containers")
    check_nothing_opened("two containers")


@test
def encrypt_a_selection_from_the_file_manager(d):
    # Explorer starts the verb once per selected file: the runs become one, with one
    # prompt. Of three files (a Korean name, one whose container is already beside it,
    # one another program holds unshared) two become containers and one is listed.
    contents = {}
    for i, name in enumerate(["분기 보고서.qv3test", "b.qv3test", "locked.qv3test"]):
        contents[name] = (name * 50).encode() + bytes(range(256)) * (i + 1) * 300
        with open(os.path.join(d, name), "wb") as f:
            f.write(contents[name])
    theirs = b"an older container, kept"
    with open(os.path.join(d, "b.qv3test.aqv3"), "wb") as f:
        f.write(theirs)
    locked = win(os.path.join(d, "locked.qv3test"))
    DRIVER.do("hold", locked, "none")
    try:
        runs = [start("/Encrypt", win(os.path.join(d, name))) for name in contents]
        DRIVER.wait(CAPTION_PROMPT, 30)
        controls = DRIVER.controls(CAPTION_PROMPT)
        fields = [c for c in controls if c[1] == "Edit"]
        check([c[0] for c in fields] == [1003, 1004] and all(c[2] & ES_PASSWORD for c in fields),
              "two masked fields: %s" % controls)
        check(any("11" in c[3] for c in controls), "a line says only the first 11 bytes count: %s" % controls)

        # Two different entries: said, then asked again with both fields empty.
        DRIVER.do("settext", CAPTION_PROMPT, 1003, PASSWORD)
        DRIVER.do("settext", CAPTION_PROMPT, 1004, PASSWORD[:-1])
        DRIVER.do("click", CAPTION_PROMPT, 1)
        DRIVER.wait(CAPTION_VIEWER)
        check(DRIVER.do("text", CAPTION_VIEWER, MESSAGE_TEXT_ID) == "두 암호가 서로 다릅니다. 다시 입력하십시오.",
              "the mismatch box")
        DRIVER.do("click", CAPTION_VIEWER, 1)
        DRIVER.gone(CAPTION_VIEWER)
        check(DRIVER.do("text", CAPTION_PROMPT, 1003) == "" and DRIVER.do("text", CAPTION_PROMPT, 1004) == "",
              "both fields are emptied")
        check(not any(n.endswith(".aqv3") for n in os.listdir(d) if n != "b.qv3test.aqv3"),
              "a container was made before the passwords agreed")

        DRIVER.do("settext", CAPTION_PROMPT, 1003, PASSWORD)
        DRIVER.do("settext", CAPTION_PROMPT, 1004, PASSWORD)
        DRIVER.do("click", CAPTION_PROMPT, 1)
        DRIVER.wait(CAPTION_VIEWER, 60)
        text = DRIVER.do("text", CAPTION_VIEWER, MESSAGE_TEXT_ID)
        check(text.startswith("다음 파일은 암호로 만들지 못했습니다.\r\n\r\n파일을 열 수 없습니다.\r\n" + locked),
              "the list of failures: %r" % text)
        check("분기" not in text and "b.qv3test" not in text, "only the held file is listed: %r" % text)
        check(DRIVER.do("count", CAPTION_PROMPT) == "0", "a second prompt is still open")
        DRIVER.do("click", CAPTION_VIEWER, 1)
        statuses = []
        for v in runs:
            v.ended(seconds=30, status=None)
            statuses.append(v.proc.returncode)
        check(sorted(statuses) == [0, 0, 1], "exit statuses %s: two handed over, one listed a failure" % statuses)
    finally:
        DRIVER.do("release", locked)

    made = {"분기 보고서.qv3test": "분기 보고서.qv3test.aqv3", "b.qv3test": "b (2).qv3test.aqv3"}
    check(sorted(os.listdir(d)) == sorted(list(contents) + list(made.values()) + ["b.qv3test.aqv3"]),
          "beside the files: %s" % sorted(os.listdir(d)))
    check(read(os.path.join(d, "b.qv3test.aqv3")) == theirs, "the older container was replaced")
    for name in contents:
        check(read(os.path.join(d, name)) == contents[name] and not is_read_only(os.path.join(d, name)),
              "%s is untouched" % name)

    # Each container opens through the double-click road and in qv3 decrypt to the bytes.
    for name, container in made.items():
        v = start(win(os.path.join(d, container)))
        enter_password(PASSWORD)
        shown_name = container[:-5]
        rec = follow_plaintext(in_working_folder(shown_name), 1, container)[0]
        check_handed_plaintext(rec, shown_name, container, content=contents[name])
        v.ended(seconds=30)
        os.remove(FAKE_LOG)
        out = os.path.join(d, "qv3-" + name)
        p = subprocess.run([A.wine_run, A.qv3, "decrypt", "--password-file", win(os.path.join(STORE, "pw.txt")),
                            "-o", win(out), win(os.path.join(d, container))],
                           stdin=subprocess.DEVNULL, capture_output=True, env=ENV, timeout=120)
        check(p.returncode == 0 and read(out) == contents[name],
              "qv3 decrypt %s: %d %s" % (container, p.returncode, p.stderr.decode(ansi(), "replace")))
    check_nothing_left("encryption")


@test
def a_gatherer_killed_at_its_prompt_gives_the_selection_back(d):
    # The runs that handed their files over wait until the gatherer has finished with
    # them; killed at its prompt, it gives them back: the others gather again, one prompt
    # asks, and each of their files becomes one container (the killed run's own file,
    # like any run killed, is not made).
    names = ["a.qv3test", "b.qv3test", "c.qv3test"]
    for name in names:
        with open(os.path.join(d, name), "wb") as f:
            f.write(name.encode() * 100)
    runs = [start("/Encrypt", win(os.path.join(d, name))) for name in names]
    DRIVER.wait(CAPTION_PROMPT, 30)
    DRIVER.do("kill", CAPTION_PROMPT)
    DRIVER.wait(CAPTION_PROMPT, 30)
    check(DRIVER.do("count", CAPTION_PROMPT) == "1", "more than one prompt after the gatherer died")
    DRIVER.do("settext", CAPTION_PROMPT, 1003, PASSWORD)
    DRIVER.do("settext", CAPTION_PROMPT, 1004, PASSWORD)
    DRIVER.do("click", CAPTION_PROMPT, 1)

    def close_notice():  # what the run made, said in a box once it is done
        if DRIVER.exists(CAPTION_VIEWER):
            DRIVER.do("click", CAPTION_VIEWER, 1)

    wait_for(lambda: not any(v.running() for v in runs), 60, "the runs' end", poll=close_notice)
    made = sorted(n for n in os.listdir(d) if n.endswith(".aqv3"))
    killed = [i for i, name in enumerate(names) if name + ".aqv3" not in made]
    check(len(made) == 2 and len(killed) == 1,
          "two containers, one for each surviving run's file: %s" % sorted(os.listdir(d)))
    # The driver saw the killed run end (TerminateProcess, status 99). Wine hands a killed
    # process's Linux parent 0 or 99 by chance, so only the surviving runs' statuses count.
    statuses = [v.proc.returncode for i, v in enumerate(runs) if i not in killed]
    check(statuses == [0, 0], "the surviving runs ended with %s" % statuses)
    check_nothing_left("a selection given back")


@test
def encrypt_cancelled_and_decrypt_here(d):
    path = os.path.join(d, "a.qv3test")
    with open(path, "wb") as f:
        f.write(b"plain")
    # Cancel ends the run having done nothing.
    v = start("/Encrypt", win(path))
    DRIVER.wait(CAPTION_PROMPT)
    DRIVER.do("click", CAPTION_PROMPT, 2)
    v.ended(status=1)
    check(sorted(os.listdir(d)) == ["a.qv3test"], "after Cancel: %s" % os.listdir(d))

    # Decrypt here: every container beside itself, read-only, one prompt, nothing opened
    # (also when Explorer starts one run per container).
    names = ["a.qv3test", "보고서.qv3test"]
    sub = os.path.join(d, "here")
    os.mkdir(sub)
    runs = [start("/DecryptHere", copy_container(sub, n + ".aqv3")) for n in names]
    enter_password(PASSWORD)
    DRIVER.wait(CAPTION_VIEWER, 60)
    check(DRIVER.do("text", CAPTION_VIEWER, MESSAGE_TEXT_ID).startswith(tr("암호 파일 %u개를 옆에 풀었습니다:") % 2),
          "what was decrypted is said")
    DRIVER.do("click", CAPTION_VIEWER, 1)
    statuses = []
    for v in runs:
        v.ended(seconds=30, status=None)
        statuses.append(v.proc.returncode)
    check(statuses == [0, 0], "exit statuses %s" % statuses)
    check(DRIVER.do("count", CAPTION_PROMPT) == "0", "a second prompt")
    for n in names:
        p = os.path.join(sub, n)
        check(os.path.exists(p) and read(p) == plaintext(n) and is_read_only(p),
              "%s is decrypted beside its container, read-only" % n)
    check_nothing_left("decrypt here")
    check_nothing_opened("decrypt here")


@test
def whole_folders_from_explorer(d):
    """The shared tree (tests/folder_tree.py) given as a folder to /Encrypt, twice, then to
    /DecryptHere: one prompt a run, the file another program holds the one failure of the
    first (in one box at the end), every container refused and nothing replaced by the
    second, every plaintext back by Decrypt here; nothing outside the tree or behind the
    link (a reparse point here) touched."""
    tree = folder_tree.Tree(d, windows=True)
    before = tree.snapshot()
    encrypted = tree.encrypted(before)
    held = win(tree.unreadable)
    runs = [
        # (verb, the failures listed, what the tree holds after)
        ("/Encrypt", [held], lambda: encrypted),
        ("/Encrypt", [win(c) for c in tree.containers()] + [held], lambda: encrypted),
        ("/DecryptHere", [win(os.path.join(tree.root, folder_tree.CONTAINER))], None),
    ]
    DRIVER.do("hold", held, "none")
    try:
        for verb, failed, expected in runs:
            if verb == "/DecryptHere":
                tree.remove_plaintexts()
                gone = tree.snapshot()
                expected = lambda: tree.decrypted(gone)  # noqa: E731
            v = start(verb, win(tree.root))
            DRIVER.wait(CAPTION_PROMPT, 30)
            DRIVER.do("settext", CAPTION_PROMPT, 1003, PASSWORD)
            if verb == "/Encrypt":
                DRIVER.do("settext", CAPTION_PROMPT, 1004, PASSWORD)
            DRIVER.do("click", CAPTION_PROMPT, 1)
            DRIVER.wait(CAPTION_VIEWER, 60)
            text = DRIVER.do("text", CAPTION_VIEWER, MESSAGE_TEXT_ID)
            heading = "다음 파일은 암호로 만들지 못했습니다." if verb == "/Encrypt" else "다음 파일은 풀지 못했습니다."
            check(text.startswith(heading), "%s: the list of failures: %r" % (verb, text))
            for path in failed:
                check(path in text, "%s: %s listed: %r" % (verb, path, text))
            check(text.count("\r\n\r\n") == len(failed), "%s: only those listed: %r" % (verb, text))
            DRIVER.do("click", CAPTION_VIEWER, 1)
            v.ended(seconds=30, status=1)
            problems = tree.differences(tree.snapshot(), expected())
            check(not problems, "%s: the tree\n%s" % (verb, "\n".join(problems)))
    finally:
        DRIVER.do("release", held)
    check_nothing_left("whole folders")
    check_nothing_opened("whole folders")


@test
@every_locale
def progress_window_and_cancel(d):
    container = win(os.path.join(STORE, "big.qv3test.aqv3"))
    v = start(container, slow=True)
    enter_password(PASSWORD)
    DRIVER.wait(CAPTION_PROGRESS)
    # Everything is read before Cancel: once pressed, the engine may close the window at
    # its next progress update.
    texts = {i: DRIVER.do("text", CAPTION_PROGRESS, i) for i in (1011, 1013, 2)}
    bar_class = DRIVER.do("class", CAPTION_PROGRESS, 1012).lower()
    bar_range = DRIVER.do("range", CAPTION_PROGRESS, 1012)
    first = int(DRIVER.do("pos", CAPTION_PROGRESS, 1012))
    time.sleep(0.15)
    second = int(DRIVER.do("pos", CAPTION_PROGRESS, 1012))
    DRIVER.do("click", CAPTION_PROGRESS, 2)
    check(second < 100, "decryption ended before Cancel could be pressed: make the "
          "container bigger")
    check(texts[1011] == tr("복호화중..."), "message line %r" % texts[1011])
    check(texts[1013] == container, "file line %r" % texts[1013])
    check(texts[2] == tr("취소(&C)"), "Cancel button %r" % texts[2])
    check(bar_class == "msctls_progress32", "1012 is a progress bar")
    check(bar_range == "0 100", "the bar runs from 0 to 100 (%r)" % bar_range)
    check(0 <= first < second <= 100, "the bar moves: %d, then %d" % (first, second))

    DRIVER.gone(CAPTION_PROGRESS)
    v.ended(status=1)
    check(not DRIVER.exists(CAPTION_ERROR), "no box after Cancel")
    check_nothing_left("Cancel")
    check_nothing_opened("Cancel")

    # A log-off or shut-down while the job runs is a Cancel: nothing is left beside.
    sub = os.path.join(d, "here")
    os.mkdir(sub)
    v = start("/DecryptHere", copy_container(sub, "big.qv3test.aqv3"), slow=True)
    enter_password(PASSWORD)
    DRIVER.wait(CAPTION_PROGRESS)
    DRIVER.do("endsession", CAPTION_PROGRESS)
    v.ended(status=None)
    check(os.listdir(sub) == ["big.qv3test.aqv3"], "the session's end left %s" % os.listdir(sub))


@test
def stale_plaintexts_removed_at_start(d):
    # A viewer killed while its program shows the plaintext leaves the plaintext and its
    # mark (with the plaintext's record) in the working folder; the program (a process of
    # its own) closes it later.
    container = copy_container(d, "doc.qv3test.aqv3")
    killed = start(container, hold_ms=3000)
    enter_password(PASSWORD)
    wait_for(lambda: any("holding" in r["lines"] for r in log_records()), 30,
             "the associated program was not started", poll=no_box)
    killed.stop()
    wait_for(lambda: all(r["ended"] for r in log_records()), 15,
             "the killed viewer's program did not end")
    check(sorted(working_files()) == ["doc.qv3test", LOCK % "doc.qv3test"],
          "a killed viewer leaves its plaintext and its mark: %s" % working_files())
    os.remove(FAKE_LOG)
    # What a viewer that lost its power mid-decryption leaves: a partial output and a mark
    # no one holds. And a file no run recorded that another program still has open.
    for name in ("gone.qv3test.qv3part", LOCK % "gone.qv3test"):
        with open(in_working_folder(name), "wb") as f:
            f.write(b"")
    held = in_working_folder("held.qv3test")
    with open(held, "wb") as f:
        f.write(b"held")
    os.chmod(held, 0o444)
    check(is_read_only(held), "a file without write permission is read-only under Wine")
    DRIVER.do("hold", win(held))
    try:
        # The next viewer of the same container: it cleans up before it asks for the
        # password, says once what it left alone, and its own job works.
        v = start(container)
        DRIVER.wait(CAPTION_VIEWER)
        notice = DRIVER.do("text", CAPTION_VIEWER, MESSAGE_TEXT_ID)
        check("held.qv3test" in notice and "doc.qv3test" not in notice, "the notice: %r" % notice)
        DRIVER.do("click", CAPTION_VIEWER, 1)
        DRIVER.wait(CAPTION_PROMPT)
        check(working_files() == ["held.qv3test", REPORTED],
              "only the file no run recorded is left before the prompt: %s" % working_files())
        check(is_read_only(held), "the file in use keeps its read-only attribute")
        enter_password(PASSWORD)
        path = in_working_folder("doc.qv3test")
        rec = follow_plaintext(path, 1, "the next viewer")[0]
        check_handed_plaintext(rec, "doc.qv3test", "the next viewer")
        v.ended()
        check(working_files() == ["held.qv3test", REPORTED], "after the next viewer: %s" % working_files())
    finally:
        DRIVER.do("release", win(held))


@test
def plaintext_of_a_running_viewer_kept(d):
    # The first viewer's program reads the file, closes it and shows it on (as Notepad
    # does): only the viewer's mark tells that the file is still being viewed.
    first = start(copy_container(d, "doc.qv3test.aqv3"), hold_ms=0, stay_ms=20000)
    enter_password(PASSWORD)
    shown = in_working_folder("doc.qv3test")
    wait_for(lambda: any("staying" in r["lines"] for r in log_records()), 30,
             "the first viewer's program did not read and close the file", poll=no_box)

    second = start(copy_container(d, "a.qv3test.aqv3"))
    enter_password(PASSWORD)

    def second_program_ended():
        recs = [r for r in log_records() if r.get("path", "").lower().endswith("\\a.qv3test")]
        return recs[0] if recs and recs[0]["ended"] else None

    rec = wait_for(second_program_ended, 30, "the second viewer's program did not run",
                   poll=no_box)
    check_handed_plaintext(rec, "a.qv3test", "the second viewer")
    second.ended(seconds=30)
    check(not os.path.exists(in_working_folder("a.qv3test")),
          "the second viewer deleted its own plaintext")
    check(first.running(), "the first viewer's program ended before the second viewer did: "
          "make it stay longer")
    check(os.path.exists(shown) and is_read_only(shown),
          "the first viewer's plaintext is kept, read-only")
    # The first viewer's container again, with a wrong password: its box, and then
    # nothing: the plaintext the first viewer shows is neither opened again nor deleted.
    before = len(log_records())
    third = start(copy_container(d, "doc.qv3test.aqv3"))
    enter_password("wrong")
    DRIVER.wait(CAPTION_ERROR)
    DRIVER.do("click", CAPTION_ERROR, 1)
    third.ended(status=1)
    check(len(log_records()) == before, "the third viewer opened something: %s" % log_records()[before:])
    check(os.path.exists(shown) and is_read_only(shown), "the first viewer's plaintext is still there")
    check(first.running(), "the first viewer's program ended before the third viewer did: "
          "make it stay longer")
    # A program that reads the file and closes it at once is not always seen opening it
    # where the system grants no oplock (Wine): the viewer then also waits the 30 s a
    # hand-over may take before it removes the file.
    first.ended(seconds=70)
    check_nothing_left("after both viewers")


@test
@every_locale
def any_name_opens_and_lands_beside(d):
    # Names no single code page holds: each opened through the association and removed,
    # then all of them decrypted beside themselves.
    for name in ANY_NAMES:
        container = copy_container(d, name + ".qv3test.aqv3")
        v = start(container)
        enter_password(PASSWORD)
        rec = follow_plaintext(in_working_folder(name + ".qv3test"), 1, name)[0]
        check_handed_plaintext(rec, name + ".qv3test", name)
        v.ended(seconds=30)
        check_nothing_left(name)
        os.remove(FAKE_LOG)
    v = start(*[copy_container(d, n + ".qv3test.aqv3") for n in ANY_NAMES])
    enter_password(PASSWORD, press="enter")
    v.ended(seconds=30)
    for name in ANY_NAMES:
        path = os.path.join(d, name + ".qv3test")
        check(os.path.exists(path) and read(path) == plaintext(name + ".qv3test") and is_read_only(path),
              "%s is decrypted beside its container, read-only" % name)
    check_nothing_opened("several")


def qv3_exe(d, *args):
    return subprocess.run([A.wine_run, A.qv3] + list(args), cwd=d, stdin=subprocess.DEVNULL, capture_output=True,
                          env=ENV, timeout=120)


@test
@every_locale
def one_password_rule_on_every_road(d):
    # One typing opens a container keyed with its code page 949 bytes (Korean Windows) and
    # one keyed with the first 9 bytes of its UTF-8 (earlier Linux and site builds), in
    # either order; a category container made with the empty password asks nothing.
    typed = "가나다라마"
    keys = {"k.qv3test": typed.encode("cp949"), "u.qv3test": typed.encode("utf-8")[:9]}
    for name, key in keys.items():
        with open(os.path.join(d, name), "wb") as f:
            f.write(name.encode() * 500)
        with open(os.path.join(d, "pw"), "wb") as f:
            f.write(key)
        p = qv3_exe(d, "encrypt", "--password-file", "pw", name)
        check(p.returncode == 0, "qv3 encrypt %s: %r" % (name, p.stderr))
        os.remove(os.path.join(d, name))
    for order in (["k.qv3test", "u.qv3test"], ["u.qv3test", "k.qv3test"]):
        v = start("/DecryptHere", *[win(os.path.join(d, n + ".aqv3")) for n in order])
        enter_password(typed)
        DRIVER.wait(CAPTION_VIEWER, 30)  # what was decrypted is said
        DRIVER.do("click", CAPTION_VIEWER, 1)
        v.ended(seconds=30)
        for name in keys:
            check(read(os.path.join(d, name)) == name.encode() * 500, "%s opened by %s" % (name, order))
            os.chmod(os.path.join(d, name), 0o644)
            os.remove(os.path.join(d, name))

    with open(os.path.join(d, "e.qv3test"), "wb") as f:
        f.write(b"made with the empty password")
    check(qv3_exe(d, "encrypt", "--empty-password", "e.qv3test").returncode == 0, "the empty password's container")
    os.remove(os.path.join(d, "e.qv3test"))
    v = start(win(os.path.join(d, "e.qv3test.bqv3")))
    rec = follow_plaintext(in_working_folder("e.qv3test"), 1, "the empty password")[0]
    check_handed_plaintext(rec, "e.qv3test", "the empty password", content=b"made with the empty password")
    v.ended(seconds=30)
    check(not DRIVER.exists(CAPTION_PROMPT), "asked for the empty password")
    os.remove(FAKE_LOG)

    # Made here: a character no form keeps is named, nothing written, asked again; Hanja
    # that code page 949 holds are keyed in it on any code page.
    path = os.path.join(d, "n.qv3test")
    with open(path, "wb") as f:
        f.write(b"new")
    v = start("/Encrypt", win(path))
    for entry in ("가\U0001F600", "東京"):
        DRIVER.wait(CAPTION_PROMPT)
        DRIVER.do("settext", CAPTION_PROMPT, 1003, entry)
        DRIVER.do("settext", CAPTION_PROMPT, 1004, entry)
        DRIVER.do("click", CAPTION_PROMPT, 1)
        if entry != "東京":
            DRIVER.wait(CAPTION_VIEWER)
            text = DRIVER.do("text", CAPTION_VIEWER, MESSAGE_TEXT_ID)
            check("\U0001F600" in text, "the refusal names the emoji: %r" % text)
            check(not os.path.exists(path + ".aqv3"), "written despite the refusal")
            DRIVER.do("click", CAPTION_VIEWER, 1)
            DRIVER.gone(CAPTION_VIEWER)
    DRIVER.wait(CAPTION_VIEWER, 30)  # what was made is said
    check(DRIVER.do("text", CAPTION_VIEWER, MESSAGE_TEXT_ID).startswith(tr("파일 %u개를 암호 파일로 만들었습니다:") % 1),
          "what was made is said")
    DRIVER.do("click", CAPTION_VIEWER, 1)
    v.ended(seconds=30)
    with open(os.path.join(d, "pw"), "wb") as f:
        f.write("東京".encode("cp949"))
    p = qv3_exe(d, "decrypt", "--password-file", "pw", "-o", "n.out", "n.qv3test.aqv3")
    check(p.returncode == 0 and read(os.path.join(d, "n.out")) == b"new", "keyed in code page 949: %r" % p.stderr)
    check_nothing_left("the password rule")


@test
@every_locale
def a_profile_whose_name_no_code_page_holds(d):
    # The local application data of a user named Zoë (and 東京 beside it): the working
    # folder follows, and stale plaintexts there are cleared as anywhere.
    key = "HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders"
    profile = "C:\\users\\Zoë 東京\\AppData\\Local"
    wine("reg", "add", key, "/v", "Local AppData", "/t", "REG_EXPAND_SZ", "/d", profile, "/f")
    try:
        folder = os.path.join(A.prefix, "drive_c", "users", "Zoë 東京", "AppData")
        os.makedirs(os.path.join(folder, "Local"), exist_ok=True)
        working = os.path.join(folder, "LocalLow", "QV3V")
        os.makedirs(working, exist_ok=True)
        stale = os.path.join(working, "left-by-a-dead-run.qv3test")
        with open(stale, "wb") as f:
            f.write(b"stale")
        v = start(copy_container(d, "doc.qv3test.aqv3"))
        DRIVER.wait(CAPTION_VIEWER)  # the clean-up there left the unrecorded file, and says so
        check("left-by-a-dead-run.qv3test" in DRIVER.do("text", CAPTION_VIEWER, MESSAGE_TEXT_ID), "the notice")
        DRIVER.do("click", CAPTION_VIEWER, 1)
        enter_password(PASSWORD)
        wait_for(lambda: log_records() and log_records()[0].get("path"), 30, "the program was not started",
                 poll=no_box)
        handed = log_records()[0]["path"]
        check(handed.lower() == (profile[:-len("Local")] + "LocalLow\\QV3V\\doc.qv3test").lower(),
              "the plaintext was handed from %r" % handed)
        v.ended(seconds=30)
        check(sorted(os.listdir(working)) == ["left-by-a-dead-run.qv3test", REPORTED],
              "the profile's working folder holds %s" % os.listdir(working))
    finally:
        wine("reg", "delete", key, "/v", "Local AppData", "/f", check_ok=False)
        wine("reg", "add", key, "/v", "Local AppData", "/t", "REG_EXPAND_SZ", "/d",
             "%USERPROFILE%\\AppData\\Local", "/f", check_ok=False)


def marker_path():
    return os.path.join(WORK, "marker.txt")


@test
def a_batch_file_runs_only_when_the_user_confirms(d):
    # A container holding a batch file that would write a marker: asked about before it
    # is handed over, "Do not open" the default; it runs only once the user says so.
    for answer in (VK_RETURN, BUTTON_OPEN):
        v = start(copy_container(d, "invoice.bat.aqv3"))
        enter_password(PASSWORD)
        DRIVER.wait(question(BUTTON_DO_NOT_OPEN), seconds=30)
        texts = DRIVER.do("controls", question(BUTTON_DO_NOT_OPEN))
        check("invoice.bat" in texts, "the question names the file: %r" % texts)
        time.sleep(1)
        check(not os.path.exists(marker_path()), "the batch file ran before the user answered")
        if answer == VK_RETURN:  # the default button
            DRIVER.do("key", question(BUTTON_DO_NOT_OPEN), BUTTON_DO_NOT_OPEN, VK_RETURN)
            v.ended(status=1)
            check(not os.path.exists(marker_path()), "the batch file ran though the user said no")
            check_nothing_left("not opened")
        else:
            DRIVER.do("click", question(BUTTON_DO_NOT_OPEN), BUTTON_OPEN)
            wait_for(lambda: os.path.exists(marker_path()), 30, "the batch file did not run when confirmed")
            v.ended(seconds=70)
            check_nothing_left("opened")


@test
def the_plaintext_carries_the_containers_zone_identifier(d):
    container = copy_container(d, "doc.qv3test.aqv3")
    mark = b"[ZoneTransfer]\r\nZoneId=3\r\nHostUrl=https://mail.example/\r\n"
    # Wine keeps a file's stream as a file of that name beside it.
    with open(os.path.join(d, "doc.qv3test.aqv3:Zone.Identifier"), "wb") as f:
        f.write(mark)
    v = start(container, hold_ms=3000)
    enter_password(PASSWORD)
    wait_for(lambda: any("holding" in r["lines"] for r in log_records()), 30,
             "the associated program was not started", poll=no_box)
    stream = in_working_folder("doc.qv3test:Zone.Identifier")
    check(os.path.exists(stream) and read(stream) == mark, "the plaintext's Zone.Identifier: %s" % working_files())
    v.ended(seconds=30)
    check_nothing_left("after viewing a marked container")


def decrypted(container):
    """What a container holds, decrypted by qv3.exe beside a scratch copy."""
    scratch = os.path.join(WORK, "check")
    shutil.rmtree(scratch, ignore_errors=True)
    os.makedirs(scratch)
    shutil.copyfile(os.path.join(STORE, "pw.txt"), os.path.join(scratch, "pw.txt"))
    shutil.copyfile(container, os.path.join(scratch, "c.qv3test.aqv3"))
    wine(A.qv3, "decrypt", "--password-file", win(os.path.join(scratch, "pw.txt")),
         win(os.path.join(scratch, "c.qv3test.aqv3")))
    return read(os.path.join(scratch, "c.qv3test"))


@test
def an_edited_plaintext_is_saved_back_or_kept_beside(d):
    edited = b"edited by the fake viewer\r\n"
    container = copy_container(d, "doc.qv3test.aqv3")
    v = start(container, hold_ms=300, edit=True)
    enter_password(PASSWORD)
    DRIVER.wait(question(BUTTON_SAVE_BACK), seconds=60)
    check(os.path.exists(in_working_folder("doc.qv3test")), "the edit is there while the user is asked")
    DRIVER.do("click", question(BUTTON_SAVE_BACK), BUTTON_SAVE_BACK)
    v.ended(seconds=60)
    check(decrypted(os.path.join(d, "doc.qv3test.aqv3")) == edited, "the container holds the edit")
    check_nothing_left("saved back")
    v = start(container, hold_ms=300, edit=True)
    enter_password(PASSWORD)
    DRIVER.wait(question(BUTTON_KEEP_BESIDE), seconds=60)
    DRIVER.do("click", question(BUTTON_KEEP_BESIDE), BUTTON_KEEP_BESIDE)
    v.ended(seconds=60)
    check(read(os.path.join(d, "doc.qv3test")) == edited, "the edit beside the container")
    check_nothing_left("kept beside")


@test
def a_file_still_in_use_is_said_and_goes_when_it_can(d):
    # The program hands the file to an instance that keeps it long after the launcher ended.
    v = start(copy_container(d, "doc.qv3hand.aqv3"), hold_ms=25000)
    enter_password(PASSWORD)
    DRIVER.wait(question(BUTTON_DELETE_NOW), seconds=60)
    check(os.path.exists(in_working_folder("doc.qv3hand")), "deleted before the user asked")
    DRIVER.do("click", question(BUTTON_DELETE_NOW), BUTTON_DELETE_NOW)
    v.ended(seconds=30)
    # The program holds it without delete sharing: it stays, recorded, until it is let go.
    check(working_files() == ["doc.qv3hand", LOCK % "doc.qv3hand"], "left: %s" % working_files())
    wait_for(lambda: all(r["ended"] for r in log_records()), 40, "the program did not end")
    v = start()
    DRIVER.wait(CAPTION_VIEWER)
    DRIVER.do("click", CAPTION_VIEWER, 1)
    v.ended(status=1)
    check_nothing_left("the next start")


# --- screenshots ------------------------------------------------------------------------


def capture(caption, path):
    x, y, w, h = (int(n) for n in DRIVER.do("rect", caption).split())
    time.sleep(0.4)  # let the window paint
    subprocess.run(["import", "-window", "root", "-crop", "%dx%d+%d+%d" % (w, h, x, y),
                    "+repage", path], check=True, stdin=subprocess.DEVNULL, timeout=60)
    print("wrote %s (%dx%d)" % (path, w, h))


def screenshots(folder):
    """The prompt, the progress window, the encryption road's prompt and an error box, on
    containers in a folder with a plain name on drive C: rather than in the scratch
    folder. In English the pictures are named with "-en" (password-prompt-en.png) and the
    files are English ones; in Korean on another code page they are named after it
    (password-prompt-cp1252.png), and the files after characters that code page lacks."""
    os.makedirs(folder, exist_ok=True)
    suffix = "-en" if ENGLISH else "" if A.locale.startswith("ko_") else "-" + ansi()
    folder_name, report, video = {
        "": ("업무자료", "분기 실적 보고서.docx.aqv3", "제품 소개 영상.mp4.aqv3"),
        "-en": ("Work", "Quarterly report.docx.aqv3", "Product video.mp4.aqv3"),
    }.get(suffix, ("Zoë 업무자료", "분기 보고서 📄.docx.aqv3", "Zoë — 제품 소개 東京.mp4.aqv3"))
    d = os.path.join(A.prefix, "drive_c", folder_name)
    os.makedirs(d, exist_ok=True)
    shutil.copyfile(os.path.join(STORE, "doc.qv3test.aqv3"), os.path.join(d, report))
    os.symlink(os.path.join(STORE, "big.qv3test.aqv3"), os.path.join(d, video))
    at = "C:\\" + os.path.basename(d) + "\\"
    try:
        v = start(at + report)
        DRIVER.wait(CAPTION_PROMPT)
        DRIVER.do("type", CAPTION_PROMPT, 1003, "abcdefgh")
        capture(CAPTION_PROMPT, os.path.join(folder, "password-prompt%s.png" % suffix))
        DRIVER.do("key", CAPTION_PROMPT, 1003, VK_ESCAPE)
        v.ended(status=1)

        v = start(at + video, slow=True)
        enter_password(PASSWORD)
        DRIVER.wait(CAPTION_PROGRESS)
        wait_for(lambda: int(DRIVER.do("pos", CAPTION_PROGRESS, 1012)) >= 3, 30, "progress")
        capture(CAPTION_PROGRESS, os.path.join(folder, "progress%s.png" % suffix))
        DRIVER.do("click", CAPTION_PROGRESS, 2)
        # A fast machine may finish first: no program is associated with the video.
        wait_for(lambda: not v.running() or DRIVER.exists(CAPTION_VIEWER), 30, "the end of the run")
        if DRIVER.exists(CAPTION_VIEWER):
            DRIVER.do("click", CAPTION_VIEWER, 1)
        v.ended(status=1)

        # The encryption road's prompt, from the file manager's verb.
        plain = os.path.join(d, report[:-5])
        with open(plain, "wb") as f:
            f.write(b"x" * 1000)
        v = start("/Encrypt", at + report[:-5])
        DRIVER.wait(CAPTION_PROMPT)
        DRIVER.do("type", CAPTION_PROMPT, 1003, "abcdefgh")
        DRIVER.do("type", CAPTION_PROMPT, 1004, "abcdefgh")
        capture(CAPTION_PROMPT, os.path.join(folder, "new-password-prompt%s.png" % suffix))
        DRIVER.do("click", CAPTION_PROMPT, 2)
        v.ended(status=1)

        v = start(at + report)
        enter_password("wrong")
        DRIVER.wait(CAPTION_ERROR)
        capture(CAPTION_ERROR, os.path.join(folder, "error-box%s.png" % suffix))
        DRIVER.do("click", CAPTION_ERROR, 1)
        v.ended(status=1)

        # The view road's questions, in the two languages: a batch file, a text file the
        # program changed, a table a handed-over instance keeps open.
        if suffix in ("", "-en"):
            reg_set(".txt", "Qv3Test.Document")
            reg_set(".csv", "Qv3Hand.Document")
            invoice, notes, budget = (("Invoice.bat.aqv3", "Meeting notes.txt.aqv3", "Budget.csv.aqv3") if ENGLISH
                                      else ("청구서.bat.aqv3", "회의록.txt.aqv3", "예산.csv.aqv3"))
            for source, name in (("invoice.bat.aqv3", invoice), ("doc.qv3test.aqv3", notes),
                                 ("doc.qv3test.aqv3", budget)):
                shutil.copyfile(os.path.join(STORE, source), os.path.join(d, name))
            shots = ((invoice, {}, BUTTON_DO_NOT_OPEN, "dangerous-type", BUTTON_DO_NOT_OPEN, 1),
                     (notes, {"hold_ms": 300, "edit": True}, BUTTON_SAVE_BACK, "changed-file", BUTTON_DISCARD, 0),
                     (budget, {"hold_ms": 20000}, BUTTON_DELETE_NOW, "still-in-use", BUTTON_DELETE_NOW, 0))
            for name, options, button, picture, answer, status in shots:
                v = start(at + name, **options)
                enter_password(PASSWORD)
                DRIVER.wait(question(button), seconds=60)
                capture(question(button), os.path.join(folder, "%s%s.png" % (picture, suffix)))
                DRIVER.do("click", question(button), answer)
                v.ended(seconds=60, status=status)
            reg_set(".txt", "txtfile")
            reg_delete(".csv")
    finally:
        shutil.rmtree(d, ignore_errors=True)


# --- set-up and the run ------------------------------------------------------------------


def make_containers():
    """Plaintexts and their containers, made once with the project's qv3 encrypt."""
    os.makedirs(STORE)
    content = bytes((i * 7 + i // 251) & 0xFF for i in range(200_000))
    for i, name in enumerate(["doc.qv3test", "doc.qv3hand", "a.qv3test", "보고서.qv3test",
                              "보고서.qv3none"] + [n + ".qv3test" for n in ANY_NAMES]):
        with open(os.path.join(STORE, name), "wb") as f:
            f.write(name.encode() + content[i:])
    with open(os.path.join(STORE, "invoice.bat"), "wb") as f:
        f.write(b'@echo off\r\necho ran> "%s"\r\n' % win(marker_path()).encode())
    with open(os.path.join(STORE, "big.qv3test"), "wb") as f:
        f.truncate(BIG_SIZE)
    with open(os.path.join(STORE, "pw.txt"), "wb") as f:
        f.write(PASSWORD.encode())
    names = [n for n in sorted(os.listdir(STORE)) if n != "pw.txt"]
    p = subprocess.run([A.wine_run, A.qv3, "encrypt", "--password-file", "pw.txt"] + names,
                       cwd=STORE, stdin=subprocess.DEVNULL, capture_output=True, env=ENV,
                       timeout=300)
    check(p.returncode == 0, "qv3 encrypt failed: %s" % p.stderr.decode(ansi(), "replace"))
    os.remove(os.path.join(STORE, "big.qv3test"))


def associate():
    fake = win(A.fake_viewer)
    reg_set(".qv3test", "Qv3Test.Document")
    reg_set("Qv3Test.Document\\shell\\open\\command", '"%s" "%%1"' % fake)
    reg_set(".qv3hand", "Qv3Hand.Document")
    reg_set("Qv3Hand.Document\\shell\\open\\command", '"%s" --hand-over "%%1"' % fake)
    reg_delete(".qv3none")
    check(classes(DRIVER.do, "Qv3Test.Document\\shell\\open\\command") == '"%s" "%%1"' % fake,
          "the test association was recorded")


def dissociate():
    for key in (".qv3test", "Qv3Test.Document", ".qv3hand", "Qv3Hand.Document", ".aqv3",
                "TarvessinViewer.Document"):
        reg_delete(key)


def reset_between_cases():
    for name in working_files():
        os.remove(os.path.join(WORKING_FOLDER, name))
    for path in (FAKE_LOG, marker_path()):
        if os.path.exists(path):
            os.remove(path)
    left = [c for c in ALL_CAPTIONS if DRIVER.exists(c)]
    check(not left, "windows of an earlier case are still open: %s" % left)


def main():
    global A, ENV, WORK, FAKE_LOG, STORE
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    for name in ("viewer", "driver", "fake-viewer", "qv3", "wine-run", "prefix"):
        parser.add_argument("--" + name, required=True)
    parser.add_argument("--only", nargs="*", help="run only these cases")
    parser.add_argument("--locale", default="ko_KR.UTF-8",
                        help="the locale the programs run under (another than the Korean one runs "
                             "only the cases that hold on every code page)")
    parser.add_argument("--list", action="store_true", help="list the cases")
    parser.add_argument("--screenshots", metavar="DIR", help="capture screenshots into DIR")
    A = parser.parse_args()
    if A.list:
        print("\n".join(fn.__name__ for fn in TESTS))
        return 0
    unknown = set(A.only or []) - {fn.__name__ for fn in TESTS}
    if unknown:
        parser.error("no such case: %s (see --list)" % ", ".join(sorted(unknown)))
    if not os.environ.get("DISPLAY"):
        print("viewer_test: no X display (run under xvfb-run): skipped")
        return 77
    for name in ("viewer", "driver", "fake_viewer", "qv3"):
        setattr(A, name, os.path.abspath(getattr(A, name)))
    cases = [fn for fn in TESTS if not A.only or fn.__name__ in A.only]
    if not A.locale.startswith("ko_"):
        cases = [fn for fn in cases if fn.__name__ in EVERY_LOCALE]

    ENV = dict(os.environ, WINEPREFIX=os.path.abspath(A.prefix), QV3_WINE_LOCALE=A.locale)
    if not os.environ.get("QV3_WINE_UI_LOCALE", A.locale).startswith("ko_"):
        speak_english()
    WORK = tempfile.mkdtemp(prefix="viewer_test.", dir=os.path.dirname(A.driver))
    FAKE_LOG = os.path.join(WORK, "fake_viewer.log")
    STORE = os.path.join(WORK, "store")
    started = time.monotonic()
    try:
        try:
            set_up()
        except Failure as e:
            print("viewer_test: set-up failed: %s" % e)
            return 1
        if A.screenshots:
            screenshots(A.screenshots)
            return 0
        failed = run_cases(cases)
        print("%d of %d cases passed in %.0f s" % (len(cases) - len(failed), len(cases),
                                                 time.monotonic() - started))
        return 1 if failed else 0
    finally:
        tear_down()


def set_up():
    global DRIVER, WORKING_FOLDER, WORKING_FOLDER_WIN
    DRIVER = Driver()
    local = DRIVER.do("folder", 28, timeout=120)   # local application data
    # The viewer's folder is the "Low" sibling of that folder.
    WORKING_FOLDER_WIN = local.rstrip("\\") + "Low\\QV3V"
    drive, rest = WORKING_FOLDER_WIN.split(":", 1)
    check(drive.upper() == "C", "working folder on drive C: %s" % WORKING_FOLDER_WIN)
    WORKING_FOLDER = os.path.join(A.prefix, "drive_c", *rest.strip("\\").split("\\"))
    make_containers()
    associate()
    reset_between_cases()


def run_cases(cases):
    failed = []
    for fn in cases:
        d = os.path.join(WORK, fn.__name__)
        os.makedirs(d)
        t = time.monotonic()
        try:
            reset_between_cases()
            fn(d)
            check(not any(v.running() for v in VIEWERS), "the viewer is still running")
            print("ok      %-50s %5.1f s" % (fn.__name__, time.monotonic() - t))
        except Exception as e:  # noqa: BLE001 - every failure is reported the same way
            failed.append(fn.__name__)
            print("FAILED  %-50s %5.1f s" % (fn.__name__, time.monotonic() - t))
            if isinstance(e, Failure):
                print("        " + str(e).replace("\n", "\n        "))
            else:
                traceback.print_exc(file=sys.stdout)
        finally:
            while VIEWERS:
                VIEWERS.pop().stop()
        sys.stdout.flush()
    return failed


def tear_down():
    while VIEWERS:
        VIEWERS.pop().stop()
    try:
        if DRIVER:
            dissociate()
    finally:
        if DRIVER:
            DRIVER.close()
        shutil.rmtree(WORK, ignore_errors=True)
        for name in working_files() if WORKING_FOLDER else []:
            os.remove(os.path.join(WORKING_FOLDER, name))


if __name__ == "__main__":
    sys.exit(main())
