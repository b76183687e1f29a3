#!/bin/sh
# Prints one line per conversion: input, container, audio choice, exit
# status and the SHA-256 of the output, for every transport stream in the
# given folders, every container and every audio choice the scan offers
# ("all" and each PID). A change that must not alter any output is proven by
# the same table before and after:
#   scripts/output-hashes.sh build/release/src/kelvor-cli build/fixtures tests/samples/public > after.txt
# Streams with reception drops, made from the generated ones by the impair
# tool (the cases of the command-line drop tests), are added to the folders.
set -eu
cli=${1:?usage: output-hashes.sh KELVOR_CLI FOLDER...}
shift
here=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/drops"
for dir in "$@"; do
  while read -r name ops; do
    [ -f "$dir/$name" ] || continue
    tag=$(printf '%s' "$ops" | tr ' :.' '+~_')
    python3 "$here/tests/fixtures/impair_ts.py" "$dir/$name" "$work/drops/${name%.ts}@$tag.ts" $ops >/dev/null
  done <<'CASES'
mpeg2_mp2_long.ts cut:3:0.3 cut:8:0.2 cut:14:0.45
mpeg2_mp2_long.ts cut:5.5:0.1 cut:11:0.07 cut:17.3:0.6 cut:25:1.5 cut:40:0.25
mpeg2_mp2_long.ts drop:8.63:1.29
mpeg2_mp2_long.ts drop:10:12
mpeg2_mp2_ac3.ts drop:2:1.5 dup:50
h264_eac3_mp2.ts drop:4:3
h264_eac3_mp2.ts noaud cut:2:0.5
CASES
done
set -- "$@" "$work/drops"
for dir in "$@"; do
  for input in "$dir"/*.ts "$dir"/*.m2ts "$dir"/*.mts; do
    [ -f "$input" ] || continue
    choices="all $("$cli" scan "$input" 2>/dev/null | awk -F'\t' '$3 ~ /^0x/ {print $3}' | tr '\n' ' ')"
    for format in mpg ts m2ts mkv; do
      for audio in $choices; do
        out="$work/out.$format"
        rm -f "$out"
        status=0
        "$cli" convert -q --format "$format" --audio "$audio" "$input" "$out" >/dev/null 2>&1 || status=$?
        if [ -f "$out" ]; then hash=$(sha256sum "$out" | cut -c1-64); else hash=-; fi
        printf '%s\t%s\t%s\t%s\t%s\n' "$(basename "$input")" "$format" "$audio" "$status" "$hash"
      done
    done
  done
done
