// GET CONFIGURATION for one feature: the profile list (0000h), the DVD+RW feature (002Ah) and
// the DVD-R/-RW Write feature (002Fh) and Real Time Streaming (0107h).
#include "common/byte_order.h"
#include "mmc/answers.h"
#include "mmc/command_record.h"
#include "mmc/commands.h"
#include "mmc/execute.h"

#include <algorithm>

namespace tvx {

namespace {

constexpr uint16_t kConfigurationBytes = 128;
constexpr uint8_t kRequestOneFeature = 0x02;
constexpr uint16_t kFeatureProfileList = 0x0000;
constexpr uint16_t kFeatureDashWrite = 0x002F;
constexpr uint16_t kFeatureDvdPlusRw = 0x002A;
constexpr uint16_t kFeatureRealTimeStreaming = 0x0107;
constexpr std::size_t kHeaderBytes = 8;
constexpr std::size_t kProfileDescriptorBytes = 4;
constexpr std::size_t kMaxProfiles = 16;

} // namespace

bool ParseFeature(Answer answer, uint16_t feature, FeatureInfo* out) {
    // Header (8 bytes) and the first descriptor's own 4-byte header.
    if (answer.size() < kHeaderBytes + 4) return false;
    const uint8_t* d = answer.data() + kHeaderBytes;
    if (GetBe16(d) != feature) return false;
    if (!out) return true;
    out->currentProfile = GetBe16(answer.data() + 6);
    out->featureCode = feature;
    out->persistent = (d[2] >> 1) & 1;
    out->current = d[2] & 1;
    const std::size_t descriptorEnd = kHeaderBytes + 4;
    if (feature == kFeatureProfileList) {
        // The additional length may promise more than the answer holds: count only whole
        // descriptors inside it.
        std::size_t count = d[3] / kProfileDescriptorBytes;
        count = std::min(count, (answer.size() - descriptorEnd) / kProfileDescriptorBytes);
        count = std::min(count, kMaxProfiles);
        for (std::size_t i = 0; i < count; ++i) {
            out->profiles[i] = GetBe16(answer.data() + descriptorEnd + i * kProfileDescriptorBytes);
        }
    } else if (feature == kFeatureDvdPlusRw && answer.size() > descriptorEnd + 1) {
        const uint8_t flags = d[5];
        out->closeOnly = flags & 1;
        out->quickStart = (flags >> 1) & 1;
    } else if (feature == kFeatureDashWrite && answer.size() > descriptorEnd) {
        const uint8_t flags = d[4];
        out->bufferUnderrunFree = (flags >> 6) & 1;
        out->testWrite = (flags >> 2) & 1;
        out->rewritable = (flags >> 1) & 1;
    } else if (feature == kFeatureRealTimeStreaming && answer.size() > descriptorEnd) {
        out->streamWriting = d[4] & 1;
    }
    return true;
}

int Mmc_GetFeature(RecHandle* h, uint16_t feature, FeatureInfo* out) {
    uint8_t answer[kConfigurationBytes] = {};
    CommandRecord command = NewCommand(kOpGetConfiguration, 10, kDirectionIn);
    command.cdb[1] = kRequestOneFeature;
    PutBe16(command.cdb + 2, feature);
    PutBe16(command.cdb + 7, kConfigurationBytes);
    if (!Mmc_Execute(h, &command, answer, kConfigurationBytes)) return 0;
    return ParseFeature(answer, feature, out) ? 1 : 0;
}

} // namespace tvx
