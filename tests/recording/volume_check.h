// Checks of a burnt volume: the same plan streamed to an image file, the disc's image compared
// with it, and readers nobody here wrote (isoinfo, isovfy, udfinfo, 7z, lsdvd) run on it.
#pragma once

#include "image/plan.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace tvx::test {

using FillPlan = std::function<bool(VolumePlan*)>;

// Plans the volume as a burn job does and streams it into imagePath. Returns the volume size
// in sectors (0 on failure).
uint32_t StreamPlanToFile(const char* label, const FillPlan& fill, const std::string& imagePath);

// Empty when the first bytes of discImage equal the whole of expectedImage; else what differs.
std::string CompareImages(const std::string& discImage, const std::string& expectedImage);

struct ToolResult {
    int status = -1;
    std::string output;
};
ToolResult RunTool(const std::string& commandLine);

// Runs the readers on the image; empty when all accept it and 7z lists every expected path
// (volume paths with '/'). A DVD-Video volume must also show its title to lsdvd.
std::string ReadersAccept(const std::string& image, const std::string& label,
                          const std::vector<std::string>& expectedPaths, bool dvdVideo);

} // namespace tvx::test
