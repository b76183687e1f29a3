#!/bin/sh
# Shared by the AC-3 and E-AC-3 fuzz scripts: cuts seeds of real frames at run
# time from the public samples and the generated test streams with the given
# file endings, then fuzzes TARGET from them (see run_fuzzer.sh for the build,
# the time and the kept crashing inputs).
# usage: run_syncframe_fuzzer.sh TARGET ENDING...
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
target=$1
shift
build="$root/build/fuzz"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
sh "$root/tests/fixtures/gen_ac3.sh" "$build/fixtures"
endings=$*
set --
for ending in $endings; do
  for f in "$root"/tests/samples/public/*."$ending" "$build"/fixtures/*."$ending"; do
    [ -e "$f" ] && set -- "$@" "$f"
  done
done
python3 "$root/fuzz/ac3_seed_corpus.py" "$work/corpus" "$@"
sh "$root/.ci/run_fuzzer.sh" "$target" "$work/corpus"
