#!/usr/bin/env python3
"""Checks a chart rendered to PNG (8-bit RGB or RGBA) on its pixels.
  png_check.py bars PNG    each panel's plot area holds coloured pixels
  png_check.py edges PNG   nothing is drawn within 3 pixels of the left or right edge"""
import struct, sys, zlib

def pixels(path):
    data = open(path, "rb").read()
    assert data[:8] == b"\x89PNG\r\n\x1a\n"
    at, idat = 8, b""
    while at < len(data):
        n, kind = struct.unpack(">I4s", data[at:at + 8])
        body = data[at + 8:at + 8 + n]
        if kind == b"IHDR":
            w, h, depth, colour = struct.unpack(">IIBB", body[:10])
        elif kind == b"IDAT":
            idat += body
        at += 12 + n
    assert depth == 8 and colour in (2, 6)
    px = 4 if colour == 6 else 3
    raw, rows, prev = zlib.decompress(idat), [], bytearray(w * px)
    for y in range(h):
        f = raw[y * (w * px + 1)]
        line = bytearray(raw[y * (w * px + 1) + 1:(y + 1) * (w * px + 1)])
        for i in range(len(line)):
            a = line[i - px] if i >= px else 0
            b, c = prev[i], prev[i - px] if i >= px else 0
            p = a + b - c
            pred = [0, a, b, (a + b) // 2,
                    a if abs(p - a) <= abs(p - b) and abs(p - a) <= abs(p - c)
                    else b if abs(p - b) <= abs(p - c) else c][f]
            line[i] = (line[i] + pred) & 0xff
        rows.append([tuple(line[x * px:x * px + 3]) for x in range(w)])
        prev = line
    return w, h, rows

mode, path = sys.argv[1], sys.argv[2]
w, h, rows = pixels(path)
if mode == "bars":
    for top, bottom in ((160, 390), (500, 730)):
        coloured = sum(1 for y in range(top, bottom) for x in range(80, 1120)
                       if max(rows[y][x]) - min(rows[y][x]) > 60)
        assert coloured > 300, (top, coloured)
else:
    drawn = [(x, y) for y in range(h) for x in list(range(3)) + list(range(w - 3, w))
             if min(rows[y][x]) < 200]
    assert not drawn, drawn[:5]
