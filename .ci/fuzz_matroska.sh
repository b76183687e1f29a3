#!/bin/sh
# Fuzzes the Matroska writer and the stream headers it reads (parameter
# sets, sequence and ADTS headers, LATM configuration, subtitling
# descriptor) for a bounded time from the committed seeds in
# fuzz/corpus/matroska_muxer_fuzzer/.
set -eu
exec sh "$(dirname "$0")/run_fuzzer.sh" matroska_muxer_fuzzer
