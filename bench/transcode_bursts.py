#!/usr/bin/python3
"""E-AC-3 -> AC-3 on tone bursts: ours beside ffmpeg's decode + re-encode.

Inputs are made by ffmpeg's E-AC-3 encoder from bursts of a tone (100 ms of
the tone at 0.5 every second, 6 s unless --seconds says, at three frequencies; stereo at 192k and 640k,
5.1 at 384k and 1024k) and from two broadcast-like 5.1 signals (1 kHz bursts
at whole seconds over a quiet 440 Hz background tone). Each input goes
  ours:   kelvor-cli transcode-eac3 (AC-3 at its own bit rate)
  ffmpeg: ffmpeg decode -> ffmpeg AC-3 encoder at the bit rate of our frames
and every output is decoded by ffmpeg with -drc_scale 0 and CRC checking
(-err_detect crccheck+explode: a damaged frame fails the run).

Two references:
  decode  ffmpeg's decode of the input (-drc_scale 0): what ffmpeg's route
          starts from, its dither noise included
  source  the PCM the input was made from (5.1 without the LFE channel,
          which the E-AC-3 encoder cuts at 120 Hz)
and the dither ceiling: ffmpeg's decode of the input with -cons_noisegen 1
against the plain decode, two draws of the noise that fills the bins the
input codes without bits. A route that does not start from the decode's
PCM (ours transcodes the coefficients) cannot come nearer to the decode
than about that.
Against each: SNR over the whole signal (first and last frame left out),
segmental SNR (1536-sample frames, those quieter than -60 dBFS skipped, each
clamped to [-10, 100] dB), and the SNR of the onset frames only (the frame
in which each burst starts and the one after it). Each route is aligned to
the reference by the lag of least squared error.

Speed: the time of our transcode against ffmpeg's decode + encode, each
best of three, on the longest input.

  transcode_bursts.py KELVOR_CLI WORK_DIR [--only NAME_PART,...] [--seconds 6] [--speed] [--check]

--check makes it a test: exit 1 unless on every stream our whole-signal SNR
against the decode is within 1 dB of ffmpeg's route or of the dither
ceiling (or above).
"""
import argparse
import os
import subprocess
import sys
import time

try:
    import numpy as np
except ImportError:  # lets a test runner report the check as skipped
    print("numpy is not installed", file=sys.stderr)
    sys.exit(77)

RATE = 48000
FRAME = 1536
PAN51 = "pan=5.1|FL=c0|FR=0.8*c0|FC=0.6*c0|LFE=0.3*c0|BL=0.5*c0|BR=0.4*c0"


def burst(freq, seconds):
    return f"aevalsrc=exprs='if(lt(mod(t\\,1)\\,0.1)\\,0.5*sin(2*PI*{freq}*t)\\,0)':s=48000:d={seconds}"


def broadcast(level, seconds):
    return (f"aevalsrc=exprs='if(lt(mod(t\\,1)\\,0.1)\\,0.5*sin(2*PI*1000*t)\\,0)+{level}*sin(2*PI*440*t)'"
            f":s=48000:d={seconds + 2}")


def inputs(seconds):
    made = []
    for freq in (250, 1000, 4000):
        for layout, rates in (("stereo", ("192k", "640k")), ("5.1", ("384k", "1024k"))):
            for rate in rates:
                made.append((f"burst{freq}_{layout.replace('.', '')}_{rate}", burst(freq, seconds), layout, rate))
    made.append(("broadcast_51_384k_quiet", broadcast(0.01, seconds), "5.1", "384k"))
    made.append(("broadcast_51_448k_low", broadcast(0.003, seconds), "5.1", "448k"))
    return made


def run(cmd):
    subprocess.run(cmd, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)


def layout_filter(layout):
    return ["-af", "aformat=channel_layouts=stereo" if layout == "stereo" else PAN51]


def decode(path, channels, check=False, extra=()):
    cmd = ["ffmpeg", "-v", "error", "-drc_scale", "0", *extra]
    if check:
        cmd += ["-err_detect", "crccheck+explode", "-xerror"]
    cmd += ["-i", path, "-f", "f32le", "-ac", str(channels), "-"]
    p = subprocess.run(cmd, capture_output=True)
    if check and (p.returncode != 0 or p.stderr.strip()):
        raise RuntimeError(f"ffmpeg reports on {path}: {p.stderr.decode(errors='replace').strip()}")
    return np.frombuffer(p.stdout, dtype=np.float32).reshape(-1, channels).astype(np.float64)


def best_lag(ref, x, max_lag=2048):
    n = min(len(ref), len(x) - max_lag)
    size = 1 << int(np.ceil(np.log2(n + max_lag + 1)))
    corr = np.zeros(max_lag + 1)
    energy = np.zeros(max_lag + 1)
    for c in range(ref.shape[1]):
        xc = x[:n + max_lag, c]
        f = np.fft.rfft(xc, size) * np.conj(np.fft.rfft(ref[:n, c], size))
        corr += np.fft.irfft(f, size)[:max_lag + 1]
        cs = np.concatenate(([0.0], np.cumsum(xc * xc)))
        energy += cs[n:n + max_lag + 1] - cs[:max_lag + 1]
    return int(np.argmin(energy - 2 * corr))


def db(sig, err):
    return 10 * np.log10(sig / err) if err > 0 else float("inf")


def measure(ref, x):
    """Whole-signal, segmental and onset SNR of x against ref."""
    x = x[best_lag(ref, x):]
    n = min(len(ref), len(x))
    r = ref[FRAME:n - FRAME]
    e = x[FRAME:n - FRAME] - r
    whole = db(np.sum(r * r), np.sum(e * e))
    frames = len(r) // FRAME
    pr = np.array([np.sum(r[i * FRAME:(i + 1) * FRAME] ** 2) for i in range(frames)])
    pe = np.array([np.sum(e[i * FRAME:(i + 1) * FRAME] ** 2) for i in range(frames)])
    loud = pr > FRAME * r.shape[1] * 1e-6
    seg = np.clip(10 * np.log10(pr[loud] / np.maximum(pe[loud], 1e-30)), -10, 100)
    # A burst starts where a frame is 20 dB louder than the one before.
    onsets = [i for i in range(1, frames) if pr[i] > 100 * pr[i - 1] + 1e-9]
    onset = sorted(set(j for i in onsets for j in (i, i + 1) if j < frames))
    onset_snr = db(pr[onset].sum(), pe[onset].sum()) if onset else float("nan")
    return whole, float(np.mean(seg)), onset_snr


def best_time(cmd, times=3):
    best = float("inf")
    for _ in range(times):
        t = time.perf_counter()
        run(cmd)
        best = min(best, time.perf_counter() - t)
    return best


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("cli")
    ap.add_argument("work")
    ap.add_argument("--only", default="")
    ap.add_argument("--speed", action="store_true")
    ap.add_argument("--check", action="store_true")
    ap.add_argument("--seconds", type=int, default=6)
    args = ap.parse_args()
    failed = []
    os.makedirs(args.work, exist_ok=True)
    print(f"{'stream':26} {'kbit/s':>6} | {'against the decode: whole / seg / onset dB':^66} | "
          f"{'against the source: whole / seg / onset dB':^44}")
    print(f"{'':26} {'':6} | {'ours':^21} {'ffmpeg':^21} {'dither ceiling':^21} | {'ours':^21} {'ffmpeg':^21}")
    for name, src, layout, rate in inputs(args.seconds):
        if not any(part in name for part in args.only.split(",")):
            continue
        base = os.path.join(args.work, name)
        channels = 2 if layout == "stereo" else 6
        source = base + ".source.wav"
        eac3 = base + ".eac3"
        if not os.path.exists(eac3):
            run(["ffmpeg", "-v", "error", "-y", "-f", "lavfi", "-i", src, *layout_filter(layout),
                 "-c:a", "pcm_f32le", source])
            run(["ffmpeg", "-v", "error", "-y", "-i", source, "-c:a", "eac3", "-b:a", rate, eac3])
        ours = base + ".ours.ac3"
        run([args.cli, "transcode-eac3", eac3, ours])
        kbps = int(subprocess.run(["ffprobe", "-v", "error", "-select_streams", "a:0", "-show_entries",
                                   "stream=bit_rate", "-of", "csv=p=0", ours],
                                  check=True, capture_output=True, text=True).stdout.strip()) // 1000
        wav = base + ".dec.wav"
        theirs = base + ".ffmpeg.ac3"
        run(["ffmpeg", "-v", "error", "-y", "-drc_scale", "0", "-i", eac3, "-c:a", "pcm_f32le", wav])
        run(["ffmpeg", "-v", "error", "-y", "-i", wav, "-c:a", "ac3", "-b:a", f"{kbps}k", theirs])
        ref_decode = decode(eac3, channels)
        other_draw = decode(eac3, channels, extra=("-cons_noisegen", "1"))
        ref_source = decode(source, channels)
        ours_pcm = decode(ours, channels, check=True)
        theirs_pcm = decode(theirs, channels, check=True)
        cell = "{:6.1f} {:6.1f} {:6.1f}".format
        against_decode = [measure(ref_decode, x) for x in (ours_pcm, theirs_pcm, other_draw)]
        if against_decode[0][0] < min(against_decode[1][0], against_decode[2][0]) - 1.0:
            failed.append(name)
        cells = [cell(*m) for m in against_decode]
        keep = [0, 1] if channels == 2 else [0, 1, 2, 4, 5]
        cells += [cell(*measure(ref_source[:, keep], x[:, keep])) for x in (ours_pcm, theirs_pcm)]
        print(f"{name:26} {kbps:6d} | {cells[0]:21} {cells[1]:21} {cells[2]:21} | {cells[3]:21} {cells[4]:21}",
              flush=True)
    if args.speed:
        eac3 = os.path.join(args.work, "broadcast_51_448k_low.eac3")
        ours_t = best_time([args.cli, "transcode-eac3", eac3, os.path.join(args.work, "speed.ours.ac3")])
        theirs_t = best_time(["sh", "-c", f"ffmpeg -v error -y -drc_scale 0 -i {eac3} -f wav - | "
                                          f"ffmpeg -v error -y -i - -c:a ac3 -b:a 448k "
                                          f"{os.path.join(args.work, 'speed.ffmpeg.ac3')}"])
        print(f"speed: ours {ours_t * 1000:.0f} ms, ffmpeg's route {theirs_t * 1000:.0f} ms: "
              f"{theirs_t / ours_t:.1f} x")
    if args.check and failed:
        print("more than 1 dB below both ffmpeg's route and the dither ceiling: " + ", ".join(failed), file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
