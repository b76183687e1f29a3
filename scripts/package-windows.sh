#!/bin/sh
# Builds the Windows package, build/windows/kelvor-VERSION-windows-x86_64.zip:
# kelvor.exe and kelvor-cli.exe (stripped), the Read Me, the licence and the
# notices of the runtime linked into the programs. With --check it then
# unpacks the zip and runs both programs from it under wine.
#
# Usage: scripts/package-windows.sh [--check]
# Environment: KELVOR_WINDOWS_BUILD_DIR (default build/windows), JOBS,
# WINEPREFIX (for --check).
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
win=${KELVOR_WINDOWS_BUILD_DIR:-$root/build/windows}
check=0
case "${1:-}" in
  --check) check=1 ;;
  "") ;;
  *) echo "Usage: scripts/package-windows.sh [--check]" >&2; exit 2 ;;
esac
cd "$root"
[ -f "$win/CMakeCache.txt" ] || cmake --preset windows
cmake --build "$win" -j"${JOBS:-$(nproc)}" --target kelvor kelvor-cli

version=$(sed -n 's/^project(kelvor VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
name=kelvor-$version-windows-x86_64
# The licence file as the repository holds it; the packaging copyright
# states the terms until there is one.
licence=""
for candidate in COPYING COPYING.txt LICENSE LICENSE.txt LICENCE LICENCE.txt packaging/copyright; do
  [ -f "$candidate" ] && { licence=$candidate; break; }
done
runtime=/usr/share/doc/mingw-w64-common/copyright
[ -f "$runtime" ] || { echo "package-windows: $runtime is missing (package mingw-w64-common)" >&2; exit 1; }

stage=$win/package/$name
rm -rf "$win/package" && mkdir -p "$stage"
for exe in src/app_win32/kelvor.exe src/kelvor-cli.exe; do
  x86_64-w64-mingw32-strip -o "$stage/$(basename "$exe")" "$win/$exe"
done
cp README.md "$stage/README.txt"
cp "$licence" "$stage/LICENCE.txt"
cp packaging/windows/THIRD-PARTY-NOTICES.txt "$stage/"
cp "$runtime" "$stage/MINGW-W64-COPYRIGHT.txt"
zip=$win/$name.zip
# Text files get CR LF line ends, as Windows editors expect.
python3 - "$win/package" "$name" "$zip" <<'PY'
import os, sys, zipfile
base, name, target = sys.argv[1:4]
with zipfile.ZipFile(target, "w", zipfile.ZIP_DEFLATED) as z:
    for entry in sorted(os.listdir(os.path.join(base, name))):
        path = os.path.join(base, name, entry)
        with open(path, "rb") as f:
            data = f.read()
        if entry.endswith(".txt"):
            data = data.replace(b"\r\n", b"\n").replace(b"\n", b"\r\n")
        info = zipfile.ZipInfo(f"{name}/{entry}", date_time=(2026, 1, 1, 0, 0, 0))
        info.compress_type = zipfile.ZIP_DEFLATED
        info.external_attr = 0o644 << 16
        z.writestr(info, data)
PY
echo "Package: $zip ($(wc -c <"$zip") bytes)"
[ "$check" -eq 1 ] || exit 0

out=$win/package-check
rm -rf "$out" && mkdir -p "$out"
python3 -c "import sys, zipfile; zipfile.ZipFile(sys.argv[1]).extractall(sys.argv[2])" "$zip" "$out"
for entry in kelvor.exe kelvor-cli.exe README.txt LICENCE.txt THIRD-PARTY-NOTICES.txt MINGW-W64-COPYRIGHT.txt; do
  [ -s "$out/$name/$entry" ] || { echo "package-windows: $entry is not in the zip" >&2; exit 1; }
done
wine=$(command -v wine || command -v wine64 || echo /usr/lib/wine/wine64)
said=$(WINEDEBUG=-all "$wine" "$out/$name/kelvor-cli.exe" --version 2>/dev/null | tr -d '\r')
[ "$said" = "kelvor-cli $version" ] || { echo "package-windows: kelvor-cli.exe --version says '$said'" >&2; exit 1; }
# The desktop program only links what every Windows has: its imports.
imports=$(x86_64-w64-mingw32-objdump -p "$out/$name/kelvor.exe" | sed -n 's/^\tDLL Name: //p' | tr 'A-Z' 'a-z' | sort | tr '\n' ' ')
for dll in $imports; do
  case "$dll" in
    kernel32.dll|user32.dll|gdi32.dll|comctl32.dll|comdlg32.dll|shell32.dll|msvcrt.dll|advapi32.dll|api-ms-win-*) ;;
    *) echo "package-windows: kelvor.exe needs $dll, which Windows does not bring" >&2; exit 1 ;;
  esac
done
echo "package check: $(basename "$zip") holds both programs, the Read Me and the licence; kelvor-cli.exe runs from it; kelvor.exe imports $imports"
