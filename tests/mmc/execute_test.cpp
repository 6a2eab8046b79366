#include "mmc/execute.h"
#include "mmc/locations.h"
#include "support/direct_transport.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace tvx {
namespace {

// A drive that fails with the sense data it is given, or succeeds when there is none.
struct SenseTarget : ScsiTarget {
    std::vector<uint8_t> sense;
    int commands = 0;
    ScsiResult execute(const ScsiRequest& request) override {
        ++commands;
        ScsiResult result;
        if (!sense.empty()) {
            result.status = kScsiStatusCheckCondition;
            std::memcpy(result.sense, sense.data(), sense.size());
            result.senseLength = static_cast<uint32_t>(sense.size());
        } else if (request.data && request.direction == DataDirection::FromDevice) {
            std::memset(request.data, 0xA5, request.byteCount);
            result.transferred = request.byteCount;
        }
        return result;
    }
};

std::vector<uint8_t> FixedSense(uint8_t keyByte, uint8_t asc, uint8_t ascq) {
    std::vector<uint8_t> s(18, 0);
    s[0] = 0x70;
    s[2] = keyByte;
    s[7] = 10;
    s[12] = asc;
    s[13] = ascq;
    return s;
}

CommandRecord Inquiry() {
    CommandRecord c;
    c.timeout = 20;
    c.direction = kDirectionIn;
    c.cdbLength = 6;
    c.cdb[0] = 0x12;
    c.cdb[4] = 36;
    return c;
}

TEST(MmcExecuteTest, AnswersGoodStatusOnlyAndUsesTheCallersBuffer) {
    test::DirectTransport transport;
    SenseTarget target;
    RecHandle* handle = transport.open(target);
    CommandRecord command = Inquiry();
    uint8_t buffer[36] = {};
    EXPECT_EQ(Mmc_Execute(handle, &command, buffer, sizeof buffer), 1);
    EXPECT_EQ(buffer[0], 0xA5);
    target.sense = FixedSense(0x02, 0x3A, 0x00);
    EXPECT_EQ(Mmc_Execute(handle, &command, buffer, sizeof buffer), 0);
    EXPECT_EQ(handle->lastError.location, 0); // failure alone records nothing

    RecHandle closed; // no Device: refused without reaching any drive
    EXPECT_EQ(Mmc_Execute(&closed, &command, buffer, sizeof buffer), 0);
    EXPECT_EQ(Mmc_Execute(nullptr, &command, buffer, sizeof buffer), 0);
    EXPECT_EQ(target.commands, 2);
}

TEST(MmcExecuteTest, RecordedFailureOutlivesLaterSuccesses) {
    test::DirectTransport transport;
    SenseTarget target;
    RecHandle* handle = transport.open(target);
    CommandRecord command = Inquiry();
    uint8_t buffer[36];
    target.sense = FixedSense(0x02, 0x3A, 0x00);
    ASSERT_EQ(Mmc_Execute(handle, &command, buffer, sizeof buffer), 0);
    Mmc_RecordError(handle, location::kDiscInfoReadDiscInfo);
    target.sense.clear();
    ASSERT_EQ(Mmc_Execute(handle, &command, buffer, sizeof buffer), 1);
    ASSERT_EQ(Mmc_Execute(handle, &command, buffer, sizeof buffer), 1);

    TVX_LastError error;
    ASSERT_EQ(TVX_GetLastError(handle, &error), TVX_OK);
    EXPECT_EQ(error.status, kScsiStatusCheckCondition);
    EXPECT_EQ(error.senseKey, 0x02);
    EXPECT_EQ(error.asc, 0x3A);
    EXPECT_EQ(error.ascq, 0x00);
    EXPECT_EQ(error.cdbLength, 6);
    EXPECT_EQ(error.cdb[0], 0x12);
    EXPECT_EQ(error.cdb[4], 36);
    EXPECT_EQ(error.senseLength, 32);
    EXPECT_EQ(error.sense[12], 0x3A);
    EXPECT_STREQ(error.description, "MEDIUM NOT PRESENT");
    EXPECT_STREQ(error.category, "General");
    EXPECT_EQ(error.location, 217);
}

TEST(MmcExecuteTest, SenseKeyIgnoresTheFlagBitsAndUnknownTriplesGetTheCatchAllTexts) {
    test::DirectTransport transport;
    SenseTarget target;
    RecHandle* handle = transport.open(target);
    CommandRecord command = Inquiry();
    uint8_t buffer[36];
    // Incorrect length indicator (bit 5) set on key 3: looked up as key 3.
    target.sense = FixedSense(0x23, 0x11, 0x00);
    Mmc_Execute(handle, &command, buffer, sizeof buffer);
    Mmc_RecordError(handle, location::kWriteChunk);
    EXPECT_EQ(handle->lastError.senseKey, 3);
    EXPECT_STREQ(handle->lastError.category, "Read");

    target.sense = FixedSense(0x05, 0x04, 0x08);
    Mmc_Execute(handle, &command, buffer, sizeof buffer);
    Mmc_RecordError(handle, location::kWriteChunk);
    EXPECT_STREQ(handle->lastError.description, "Unknown");
    EXPECT_STREQ(handle->lastError.category, "N/A");
}

// A transport whose getters claim more CDB and sense bytes than the record holds.
uint8_t gBytes[256];
uint8_t Status(Device*) {
    return 0x02;
}
uint32_t TooLong(Device*) {
    return 200;
}
const uint8_t* Bytes(Device*) {
    return gBytes;
}

TEST(MmcRecordErrorTest, LengthsAreLimitedToTheRecordsFields) {
    for (int i = 0; i < 256; ++i)
        gBytes[i] = static_cast<uint8_t>(i);
    test::DirectTransport direct; // installs a complete table to start from
    Transport boastful = *ActiveTransport;
    boastful.GetStatus = Status;
    boastful.GetCdbLength = TooLong;
    boastful.GetSenseLength = TooLong;
    boastful.GetCdb = Bytes;
    boastful.GetSense = Bytes;
    const Transport* previous = ActiveTransport;
    ActiveTransport = &boastful;

    Device device;
    RecHandle handle;
    handle.device = &device;
    Mmc_RecordError(&handle, location::kBlankCommand);
    ActiveTransport = previous;

    EXPECT_EQ(handle.lastError.cdbLength, 16);
    EXPECT_EQ(handle.lastError.senseLength, 32);
    EXPECT_EQ(handle.lastError.cdb[15], 15);
    EXPECT_EQ(handle.lastError.sense[31], 31);
    EXPECT_EQ(handle.lastError.reserved[0], 0); // nothing spilled past the sense field
    EXPECT_EQ(handle.lastError.senseKey, 2);
    EXPECT_EQ(handle.lastError.asc, 12);
    EXPECT_EQ(handle.lastError.ascq, 13);
    EXPECT_EQ(handle.lastError.location, 942);
}

} // namespace
} // namespace tvx
