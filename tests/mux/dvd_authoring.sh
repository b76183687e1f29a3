#!/bin/sh
# DVD output end to end: an MPEG-2 + MP2 + AC-3 recording converted with
# --format dvd (as it is, and with the AC-3 converted to MPEG audio) is
# authored by dvdauthor into a VIDEO_TS folder, and ffmpeg decodes every
# stream of the title set's VOB without an error and to the same end as the
# plain MPG of the same recording.
#   dvd_authoring.sh KELVOR_CLI FIXTURE_DIR WORK_DIR
set -eu
cli=${1:?usage: dvd_authoring.sh KELVOR_CLI FIXTURE_DIR WORK_DIR}
input=${2:?}/mpeg2_mp2_ac3.ts
work=${3:?}
for tool in dvdauthor ffmpeg ffprobe; do
  command -v "$tool" >/dev/null || { echo "FAIL: $tool is not installed (scripts/test-packages.txt)"; exit 1; }
done
[ -f "$input" ] || { echo "FAIL: $input is missing (tests/fixtures/make_streams.sh)"; exit 1; }
rm -rf "$work"
mkdir -p "$work"
export VIDEO_FORMAT=PAL  # the menus' video standard; the fixture is 576-line video

# Codec, stream id, packets and last time stamp of each elementary stream.
streams() {
  ffprobe -v error -show_entries stream=index,codec_name,id -of csv=p=0 "$1" |
    while IFS=, read -r index codec id _; do
      case $codec in "" | dvd_nav_packet) continue ;; esac
      ffprobe -v error -select_streams "$index" -show_entries packet=pts_time -of csv=p=0 "$1" </dev/null |
        awk -v s="$codec $id" '$1 != "N/A" { n++; if ($1 > last) last = $1 } END { print s, n, last }'
    done | sort -k2
}

"$cli" convert -q --overwrite "$input" "$work/plain.mpg" >/dev/null 2>&1
failed=0
for variant in as-is to-mpeg-audio; do
  option=
  [ "$variant" = to-mpeg-audio ] && option=--to-mpeg-audio
  out="$work/$variant.mpg"
  status=0
  "$cli" convert -q --overwrite --format dvd $option "$input" "$out" >"$work/$variant.log" 2>&1 || status=$?
  if [ "$variant" = to-mpeg-audio ] && [ "$status" = 2 ] && grep -q "not available" "$work/$variant.log"; then
    echo "SKIP $variant: this build cannot convert AC-3 to MPEG audio"
    continue
  fi
  if [ "$status" != 0 ]; then
    echo "FAIL $variant: kelvor-cli exit status $status"; cat "$work/$variant.log"; failed=1; continue
  fi
  dvd="$work/$variant.dvd"
  if ! dvdauthor -o "$dvd" -t "$out" >"$work/$variant.dvdauthor.log" 2>&1 ||
     ! dvdauthor -o "$dvd" -T >>"$work/$variant.dvdauthor.log" 2>&1 ||
     grep -q "^ERR" "$work/$variant.dvdauthor.log"; then
    echo "FAIL $variant: dvdauthor refused the output"; grep -E "^(ERR|WARN)" "$work/$variant.dvdauthor.log" | sort | uniq -c
    failed=1; continue
  fi
  vob="$dvd/VIDEO_TS/VTS_01_1.VOB"
  errors=$(ffmpeg -nostdin -v error -i "$vob" -map 0 -f null - 2>&1 || echo "ffmpeg failed")
  if [ -n "$errors" ]; then
    echo "FAIL $variant: ffmpeg reports errors in the VOB:"; echo "$errors" | head -20; failed=1; continue
  fi
  # Every stream of the MPG reaches the VOB whole: the same packets, to the same end.
  if [ "$(streams "$out")" != "$(streams "$vob")" ]; then
    echo "FAIL $variant: the VOB's streams differ from the MPG's (packets, last time stamp):"
    streams "$out"; echo "--"; streams "$vob"; failed=1; continue
  fi
  # ... and the DVD output carries what the plain MPG carries.
  if [ "$variant" = as-is ] && [ "$(streams "$out")" != "$(streams "$work/plain.mpg")" ]; then
    echo "FAIL $variant: the DVD output's streams differ from the plain MPG's:"
    streams "$out"; echo "--"; streams "$work/plain.mpg"; failed=1; continue
  fi
  # One video object unit per group of pictures: none cut into a picture.
  vobus=$(grep -o "fixed [0-9]* VOBUs" "$work/$variant.dvdauthor.log" | tail -1 | cut -d' ' -f2)
  gops=$(python3 -c 'import sys; print(open(sys.argv[1], "rb").read().count(b"\0\0\1\xb8"))' "$out")
  if [ "$vobus" != "$gops" ]; then
    echo "FAIL $variant: $vobus video object units for $gops groups of pictures"; failed=1; continue
  fi
  echo "PASS $variant: dvdauthor fixed $vobus VOBUs; $(streams "$vob" | tr '\n' ';')"
done
exit $failed
