// Reproducible volumes: with SOURCE_DATE_EPOCH set, the times a volume records come from it, so
// that two runs over the same tree give the same bytes.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace tvxcli {

// SOURCE_DATE_EPOCH from the environment: nothing when it is unset or empty; false with a
// message when it is not a count of seconds since 1970 that a volume can record.
bool ReadSourceDate(std::optional<int64_t>& seconds, std::string& error);

// Makes the image builder compiled into the tool record `seconds` (in UTC) as the volume's
// time: its creation and recording times, the set identifier made from them, the times of the
// folders it adds, and every file time later than it (earlier ones are kept). For the rest of
// the process.
void UseSourceDate(int64_t seconds);

} // namespace tvxcli
