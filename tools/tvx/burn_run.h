// The steps of a burn that the burn commands and make-image share.
#pragma once

#include "commands.h"
#include "source_reason.h"
#include "torvexin.h"

namespace tvxcli {

// Checks the options, reads a file set's list and checks its pairs: 0 or an exit code.
int PrepareBurn(const Options& options, BurnRequest& request, TVX_BurnOptions& burn);
// Runs the burn with progress and stop handling.
TVX_Result RunBurn(const Options& options, TVX_RecHandle handle, const BurnRequest& request,
                   const TVX_BurnOptions& burn, uint32_t mediaType);
// What was known before the burn: the disc as the drive reported it, the sources' sizes.
struct BurnBefore {
    TVX_DiscInfo disc{};
    SourceSizes sizes;
};
// Prints the outcome (done, or the failure in words, the source at fault and the disc's state
// as the drive reports it after the job) and returns the exit code.
int ReportBurn(const Options& options, const char* what, TVX_Result result, TVX_RecHandle handle,
               const BurnRequest& request, const BurnBefore& before);

} // namespace tvxcli
