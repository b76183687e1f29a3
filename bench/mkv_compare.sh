#!/bin/sh
# Matroska output side by side with the two usual ways of making it from a
# conversion: kelvor-cli --format mkv against kelvor-cli --format ts followed
# by mkvmerge of that TS, and by ffmpeg -c copy -f matroska of it. Prints,
# per input, the seconds and bytes of each, and the Matroska files' sizes
# relative to the smallest of the peers'.
#
# usage: bench/mkv_compare.sh KELVOR_CLI INPUT.ts... (work files go to a
# temporary folder, removed at the end)
set -eu
cli=${1:?usage: mkv_compare.sh KELVOR_CLI INPUT.ts...}
shift
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkv=yes
if ! "$cli" convert --help 2>&1 | grep -q 'mkv'; then
  echo "$cli writes no Matroska yet (no --format mkv): its columns stay empty" >&2
  mkv=no
fi

seconds() {  # COMMAND...: wall-clock seconds of the command, its output discarded
  start=$(date +%s.%N)
  "$@" >/dev/null 2>&1 || echo "failed: $*" >&2
  end=$(date +%s.%N)
  echo "$start $end" | awk '{printf "%.2f", $2 - $1}'
}

merge() {  # mkvmerge's status 1 means warnings only (B frames of an open GOP, say)
  mkvmerge -q -o "$1" "$2"
  [ $? -le 1 ]
}

printf '%-28s %8s %8s %8s %8s | %11s %11s %11s %11s | %8s %8s\n' input ts_s mkv_s mm_s ff_s \
  ts_bytes mkv_bytes mkvmerge ffmpeg vs_mm vs_ff
for input in "$@"; do
  name=$(basename "$input" .ts)
  t_ts=$(seconds "$cli" convert -q --overwrite --format ts "$input" "$work/out.ts")
  t_mkv=-
  [ "$mkv" = yes ] && t_mkv=$(seconds "$cli" convert -q --overwrite --format mkv "$input" "$work/out.mkv")
  t_mm=$(seconds merge "$work/mm.mkv" "$work/out.ts")
  t_ff=$(seconds ffmpeg -nostdin -v error -y -i "$work/out.ts" -map 0 -c copy -f matroska "$work/ff.mkv")
  s_ts=$(stat -c %s "$work/out.ts")
  s_mkv=$(stat -c %s "$work/out.mkv" 2>/dev/null || echo 0)
  s_mm=$(stat -c %s "$work/mm.mkv")
  s_ff=$(stat -c %s "$work/ff.mkv")
  vs_mm=-
  vs_ff=-
  if [ "$s_mkv" -gt 0 ]; then
    vs_mm=$(echo "$s_mkv $s_mm" | awk '{printf "%.2f%%", ($1 / $2 - 1) * 100}')
    vs_ff=$(echo "$s_mkv $s_ff" | awk '{printf "%.2f%%", ($1 / $2 - 1) * 100}')
  fi
  printf '%-28s %8s %8s %8s %8s | %11s %11s %11s %11s | %8s %8s\n' "$name" "$t_ts" "$t_mkv" "$t_mm" "$t_ff" \
    "$s_ts" "$s_mkv" "$s_mm" "$s_ff" "$vs_mm" "$vs_ff"
  rm -f "$work"/*.mkv "$work/out.ts"
done
