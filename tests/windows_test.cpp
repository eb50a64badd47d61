// Checks of the real Windows DLLs, loaded with LoadLibrary: the entry point's
// name and calling convention, the resources the host reads before it calls
// anything (string table, Q7INF, version), and design help, which loads the
// declarations through the module handle that DllMain recorded.

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdarg>
#include <cstdint>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "corvane/CorvaneAbi.h"
#include "HeapCheck.h"
#include "Plugins.h"

namespace {

struct PluginBuild {
  const char* file;
  bool unicode;
  const char* tag;
  const char* description;
  const char* originalName;
};

const PluginBuild kBuilds[] = {
    {"Corvane", false, "7CMD", "Extended commands for Omnis 7/Studio", "Corvane.DLL"},
    {"CorvaneU", true, "UCMD", "Extended commands for Omnis Studio Unicode", "CorvaneU.DLL"},
};

const char* const kDeclarations[] = {
    "Corvane.FormattedStringToList(stringField, listField, rowPrefix, rowSuffix, rowDelim, "
    "colPrefix, colSuffix, colDelim):1301004",
    "Corvane.ListToFormattedString(listField, stringField, rowPrefix, rowSuffix, rowDelim, "
    "colPrefix, colSuffix, colDelim):1301003",
    "Corvane.StringToList(stringField, listField [,delimByte]):1301002",
    "Corvane.ListToString(listField, stringField [,delimByte]):1301001",
    "*Corvane",
};

void PrintTo(const PluginBuild& build, std::ostream* os) { *os << build.file; }

// ---------------------------------------------------------------------------
// A host just big enough for the messages that need no list: it answers the
// field and design-record operations and records everything else.

struct FakeHost {
  int32_t packageId = 0;
  double paramCount = 0;
  int16_t lineCountRef = 7;
  std::vector<uint8_t> design = std::vector<uint8_t>(4096, 0xCD);
  std::map<int, double> setInts;
  std::vector<int32_t> otherOps;
};

FakeHost* gHost = nullptr;

int32_t FakeCallback(int32_t op, ...) {
  va_list ap;
  va_start(ap, op);
  int32_t result = 0;
  switch (op) {
    case kCvOpGetFldRef:
      (void)va_arg(ap, void*);
      result = gHost->lineCountRef;
      break;
    case kCvOpGetFldInt: {
      int field = va_arg(ap, int);
      double* out = va_arg(ap, double*);
      *out = field == kCvFieldParamCount ? gHost->paramCount : 0.0;
      break;
    }
    case kCvOpSetFldInt: {
      int field = va_arg(ap, int);
      const double* value = va_arg(ap, const double*);
      gHost->setInts[field] = *value;
      break;
    }
    case kCvOpGetPackageId:
      *va_arg(ap, int32_t*) = gHost->packageId;
      break;
    case kCvOpGetDesignPtr:
      *va_arg(ap, void**) = gHost->design.data();
      break;
    default:
      gHost->otherOps.push_back(op);
      break;
  }
  va_end(ap);
  return result;
}

// ---------------------------------------------------------------------------
// Calls `entry` with six 32-bit arguments pushed by hand and returns how far
// ESP moved across the call: 0 when the callee removed its arguments
// (__stdcall), -24 when it left them for the caller (cdecl).

#if defined(__GNUC__) && defined(__i386__)
#define CORVANE_HAVE_STACK_PROBE 1
extern "C" int32_t windows_test_stack_delta(CorvaneEntryPoint entry, int32_t message, void** slot,
                                            HostCallback callback);
// cdecl; after the two pushes: 12(%esp) entry, 16 message, 20 slot, 24 callback.
// ESI holds ESP across the call (callee-saved), EBX the target.
__asm__(
    ".text\n"
    ".globl _windows_test_stack_delta\n"
    "_windows_test_stack_delta:\n"
    "  pushl %ebx\n"
    "  pushl %esi\n"
    "  movl %esp, %esi\n"
    "  movl 12(%esi), %ebx\n"
    "  pushl 24(%esi)\n"
    "  pushl $0x33333333\n"
    "  pushl $0x22222222\n"
    "  pushl $0x11111111\n"
    "  pushl 20(%esi)\n"
    "  pushl 16(%esi)\n"
    "  call *%ebx\n"
    "  movl %esp, %eax\n"
    "  subl %esi, %eax\n"
    "  movl %esi, %esp\n"
    "  popl %esi\n"
    "  popl %ebx\n"
    "  ret\n");
#endif

// The string block "040904E4" of the version resource, in order.
std::vector<std::pair<std::string, std::string>> VersionStrings(const PluginBuild& b) {
  return {{"FileDescription", b.description},  {"FileVersion", "3.3"},
          {"InternalName", "Corvane"},         {"OriginalName", b.originalName},
          {"ProductName", "Corvane Commands"}, {"ProductVersion", "3.3"}};
}

// One node of a raw version resource: 16-bit total length, 16-bit value
// length (UTF-16 units for text, bytes for binary), 16-bit type (1 text,
// 0 binary), the key in UTF-16 with its terminator, padding to 32 bits, the
// value, padding, then the child nodes up to the total length.
struct VersionNode {
  std::string key;
  uint16_t type = 0;
  std::vector<uint8_t> value;
  std::vector<VersionNode> children;
};

size_t Align4(size_t n) { return (n + 3) & ~size_t(3); }

uint16_t Word(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

// Parses the node at `offset`; false if any length runs past `end`.
bool ParseVersionNode(const uint8_t* data, size_t offset, size_t end, VersionNode* node) {
  if (offset + 6 > end) return false;
  const size_t nodeEnd = offset + Word(data + offset);
  const size_t valueLength = Word(data + offset + 2);
  node->type = Word(data + offset + 4);
  if (nodeEnd > end || nodeEnd < offset + 6) return false;
  size_t pos = offset + 6;
  for (;; pos += 2) {
    if (pos + 2 > nodeEnd) return false;
    const uint16_t unit = Word(data + pos);
    if (unit == 0) break;
    node->key.push_back(unit < 128 ? static_cast<char>(unit) : '?');
  }
  pos = Align4(pos + 2);
  const size_t valueBytes = node->type == 1 ? 2 * valueLength : valueLength;
  if (pos + valueBytes > nodeEnd) return false;
  node->value.assign(data + pos, data + pos + valueBytes);
  pos = Align4(pos + valueBytes);
  while (pos < nodeEnd) {
    node->children.emplace_back();
    if (!ParseVersionNode(data, pos, nodeEnd, &node->children.back())) return false;
    pos = Align4(pos + Word(data + pos));
  }
  return true;
}

std::vector<std::string> Keys(const VersionNode& node) {
  std::vector<std::string> keys;
  for (const VersionNode& child : node.children) keys.push_back(child.key);
  return keys;
}

// A text value as stored: UTF-16LE units with the terminator.
std::vector<uint8_t> StoredText(const std::string& text) {
  std::vector<uint8_t> bytes;
  for (char c : text) {
    bytes.push_back(static_cast<uint8_t>(c));
    bytes.push_back(0);
  }
  bytes.insert(bytes.end(), {0, 0});
  return bytes;
}

// ---------------------------------------------------------------------------

class WindowsPlugin : public ::testing::TestWithParam<PluginBuild> {
 protected:
  void SetUp() override {
    module_ = LoadLibraryA(cvtest::pluginPath(GetParam().file).c_str());
    ASSERT_NE(module_, nullptr) << cvtest::pluginPath(GetParam().file) << ": error " << GetLastError();
    entry_ = reinterpret_cast<CorvaneEntryPoint>(
        reinterpret_cast<void*>(GetProcAddress(module_, CORVANE_ENTRY_NAME)));
    ASSERT_NE(entry_, nullptr);
    gHost = &host_;
  }
  void TearDown() override {
    gHost = nullptr;
    if (module_ != nullptr) FreeLibrary(module_);
    EXPECT_TRUE(cvtest::heapsIntact()) << "a heap of the process is damaged";
  }

  std::string LoadedPath() const {
    char path[MAX_PATH];
    DWORD n = GetModuleFileNameA(module_, path, MAX_PATH);
    return std::string(path, n);
  }

  HMODULE module_ = nullptr;
  CorvaneEntryPoint entry_ = nullptr;
  FakeHost host_;
};

INSTANTIATE_TEST_SUITE_P(Builds, WindowsPlugin, ::testing::ValuesIn(kBuilds),
                         [](const ::testing::TestParamInfo<PluginBuild>& param) {
                           return std::string(param.param.file);
                         });

TEST_P(WindowsPlugin, EntryPointIsExportedUndecorated) {
  // The host looks the entry point up by its plain name; the stdcall-decorated
  // forms must not be there for it to find instead.
  EXPECT_EQ(GetProcAddress(module_, "Corvane@24"), nullptr);
  EXPECT_EQ(GetProcAddress(module_, "_Corvane@24"), nullptr);
  EXPECT_EQ(GetProcAddress(module_, "_Corvane"), nullptr);
  EXPECT_EQ(GetProcAddress(module_, "DllMain"), nullptr);
}

TEST_P(WindowsPlugin, EntryPointRemovesItsSixArgumentsOnEveryMessage) {
#ifndef CORVANE_HAVE_STACK_PROBE
  GTEST_SKIP() << "needs a 32-bit x86 GNU compiler";
#else
  void* slot = nullptr;
  HostCallback cb = &FakeCallback;
  host_.design[kCvDesignKind] = kCvDesignReturnHelp;
  host_.design[kCvDesignKind + 1] = 0;

  struct Step {
    int32_t message;
    int32_t packageId;
    double paramCount;
  };
  // Load, execute an unknown command, execute ListToString with too few
  // parameters, design help and design flag, unload twice, unknown messages.
  const Step steps[] = {{kCvMsgLoad, 0, 0},       {kCvMsgExecute, 99, 0},   {kCvMsgExecute, 4, 1},
                        {kCvMsgDesignHelp, 4, 0}, {kCvMsgDesignFlag, 0, 0}, {kCvMsgUnload, 0, 0},
                        {kCvMsgUnload, 0, 0},     {0x7FFF, 0, 0},           {-1, 0, 0}};
  for (const Step& step : steps) {
    host_.packageId = step.packageId;
    host_.paramCount = step.paramCount;
    host_.setInts.clear();
    EXPECT_EQ(windows_test_stack_delta(entry_, step.message, &slot, cb), 0)
        << "message " << step.message << ", command " << step.packageId;
    if (step.message == kCvMsgLoad) {
      EXPECT_NE(slot, nullptr);
    }
    if (step.message == kCvMsgExecute) {
      ASSERT_EQ(host_.setInts.count(kCvFieldResult), 1u);
    }
  }
  EXPECT_EQ(slot, nullptr);
  EXPECT_TRUE(host_.otherOps.empty());

  // The results prove the calls really ran: unknown command 0, too few
  // parameters 3.  Repeat the pair many times through a typed pointer as well:
  // a callee that left 24 bytes per call would exhaust or corrupt the stack.
  entry_(kCvMsgLoad, &slot, 0, 0, 0, cb);
  for (int i = 0; i < 20000; ++i) {
    host_.packageId = (i % 2) ? 99 : 4;
    host_.paramCount = 1;
    entry_(kCvMsgExecute, &slot, 0, 0, 0, cb);
    ASSERT_EQ(host_.setInts[kCvFieldResult], (i % 2) ? kCvResultOk : kCvResultBadParams) << i;
  }
  EXPECT_EQ(windows_test_stack_delta(entry_, kCvMsgUnload, &slot, cb), 0);
  EXPECT_EQ(slot, nullptr);
#endif
}

// Design help loads the declaration through the module handle that DllMain
// recorded, with LoadStringA or LoadStringW, and answers in the build's own
// characters: a one-byte count at offset 10 and bytes from 11, or a 32-bit
// count at 10 and 32-bit characters from 14.
TEST_P(WindowsPlugin, DesignHelpReadsTheDeclarationsFromTheModule) {
  const struct {
    int32_t command;
    const char* text;
  } cases[] = {
      {1,
       "Parms: (stringField, listField, rowPrefix, rowSuffix, rowDelim, colPrefix, "
       "colSuffix, colDelim)"},
      {2,
       "Parms: (listField, stringField, rowPrefix, rowSuffix, rowDelim, colPrefix, "
       "colSuffix, colDelim)"},
      {3, "Parms: (stringField, listField [,delimByte])"},
      {4, "Parms: (listField, stringField [,delimByte])"},
      {5, "Parms: "},
      {6, "Parms: "},
      {0, "Parms: "},
  };
  void* slot = nullptr;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.command);
    host_.design.assign(host_.design.size(), 0xCD);
    host_.design[kCvDesignKind] = kCvDesignParamHelp;
    host_.design[kCvDesignKind + 1] = 0;
    host_.packageId = c.command;
    entry_(kCvMsgDesignHelp, &slot, 0, 0, 0, &FakeCallback);

    const uint8_t* rec = host_.design.data();
    const size_t n = std::strlen(c.text);
    EXPECT_EQ(rec[kCvDesignAnswered], 0);
    std::string text;
    if (GetParam().unicode) {
      uint32_t count;
      std::memcpy(&count, rec + kCvDesignCount, 4);
      EXPECT_EQ(count, n);
      for (size_t i = 0;; ++i) {
        uint32_t ch;
        std::memcpy(&ch, rec + kCvDesignTextUnicode + 4 * i, 4);
        if (ch == 0 || i > 200) break;
        text.push_back(ch < 128 ? static_cast<char>(ch) : '?');
      }
    } else {
      EXPECT_EQ(rec[kCvDesignCount], n);
      text.assign(reinterpret_cast<const char*>(rec + kCvDesignTextByte));
    }
    EXPECT_EQ(text, c.text);
  }
  EXPECT_EQ(slot, nullptr);
}

TEST_P(WindowsPlugin, Q7InfRecordTagsTheBuild) {
  HRSRC res =
      FindResourceExA(module_, MAKEINTRESOURCEA(10), "Q7INF", MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US));
  ASSERT_NE(res, nullptr);
  ASSERT_EQ(SizeofResource(module_, res), 14u);
  HGLOBAL loaded = LoadResource(module_, res);
  ASSERT_NE(loaded, nullptr);
  const auto* bytes = static_cast<const uint8_t*>(LockResource(loaded));
  ASSERT_NE(bytes, nullptr);

  std::vector<uint8_t> expected(GetParam().tag, GetParam().tag + 4);
  expected.insert(expected.end(), {0x15, 0x05, 0, 0, 0, 0, 0, 0, 0, 0});
  EXPECT_EQ(std::vector<uint8_t>(bytes, bytes + 14), expected);
}

TEST_P(WindowsPlugin, StringTableHoldsTheFiveDeclarations) {
  // The host reads them in US English; both builds carry the same texts.
  EXPECT_NE(FindResourceExW(module_, MAKEINTRESOURCEW(6), MAKEINTRESOURCEW(1301 / 16 + 1),
                            MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US)),
            nullptr);
  for (int i = 0; i < 5; ++i) {
    SCOPED_TRACE(1301 + i);
    const std::string expected = kDeclarations[i];

    char narrow[512];
    int n = LoadStringA(module_, static_cast<UINT>(1301 + i), narrow, sizeof narrow);
    EXPECT_EQ(n, static_cast<int>(expected.size()));
    EXPECT_EQ(std::string(narrow), expected);

    wchar_t wide[512];
    n = LoadStringW(module_, static_cast<UINT>(1301 + i), wide, 512);
    ASSERT_EQ(n, static_cast<int>(expected.size()));
    EXPECT_EQ(std::wstring(wide), std::wstring(expected.begin(), expected.end()));
  }
  // Nothing else in the numbers around them.
  for (UINT id : {1296u, 1300u, 1306u, 1311u}) {
    wchar_t wide[16] = {L'x'};
    EXPECT_EQ(LoadStringW(module_, id, wide, 16), 0) << id;
  }
}

TEST_P(WindowsPlugin, VersionResourceDescribesTheBuild) {
  const std::string path = LoadedPath();
  DWORD ignored = 0;
  DWORD size = GetFileVersionInfoSizeA(path.c_str(), &ignored);
  ASSERT_GT(size, 0u) << path;
  std::vector<char> info(size);
  ASSERT_TRUE(GetFileVersionInfoA(path.c_str(), 0, size, info.data()));

  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT len = 0;
  ASSERT_TRUE(VerQueryValueA(info.data(), "\\", reinterpret_cast<void**>(&fixed), &len));
  ASSERT_EQ(len, sizeof(VS_FIXEDFILEINFO));
  EXPECT_EQ(fixed->dwSignature, 0xFEEF04BDu);
  EXPECT_EQ(fixed->dwFileVersionMS, 0x00030003u);
  EXPECT_EQ(fixed->dwFileVersionLS, 0u);
  EXPECT_EQ(fixed->dwProductVersionMS, 0x00030003u);
  EXPECT_EQ(fixed->dwProductVersionLS, 0u);
  EXPECT_EQ(fixed->dwFileOS, 0x4u);  // VOS__WINDOWS32: 32-bit Windows
  EXPECT_EQ(fixed->dwFileType, static_cast<DWORD>(VFT_DLL));
  EXPECT_EQ(fixed->dwFileFlags & fixed->dwFileFlagsMask, 0u);

  WORD* translation = nullptr;
  ASSERT_TRUE(VerQueryValueA(info.data(), "\\VarFileInfo\\Translation",
                             reinterpret_cast<void**>(&translation), &len));
  ASSERT_EQ(len, 4u);
  EXPECT_EQ(translation[0], 0x0409);
  EXPECT_EQ(translation[1], 0x04E4);

  for (const auto& s : VersionStrings(GetParam())) {
    const std::string key = std::string("\\StringFileInfo\\040904E4\\") + s.first;
    wchar_t* value = nullptr;
    const std::wstring wkey(key.begin(), key.end());
    ASSERT_TRUE(VerQueryValueW(info.data(), wkey.c_str(), reinterpret_cast<void**>(&value), &len)) << s.first;
    const std::string expected = s.second;
    EXPECT_EQ(std::wstring(value), std::wstring(expected.begin(), expected.end())) << s.first;
  }
}

// The version resource as the file stores it: exactly the two blocks, one
// string table "040904E4" with exactly the six strings in order, each
// zero-terminated, and one translation.
TEST_P(WindowsPlugin, VersionResourceHoldsNothingElse) {
  HRSRC res = FindResourceExW(module_, MAKEINTRESOURCEW(16), MAKEINTRESOURCEW(1),
                              MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US));
  ASSERT_NE(res, nullptr);
  const DWORD size = SizeofResource(module_, res);
  const auto* data = static_cast<const uint8_t*>(LockResource(LoadResource(module_, res)));
  ASSERT_NE(data, nullptr);
  ASSERT_EQ(Word(data), size);

  VersionNode root;
  ASSERT_TRUE(ParseVersionNode(data, 0, size, &root));
  EXPECT_EQ(root.key, "VS_VERSION_INFO");
  EXPECT_EQ(root.value.size(), sizeof(VS_FIXEDFILEINFO));
  ASSERT_EQ(Keys(root), (std::vector<std::string>{"StringFileInfo", "VarFileInfo"}));

  const VersionNode& stringInfo = root.children[0];
  ASSERT_EQ(Keys(stringInfo), std::vector<std::string>{"040904E4"});
  const VersionNode& table = stringInfo.children[0];
  const auto expected = VersionStrings(GetParam());
  ASSERT_EQ(table.children.size(), expected.size());
  for (size_t i = 0; i < expected.size(); ++i) {
    const VersionNode& entry = table.children[i];
    EXPECT_EQ(entry.key, expected[i].first);
    EXPECT_EQ(entry.type, 1) << entry.key;
    EXPECT_EQ(entry.value, StoredText(expected[i].second)) << entry.key;
    EXPECT_TRUE(entry.children.empty()) << entry.key;
  }

  const VersionNode& varInfo = root.children[1];
  ASSERT_EQ(Keys(varInfo), std::vector<std::string>{"Translation"});
  EXPECT_EQ(varInfo.children[0].type, 0);
  EXPECT_EQ(varInfo.children[0].value, (std::vector<uint8_t>{0x09, 0x04, 0xE4, 0x04}));
}

// Both DLLs loaded side by side keep their own resources and entry points.
TEST(WindowsPlugins, BothBuildsLoadSideBySide) {
  HMODULE narrow = LoadLibraryA(cvtest::pluginPath("Corvane").c_str());
  HMODULE wide = LoadLibraryA(cvtest::pluginPath("CorvaneU").c_str());
  ASSERT_NE(narrow, nullptr);
  ASSERT_NE(wide, nullptr);
  EXPECT_NE(narrow, wide);
  EXPECT_NE(GetProcAddress(narrow, "Corvane"), GetProcAddress(wide, "Corvane"));
  for (HMODULE m : {narrow, wide}) {
    HRSRC res = FindResourceA(m, "Q7INF", MAKEINTRESOURCEA(10));
    ASSERT_NE(res, nullptr);
    const char* tag = static_cast<const char*>(LockResource(LoadResource(m, res)));
    EXPECT_EQ(std::string(tag, 4), m == narrow ? "7CMD" : "UCMD");
  }
  FreeLibrary(wide);
  FreeLibrary(narrow);
}

}  // namespace
