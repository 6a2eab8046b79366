// The commands as a drive receives them, and the parsing of hand-made answers of odd drives.
#include "mmc/answers.h"
#include "mmc/commands.h"
#include "scripted_drive.h"
#include "support/direct_transport.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace tvx {
namespace {

using test::Be16;
using test::Be32;
using test::ScriptedDrive;
using test::ScriptedReply;

std::string Hex(const std::vector<uint8_t>& bytes) {
    std::string s;
    char b[4];
    for (uint8_t x : bytes) {
        std::snprintf(b, sizeof b, s.empty() ? "%02X" : " %02X", x);
        s += b;
    }
    return s;
}

class CommandsTest : public ::testing::Test {
  protected:
    test::DirectTransport transport;
    ScriptedDrive drive;
    RecHandle* h = transport.open(drive);

    // The only command received since the last call.
    test::ReceivedCommand last() {
        EXPECT_EQ(drive.received.size(), 1u);
        test::ReceivedCommand c = drive.received.back();
        drive.received.clear();
        return c;
    }
};

struct Expected {
    std::string cdb;
    DataDirection direction;
    uint32_t bytes;
    uint32_t timeout;
};

void ExpectCommand(const test::ReceivedCommand& c, const Expected& e) {
    EXPECT_EQ(Hex(c.cdb), e.cdb);
    EXPECT_EQ(c.direction, e.direction) << e.cdb;
    EXPECT_EQ(c.byteCount, e.bytes) << e.cdb;
    EXPECT_EQ(c.timeoutSeconds, e.timeout) << e.cdb;
}

constexpr auto In = DataDirection::FromDevice;
constexpr auto Out = DataDirection::ToDevice;
constexpr auto None = DataDirection::None;

TEST_F(CommandsTest, SingleCommandsReachTheDriveAsBuilt) {
    for (int op = 0; op < 256; ++op)
        drive.good(static_cast<uint8_t>(op));
    static uint8_t buf[65536];

    Mmc_TestUnitReady(h);
    ExpectCommand(last(), {"00 00 00 00 00 00", None, 0, 20});
    Mmc_RequestSense(h, buf, 18);
    ExpectCommand(last(), {"03 00 00 00 12 00", In, 18, 3});
    Mmc_StartStop(h, kStartStopEject, 1);
    ExpectCommand(last(), {"1B 01 00 00 02 00", None, 0, 20});
    Mmc_StartStop(h, kStartStopLoad, 0);
    ExpectCommand(last(), {"1B 00 00 00 03 00", None, 0, 300});
    Mmc_PreventRemoval(h, 1);
    ExpectCommand(last(), {"1E 00 00 00 01 00", None, 0, 20});
    FormatCapacity entries[4];
    Mmc_ReadFormatCapacities(h, entries, 4);
    ExpectCommand(last(), {"23 00 00 00 00 00 00 08 04 00", In, 2052, 20});
    uint32_t lastLba = 0;
    Mmc_ReadCapacity(h, &lastLba);
    ExpectCommand(last(), {"25 00 00 00 00 00 00 00 00 00", In, 8, 20});
    Mmc_Read10(h, buf, 4096, 0x12345678, 2);
    ExpectCommand(last(), {"28 00 12 34 56 78 00 00 02 00", In, 4096, 20});
    Mmc_Write10(h, buf, 65536, 0x00010203, 32);
    ExpectCommand(last(), {"2A 00 00 01 02 03 00 00 20 00", Out, 65536, 180});
    Mmc_SyncCache(h, 1);
    ExpectCommand(last(), {"35 02 00 00 00 00 00 00 00 00", None, 0, 180});
    Mmc_GetFeature(h, 0x002F, nullptr);
    ExpectCommand(last(), {"46 02 00 2F 00 00 00 00 80 00", In, 128, 20});
    Mmc_GetEventStatus(h, buf, kEventClassMedia);
    ExpectCommand(last(), {"4A 01 00 00 10 00 00 00 08 00", In, 8, 20});
    Mmc_GetEventStatus(h, buf, kEventClassOperational);
    ExpectCommand(last(), {"4A 01 00 00 02 00 00 00 08 00", In, 8, 20});
    Mmc_ReadDiscInfo(h, nullptr);
    ExpectCommand(last(), {"51 00 00 00 00 00 00 00 20 00", In, 32, 20});
    Mmc_ReadTrackInfo(h, 5, nullptr);
    ExpectCommand(last(), {"52 01 00 00 00 05 00 00 20 00", In, 32, 20});
    Mmc_ReserveTrack(h, 0x00ABCDEF);
    ExpectCommand(last(), {"53 00 00 00 00 00 AB CD EF 00", None, 0, 200});
    Mmc_ModeSelect10(h, buf, 60);
    ExpectCommand(last(), {"55 10 00 00 00 00 00 00 3C 00", Out, 60, 20});
    Mmc_ModeSense10(h, buf, 60, 0x05, 2);
    ExpectCommand(last(), {"5A 00 85 00 00 00 00 00 3C 00", In, 60, 20});
    Mmc_CloseTrackSession(h, 2, 1);
    ExpectCommand(last(), {"5B 01 02 00 00 01 00 00 00 00", None, 0, 200});
    Mmc_Blank(h, 1, 1);
    ExpectCommand(last(), {"A1 11 00 00 00 00 00 00 00 00 00 00", None, 0, 200});
    Mmc_Read12(h, buf, 6144, 0x100, 3);
    ExpectCommand(last(), {"A8 00 00 00 01 00 00 00 00 03 80 00", In, 6144, 20});
}

TEST_F(CommandsTest, ParameterListsGoOutAsBuilt) {
    drive.good(0x04);
    drive.good(0xB6);

    Mmc_Format(h, 0x00123456, 0x26, 0x000800);
    auto c = last();
    ExpectCommand(c, {"04 11 00 00 00 00", Out, 12, 200});
    EXPECT_EQ(Hex(c.dataOut), "00 02 00 08 00 12 34 56 98 00 08 00");

    Mmc_SetSpeed(h, 16 * 1385, kSpeedFastest);
    c = last();
    ExpectCommand(c, {"B6 00 00 00 00 00 00 00 00 00 1C 00", Out, 28, 20});
    EXPECT_EQ(Hex(c.dataOut), "00 00 00 00 00 00 00 00 FF FF FF FF 00 00 56 90 00 00 03 E8 "
                              "FF FF FF FF 00 00 03 E8");
}

// A GET PERFORMANCE answer: header and the given (start, startPerf, end, endPerf) descriptors.
std::vector<uint8_t> PerformanceAnswer(const std::vector<std::array<uint32_t, 4>>& descriptors) {
    std::vector<uint8_t> a(8 + 16 * descriptors.size());
    Be32(a, 0, static_cast<uint32_t>(4 + 16 * descriptors.size()));
    for (std::size_t i = 0; i < descriptors.size(); ++i)
        for (int f = 0; f < 4; ++f)
            Be32(a, 8 + 16 * i + 4 * f, descriptors[i][f]);
    return a;
}

// A write speed descriptor answer with the given write speeds (read speed 16x).
std::vector<uint8_t> WriteSpeedAnswer(const std::vector<uint32_t>& speeds) {
    std::vector<std::array<uint32_t, 4>> d;
    for (uint32_t s : speeds)
        d.push_back({0, 2295103, 16 * 1385, s});
    return PerformanceAnswer(d);
}

TEST_F(CommandsTest, PerformanceAsksTheLengthThenEverything) {
    drive.answer(0xAC, PerformanceAnswer({{0, 5540, 100, 8310}, {101, 8310, 2295103, 11080}}));
    PerformanceDescriptor p;
    ASSERT_TRUE(Mmc_GetPerformance(h, 1, &p));
    ASSERT_EQ(drive.received.size(), 2u);
    ExpectCommand(drive.received[0], {"AC 14 00 00 00 00 00 00 00 01 00 00", In, 24, 20});
    ExpectCommand(drive.received[1], {"AC 14 00 00 00 00 00 00 00 02 00 00", In, 40, 20});
    // The last descriptor.
    EXPECT_EQ(p.startLba, 101u);
    EXPECT_EQ(p.startPerformance, 8310u);
    EXPECT_EQ(p.endLba, 2295103u);
    EXPECT_EQ(p.endPerformance, 11080u);

    drive.received.clear();
    uint32_t speeds[4] = {};
    ASSERT_TRUE(Mmc_GetWriteSpeeds(h, speeds, sizeof speeds, 1));
    ExpectCommand(drive.received[0], {"AC 00 00 00 00 00 00 00 00 01 03 00", In, 24, 20});
    ExpectCommand(drive.received[1], {"AC 00 00 00 00 00 00 00 00 02 03 00", In, 40, 20});

    drive.received.clear();
    Mmc_GetPerformance(h, 0, &p);
    EXPECT_EQ(drive.received[0].cdb[1], 0x10);
}

TEST_F(CommandsTest, PerformanceAnswersThatMakeNoSenseFail) {
    PerformanceDescriptor p{1, 2, 3, 4};
    // No descriptor at all.
    drive.answer(0xAC, PerformanceAnswer({}));
    EXPECT_FALSE(Mmc_GetPerformance(h, 1, &p));
    uint32_t speeds[4] = {};
    EXPECT_FALSE(Mmc_GetWriteSpeeds(h, speeds, sizeof speeds, 1));

    // A header announcing gigabytes: not asked for, nothing allocated.
    std::vector<uint8_t> huge = PerformanceAnswer({{0, 5540, 100, 5540}});
    Be32(huge, 0, 0x40000000);
    drive.answer(0xAC, huge);
    drive.received.clear();
    EXPECT_FALSE(Mmc_GetPerformance(h, 1, &p));
    EXPECT_EQ(drive.received.size(), 1u);
    EXPECT_EQ(p.endPerformance, 4u); // untouched on failure

    // The largest length a 16-bit allocation carries is still asked for; the second answer
    // holding less than announced yields only what it holds.
    std::vector<uint8_t> big = PerformanceAnswer({{0, 5540, 100, 5540}});
    Be32(big, 0, 0xFFFF - 4);
    drive.answer(0xAC, big);
    drive.received.clear();
    EXPECT_TRUE(Mmc_GetWriteSpeeds(h, speeds, sizeof speeds, 1));
    ASSERT_EQ(drive.received.size(), 2u);
    EXPECT_EQ(drive.received[1].byteCount, 0xFFFFu);
    EXPECT_EQ(speeds[0], 5540u);

    // The command failing in either step.
    drive.fail(0xAC, 0x05, 0x24, 0x00);
    EXPECT_FALSE(Mmc_GetPerformance(h, 0, &p));
}

TEST(WriteSpeedParsing, KeepsSpeedsAtLeastOneStepApart) {
    const uint32_t x = kSpeedDvd1x;
    auto answer = WriteSpeedAnswer({12 * x, 12 * x, 8 * x, 6 * x, 4 * x, 2 * x});
    uint32_t speeds[8] = {};
    ParseWriteSpeeds(answer, speeds, sizeof speeds, 1);
    EXPECT_EQ(std::vector<uint32_t>(speeds, speeds + 8),
              (std::vector<uint32_t>{12 * x, 8 * x, 6 * x, 4 * x, 2 * x, 0, 0, 0}));

    // Room for two entries: only the first two descriptors are looked at.
    uint32_t two[2] = {};
    ParseWriteSpeeds(answer, two, 8, 1);
    EXPECT_EQ(two[0], 12 * x);
    EXPECT_EQ(two[1], 0u);

    uint32_t close[4] = {};
    ParseWriteSpeeds(WriteSpeedAnswer({10000, 10000 - 1384, 10000 - 1384 - 1385}), close,
                     sizeof close, 1);
    EXPECT_EQ(close[0], 10000u);
    EXPECT_EQ(close[1], 10000u - 1384 - 1385);
    EXPECT_EQ(close[2], 0u);

    // Read speeds when asked for.
    uint32_t read[2] = {};
    ParseWriteSpeeds(answer, read, sizeof read, 0);
    EXPECT_EQ(read[0], 16 * x);
}

TEST(WriteSpeedParsing, AnnouncedDescriptorsBeyondTheAnswerAreNotRead) {
    auto answer = WriteSpeedAnswer({8 * 1385});
    Be32(answer, 0, 4 + 16 * 100);
    uint32_t speeds[64] = {};
    ParseWriteSpeeds(answer, speeds, sizeof speeds, 1);
    EXPECT_EQ(speeds[0], 8u * 1385);
    EXPECT_EQ(speeds[1], 0u);
    EXPECT_EQ(PerformanceDescriptorCount(std::span<const uint8_t>(answer.data(), 5)), 0u);
}

// GET CONFIGURATION answer for one feature descriptor with the given payload.
std::vector<uint8_t> FeatureAnswer(uint16_t current, uint16_t feature, uint8_t flags,
                                   const std::vector<uint8_t>& payload) {
    std::vector<uint8_t> a(12 + payload.size());
    Be32(a, 0, static_cast<uint32_t>(a.size() - 4));
    Be16(a, 6, current);
    Be16(a, 8, feature);
    a[10] = flags;
    a[11] = static_cast<uint8_t>(payload.size());
    std::copy(payload.begin(), payload.end(), a.begin() + 12);
    return a;
}

std::vector<uint8_t> ProfilePayload(int count) {
    std::vector<uint8_t> p;
    for (int i = 0; i < count; ++i) {
        p.push_back(0);
        p.push_back(static_cast<uint8_t>(0x10 + i));
        p.push_back(i == 1 ? 1 : 0);
        p.push_back(0);
    }
    return p;
}

TEST_F(CommandsTest, ProfileListsAreCutAtSixteen) {
    drive.answer(0x46, FeatureAnswer(0x0011, 0x0000, 0x03, ProfilePayload(20)));
    FeatureInfo f;
    ASSERT_TRUE(Mmc_GetFeature(h, 0x0000, &f));
    EXPECT_EQ(f.currentProfile, 0x0011);
    EXPECT_EQ(f.featureCode, 0x0000);
    EXPECT_EQ(f.persistent, 1);
    EXPECT_EQ(f.current, 1);
    for (int i = 0; i < 16; ++i)
        EXPECT_EQ(f.profiles[i], 0x10 + i);

    drive.answer(0x46, FeatureAnswer(0x001A, 0x0000, 0x00, ProfilePayload(3)));
    FeatureInfo g;
    ASSERT_TRUE(Mmc_GetFeature(h, 0x0000, &g));
    EXPECT_EQ(g.profiles[2], 0x12);
    EXPECT_EQ(g.profiles[3], 0);
}

TEST(FeatureParsing, ALengthPromisingMoreThanTheAnswerIsCut) {
    auto a = FeatureAnswer(0x0011, 0x0000, 0x03, ProfilePayload(2));
    a[11] = 0xFC; // 63 descriptors promised, 2 present
    FeatureInfo f;
    ASSERT_TRUE(ParseFeature(a, 0x0000, &f));
    EXPECT_EQ(f.profiles[1], 0x11);
    EXPECT_EQ(f.profiles[2], 0);
    EXPECT_FALSE(ParseFeature(std::span<const uint8_t>(a.data(), 9), 0x0000, &f));
}

TEST_F(CommandsTest, DashWriteFeature) {
    // A drive without it answers with the next feature it has.
    drive.answer(0x46, FeatureAnswer(0x0011, 0x0033, 0x03, {0, 0, 0, 0}));
    FeatureInfo f;
    EXPECT_FALSE(Mmc_GetFeature(h, 0x002F, &f));
    drive.answer(0x46, {0, 0, 0, 4, 0, 0, 0, 0x11}); // no descriptor at all
    EXPECT_FALSE(Mmc_GetFeature(h, 0x002F, &f));

    drive.answer(0x46, FeatureAnswer(0x0014, 0x002F, 0x01, {0x46, 0, 0, 0}));
    ASSERT_TRUE(Mmc_GetFeature(h, 0x002F, &f));
    EXPECT_EQ(f.bufferUnderrunFree, 1);
    EXPECT_EQ(f.testWrite, 1);
    EXPECT_EQ(f.rewritable, 1);
    EXPECT_EQ(f.current, 1);
    EXPECT_EQ(f.persistent, 0);
}

TEST_F(CommandsTest, FormatCapacitiesCopyTheListAndItsEndMark) {
    std::vector<uint8_t> a(4 + 16);
    a[3] = 16; // two entries
    Be32(a, 4, 2295104);
    a[8] = 0x02;         // formatted media
    Be16(a, 10, 0x0800); // block length 2048
    Be32(a, 12, 2295104);
    a[16] = 0x26 << 2;
    drive.answer(0x23, a);
    FormatCapacity entries[256];
    for (auto& e : entries)
        e.blocks = 0xDEAD;
    ASSERT_TRUE(Mmc_ReadFormatCapacities(h, entries, 256));
    EXPECT_EQ(entries[0].blocks, 2295104u);
    EXPECT_EQ(entries[0].typeByte, 0x02);
    EXPECT_EQ(entries[0].paramHigh, 0x00);
    EXPECT_EQ(entries[0].paramLow, 0x0800);
    EXPECT_EQ(entries[1].typeByte, 0x98);
    EXPECT_EQ(entries[2].blocks, 0u); // the end mark
    EXPECT_EQ(entries[3].blocks, 0xDEADu);

    uint32_t current = 1, formattable = 1;
    ASSERT_TRUE(Mmc_GetFormatCapacity(h, &current, &formattable));
    EXPECT_EQ(current, 2295104u);
    EXPECT_EQ(formattable, 2295104u);

    a[3] = 8; // only the current capacity descriptor
    Be32(a, 12, 0);
    a[16] = 0;
    drive.answer(0x23, a);
    ASSERT_TRUE(Mmc_GetFormatCapacity(h, &current, &formattable));
    EXPECT_EQ(formattable, 0u);
}

TEST(FormatCapacityParsing, StaysInsideTheAnswerAndTheRoom) {
    std::vector<uint8_t> a(4 + 8 * 3, 0x11);
    a[3] = 0xFF; // promises 31 entries, holds 3 nonzero ones
    FormatCapacity entries[2];
    EXPECT_EQ(ParseFormatCapacities(a, entries, 2), 2u);
    FormatCapacity more[40];
    EXPECT_EQ(ParseFormatCapacities(a, more, 40), 3u);
}

// MODE SENSE answers of the write parameters page: 8-byte header, the page with the given
// write type byte and a link size the drive chose.
std::vector<uint8_t> WritePage(uint8_t writeTypeByte) {
    std::vector<uint8_t> a(60);
    Be16(a, 0, 58);
    a[8] = 0x85; // PS set
    a[9] = 0x32;
    a[10] = writeTypeByte;
    a[11] = 0x05;
    a[12] = 0x0A;
    a[13] = 0x10; // link size
    a[16] = 0x20; // session format
    return a;
}

TEST_F(CommandsTest, WriteParametersAreReadModifiedSelectedAndCompared) {
    std::vector<uint8_t> current = WritePage(0x01);
    drive.on(0x5A, [&](const test::ReceivedCommand&) { return ScriptedReply::Data(current); });
    drive.on(0x55, [&](const test::ReceivedCommand& c) {
        current = c.dataOut;
        return ScriptedReply::Data({});
    });
    WriteParameters p{2, 1, 1, 0};
    ASSERT_TRUE(Mmc_SetWriteParameters(h, &p));
    ASSERT_EQ(drive.opcodes(), (std::vector<uint8_t>{0x5A, 0x55, 0x5A}));
    EXPECT_EQ(drive.received[0].cdb[2], 0x05); // current values
    const auto& sent = drive.received[1].dataOut;
    ASSERT_EQ(sent.size(), 60u);
    EXPECT_EQ(Hex({sent.begin(), sent.begin() + 17}),
              "00 00 00 00 00 00 00 00 05 32 52 04 08 10 00 00 20");

    drive.received.clear();
    p.multiSession = 1;
    ASSERT_TRUE(Mmc_SetWriteParameters(h, nullptr));
    EXPECT_EQ(drive.received[0].cdb[2], 0x85); // default values
    EXPECT_EQ(drive.received[1].dataOut[10], 0x42);
    EXPECT_EQ(drive.received[1].dataOut[11], 0x04);

    p = {2, 0, 1, 1};
    ASSERT_TRUE(Mmc_SetWriteParameters(h, &p));
    EXPECT_EQ(current[11], 0xC4);

    // A drive that takes the page but keeps another write type.
    drive.on(0x55, [](const test::ReceivedCommand&) { return ScriptedReply::Data({}); });
    current = WritePage(0x61); // BUF, bit 5 and write type 1
    EXPECT_FALSE(Mmc_SetWriteParameters(h, &p));
    // Bit 5 alone differing is not a refusal.
    current = WritePage(0x62);
    EXPECT_TRUE(Mmc_SetWriteParameters(h, &p));

    drive.fail(0x55, 0x05, 0x26, 0x00);
    EXPECT_FALSE(Mmc_SetWriteParameters(h, &p));
}

TEST_F(CommandsTest, PhysicalFormatAndCopyProtection) {
    drive.on(0xAD, [](const test::ReceivedCommand& c) {
        std::vector<uint8_t> a(20);
        if (c.cdb[7] == 0x00) {
            a[4] = 0xA1; // DVD+R, version 1
            a[6] = 0x21; // two layers
            Be32(a, 8, 0x30000);
            Be32(a, 12, 0xFCFFFF);
            Be32(a, 16, 0x1FFFFF);
        } else {
            a[4] = 0x01;
        }
        return ScriptedReply::Data(a);
    });
    PhysicalFormat f;
    ASSERT_TRUE(Mmc_GetPhysicalFormat(h, &f));
    ASSERT_EQ(drive.received.size(), 2u);
    ExpectCommand(drive.received[0], {"AD 00 00 00 00 00 00 00 00 14 00 00", In, 20, 20});
    ExpectCommand(drive.received[1], {"AD 00 00 00 00 00 00 01 00 08 00 00", In, 8, 20});
    EXPECT_EQ(f.bookType, 0x0A);
    EXPECT_EQ(f.partVersion, 1);
    EXPECT_EQ(f.layerField, 1);
    EXPECT_EQ(f.dataStart, 0x30000u);
    EXPECT_EQ(f.dataEnd, 0xFCFFFFu);
    EXPECT_EQ(f.layer0End, 0x1FFFFFu);
    EXPECT_EQ(f.protectionSystem, 1);
}

TEST(EventStatus, LengthAndOperationalStatusTurnIntoHostOrder) {
    uint8_t a[8] = {0x00, 0x06, 0x01, 0x12, 0x02, 0x01, 0x00, 0x02};
    ConvertEventStatus(a);
    uint16_t length, status;
    std::memcpy(&length, a, 2);
    std::memcpy(&status, a + 6, 2);
    EXPECT_EQ(length, 6);
    EXPECT_EQ(status, 2);
    uint8_t media[8] = {0x00, 0x06, 0x04, 0x12, 0x00, 0x02, 0x12, 0x34};
    ConvertEventStatus(media);
    EXPECT_EQ(media[6], 0x12); // left as the drive sent it
    EXPECT_EQ(media[5], 0x02);
}

TEST(Media, ProfilesMapToTheirBits) {
    EXPECT_EQ(Media_FromProfile(0x0013), Media_FromProfile(0x0014));
    EXPECT_EQ(Media_FromProfile(0x0014), 0x0040u);
    EXPECT_EQ(Media_FromProfile(0x002B), 0x0400u);
    EXPECT_EQ(Media_FromProfile(0x0015), 0x0800u);
    EXPECT_EQ(Media_FromProfile(0x0042), 0x2000u);
    EXPECT_EQ(Media_FromProfile(0x0000), 0u);
    EXPECT_EQ(Media_FromProfile(0x0016), 0u);
    uint32_t all = 0;
    for (uint32_t p = 0; p <= 0xFFFF; ++p)
        all |= Media_FromProfile(static_cast<uint16_t>(p));
    EXPECT_EQ(all, 0x7FF7u); // every bit but 0008h
}

} // namespace
} // namespace tvx
