#!/usr/bin/env python3
"""Peak memory of mlfsort on short lines, against the input's size.

Two files of about 3 million lines of about 25 bytes each, generated
(seeded) into --data-dir, never the repo:

  short lines     one utterance a line, '"*/s0123u0456789.lab" 17 ab', every
                  key distinct, shuffled: the line modes hold every line
  short entries   label entries of short lines: a name line, four label
                  lines ('0 2500000 sil -123.45'), '.': --entries holds
                  every line

Target: peak RSS at most 1.6 times the input, in the line modes and with
--entries. Peak RSS from /usr/bin/time; the largest of --runs runs.

  run_memory.py [--tool build-bench/mlfsort] [--runs 3]
"""
import argparse
import os
import random
import subprocess
import sys

BENCH = os.path.dirname(os.path.abspath(__file__))
REPO = os.path.dirname(BENCH)
LINES = 3_000_000
LABELS = ("sil", "ah", "b", "iy", "sh", "t", "k", "ax")


def short_lines(path, rng):
    numbers = list(range(LINES))
    rng.shuffle(numbers)
    with open(path, "wb") as out:
        out.write(b"#!MLF!#\r\n")
        for n in numbers:
            out.write(b'"*/s%04du%07d.lab" %02d %s\r\n'
                      % (n % 1000, n, n % 97, rng.choice(LABELS).encode()))


def short_entries(path, rng):
    entries = LINES // 6
    numbers = list(range(entries))
    rng.shuffle(numbers)
    with open(path, "wb") as out:
        out.write(b"#!MLF!#\r\n")
        for n in numbers:
            out.write(b'"*/s%04du%07d.lab"\r\n' % (n % 1000, n))
            start = 0
            for _ in range(4):
                end = start + rng.randrange(100000, 3000000, 100000)
                out.write(b"%d %d %s -%d.%02d\r\n"
                          % (start, end, rng.choice(LABELS).encode(),
                             rng.randrange(1000), rng.randrange(100)))
                start = end
            out.write(b".\r\n")


def peak_rss_mb(argv):
    done = subprocess.run(["/usr/bin/time", "-f", "%M"] + argv,
                          stdout=subprocess.DEVNULL, stderr=subprocess.PIPE,
                          text=True)
    if done.returncode != 0:
        raise RuntimeError(f"{' '.join(argv)}: status {done.returncode}")
    return int(done.stderr.strip().splitlines()[-1]) / 1024


def main(argv=None):
    ap = argparse.ArgumentParser(description=__doc__,
                                 formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--data-dir", default="/tmp/mlfsort-bench")
    ap.add_argument("--tool", default=os.path.join(REPO, "build-bench", "mlfsort"))
    ap.add_argument("--runs", type=int, default=3)
    args = ap.parse_args(argv)
    tool = os.path.abspath(args.tool)
    os.makedirs(args.data_dir, exist_ok=True)
    files = {}
    for name, make in (("short-lines-3m.mlf", short_lines),
                       ("short-entries-3m.mlf", short_entries)):
        path = os.path.join(args.data_dir, name)
        if not os.path.exists(path):
            make(path, random.Random(f"{name}:1"))
        files[name] = path
    output = os.path.join(args.data_dir, "memory.srt")
    cases = [
        ("short-lines-3m.mlf", "mlfsort", []),
        ("short-lines-3m.mlf", "mlfsort -e", ["-e"]),
        ("short-entries-3m.mlf", "mlfsort", []),
        ("short-entries-3m.mlf", "mlfsort -e", ["-e"]),
    ]
    print(f"# {tool}, largest of {args.runs} run(s)")
    print("| file | size (MB) | lines | command | peak RSS (MB) | RSS / input |")
    print("|---|---:|---:|---|---:|---:|")
    worst = 0.0
    for name, label, options in cases:
        path = files[name]
        size = os.path.getsize(path) / 1e6
        with open(path, "rb") as f:
            lines = sum(1 for _ in f)
        peak = max(peak_rss_mb([tool, "-q", *options, "-o", output, path])
                   for _ in range(args.runs))
        worst = max(worst, peak / size)
        print(f"| {name} | {size:.1f} | {lines:,} | {label} | {peak:.1f} | "
              f"{peak / size:.2f} |")
    os.remove(output)
    print()
    print(f"- largest peak RSS / input: {worst:.2f} (target 1.6): "
          f"{'met' if worst <= 1.6 else 'not met'}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
