#!/bin/sh
# Remakes the committed seed corpora of the scan and conversion fuzz targets
# (fuzz/corpus/) from the public samples and a few half-second streams made
# here with ffmpeg: small pictures, so that video and audio packets mix from
# the first kilobytes and a whole run fits in a seed of a few tens of KB.
# usage: sh fuzz/make_corpus.sh
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
v="-f lavfi -i testsrc=size=128x96:rate=25:duration=0.5"
a="-f lavfi -i sine=frequency=440:sample_rate=48000:duration=0.5"
ff() { ffmpeg -loglevel error -y "$@"; }
# shellcheck disable=SC2086
{
  ff $v $a -c:v mpeg2video -g 6 -b:v 300k -c:a mp2 -b:a 128k -ac 2 -f mpegts "$work/mpeg2_mp2.ts"
  ff $v $a -c:v libx264 -g 6 -b:v 200k -bsf:v h264_metadata=aud=insert -c:a ac3 -b:a 192k \
     -f mpegts "$work/h264_ac3.ts"
  ff $v $a $a -map 0 -map 1 -map 2 -c:v mpeg2video -g 6 -b:v 300k -c:a:0 mp2 -c:a:1 ac3 \
     -metadata:s:a:0 language=eng -metadata:s:a:1 language=deu -f mpegts -mpegts_m2ts_mode 1 \
     "$work/mpeg2_mp2_ac3.m2ts"
  ff $v $a $a -map 0 -map 1 -map 2 -c:v libx264 -g 6 -b:v 200k -c:a:0 eac3 -c:a:1 mp2 \
     -f mpegts "$work/h264_eac3_mp2.ts"
}
for target in scan_parsers_fuzzer convert_assemblers_fuzzer convert_conversion_fuzzer; do
  rm -rf "${root:?}/fuzz/corpus/$target"
done
python3 "$root/fuzz/make_corpus.py" "$root/fuzz/corpus" "$root"/tests/samples/public/*.ts "$work"/*.ts "$work"/*.m2ts
