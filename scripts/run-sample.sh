#!/bin/sh
# The main job on the bundled sample: builds kelvor-cli if needed, lists the
# tracks of samples/sample_mpeg2.ts and converts it, with all its audio
# tracks, to an MPEG-2 program stream in build/sample/sample_mpeg2.mpg.
# The build shows one line that counts its steps; its whole log goes to
# build/sample/build.log, named when the build fails.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
# shellcheck disable=SC2046
"$root/scripts/ensure-packages.sh" $(cat "$root/scripts/build-packages.txt")
build="$root/build/sample"
log="$build/build.log"
mkdir -p "$build"
fail() {
  printf '\nThe build failed; its log is %s. The last lines:\n' "$log" >&2
  tail -n 20 "$log" >&2
  exit 1
}
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DKELVOR_BUILD_TESTS=OFF -DKELVOR_BUILD_GUI=OFF >"$log" 2>&1 || fail
# Ninja's "[k/n] ..." lines become one line that counts up.
if [ -t 1 ]; then
  { cmake --build "$build" --target kelvor-cli -j2 2>&1 || echo "kelvor-build-failed"; } | tee -a "$log" |
    awk '/^\[[0-9]+\/[0-9]+\]/ { printf "\rBuilding kelvor-cli: %s", $1; fflush() } END { if (NR) print "" }'
else
  { cmake --build "$build" --target kelvor-cli -j2 2>&1 || echo "kelvor-build-failed"; } >>"$log"
fi
! grep -q '^kelvor-build-failed$' "$log" || fail
cli="$build/src/kelvor-cli"
"$cli" scan "$root/samples/sample_mpeg2.ts"
"$cli" convert --overwrite "$root/samples/sample_mpeg2.ts" "$build/sample_mpeg2.mpg"
ls -l "$build/sample_mpeg2.mpg"
