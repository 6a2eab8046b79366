// The drive's abilities (media kinds from its profile list), readiness and tray.
#include "torvexin.h"

#include "mmc/commands.h"
#include "mmc/execute.h"
#include "mmc/locations.h"

using namespace tvx;

extern "C" {

TVX_API TVX_Result TVX_CALL TVX_GetDriveCaps(TVX_RecHandle handle, uint32_t* caps) {
    if (!caps) return TVX_ERR_INVALID_ARG;
    *caps = 0;
    FeatureInfo features;
    if (!Mmc_GetFeature(handle, 0x0000, &features)) {
        Mmc_RecordError(handle, location::kDriveCapsProfiles);
        return TVX_ERR_COMMAND;
    }
    for (uint16_t profile : features.profiles) {
        if (profile == 0) break;
        *caps |= Media_FromProfile(profile);
    }
    return TVX_OK;
}

TVX_API int32_t TVX_CALL TVX_TestReady(TVX_RecHandle handle) {
    return Mmc_TestUnitReady(handle);
}

TVX_API TVX_Result TVX_CALL TVX_EjectMedia(TVX_RecHandle handle) {
    Mmc_PreventRemoval(handle, 0); // a refused unlock shows up as a failed eject
    return Mmc_StartStop(handle, kStartStopEject, 0) ? TVX_OK : TVX_ERR_NOT_READY;
}

TVX_API TVX_Result TVX_CALL TVX_LoadMedia(TVX_RecHandle handle) {
    return Mmc_StartStop(handle, kStartStopLoad, 0) ? TVX_OK : TVX_ERR_NOT_READY;
}

} // extern "C"
