#!/bin/sh
# Shared by the .ci/fuzz_*.sh scripts. Builds one libFuzzer target (preset
# "fuzz", clang with ASan/UBSan), runs each kept crashing input in
# fuzz/regressions/<target>/ once, then fuzzes for FUZZ_SECONDS (default 12)
# from the committed seeds in fuzz/corpus/<target>/, the inputs that longer
# local runs found to reach code the seeds do not (fuzz/discovered/<target>/,
# kept apart from the seeds fuzz/make_corpus.sh remakes) and any seed folders
# given. FUZZ_OPTIONS adds libFuzzer options. Exits non-zero on a crash; the
# crashing input is kept as build/fuzz/artifacts/<target>-crash-... (the
# working corpus is temporary, the artifacts are not).
# usage: run_fuzzer.sh TARGET [SEED_DIR...]
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
target=$1
shift
seconds=${FUZZ_SECONDS:-12}
build="$root/build/fuzz"

cd "$root"
cmake --preset fuzz >/dev/null
cmake --build "$build" -j2 --target "$target"

artifacts="$build/artifacts"
mkdir -p "$artifacts"
if [ -d "$root/fuzz/regressions/$target" ]; then
  # shellcheck disable=SC2046
  "$build/fuzz/$target" -rss_limit_mb=2048 $(find "$root/fuzz/regressions/$target" -type f | sort)
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/corpus"
for seeds in "$root/fuzz/corpus/$target" "$root/fuzz/discovered/$target" "$@"; do
  [ -d "$seeds" ] && cp -r "$seeds/." "$work/corpus/"
done

# shellcheck disable=SC2086
"$build/fuzz/$target" -max_total_time="$seconds" -rss_limit_mb=2048 -print_final_stats=1 \
  -artifact_prefix="$artifacts/$target-" ${FUZZ_OPTIONS:-} "$work/corpus"
