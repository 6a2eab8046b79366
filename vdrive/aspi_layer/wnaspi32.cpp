// The module's two entry points. The layer is built from the environment on first use and taken
// down when the module is unloaded (or the process ends), which saves every disc.
#include "vdrive/aspi_layer/virtual_layer.h"

#include <cstdio>
#include <cstdlib>

#if defined(_WIN32)
#include <windows.h>
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

#if defined(_WIN32)
// Taken down by DllMain rather than by the runtime's exit handlers, which cannot tell the end of
// the process (its other threads stopped anywhere) from FreeLibrary.
tvx::vdrive::VirtualAspiLayer* TheLayer = nullptr;

tvx::vdrive::VirtualAspiLayer& Layer() {
    static tvx::vdrive::VirtualAspiLayer& layer =
        *(TheLayer = new tvx::vdrive::VirtualAspiLayer(ReadConfig()));
#else
tvx::vdrive::VirtualAspiLayer& Layer() {
    static tvx::vdrive::VirtualAspiLayer layer(ReadConfig());
#endif
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

#if defined(_WIN32)
BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID reserved) {
    if (reason == DLL_PROCESS_DETACH && TheLayer) {
        // FreeLibrary (reserved null): no worker is left, each holds the module while it runs.
        if (reserved)
            TheLayer->saveAtProcessEnd();
        else
            delete TheLayer;
        TheLayer = nullptr;
    }
    return TRUE;
}
#endif

TVX_LAYER_EXPORT uint32_t TVX_ASPI_CALL GetASPI32SupportInfo() {
    return Layer().supportInfo();
}

TVX_LAYER_EXPORT uint32_t TVX_ASPI_CALL SendASPI32Command(void* requestBlock) {
    return Layer().sendCommand(requestBlock);
}

} // extern "C"
