#!/usr/bin/env python3
"""Runs the real tarvessin-viewer as a user would, each case in private XDG folders and a
private HOME (the real user's are never touched): its windows are found by caption on the
X display and answered with xdotool (the keys a user presses); what it says with
--verbose, the files it leaves and what the associated program was handed are checked.
Document types are associated, in the private folders, with fake_program.py.

usage: viewer_e2e_test.py --viewer PROGRAM --qv3 PROGRAM [--only NAME...]
       viewer_e2e_test.py --viewer PROGRAM --qv3 PROGRAM --screenshots DIR

Without an X display it runs itself under xvfb-run; exit status 77 (skipped) when
there is neither, or xdotool is missing. With --screenshots no test runs: the password
prompt, the progress window, the encryption road's prompt, an error box and the view
road's three questions are captured into DIR as linux-password-prompt.png,
linux-progress.png, linux-new-password-prompt.png, linux-error-box.png,
linux-dangerous-type.png, linux-changed-file.png and linux-still-in-use.png, and in
English (LANG=en_US.UTF-8) as the same names with "-en".
"""

import argparse
import hashlib
import json
import os
import shutil
import stat
import signal
import subprocess
import sys
import tempfile
import time
import traceback
import urllib.parse

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
import folder_tree  # noqa: E402

CAPTION_VIEWER = "타르베신 외부암호파일뷰어"      # the run's own boxes
CAPTION_PROMPT = "타르베신 외부암호파일 뷰어"     # password prompt
CAPTION_ERROR = "타르베신 외부암호화파일 뷰어"    # every error box of a job
CAPTION_PROGRESS = "파일 처리중"
MIME_TYPE = "application/x-tarvessin-container"
DESKTOP_ID = "tarvessin-viewer.desktop"
PASSWORD = "abcdefghijk"
HERE = os.path.dirname(os.path.abspath(__file__))

A = None
TESTS = []
RUNNING = []  # every viewer started, ended after each case whatever happened


def test(fn):
    TESTS.append(fn)
    return fn


class Failure(Exception):
    pass


def check(condition, what):
    if not condition:
        raise Failure(what)


def sha256(data):
    return hashlib.sha256(data).hexdigest()


class Desktop:
    """Private XDG folders and HOME, the environment of every program of one case, and
    the associations of the plaintexts' types with fake_program.py."""

    def __init__(self, root):
        self.root = root
        self.home = os.path.join(root, "home")
        self.data = os.path.join(root, "data")
        self.config = os.path.join(root, "config")
        self.runtime = os.path.join(root, "runtime")
        self.cache = os.path.join(root, "cache")
        self.share = os.path.join(root, "share")  # the data folders: the system's MIME database only
        self.files = os.path.join(root, "files")
        self.log = os.path.join(root, "program.log")
        for d in (self.home, self.data, self.config, self.runtime, self.cache, self.share, self.files):
            os.makedirs(d)
        os.chmod(self.runtime, 0o700)
        os.symlink("/usr/share/mime", os.path.join(self.share, "mime"))
        self.working = os.path.join(self.runtime, "QV3V")
        self.env = {
            "PATH": os.environ.get("PATH", "/usr/bin:/bin"),
            "HOME": self.home,
            "XDG_DATA_HOME": self.data,
            "XDG_CONFIG_HOME": self.config,
            "XDG_CONFIG_DIRS": os.path.join(root, "etc-xdg"),
            "XDG_DATA_DIRS": self.share,
            "XDG_RUNTIME_DIR": self.runtime,
            "XDG_CACHE_HOME": self.cache,
            "LANG": "C.UTF-8",
            "BROWSER": "false",  # xdg-open's last resort fails rather than finding a browser
            "QT_QPA_PLATFORM": "xcb",
        }
        for name in ("DISPLAY", "XAUTHORITY", "ASAN_OPTIONS", "LSAN_OPTIONS", "UBSAN_OPTIONS"):
            if name in os.environ:
                self.env[name] = os.environ[name]

    def associate(self, mime_type, mode):
        """Makes fake_program.py in mode the default application for mime_type."""
        name = "qv3-fake-%s.desktop" % mode
        os.makedirs(os.path.join(self.data, "applications"), exist_ok=True)
        with open(os.path.join(self.data, "applications", name), "w") as f:
            f.write("[Desktop Entry]\nType=Application\nName=Fake %s\nExec=%s %s %s %s %%F\nMimeType=%s;\n"
                    % (mode, sys.executable, os.path.join(HERE, "fake_program.py"), mode, self.log, mime_type))
        with open(os.path.join(self.config, "mimeapps.list"), "a") as f:
            f.write("[Default Applications]\n%s=%s;\n" % (mime_type, name))

    def container(self, name, content, password=PASSWORD):
        """A container of content named name + ".aqv3" in the files folder."""
        plain = os.path.join(self.files, name)
        with open(plain, "wb") as f:
            f.write(content)
        pw = os.path.join(self.root, "password")
        with open(pw, "w") as f:
            f.write(password)
        subprocess.run([A.qv3, "encrypt", "--delete-source", "--password-file", pw, plain], check=True,
                       env=self.env, stdout=subprocess.DEVNULL)
        return plain + ".aqv3"

    def recorded_plaintext(self, name, content=b"x"):
        """A plaintext a dead run left in the working folder: read-only, recorded in its
        lock file (as the viewer records it), which no one holds."""
        path = os.path.join(self.working, name)
        with open(path, "wb") as f:
            f.write(content)
        os.chmod(path, 0o444)
        st = os.stat(path)
        with open(path + ".qv3lock", "w") as f:
            f.write("tarvessin-viewer plaintext 1\n%s\n%d %d %d %d\n%s\n" % (
                name, st.st_dev, st.st_ino, st.st_size, st.st_mtime_ns, os.path.join(self.files, name + ".aqv3")))
        return path

    def program_log(self):
        if not os.path.exists(self.log):
            return []
        with open(self.log) as f:
            return [json.loads(line) for line in f]

    def snapshot(self, *folders):
        tree = {}
        for top in folders:
            for dirpath, dirnames, filenames in os.walk(top):
                for n in dirnames:
                    tree[os.path.join(dirpath, n)] = "<folder>"
                for n in filenames:
                    p = os.path.join(dirpath, n)
                    with open(p, "rb") as f:
                        tree[p] = f.read()
        return tree


class Viewer:
    """One run of the viewer, with --verbose."""

    def __init__(self, desktop, *args):
        self.desktop = desktop
        self.args = args
        self.retries = 3
        self.start()

    def start(self):
        self.proc = subprocess.Popen([A.viewer, "--verbose", *self.args], env=self.desktop.env,
                                     stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
        self.said = None
        RUNNING.append(self.proc)

    def window(self, caption, timeout=20):
        """The id of the viewer's visible window with this caption."""
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            found = self.windows().get(caption)
            if found:
                return found
            if self.proc.poll() is not None:
                said = self.finish()
                # An X server that resets when its clients come and go refuses a connection
                # now and then: the program never started, so it is started again.
                if "could not connect to display" in said and self.retries > 0:
                    self.retries -= 1
                    time.sleep(0.5)
                    self.start()
                    continue
                raise Failure("the viewer ended before showing \"%s\":\n%s" % (caption, said))
            time.sleep(0.05)
        raise Failure("no window \"%s\" within %d s" % (caption, timeout))

    def windows(self):
        """The viewer's visible windows by caption. Captions are compared here: xdotool's
        own name search does not take Korean patterns reliably."""
        ids = subprocess.run(["xdotool", "search", "--onlyvisible", "--pid", str(self.proc.pid)],
                             capture_output=True, text=True).stdout.split()
        named = {}
        for w in ids:
            name = subprocess.run(["xdotool", "getwindowname", w], capture_output=True, text=True).stdout
            named.setdefault(name.rstrip("\n"), w)
        return named

    def keys(self, caption, *keys, text=None):
        """Focuses the window and presses keys (typing text first)."""
        w = self.window(caption)
        subprocess.run(["xdotool", "windowfocus", "--sync", w], check=True)
        time.sleep(0.2)  # the toolkit takes the focus in its own time
        if text is not None:
            type_text(text)
        if keys:
            subprocess.run(["xdotool", "key", *keys], check=True)

    def finish(self, timeout=60):
        """Waits for the end of the run; returns what it said on standard error."""
        if self.said is None:
            try:
                _, err = self.proc.communicate(timeout=timeout)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                _, err = self.proc.communicate()
                raise Failure("the viewer did not end within %d s:\n%s" % (timeout, err.decode(errors="replace")))
            self.said = err.decode(errors="replace")
        return self.said


def type_text(text):
    """Types text into the focused field. Text beyond ASCII is pasted, as an input method
    would enter it: the X server here has no Hangul keys, and keys xdotool maps on the fly
    do not reach Qt."""
    if text.isascii():
        subprocess.run(["xdotool", "type", "--delay", "15", text], check=True)
        return
    # xclip stays to serve the paste: it must not hold the test's output open.
    subprocess.run(["xclip", "-selection", "clipboard", "-loops", "1"], input=text.encode(), check=True,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    subprocess.run(["xdotool", "key", "ctrl+v"], check=True)


def dismiss(v, caption):
    """Presses Return in the box until it is gone (a key pressed while the box is still
    taking the focus is lost)."""
    w = v.window(caption)
    for _ in range(20):
        focus = subprocess.run(["xdotool", "getwindowfocus"], capture_output=True, text=True).stdout.strip()
        if focus != w:
            subprocess.run(["xdotool", "windowfocus", "--sync", w], stderr=subprocess.DEVNULL)
            time.sleep(0.2)
        subprocess.run(["xdotool", "key", "Return"], check=True)
        deadline = time.monotonic() + 0.5
        while time.monotonic() < deadline:
            if v.proc.poll() is not None or v.windows().get(caption) != w:
                return
            time.sleep(0.05)
    raise Failure("the box \"%s\" did not go" % caption)


def box_said(said, caption, text):
    return ('box "%s": %s' % (caption, text)) in said


# --- the cases ---------------------------------------------------------------------------


@test
def register_then_unregister(d):
    before = d.snapshot(d.data, d.config)
    for switch in ("/RegServer", "/regserver", "--register"):
        r = subprocess.run([A.viewer, switch], env=d.env, capture_output=True, text=True, timeout=60)
        check(r.returncode == 0 and r.stdout == "" and r.stderr == "", "%s reports nothing: %r" % (switch, r))
    query = subprocess.run(["xdg-mime", "query", "default", MIME_TYPE], env=d.env, capture_output=True, text=True)
    check(query.stdout.strip() == DESKTOP_ID, "xdg-mime names our desktop entry: %r" % query.stdout)
    with open(os.path.join(d.data, "applications", DESKTOP_ID)) as f:
        entry = f.read()
    check("Exec=%s -- %%F\n" % A.viewer in entry, "the entry starts this program on the files:\n" + entry)
    check(os.path.exists(os.path.join(d.data, "icons/hicolor/32x32/apps/tarvessin-viewer.png")), "the icon")
    with open(os.path.join(d.data, "mime/globs2")) as f:
        check("%s:*.aqv3" % MIME_TYPE in f.read(), "the MIME database knows *.aqv3")
    # The file managers' menus: Dolphin's service menus (executable, or Dolphin ignores
    # them), Nemo's actions and Nautilus's scripts, each starting this program.
    for menu in ("kio/servicemenus/tarvessin-viewer-encrypt.desktop",
                 "kio/servicemenus/tarvessin-viewer-decrypt-here.desktop",
                 "nemo/actions/tarvessin-viewer-encrypt.nemo_action",
                 "nemo/actions/tarvessin-viewer-decrypt-here.nemo_action",
                 "nautilus/scripts/암호 파일로 만들기…", "nautilus/scripts/여기에 풀기"):
        path = os.path.join(d.data, menu)
        check(os.path.exists(path), menu + " is written")
        with open(path) as f:
            check(A.viewer in f.read(), menu + " starts this program")
        check(not menu.startswith(("kio", "nautilus")) or os.stat(path).st_mode & stat.S_IXUSR,
              menu + " is executable")
    r = subprocess.run([A.viewer, "--verbose", "/UnRegServer"], env=d.env, capture_output=True, text=True, timeout=60)
    check(r.returncode == 0 and "removed" in r.stderr, "--verbose says what was removed: %r" % r.stderr)
    check(d.snapshot(d.data, d.config) == before, "the data and config homes are as they were")


@test
def one_container_is_opened_by_its_program_then_removed(d):
    d.associate("text/plain", "view")
    content = "한글 텍스트\n".encode() * 500
    container = d.container("welcome.txt", content)
    os.makedirs(d.working, mode=0o700)
    d.recorded_plaintext("left-by-a-dead-run.txt")
    theirs = os.path.join(d.working, "saved-by-a-program.txt")
    with open(theirs, "w") as f:
        f.write("the user's")
    # A missing name beside it is named and left out before the password is asked for,
    # after the notice of what the clean-up left alone.
    v = Viewer(d, os.path.join(d.files, "missing.aqv3"), container)
    dismiss(v, CAPTION_VIEWER)
    dismiss(v, CAPTION_VIEWER)
    v.keys(CAPTION_PROMPT, "Return", text=PASSWORD)
    said = v.finish()
    check('notice "%s"' % CAPTION_VIEWER in said and "saved-by-a-program.txt" in said
          and "left-by-a-dead-run" not in said.split("notice")[1].split("\n")[0], "the notice:\n" + said)
    check(box_said(said, CAPTION_VIEWER, "다음 파일은 열 수 없어 빼고 엽니다."), "the name left out:\n" + said)
    seen = d.program_log()
    check(len(seen) == 1 and seen[0].get("sha256") == sha256(content), "the program read the plaintext: %r" % seen)
    check(seen[0]["file"] == os.path.join(d.working, "welcome.txt"), "from the working folder: %r" % seen)
    check(seen[0]["mode"] & 0o222 == 0, "read-only: %o" % seen[0]["mode"])
    check("without opening" not in said, "the road of a program that opened it and ended:\n" + said)
    check(sorted(os.listdir(d.working)) == ["reported.qv3list", "saved-by-a-program.txt"],
          "the plaintext and the dead run's are gone, the user's file kept: %r" % os.listdir(d.working))
    check(os.path.exists(container), "the container stays")
    check(v.proc.returncode == 1, "a name was left out: status %d" % v.proc.returncode)
    v = Viewer(d)  # the next start says nothing of what it reported before
    dismiss(v, CAPTION_VIEWER)
    check(box_said(v.finish(), CAPTION_VIEWER, "입력 파일이 없습니다."), "no second notice")


@test
def a_program_that_hands_the_file_over_takes_the_no_process_road(d):
    d.associate("text/csv", "hand-off")
    content = b"a,b\n1,2\n" * 1000
    container = d.container("table.csv", content)
    v = Viewer(d, container)
    v.keys(CAPTION_PROMPT, "Return", text=PASSWORD)
    said = v.finish()
    seen = d.program_log()
    check("ended without opening the file" in said and "a program opened the file" in said,
          "the road without a process:\n" + said)
    check(len(seen) == 1 and seen[0].get("sha256") == sha256(content),
          "the instance opened the file after its launcher had ended: %r\n%s" % (seen, said))
    check(os.listdir(d.working) == [], "then it was removed: %r" % os.listdir(d.working))


@test
def no_associated_program_shows_the_box_after_the_file_is_gone(d):
    container = d.container("data.qv3-unknown", os.urandom(3000))
    v = Viewer(d, container)
    v.keys(CAPTION_PROMPT, "Return", text=PASSWORD)
    v.window(CAPTION_VIEWER)
    left = [n for n in os.listdir(d.working) if not n.endswith(".qv3lock")]  # the run's own mark
    check(left == [], "the plaintext is gone before the box: %r" % left)
    dismiss(v, CAPTION_VIEWER)
    said = v.finish()
    check(box_said(said, CAPTION_VIEWER, "연결된 프로그램이 없습니다."), "the box's text:\n" + said)
    check(d.program_log() == [], "nothing was opened")
    check(v.proc.returncode == 1, "a failure was shown: status %d" % v.proc.returncode)


@test
def two_containers_end_up_beside_themselves_read_only(d):
    d.associate("text/plain", "view")
    one, two = b"first\n" * 100, b"second\n" * 100
    c1, c2 = d.container("one.txt", one), d.container("two.txt", two)
    v = Viewer(d, c1, c2)
    v.keys(CAPTION_PROMPT, "Return", text=PASSWORD)
    v.finish()
    for name, content in (("one.txt", one), ("two.txt", two)):
        path = os.path.join(d.files, name)
        with open(path, "rb") as f:
            check(f.read() == content, name + " beside its container")
        check(not os.stat(path).st_mode & (stat.S_IWUSR | stat.S_IWGRP | stat.S_IWOTH), name + " is read-only")
    check(d.program_log() == [], "nothing was opened")
    check(not os.path.exists(d.working) or os.listdir(d.working) == [], "nothing in the working folder")
    check(v.proc.returncode == 0, "both decrypted: status %d" % v.proc.returncode)


@test
def korean_typed_opens_every_form_and_the_empty_password_asks_nothing(d):
    # Typed as Korean text: a container keyed with its code page 949 bytes (Korean Windows)
    # and one keyed with the first 9 bytes of its UTF-8 (earlier Linux builds) open in one
    # run, in either order; a new container is keyed in code page 949.
    d.associate("text/plain", "view")
    typed = "가나다라마"
    pw = os.path.join(d.root, "password")
    keys = {"k.txt": typed.encode("cp949"), "u.txt": typed.encode("utf-8")[:9], "e.txt": b""}
    for name, key in keys.items():
        with open(os.path.join(d.files, name), "wb") as f:
            f.write(name.encode() * 100)
        with open(pw, "wb") as f:
            f.write(key)
        subprocess.run([A.qv3, "encrypt", "--delete-source", "--password-file", pw] + (["--empty-password"] if not key else [])
                       + [os.path.join(d.files, name)], check=True, env=d.env, stdout=subprocess.DEVNULL)
    for order in (["k.txt", "u.txt"], ["u.txt", "k.txt"]):
        v = Viewer(d, "--decrypt-here", *[os.path.join(d.files, n + ".aqv3") for n in order])
        v.keys(CAPTION_PROMPT, "Return", text=typed)
        dismiss(v, CAPTION_VIEWER)  # what was decrypted is said
        v.finish()
        check(v.proc.returncode == 0, "%s opened by one typing: status %d" % (order, v.proc.returncode))
        for name in order:
            path = os.path.join(d.files, name)
            with open(path, "rb") as f:
                check(f.read() == name.encode() * 100, path)
            os.remove(path)
    v = Viewer(d, os.path.join(d.files, "e.txt.bqv3"))
    said = v.finish()
    seen = d.program_log()
    check(v.proc.returncode == 0 and len(seen) == 1 and "prompt" not in said.lower(),
          "the empty password's container opened without a prompt:\n" + said)

    with open(os.path.join(d.files, "n.txt"), "wb") as f:
        f.write(b"new")
    v = Viewer(d, "--encrypt", os.path.join(d.files, "n.txt"))
    v.keys(CAPTION_PROMPT, text=typed)
    subprocess.run(["xdotool", "key", "Tab"], check=True)
    type_text(typed)
    subprocess.run(["xdotool", "key", "Return"], check=True)
    dismiss(v, CAPTION_VIEWER)  # what was made is said
    v.finish()
    with open(pw, "wb") as f:
        f.write(typed.encode("cp949"))
    out = os.path.join(d.root, "n.out")
    r = subprocess.run([A.qv3, "decrypt", "--password-file", pw, "-o", out, os.path.join(d.files, "n.txt.aqv3")],
                       env=d.env, capture_output=True)
    check(r.returncode == 0, "keyed with the code page 949 bytes: %r" % r.stderr)


@test
def a_hang_up_or_terminate_is_a_cancel(d):
    # Decrypt here of a large container: a closed session's SIGHUP or SIGTERM while it is
    # being written stops the job as Cancel does, leaving no partial plaintext.
    container = d.container("big.dat", b"\0" * (96 << 20))
    partial = os.path.join(d.files, "big.dat.qv3part")
    d.env["QV3_CPU"] = "portable"  # slow enough to be caught at work, sanitizers or not
    for sig in (signal.SIGHUP, signal.SIGTERM):
        v = Viewer(d, "--decrypt-here", container)
        v.keys(CAPTION_PROMPT, "Return", text=PASSWORD)
        deadline = time.monotonic() + 30
        while not os.path.exists(partial) and v.proc.poll() is None and time.monotonic() < deadline:
            time.sleep(0.002)
        check(v.proc.poll() is None and os.path.exists(partial), "%s: the decryption was not caught at work" % sig.name)
        v.proc.send_signal(sig)
        v.finish()
        check(os.listdir(d.files) == ["big.dat.aqv3"],
              "%s left %s" % (sig.name, sorted(os.listdir(d.files))))
    del d.env["QV3_CPU"]


@test
def encrypt_three_files_from_the_file_manager(d):
    # A Korean name, one whose container is already beside it, one that cannot be read:
    # a mismatched confirmation is refused, then two containers and one failure listed.
    contents = {"분기 보고서.txt": "한글\n".encode() * 3000, "b.txt": b"bee\n" * 500}
    for name, content in contents.items():
        with open(os.path.join(d.files, name), "wb") as f:
            f.write(content)
    theirs = b"an older container, kept"
    with open(os.path.join(d.files, "b.txt.aqv3"), "wb") as f:
        f.write(theirs)
    unreadable = os.path.join(d.files, "locked.txt")
    if os.geteuid() == 0:
        os.symlink("locked.txt", unreadable)  # root reads any file; no one opens this name
    else:
        with open(unreadable, "wb") as f:
            f.write(b"secret")
        os.chmod(unreadable, 0)
    # Given as Nemo's actions give them: file:// URIs, read back with --uris.
    uris = ["file://" + urllib.parse.quote(os.fsencode(p)) for p in [os.path.join(d.files, n) for n in contents]
            + [unreadable]]
    v = Viewer(d, "--encrypt", "--uris", "--", *uris)
    v.keys(CAPTION_PROMPT, "Tab", "Return", text=PASSWORD)  # the confirmation left empty
    dismiss(v, CAPTION_VIEWER)  # the two entries differ: said, and asked again
    check(not any(n.endswith(".aqv3") and n != "b.txt.aqv3" for n in os.listdir(d.files)),
          "a container was made before the passwords agreed")
    v.keys(CAPTION_PROMPT, text=PASSWORD)
    subprocess.run(["xdotool", "key", "Tab"], check=True)
    subprocess.run(["xdotool", "type", "--delay", "15", PASSWORD], check=True)
    subprocess.run(["xdotool", "key", "Return"], check=True)
    v.window(CAPTION_VIEWER, timeout=60)
    dismiss(v, CAPTION_VIEWER)
    said = v.finish()
    listed = said[said.find("다음 파일은 암호로 만들지 못했습니다."):]
    check(box_said(said, CAPTION_VIEWER, "다음 파일은 암호로 만들지 못했습니다.\r\n\r\n") and unreadable in listed
          and "보고서" not in listed and "b.txt" not in listed, "one failure listed:\n" + said)
    check(v.proc.returncode == 1, "a failure was shown: status %d" % v.proc.returncode)
    made = {"분기 보고서.txt": "분기 보고서.txt.aqv3", "b.txt": "b (2).txt.aqv3"}
    with open(os.path.join(d.files, "b.txt.aqv3"), "rb") as f:
        check(f.read() == theirs, "the older container was replaced")
    pw = os.path.join(d.root, "password")
    with open(pw, "w") as f:
        f.write(PASSWORD)
    for name, container in made.items():
        out = os.path.join(d.root, name)
        r = subprocess.run([A.qv3, "decrypt", "--password-file", pw, "-o", out, os.path.join(d.files, container)],
                           env=d.env, capture_output=True, text=True)
        with open(out, "rb") as f:
            check(r.returncode == 0 and f.read() == contents[name], "%s opens to its bytes: %r" % (container, r))
        with open(os.path.join(d.files, name), "rb") as f:
            check(f.read() == contents[name], name + " is untouched")

    # Decrypt here: both beside themselves, read-only, nothing opened.
    for name in made:
        os.remove(os.path.join(d.files, name))
    v = Viewer(d, "--decrypt-here", *[os.path.join(d.files, c) for c in made.values()])
    v.keys(CAPTION_PROMPT, "Return", text=PASSWORD)
    v.window(CAPTION_VIEWER, timeout=60)
    dismiss(v, CAPTION_VIEWER)  # what was decrypted is said
    said = v.finish()
    check('notice "%s": 암호 파일 2개를 옆에 풀었습니다:' % CAPTION_VIEWER in said, "the notice:\n" + said)
    check(v.proc.returncode == 0, "both decrypted: status %d" % v.proc.returncode)
    for name, container in made.items():
        path = os.path.join(d.files, container[:-5])
        with open(path, "rb") as f:
            check(f.read() == contents[name], path + " beside its container")
        check(not os.stat(path).st_mode & (stat.S_IWUSR | stat.S_IWGRP | stat.S_IWOTH), path + " is read-only")
    check(d.program_log() == [], "nothing was opened")


@test
def whole_folders_from_the_file_manager(d):
    """The shared tree (tests/folder_tree.py) given as a folder to Encrypt with password…,
    twice, then to Decrypt here: one prompt a run, the unreadable file the one failure of
    the first (in one box at the end), every container refused and nothing replaced by
    the second, every plaintext back by Decrypt here; nothing outside the tree, behind a
    link, or in the FIFO touched, and the run never waits on the FIFO."""
    tree = folder_tree.Tree(d.files)
    # Root reads any file: every open of this one fails, whoever runs the viewer.
    d.env.update(LD_PRELOAD=A.fail_io, QV3_FAIL_PATH=tree.unreadable, QV3_FAIL_CALL="open", QV3_FAIL_ERRNO="13",
                 ASAN_OPTIONS=":".join(filter(None, [d.env.get("ASAN_OPTIONS"), "verify_asan_link_order=0"])))
    before = tree.snapshot()
    encrypted = tree.encrypted(before)
    runs = [
        # (verb, the failures listed: paths in the box, exit status, what the tree holds after)
        ("--encrypt", [tree.unreadable], 1, lambda: encrypted),
        ("--encrypt", [c for c in tree.containers()] + [tree.unreadable], 1, lambda: encrypted),
        ("--decrypt-here", [os.path.join(tree.root, folder_tree.CONTAINER)], 1, None),
    ]
    for verb, failed, code, expected in runs:
        if verb == "--decrypt-here":
            tree.remove_plaintexts()
            gone = tree.snapshot()
            expected = lambda: tree.decrypted(gone)  # noqa: E731
        v = Viewer(d, verb, tree.root)
        if verb == "--encrypt":
            v.keys(CAPTION_PROMPT, text=PASSWORD)
            subprocess.run(["xdotool", "key", "Tab"], check=True)
            subprocess.run(["xdotool", "type", "--delay", "15", PASSWORD], check=True)
            subprocess.run(["xdotool", "key", "Return"], check=True)
        else:
            v.keys(CAPTION_PROMPT, "Return", text=PASSWORD)
        v.window(CAPTION_VIEWER, timeout=60)
        dismiss(v, CAPTION_VIEWER)
        said = v.finish()
        boxes = [line for line in said.splitlines() if line.startswith('tarvessin-viewer: box "%s"' % CAPTION_VIEWER)]
        check(len(boxes) == 1, "%s: one box at the end:\n%s" % (verb, said))
        listed = said[said.find(boxes[0]):]
        for path in failed:
            check(path in listed, "%s: %s listed among the failures:\n%s" % (verb, path, said))
        for name in tree.plain:
            path = os.path.join(tree.root, name)
            check(path in failed or path + ".aqv3" in failed or path not in listed.replace(path + ".aqv3", ""),
                  "%s: %s listed though it did not fail" % (verb, name))
        check(v.proc.returncode == code, "%s: exit status %d, not %d" % (verb, v.proc.returncode, code))
        problems = tree.differences(tree.snapshot(), expected())
        check(not problems, "%s: the tree\n%s" % (verb, "\n".join(problems)))
    check(d.program_log() == [], "nothing was opened")


@test
def speaks_english_under_an_english_locale(d):
    # Every window and text in English, the name "TarvessinViewer" for every caption; the
    # system's own text stays the system's.
    d.env["LANG"] = "en_US.UTF-8"
    container = d.container("secret.txt", b"x" * 100)
    v = Viewer(d, container)
    v.keys("TarvessinViewer", "Return", text="wrong")
    v.window("TarvessinViewer")
    dismiss(v, "TarvessinViewer")
    said = v.finish()
    check(box_said(said, "TarvessinViewer", "The file cannot be opened:\r\n" + container +
                   "\r\nThe file was changed, or the password is wrong."), "the job's box in English:\n" + said)
    check(not any("\uac00" <= c <= "\ud7a3" for c in said), "no Hangul:\n" + said)
    v = Viewer(d)
    dismiss(v, "TarvessinViewer")
    check(box_said(v.finish(), "TarvessinViewer", "No input files."), "the run's own box in English")
    r = subprocess.run([A.viewer, "--help"], env=d.env, capture_output=True, text=True, timeout=60)
    check(r.returncode == 0 and "Usage: tarvessin-viewer" in r.stdout and
          not any("\uac00" <= c <= "\ud7a3" for c in r.stdout), "--help in English: %r" % r.stdout[:200])


@test
def no_input_shows_its_box(d):
    # No name: the box of no input; a name that cannot be opened: named in the box, a
    # usage error.
    missing = os.path.join(d.files, "missing.aqv3")
    for args, text, status in (((), "입력 파일이 없습니다.", 1),
                               ((missing,), "다음 파일은 풀지 못했습니다.\r\n\r\n입력 파일이 존재하지 않습니다.\r\n" +
                                missing, 2)):
        v = Viewer(d, *args)
        dismiss(v, CAPTION_VIEWER)
        said = v.finish()
        check(box_said(said, CAPTION_VIEWER, text), "the box:\n" + said)
        check(v.proc.returncode == status, "status %d, not %d:\n%s" % (status, v.proc.returncode, said))
    # Without a display: one line that says so, not the toolkit's abort.
    env = {k: v for k, v in d.env.items() if k not in ("DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM")}
    r = subprocess.run([A.viewer, os.path.join(d.files, "missing.aqv3")], env=env, capture_output=True,
                       text=True, timeout=60)
    check(r.returncode == 1 and r.stderr.count("\n") == 1 and "DISPLAY" in r.stderr,
          "no display: status %d, %r" % (r.returncode, r.stderr))


@test
def escape_on_the_prompt_decrypts_nothing(d):
    d.associate("text/plain", "view")
    container = d.container("secret.txt", b"x" * 100)
    v = Viewer(d, container)
    v.keys(CAPTION_PROMPT, "Escape")
    said = v.finish()
    check("box" not in said, "no box:\n" + said)
    check(not os.path.exists(d.working) or os.listdir(d.working) == [], "nothing decrypted")
    check(d.program_log() == [], "nothing opened")
    check(v.proc.returncode == 1, "the user cancelled: status %d" % v.proc.returncode)


@test
def a_wrong_password_shows_the_jobs_box(d):
    d.associate("text/plain", "view")
    container = d.container("secret.txt", b"x" * 100)
    v = Viewer(d, container)
    v.keys(CAPTION_PROMPT, "Return", text="wrong")
    v.window(CAPTION_ERROR)
    dismiss(v, CAPTION_ERROR)
    said = v.finish()
    check(box_said(said, CAPTION_ERROR, "파일에 오류가 있습니다."), "the job's box:\n" + said)
    check("암호가 틀립니다" in said, "says the password may be wrong:\n" + said)
    check(d.program_log() == [], "nothing opened")
    check(os.listdir(d.working) == [], "nothing left")
    check(v.proc.returncode == 1, "a failure was shown: status %d" % v.proc.returncode)


def decrypted(d, container):
    pw = os.path.join(d.root, "password")
    with open(pw, "w") as f:
        f.write(PASSWORD)
    out = os.path.join(d.root, "check-" + os.path.basename(container)[:-5])
    r = subprocess.run([A.qv3, "decrypt", "--overwrite", "--password-file", pw, "-o", out, container], env=d.env,
                       capture_output=True)
    check(r.returncode == 0, "qv3 opens %s: %r" % (container, r))
    with open(out, "rb") as f:
        data = f.read()
    os.chmod(out, 0o600)
    os.remove(out)
    return data


@test
def an_edited_plaintext_is_kept_beside_or_saved_back_as_the_user_chooses(d):
    d.associate("text/plain", "edit")
    content = b"the original\n" * 100
    container = d.container("notes.txt", content)
    # Alt+K: kept beside the container, the container untouched.
    v = Viewer(d, container)
    v.keys(CAPTION_PROMPT, "Return", text=PASSWORD)
    v.keys(CAPTION_VIEWER, "alt+k")
    said = v.finish()
    check("was changed" in said and "answer: keep beside" in said, "asked:\n" + said)
    with open(os.path.join(d.files, "notes.txt"), "rb") as f:
        check(f.read() == b"edited by the fake program\n", "the edit beside the container")
    check(decrypted(d, container) == content, "the container is as it was")
    check(sorted(os.listdir(d.working)) == [], "nothing left in the working folder: %r" % os.listdir(d.working))
    # Alt+S: saved into the container, opened again by qv3 with the same password.
    v = Viewer(d, container)
    v.keys(CAPTION_PROMPT, "Return", text=PASSWORD)
    v.keys(CAPTION_VIEWER, "alt+s")
    said = v.finish()
    check("answer: save back" in said and v.proc.returncode == 0, "saved:\n" + said)
    check(decrypted(d, container) == b"edited by the fake program\n", "the container holds the edit")
    check(os.listdir(d.working) == [], "nothing left in the working folder: %r" % os.listdir(d.working))


@test
def a_desktop_entry_is_asked_about_and_not_opened_by_default(d):
    d.associate("application/x-desktop", "view")
    entry = b"[Desktop Entry]\nType=Application\nName=Invoice\nExec=sh -c 'touch /tmp/qv3-pwned'\n"
    container = d.container("invoice.desktop", entry)
    v = Viewer(d, container)
    v.keys(CAPTION_PROMPT, "Return", text=PASSWORD)
    v.keys(CAPTION_VIEWER, "Return")  # the default button: do not open
    said = v.finish()
    check("runs code when opened" in said and "answer: do not open" in said, "asked:\n" + said)
    check(d.program_log() == [], "it was opened: %r" % d.program_log())
    check(os.listdir(d.working) == [], "it was not removed: %r" % os.listdir(d.working))
    check(v.proc.returncode == 1, "not opened: status %d" % v.proc.returncode)


@test
def a_file_still_in_use_is_said_and_deleted_when_asked(d):
    d.associate("text/plain", "hold")
    container = d.container("held.txt", b"held\n" * 100)
    v = Viewer(d, container)
    v.keys(CAPTION_PROMPT, "Return", text=PASSWORD)
    v.keys(CAPTION_VIEWER, "alt+d")  # after about ten seconds
    said = v.finish()
    check("is still in use" in said and "answer: delete now" in said, "the notice:\n" + said)
    check(os.listdir(d.working) == [], "it was not removed: %r" % os.listdir(d.working))
    check(v.proc.returncode == 0, "status %d" % v.proc.returncode)
    for entry in d.program_log():
        try:
            os.kill(entry["pid"], 9)
        except OSError:
            pass


@test
def a_linked_working_folder_is_refused(d):
    documents = os.path.join(d.home, "Documents")
    os.makedirs(documents)
    with open(os.path.join(documents, "thesis.docx"), "wb") as f:
        f.write(b"years of work")
    os.symlink(documents, d.working)
    container = d.container("a.txt", b"a")
    v = Viewer(d, container)
    v.window(CAPTION_VIEWER)
    dismiss(v, CAPTION_VIEWER)
    said = v.finish()
    check("작업 폴더를 쓸 수 없습니다" in said and d.working in said, "the refusal:\n" + said)
    check(os.listdir(documents) == ["thesis.docx"], "Documents changed: %r" % os.listdir(documents))
    check(v.proc.returncode == 1, "status %d" % v.proc.returncode)


# --- screenshots -------------------------------------------------------------------------


def capture(window, path):
    """The window's area of the screen, as the user sees it."""
    geometry = subprocess.run(["xdotool", "getwindowgeometry", "--shell", window], capture_output=True,
                              text=True, check=True).stdout
    g = dict(line.split("=", 1) for line in geometry.split())
    margin = 12
    crop = "%dx%d+%d+%d" % (int(g["WIDTH"]) + 2 * margin, int(g["HEIGHT"]) + 2 * margin,
                            max(0, int(g["X"]) - margin), max(0, int(g["Y"]) - margin))
    subprocess.run(["import", "-window", "root", "-crop", crop, "+repage", path], check=True)


def screenshots(d, out, english=False):
    """The pictures in Korean, or in English (LANG=en_US.UTF-8, named with "-en")."""
    os.makedirs(out, exist_ok=True)
    CAPTION_PROMPT, CAPTION_PROGRESS, CAPTION_VIEWER, CAPTION_ERROR = (
        ("TarvessinViewer", "Processing files", "TarvessinViewer", "TarvessinViewer") if english else
        (globals()["CAPTION_PROMPT"], globals()["CAPTION_PROGRESS"], globals()["CAPTION_VIEWER"],
         globals()["CAPTION_ERROR"]))
    suffix = "-en" if english else ""
    if english:
        d.env["LANG"] = "en_US.UTF-8"
    # Big enough to be caught in progress; the prompt shows the masked password.
    big = d.container("Product video.mp4" if english else "제품 소개 영상.mp4", os.urandom(1 << 20) * 300)
    v = Viewer(d, big)
    w = v.window(CAPTION_PROMPT)
    subprocess.run(["xdotool", "windowfocus", "--sync", w], check=True)
    subprocess.run(["xdotool", "type", "--delay", "15", PASSWORD], check=True)
    time.sleep(0.3)
    capture(w, os.path.join(out, "linux-password-prompt%s.png" % suffix))
    subprocess.run(["xdotool", "key", "Return"], check=True)
    w = v.window(CAPTION_PROGRESS, timeout=60)
    time.sleep(0.15)
    capture(w, os.path.join(out, "linux-progress%s.png" % suffix))
    # No program is associated with the video here: the run ends with that box.
    dismiss(v, CAPTION_VIEWER)
    v.finish(timeout=120)
    # The encryption road's prompt, both fields typed.
    plain = os.path.join(d.files, "Quarterly report.docx" if english else "분기 실적 보고서.docx")
    with open(plain, "wb") as f:
        f.write(b"x" * 1000)
    v = Viewer(d, "--encrypt", plain)
    w = v.window(CAPTION_PROMPT)
    subprocess.run(["xdotool", "windowfocus", "--sync", w], check=True)
    time.sleep(0.2)
    subprocess.run(["xdotool", "type", "--delay", "15", "abcdefgh"], check=True)
    subprocess.run(["xdotool", "key", "Tab"], check=True)
    subprocess.run(["xdotool", "type", "--delay", "15", "abcdefgh"], check=True)
    time.sleep(0.3)
    capture(w, os.path.join(out, "linux-new-password-prompt%s.png" % suffix))
    subprocess.run(["xdotool", "key", "Escape"], check=True)
    v.finish()
    small = d.container("Report.docx" if english else "보고서.docx", b"x" * 1000)
    v = Viewer(d, small)
    v.keys(CAPTION_PROMPT, "Return", text="wrong")
    w = v.window(CAPTION_ERROR)
    time.sleep(0.3)
    capture(w, os.path.join(out, "linux-error-box%s.png" % suffix))
    dismiss(v, CAPTION_ERROR)
    v.finish()

    # The view road's questions: a type that runs code, a changed file, a file still in use.
    entry = d.container("Invoice.desktop" if english else "청구서.desktop", b"[Desktop Entry]\nType=Application\n")
    d.associate("text/plain", "edit")
    notes = d.container("Meeting notes.txt" if english else "회의록.txt", b"notes\n" * 10)
    d.associate("text/csv", "hold")
    table = d.container("Budget.csv" if english else "예산.csv", b"a,b\n" * 10)
    for container, picture, keys in ((entry, "dangerous-type", ["Escape"]), (notes, "changed-file", ["Escape"]),
                                     (table, "still-in-use", ["alt+d"])):
        v = Viewer(d, container)
        v.keys(CAPTION_PROMPT, "Return", text=PASSWORD)
        w = v.window(CAPTION_VIEWER, timeout=40)
        time.sleep(0.4)
        capture(w, os.path.join(out, "linux-%s%s.png" % (picture, suffix)))
        v.keys(CAPTION_VIEWER, *keys)
        v.finish()
    for entry in d.program_log():
        try:
            os.kill(entry["pid"], 9)
        except OSError:
            pass
    print("screenshots in " + out)


def main():
    global A
    parser = argparse.ArgumentParser()
    parser.add_argument("--viewer", required=True)
    parser.add_argument("--qv3", required=True)
    parser.add_argument("--fail-io", dest="fail_io", required=True,
                        help="tests/faults' library that makes a file's opens fail (LD_PRELOAD)")
    parser.add_argument("--only", nargs="*")
    parser.add_argument("--screenshots")
    A = parser.parse_args()
    A.viewer, A.qv3, A.fail_io = os.path.abspath(A.viewer), os.path.abspath(A.qv3), os.path.abspath(A.fail_io)
    if not os.environ.get("DISPLAY"):
        if shutil.which("xvfb-run") and not os.environ.get("QV3_E2E_IN_XVFB"):
            os.environ["QV3_E2E_IN_XVFB"] = "1"
            os.execvp("xvfb-run", ["xvfb-run", "-a", "-s", "-screen 0 1280x1024x24 -noreset", sys.executable,
                                   os.path.abspath(__file__), *sys.argv[1:]])
        print("viewer_e2e_test.py: no X display and no xvfb-run: skipped")
        return 77
    if not shutil.which("xdotool"):
        print("viewer_e2e_test.py: xdotool is not installed: skipped")
        return 77

    # An X server started without -noreset (xvfb-run's default) resets whenever its last
    # client leaves, and refuses connections meanwhile: one client stays for the whole run.
    keeper = subprocess.Popen(["xdotool", "search", "--sync", "--name", "qv3-e2e-no-such-window"],
                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        return run()
    finally:
        keeper.kill()
        keeper.wait()


def run():
    if A.screenshots:
        for english in (False, True):
            with tempfile.TemporaryDirectory(prefix="qv3-viewer-") as root:
                screenshots(Desktop(root), os.path.abspath(A.screenshots), english)
        return 0

    failed = []
    for fn in TESTS:
        if A.only and fn.__name__ not in A.only:
            continue
        started = time.monotonic()
        with tempfile.TemporaryDirectory(prefix="qv3-viewer-") as root:
            try:
                fn(Desktop(root))
                print("ok      %-66s %5.1f s" % (fn.__name__, time.monotonic() - started))
            except Exception:
                failed.append(fn.__name__)
                print("FAILED  %s\n%s" % (fn.__name__, traceback.format_exc()))
            finally:
                for proc in RUNNING:
                    if proc.poll() is None:
                        proc.kill()
                        proc.wait()
                RUNNING.clear()
                for dirpath, _, filenames in os.walk(root):
                    os.chmod(dirpath, 0o700)
    print("%d passed, %d failed" % (len([t for t in TESTS if not A.only or t.__name__ in A.only]) - len(failed),
                                    len(failed)))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
