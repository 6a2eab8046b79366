// Fault rules fire exactly as configured; the trace holds every command as received.
#include "vdrive_fixture.h"

namespace tvx::vdrive::test {
namespace {

class Faults : public DriveTest {
  protected:
    void SetUp() override { ASSERT_TRUE(drive->insertBlank(MediumKind::DvdPlusRw, 10000)); }
    void formatted() {
        ASSERT_TRUE(formatPlusRw(false).good());
        pollUntilGood([&] { return testUnitReady(); });
    }
};

TEST_F(Faults, NthOccurrenceOfAnOpcodeFiresOnce) {
    formatted();
    drive->addFault(FaultRule::SenseOn(0x2A, 2, 4, 8, /*occurrence*/ 3));
    EXPECT_TRUE(write10(0, 1).good());
    EXPECT_TRUE(write10(1, 1).good());
    EXPECT_EQ(write10(2, 1).triple(), Triple(2, 4, 8));
    EXPECT_TRUE(write10(2, 1).good());
    EXPECT_TRUE(write10(3, 1).good());
}

TEST_F(Faults, EveryOccurrenceUpToACount) {
    drive->addFault(FaultRule::SenseOn(0x00, 2, 4, 1, 0, /*maxFires*/ 2));
    EXPECT_EQ(testUnitReady().triple(), Triple(2, 4, 1));
    EXPECT_TRUE(readCapacity().good()) << "other commands untouched";
    EXPECT_EQ(testUnitReady().triple(), Triple(2, 4, 1));
    EXPECT_TRUE(testUnitReady().good());
}

TEST_F(Faults, LbaRangeMatchesOnlyCommandsTouchingIt) {
    formatted();
    FaultRule r = FaultRule::SenseOn(-1, 3, 0x11, 0);
    r.useLbaRange = true;
    r.lbaFirst = 16;
    r.lbaLast = 16;
    drive->addFault(r);
    EXPECT_TRUE(read10(15, 1).good());
    EXPECT_EQ(read10(16, 1).triple(), Triple(3, 0x11, 0));
    EXPECT_EQ(read10(0, 32).triple(), Triple(3, 0x11, 0));
    EXPECT_TRUE(read10(17, 4).good());
    EXPECT_TRUE(testUnitReady().good()) << "no LBA: no match";
}

TEST_F(Faults, TransportFailureAndTimeoutDoNothing) {
    formatted();
    FaultRule fail;
    fail.opcode = 0x2A;
    fail.action = FaultRule::Action::TransportFailure;
    fail.maxFires = 1;
    drive->addFault(fail);
    Answer a = write10(0, 1, 0x77);
    EXPECT_EQ(a.result.outcome, ScsiOutcome::TransportFailed);
    FaultRule slow = fail;
    slow.action = FaultRule::Action::Timeout;
    drive->addFault(slow);
    EXPECT_EQ(write10(0, 1, 0x77).result.outcome, ScsiOutcome::TimedOut);
    EXPECT_NE(read10(0, 1).data[4], 0x77) << "nothing written";
    EXPECT_TRUE(write10(0, 1, 0x77).good());
}

TEST_F(Faults, ShortAndMalformedAnswers) {
    FaultRule shortRule;
    shortRule.opcode = 0x51;
    shortRule.action = FaultRule::Action::ShortData;
    shortRule.shortBytes = 3;
    shortRule.maxFires = 1;
    drive->addFault(shortRule);
    Answer shortInfo = readDiscInfo();
    EXPECT_TRUE(shortInfo.good());
    EXPECT_EQ(shortInfo.result.transferred, 3u);
    Answer good = readDiscInfo();
    FaultRule bad = shortRule;
    bad.action = FaultRule::Action::MalformedData;
    drive->addFault(bad);
    Answer mangled = readDiscInfo();
    ASSERT_EQ(mangled.data.size(), good.data.size());
    EXPECT_NE(mangled.data, good.data);
}

TEST_F(Faults, TrayOpensOrDiscGoesAtTheChosenCommand) {
    formatted();
    FaultRule open;
    open.opcode = 0x2A;
    open.occurrence = 2;
    open.action = FaultRule::Action::OpenTray;
    drive->addFault(open);
    EXPECT_TRUE(write10(0, 1).good());
    EXPECT_EQ(write10(1, 1).triple(), Triple(2, 0x3A, 0x02));
    EXPECT_TRUE(drive->trayOpen());
    EXPECT_TRUE(drive->hasDisc());
    drive->closeTray();
    FaultRule gone;
    gone.opcode = 0x00;
    gone.action = FaultRule::Action::RemoveDisc;
    drive->addFault(gone);
    EXPECT_EQ(testUnitReady().triple(), Triple(2, 0x3A, 0x01));
    EXPECT_FALSE(drive->hasDisc());
}

TEST_F(Faults, TraceRecordsEveryCommandWithItsAnswer) {
    drive->clearTrace();
    testUnitReady();
    write10(0, 2);
    send({0xFF, 0, 0, 0, 0, 0});
    const auto& t = drive->trace();
    ASSERT_EQ(t.size(), 3u);
    EXPECT_EQ(drive->traceOpcodes(), (std::vector<uint8_t>{0x00, 0x2A, 0xFF}));
    EXPECT_EQ(t[1].direction, DataDirection::ToDevice);
    EXPECT_EQ(t[1].byteCount, 2 * kBlockSize);
    EXPECT_EQ(t[1].cdbLength, 10);
    EXPECT_EQ(t[1].cdb[8], 2);
    EXPECT_EQ(t[1].senseKey, 5) << "unformatted DVD+RW";
    std::string text = drive->formatTrace();
    EXPECT_NE(text.find("00 00 00 00 00 00 | none 0 | GOOD | TEST UNIT READY\n"), std::string::npos)
        << text;
    EXPECT_NE(text.find("2A 00 00 00 00 00 00 00 02 00 | out 4096 | CHECK 05/30/05 | WRITE(10)"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("CHECK 05/20/00 | OP FF"), std::string::npos) << text;
    drive->clearTrace();
    EXPECT_TRUE(drive->trace().empty());
}

} // namespace
} // namespace tvx::vdrive::test
