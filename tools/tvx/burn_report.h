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
// The TVX_LastError location of a burn whose volume is whole on the disc while finishing it
// failed or was stopped.
inline constexpr int32_t kVolumeWholeLocation = 1040;
// The disc's state then.
std::string VolumeWholeState(uint32_t mediaType);
// The source that cannot be read, named, or "" when every named source reads.
std::string DiagnoseSource(const BurnRequest& request);

} // namespace tvxcli
