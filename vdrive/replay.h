// A drive report made a drive again: a ScsiTarget that answers what the report recorded (the
// identity, features, mode pages, speeds, format capacities and the disc as it was) and hands
// everything else to a virtual recorder holding a disc of the report's kind, which records
// writes onto its image as usual. Once the host changes the disc (any command the probe never
// sends), the answers about the disc's state come from the recorder too: the report no longer
// describes that disc.
#pragma once

#include "vdrive/drive_report.h"

#include <memory>

namespace tvx::vdrive {

class ReplayTarget final : public ScsiTarget {
  public:
    // model: the recorder that stands behind the report (not owned; outlives this target).
    ReplayTarget(std::vector<Exchange> report, ScsiTarget& model, uint32_t maxTransferBytes = 0);
    // The recorder's disc is not the one the report saw (written since, or of another kind): the
    // recorder answers about the disc from now on.
    void discNotAsReported() { discChanged_ = true; }

    ScsiResult execute(const ScsiRequest& request) override;
    uint32_t maxTransferBytes() const override;

    // The current profile of the report's disc (0: none) and its disc status as READ DISC
    // INFORMATION gave it (-1: not known).
    uint16_t currentProfile() const;
    int discStatus() const;

  private:
    const Exchange* find(const char* name) const;
    bool answer(const Exchange& recorded, const ScsiRequest& request, ScsiResult& result) const;
    bool configuration(const ScsiRequest& request, ScsiResult& result) const;

    std::vector<Exchange> report_;
    ScsiTarget& model_;
    uint32_t maxTransfer_;
    bool discChanged_ = false;
};

} // namespace tvx::vdrive
