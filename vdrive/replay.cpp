#include "vdrive/replay.h"

#include <algorithm>
#include <cstring>

namespace tvx::vdrive {

namespace {

constexpr uint8_t kSetStreaming = 0xB6;
constexpr uint8_t kSetCdSpeed = 0xBB;

uint16_t Be16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] << 8 | p[1]);
}

// Answers that describe the disc's state rather than the drive.
bool AboutTheDisc(const uint8_t* cdb) {
    switch (cdb[0]) {
    case 0x00:
    case 0x03:
    case 0x23:
    case 0x25:
    case 0x28:
    case 0x4A:
    case 0x51:
    case 0x52:
    case 0x5C:
    case 0xA8:
    case 0xAD:
        return true;
    case 0x5A:
        return (cdb[2] & 0xC0) == 0; // current values of a page
    default:
        return false;
    }
}

// The allocation length's place in each replayed command, so that a host asking for more or
// fewer bytes than the probe did still gets the recorded answer.
size_t AllocationAt(uint8_t opcode) {
    switch (opcode) {
    case 0x12:
        return 3;
    case 0x03:
        return 4;
    case 0x23:
    case 0x46:
    case 0x4A:
    case 0x51:
    case 0x52:
    case 0x5A:
    case 0x5C:
        return 7;
    case 0xAC:
        return 8; // descriptor count
    case 0xAD:
        return 8;
    default:
        return 0;
    }
}

bool SameQuestion(const std::vector<uint8_t>& recorded, const ScsiRequest& request) {
    if (recorded.size() != request.cdbLength) return false;
    size_t skip = AllocationAt(recorded[0]);
    for (size_t i = 0; i < recorded.size(); ++i) {
        if (skip && (i == skip || i == skip + 1)) continue;
        if (recorded[0] == 0x12 && i == 4) continue;
        if (i == recorded.size() - 1) continue; // control byte
        if (recorded[i] != request.cdb[i]) return false;
    }
    return true;
}

} // namespace

ReplayTarget::ReplayTarget(std::vector<Exchange> report, ScsiTarget& model,
                           uint32_t maxTransferBytes)
    : report_(std::move(report)), model_(model), maxTransfer_(maxTransferBytes) {}

uint32_t ReplayTarget::maxTransferBytes() const {
    return maxTransfer_ ? maxTransfer_ : model_.maxTransferBytes();
}

const Exchange* ReplayTarget::find(const char* name) const {
    for (const auto& e : report_)
        if (e.name == name) return &e;
    return nullptr;
}

uint16_t ReplayTarget::currentProfile() const {
    const Exchange* e = find("GET_CONFIGURATION");
    return e && e->data.size() >= 8 ? Be16(&e->data[6]) : 0;
}

int ReplayTarget::discStatus() const {
    const Exchange* e = find("READ_DISC_INFORMATION");
    return e && e->status == kScsiStatusGood && e->data.size() > 2 ? e->data[2] & 3 : -1;
}

bool ReplayTarget::answer(const Exchange& recorded, const ScsiRequest& request,
                          ScsiResult& result) const {
    result.outcome = recorded.outcome;
    result.status = recorded.status;
    result.senseLength =
        static_cast<uint32_t>(std::min(recorded.sense.size(), sizeof result.sense));
    if (result.senseLength) std::memcpy(result.sense, recorded.sense.data(), result.senseLength);
    uint32_t n = std::min<uint32_t>(request.byteCount, static_cast<uint32_t>(recorded.data.size()));
    if (request.direction == DataDirection::FromDevice && request.data && n) {
        std::memset(request.data, 0, request.byteCount);
        std::memcpy(request.data, recorded.data.data(), n);
    }
    result.transferred = request.direction == DataDirection::FromDevice ? n : 0;
    return true;
}

// Any GET CONFIGURATION from the recorded full list: all features from the starting one
// (RT 0), only the current ones (RT 1), or exactly that one (RT 2).
bool ReplayTarget::configuration(const ScsiRequest& request, ScsiResult& result) const {
    const Exchange* full = find("GET_CONFIGURATION");
    if (!full || full->status != kScsiStatusGood || full->data.size() < 8) return false;
    const uint8_t rt = request.cdb[1] & 3;
    const uint16_t start = Be16(&request.cdb[2]);
    std::vector<uint8_t> answer(full->data.begin(), full->data.begin() + 8);
    for (size_t at = 8; at + 4 <= full->data.size();) {
        size_t size = 4 + full->data[at + 3];
        if (at + size > full->data.size()) break;
        uint16_t code = Be16(&full->data[at]);
        bool current = full->data[at + 2] & 1;
        bool wanted = rt == 2 ? code == start : code >= start && (rt == 0 || current);
        if (wanted)
            answer.insert(answer.end(), full->data.begin() + at, full->data.begin() + at + size);
        at += size;
    }
    uint32_t length = static_cast<uint32_t>(answer.size() - 4);
    for (int i = 0; i < 4; ++i)
        answer[i] = static_cast<uint8_t>(length >> (24 - 8 * i));
    Exchange synthesized;
    synthesized.data = std::move(answer);
    return this->answer(synthesized, request, result);
}

ScsiResult ReplayTarget::execute(const ScsiRequest& request) {
    ScsiResult result;
    if (!request.cdb || request.cdbLength == 0) return model_.execute(request);
    const uint8_t opcode = request.cdb[0];
    // A speed the host sets changes neither the disc nor the drive's answers about it.
    if (!IsDriveQuestion(opcode) && opcode != kSetStreaming && opcode != kSetCdSpeed)
        discChanged_ = true;
    if (discChanged_ && AboutTheDisc(request.cdb)) return model_.execute(request);
    // READs need the image's data, which the report keeps only the start of.
    if (opcode == 0x28 || opcode == 0xA8) return model_.execute(request);
    // The drive's own answer to this very question first: a drive may refuse a feature it
    // lacks rather than list nothing.
    for (const auto& e : report_) {
        if (e.name.ends_with("_HEADER") || !SameQuestion(e.cdb, request)) continue;
        answer(e, request, result);
        return result;
    }
    // A question whose header the drive refused was never asked whole: the refusal stands.
    for (const auto& e : report_) {
        if (!e.name.ends_with("_HEADER") || !SameQuestion(e.cdb, request)) continue;
        if (e.outcome == ScsiOutcome::Completed && e.status == kScsiStatusGood) break;
        answer(e, request, result);
        return result;
    }
    if (opcode == 0x46 && configuration(request, result)) return result;
    return model_.execute(request);
}

} // namespace tvx::vdrive
