// The module's two entry points. The layer is built from the environment on first use and taken
// down when the module is unloaded (or the process ends), which saves every disc.
#include "vdrive/aspi_layer/virtual_layer.h"

#include <cstdio>
#include <cstdlib>

#if defined(_WIN32)
#define TVX_LAYER_EXPORT __declspec(dllexport)
#else
#define TVX_LAYER_EXPORT __attribute__((visibility("default")))
#endif

namespace {

tvx::vdrive::LayerConfig ReadConfig() {
    using namespace tvx::vdrive;
    LayerConfig config;
    std::string error;
    if (!ParseLayerConfig(std::getenv(kDrivesVariable), std::getenv(kFaultsVariable),
                          std::getenv(kTimingVariable), std::getenv(kCompletionVariable), config,
                          error)) {
        // A configuration that cannot be read shows no drive rather than a guess.
        std::fprintf(stderr, "virtual ASPI layer: %s\n", error.c_str());
        config = {};
    }
    if (const char* trace = std::getenv(kTraceVariable)) config.traceFile = trace;
    return config;
}

tvx::vdrive::VirtualAspiLayer& Layer() {
    static tvx::vdrive::VirtualAspiLayer layer(ReadConfig());
    static const bool reported = [] {
        for (const std::string& problem : layer.problems())
            std::fprintf(stderr, "virtual ASPI layer: %s\n", problem.c_str());
        return true;
    }();
    (void)reported;
    return layer;
}

} // namespace

extern "C" {

TVX_LAYER_EXPORT uint32_t TVX_ASPI_CALL GetASPI32SupportInfo() {
    return Layer().supportInfo();
}

TVX_LAYER_EXPORT uint32_t TVX_ASPI_CALL SendASPI32Command(void* requestBlock) {
    return Layer().sendCommand(requestBlock);
}

} // extern "C"
