// The volume plan of a tool request, built with the library's own image builder exactly as the
// burn of the same request builds it: make-image streams it, check measures it.
#pragma once

#include "burn_run.h"
#include "commands.h"
#include "source_reason.h"

#include "image/plan.h"

#include <memory>
#include <string>
#include <vector>

namespace tvxcli {

struct PlanDeleter {
    void operator()(tvx::VolumePlan* plan) const { tvx::Plan_Free(plan); }
};
using PlanPtr = std::unique_ptr<tvx::VolumePlan, PlanDeleter>;

// Excluded paths: a pattern without '/' matches an entry's name at any depth; one with '/'
// matches the whole path relative to the source folder.
tvx::ScanExclude ExcludeMatcher(const std::vector<std::string>& patterns);

// Fills the plan as the burn of the same request does; folder pairs of a file set graft the
// folder's tree. On failure `failed` names the source (the plan's refusal, when set, says more).
bool FillPlan(tvx::VolumePlan* plan, const BurnRequest& request, std::string& failed);

// The size in sectors of the volume the burn of the request records (an image's own size); 0
// when the source cannot be planned.
uint32_t PlannedSectors(const BurnRequest& request, const std::string& label);

// Reports a source the plan could not take as a burn reports TVX_ERR_SOURCE: the result, the
// source at fault and why, then what the output holds (outcome).
int PlanSourceFailure(const Options& options, const char* what, const tvx::VolumePlan* plan,
                      const std::string& failed, const BurnRequest& request,
                      const SourceSizes& sizes, const std::string& outcome);

} // namespace tvxcli
