#!/usr/bin/env python3
"""Plain Python version of what mlfsort does, as a user would write it.

Usage:  reference_sort.py FILE [-o OUT]
        reference_sort.py --self-test

Reads FILE as bytes, writes the sorted copy to <FILE up to its first ".">srt
(or to OUT).  The benchmark times it and compares mlfsort's output with it
byte for byte, so the rules below must stay exactly those of mlfsort:

* input ends at the first byte 26; a line ends at CR or CR LF, a lone LF is
  an ordinary byte of the line;
* empty lines and lines starting with "#" are written first, in input order;
* every other line is kept under its key, bytes 3..101 (line[2:101]); of
  lines whose keys are equal ignoring ASCII case the last one read wins;
* the kept lines are written in key order; every output line ends in CR LF.

sort_entries() is the same for --entries: outside an entry, empty lines,
lines starting with "#" and subdirectory lines (a pattern, then "->" or
"=>") are written first; any other line starts an entry, which runs through
the next line that is exactly "."; entries follow in the key order of their
first lines, equal keys in input order, each entry whole.
"""
import re
import sys

# Bytes that only break ties, in their tie-break order.
TIE_BREAKERS = bytes([0, *range(1, 9), *range(14, 32), 127, ord("'"), ord("-")])

# First-level order of every other byte; upper-case letters weigh as lower-case.
FIRST_LEVEL = (b" \t\n\x0b\x0c\r"
               + b"!\"#$%&()*,./:;?@[\\]^_`{|}~"
               + b"+<=>"
               + b"0123456789"
               + b"abcdefghijklmnopqrstuvwxyz"
               + bytes(range(128, 256)))


def _tables():
    weight = [0] * 256
    for w, b in enumerate(FIRST_LEVEL, start=1):
        weight[b] = w
    for b in range(ord("A"), ord("Z") + 1):
        weight[b] = weight[b + 32]
    rank = [0] * 256
    for r, b in enumerate(TIE_BREAKERS, start=1):
        rank[b] = r
    covered = set(FIRST_LEVEL) | set(TIE_BREAKERS) | set(range(65, 91))
    assert len(FIRST_LEVEL) + len(TIE_BREAKERS) + 26 == 256 and len(covered) == 256
    return bytes(weight), rank


WEIGHT, RANK = _tables()


def sort_key(key: bytes):
    """(first-level weights, tie-break pairs), both as bytes so that plain
    bytes comparison gives the order, shorter sequence first.  Each
    tie-break pair is (255 - position, rank): a larger position sorts first."""
    first = key.translate(WEIGHT, TIE_BREAKERS)
    if len(first) == len(key):
        return first, b""
    second = bytearray()
    for pos, b in enumerate(key):
        if RANK[b]:
            second += bytes((255 - pos, RANK[b]))
    return first, bytes(second)


def split_lines(data: bytes):
    end = data.find(b"\x1a")
    if end >= 0:
        data = data[:end]
    lines = data.replace(b"\r\n", b"\r").split(b"\r")
    if lines[-1] == b"":          # text ended with a line end (or was empty)
        lines.pop()
    return lines


def sort_mlf(data: bytes) -> bytes:
    passed, kept = [], {}
    for line in split_lines(data):
        if not line or line[0] == 0x23:
            passed.append(line)
        else:
            kept[line[2:101].lower()] = line
    ordered = sorted(kept, key=sort_key)
    out = passed + [kept[k] for k in ordered]
    return b"\r\n".join(out) + b"\r\n" if out else b""


# A double-quoted pattern, or one without blanks or arrows (not starting
# with a double quote), then blanks, then an arrow.
SUBDIRECTORY = re.compile(rb'(?:"[^"]*"|(?!->|=>)[^ \t"](?:(?!->|=>)[^ \t])*)'
                          rb'[ \t]*(?:->|=>)')


def sort_entries(data: bytes) -> bytes:
    passed, entries, inside = [], [], False
    for line in split_lines(data):
        if inside:
            entries[-1].append(line)
            inside = line != b"."
        elif not line or line[0] == 0x23 or SUBDIRECTORY.match(line):
            passed.append(line)
        else:
            entries.append([line])
            inside = line != b"."
    entries.sort(key=lambda entry: sort_key(entry[0][2:101].lower()))
    out = passed + [line for entry in entries for line in entry]
    return b"\r\n".join(out) + b"\r\n" if out else b""


def output_name(name: str) -> str:
    return name[:name.find(".") + 1] + "srt"


def self_test():
    def order(*keys):
        got = sorted(keys, key=sort_key)
        assert got == list(keys), (keys, got)

    order(b"", b"a", b"ab")                         # prefix first
    order(b" ", b"\t", b"\n", b"\x0b", b"\x0c", b"\r", b"!", b"~", b"+", b">",
          b"0", b"9", b"a", b"z", b"\x80", b"\xff")
    order(b"a-b", b"ab-c", b"a-bc", b"abd")        # hyphen ignored first
    order(b"ab-", b"a-b", b"-ab")                   # later tie-breaker first
    order(b"a\x00b", b"a\x07b", b"a\x1fb", b"a\x7fb", b"a'b", b"a-b")
    order(b"ab", b"ab-", b"ab--")                   # shorter list first
    order(b"a-b-", b"-ab-")                         # first differing pair
    assert sort_key(b"ABC") == sort_key(b"abc")
    data = (b'#h\r\n"*/B.lab" 2\r\n\r\nx\r"*/a.lab" 1\n2\r\n'
            b'"*/b.LAB" 2\r\n"*/c"\x1a"*/d"\r\n')
    want = (b'#h\r\n\r\nx\r\n"*/a.lab" 1\n2\r\n"*/b.LAB" 2\r\n"*/c"\r\n')
    assert sort_mlf(data) == want, sort_mlf(data)
    assert sort_mlf(b"") == b"" and sort_mlf(b"abc") == b"abc\r\n"
    data = (b'#!MLF!#\r\n"*/b.lab"\r\nx\r\n.\r\n"*/d*" -> "/d"\r\n"*/A.lab"\r\n'
            b'.\r\n.\r\n"*/a.LAB"\r\ny')
    want = (b'#!MLF!#\r\n"*/d*" -> "/d"\r\n.\r\n"*/A.lab"\r\n.\r\n"*/a.LAB"\r\n'
            b'y\r\n"*/b.lab"\r\nx\r\n.\r\n')
    assert sort_entries(data) == want, sort_entries(data)
    assert not SUBDIRECTORY.match(b'"a -> b.lab"') and not SUBDIRECTORY.match(b"-> d")
    assert output_name("a/train.mlf") == "a/train.srt"
    assert output_name("x.y/t.mlf") == "x.srt" and output_name("plain") == "srt"
    print("reference_sort self-test OK")


def main(argv):
    if argv == ["--self-test"]:
        self_test()
        return 0
    if len(argv) == 1:
        src, dst = argv[0], output_name(argv[0])
    elif len(argv) == 3 and argv[1] == "-o":
        src, dst = argv[0], argv[2]
    else:
        print(__doc__.split("\n\n")[1], file=sys.stderr)
        return 2
    with open(src, "rb") as f:
        data = f.read()
    with open(dst, "wb") as f:
        f.write(sort_mlf(data))
    sys.stdout.write("\r\n\r\n")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
