#!/bin/sh
# The Windows desktop program under wine on a virtual X display: the driver
# (gui_driver.cpp) opens the main window and every dialog and checks their
# layout, scans the bundled sample (under a non-ASCII name) and converts it
# through the dialogs, then stops a conversion with "Stop convertion?" and
# Yes. Here the rows must be kelvor-cli.exe's, the converted file its bytes,
# and the stopped file a complete program stream. With SCREENSHOTS set, the
# pictures the driver took go there as PNG.
#
# Usage: desktop_windows.sh WINDOWS_BUILD_DIR SAMPLE.TS
# Environment: WINEPREFIX (set up by the caller), SCREENSHOTS (optional).
set -eu
win=$(cd "$1" && pwd)
sample=$2
wine=$(command -v wine || command -v wine64 || echo /usr/lib/wine/wine64)
cli=$win/src/kelvor-cli.exe
for tool in Xvfb; do
  command -v "$tool" >/dev/null || { echo "desktop program: SKIPPED ($tool is missing)"; exit 0; }
done

work=$(mktemp -d)
xvfb_pid=""
cleanup() {
  "${wine}server" -k 2>/dev/null || wineserver -k 2>/dev/null || true
  [ -z "$xvfb_pid" ] || kill "$xvfb_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

# A display of its own; -displayfd says which number it took.
exec 3>"$work/display"
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
xvfb_pid=$!
exec 3>&-
for _ in $(seq 50); do [ -s "$work/display" ] && break; sleep 0.1; done
DISPLAY=:$(cat "$work/display")
LC_ALL=C.UTF-8
export DISPLAY LC_ALL
# The programs that ran headless before belong to another display.
"${wine}server" -k 2>/dev/null || wineserver -k 2>/dev/null || true

input="$work/Nachrichten äöü – 日本.ts"
cp "$sample" "$input"
: >"$work/empty.ts"
# A long input: the sample, then zeros the conversion searches for packets
# until it is stopped.
cp "$sample" "$work/long.ts"
truncate -s 2G "$work/long.ts"
winpath() { printf 'Z:%s' "$1" | tr / '\\'; }
mkdir -p "$work/pictures"

# The windows are drawn by wine itself (no window manager), captions and all.
timeout 300 "$wine" explorer /desktop=kelvor,1024x768 "$win/tests/kelvor_gui_driver.exe" "$win/src/app_win32/kelvor.exe" \
  "$(winpath "$work/pictures")" "$(winpath "$work/empty.ts")" "$(winpath "$input")" \
  "$(winpath "$work/Ausgabe ß – 日本.mpg")" "$(winpath "$work/long.ts")" "$(winpath "$work/stopped.mpg")" \
  2>/dev/null | tr -d '\r' >"$work/driver.txt" || true
grep -v '^row: ' "$work/driver.txt" | sed 's/^/  /'
failed=0
grep -qx "all checks passed" "$work/driver.txt" || failed=1

# The rows of the scan and the bytes of the conversion are the command line's.
(cd "$work" && "$wine" "$cli" scan "$input" 2>/dev/null) | tr -d '\r' | cut -f2 >"$work/cli-rows.txt" || true
sed -n 's/^row: //p' "$work/driver.txt" >"$work/gui-rows.txt"
if [ -s "$work/gui-rows.txt" ] && cmp -s "$work/cli-rows.txt" "$work/gui-rows.txt"; then
  echo "  same rows as kelvor-cli.exe scan: $(wc -l <"$work/gui-rows.txt")"
else
  echo "FAILED: the track list differs from kelvor-cli.exe scan"
  diff "$work/cli-rows.txt" "$work/gui-rows.txt" | head -5 || true
  failed=1
fi
(cd "$work" && "$wine" "$cli" convert -q "$input" cli.mpg >/dev/null 2>&1) || true
if [ -s "$work/cli.mpg" ] && cmp -s "$work/cli.mpg" "$work/Ausgabe ß – 日本.mpg"; then
  echo "  conversion through the dialogs: the bytes of kelvor-cli.exe convert ($(wc -c <"$work/cli.mpg") bytes)"
else
  echo "FAILED: the conversion through the dialogs differs from kelvor-cli.exe's"
  failed=1
fi

# The stopped conversion: whole packs, and a stream ffmpeg reads without error.
size=$(wc -c <"$work/stopped.mpg" 2>/dev/null || echo 0)
if [ "$size" -eq 0 ] || [ $((size % 2048)) -ne 0 ]; then
  echo "FAILED: the stopped conversion left $size bytes"
  failed=1
elif command -v ffmpeg >/dev/null && [ -n "$(ffmpeg -v error -i "$work/stopped.mpg" -f null - 2>&1)" ]; then
  echo "FAILED: ffmpeg finds errors in the stopped conversion's output"
  failed=1
else
  echo "  stopped conversion: $size bytes of whole packs, read without error"
fi

if [ -n "${SCREENSHOTS:-}" ] && command -v convert >/dev/null; then
  mkdir -p "$SCREENSHOTS"
  for picture in "$work"/pictures/*.bmp; do
    [ -e "$picture" ] || continue
    convert "$picture" "$SCREENSHOTS/$(basename "$picture" .bmp).png"
  done
fi
exit "$failed"
