// Transcoder.cpp - iconv, chunk by chunk.
#include "Transcoder.h"

#include "Encoding.h"
#include "Failure.h"

#include <utf8.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>

namespace corvane::cli {

namespace {

const iconv_t kNoConverter = reinterpret_cast<iconv_t>(-1);

std::string showBytes(std::string_view bytes) {
  std::string text;
  char buffer[8];
  for (std::size_t i = 0; i < bytes.size() && i < 4; ++i) {
    std::snprintf(buffer, sizeof buffer, "%s0x%02X", i == 0 ? "" : " ",
                  static_cast<unsigned>(static_cast<unsigned char>(bytes[i])));
    text += buffer;
  }
  return (bytes.size() == 1 ? "byte " : "bytes ") + text;
}

}  // namespace

bool isUtf8(std::string_view encoding) {
  std::string name;
  for (char c : encoding)
    if (c != '-' && c != '_') name.push_back(static_cast<char>(std::tolower(static_cast<unsigned char>(c))));
  return name.empty() || name == "utf8";
}

Transcoder::Transcoder(std::string_view from, std::string_view to, std::string_view option)
    : from_(from), to_(to) {
  cd_ = ::iconv_open(to_.c_str(), from_.c_str());
  if (cd_ == kNoConverter) {
    const std::string& unknown = isUtf8(from_) ? to_ : from_;
    throw Failure(kExitUsage, std::string(option) + ": unknown encoding \"" + unknown +
                                  "\" ('iconv --list' shows the names this system knows)");
  }
}

Transcoder::~Transcoder() { ::iconv_close(cd_); }

std::optional<TranscodeProblem> Transcoder::problem(const char* what, std::string_view at) const {
  TranscodeProblem p;
  p.byteOffset = consumed_;
  p.line = line_;
  if (isUtf8(from_)) {
    // Text on its way out: name the character the target cannot hold.
    const char* it = at.data();
    const char* end = at.data() + at.size();
    if (at.empty() || utf8::find_invalid(it, std::min(end, it + 4)) == it) {
      p.what = std::string(what) + " UTF-8 (" + showBytes(at) + ")";
    } else {
      const auto c = static_cast<char32_t>(utf8::unchecked::next(it));
      p.what = describeCharacter(c) + " has no form in " + to_;
    }
  } else {
    p.what = std::string(what) + " " + from_ + " (" + showBytes(at.substr(0, 1)) + ")";
  }
  return p;
}

std::optional<TranscodeProblem> Transcoder::convert(std::string_view chunk, std::string& out, bool last) {
  std::string joined;
  if (!pending_.empty()) {
    joined = pending_;
    joined.append(chunk);
    consumed_ -= pending_.size();
    pending_.clear();
    chunk = joined;
  }
  const bool countInput = isUtf8(from_);
  char* in = const_cast<char*>(chunk.data());  // iconv's signature; it does not write there
  std::size_t inLeft = chunk.size();
  bool flushing = false;  // after the last input: the shift state back to its start
  for (;;) {
    const std::size_t start = out.size();
    const std::size_t room = std::max<std::size_t>(inLeft * 4 + 16, 256);
    out.resize(start + room);
    char* outAt = out.data() + start;
    std::size_t outLeft = room;
    char* const inBefore = in;
    const std::size_t result = flushing ? ::iconv(cd_, nullptr, nullptr, &outAt, &outLeft)
                                        : ::iconv(cd_, &in, &inLeft, &outAt, &outLeft);
    const int error = result == static_cast<std::size_t>(-1) ? errno : 0;
    out.resize(start + (room - outLeft));
    const auto counted = countInput ? std::string_view(inBefore, static_cast<std::size_t>(in - inBefore))
                                    : std::string_view(out).substr(start);
    line_ += static_cast<std::size_t>(std::count(counted.begin(), counted.end(), '\n'));
    consumed_ += static_cast<std::size_t>(in - inBefore);
    if (error == E2BIG) continue;
    if (error == EILSEQ) return problem("invalid", std::string_view(in, inLeft));
    if (error == EINVAL) {
      if (last) return problem("incomplete", std::string_view(in, inLeft));
      pending_.assign(in, inLeft);
      consumed_ += inLeft;
      return std::nullopt;
    }
    if (error != 0) return problem("unreadable", std::string_view(in, inLeft));
    if (inLeft != 0) continue;
    if (!last || flushing) return std::nullopt;
    flushing = true;
  }
}

std::string transcodeAll(std::string_view bytes, std::string_view from, std::string_view to,
                         std::string_view source) {
  Transcoder converter(from, to);
  std::string out;
  out.reserve(bytes.size() + bytes.size() / 4);
  if (auto p = converter.convert(bytes, out, true)) {
    if (isUtf8(from))
      throw Failure(kExitInput, std::string(source) + ": " +
                                    describePosition(bytes, p->byteOffset, TextMode::Unicode) + ": " +
                                    p->what);
    throw Failure(kExitInput, std::string(source) + ": line " + std::to_string(p->line) + ", byte offset " +
                                  std::to_string(p->byteOffset) + ": " + p->what);
  }
  return out;
}

}  // namespace corvane::cli
