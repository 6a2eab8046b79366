// What a failed or stopped burn leaves behind, and which source failed, in words.
#pragma once

#include "commands.h"
#include "progress.h"
#include "torvexin.h"

#include <string>

namespace tvxcli {

// The TVX_LastError location of a burn whose volume is whole on the disc while finishing it
// failed or was stopped.
inline constexpr int32_t kVolumeWholeLocation = 1040;
// The disc's state then.
std::string VolumeWholeState(uint32_t mediaType);
// Whether a burn's result comes from its read-back: with verification asked for, the library
// answers TVX_ERR_VERIFY for a failed write or close too.
bool ReadBackFailed(TVX_Result result, TVX_RecHandle handle, const JobFacts& facts);
// The source that cannot be read, named, or "" when every named source reads.
std::string DiagnoseSource(const BurnRequest& request);

} // namespace tvxcli
