// Start-up and shut-down: choosing a transport, filling the drive table, the version query and
// the last-error record.
#include "torvexin.h"

#include "frame/library_state.h"
#include "frame/log.h"
#include "platform/host.h"
#include "transport/backends.h"
#include "transport/drive_table.h"
#include "transport/rec_handle.h"

#include <cstring>

namespace tvx {

int32_t ExtendedMode = 0;

} // namespace tvx

using namespace tvx;

extern "C" {

TVX_API int32_t TVX_CALL TVX_Initialize(void) {
    int32_t result = 0;
    if (ProbeSpti()) {
        ActiveTransport = &SptiTransport;
        LogWrite("Use: SPTI\n");
        result = 1;
    } else {
        LogWrite("fail: SPTI\n");
        if (ProbeAspi()) {
            ActiveTransport = &AspiTransport;
            LogWrite("Use: ASPI\n");
            result = 1;
        } else {
            ActiveTransport = nullptr;
            LogWrite("fail: ASPI\n");
        }
    }
    if (result) DriveTable_Fill();
    ExtendedMode = 0;
    return result;
}

TVX_API int32_t TVX_CALL TVX_InitializeEx(void) {
    int32_t result = TVX_Initialize();
    ExtendedMode = 1;
    return result;
}

TVX_API int32_t TVX_CALL TVX_Terminate(void) {
    if (!ActiveTransport) return 0;
    DriveTable_Empty();
    Front_Terminate();
    ActiveTransport = nullptr;
    return 0;
}

TVX_API uint32_t TVX_CALL TVX_GetVersion(uint32_t* versionLow) {
    if (versionLow) *versionLow = 0;
    uint32_t high = 0;
    uint32_t low = 0;
    if (!host().moduleFileVersion(high, low)) return 0;
    if (versionLow) *versionLow = low;
    return high;
}

TVX_API TVX_Result TVX_CALL TVX_GetLastError(TVX_RecHandle handle, TVX_LastError* record) {
    if (!handle || !record) return TVX_ERR_INVALID_ARG;
    std::memcpy(record, &handle->lastError, sizeof *record);
    return TVX_OK;
}

} // extern "C"
