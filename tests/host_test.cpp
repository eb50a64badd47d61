// host_test.cpp - the host's own behaviour where the plug-in tests cannot
// reach it: reading resources from damaged files, never writing past a
// maximum, kind 8 deliveries with and without host faults, and the list and
// name operations driven straight through the callback.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "Host.h"
#include "Plugins.h"
#include "../resources/CorvaneTexts.h"

namespace {

using namespace corvane::host;

// --- a synthetic ELF file ------------------------------------------------------

struct Elf {
  std::vector<unsigned char> bytes;
  bool is64 = true;
  std::size_t shoff = 0;
  std::size_t shentsize = 0;
  std::size_t resourceIndex = 2;  // null, .shstrtab, corvane_rsrc

  void put(std::size_t at, std::uint64_t value, unsigned width) {
    for (unsigned i = 0; i < width; ++i) bytes[at + i] = static_cast<unsigned char>(value >> (8 * i));
  }
  unsigned word() const { return is64 ? 8 : 4; }
  std::size_t header(std::size_t index) const { return shoff + index * shentsize; }
  // Field offsets inside the file header and a section header.
  std::size_t shoffAt() const { return is64 ? 0x28 : 0x20; }
  std::size_t shentsizeAt() const { return is64 ? 0x3A : 0x2E; }
  std::size_t shnumAt() const { return is64 ? 0x3C : 0x30; }
  std::size_t shstrndxAt() const { return is64 ? 0x3E : 0x32; }
  std::size_t typeAt(std::size_t i) const { return header(i) + 4; }
  std::size_t offsetAt(std::size_t i) const { return header(i) + (is64 ? 24 : 16); }
  std::size_t sizeAt(std::size_t i) const { return header(i) + (is64 ? 32 : 20); }
  std::size_t resourceOffset() const {
    std::size_t v = 0;
    for (unsigned i = 0; i < word(); ++i)
      v |= static_cast<std::size_t>(bytes[offsetAt(resourceIndex) + i]) << (8 * i);
    return v;
  }
};

void copyText(char* field, std::size_t capacity, const char* text) { std::strncpy(field, text, capacity); }

CorvaneResourceImage shippedImage() {
  CorvaneResourceImage image;
  std::memset(&image, 0, sizeof image);
  std::memcpy(image.magic, CORVANE_RESOURCE_MAGIC, sizeof image.magic);
  std::memcpy(image.q7inf, "7CMD\x15\x05", 6);
  const std::uint16_t version[4] = {CORVANE_VERSION_NUMBERS};
  std::memcpy(image.fileVersion, version, sizeof version);
  std::memcpy(image.productVersion, version, sizeof version);
  const char* strings[] = {CORVANE_STR_1301, CORVANE_STR_1302, CORVANE_STR_1303, CORVANE_STR_1304,
                           CORVANE_STR_1305};
  for (int i = 0; i < kCvDeclarationCount; ++i) copyText(image.strings[i], 256, strings[i]);
  copyText(image.fileDescription, sizeof image.fileDescription, CORVANE_FILE_DESCRIPTION);
  copyText(image.fileVersionText, sizeof image.fileVersionText, CORVANE_VERSION_TEXT);
  copyText(image.internalName, sizeof image.internalName, CORVANE_INTERNAL_NAME);
  copyText(image.originalName, sizeof image.originalName, CORVANE_ORIGINAL_NAME);
  copyText(image.productName, sizeof image.productName, CORVANE_PRODUCT_NAME);
  copyText(image.productVersionText, sizeof image.productVersionText, CORVANE_VERSION_TEXT);
  return image;
}

// Header, section contents, then the section headers.
Elf makeElf(bool is64, const std::string& sectionName = CORVANE_RESOURCE_SECTION) {
  Elf elf;
  elf.is64 = is64;
  const std::size_t headerSize = is64 ? 64 : 52;
  elf.shentsize = is64 ? 64 : 40;
  const std::string names = std::string("\0.shstrtab\0", 11) + sectionName + '\0';
  const CorvaneResourceImage image = shippedImage();
  const std::size_t namesAt = headerSize;
  const std::size_t imageAt = namesAt + names.size();
  elf.shoff = imageAt + sizeof image;
  elf.bytes.assign(elf.shoff + 3 * elf.shentsize, 0);
  std::memcpy(elf.bytes.data(),
              "\x7f"
              "ELF",
              4);
  elf.bytes[4] = is64 ? 2 : 1;
  elf.bytes[5] = 1;
  elf.bytes[6] = 1;
  elf.put(16, 3, 2);  // a shared object
  elf.put(elf.shoffAt(), elf.shoff, elf.word());
  elf.put(elf.shentsizeAt(), elf.shentsize, 2);
  elf.put(elf.shnumAt(), 3, 2);
  elf.put(elf.shstrndxAt(), 1, 2);
  std::memcpy(elf.bytes.data() + namesAt, names.data(), names.size());
  std::memcpy(elf.bytes.data() + imageAt, &image, sizeof image);
  // Section 1: the name table; section 2: the resources (type PROGBITS).
  elf.put(elf.header(1), 1, 4);
  elf.put(elf.typeAt(1), 3, 4);
  elf.put(elf.offsetAt(1), namesAt, elf.word());
  elf.put(elf.sizeAt(1), names.size(), elf.word());
  elf.put(elf.header(2), 11, 4);
  elf.put(elf.typeAt(2), 1, 4);
  elf.put(elf.offsetAt(2), imageAt, elf.word());
  elf.put(elf.sizeAt(2), sizeof image, elf.word());
  return elf;
}

struct ElfCase {
  const char* name;
  std::function<void(Elf&)> damage;
  const char* error;  // nullptr: the file reads
};

class ElfResources : public ::testing::TestWithParam<bool> {};

TEST_P(ElfResources, ShippedImageReadsBack) {
  const Elf elf = makeElf(GetParam());
  std::string error;
  const auto res = readElfResources(elf.bytes.data(), elf.bytes.size(), &error);
  ASSERT_TRUE(res) << error;
  EXPECT_EQ(res->tag, "7CMD");
  EXPECT_EQ(res->firstDeclaration, 1301);
  EXPECT_EQ(res->group, "*Corvane");
  ASSERT_EQ(res->commands.size(), 4u);
  EXPECT_EQ(res->commands[3].name, "ListToString");
  EXPECT_EQ(res->commands[3].id, 4);
  EXPECT_EQ(res->commands[3].stringNumber, 1304);
  EXPECT_EQ(res->fileVersion, (std::array<std::uint16_t, 4>{3, 3, 0, 0}));
  EXPECT_EQ(res->originalName, "Corvane.DLL");
  EXPECT_EQ(*widthForTag(res->tag), CharWidth::Byte);
}

TEST_P(ElfResources, DamagedFilesAreRefusedWithAReason) {
  const std::vector<ElfCase> cases = {
      {"not ELF", [](Elf& e) { e.bytes[1] = 'X'; }, "not an ELF file"},
      {"big-endian", [](Elf& e) { e.bytes[5] = 2; }, "little-endian"},
      {"unknown class", [](Elf& e) { e.bytes[4] = 3; }, "unknown ELF class"},
      {"truncated header", [](Elf& e) { e.bytes.resize(e.is64 ? 0x30 : 0x24); }, "truncated ELF header"},
      {"no section headers", [](Elf& e) { e.put(e.shoffAt(), 0, e.word()); }, "no section headers"},
      {"headers past the end", [](Elf& e) { e.put(e.shoffAt(), e.bytes.size() - 8, e.word()); },
       "outside the file"},
      {"header offset overflows",
       [](Elf& e) { e.put(e.shoffAt(), e.is64 ? ~0ull - 16 : 0xFFFFFFF0u, e.word()); }, "outside the file"},
      {"more sections than the file holds", [](Elf& e) { e.put(e.shnumAt(), 0xFFF0, 2); },
       "outside the file"},
      {"header size too small", [](Elf& e) { e.put(e.shentsizeAt(), 12, 2); }, "section header size"},
      {"name table index out of range", [](Elf& e) { e.put(e.shstrndxAt(), 7, 2); }, "name table"},
      {"name table past the end", [](Elf& e) { e.put(e.sizeAt(1), 1u << 30, e.word()); }, "name table"},
      {"no resource section", [](Elf& e) { e.bytes[e.header(2)] = 1; }, "no corvane_rsrc section"},
      {"section without contents", [](Elf& e) { e.put(e.typeAt(2), 8, 4); }, "no contents"},
      {"section past the end", [](Elf& e) { e.put(e.sizeAt(2), e.bytes.size(), e.word()); }, "no contents"},
      {"section too small", [](Elf& e) { e.put(e.sizeAt(2), 100, e.word()); }, "too small"},
      {"wrong magic", [](Elf& e) { e.bytes[e.resourceOffset()] = 'X'; }, "does not start with"},
      {"unknown tag", [](Elf& e) { e.bytes[e.resourceOffset() + 8] = 'X'; }, "unknown tag"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Elf elf = makeElf(GetParam());
    c.damage(elf);
    // An exact-size heap copy, so that a read past the end is caught.
    const std::vector<unsigned char> file(elf.bytes);
    std::string error;
    const auto res = readElfResources(file.data(), file.size(), &error);
    EXPECT_FALSE(res);
    EXPECT_NE(error.find(c.error), std::string::npos) << error;
  }
}

TEST_P(ElfResources, EveryTruncationFailsCleanly) {
  const Elf elf = makeElf(GetParam());
  for (std::size_t length = 0; length < elf.bytes.size(); ++length) {
    const std::vector<unsigned char> cut(elf.bytes.begin(),
                                         elf.bytes.begin() + static_cast<std::ptrdiff_t>(length));
    std::string error;
    EXPECT_FALSE(readElfResources(cut.data(), cut.size(), &error)) << "length " << length;
    EXPECT_FALSE(error.empty());
  }
}

INSTANTIATE_TEST_SUITE_P(Classes, ElfResources, ::testing::Values(false, true),
                         [](const auto& p) { return p.param ? "Elf64" : "Elf32"; });

TEST(Declarations, ParseIntoNameParametersAndNumber) {
  const auto lts = parseDeclaration(CORVANE_STR_1304);
  ASSERT_TRUE(lts);
  EXPECT_EQ(lts->group, "Corvane");
  EXPECT_EQ(lts->name, "ListToString");
  EXPECT_EQ(lts->parameters, (std::vector<std::string>{"listField", "stringField", "delimByte"}));
  EXPECT_EQ(lts->optional, (std::vector<bool>{false, false, true}));
  EXPECT_EQ(lts->number, "1301001");
  const auto fstl = parseDeclaration(CORVANE_STR_1301);
  ASSERT_TRUE(fstl);
  EXPECT_EQ(fstl->parameters.size(), 8u);
  EXPECT_EQ(fstl->optional, std::vector<bool>(8, false));

  for (const char* bad :
       {"*Corvane", "Corvane.X(a):130100", "Corvane.X(a)1301001", "Corvane.X(a [,b):1301001", ".X(a):1301001",
        "Corvane.X(a]):1301001", "Corvane.X(a):13010x1", "Corvane.X(a"}) {
    EXPECT_FALSE(parseDeclaration(bad)) << bad;
  }
}

// --- opening files -------------------------------------------------------------

class TempFile {
 public:
  TempFile(const std::string& name, const std::vector<unsigned char>& bytes)
      : path_(std::filesystem::temp_directory_path() / (name + std::to_string(std::random_device{}()))) {
    std::ofstream(path_, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  }
  ~TempFile() {
    std::error_code ec;
    std::filesystem::remove(path_, ec);
  }
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

TEST(PluginOpen, ExplainsWhyAFileIsNoPlugin) {
  std::string error;
  EXPECT_FALSE(Plugin::open("/nonexistent/Corvane.so", &error));
  EXPECT_NE(error.find("no such file"), std::string::npos) << error;

#ifdef _WIN32
  const char* notALibrary = "not a Windows dynamic library";
  const char* unloadableReason = notALibrary;
#else
  const char* notALibrary = "not an ELF file";
  const char* unloadableReason = "cannot load";
#endif
  const TempFile text("corvane-host-text", {'h', 'e', 'l', 'l', 'o'});
  EXPECT_FALSE(Plugin::open(text.path(), &error));
  EXPECT_NE(error.find(notALibrary), std::string::npos) << error;

  // Resources that read, in a file the loader cannot map.
  const TempFile unloadable("corvane-host-elf", makeElf(true).bytes);
  EXPECT_FALSE(Plugin::open(unloadable.path(), &error));
  EXPECT_NE(error.find(unloadableReason), std::string::npos) << error;
}

TEST(PluginOpen, BuiltPluginsAnnounceTheirWidthAndControls) {
  struct Expect {
    const char* file;
    CharWidth width;
    bool faults;
  };
  for (const Expect& e :
       {Expect{"Corvane", CharWidth::Byte, false}, Expect{"CorvaneU", CharWidth::Unicode, false},
        Expect{"CorvaneFaults", CharWidth::Byte, true}, Expect{"CorvaneUFaults", CharWidth::Unicode, true}}) {
    SCOPED_TRACE(e.file);
    std::string error;
    const auto plugin = Plugin::open(cvtest::pluginPath(e.file), &error);
    ASSERT_TRUE(plugin) << error;
    EXPECT_EQ(plugin->width(), e.width);
    EXPECT_NE(plugin->entry(), nullptr);
    EXPECT_EQ(plugin->resources().commands.size(), 4u);
    for (const char* control :
         {kArmFaultsSymbol, kArmFaultNamedSymbol, kFaultPointsSymbol, kFaultPointSiteSymbol})
      EXPECT_EQ(plugin->symbol(control) != nullptr, e.faults) << control;
  }
}

// --- the callback, driven as a plug-in would -------------------------------------

constexpr unsigned char kSentinel = 0xAB;

class Callback : public ::testing::TestWithParam<CharWidth> {
 protected:
  Host host{GetParam(), nullptr};
  Host::Scope scope{host};
  HostCallback cb = Host::callback();

  std::size_t unit() const { return unitBytes(GetParam()); }
  // A destination of `units` host characters filled with the sentinel.
  std::vector<unsigned char> buffer(std::size_t units) const {
    return std::vector<unsigned char>(units * unit(), kSentinel);
  }
  // The first unit index from which everything is still the sentinel.
  std::size_t touched(const std::vector<unsigned char>& b) const {
    std::size_t last = b.size();
    while (last > 0 && b[last - 1] == kSentinel) --last;
    return (last + unit() - 1) / unit();
  }
  std::vector<unsigned char> lengthPrefixed(const std::u32string& name) const {
    std::vector<unsigned char> b((name.size() + 1) * unit(), 0);
    writeUnit(b.data(), GetParam(), 0, static_cast<char32_t>(name.size()));
    writeUnits(b.data() + unit(), GetParam(), name.data(), name.size());
    return b;
  }
  std::u32string text(std::size_t n, char32_t first = U'a') const {
    std::u32string t;
    for (std::size_t i = 0; i < n; ++i) t.push_back(static_cast<char32_t>(first + i % 26));
    return t;
  }
};

TEST_P(Callback, StringReadsStopAtTheMaximum) {
  const std::u32string value = text(300);
  host.setText(212, value);
  for (std::int32_t maximum : {-5, 0, 1, 15, 255, 299, 300, 301, 32000}) {
    SCOPED_TRACE(maximum);
    auto b = buffer(400);
    cb(kCvOpGetFldVal, 212, kCvKindString, maximum, b.data());
    const std::size_t n = std::min<std::size_t>(value.size(), static_cast<std::size_t>(std::max(maximum, 0)));
    EXPECT_EQ(readTerminated(b.data(), GetParam()), value.substr(0, n));
    EXPECT_EQ(touched(b), n + 1);
  }
  // Cells are cut the same way.
  host.setList(211, {U"c"}, {{text(40000)}});
  auto b = buffer(32100);
  const std::int32_t pair[2] = {1, 32000};
  cb(kCvOpGetLstVal, 211, host.reference(U"c"), kCvKindString, b.data(), pair);
  EXPECT_EQ(touched(b), 32001u);
  EXPECT_EQ(readUnit(b.data(), GetParam(), 32000), 0u);
  // Short cells may go in whole blocks, zeros after the terminator, but
  // never past the maximum; the last cell of the arena too.
  std::u32string chars;
  for (char32_t i = 0; i < 40; ++i) chars.push_back(i % 5 == 2 ? 0x3A9 : U'a' + i);
  std::vector<std::vector<std::u32string>> rows;
  for (std::size_t n = 0; n <= chars.size(); ++n) rows.push_back({chars.substr(0, n)});
  host.setList(211, {U"c"}, rows);
  for (std::size_t n = 0; n <= chars.size(); ++n) {
    for (std::int32_t maximum : {0, 1, 15, 16, 17, 255}) {
      SCOPED_TRACE(testing::Message() << n << " characters, maximum " << maximum);
      auto cell = buffer(300);
      const std::int32_t at[2] = {static_cast<std::int32_t>(n) + 1, maximum};
      cb(kCvOpGetLstVal, 211, host.reference(U"c"), kCvKindString, cell.data(), at);
      std::u32string expected = chars.substr(0, std::min<std::size_t>(n, static_cast<std::size_t>(maximum)));
      for (char32_t& c : expected) c = narrowUnit(c, GetParam());
      ASSERT_EQ(readTerminated(cell.data(), GetParam()), expected);
      ASSERT_LE(touched(cell), static_cast<std::size_t>(maximum) + 1);
    }
  }
}

TEST_P(Callback, ShortStringsHoldAtMostFifteenCharacters) {
  struct Case {
    std::u32string value;
    std::int32_t maximum;
    std::size_t count;
  };
  for (const Case& c : {Case{text(26), 15, 15}, Case{text(26), 3, 3}, Case{U"|", 15, 1}, Case{U"", 15, 0},
                        Case{text(26), 100, 15}}) {
    host.setText(213, c.value);
    auto b = buffer(40);
    cb(kCvOpGetFldVal, 213, kCvKindShortString, c.maximum, b.data());
    EXPECT_EQ(readUnit(b.data(), GetParam(), 0), c.count);
    EXPECT_EQ(readUnits(b.data() + unit(), GetParam(), c.count), c.value.substr(0, c.count));
    EXPECT_EQ(touched(b), c.count + 1);
  }
}

TEST_P(Callback, ListDefinitionNeverPassesSixtyFourThousandBytes) {
  const std::size_t room = 64000 / unit();  // characters, terminator included
  struct Case {
    std::size_t length;
    std::int16_t maximum;
    std::size_t written;  // characters before the terminator, or npos for nothing
  };
  const std::size_t none = std::string::npos;
  const std::vector<Case> cases = {
      {10, -1536, 10},
      {room - 1, -1536, room - 1},
      {room, -1536, room - 1},  // exactly 64,000 bytes: cut by one for the terminator
      {room + 500, -1536, room - 1},
      {10, 8, 8 / unit() - 1},
      {10, 3, GetParam() == CharWidth::Unicode ? none : 2},
      {10, 0, none},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.length) + " chars, maximum " + std::to_string(c.maximum));
    host.faults().listDefinition = text(c.length);
    auto b = buffer(room + 1000);
    cb(kCvOpGetListDef, 211, c.maximum, b.data());
    if (c.written == none) {
      EXPECT_EQ(touched(b), 0u);
      continue;
    }
    EXPECT_EQ(readTerminated(b.data(), GetParam()), text(c.written));
    EXPECT_EQ(touched(b), c.written + 1);
  }
  std::size_t forced = 0;
  for (const Case& c : cases) forced += c.written != none ? 1 : 0;
  EXPECT_EQ(host.faultCounts().forcedDefinitions, forced);  // counted only where something was written

  // Without a forced definition: the column names joined by commas.
  host.faults().listDefinition.reset();
  host.setList(211, {U"a", U" b", U""});
  auto b = buffer(100);
  cb(kCvOpGetListDef, 211, -1536, b.data());
  EXPECT_EQ(readTerminated(b.data(), GetParam()), U"a, b,");
}

TEST_P(Callback, NamesResolveToColumnsOfLiveLists) {
  host.setList(211, {U"first", U"second"});
  host.setList(212, {U"second", U"third"});
  auto ref = [&](const std::u32string& name) {
    auto b = lengthPrefixed(name);
    return cb(kCvOpGetFldRef, b.data());
  };
  EXPECT_EQ(ref(U"#LN"), Host::kLineCountRef);
  const std::int32_t first = ref(U"first"), second = ref(U"second"), third = ref(U"third");
  EXPECT_NE(first, 0);
  EXPECT_NE(first, second);
  EXPECT_NE(second, third);
  EXPECT_NE(first, Host::kLineCountRef);
  EXPECT_EQ(ref(U"fourth"), 0);
  EXPECT_EQ(ref(U"First"), 0);
  host.setNameUnknown(U"second");
  EXPECT_EQ(ref(U"second"), 0);
  host.setNameUnknown(U"second", false);
  EXPECT_EQ(ref(U"second"), second);
  host.setList(211, {U"other"});  // "first" is no column of any list now
  EXPECT_EQ(ref(U"first"), 0);

  // A count unit larger than the name form is not followed past 255
  // characters.
  std::vector<unsigned char> garbage(256 * unit(), 'x');
  writeUnit(garbage.data(), GetParam(), 0, GetParam() == CharWidth::Unicode ? 0xFFFFFFFFu : 0xFFu);
  EXPECT_EQ(cb(kCvOpGetFldRef, garbage.data()), 0);
}

TEST_P(Callback, ListOperationsAndTheirFaults) {
  host.setList(212, {U"a", U"b"}, {{U"1", U"2"}});
  const std::int16_t a = host.reference(U"a");
  auto lines = [&]() {
    double count = -1;
    const std::int32_t pair[2] = {0, 10};
    cb(kCvOpGetLstVal, 212, Host::kLineCountRef, kCvKindDouble, &count, pair);
    return count;
  };
  EXPECT_EQ(cb(kCvOpDoListOp, kCvListSetLines, 212, 3), 1);
  EXPECT_EQ(lines(), 3.0);
  EXPECT_EQ(host.list(212).rows[0][0], U"1");
  EXPECT_EQ(host.list(212).rows[2], (std::vector<std::u32string>{U"", U""}));

  // Writes outside the list or to unknown columns change nothing.
  const std::u32string cell = U"new";
  std::vector<unsigned char> value((cell.size() + 1) * unit(), 0);
  writeUnits(value.data(), GetParam(), cell.data(), cell.size());
  EXPECT_EQ(cb(kCvOpSetLstVal, 212, 3, a, kCvKindString, value.data()), 1);
  EXPECT_EQ(cb(kCvOpSetLstVal, 212, 4, a, kCvKindString, value.data()), 0);
  EXPECT_EQ(cb(kCvOpSetLstVal, 212, 0, a, kCvKindString, value.data()), 0);
  EXPECT_EQ(cb(kCvOpSetLstVal, 212, 1, 999, kCvKindString, value.data()), 0);
  EXPECT_EQ(host.list(212).rows[2][0], U"new");
  EXPECT_EQ(host.stats().cellsWritten, 1u);

  host.faults().listOpHighBitsOnly = true;
  const std::int32_t answer = cb(kCvOpDoListOp, kCvListSetLines, 212, 5);
  EXPECT_EQ(answer & 0xFF, 0);
  EXPECT_NE(answer, 0);
  EXPECT_EQ(lines(), 5.0);  // carried out all the same
  host.faults().listOpHighBitsOnly = false;

  host.faults().lineCountDelta = -1;
  EXPECT_EQ(cb(kCvOpDoListOp, kCvListSetLines, 212, 4), 1);
  EXPECT_EQ(lines(), 3.0);
  host.faults().lineCountDelta = 0;
  EXPECT_EQ(host.faultCounts().listOpHighBits, 1u);
  EXPECT_EQ(host.faultCounts().lineCountDeltas, 1u);

  host.limits().maxLines = 10;
  EXPECT_EQ(cb(kCvOpDoListOp, kCvListSetLines, 212, 11), 0);
  EXPECT_EQ(lines(), 3.0);
  EXPECT_EQ(cb(kCvOpDoListOp, kCvListClear, 212, 0), 1);
  EXPECT_EQ(lines(), 0.0);
  EXPECT_EQ(cb(kCvOpDoListOp, kCvListClear, 213, 0), 0);  // no list there
}

TEST_P(Callback, LengthFaultsReportOtherCounts) {
  host.setText(211, text(20));
  struct Case {
    std::function<void(HostFaults&)> set;
    std::int32_t reported;
  };
  for (const Case& c : {Case{[](HostFaults&) {}, 20}, Case{[](HostFaults& f) { f.lengthShortBy = 3; }, 17},
                        Case{[](HostFaults& f) { f.forcedLength = 0x7FFFFFFF; }, 0x7FFFFFFF},
                        Case{[](HostFaults& f) { f.forcedLength = -1; }, -1}}) {
    host.faults() = HostFaults{};
    c.set(host.faults());
    std::int32_t length = 0;
    cb(kCvOpGetFldVal, 211, kCvKindLength, 4, &length);
    EXPECT_EQ(length, c.reported);
  }
  EXPECT_EQ(host.faultCounts().fakedLengths, 3u);
}

TEST_P(Callback, HandleReadsMakeRoomForTheCount) {
  const std::u32string value = text(1000);
  const std::size_t chars = value.size() * unit();
  const std::size_t needed = 4 + chars;
  struct Case {
    const char* name;
    std::function<void(HostFaults&)> set;
    std::size_t initial;
    bool dropped;
    std::size_t size;  // expected size afterwards
  };
  const std::size_t grown = chars + chars / 2;  // a block grows by half at the least
  const std::vector<Case> cases = {
      {"room for the characters only", [](HostFaults&) {}, chars, false, grown},
      {"nearly no room", [](HostFaults&) {}, 2, false, needed},
      {"larger block kept", [](HostFaults&) {}, needed + 100, false, needed + 100},
      {"exact size, grown", [](HostFaults& f) { f.exactHandleSize = true; }, chars, false, needed},
      {"exact size, shrunk", [](HostFaults& f) { f.exactHandleSize = true; }, needed + 100, false, needed},
      {"replaced", [](HostFaults& f) { f.replaceHandle = true; }, chars, false, needed},
      {"dropped", [](HostFaults& f) { f.dropHandle = true; }, chars, true, 0},
  };
  host.setText(211, value);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    host.faults() = HostFaults{};
    c.set(host.faults());
    OwnedHandle handle(c.initial);
    ASSERT_NE(handle.get(), nullptr);
    cb(kCvOpGetFldVal, 211, kCvKindHandle, 0, handle.address());
    if (c.dropped) {
      EXPECT_EQ(handle.get(), nullptr);
      continue;
    }
    ASSERT_NE(handle.get(), nullptr);
#ifndef _WIN32  // GlobalSize may round up
    EXPECT_EQ(handle.size(), c.size);
#endif
    EXPECT_GE(handle.size(), c.size);
    LockedHandle data(handle.get());
    std::int32_t count = 0;
    std::memcpy(&count, data.data(), 4);
    EXPECT_EQ(count, 1000);
    EXPECT_EQ(readUnits(data.data() + 4, GetParam(), value.size()), value);
    for (std::size_t i = needed; i < c.size; ++i) ASSERT_EQ(data.data()[i], 0) << "byte " << i;
  }
  EXPECT_EQ(host.faultCounts().exactHandles, 2u);
  EXPECT_EQ(host.faultCounts().replacedHandles, 1u);
  EXPECT_EQ(host.faultCounts().droppedHandles, 1u);

  // A block that the texts outgrow one character at a time is renewed a few
  // times, not at every read.
  host.faults() = HostFaults{};
  host.resetStats();
  OwnedHandle growing(chars);
  for (std::size_t n = 1000; n < 2000; ++n) {
    host.setText(212, text(n));
    ASSERT_EQ(cb(kCvOpGetFldVal, 212, kCvKindHandle, 0, growing.address()), 1);
    LockedHandle data(growing.get());
    std::int32_t count = 0;
    std::memcpy(&count, data.data(), 4);
    ASSERT_EQ(static_cast<std::size_t>(count), n);
    ASSERT_EQ(readUnits(data.data() + 4, GetParam(), n), text(n));
  }
  EXPECT_LE(host.stats().handlesGrown, 3u);

  // An empty variable gets nothing.
  host.faults() = HostFaults{};
  Handle none = nullptr;
  EXPECT_EQ(cb(kCvOpGetFldVal, 211, kCvKindHandle, 0, &none), 0);
  EXPECT_EQ(none, nullptr);
}

TEST_P(Callback, ResultWritesAndUnknownOperationsAreCounted) {
  const double code = 3;
  cb(kCvOpSetFldInt, kCvFieldResult, &code);
  cb(kCvOpSetFldVal, kCvFieldResult, kCvKindDouble, &code);
  EXPECT_EQ(host.result(), 3);
  EXPECT_EQ(host.resultWrites(), 2);
  EXPECT_EQ(cb(77, 1, 2, 3), 0);
  EXPECT_EQ(host.stats().unknownCalls, 1u);
}

// Texts of every length up to a few hundred characters, starting at every
// unit of a 16-byte line, cross both ways intact and touch nothing past
// their end, whichever way the host copies them; so does a long text passed
// zero-terminated from an odd place.
TEST_P(Callback, TextsOfAnyLengthAndPlaceCrossIntact) {
  std::u32string chars;
  for (char32_t i = 0; i < 300; ++i) chars.push_back(i % 7 == 3 ? 0x100 + i : U'a' + i % 26);
  std::u32string held = chars;  // as the build holds them
  for (char32_t& c : held) c = narrowUnit(c, GetParam());
  for (std::size_t offset = 0; offset < 4; ++offset) {
    for (std::size_t n = 0; n <= chars.size(); ++n) {
      SCOPED_TRACE(testing::Message() << "offset " << offset << ", " << n << " characters");
      auto b = buffer(offset + n + 8);
      writeUnits(b.data() + offset * unit(), GetParam(), chars.data(), n);
      ASSERT_EQ(touched(b), n == 0 ? 0 : offset + n);
      auto s = buffer(offset + n + 8);
      writeUnitsStreaming(s.data() + offset * unit(), GetParam(), chars.data(), n);
      ASSERT_EQ(s, b);
      std::u32string read(n + 4, U'#'), streamed(offset + n + 4, U'#');
      readUnitsInto(read.data(), b.data() + offset * unit(), GetParam(), n);
      readUnitsStreaming(streamed.data() + offset, b.data() + offset * unit(), GetParam(), n);
      ASSERT_EQ(read, held.substr(0, n) + U"####");
      ASSERT_EQ(streamed, std::u32string(offset, U'#') + held.substr(0, n) + U"####");
    }
  }
  std::u32string longText;
  while (longText.size() < 200001) longText += chars;
  std::vector<unsigned char> b((longText.size() + 2) * unit(), 0);
  writeUnits(b.data() + unit(), GetParam(), longText.data(), longText.size());
  EXPECT_EQ(cb(kCvOpSetFldVal, 212, kCvKindString, b.data() + unit()), 1);
  std::u32string longHeld = longText;
  for (char32_t& c : longHeld) c = narrowUnit(c, GetParam());
  EXPECT_TRUE(host.text(212) == longHeld);
}

INSTANTIATE_TEST_SUITE_P(Widths, Callback, ::testing::Values(CharWidth::Byte, CharWidth::Unicode),
                         [](const auto& p) { return p.param == CharWidth::Unicode ? "Unicode" : "Byte"; });

TEST(CallbackOutsideACall, AnswersZero) {
  const double code = 3;
  Host host(CharWidth::Byte, nullptr);
  EXPECT_EQ(Host::callback()(kCvOpSetFldInt, kCvFieldResult, &code), 0);
  EXPECT_EQ(host.resultWrites(), 0);
  {
    Host::Scope scope(host);
    EXPECT_EQ(Host::callback()(kCvOpSetFldInt, kCvFieldResult, &code), 1);
  }
  EXPECT_EQ(Host::callback()(kCvOpSetFldInt, kCvFieldResult, &code), 0);
  EXPECT_EQ(host.resultWrites(), 1);
}

// --- list storage ------------------------------------------------------------

// Random writes, row count changes, appended rows and copies against plain
// strings: cells written again and again (longer, shorter, from the list's
// own text) must survive every reuse, growth and compaction of the arena.
TEST(CellListStorage, MatchesPlainStringsThroughEveryChange) {
  using Rows = std::vector<std::vector<std::u32string>>;
  std::mt19937 random(7);
  auto pick = [&](std::size_t n) { return static_cast<std::size_t>(random() % n); };
  auto someText = [&]() {
    std::u32string t(pick(4) == 0 ? 0 : 1 + pick(pick(8) == 0 ? 300 : 12), U'a');
    for (auto& c : t) c = static_cast<char32_t>(U'a' + pick(26) + (pick(20) == 0 ? 0x1000 : 0));
    return t;
  };
  for (const std::size_t columns : {std::size_t{0}, std::size_t{1}, std::size_t{3}}) {
    SCOPED_TRACE(columns);
    CellList list(std::vector<std::u32string>(columns, U"c"));
    Rows model;
    for (int step = 0; step < 20000; ++step) {
      const std::size_t what = pick(100);
      if (what < 70 && !model.empty() && columns != 0) {
        const std::size_t r = pick(model.size()), c = pick(columns);
        if (pick(10) == 0) {
          // A text that lives in the list itself.
          const std::size_t fromRow = pick(model.size()), fromColumn = pick(columns);
          list.setCell(r, c, list.cell(fromRow, fromColumn));
          model[r][c] = model[fromRow][fromColumn];
        } else {
          const std::u32string t = someText();
          list.setCell(r, c, t);
          model[r][c] = t;
        }
        ASSERT_EQ(list.cell(r, c), model[r][c]) << "step " << step;
      } else if (what < 85) {
        std::vector<std::u32string> row;
        for (std::size_t c = 0, n = pick(columns + 2); c < n; ++c) row.push_back(someText());
        list.appendRow(row);
        row.resize(columns);
        model.push_back(row);
      } else if (what < 97) {
        const std::size_t rows = pick(model.size() + 5);
        list.resizeRows(rows);
        model.resize(rows, std::vector<std::u32string>(columns));
      } else if (what < 98) {
        list.clearRows();
        model.clear();
      } else {
        list = CellList(list);  // a copy holds the live text only
      }
      ASSERT_EQ(list.rowCount(), model.size()) << "step " << step;
      if (step % 500 == 0) {
        ASSERT_EQ(list.toRows(), model) << "step " << step;
        // The bound that lets a look for long cells be skipped holds.
        for (const auto& row : model)
          for (const auto& cell : row) ASSERT_GE(list.longestBound(), cell.size()) << "step " << step;
      }
    }
    EXPECT_EQ(list.toRows(), model);
    std::uint64_t characters = 0;
    for (const auto& row : model)
      for (const auto& cell : row) characters += cell.size();
    EXPECT_EQ(list.characters(), characters);
  }
}

// A list filled in bulk reads back through the callback, and the string
// form follows the list when the plug-in writes to it.
TEST(CellListStorage, BulkListsAndTheirStringFormFollowTheCallback) {
  Host host(CharWidth::Unicode, nullptr);
  Host::Scope scope(host);
  const HostCallback cb = Host::callback();
  CellList bulk({U"k", U"v"});
  const std::u32string buffer = U"onetwothreefour";
  bulk.reserve(2, buffer.size());
  bulk.appendRow({std::u32string_view(buffer).substr(0, 3), std::u32string_view(buffer).substr(3, 3)});
  bulk.appendRow({std::u32string_view(buffer).substr(6, 5)});
  host.setList(211, std::move(bulk));
  EXPECT_EQ(host.list(211).rows,
            (std::vector<std::vector<std::u32string>>{{U"one", U"two"}, {U"three", U""}}));

  const std::int16_t v = host.reference(U"v");
  const std::int32_t pair[2] = {2, 255};
  char32_t cell[8] = {};
  EXPECT_EQ(cb(kCvOpGetLstVal, 211, host.reference(U"k"), kCvKindString, cell, pair), 1);
  EXPECT_EQ(std::u32string(cell), U"three");

  const List& before = host.list(211);
  const char32_t written[] = U"four";
  EXPECT_EQ(cb(kCvOpSetLstVal, 211, 2, v, kCvKindString, written), 1);
  EXPECT_EQ(host.cells(211).cell(1, 1), U"four");
  EXPECT_EQ(host.list(211).rows[1][1], U"four");
  EXPECT_EQ(&host.list(211), &before);  // the same object, made again

  host.editCells(211).resizeRows(1);
  EXPECT_EQ(host.list(211).rows.size(), 1u);
  const double number = 12.5;
  EXPECT_EQ(cb(kCvOpSetLstVal, 211, 1, v, kCvKindDouble, &number), 1);
  EXPECT_EQ(host.list(211).rows[0][1], U"12.5");
  host.clearField(211);
  EXPECT_THROW(host.cells(211), std::logic_error);
  EXPECT_EQ(host.textView(211), U"");

  // A result text written again keeps the place of the longer one before.
  const char32_t longer[] = U"a longer result", shorter[] = U"short";
  EXPECT_EQ(cb(kCvOpSetFldVal, 212, kCvKindString, longer), 1);
  const char32_t* place = host.textView(212).data();
  EXPECT_EQ(cb(kCvOpSetFldVal, 212, kCvKindString, shorter), 1);
  EXPECT_EQ(host.textView(212), U"short");
  EXPECT_EQ(host.textView(212).data(), place);
}

TEST(HostHandles, ResizeKeepsContentsAndZeroFillsGrowth) {
  OwnedHandle handle(8);
  {
    LockedHandle data(handle.get());
    std::memset(data.data(), 0x5A, 8);
  }
  ASSERT_TRUE(resizeHandle(handle.address(), 64));
  EXPECT_GE(handle.size(), 64u);
  LockedHandle data(handle.get());
  for (std::size_t i = 0; i < 8; ++i) EXPECT_EQ(data.data()[i], 0x5A);
  for (std::size_t i = 8; i < 64; ++i) EXPECT_EQ(data.data()[i], 0);
  Handle empty = nullptr;
  EXPECT_FALSE(resizeHandle(&empty, 16));
  EXPECT_FALSE(resizeHandle(handle.address(), kMaxHandleSize + 1));
}

TEST(HostHandles, GrowthIsInProportionAndKeepsContents) {
  OwnedHandle handle(1000);
  {
    LockedHandle data(handle.get());
    std::memset(data.data(), 0x5A, 1000);
  }
  ASSERT_TRUE(growHandle(handle.address(), 1001));
  EXPECT_GE(handle.size(), 1500u);  // by half, not by the one byte asked for
  ASSERT_TRUE(growHandle(handle.address(), 4000));
  EXPECT_GE(handle.size(), 4000u);  // at least what is needed
  {
    LockedHandle data(handle.get());
    for (std::size_t i = 0; i < 1000; ++i) ASSERT_EQ(data.data()[i], 0x5A) << i;
    for (std::size_t i = 1000; i < 4000; ++i) ASSERT_EQ(data.data()[i], 0) << i;
  }
  const std::size_t before = handle.size();
  ASSERT_TRUE(growHandle(handle.address(), 10));  // large enough already
  EXPECT_EQ(handle.size(), before);
  EXPECT_FALSE(growHandle(handle.address(), kMaxHandleSize + 1));
  Handle empty = nullptr;
  EXPECT_FALSE(growHandle(&empty, 16));
  EXPECT_FALSE(renewHandle(&empty, 16));
}

}  // namespace
