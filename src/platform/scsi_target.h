// One SCSI command as a target (a drive) receives it, and the target's answer. The virtual
// recorder implements ScsiTarget; the simulation host routes pass-through requests to it.
#pragma once

#include <cstdint>

namespace tvx {

enum class DataDirection : uint8_t {
    ToDevice = 0,
    FromDevice = 1,
    None = 2,
};

struct ScsiRequest {
    const uint8_t* cdb = nullptr;
    uint8_t cdbLength = 0;
    DataDirection direction = DataDirection::None;
    void* data = nullptr;     // caller's buffer, byteCount bytes
    uint32_t byteCount = 0;
    uint32_t timeoutSeconds = 0;
};

enum class ScsiOutcome : uint8_t {
    Completed,       // the target answered: see status and sense
    TransportFailed, // the request never reached the target or the path broke
    TimedOut,        // no answer within the time limit
};

inline constexpr uint8_t kScsiStatusGood = 0x00;
inline constexpr uint8_t kScsiStatusCheckCondition = 0x02;

struct ScsiResult {
    ScsiOutcome outcome = ScsiOutcome::Completed;
    uint8_t status = kScsiStatusGood;
    uint8_t sense[32] = {};   // sense data (fixed or descriptor format) with CHECK CONDITION
    uint32_t senseLength = 0; // valid bytes in sense
    uint32_t transferred = 0; // data bytes actually moved
};

class ScsiTarget {
public:
    virtual ~ScsiTarget() = default;
    virtual ScsiResult execute(const ScsiRequest& request) = 0;
};

} // namespace tvx
