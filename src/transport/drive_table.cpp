// The drive table, TVX_GetDriveCount, TVX_GetDriveInfo and the recorder handles.
#include "transport/drive_table.h"

#include "torvexin.h"

namespace tvx {

int DriveTable_Fill() { return 0; }
void DriveTable_Empty() {}

} // namespace tvx

using namespace tvx;

extern "C" {

TVX_API int32_t TVX_CALL TVX_GetDriveCount(void) { return DriveTable_Fill(); }

TVX_API TVX_Result TVX_CALL TVX_GetDriveInfo(int32_t, TVX_DriveInfo* info) {
    if (!info) return TVX_ERR_INVALID_ARG;
    return TVX_ERR_NO_DRIVE;
}

TVX_API TVX_RecHandle TVX_CALL TVX_OpenRecHandle(int32_t) { return nullptr; }

TVX_API int32_t TVX_CALL TVX_CloseRecHandle(TVX_RecHandle) { return 0; }

} // extern "C"
