#!/usr/bin/env python3
"""Random reception-drop sweep: impairs a generated stream with 2-5 random
drops, cuts and audio-only drops per seed, converts it with kelvor-cli and
prints, per seed, the worst audio/video marker offset (each burst against the
white frame nearest to it), the largest audio PTS step and whether ffmpeg
decodes the output without errors.

usage: convert_sweep.py KELVOR_CLI FIXTURE_DIR WORK_DIR [SEEDS] [FIRST_SEED]
"""
import json
import os
import random
import subprocess
import sys

here = os.path.dirname(os.path.abspath(__file__))
tools = os.path.join(here, "..", "tests", "fixtures")


def ops_for(seed):
    rng = random.Random(seed)
    ops = []
    for _ in range(rng.randint(2, 5)):
        kind = rng.choice(["drop", "cut", "dropaudio"])
        start = round(rng.uniform(2.0, 55.0), 2)
        length = round(rng.choice([rng.uniform(0.02, 0.3), rng.uniform(0.3, 2.0)]), 2)
        ops.append(f"{kind}:{start}:{length}")
    return ops


def measure(path):
    out = subprocess.run([sys.executable, os.path.join(tools, "measure_markers.py"), path, "--json"],
                         capture_output=True, text=True)
    m = json.loads(out.stdout or "{}")
    whites = [r["video"] for r in m.get("markers", []) if r["video"] is not None]
    codecs = [a["codec"] for a in m.get("audio", [])]
    worst = {c: 0.0 for c in codecs}
    for row in m.get("markers", []):
        for codec, t in zip(codecs, row["audio"]):
            if t is None or not whites:
                continue
            d = min((t - w for w in whites), key=abs) * 1000
            if abs(d) < 500:
                worst[codec] = max(worst[codec], abs(d))
    steps = m.get("summary", {}).get("max_audio_pts_step_ms")
    return worst, steps, m.get("summary", {}).get("complete_markers")


def main(argv):
    cli, fixtures, work = argv[1:4]
    seeds = int(argv[4]) if len(argv) > 4 else 20
    first = int(argv[5]) if len(argv) > 5 else 1
    os.makedirs(work, exist_ok=True)
    overall = {}
    for seed in range(first, first + seeds):
        ops = ops_for(seed)
        src = os.path.join(fixtures, "mpeg2_mp2_long.ts")
        ts = os.path.join(work, f"s{seed}.ts")
        mpg = os.path.join(work, f"s{seed}.mpg")
        subprocess.run([sys.executable, os.path.join(tools, "impair_ts.py"), src, ts, *ops],
                       capture_output=True, check=True)
        subprocess.run([cli, "convert", "-q", ts, mpg], capture_output=True)
        worst, steps, complete = measure(mpg)
        errors = subprocess.run(["ffmpeg", "-nostdin", "-v", "error", "-i", mpg, "-f", "null", "-"],
                                capture_output=True, text=True).stderr.count("\n")
        for codec, w in worst.items():
            overall[codec] = max(overall.get(codec, 0.0), w)
        shown = " ".join(f"{c} {w:6.1f}" for c, w in worst.items())
        print(f"seed {seed:3d} {shown} ms  audio steps {steps}  complete {complete}  ffmpeg errors {errors}  "
              f"{' '.join(ops)}", flush=True)
    print("worst " + " ".join(f"{c} {w:.1f} ms" for c, w in overall.items()))


if __name__ == "__main__":
    main(sys.argv)
