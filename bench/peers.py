#!/usr/bin/env python3
"""corvane against the tools people use for the same job, in one run.

Generates two tables as CSV (ten columns of ten letters; five columns of
real-looking text with accents, Greek, dashes and CJK, cells up to 200
characters) at each size asked for, then times, on each:

  render  CSV -> a Markdown-like table ("| a | b |" rows), and
  parse   that table -> CSV again,

with corvane (both builds, --jobs 1 and the default), Python's csv module
with join/split doing the same rendering and parsing, and mlr (Miller:
--omd to render; it reads no Markdown, so its parse is TSV -> CSV, the
nearest job it has) where it is installed, as users run it and held to
one core with taskset (its reader, parser and writer otherwise share the
cores, where corvane --jobs 1 has one worker); a missing peer is reported
as missing, never installed.  Prints wall and CPU time, MB/s of input, peak
resident memory and corvane's ratios to its peers; checks that each
corvane parse gives the CSV back byte for byte.

Beside corvane it also times corvane_transcode_floor, built next to it:
reading the file, widening it to 32-bit characters and narrowing it back
with corvane's own codec, and writing it ("floor unicode"), or only reading
and writing it ("floor copy").  That is the least a run of the Unicode
build, respectively of the 8-bit build with --raw-bytes, does on that
file; "floor/mlr" is how far ahead of mlr any such run could be at best.

  bench/peers.py --corvane build/release/tools/corvane [--sizes 100M,1G] [--work DIR] [--keep]
                 [--baseline OTHER/tools/corvane] [--repeat N]

--baseline times another corvane (an earlier build) on the same inputs in
the same run and adds its ratios, so that a change is measured against what
it changes under the same load.  --repeat N runs every command N times and
keeps the fastest run, for figures that a busy moment does not skew.

The 8-bit build runs with --raw-bytes (UTF-8 bytes through unchanged).
"""
import argparse
import os
import random
import shutil
import subprocess
import sys
import tempfile
import time

FORMAT = ["--row-prefix", "| ", "--row-suffix", " |", "--row-delim", "\\n", "--col-delim", " | "]

PY_RENDER = r"""
import csv, sys
with open(sys.argv[1], newline="", encoding="utf-8") as src, open(sys.argv[2], "w", encoding="utf-8", newline="") as out:
    rows = csv.reader(src)
    next(rows)
    out.write("\n".join("| " + " | ".join(row) + " |" for row in rows))
"""
PY_PARSE = r"""
import csv, sys
with open(sys.argv[1], newline="", encoding="utf-8") as src:
    header = next(csv.reader(src))
with open(sys.argv[2], encoding="utf-8", newline="") as text, open(sys.argv[3], "w", encoding="utf-8", newline="") as out:
    writer = csv.writer(out)
    writer.writerow(header)
    for line in text:
        writer.writerow(line.rstrip("\n")[2:-2].split(" | "))
"""

WORDS = ("Zürich naïve façade coöperate déjà vu smörgåsbord Ελλάδα Αθήνα Москва Kraków Łódź São Paulo "
         "crème brûlée — – “quoted” ‘single’ 東京 北京 서울 Straße œuvre Ærø Ångström café résumé "
         "the of and to in is that for it as was with be by on not he this are or his from at which "
         "data export record customer order invoice shipment warehouse balance").split()


def parse_size(text):
    units = {"K": 10**3, "M": 10**6, "G": 10**9}
    return int(float(text[:-1]) * units[text[-1].upper()]) if text[-1].upper() in units else int(text)


def generate(path, kind, size, rng):
    """A CSV of about `size` bytes, made of a pool of distinct rows drawn at random."""
    if kind == "letters":
        header = ["c%d" % i for i in range(10)]
        letters = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ"
        pool = [",".join("".join(rng.choice(letters) for _ in range(10)) for _ in range(10)) for _ in range(50000)]
    else:
        header = ["id", "name", "city", "note", "description"]

        def text(most):
            words, length = [], 0
            target = rng.randint(1, most)
            while length < target:
                w = rng.choice(WORDS)
                words.append(w)
                length += len(w) + 1
            return " ".join(words)[:most]

        pool = []
        for i in range(50000):
            cells = [str(i), text(30), text(20), text(80), text(200)]
            # No cell holds " | ", the separator of the rendered table.
            cells = [c.replace(" | ", " / ").replace("|", "/") for c in cells]
            pool.append(",".join('"%s"' % c.replace('"', '""') if any(ch in c for ch in ',"\n') else c
                                 for c in cells))
    with open(path, "w", encoding="utf-8", newline="") as f:
        f.write(",".join(header) + "\n")
        written = 0
        while written < size:
            chunk = "\n".join(rng.choices(pool, k=20000)) + "\n"
            f.write(chunk)
            written += len(chunk.encode("utf-8"))


taskset = None  # util-linux, to hold a peer to one core
REPEAT = 1  # runs of each command; the fastest counts (--repeat)


def timed(command, stdout=None, output=None):
    """Wall and CPU seconds and peak resident memory (KiB) of one command: of its
    fastest run by the wall clock, with the highest peak of all runs.  The clocks
    are read here, to the microsecond (/usr/bin/time gives hundredths, which is 5
    per cent of a run of 0.2 s); the peak comes from /usr/bin/time, whose child
    starts from its own small image (a child forked from this script would count
    the script's memory, which it held until its exec, as its own peak).  Files
    that earlier runs wrote are flushed first, so that the kernel's writing them
    back does not take a core from this run, and the file `output` that the
    command writes is removed: dropping a previous output of 100 MB from the page
    cache takes 60 ms, which a tool that writes to standard output would not pay
    (the shell empties that file)."""
    best, peak = None, 0
    for _ in range(REPEAT):
        if stdout is not None:
            stdout.seek(0)
            stdout.truncate()
        if output is not None and os.path.exists(output):
            os.remove(output)
        os.sync()
        start = time.perf_counter()
        p = subprocess.Popen(["/usr/bin/time", "-f", "%M"] + command, stdout=stdout or subprocess.DEVNULL,
                             stderr=subprocess.PIPE)
        stderr = p.stderr.read().decode("utf-8", "replace")
        _, status, usage = os.wait4(p.pid, 0)  # CPU time of /usr/bin/time and of the command it waited for
        wall = time.perf_counter() - start
        p.returncode = os.waitstatus_to_exitcode(status)
        p.stderr.close()
        if p.returncode != 0:
            raise RuntimeError("%s failed (%d): %s" % (" ".join(command), p.returncode, stderr.strip()[-400:]))
        if best is None or wall < best[0]:
            best = (wall, usage.ru_utime + usage.ru_stime)
        peak = max(peak, int(stderr.strip().splitlines()[-1]))
    return best[0], best[1], peak


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("--corvane", required=True)
    ap.add_argument("--sizes", default="100M")
    ap.add_argument("--work", default=None, help="where the inputs go (default: a temporary directory)")
    ap.add_argument("--keep", action="store_true", help="keep the generated files")
    ap.add_argument("--tables", default="letters,text")
    ap.add_argument("--baseline", default=None, help="another corvane to time the same way, for ratios")
    ap.add_argument("--repeat", type=int, default=1, help="runs of each command, of which the fastest counts")
    args = ap.parse_args()
    global REPEAT
    REPEAT = max(1, args.repeat)
    if not os.path.exists("/usr/bin/time"):
        sys.exit("peers.py needs /usr/bin/time (Debian package time)")
    work = args.work or tempfile.mkdtemp(prefix="corvane-peers-")
    os.makedirs(work, exist_ok=True)
    mlr = shutil.which("mlr")
    floor = os.path.join(os.path.dirname(os.path.abspath(args.corvane)), "corvane_transcode_floor")
    if not os.access(floor, os.X_OK):
        floor = None
    global taskset
    taskset = shutil.which("taskset")
    jobs = os.cpu_count() or 1
    rng = random.Random(11)
    rows = []  # (table, size, direction, tool, wall, cpu, rss, input bytes)

    print("corvane: %s; mlr: %s; python: %s; %d cores; load average %.1f" %
          (args.corvane, mlr or "missing", sys.version.split()[0], jobs, os.getloadavg()[0]))
    print("floor: %s" % (floor or "missing (corvane_transcode_floor is built beside corvane)"))
    for size_text in args.sizes.split(","):
        size = parse_size(size_text)
        for table in args.tables.split(","):
            csv_path = os.path.join(work, "%s-%s.csv" % (table, size_text))
            if not os.path.exists(csv_path):
                generate(csv_path, table, size, rng)
            csv_bytes = os.path.getsize(csv_path)
            md_path = os.path.join(work, "%s-%s.md" % (table, size_text))
            out = os.path.join(work, "out")

            def record(direction, tool, result, input_bytes):
                rows.append((table, size_text, direction, tool) + result + (input_bytes,))
                wall, cpu, rss = result
                print("  %-7s %-5s %-6s %-28s %7.3f s wall %7.3f s cpu %8.1f MB/s %7.1f MiB" %
                      (table, size_text, direction, tool, wall, cpu, input_bytes / 1e6 / wall, rss / 1024))
                sys.stdout.flush()

            programs = [("corvane", args.corvane)] + ([("baseline", args.baseline)] if args.baseline else [])
            for build in ("unicode", "8bit"):
                extra = ["--build", build] + (["--raw-bytes"] if build == "8bit" else [])
                for j in (1, jobs):
                    for label, program in programs:
                        tool = "%s %s --jobs %d" % (label, build, j)
                        r = timed([program, "list-to-formatted"] + extra + FORMAT +
                                  ["--jobs", str(j), "-i", csv_path, "-o", md_path], output=md_path)
                        record("render", tool, r, csv_bytes)
                        md_bytes = os.path.getsize(md_path)
                        r = timed([program, "formatted-to-list"] + extra + FORMAT +
                                  ["--jobs", str(j), "--line-end", "lf", "--columns-from", csv_path, "-i", md_path,
                                   "-o", out], output=out)
                        record("parse", tool, r, md_bytes)
                        if subprocess.run(["cmp", "-s", csv_path, out]).returncode != 0:
                            print("  !! %s did not give the CSV back byte for byte" % tool)
            md_bytes = os.path.getsize(md_path)
            if floor:
                for mode in ("unicode", "copy"):
                    record("render", "floor " + mode, timed([floor, mode, csv_path, out], output=out), csv_bytes)
                    record("parse", "floor " + mode, timed([floor, mode, md_path, out], output=out), md_bytes)
            r = timed([sys.executable, "-c", PY_RENDER, csv_path, out], output=out)
            record("render", "python csv", r, csv_bytes)
            r = timed([sys.executable, "-c", PY_PARSE, csv_path, md_path, out], output=out)
            record("parse", "python csv", r, md_bytes)
            if mlr:
                # As users run it (its reader, parser and writer share the
                # cores), and held to one core, as corvane --jobs 1 holds
                # its work to one worker.
                tsv = os.path.join(work, "mlr.tsv")
                subprocess.run([mlr, "--icsv", "--otsv", "cat", csv_path], stdout=open(tsv, "w"), check=True)
                for suffix, pin in (("", []), (", one core", ["taskset", "-c", "0"] if taskset else None)):
                    if pin is None:
                        continue
                    r = timed(pin + [mlr, "--icsv", "--omd", "cat", csv_path], stdout=open(out, "w"))
                    record("render", "mlr --omd" + suffix, r, csv_bytes)
                    r = timed(pin + [mlr, "--itsv", "--ocsv", "cat", tsv], stdout=open(out, "w"))
                    record("parse", "mlr tsv->csv" + suffix, r, os.path.getsize(tsv))
                os.remove(tsv)
            else:
                print("  %-7s %-5s mlr: missing" % (table, size_text))
            for leftover in (md_path, out):
                if os.path.exists(leftover):
                    os.remove(leftover)
            if not args.keep:
                os.remove(csv_path)

    # Ratios: speed in MB/s of input, so a ratio above 1 means corvane is faster.
    def speed(table, size, direction, tool, clock):
        for r in rows:
            if r[:4] == (table, size, direction, tool):
                return r[7] / 1e6 / r[4 if clock == "wall" else 5]
        return None

    for clock in ("wall", "cpu"):
        ratios(rows, speed, clock, jobs, args)
    sizes = args.sizes.split(",")
    if len(sizes) > 1:
        small, large = sizes[0], sizes[-1]
        print("\nscaling %s -> %s (time ratio over input ratio; <= 1.1 is the goal)" % (small, large))
        for r in rows:
            if r[1] != small or not r[3].startswith(("corvane", "baseline")):
                continue
            for q in rows:
                if q[1] == large and q[0] == r[0] and q[2] == r[2] and q[3] == r[3]:
                    print("  %-7s %-6s %-28s wall %.2f  cpu %.2f" % (r[0], r[2], r[3], (q[4] / r[4]) / (q[7] / r[7]),
                                                                  (q[5] / r[5]) / (q[7] / r[7])))
    if not args.keep and not args.work:
        shutil.rmtree(work, ignore_errors=True)


def ratios(rows, speed, clock, jobs, args):
    """Speed in MB/s of input by one clock: a ratio above 1 means corvane is faster.  The CPU clock adds up
    every thread, so its jobs ratio only shows the cost of running side by side."""
    print("\nratios (MB/s of input, %s clock; > 1 means the first is faster)" % clock)
    sizes = args.sizes.split(",")
    for size in sizes:
        for table in args.tables.split(","):
            for direction in ("render", "parse"):
                for build in ("unicode", "8bit"):
                    one = speed(table, size, direction, "corvane %s --jobs 1" % build, clock)
                    many = speed(table, size, direction, "corvane %s --jobs %d" % (build, jobs), clock)
                    py = speed(table, size, direction, "python csv", clock)
                    mlr_name = "mlr --omd" if direction == "render" else "mlr tsv->csv"
                    peer = speed(table, size, direction, mlr_name, clock)
                    peer_one_core = speed(table, size, direction, mlr_name + ", one core", clock)
                    parts = ["%-7s %-5s %-6s %-7s" % (table, size, direction, build),
                             "jobs1 %6.1f MB/s" % one,
                             "jobs%d/jobs1 %.2fx" % (jobs, many / one)]
                    parts.append("jobs1/python %.2fx" % (one / py) if py else "python missing")
                    parts.append("jobs1/mlr %.2fx" % (one / peer) if peer else "mlr missing")
                    if peer:
                        parts.append("jobs%d/mlr %.2fx" % (jobs, many / peer))
                    if peer_one_core:
                        parts.append("jobs1/mlr-one-core %.2fx" % (one / peer_one_core))
                    # The least a run of this build does on the file (read,
                    # widen and narrow for Unicode, write): no run of it can
                    # be further ahead of mlr than this.
                    least = speed(table, size, direction, "floor unicode" if build == "unicode" else "floor copy",
                                  clock)
                    if least and peer:
                        parts.append("floor/mlr %.2fx" % (least / peer))
                    base = speed(table, size, direction, "baseline %s --jobs 1" % build, clock)
                    base_many = speed(table, size, direction, "baseline %s --jobs %d" % (build, jobs), clock)
                    if base and base_many:
                        parts.append("vs baseline jobs1 %.2fx jobs%d %.2fx" % (one / base, jobs, many / base_many))
                    print("  " + "  ".join(parts))


if __name__ == "__main__":
    main()
