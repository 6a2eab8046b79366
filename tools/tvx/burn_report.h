// What a failed or stopped burn leaves behind, and which source failed, in words.
#pragma once

#include "commands.h"
#include "progress.h"
#include "torvexin.h"

#include <string>

namespace tvxcli {

// True when the TVX_LastError record of a failed or stopped burn says its volume is whole on the
// disc and only finishing it did not complete: on a DVD+RW, only the close comes after the last
// flush, and it records location 805 (the close failed) or 239 (its wait was stopped).
bool VolumeWholeRecord(uint32_t mediaBefore, const TVX_LastError& record);
// The TVX_LastError location of a burn on media written over in place whose volume structures
// could not be overwritten again after it stopped.
inline constexpr int32_t kIncompleteWipeLocation = 1030;
// The disc's state then.
std::string VolumeWholeState(uint32_t mediaType);
// Whether a burn's result comes from its read-back: with verification asked for, the library
// answers TVX_ERR_VERIFY for a failed write or close too.
bool ReadBackFailed(TVX_Result result, TVX_RecHandle handle, const JobFacts& facts);
// The source that cannot be read, named, or "" when every named source reads.
std::string DiagnoseSource(const BurnRequest& request);

} // namespace tvxcli
