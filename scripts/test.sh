#!/bin/sh
# Installs what is missing, builds, and runs every test twice: in an
# optimised build and in a build with AddressSanitizer and
# UndefinedBehaviorSanitizer; the Windows build's under wine. Then runs the
# fuzzers for a bounded time, and builds, lints, installs and removes the
# Debian package.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
# shellcheck disable=SC2046
"$root/scripts/ensure-packages.sh" $(cat "$root/scripts/test-packages.txt")
cd "$root"
jobs=$(nproc)

cmake --preset release
cmake --build --preset release -j"$jobs"
ctest --preset release -j"$jobs"

# The same core and command line cross-built for Windows, run under wine
# against the Linux build just made.
JOBS="$jobs" "$root/scripts/test-windows.sh"

cmake --preset asan
cmake --build --preset asan -j"$jobs"
ctest --preset asan -j"$jobs"

for fuzz in "$root"/.ci/fuzz_*.sh; do
  [ -e "$fuzz" ] || continue
  sh "$fuzz"
done

JOBS="$jobs" "$root/scripts/package.sh" --check
echo "All tests passed."
