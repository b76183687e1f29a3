#!/usr/bin/python3
"""encode-mp2 at every sample rate, channel count and Layer II bit rate.

For each combination the same PCM (pink noise with a tone, 16-bit WAV) is
encoded by `kelvor-cli encode-mp2 -b KBPS` and by `twolame -b KBPS` in the
same mode (plain stereo or mono). Our stream is walked frame by frame from
its headers (every frame the length its header gives, the last one ending
the file) and decoded by ffmpeg (-xerror) and mpg123; both must decode
without a message, to frames x 1152 samples per channel. Each stream is then
decoded with ffmpeg, aligned with the input and compared: SNR over the whole
signal and segmental SNR (1152-sample segments, quiet ones skipped, each
clamped to [-10, 80] dB).

  mp2_rates.py --cli build/release/src/kelvor-cli [--seconds 4] [--work DIR]
               [--rates 32000,44100,48000] [--channels 1,2]

Exit 1 when a decoder complains or a length is wrong.
"""
import argparse
import os
import subprocess
import sys
import tempfile
import wave

import numpy as np

STEREO_KBPS = [64, 96, 112, 128, 160, 192, 224, 256, 320, 384]
MONO_KBPS = [32, 48, 56, 64, 80, 96, 112, 128, 160, 192]
KBPS_OF_INDEX = [0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384]
RATE_OF_INDEX = [44100, 48000, 32000]


def signal(rate, channels, seconds, seed=1):
    rng = np.random.default_rng(seed)
    n = int(seconds * rate)
    t = np.arange(n) / rate
    out = []
    for c in range(channels):
        spectrum = np.fft.rfft(rng.standard_normal(n))
        f = np.arange(len(spectrum))
        f[0] = 1
        pink = np.fft.irfft(spectrum / np.sqrt(f), n)
        x = 0.3 * pink / np.max(np.abs(pink)) + 0.2 * np.sin(2 * np.pi * (440 + 110 * c) * t)
        out.append(x)
    return np.stack(out, axis=1)


def write_wav(path, x, rate):
    pcm = np.clip(np.round(x * 32767.0), -32768, 32767).astype('<i2')
    with wave.open(path, 'wb') as w:
        w.setnchannels(x.shape[1])
        w.setsampwidth(2)
        w.setframerate(rate)
        w.writeframes(pcm.tobytes())
    return pcm.astype(np.float64) / 32768.0


def walk_frames(path, rate, channels, kbps):
    """Frame count, or a string saying what is wrong."""
    data = open(path, 'rb').read()
    pos, frames = 0, 0
    while pos < len(data):
        h = data[pos:pos + 4]
        if len(h) < 4 or h[0] != 0xFF or h[1] != 0xFD:
            return f'no Layer II header at byte {pos}'
        k = KBPS_OF_INDEX[h[2] >> 4]
        r = RATE_OF_INDEX[(h[2] >> 2) & 3]
        mono = (h[3] >> 6) == 3
        if k != kbps or r != rate or mono != (channels == 1):
            return f'frame {frames}: header says {k} kbit/s {r} Hz mono={mono}'
        pos += 144000 * k // r + ((h[2] >> 1) & 1)
        frames += 1
    if pos != len(data):
        return f'the last frame runs {pos - len(data)} bytes past the end'
    duration = len(data) * 8 / (kbps * 1000)
    expected = frames * 1152 / rate
    if abs(duration - expected) > 8 / (kbps * 1000) * 1.0 + 1e-9 and abs(duration - expected) / expected > 0.001:
        return f'{len(data)} bytes in {frames} frames miss the bit rate'
    return frames


def decode_ffmpeg(path, channels):
    p = subprocess.run(['ffmpeg', '-v', 'error', '-xerror', '-i', path, '-f', 'f32le', '-'], capture_output=True)
    x = np.frombuffer(p.stdout, dtype='<f4').astype(np.float64).reshape(-1, channels)
    return x, p.returncode == 0 and not p.stderr.strip(), p.stderr.decode(errors='replace').strip()


def decode_mpg123(path, channels):
    p = subprocess.run(['mpg123', '-q', '-s', path], capture_output=True)
    x = np.frombuffer(p.stdout, dtype='<i2').reshape(-1, channels)
    return len(x), p.returncode == 0 and not p.stderr.strip(), p.stderr.decode(errors='replace').strip()


def align(ref, dec, max_lag=3000):
    a = ref.sum(axis=1)
    b = dec.sum(axis=1)
    n = min(len(a), len(b) - max_lag)
    fa = np.fft.rfft(a[:n], 2 * (n + max_lag))
    fb = np.fft.rfft(b[:n + max_lag], 2 * (n + max_lag))
    return int(np.argmax(np.fft.irfft(np.conj(fa) * fb)[:max_lag + 1]))


def measure(ref, dec):
    lag = align(ref, dec)
    d = dec[lag:lag + len(ref)]
    r = ref[:len(d)]
    noise = d - r
    snr = 10 * np.log10(np.sum(r ** 2) / max(np.sum(noise ** 2), 1e-30))
    seg = []
    for s in range(0, len(r) - 1152, 1152):
        pr = np.sum(r[s:s + 1152] ** 2)
        if pr < 1152 * r.shape[1] * 1e-7:
            continue
        seg.append(np.clip(10 * np.log10(pr / max(np.sum(noise[s:s + 1152] ** 2), 1e-30)), -10, 80))
    return snr, float(np.mean(seg))


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument('--cli', required=True)
    ap.add_argument('--seconds', type=float, default=4.0)
    ap.add_argument('--work')
    ap.add_argument('--rates', default='32000,44100,48000')
    ap.add_argument('--channels', default='2,1')
    args = ap.parse_args()
    work = args.work or tempfile.mkdtemp(prefix='mp2rates')
    os.makedirs(work, exist_ok=True)
    failed = False
    print(f"{'rate':>6} {'ch':>2} {'kbps':>4} {'frames':>6}  {'ours SNR/seg dB':>16}  {'twolame SNR/seg dB':>18}  decoders")
    for rate in [int(r) for r in args.rates.split(',')]:
        for channels in [int(c) for c in args.channels.split(',')]:
            src = os.path.join(work, f'in_{rate}_{channels}.wav')
            ref = write_wav(src, signal(rate, channels, args.seconds), rate)
            for kbps in (STEREO_KBPS if channels == 2 else MONO_KBPS):
                ours = os.path.join(work, f'ours_{rate}_{channels}_{kbps}.mp2')
                theirs = os.path.join(work, f'twolame_{rate}_{channels}_{kbps}.mp2')
                subprocess.run([args.cli, 'encode-mp2', '-b', str(kbps), src, ours], check=True)
                subprocess.run(['twolame', '--quiet', '-m', 'm' if channels == 1 else 's', '-b', str(kbps), src, theirs],
                               check=True)
                problems = []
                frames = walk_frames(ours, rate, channels, kbps)
                if isinstance(frames, str):
                    problems.append(frames)
                    frames = -1
                dec, ok, err = decode_ffmpeg(ours, channels)
                if not ok:
                    problems.append('ffmpeg: ' + err)
                if len(dec) != frames * 1152:
                    problems.append(f'ffmpeg decoded {len(dec)} samples, not {frames} x 1152')
                count, ok, err = decode_mpg123(ours, channels)
                if not ok:
                    problems.append('mpg123: ' + err)
                if count != frames * 1152:
                    problems.append(f'mpg123 decoded {count} samples, not {frames} x 1152')
                snr, seg = measure(ref, dec)
                tsnr, tseg = measure(ref, decode_ffmpeg(theirs, channels)[0])
                print(f"{rate:6d} {channels:2d} {kbps:4d} {frames:6d}  {snr:7.2f} / {seg:6.2f}  {tsnr:9.2f} / {tseg:6.2f}  "
                      f"{'ok' if not problems else '; '.join(problems)}", flush=True)
                failed = failed or bool(problems)
    return 1 if failed else 0


if __name__ == '__main__':
    sys.exit(main())
