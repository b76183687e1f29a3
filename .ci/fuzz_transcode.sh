#!/bin/sh
# Fuzzes the E-AC-3 to AC-3 transcoder (transcode_frame_fuzzer) for a bounded
# time on seeds of real E-AC-3 frames (see run_syncframe_fuzzer.sh); every
# AC-3 frame that comes out must verify.
set -eu
exec sh "$(dirname "$0")/run_syncframe_fuzzer.sh" transcode_frame_fuzzer eac3 ec3
