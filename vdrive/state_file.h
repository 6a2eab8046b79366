// The small text file that keeps a disc's state beside its image. It is replaced whole, through
// a file of a fresh name in the image's folder, so that a crash leaves the old or the new state
// and nothing another user placed in that folder is followed, truncated or waited on.
#pragma once

#include <cstdint>
#include <string>

namespace tvx::vdrive {

// Reads the state file at path (never through a link, never waiting on a FIFO).
bool ReadStateFile(const std::string& path, std::string& text, std::string& problem);
// Replaces the file at path with text, durably; the new file gets the permission bits mode.
bool ReplaceStateFile(const std::string& path, const std::string& text, uint32_t mode,
                      std::string& problem);

} // namespace tvx::vdrive
