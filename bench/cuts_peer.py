#!/usr/bin/env python3
"""Cutting three spans out of a recording: kelvor-cli convert --cut beside
the route people take with ffmpeg (-ss/-to per kept span with -c copy, then
the concat demuxer with -c copy).

usage: bench/cuts_peer.py KELVOR_CLI RECORDING [WORK_DIR] [--spans A-B,C-D,...]

RECORDING carries the sync markers of the generated streams (gen_cuts.sh
makes two-minute ones). For each route the table gives the wall time, the
markers found, the worst audio/video offset at the markers after each cut
(within 3 s of the join) and over the whole output, and the largest video
time-stamp step (a gap in the picture). Also the time of the same conversion
without cuts, for the cost of the cut list.
"""

import json
import os
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
MEASURE = os.path.join(HERE, "..", "tests", "fixtures", "measure_markers.py")


def run(cmd):
    start = time.monotonic()
    r = subprocess.run(cmd, capture_output=True, text=True, check=False)
    if r.returncode != 0:
        sys.exit(f"{cmd[0]} failed: {r.stderr[-2000:]}")
    return time.monotonic() - start


def best_of(n, cmd):
    return min(run(cmd) for _ in range(n))


def measure(path):
    r = subprocess.run([sys.executable, MEASURE, path, "--json"], capture_output=True, text=True, check=True)
    return json.loads(r.stdout)


def duration(path):
    r = subprocess.run(["ffprobe", "-v", "error", "-show_entries", "format=duration", "-of", "csv=p=0", path],
                       capture_output=True, text=True, check=True)
    return float(r.stdout.strip())


def worst(markers, near=None):
    values = []
    for m in markers:
        if m["video"] is None:
            continue
        if near is not None and not any(0 <= m["video"] - j <= 3.0 for j in near):
            continue
        values += [abs(o) for o in m["offset_ms"] if o is not None]
    return max(values) if values else float("nan")


def main():
    args = [a for a in sys.argv[1:] if not a.startswith("--spans")]
    spans_arg = next((a.split("=", 1)[1] for a in sys.argv[1:] if a.startswith("--spans=")),
                     "20.1-35.7,60.3-75.9,100.1-110.3")
    if len(args) < 2:
        sys.exit(__doc__)
    cli, src = args[0], args[1]
    work = args[2] if len(args) > 2 else tempfile.mkdtemp(prefix="kelvor-cuts-bench-")
    os.makedirs(work, exist_ok=True)
    spans = [tuple(float(x) for x in s.split("-")) for s in spans_arg.split(",")]
    total = duration(src)

    # kelvor-cli: one run with the cuts, and the same run without.
    ours = os.path.join(work, "kelvor.ts")
    cut_opts = sum((["--cut", f"{a}-{b}"] for a, b in spans), [])
    t_ours = best_of(3, [cli, "convert", "-q", "--overwrite"] + cut_opts + [src, ours])
    t_whole = best_of(3, [cli, "convert", "-q", "--overwrite", src, os.path.join(work, "whole.ts")])

    # ffmpeg: each kept span copied out, then joined.
    kept, start = [], 0.0
    for a, b in spans:
        kept.append((start, a))
        start = b
    kept.append((start, total))
    listing = os.path.join(work, "parts.txt")
    peer = os.path.join(work, "ffmpeg.ts")

    def peer_route():
        with open(listing, "w") as f:
            for k, (a, b) in enumerate(kept):
                part = os.path.join(work, f"part{k}.ts")
                subprocess.run(["ffmpeg", "-nostdin", "-v", "error", "-y", "-ss", f"{a}", "-to", f"{b}", "-i", src,
                                "-map", "0", "-c", "copy", part], check=True)
                f.write(f"file '{part}'\n")
        subprocess.run(["ffmpeg", "-nostdin", "-v", "error", "-y", "-f", "concat", "-safe", "0", "-i", listing,
                        "-map", "0", "-c", "copy", peer], check=True)

    times = []
    for _ in range(3):
        t0 = time.monotonic()
        peer_route()
        times.append(time.monotonic() - t0)
    t_peer = min(times)

    removed = sum(b - a for a, b in spans)
    print(f"{os.path.basename(src)}: {total:.2f} s, cuts {spans_arg} ({removed:.2f} s asked)")
    print(f"{'route':<22} {'time s':>7} {'duration s':>10} {'markers':>8} {'after cuts ms':>14} "
          f"{'worst ms':>9} {'video step ms':>14}")
    for name, path, t in (("kelvor-cli --cut", ours, t_ours), ("ffmpeg -ss/-to+concat", peer, t_peer)):
        m = measure(path)
        found = sum(1 for x in m["markers"] if x["video"] is not None)
        # Where the joins are in the output: the asked spans' starts, less
        # the time asked before (the routes round differently; 3 s covers it).
        joins = [a - sum(b2 - a2 for a2, b2 in spans if b2 <= a) for a, b in spans]
        print(f"{name:<22} {t:7.3f} {duration(path):10.2f} {found:8d} {worst(m['markers'], joins):14.1f} "
              f"{worst(m['markers']):9.1f} {m['video']['max_pts_step_ms']:14.1f}")
    print(f"kelvor-cli without cuts: {t_whole:.3f} s (the cut list costs {100 * (t_ours / t_whole - 1):+.1f} %)")


if __name__ == "__main__":
    main()
