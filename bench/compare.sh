#!/bin/sh
# Each of kelvor-cli's tasks beside its peers, in one run, with the ratios:
#   TS -> MPG / TS / M2TS   beside cp and ffmpeg -c copy (one >= 400 MiB TS)
#   TS -> M2TS on the disk  beside cp, each followed by an fsync of its output
#                           ("todisk"): without it, cp ends with its copy still
#                           in the page cache, while our direct writes have
#                           reached the disk
#   AC-3 5.1 -> WAV         beside ffmpeg's AC-3 decoder
#   WAV -> MP2 384k         beside twolame and ffmpeg's mp2 encoder
#   E-AC-3 -> AC-3          beside ffmpeg (its E-AC-3 decoder + AC-3 encoder)
# Every command reads its input from the page cache (read once before) and
# writes to WORK_DIR. Each figure is the best of RUNS: wall seconds, CPU
# seconds (user + system) and peak RSS, from /usr/bin/time.
#
# usage: bench/compare.sh KELVOR_CLI [SOURCE_TS] [SIZE_MIB] [RUNS] [WORK_DIR]
# SOURCE_TS (default: 60 s of MPEG-2 + MP2 + AC-3 made here with ffmpeg) is
# repeated with continuous time stamps up to SIZE_MIB (default 420). Every
# file made here is removed at the end unless WORK_DIR was given.
set -eu
cli=${1:?usage: compare.sh KELVOR_CLI [SOURCE_TS] [SIZE_MIB] [RUNS] [WORK_DIR]}
src=${2:-}
size_mib=${3:-420}
runs=${4:-3}
here=$(cd "$(dirname "$0")" && pwd)
if [ -n "${5:-}" ]; then
  work=$5
  mkdir -p "$work"
else
  work=$(mktemp -d)
  trap 'rm -rf "$work"' EXIT
fi
ff() { ffmpeg -nostdin -v error -y "$@"; }
ffq="ffmpeg -nostdin -v error -y"

# Inputs, made once per work folder.
if [ -z "$src" ]; then
  src="$work/source.ts"
  [ -s "$src" ] || ff -f lavfi -i "testsrc2=size=720x576:rate=25" -f lavfi -i "sine=440:r=48000" \
    -f lavfi -i "anoisesrc=r=48000:a=0.2" -t 60 -map 0 -map 1 -map 2 \
    -c:v mpeg2video -b:v 8M -g 12 -bf 2 -c:a:0 mp2 -b:a:0 256k -c:a:1 ac3 -b:a:1 448k -ac:a:1 2 "$src"
fi
[ -s "$work/big.ts" ] || python3 "$here/repeat_ts.py" "$src" "$work/big.ts" "$size_mib"
[ -s "$work/in.wav" ] || ff -f lavfi -i "anoisesrc=r=48000:a=0.25:c=pink" -f lavfi -i "sine=440:r=48000" \
  -filter_complex "[0][1]amix=inputs=2,aformat=channel_layouts=stereo" -t 600 -c:a pcm_s16le "$work/in.wav"
[ -s "$work/in.ac3" ] || ff -f lavfi -i "anoisesrc=r=48000:a=0.25:c=pink" -t 600 \
  -af "aformat=channel_layouts=5.1" -c:a ac3 -b:a 448k "$work/in.ac3"
[ -s "$work/in.eac3" ] || ff -i "$work/in.ac3" -c:a eac3 -b:a 640k "$work/in.eac3"
bytes=$(stat -c %s "$work/big.ts")

# best NAME COMMAND...: prints "NAME wall cpu rss_kib", the best of $runs.
best() {
  name=$1; shift
  b_wall=""; b_cpu=""; b_rss=""
  i=0
  while [ "$i" -lt "$runs" ]; do
    rm -f "$work"/out.* "$work"/copy.ts
    /usr/bin/time -f "%e %U %S %M" -o "$work/time.txt" "$@" >/dev/null 2>&1 || true
    read -r w u s m < "$work/time.txt"
    c=$(echo "$u $s" | awk '{print $1 + $2}')
    if [ -z "$b_wall" ] || awk -v a="$w" -v b="$b_wall" 'BEGIN{exit !(a<b)}'; then b_wall=$w; fi
    if [ -z "$b_cpu" ] || awk -v a="$c" -v b="$b_cpu" 'BEGIN{exit !(a<b)}'; then b_cpu=$c; fi
    if [ -z "$b_rss" ] || [ "$m" -lt "$b_rss" ]; then b_rss=$m; fi
    i=$((i + 1))
  done
  echo "$name $b_wall $b_cpu $b_rss"
}

for f in big.ts in.wav in.ac3 in.eac3; do cat "$work/$f" >/dev/null; done
o=$work/out
{
  best cp cp "$work/big.ts" "$work/copy.ts"
  best kelvor-mpg "$cli" convert -q --format mpg "$work/big.ts" "$o.mpg"
  best ffmpeg-mpg $ffq -i "$work/big.ts" -map 0:v -map 0:a -c copy -f vob "$o.mpg"
  best kelvor-ts "$cli" convert -q --format ts "$work/big.ts" "$o.ts"
  best ffmpeg-ts $ffq -i "$work/big.ts" -map 0:v -map 0:a -c copy -f mpegts "$o.ts"
  best kelvor-m2ts "$cli" convert -q --format m2ts "$work/big.ts" "$o.m2ts"
  best ffmpeg-m2ts $ffq -i "$work/big.ts" -map 0:v -map 0:a -c copy -f mpegts -mpegts_m2ts_mode 1 "$o.m2ts"
  best kelvor-todisk sh -c "\"$cli\" convert -q --format m2ts \"$work/big.ts\" \"$o.m2ts\" && sync \"$o.m2ts\""
  best cp-todisk sh -c "cp \"$work/big.ts\" \"$work/copy.ts\" && sync \"$work/copy.ts\""
  best kelvor-ac3dec "$cli" decode-ac3 "$work/in.ac3" "$o.wav"
  best ffmpeg-ac3dec $ffq -i "$work/in.ac3" -ac 2 -c:a pcm_f32le "$o.wav"
  best kelvor-mp2enc "$cli" encode-mp2 "$work/in.wav" "$o.mp2"
  best twolame-mp2enc twolame --quiet -b 384 "$work/in.wav" "$o.mp2"
  best ffmpeg-mp2enc $ffq -i "$work/in.wav" -c:a mp2 -b:a 384k "$o.mp2"
  best kelvor-ac3enc "$cli" transcode-eac3 "$work/in.eac3" "$o.ac3"
  best ffmpeg-ac3enc $ffq -i "$work/in.eac3" -c:a ac3 -b:a 640k "$o.ac3"
} > "$work/results.txt"
rm -f "$work"/out.* "$work"/copy.ts

# Each kelvor row against every peer of its task (rows named *-TASK).
awk -v mib="$(awk -v b="$bytes" 'BEGIN{printf "%.0f", b/1048576}')" -v runs="$runs" '
  { wall[$1]=$2; cpu[$1]=$3; rss[$1]=$4; order[NR]=$1 }
  END {
    printf "remux input %s MiB; best of %s runs\n", mib, runs
    printf "%-16s %8s %8s %9s\n", "command", "wall s", "cpu s", "RSS MiB"
    for (i = 1; i <= NR; i++) { n = order[i]; printf "%-16s %8.2f %8.2f %9.1f\n", n, wall[n], cpu[n], rss[n] / 1024 }
    printf "\n%-12s %-16s %10s %10s\n", "kelvor task", "peer", "wall ratio", "cpu ratio"
    for (i = 1; i <= NR; i++) {
      n = order[i]; if (n !~ /^kelvor-/) continue
      task = substr(n, 8)
      for (j = 1; j <= NR; j++) {
        p = order[j]
        if (p == n || (p !~ ("-" task "$") && !(p == "cp" && task ~ /^(mpg|ts|m2ts)$/))) continue
        printf "%-12s %-16s %10.2f %10.2f\n", task, p, wall[n] / wall[p], (cpu[p] > 0 ? cpu[n] / cpu[p] : 0)
      }
    }
  }' "$work/results.txt"
