// PluginFile.cpp - reading a plug-in's resources and loading it.
#include "PluginFile.h"

#include <cctype>
#include <cstring>
#include <fstream>
#include <iterator>
#include <system_error>

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace corvane::host {

namespace {

void setError(std::string* error, std::string text) {
  if (error != nullptr) *error = std::move(text);
}

// A text field of the resource image: zero-terminated, or cut at its end.
std::string fixedText(const char* field, std::size_t capacity) {
  std::size_t n = 0;
  while (n < capacity && field[n] != '\0') ++n;
  return std::string(field, n);
}

bool isIdentifierChar(char c) { return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '_'; }

// Fills the parts of Resources that follow from the Q7INF record and the
// strings; false (with an error) when the tag is not one this host knows.
bool finishResources(Resources& res, std::string* error) {
  res.tag.assign(reinterpret_cast<const char*>(res.q7inf.data()), 4);
  res.firstDeclaration =
      static_cast<std::uint16_t>(res.q7inf[4] | (static_cast<unsigned>(res.q7inf[5]) << 8));
  if (!widthForTag(res.tag)) {
    std::string shown;
    for (char c : res.tag) shown.push_back(std::isprint(static_cast<unsigned char>(c)) ? c : '?');
    setError(error, "unknown tag \"" + shown + "\" in the Q7INF record (expected UCMD or 7CMD)");
    return false;
  }
  res.group = res.strings[kCvDeclarationCount - 1];
  res.commands.clear();
  for (int i = 0; i < kCvDeclarationCount - 1; ++i) {
    auto command = parseDeclaration(res.strings[static_cast<std::size_t>(i)]);
    if (!command) continue;
    command->stringNumber = res.firstDeclaration + i;
    command->id = i + 1;
    res.commands.push_back(std::move(*command));
  }
  return true;
}

// Little-endian reads that refuse to leave the buffer.
class ByteView {
 public:
  ByteView(const unsigned char* data, std::size_t size) : data_(data), size_(size) {}
  std::size_t size() const { return size_; }
  const unsigned char* at(std::uint64_t offset) const { return data_ + offset; }
  bool has(std::uint64_t offset, std::uint64_t length) const {
    return offset <= size_ && length <= size_ - offset;
  }
  bool read(std::uint64_t offset, unsigned width, std::uint64_t& out) const {
    if (!has(offset, width)) return false;
    out = 0;
    for (unsigned i = 0; i < width; ++i) out |= static_cast<std::uint64_t>(data_[offset + i]) << (8 * i);
    return true;
  }

 private:
  const unsigned char* data_;
  std::size_t size_;
};

struct ElfLayout {
  unsigned word;          // 4 or 8
  std::uint64_t shoffAt;  // offsets inside the file header
  std::uint64_t shentsizeAt, shnumAt, shstrndxAt;
  std::uint64_t minEntry;  // smallest usable section header
  std::uint64_t nameAt, typeAt, offsetAt, sizeAt, linkAt;
};

constexpr ElfLayout kElf32{4, 0x20, 0x2E, 0x30, 0x32, 40, 0, 4, 16, 20, 24};
constexpr ElfLayout kElf64{8, 0x28, 0x3A, 0x3C, 0x3E, 64, 0, 4, 24, 32, 40};
constexpr std::uint64_t kShtNobits = 8;
constexpr std::uint64_t kShnXindex = 0xFFFF;

}  // namespace

std::optional<CharWidth> widthForTag(std::string_view tag) {
  if (tag == "UCMD") return CharWidth::Unicode;
  if (tag == "7CMD") return CharWidth::Byte;
  return std::nullopt;
}

std::optional<CommandInfo> parseDeclaration(std::string_view text) {
  const std::size_t open = text.find('(');
  if (open == std::string_view::npos) return std::nullopt;
  const std::size_t close = text.find(')', open);
  if (close == std::string_view::npos) return std::nullopt;
  const std::size_t dot = text.substr(0, open).rfind('.');
  if (dot == std::string_view::npos || dot == 0 || dot + 1 == open) return std::nullopt;
  if (close + 1 >= text.size() || text[close + 1] != ':') return std::nullopt;
  const std::string_view number = text.substr(close + 2);
  if (number.size() != 7) return std::nullopt;
  for (char c : number)
    if (c < '0' || c > '9') return std::nullopt;

  CommandInfo info;
  info.group = std::string(text.substr(0, dot));
  info.name = std::string(text.substr(dot + 1, open - dot - 1));
  for (char c : info.name)
    if (!isIdentifierChar(c)) return std::nullopt;
  info.number = std::string(number);

  // Parameters are identifiers; one standing inside [ ] is optional.
  int depth = 0;
  std::size_t i = open + 1;
  while (i < close) {
    const char c = text[i];
    if (c == '[') {
      ++depth;
      ++i;
    } else if (c == ']') {
      if (depth == 0) return std::nullopt;
      --depth;
      ++i;
    } else if (isIdentifierChar(c)) {
      std::size_t end = i;
      while (end < close && isIdentifierChar(text[end])) ++end;
      info.parameters.emplace_back(text.substr(i, end - i));
      info.optional.push_back(depth > 0);
      i = end;
    } else if (c == ',' || c == ' ') {
      ++i;
    } else {
      return std::nullopt;
    }
  }
  if (depth != 0) return std::nullopt;
  return info;
}

std::optional<Resources> parseResourceImage(const unsigned char* data, std::size_t size, std::string* error) {
  if (data == nullptr || size < sizeof(CorvaneResourceImage)) {
    setError(error, "the resource section is too small (" + std::to_string(size) + " bytes, " +
                        std::to_string(sizeof(CorvaneResourceImage)) + " needed)");
    return std::nullopt;
  }
  CorvaneResourceImage image;
  std::memcpy(&image, data, sizeof image);
  if (std::memcmp(image.magic, CORVANE_RESOURCE_MAGIC, sizeof image.magic) != 0) {
    setError(error, "the resource section does not start with " CORVANE_RESOURCE_MAGIC);
    return std::nullopt;
  }
  Resources res;
  std::memcpy(res.q7inf.data(), image.q7inf, res.q7inf.size());
  for (std::size_t i = 0; i < res.strings.size(); ++i)
    res.strings[i] = fixedText(image.strings[i], sizeof image.strings[i]);
  for (std::size_t i = 0; i < 4; ++i) {
    res.fileVersion[i] = image.fileVersion[i];
    res.productVersion[i] = image.productVersion[i];
  }
  res.fileDescription = fixedText(image.fileDescription, sizeof image.fileDescription);
  res.fileVersionText = fixedText(image.fileVersionText, sizeof image.fileVersionText);
  res.internalName = fixedText(image.internalName, sizeof image.internalName);
  res.originalName = fixedText(image.originalName, sizeof image.originalName);
  res.productName = fixedText(image.productName, sizeof image.productName);
  res.productVersionText = fixedText(image.productVersionText, sizeof image.productVersionText);
  if (!finishResources(res, error)) return std::nullopt;
  return res;
}

std::optional<Resources> readElfResources(const unsigned char* data, std::size_t size, std::string* error) {
  const ByteView file(data, size);
  if (data == nullptr || size < 16 ||
      std::memcmp(data,
                  "\x7f"
                  "ELF",
                  4) != 0) {
    setError(error, "not an ELF file");
    return std::nullopt;
  }
  const ElfLayout* layout = nullptr;
  if (data[4] == 1) layout = &kElf32;
  if (data[4] == 2) layout = &kElf64;
  if (layout == nullptr) {
    setError(error, "unknown ELF class " + std::to_string(data[4]));
    return std::nullopt;
  }
  if (data[5] != 1) {
    setError(error, "not a little-endian ELF file");
    return std::nullopt;
  }
  const unsigned w = layout->word;
  std::uint64_t shoff = 0, shentsize = 0, shnum = 0, shstrndx = 0;
  if (!file.read(layout->shoffAt, w, shoff) || !file.read(layout->shentsizeAt, 2, shentsize) ||
      !file.read(layout->shnumAt, 2, shnum) || !file.read(layout->shstrndxAt, 2, shstrndx)) {
    setError(error, "truncated ELF header");
    return std::nullopt;
  }
  if (shoff == 0) {
    setError(error, "the ELF file has no section headers");
    return std::nullopt;
  }
  if (shentsize < layout->minEntry) {
    setError(error, "bad ELF section header size " + std::to_string(shentsize));
    return std::nullopt;
  }
  // Section header `index`, checked to lie inside the file.
  auto header = [&](std::uint64_t index, std::uint64_t& at) {
    if (index > (UINT64_MAX - shoff) / shentsize) return false;
    at = shoff + index * shentsize;
    return file.has(at, shentsize);
  };
  std::uint64_t first = 0;
  if (!header(0, first)) {
    setError(error, "the ELF section headers lie outside the file");
    return std::nullopt;
  }
  // Extended numbering keeps the real counts in section 0.
  if (shnum == 0 && !file.read(first + layout->sizeAt, w, shnum)) shnum = 0;
  if (shstrndx == kShnXindex && !file.read(first + layout->linkAt, 4, shstrndx)) shstrndx = 0;
  std::uint64_t last = 0;
  if (shnum == 0 || !header(shnum - 1, last)) {
    setError(error, "the ELF section headers lie outside the file");
    return std::nullopt;
  }
  std::uint64_t namesHeader = 0, namesOffset = 0, namesSize = 0;
  if (shstrndx >= shnum || !header(shstrndx, namesHeader) ||
      !file.read(namesHeader + layout->offsetAt, w, namesOffset) ||
      !file.read(namesHeader + layout->sizeAt, w, namesSize) || !file.has(namesOffset, namesSize)) {
    setError(error, "the ELF section name table is missing or lies outside the file");
    return std::nullopt;
  }
  const std::string_view wanted = CORVANE_RESOURCE_SECTION;
  for (std::uint64_t i = 0; i < shnum; ++i) {
    std::uint64_t at = 0, name = 0;
    if (!header(i, at) || !file.read(at + layout->nameAt, 4, name)) continue;
    if (name >= namesSize || namesSize - name < wanted.size() + 1) continue;
    const auto* text = reinterpret_cast<const char*>(file.at(namesOffset + name));
    if (std::memcmp(text, wanted.data(), wanted.size()) != 0 || text[wanted.size()] != '\0') continue;
    std::uint64_t type = 0, offset = 0, length = 0;
    file.read(at + layout->typeAt, 4, type);
    file.read(at + layout->offsetAt, w, offset);
    file.read(at + layout->sizeAt, w, length);
    if (type == kShtNobits || !file.has(offset, length)) {
      setError(error, "the " CORVANE_RESOURCE_SECTION " section has no contents in the file");
      return std::nullopt;
    }
    return parseResourceImage(file.at(offset), static_cast<std::size_t>(length), error);
  }
  setError(error, "no " CORVANE_RESOURCE_SECTION " section: not a plug-in library");
  return std::nullopt;
}

#ifdef _WIN32

namespace {

std::string narrow(const wchar_t* text, int length) {
  if (length <= 0) return {};
  const int bytes = WideCharToMultiByte(CP_UTF8, 0, text, length, nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<std::size_t>(bytes), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text, length, out.data(), bytes, nullptr, nullptr);
  return out;
}

std::string lastError() {
  const DWORD code = GetLastError();
  if (code == ERROR_BAD_EXE_FORMAT) return "not a Windows dynamic library";
  return std::system_category().message(static_cast<int>(code)) + " (" + std::to_string(code) + ")";
}

// The version resource of the file: fixed numbers and the "040904E4" block.
void readVersion(const std::filesystem::path& path, Resources& res) {
  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeW(path.c_str(), &ignored);
  if (size == 0) return;
  std::vector<unsigned char> block(size);
  if (!GetFileVersionInfoW(path.c_str(), 0, size, block.data())) return;
  void* value = nullptr;
  UINT length = 0;
  if (VerQueryValueW(block.data(), L"\\", &value, &length) && length >= sizeof(VS_FIXEDFILEINFO)) {
    const auto* info = static_cast<const VS_FIXEDFILEINFO*>(value);
    res.fileVersion = {HIWORD(info->dwFileVersionMS), LOWORD(info->dwFileVersionMS),
                       HIWORD(info->dwFileVersionLS), LOWORD(info->dwFileVersionLS)};
    res.productVersion = {HIWORD(info->dwProductVersionMS), LOWORD(info->dwProductVersionMS),
                          HIWORD(info->dwProductVersionLS), LOWORD(info->dwProductVersionLS)};
  }
  auto text = [&](const wchar_t* key, std::string& out) {
    std::wstring query = L"\\StringFileInfo\\040904E4\\";
    query += key;
    void* found = nullptr;
    UINT units = 0;
    if (VerQueryValueW(block.data(), query.c_str(), &found, &units) && units > 0) {
      const auto* chars = static_cast<const wchar_t*>(found);
      int n = 0;
      while (static_cast<UINT>(n) < units && chars[n] != L'\0') ++n;
      out = narrow(chars, n);
    }
  };
  text(L"FileDescription", res.fileDescription);
  text(L"FileVersion", res.fileVersionText);
  text(L"InternalName", res.internalName);
  text(L"OriginalName", res.originalName);
  text(L"ProductName", res.productName);
  text(L"ProductVersion", res.productVersionText);
}

std::optional<Resources> readWindowsResources(const std::filesystem::path& path, std::string* error) {
  HMODULE data = LoadLibraryExW(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  if (data == nullptr) {
    setError(error, "cannot read the resources of " + path.string() + ": " + lastError());
    return std::nullopt;
  }
  struct Release {
    HMODULE module;
    ~Release() { FreeLibrary(module); }
  } release{data};

  HRSRC found = FindResourceA(data, "Q7INF", MAKEINTRESOURCEA(10));
  HGLOBAL loaded = found != nullptr ? LoadResource(data, found) : nullptr;
  const void* bytes = loaded != nullptr ? LockResource(loaded) : nullptr;
  if (bytes == nullptr || SizeofResource(data, found) < kCvQ7InfSize) {
    setError(error, path.string() + " has no Q7INF resource: not a plug-in library");
    return std::nullopt;
  }
  Resources res;
  std::memcpy(res.q7inf.data(), bytes, res.q7inf.size());
  const unsigned first = static_cast<unsigned>(res.q7inf[4]) | (static_cast<unsigned>(res.q7inf[5]) << 8);
  for (std::size_t i = 0; i < res.strings.size(); ++i) {
    wchar_t buffer[1024];
    const int n = LoadStringW(data, static_cast<UINT>(first + i), buffer, 1024);
    res.strings[i] = narrow(buffer, n);
  }
  if (!finishResources(res, error)) {
    if (error != nullptr) *error = path.string() + ": " + *error;
    return std::nullopt;
  }
  readVersion(path, res);
  return res;
}

}  // namespace

std::unique_ptr<Plugin> Plugin::open(const std::filesystem::path& path, std::string* error) {
  std::error_code ec;
  if (!std::filesystem::is_regular_file(path, ec)) {
    setError(error, path.string() + ": no such file");
    return nullptr;
  }
  auto resources = readWindowsResources(path, error);
  if (!resources) return nullptr;
  auto plugin = std::make_unique<Plugin>(Key{});
  plugin->path_ = path;
  plugin->width_ = *widthForTag(resources->tag);
  plugin->resources_ = std::move(*resources);
  HMODULE module = LoadLibraryW(path.c_str());
  if (module == nullptr) {
    setError(error, "cannot load " + path.string() + ": " + lastError());
    return nullptr;
  }
  plugin->module_ = module;
  plugin->entry_ = reinterpret_cast<CorvaneEntryPoint>(
      reinterpret_cast<void*>(GetProcAddress(module, CORVANE_ENTRY_NAME)));
  if (plugin->entry_ == nullptr) {
    setError(error, path.string() + " does not export " CORVANE_ENTRY_NAME);
    return nullptr;
  }
  return plugin;
}

Plugin::~Plugin() {
  if (module_ != nullptr) FreeLibrary(static_cast<HMODULE>(module_));
}

void* Plugin::symbol(const char* name) const noexcept {
  if (module_ == nullptr || name == nullptr) return nullptr;
  return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(module_), name));
}

#else

namespace {

std::optional<std::vector<unsigned char> > readFile(const std::filesystem::path& path, std::string* error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    setError(error, "cannot read " + path.string());
    return std::nullopt;
  }
  std::vector<unsigned char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) {
    setError(error, "cannot read " + path.string());
    return std::nullopt;
  }
  return bytes;
}

}  // namespace

std::unique_ptr<Plugin> Plugin::open(const std::filesystem::path& path, std::string* error) {
  std::error_code ec;
  if (!std::filesystem::is_regular_file(path, ec)) {
    setError(error, path.string() + ": no such file");
    return nullptr;
  }
  const auto bytes = readFile(path, error);
  if (!bytes) return nullptr;
  std::string why;
  auto resources = readElfResources(bytes->data(), bytes->size(), &why);
  if (!resources) {
    setError(error, path.string() + ": " + why);
    return nullptr;
  }
  auto plugin = std::make_unique<Plugin>(Key{});
  plugin->path_ = path;
  plugin->width_ = *widthForTag(resources->tag);
  plugin->resources_ = std::move(*resources);
  // A relative name without a slash would make dlopen search the library
  // path instead of opening this file.
  const std::filesystem::path absolute = std::filesystem::absolute(path, ec);
  dlerror();
  plugin->module_ = dlopen((ec ? path : absolute).c_str(), RTLD_NOW | RTLD_LOCAL);
  if (plugin->module_ == nullptr) {
    const char* text = dlerror();
    setError(error, "cannot load " + path.string() + ": " + (text != nullptr ? text : "unknown error"));
    return nullptr;
  }
  plugin->entry_ = reinterpret_cast<CorvaneEntryPoint>(dlsym(plugin->module_, CORVANE_ENTRY_NAME));
  if (plugin->entry_ == nullptr) {
    setError(error, path.string() + " does not export " CORVANE_ENTRY_NAME);
    return nullptr;
  }
  return plugin;
}

Plugin::~Plugin() {
  if (module_ != nullptr) dlclose(module_);
}

void* Plugin::symbol(const char* name) const noexcept {
  if (module_ == nullptr || name == nullptr) return nullptr;
  return dlsym(module_, name);
}

#endif

}  // namespace corvane::host
