#!/bin/sh
# The AC-3 decoder beside ffmpeg's float decoder on the benchmark's 10-minute
# 5.1 448 kbit/s stream, in two measures that a busy machine disturbs little:
#  - instructions (callgrind) for its first minute: ours inside
#    ac3_decode_frame only, ffmpeg as a whole process (-c:a ac3 ... -f null -);
#  - CPU time for all ten minutes: ours from ac3dec_bench's CPU column,
#    ffmpeg's task-clock from perf stat, best of RUNS each.
#
# usage: bench/ac3dec_compare.sh AC3DEC_BENCH [WORK_DIR] [RUNS]
# WORK_DIR keeps the generated stream (default: the system's temporary directory).
set -eu
bench=${1:?usage: ac3dec_compare.sh AC3DEC_BENCH [WORK_DIR] [RUNS]}
work=${2:-${TMPDIR:-/tmp}}
runs=${3:-3}
export KELVOR_BENCH_DIR="$work"
stream="$work/kelvor_ac3dec_bench_10min_51.ac3"
minute="$work/kelvor_ac3dec_bench_1min_51.ac3"
[ -f "$stream" ] || "$bench" --benchmark_filter=Profile > /dev/null
[ -f "$minute" ] || ffmpeg -nostdin -v error -y -i "$stream" -t 60 -c copy "$minute"

ours_ir=$(valgrind --tool=callgrind --callgrind-out-file=/dev/null --toggle-collect='*ac3_decode_frame*' \
  "$bench" --benchmark_filter=Profile 2>&1 | sed -n 's/.*Collected : //p')
ffmpeg_ir=$(valgrind --tool=callgrind --callgrind-out-file=/dev/null \
  ffmpeg -nostdin -v error -c:a ac3 -i "$minute" -f null - 2>&1 | sed -n 's/.*Collected : //p')
echo "instructions, first minute: kelvor $ours_ir, ffmpeg $ffmpeg_ir"
awk -v a="$ffmpeg_ir" -v b="$ours_ir" 'BEGIN { printf "  ffmpeg / kelvor = %.2f\n", a / b }'

best_ours=""
best_ffmpeg=""
i=0
while [ $i -lt "$runs" ]; do
  ms=$("$bench" --benchmark_filter=Kelvor_Decode 2>/dev/null | awk '/^BM_Kelvor_Decode/ { print $4 }')
  ff=$(perf stat -e task-clock -x, ffmpeg -nostdin -v error -c:a ac3 -i "$stream" -f null - 2>&1 >/dev/null | awk -F, '/task-clock/ { printf "%d", $1 }')
  if [ -z "$best_ours" ] || [ "$ms" -lt "$best_ours" ]; then best_ours=$ms; fi
  if [ -z "$best_ffmpeg" ] || [ "$ff" -lt "$best_ffmpeg" ]; then best_ffmpeg=$ff; fi
  i=$((i + 1))
done
echo "CPU ms for ten minutes (best of $runs): kelvor $best_ours, ffmpeg $best_ffmpeg"
awk -v a="$best_ffmpeg" -v b="$best_ours" 'BEGIN { printf "  ffmpeg / kelvor = %.2f\n", a / b }'
