// Fault rules: which command a rule matches and when it fires.
#pragma once

#include "vdrive/virtual_recorder.h"

#include <optional>
#include <vector>

namespace tvx::vdrive {

// The LBA range a CDB touches, for commands that address blocks.
bool CommandLbaRange(const uint8_t* cdb, uint8_t cdbLength, uint32_t& first, uint32_t& last);

class FaultSet {
  public:
    void add(const FaultRule& rule) { rules_.push_back({rule, 0, 0}); }
    void clear() { rules_.clear(); }
    // The first rule that fires on this command (counting the match on every rule that matches).
    std::optional<FaultRule> match(const uint8_t* cdb, uint8_t cdbLength);

  private:
    struct Armed {
        FaultRule rule;
        uint32_t matches;
        uint32_t fired;
    };
    std::vector<Armed> rules_;
};

} // namespace tvx::vdrive
