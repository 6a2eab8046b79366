// The library file's version, 1.3.0.81, as its version resource carries it on Windows.
#pragma once

#include <cstdint>

namespace tvx {

inline constexpr uint32_t kFileVersionMajor = 1;
inline constexpr uint32_t kFileVersionMinor = 3;
inline constexpr uint32_t kFileVersionBuild = 0;
inline constexpr uint32_t kFileVersionRevision = 81;

} // namespace tvx
