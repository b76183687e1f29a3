#!/bin/sh
# Fuzzes the AC-3 decoder (ac3dec_decode_frame_fuzzer) for a bounded time on
# seeds of real AC-3 and E-AC-3 frames (see run_syncframe_fuzzer.sh).
set -eu
exec sh "$(dirname "$0")/run_syncframe_fuzzer.sh" ac3dec_decode_frame_fuzzer ac3 eac3 ec3
