#!/usr/bin/python3
"""Side-by-side quality of MPEG-1 Layer II encoders at 384 kbit/s.

For each test signal the same 48 kHz stereo PCM is encoded by kelvor-cli
encode-mp2, `twolame -b 384` and ffmpeg's mp2 encoder; every stream is decoded
with ffmpeg, aligned with the input by cross-correlation, and compared: SNR
over the whole signal, segmental SNR (1152-sample segments, quiet segments
skipped, each clamped to [-10, 80] dB) and SNR below 15 kHz.

  mp2_quality.py --cli build/release/src/kelvor-cli [--signals sweep,pink]
                 [--seconds 10] [--work DIR] [--ac3 FILE] [--check-bar DB]

--check-bar makes it a test: exit 1 unless ours reaches twolame's SNR less
the given margin on every signal.
"""
import argparse
import os
import subprocess
import sys
import tempfile
import wave

import numpy as np

RATE = 48000


def write_wav(path, stereo):
    pcm = np.clip(np.round(stereo * 32767.0), -32768, 32767).astype('<i2')
    with wave.open(path, 'wb') as w:
        w.setnchannels(2)
        w.setsampwidth(2)
        w.setframerate(RATE)
        w.writeframes(pcm.tobytes())
    return pcm.astype(np.float64) / 32768.0


def read_float_wav(path):
    raw = subprocess.run(['ffmpeg', '-v', 'error', '-i', path, '-f', 'f32le', '-ac', '2', '-ar', str(RATE), '-'],
                         check=True, capture_output=True).stdout
    return np.frombuffer(raw, dtype='<f4').astype(np.float64).reshape(-1, 2)


def sweep(seconds):
    t = np.arange(int(seconds * RATE)) / RATE
    f0, f1 = 20.0, 20000.0
    k = np.log(f1 / f0) / seconds
    x = 0.1 * np.sin(2 * np.pi * f0 * (np.exp(k * t) - 1) / k)  # -20 dBFS
    return np.stack([x, x], axis=1)


def pink(seconds, seed=1):
    rng = np.random.default_rng(seed)
    n = int(seconds * RATE)
    out = []
    for _ in range(2):
        spectrum = np.fft.rfft(rng.standard_normal(n))
        f = np.arange(len(spectrum))
        f[0] = 1
        x = np.fft.irfft(spectrum / np.sqrt(f), n)
        out.append(x / np.max(np.abs(x)) * 0.5)
    return np.stack(out, axis=1)


def clicks(seconds):
    n = int(seconds * RATE)
    t = np.arange(n) / RATE
    x = 0.05 * np.sin(2 * np.pi * 440 * t)
    for start in range(RATE // 4, n - 100, RATE // 2):  # a sharp click every 0.5 s
        x[start:start + 24] += 0.8 * np.exp(-np.arange(24) / 4.0) * np.where(np.arange(24) % 2, -1, 1)
    return np.stack([x, 0.7 * x], axis=1)


def speech(seconds, work):
    text = ("The quick brown fox jumps over the lazy dog. Broadcast recordings carry speech, music and "
            "silence; an encoder must keep all of them clean. Seven sailors sang softly while the ship "
            "sailed south.")
    path = os.path.join(work, 'speech_raw.wav')
    subprocess.run(['espeak-ng', '-w', path, text], check=True, capture_output=True)
    raw = subprocess.run(['ffmpeg', '-v', 'error', '-i', path, '-f', 'f32le', '-ac', '2', '-ar', str(RATE), '-'],
                         check=True, capture_output=True).stdout
    x = np.frombuffer(raw, dtype='<f4').astype(np.float64).reshape(-1, 2)
    x = x[:int(seconds * RATE)]
    return x / max(np.max(np.abs(x)), 1e-9) * 0.7


def ac3_folddown(seconds, work, cli, ac3):
    if ac3 is None:
        src = os.path.join(work, 'src51.wav')
        t = np.arange(int(seconds * RATE)) / RATE
        chans = [0.2 * np.sin(2 * np.pi * f * t) * (0.6 + 0.4 * np.sin(2 * np.pi * 0.5 * t + i))
                 for i, f in enumerate([220, 330, 550, 770, 1210, 60])]
        data = np.clip(np.round(np.stack(chans, axis=1) * 32767), -32768, 32767).astype('<i2')
        with wave.open(src, 'wb') as w:
            w.setnchannels(6)
            w.setsampwidth(2)
            w.setframerate(RATE)
            w.writeframes(data.tobytes())
        ac3 = os.path.join(work, 'src51.ac3')
        subprocess.run(['ffmpeg', '-v', 'error', '-y', '-i', src, '-c:a', 'ac3', '-b:a', '448k', ac3], check=True)
    out = os.path.join(work, 'folddown.wav')
    subprocess.run([cli, 'decode-ac3', ac3, out], check=True, capture_output=True)
    x = read_float_wav(out)[:int(seconds * RATE)]
    return np.clip(x, -1.0, 32767 / 32768)


def align(ref, dec, max_lag=3000):
    a = ref[:, 0] + ref[:, 1]
    b = dec[:, 0] + dec[:, 1]
    n = min(len(a), len(b) - max_lag)
    n = min(n, 10 * RATE)
    best, lag = -np.inf, 0
    fa = np.fft.rfft(a[:n], 2 * (n + max_lag))
    fb = np.fft.rfft(b[:n + max_lag], 2 * (n + max_lag))
    corr = np.fft.irfft(np.conj(fa) * fb)[:max_lag + 1]
    lag = int(np.argmax(corr))
    return lag


def measure(ref, dec, lag):
    d = dec[lag:lag + len(ref)]
    r = ref[:len(d)]
    noise = d - r
    snr = 10 * np.log10(np.sum(r ** 2) / max(np.sum(noise ** 2), 1e-30))
    seg = []
    for s in range(0, len(r) - 1152, 1152):
        pr = np.sum(r[s:s + 1152] ** 2)
        if pr < 1152 * 2 * 1e-7:  # quieter than -70 dBFS
            continue
        pn = np.sum(noise[s:s + 1152] ** 2)
        seg.append(np.clip(10 * np.log10(pr / max(pn, 1e-30)), -10, 80))
    # The same SNR with both signals limited to 15 kHz, where the threshold in
    # quiet does not yet rise steeply.
    cut = int(len(r) * 15000 / RATE)
    low = lambda x: np.fft.rfft(x, axis=0)[:cut]
    snr15 = 10 * np.log10(np.sum(np.abs(low(r)) ** 2) / max(np.sum(np.abs(low(noise)) ** 2), 1e-30))
    return snr, float(np.mean(seg)) if seg else float('nan'), snr15


def encode_all(src, work, name, cli):
    outs = {}
    ours = os.path.join(work, name + '.ours.mp2')
    subprocess.run([cli, 'encode-mp2', src, ours], check=True)
    outs['kelvor'] = ours
    tl = os.path.join(work, name + '.twolame.mp2')
    subprocess.run(['twolame', '--quiet', '-b', '384', src, tl], check=True)
    outs['twolame'] = tl
    ff = os.path.join(work, name + '.ffmpeg.mp2')
    subprocess.run(['ffmpeg', '-v', 'error', '-y', '-i', src, '-c:a', 'mp2', '-b:a', '384k', ff], check=True)
    outs['ffmpeg'] = ff
    return outs


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument('--cli', required=True)
    ap.add_argument('--signals', default='sweep,pink,clicks,speech,ac3')
    ap.add_argument('--seconds', type=float, default=10.0)
    ap.add_argument('--work')
    ap.add_argument('--ac3')
    ap.add_argument('--check-bar', type=float)
    args = ap.parse_args()
    work = args.work or tempfile.mkdtemp(prefix='mp2q')
    os.makedirs(work, exist_ok=True)
    makers = {
        'sweep': lambda: sweep(args.seconds),
        'pink': lambda: pink(args.seconds),
        'clicks': lambda: clicks(args.seconds),
        'speech': lambda: speech(args.seconds, work),
        'ac3': lambda: ac3_folddown(args.seconds, work, args.cli, args.ac3),
    }
    failed = False
    print(f"{'signal':8} {'encoder':8} {'SNR dB':>8} {'segSNR dB':>10} {'SNR<15k':>8} {'lag':>5}")
    for name in args.signals.split(','):
        src = os.path.join(work, name + '.wav')
        ref = write_wav(src, makers[name]())
        results = {}
        for enc, path in encode_all(src, work, name, args.cli).items():
            dec = read_float_wav(path)
            lag = align(ref, dec)
            results[enc] = measure(ref, dec, lag)
            print(f"{name:8} {enc:8} {results[enc][0]:8.2f} {results[enc][1]:10.2f} {results[enc][2]:8.2f} {lag:5d}",
                  flush=True)
        if args.check_bar is not None and results['kelvor'][0] < results['twolame'][0] - args.check_bar:
            print(f"FAIL {name}: ours {results['kelvor'][0]:.2f} dB below twolame {results['twolame'][0]:.2f} dB",
                  file=sys.stderr)
            failed = True
    return 1 if failed else 0


if __name__ == '__main__':
    sys.exit(main())
