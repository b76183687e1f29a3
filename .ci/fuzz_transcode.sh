#!/bin/sh
# Builds the E-AC-3 to AC-3 transcoder's libFuzzer target (preset "fuzz",
# clang with ASan/UBSan) and runs it for a bounded time (FUZZ_SECONDS,
# default 60) on a seed corpus of real E-AC-3 frames cut at run time from
# the public samples and the generated test streams. Exits non-zero when the
# fuzzer finds a crash or an output frame that does not verify.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${FUZZ_SECONDS:-60}
build="$root/build/fuzz"

cd "$root"
cmake --preset fuzz >/dev/null
cmake --build "$build" -j2 --target transcode_frame_fuzzer

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
sh "$root/tests/fixtures/gen_ac3.sh" "$build/fixtures"
set --
for f in "$root"/../shared/samples/public/*.eac3 "$root"/../shared/samples/public/*.ec3 \
         "$build"/fixtures/*.eac3; do
  [ -e "$f" ] && set -- "$@" "$f"
done
python3 "$root/fuzz/ac3_seed_corpus.py" "$work/corpus" "$@"

"$build/fuzz/transcode_frame_fuzzer" -max_total_time="$seconds" -rss_limit_mb=2048 \
  -print_final_stats=1 -artifact_prefix="$work/" "$work/corpus"
