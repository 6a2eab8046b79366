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
    ReplayTarget(std::vector<Exchange> report, ScsiTarget& model,
                 uint32_t maxTransferBytes = 0);

    ScsiResult execute(const ScsiRequest& request) override;
    uint32_t maxTransferBytes() const override;

    // The current profile of the report's disc (0: none) and whether READ DISC INFORMATION found
    // it blank.
    uint16_t currentProfile() const;
    bool blank() const;

  private:
    const Exchange* find(const char* name) const;
    bool answer(const Exchange& recorded, const ScsiRequest& request,
                ScsiResult& result) const;
    bool configuration(const ScsiRequest& request, ScsiResult& result) const;

    std::vector<Exchange> report_;
    ScsiTarget& model_;
    uint32_t maxTransfer_;
    bool discChanged_ = false;
};

} // namespace tvx::vdrive
