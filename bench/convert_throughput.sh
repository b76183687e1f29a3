#!/bin/sh
# Throughput of kelvor-cli convert on a large generated TS, side by side with
# ffmpeg -c copy to a program stream and with cp of the same file: seconds,
# MB/s, ratio to cp and peak RSS (from /usr/bin/time -v).
#
# usage: bench/convert_throughput.sh KELVOR_CLI SOURCE_TS [SIZE_MIB] [WORK_DIR]
# SOURCE_TS is repeated, with continuity counters and time stamps made
# consistent, until the input reaches SIZE_MIB (default 2100). Every file made
# here is removed at the end.
set -eu
cli=${1:?usage: convert_throughput.sh KELVOR_CLI SOURCE_TS [SIZE_MIB] [WORK_DIR]}
src=${2:?source TS}
size_mib=${3:-2100}
work=${4:-$(mktemp -d)}
here=$(cd "$(dirname "$0")" && pwd)
mkdir -p "$work"
trap 'rm -f "$work/big.ts" "$work/out.mpg" "$work/out.ts" "$work/ff.mpg" "$work/copy.ts"' EXIT

python3 "$here/repeat_ts.py" "$src" "$work/big.ts" "$size_mib"
bytes=$(stat -c %s "$work/big.ts")

measure() {  # NAME COMMAND...
  name=$1; shift
  sync; rm -f "$work/time.txt"
  /usr/bin/time -v -o "$work/time.txt" "$@" >/dev/null 2>&1 || true
  secs=$(awk -F': ' '/Elapsed \(wall clock\)/ {n=split($2,t,":"); s=0; for(i=1;i<=n;i++) s=s*60+t[i]; print s}' "$work/time.txt")
  rss=$(awk -F': ' '/Maximum resident set size/ {print $2}' "$work/time.txt")
  echo "$name $secs $rss"
}

{
  measure cp cp "$work/big.ts" "$work/copy.ts"
  rm -f "$work/copy.ts"
  measure kelvor-mpg "$cli" convert -q --overwrite --format mpg "$work/big.ts" "$work/out.mpg"
  rm -f "$work/out.mpg"
  measure kelvor-ts "$cli" convert -q --overwrite --format ts "$work/big.ts" "$work/out.ts"
  rm -f "$work/out.ts"
  measure ffmpeg-vob ffmpeg -nostdin -v error -y -i "$work/big.ts" -map 0 -c copy -f vob "$work/ff.mpg"
  rm -f "$work/ff.mpg"
} > "$work/results.txt"

awk -v bytes="$bytes" 'BEGIN { printf "input %.0f MiB\n%-12s %9s %9s %12s %12s\n", bytes/1048576, "tool", "seconds", "MB/s", "time vs cp", "peak RSS MiB" }
  { name[NR]=$1; secs[NR]=$2; rss[NR]=$3; if ($1=="cp") cp=$2 }
  END { for (i=1;i<=NR;i++) printf "%-12s %9.2f %9.1f %12.2f %12.1f\n", name[i], secs[i], bytes/1e6/secs[i], secs[i]/cp, rss[i]/1024 }' "$work/results.txt"
