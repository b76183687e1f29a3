#!/bin/sh
# Fuzzes the WAV -> MPEG audio encoder path (mpegenc_wav_encode_fuzzer) for a
# bounded time on seeds of small WAV files in every accepted sample format
# and some refused ones (see run_fuzzer.sh for the build, the time and the
# kept crashing inputs).
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
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
sox -n -r 32000 -c 1 -b 16 "$work/corpus/mono32.wav" synth 300s sine 440
sox -n -r 48000 -c 2 -b 16 -t wavpcm "$work/corpus/loud.wav" synth 1200s square 50 vol 1
# The fuzzer reads at most 16 KiB of an input: the seeds keep their first
# 16 KiB (headers that declare the whole length, then samples).
for f in "$work"/corpus/*.wav; do
  head -c 16384 "$f" > "$work/cut" && mv "$work/cut" "$f"
done
FUZZ_OPTIONS="-max_len=16384 ${FUZZ_OPTIONS:-}" sh "$root/.ci/run_fuzzer.sh" mpegenc_wav_encode_fuzzer "$work/corpus"
