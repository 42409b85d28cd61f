"""The one tree every road's test of whole folders runs over (qv3 -r natively and under
Wine, the Linux viewer's --encrypt and --decrypt-here, the Windows viewer's /Encrypt and
/DecryptHere under Wine), and what each run over it must leave.

In TREE: nested folders, an empty one, a Korean name, a name with a space and quotes, a
file that already is a container (junk: skipped by encryption, a failure of decryption),
a file the test makes unreadable (one failure), a symbolic link to a file and one to a
folder, both outside the tree, and a FIFO. Beside it, OUTSIDE, what the links lead to.

Under Wine a Unix link to a file shows as the file itself and a FIFO as a file (Windows
has neither as such): the tree is made without them there, and without the double quote
no Windows name may hold; the link to a folder shows as what Windows has, a reparse point.
"""

import os
import stat

TREE = "tree"
OUTSIDE = "outside"
UNREADABLE = "unreadable.txt"
CONTAINER = "already.txt.aqv3"
CONTAINER_OVERHEAD = 294


def _plain(windows):
    quoted = "sp ace 'q.txt" if windows else "sp ace 'q\".txt"
    return {
        "top.txt": b"top\n" * 100,
        os.path.join("nested", "deeper", "deepest.bin"): bytes(range(256)) * 33,
        os.path.join("nested", "한글 이름.txt"): "한글\n".encode() * 500,
        quoted: b"a space and quotes",
    }


class Tree:
    def __init__(self, d, windows=False):
        self.d = d
        self.windows = windows
        self.root = os.path.join(d, TREE)
        self.plain = _plain(windows)
        self.unreadable = os.path.join(self.root, UNREADABLE)
        for folder in (os.path.join(self.root, "nested", "deeper"), os.path.join(self.root, "empty"),
                       os.path.join(d, OUTSIDE)):
            os.makedirs(folder)
        for name, content in list(self.plain.items()) + [(UNREADABLE, b"cannot be read"),
                                                          (CONTAINER, b"AES junk, no container")]:
            with open(os.path.join(self.root, name), "wb") as f:
                f.write(content)
        with open(os.path.join(d, OUTSIDE, "secret.txt"), "wb") as f:
            f.write(b"outside the tree")
        os.symlink(os.path.join("..", OUTSIDE), os.path.join(self.root, "link-to-folder"))
        self.file_link = self.fifo = not windows
        if self.file_link:
            os.symlink(os.path.join("..", OUTSIDE, "secret.txt"), os.path.join(self.root, "link-to-file"))
        if self.fifo:
            os.mkfifo(os.path.join(self.root, "fifo"))

    def snapshot(self):
        """Everything under the tree and outside it: path -> what it is (a file's bytes and
        whether it is read-only, a link's target, a FIFO, a folder)."""
        seen = {}
        for top in (self.root, os.path.join(self.d, OUTSIDE)):
            for folder, dirs, files in os.walk(top):
                for name in dirs + files:
                    path = os.path.join(folder, name)
                    rel = os.path.relpath(path, self.d)
                    st = os.lstat(path)
                    if stat.S_ISLNK(st.st_mode):
                        seen[rel] = ("link", os.readlink(path))
                    elif stat.S_ISFIFO(st.st_mode):
                        seen[rel] = ("fifo",)
                    elif stat.S_ISDIR(st.st_mode):
                        seen[rel] = ("folder",)
                    else:
                        with open(path, "rb") as f:
                            seen[rel] = ("file", f.read(), not (st.st_mode & stat.S_IWUSR))
        return seen

    def encrypted(self, before):
        """What encrypting the tree must leave, given what was there before: a container
        beside each readable plaintext (its size that of its plaintext's), nothing else
        changed."""
        after = dict(before)
        for name, content in self.plain.items():
            after[os.path.join(TREE, name + ".aqv3")] = CONTAINER_OVERHEAD + ((len(content) + 15) // 16 or 1) * 16
        return after

    def differences(self, now, expected):
        """What now holds that expected does not say (sizes stand for containers)."""
        out = []
        for rel in sorted(set(now) | set(expected)):
            have, want = now.get(rel), expected.get(rel)
            if isinstance(want, int):
                if not have or have[0] != "file" or len(have[1]) != want:
                    out.append("%s: a container of %d bytes expected, found %r" % (rel, want, have and have[:1]))
            elif have != want:
                out.append("%s: %r expected, found %r" % (rel, want and want[:2], have and have[:2]))
        return out

    def containers(self):
        return [os.path.join(self.root, name + ".aqv3") for name in self.plain]

    def remove_plaintexts(self):
        for name in self.plain:
            os.remove(os.path.join(self.root, name))

    def decrypted(self, before):
        """What decrypting the tree (its plaintexts removed) must leave: each plaintext back,
        read-only, nothing else changed."""
        after = dict(before)
        for name, content in self.plain.items():
            after[os.path.join(TREE, name)] = ("file", content, True)
        return after

    def skipped(self, encrypt, again=False):
        """The kinds a walk of the tree skips, by the folder rule's names, with counts, in
        the rule's order; again: encryption once more, its containers beside the files."""
        kinds = {"link": 1 + self.file_link}
        if self.fifo:
            kinds["fifo"] = 1
        if encrypt:
            kinds["container"] = 1 + (len(self.plain) if again else 0)
        else:
            # After encryption and the plaintexts' removal: the unreadable file alone.
            kinds["not-container"] = 1
        return kinds
