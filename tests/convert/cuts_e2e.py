#!/usr/bin/env python3
"""Cut lists end to end on the two-minute recordings of gen_cuts.sh.

usage: cuts_e2e.py --cli KELVOR_CLI --fixtures DIR [--work DIR]

For MPEG-2 and H.264 at 25 and 29.97 frames/s, three spans are cut out:
- each cut covers the span asked for (rounded outward) and removes less
  than one group of pictures more on each side;
- the markers inside the cuts are gone and every other one is where the
  time removed before it puts it (within half a frame), with its sound
  within one audio frame; at a join, the sound is cut in whole frames, so
  the burst of a marker within one audio frame of it may be cut too, and a
  frame may keep the start of the burst of the first marker removed;
- the video has no gap in its time stamps and the output lasts as long as
  the conversion without cuts minus the time removed;
- ffmpeg decodes the output without errors (as it does the input), and the
  TS output keeps the transport stream rules;
- a Comskip-style EDL, a marks file of the parts kept and a file of
  START-END lines give the same bytes as the --cut options.
"""

import argparse
import json
import os
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
FIXTURE_TOOLS = os.path.join(HERE, "..", "fixtures")

# Name, frames per second, marker period (s), group of pictures (frames).
RECORDINGS = [
    ("cuts_mpeg2_25.ts", 25.0, 1.0, 12),
    ("cuts_mpeg2_2997.ts", 30000 / 1001, 1.001, 15),
    ("cuts_h264_25.ts", 25.0, 1.0, 24),
    ("cuts_h264_2997.ts", 30000 / 1001, 1.001, 36),
]
# Seconds of input time; between the groups' starts at both rates.
SPANS = [(20.1, 35.7), (60.3, 75.9), (100.1, 110.3)]
AUDIO_FRAME_S = 0.032  # the longer of the two tracks' frames (AC-3)
MARKERS = 120  # one a period from the first picture on

failures = []


def check(ok, what):
    if not ok:
        failures.append(what)
        print("FAIL:", what)


def run(cmd, **kw):
    return subprocess.run(cmd, capture_output=True, text=True, check=False, **kw)


def measure(path):
    r = run([sys.executable, os.path.join(FIXTURE_TOOLS, "measure_markers.py"), path, "--json"])
    if r.returncode != 0:
        raise SystemExit(f"measure_markers failed on {path}: {r.stderr}")
    return json.loads(r.stdout)


def decode_errors(path):
    r = run(["ffmpeg", "-nostdin", "-v", "error", "-i", path, "-f", "null", "-"])
    return [line for line in r.stderr.splitlines() if line.strip()]


def duration(path):
    r = run(["ffprobe", "-v", "error", "-select_streams", "v", "-count_packets",
             "-show_entries", "stream=nb_read_packets", "-of", "csv=p=0", path])
    return int(r.stdout.split()[0].rstrip(","))


def mark(t, fps):
    """A marks file line for time t: H:MM:SS.FF, the frame counted from 1."""
    whole = int(t)
    frame = round((t - whole) * fps)
    return f"{whole // 3600}:{whole // 60 % 60:02d}:{whole % 60:02d}.{frame + 1:02d}"


def mark_time(t, fps):
    whole = int(t)
    return whole + round((t - whole) * fps) / fps


def convert(cli, src, out, options, report=None):
    cmd = [cli, "convert", "-q", "--overwrite"] + options + [src, out]
    if report:
        cmd[2:2] = ["--report", report]
    r = run(cmd)
    check(r.returncode == 0, f"{os.path.basename(out)}: exit {r.returncode}: {r.stderr.strip()}")


def check_recording(cli, fixtures, work, name, fps, period, gop):
    src = os.path.join(fixtures, name)
    base = os.path.splitext(name)[0]
    frame = 1 / fps
    # The marks file's times are whole frames: the options use the same ones.
    spans = [(mark_time(a, fps), mark_time(b, fps)) for a, b in SPANS]
    options = []
    for a, b in spans:
        options += ["--cut", f"{a:.6f}-{b:.6f}"]
    out = os.path.join(work, base + ".ts")
    report = os.path.join(work, base + ".json")
    convert(cli, src, out, options, report)
    cuts = [e for e in json.load(open(report))["files"][0]["events"] if e["kind"] == "cut"]
    check(len(cuts) == 3, f"{name}: {len(cuts)} cuts reported")
    if len(cuts) != 3:
        return
    removed = []
    for (a, b), c in zip(spans, cuts):
        start, end = c["cut_start"], c["cut_end"]
        slack = gop * frame + 0.002
        check(start <= a + 0.002 and a - start < slack, f"{name}: cut {a}-{b} starts at {start}")
        check(end >= b - 0.002 and end - b < slack, f"{name}: cut {a}-{b} ends at {end}")
        check(abs(c["time_cut"] - (end - start)) < 0.002, f"{name}: cut {a}-{b} removed {c['time_cut']} s")
        check(all(t["frames_dropped"] > 0 for t in c["audio"]) and len(c["audio"]) == 2,
              f"{name}: cut {a}-{b} audio {c['audio']}")
        removed.append((start, end))

    # Markers: which input ones remain, and where the cuts put them.
    m = measure(out)
    expected = []
    for t in (k * period for k in range(MARKERS)):
        if any(s - frame / 2 <= t < e - frame / 2 for s, e in removed):
            continue
        out_t = t - sum(e - s for s, e in removed if e <= t + frame / 2)
        # White frames a few frames apart (a marker each side of a join)
        # are measured as one.
        if not expected or out_t - expected[-1] > 3 * frame:
            expected.append(out_t)
    got = [x["video"] for x in m["markers"] if x["video"] is not None]
    # The output may begin a marker or two later than the input (at the
    # first group after the first sound), as without cuts.
    placed = None
    for lead in range(3):
        rest = expected[lead:]
        if got and len(got) == len(rest):
            shift = got[0] - rest[0]
            worst = max(abs(g - x - shift) for g, x in zip(got, rest))
            if worst < frame / 2:
                placed = shift
    check(placed is not None, f"{name}: the markers left are not where the cuts put them "
                              f"({len(got)} found, {len(expected)} expected)")
    joins = [s - sum(e2 - s2 for s2, e2 in removed if e2 <= s) + (placed or 0) for s, e in removed]
    for x in m["markers"]:
        if x["video"] is None:
            # Sound alone: before the first picture, or the start of a burst
            # in the frame that straddles a cut's start.
            t = min(a for a in x["audio"] if a is not None)
            check(t < got[0] - 0.5 or any(abs(t - j) <= AUDIO_FRAME_S for j in joins),
                  f"{name}: a burst without its picture at {t:.3f} s")
            continue
        at_join = any(abs(x["video"] - j) <= AUDIO_FRAME_S + frame for j in joins)
        # The first marker of the output lacks sound without cuts too.
        if x["video"] < got[0] + 0.5 and x is m["markers"][0]:
            continue
        for o in x["offset_ms"]:
            check((o is None and at_join) or (o is not None and abs(o) <= AUDIO_FRAME_S * 1000 + 0.5),
                  f"{name}: marker at {x['video']:.3f} s has sound {o} ms off")
    check(m["video"]["max_pts_step_ms"] <= m["video"]["typical_pts_step_ms"] + 0.5,
          f"{name}: video time stamps step {m['video']['max_pts_step_ms']} ms")
    whole = os.path.join(work, base + ".whole.ts")
    convert(cli, src, whole, [])
    frames_whole, frames_out = duration(whole), duration(out)
    lost = (frames_whole - frames_out) * frame
    check(abs(lost - sum(e - s for s, e in removed)) < frame / 2,
          f"{name}: {frames_whole - frames_out} frames fewer, {sum(e - s for s, e in removed):.3f} s removed")
    # The generated recordings decode without errors.
    errors = decode_errors(out)
    check(not errors, f"{name}: ffmpeg reports {errors[:3]}")
    r = run([sys.executable, os.path.join(FIXTURE_TOOLS, "ts_conformance.py"), out])
    check(r.returncode == 0, f"{name}: TS rules: {r.stdout.strip()}")

    # The same cuts from each kind of file give the same output.
    edl = os.path.join(work, base + ".edl")
    with open(edl, "w") as f:
        f.writelines(f"{a:.6f}\t{b:.6f}\t0\n" for a, b in spans)
    marks = os.path.join(work, base + ".marks")
    with open(marks, "w") as f:
        f.write(mark(0, fps) + "\n")
        for a, b in spans:
            f.write(f"{mark(a, fps)}\n{mark(b, fps)} start\n")
    lines = os.path.join(work, base + ".txt")
    with open(lines, "w") as f:
        f.writelines(f"{a:.6f}-{b:.6f}\n" for a, b in spans)
    want = open(out, "rb").read()
    for cut_file in (edl, marks, lines):
        again = os.path.join(work, base + ".again.ts")
        convert(cli, src, again, ["--cuts", cut_file])
        check(open(again, "rb").read() == want, f"{name}: {os.path.basename(cut_file)} gives other bytes")


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--cli", required=True)
    ap.add_argument("--fixtures", required=True)
    ap.add_argument("--work")
    args = ap.parse_args()
    work = args.work or tempfile.mkdtemp(prefix="kelvor-cuts-")
    os.makedirs(work, exist_ok=True)
    for name, fps, period, gop in RECORDINGS:
        if not os.path.exists(os.path.join(args.fixtures, name)):
            print(f"skipped: {name} is missing")
            sys.exit(77)
        check_recording(args.cli, args.fixtures, work, name, fps, period, gop)
    if failures:
        print(f"{len(failures)} failures")
        sys.exit(1)
    print("ok")


if __name__ == "__main__":
    main()
