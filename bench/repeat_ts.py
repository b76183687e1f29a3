#!/usr/bin/env python3
"""Repeats a 188-byte-packet TS until it reaches SIZE_MIB, keeping every
PID's continuity counter running and shifting PTS, DTS and PCR by the length
of the source at each repetition, so that the result plays as one stream.

usage: repeat_ts.py SOURCE OUT SIZE_MIB
"""
import sys

def main():
    src, out, size_mib = sys.argv[1], sys.argv[2], int(sys.argv[3])
    data = bytearray(open(src, "rb").read())
    n = len(data) // 188
    data = data[: n * 188]
    # Span of the source in 90 kHz ticks, from its PCRs.
    pcrs = []
    for k in range(n):
        p = data[k * 188:(k + 1) * 188]
        if p[3] & 0x20 and p[4] >= 7 and p[5] & 0x10:
            pcrs.append((p[6] << 25) | (p[7] << 17) | (p[8] << 9) | (p[9] << 1) | (p[10] >> 7))
    span = (max(pcrs) - min(pcrs)) * n // max(1, n - 1) if pcrs else 90000
    span += 3600
    cc_count = {}
    for k in range(n):
        pid = ((data[k * 188 + 1] & 0x1F) << 8) | data[k * 188 + 2]
        if data[k * 188 + 3] & 0x10:
            cc_count[pid] = cc_count.get(pid, 0) + 1
    target = size_mib << 20
    with open(out, "wb") as f:
        written, rep = 0, 0
        while written < target:
            chunk = bytearray(data)
            shift = rep * span
            for k in range(n):
                o = k * 188
                p = memoryview(chunk)[o:o + 188]
                pid = ((p[1] & 0x1F) << 8) | p[2]
                if p[3] & 0x10:
                    p[3] = (p[3] & 0xF0) | ((p[3] + rep * cc_count[pid]) & 0x0F)
                start = 4
                if p[3] & 0x20:
                    if p[4] >= 7 and p[5] & 0x10 and shift:
                        b = ((p[6] << 25) | (p[7] << 17) | (p[8] << 9) | (p[9] << 1) | (p[10] >> 7)) + shift
                        b &= (1 << 33) - 1
                        p[6], p[7], p[8], p[9] = (b >> 25) & 0xFF, (b >> 17) & 0xFF, (b >> 9) & 0xFF, (b >> 1) & 0xFF
                        p[10] = ((b & 1) << 7) | (p[10] & 0x7F)
                    start = 5 + p[4]
                if shift and p[1] & 0x40 and start + 14 <= 188 and p[start:start + 3] == b"\0\0\1":
                    flags = p[start + 7]
                    for present, at in ((flags & 0x80, start + 9), ((flags & 0xC0) == 0xC0, start + 14)):
                        if not present or at + 5 > 188:
                            continue
                        t = (((p[at] >> 1) & 7) << 30) | (p[at + 1] << 22) | ((p[at + 2] >> 1) << 15) | \
                            (p[at + 3] << 7) | (p[at + 4] >> 1)
                        t = (t + shift) & ((1 << 33) - 1)
                        p[at] = (p[at] & 0xF1) | (((t >> 30) & 7) << 1)
                        p[at + 1] = (t >> 22) & 0xFF
                        p[at + 2] = (((t >> 15) & 0x7F) << 1) | 1
                        p[at + 3] = (t >> 7) & 0xFF
                        p[at + 4] = ((t & 0x7F) << 1) | 1
            f.write(chunk)
            written += len(chunk)
            rep += 1

if __name__ == "__main__":
    main()
