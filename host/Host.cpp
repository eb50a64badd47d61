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
double parseNumber(std::u32string_view text) {
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
    clearField(kCvFieldResult);
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

Host::Field& Host::fieldSlot(std::int16_t field) {
  cachedList_ = nullptr;
  if (!snapshots_.empty()) snapshots_.erase(field);
  return fields_[field];
}

void Host::setText(std::int16_t field, std::u32string text) {
  Field& slot = fieldSlot(field);
  if (auto* buffer = std::get_if<TextBuffer>(&slot))
    buffer->assign(text);
  else
    slot.emplace<TextBuffer>(text);
}

void Host::assignText(std::int16_t field, std::u32string_view text) {
  Field& slot = fieldSlot(field);
  if (auto* buffer = std::get_if<TextBuffer>(&slot))
    buffer->assign(text);
  else
    slot.emplace<TextBuffer>(text);
}

char32_t* Host::textRoom(std::int16_t field, std::size_t most) {
  Field& slot = fieldSlot(field);
  auto* buffer = std::get_if<TextBuffer>(&slot);
  if (buffer == nullptr) buffer = &slot.emplace<TextBuffer>();
  return buffer->resize(most, 0);
}

void Host::setNumber(std::int16_t field, double value) { fieldSlot(field) = value; }

void Host::clearField(std::int16_t field) {
  cachedList_ = nullptr;
  fields_.erase(field);
  snapshots_.erase(field);
}

std::u32string Host::text(std::int16_t field) const {
  const ValueView value = fieldValue(field);
  return value.isNumber ? formatNumber(value.number) : std::u32string(value.text);
}

std::u32string_view Host::textView(std::int16_t field) const {
  const ValueView value = fieldValue(field);
  return value.isNumber ? std::u32string_view() : value.text;
}

double Host::number(std::int16_t field) const {
  const ValueView value = fieldValue(field);
  return value.isNumber ? value.number : parseNumber(value.text);
}

void Host::setList(std::int16_t field, std::vector<std::u32string> columns,
                   std::vector<std::vector<std::u32string>> rows) {
  CellList list(std::move(columns));
  std::size_t characters = 0;
  for (const auto& row : rows)
    for (std::size_t c = 0; c < row.size() && c < list.columnCount(); ++c) characters += row[c].size();
  list.reserve(rows.size(), characters);
  for (const auto& row : rows) list.appendRow(row);
  setList(field, std::move(list));
}

void Host::setList(std::int16_t field, CellList list) {
  StoredList stored;
  const auto& columns = list.columns();
  for (std::size_t i = 0; i < columns.size(); ++i) {
    const std::int16_t ref = registerName(columns[i]);
    if (ref == 0) continue;
    const auto at = static_cast<std::size_t>(ref - kFirstColumnRef);
    if (at >= stored.columnOfRef.size()) stored.columnOfRef.resize(at + 1, -1);
    // A repeated name keeps its first column.
    if (stored.columnOfRef[at] < 0) stored.columnOfRef[at] = static_cast<std::int32_t>(i);
  }
  stored.cells = std::move(list);
  stored.id = nextListId_++;
  fieldSlot(field) = std::move(stored);
}

CellList& Host::emptyList(std::int16_t field, const std::vector<std::u32string>& columns) {
  StoredList* stored = findList(field);
  if (stored == nullptr || stored->cells.columns() != columns) {
    setList(field, CellList(columns));
    return editCells(field);
  }
  fieldSlot(field);  // forgets the list's string form and the cached lookup
  stored->cells.clearRows();
  stored->id = nextListId_++;
  return stored->cells;
}

namespace {
[[noreturn]] void noList(std::int16_t field) {
  throw std::logic_error("field " + std::to_string(field) + " holds no list");
}
}  // namespace

const List& Host::list(std::int16_t field) const {
  const StoredList* stored = findList(field);
  if (stored == nullptr) noList(field);
  Snapshot& snapshot = snapshots_[field];
  if (snapshot.id != stored->id || snapshot.changes != stored->cells.changes()) {
    snapshot.list.columns = stored->cells.columns();
    snapshot.list.rows = stored->cells.toRows();
    snapshot.id = stored->id;
    snapshot.changes = stored->cells.changes();
  }
  return snapshot.list;
}

const CellList& Host::cells(std::int16_t field) const {
  const StoredList* stored = findList(field);
  if (stored == nullptr) noList(field);
  return stored->cells;
}

CellList& Host::editCells(std::int16_t field) {
  StoredList* stored = findList(field);
  if (stored == nullptr) noList(field);
  return stored->cells;
}

bool Host::isList(std::int16_t field) const { return findList(field) != nullptr; }

Host::StoredList* Host::findList(std::int16_t field) {
  if (cachedList_ != nullptr && cachedField_ == field) return cachedList_;
  const auto it = fields_.find(field);
  StoredList* stored = it == fields_.end() ? nullptr : std::get_if<StoredList>(&it->second);
  if (stored != nullptr) {
    cachedField_ = field;
    cachedList_ = stored;
  }
  return stored;
}

const Host::StoredList* Host::findList(std::int16_t field) const {
  const auto it = fields_.find(field);
  return it == fields_.end() ? nullptr : std::get_if<StoredList>(&it->second);
}

Host::ValueView Host::fieldValue(std::int16_t field) const {
  ValueView value;
  const auto it = fields_.find(field);
  if (it == fields_.end()) return value;
  if (const auto* text = std::get_if<TextBuffer>(&it->second)) {
    value.text = text->view();
  } else if (const auto* number = std::get_if<double>(&it->second)) {
    value.isNumber = true;
    value.number = *number;
  }
  return value;
}

void Host::storeField(std::int16_t field, const Incoming& in) {
  Field& slot = fieldSlot(field);
  if (in.isNumber) {
    slot = in.number;
  } else {
    auto* buffer = std::get_if<TextBuffer>(&slot);
    if (buffer == nullptr) buffer = &slot.emplace<TextBuffer>();
    try {
      receiveInto(in, *buffer);
    } catch (...) {
      buffer->resize(0, 0);  // no half text: the call fails with the field empty
      throw;
    }
  }
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
    if (stored != nullptr && stored->column(it->second) >= 0) return it->second;
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
  const std::size_t offset = width_ == CharWidth::Unicode ? kCvDesignTextUnicode : kCvDesignTextByte;
  return readTerminated(design_.data() + offset, width_, (design_.size() - offset) / unitBytes(width_));
}

std::int16_t Host::designFlagValue() const noexcept {
  std::int16_t flag = 0;
  std::memcpy(&flag, design_.data() + kCvDesignFlag, sizeof flag);
  return flag;
}

// --- statistics --------------------------------------------------------------

void Host::setProgress(std::function<void(std::uint64_t)> progress, std::uint64_t every) {
  progress_ = std::move(progress);
  progressEvery_ = progress_ ? every : 0;
}

void Host::countCell(bool written) {
  if (written)
    ++stats_.cellsWritten;
  else
    ++stats_.cellsRead;
  if (progressEvery_ != 0) {
    const std::uint64_t total = stats_.cellsRead + stats_.cellsWritten;
    if (total % progressEvery_ == 0) progress_(total);
  }
}

// --- values crossing the boundary --------------------------------------------

std::size_t Host::putText(void* destination, std::u32string_view text, std::size_t room) noexcept {
  // A text of megabytes (a whole text delivered into a block) does not stay
  // in the cache anyway: it is stored past it.
  constexpr std::size_t kLongTextBytes = 8 << 20;
  const std::size_t n = std::min(text.size(), room);
  if (n * unitBytes(width_) >= kLongTextBytes)
    writeUnitsStreaming(destination, width_, text.data(), n);
  else
    writeUnits(destination, width_, text.data(), n);
  return n;
}

std::size_t Host::writtenChars(std::size_t length, std::size_t maximum, std::size_t form) {
  if (faults_.overrunMaximaBy <= 0 || length <= maximum) return std::min(length, maximum);
  ++faultCounts_.overrunTexts;
  return std::min({length, maximum + static_cast<std::size_t>(faults_.overrunMaximaBy), form});
}

bool Host::deliver(const ValueView& value, std::int16_t kind, std::int32_t maximum, void* destination) {
  if (destination == nullptr) return false;
  if (value.isNumber && kind == kCvKindDouble) {
    std::memcpy(destination, &value.number, sizeof value.number);
    return true;
  }
  if (value.isNumber) return deliverText(formatNumber(value.number), kind, maximum, destination);
  return deliverText(value.text, kind, maximum, destination);
}

bool Host::deliverText(std::u32string_view text, std::int16_t kind, std::int32_t maximum, void* destination) {
  switch (kind) {
    case kCvKindDouble: {
      const double number = parseNumber(text);
      std::memcpy(destination, &number, sizeof number);
      return true;
    }
    case kCvKindString: {
      // At most `maximum` characters, then the terminator; longer texts are
      // cut there.
      const std::size_t room = maximum > 0 ? static_cast<std::size_t>(maximum) : 0;
      const std::size_t n = putText(destination, text, writtenChars(text.size(), room, text.size()));
      writeUnit(destination, width_, n, 0);
      return true;
    }
    case kCvKindShortString: {
      // The count, then at most 15 characters, never more than the maximum.
      const std::size_t room =
          static_cast<std::size_t>(std::clamp<std::int32_t>(maximum, 0, kCvShortStringChars));
      const std::size_t n = writtenChars(text.size(), room, kCvCountedChars);
      writeUnit(destination, width_, 0, static_cast<char32_t>(n));
      putText(static_cast<unsigned char*>(destination) + unitBytes(width_), text, n);
      return true;
    }
    case kCvKindLength: {
      std::int32_t reported = clampLength(text.size());
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
      return deliverHandle(text, static_cast<Handle*>(destination));
    default:
      return false;
  }
}

// The plug-in passes the address of its handle variable.  Its block has room
// for the characters; the host makes room for the 32-bit count in front of
// them, writes count and characters (no terminator) and stores the block it
// used back into the variable.
bool Host::deliverHandle(std::u32string_view text, Handle* variable) {
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
    if (!renewHandle(variable, needed)) return false;
    ++stats_.handlesGrown;
  }

  LockedHandle locked(*variable);
  if (!locked) return false;
  const std::int32_t count = static_cast<std::int32_t>(text.size());
  std::memcpy(locked.data(), &count, sizeof count);
  putText(locked.data() + 4, text, text.size());
  return true;
}

bool Host::receive(std::int16_t kind, const void* value, Incoming& in) const {
  if (value == nullptr) return false;
  switch (kind) {
    case kCvKindDouble:
      in.isNumber = true;
      std::memcpy(&in.number, value, sizeof in.number);
      return true;
    case kCvKindShortString:
      in.count = std::min<std::size_t>(readUnit(value, width_, 0), kCvCountedChars);
      in.units = static_cast<const unsigned char*>(value) + unitBytes(width_);
      return true;
    case kCvKindString:
      in.count = kTerminated;
      in.units = value;
      return true;
    case kCvKindHandle: {
      // The address of a handle variable whose block holds count + characters.
      const Handle handle = *static_cast<const Handle*>(value);
      const std::size_t size = handleSize(handle);
      if (handle == nullptr || size < 4) return false;
      in.lock.emplace(handle);
      if (!*in.lock) return false;
      std::int32_t count = 0;
      std::memcpy(&count, in.lock->data(), sizeof count);
      const std::size_t fits = (size - 4) / unitBytes(width_);
      in.count = count < 0 ? 0 : std::min(static_cast<std::size_t>(count), fits);
      in.units = in.lock->data() + 4;
      return true;
    }
    default:
      return false;
  }
}

void Host::receiveInto(const Incoming& in, TextBuffer& out) const {
  if (in.isNumber) {
    out.assign(formatNumber(in.number));
    return;
  }
  // A text too long to stay in the cache (16 MB and more) is stored past
  // it: its lines need not be read in to be overwritten.  A shorter one,
  // such as a batch's result, stays there for whoever reads it next.
  constexpr std::size_t kLongText = std::size_t{1} << 22;
  if (in.count != kTerminated) {
    char32_t* text = out.resize(in.count, 0);
    if (in.count >= kLongText)
      readUnitsStreaming(text, in.units, width_, in.count);
    else
      readUnitsInto(text, in.units, width_, in.count);
    return;
  }
  // A stretch at a time: each is still in the cache when it is copied.
  constexpr std::size_t kStretch = 4096;
  const auto* source = static_cast<const unsigned char*>(in.units);
  const std::size_t unit = unitBytes(width_);
  std::size_t n = 0;
  for (;;) {
    const std::size_t length = terminatedLength(source + n * unit, width_, kStretch);
    char32_t* text = out.resize(n + length, n);
    if (n >= kLongText)
      readUnitsStreaming(text + n, source + n * unit, width_, length);
    else
      readUnitsInto(text + n, source + n * unit, width_, length);
    n += length;
    if (length < kStretch) return;
  }
}

// --- the operations ------------------------------------------------------------

std::int32_t Host::getFldRef(const void* name) {
  if (name == nullptr) return 0;
  // Unit 0 is the count.  The name form holds at most 255 characters, so a
  // larger count (garbage in a 32-bit unit) is not followed past that.
  const std::size_t count = std::min<std::size_t>(readUnit(name, width_, 0), kCvCountedChars);
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
  Incoming in;
  if (!receive(kind, value, in)) return 0;
  storeField(field, in);
  return 1;
}

std::int32_t Host::setFldInt(std::int16_t field, const double* value) {
  if (value == nullptr) return 0;
  Incoming in;
  in.isNumber = true;
  in.number = *value;
  storeField(field, in);
  return 1;
}

std::int32_t Host::getFldVal(std::int16_t field, std::int16_t kind, std::int32_t maximum, void* destination) {
  return deliver(fieldValue(field), kind, maximum, destination) ? 1 : 0;
}

std::int32_t Host::getLstVal(std::int16_t list, std::int16_t column, std::int16_t kind, void* destination,
                             const std::int32_t* rowAndMaximum) {
  if (rowAndMaximum == nullptr) return 0;
  const std::int32_t row = rowAndMaximum[0];
  const std::int32_t maximum = rowAndMaximum[1];
  const StoredList* stored = findList(list);
  ValueView value;
  if (column == kLineCountRef) {
    value.isNumber = true;
    value.number = stored != nullptr ? static_cast<double>(stored->cells.rowCount()) : 0.0;
    return deliver(value, kind, maximum, destination) ? 1 : 0;
  }
  const std::int32_t at =
      stored != nullptr && row >= 1 && static_cast<std::size_t>(row) <= stored->cells.rowCount()
          ? stored->column(column)
          : -1;
  if (at < 0) {
    deliver(value, kind, maximum, destination);  // an empty text
    return 0;
  }
  value.text = stored->cells.cell(static_cast<std::size_t>(row) - 1, static_cast<std::size_t>(at));
  bool ok = destination != nullptr;
  if (ok && kind == kCvKindString && faults_.overrunMaximaBy <= 0) {
    // What the commands read, the short way: at most `maximum` characters,
    // then the terminator.
    const std::size_t n = std::min<std::size_t>(value.text.size(), maximum > 0 ? maximum : 0);
#ifdef __SSE2__
    // The list's arena may be read past a cell's end.
    const bool inBlocks = value.text.data() != nullptr &&
                          writeTerminatedBlocks(destination, width_, value.text.data(), n,
                                                static_cast<std::size_t>(std::max(maximum, 0)) + 1);
#else
    const bool inBlocks = false;
#endif
    if (!inBlocks) {
      writeUnits(destination, width_, value.text.data(), n);
      writeUnit(destination, width_, n, 0);
    }
  } else if (ok) {
    ok = deliverText(value.text, kind, maximum, destination);
  }
  countCell(false);
  return ok ? 1 : 0;
}

std::int32_t Host::setLstVal(std::int16_t list, std::int32_t row, std::int16_t column, std::int16_t kind,
                             const void* value) {
  StoredList* stored = findList(list);
  if (stored == nullptr || row < 1 || static_cast<std::size_t>(row) > stored->cells.rowCount()) return 0;
  const std::int32_t at = stored->column(column);
  if (at < 0 || value == nullptr) return 0;
  const auto r = static_cast<std::size_t>(row) - 1;
  const auto c = static_cast<std::size_t>(at);
  if (kind == kCvKindString) {  // what the commands store: the short way
    const std::size_t n = terminatedLength(value, width_);
    readUnitsInto(stored->cells.prepareCell(r, c, n), value, width_, n);
    countCell(true);
    return 1;
  }
  Incoming in;
  if (!receive(kind, value, in)) return 0;
  if (in.isNumber) {
    stored->cells.setCell(r, c, formatNumber(in.number));
  } else {
    const std::size_t n = in.count == kTerminated ? terminatedLength(in.units, width_) : in.count;
    readUnitsInto(stored->cells.prepareCell(r, c, n), in.units, width_, n);
  }
  countCell(true);
  return 1;
}

std::int32_t Host::doListOp(std::int16_t operation, std::int16_t list, std::int32_t number) {
  StoredList* stored = findList(list);
  if (stored == nullptr) return 0;
  switch (operation) {
    case kCvListClear:
      stored->cells.clearRows();
      break;
    case kCvListSetLines: {
      std::int64_t lines = number;
      if (faults_.lineCountDelta != 0) {
        lines += faults_.lineCountDelta;
        ++faultCounts_.lineCountDeltas;
      }
      lines = std::max<std::int64_t>(lines, 0);
      if (lines > limits_.maxLines) return 0;
      stored->cells.resizeRows(static_cast<std::size_t>(lines));
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
    definition = join(stored->cells.columns(), U',');
  }
  if (faults_.overrunMaximaBy > 0 && definition.size() >= room) {
    // The whole buffer, not one character kept for the terminator.
    putText(destination, definition, room);
    ++faultCounts_.overrunTexts;
    return 1;
  }
  const std::size_t n = putText(destination, definition, room - 1);
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
