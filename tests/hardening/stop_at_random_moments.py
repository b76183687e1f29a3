#!/usr/bin/python3
"""Stops real conversions with Ctrl-C (SIGINT), SIGTERM and SIGHUP at random
moments and checks what they leave: exit 3, and an output that ffprobe parses
and ffmpeg decodes with no error the whole conversion's output does not have.

The output is a named pipe that this script drains; the signal goes out once a
random number of bytes has come through, so the stop lands while the
conversion runs at full speed, at a random point of the stream, however fast
or loaded the machine is. A last run drains the pipe slowly: a slow reader
must still get every byte of the whole conversion.

  usage: stop_at_random_moments.py KELVOR_CLI INPUT.ts [--runs N] [--seed S]
"""
import argparse
import concurrent.futures
import os
import random
import re
import select
import shutil
import signal
import subprocess
import sys
import tempfile
import time

SIGNALS = {"Ctrl-C": signal.SIGINT, "SIGTERM": signal.SIGTERM, "SIGHUP": signal.SIGHUP}
PACKET = {"mpg": None, "ts": 188, "m2ts": 192}
CHUNK = 1 << 16
# What the conversion holds ahead of the reader (two 1 MiB buffers and a
# pipe's worth), what it reads on to the end of the picture and what the
# slow drain lets through meanwhile: a signal sent this far before the end
# still stops it.
LEAD = 5 << 20


def convert(cli, source, fifo, fmt, stop_after=None, sig=None, slow=False):
    """Runs the conversion into the named pipe `fifo`; returns (status,
    output, stderr). Once the signal is sent the pipe is drained slowly, so
    that the conversion cannot run on to the end of the input before the
    signal's handler has run, however long the machine makes that wait."""
    os.mkfifo(fifo)
    # Opened first, without waiting for a writer: the conversion opens its
    # output without waiting for a reader and fails when there is none.
    fd = os.open(fifo, os.O_RDONLY | os.O_NONBLOCK)
    proc = subprocess.Popen([cli, "convert", "-q", "--format", fmt, source, fifo],
                            stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, stdin=subprocess.DEVNULL)
    out = bytearray()
    sent = False
    try:
        while True:
            try:
                chunk = os.read(fd, CHUNK)
            except BlockingIOError:
                select.select([fd], [], [], 0.01)
                continue
            if chunk:
                out += chunk
            elif out or proc.poll() is not None:
                break  # the writer has closed (or never came)
            else:
                time.sleep(0.001)  # the writer has not opened the pipe yet
                continue
            if sig is not None and not sent and len(out) >= stop_after:
                proc.send_signal(sig)
                sent = True
            if slow or sent:
                time.sleep(0.002)
    finally:
        os.close(fd)
        os.unlink(fifo)
    err = proc.stderr.read().decode(errors="replace")
    return proc.wait(), bytes(out), err


def decode_errors(path):
    """ffprobe's stream kinds and the error lines of ffprobe and ffmpeg,
    without the addresses that differ between runs."""
    probe = subprocess.run(["ffprobe", "-v", "error", "-show_entries", "stream=codec_type", "-of", "csv=p=0", path],
                           capture_output=True, text=True)
    dec = subprocess.run(["ffmpeg", "-nostdin", "-v", "error", "-i", path, "-f", "null", "-"],
                         capture_output=True, text=True)
    lines = (probe.stderr + dec.stderr).splitlines()
    errors = {re.sub(r" @ 0x[0-9a-f]+", "", line) for line in lines if line.strip()}
    return sorted(probe.stdout.split()), errors, dec.returncode


def check_stop(cli, source, work, fmt, name, sig, stop_after, reference):
    what = f"{name} {fmt} after {stop_after} bytes"
    status, out, err = convert(cli, source, os.path.join(work, f"{name}-{stop_after}.fifo"), fmt, stop_after, sig)
    problems = []
    if status != 3:
        problems.append(f"exit {status}, expected 3: {err.strip()}")
    elif "stopped by the user" not in err:
        problems.append(f"no stop reported: {err.strip()}")
    if not out:
        problems.append("empty output")
    elif PACKET[fmt] and len(out) % PACKET[fmt]:
        problems.append(f"{len(out)} bytes are not whole packets")
    if out and len(out) >= len(reference["bytes"]):
        problems.append("not stopped before the end")
    path = os.path.join(work, f"{name}-{stop_after}.{fmt}")
    with open(path, "wb") as f:
        f.write(out)
    streams, errors, rc = decode_errors(path)
    if streams != reference["streams"]:
        problems.append(f"streams {streams}, the whole output has {reference['streams']}")
    new = errors - reference["errors"]
    if rc != 0 or new:
        problems.append("decoding: " + "; ".join(sorted(new)[:3]))
    if problems:
        # Kept for a look at where the stop cut.
        kept = os.path.join(tempfile.gettempdir(), "kelvor-stop-failures")
        os.makedirs(kept, exist_ok=True)
        shutil.copy(path, kept)
    os.unlink(path)
    return what, problems, len(out)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("cli")
    ap.add_argument("input")
    ap.add_argument("--runs", type=int, default=20, help="runs per signal, the formats in turn")
    ap.add_argument("--seed", type=int, default=None)
    ap.add_argument("--jobs", type=int, default=2)
    args = ap.parse_args()
    if not os.path.isfile(args.input):
        print("generated streams missing")
        return 0
    seed = args.seed if args.seed is not None else random.randrange(1 << 30)
    rng = random.Random(seed)
    print(f"seed {seed}")
    started = time.monotonic()

    with tempfile.TemporaryDirectory(dir="/dev/shm" if os.path.isdir("/dev/shm") else None) as work:
        # The whole conversion of each format, and its own decode errors.
        reference = {}
        for fmt in PACKET:
            status, out, err = convert(args.cli, args.input, os.path.join(work, "whole.fifo"), fmt)
            if status != 0:
                print(f"FAIL: whole conversion to {fmt}: exit {status}: {err.strip()}")
                return 1
            path = os.path.join(work, "whole." + fmt)
            with open(path, "wb") as f:
                f.write(out)
            streams, errors, _ = decode_errors(path)
            reference[fmt] = {"bytes": out, "streams": streams, "errors": errors}

        jobs = []
        for i in range(args.runs):
            for k, (name, sig) in enumerate(SIGNALS.items()):
                fmt = list(PACKET)[(i + k) % len(PACKET)]
                stop_after = rng.randrange(0, len(reference[fmt]["bytes"]) - LEAD)
                jobs.append((fmt, name, sig, stop_after))
        failures = 0
        with concurrent.futures.ThreadPoolExecutor(max_workers=args.jobs) as pool:
            runs = [pool.submit(check_stop, args.cli, args.input, work, fmt, name, sig, after, reference[fmt])
                    for fmt, name, sig, after in jobs]
            for run in runs:
                what, problems, size = run.result()
                for p in problems:
                    print(f"FAIL: {what}: {p}")
                failures += bool(problems)
                if not problems:
                    print(f"ok: {what}: {size} bytes")

        # A reader slower than the conversion loses nothing.
        status, out, err = convert(args.cli, args.input, os.path.join(work, "slow.fifo"), "ts", slow=True)
        if status != 0 or out != reference["ts"]["bytes"]:
            print(f"FAIL: slow reader: exit {status}, {len(out)} of {len(reference['ts']['bytes'])} bytes")
            failures += 1

    print(f"{len(jobs) - failures} of {len(jobs)} stops sound, {time.monotonic() - started:.1f} s")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
