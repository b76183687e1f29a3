#!/bin/bash
# Real runs of kelvor-cli convert against what other programs do to it while
# it runs: a stop by SIGHUP or SIGTERM (also in its first moments), the
# reader of an output pipe going away, and the input file cut short by
# another program. Each case holds the
# conversion at a known point by giving it a pipe as output that is drained
# only after the event, so nothing depends on timing but a short sleep.
#   usage: signals_and_races.sh KELVOR_CLI FIXTURE_DIR
set -u
cli=${1:?usage: signals_and_races.sh KELVOR_CLI FIXTURE_DIR}
fixtures=${2:?}
here=$(cd "$(dirname "$0")/.." && pwd)
input=$fixtures/mpeg2_mp2_long.ts
[ -f "$input" ] || { echo "generated streams missing"; exit 0; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# The output of a run that was stopped must still be whole packets that the
# conformance check accepts.
check_output() {
  local what=$1 file=$2
  local size
  size=$(stat -c %s "$file")
  [ "$size" -gt 0 ] && [ $((size % 188)) -eq 0 ] || fail "$what: output of $size bytes is not whole packets"
  python3 "$here/fixtures/ts_conformance.py" "$file" >"$work/conf.txt" || fail "$what: $(head -3 "$work/conf.txt")"
}

# Bytes waiting in a FIFO.
pipe_fill() {
  python3 -c 'import fcntl, os, struct, sys, termios
fd = os.open(sys.argv[1], os.O_RDONLY | os.O_NONBLOCK)
print(struct.unpack("i", fcntl.ioctl(fd, termios.FIONREAD, b"\0" * 4))[0])' "$1"
}

# Runs a conversion into a FIFO that is drained only after `event` ran;
# leaves the exit status in $status and stderr in $work/err.txt. The shell
# holds the FIFO open both ways meanwhile, so that nobody blocks in open().
run_held() {
  local source=$1 event=$2
  rm -f "$work/fifo"
  mkfifo "$work/fifo"
  exec 3<>"$work/fifo"
  "$cli" convert -q --format ts "$source" "$work/fifo" 2>"$work/err.txt" 3<&- &
  local pid=$!
  # The conversion has begun once the pipe is full (the scan writes
  # nothing); shortly after, it waits with both buffers full.
  local waited=0
  while [ "$(pipe_fill "$work/fifo")" -lt 65536 ] && [ "$waited" -lt 200 ]; do
    sleep 0.1
    waited=$((waited + 1))
  done
  sleep 0.3
  eval "$event"
  # The reading end is opened here, before the shell lets go of its own.
  exec 4<"$work/fifo"
  cat <&4 >"$work/out.ts" 3<&- 4<&- &
  local reader=$!
  exec 3<&- 4<&-
  wait "$pid"
  status=$?
  wait "$reader"
}

# SIGHUP (the terminal closed) and SIGTERM stop like Ctrl-C: exit 3, the
# output written so far kept and whole.
for signal in HUP TERM; do
  run_held "$input" "kill -$signal \$pid"
  [ "$status" -eq 3 ] || fail "SIG$signal: exit $status, expected 3: $(cat "$work/err.txt")"
  grep -q "stopped by the user" "$work/err.txt" || fail "SIG$signal: $(cat "$work/err.txt")"
  check_output "SIG$signal" "$work/out.ts"
done

# The input cut short while it is converted, at several points before and
# inside the window being read: an input error, exit 3, the output closed.
for keep in 1048576 2097152 2300000 4194304; do
  cp "$input" "$work/growing.ts"
  run_held "$work/growing.ts" "truncate -s $keep '$work/growing.ts'"
  [ "$status" -eq 3 ] || fail "cut to $keep: exit $status, expected 3: $(cat "$work/err.txt")"
  grep -q "input error" "$work/err.txt" || fail "cut to $keep: no input error: $(cat "$work/err.txt")"
  check_output "cut to $keep" "$work/out.ts"
done

# A pipe whose reader has gone: a write error, exit 4, not a silent death.
"$cli" convert -q --format ts "$input" /dev/stdout 2>"$work/err.txt" | head -c 1000 >/dev/null
status=${PIPESTATUS[0]}
[ "$status" -eq 4 ] || fail "closed pipe: exit $status, expected 4"
grep -q "Output file write error" "$work/err.txt" || fail "closed pipe: $(cat "$work/err.txt")"
grep -q "Convertion done" "$work/err.txt" && fail "closed pipe: reported as done"

# Runs a command of kelvor-cli in the background and stops it with SIGTERM:
# after 0.3 s, or (WAIT "output") once OUTPUT has its first bytes. It must
# exit 3.  usage: stop_halfway NAME WAIT OUTPUT ARGS...
stop_halfway() {
  local name=$1 wait=$2 output=$3 pid status
  shift 3
  "$cli" "$@" 2>"$work/err.txt" &
  pid=$!
  if [ "$wait" = output ]; then
    for _ in $(seq 500); do [ -s "$output" ] && break; sleep 0.01; done
  else
    sleep 0.3
  fi
  kill -TERM "$pid"
  wait "$pid"
  status=$?
  [ "$status" -eq 3 ] || fail "$name SIGTERM: exit $status, expected 3: $(cat "$work/err.txt")"
}

# What a stopped audio command left decodes without an error.
decodes_cleanly() {
  local said
  said=$(ffmpeg -nostdin -v error -i "$2" -f null - 2>&1)
  [ -z "$said" ] || fail "$1 SIGTERM: ffmpeg: $said"
}

# decode-ac3 stopped halfway: a WAV whose header gives the length of the
# samples written, not a header of an empty file.
ac3=$fixtures/ac3_51_pink_640k.ac3
if [ -f "$ac3" ]; then
  for _ in $(seq 400); do cat "$ac3"; done >"$work/long.ac3"
  stop_halfway decode-ac3 sleep "$work/out.wav" decode-ac3 "$work/long.ac3" "$work/out.wav"
  python3 -c 'import os, struct, sys
b = open(sys.argv[1], "rb").read(58)
size = os.path.getsize(sys.argv[1])
data = struct.unpack("<I", b[54:58])[0]
sys.exit(0 if 0 < data == size - 58 else 1)' "$work/out.wav" || fail "decode-ac3 SIGTERM: WAV header does not give the samples written"
fi

# transcode-eac3 stopped halfway: whole AC-3 frames.
eac3=$fixtures/eac3_stereo_pink_1m.eac3
if [ -f "$eac3" ]; then
  for _ in $(seq 200); do cat "$eac3"; done >"$work/long.eac3"
  stop_halfway transcode-eac3 sleep "$work/out.ac3" transcode-eac3 "$work/long.eac3" "$work/out.ac3"
  [ -s "$work/out.ac3" ] || fail "transcode-eac3 SIGTERM: empty output"
  decodes_cleanly transcode-eac3 "$work/out.ac3"
fi

# encode-mp2 stopped halfway (once its output has begun): whole frames. To a
# full device: exit 4, and the device is left where it is.
if ffmpeg -nostdin -v error -f lavfi -i "anoisesrc=r=48000:a=0.2" -ac 2 -t 600 -c:a pcm_s16le "$work/long.wav"; then
  stop_halfway encode-mp2 output "$work/out.mp2" encode-mp2 "$work/long.wav" "$work/out.mp2"
  size=$(stat -c %s "$work/out.mp2")
  [ "$size" -gt 0 ] && [ $((size % 1152)) -eq 0 ] || fail "encode-mp2 SIGTERM: $size bytes are not whole frames"
  decodes_cleanly encode-mp2 "$work/out.mp2"
  "$cli" encode-mp2 "$work/long.wav" /dev/full 2>/dev/null
  status=$?
  [ "$status" -eq 4 ] || fail "encode-mp2 to a full device: exit $status, expected 4"
  [ -c /dev/full ] || fail "encode-mp2 removed the device it could not write to"
  rm -f "$work/long.wav"
fi

# The input cut short ahead of where it is read: the conversion reads on to
# the new end and ends after a whole picture, as a stop does.
cp "$input" "$work/growing.ts"
run_held "$work/growing.ts" "truncate -s 6000000 '$work/growing.ts'"
[ "$status" -eq 3 ] || fail "cut ahead: exit $status, expected 3: $(cat "$work/err.txt")"
decodes_cleanly "cut ahead" "$work/out.ts"

# A stop that comes as soon as the process can take it, in its first
# milliseconds (the scan, the start of the conversion, before the first
# picture): a stop, exit 3, never an input error or death by the signal.
# (The whole conversion takes some 50 ms: a signal that comes after its end
# finds exit 0 and a whole output.)
handlers_ready() {
  local mask
  for _ in $(seq 2000); do
    mask=$(awk '/^SigCgt:/ {print $2}' "/proc/$1/status" 2>/dev/null) || return 1
    [ -n "$mask" ] && [ $(((16#$mask >> 14) & 1)) -eq 1 ] && return 0
  done
  return 1
}
for n in $(seq 12); do
  rm -f "$work/early.mpg"
  "$cli" convert -q "$input" "$work/early.mpg" 2>"$work/err.txt" &
  pid=$!
  handlers_ready "$pid"
  sleep "0.00$((n % 4))"
  kill -TERM "$pid" 2>/dev/null
  wait "$pid"
  status=$?
  case $status in
    3) grep -q -e "stopped by the user" -e "interrupted during the scan" "$work/err.txt" ||
         fail "stop $n early: $(cat "$work/err.txt")" ;;
    0) ;;
    *) fail "stop $n early: exit $status, expected 3: $(cat "$work/err.txt")" ;;
  esac
done

# encode-mp2 stopped while it waits for its input on a pipe: a stop (exit 3),
# and no output made for it.
rm -f "$work/fifo" "$work/waiting.mp2"
mkfifo "$work/fifo"
exec 3<>"$work/fifo"
"$cli" encode-mp2 - "$work/waiting.mp2" <"$work/fifo" 2>"$work/err.txt" 3<&- &
pid=$!
handlers_ready "$pid"
sleep 0.2
kill -TERM "$pid"
exec 3>&-
wait "$pid"
status=$?
[ "$status" -eq 3 ] || fail "encode-mp2 stopped while waiting: exit $status, expected 3: $(cat "$work/err.txt")"
[ -e "$work/waiting.mp2" ] && fail "encode-mp2 stopped while waiting: made an output"

# encode-mp2 whose WAV another program cuts short while it is encoded: an
# input error that keeps what was written (exit 3), as convert does. The
# output pipe holds the encoder until the cut is made.
if ffmpeg -nostdin -v error -f lavfi -i "sine=r=48000:f=440" -ac 2 -t 120 -c:a pcm_s16le "$work/cut.wav"; then
  rm -f "$work/fifo"
  mkfifo "$work/fifo"
  exec 3<>"$work/fifo"
  "$cli" encode-mp2 "$work/cut.wav" "$work/fifo" 2>"$work/err.txt" 3<&- &
  pid=$!
  for _ in $(seq 200); do [ "$(pipe_fill "$work/fifo")" -ge 65536 ] && break; sleep 0.05; done
  sleep 0.3
  truncate -s 4000000 "$work/cut.wav"
  exec 4<"$work/fifo"
  cat <&4 >"$work/cut.mp2" 3<&- 4<&- &
  reader=$!
  exec 3<&- 4<&-
  wait "$pid"
  status=$?
  wait "$reader"
  [ "$status" -eq 3 ] || fail "WAV cut short: exit $status, expected 3: $(cat "$work/err.txt")"
  grep -q "input error" "$work/err.txt" || fail "WAV cut short: $(cat "$work/err.txt")"
  size=$(stat -c %s "$work/cut.mp2")
  [ "$size" -gt 0 ] && [ $((size % 1152)) -eq 0 ] || fail "WAV cut short: $size bytes are not whole frames"
  decodes_cleanly "WAV cut short" "$work/cut.mp2"
fi

[ "$failures" -eq 0 ] && echo ok
exit $((failures != 0))
