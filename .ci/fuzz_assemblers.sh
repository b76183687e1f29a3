#!/bin/sh
# Fuzzes the MPEG audio and AC-3 frame assemblers, writing through the
# multiplexer to memory, for a bounded time from the committed seeds in
# fuzz/corpus/convert_assemblers_fuzzer/.
set -eu
exec sh "$(dirname "$0")/run_fuzzer.sh" convert_assemblers_fuzzer
