// scaling.cpp - how each command's time grows with the list, on a freshly
// loaded instance (whose working buffers start at their first size) and on
// a warm one (whose buffers have already grown), in both builds.
//
// Google Benchmark does not build for the 32-bit Windows target, so this is a
// plain program that builds for Linux and Windows from the same source:
// Windows reallocates a movable block by copying it, so a buffer that grows
// in small steps shows there as time that grows faster than the list.
//
//   corvane_scaling [--cells N] [--repeat R] [--plugin-dir DIR] [--only COMMAND|BUILD] [--check]
//
// Each command runs at N and 10 N cells (ten columns of ten characters), on
// one host, on an instance loaded just before (fresh) or one that has run
// the command before (warm).
// Printed: the median of R runs, and the ratios 10N/N (linear growth gives
// about 10) and fresh/warm at N.  --check also makes the program fail when
// a command does not return 0 or a fresh and a warm instance give different
// texts or lists; it asserts nothing about time.
#include "Host.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

using corvane::host::CharWidth;
using corvane::host::Host;
using corvane::host::Plugin;

enum : std::int16_t { P1 = 211, P2 = 212, P3 = 213, P4 = 214, P5 = 215, P6 = 216, P7 = 217, P8 = 218 };
enum : std::int32_t { kFstl = 1, kLtfs = 2, kStl = 3, kLts = 4 };
constexpr std::size_t kColumns = 10;
// Rows of an HTML table; the parse needs a column delimiter.
const char32_t* const kFormat[] = {U"<tr>", U"</tr>", U"\n", U"<td>", U"</td>", U" "};

struct Options {
  std::size_t cells = 1'000'000;
  int repeat = 3;
  std::string pluginDir = CORVANE_PLUGIN_DIR;
  bool check = false;
  std::string only;  // a command or build name: run only what it names
};

std::vector<std::u32string> columnNames() {
  std::vector<std::u32string> names;
  for (std::size_t c = 0; c < kColumns; ++c)
    names.push_back(U"c" + std::u32string(1, U'0' + static_cast<char32_t>(c)));
  return names;
}

// The list, built straight into the host's cell storage: a 32-bit process
// has no room for ten million separate strings besides.
corvane::host::CellList makeList(std::size_t cells) {
  corvane::host::CellList list(columnNames());
  list.reserve(cells / kColumns, cells * 10);
  std::vector<std::u32string> row(kColumns, std::u32string(10, U'a'));
  std::uint64_t n = 0;
  for (std::size_t r = 0; r < cells / kColumns; ++r) {
    for (auto& cell : row) {
      std::uint64_t v = n++ * 2654435761u;
      for (auto& ch : cell) {
        ch = U'a' + static_cast<char32_t>(v % 26);
        v /= 26;
      }
    }
    list.appendRow(row);
  }
  return list;
}

// What one command needs: its fields, and where its result lands.
struct Job {
  std::int32_t command;
  const char* name;
  bool parses;  // reads a text into a list
};

const Job kJobs[] = {{kLts, "ListToString", false},
                     {kStl, "StringToList", true},
                     {kLtfs, "ListToFormattedString", false},
                     {kFstl, "FormattedStringToList", true}};

// Sets the fields of a command over `cells` cells; the list is made anew
// each time and moved into the host, so that only one copy of it is alive
// (a 32-bit process has room for little more).
void prepare(Host& h, const Job& job, std::size_t cells, const std::u32string& text) {
  const bool formatted = job.command == kLtfs || job.command == kFstl;
  if (job.parses) {
    h.setText(P1, text);
    h.setList(P2, columnNames());
  } else {
    h.setList(P1, makeList(cells));
    h.setText(P2, U"");
  }
  if (formatted) {
    for (std::int16_t i = 0; i < 6; ++i) h.setText(static_cast<std::int16_t>(P3 + i), kFormat[i]);
  } else {
    h.setText(P3, U",");
  }
  h.setCommand(job.command);
  h.setParamCount(formatted ? 8 : 3);
}

double secondsOf(Host& h) {
  const auto start = std::chrono::steady_clock::now();
  h.execute();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

struct Outcome {
  double seconds = 0;
  bool ok = true;
  std::uint64_t digest = 0;  // of the text or list the command left
};

void mix(std::uint64_t& h, std::u32string_view s) {
  for (char32_t c : s) h = (h ^ c) * 1099511628211u;
  h = (h ^ 0xFFFFFFFFu) * 1099511628211u;
}

std::uint64_t digestOf(const Host& h, const Job& job) {
  std::uint64_t d = 14695981039346656037u;
  if (!job.parses) {
    mix(d, h.textView(P2));
  } else {
    const corvane::host::CellList& list = h.cells(P2);
    for (std::size_t r = 0; r < list.rowCount(); ++r)
      for (std::size_t c = 0; c < list.columnCount(); ++c) mix(d, list.cell(r, c));
  }
  return d;
}

// Runs on a freshly loaded instance each time, so that the working buffers
// start at their first size.  The host is the same throughout and has run
// the command once before, so that its own fields have their size: what
// differs from a warm run is the plug-in's part alone.
Outcome runFresh(const Plugin& plugin, const Job& job, std::size_t cells, const std::u32string& text,
                 const Options& o) {
  std::vector<double> times;
  Outcome out;
  Host h(plugin);
  h.load();
  prepare(h, job, cells, text);
  h.execute();
  for (int r = 0; r < o.repeat; ++r) {
    h.unload();
    h.load();
    prepare(h, job, cells, text);
    times.push_back(secondsOf(h));
    out.ok = out.ok && h.result() == 0;
    if (h.result() != 0) std::fprintf(stderr, "%s: result %d\n", job.name, h.result());
    if (r == 0) out.digest = digestOf(h, job);
  }
  out.seconds = median(times);
  return out;
}

// Runs on one instance that has run the command once before.
Outcome runWarm(Host& h, const Job& job, std::size_t cells, const std::u32string& text, const Options& o) {
  std::vector<double> times;
  Outcome out;
  prepare(h, job, cells, text);
  h.execute();
  for (int r = 0; r < o.repeat; ++r) {
    prepare(h, job, cells, text);
    times.push_back(secondsOf(h));
    out.ok = out.ok && h.result() == 0;
    if (h.result() != 0) std::fprintf(stderr, "%s: result %d\n", job.name, h.result());
  }
  out.digest = digestOf(h, job);
  out.seconds = median(times);
  return out;
}

// The text that the parsing commands read: what the rendering ones wrote.
std::u32string inputText(Host& h, const Job& job, std::size_t cells) {
  if (!job.parses) return U"";
  const Job render = job.command == kStl ? kJobs[0] : kJobs[2];
  prepare(h, render, cells, U"");
  h.execute();
  std::u32string text = h.text(P2);
  h.setText(P2, U"");
  h.setList(P1, {U"x"});
  return text;
}

int run(const Options& o) {
  bool allOk = true;
  std::printf("%-22s %-9s %10s %10s %6s   %10s %10s %6s   %10s\n", "command", "build", "fresh N", "fresh 10N",
              "x", "warm N", "warm 10N", "x", "fresh/warm");
  for (const char* file : {"Corvane", "CorvaneU"}) {
    std::string error;
    const std::string path = o.pluginDir + "/" + file + CORVANE_PLUGIN_SUFFIX;
    std::unique_ptr<Plugin> plugin = Plugin::open(path, &error);
    if (!plugin) {
      std::fprintf(stderr, "cannot open %s: %s\n", path.c_str(), error.c_str());
      return 2;
    }
    for (const Job& job : kJobs) {
      if (!o.only.empty() && o.only != job.name && o.only != file) continue;
      const std::size_t small = o.cells, large = o.cells * 10;
      Host warm(*plugin);
      warm.load();
      std::u32string text = inputText(warm, job, small);
      const Outcome fs = runFresh(*plugin, job, small, text, o);
      const Outcome ws = runWarm(warm, job, small, text, o);
      text = inputText(warm, job, large);
      const Outcome fl = runFresh(*plugin, job, large, text, o);
      const Outcome wl = runWarm(warm, job, large, text, o);
      const bool ok = fs.ok && fl.ok && wl.ok && ws.ok && fs.digest == ws.digest && fl.digest == wl.digest;
      allOk = allOk && ok;
      std::printf("%-22s %-9s %9.1fms %9.1fms %6.2f   %9.1fms %9.1fms %6.2f   %10.2f%s\n", job.name, file,
                  fs.seconds * 1e3, fl.seconds * 1e3, fl.seconds / fs.seconds, ws.seconds * 1e3,
                  wl.seconds * 1e3, wl.seconds / ws.seconds, fs.seconds / ws.seconds,
                  ok ? "" : "  FAILED: a result other than 0, or fresh and warm differ");
      std::fflush(stdout);
    }
  }
  return o.check && !allOk ? 1 : 0;
}

}  // namespace

int main(int argc, char** argv) {
  Options o;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const bool hasValue = i + 1 < argc;
    if (arg == "--cells" && hasValue)
      o.cells = static_cast<std::size_t>(std::strtoull(argv[++i], nullptr, 10));
    else if (arg == "--repeat" && hasValue)
      o.repeat = std::atoi(argv[++i]);
    else if (arg == "--plugin-dir" && hasValue)
      o.pluginDir = argv[++i];
    else if (arg == "--only" && hasValue)
      o.only = argv[++i];
    else if (arg == "--check")
      o.check = true;
    else {
      std::fprintf(stderr,
                   "usage: corvane_scaling [--cells N] [--repeat R] [--plugin-dir DIR] [--only "
                   "COMMAND|BUILD] [--check]\n");
      return 2;
    }
  }
  if (o.cells < kColumns || o.repeat < 1) {
    std::fprintf(stderr, "corvane_scaling: --cells must be at least %zu and --repeat at least 1\n", kColumns);
    return 2;
  }
  std::printf("cells N = %zu (%zu columns of 10 characters), median of %d runs\n", o.cells, kColumns,
              o.repeat);
  return run(o);
}
