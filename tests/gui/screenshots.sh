#!/usr/bin/env bash
# Retakes the README's pictures of the Windows viewer (password prompt, progress window,
# error box) into docs/screenshots, from a Windows build tree, in a private X server.
set -euo pipefail

usage() {
  cat <<'USAGE'
Usage: tests/gui/screenshots.sh [BUILD_DIR]

Runs TarvessinViewer.exe from BUILD_DIR (default: build/win32, or build/win64 on a
machine that runs no 32-bit programs; built with its preset including the tests) under
Wine inside xvfb-run, with Wine's visual styles (its "Light" theme) on, and writes into
docs/screenshots:
  password-prompt.png, progress.png, error-box.png   Korean system, 96 DPI
  the same three with -144dpi                         Korean system, 144 DPI (LogPixels)
  the same three with -cp1252                         Korean interface on code page 1252
                                                      (an English system's), with names
                                                      that code page lacks
  the same three with -en                             English interface (an English
                                                      system's UI language)
  the same three with -hc                             Korean system, visual styles off
                                                      and a high-contrast colour scheme
                                                      (white on black) in the prefix
(and new-password-prompt, the encryption road's prompt, in each of these; and the view
road's questions, dangerous-type, changed-file and still-in-use, in each but -cp1252)
The pictures are taken in prefixes of their own, BUILD_DIR/screenshots-prefix,
BUILD_DIR/screenshots-prefix-en_US and BUILD_DIR/screenshots-prefix-hc, whose Wine servers are stopped afterwards; the
tests' prefixes are not touched.
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

prefixes=("$build/screenshots-prefix" "$build/screenshots-prefix-en_US" "$build/screenshots-prefix-hc")
stop_wine() {
  local p
  for p in "${prefixes[@]}"; do
    WINEPREFIX=$p wineserver -k 2>/dev/null || true
    WINEPREFIX=$p wineserver -w 2>/dev/null || true
  done
}
shots=$(mktemp -d "$build/screenshots.XXXXXX")
trap 'stop_wine; rm -rf -- "$shots"' EXIT
wine_run=$root/scripts/wine-run

# Runs a Wine command in prefix $1 under locale $2.
in_prefix() {
  local prefix=$1 locale=$2
  shift 2
  WINEPREFIX=$prefix QV3_WINE_LOCALE=$locale "$wine_run" "$@"
}
reg() { in_prefix "$1" "$2" reg add "${@:3}" /f >/dev/null; }

# A high-contrast scheme as Windows' "High Contrast Black" has it: the system colours
# every window without styles of its own draws with.
high_contrast() { # prefix locale
  local colors='HKCU\Control Panel\Colors' pair
  for pair in Window=0.0.0 WindowText=255.255.255 ButtonFace=0.0.0 ButtonText=255.255.255 \
    ButtonHilight=255.255.255 ButtonLight=255.255.255 ButtonShadow=128.128.128 ButtonDkShadow=255.255.255 \
    Hilight=26.235.255 HilightText=0.0.0 GrayText=63.242.63 WindowFrame=255.255.255 \
    ActiveTitle=0.0.0 TitleText=255.255.255 InactiveTitle=0.0.0 InactiveTitleText=63.242.63 \
    ActiveBorder=255.255.255 InactiveBorder=128.128.128 Background=0.0.0 Menu=0.0.0 MenuText=255.255.255 \
    InfoWindow=0.0.0 InfoText=255.255.0 HotTrackingColor=255.255.0; do
    reg "$1" "$2" "$colors" /v "${pair%%=*}" /d "$(tr . ' ' <<<"${pair#*=}")"
  done
  reg "$1" "$2" 'HKCU\Control Panel\Accessibility\HighContrast' /v Flags /d 127
}

# Makes the prefix (on first use) with Wine's own theme, as a user of Windows sees the
# system's visual styles (or, with QV3_HIGH_CONTRAST=1, no styles and a high-contrast
# scheme), at the given DPI. Both are read when Wine starts: the server is stopped so that
# the next program sees them.
prepare() { # prefix locale dpi
  local theme='HKCU\Software\Microsoft\Windows\CurrentVersion\ThemeManager'
  in_prefix "$1" "$2" "$build/cli/qv3.exe" --version >/dev/null
  if [[ ${QV3_HIGH_CONTRAST:-} == 1 ]]; then
    reg "$1" "$2" "$theme" /v ThemeActive /d 0
    high_contrast "$1" "$2"
  else
    reg "$1" "$2" "$theme" /v ThemeActive /d 1
  fi
  reg "$1" "$2" "$theme" /v DllName /d 'C:\windows\resources\themes\light\light.msstyles'
  reg "$1" "$2" "$theme" /v ColorName /d Blue
  reg "$1" "$2" "$theme" /v SizeName /d NormalSize
  reg "$1" "$2" 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$3"
  reg "$1" "$2" 'HKLM\System\CurrentControlSet\Hardware Profiles\Current\Software\Fonts' \
    /v LogPixels /t REG_DWORD /d "$3"
  WINEPREFIX=$1 wineserver -k 2>/dev/null || true
  WINEPREFIX=$1 wineserver -w 2>/dev/null || true
}

# Takes the pictures in prefix $1 under locale $2 at DPI $3 (the interface in the language
# of QV3_WINE_UI_LOCALE, else of $2) and copies them to docs/screenshots, the DPI's suffix
# added to every name but 96's.
shoot() { # prefix locale dpi
  local out=$shots/${2%%.*}-${QV3_WINE_UI_LOCALE:-$2}-$3 suffix picture
  prepare "$@"
  xvfb-run -a -s '-screen 0 1280x1024x24' python3 "$root/tests/gui/viewer_test.py" \
    --screenshots "$out" \
    --viewer "$build/app/TarvessinViewer.exe" \
    --driver "$build/tests/gui/qv3_gui_driver.exe" \
    --fake-viewer "$build/tests/gui/qv3_fake_viewer.exe" \
    --qv3 "$build/cli/qv3.exe" \
    --wine-run "$wine_run" \
    --prefix "$1" --locale "$2"
  suffix=$([[ $3 == 96 ]] || echo "-${3}dpi")${QV3_SHOT_SUFFIX:-}
  for picture in "$out"/*.png; do
    picture=$(basename -- "$picture" .png)
    cp -- "$out/$picture.png" "$root/docs/screenshots/$picture$suffix.png"
  done
}

shoot "${prefixes[0]}" ko_KR.UTF-8 96
shoot "${prefixes[0]}" ko_KR.UTF-8 144
QV3_WINE_UI_LOCALE=ko_KR.UTF-8 shoot "${prefixes[1]}" en_US.UTF-8 96
shoot "${prefixes[1]}" en_US.UTF-8 96
QV3_HIGH_CONTRAST=1 QV3_SHOT_SUFFIX=-hc shoot "${prefixes[2]}" ko_KR.UTF-8 96
