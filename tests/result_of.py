#!/usr/bin/env python3
"""Writes a result file of the given tables as the tool writes it, for counts
no file on this machine could reach.
  result_of.py OUT BYTES DIFFERENCES   each a list of HEX=COUNT, the rest 0"""
import sys

def table(listed):
    h = [0] * 256
    for item in filter(None, listed.split(",")):
        v, n = item.split("=")
        h[int(v, 16)] = int(n)
    return h

def half(what, others, h, carried):
    out = "".join(f"{what} 0x{v:x} = {h[v]} \r\n" for v in range(256))
    upper = 0
    for v in range(256):
        if h[v] > upper:
            upper, carried = h[v], v
    upper_value, lower = carried, 2**64 - 1
    for v in range(256):
        if h[v] < lower:
            lower, carried = h[v], v
    out += (f"\r\nupper limit is {what} 0x{upper_value:x} = {upper} times\r\n"
            f"lower limit is {what} 0x{carried:x} = {lower} times\r\n"
            f"\r\n(Other {others} with the same frequency are possible)")
    return out, carried

code, code2 = table(sys.argv[2]), table(sys.argv[3])
first, carried = half("Byte", "bytes", code, 0x39)
second, _ = half("difference", "differences", code2, carried)
with open(sys.argv[1], "w", newline="") as out:
    out.write("\r\nByte allocation: \r\n\r\n" + first +
              f"\r\ncalculate average frequency = {sum(code) // 256} \r\n\r\n"
              "\r\n\r\nByte diversification (differences of two following bytes): \r\n\r\n" +
              second + f"\r\ncalculate average frequency = {sum(code2) // 256} \r\n")
