#!/bin/sh
# Regenerates the table of output hashes (scripts/output-hashes.sh) and
# compares it, row for row, with tests/output-hashes.txt: any change of any
# output byte, exit status or offered track fails here with the rows that
# moved. A change that is meant to alter an output updates the table in the
# same commit.
set -eu
cli=${1:?usage: check_output_hashes.sh KELVOR_CLI FIXTURES SAMPLES TABLE}
fixtures=${2:?}
samples=${3:?}
table=${4:?}
here=$(cd "$(dirname "$0")/.." && pwd)
now=$(mktemp)
want=$(mktemp)
trap 'rm -f "$now" "$want"' EXIT
sh "$here/scripts/output-hashes.sh" "$cli" "$fixtures" "$samples" >"$now"
grep -v '^#' "$table" >"$want"
if ! diff -u "$want" "$now"; then
  echo "outputs differ from $table (lines with - are the table, + this build)" >&2
  exit 1
fi
echo "$(wc -l <"$now") outputs as in the table"
