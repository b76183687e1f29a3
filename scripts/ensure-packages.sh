#!/bin/sh
# Installs the Debian packages named as arguments, but only those missing.
# "a|b" names one package by alternatives, for a name that differs between
# Debian releases: nothing is done when one of them is installed, else the
# first that apt offers is installed.
set -eu
installed() {
  LC_ALL=C dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"
}
offered() {
  LC_ALL=C apt-cache policy "$1" 2>/dev/null | grep -q '^  Candidate: [^(]'
}

missing=""
for want in "$@"; do
  have=no
  for pkg in $(echo "$want" | tr '|' ' '); do
    if installed "$pkg"; then have=yes; fi
  done
  [ "$have" = yes ] || missing="$missing $want"
done
[ -z "$missing" ] && exit 0

if [ "$(id -u)" -eq 0 ]; then
  SUDO=""
elif command -v sudo >/dev/null 2>&1; then
  SUDO="sudo"
else
  echo "These Debian packages are missing:$(echo "$missing" | tr '|' '/')" >&2
  echo "Installing them needs root, and sudo is not installed: run this as root, or" >&2
  echo "install them as root with apt-get, then run it again." >&2
  exit 1
fi
echo "Installing:$missing"
$SUDO apt-get update
chosen=""
for want in $missing; do
  pick=""
  for pkg in $(echo "$want" | tr '|' ' '); do
    if [ -z "$pick" ] && offered "$pkg"; then pick=$pkg; fi
  done
  if [ -z "$pick" ]; then
    echo "apt offers none of: $(echo "$want" | tr '|' ' ') (is this Debian 12 or 13 with 'main'?)" >&2
    exit 1
  fi
  chosen="$chosen $pick"
done
# shellcheck disable=SC2086
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y --no-install-recommends $chosen
