#!/bin/sh
# Encoding speed of kelvor-cli encode-mp2 beside `twolame -b 384` and ffmpeg's
# mp2 encoder at 384k, in one run, on 10 minutes of 48 kHz stereo 16-bit WAV
# (music-like: pink noise under two tones, made once with sox). Each command
# reads the same file from the page cache and writes its stream to the work
# directory; hyperfine runs them interleaved and prints the ratios.
#
# usage: bench/mp2_speed.sh KELVOR_CLI [RUNS] [WORK_DIR]
set -eu
cli=${1:?usage: mp2_speed.sh KELVOR_CLI [RUNS] [WORK_DIR]}
runs=${2:-5}
work=${3:-${TMPDIR:-/tmp}/kelvor_mp2_speed}
mkdir -p "$work"
wav="$work/10min.wav"
if [ ! -s "$wav" ]; then
  sox -n -r 48000 -b 16 -c 2 "$work/noise.wav" synth 600 pinknoise vol 0.25
  sox -n -r 48000 -b 16 -c 2 "$work/tones.wav" synth 600 sine 440 sine 2500 vol 0.2
  sox -m "$work/noise.wav" "$work/tones.wav" "$wav"
  rm -f "$work/noise.wav" "$work/tones.wav"
fi
cat "$wav" >/dev/null

hyperfine --warmup 1 --runs "$runs" --export-markdown "$work/speed.md" \
  -n kelvor "$cli encode-mp2 $wav $work/kelvor.mp2" \
  -n twolame "twolame --quiet -b 384 $wav $work/twolame.mp2" \
  -n ffmpeg "ffmpeg -v error -y -i $wav -c:a mp2 -b:a 384k $work/ffmpeg.mp2"
cat "$work/speed.md"
