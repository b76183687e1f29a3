#!/bin/sh
# Fuzzes whole runs on transport streams (the scan, then the conversion
# driver with its handlers and the multiplexer, in every output format) for a
# bounded time from the committed seeds in fuzz/corpus/convert_conversion_fuzzer/.
set -eu
exec sh "$(dirname "$0")/run_fuzzer.sh" convert_conversion_fuzzer
