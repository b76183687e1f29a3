#!/usr/bin/python3
"""The audio conversion paths end to end, with kelvor-cli convert.

Inputs: the generated streams with AC-3 5.1 + MP2 and E-AC-3 5.1 (six-block
frames) + MP2, and one made here with E-AC-3 of one block per frame (the
public sample looped under the generated H.264 picture); each clean and with
reception drops (all streams, then audio alone). Each is converted to MPG, TS
and M2TS, with and without --to-mpeg-audio, and every output must:

- decode with ffmpeg without an error the input did not have;
- have every audio track's sync bursts within one audio frame of the white
  frames (streams with markers);
- have the converted tracks (MPEG audio made from AC-3/E-AC-3, and AC-3 made
  from E-AC-3) within 0.5 dB of the level of ffmpeg's stereo fold-down of
  the source track;
- have no gap or overlap in any audio track's time stamps;
- (one-block E-AC-3) last as long as the source track, within one frame.

Prints one row per output. Exit status 0 pass, 1 fail, 77 skipped.
"""
import argparse
import json
import subprocess
import sys
import tempfile
from pathlib import Path

import numpy as np

HERE = Path(__file__).resolve().parent
TOOLS = HERE.parent / "fixtures"
FRAME_TICKS = {"mp2": 2160, "ac3": 2880}
DROPS = ["drop:3.3:1.4", "dropaudio:6.3:0.45"]


def run(cmd, **kw):
    return subprocess.run([str(c) for c in cmd], capture_output=True, text=True, **kw)


def decode_errors(path, what):
    r = run(["ffmpeg", "-nostdin", "-v", "error", "-i", path, "-map", f"0:{what}?", "-f", "null", "-"])
    return {line.split("] ", 1)[-1] for line in r.stderr.splitlines() if line.strip()}


def audio_streams(path):
    r = run(["ffprobe", "-v", "error", "-show_streams", "-of", "json", path])
    return [s for s in json.loads(r.stdout)["streams"] if s["codec_type"] == "audio"]


def pcm(path, index, channels):
    r = subprocess.run(["ffmpeg", "-nostdin", "-v", "error", "-i", str(path), "-map", f"0:{index}",
                        *(["-ac", "2"] if channels == 2 else []), "-f", "f32le", "-"], capture_output=True)
    return np.frombuffer(r.stdout, dtype=np.float32).astype(np.float64)


def stereo(path, index):
    """ffmpeg's fold-down (-ac 2)."""
    return pcm(path, index, 2)


def matrix_fold_down(path, stream):
    """ffmpeg's 5.1 decode folded down with the coefficients of our decoder's
    stereo output: gains of each side summing to 1, centre and surround at
    -3 dB, the surround matrixed (minus left, plus right), LFE at -10 dB."""
    x = pcm(path, stream["index"], 6).reshape(-1, 6)  # FL FR FC LFE SL SR
    g = 1 / (1 + 3 * np.sqrt(0.5))
    k = np.sqrt(0.5) * g
    c = x[:, 2] * k + x[:, 3] / np.sqrt(10)
    s = (x[:, 4] + x[:, 5]) * k
    return np.concatenate([x[:, 0] * g + c - s, x[:, 1] * g + c + s])


def level_db(samples):
    return 10 * np.log10(np.mean(np.square(samples.astype(np.float64))) + 1e-30)


def packet_times(path, stream):
    r = run(["ffprobe", "-v", "error", "-select_streams", str(stream["index"]), "-show_entries",
             "packet=pts", "-of", "csv=p=0", path])
    return [int(v.strip(",")) if v.strip(",") not in ("", "N/A") else None for v in r.stdout.split()]


def time_line_faults(path, stream):
    """Packets whose time stamp is not the first one plus the frames before it;
    and the track's end time (s)."""
    pts = packet_times(path, stream)
    ticks = FRAME_TICKS[stream["codec_name"]]
    first = next((p for p in pts if p is not None), 0)
    faults = sum(1 for i, p in enumerate(pts) if p is not None and p != first + i * ticks)
    return faults, (first + len(pts) * ticks) / 90000


def video_end(path):
    r = run(["ffprobe", "-v", "error", "-select_streams", "v", "-show_entries", "packet=pts", "-of", "csv=p=0",
             path])
    pts = [int(v.strip(",")) for v in r.stdout.split() if v.strip(",") not in ("", "N/A")]
    return (max(pts) + 3600) / 90000


def markers(path):
    r = run([sys.executable, TOOLS / "measure_markers.py", path, "--json"])
    return json.loads(r.stdout) if r.returncode == 0 else None


def worst_marker_excess(summary, streams):
    """Largest marker offset beyond one frame of its track (ms; <= 0 passes), and the largest offset."""
    worst, excess = 0.0, -1e9
    for row in summary["markers"]:
        for k, off in enumerate(row["offset_ms"]):
            if off is None or k >= len(streams):
                continue
            frame_ms = FRAME_TICKS[streams[k]["codec_name"]] / 90.0
            worst = max(worst, abs(off))
            excess = max(excess, abs(off) - frame_ms)
    return worst, excess


def make_one_block(fixtures, samples, out):
    """H.264 picture with the one-block E-AC-3 sample repeated under it for 10 s."""
    r = run(["ffmpeg", "-nostdin", "-v", "error", "-y", "-i", fixtures / "h264_eac3_mp2.ts", "-stream_loop", "40",
             "-i", samples / "sample.eac3", "-map", "0:v", "-map", "1:a", "-c", "copy", "-t", "10",
             "-mpegts_flags", "system_b", out])
    return r.returncode == 0


def check(cli, source, stationary, out_dir, report, formats):
    """Converts `source` six ways and checks the outputs; `stationary`: the
    source carries the sync markers and steady tones."""
    src_errors = decode_errors(source, "a")
    src_private = [s for s in audio_streams(source) if s["codec_name"] in ("ac3", "eac3")]
    eac3 = any(s["codec_name"] == "eac3" for s in src_private)
    # Where each private track ends against the picture.
    src_video_end = video_end(source)
    src_lag = [float(s["start_time"]) + float(s["duration"]) - src_video_end for s in src_private]
    ok = True
    for mpeg in (False, True):
        if mpeg:
            refs = [level_db(matrix_fold_down(source, s)) for s in src_private]
        else:
            refs = [level_db(stereo(source, s["index"])) for s in src_private]
        for fmt in formats:
            out = out_dir / f"{source.stem}{'_mp2' if mpeg else ''}.{fmt}"
            r = run([cli, "convert", "-q", *(["--to-mpeg-audio"] if mpeg else []), "--format", fmt, source, out])
            faults = []
            if r.returncode != 0:
                report.append((out.name, "-", "-", "-", "-", "-", [f"exit {r.returncode}: {r.stdout.strip()}"]))
                ok = False
                continue
            new_errors = decode_errors(out, "a") - src_errors
            if new_errors:
                faults.append(f"audio decode errors: {sorted(new_errors)[:3]}")
            video_errors = len(decode_errors(out, "v") - decode_errors(source, "v"))
            streams = audio_streams(out)
            if mpeg:
                converted = [s for s in streams if s["codec_name"] == "mp2" and s.get("bit_rate") == "384000"]
            else:
                converted = [s for s in streams if s["codec_name"] == "ac3"] if eac3 else []
            if len(converted) != (len(src_private) if mpeg or eac3 else 0):
                faults.append(f"{len(converted)} converted tracks")
            level_diffs = []
            if stationary or "drops" not in source.stem:
                for s, ref in zip(converted, refs):
                    level_diffs.append(level_db(stereo(out, s["index"])) - ref)
            if any(abs(d) > 0.5 for d in level_diffs):
                faults.append(f"level differs by {level_diffs}")
            gaps = 0
            out_video_end = video_end(out)
            for s in streams:
                n, end = time_line_faults(out, s)
                gaps += n
                if s in converted and src_lag and abs((end - out_video_end) - src_lag[0]) > 0.040:
                    faults.append(f"ends {end - out_video_end:+.3f} s from the picture, the source {src_lag[0]:+.3f}")
            if gaps:
                faults.append(f"{gaps} time stamps off the frame grid")
            worst = "-"
            if stationary:
                m = markers(out)
                if m is None or m["summary"]["complete_markers"] == 0:
                    faults.append("no markers found")
                else:
                    worst_ms, excess = worst_marker_excess(m, streams)
                    worst = f"{worst_ms:.1f}"
                    if excess > 0:
                        faults.append(f"a marker {worst_ms:.1f} ms off")
            level = ", ".join(f"{d:+.2f}" for d in level_diffs) or "-"
            report.append((out.name, len(new_errors), video_errors, worst, level, gaps, faults))
            ok = ok and not faults
    return ok


def main():
    p = argparse.ArgumentParser()
    p.add_argument("--cli", required=True)
    p.add_argument("--fixtures", required=True, type=Path)
    p.add_argument("--samples", required=True, type=Path)
    p.add_argument("--work", type=Path)
    p.add_argument("--quick", action="store_true", help="streams with drops to TS only")
    args = p.parse_args()
    for name in ("mpeg2_mp2_ac3.ts", "h264_eac3_mp2.ts"):
        if not (args.fixtures / name).exists():
            print(f"missing {name}")
            return 77
    with tempfile.TemporaryDirectory(dir=args.work) as tmp:
        tmp = Path(tmp)
        one_block = tmp / "eac3_one_block.ts"
        if not make_one_block(args.fixtures, args.samples, one_block):
            print("could not make the one-block E-AC-3 stream")
            return 1
        inputs = [(args.fixtures / "mpeg2_mp2_ac3.ts", True), (args.fixtures / "h264_eac3_mp2.ts", True),
                  (one_block, False)]
        report, ok = [], True
        for source, with_markers in inputs:
            damaged = tmp / f"{source.stem}_drops.ts"
            run([sys.executable, TOOLS / "impair_ts.py", source, damaged, *DROPS])
            for path in (source, damaged):
                out_dir = tmp / path.stem
                out_dir.mkdir()
                formats = ("ts",) if args.quick and path == damaged else ("mpg", "ts", "m2ts")
                ok = check(args.cli, path, with_markers, out_dir, report, formats) and ok
        print(f"{'output':36} {'audio err':>9} {'video err':>9} {'marker ms':>9} {'level dB':>8} {'grid':>4}")
        for name, errors, verrors, worst, level, gaps, faults in report:
            print(f"{name:36} {errors!s:>9} {verrors!s:>9} {worst!s:>9} {level:>8} {gaps!s:>4}  {'; '.join(faults)}")
        print("PASS" if ok else "FAIL")
        return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
