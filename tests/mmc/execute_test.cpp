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

// What each answer means, by the kind of command: the commands the drive receives, the
// result, and whether the job was ended (its record kept).
TEST(MmcExecuteTest, EachAnswerIsDecidedByTheKindOfCommand) {
    using Bytes = std::vector<uint8_t>;
    const Bytes busyDescriptor = {0x72, 0x02, 0x04, 0x07, 0, 0, 0, 0};
    const Bytes reset = FixedSense(0x06, 0x29, 0x00), changed = FixedSense(0x06, 0x28, 0x00);
    const Bytes otherAttention = FixedSense(0x06, 0x3F, 0x03);
    struct Row {
        const char* what;
        uint8_t opcode;
        bool discSeen;
        uint32_t media;
        std::vector<Bytes> answers;
        int result;
        Bytes sent;
        bool ended;
    };
    // clang-format off
    const Row rows[] = {
        {"recovered error is success", 0x2A, true, MediaDvdPlusR, {FixedSense(0x01, 0x17, 0x01)}, 1, {0x2A}, false},
        {"busy WRITE on DVD+R: flush, then again", 0x2A, true, MediaDvdPlusR, {busyDescriptor}, 1, {0x2A, 0x35, 0x2A}, false},
        {"busy WRITE on DVD-R: again, never a flush", 0x2A, true, MediaDvdR, {FixedSense(0x02, 0x04, 0x04)}, 1, {0x2A, 0x2A}, false},
        {"medium change on the flush ends", 0x2A, true, MediaDvdPlusR, {busyDescriptor, changed}, 0, {0x2A, 0x35}, true},
        {"reset on a WRITE ends", 0x2A, true, MediaDvdPlusRw, {reset}, 0, {0x2A}, true},
        {"medium change on MODE SELECT ends, even before the disc query", 0x55, false, 0, {changed}, 0, {0x55}, true},
        {"reset before the disc query: cleared, asked again", 0x51, false, 0, {reset}, 1, {0x51, 0x00, 0x51}, false},
        {"medium change after the disc query ends a question", 0x51, true, 0, {changed}, 0, {0x51}, true},
        {"a change queued behind another attention ends", 0x51, true, 0, {otherAttention, changed}, 0, {0x51, 0x00}, true},
        {"busy question: asked again", 0x28, true, 0, {FixedSense(0x02, 0x04, 0x08)}, 1, {0x28, 0x28}, false},
        {"busy TEST UNIT READY is the answer", 0x00, true, 0, {FixedSense(0x02, 0x04, 0x07)}, 0, {0x00}, false},
        {"no medium is final", 0x28, true, 0, {FixedSense(0x02, 0x3A, 0x00)}, 0, {0x28}, false},
        {"medium error is final", 0x28, true, 0, {FixedSense(0x03, 0x11, 0x00)}, 0, {0x28}, false},
        {"attentions that never settle", 0x12, false, 0, std::vector<Bytes>(40, otherAttention), 0, {0x12, 0, 0x12, 0, 0x12, 0, 0x12, 0, 0x12}, false},
    };
    // clang-format on
    for (const Row& row : rows) {
        test::ScopedSimHost sim;
        test::DirectTransport transport;
        ScriptTarget target;
        RecHandle* handle = transport.open(target);
        handle->rec.discSeen = row.discSeen;
        handle->discInfo.mediaType = row.media;
        target.answers = row.answers;
        CommandRecord command = Inquiry();
        command.cdb[0] = row.opcode;
        EXPECT_EQ(Mmc_Execute(handle, &command, nullptr, 0), row.result) << row.what;
        EXPECT_EQ(target.opcodes, row.sent) << row.what;
        EXPECT_EQ(handle->rec.discLost != 0, row.ended) << row.what;
        if (!row.ended) continue;
        // The answer that ended the job is its record; later steps do not replace it.
        const TVX_LastError kept = handle->lastError;
        EXPECT_EQ(kept.senseKey, 0x06) << row.what;
        EXPECT_EQ(kept.location, location::kDiscMayBeAnother) << row.what;
        Mmc_RecordError(handle, location::kWriteChunk);
        EXPECT_EQ(handle->lastError.location, location::kDiscMayBeAnother) << row.what;
        // Nothing more is sent that would change a disc that may be another.
        target.opcodes.clear();
        command.cdb[0] = 0x2A;
        EXPECT_EQ(Mmc_Execute(handle, &command, nullptr, 0), 0) << row.what;
        EXPECT_TRUE(target.opcodes.empty()) << row.what;
    }
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
