#!/bin/sh
# The main job on the bundled sample: builds kelvor-cli if needed, lists the
# tracks of samples/sample_mpeg2.ts and converts it, with all its audio
# tracks, to an MPEG-2 program stream in build/sample/sample_mpeg2.mpg.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
# shellcheck disable=SC2046
"$root/scripts/ensure-packages.sh" $(cat "$root/scripts/build-packages.txt")
cmake -S "$root" -B "$root/build/sample" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DKELVOR_BUILD_TESTS=OFF -DKELVOR_BUILD_GUI=OFF >/dev/null
cmake --build "$root/build/sample" --target kelvor-cli -j2
cli="$root/build/sample/src/kelvor-cli"
"$cli" scan "$root/samples/sample_mpeg2.ts"
"$cli" convert --overwrite "$root/samples/sample_mpeg2.ts" "$root/build/sample/sample_mpeg2.mpg"
ls -l "$root/build/sample/sample_mpeg2.mpg"
