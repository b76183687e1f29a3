#!/bin/sh
# Prints one line per conversion: input, container, audio choice, exit
# status and the SHA-256 of the output, for every transport stream in the
# given folders, every container and every audio choice the scan offers
# ("all" and each PID). A change that must not alter any output is proven by
# the same table before and after:
#   scripts/output-hashes.sh build/release/src/kelvor-cli build/fixtures tests/samples/public > after.txt
set -eu
cli=${1:?usage: output-hashes.sh KELVOR_CLI FOLDER...}
shift
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
for dir in "$@"; do
  for input in "$dir"/*.ts "$dir"/*.m2ts "$dir"/*.mts; do
    [ -f "$input" ] || continue
    choices="all $("$cli" scan "$input" 2>/dev/null | awk -F'\t' '$3 ~ /^0x/ {print $3}' | tr '\n' ' ')"
    for format in mpg ts m2ts; do
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
