#!/bin/sh
# Builds the Debian package kelvor_VERSION_ARCH.deb from the release build.
# With --check it then proves the package: lintian reports no error, it
# installs with apt-get, both programs answer --version, the manual pages
# render, and it removes without leaving a file behind. Installing needs
# root (or sudo without a password); otherwise that part is skipped.
#
# Usage: scripts/package.sh [--check]
# Environment: KELVOR_BUILD_DIR (default build/release), JOBS (default nproc).
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=${KELVOR_BUILD_DIR:-$root/build/release}
check=0
case "${1:-}" in
  --check) check=1 ;;
  "") ;;
  *) echo "Usage: scripts/package.sh [--check]" >&2; exit 2 ;;
esac

cd "$root"
[ -f "$build/CMakeCache.txt" ] || cmake --preset release
cmake --build "$build" -j"${JOBS:-$(nproc)}" --target kelvor_installable
rm -f "$build"/kelvor_*.deb
(cd "$build" && cpack -G DEB)
deb=$(ls "$build"/kelvor_*.deb)
echo "Package: $deb"
[ "$check" -eq 1 ] || exit 0

fail() { echo "package check: $*" >&2; exit 1; }
out="$build/package-check"
rm -rf "$out" && mkdir -p "$out"

# The contents: both programs, the menu entry and icon, the pages, the notices.
dpkg-deb -c "$deb" | awk '{ print $NF }' | sed 's|^\./|/|' >"$out/contents.txt"
for path in /usr/bin/kelvor /usr/bin/kelvor-cli /usr/share/applications/kelvor.desktop \
    /usr/share/icons/hicolor/32x32/apps/kelvor.png /usr/share/man/man1/kelvor.1.gz \
    /usr/share/man/man1/kelvor-cli.1.gz /usr/share/doc/kelvor/copyright \
    /usr/share/doc/kelvor/THIRD-PARTY-NOTICES; do
  grep -qx "$path" "$out/contents.txt" || fail "$path is not in the package"
done
dpkg-deb -f "$deb" Depends | grep -q libwxgtk || fail "Depends does not name the wxWidgets library"

# lintian: errors fail the check, warnings are listed.
lintian --fail-on error --tag-display-limit 0 --display-info "$deb" >"$out/lintian.txt" 2>&1 \
  || { cat "$out/lintian.txt"; fail "lintian reports errors"; }
cat "$out/lintian.txt"
echo "lintian: $(grep -c '^E:' "$out/lintian.txt") errors, $(grep -c '^W:' "$out/lintian.txt") warnings"

if [ "$(id -u)" -eq 0 ]; then
  SUDO=""
elif command -v sudo >/dev/null 2>&1 && sudo -n true 2>/dev/null; then
  SUDO="sudo -n"
else
  echo "package check: SKIPPED installing and removing (needs root or sudo without a password)"
  exit 0
fi
if dpkg-query -W -f='${Status}' kelvor 2>/dev/null | grep -q "install ok installed"; then
  fail "a kelvor package is installed already; remove it first (the check removes what it installs)"
fi

version=$(dpkg-deb -f "$deb" Version)
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y --no-install-recommends "$deb" \
  >"$out/install.txt" 2>&1 || { cat "$out/install.txt"; fail "apt-get install failed"; }
dpkg-query -L kelvor >"$out/installed-files.txt"
[ "$(command -v kelvor-cli)" = /usr/bin/kelvor-cli ] || fail "kelvor-cli is not /usr/bin/kelvor-cli"
[ "$(kelvor-cli --version)" = "kelvor-cli $version" ] || fail "kelvor-cli --version does not say $version"
[ "$(kelvor --version)" = "kelvor $version" ] || fail "kelvor --version does not say $version"
kelvor-cli --version
kelvor --version
for page in kelvor-cli kelvor; do
  file=/usr/share/man/man1/$page.1.gz
  if [ ! -f "$file" ]; then
    # Minimal images tell dpkg to leave out manual pages: render the page
    # the package holds instead, and say so.
    grep -qs '^path-exclude.*/usr/share/man' /etc/dpkg/dpkg.cfg.d/* \
      || fail "$file was not installed"
    [ -d "$out/deb" ] || dpkg-deb -x "$deb" "$out/deb"
    file=$out/deb/usr/share/man/man1/$page.1.gz
    echo "NOTE: dpkg leaves out /usr/share/man here; rendering the page from the package"
  fi
  MANWIDTH=80 man -l -P cat "$file" >"$out/$page.1.txt" 2>"$out/$page.1.err" \
    || { cat "$out/$page.1.err"; fail "man -l $file failed"; }
  if ! grep -q "^NAME" "$out/$page.1.txt" || ! grep -q "$page $version" "$out/$page.1.txt"; then
    fail "the rendered page $page(1) lacks its NAME or version"
  fi
  echo "man -l $file: $(wc -l <"$out/$page.1.txt") lines"
done

DEBIAN_FRONTEND=noninteractive $SUDO apt-get remove -y kelvor >"$out/remove.txt" 2>&1 \
  || { cat "$out/remove.txt"; fail "apt-get remove failed"; }
if dpkg-query -W -f='${Status}' kelvor 2>/dev/null | grep -q "ok installed"; then
  fail "kelvor is still installed after apt-get remove"
fi
left=""
while read -r path; do
  [ -f "$path" ] || [ -L "$path" ] && left="$left $path"
done <"$out/installed-files.txt"
[ -z "$left" ] || fail "left behind after removal:$left"
if ls /usr/bin/kelvor /usr/bin/kelvor-cli >/dev/null 2>&1; then fail "a program is left in /usr/bin"; fi
echo "package check: $(basename "$deb") builds, passes lintian, installs, runs and removes cleanly"
