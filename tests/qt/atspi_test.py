#!/usr/bin/env python3
"""The Linux viewer as a screen reader meets it: the real tarvessin-viewer is run on a
private X display and a private D-Bus session with its accessibility bus (AT-SPI), and
its windows are read through that bus, as Orca reads them, and answered with keys alone:
the password prompt, the progress window and the encryption road's two-field prompt, in
Korean and in English.

usage: atspi_test.py --viewer PROGRAM --qv3 PROGRAM

What it checks: every object the keyboard reaches has a non-empty name, a description and
the role it should have (a password field, a push button); the fields are named by their
labels ("암호" / "Password", "암호 확인" / "Confirm"); Tab goes field, field, OK, Cancel;
Enter accepts and Escape cancels; the progress window's bar is named by the file and
tells its value, and each new file is announced (the bar's and the file line's name
changes reach the bus).

It starts xvfb-run and dbus-run-session itself. Exit status 77 (skipped) when
python3-pyatspi, at-spi2-core, dbus-run-session, X or xdotool are missing.
"""

import argparse
import faulthandler
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import threading
import time
import traceback

HERE = os.path.dirname(os.path.abspath(__file__))
SKIP = 77


def reexec_when_needed():
    """Runs this script again under Debian's python (pyatspi is its package), a private D-Bus
    session and an X display, as far as each is missing; returns only when all are there."""
    try:
        import pyatspi  # noqa: F401
    except ImportError:
        if os.path.realpath(sys.executable) != os.path.realpath("/usr/bin/python3") and \
                os.path.exists("/usr/bin/python3"):
            os.execv("/usr/bin/python3", ["/usr/bin/python3", os.path.abspath(__file__), *sys.argv[1:]])
        print("atspi_test.py: python3-pyatspi is not installed: skipped")
        sys.exit(SKIP)
    if not os.path.exists("/usr/libexec/at-spi-bus-launcher"):
        print("atspi_test.py: at-spi2-core is not installed: skipped")
        sys.exit(SKIP)
    wrap = []
    if not os.environ.get("DISPLAY"):
        if not shutil.which("xvfb-run"):
            print("atspi_test.py: no X display and no xvfb-run: skipped")
            sys.exit(SKIP)
        wrap += ["xvfb-run", "-a", "-s", "-screen 0 1280x1024x24 -noreset"]
    # A bus of our own: the test never reads or disturbs a real session's.
    if os.environ.get("QV3_ATSPI_PRIVATE_BUS") != "1":
        if not shutil.which("dbus-run-session"):
            print("atspi_test.py: dbus-run-session is missing: skipped")
            sys.exit(SKIP)
        wrap += ["env", "QV3_ATSPI_PRIVATE_BUS=1", "dbus-run-session", "--"]
    if wrap:
        os.execvp(wrap[0], wrap + [sys.executable, os.path.abspath(__file__), *sys.argv[1:]])
    if not shutil.which("xdotool"):
        print("atspi_test.py: xdotool is not installed: skipped")
        sys.exit(SKIP)


if __name__ == "__main__":
    faulthandler.register(signal.SIGUSR1, all_threads=True)
    reexec_when_needed()

import pyatspi  # noqa: E402
from gi.repository import GLib  # noqa: E402

sys.path.insert(0, HERE)
import viewer_e2e_test as e2e  # noqa: E402
from viewer_e2e_test import Desktop, Failure, Viewer, check  # noqa: E402

TEXTS = {
    "ko": {"prompt": "타르베신 외부암호파일 뷰어", "progress": "파일 처리중", "password": "암호",
           "confirm": "암호 확인", "ok": "확인", "cancel": "취소", "lang": "C.UTF-8"},
    "en": {"prompt": "TarvessinViewer", "progress": "Processing files", "password": "Password",
           "confirm": "Confirm", "ok": "OK", "cancel": "Cancel", "lang": "en_US.UTF-8"},
}

EVENTS = []  # (event type, role name, object name) heard on the bus


def heard(event):
    try:
        EVENTS.append((event.type, event.source.getRoleName(), event.source.name))
    except Exception:  # noqa: BLE001 - an object gone before it was read
        pass


def serve(seconds):
    """Lets the bus deliver what is queued for about this long."""
    context = GLib.MainContext.default()
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        while context.pending():
            context.iteration(False)
        time.sleep(0.02)


def application(v):
    for i in range(pyatspi.Registry.getDesktop(0).childCount):
        app = pyatspi.Registry.getDesktop(0).getChildAtIndex(i)
        try:
            if app is not None and app.get_process_id() == v.proc.pid:
                return app
        except Exception:  # noqa: BLE001 - an application that went meanwhile
            continue
    return None


def window(v, name, timeout=30):
    """The viewer's showing window of that name, read through the bus."""
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        app = application(v)
        for i in range(app.childCount if app else 0):
            w = app.getChildAtIndex(i)
            if w is not None and w.name == name and w.getState().contains(pyatspi.STATE_SHOWING):
                return w
        if v.proc.poll() is not None:
            raise Failure("the viewer ended before showing \"%s\":\n%s" % (name, v.finish()))
        serve(0.1)
    raise Failure("no window \"%s\" on the accessibility bus within %d s" % (name, timeout))


def objects(root):
    found = [root]
    for i in range(root.childCount):
        child = root.getChildAtIndex(i)
        if child is not None:
            found += objects(child)
    return found


def focusable(w):
    """(role, name, description) of every object of the window the keyboard reaches."""
    result = []
    for o in objects(w)[1:]:
        if o.getState().contains(pyatspi.STATE_FOCUSABLE):
            result.append((o.getRoleName(), o.name, o.description))
    return result


def check_named(w, what):
    reached = focusable(w)
    check(reached, "%s: nothing the keyboard reaches" % what)
    for role, name, description in reached:
        check(name.strip(), "%s: a %s without a name" % (what, role))
        check(description.strip(), "%s: %s %r without a description" % (what, role, name))
        check(role in ("password text", "push button"), "%s: %r has the role %s" % (what, name, role))
    return reached


def focused_name(w):
    for o in objects(w):
        if o.getState().contains(pyatspi.STATE_FOCUSED):
            return o.name
    return None


class Throttle:
    """Lets the process run a tenth of the time (stopped and continued in turns), so that
    a decryption lasts long enough to read its window; the bus waits for its answers."""

    def __init__(self, pid):
        self.pid, self.running = pid, True
        self.thread = threading.Thread(target=self.run, daemon=True)
        self.thread.start()

    def run(self):
        while self.running:
            try:
                os.kill(self.pid, signal.SIGSTOP)
                time.sleep(0.09)
                os.kill(self.pid, signal.SIGCONT)
                time.sleep(0.01)
            except ProcessLookupError:
                return

    def stop(self):
        self.running = False
        self.thread.join()
        try:
            os.kill(self.pid, signal.SIGCONT)
        except ProcessLookupError:
            pass


def key(*keys):
    subprocess.run(["xdotool", "key", *keys], check=True)


def focus_window(v, caption):
    subprocess.run(["xdotool", "windowfocus", "--sync", v.window(caption)], check=True)
    time.sleep(0.2)


def prompt_and_progress(d, t):
    """The prompt read and answered by keys; then the progress window, read, and cancelled."""
    big = d.container("보고서 R&D <b>계획.mp4", os.urandom(1 << 20) * 400)
    v = Viewer(d, big)
    w = window(v, t["prompt"])
    reached = check_named(w, "the prompt")
    fields = [(role, name) for role, name, _ in reached if role == "password text"]
    check(fields == [("password text", t["password"])], "the prompt's field: %s" % fields)
    buttons = [name for role, name, _ in reached if role == "push button"]
    check(buttons == [t["ok"], t["cancel"]], "the prompt's buttons: %s" % buttons)
    check(focused_name(w) == t["password"], "the focus starts in the field, not in %r" % focused_name(w))

    focus_window(v, t["prompt"])
    EVENTS.clear()
    subprocess.run(["xdotool", "type", "--delay", "15", e2e.PASSWORD], check=True)
    key("Return")
    # Held back until Escape is in: at full speed the rest of the file takes less time
    # than focusing the window.
    throttle = Throttle(v.proc.pid)
    try:
        progress_window(v, t, big)
        focus_window(v, t["progress"])
        key("Escape")
    finally:
        throttle.stop()
    v.finish(timeout=60)
    check(v.proc.returncode == 1, "Escape cancelled the run: status %d" % v.proc.returncode)
    check(not os.path.exists(os.path.join(d.working, os.path.basename(big)[:-5])), "nothing left after Cancel")


def progress_window(v, t, big):
    w = window(v, t["progress"], timeout=60)
    reached = check_named(w, "the progress window")
    check([name for _, name, _ in reached] == [t["cancel"]], "the progress window's keys: %s" % reached)
    bars = [o for o in objects(w) if o.getRoleName() == "progress bar"]
    check(len(bars) == 1, "one progress bar: %d" % len(bars))
    check(bars[0].name == big, "the bar is named by the file: %r" % bars[0].name)
    value = bars[0].queryValue()
    check(0 <= value.currentValue <= 100 and value.maximumValue == 100, "the bar's value %s of %s"
          % (value.currentValue, value.maximumValue))
    labels = [o.name for o in objects(w) if o.getRoleName() == "label"]
    check(big in labels, "the file line says the file as it is: %s" % labels)
    serve(0.5)
    announced = {(role, name) for kind, role, name in EVENTS if kind == "object:property-change:accessible-name"}
    check(("progress bar", big) in announced and ("label", big) in announced,
          "the new file was not announced: %s" % sorted(announced))


def two_field_prompt(d, t):
    """The encryption road's prompt: both fields named, Tab through all four, Escape."""
    plain = os.path.join(d.files, "report.txt")
    with open(plain, "wb") as f:
        f.write(b"x" * 100)
    v = Viewer(d, "--encrypt", plain)
    w = window(v, t["prompt"])
    reached = check_named(w, "the encryption prompt")
    check([(r, n) for r, n, _ in reached] ==
          [("password text", t["password"]), ("password text", t["confirm"]),
           ("push button", t["ok"]), ("push button", t["cancel"])], "the encryption prompt: %s" % reached)
    focus_window(v, t["prompt"])
    order = [focused_name(w)]
    for _ in range(3):
        key("Tab")
        serve(0.3)
        order.append(focused_name(w))
    check(order == [t["password"], t["confirm"], t["ok"], t["cancel"]], "the Tab order: %s" % order)
    key("Escape")
    v.finish()
    check(v.proc.returncode == 1, "Escape ends the run with status 1: %d" % v.proc.returncode)
    check(os.listdir(d.files) == ["report.txt"], "nothing made after Escape: %s" % os.listdir(d.files))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--viewer", required=True)
    parser.add_argument("--qv3", required=True)
    e2e.A = parser.parse_args()
    e2e.A.viewer, e2e.A.qv3 = os.path.abspath(e2e.A.viewer), os.path.abspath(e2e.A.qv3)
    # Heard while serve() runs the main context (Registry.start would never return).
    pyatspi.Registry.registerEventListener(heard, "object:property-change:accessible-name")
    # An X server that resets whenever its last client leaves would refuse connections
    # now and then: one client stays for the whole run.
    keeper = subprocess.Popen(["xdotool", "search", "--sync", "--name", "qv3-atspi-no-such-window"],
                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    failed = total = 0
    try:
        for language, texts in TEXTS.items():
            for case in (prompt_and_progress, two_field_prompt):
                total += 1
                started = time.monotonic()
                with tempfile.TemporaryDirectory(prefix="qv3-atspi-") as root:
                    d = Desktop(root)
                    # The bridge speaks on the bus without waiting for a screen reader to ask.
                    d.env.update(LANG=texts["lang"], QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1",
                                 DBUS_SESSION_BUS_ADDRESS=os.environ["DBUS_SESSION_BUS_ADDRESS"])
                    try:
                        case(d, texts)
                        print("ok      %-30s %s %5.1f s" % (case.__name__, language, time.monotonic() - started))
                    except Exception:  # noqa: BLE001 - every failure is reported the same way
                        failed += 1
                        print("FAILED  %s %s\n%s" % (case.__name__, language, traceback.format_exc()))
                    finally:
                        for proc in e2e.RUNNING:
                            if proc.poll() is None:
                                proc.kill()
                                proc.wait()
                        e2e.RUNNING.clear()
    finally:
        keeper.kill()
        keeper.wait()
    print("%d passed, %d failed" % (total - failed, failed))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
