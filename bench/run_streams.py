#!/usr/bin/env python3
"""Time mlfsort's pipeline and many-file modes side by side with what each
should keep up with, on files generated into --data-dir (never the repo).

  several inputs   10 files of 100,000 lines sorted into one (-o) against
                   their concatenation: the per-line speed must be that of
                   one file (target: within 1.1x)
  --check          a sorted 1M-line file checked (-c) against cp of it
                   (target: within 1.5x)
  long names       --entries on entries named by 150-byte paths that differ
                   only after byte 120, against the same entries with short
                   names (target: within 1.3x)

Medians of --runs timed runs per command, interleaved so that load from
other processes falls on all alike, after one untimed run each (warm page
cache). Peak RSS from /usr/bin/time. Exit status 0, or 1 when a command
failed or an output differs from what it must equal.

  run_streams.py [--tool build-bench/mlfsort] [--runs 5]
"""
import argparse
import os
import random
import shutil
import statistics
import subprocess
import sys
import time

BENCH = os.path.dirname(os.path.abspath(__file__))
REPO = os.path.dirname(BENCH)
GENERATOR = os.path.join(BENCH, "generate_mlf.py")


def generate(data_dir, name, args):
    path = os.path.join(data_dir, name)
    if not os.path.exists(path):
        subprocess.run([sys.executable, GENERATOR, "--out", path] + args,
                       check=True)
    return path


def long_name_entries(path, long_names, count, seed):
    """count entries of three labels each, named in a scattered order;
    long names share a 120-byte lead and differ only after it."""
    if os.path.exists(path):
        return path
    rng = random.Random(seed)
    order = list(range(count))
    rng.shuffle(order)
    lead = "/export/corpora/" + "speech-corpus-release-2026/" * 4
    lead = lead[:120 - len("\"")]
    with open(path, "w", newline="") as out:
        out.write("#!MLF!#\n")
        for number in order:
            if long_names:
                name = f"\"{lead}{number // 1000:04d}/utt{number:07d}.lab\""
            else:
                name = f"\"*/{number // 1000:04d}/utt{number:07d}.lab\""
            out.write(name + "\nsil\nw\n.\n")
    return path


def run_timed(argv, cwd):
    """Wall seconds and peak RSS (MB) of one run; raises on failure."""
    start = time.perf_counter()
    done = subprocess.run(["/usr/bin/time", "-f", "%M"] + argv, cwd=cwd,
                          stdout=subprocess.DEVNULL, stderr=subprocess.PIPE,
                          text=True)
    wall = time.perf_counter() - start
    if done.returncode not in (0,):
        raise RuntimeError(f"{' '.join(argv)}: status {done.returncode}: "
                           f"{done.stderr.strip()}")
    rss_kb = int(done.stderr.strip().splitlines()[-1])
    return wall, rss_kb / 1024


def compare(label, commands, cwd, runs, target):
    """Times the commands (name -> argv) interleaved; prints a row each and
    the ratio of the first to the second against `target`."""
    for argv in commands.values():
        run_timed(argv, cwd)
    walls = {name: [] for name in commands}
    peaks = {name: [] for name in commands}
    for _ in range(runs):
        for name, argv in commands.items():
            wall, peak = run_timed(argv, cwd)
            walls[name].append(wall)
            peaks[name].append(peak)
    names = list(commands)
    medians = {name: statistics.median(walls[name]) for name in names}
    for name in names:
        print(f"| {label} | {name} | {medians[name]:.3f} | "
              f"{max(peaks[name]):.1f} |")
    ratio = medians[names[0]] / medians[names[1]]
    verdict = "met" if ratio <= target else "not met"
    return f"- {label}: {names[0]} takes {ratio:.2f}x {names[1]} " \
           f"(target {target}x): {verdict}"


def main(argv=None):
    ap = argparse.ArgumentParser(description=__doc__,
                                 formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--data-dir", default="/tmp/mlfsort-bench")
    ap.add_argument("--tool", default=os.path.join(REPO, "build-bench", "mlfsort"))
    ap.add_argument("--runs", type=int, default=5)
    args = ap.parse_args(argv)
    tool = os.path.abspath(args.tool)
    os.makedirs(args.data_dir, exist_ok=True)
    work = os.path.join(args.data_dir, "streams")
    os.makedirs(work, exist_ok=True)
    print(f"# {tool}, {args.runs} runs, load {os.getloadavg()[0]:.2f}")
    print("| case | command | wall (s) | peak RSS (MB) |")
    print("|---|---|---:|---:|")
    verdicts = []
    failed = False

    parts = [generate(args.data_dir, f"part{k}-100k.mlf",
                      ["--kind", "utterances", "--lines", "100000",
                       "--seed", str(100 + k)]) for k in range(10)]
    joined = os.path.join(work, "joined-1m.mlf")
    if not os.path.exists(joined):
        with open(joined, "wb") as out:
            for part in parts:
                with open(part, "rb") as source:
                    shutil.copyfileobj(source, out)
    verdicts.append(compare(
        "10 x 100k into one", {
            "10 files": [tool, "-q", "-o", "ten.srt"] + parts,
            "1 file": [tool, "-q", "-o", "one.srt", joined]},
        work, args.runs, 1.1))

    shuffled = generate(args.data_dir, "utt-1m-shuffled-s1.mlf",
                        ["--kind", "utterances", "--lines", "1000000",
                         "--seed", "1"])
    sorted_copy = os.path.join(work, "sorted-1m.mlf")
    subprocess.run([tool, "-q", "-o", sorted_copy, shuffled], check=True,
                   stdout=subprocess.DEVNULL)
    verdicts.append(compare(
        "check 1M sorted", {
            "mlfsort -c": [tool, "-c", sorted_copy],
            "cp": ["cp", sorted_copy, os.path.join(work, "copy.mlf")]},
        work, args.runs, 1.5))

    long_file = long_name_entries(os.path.join(work, "long-names.mlf"), True,
                                  1_000_000, 7)
    short_file = long_name_entries(os.path.join(work, "short-names.mlf"),
                                   False, 1_000_000, 7)
    verdicts.append(compare(
        "entries 1M", {
            "150-byte names": [tool, "-leq", "-o", "long.srt", long_file],
            "short names": [tool, "-leq", "-o", "short.srt", short_file]},
        work, args.runs, 1.3))

    # The outputs that must agree.
    ten = open(os.path.join(work, "ten.srt"), "rb").read()
    one = open(os.path.join(work, "one.srt"), "rb").read()
    if ten != one:
        print("!! the merged files differ from their concatenation sorted")
        failed = True
    if subprocess.run([tool, "-c", "-le", os.path.join(work, "long.srt")]
                      ).returncode != 0:
        print("!! the long-name entries did not come out sorted")
        failed = True

    print()
    print("\n".join(verdicts))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
