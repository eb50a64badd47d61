// The column definition a host gives for a list, random: up to 500 names,
// empty names, blanks, names past the 254 characters a field name can hold,
// definitions past the 64,000 bytes the host may write.  Each of the four
// commands must map it to the result its columns give, and ListToString
// and StringToList must use exactly the columns it names, in its order.
#include "FuzzCommon.h"

#include "Text.h"

using namespace cvfuzz;
using corvane::host::ascii;

namespace {

// Names the definition and the list draw from.
std::vector<std::u32string> namePool(FuzzedDataProvider& data, Chars& chars) {
  std::vector<std::u32string> pool = {U"a",
                                      U"b",
                                      U" a",
                                      U"a ",
                                      U"",
                                      U"#LN",
                                      std::u32string(254, U'n'),
                                      std::u32string(255, U'n'),
                                      std::u32string(300, U'n')};
  const size_t extra = data.ConsumeIntegralInRange<size_t>(0, 6);
  for (size_t i = 0; i < extra; ++i) pool.push_back(chars.text(chars.length(4, 300), U"ab ", false));
  return pool;
}

struct Resolved {
  int code = 0;                       // 0 when the columns resolve
  std::vector<int16_t> refs;          // in definition order
  std::vector<std::u32string> names;  // as looked up
};

// The column references as the host will answer them for this definition.
Resolved resolve(const Host& host, std::u32string definition, bool unicode) {
  Resolved out;
  const size_t room = 64000 / (unicode ? 4 : 1);
  definition = definition.substr(0, room - 1);  // what the host writes
  definition = definition.substr(0, definition.find(U'\0'));
  if (definition.empty()) {
    out.code = 5;
    return out;
  }
  size_t start = 0;
  for (;;) {
    const size_t comma = definition.find(U',', start);
    const bool atEnd = comma == std::u32string::npos;
    std::u32string name = definition.substr(start, atEnd ? std::u32string::npos : comma - start);
    name = name.substr(0, name.size() >= 255 ? 254 : name.size());  // the length-prefixed form
    const int16_t ref = host.reference(name);
    if (ref == 0) {
      out.code = 5;
      return out;
    }
    out.refs.push_back(ref);
    out.names.push_back(name);
    if (atEnd) return out;
    if (out.refs.size() == 400) {
      out.code = 4;
      return out;
    }
    start = comma + 1;
  }
}

// Column index of a name in the list, as the host finds it (first column
// of that name), or -1.
long columnOf(const std::vector<std::u32string>& columns, const std::u32string& name) {
  for (size_t i = 0; i < columns.size(); ++i)
    if (columns[i] == name) return static_cast<long>(i);
  return -1;
}

}  // namespace

static int fuzzOne(FuzzedDataProvider& data, const Setting& setting, Chars& chars) {
  const std::vector<std::u32string> pool = namePool(data, chars);
  auto pick = [&]() -> const std::u32string& {
    return pool[data.ConsumeIntegralInRange<size_t>(0, pool.size() - 1)];
  };
  // The list's own columns: some of the pool.
  std::vector<std::u32string> columns;
  const size_t listColumns = data.ConsumeIntegralInRange<size_t>(1, 12);
  for (size_t i = 0; i < listColumns; ++i) columns.push_back(pick());

  // The definition: names of the pool (known or not), commas, repetitions.
  std::u32string definition;
  // Most definitions are short, so that the target runs many a second; one
  // in 64 may name hundreds of columns.
  const size_t names = data.ConsumeIntegralInRange<int>(0, 63) != 0 || data.ConsumeBool()
                           ? data.ConsumeIntegralInRange<size_t>(0, 8)
                           : data.ConsumeIntegralInRange<size_t>(0, 500);
  const size_t block = data.ConsumeIntegralInRange<size_t>(1, 4);
  std::vector<std::u32string> chosen;
  for (size_t i = 0; i < block; ++i) chosen.push_back(pick());
  for (size_t i = 0; i < names; ++i) {
    if (i > 0) definition += U',';
    definition += data.ConsumeIntegralInRange<int>(0, 15) == 0 ? pick() : chosen[i % block];
  }
  if (data.ConsumeIntegralInRange<int>(0, 7) == 0) definition += chars.text(3, U", a", true);

  const int32_t command = data.ConsumeIntegralInRange<int32_t>(1, 4);
  Rows rows;
  const size_t lines = data.ConsumeIntegralInRange<size_t>(0, 3);
  for (size_t r = 0; r < lines; ++r) {
    std::vector<std::u32string> row;
    for (size_t c = 0; c < columns.size(); ++c)
      row.push_back(chars.text(data.ConsumeIntegralInRange<size_t>(0, 3), U"xy", false));
    rows.push_back(std::move(row));
  }

  Run run(setting);
  Host& host = run.host();
  host.setList(P1, columns, rows);
  host.setList(P2, columns, rows);
  host.faults().listDefinition = definition;
  const Resolved want = resolve(host, definition, setting.unicode);
  int params = 2;
  std::u32string text;
  if (command == kStl) {
    for (size_t i = 0; i < 7; ++i) text += ascii("t" + std::to_string(i)) + U",";
    host.setText(P1, text);
    host.setText(P3, U",");
    params = 3;
  } else if (command == kLts) {
    host.setText(P3, U",");
    params = 3;
  } else {
    if (command == kFstl) host.setText(P1, U"[x,y]");
    const char32_t* formats[] = {U"[", U"]", U";", U"", U"", U","};
    for (int16_t i = 0; i < 6; ++i) host.setText(static_cast<int16_t>(P3 + i), formats[i]);
    params = 8;
  }
  const int result = run.execute(command, params);
  if (!run.exact()) return 0;
  CVFUZZ_CHECK_EQ(result, want.code, "the result the column definition gives");
  if (want.code != 0) return 0;

  if (command == kLts) {
    std::u32string expected;
    for (size_t r = 0; r < rows.size(); ++r)
      for (const auto& name : want.names) {
        const long c = columnOf(columns, name);
        if (name == U"#LN")
          expected += ascii(std::to_string(rows.size()));  // the line-count reference
        else if (c >= 0)
          expected += rows[r][static_cast<size_t>(c)].substr(0, 255);
        expected += U',';
      }
    CVFUZZ_CHECK(host.text(P2) == expected, "the cells of the named columns, in definition order");
  } else if (command == kStl) {
    const size_t k = want.refs.size();
    const size_t lineCount = 7 / k;
    Rows expected(lineCount, std::vector<std::u32string>(columns.size()));
    size_t cell = 0;
    for (size_t r = 0; r < lineCount; ++r)
      for (size_t i = 0; i < k; ++i, ++cell) {
        const long c = columnOf(columns, want.names[i]);
        if (c >= 0 && want.names[i] != U"#LN")
          expected[r][static_cast<size_t>(c)] = ascii("t" + std::to_string(cell));
      }
    CVFUZZ_CHECK(host.list(P2).rows == expected, "the cells go to the named columns");
  }
  return 0;
}

CVFUZZ_PLUGIN_TARGET(fuzzOne, false)
