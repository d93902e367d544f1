#!/usr/bin/env python3
"""Time mlfsort with bounded memory (-S) against the same sort held wholly
in memory and against GNU sort -f with the same buffer size, on one large
generated file (default 100 million lines, about 6 GB, made a batch at a
time into --data-dir, never the repo).

  run_spill.py [--tool build-bench/mlfsort] [--lines 100m] [--buffer 1G]
               [--runs 1] [--no-sort]

Targets: with -S the run completes, its peak RSS is at most 1.3 times the
buffer size, its wall time at most 1.5 times the in-memory run's and at
most half of GNU sort's; its output equals the in-memory run's byte for
byte. Commands run one after another, interleaved over --runs rounds;
figures are medians. Exit status 0, or 1 when a run failed or the outputs
differ.
"""
import argparse
import filecmp
import os
import statistics
import subprocess
import sys
import time

BENCH = os.path.dirname(os.path.abspath(__file__))
REPO = os.path.dirname(BENCH)
GENERATOR = os.path.join(BENCH, "generate_mlf.py")
SIZES = {"1m": 1_000_000, "10m": 10_000_000, "100m": 100_000_000}


def run_timed(argv, env=None):
    start = time.perf_counter()
    done = subprocess.run(["/usr/bin/time", "-f", "%M %U %S"] + argv,
                          stdout=subprocess.DEVNULL, stderr=subprocess.PIPE,
                          text=True, env=env)
    wall = time.perf_counter() - start
    if done.returncode != 0:
        raise RuntimeError(f"{' '.join(argv)}: status {done.returncode}: "
                           f"{done.stderr.strip()[-400:]}")
    rss_kb, user, system = done.stderr.strip().splitlines()[-1].split()
    return wall, int(rss_kb) / 1024, float(user), float(system)


def main(argv=None):
    ap = argparse.ArgumentParser(description=__doc__,
                                 formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--data-dir", default="/tmp/mlfsort-bench")
    ap.add_argument("--tool", default=os.path.join(REPO, "build-bench", "mlfsort"))
    ap.add_argument("--lines", default="100m", choices=sorted(SIZES))
    ap.add_argument("--buffer", default="1G")
    ap.add_argument("--runs", type=int, default=1)
    ap.add_argument("--no-sort", action="store_true",
                    help="leave out GNU sort (it takes the longest)")
    args = ap.parse_args(argv)
    tool = os.path.abspath(args.tool)
    os.makedirs(args.data_dir, exist_ok=True)
    lines = SIZES[args.lines]
    path = os.path.join(args.data_dir, f"utt-{args.lines}-shuffled-s1.mlf")
    if not os.path.exists(path):
        generator = [sys.executable, GENERATOR, "--kind", "utterances",
                     "--lines", str(lines), "--seed", "1", "--out", path]
        if lines > 10_000_000:
            generator.append("--stream")
        subprocess.run(generator, check=True)
    size_mb = os.path.getsize(path) / 1e6
    temporary = os.path.join(args.data_dir, "spill-tmp")
    os.makedirs(temporary, exist_ok=True)
    held = os.path.join(args.data_dir, "spill-held.srt")
    bounded = os.path.join(args.data_dir, "spill-bounded.srt")
    commands = {
        "mlfsort": [tool, "-q", "-o", held, path],
        f"mlfsort -S {args.buffer}": [tool, "-q", "-S", args.buffer, "-T",
                                      temporary, "-o", bounded, path],
    }
    env = dict(os.environ, LC_ALL="C")
    if not args.no_sort:
        commands[f"sort -f -S {args.buffer}"] = [
            "sort", "-f", "-S", args.buffer, "-T", temporary, "-o",
            os.path.join(args.data_dir, "spill-sort.out"), path]
    results = {name: [] for name in commands}
    print(f"# {os.path.basename(path)} ({size_mb:.0f} MB), {tool}, "
          f"{args.runs} run(s), load {os.getloadavg()[0]:.2f}")
    for _ in range(args.runs):
        for name, argv in commands.items():
            results[name].append(run_timed(argv, env if name.startswith("sort")
                                           else None))
            print(f"  {name}: {results[name][-1][0]:.1f} s", flush=True)
    print("| command | wall (s) | user (s) | sys (s) | peak RSS (MB) | "
          "RSS / input |")
    print("|---|---:|---:|---:|---:|---:|")
    median = {}
    for name, runs in results.items():
        wall = statistics.median(r[0] for r in runs)
        peak = max(r[1] for r in runs)
        user = statistics.median(r[2] for r in runs)
        system = statistics.median(r[3] for r in runs)
        median[name] = (wall, peak)
        print(f"| {name} | {wall:.2f} | {user:.2f} | {system:.2f} | "
              f"{peak:.0f} | {peak / size_mb:.2f} |")
    names = list(commands)
    in_memory, spilled = median[names[0]], median[names[1]]
    factor = {"K": 1 << 10, "M": 1 << 20, "G": 1 << 30}[args.buffer[-1]]
    buffer_mb = int(args.buffer[:-1]) * factor / 1e6
    print()
    print(f"- peak RSS with -S {args.buffer}: {spilled[1]:.0f} MB, "
          f"{spilled[1] / buffer_mb:.2f}x the buffer size (target 1.3x)")
    print(f"- wall with -S {args.buffer}: {spilled[0] / in_memory[0]:.2f}x "
          "the in-memory run (target 1.5x)")
    if not args.no_sort:
        print(f"- wall with -S {args.buffer}: "
              f"{spilled[0] / median[names[2]][0]:.2f}x GNU sort -f "
              f"-S {args.buffer} (target 0.5x)")
    same = filecmp.cmp(held, bounded, shallow=False)
    print(f"- outputs with and without -S: {'equal' if same else 'DIFFER'}")
    for name in (held, bounded):
        os.remove(name)
    return 0 if same else 1


if __name__ == "__main__":
    sys.exit(main())
