#!/usr/bin/env python3
"""What the chart says of password lists whose generators are known, and how
often it doubts a fair generator.

  list_verdicts.py TOOL CHART [SEEDS]

Makes each list with Python's random.Random(seed), runs the tool on it and the
chart program on the result, and prints a table: the generator, the bits it
gives a password, the kind and bits the chart names. Then, over SEEDS seeds
(60 unless told) of four fair generators, how many lists were doubted (a test
below p 0.01) and how many called chosen or structured."""
import json, math, os, random, subprocess, sys, tempfile

PRINTABLE = bytes(range(0x21, 0x7F))
HEX = b"0123456789abcdef"
DIGITS = b"0123456789"
BASE64 = b"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/"
SMALL = b"abcdefghijklmnopqrstuvwxyz"
# 69 symbols: letters, digits and seven accented small letters.
ACCENTED = [chr(c) for c in b"abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789"] + list(
    "\u00e4\u00f6\u00fc\u00e9\u00e8\u00e0\u00e7"
)


def words(n, rnd):
    """n distinct made-up words of two to four syllables: a dictionary of known size."""
    out = set()
    onsets, vowels = "bcdfghjklmnprstvwz", "aeiou"
    while len(out) < n:
        out.add("".join(rnd.choice(onsets) + rnd.choice(vowels) for _ in range(rnd.randint(2, 4))))
    return sorted(out)


def drawn(alphabet, length, lines, end=b"\n"):
    def make(rnd):
        return b"".join(bytes(rnd.choice(alphabet) for _ in range(length)) + end for _ in range(lines))

    return make, length * math.log2(len(alphabet))


def uneven(lines=10000, length=12):
    weights = [1 / (k + 1) for k in range(len(SMALL))]  # Zipf over the small letters
    total = sum(weights)
    bits = -sum(w / total * math.log2(w / total) for w in weights) * length

    def make(rnd):
        return b"".join(bytes(rnd.choices(SMALL, weights, k=length)) + b"\n" for _ in range(lines))

    return make, bits


def passphrase(lines=10000):
    def make(rnd):
        dictionary = words(7776, random.Random(0))
        return b"".join("-".join(rnd.choice(dictionary) for _ in range(4)).encode() + b"\n" for _ in range(lines))

    return make, 4 * math.log2(7776)


def word_digits_bang(lines=10000):
    def make(rnd):
        dictionary = words(3000, random.Random(0))
        return b"".join(f"{rnd.choice(dictionary)}{rnd.randrange(100):02d}!\n".encode() for _ in range(lines))

    return make, math.log2(3000) + math.log2(100)


def peoples(lines=3546):
    """Passwords as people make them: a word, capitalised or not, a year or a
    few digits, now and then a letter turned into a digit."""

    def make(rnd):
        dictionary = words(500, random.Random(0))
        out = []
        for _ in range(lines):
            w = rnd.choice(dictionary)
            if rnd.random() < 0.4:
                w = w.capitalize()
            if rnd.random() < 0.2:
                w = w.replace("a", "4").replace("e", "3").replace("o", "0")
            tail = rnd.choice(["", "1", "123", str(rnd.randint(1950, 2025)), str(rnd.randrange(10))])
            out.append((w + tail).encode() + b"\n")
        return b"".join(out)

    return make, math.log2(500 * 2 * 2 * 80)


def one_line():
    return (lambda rnd: b"Password1\n"), 0.0


def utf8_symbols(lines=10000, length=10):
    def make(rnd):
        return b"".join("".join(rnd.choice(ACCENTED) for _ in range(length)).encode() + b"\n" for _ in range(lines))

    return make, length * math.log2(len(ACCENTED))


def latin1_symbols(lines=10000, length=10):
    def make(rnd):
        return b"".join(
            "".join(rnd.choice(ACCENTED) for _ in range(length)).encode("latin-1") + b"\n" for _ in range(lines)
        )

    return make, length * math.log2(len(ACCENTED))


LISTS = [
    ("12 characters drawn from the 94 printable without space", drawn(PRINTABLE, 12, 10000)),
    ("20 hexadecimal digits, drawn", drawn(HEX, 20, 10000)),
    ("16 base64 characters, drawn, CR LF", drawn(BASE64, 16, 10000, b"\r\n")),
    ("4-digit PINs, drawn", drawn(DIGITS, 4, 10000)),
    ("12 small letters drawn unevenly (Zipf)", uneven()),
    ("four words of 7,776 joined by '-'", passphrase()),
    ("a word of 3,000, two digits and '!'", word_digits_bang()),
    ("3,546 passwords as people make them", peoples()),
    ("5 lines of 12 drawn from 94", drawn(PRINTABLE, 12, 5)),
    ("one line Password1", one_line()),
    ("10 of 69 letters, digits and accented letters, UTF-8", utf8_symbols()),
    ("the same in Latin-1", latin1_symbols()),
]

FAIR = [drawn(PRINTABLE, 12, 10000), drawn(HEX, 20, 10000), drawn(DIGITS, 6, 10000), drawn(BASE64, 16, 10000, b"\r\n")]


def judge(tool, chart, data, work):
    path = os.path.join(work, "list.txt")
    with open(path, "wb") as f:
        f.write(data)
    subprocess.run([tool], input=b"list.txt\nresult.txt\n\n", cwd=work, stdout=subprocess.DEVNULL, check=True)
    out = subprocess.run([chart, "--json", "result.txt"], cwd=work, capture_output=True, check=True)
    return json.loads(out.stdout)["list"]


def main():
    tool, chart = os.path.realpath(sys.argv[1]), os.path.realpath(sys.argv[2])
    seeds = int(sys.argv[3]) if len(sys.argv) > 3 else 60
    with tempfile.TemporaryDirectory() as work:
        print("| list | generator's bits | kind | bits |")
        print("| --- | --- | --- | --- |")
        for name, (make, bits) in LISTS:
            l = judge(tool, chart, make(random.Random(1)), work)
            shown = "-" if l["bits"] is None else f"{l['bits']:.1f} ({l['strength']})"
            print(f"| {name} | {bits:.1f} | {l['kind']} | {shown} |")
        doubted = chosen = total = 0
        for make, _ in FAIR:
            for seed in range(1, seeds + 1):
                l = judge(tool, chart, make(random.Random(seed)), work)
                total += 1
                doubted += l["fair"] is False or l["independent"] is False
                chosen += l["kind"] == "chosen or structured"
        print(f"\nfair generators: {total} lists, {doubted} doubted ({100 * doubted / total:.1f} %), "
              f"{chosen} called chosen or structured ({100 * chosen / total:.1f} %)")


main()
