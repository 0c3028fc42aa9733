#!/usr/bin/env python3
"""Independent figures for the chart's tests: entropy, evenness, chi-square and
its upper tail Q(df/2, x/2), in 80-digit decimal arithmetic (a series below
a + 1, Legendre's continued fraction above), for the inputs the tests use."""
import math, sys
from decimal import Decimal as D, getcontext
getcontext().prec = 80
PI = D("3.14159265358979323846264338327950288419716939937510582097494459230781640628620899")

def gamma_half(a2):  # Gamma(a2 / 2)
    if a2 % 2 == 0:
        return D(math.factorial(a2 // 2 - 1))
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

def expected_pairs(p, q, weight, out):  # weight x P(|a - b| = d), a from p, b from q
    for a in range(256):
        for b in range(256):
            if p[a] and q[b]:
                out[abs(a - b)] += weight * p[a] * q[b]

NAMED = [("digits", "09"), ("hexadecimal digits", "09af"), ("hexadecimal digits", "09AF"),
         ("small letters", "az"), ("capitals", "AZ"), ("letters", "AZaz"),
         ("small letters and digits", "az09"), ("capitals and digits", "AZ09"),
         ("letters and digits", "AZaz09"), ("base32", "AZ27"), ("base64", "AZaz09++//"),
         ("base64", "AZaz09--__"), ("printable without space", "!~"), ("printable", " ~")]

def named(values):
    for name, ranges in NAMED:
        members = {v for i in range(0, len(ranges), 2)
                   for v in range(ord(ranges[i]), ord(ranges[i + 1]) + 1)}
        if members == values:
            return name
    return None

def list_figures(data):
    """A password list judged from its two tables alone, or None."""
    code = [data.count(bytes([v])) for v in range(256)]
    code2 = [0] * 256
    for i in range(1, len(data)):
        code2[abs(data[i] - data[i - 1])] += 1
    if not code[10] or code[0x7f] or any(code[v] for v in range(32) if v not in (9, 10, 13)):
        n = len(data); p = [D(c) / n for c in code] if n else [0] * 256
        out = [D(0)] * 256
        if n > 1: expected_pairs(p, p, D(n - 1), out)
        return None, float(out[0]), float(out[1])
    # CRs no more than LFs end lines, each before an LF; more are characters.
    lines = code[10]
    crlf = code[13] if code[13] <= lines else 0
    ends = (10, 13) if code[13] <= lines else (10,)
    chars = [c if v not in ends else 0 for v, c in enumerate(code)]
    n = sum(chars)
    classes = [("digits", range(0x30, 0x3a)), ("small letters", range(0x61, 0x7b)),
               ("capitals", range(0x41, 0x5b)),
               ("other printable", [v for v in range(0x20, 0x7f) if not chr(v).isalnum()]),
               ("tab", [9]), ("0x80 and above", range(0x80, 0x100))]
    used = [name for name, vs in classes if any(chars[v] for v in vs)]
    alphabet = [v for v in range(256) if chars[v]]
    k = len(alphabet)
    # UTF-8 read off the table: continuation bytes as many as the leads need.
    high = any(chars[v] for v in range(0x80, 256))
    leads = sum(chars[v] * (1 if v < 0xe0 else 2 if v < 0xf0 else 3) for v in range(0xc2, 0xf5))
    continuation = sum(chars[0x80:0xc0])
    utf8 = high and not (chars[0xc0] or chars[0xc1] or any(chars[0xf5:])) and leads == continuation
    characters = n - continuation if utf8 else n
    ent = -sum(D(c) / n * (D(c) / n).ln() for c in chars if c) / D(2).ln()
    mean = D(characters) / lines
    q_ = [D(c) / n for c in chars]
    out = [D(0)] * 256
    cr = [D(0)] * 256; cr[13] = D(1)
    lf = [D(0)] * 256; lf[10] = D(1)
    expected_pairs(q_, q_, D(n - lines), out)
    expected_pairs(q_, cr, D(crlf), out)
    expected_pairs(q_, lf, D(lines - crlf), out)
    expected_pairs(lf, q_, D(lines - 1), out)
    out[3] += crlf
    line_ends = "LF" if not crlf else "CR LF" if crlf == lines else "CR LF and LF"
    fig = dict(lines=lines, line_ends=line_ends, characters=characters,
               mean_length=float(mean), classes=used, alphabet=k, alphabet_name=named(set(alphabet)),
               utf8=utf8 if high else None, character_entropy=float(ent))
    if not high:
        fig.update(ceiling_bits=float(mean * D(k).ln() / D(2).ln()), estimate_bits=float(mean * ent))
    if k < 2 or characters < 5 * k:
        fig["kind"] = "too few to judge"
    elif high:
        fig["kind"] = "multi-byte characters"
    else:
        exp = D(n) / k
        chi = sum((D(chars[v]) - exp) ** 2 / exp for v in alphabet)
        fair = q(D(k - 1) / 2, chi / 2)
        # The differences, those expected fewer than 5 times pooled.
        used, pool_o, pool_e = [], D(0), D(0)
        for d in range(256):
            if out[d] >= 5:
                used.append((D(code2[d]), out[d]))
            else:
                pool_o += code2[d]; pool_e += out[d]
        if pool_e >= 5:
            used.append((pool_o, pool_e))
        cells = len(used)
        ichi = sum((o - e) ** 2 / e for o, e in used)
        if cells < 2:
            fig["kind"] = "too few to judge"
            return fig, float(out[0]), float(out[1])
        independent = q(D(cells - 1) / 2, ichi / 2)
        fig.update(chi_square=float(chi), degrees_of_freedom=k - 1, p_value=float(fair),
                   independence_chi_square=float(ichi), independence_degrees_of_freedom=cells - 1,
                   independence_p_value=float(independent))
        # The divergence of the observed shares from the expected, in bits a
        # pair, less its mean under independence, times the pairs a line.
        o_sum = sum(o for o, _ in used); e_sum = sum(e for _, e in used)
        div = sum(o / o_sum * ((o / o_sum) / (e / e_sum)).ln() for o, e in used if o) / D(2).ln()
        cost = max(D(0), div - D(cells - 1) / (2 * o_sum * D(2).ln())) * sum(code2) / lines
        fig["dependence_cost_bits"] = float(cost)
        dependence = ("none seen" if independent >= D("0.01") else
                      "slight" if cost <= D("0.2") else "strong")
        fig["dependence"] = dependence
        if dependence == "strong":
            fig["kind"] = "chosen or structured"
        elif fair >= D("0.01"):
            fig["kind"] = "drawn evenly"; fig["bits"] = fig["ceiling_bits"]
        else:
            fig["kind"] = "drawn unevenly"; fig["bits"] = fig["estimate_bits"]
        if dependence == "slight":
            fig["bits"] -= float(cost)
    return fig, float(out[0]), float(out[1])

def drawn_list(lines, shortest, longest, alphabet, end, seed, uneven=False):
    """Lines of drawn characters: the draws are bits 33 and up of a 64-bit LCG;
    uneven takes the smaller of two draws for each character."""
    x = seed; out = bytearray()
    def draw():
        nonlocal x
        x = (x * 6364136223846793005 + 1442695040888963407) % 2**64
        return x >> 33
    def character():
        i = draw() % len(alphabet)
        return alphabet[min(i, draw() % len(alphabet)) if uneven else i]
    for _ in range(lines):
        length = shortest + draw() % (longest - shortest + 1)
        out += bytes(character() for _ in range(length)) + end
    return bytes(out)

def copying_list(lines, length, alphabet, per_mille, seed):
    """Lines of drawn characters, each after the first a copy of the one
    before it when a draw below 1000 falls under per_mille."""
    x = seed; out = bytearray()
    def draw():
        nonlocal x
        x = (x * 6364136223846793005 + 1442695040888963407) % 2**64
        return x >> 33
    for _ in range(lines):
        for i in range(length):
            copy = i > 0 and draw() % 1000 < per_mille
            out.append(out[-1] if copy else alphabet[draw() % len(alphabet)])
        out += b"\n"
    return bytes(out)

# Usage: reference_figures.py examples/passwords.txt
sample = open(sys.argv[1], "rb").read()
cases = {"empty": b"", "one_byte": b"a", "all_values_four_times": bytes(range(256)) * 4,
         "sample_passwords": sample, "random_lcg": lcg(65536, 1), "two_values": b"aab"}
for name, data in cases.items():
    print(name, figures(data))
for x in (127.5, 255, 300, 1000, 2150):
    print("Q", x, float(q(D(255) / 2, D(x) / 2)))
printable = bytes(range(0x20, 0x7f))
lists = {"sample_passwords": sample,
         "uniform_printable": drawn_list(2000, 12, 12, printable, b"\n", 7),
         "pins_lf": drawn_list(3000, 4, 4, b"0123456789", b"\n", 11),
         "pins_crlf": drawn_list(3000, 4, 4, b"0123456789", b"\r\n", 11),
         "mixed_lengths": drawn_list(1000, 1, 20, b"abcdefghijklmnopqrstuvwxyz0123456789\t\xc3", b"\n", 5),
         "uneven_small_letters": drawn_list(3000, 10, 10, b"abcdefghijklmnopqrstuvwxyz", b"\n", 3, True),
         "utf8_agreeing": b"caf\xc3\xa9 \xe2\x82\xac5\n" * 20,
         "two_values_in_one_cell": b"ab\n" * 5,
         "five_of_each_value": b"0123456789\n" * 5,
         "one_short_of_five": b"0123456789\n" * 4 + b"012345678\n",
         "delete_byte": b"ab\x7f\n",
         "copying_slightly": copying_list(2000, 12, b"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789", 4, 1),
         "unit_separator": b"ab\x1f\n",
         "random_lcg": lcg(65536, 1)}
for name, data in lists.items():
    fig, repeats, steps = list_figures(data)
    print(name, "expected_repeats", repr(repeats), "expected_steps_of_one", repr(steps))
    print("  ", fig)
