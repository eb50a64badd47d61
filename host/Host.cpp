// Host.cpp - fields, lists and the callback operations of the host.
#include "Host.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <stdexcept>

namespace corvane::host {

namespace {

thread_local Host* tCurrent = nullptr;

// A number as the host shows it in a text: integers without a fraction.
std::u32string formatNumber(double value) {
  char buffer[64];
  if (std::isfinite(value) && value == std::trunc(value) && std::fabs(value) < 1e15)
    std::snprintf(buffer, sizeof buffer, "%.0f", value);
  else
    std::snprintf(buffer, sizeof buffer, "%.15g", value);
  return fromBytes(buffer);
}

// A text read as a number: leading blanks allowed, anything else gives 0.
double parseNumber(const std::u32string& text) {
  std::string narrow;
  for (char32_t c : text) {
    if (c == 0 || c > 0x7F) break;
    narrow.push_back(static_cast<char>(c));
  }
  const char* begin = narrow.c_str();
  char* end = nullptr;
  const double value = std::strtod(begin, &end);
  return end == begin ? 0.0 : value;
}

std::int32_t clampLength(std::size_t length) {
  return length > static_cast<std::size_t>(INT32_MAX) ? INT32_MAX : static_cast<std::int32_t>(length);
}

}  // namespace

// --- construction ------------------------------------------------------------

Host::Host(const Plugin& plugin) : Host(plugin.width(), plugin.entry()) {}

Host::Host(CharWidth width, CorvaneEntryPoint entry) : width_(width), entry_(entry) {}

Host::~Host() {
  if (slot_ != nullptr && entry_ != nullptr) unload();
}

Host::Scope::Scope(Host& host) noexcept : previous_(tCurrent) { tCurrent = &host; }
Host::Scope::~Scope() { tCurrent = previous_; }

// --- messages ----------------------------------------------------------------

void Host::send(std::int32_t rawMessage) {
  if (static_cast<std::int16_t>(rawMessage & 0xFFFF) == kCvMsgExecute) {
    fields_.erase(kCvFieldResult);
    resultWrites_ = 0;
  }
  if (entry_ == nullptr) return;
  Scope scope(*this);
  entry_(rawMessage, &slot_, 0, 0, 0, callback());
}

int Host::result() const {
  const auto it = fields_.find(kCvFieldResult);
  if (it == fields_.end()) return kNoResult;
  const double value = number(kCvFieldResult);
  if (!(value > static_cast<double>(INT_MIN) && value < static_cast<double>(INT_MAX))) return kNoResult;
  return static_cast<int>(value);
}

// --- fields ------------------------------------------------------------------

void Host::setText(std::int16_t field, std::u32string text) { fields_[field] = std::move(text); }

void Host::setNumber(std::int16_t field, double value) { fields_[field] = value; }

std::u32string Host::text(std::int16_t field) const {
  Value value = fieldValue(field);
  return value.isNumber ? formatNumber(value.number) : std::move(value.text);
}

double Host::number(std::int16_t field) const {
  const Value value = fieldValue(field);
  return value.isNumber ? value.number : parseNumber(value.text);
}

void Host::setList(std::int16_t field, std::vector<std::u32string> columns,
                   std::vector<std::vector<std::u32string>> rows) {
  StoredList stored;
  for (auto& row : rows) row.resize(columns.size());
  for (std::size_t i = 0; i < columns.size(); ++i) {
    const std::int16_t ref = registerName(columns[i]);
    if (ref != 0) stored.columnOf.emplace(ref, i);  // a repeated name keeps its first column
  }
  stored.list.columns = std::move(columns);
  stored.list.rows = std::move(rows);
  fields_[field] = std::move(stored);
}

const List& Host::list(std::int16_t field) const {
  const StoredList* stored = findList(field);
  if (stored == nullptr) throw std::logic_error("field " + std::to_string(field) + " holds no list");
  return stored->list;
}

bool Host::isList(std::int16_t field) const { return findList(field) != nullptr; }

Host::StoredList* Host::findList(std::int16_t field) {
  const auto it = fields_.find(field);
  return it == fields_.end() ? nullptr : std::get_if<StoredList>(&it->second);
}

const Host::StoredList* Host::findList(std::int16_t field) const {
  const auto it = fields_.find(field);
  return it == fields_.end() ? nullptr : std::get_if<StoredList>(&it->second);
}

Host::Value Host::fieldValue(std::int16_t field) const {
  Value value;
  const auto it = fields_.find(field);
  if (it == fields_.end()) return value;
  if (const auto* text = std::get_if<std::u32string>(&it->second)) {
    value.text = *text;
  } else if (const auto* number = std::get_if<double>(&it->second)) {
    value.isNumber = true;
    value.number = *number;
  }
  return value;
}

void Host::storeField(std::int16_t field, Value value) {
  if (value.isNumber)
    fields_[field] = value.number;
  else
    fields_[field] = std::move(value.text);
  if (field == kCvFieldResult) ++resultWrites_;
}

// --- names -------------------------------------------------------------------

std::int16_t Host::registerName(const std::u32string& name) {
  const auto it = references_.find(name);
  if (it != references_.end()) return it->second;
  if (nextReference_ > INT16_MAX) return 0;  // out of references: the name stays unknown
  const auto ref = static_cast<std::int16_t>(nextReference_++);
  references_.emplace(name, ref);
  return ref;
}

std::int16_t Host::reference(std::u32string_view name) const {
  const std::u32string key(name);
  if (unknownNames_.count(key) != 0) return 0;
  if (key == U"#LN") return kLineCountRef;
  const auto it = references_.find(key);
  if (it == references_.end()) return 0;
  for (const auto& entry : fields_) {
    const auto* stored = std::get_if<StoredList>(&entry.second);
    if (stored != nullptr && stored->columnOf.count(it->second) != 0) return it->second;
  }
  return 0;
}

void Host::setNameUnknown(const std::u32string& name, bool unknown) {
  if (unknown)
    unknownNames_.insert(name);
  else
    unknownNames_.erase(name);
}

// --- design record -----------------------------------------------------------

void Host::setDesignKind(std::int16_t kind) noexcept {
  std::memcpy(design_.data() + kCvDesignKind, &kind, sizeof kind);
}

std::int16_t Host::designKind() const noexcept {
  std::int16_t kind = 0;
  std::memcpy(&kind, design_.data() + kCvDesignKind, sizeof kind);
  return kind;
}

std::uint32_t Host::designCount() const noexcept {
  return readUnit(design_.data() + kCvDesignCount, width_, 0);
}

std::u32string Host::designText() const {
  const std::size_t offset =
      width_ == CharWidth::Unicode ? kCvDesignTextUnicode : kCvDesignTextByte;
  return readTerminated(design_.data() + offset, width_,
                        (design_.size() - offset) / unitBytes(width_));
}

std::int16_t Host::designFlagValue() const noexcept {
  std::int16_t flag = 0;
  std::memcpy(&flag, design_.data() + kCvDesignFlag, sizeof flag);
  return flag;
}

// --- statistics --------------------------------------------------------------

void Host::setProgress(std::function<void(std::uint64_t)> progress, std::uint64_t every) {
  progress_ = std::move(progress);
  progressEvery_ = every;
}

void Host::countCell(bool written) {
  if (written)
    ++stats_.cellsWritten;
  else
    ++stats_.cellsRead;
  const std::uint64_t total = stats_.cellsRead + stats_.cellsWritten;
  if (progress_ && progressEvery_ != 0 && total % progressEvery_ == 0) progress_(total);
}

// --- values crossing the boundary --------------------------------------------

// How many of `length` characters a text read writes: at most the maximum,
// or with overrunMaximaBy that many more (counted when it takes them), never
// more than the form holds.
std::size_t Host::writtenChars(std::size_t length, std::size_t maximum, std::size_t form) {
  if (faults_.overrunMaximaBy <= 0 || length <= maximum) return std::min(length, maximum);
  ++faultCounts_.overrunTexts;
  return std::min({length, maximum + static_cast<std::size_t>(faults_.overrunMaximaBy), form});
}

bool Host::deliver(const Value& value, std::int16_t kind, std::int32_t maximum, void* destination) {
  if (destination == nullptr) return false;
  switch (kind) {
    case kCvKindDouble: {
      const double number = value.isNumber ? value.number : parseNumber(value.text);
      std::memcpy(destination, &number, sizeof number);
      return true;
    }
    case kCvKindShortString: {
      // The count, then at most 15 characters, never more than the maximum.
      const std::u32string text = value.isNumber ? formatNumber(value.number) : value.text;
      const std::size_t room = static_cast<std::size_t>(std::clamp<std::int32_t>(maximum, 0, 15));
      const std::size_t n = writtenChars(text.size(), room, 255);
      writeUnit(destination, width_, 0, static_cast<char32_t>(n));
      writeUnits(static_cast<unsigned char*>(destination) + unitBytes(width_), width_, text.data(), n);
      return true;
    }
    case kCvKindString: {
      // At most `maximum` characters, then the terminator; longer texts are
      // cut there.
      const std::u32string text = value.isNumber ? formatNumber(value.number) : value.text;
      const std::size_t room = maximum > 0 ? static_cast<std::size_t>(maximum) : 0;
      const std::size_t n = writtenChars(text.size(), room, text.size());
      writeUnits(destination, width_, text.data(), n);
      writeUnit(destination, width_, n, 0);
      return true;
    }
    case kCvKindLength: {
      const std::size_t length = value.isNumber ? formatNumber(value.number).size() : value.text.size();
      std::int32_t reported = clampLength(length);
      if (faults_.forcedLength) {
        reported = *faults_.forcedLength;
        ++faultCounts_.fakedLengths;
      } else if (faults_.lengthShortBy != 0) {
        reported = static_cast<std::int32_t>(static_cast<std::int64_t>(reported) - faults_.lengthShortBy);
        ++faultCounts_.fakedLengths;
      }
      std::memcpy(destination, &reported, sizeof reported);
      return true;
    }
    case kCvKindHandle:
      return deliverHandle(value.isNumber ? formatNumber(value.number) : value.text,
                           static_cast<Handle*>(destination));
    default:
      return false;
  }
}

// The plug-in passes the address of its handle variable.  Its block has room
// for the characters; the host makes room for the 32-bit count in front of
// them, writes count and characters (no terminator) and stores the block it
// used back into the variable.
bool Host::deliverHandle(const std::u32string& text, Handle* variable) {
  if (faults_.dropHandle) {
    disposeHandle(*variable);
    *variable = nullptr;
    ++faultCounts_.droppedHandles;
    return true;
  }
  if (*variable == nullptr) return false;
  const std::uint64_t needed64 = 4 + static_cast<std::uint64_t>(text.size()) * unitBytes(width_);
  if (needed64 > kMaxHandleSize) return false;
  const auto needed = static_cast<std::size_t>(needed64);

  if (faults_.replaceHandle) {
    Handle fresh = newHandle(needed);
    if (fresh == nullptr) return false;
    disposeHandle(*variable);
    *variable = fresh;
    ++faultCounts_.replacedHandles;
  } else if (faults_.exactHandleSize) {
    if (!resizeHandle(variable, needed)) return false;
    ++faultCounts_.exactHandles;
  } else if (handleSize(*variable) < needed) {
    if (!resizeHandle(variable, needed)) return false;
    ++stats_.handlesGrown;
  }

  LockedHandle locked(*variable);
  if (!locked) return false;
  const std::int32_t count = static_cast<std::int32_t>(text.size());
  std::memcpy(locked.data(), &count, sizeof count);
  writeUnits(locked.data() + 4, width_, text.data(), text.size());
  return true;
}

std::optional<Host::Value> Host::receive(std::int16_t kind, const void* value) const {
  if (value == nullptr) return std::nullopt;
  Value out;
  switch (kind) {
    case kCvKindDouble:
      out.isNumber = true;
      std::memcpy(&out.number, value, sizeof out.number);
      return out;
    case kCvKindShortString: {
      const std::size_t count = std::min<std::size_t>(readUnit(value, width_, 0), 255);
      out.text = readUnits(static_cast<const unsigned char*>(value) + unitBytes(width_), width_, count);
      return out;
    }
    case kCvKindString:
      out.text = readTerminated(value, width_);
      return out;
    case kCvKindHandle: {
      // The address of a handle variable whose block holds count + characters.
      const Handle handle = *static_cast<const Handle*>(value);
      const std::size_t size = handleSize(handle);
      if (handle == nullptr || size < 4) return std::nullopt;
      LockedHandle locked(handle);
      if (!locked) return std::nullopt;
      std::int32_t count = 0;
      std::memcpy(&count, locked.data(), sizeof count);
      const std::size_t fits = (size - 4) / unitBytes(width_);
      const std::size_t n = count < 0 ? 0 : std::min(static_cast<std::size_t>(count), fits);
      out.text = readUnits(locked.data() + 4, width_, n);
      return out;
    }
    default:
      return std::nullopt;
  }
}

// --- the operations ------------------------------------------------------------

std::int32_t Host::getFldRef(const void* name) {
  if (name == nullptr) return 0;
  // Unit 0 is the count.  The name form holds at most 255 characters, so a
  // larger count (garbage in a 32-bit unit) is not followed past that.
  const std::size_t count = std::min<std::size_t>(readUnit(name, width_, 0), 255);
  const std::u32string text =
      readUnits(static_cast<const unsigned char*>(name) + unitBytes(width_), width_, count);
  return reference(text);
}

std::int32_t Host::getFldInt(std::int16_t field, double* out) {
  if (out == nullptr) return 0;
  *out = number(field);
  return 1;
}

std::int32_t Host::setFldVal(std::int16_t field, std::int16_t kind, const void* value) {
  auto received = receive(kind, value);
  if (!received) return 0;
  storeField(field, std::move(*received));
  return 1;
}

std::int32_t Host::setFldInt(std::int16_t field, const double* value) {
  if (value == nullptr) return 0;
  Value v;
  v.isNumber = true;
  v.number = *value;
  storeField(field, std::move(v));
  return 1;
}

std::int32_t Host::getFldVal(std::int16_t field, std::int16_t kind, std::int32_t maximum,
                             void* destination) {
  return deliver(fieldValue(field), kind, maximum, destination) ? 1 : 0;
}

std::int32_t Host::getLstVal(std::int16_t list, std::int16_t column, std::int16_t kind,
                             void* destination, const std::int32_t* rowAndMaximum) {
  if (rowAndMaximum == nullptr) return 0;
  const std::int32_t row = rowAndMaximum[0];
  const std::int32_t maximum = rowAndMaximum[1];
  const StoredList* stored = findList(list);
  Value value;
  if (column == kLineCountRef) {
    value.isNumber = true;
    value.number = stored != nullptr ? static_cast<double>(stored->list.rows.size()) : 0.0;
    return deliver(value, kind, maximum, destination) ? 1 : 0;
  }
  bool found = false;
  if (stored != nullptr && row >= 1 && static_cast<std::size_t>(row) <= stored->list.rows.size()) {
    const auto at = stored->columnOf.find(column);
    if (at != stored->columnOf.end()) {
      value.text = stored->list.rows[static_cast<std::size_t>(row) - 1][at->second];
      found = true;
    }
  }
  const bool ok = deliver(value, kind, maximum, destination);
  if (found) countCell(false);
  return ok && found ? 1 : 0;
}

std::int32_t Host::setLstVal(std::int16_t list, std::int32_t row, std::int16_t column,
                             std::int16_t kind, const void* value) {
  StoredList* stored = findList(list);
  if (stored == nullptr || row < 1 || static_cast<std::size_t>(row) > stored->list.rows.size()) return 0;
  const auto at = stored->columnOf.find(column);
  if (at == stored->columnOf.end()) return 0;
  auto received = receive(kind, value);
  if (!received) return 0;
  stored->list.rows[static_cast<std::size_t>(row) - 1][at->second] =
      received->isNumber ? formatNumber(received->number) : std::move(received->text);
  countCell(true);
  return 1;
}

std::int32_t Host::doListOp(std::int16_t operation, std::int16_t list, std::int32_t number) {
  StoredList* stored = findList(list);
  if (stored == nullptr) return 0;
  switch (operation) {
    case kCvListClear:
      stored->list.rows.clear();
      break;
    case kCvListSetLines: {
      std::int64_t lines = number;
      if (faults_.lineCountDelta != 0) {
        lines += faults_.lineCountDelta;
        ++faultCounts_.lineCountDeltas;
      }
      lines = std::max<std::int64_t>(lines, 0);
      if (lines > limits_.maxLines) return 0;
      stored->list.rows.resize(static_cast<std::size_t>(lines),
                               std::vector<std::u32string>(stored->list.columns.size()));
      break;
    }
    default:
      return 0;
  }
  if (faults_.listOpHighBitsOnly) {
    ++faultCounts_.listOpHighBits;
    return 0x100;
  }
  return 1;
}

std::int32_t Host::getPackageId(std::int32_t* out) {
  if (out == nullptr) return 0;
  *out = command_;
  return 1;
}

std::int32_t Host::getDesignPtr(void** out) {
  if (out == nullptr) return 0;
  *out = design_.data();
  return 1;
}

// The maximum is a byte count in a 16-bit slot (64,000 arrives as -1536).
// The host writes the definition zero-terminated and never more than that
// many bytes, terminator included; a longer definition is cut.
std::int32_t Host::getListDef(std::int16_t list, std::int16_t maximum, void* destination) {
  if (destination == nullptr) return 0;
  const std::size_t room = static_cast<std::uint16_t>(maximum) / unitBytes(width_);
  if (room == 0) return 0;
  std::u32string definition;
  if (faults_.listDefinition) {
    definition = *faults_.listDefinition;
    ++faultCounts_.forcedDefinitions;
  } else if (const StoredList* stored = findList(list)) {
    definition = join(stored->list.columns, U',');
  }
  if (faults_.overrunMaximaBy > 0 && definition.size() >= room) {
    // The whole buffer, not one character kept for the terminator.
    writeUnits(destination, width_, definition.data(), room);
    ++faultCounts_.overrunTexts;
    return 1;
  }
  const std::size_t n = std::min(definition.size(), room - 1);
  writeUnits(destination, width_, definition.data(), n);
  writeUnit(destination, width_, n, 0);
  return 1;
}

std::int32_t Host::dispatch(std::int32_t op, std::va_list& args) {
  if (op >= 0 && static_cast<std::size_t>(op) < stats_.calls.size())
    ++stats_.calls[static_cast<std::size_t>(op)];
  auto s16 = [&args]() { return static_cast<std::int16_t>(va_arg(args, int)); };
  auto s32 = [&args]() { return static_cast<std::int32_t>(va_arg(args, std::int32_t)); };
  auto ptr = [&args]() { return va_arg(args, void*); };
  switch (op) {
    case kCvOpGetFldRef:
      return getFldRef(ptr());
    case kCvOpGetFldInt: {
      const std::int16_t field = s16();
      return getFldInt(field, static_cast<double*>(ptr()));
    }
    case kCvOpSetFldVal: {
      const std::int16_t field = s16();
      const std::int16_t kind = s16();
      return setFldVal(field, kind, ptr());
    }
    case kCvOpSetFldInt: {
      const std::int16_t field = s16();
      return setFldInt(field, static_cast<const double*>(ptr()));
    }
    case kCvOpGetFldVal: {
      const std::int16_t field = s16();
      const std::int16_t kind = s16();
      const std::int32_t maximum = s32();
      return getFldVal(field, kind, maximum, ptr());
    }
    case kCvOpGetLstVal: {
      const std::int16_t list = s16();
      const std::int16_t column = s16();
      const std::int16_t kind = s16();
      void* destination = ptr();
      return getLstVal(list, column, kind, destination, static_cast<const std::int32_t*>(ptr()));
    }
    case kCvOpSetLstVal: {
      const std::int16_t list = s16();
      const std::int32_t row = s32();
      const std::int16_t column = s16();
      const std::int16_t kind = s16();
      return setLstVal(list, row, column, kind, ptr());
    }
    case kCvOpDoListOp: {
      const std::int16_t operation = s16();
      const std::int16_t list = s16();
      return doListOp(operation, list, s32());
    }
    case kCvOpGetPackageId:
      return getPackageId(static_cast<std::int32_t*>(ptr()));
    case kCvOpGetDesignPtr:
      return getDesignPtr(static_cast<void**>(ptr()));
    case kCvOpGetListDef: {
      const std::int16_t list = s16();
      const std::int16_t maximum = s16();
      return getListDef(list, maximum, ptr());
    }
    default:
      ++stats_.unknownCalls;
      return 0;
  }
}

}  // namespace corvane::host

// The plug-in is built without exceptions: nothing may leave this function
// by throwing.  A call the host cannot complete answers 0.
extern "C" int32_t corvane_host_callback(int32_t op, ...) {
  corvane::host::Host* host = corvane::host::tCurrent;
  if (host == nullptr) return 0;
  std::va_list args;
  va_start(args, op);
  int32_t result = 0;
  try {
    result = host->dispatch(op, args);
  } catch (...) {
    ++host->stats_.failedCalls;
    result = 0;
  }
  va_end(args);
  return result;
}
