// The steps of a burn that the burn commands and make-image share.
#pragma once

#include "commands.h"
#include "torvexin.h"

namespace tvxcli {

// Checks the options, reads a file set's list and checks its pairs: 0 or an exit code.
int PrepareBurn(const Options& options, BurnRequest& request, TVX_BurnOptions& burn);
// Runs the burn with progress and stop handling.
TVX_Result RunBurn(const Options& options, TVX_RecHandle handle, const BurnRequest& request,
                   const TVX_BurnOptions& burn);
// Prints the outcome (done, or the failure, the source at fault and the disc's state) and
// returns the exit code.
int ReportBurn(const Options& options, const char* what, TVX_Result result, TVX_RecHandle handle,
               const BurnRequest& request, uint32_t mediaType);

} // namespace tvxcli
