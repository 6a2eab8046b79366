// A tiny scripted drive for transport tests: answers INQUIRY and GET CONFIGURATION (profile
// list), accepts everything else, and can be told to fail commands with given sense data.
#pragma once

#include "platform/scsi_target.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

namespace tvx::test {

class ScriptedTarget : public ScsiTarget {
  public:
    uint8_t peripheralType = 5;
    std::string vendor = "TVXTEST ";
    std::string product = "DVD-RW SIM      ";
    std::string revision = "1.00";
    std::vector<uint16_t> profiles = {0x0011, 0x001A};
    bool failGetConfiguration = false;
    // When set, every command other than INQUIRY ends in CHECK CONDITION with this sense.
    std::vector<uint8_t> failSense;

    std::vector<ScsiRequest> requests; // CDB pointers are not kept valid
    std::vector<std::vector<uint8_t>> cdbs;

    ScsiResult execute(const ScsiRequest& request) override {
        requests.push_back(request);
        cdbs.emplace_back(request.cdb, request.cdb + request.cdbLength);
        ScsiResult result;
        std::vector<uint8_t> answer;
        uint8_t op = request.cdb[0];
        if (op == 0x12) {
            answer.assign(36, 0);
            answer[0] = peripheralType;
            answer[4] = 31;
            Field(answer, 8, vendor, 8);
            Field(answer, 16, product, 16);
            Field(answer, 32, revision, 4);
        } else if (!failSense.empty() || (op == 0x46 && failGetConfiguration)) {
            result.status = kScsiStatusCheckCondition;
            std::vector<uint8_t> sense = failSense;
            if (sense.empty()) sense = {0x70, 0, 0x05, 0, 0, 0, 0, 10, 0, 0, 0, 0, 0x20, 0x00};
            std::memcpy(result.sense, sense.data(), std::min(sense.size(), sizeof result.sense));
            result.senseLength = static_cast<uint32_t>(std::min(sense.size(), sizeof result.sense));
            return result;
        } else if (op == 0x46) {
            answer.assign(8 + 4 + profiles.size() * 4, 0);
            uint32_t length = static_cast<uint32_t>(answer.size() - 4);
            answer[0] = static_cast<uint8_t>(length >> 24);
            answer[1] = static_cast<uint8_t>(length >> 16);
            answer[2] = static_cast<uint8_t>(length >> 8);
            answer[3] = static_cast<uint8_t>(length);
            answer[10] = 0x03; // persistent, current
            answer[11] = static_cast<uint8_t>(profiles.size() * 4);
            for (size_t i = 0; i < profiles.size(); ++i) {
                answer[12 + 4 * i] = static_cast<uint8_t>(profiles[i] >> 8);
                answer[13 + 4 * i] = static_cast<uint8_t>(profiles[i]);
            }
        }
        if (request.direction == DataDirection::FromDevice && request.data) {
            uint32_t n =
                std::min<uint32_t>(request.byteCount, static_cast<uint32_t>(answer.size()));
            std::memcpy(request.data, answer.data(), n);
            result.transferred = n;
        }
        return result;
    }

  private:
    static void Field(std::vector<uint8_t>& out, size_t at, const std::string& text, size_t width) {
        for (size_t i = 0; i < width; ++i)
            out[at + i] = i < text.size() ? text[i] : ' ';
    }
};

} // namespace tvx::test
