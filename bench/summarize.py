#!/usr/bin/env python3
"""Summarises the JSON output of corvane_bench.

Benchmarks are named Command/Build/Size/Data/Impl (see BenchSupport.h).  For
every plug-in run (Impl plugin, or fresh: on a freshly loaded instance) the
table gives its time, cells per second, the ratio to
the host-interface floor and to memcpy measured in the same run, the ratio of
ten times the input to the input (for the plug-in and for the floor), and for
the adversarial texts the ratio to the benign text of the same size.  A
second table puts the literal algorithm next to the plug-in on the same
text.  Times are the median over the repetitions; CPU time by default, since
the machine may be shared (--time real for wall-clock time).

Bounds: a command costs at most 2x its floor, ten times the input at most
11x the time, an adversarial text at most 3x the benign one.  Exceeded
bounds are listed at the end; they do not change the exit status, which is 1
only when a benchmark reported an error (a command gave a wrong result).
"""

import argparse
import json
import re
import statistics
import sys
from collections import defaultdict

FLOOR_BOUND = 2.0
SCALING_BOUND = 11.0
ADVERSARIAL_BOUND = 3.0
BENIGN = "html"
ADVERSARIAL = ("near-match", "rare-prefixes")

_TO_MS = {"ns": 1e-6, "us": 1e-3, "ms": 1.0, "s": 1e3}
_SIZE = re.compile(r"^(?P<kind>[a-z]+):(?P<n>\d+)(?P<unit>[kM]?)$")


def parse_size(size):
    """'cells:1M' -> ('cells', 1000000); None when the form is unknown."""
    m = _SIZE.match(size)
    if not m:
        return None
    scale = {"": 1, "k": 1000, "M": 1000000}[m.group("unit")]
    return m.group("kind"), int(m.group("n")) * scale


PLUGIN_IMPLS = ("plugin", "fresh")


def load(paths, clock):
    """Benchmark key (5-tuple) -> {'ms': median time, 'items': median items/s}.

    `paths` is one JSON file or several (one per process).  Individual
    repetitions are used when present, else the 'median' aggregate.  Runs
    with errors are returned separately."""
    if isinstance(paths, str):
        paths = [paths]
    benchmarks, context, loads = [], {}, []
    for path in paths:
        with open(path) as f:
            data = json.load(f)
        benchmarks.extend(data.get("benchmarks", []))
        context = context or dict(data.get("context", {}))
        loads.extend(data.get("context", {}).get("load_avg", [])[:1])
    if loads:
        context["load_1min"] = (min(loads), max(loads))
    runs = defaultdict(lambda: {"ms": [], "items": []})
    medians = {}
    errors = []
    for b in benchmarks:
        parts = b.get("run_name", b["name"]).split("/")
        if len(parts) < 5:
            continue
        key = tuple(parts[:5])
        if b.get("error_occurred"):
            errors.append((key, b.get("error_message", "")))
            continue
        ms = b[clock] * _TO_MS[b.get("time_unit", "ns")]
        items = b.get("items_per_second")
        if b.get("run_type") == "aggregate":
            if b.get("aggregate_name") == "median":
                medians[key] = {"ms": ms, "items": items}
            continue
        runs[key]["ms"].append(ms)
        if items is not None:
            runs[key]["items"].append(items)
    results = {}
    for key, r in runs.items():
        results[key] = {
            "ms": statistics.median(r["ms"]),
            "items": statistics.median(r["items"]) if r["items"] else None,
            "n": len(r["ms"]),
        }
    for key, m in medians.items():
        results.setdefault(key, dict(m, n=1))
    return results, errors, context


def ratio(a, b):
    return a / b if a is not None and b else None


def analyse(results):
    """Rows of the main table, rows of the literal table, exceeded bounds."""
    rows, literal_rows, over = [], [], []
    plugins = sorted(k for k in results if k[4] in PLUGIN_IMPLS)

    def time(command, build, size, data, impl):
        r = results.get((command, build, size, data, impl))
        return r["ms"] if r else None

    def larger(size, factor):
        parsed = parse_size(size)
        if not parsed:
            return None
        kind, n = parsed
        for key in results:
            p = parse_size(key[2])
            if p == (kind, n * factor):
                return key[2]
        return None

    def smaller(size):
        parsed = parse_size(size)
        if not parsed or parsed[1] % 10:
            return None
        kind, n = parsed
        for key in results:
            if parse_size(key[2]) == (kind, n // 10):
                return key[2]
        return None

    for key in plugins:
        command, build, size, data, impl = key
        r = results[key]
        floor = time(command, build, size, data, "floor")
        row = {
            "name": "/".join(key[:4]) + ("" if impl == "plugin" else " [%s]" % impl),
            "ms": r["ms"],
            "floor_ms": floor,
            "mcells": r["items"] / 1e6 if r["items"] else None,
            "x_floor": ratio(r["ms"], floor),
            "x_memcpy": ratio(r["ms"], time(command, build, size, data, "memcpy")),
            "scale": None,
            "floor_scale": None,
            "x_benign": None,
        }
        small = smaller(size)
        if small:
            row["scale"] = ratio(r["ms"], time(command, build, small, data, impl))
            row["floor_scale"] = ratio(floor, time(command, build, small, data, "floor"))
        if data in ADVERSARIAL and impl == "plugin":
            row["x_benign"] = ratio(r["ms"], time(command, build, size, BENIGN, "plugin"))
        rows.append(row)
        if row["x_floor"] is not None and row["x_floor"] > FLOOR_BOUND:
            over.append("%s costs %.2fx its floor (bound %.0fx)" % (row["name"], row["x_floor"], FLOOR_BOUND))
        if row["scale"] is not None and row["scale"] > SCALING_BOUND:
            over.append("%s: 10x the input costs %.1fx the time (bound %.0fx; the floor: %s)"
                        % (row["name"], row["scale"], SCALING_BOUND, fmt(row["floor_scale"], "%.1fx")))
        if row["x_benign"] is not None and row["x_benign"] > ADVERSARIAL_BOUND:
            over.append("%s costs %.2fx the benign text (bound %.0fx)"
                        % (row["name"], row["x_benign"], ADVERSARIAL_BOUND))

    for key in sorted(k for k in results if k[4] == "literal"):
        command, _, size, data, _ = key
        lit = results[key]["ms"]
        builds = {b: time(command, b, size, data, "plugin")
                  for b in sorted({k[1] for k in plugins})}
        literal_rows.append({"name": "%s/%s/%s" % (command, size, data), "ms": lit,
                             "builds": builds})
    return rows, literal_rows, over


def fmt(value, form):
    return "-" if value is None else form % value


def render(rows, literal_rows, over, errors, clock, context, repetitions):
    out = []
    label = "cpu" if clock == "cpu_time" else "real"
    header = ("%-62s %10s %10s %9s %8s %9s %8s %8s %8s"
              % ("benchmark", label + " ms", "floor ms", "Mcells/s", "x floor", "x memcpy",
                 "10x in", "floor10x", "x benign"))
    out.append(header)
    out.append("-" * len(header))
    for r in rows:
        out.append("%-62s %10s %10s %9s %8s %9s %8s %8s %8s" % (
            r["name"], fmt(r["ms"], "%.2f"), fmt(r["floor_ms"], "%.2f"), fmt(r["mcells"], "%.2f"),
            fmt(r["x_floor"], "%.2f"), fmt(r["x_memcpy"], "%.0f"), fmt(r["scale"], "%.2f"),
            fmt(r["floor_scale"], "%.2f"), fmt(r["x_benign"], "%.2f")))
    if literal_rows:
        builds = sorted({b for r in literal_rows for b in r["builds"]})
        out.append("")
        header = "%-48s %12s" % ("literal algorithm on the same text", "literal ms")
        for b in builds:
            header += " %12s %12s" % (b + " ms", "literal/" + b)
        out.append(header)
        out.append("-" * len(header))
        for r in literal_rows:
            line = "%-48s %12s" % (r["name"], fmt(r["ms"], "%.2f"))
            for b in builds:
                t = r["builds"].get(b)
                line += " %12s %12s" % (fmt(t, "%.3f"), fmt(ratio(r["ms"], t), "%.0f"))
            out.append(line)
    out.append("")
    out.append("Times: median %s time over %d repetition(s).  [fresh]: a freshly loaded instance every"
               % (label, repetitions))
    out.append("run, paying for growing the working buffers.  x floor: the plug-in's time over our host's")
    out.append("own callback traffic for the same cells; 10x in: time at ten times the input over the time")
    out.append("at the input (floor10x: the same for the floor); x benign: an adversarial text over the")
    out.append("HTML-like text of the same size.")
    if "load_1min" in context:
        out.append("Load average over the last minute when the processes started: %.1f to %.1f on %s cores."
                   % (context["load_1min"] + (context.get("num_cpus", "?"),)))
    if context.get("library_build_type") == "debug":
        out.append("(The benchmark library reports a debug build: it affects its own bookkeeping only.)")
    out.append("")
    if over:
        out.append("Over a bound (%d):" % len(over))
        out.extend("  " + line for line in over)
    else:
        out.append("Every bound held: at most %.0fx the floor, %.0fx the time for 10x the input, "
                   "%.0fx the benign text." % (FLOOR_BOUND, SCALING_BOUND, ADVERSARIAL_BOUND))
    for key, message in errors:
        out.append("ERROR %s: %s" % ("/".join(key), message))
    return "\n".join(out)


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("json", nargs="+", help="output of corvane_bench --benchmark_out=FILE")
    parser.add_argument("--time", choices=("cpu", "real"), default="cpu")
    args = parser.parse_args(argv)
    clock = "cpu_time" if args.time == "cpu" else "real_time"
    results, errors, context = load(args.json, clock)
    if not results and not errors:
        print("no benchmark results in %s" % args.json, file=sys.stderr)
        return 1
    rows, literal_rows, over = analyse(results)
    repetitions = max((r["n"] for r in results.values()), default=0)
    print(render(rows, literal_rows, over, errors, clock, context, repetitions))
    return 1 if errors else 0


if __name__ == "__main__":
    sys.exit(main())
