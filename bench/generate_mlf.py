#!/usr/bin/env python3
"""Seeded generator of master label files for the mlfsort benchmark.

  --kind utterances   one line per utterance, e.g.
                        "*/spk0042/utt000123.lab" 1200000 3400000 don't -512.25
                      about 1% of the utterances appear twice, the second
                      copy upper-cased (same key ignoring case), plus a few
                      "#" comment lines; --order shuffled|sorted|reversed
                      (sorted = mlfsort's key order). With --copies N every
                      utterance appears N times, in upper, lower or its own
                      case (many duplicates). With --stream the lines are
                      made and written a batch at a time, in a scattered
                      order of utterance numbers rather than a shuffle, so
                      that 100 million lines need little memory.
  --kind early        one line per utterance whose key differs from the
                      others early but needs more than twelve characters to
                      be told apart, e.g.
                        "*/spk0359/utt0500740.lab" 1200000 3400000 don't -512.25
                      the utterances 0 .. N-1 in seven digits, each of one
                      of 1000 speakers, shuffled.
  --kind structure    a whole label file: "#!MLF!#", then per utterance a
                      name line, its short labels (sp, A, AH, sil ...) and ".".
  --kind bytes        small files for checking, not timing: short lines over
                      an alphabet with a byte of every class (tie-breakers,
                      both cases, controls, high bytes), so that many keys
                      meet at the first level; mixed CR / CR LF / lone LF,
                      "#" and empty lines, lines longer than the key, and
                      sometimes a byte 26 before the end.

Size is given by --lines N or --bytes N (the file is cut at an entry or line
boundary just past the target).  Lines end in CR LF.  The same arguments
always give the same bytes.
"""
import argparse
import os
import random
import sys

sys.dont_write_bytecode = True          # keep the source tree clean
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from reference_sort import sort_key  # noqa: E402

WORDS = ("the of and to in is was he for it with as his on be at by had are "
         "but from or have an they which one you were her all she there would "
         "their we him been has when who will more no if out so said what up "
         "its about into than them can only other new some could time these "
         "two may then do first any my now such like our over man me even most "
         "made after also did many before must through back years where much "
         "your way well down should because each just those people Mr how too "
         "little state good very make world still own see men work long get "
         "here between both life being under never day same another know while "
         "last might us great old year off come since against go came right "
         "used take three Paris London I OK").split()
WORDS += ["don't", "it's", "can't", "o'clock", "well-known", "twenty-one",
          "re-enter", "co-operate", "caf\u00e9", "na\u00efve",
          "\u017elu\u0165ou\u010dk\u00fd", "p\u0159\u00edli\u0161", "\u00fasp\u011bch"]
PHONES = ("sil sp aa ae ah ao aw ax ay b ch d dh eh er ey f g hh ih iy jh k l "
          "m n ng ow oy p r s sh t th uh uw v w y z zh").split()
LABELS = ("sp sp sp sil A A E E I O U R D Y AH L DH SH EH KH TX P N NH S B K CH "
          "G PH UX T J H M EY AA").split()

BATCH = 200_000
PAYLOADS = 1 << 16


def payload_pool(rng):
    """Label texts for the lines, drawn from a pool for speed."""
    words, phones = WORDS, PHONES
    nw, nph = len(words), len(phones)
    r = rng.random
    pool = []
    for _ in range(PAYLOADS):
        if r() < 0.5:
            start = int(r() * 100) * 100000
            pool.append(f"{start} {start + int(1 + r() * 59) * 100000} "
                        f"{words[int(r() * nw)]} {words[int(r() * nw)]} "
                        f"-{int(r() * 100000) / 100}")
        else:
            pool.append(" ".join([phones[int(r() * nph)] for _ in range(7 + int(r() * 6))]))
    return pool


def utterance_lines(n, rng, copies=1):
    """n lines: unique utterances, ~1% upper-cased repeats, a few comments;
    with copies > 1, each utterance that many times in varied case."""
    comments = min(8, n // 10)
    dups = n // 100 if copies == 1 else 0
    unique = (n - dups - comments) // copies
    width = max(6, len(str(max(unique - 1, 0))))
    speakers = max(10, unique // 800)
    r, randrange = rng.random, rng.randrange   # one C call per draw: 10M lines stay fast
    pool = payload_pool(rng)
    lines = [f'"*/spk{int(r() * speakers):04d}/utt{u:0{width}d}.lab" '
             f'{pool[int(r() * PAYLOADS)]}' for u in range(unique)]
    for _ in range(dups):
        lines.append(lines[randrange(unique)].encode().upper().decode())
    if copies > 1:
        lines = [(line, line.upper(), line.lower())[int(r() * 3)]
                 for line in lines for _ in range(copies)]
    for c in range(comments):
        lines.append(f"# part {c + 1} of {comments}, generated with seed")
    return lines


def early_lines(n, rng):
    """n lines of the utterances 0 .. n - 1 (up to 10 million) in seven
    digits, each of one of 1000 speakers, shuffled."""
    r = rng.random
    pool = payload_pool(rng)
    lines = [f'"*/spk{int(r() * 1000):04d}/utt{u:07d}.lab" '
             f'{pool[int(r() * PAYLOADS)]}' for u in range(n)]
    rng.shuffle(lines)
    return lines


def stream_utterances(path, n, rng):
    """Writes n lines like utterance_lines' shuffled ones without holding
    them: line i is utterance (i * STEP) mod n, a scattered order; every
    100th line repeats an earlier utterance upper-cased."""
    width = max(6, len(str(max(n - 1, 0))))
    speakers = max(10, n // 800)
    pool = payload_pool(rng)
    step = 2654435761 % n if n > 1 else 1
    while n > 1 and __import__("math").gcd(step, n) != 1:
        step += 1

    def line(u):
        mixed = (u * 0x9E3779B97F4A7C15) & 0xFFFFFFFFFFFFFFFF
        return (f'"*/spk{(mixed >> 20) % speakers:04d}/utt{u:0{width}d}.lab" '
                f'{pool[(mixed >> 40) % PAYLOADS]}')
    with open(path, "wb") as f:
        for first in range(0, n, BATCH):
            chunk = []
            for i in range(first, min(first + BATCH, n)):
                if i % 100 == 99:
                    chunk.append(line((i - 50) * step % n).upper())
                else:
                    chunk.append(line(i * step % n))
            f.write(("\r\n".join(chunk) + "\r\n").encode())


def order_lines(lines, order, rng):
    if order == "shuffled":
        rng.shuffle(lines)
        return lines
    comments = [l for l in lines if l.startswith("#")]
    held = [l for l in lines if not l.startswith("#")]
    held.sort(key=lambda l: sort_key(l.encode()[2:101].lower()))
    if order == "reversed":
        held.reverse()
    return comments + held


def write_lines(path, lines):
    with open(path, "wb") as f:
        for i in range(0, len(lines), BATCH):
            chunk = lines[i:i + BATCH]
            f.write(("\r\n".join(chunk) + "\r\n").encode())


def structure_lines(max_lines, max_bytes, rng):
    """#!MLF!# and whole entries until the line or byte target is passed."""
    lines = ["#!MLF!#"]
    size = len(lines[0]) + 2
    seen = set()
    randrange, r, labels, nl = rng.randrange, rng.random, LABELS, len(LABELS)
    while len(lines) < max_lines and size < max_bytes:
        ident = randrange(10_000, 10_000_000)
        if ident in seen:
            continue
        seen.add(ident)
        entry = [f'"*/{ident}.lab"']
        entry += [labels[int(r() * nl)] for _ in range(8 + int(r() * 52))]
        entry.append(".")
        lines += entry
        size += sum(map(len, entry)) + 2 * len(entry)
    return lines


# Bytes of every class, several of each kind that only breaks ties.
ALPHABET = (b"aAbB-'\x00\x01\x08\x0e\x1f\x7f \t\x0b\x0c!~+>09#.\x80\xe9\xff")


def byte_lines(n, rng):
    """Raw lines (bytes) with their own line ends; '#'/empty lines included."""
    out = []
    for _ in range(n):
        r = rng.random()
        if r < 0.03:
            line = b""
        elif r < 0.06:
            line = b"#" + bytes(rng.choice(ALPHABET) for _ in range(rng.randrange(6)))
        elif r < 0.10:                      # longer than the key: tail ignored
            head = bytes(rng.choice(b"aA-") for _ in range(100))
            line = head + bytes(rng.choice(ALPHABET) for _ in range(rng.randrange(1, 6)))
        else:
            line = bytes(rng.choice(ALPHABET) for _ in range(rng.randrange(0, 9)))
            if rng.random() < 0.3:
                line += b"\n" + bytes(rng.choice(ALPHABET) for _ in range(rng.randrange(3)))
        if out and rng.random() < 0.05:     # a case-only repeat of an earlier line
            line = rng.choice(out).rstrip(b"\r\n").swapcase()
        end = rng.choice((b"\r\n", b"\r\n", b"\r"))
        out.append(line + end)
    data = b"".join(out)
    if rng.random() < 0.3:
        cut = rng.randrange(len(data) + 1)
        data = data[:cut] + b"\x1a" + data[cut:]
    if data and rng.random() < 0.3:          # last line without its line end
        data = data.rstrip(b"\r\n")
    return data


def main(argv=None):
    ap = argparse.ArgumentParser(description=__doc__,
                                 formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--kind", choices=("utterances", "early", "structure", "bytes"),
                    default="utterances")
    ap.add_argument("--lines", type=int, help="number of lines")
    ap.add_argument("--bytes", type=int, help="approximate size in bytes")
    ap.add_argument("--order", choices=("shuffled", "sorted", "reversed"), default="shuffled")
    ap.add_argument("--copies", type=int, default=1,
                    help="utterances: times each appears (many duplicates)")
    ap.add_argument("--stream", action="store_true",
                    help="utterances: write a batch at a time (huge files)")
    ap.add_argument("--seed", type=int, default=1)
    ap.add_argument("--out", required=True)
    a = ap.parse_args(argv)
    if (a.lines is None) == (a.bytes is None):
        ap.error("give exactly one of --lines and --bytes")
    rng = random.Random(f"{a.kind}:{a.seed}")
    if a.stream:
        if a.kind != "utterances" or a.lines is None or a.copies != 1:
            ap.error("--stream takes --kind utterances --lines N only")
        tmp = a.out + ".part"
        stream_utterances(tmp, a.lines, rng)
        os.replace(tmp, a.out)
        return 0
    if a.kind == "bytes":
        if a.lines is None:
            ap.error("--kind bytes takes --lines")
        with open(a.out, "wb") as f:
            f.write(byte_lines(a.lines, rng))
        return 0
    if a.kind in ("structure", "early") and a.order != "shuffled":
        ap.error("--order applies to --kind utterances only")
    if a.kind == "structure":
        lines = structure_lines(a.lines or sys.maxsize, a.bytes or sys.maxsize, rng)
    elif a.kind == "early":
        if a.lines is None or a.lines > 10_000_000:
            ap.error("--kind early takes --lines N, N at most 10000000")
        lines = early_lines(a.lines, rng)
    else:
        n = a.lines
        if n is None:                       # ~58 bytes a line; trim below
            n = a.bytes // 50 + 1
        lines = order_lines(utterance_lines(n, rng, a.copies), a.order, rng)
        if a.bytes is not None:
            total, keep = 0, 0
            while keep < len(lines) and total < a.bytes:
                total += len(lines[keep].encode()) + 2
                keep += 1
            del lines[keep:]
    tmp = a.out + ".part"
    write_lines(tmp, lines)
    os.replace(tmp, a.out)
    return 0


if __name__ == "__main__":
    sys.exit(main())
