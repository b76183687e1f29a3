#!/bin/sh
# Builds the WAV -> MPEG audio encoder's libFuzzer target (preset "fuzz",
# clang with ASan/UBSan) and runs it for a bounded time (FUZZ_SECONDS,
# default 60) on a seed corpus of small WAV files in every accepted sample
# format and some refused ones. Exits non-zero when the fuzzer finds a crash.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${FUZZ_SECONDS:-60}
build="$root/build/fuzz"

cd "$root"
cmake --preset fuzz >/dev/null
cmake --build "$build" -j2 --target mpegenc_wav_encode_fuzzer

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/corpus"
n=0
for format in "-b 16 -e signed" "-b 24 -e signed" "-b 32 -e signed" "-b 32 -e float"; do
  n=$((n + 1))
  # shellcheck disable=SC2086
  sox -n -r 48000 -c 2 $format "$work/corpus/seed$n.wav" synth 700s sine 1000 vol 0.9
done
sox -n -r 48000 -c 1 -b 16 "$work/corpus/mono.wav" synth 300s sine 440
sox -n -r 44100 -c 2 -b 16 "$work/corpus/cd.wav" synth 300s sine 440
sox -n -r 48000 -c 2 -b 16 -t wavpcm "$work/corpus/loud.wav" synth 1200s square 50 vol 1

"$build/fuzz/mpegenc_wav_encode_fuzzer" -max_total_time="$seconds" -max_len=16384 -rss_limit_mb=2048 \
  -print_final_stats=1 -artifact_prefix="$work/" "$work/corpus"
