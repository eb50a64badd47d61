"""Tables read by parsers other than the program's, for its tests.

  tables.py KIND FILE       the rows of FILE as JSON, one list of cells a row:
                            csv, tsv (tabs, no quotes, \\t \\n \\r \\\\ escapes),
                            html (the <td> rows), xml (each child of the root
                            a row, each of its children a cell), json (an
                            array of arrays or objects), markdown (a pipe
                            table below its alignment row)
  tables.py troublesome [--latin1] [--xml]
                            a CSV of cells holding every character that
                            needs escaping somewhere; --latin1 keeps to
                            Latin-1, --xml leaves out the control characters
                            XML 1.0 does not have
"""
import csv
import html
import html.parser
import io
import json
import sys
import xml.etree.ElementTree as ET


def read_tsv(text):
    lines = text.split("\n")
    if lines and lines[-1] == "":
        lines.pop()
    rows = []
    for line in lines:
        if line.endswith("\r"):
            line = line[:-1]
        if line == "" and rows and len(rows[0]) > 1:
            continue
        cells = []
        for raw in line.split("\t"):
            out, i = [], 0
            while i < len(raw):
                if raw[i] == "\\":
                    out.append({"t": "\t", "n": "\n", "r": "\r", "\\": "\\"}[raw[i + 1]])
                    i += 2
                else:
                    out.append(raw[i])
                    i += 1
            cells.append("".join(out))
        rows.append(cells)
    return rows


class Cells(html.parser.HTMLParser):
    def __init__(self):
        super().__init__(convert_charrefs=True)
        self.rows, self.cell = [], None

    def handle_starttag(self, tag, attrs):
        if tag == "tr":
            self.rows.append([])
        elif tag == "td":
            self.cell = ""

    def handle_endtag(self, tag):
        if tag == "td":
            self.rows[-1].append(self.cell)
            self.cell = None

    def handle_data(self, data):
        if self.cell is not None:
            self.cell += data


def read_html(text):
    parser = Cells()
    parser.feed(text)
    parser.close()
    return [row for row in parser.rows if row]


def read_markdown(text):
    lines = text.split("\n")
    rows = []
    for line in lines[2:]:
        if not line:
            continue
        assert line.startswith("|") and line.endswith("|"), line
        rows.append([html.unescape(cell[1:-1]) for cell in line[1:-1].split("|")])
    return rows


def read_json(text):
    rows = []
    for item in json.loads(text):
        values = item.values() if isinstance(item, dict) else item
        rows.append([v if isinstance(v, str) else json.dumps(v) for v in values])
    return rows


def troublesome(latin1, xml):
    cells = [
        "<b>&amp;</b> & < >",
        "\"double\" 'single' `back`",
        "back\\slash \\n \\\\ \\u0041 \\x41",
        "tab\there\t",
        "line\nbreak",
        "cr\ronly and crlf\r\n",
        "a | b || c",
        ", ; \" , \"",
        "</td><td> </c><c> \"}, {\"",
        "&#124; &lt; &bogus; &",
        "  spaced  ",
        "",
        "\u00e9\u00ff\u00a0\u00bf \x7f\x80\x9f",
    ]
    if not xml:
        cells.append("".join(chr(c) for c in range(1, 32)))
    if not latin1:
        cells += ["\U0001F600 \U0001D11E \U0010FFFD", "\u20ac \u0141\u00f3d\u017a \u6c34\u7d20 \u2028\u2029"]
    out = io.StringIO(newline="")
    writer = csv.writer(out, lineterminator="\r\n")
    writer.writerow(["id", "text", "again"])
    for i, cell in enumerate(cells, 1):
        writer.writerow([str(i), cell, cell])
    return out.getvalue()


def main():
    kind = sys.argv[1]
    if kind == "troublesome":
        sys.stdout.buffer.write(troublesome("--latin1" in sys.argv, "--xml" in sys.argv).encode())
        return
    with open(sys.argv[2], encoding="utf-8", newline="") as f:
        text = f.read()
    if kind == "csv":
        rows = list(csv.reader(io.StringIO(text, newline="")))
    elif kind == "tsv":
        rows = read_tsv(text)
    elif kind == "html":
        rows = read_html(text)
    elif kind == "markdown":
        rows = read_markdown(text)
    elif kind == "json":
        rows = read_json(text)
    elif kind == "xml":
        rows = [[cell.text or "" for cell in row] for row in ET.fromstring(text.encode())]
    else:
        sys.exit("unknown kind " + kind)
    for row in rows:
        print(json.dumps(row))


if __name__ == "__main__":
    main()
