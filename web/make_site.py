#!/usr/bin/env python3
"""Lays out the static site: the page, its style and scripts, and engine.js; what makes
it an installable application (manifest.webmanifest with its icons inside it, and sw.js,
the service worker that keeps the site for use offline); and the same page as one file,
tarvessin-viewer.html, to carry or mail.

usage: make_site.py WEB_SOURCE_DIR ENGINE_JS ENGINE_WASM SITE_DIR ICON_PNG NODE

The manifest's file handlers list the containers' extensions as the engine itself gives
them (NODE runs the engine to ask), so the list is written once, in the engine's naming
table. The icons are ICON_PNG (8-bit RGBA) enlarged, each pixel a square.

engine.js holds the whole worker as one function, qv3WorkerMain: the engine's module
loader, its WebAssembly bytes (base64), the engine's JavaScript side, the worker and its
helper for input and output (started from its own function's text in turn). The
page starts the worker from that function's text, so neither the worker nor the
WebAssembly is ever fetched: the site works from any static host and straight from a
folder, where a browser fetches nothing for a page. Files are written new beside their
final names and renamed over them, so a half-written site is never left behind.
"""
import base64
import hashlib
import json
import os
import re
import struct
import subprocess
import sys
import zlib

PAGE_FILES = ["index.html", "style.css", "texts.js", "zip.js", "page.js"]


def read(path, mode="r"):
    with open(path, mode, **({} if "b" in mode else {"encoding": "utf-8"})) as f:
        return f.read()


def write(path, text):
    temporary = "%s.%d.tmp" % (path, os.getpid())
    if isinstance(text, bytes):
        with open(temporary, "xb") as f:
            f.write(text)
    else:
        with open(temporary, "x", encoding="utf-8", newline="\n") as f:
            f.write(text)
    os.replace(temporary, path)


def png_pixels(data):
    """The rows of an 8-bit RGBA, non-interlaced PNG, as bytes of 4 per pixel."""
    assert data[:8] == b"\x89PNG\r\n\x1a\n"
    at, idat, width, height = 8, b"", 0, 0
    while at < len(data):
        length, kind = struct.unpack(">I4s", data[at:at + 8])
        body = data[at + 8:at + 8 + length]
        if kind == b"IHDR":
            width, height, depth, colour, _, _, interlace = struct.unpack(">IIBBBBB", body)
            if (depth, colour, interlace) != (8, 6, 0):
                sys.exit("make_site.py: the icon must be an 8-bit RGBA PNG, not interlaced")
        elif kind == b"IDAT":
            idat += body
        at += 12 + length
    raw, stride, rows, previous = zlib.decompress(idat), width * 4, [], bytearray(width * 4)
    for y in range(height):
        kind, line = raw[y * (stride + 1)], bytearray(raw[y * (stride + 1) + 1:(y + 1) * (stride + 1)])
        for x in range(stride):
            a = line[x - 4] if x >= 4 else 0
            b = previous[x]
            c = previous[x - 4] if x >= 4 else 0
            if kind == 1:
                line[x] = (line[x] + a) & 255
            elif kind == 2:
                line[x] = (line[x] + b) & 255
            elif kind == 3:
                line[x] = (line[x] + (a + b) // 2) & 255
            elif kind == 4:
                p = a + b - c
                pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
                line[x] = (line[x] + (a if pa <= pb and pa <= pc else b if pb <= pc else c)) & 255
        rows.append(bytes(line))
        previous = line
    return width, rows


def png_scaled(data, factor):
    """The icon enlarged factor times, each pixel a square (the installed site's icon)."""
    width, rows = png_pixels(data)
    out = b"".join(b"\0" + b"".join(row[x * 4:x * 4 + 4] * factor for x in range(width))
                   for row in rows for _ in range(factor))
    size = width * factor

    def chunk(kind, body):
        return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body))
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)) +
            chunk(b"IDAT", zlib.compress(out, 9)) + chunk(b"IEND", b""))


def csp_hash(text):
    return "'sha256-%s'" % base64.b64encode(hashlib.sha256(text.encode("utf-8")).digest()).decode("ascii")


def single_file(page, style, scripts):
    """The page with its style and scripts inside it. Its policy allows exactly those
    (by their hashes) in place of the folder's files; everything else stays as strict."""
    for name, text in scripts:
        if re.search(r"</script", text, re.I):
            sys.exit("make_site.py: %s holds a closing script tag and cannot be put inside the page" % name)
    scripts_csp = " ".join(csp_hash(text) for _, text in scripts)
    policy, n = re.subn(r"script-src 'self'", "script-src " + scripts_csp, page)
    policy, m = re.subn(r"style-src 'self'", "style-src " + csp_hash(style), policy)
    # One file opened where it lands installs nothing and keeps nothing offline.
    policy, h = re.subn(r'<link rel="manifest" href="[^"]+">\n', "", policy)
    out, k = re.subn(r'<link rel="stylesheet" href="style.css">', lambda _: "<style>" + style + "</style>", policy)
    out, j = re.subn(r'<script src="[a-z]+\.js" defer></script>\n', "", out)
    inline = "".join("<script>%s</script>\n" % text for _, text in scripts)
    out, i = re.subn(r"</body>", lambda _: inline + "</body>", out)
    if (n, m, h, k, j, i) != (1, 1, 1, 1, len(scripts), 1):
        sys.exit("make_site.py: index.html is not laid out as this script expects")
    return out


def container_extensions(node, engine_js, engine_wasm, source):
    """The extensions the engine names containers with (".aqv3", ...), asked of it."""
    script = ("const fs = require('fs');"
              "require(process.argv[1]).Qv3Engine.create(require(process.argv[2]), fs.readFileSync(process.argv[3]))"
              ".then((e) => process.stdout.write(e.containerAccept()));")
    answer = subprocess.run([node, "-e", script, os.path.join(source, "engine_host.js"), os.path.abspath(engine_js),
                             engine_wasm], capture_output=True, text=True)
    if answer.returncode != 0 or not answer.stdout.startswith("."):
        sys.exit("make_site.py: the engine gave no extension list: %s" % answer.stderr)
    return answer.stdout.split(",")


def manifest(extensions, icon):
    return json.dumps({
        "name": "Tarvessin container viewer",
        "short_name": "Tarvessin",
        "lang": "ko",
        "start_url": "./",
        "scope": "./",
        "display": "standalone",
        "background_color": "#f3f5f8",
        "theme_color": "#1f5fbf",
        # Inside the manifest (the page's policy takes images from nowhere but itself).
        "icons": [{"src": "data:image/png;base64," + base64.b64encode(png_scaled(icon, factor)).decode("ascii"),
                   "sizes": "%dx%d" % (32 * factor, 32 * factor), "type": "image/png"} for factor in (6, 16)],
        # An installed site opens a container on a double-click (where the browser does
        # this), in the window it has if one is open.
        "file_handlers": [{"action": "./", "accept": {"application/x-tarvessin-container": extensions}}],
        "launch_handler": {"client_mode": "focus-existing"},
    }, ensure_ascii=False, indent=2) + "\n"


def main():
    source, engine_js, engine_wasm, site, icon, node = sys.argv[1:7]
    os.makedirs(site, exist_ok=True)
    for name in PAGE_FILES:
        write(os.path.join(site, name), read(os.path.join(source, name)))
    wasm = base64.b64encode(read(engine_wasm, "rb")).decode("ascii")
    worker = "".join([
        "// Generated by web/make_site.py: the page's worker, started from this function's text.\n",
        "function qv3WorkerMain() {\n",
        "var QV3_WASM_BASE64 = '%s';\n" % wasm,
        read(engine_js), "\n",
        read(os.path.join(source, "engine_host.js")), "\n",
        read(os.path.join(source, "io_worker.js")), "\n",
        read(os.path.join(source, "worker.js")),
        "}\n",
    ])
    write(os.path.join(site, "engine.js"), worker)
    write(os.path.join(site, "manifest.webmanifest"),
          manifest(container_extensions(node, engine_js, engine_wasm, source), read(icon, "rb")))
    # The service worker keeps exactly the site's files; its cache is named after them.
    kept = PAGE_FILES + ["engine.js", "manifest.webmanifest"]
    digest = hashlib.sha256()
    for name in kept:
        digest.update(read(os.path.join(site, name), "rb"))
    write(os.path.join(site, "sw.js"), "".join([
        "// Generated by web/make_site.py from web/service_worker.js.\n",
        "var QV3_CACHE = 'qv3-%s';\n" % digest.hexdigest()[:16],
        "var QV3_FILES = %s;\n" % json.dumps(["./"] + kept),
        read(os.path.join(source, "service_worker.js")),
    ]))
    # Inline scripts run where they stand: at the end of the body, in the folder's order.
    scripts = [(name, read(os.path.join(site, name))) for name in ["texts.js", "zip.js", "engine.js", "page.js"]]
    write(os.path.join(site, "tarvessin-viewer.html"),
          single_file(read(os.path.join(site, "index.html")), read(os.path.join(site, "style.css")), scripts))


if __name__ == "__main__":
    main()
