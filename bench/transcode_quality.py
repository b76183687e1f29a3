#!/usr/bin/python3
"""Side-by-side quality of E-AC-3 -> AC-3 routes, measured with ffmpeg.

For each E-AC-3 input: the reference is ffmpeg's decode of the input (with
consistent noise generation, -drc_scale 0). Two routes are compared with it:
  ours:   kelvor-cli transcode-eac3, decoded by ffmpeg
  ffmpeg: ffmpeg decode of the input -> ffmpeg AC-3 encoder at the bit rate
          of our frames -> decoded by ffmpeg
The "dither ceiling" is the SNR of ffmpeg's default decode of the input
against the reference: bins coded without bits are noise, so no route whose
noise differs from the reference's can exceed it by much.

SNR is over all channels after aligning each route to the reference by the
lag (0..2048 samples) that maximises correlation; the first and last frame
are left out.

Usage: transcode_quality.py [--generate] [--min-margin DB] KELVOR_CLI OUT_DIR [INPUT...]
  --generate      make the ffmpeg-encoded test inputs in OUT_DIR first
  --quick         with --generate: only two of them (a check for CI)
  --min-margin D  exit 1 when ours is more than D dB below ffmpeg's route
"""
import argparse
import json
import os
import subprocess
import sys

try:
    import numpy as np
except ImportError:  # lets a test runner report the check as skipped
    print("numpy is not installed", file=sys.stderr)
    sys.exit(77)

RATE = 48000


def run(cmd):
    subprocess.run(cmd, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)


def decode(path, channels, extra=()):
    cmd = ["ffmpeg", "-v", "error", "-drc_scale", "0", *extra, "-i", path,
           "-f", "f32le", "-ac", str(channels), "-"]
    raw = subprocess.run(cmd, check=True, capture_output=True).stdout
    return np.frombuffer(raw, dtype=np.float32).reshape(-1, channels).astype(np.float64)


def probe(path):
    out = subprocess.run(["ffprobe", "-v", "error", "-select_streams", "a:0", "-show_entries",
                          "stream=channels,bit_rate,channel_layout", "-of", "json", path],
                         check=True, capture_output=True).stdout
    return json.loads(out)["streams"][0]


def best_lag(ref, x, max_lag=2048):
    """The lag of x (0..max_lag) with the least squared error against ref."""
    n = min(len(ref), len(x) - max_lag)
    if n <= 0:
        return 0
    r = ref[:n]
    size = 1 << int(np.ceil(np.log2(n + max_lag + 1)))
    corr = np.zeros(max_lag + 1)
    energy = np.zeros(max_lag + 1)
    for c in range(ref.shape[1]):
        xc = x[:n + max_lag, c]
        f = np.fft.rfft(xc, size) * np.conj(np.fft.rfft(r[:, c], size))
        corr += np.fft.irfft(f, size)[:max_lag + 1]
        cs = np.concatenate(([0.0], np.cumsum(xc * xc)))
        energy += cs[n:n + max_lag + 1] - cs[:max_lag + 1]
    return int(np.argmin(energy - 2 * corr))


def snr(ref, x):
    lag = best_lag(ref, x)
    x = x[lag:]
    n = min(len(ref), len(x))
    skip = 1536
    r = ref[skip:n - skip]
    e = x[skip:n - skip] - r
    p_sig = float(np.sum(r * r))
    p_err = float(np.sum(e * e))
    if p_err == 0:
        return float("inf")
    return 10 * np.log10(p_sig / p_err)


def generate(out_dir, quick=False):
    """ffmpeg-made E-AC-3: 5.1 and stereo, 192k..1M, tonal and pink noise."""
    made = []
    wanted = {"tone_51_384k.eac3", "chirp_stereo_192k.eac3"}
    sources = {
        "tone": "sine=frequency=440:sample_rate=48000:duration=6,volume=0.5",
        "chirp": "aevalsrc='0.3*sin(2*PI*(200+900*t)*t)+0.2*sin(2*PI*3150*t)':s=48000:d=6",
        "pink": "anoisesrc=color=pink:seed=42:sample_rate=48000:duration=6:amplitude=0.3",
    }
    for name, src in sources.items():
        for layout, rates in (("5.1", ("384k", "1024k")), ("stereo", ("192k", "640k"))):
            for rate in rates:
                path = os.path.join(out_dir, f"{name}_{layout.replace('.', '')}_{rate}.eac3")
                if quick and os.path.basename(path) not in wanted:
                    continue
                if not os.path.exists(path):
                    run(["ffmpeg", "-v", "error", "-y", "-f", "lavfi", "-i", src,
                         "-af", f"aformat=channel_layouts={layout}" if layout == "stereo" else
                         "pan=5.1|FL=c0|FR=0.8*c0|FC=0.6*c0|LFE=0.3*c0|BL=0.5*c0|BR=0.4*c0",
                         "-c:a", "eac3", "-b:a", rate, path])
                made.append(path)
    return made


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("cli")
    ap.add_argument("out_dir")
    ap.add_argument("inputs", nargs="*")
    ap.add_argument("--generate", action="store_true")
    ap.add_argument("--quick", action="store_true")
    ap.add_argument("--min-margin", type=float, default=None)
    args = ap.parse_args()
    os.makedirs(args.out_dir, exist_ok=True)
    inputs = list(args.inputs)
    if args.generate:
        inputs = generate(args.out_dir, args.quick) + inputs
    print(f"{'stream':34} {'kbit/s':>7} {'ours dB':>8} {'ffmpeg dB':>9} {'ceiling dB':>10}")
    worst = float("inf")
    for path in inputs:
        base = os.path.join(args.out_dir, os.path.basename(path))
        ours = base + ".ours.ac3"
        run([args.cli, "transcode-eac3", path, ours])
        info = probe(ours)
        channels = int(info["channels"])
        rate = int(info["bit_rate"])
        wav = base + ".dec.wav"
        theirs = base + ".ffmpeg.ac3"
        run(["ffmpeg", "-v", "error", "-y", "-drc_scale", "0", "-i", path, "-c:a", "pcm_f32le", wav])
        run(["ffmpeg", "-v", "error", "-y", "-i", wav, "-c:a", "ac3", "-b:a", str(rate), theirs])
        ref = decode(path, channels, ("-cons_noisegen", "1"))
        plain = decode(path, channels)
        s_ours = snr(ref, decode(ours, channels))
        s_ffmpeg = snr(ref, decode(theirs, channels))
        s_ceiling = snr(ref, plain)
        worst = min(worst, s_ours - s_ffmpeg)
        print(f"{os.path.basename(path):34} {rate // 1000:7d} {s_ours:8.2f} {s_ffmpeg:9.2f} {s_ceiling:10.2f}")
        sys.stdout.flush()
    if args.min_margin is not None and worst < -args.min_margin:
        print(f"ours falls {-worst:.2f} dB below ffmpeg's route", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
