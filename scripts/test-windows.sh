#!/bin/sh
# The Windows build: cross-builds kelvor-cli.exe and the core's test programs
# with MinGW-w64 (preset windows), runs the tests under wine (headless), and
# converts the bundled sample and two generated streams with kelvor-cli.exe,
# which must give the rows and the bytes of the Linux build. Then a file name
# with non-ASCII characters, an input larger than 4 GiB, and Ctrl-C; then the
# desktop program kelvor.exe through its windows (tests/app_win32).
#
# Needs the Linux build's kelvor-cli and the generated streams (scripts/test.sh
# makes both first); LINUX_CLI and FIXTURES point elsewhere.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
jobs=${JOBS:-$(nproc)}
linux_cli=${LINUX_CLI:-$root/build/release/src/kelvor-cli}
fixtures=${FIXTURES:-$root/build/fixtures}
win=$root/build/windows
started=$(date +%s)

cmake --preset windows ${KELVOR_WINDOWS_CMAKE_ARGS:-}
cmake --build "$win" -j"$jobs" --target kelvor-cli kelvor kelvor_gui_driver kelvor_windows_tests

# A wine prefix of our own, made once; no display, no debug chatter.
WINEPREFIX=${WINEPREFIX:-$win/wine}
WINEDEBUG=-all
LC_ALL=C.UTF-8  # wine turns the arguments into UTF-16 from the locale's UTF-8
export WINEPREFIX WINEDEBUG LC_ALL
unset DISPLAY WAYLAND_DISPLAY || true
wine=$(command -v wine || command -v wine64 || echo /usr/lib/wine/wine64)
# wineboot may report a failure of some optional part; the checks below tell
# whether the prefix works.
[ -d "$WINEPREFIX" ] || "$wine" wineboot --init >/dev/null 2>&1 || echo "note: wineboot exited with status $?"
cleanup() { "${wine}server" -k 2>/dev/null || wineserver -k 2>/dev/null || true; }
trap cleanup EXIT

# The test programs, one wine start each (tests/windows.cmake).
failed=0
ctest --test-dir "$win" --output-on-failure || failed=1

work=$(mktemp -d)
trap 'cleanup; rm -rf "$work"' EXIT
exe=$win/src/kelvor-cli.exe

# Runs one command line in both builds; the exit status, the rows printed
# and every output file must be the same.
same() {
  name=$1
  shift
  rm -rf "$work/lin" "$work/win"
  mkdir -p "$work/lin" "$work/win"
  (cd "$work/lin" && "$linux_cli" "$@" >stdout 2>/dev/null; echo $? >status)
  (cd "$work/win" && "$wine" "$exe" "$@" >stdout 2>/dev/null; echo $? >status)
  if [ "$(cat "$work/win/status")" != 0 ]; then
    echo "FAILED: $name (exit status $(cat "$work/win/status"))"
    failed=1
  elif diff -r "$work/lin" "$work/win" >/dev/null; then
    echo "same: $name ($(ls "$work/win" | grep -v '^st' | tr '\n' ' '))"
  else
    echo "DIFFERENT: $name"
    diff -r "$work/lin" "$work/win" | head -5
    failed=1
  fi
}

for input in "$root/samples/sample_mpeg2.ts" "$fixtures/mpeg2_mp2_ac3.ts" "$fixtures/h264_eac3_mp2.ts"; do
  base=$(basename "$input" .ts)
  same "scan $base" scan "$input"
  for format in mpg ts m2ts; do
    same "convert $base to $format" convert -q "$input" "out.$format"
  done
done

# A name with umlauts, a dash and CJK characters, in and out.
unicode="$work/Nachrichten äöü – 日本.ts"
cp "$root/samples/sample_mpeg2.ts" "$unicode"
same "non-ASCII file names" convert -q "$unicode" "Ausgabe ß – 日本.m2ts"
same "non-ASCII names in a batch and its report" convert -q --format ts --report "Bericht ß.json" "$unicode" -o ./  # a separator of its own: Windows adds \\

# An input larger than 4 GiB: the stream at its start, a hole after it.
big=$work/big.ts
cp "$root/samples/sample_mpeg2.ts" "$big"
truncate -s 4200M "$big"
same "scan of a 4.1 GiB input" scan "$big"
same "conversion of a 4.1 GiB input" convert -q "$big" big.mpg

# Ctrl-C (wine raises the console's Ctrl-C event on SIGINT) stops the
# conversion of the big input with what was written closed: exit status 3.
"$wine" "$exe" convert -q "$big" "$work/stopped.mpg" >/dev/null 2>&1 &
pid=$!
sleep 3
# The conversion may have ended (or failed) before the signal: the status check
# below reports that, so a failing kill must not end the script silently.
kill -INT "$pid" 2>/dev/null || true
status=0
wait "$pid" || status=$?
if [ "$status" -eq 3 ] && [ -s "$work/stopped.mpg" ]; then
  echo "stopped by Ctrl-C: exit status 3, $(wc -c <"$work/stopped.mpg") bytes kept"
else
  echo "FAILED: Ctrl-C gave exit status $status"
  failed=1
fi
rm -f "$big" "$unicode"

# The desktop program, driven through its windows on a virtual display.
echo "The desktop program kelvor.exe:"
sh "$root/tests/app_win32/desktop_windows.sh" "$win" "$root/samples/sample_mpeg2.ts" || failed=1
# The zip for Windows users, unpacked and run.
JOBS="$jobs" sh "$root/scripts/package-windows.sh" --check || failed=1

echo "Windows build and tests: $(($(date +%s) - started)) s"
[ "$failed" -eq 0 ] || { echo "The Windows build failed its checks."; exit 1; }
echo "The Windows build passed."
