#!/usr/bin/env python3
"""Time mlfsort against GNU sort, the Python reference and cp on one data set.

Generates the data set into --data-dir if missing, runs every command once to
warm the page cache (that run is not timed), then takes the median of the
timed runs, interleaving the commands so that load from other processes falls
on all of them alike.  Checks that mlfsort's output equals the reference's
byte for byte on every file where both ran, prints a Markdown table and the
performance targets.  Exit status: 0 all outputs equal, 1 a mismatch or a
failed/timed-out mlfsort run, 2 bad usage.

  run_benchmarks.py                     # full: 1k, 100k, 1M (+ sorted,
                                        #   reversed, many duplicates,
                                        #   structure), 10M
  run_benchmarks.py --quick             # 100k only, one run: smoke test
  run_benchmarks.py --sizes 100k,1m --runs 3
  run_benchmarks.py --sizes 10m,100m --tools mlfsort,cp
                                        # 100M (5.7 GB, generated a batch at
                                        #   a time): mlfsort and cp, one run
  run_benchmarks.py --entries --sizes 1m,10m --tools mlfsort,cp
                                        # also mlfsort --entries on the
                                        #   structure files (+ 10M lines of
                                        #   it), checked against the Python
                                        #   version of the entry rules
  run_benchmarks.py --early --sizes 1m,10m --tools mlfsort,sort,cp
                                        # also keys that differ early but
                                        #   need more than twelve characters
                                        #   (--kind early) at 1M and 10M
"""
import argparse
import os
import shutil
import signal
import statistics
import subprocess
import sys
import threading
import time

BENCH = os.path.dirname(os.path.abspath(__file__))
REPO = os.path.dirname(BENCH)
GENERATOR = os.path.join(BENCH, "generate_mlf.py")
REFERENCE = os.path.join(BENCH, "reference_sort.py")
SIZES = {"1k": 1_000, "100k": 100_000, "1m": 1_000_000, "10m": 10_000_000,
         "100m": 100_000_000}
# Too large for the Python version's memory and GNU sort's patience: timed
# for mlfsort and cp only, once, and not checked.
HUGE = ("100m",)
TOOLS = ("mlfsort", "sort", "python", "cp")
EDGE_FILES = 12          # small adversarial files, checked but not timed


class DataFile:
    def __init__(self, name, size_class, gen_args, large=False, bytes_of=None):
        self.name = name                # no dot before ".mlf": outputs go to name.srt
        self.size_class = size_class
        self.gen_args = gen_args
        self.large = large
        self.bytes_of = bytes_of        # generate to the byte size of that file
        self.huge = size_class in HUGE

    @property
    def stem(self):
        return self.name[:self.name.index(".")]


def data_set(sizes, seed, entries=False, early=False):
    files = []
    for s in sizes:
        n = str(SIZES[s])
        stream = ["--stream"] if s in HUGE else []
        shuffled = DataFile(f"utt-{s}-shuffled-s{seed}.mlf", s,
                            ["--kind", "utterances", "--lines", n, "--order", "shuffled",
                             *stream],
                            large=(s in ("10m", *HUGE)))
        files.append(shuffled)
        if s == "1m":
            for order in ("sorted", "reversed"):
                files.append(DataFile(f"utt-1m-{order}-s{seed}.mlf", s,
                                      ["--kind", "utterances", "--lines", n, "--order", order]))
            files.append(DataFile(f"utt-1m-dups-s{seed}.mlf", s,
                                  ["--kind", "utterances", "--lines", n, "--copies", "10"]))
            files.append(DataFile(f"struct-bytes-of-utt-1m-s{seed}.mlf", s,
                                  ["--kind", "structure"], bytes_of=shuffled))
        if s == "100k":
            files.append(DataFile(f"struct-100k-s{seed}.mlf", s,
                                  ["--kind", "structure", "--lines", n]))
        if s in ("1m", "10m") and early:
            files.append(DataFile(f"early-{s}-s{seed}.mlf", s,
                                  ["--kind", "early", "--lines", n], large=(s == "10m")))
        if s == "10m" and entries:
            files.append(DataFile(f"struct-10m-s{seed}.mlf", s,
                                  ["--kind", "structure", "--lines", n], large=True))
    return files


def ensure_generated(f, data_dir, seed):
    path = os.path.join(data_dir, f.name)
    if os.path.exists(path):
        return path
    args = list(f.gen_args)
    if f.bytes_of is not None:
        args += ["--bytes", str(os.path.getsize(os.path.join(data_dir, f.bytes_of.name)))]
    print(f"generating {f.name} ...", flush=True)
    t0 = time.perf_counter()
    subprocess.run([sys.executable, GENERATOR, *args, "--seed", str(seed), "--out", path],
                   check=True)
    print(f"  {os.path.getsize(path) / 1e6:.1f} MB in {time.perf_counter() - t0:.0f} s",
          flush=True)
    return path


class Result:
    def __init__(self):
        self.wall, self.user, self.sys, self.rss = [], [], [], []
        self.error = None               # "TIMEOUT after ..." / "FAILED rc=..."

    def med(self, what):
        v = getattr(self, what)
        return statistics.median(v) if v else None


# Peak RSS must be read by a small launcher: a process started straight from
# this (much larger) Python inherits its peak RSS through fork/vfork + exec,
# so ru_maxrss from os.wait4 would never go below this script's own size.
TIME = "/usr/bin/time"
HAVE_TIME = os.access(TIME, os.X_OK)


def run_once(argv, cwd, env, stdout_path, timeout):
    """Run one command; return (wall, user, sys, maxrss_bytes, rc, stderr, timed_out)."""
    rss_path = stdout_path + ".rss"
    if HAVE_TIME:
        argv = [TIME, "-f", "%M", "-o", rss_path, *argv]
    with open(stdout_path, "wb") as out, open(stdout_path + ".err", "wb") as err:
        t0 = time.perf_counter()
        p = subprocess.Popen(argv, cwd=cwd, env=env, stdin=subprocess.DEVNULL,
                             stdout=out, stderr=err, start_new_session=True)
        killed = []

        def kill():                     # the launcher and the command it started
            killed.append(True)
            os.killpg(p.pid, signal.SIGKILL)
        timer = threading.Timer(timeout, kill)
        timer.start()
        try:
            _, status, ru = os.wait4(p.pid, 0)
        finally:
            timer.cancel()
        wall = time.perf_counter() - t0
        p.returncode = os.waitstatus_to_exitcode(status)
    with open(stdout_path + ".err", "rb") as e:
        stderr = e.read()[-2000:]
    rss = ru.ru_maxrss * 1024
    if HAVE_TIME:
        try:
            with open(rss_path) as f:
                rss = int(f.read().split()[-1]) * 1024
        except (OSError, ValueError, IndexError):
            rss = None
    return wall, ru.ru_utime, ru.ru_stime, rss, p.returncode, stderr, bool(killed)


def commands(tool_path, in_name, stem):
    """Command line, environment and produced output file (relative to the
    data directory) for each compared command."""
    env = dict(os.environ)
    c_env = dict(env, LC_ALL="C")
    return {
        "mlfsort": ([tool_path, in_name], env, stem + ".srt"),
        "entries": ([tool_path, "--entries", "--output", stem + ".entries-out", in_name],
                    env, stem + ".entries-out"),
        "sort": (["sort", "-f", in_name, "-o", stem + ".sort-out"], c_env, stem + ".sort-out"),
        "python": ([sys.executable, REFERENCE, in_name], env, stem + ".srt"),
        "cp": (["cp", in_name, stem + ".cp-out"], env, stem + ".cp-out"),
    }


def files_equal(a, b):
    """None if equal, else a description of the first difference."""
    chunk = 1 << 24
    offset, line = 0, 1
    with open(a, "rb") as fa, open(b, "rb") as fb:
        while True:
            x, y = fa.read(chunk), fb.read(chunk)
            if x == y:
                if not x:
                    return None
                offset += len(x)
                line += x.count(b"\n")
                continue
            n = next((i for i in range(min(len(x), len(y))) if x[i] != y[i]),
                     min(len(x), len(y)))
            line += x[:n].count(b"\n")
            return (f"first difference at byte {offset + n + 1}, line {line} "
                    f"(sizes {os.path.getsize(a)} vs {os.path.getsize(b)})")


def check_order(path):
    """Checks, a block at a time, that the sortable lines of an output file
    come in strictly ascending key order (as the Python version orders
    them) after its pass-through lines."""
    sys.path.insert(0, BENCH)
    from reference_sort import sort_key
    previous, lines, rest = None, 0, b""
    with open(path, "rb") as f:
        while True:
            block = f.read(1 << 24)
            if not block and not rest:
                break
            parts = (rest + block).split(b"\r\n")
            rest = parts.pop() if block else b""
            for line in parts:
                lines += 1
                if previous is None and (not line or line[0] == 0x23):
                    continue
                key = sort_key(line[2:101].lower())
                if previous is not None and key <= previous:
                    return f"ORDER BROKEN at line {lines}: {line[:100]!r}"
                previous = key
            if not block:
                break
    return f"ORDER OK ({lines} lines, keys strictly ascending; no reference to compare)"


def line_at(path, lineno):
    with open(path, "rb") as f:
        for i, l in enumerate(f, 1):
            if i == lineno:
                return l[:120]
    return b"<end of file>"


def bench_file(f, path, tools, args, report):
    data_dir = os.path.dirname(path)
    size = os.path.getsize(path)
    runs = 1 if args.quick or f.huge else (args.runs_large if f.large else args.runs)
    # --entries beside the default on the structure files, if asked for.
    with_entries = args.entries and f.name.startswith("struct-") and "mlfsort" in tools
    cmds = {t: c for t, c in commands(args.tool, f.name, f.stem).items()
            if (t in tools or (t == "entries" and with_entries))
            and not (f.huge and t in ("sort", "python"))}
    results = {t: Result() for t in cmds}
    kept = {"mlfsort": f.stem + ".mlfsort-out", "python": f.stem + ".ref-out",
            "entries": f.stem + ".entries-kept"}
    scratch = os.path.join(data_dir, f.stem + ".stdout")
    print(f"timing {f.name} ({size / 1e6:.1f} MB): 1 warm-up + {runs} timed run(s) each",
          flush=True)
    stdout_ok = None
    for i in range(runs + 1):
        for t, (argv, env, out) in cmds.items():
            r = results[t]
            if r.error:
                continue
            out_path = os.path.join(data_dir, out)
            if os.path.exists(out_path):
                os.remove(out_path)
            wall, user, sys_, rss, rc, err, timed_out = run_once(
                argv, data_dir, env, scratch, args.timeout)
            if timed_out:
                r.error = f"TIMEOUT after {wall:.0f} s"
            elif rc != 0:
                r.error = f"FAILED rc={rc}: {err.decode(errors='replace').strip()[:300]}"
            if r.error:
                print(f"  {t}: {r.error}", flush=True)
                continue
            if i == 0:
                if t == "mlfsort":
                    with open(scratch, "rb") as so:
                        stdout_ok = so.read() == b"\r\n\r\n"
                if t in kept:
                    shutil.copyfile(out_path, os.path.join(data_dir, kept[t]))
                continue
            r.wall.append(wall)
            r.user.append(user)
            r.sys.append(sys_)
            if rss is not None:
                r.rss.append(rss)
    for p in (scratch, scratch + ".err", scratch + ".rss"):
        if os.path.exists(p):
            os.remove(p)

    check = None
    if "mlfsort" in cmds and "python" in cmds:
        a = os.path.join(data_dir, kept["mlfsort"])
        b = os.path.join(data_dir, kept["python"])
        if results["mlfsort"].error or results["python"].error:
            check = "NOT CHECKED (a run failed)"
        else:
            diff = files_equal(a, b)
            if diff is None:
                check = "OK"
            else:
                ln = int(diff.split("line ")[1].split(" ")[0])
                check = (f"MISMATCH: {diff}\n    mlfsort: {line_at(a, ln)!r}"
                         f"\n    python:  {line_at(b, ln)!r}")
        if stdout_ok is False:
            check += "; mlfsort stdout is not CR LF CR LF"
    elif f.huge and "mlfsort" in cmds:
        # No reference output to compare with: the order alone is checked.
        if results["mlfsort"].error:
            check = "NOT CHECKED (the run failed)"
        else:
            check = check_order(os.path.join(data_dir, kept["mlfsort"]))
    if "entries" in cmds:
        if results["entries"].error:
            check_entries = "NOT CHECKED (the run failed)"
        else:
            check_entries = entries_equal(path, os.path.join(data_dir, kept["entries"]))
        print(f"  check mlfsort --entries == python: {check_entries}", flush=True)
        entries_check = f"--entries: {check_entries}"
    else:
        entries_check = None
    if not args.keep_outputs:
        for t, (_, _, out) in cmds.items():
            for p in (out, kept.get(t)):
                if p and os.path.exists(os.path.join(data_dir, p)):
                    os.remove(os.path.join(data_dir, p))
    if check:
        print(f"  check mlfsort == python: {check}", flush=True)
    if entries_check:
        check = entries_check if check is None else f"{check}; {entries_check}"
    report.append((f, size, results, check))


def entries_equal(input_path, output_path):
    """Compares mlfsort --entries' output with the Python version's."""
    sys.path.insert(0, BENCH)
    from reference_sort import sort_entries
    with open(input_path, "rb") as f:
        want = sort_entries(f.read())
    with open(output_path, "rb") as f:
        got = f.read()
    if got == want:
        return "OK"
    n = next((i for i in range(min(len(got), len(want))) if got[i] != want[i]),
             min(len(got), len(want)))
    return (f"MISMATCH: first difference at byte {n + 1} "
            f"(sizes {len(got)} vs {len(want)})")


def fmt(v, pattern=".3f"):
    return "—" if v is None else format(v, pattern)


def print_table(report):
    print("| file | size (MB) | command | wall (s) | user (s) | sys (s) "
          "| peak RSS (MB) | RSS / input | wall / mlfsort |")
    print("|---|---:|---|---:|---:|---:|---:|---:|---:|")
    for f, size, results, _ in report:
        base = results.get("mlfsort")
        base_wall = base.med("wall") if base else None
        for t, r in results.items():
            if r.error:
                print(f"| {f.name} | {size / 1e6:.1f} | {t} | {r.error} | | | | | |")
                continue
            wall, rss = r.med("wall"), max(r.rss) if r.rss else None
            ratio = wall / base_wall if wall and base_wall else None
            print(f"| {f.name} | {size / 1e6:.1f} | {t} | {fmt(wall)} | {fmt(r.med('user'))} "
                  f"| {fmt(r.med('sys'))} | {fmt(rss and rss / 1e6, '.1f')} "
                  f"| {fmt(rss and rss / size, '.2f')} | {fmt(ratio, '.2f')} |")


def targets(report):
    """Each target by median wall time as defined, and the same comparison by
    CPU time (user + sys), which load from other processes disturbs less."""
    by = {f.name.rsplit("-s", 1)[0]: (f, size, results) for f, size, results, _ in report}

    def med(key, tool, what):
        e = by.get(key)
        r = e and e[2].get(tool)
        if not r or r.error or not r.wall:
            return None
        if what == "cpu":
            return statistics.median(u + s for u, s in zip(r.user, r.sys))
        return r.med(what)

    def verdict(a, b, factor):
        if a is None or b is None:
            return "n/a (not measured)"
        return "MET" if a <= factor * b else "NOT MET"

    def time_target(desc, a, b, factor):
        (ka, ta), (kb, tb) = a, b
        wa, wb = med(ka, ta, "wall"), med(kb, tb, "wall")
        ca, cb = med(ka, ta, "cpu"), med(kb, tb, "cpu")
        print(f"- {desc}: **{verdict(wa, wb, factor)}** (wall {fmt(wa)} s vs {factor} x "
              f"{fmt(wb)} s; by CPU time {verdict(ca, cb, factor)}: {fmt(ca)} s vs "
              f"{factor} x {fmt(cb)} s)")

    def peak_target(key, factor):
        e = by.get(key)
        rss = size = None
        if e and "mlfsort" in e[2] and e[2]["mlfsort"].rss:
            rss, size = max(e[2]["mlfsort"].rss), e[1]
        print(f"- {key}: mlfsort peak RSS <= {factor} x input size: "
              f"**{verdict(rss, size, factor)}** ({fmt(rss and rss / 1e6, '.1f')} MB "
              f"vs {factor} x {fmt(size and size / 1e6, '.1f')} MB)")

    def lines_of(key):
        e = by.get(key)
        return SIZES[e[0].size_class] if e else None

    one = ("utt-1m-shuffled", "mlfsort")
    ten = ("utt-10m-shuffled", "mlfsort")
    for key in ("utt-1m-shuffled", "utt-10m-shuffled"):
        time_target(f"{key}: mlfsort wall <= 0.25 x GNU sort -f", (key, "mlfsort"),
                    (key, "sort"), 0.25)
    time_target("1M shuffled: mlfsort wall <= 4 x cp", one, ("utt-1m-shuffled", "cp"), 4)
    time_target("10M shuffled: mlfsort wall <= 11 x 1M wall", ten, one, 11)
    for key in ("utt-1m-shuffled", "utt-10m-shuffled"):
        peak_target(key, 1.6)
    for key in ("early-1m", "early-10m"):
        if by.get(key):
            time_target(f"{key}: mlfsort wall <= 0.3 x GNU sort -f", (key, "mlfsort"),
                        (key, "sort"), 0.3)
    time_target("structure file of the 1M file's byte size: mlfsort <= 1.2 x on it",
                ("struct-bytes-of-utt-1m", "mlfsort"), one, 1.2)
    for order in ("sorted", "reversed"):
        key = f"utt-1m-{order}"
        time_target(f"1M {order}: mlfsort wall <= 0.5 x GNU sort -f on it",
                    (key, "mlfsort"), (key, "sort"), 0.5)
    time_target("1M many duplicates (10 of each key): mlfsort wall <= 1.5 x 1M shuffled",
                ("utt-1m-dups", "mlfsort"), one, 1.5)
    for key in ("struct-bytes-of-utt-1m", "struct-100k", "struct-10m"):
        if by.get(key) and "entries" in by[key][2]:
            time_target(f"{key}: mlfsort --entries <= 1.2 x mlfsort on it",
                        (key, "entries"), (key, "mlfsort"), 1.2)
            e = by[key]
            rss = max(e[2]["entries"].rss) if e[2]["entries"].rss else None
            print(f"- {key}: mlfsort --entries peak RSS <= 1.6 x input size: "
                  f"**{verdict(rss, e[1], 1.6)}** ({fmt(rss and rss / 1e6, '.1f')} MB "
                  f"vs 1.6 x {e[1] / 1e6:.1f} MB)")
    huge = med("utt-100m-shuffled", "mlfsort", "wall")
    ten_wall = med(*ten, "wall")
    if huge is None or ten_wall is None:
        print("- 100M shuffled: time per line <= 1.3 x 10M's: **n/a (not measured)**")
    else:
        per_huge = huge / lines_of("utt-100m-shuffled")
        per_ten = ten_wall / lines_of("utt-10m-shuffled")
        print(f"- 100M shuffled: time per line <= 1.3 x 10M's: "
              f"**{verdict(per_huge, per_ten, 1.3)}** ({per_huge * 1e9:.0f} ns vs "
              f"1.3 x {per_ten * 1e9:.0f} ns; wall {huge:.1f} s)")
        peak_target("utt-100m-shuffled", 1.6)
    small = med("utt-1k-shuffled", "mlfsort", "wall")
    print(f"- 1,000 lines (start-up): mlfsort wall {fmt(small)} s "
          f"(cp {fmt(med('utt-1k-shuffled', 'cp', 'wall'))} s)")


def edge_checks(args, data_dir):
    """Small files with every byte class: mlfsort must match the reference."""
    d = os.path.join(data_dir, "edge")
    os.makedirs(d, exist_ok=True)
    bad = 0
    for k in range(EDGE_FILES):
        name = f"edge{k}.mlf"
        src = os.path.join(d, name)
        subprocess.run([sys.executable, GENERATOR, "--kind", "bytes", "--lines",
                        str(50 if k < 4 else 3000), "--seed", str(k), "--out", src], check=True)
        tool_out = os.path.join(d, f"edge{k}.srt")
        if os.path.exists(tool_out):
            os.remove(tool_out)
        *_, rc, err, timed_out = run_once([args.tool, name], d, None,
                                          os.path.join(d, "stdout"), min(args.timeout, 60))
        if rc == 0 and os.path.exists(tool_out):
            os.replace(tool_out, os.path.join(d, f"edge{k}.tool"))
        subprocess.run([sys.executable, REFERENCE, name], cwd=d, check=True,
                       stdout=subprocess.DEVNULL)
        diff = "mlfsort timed out" if timed_out else (
            None if rc == 0 else f"mlfsort rc={rc}: {err.decode(errors='replace')[:200]}")
        if not diff and not os.path.exists(os.path.join(d, f"edge{k}.tool")):
            diff = "mlfsort wrote no output"
        diff = diff or files_equal(os.path.join(d, f"edge{k}.tool"),
                                   os.path.join(d, f"edge{k}.srt"))
        if diff:
            bad += 1
            print(f"  edge{k}.mlf: MISMATCH {diff} (kept in {d})")
    print(f"check mlfsort == python on {EDGE_FILES} small all-byte-class files: "
          f"{'OK' if not bad else f'{bad} MISMATCH'}")
    if not bad:
        shutil.rmtree(d)
    return bad == 0


def main(argv=None):
    ap = argparse.ArgumentParser(description=__doc__,
                                 formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--data-dir", default="/tmp/mlfsort-bench")
    ap.add_argument("--tool", default=os.path.join(REPO, "build-bench", "mlfsort"))
    ap.add_argument("--sizes", default="1k,100k,1m,10m",
                    help="comma list of 1k,100k,1m,10m,100m")
    ap.add_argument("--tools", default=",".join(TOOLS), help="comma list of " + ",".join(TOOLS))
    ap.add_argument("--runs", type=int, default=5)
    ap.add_argument("--runs-large", type=int, default=3, help="timed runs for 10M files")
    ap.add_argument("--quick", action="store_true", help="100k only, one timed run")
    ap.add_argument("--timeout", type=float, default=900, help="seconds per command run")
    ap.add_argument("--seed", type=int, default=1)
    ap.add_argument("--keep-outputs", action="store_true")
    ap.add_argument("--entries", action="store_true",
                    help="also time mlfsort --entries on the structure files")
    ap.add_argument("--early", action="store_true",
                    help="also time the files of keys that differ early (1M, 10M)")
    args = ap.parse_args(argv)

    sizes = ["100k"] if args.quick else [s.strip().lower() for s in args.sizes.split(",")]
    tools = [t.strip() for t in args.tools.split(",")]
    if any(s not in SIZES for s in sizes) or any(t not in TOOLS for t in tools):
        ap.error("unknown size or tool")
    args.tool = os.path.abspath(args.tool)
    if "mlfsort" in tools and not os.access(args.tool, os.X_OK):
        ap.error(f"no mlfsort binary at {args.tool} (build it or pass --tool)")
    data_dir = os.path.abspath(args.data_dir)
    os.makedirs(data_dir, exist_ok=True)

    print(f"mlfsort: {args.tool}")
    print(f"data: {data_dir}; {os.cpu_count()} CPUs; load average at start "
          f"{' '.join(f'{x:.2f}' for x in os.getloadavg())}")
    print("each command runs once untimed first (warm page cache); figures are medians "
          "of the timed runs, peak RSS is the largest of them", flush=True)
    if not HAVE_TIME:
        print(f"NOTE: no {TIME} (apt-get install -y time): peak RSS taken from wait4 "
              "includes this script's own size, so small figures are too high")
    print()
    ok = True
    if "mlfsort" in tools:
        ok = edge_checks(args, data_dir)
    files = data_set(sizes, args.seed, args.entries, args.early)
    paths = [ensure_generated(f, data_dir, args.seed) for f in files]
    report = []
    for f, p in zip(files, paths):
        bench_file(f, p, tools, args, report)
    print(f"\nload average at end {' '.join(f'{x:.2f}' for x in os.getloadavg())}\n")
    print_table(report)
    print()
    for f, _, results, check in report:
        if check is not None:
            print(f"- check {f.name}: {check}")
        if check and (not check.startswith(("OK", "ORDER OK", "--entries: OK"))
                      or "MISMATCH" in check or "NOT CHECKED" in check):
            ok = False
        if any(t in results and results[t].error for t in ("mlfsort", "entries")):
            ok = False
    print("\nTargets:")
    targets(report)
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
