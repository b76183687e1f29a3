#!/bin/sh
# Fuzzes the scan's PMT parser and probes (MPEG audio, AC-3, video) for a
# bounded time from the committed seeds in fuzz/corpus/scan_parsers_fuzzer/.
set -eu
exec sh "$(dirname "$0")/run_fuzzer.sh" scan_parsers_fuzzer
