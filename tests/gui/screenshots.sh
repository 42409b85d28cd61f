#!/usr/bin/env bash
# Retakes the README's pictures of the Windows viewer (password prompt, progress window,
# error box) into docs/screenshots, from a win32 build tree, in a private X server.
set -euo pipefail

usage() {
  cat <<'USAGE'
Usage: tests/gui/screenshots.sh [BUILD_DIR]

Runs TarvessinViewer.exe from BUILD_DIR (default: build/win32, built with the win32
preset including its tests) under Wine inside xvfb-run, and writes
docs/screenshots/password-prompt.png, progress.png and error-box.png (Korean system),
then the same three as *-cp1252.png: a Korean interface on code page 1252 (an English
system's), with names that code page lacks. The Wine servers of BUILD_DIR's prefixes
are stopped afterwards.
USAGE
}

case ${1:-} in -h | --help) usage; exit 0 ;; esac

root=$(cd "$(dirname -- "${BASH_SOURCE[0]}")/../.." && pwd -P)
build=$(cd "${1:-$root/build/win32}" && pwd -P)
for f in app/TarvessinViewer.exe tests/gui/qv3_gui_driver.exe tests/gui/qv3_fake_viewer.exe cli/qv3.exe; do
  [[ -f $build/$f ]] || { echo "screenshots.sh: $build/$f is missing: build the win32 preset first" >&2; exit 1; }
done

stop_wine() {
  WINEPREFIX=$build/wineprefix wineserver -k 2>/dev/null || true
  WINEPREFIX=$build/wineprefix-en_US wineserver -k 2>/dev/null || true
}
trap stop_wine EXIT

shoot() { # prefix locale
  xvfb-run -a -s '-screen 0 1280x1024x24' python3 "$root/tests/gui/viewer_test.py" \
    --screenshots "$root/docs/screenshots" \
    --viewer "$build/app/TarvessinViewer.exe" \
    --driver "$build/tests/gui/qv3_gui_driver.exe" \
    --fake-viewer "$build/tests/gui/qv3_fake_viewer.exe" \
    --qv3 "$build/cli/qv3.exe" \
    --wine-run "$root/scripts/wine-run" \
    --prefix "$1" --locale "$2"
}
shoot "$build/wineprefix" ko_KR.UTF-8
QV3_WINE_UI_LOCALE=ko_KR.UTF-8 shoot "$build/wineprefix-en_US" en_US.UTF-8
