#!/bin/sh
# Reception-drop measurements: impairs a generated stream, converts it with
# kelvor-cli (program stream) and with ffmpeg -c copy (same container), and
# prints the worst audio/video marker offset and the largest PTS steps of each.
#
# usage: bench/convert_drops.sh KELVOR_CLI FIXTURE_DIR [WORK_DIR]
set -eu
cli=${1:?usage: convert_drops.sh KELVOR_CLI FIXTURE_DIR [WORK_DIR]}
fixtures=${2:?fixture directory}
work=${3:-$(mktemp -d)}
here=$(cd "$(dirname "$0")/.." && pwd)
impair="python3 $here/tests/fixtures/impair_ts.py"
measure="python3 $here/tests/fixtures/measure_markers.py"
mkdir -p "$work"

# Pictures whose time stamps no decode time can follow (two pictures on one
# time stamp, or a picture stamped before one a decoder shows ahead of it), as
# ffmpeg reports them when it muxes the video in decode order.
order_complaints() {
  ffmpeg -nostdin -v error -i "$1" -map 0:v -c copy -f null - 2>&1 | grep -c monoton || true
}

# One line: name, tool, complete markers, worst offset over all markers, worst
# offset away from the drop (markers more than 2.5 s from it), largest PTS
# steps, decode-order complaints.
summary() {
  python3 - "$1" "$2" "$3" "$4" "$5" <<'PY'
import json, sys
name, tool, path, drop, order = sys.argv[1:6]
m = json.load(open(path))
drop = float(drop)
worst = far = 0.0
for row in m.get("markers", []):
    offs = [o for o in row.get("offset_ms", []) if o is not None]
    if not offs or row.get("video") is None:
        continue
    w = max(abs(o) for o in offs)
    worst = max(worst, w)
    # Output times start near 0; the drop sits about a second before its input time.
    if drop < 0 or abs(row["video"] - (drop - 1)) > 2.5:
        far = max(far, w)
v = m.get("video", {}).get("max_pts_step_ms")
a = [s.get("max_pts_step_ms") for s in m.get("audio", [])]
n = m.get("summary", {}).get("complete_markers")
print(f"{name:22s} {tool:7s} markers {n}  worst {worst:6.1f} ms  away from drop {far:6.1f} ms  "
      f"largest PTS step: video {v} ms, audio {a} ms  order complaints {order}")
PY
}

run_case() {  # NAME INPUT OPS...
  name=$1; src=$2; shift 2
  in="$work/$name.ts"
  $impair "$fixtures/$src" "$in" "$@" >/dev/null
  "$cli" convert -q --overwrite "$in" "$work/$name.mpg" 2>/dev/null || true
  # The VOB muxer takes no E-AC-3: H.264 inputs are copied to TS instead.
  case $src in h264*) ffmt=mpegts ;; *) ffmt=vob ;; esac
  ffmpeg -nostdin -v error -y -i "$in" -map 0:v -map 0:a -c copy -f $ffmt "$work/$name.ff.mpg" 2>/dev/null || true
  $measure "$work/$name.mpg" --json > "$work/$name.json" 2>/dev/null || echo '{}' > "$work/$name.json"
  $measure "$work/$name.ff.mpg" --json > "$work/$name.ff.json" 2>/dev/null || echo '{}' > "$work/$name.ff.json"
  summary "$name" kelvor "$work/$name.json" "${DROP_AT:--1}" "$(order_complaints "$work/$name.mpg")"
  summary "$name" ffmpeg "$work/$name.ff.json" "${DROP_AT:--1}" "$(order_complaints "$work/$name.ff.mpg")"
}

DROP_AT=20 run_case mpeg2_drop_40ms mpeg2_mp2_long.ts drop:20:0.04
DROP_AT=20 run_case mpeg2_drop_1s mpeg2_mp2_long.ts drop:20:1
DROP_AT=20 run_case mpeg2_drop_3s mpeg2_mp2_long.ts drop:20:3
DROP_AT=20 run_case mpeg2_cut_3s mpeg2_mp2_long.ts cut:20:3
DROP_AT=20 run_case mpeg2_audio_drop_1s mpeg2_mp2_long.ts dropaudio:20:1
DROP_AT=4 run_case h264_drop_3s h264_eac3_mp2.ts drop:4:3
DROP_AT=4 run_case h264_drop_1s h264_eac3_mp2.ts drop:4:1
DROP_AT=-1 run_case mpeg2_dup_flip mpeg2_mp2_ac3.ts dup:50 flip:9:40
# The two impairments of the case above one by one.
DROP_AT=-1 run_case mpeg2_dup mpeg2_mp2_ac3.ts dup:50
DROP_AT=-1 run_case mpeg2_flip mpeg2_mp2_ac3.ts flip:9:40
