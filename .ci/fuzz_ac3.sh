#!/bin/sh
# Builds the AC-3 decoder's libFuzzer target (preset "fuzz", clang with
# ASan/UBSan) and runs it for a bounded time (FUZZ_SECONDS, default 60) on a
# seed corpus of real frames cut at run time from the public samples and the
# generated test streams. Exits non-zero when the fuzzer finds a crash; the
# crashing input is kept in build/fuzz/artifacts/ (the corpus folder is
# temporary, the artifacts are not).
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${FUZZ_SECONDS:-60}
build="$root/build/fuzz"

cd "$root"
cmake --preset fuzz >/dev/null
cmake --build "$build" -j2 --target ac3dec_decode_frame_fuzzer

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
artifacts="$build/artifacts"
mkdir -p "$artifacts"
sh "$root/tests/fixtures/gen_ac3.sh" "$build/fixtures"
set --
for f in "$root"/tests/samples/public/*.ac3 "$root"/tests/samples/public/*.eac3 \
         "$root"/tests/samples/public/*.ec3 "$build"/fixtures/*.ac3 "$build"/fixtures/*.eac3; do
  [ -e "$f" ] && set -- "$@" "$f"
done
python3 "$root/fuzz/ac3_seed_corpus.py" "$work/corpus" "$@"

"$build/fuzz/ac3dec_decode_frame_fuzzer" -max_total_time="$seconds" -rss_limit_mb=2048 \
  -print_final_stats=1 -artifact_prefix="$artifacts/" "$work/corpus"
