// Whether a VIDEO_TS folder fits on the disc in the drive; nothing is written.
#include "recording/job_support.h"

using namespace tvx;

extern "C" TVX_API TVX_Result TVX_CALL TVX_CheckVideoTsFolderSize(TVX_RecHandle handle,
                                                                  const char* folder,
                                                                  uint32_t* volumeSectors,
                                                                  uint32_t* freeSectors) {
    if (volumeSectors) *volumeSectors = 0;
    if (freeSectors) *freeSectors = 0;
    if (!folder) return TVX_ERR_INVALID_ARG;
    PlanPtr plan(Plan_Create(""));
    if (!plan) return TVX_ERR_COMMAND;
    if (!Plan_AddVideoTsFolder(plan.get(), folder)) return TVX_ERR_SOURCE;
    if (!Plan_Layout(plan.get())) return TVX_ERR_COMMAND;
    const uint32_t size = Plan_VolumeSize(plan.get());
    if (volumeSectors) *volumeSectors = size;

    TVX_DiscInfo disc;
    TVX_Result result = TVX_GetDiscInfo(handle, &disc);
    if (result != TVX_OK) return result;
    if (freeSectors) *freeSectors = disc.freeBlocks;
    return size > Job_DiscSpace(disc, handle->discProfile) ? TVX_ERR_NO_SPACE : TVX_OK;
}
