#!/usr/bin/env python3
"""Independent figures for the chart's tests: entropy, evenness, chi-square and
its upper tail Q(127.5, x/2), in 80-digit decimal arithmetic (a series below
a + 1, Legendre's continued fraction above), for the inputs the tests use."""
import math, sys
from decimal import Decimal as D, getcontext
getcontext().prec = 80
PI = D("3.14159265358979323846264338327950288419716939937510582097494459230781640628620899")

def gamma_half(a2):  # Gamma(a2 / 2) for odd a2
    g = PI.sqrt()
    k = D(1) / 2
    while k < D(a2) / 2:
        g *= k
        k += 1
    return g

def q(a, x):
    a = D(a); x = D(x)
    if x == 0: return D(1)
    pref = (a * x.ln() - x).exp() / gamma_half(int(a * 2))
    if x < a + 1:
        term = D(1) / a; total = term; n = 1
        while term > total * D(10) ** -60:
            term *= x / (a + n); total += term; n += 1
        return 1 - pref * total
    # Lentz's continued fraction for Gamma(a, x)
    tiny = D(10) ** -300
    b = x + 1 - a; c = 1 / tiny; d = 1 / b; h = d; i = 1
    while True:
        an = -i * (i - a); b += 2
        d = an * d + b; d = tiny if d == 0 else d
        c = b + an / c; c = tiny if c == 0 else c
        d = 1 / d; delta = d * c; h *= delta; i += 1
        if abs(delta - 1) < D(10) ** -60: break
    return pref * h

def figures(data):
    code = [0] * 256; code2 = [0] * 256
    for i, b in enumerate(data):
        code[b] += 1
        if i: code2[abs(b - data[i - 1])] += 1
    n = len(data); pairs = sum(code2)
    ent = lambda h, t: -sum(c / t * math.log2(c / t) for c in h if c) if t else 0.0
    e = ent(code, n); distinct = sum(1 for c in code if c)
    out = dict(bytes=n, distinct=distinct, entropy=e,
               evenness=e / math.log2(distinct) if distinct > 1 else None,
               pairs=pairs, repeats=code2[0], steps_of_one=code2[1],
               difference_entropy=ent(code2, pairs))
    if n:
        exp = D(n) / 256
        chi = sum((D(c) - exp) ** 2 / exp for c in code)
        out["chi_square"] = float(chi); out["p_value"] = float(q(D(255) / 2, chi / 2))
    else:
        out["chi_square"] = out["p_value"] = None
    return out

def lcg(n, seed):
    x = seed; out = bytearray()
    for _ in range(n):
        x = (x * 6364136223846793005 + 1442695040888963407) % 2**64
        out.append(x >> 56)
    return bytes(out)

# Usage: reference_figures.py examples/passwords.txt
cases = {"empty": b"", "one_byte": b"a", "all_values_four_times": bytes(range(256)) * 4,
         "sample_passwords": open(sys.argv[1], "rb").read(),
         "random_lcg": lcg(65536, 1), "two_values": b"aab"}
for name, data in cases.items():
    print(name, figures(data))
for x in (127.5, 255, 300, 1000, 2150):
    print("Q", x, float(q(D(255) / 2, D(x) / 2)))
