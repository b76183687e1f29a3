#!/usr/bin/env python3
"""Cuts the committed seed corpora of the scan and conversion fuzz targets
from real transport streams (the public samples, a few generated streams).

usage: make_corpus.py CORPUS_DIR STREAM.ts...

Writes CORPUS_DIR/scan_parsers_fuzzer (PMT sections and the first payloads
of each elementary stream), CORPUS_DIR/convert_assemblers_fuzzer (the first
audio PES packets as the harness's pieces) and
CORPUS_DIR/convert_conversion_fuzzer (the start of each stream). The input
formats are described at the top of each harness.
"""
import os
import struct
import sys

MPEG_AUDIO_TYPES = {0x03, 0x04}
PRIVATE_TYPES = {0x06, 0x81, 0x87}
H264 = 0x1B


def packets(data):
    size = 192 if len(data) > 192 * 3 and data[4] == 0x47 and data[196] == 0x47 else 188
    start = size - 188
    for pos in range(start, len(data) - 187, size):
        if data[pos] == 0x47:
            yield data[pos:pos + 188]


def payload_of(p):
    afc = (p[3] >> 4) & 3
    if not afc & 1:
        return b''
    start = 4 + (1 + p[4] if afc & 2 else 0)
    return p[start:] if start < 188 else b''


def pid_of(p):
    return ((p[1] & 0x1F) << 8) | p[2]


def pes_pts(pes):
    if len(pes) >= 14 and pes[:3] == b'\x00\x00\x01' and pes[7] & 0x80:
        b = pes[9:14]
        return ((b[0] >> 1) & 7) << 30 | b[1] << 22 | (b[2] >> 1) << 15 | b[3] << 7 | b[4] >> 1
    return None


def pes_body(pes):
    return pes[9 + pes[8]:] if len(pes) >= 9 and pes[:3] == b'\x00\x00\x01' else b''


def read_streams(data):
    """The PMT section and {pid: stream_type} of the first programme."""
    pmt_pid = None
    for p in packets(data):
        pl = payload_of(p)
        if not (p[1] & 0x40) or not pl:
            continue
        sec = pl[1 + pl[0]:]
        if pid_of(p) == 0 and pmt_pid is None and len(sec) >= 16:
            n = ((sec[1] & 0x0F) << 8) | sec[2]
            for k in range(8, 3 + n - 4, 4):
                if (sec[k] << 8 | sec[k + 1]) != 0:
                    pmt_pid = ((sec[k + 2] & 0x1F) << 8) | sec[k + 3]
                    break
        elif pmt_pid is not None and pid_of(p) == pmt_pid and sec and sec[0] == 2:
            n = ((sec[1] & 0x0F) << 8) | sec[2]
            section = sec[:3 + n]
            streams = {}
            pos = 12 + (((section[10] & 0x0F) << 8) | section[11])
            while pos + 5 <= len(section) - 4:
                es_len = ((section[pos + 3] & 0x0F) << 8) | section[pos + 4]
                streams[((section[pos + 1] & 0x1F) << 8) | section[pos + 2]] = section[pos]
                pos += 5 + es_len
            return section, streams
    return None, {}


def payloads(data, pid, limit):
    """(unit start, payload) of the first `limit` packets of `pid`."""
    out = []
    for p in packets(data):
        if pid_of(p) == pid:
            out.append((bool(p[1] & 0x40), payload_of(p)))
            if len(out) == limit:
                break
    return out


def write(folder, name, blob):
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, name), 'wb') as f:
        f.write(blob)


def elementary(pieces, limit):
    es = b''
    for start, pl in pieces:
        es += pes_body(pl) if start else pl
        if len(es) >= limit:
            break
    return es[:limit]


def assembler_seed(pieces, private):
    """The harness's pieces: flags, length, time step, payload bytes."""
    out = bytearray([1 if private else 0])
    last = None
    for start, pl in pieces:
        pts = pes_pts(pl) if start else None
        body = pes_body(pl) if start else pl
        flags = 1 if start else 0
        step = 0
        if pts is not None:
            flags |= 2
            delta = 0 if last is None else (pts - last) & 0xFFFFFFFF
            step = delta if delta < 0x10000 else 0
            last = pts
        out += bytes([flags, len(body)]) + struct.pack('>H', step) + body
    return bytes(out)


def main():
    corpus = sys.argv[1]
    scan = os.path.join(corpus, 'scan_parsers_fuzzer')
    asm = os.path.join(corpus, 'convert_assemblers_fuzzer')
    conv = os.path.join(corpus, 'convert_conversion_fuzzer')
    for n, path in enumerate(sys.argv[2:]):
        with open(path, 'rb') as f:
            data = f.read()
        base = os.path.splitext(os.path.basename(path))[0]
        section, streams = read_streams(data)
        if section is None:
            print('%s: no PMT, skipped' % path)
            continue
        write(scan, base + '_pmt', bytes([0]) + section)
        for pid, kind in sorted(streams.items()):
            pieces = payloads(data, pid, 24)
            if kind in MPEG_AUDIO_TYPES:
                write(scan, '%s_%04x_mpa' % (base, pid), bytes([1 | 30 << 3]) + elementary(pieces, 1200))
                write(asm, '%s_%04x' % (base, pid), assembler_seed(pieces[:16], False))
            elif kind in PRIVATE_TYPES:
                write(scan, '%s_%04x_ac3' % (base, pid), bytes([2 | 30 << 3]) + elementary(pieces, 4000))
                write(asm, '%s_%04x' % (base, pid), assembler_seed(pieces[:16], True))
            elif kind in (0x01, 0x02, H264):
                control = 3 | (4 if kind == H264 else 0) | 30 << 3
                write(scan, '%s_%04x_video' % (base, pid), bytes([control]) + elementary(pieces, 3000))
        # The start of the stream: enough packets for the scan to list the
        # tracks and the conversion to start (the half-second streams whole,
        # the public samples' first 100 packets); the format rotates.
        size = 192 if path.endswith('.m2ts') else 188
        count = 100 if base.startswith('sample') else 200
        write(conv, base, bytes([n % 3]) + data[:size * count])
    for folder in (scan, asm, conv):
        files = os.listdir(folder) if os.path.isdir(folder) else []
        total = sum(os.path.getsize(os.path.join(folder, f)) for f in files)
        print('%s: %d files, %d bytes' % (folder, len(files), total))


if __name__ == '__main__':
    main()
