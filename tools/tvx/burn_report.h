// What a failed or stopped burn leaves behind, and which source failed, in words.
#pragma once

#include "commands.h"
#include "progress.h"
#include "torvexin.h"

#include <string>

namespace tvxcli {

// The disc's state after a burn that ended with result (not TVX_OK) on a disc of mediaType.
std::string DiscStateAfterBurn(TVX_Result result, uint32_t mediaType, const JobFacts& facts,
                               bool testWrite);
// The source that cannot be read, named, or "" when every named source reads.
std::string DiagnoseSource(const BurnRequest& request);

} // namespace tvxcli
