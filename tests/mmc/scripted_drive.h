// A drive for command-layer tests: it records every command it receives and answers each
// operation code as the test scripted it (given bytes, a sense triple, or a function).
#pragma once

#include "platform/scsi_target.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <functional>
#include <map>
#include <vector>

namespace tvx::test {

struct ScriptedReply {
    std::vector<uint8_t> data; // data in, cut to the byte count asked for
    bool check = false;
    uint8_t senseKey = 0, asc = 0, ascq = 0;

    static ScriptedReply Data(std::vector<uint8_t> bytes) { return {std::move(bytes)}; }
    static ScriptedReply Sense(uint8_t key, uint8_t asc, uint8_t ascq) {
        return {{}, true, key, asc, ascq};
    }
};

struct ReceivedCommand {
    std::vector<uint8_t> cdb;
    DataDirection direction = DataDirection::None;
    uint32_t byteCount = 0;
    uint32_t timeoutSeconds = 0;
    std::vector<uint8_t> dataOut;
    uint8_t opcode() const { return cdb.empty() ? 0xFF : cdb[0]; }
};

class ScriptedDrive final : public ScsiTarget {
  public:
    using Handler = std::function<ScriptedReply(const ReceivedCommand&)>;

    void on(uint8_t opcode, Handler handler) { handlers_[opcode] = std::move(handler); }
    void answer(uint8_t opcode, std::vector<uint8_t> bytes) {
        on(opcode, [bytes](const ReceivedCommand&) { return ScriptedReply::Data(bytes); });
    }
    void good(uint8_t opcode) { answer(opcode, {}); }
    void fail(uint8_t opcode, uint8_t key, uint8_t asc, uint8_t ascq) {
        on(opcode, [=](const ReceivedCommand&) { return ScriptedReply::Sense(key, asc, ascq); });
    }

    std::vector<ReceivedCommand> received;

    std::vector<ReceivedCommand> receivedOf(uint8_t opcode) const {
        std::vector<ReceivedCommand> out;
        for (const auto& c : received)
            if (c.opcode() == opcode) out.push_back(c);
        return out;
    }
    std::vector<uint8_t> opcodes() const {
        std::vector<uint8_t> out;
        for (const auto& c : received)
            out.push_back(c.opcode());
        return out;
    }

    ScsiResult execute(const ScsiRequest& request) override {
        ReceivedCommand c;
        c.cdb.assign(request.cdb, request.cdb + request.cdbLength);
        c.direction = request.direction;
        c.byteCount = request.byteCount;
        c.timeoutSeconds = request.timeoutSeconds;
        if (request.direction == DataDirection::ToDevice && request.data) {
            auto* p = static_cast<const uint8_t*>(request.data);
            c.dataOut.assign(p, p + request.byteCount);
        }
        received.push_back(c);

        ScsiResult result;
        auto it = handlers_.find(c.opcode());
        ScriptedReply reply =
            it != handlers_.end() ? it->second(c) : ScriptedReply::Sense(0x05, 0x20, 0x00);
        if (reply.check) {
            result.status = kScsiStatusCheckCondition;
            result.sense[0] = 0x70;
            result.sense[2] = reply.senseKey;
            result.sense[7] = 10;
            result.sense[12] = reply.asc;
            result.sense[13] = reply.ascq;
            result.senseLength = 18;
            return result;
        }
        if (request.direction == DataDirection::FromDevice && request.data) {
            const uint32_t n =
                std::min<uint32_t>(request.byteCount, static_cast<uint32_t>(reply.data.size()));
            if (n) std::memcpy(request.data, reply.data.data(), n);
            result.transferred = n;
        }
        return result;
    }

  private:
    std::map<uint8_t, Handler> handlers_;
};

// Big-endian helpers for building answers.
inline void Be16(std::vector<uint8_t>& v, std::size_t at, uint16_t x) {
    v[at] = static_cast<uint8_t>(x >> 8);
    v[at + 1] = static_cast<uint8_t>(x);
}
inline void Be32(std::vector<uint8_t>& v, std::size_t at, uint32_t x) {
    for (int i = 0; i < 4; ++i)
        v[at + i] = static_cast<uint8_t>(x >> (24 - 8 * i));
}

} // namespace tvx::test
