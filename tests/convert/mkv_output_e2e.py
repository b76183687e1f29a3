#!/usr/bin/env python3
"""MKV output end to end, checked with the Matroska and ffmpeg tools.

usage: mkv_output_e2e.py --cli KELVOR_CLI --fixtures DIR [--samples DIR]

For H.264 recordings, each converted to MKV and to TS in the same way:
- mkvinfo reads every element and block without a warning or error;
- mkvmerge lists the video and every audio track of the TS, with the TS's
  languages and the codec ids the run writes (E-AC-3 kept only with
  --keep-eac3);
- ffmpeg decodes the MKV without a message, one block per picture, and the
  MKV lasts as long as the TS within one frame;
- the same run gives the same bytes;
- with cuts, a chapter at 0 and one at the key frame where each cut joins.
MPEG-2 video is refused for MKV with nothing written; .mkv names the format
and batch output gets .mkv names.
"""

import argparse
import json
import os
import shutil
import subprocess
import sys
import tempfile

failures = []


def check(ok, what):
    if not ok:
        failures.append(what)
        print("FAIL:", what)


def run(cmd):
    return subprocess.run(cmd, capture_output=True, text=True, check=False)


def probe(path, *entries):
    r = run(["ffprobe", "-v", "error", *entries, "-of", "json", path])
    return json.loads(r.stdout or "{}")


def duration(path):
    return float(probe(path, "-show_entries", "format=duration")["format"]["duration"])


def video_packets(path):
    d = probe(path, "-select_streams", "v:0", "-show_entries", "packet=pts_time,flags")
    return [(float(p["pts_time"]), "K" in p["flags"]) for p in d.get("packets", []) if "pts_time" in p]


def frame_rate(path):
    s = probe(path, "-select_streams", "v:0", "-show_entries", "stream=r_frame_rate")["streams"][0]
    num, den = s["r_frame_rate"].split("/")
    return float(num) / float(den)


def audio_languages(path):
    # mkvmerge names the languages of both containers in one way (deu as ger).
    tracks = json.loads(run(["mkvmerge", "-J", path]).stdout)["tracks"]
    return [t["properties"].get("language", "und") for t in tracks if t["type"] == "audio"]


def convert(cli, src, out, *extra):
    return run([cli, "convert", "-q", "--overwrite", *extra, src, out])


def check_file(cli, src, work, name, extra=(), expect_codecs=None):
    mkv = os.path.join(work, name + ".mkv")
    ts = os.path.join(work, name + ".ts")
    r = convert(cli, src, mkv, *extra)
    check(r.returncode == 0, f"{name}: MKV conversion exit {r.returncode}: {r.stderr.strip()}")
    if r.returncode != 0:
        return None
    check(convert(cli, src, ts, *extra).returncode == 0, f"{name}: TS conversion failed")

    info = run(["mkvinfo", "-C", mkv])
    bad = [l for l in (info.stdout + info.stderr).splitlines()
           if any(w in l for w in ("Unknown", "Warning", "Error", "warning", "error"))]
    check(info.returncode == 0 and not bad, f"{name}: mkvinfo: {bad[:3]}")

    tracks = json.loads(run(["mkvmerge", "-J", mkv]).stdout)["tracks"]
    ids = [t["properties"]["codec_id"] for t in tracks]
    check(ids[0] == "V_MPEG4/ISO/AVC", f"{name}: first track {ids[0]}")
    if expect_codecs is not None:
        check(ids[1:] == expect_codecs, f"{name}: audio codec ids {ids[1:]}, expected {expect_codecs}")
    check(audio_languages(mkv) == audio_languages(ts),
          f"{name}: languages {audio_languages(mkv)} against the TS's {audio_languages(ts)}")

    err = run(["ffmpeg", "-v", "error", "-i", mkv, "-f", "null", "-"]).stderr.strip()
    check(err == "", f"{name}: ffmpeg decoding: {err[:200]}")
    blocks = len(video_packets(mkv))
    pictures = len(video_packets(ts))
    check(blocks == pictures, f"{name}: {blocks} video blocks for {pictures} pictures")
    frame = 1 / frame_rate(ts)
    check(abs(duration(mkv) - duration(ts)) <= frame,
          f"{name}: lasts {duration(mkv):.3f} s, the TS {duration(ts):.3f} s")

    again = os.path.join(work, name + ".again.mkv")
    convert(cli, src, again, *extra)
    with open(mkv, "rb") as a, open(again, "rb") as b:
        check(a.read() == b.read(), f"{name}: a second run gives other bytes")
    return mkv


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--cli", required=True)
    ap.add_argument("--fixtures", required=True)
    ap.add_argument("--samples")
    args = ap.parse_args()
    for tool in ("mkvinfo", "mkvmerge", "ffmpeg", "ffprobe"):
        if shutil.which(tool) is None:
            print(f"skipped: {tool} is missing")
            sys.exit(77)
    fx = lambda n: os.path.join(args.fixtures, n)  # noqa: E731
    for n in ("h264_eac3_mp2.ts", "h264_25_mp2.ts", "h264_noaud_mp2.ts", "cuts_h264_25.ts", "mpeg2_mp2_ac3.ts"):
        if not os.path.exists(fx(n)):
            print(f"skipped: {n} is missing")
            sys.exit(77)

    with tempfile.TemporaryDirectory() as work:
        # E-AC-3 is written as AC-3 unless it is kept.
        check_file(args.cli, fx("h264_eac3_mp2.ts"), work, "eac3", (), ["A_MPEG/L2", "A_AC3"])
        check_file(args.cli, fx("h264_eac3_mp2.ts"), work, "eac3kept", ("--keep-eac3",), ["A_MPEG/L2", "A_EAC3"])
        check_file(args.cli, fx("h264_25_mp2.ts"), work, "mp2", (), ["A_MPEG/L2"])
        check_file(args.cli, fx("h264_noaud_mp2.ts"), work, "noaud")
        if args.samples and os.path.exists(os.path.join(args.samples, "sample_h264_mpeg_audio.ts")):
            check_file(args.cli, os.path.join(args.samples, "sample_h264_mpeg_audio.ts"), work, "sample")

        # Chapters: the start and the key frame where each cut joins.
        cut = check_file(args.cli, fx("cuts_h264_25.ts"), work, "cuts", ("--cut", "20.1-35.7", "--cut", "60.3-75.9"))
        if cut:
            chapters = [float(c["start_time"]) for c in probe(cut, "-show_chapters")["chapters"]]
            keys = [t for t, k in video_packets(cut) if k]
            check(len(chapters) == 3 and chapters[0] == 0, f"cuts: chapters at {chapters}")
            check(all(any(abs(c - k) < 0.0015 for k in keys) for c in chapters[1:]),
                  f"cuts: chapters {chapters[1:]} are not at key frames")
        plain = check_file(args.cli, fx("h264_25_mp2.ts"), work, "nocuts")
        if plain:
            check(probe(plain, "-show_chapters").get("chapters") == [], "a run without cuts has chapters")

        # MPEG-2 video: refused, nothing written.
        out = os.path.join(work, "mpeg2.mkv")
        r = run([args.cli, "convert", "-q", fx("mpeg2_mp2_ac3.ts"), out])
        check(r.returncode == 2 and "--format ts|m2ts|mpg" in r.stderr and not os.path.exists(out),
              f"MPEG-2 to MKV: exit {r.returncode}, '{r.stderr.strip()}', written: {os.path.exists(out)}")

        # Batch output is named .mkv; an unknown extension names .mkv among those known.
        outdir = os.path.join(work, "batch")
        r = run([args.cli, "convert", "-q", "--format", "mkv", fx("h264_25_mp2.ts"), "-o", outdir])
        check(r.returncode == 0 and os.listdir(outdir) == ["h264_25_mp2.mkv"],
              f"batch: exit {r.returncode}, {os.listdir(outdir) if os.path.isdir(outdir) else None}")
        r = run([args.cli, "convert", "-q", fx("h264_25_mp2.ts"), os.path.join(work, "x.mkx")])
        check(r.returncode == 2 and ".mkv" in r.stderr and "mkv" in r.stderr.split("--format")[-1],
              f"unknown extension: {r.stderr.strip()[:200]}")

    if failures:
        print(f"{len(failures)} failure(s)")
        sys.exit(1)
    print("MKV output: all checks passed")


if __name__ == "__main__":
    main()
