"""Streaming against one call: every command run in small batches, on one
and on several jobs, must write exactly what it writes when the whole input
goes to the plug-in in one call, and fail the same way.

Inputs are random and small, drawn from few characters so that cells often
hold the format's separators: lists of one to five columns, format strings
with and without VARIANT lists, texts rendered from lists and then cut short,
spliced or left as they are, and texts of random characters.  Lists come
as CSV with a comma or a semicolon or as TSV, with or without a header row,
sometimes with ragged rows read with --ragged pad or truncate; formatted
texts are written and read with cell escaping or without.

Environment: CORVANE, BUILD (unicode or 8bit); STREAMING_CASES (default 20
per command) and STREAMING_SEED to vary the run.
"""
import os
import random
import subprocess
import sys
import tempfile

CORVANE = os.environ["CORVANE"]
BUILD = os.environ["BUILD"]
CASES = int(os.environ.get("STREAMING_CASES", "20"))
SEED = int(os.environ.get("STREAMING_SEED", "20261208"))
ONE_CALL = ["--batch-rows", "1000000000", "--batch-bytes", "1000000000", "--jobs", "1"]
BATCHES = [["--batch-rows", "1", "--jobs", "1"], ["--batch-rows", "1", "--jobs", "3"],
           ["--batch-rows", "3", "--batch-bytes", "8", "--jobs", "2"]]

rng = random.Random(SEED)
work = tempfile.mkdtemp()
failures = []
runs = 0

ALL_CELL_CHARS = "ab,;|[]<>{}-\n\"" + ("é水" if BUILD == "unicode" else "é")
ALL_FORMAT_CHARS = ",;|[]<>{}-\n"
# Each case draws from a few of these, so that separators meet often.
CELL_CHARS = FORMAT_CHARS = ""


def cell():
    return "".join(rng.choice(CELL_CHARS) for _ in range(rng.choice([0, 1, 1, 2, 3, 5])))


def format_string(allow_empty=True):
    n = rng.choice([0, 0, 1, 1, 2, 3]) if allow_empty else rng.choice([1, 1, 2, 3])
    return "".join(rng.choice(FORMAT_CHARS) for _ in range(n))


def variant(columns):
    entries = [format_string() for _ in range(max(1, columns + rng.choice([-1, 0, 0, 0, 1])))]
    return "VARIANT:" + ",".join(e.replace(",", ";") for e in entries)


def csv_field(text):
    if text == "" or any(c in text for c in ',"\r\n'):
        return '"' + text.replace('"', '""') + '"'
    return text


def tsv_field(text):
    return text.replace("\\", "\\\\").replace("\t", "\\t").replace("\n", "\\n").replace("\r", "\\r")


def random_list(columns, dialect, header, ragged):
    names = ["c%d" % i for i in range(columns)]
    rows = [[cell() for _ in range(columns)] for _ in range(rng.choice([0, 1, 2, 5, 9, 17]))]
    if ragged:
        for row in rows:
            if rng.random() < 0.3:
                row[:] = row[:rng.randrange(1, columns + 1)] if rng.random() < 0.5 else row + [cell()]
    ending = rng.choice(["\r\n", "\n"])
    separator = {"csv": ",", "semicolon": ";", "tsv": "\t"}[dialect]
    field = tsv_field if dialect == "tsv" else csv_field
    if dialect == "semicolon":
        field = lambda text: csv_field(text) if ";" not in text else '"' + text.replace('"', '""') + '"'
    lines = ([separator.join(names)] if header else []) + [separator.join(field(c) for c in row) for row in rows]
    text = ending.join(lines) + rng.choice([ending, ending, ""])
    if rng.random() < 0.1 and rows:  # a malformed record somewhere
        cut = rng.randrange(len(text))
        text = text[:cut] + rng.choice(['"', ",", "\n", "x\"y"]) + text[cut:]
    return names, text


def random_format(columns):
    options = {
        "--row-prefix": format_string(), "--row-suffix": format_string(),
        "--row-delim": format_string(allow_empty=rng.random() < 0.05),
        "--col-prefix": variant(columns) if rng.random() < 0.3 else format_string(),
        "--col-suffix": variant(columns) if rng.random() < 0.3 else format_string(),
        "--col-delim": format_string(allow_empty=rng.random() < 0.05),
    }
    if rng.random() < 0.2:
        options["--before"] = format_string()
        options["--after"] = format_string()
    args = []
    for key, value in options.items():
        if value == "":
            continue  # the default; "--key=" would take the next argument
        args.append("%s=%s" % (key, value.replace("\\", "\\\\").replace("\n", "\\n")))
    return args


def write(name, data):
    path = os.path.join(work, name)
    with open(path, "wb") as f:
        f.write(data if isinstance(data, bytes) else data.encode("utf-8"))
    return path


def corvane(args):
    global runs
    runs += 1
    p = subprocess.run([CORVANE] + args + ["--build", BUILD], stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                       timeout=60)
    return p.returncode, p.stdout, p.stderr


def same(expected, got):
    """The same output and messages for a run that succeeds.  A run that
    fails says the same; it has written what came before the failure to
    standard output, which no file keeps.  Input with a malformed record
    and format strings the command refuses may fail either way: one call
    reads the whole input before the command runs, batches find the record
    only when they reach it."""
    if expected[0] == 0 or got[0] == 0:
        return got == expected
    if {expected[0], got[0]} == {1, 3}:
        return True
    return got[0] == expected[0] and got[2] == expected[2]


def compare(what, args):
    expected = corvane(args + ONE_CALL)
    for batching in BATCHES:
        got = corvane(args + batching)
        if not same(expected, got):
            failures.append((what, args + batching, expected, got))
            return expected
    return expected


def mutate(text):
    """A rendered text cut short, with a piece doubled or left out, or as it was."""
    if not text:
        return text
    choice = rng.random()
    if choice < 0.4:
        return text
    a = rng.randrange(len(text))
    b = min(len(text), a + rng.randrange(1, 6))
    if choice < 0.6:
        return text[:a]
    if choice < 0.8:
        return text[:a] + text[a:b] + text[a:]
    return text[:a] + text[b:]


for case in range(CASES):
    FORMAT_CHARS = "".join(rng.sample(ALL_FORMAT_CHARS, rng.choice([2, 3, 4, len(ALL_FORMAT_CHARS)])))
    CELL_CHARS = rng.choice([FORMAT_CHARS + "ab", ALL_CELL_CHARS])
    columns = rng.choice([1, 1, 2, 3, 5])
    dialect = rng.choice(["csv", "csv", "semicolon", "tsv"])
    header = rng.random() < 0.75
    ragged = rng.choice([None, None, "pad", "truncate"])
    names, csv = random_list(columns, dialect, header, ragged is not None or rng.random() < 0.05)
    source = write("list%d.csv" % case, csv)
    fmt = random_format(columns)
    if rng.random() < 0.4:
        fmt.append("--escape=" + rng.choice(["html", "xml", "json", "csv"]))
    written = {"csv": [], "semicolon": ["--separator=;"], "tsv": ["--tsv"]}[dialect]
    if not header:
        written += ["--no-header", "--columns", ",".join(names)]
    read = written + (["--ragged", ragged] if ragged else [])
    compare("list-to-string", ["list-to-string", "--delim=" + rng.choice([",", ";", "\\n"]), "-i", source] + read)
    status, rendered, _ = compare("list-to-formatted", ["list-to-formatted", "-i", source] + fmt + read)

    # The text back: as rendered, damaged, or random characters.
    back = ["formatted-to-list", "--columns", ",".join(names)] + [a for a in fmt] + \
        [a for a in written if a != "--columns" and a != ",".join(names)]
    if status == 0:
        text = mutate(rendered.decode("utf-8"))
    else:
        text = "".join(rng.choice(CELL_CHARS) for _ in range(rng.randrange(0, 40)))
    compare("formatted-to-list", back + ["-i", write("text%d.txt" % case, text)])

    delim = rng.choice([",", ";", "\n"])
    flat = "".join(rng.choice(CELL_CHARS + delim * 4) for _ in range(rng.randrange(0, 60)))
    compare("string-to-list", ["string-to-list", "--columns", ",".join(names), "--delim=" +
                               delim.replace("\n", "\\n"), "-i", write("flat%d.txt" % case, flat)] +
            [a for a in written if a != "--columns" and a != ",".join(names)])

for what, args, expected, got in failures[:5]:
    print("FAIL: %s differs from one call: %s" % (what, " ".join(repr(a) for a in args)))
    print("      one call: status %d, %r, %r" % (expected[0], expected[1][:300], expected[2][:300]))
    print("      batches:  status %d, %r, %r" % (got[0], got[1][:300], got[2][:300]))
print("%d cases, %d runs, %d differ (seed %d)" % (CASES, runs, len(failures), SEED))
sys.exit(1 if failures else 0)
