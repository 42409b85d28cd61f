#!/usr/bin/env bash
# Retakes the README's pictures of the Windows viewer (password prompt, progress window,
# error box) into docs/screenshots, from a win32 build tree, in a private X server.
set -euo pipefail

usage() {
  cat <<'USAGE'
Usage: tests/gui/screenshots.sh [BUILD_DIR]

Runs TarvessinViewer.exe from BUILD_DIR (default: build/win32, or build/win64 on a
machine that runs no 32-bit programs; built with its preset including the tests) under
Wine inside xvfb-run, with Wine's visual styles (its
"Light" theme) on, once at 96 DPI and once at 144 DPI (Wine's LogPixels), and writes
docs/screenshots/password-prompt.png, progress.png and error-box.png (96 DPI) and
password-prompt-144dpi.png, progress-144dpi.png and error-box-144dpi.png. The pictures
are taken in a prefix of their own, BUILD_DIR/screenshots-prefix, whose Wine server is
stopped afterwards; the tests' prefix is not touched.
USAGE
}

case ${1:-} in -h | --help) usage; exit 0 ;; esac

root=$(cd "$(dirname -- "${BASH_SOURCE[0]}")/../.." && pwd -P)
default=$root/build/win32
"$root/scripts/wine-run" --can-run i386 >/dev/null 2>&1 || default=$root/build/win64
build=$(cd "${1:-$default}" && pwd -P)
for f in app/TarvessinViewer.exe tests/gui/qv3_gui_driver.exe tests/gui/qv3_fake_viewer.exe cli/qv3.exe; do
  [[ -f $build/$f ]] || { echo "screenshots.sh: $build/$f is missing: build its preset first" >&2; exit 1; }
done

export WINEPREFIX=$build/screenshots-prefix
stop_wine() { wineserver -k 2>/dev/null || true; wineserver -w 2>/dev/null || true; }
trap stop_wine EXIT
wine_run=$root/scripts/wine-run
"$wine_run" "$build/cli/qv3.exe" --version >/dev/null # makes the prefix on first use
reg() { "$wine_run" reg add "$@" /f >/dev/null; }

# Wine's own theme, as a user of Windows sees the system's visual styles.
theme='HKCU\Software\Microsoft\Windows\CurrentVersion\ThemeManager'
reg "$theme" /v ThemeActive /d 1
reg "$theme" /v DllName /d 'C:\windows\resources\themes\light\light.msstyles'
reg "$theme" /v ColorName /d Blue
reg "$theme" /v SizeName /d NormalSize

shots=$(mktemp -d "$build/screenshots.XXXXXX")
trap 'stop_wine; rm -rf -- "$shots"' EXIT
for dpi in 96 144; do
  # Read when Wine starts: the server is stopped so that the next program sees it.
  reg 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$dpi"
  reg 'HKLM\System\CurrentControlSet\Hardware Profiles\Current\Software\Fonts' \
    /v LogPixels /t REG_DWORD /d "$dpi"
  stop_wine
  xvfb-run -a -s '-screen 0 1280x1024x24' python3 "$root/tests/gui/viewer_test.py" \
    --screenshots "$shots/$dpi" \
    --viewer "$build/app/TarvessinViewer.exe" \
    --driver "$build/tests/gui/qv3_gui_driver.exe" \
    --fake-viewer "$build/tests/gui/qv3_fake_viewer.exe" \
    --qv3 "$build/cli/qv3.exe" \
    --wine-run "$wine_run" \
    --prefix "$WINEPREFIX"
  suffix=$([[ $dpi == 96 ]] || echo "-${dpi}dpi")
  for name in password-prompt progress error-box; do
    cp -- "$shots/$dpi/$name.png" "$root/docs/screenshots/$name$suffix.png"
  done
done
