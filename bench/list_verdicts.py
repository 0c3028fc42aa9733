#!/usr/bin/env python3
"""What the chart says of password lists whose generators are known, and how
often it doubts a fair generator.

  list_verdicts.py TOOL CHART [SEEDS]

Makes each list with Python's random.Random(seed), or with a real generator
where it is installed (pwgen, apg, makepasswd, xkcdpass, openssl; each one
missing is skipped with a word), runs the tool on it and the chart program on
the result, and prints a table: the generator, the bits it gives a password,
the kind, bits and dependence cost the chart names. Then, over SEEDS seeds (60
unless told) of four fair generators at 10,000 lines, and 20 seeds at 200,000,
how many lists were doubted (a test below p 0.01) and how many called chosen
or structured."""
import itertools, json, math, os, random, shutil, subprocess, sys, tempfile

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


def string_bits(length, sizes, required=()):
    """log2 of the strings of this length over classes of these sizes that hold
    a character of each required class: inclusion and exclusion."""
    total = sum(sizes.values())
    count = 0
    for k in range(len(required) + 1):
        for lacking in itertools.combinations(required, k):
            count += (-1) ** k * (total - sum(sizes[c] for c in lacking)) ** length
    return math.log2(count)


def one_of_each_kind(lines=300000, length=8):
    """The usual password manager's rule: drawn again until each kind occurs."""
    kinds = [set(b"0123456789"), set(SMALL), set(SMALL.upper()), set(PRINTABLE) - set(BASE64[:62])]

    def make(rnd):
        out = []
        while len(out) < lines:
            pw = bytes(rnd.choice(PRINTABLE) for _ in range(length))
            if all(kind & set(pw) for kind in kinds):
                out.append(pw + b"\n")
        return b"".join(out)

    sizes = {"d": 10, "s": 26, "c": 26, "o": 32}
    return make, string_bits(length, sizes, "dsco")


def with_empty_lines(lines=200000, length=12, every=100):
    def make(rnd):
        return b"".join(b"\n" if i % every == every - 1 else bytes(rnd.choice(BASE64[:62]) for _ in range(length)) + b"\n"
                        for i in range(lines))

    return make, (every - 1) / every * length * math.log2(62)


def mixed_line_ends(lines=200000, length=12):
    """Lists joined from two systems: half the lines end CR LF, half LF."""
    def make(rnd):
        return b"".join(bytes(rnd.choice(BASE64[:62]) for _ in range(length)) + (b"\r\n" if i % 2 else b"\n")
                        for i in range(lines))

    return make, length * math.log2(62)


def mix(lines=1000000, share=0.07, drawn_part=None):
    """Drawn passwords with a share of chosen ones mixed in: a word of 3,000 and two digits."""
    def make(rnd):
        dictionary = words(3000, random.Random(0))
        drawn_lines = drawn_part(rnd) if drawn_part else b"".join(
            bytes(rnd.choice(BASE64[:62]) for _ in range(16)) + b"\n" for _ in range(lines))
        if drawn_lines is None:
            return None
        out = drawn_lines.split(b"\n")[:-1]
        for i in range(len(out)):
            if rnd.random() < share:
                out[i] = f"{rnd.choice(dictionary)}{rnd.randrange(100):02d}".encode()
        return b"\n".join(out) + b"\n"

    return make


def run(command):
    """A real generator's output, or None where it is not installed."""
    def make(rnd):
        return subprocess.run(command, capture_output=True, check=True).stdout if shutil.which(command[0]) else None

    return make


PWGEN_SYMBOLS = 32  # pwgen's symbols: the printable but letters, digits and space
# pwgen -B leaves out B8G6I1l0OQDS5Z2: 4 digits, 18 capitals and 25 small letters stay.
REAL = [
    ("pwgen -s 16, 10,000 lines", run(["pwgen", "-s", "-1", "16", "10000"]),
     string_bits(16, {"d": 10, "c": 26, "s": 26}, "dc")),
    ("pwgen -s 16, 100,000 lines", run(["pwgen", "-s", "-1", "16", "100000"]),
     string_bits(16, {"d": 10, "c": 26, "s": 26}, "dc")),
    ("pwgen -s 16, 1,000,000 lines", run(["pwgen", "-s", "-1", "16", "1000000"]),
     string_bits(16, {"d": 10, "c": 26, "s": 26}, "dc")),
    ("pwgen -sy 16, 1,000,000 lines", run(["pwgen", "-sy", "-1", "16", "1000000"]),
     string_bits(16, {"d": 10, "c": 26, "s": 26, "y": PWGEN_SYMBOLS}, "dcy")),
    ("pwgen -s 8, 1,000,000 lines", run(["pwgen", "-s", "-1", "8", "1000000"]),
     string_bits(8, {"d": 10, "c": 26, "s": 26}, "dc")),
    ("pwgen -sB 12, 1,000,000 lines", run(["pwgen", "-sB", "-1", "12", "1000000"]),
     string_bits(12, {"d": 4, "c": 18, "s": 25}, "dc")),
    ("pwgen 12 (pronounceable), 100,000 lines", run(["pwgen", "-1", "12", "100000"]), None),
    ("apg -a 1 -M ncl -m 12 -x 12, 300,000 lines",
     run(["apg", "-a", "1", "-M", "ncl", "-m", "12", "-x", "12", "-n", "300000"]), 12 * math.log2(62)),
    # makepasswd's own alphabet: letters and digits but O, Z, k and l, 58 in all.
    ("makepasswd --chars 12, 100,000 lines", run(["makepasswd", "--chars", "12", "--count", "100000"]),
     12 * math.log2(58)),
    ("xkcdpass (4 words of its default list), 10,000 lines",
     run(["xkcdpass", "-n", "4", "-c", "10000"]), None),
    ("pwgen -s 16 with 7 % a word and two digits, 1,000,000 lines",
     lambda rnd: mix(drawn_part=run(["pwgen", "-s", "-1", "16", "1000000"]))(random.Random(2)), None),
    ("openssl rand -base64, lines of 64, 100,000 lines",
     run(["openssl", "rand", "-base64", str(48 * 100000)]), 64 * 6),
]


def version(command):
    """The installed package's name and version, for the table."""
    path = shutil.which(command)
    if path is None:
        return None
    owner = subprocess.run(["dpkg", "-S", os.path.realpath(path)], capture_output=True, text=True).stdout
    package = owner.split(":")[0] if owner else command
    shown = subprocess.run(["dpkg-query", "-W", "-f=${Version}", package], capture_output=True, text=True).stdout
    return f"{package} {shown}" if shown else package


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
    ("8 of the 94, at least one of each kind, 300,000 lines", one_of_each_kind()),
    ("12 of 62 with 1 % empty lines, 200,000 lines", with_empty_lines()),
    ("12 of 62, half the lines CR LF, half LF, 200,000 lines", mixed_line_ends()),
    ("16 of 62 with 7 % a word and two digits, 1,000,000 lines", (mix(), None)),
]

FAIR = [drawn(PRINTABLE, 12, 10000), drawn(HEX, 20, 10000), drawn(DIGITS, 6, 10000), drawn(BASE64, 16, 10000, b"\r\n")]
FAIR_LARGE = [drawn(PRINTABLE, 12, 200000), drawn(HEX, 20, 200000), drawn(DIGITS, 6, 200000), drawn(BASE64, 16, 200000, b"\r\n")]


def judge(tool, chart, data, work):
    path = os.path.join(work, "list.txt")
    with open(path, "wb") as f:
        f.write(data)
    subprocess.run([tool], input=b"list.txt\nresult.txt\n\n", cwd=work, stdout=subprocess.DEVNULL, check=True)
    out = subprocess.run([chart, "--json", "result.txt"], cwd=work, capture_output=True, check=True)
    return json.loads(out.stdout)["list"]


def row(name, bits, l):
    shown = "-" if l["bits"] is None else f"{l['bits']:.1f} ({l['strength']})"
    cost = "-" if l["dependence_cost_bits"] is None else f"{l['dependence_cost_bits']:.4f}"
    uneven = "-" if l["unevenness_cost_bits"] is None else f"{l['unevenness_cost_bits']:.4f}"
    share = "-" if l["even_share"] is None else f"{100 * l['even_share']:.1f} %"
    truth = "-" if bits is None else f"{bits:.1f}"
    print(f"| {name} | {truth} | {l['kind']} | {shown} | {cost} ({l['dependence'] or 'not run'}) | {uneven} "
          f"| {share} |", flush=True)


def false_alarms(tool, chart, work, generators, seeds, lines):
    doubted = chosen = slight = total = 0
    for make, _ in generators:
        for seed in range(1, seeds + 1):
            l = judge(tool, chart, make(random.Random(seed)), work)
            total += 1
            doubted += l["fair"] is False or l["independent"] is False
            slight += l["dependence"] == "slight"
            chosen += l["kind"] == "chosen or structured"
    print(f"fair generators at {lines} lines: {total} lists, {doubted} doubted ({100 * doubted / total:.1f} %), "
          f"{slight} slightly dependent, {chosen} called chosen or structured ({100 * chosen / total:.1f} %)",
          flush=True)


def main():
    tool, chart = os.path.realpath(sys.argv[1]), os.path.realpath(sys.argv[2])
    seeds = int(sys.argv[3]) if len(sys.argv) > 3 else 60
    with tempfile.TemporaryDirectory() as work:
        print("| list | generator's bits | kind | bits | dependence cost | unevenness cost | even share |")
        print("| --- | --- | --- | --- | --- | --- | --- |")
        for name, (make, bits) in LISTS:
            row(name, bits, judge(tool, chart, make(random.Random(1)), work))
        for name, make, bits in REAL:
            data = make(None)
            if data is None:
                print(f"-- skipped: {name}: not installed", flush=True)
                continue
            row(f"{name} ({version(name.split()[0])})", bits, judge(tool, chart, data, work))
        print()
        false_alarms(tool, chart, work, FAIR, seeds, "10,000")
        false_alarms(tool, chart, work, FAIR_LARGE, 5, "200,000")


main()
