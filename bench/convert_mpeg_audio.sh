#!/bin/sh
# Speed of the conversion of a 5.1 AC-3 track to MPEG audio: kelvor-cli
# convert --to-mpeg-audio beside ffmpeg decoding the same track and encoding
# it as MP2 at 384 kbit/s, video copied, both to a program stream, with
# hyperfine.
#
# usage: bench/convert_mpeg_audio.sh KELVOR_CLI FIXTURE_DIR [SIZE_MIB] [WORK_DIR]
# The input is mpeg2_mp2_ac3.ts repeated to SIZE_MIB (default 100); only its
# AC-3 track (PID 0x0102) is converted.
set -eu
cli=${1:?usage: convert_mpeg_audio.sh KELVOR_CLI FIXTURE_DIR [SIZE_MIB] [WORK_DIR]}
fixtures=${2:?fixture directory}
size_mib=${3:-100}
work=${4:-$(mktemp -d)}
here=$(cd "$(dirname "$0")" && pwd)
mkdir -p "$work"
trap 'rm -f "$work/big.ts" "$work/kelvor.mpg" "$work/ffmpeg.mpg"' EXIT

python3 "$here/repeat_ts.py" "$fixtures/mpeg2_mp2_ac3.ts" "$work/big.ts" "$size_mib"
hyperfine --warmup 1 --runs 5 --export-json "$work/mpeg_audio.json" \
  -n kelvor "$cli convert -q --overwrite --to-mpeg-audio --audio 0x0102 --format mpg $work/big.ts $work/kelvor.mpg" \
  -n ffmpeg "ffmpeg -nostdin -v error -y -i $work/big.ts -map 0:v -map 0:a:1 -c:v copy -c:a mp2 -b:a 384k -ac 2 -f vob $work/ffmpeg.mpg"
python3 - "$work/mpeg_audio.json" <<'PY'
import json, sys
r = {x["command"]: x for x in json.load(open(sys.argv[1]))["results"]}
k, f = r["kelvor"], r["ffmpeg"]
print(f"wall: kelvor {k['mean']:.3f} s, ffmpeg {f['mean']:.3f} s, ffmpeg / kelvor = {f['mean'] / k['mean']:.2f}")
# On a loaded machine the processor time compares more fairly (ffmpeg runs threads).
kc, fc = k["user"] + k["system"], f["user"] + f["system"]
print(f"cpu:  kelvor {kc:.3f} s, ffmpeg {fc:.3f} s, ffmpeg / kelvor = {fc / kc:.2f}")
PY
