// The message lifecycle of the entry point: load, execute, unload, design
// flag, in both builds, including every allocation failure of load.
#include <array>
#include <cstdarg>
#include <cstring>

#include "PluginFixture.h"

namespace cvtest {
namespace {

uint32_t stateOf(const Host& host) {
  uint32_t state = 0;
  std::memcpy(&state, host.slot(), sizeof state);
  return state;
}

class Lifecycle : public PluginTest {};

TEST_P(Lifecycle, LoadMakesAReadyBlockAndLoadingAgainKeepsIt) {
  void* first = host->slot();
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(stateOf(*host), CORVANE_STATE_COOL);
  host->load();
  EXPECT_EQ(host->slot(), first);

  Host counted(withFaults());
  Faults faults(withFaults());
  faults.count();
  counted.load();
  for (const char* site : {"instance block", "ScratchBuffer", "BigBuffer"})
    EXPECT_EQ(faults.passes(site), 1) << site;
  faults.count();
  counted.load();
  EXPECT_EQ(faults.points(), 0) << "a second load allocates nothing";
}

TEST_P(Lifecycle, ExecuteWithoutAReadyBlockReportsMinusOne) {
  Host fresh(shipped());
  EXPECT_EQ(fresh.slot(), nullptr);
  fresh.setCommand(kLts);
  fresh.setParamCount(2);
  fresh.execute();
  EXPECT_EQ(fresh.result(), -1);
  EXPECT_EQ(fresh.resultWrites(), 1);
}

TEST_P(Lifecycle, UnknownCommandNumbersRunNothingAndReportZero) {
  for (int32_t command : {0, 5, 6, -1, -32768, 0x10000}) {
    host->resetStats();
    EXPECT_EQ(run(command, 8), 0) << command;
    EXPECT_EQ(host->stats().callsOf(kCvOpGetListDef), 0u) << command;
  }
}

TEST_P(Lifecycle, OnlyTheLow16BitsOfTheMessageCount) {
  host->setCommand(77);
  host->setParamCount(2);
  host->send(0x10001);  // execute
  EXPECT_EQ(host->resultWrites(), 1);
  EXPECT_EQ(host->result(), 0);

  void* slot = host->slot();
  host->send(0xFFFF);   // -1: no message
  host->send(0x20000);  // 0: load on a ready slot changes nothing
  host->send(7);
  EXPECT_EQ(host->slot(), slot);
  host->send(0x10002);  // unload
  EXPECT_EQ(host->slot(), nullptr);
}

TEST_P(Lifecycle, UnloadTwiceIsHarmless) {
  host->unload();
  EXPECT_EQ(host->slot(), nullptr);
  host->unload();
  EXPECT_EQ(host->slot(), nullptr);
  host->setCommand(kLts);
  host->execute();
  EXPECT_EQ(host->result(), -1);
}

TEST_P(Lifecycle, DesignFlagWritesOneAtOffset14) {
  host->resetDesignRecord(0xAB);
  host->designFlag();
  EXPECT_EQ(host->designFlagValue(), 1);
  EXPECT_EQ(host->designRecord()[13], 0xAB);
  EXPECT_EQ(host->designRecord()[16], 0xAB);
}

// A host whose design record is missing: it answers the command number and
// a null record, and counts what it was asked.
struct NoRecordHost {
  static inline std::array<int, 64> calls{};
  static int32_t callback(int32_t op, ...) {
    if (op >= 0 && op < 64) ++calls[static_cast<size_t>(op)];
    va_list args;
    va_start(args, op);
    if (op == kCvOpGetPackageId) *va_arg(args, int32_t*) = kStl;
    if (op == kCvOpGetDesignPtr) *va_arg(args, void**) = nullptr;
    va_end(args);
    return 1;
  }
};

// Nothing the host leaves out is followed: no callback, no instance slot,
// no design record.
TEST_P(Lifecycle, NullCallbackSlotAndDesignRecordAreNeverFollowed) {
  const CorvaneEntryPoint entry = shipped().entry();
  void* slot = host->slot();
  const uint32_t ready = stateOf(*host);
  // Without a callback only unload acts: it has nothing to report.
  for (int32_t message : {kCvMsgLoad, kCvMsgExecute, kCvMsgDesignHelp, kCvMsgDesignFlag}) {
    void* given = message == kCvMsgLoad ? nullptr : slot;
    entry(message, &given, 0, 0, 0, nullptr);
    EXPECT_EQ(given, message == kCvMsgLoad ? nullptr : slot) << message;
  }
  EXPECT_EQ(stateOf(*host), ready);
  void* other = nullptr;
  {
    Host::Scope scope(*host);
    entry(kCvMsgLoad, &other, 0, 0, 0, Host::callback());
  }
  ASSERT_NE(other, nullptr);
  entry(kCvMsgUnload, &other, 0, 0, 0, nullptr);
  EXPECT_EQ(other, nullptr);

  // Without a slot: execute reports -1, the others do nothing.
  host->resetStats();
  host->clearField(kCvFieldResult);
  {
    Host::Scope scope(*host);
    for (int32_t message : {kCvMsgLoad, kCvMsgUnload}) entry(message, nullptr, 0, 0, 0, Host::callback());
    uint64_t asked = 0;
    for (uint64_t n : host->stats().calls) asked += n;
    EXPECT_EQ(asked, 0u);
    entry(kCvMsgExecute, nullptr, 0, 0, 0, Host::callback());
  }
  EXPECT_EQ(host->result(), -1);
  EXPECT_EQ(host->stats().callsOf(kCvOpSetFldInt), 1u);
  EXPECT_EQ(host->slot(), slot);

  // Without a design record: asked for, then left alone.
  NoRecordHost::calls = {};
  entry(kCvMsgDesignHelp, &slot, 0, 0, 0, &NoRecordHost::callback);
  entry(kCvMsgDesignFlag, &slot, 0, 0, 0, &NoRecordHost::callback);
  EXPECT_EQ(NoRecordHost::calls[kCvOpGetDesignPtr], 2);
  EXPECT_EQ(NoRecordHost::calls[kCvOpGetPackageId], 1);
  int total = 0;
  for (int n : NoRecordHost::calls) total += n;
  EXPECT_EQ(total, 3) << "nothing else asked of the host";
  EXPECT_EQ(stateOf(*host), ready);
}

// Load with one allocation failing, and with every one from that on.
struct LoadFailure {
  const char* site;
  bool slotFilled;
  uint32_t state;
};

TEST_P(Lifecycle, EveryAllocationFailureOfLoadGivesItsState) {
  const LoadFailure cases[] = {
      {"instance block", false, 0},  // a beep, the slot stays empty
      {"ScratchBuffer", true, CORVANE_STATE_MERR},
      {"BigBuffer", true, CORVANE_STATE_MERR},
  };
  Faults faults(withFaults());
  std::vector<std::string> sites;  // of a load, in order
  {
    Host counted(withFaults());
    faults.count();
    counted.load();
    sites = faults.sites();
  }
  for (bool onward : {false, true}) {
    for (const auto& c : cases) {
      Host h(withFaults());
      if (onward) {
        const int32_t at = Faults::position(sites, c.site);
        ASSERT_GT(at, 0) << c.site << " is passed by a load";
        faults.failFrom(at);
      } else {
        ASSERT_TRUE(faults.fail(c.site));
      }
      h.load();
      faults.off();
      SCOPED_TRACE(testing::Message() << c.site << (onward ? " and every later point" : " only"));
      ASSERT_EQ(h.slot() != nullptr, c.slotFilled);
      if (!c.slotFilled) continue;
      EXPECT_EQ(stateOf(h), c.state);
      h.setCommand(kLts);
      h.setParamCount(2);
      h.execute();
      EXPECT_EQ(h.result(), -1) << "a block in MERR refuses every command";
      // Loading again replaces the unready block (the old one is released,
      // which the leak checks see) and reaches COOL.
      void* old = h.slot();
      h.load();
      EXPECT_NE(h.slot(), old);
      EXPECT_EQ(stateOf(h), CORVANE_STATE_COOL);
    }
  }
}

TEST_P(Lifecycle, ThousandsOfCyclesLeaveTheHeapAsTheyFoundIt) {
  if (const char* why = heapUncounted()) GTEST_SKIP() << why;
  auto cycle = [&](const Plugin& p) {
    Host h(p);
    h.setList(P1, {U"a", U"b"}, {{U"x", U"y"}});
    h.load();
    h.setCommand(kLts);
    h.setParamCount(2);
    h.execute();
    h.unload();
  };
  for (int i = 0; i < 50; ++i) cycle(shipped());  // warm up the host's own caches
  const size_t before = heapInUse();
  for (int i = 0; i < 3000; ++i) cycle(shipped());
  const size_t after = heapInUse();
  EXPECT_LE(after, before + 4096) << "bytes in use grew by " << after - before;
}

CORVANE_BOTH_BUILDS(Lifecycle);

}  // namespace
}  // namespace cvtest
