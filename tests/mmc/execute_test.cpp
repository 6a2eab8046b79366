#include "mmc/execute.h"
#include "mmc/locations.h"
#include "mmc/sense.h"
#include "support/direct_transport.h"
#include "support/temp_dir.h"

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

// Sense data in both formats, as drives send it, cut short or not.
TEST(MmcSenseTest, FixedAndDescriptorFormatsDecodeAlike) {
    struct Case {
        const char* what;
        std::vector<uint8_t> bytes;
        uint32_t length; // 0: all of bytes
        SenseFields expected;
    };
    std::vector<uint8_t> fixed = FixedSense(0x02, 0x04, 0x07);
    fixed[15] = 0x80;
    fixed[16] = 0x80;
    std::vector<uint8_t> deferredNoSksv = FixedSense(0x03, 0x0C, 0x00);
    deferredNoSksv[0] = 0x71;
    deferredNoSksv[16] = 0x12; // no SKSV: not a progress indication
    // Descriptor format: an information descriptor, then the sense-key-specific one.
    const std::vector<uint8_t> descriptor = {
        0x72, 0x02, 0x04, 0x08, 0,    0,    0,    20,   0x00, 0x0A, 0x80, 0,    0,    0,
        0,    0,    0,    0,    0x12, 0x34, 0x02, 0x06, 0,    0,    0x80, 0x40, 0x00, 0};
    std::vector<uint8_t> deferredCut = descriptor;
    deferredCut[0] = 0x73;
    deferredCut[7] = 16; // the additional length ends inside the second descriptor
    // clang-format off
    const Case cases[] = {
        {"fixed with progress", fixed, 0, {true, 0x02, 0x04, 0x07, true, 0x8000}},
        {"fixed deferred", deferredNoSksv, 0, {true, 0x03, 0x0C, 0x00, false, 0}},
        {"fixed cut before ASC", FixedSense(0x06, 0x28, 0x00), 12, {true, 0x06, 0, 0, false, 0}},
        {"descriptor", descriptor, 0, {true, 0x02, 0x04, 0x08, true, 0x4000}},
        {"descriptor cut by its length", deferredCut, 0, {true, 0x02, 0x04, 0x08, false, 0}},
        {"descriptor cut by the buffer", descriptor, 26, {true, 0x02, 0x04, 0x08, false, 0}},
        {"descriptor, 4 bytes", descriptor, 4, {true, 0x02, 0x04, 0x08, false, 0}},
    };
    // clang-format on
    for (const Case& c : cases) {
        const uint32_t length = c.length ? c.length : static_cast<uint32_t>(c.bytes.size());
        const SenseFields got = Mmc_DecodeSense(c.bytes.data(), length);
        EXPECT_TRUE(got.valid) << c.what;
        EXPECT_EQ(got.key, c.expected.key) << c.what;
        EXPECT_EQ(got.asc, c.expected.asc) << c.what;
        EXPECT_EQ(got.ascq, c.expected.ascq) << c.what;
        EXPECT_EQ(got.progressValid, c.expected.progressValid) << c.what;
        EXPECT_EQ(got.progress, c.expected.progress) << c.what;
    }
    EXPECT_FALSE(Mmc_DecodeSense(nullptr, 32).valid);
    const uint8_t none[32] = {};
    EXPECT_FALSE(Mmc_DecodeSense(none, sizeof none).valid);
}

// A drive that answers with the given senses in turn (an empty one: good status), then good.
struct ScriptTarget : ScsiTarget {
    std::vector<std::vector<uint8_t>> answers;
    std::vector<uint8_t> opcodes;
    ScsiResult execute(const ScsiRequest& request) override {
        opcodes.push_back(request.cdb[0]);
        ScsiResult result;
        if (answers.empty()) return result;
        if (!answers.front().empty()) {
            result.status = kScsiStatusCheckCondition;
            std::memcpy(result.sense, answers.front().data(), answers.front().size());
            result.senseLength = 32;
        }
        answers.erase(answers.begin());
        return result;
    }
};

TEST(MmcExecuteTest, AnswersThatAreNoFailureAreTakenCareOfHere) {
    test::ScopedSimHost sim;
    test::DirectTransport transport;
    ScriptTarget target;
    RecHandle* handle = transport.open(target);
    CommandRecord write = Inquiry();
    write.cdb[0] = 0x2A;

    // A recovered error is success, sent once.
    target.answers = {FixedSense(0x01, 0x17, 0x01)};
    EXPECT_EQ(Mmc_Execute(handle, &write, nullptr, 0), 1);
    EXPECT_EQ(target.opcodes, std::vector<uint8_t>{0x2A});

    // A reset is cleared with TEST UNIT READY and the command repeated; a descriptor-format
    // busy answer to WRITE is waited out, after a flush where the drive needs one.
    target.opcodes.clear();
    std::vector<uint8_t> busy = {0x72, 0x02, 0x04, 0x07, 0, 0, 0, 0};
    target.answers = {FixedSense(0x06, 0x29, 0x00), {}, busy};
    EXPECT_EQ(Mmc_Execute(handle, &write, nullptr, 0), 1);
    EXPECT_EQ(target.opcodes, (std::vector<uint8_t>{0x2A, 0x00, 0x2A, 0x35, 0x2A}));

    // A drive that keeps announcing unit attentions is given up on, with its sense kept.
    target.opcodes.clear();
    target.answers.assign(40, FixedSense(0x06, 0x29, 0x00));
    EXPECT_EQ(Mmc_Execute(handle, &write, nullptr, 0), 0);
    EXPECT_EQ(target.opcodes.size(), 9u);
    Mmc_RecordError(handle, location::kWriteChunk);
    EXPECT_EQ(handle->lastError.senseKey, 0x06);
    EXPECT_EQ(handle->lastError.asc, 0x29);

    // Busy answers to other commands are the caller's to judge; descriptor sense is recorded
    // with its own key, ASC and ASCQ.
    target.opcodes.clear();
    target.answers = {busy};
    CommandRecord inquiry = Inquiry();
    EXPECT_EQ(Mmc_Execute(handle, &inquiry, nullptr, 0), 0);
    EXPECT_EQ(target.opcodes.size(), 1u);
    Mmc_RecordError(handle, location::kWriteChunk);
    EXPECT_EQ(handle->lastError.senseKey, 0x02);
    EXPECT_EQ(handle->lastError.asc, 0x04);
    EXPECT_EQ(handle->lastError.ascq, 0x07);
    EXPECT_STREQ(handle->lastError.description, "LOGICAL UNIT NOT READY, OPERATION IN PROGRESS");
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
