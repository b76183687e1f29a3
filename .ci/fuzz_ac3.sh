#!/bin/sh
# Fuzzes the AC-3 decoder (ac3dec_decode_frame_fuzzer) for a bounded time on
# seeds of real frames cut at run time from the public samples and the
# generated test streams (see run_fuzzer.sh for the build, the time and the
# kept crashing inputs).
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build/fuzz"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
sh "$root/tests/fixtures/gen_ac3.sh" "$build/fixtures"
set --
for f in "$root"/tests/samples/public/*.ac3 "$root"/tests/samples/public/*.eac3 \
         "$root"/tests/samples/public/*.ec3 "$build"/fixtures/*.ac3 "$build"/fixtures/*.eac3; do
  [ -e "$f" ] && set -- "$@" "$f"
done
python3 "$root/fuzz/ac3_seed_corpus.py" "$work/corpus" "$@"
sh "$root/.ci/run_fuzzer.sh" ac3dec_decode_frame_fuzzer "$work/corpus"
