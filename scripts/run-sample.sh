#!/bin/sh
# The main job on the bundled sample: builds kelvor-cli if needed and runs it
# on samples/sample_mpeg2.ts.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
# shellcheck disable=SC2046
"$root/scripts/ensure-packages.sh" $(cat "$root/scripts/build-packages.txt")
cmake -S "$root" -B "$root/build/sample" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DKELVOR_BUILD_TESTS=OFF -DKELVOR_BUILD_GUI=OFF >/dev/null
cmake --build "$root/build/sample" --target kelvor-cli -j2
"$root/build/sample/src/kelvor-cli" scan "$root/samples/sample_mpeg2.ts"
