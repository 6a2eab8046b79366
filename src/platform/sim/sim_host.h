// The simulation host: real files, virtual time, and (added by the device part) configurable
// drive letters, registry values, a proxy device and device files whose pass-through requests go
// to ScsiTargets such as the virtual recorder. Used by tests and by virtual drives of tools.
#pragma once

#include "platform/posix/posix_host.h"

#include <mutex>
#include <optional>

namespace tvx {

class SimHost : public PosixHost {
public:
    SimHost() = default;

    Clock& clock() override { return clock_; }
    VirtualClock& virtualClock() { return clock_; }

    // Overrides of the environment, for tests.
    void setTempDirectory(std::string dir) { tempDir_ = std::move(dir); }
    void setTimeZoneBias(int32_t minutes) { bias_ = minutes; }
    void setCurrentFileTime(uint64_t fileTime) { now_ = fileTime; }

    std::string tempDirectory() override;
    int32_t timeZoneBias() override;
    uint64_t currentFileTime() override;

private:
    VirtualClock clock_;
    std::optional<std::string> tempDir_;
    std::optional<int32_t> bias_;
    std::optional<uint64_t> now_;
};

} // namespace tvx
