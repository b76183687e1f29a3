#!/usr/bin/env python3
"""Cuts AC-3 and E-AC-3 elementary streams into single-frame seed files for
ac3dec_decode_frame_fuzzer: one control byte (0: repair mode) and the frame.

usage: ac3_seed_corpus.py OUTPUT_DIR STREAM...   (at most 8 frames per stream)
"""
import os
import sys

# AC-3 frame sizes at 48 kHz in 16-bit words, by frmsizecod / 2.
AC3_WORDS = [64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384, 448, 512, 640, 768, 896, 1024, 1152, 1280]


def frame_length(data, pos):
    if pos + 6 > len(data) or data[pos] != 0x0B or data[pos + 1] != 0x77:
        return 0
    bsid = data[pos + 5] >> 3
    if data[pos + 4] >> 6 != 0:
        return 0
    if bsid <= 8:
        code = data[pos + 4] & 0x3F
        return 2 * AC3_WORDS[code // 2] if code < 38 else 0
    if 10 <= bsid <= 16:
        return 2 * ((((data[pos + 2] & 7) << 8) | data[pos + 3]) + 1)
    return 0


def main():
    out = sys.argv[1]
    os.makedirs(out, exist_ok=True)
    count = 0
    for path in sys.argv[2:]:
        with open(path, 'rb') as f:
            data = f.read()
        pos = 0
        taken = 0
        while pos + 6 <= len(data) and taken < 8:
            length = frame_length(data, pos)
            if length == 0 or pos + length > len(data):
                pos += 1
                continue
            name = os.path.join(out, '%s_%03d' % (os.path.basename(path), taken))
            with open(name, 'wb') as f:
                f.write(bytes([0]) + data[pos:pos + length])
            taken += 1
            count += 1
            pos += length
    print('%d seed frames in %s' % (count, out))


if __name__ == '__main__':
    main()
