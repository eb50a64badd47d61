// Host.h - a host instance that drives a plug-in through its entry point.
//
// One Host is one instance of the host application with one instance slot.
// It keeps numbered fields (texts, numbers and lists), answers every callback
// operation of CorvaneAbi.h in the plug-in's character width, owns the design
// record, counts what it was asked to do, and can be told to misbehave in the
// ways a real host may (HostFaults) so that the plug-in's handling of them can
// be tested.
//
// The plug-in calls back only during an entry call, on the calling thread;
// the callback finds its Host through a thread-local pointer that each entry
// call sets.  A Host does not own its Plugin, which must outlive it.
#ifndef CORVANE_HOST_HOST_H
#define CORVANE_HOST_HOST_H

#include "CellList.h"
#include "corvane/CorvaneAbi.h"
#include "HostHandles.h"
#include "PluginFile.h"
#include "Text.h"
#include "TextBuffer.h"

#include <array>
#include <climits>
#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <variant>
#include <vector>

// The callback handed to every entry call.  Declared here so that Host can
// name it as a friend.
extern "C" int32_t corvane_host_callback(int32_t op, ...);

namespace corvane::host {

// A host list as plain strings: named columns and rows of text cells.  Every
// row has one cell per column.  The host keeps its lists as CellList; this
// form is made from one on request (Host::list).
struct List {
  std::vector<std::u32string> columns;
  std::vector<std::vector<std::u32string>> rows;
};

// Misbehaviours a test can switch on.  Each one is counted in
// HostFaultCounts whenever it changes an answer.
struct HostFaults {
  // DoListOp answers 0x100 instead of 1: only the low byte counts, so the
  // plug-in must read it as false.  The operation is still carried out.
  bool listOpHighBitsOnly = false;
  // DoListOp 6 sets n + delta lines instead of n (never fewer than 0).
  int32_t lineCountDelta = 0;
  // A kind 8 read frees the plug-in's block and stores null in its variable.
  bool dropHandle = false;
  // A kind 8 read delivers into a new block and frees the old one.
  bool replaceHandle = false;
  // A kind 8 read leaves the block exactly as large as the count plus the
  // characters, shrinking a larger one.
  bool exactHandleSize = false;
  // A kind 4 read reports this many characters fewer than the text has.
  int32_t lengthShortBy = 0;
  // A kind 4 read reports this value whatever the text (overrides
  // lengthShortBy), e.g. 0x7FFFFFFF or a negative number.
  std::optional<int32_t> forcedLength;
  // GetListDef writes this text instead of the list's column names.
  std::optional<std::u32string> listDefinition;
  // Texts are written past the maximum the plug-in gives, by up to this
  // many characters: string parameters and cells (kind 2) and short strings
  // (kind 1, never past the 255 characters the form holds).  The column
  // definition then fills the plug-in's whole buffer, with no terminator
  // when it is that long.  0: every maximum is obeyed.
  std::int32_t overrunMaximaBy = 0;
};

struct HostFaultCounts {
  std::uint64_t listOpHighBits = 0;
  std::uint64_t lineCountDeltas = 0;
  std::uint64_t droppedHandles = 0;
  std::uint64_t replacedHandles = 0;
  std::uint64_t exactHandles = 0;
  std::uint64_t fakedLengths = 0;
  std::uint64_t forcedDefinitions = 0;
  std::uint64_t overrunTexts = 0;
};

struct HostStats {
  std::array<std::uint64_t, 64> calls{};  // by operation code
  std::uint64_t unknownCalls = 0;         // codes this host does not answer
  std::uint64_t failedCalls = 0;          // calls the host could not complete (e.g. out of memory)
  std::uint64_t cellsRead = 0;
  std::uint64_t cellsWritten = 0;
  std::uint64_t handlesGrown = 0;  // kind 8 reads that had to grow the block

  std::uint64_t callsOf(int32_t op) const noexcept {
    return op >= 0 && static_cast<std::size_t>(op) < calls.size() ? calls[static_cast<std::size_t>(op)] : 0;
  }
};

struct HostLimits {
  // DoListOp 6 with more lines than this fails (answers false, list unchanged).
  std::int32_t maxLines = 10'000'000;
};

class Host {
 public:
  // The reference GetFldRef gives for "#LN"; column references are above it.
  static constexpr std::int16_t kLineCountRef = 300;
  static constexpr std::int16_t kFirstColumnRef = 1001;
  // result() when field 200 holds nothing.
  static constexpr int kNoResult = INT_MIN;
  static constexpr std::size_t kDesignRecordSize = 4096;

  explicit Host(const Plugin& plugin);
  // A host without a plug-in (entry may be null) for driving the callback
  // directly.
  Host(CharWidth width, CorvaneEntryPoint entry);
  // Sends the unload message if the slot still holds something.
  ~Host();
  Host(const Host&) = delete;
  Host& operator=(const Host&) = delete;

  CharWidth width() const noexcept { return width_; }

  // --- messages -----------------------------------------------------------
  void load() { send(kCvMsgLoad); }
  // Clears field 200 and the write count first.
  void execute() { send(kCvMsgExecute); }
  void unload() { send(kCvMsgUnload); }
  void designHelp() { send(kCvMsgDesignHelp); }
  void designFlag() { send(kCvMsgDesignFlag); }
  // Any message value, passed as it is; one whose low 16 bits read 1 is an
  // execute and is prepared as execute() prepares it.
  void send(std::int32_t rawMessage);

  void* slot() const noexcept { return slot_; }
  // Field 200 as an integer (truncated), or kNoResult.
  int result() const;
  // How often field 200 was written during the last execute message.
  int resultWrites() const noexcept { return resultWrites_; }
  void setParamCount(int count) { setNumber(kCvFieldParamCount, count); }
  void setCommand(std::int32_t id) noexcept { command_ = id; }
  std::int32_t command() const noexcept { return command_; }

  // --- fields ---------------------------------------------------------------
  void setText(std::int16_t field, std::u32string text);
  // The same without a copy of its own: the field's memory is reused when
  // it held a text, so that a program which sets a long text call after
  // call does not allocate it each time.
  void assignText(std::int16_t field, std::u32string_view text);
  // Room for a text of at most `most` characters in the field, in the
  // memory assignText reuses: a text written there from its start and then
  // given to assignText is not copied again.
  char32_t* textRoom(std::int16_t field, std::size_t most);
  // The field's text; a number is formatted, a list or a missing field is "".
  std::u32string text(std::int16_t field) const;
  // The field's text without copying it, valid until the field changes;
  // empty for anything but a text.
  std::u32string_view textView(std::int16_t field) const;
  void setNumber(std::int16_t field, double value);
  // The field's number; a text is parsed, anything else is 0.
  double number(std::int16_t field) const;
  // Rows are padded or cut to the number of columns.
  void setList(std::int16_t field, std::vector<std::u32string> columns,
               std::vector<std::vector<std::u32string>> rows = {});
  // A list built elsewhere, e.g. filled in bulk with CellList::appendRow.
  void setList(std::int16_t field, CellList list);
  // An empty list of these columns in the field, to be filled in place; it
  // keeps the memory of the list the field held when that had the same
  // columns.  To the plug-in it is a new list.
  CellList& emptyList(std::int16_t field, const std::vector<std::u32string>& columns);
  // The list as strings.  They are made on the first call and made again
  // by a later call when the list has changed in between; the reference
  // stays valid until the field is given another value.  Throws
  // std::logic_error when the field holds no list (as do cells and
  // editCells).  Costs a string per cell: programs that handle large lists
  // read them through cells().
  const List& list(std::int16_t field) const;
  // The list itself: its cells as views, without copying.
  const CellList& cells(std::int16_t field) const;
  // The list itself, to fill or change in place (its columns stay).
  CellList& editCells(std::int16_t field);
  bool isList(std::int16_t field) const;
  bool hasField(std::int16_t field) const { return fields_.count(field) != 0; }
  void clearField(std::int16_t field);

  // --- field names ----------------------------------------------------------
  // What GetFldRef answers for a name: kLineCountRef for "#LN", the column's
  // reference for a column of any list, 0 otherwise.
  std::int16_t reference(std::u32string_view name) const;
  // Makes GetFldRef answer 0 for the name (or undoes that).
  void setNameUnknown(const std::u32string& name, bool unknown = true);

  // --- design record --------------------------------------------------------
  unsigned char* designRecord() noexcept { return design_.data(); }
  const unsigned char* designRecord() const noexcept { return design_.data(); }
  void resetDesignRecord(unsigned char fill = 0) noexcept { design_.fill(fill); }
  void setDesignKind(std::int16_t kind) noexcept;
  std::int16_t designKind() const noexcept;
  std::uint8_t designAnswered() const noexcept { return design_[kCvDesignAnswered]; }
  // The count at offset 10: one byte in the byte build, 32 bits in Unicode.
  std::uint32_t designCount() const noexcept;
  // The zero-terminated text at offset 11 (byte build) or 14 (Unicode).
  std::u32string designText() const;
  // The 16-bit value at offset 14 that message 4 sets.
  std::int16_t designFlagValue() const noexcept;

  // --- faults, limits, statistics -------------------------------------------
  HostFaults& faults() noexcept { return faults_; }
  const HostFaultCounts& faultCounts() const noexcept { return faultCounts_; }
  HostLimits& limits() noexcept { return limits_; }
  const HostStats& stats() const noexcept { return stats_; }
  void resetStats() noexcept { stats_ = HostStats{}; }
  // Called with the number of cells read and written so far, every `every`
  // cells.
  void setProgress(std::function<void(std::uint64_t)> progress, std::uint64_t every);

  // --- the callback itself --------------------------------------------------
  static HostCallback callback() noexcept { return &corvane_host_callback; }
  // Makes a host the one the callback answers for, for tests that play the
  // plug-in's part and call callback() themselves.
  class Scope {
   public:
    explicit Scope(Host& host) noexcept;
    ~Scope();
    Scope(const Scope&) = delete;
    Scope& operator=(const Scope&) = delete;

   private:
    Host* previous_;
  };

 private:
  friend int32_t(::corvane_host_callback)(int32_t op, ...);

  struct StoredList {
    CellList cells;
    // Column of each reference from kFirstColumnRef on, -1 for none.
    std::vector<std::int32_t> columnOfRef;
    std::uint64_t id = 0;  // unique in the host, for the List form

    // The column a reference names in this list, or -1.
    std::int32_t column(std::int16_t ref) const noexcept {
      const auto i = static_cast<std::size_t>(static_cast<std::int32_t>(ref) - kFirstColumnRef);
      return i < columnOfRef.size() ? columnOfRef[i] : -1;
    }
  };
  using Field = std::variant<TextBuffer, double, StoredList>;

  // A value as it leaves the host: a number or a view of a text.
  struct ValueView {
    bool isNumber = false;
    double number = 0;
    std::u32string_view text;
  };
  // A value the plug-in passes: a number, or `count` units at `units` in
  // the host's width (kept readable by `lock` when they are in a block).
  // A zero-terminated text has the count kTerminated until it is measured.
  static constexpr std::size_t kTerminated = SIZE_MAX;
  struct Incoming {
    bool isNumber = false;
    double number = 0;
    const void* units = nullptr;
    std::size_t count = 0;
    std::optional<LockedHandle> lock;
  };
  // The List form of a list, and what it was made from.
  struct Snapshot {
    std::uint64_t id = 0;
    std::uint64_t changes = 0;
    List list;
  };

  std::int32_t dispatch(std::int32_t op, std::va_list& args);

  std::int32_t getFldRef(const void* name);
  std::int32_t getFldInt(std::int16_t field, double* out);
  std::int32_t setFldVal(std::int16_t field, std::int16_t kind, const void* value);
  std::int32_t setFldInt(std::int16_t field, const double* value);
  std::int32_t getFldVal(std::int16_t field, std::int16_t kind, std::int32_t maximum, void* destination);
  std::int32_t getLstVal(std::int16_t list, std::int16_t column, std::int16_t kind, void* destination,
                         const std::int32_t* rowAndMaximum);
  std::int32_t setLstVal(std::int16_t list, std::int32_t row, std::int16_t column, std::int16_t kind,
                         const void* value);
  std::int32_t doListOp(std::int16_t operation, std::int16_t list, std::int32_t number);
  std::int32_t getPackageId(std::int32_t* out);
  std::int32_t getDesignPtr(void** out);
  std::int32_t getListDef(std::int16_t list, std::int16_t maximum, void* destination);

  // Writes a value in the given kind; false when the kind is not one the
  // host delivers or the destination is null.
  bool deliver(const ValueView& value, std::int16_t kind, std::int32_t maximum, void* destination);
  bool deliverText(std::u32string_view text, std::int16_t kind, std::int32_t maximum, void* destination);
  bool deliverHandle(std::u32string_view text, Handle* variable);
  // Every text the host writes into the plug-in's memory goes through here:
  // at most `room` characters of `text`, no terminator.  Returns the number
  // of characters written.
  std::size_t putText(void* destination, std::u32string_view text, std::size_t room) noexcept;
  // How many of `length` characters a text read writes: at most the
  // maximum, or with overrunMaximaBy that many more (counted when it takes
  // them), never more than the form holds.
  std::size_t writtenChars(std::size_t length, std::size_t maximum, std::size_t form);
  // Reads a value the plug-in passes in the given kind; false when the kind
  // is unknown or the value unreadable.
  bool receive(std::int16_t kind, const void* value, Incoming& in) const;
  // Copies an incoming text into `out`; a terminated one is measured and
  // copied in the same pass.
  void receiveInto(const Incoming& in, TextBuffer& out) const;
  // A view of the field's value, valid until the field changes.
  ValueView fieldValue(std::int16_t field) const;
  void storeField(std::int16_t field, const Incoming& in);
  // The field's slot, for replacing its value.
  Field& fieldSlot(std::int16_t field);
  StoredList* findList(std::int16_t field);
  const StoredList* findList(std::int16_t field) const;
  std::int16_t registerName(const std::u32string& name);
  void countCell(bool written);

  CharWidth width_;
  CorvaneEntryPoint entry_;
  void* slot_ = nullptr;
  std::int32_t command_ = 0;
  int resultWrites_ = 0;
  std::map<std::int16_t, Field> fields_;
  // The list the last list operation found: cell reads and writes ask for
  // the same list again and again.  Cleared whenever a field changes.
  std::int16_t cachedField_ = 0;
  StoredList* cachedList_ = nullptr;
  std::uint64_t nextListId_ = 1;
  mutable std::map<std::int16_t, Snapshot> snapshots_;
  std::unordered_map<std::u32string, std::int16_t> references_;
  std::unordered_set<std::u32string> unknownNames_;
  std::int32_t nextReference_ = kFirstColumnRef;
  alignas(16) std::array<unsigned char, kDesignRecordSize> design_{};
  HostFaults faults_;
  HostFaultCounts faultCounts_;
  HostLimits limits_;
  HostStats stats_;
  std::function<void(std::uint64_t)> progress_;
  std::uint64_t progressEvery_ = 0;
};

}  // namespace corvane::host

#endif
