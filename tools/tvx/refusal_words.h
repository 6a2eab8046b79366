// Why a burn was refused before anything was written, in plain words.
#pragma once

#include "torvexin.h"

#include <cstdint>
#include <string>

namespace tvxcli {

// The space a volume needs, in sectors: exact, or at least this much (its files alone).
struct NeededSpace {
    uint64_t sectors = 0;
    bool exact = false;
};

// The words for TVX_ERR_NO_SPACE, TVX_ERR_DISC_KIND, TVX_ERR_DISC_NOT_WRITABLE and TVX_ERR_MODE
// given the disc as the drive reported it before the burn; "" for other results.
std::string ExplainRefusal(TVX_Result result, const TVX_DiscInfo& disc, bool testWrite,
                           const NeededSpace& needed);

// The space the data of `path` (a file, or a folder's files) takes at the least.
NeededSpace FilesSpace(const std::string& path, bool exactFile);

} // namespace tvxcli
