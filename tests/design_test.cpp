// Design help (message 3) for every command number and request kind, in
// both builds, and the declarations a host reads from the file.
#include "PluginFixture.h"

namespace cvtest {
namespace {

using corvane::host::ascii;

class DesignHelp : public PluginTest {};

struct HelpCase {
  int32_t command;
  const char* text;  // kind 5
  uint32_t count;
};

const HelpCase kHelp[] = {
    {0, "Parms: ", 7},
    {1, "Parms: (stringField, listField, rowPrefix, rowSuffix, rowDelim, colPrefix, colSuffix, colDelim)",
     95},
    {2, "Parms: (listField, stringField, rowPrefix, rowSuffix, rowDelim, colPrefix, colSuffix, colDelim)",
     95},
    {3, "Parms: (stringField, listField [,delimByte])", 44},
    {4, "Parms: (listField, stringField [,delimByte])", 44},
    {5, "Parms: ", 7},  // the group name has neither ':' nor '('
    {6, "Parms: ", 7},
};

TEST_P(DesignHelp, ParameterAndReturnHelpForEveryCommand) {
  for (const auto& c : kHelp) {
    SCOPED_TRACE(c.command);
    host->setCommand(c.command);
    host->resetDesignRecord(0xEE);
    host->setDesignKind(5);
    host->designHelp();
    EXPECT_EQ(host->designText(), ascii(c.text));
    EXPECT_EQ(host->designCount(), c.count);
    EXPECT_EQ(host->designAnswered(), 0);

    host->resetDesignRecord(0xEE);
    host->setDesignKind(6);
    host->designHelp();
    EXPECT_EQ(host->designText(), U"Return Code :");
    EXPECT_EQ(host->designCount(), 13u);
    EXPECT_EQ(host->designAnswered(), 0);

    for (int16_t kind : {int16_t{4}, int16_t{7}, int16_t{0}, int16_t{-1}}) {
      host->resetDesignRecord(0xEE);
      host->setDesignKind(kind);
      host->designHelp();
      for (size_t i = 0; i < Host::kDesignRecordSize; ++i) {
        if (i == kCvDesignKind || i == kCvDesignKind + 1) continue;
        ASSERT_EQ(host->designRecord()[i], 0xEE) << "kind " << kind << " byte " << i;
      }
    }
  }
}

// The Unicode build converts the declaration in a block of its own; without
// it the answer is the bare "Parms: ".  The 8-bit build allocates nothing.
TEST_P(DesignHelp, ParameterHelpWithoutMemory) {
  Host h(withFaults());
  Faults faults(withFaults());
  h.setCommand(3);
  auto ask = [&] {
    h.resetDesignRecord(0xEE);
    h.setDesignKind(5);
    h.designHelp();
  };
  faults.count();
  ask();
  EXPECT_EQ(faults.passes("design text"), unicode() ? 1 : 0);
  ASSERT_TRUE(faults.fail("design text"));
  ask();
  faults.off();
  EXPECT_EQ(h.designText(), unicode() ? U"Parms: " : U"Parms: (stringField, listField [,delimByte])");
  EXPECT_EQ(h.designCount(), unicode() ? 7u : 44u);
  EXPECT_EQ(h.designAnswered(), 0);
}

TEST_P(DesignHelp, TheCountAndTextSitWhereEachBuildPutsThem) {
  host->setCommand(3);
  host->resetDesignRecord(0xEE);
  host->setDesignKind(6);
  host->designHelp();
  const unsigned char* record = host->designRecord();
  if (unicode()) {
    EXPECT_EQ(record[10], 13);
    EXPECT_EQ(record[11] | record[12] | record[13], 0) << "a 32-bit count";
    EXPECT_EQ(record[14], 'R');
    EXPECT_EQ(record[15], 0);
  } else {
    EXPECT_EQ(record[10], 13);
    EXPECT_EQ(record[11], 'R');
    EXPECT_EQ(record[12], 'e');
  }
  EXPECT_EQ(record[9], 0xEE) << "byte 9 is not touched";
}

TEST_P(DesignHelp, TheFileDeclaresTheCommandsBeforeAnythingIsCalled) {
  const auto& r = shipped().resources();
  EXPECT_EQ(r.tag, unicode() ? "UCMD" : "7CMD");
  EXPECT_EQ(r.firstDeclaration, 1301);
  EXPECT_EQ(r.q7inf[4], 0x15);
  EXPECT_EQ(r.q7inf[5], 0x05);
  for (int i = 6; i < 14; ++i) EXPECT_EQ(r.q7inf[i], 0);
  EXPECT_EQ(r.group, "*Corvane");
  ASSERT_EQ(r.commands.size(), 4u);
  EXPECT_EQ(r.strings[3], "Corvane.ListToString(listField, stringField [,delimByte]):1301001");
  EXPECT_EQ(r.fileVersion, (std::array<uint16_t, 4>{3, 3, 0, 0}));
  EXPECT_EQ(r.fileDescription, unicode() ? "Extended commands for Omnis Studio Unicode"
                                         : "Extended commands for Omnis 7/Studio");
  EXPECT_EQ(r.originalName, unicode() ? "CorvaneU.DLL" : "Corvane.DLL");
  EXPECT_EQ(r.productName, "Corvane Commands");
  EXPECT_EQ(r.productVersionText, "3.3");
}

CORVANE_BOTH_BUILDS(DesignHelp);

}  // namespace
}  // namespace cvtest
