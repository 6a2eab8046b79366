// A fault at each engine step: the job's result code, the LastError location and sense texts,
// and a disc that is never left locked in the drive.
#include "mmc/execute.h"
#include "recording/engine.h"
#include "recording_fixture.h"

#include <algorithm>

namespace tvx::test {
namespace {

using vdrive::FaultRule;
using vdrive::MediumKind;

struct FaultCase {
    const char* step;
    MediumKind kind;
    int32_t mode;
    std::vector<FaultRule> rules;
    // Armed when the first event of this type arrives (-1: before the job); with armAfterClose
    // only once the drive has received a CLOSE TRACK/SESSION.
    int armAtEvent;
    bool armAfterClose;
    TVX_Result expected;
    int32_t location;
    uint8_t key, asc, ascq; // the sense the LastError must describe
};

FaultRule Sense(int opcode, uint8_t key, uint8_t asc, uint8_t ascq, uint32_t occurrence = 0,
                uint32_t maxFires = 0) {
    return FaultRule::SenseOn(opcode, key, asc, ascq, occurrence, maxFires);
}

std::vector<FaultRule> CloseAttempts(uint32_t first) {
    std::vector<FaultRule> rules;
    for (uint32_t n = first; n < first + 5; ++n)
        rules.push_back(Sense(0x5B, 5, 0x24, 0, n, 1));
    return rules;
}

const MediumKind kPlusR = MediumKind::DvdPlusR;
const MediumKind kDashR = MediumKind::DvdR;
const MediumKind kPlusRw = MediumKind::DvdPlusRw;
const TVX_Result kOk = TVX_OK;

std::vector<FaultCase> Cases() {
    return {
        {"prepare TEST UNIT READY",
         kPlusR,
         0,
         {Sense(0x00, 2, 4, 1, 2, 1)},
         -1,
         false,
         TVX_ERR_COMMAND,
         290,
         2,
         4,
         1},
        {"prepare PREVENT",
         kPlusR,
         0,
         {Sense(0x1E, 5, 0x24, 0, 1, 1)},
         -1,
         false,
         TVX_ERR_COMMAND,
         296,
         5,
         0x24,
         0},
        {"prepare write parameters (dash)",
         kDashR,
         0,
         {Sense(0x55, 5, 0x26, 0, 1, 1)},
         -1,
         false,
         TVX_ERR_COMMAND,
         326,
         5,
         0x26,
         0},
        {"prepare write parameters, verify mode",
         kDashR,
         3,
         {Sense(0x55, 5, 0x26, 0, 1, 1)},
         -1,
         false,
         TVX_ERR_VERIFY,
         326,
         5,
         0x26,
         0},
        {"first READ TRACK INFORMATION",
         kPlusR,
         0,
         {Sense(0x52, 5, 0x24, 0, 2, 1)},
         -1,
         false,
         TVX_ERR_COMMAND,
         386,
         5,
         0x24,
         0},
        {"RESERVE TRACK",
         kDashR,
         0,
         {Sense(0x53, 5, 0x24, 0, 1, 1)},
         -1,
         false,
         TVX_ERR_COMMAND,
         404,
         5,
         0x24,
         0},
        {"second READ TRACK INFORMATION",
         kPlusR,
         0,
         {Sense(0x52, 5, 0x24, 0, 3, 1)},
         -1,
         false,
         TVX_ERR_COMMAND,
         412,
         5,
         0x24,
         0},
        {"WRITE(10)",
         kPlusR,
         0,
         {Sense(0x2A, 3, 0x0C, 0, 2, 1)},
         -1,
         false,
         TVX_ERR_COMMAND,
         521,
         3,
         0x0C,
         0},
        {"WRITE(10), verify mode",
         kDashR,
         3,
         {Sense(0x2A, 3, 0x0C, 0, 2, 1)},
         -1,
         false,
         TVX_ERR_VERIFY,
         521,
         3,
         0x0C,
         0},
        {"SYNCHRONIZE CACHE",
         kPlusR,
         0,
         {Sense(0x35, 3, 0x0C, 0, 1, 1)},
         -1,
         false,
         TVX_ERR_COMMAND,
         700,
         3,
         0x0C,
         0},
        {"flush wait never ends",
         kDashR,
         0,
         {Sense(0x00, 2, 4, 8)},
         4,
         false,
         TVX_ERR_COMMAND,
         715,
         2,
         4,
         8},
        {"CLOSE TRACK refused", kPlusR, 0, CloseAttempts(1), -1, false, TVX_ERR_COMMAND, 772, 5,
         0x24, 0},
        {"close track wait never ends",
         kPlusR,
         0,
         {Sense(0x25, 2, 4, 7)},
         5,
         true,
         TVX_ERR_COMMAND,
         772,
         2,
         4,
         7},
        {"finalise refused", kPlusR, 0, CloseAttempts(2), -1, false, TVX_ERR_COMMAND, 817, 5, 0x24,
         0},
        {"DVD+RW close and fall-back close refused",
         kPlusRw,
         0,
         {Sense(0x5B, 5, 0x24, 0, 1, 1), Sense(0x5B, 5, 0x24, 0, 2, 1)},
         -1,
         false,
         kOk,
         215,
         5,
         0x24,
         0},
        // The wait's polls describe the refusal; the close step records after them.
        {"DVD+RW close wait never ends",
         kPlusRw,
         0,
         {Sense(0x25, 2, 4, 7)},
         5,
         true,
         TVX_ERR_COMMAND,
         239,
         2,
         4,
         7},
        {"eject refused once",
         kPlusR,
         0,
         {Sense(0x1B, 2, 0x53, 2, 2, 1)},
         -1,
         false,
         kOk,
         866,
         2,
         0x53,
         2},
    };
}

class FaultMatrixTest : public RecordingTest, public ::testing::WithParamInterface<size_t> {};

TEST_P(FaultMatrixTest, ResultLocationTextsAndUnlockedDisc) {
    const FaultCase c = Cases()[GetParam()];
    SCOPED_TRACE(c.step);
    makeFile("data/a.bin", 100000);
    makeFile("data/b.bin", 3000);
    insertBlank(c.kind);
    bool armed = false;
    auto arm = [&] {
        for (const FaultRule& rule : c.rules)
            drive->addFault(rule);
        armed = true;
    };
    if (c.armAtEvent < 0) arm();
    // Later steps may record their own failures (a flush after a failed write polls a busy
    // drive), so the record is looked at after every event as well as at the end.
    std::vector<TVX_LastError> records;
    log.onEvent = [&](const ProgressEvent& e) {
        records.push_back(handle->lastError);
        if (armed || e.type != c.armAtEvent) return;
        if (c.armAfterClose && traceText().find("CLOSE") == std::string::npos) return;
        arm();
    };
    TVX_BurnOptions options = {c.mode, -1};
    TVX_Result result = TVX_BurnVolumeData(handle, &options, dir.file("data").c_str(), "FAULTS",
                                           callback(), logData());
    EXPECT_TRUE(armed);
    EXPECT_EQ(result, c.expected) << drive->formatTrace();
    records.push_back(handle->lastError);
    auto record = std::find_if(records.rbegin(), records.rend(),
                               [&](const TVX_LastError& r) { return r.location == c.location; });
    ASSERT_NE(record, records.rend()) << "last location " << handle->lastError.location;
    EXPECT_EQ(record->senseKey, c.key);
    EXPECT_EQ(record->asc, c.asc);
    EXPECT_EQ(record->ascq, c.ascq);
    SenseTexts texts = Mmc_LookupSense(c.key, c.asc, c.ascq);
    EXPECT_STREQ(record->description, texts.description);
    EXPECT_STREQ(record->category, texts.category);
    EXPECT_STRNE(record->description, "Unknown");
    EXPECT_TRUE(removalAllowedAtEnd()) << traceText();
    EXPECT_EQ(handle->rec.bufferAllocation, nullptr);
    EXPECT_EQ(handle->rec.bufferFill, 0u);
    EXPECT_EQ(handle->rec.cancelled, 0);
}

INSTANTIATE_TEST_SUITE_P(EngineSteps, FaultMatrixTest, ::testing::Range<size_t>(0, Cases().size()),
                         [](const ::testing::TestParamInfo<size_t>& info) {
                             std::string name = Cases()[info.param].step;
                             for (char& ch : name)
                                 if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
                             return name;
                         });

} // namespace
} // namespace tvx::test
