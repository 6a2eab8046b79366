/* A C host of the 31 functions with a blank BD-R in a virtual recorder: the burn is refused as
 * a disc of the wrong kind until the host asks for BD-R, then the same burn succeeds, verified.
 * Usage: c_host_bd_test IMAGE SOURCE-FOLDER (IMAGE and IMAGE.state are replaced). */
#define _POSIX_C_SOURCE 200112L
#include "torvexin.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

int main(int argc, char** argv) {
    char entry[4096];
    TVX_BurnOptions options = {TVX_MODE_WRITE_VERIFY, -1};
    TVX_RecHandle handle;
    TVX_Result refused, burned;
    if (argc != 3 || strlen(argv[1]) > 4000) return 2;
    remove(argv[1]);
    snprintf(entry, sizeof entry, "%s.state", argv[1]);
    remove(entry);
    /* The virtual recorders' layer reads these when the library first looks for drives. */
    snprintf(entry, sizeof entry, "%s:bd-r:100000", argv[1]);
    if (setenv("TVX_VIRTUAL_DRIVES", entry, 1) != 0 || setenv("TVX_VIRTUAL_TIMING", "fast", 1) != 0)
        return 2;
    if (!TVX_Initialize() || TVX_GetDriveCount() < 1 || !(handle = TVX_OpenRecHandle(0))) {
        fprintf(stderr, "no virtual drive\n");
        return 1;
    }
    refused = TVX_BurnVolumeData(handle, &options, argv[2], "CHOST", NULL, 0);
    if (TVX_SetWritableMedia(0x0FE0u | MediaBdR) != (0x0FE0u | MediaBdR)) return 1;
    burned = TVX_BurnVolumeData(handle, &options, argv[2], "CHOST", NULL, 0);
    TVX_SetWritableMedia(0x0FE0u);
    TVX_CloseRecHandle(handle);
    TVX_Terminate();
    if (refused != TVX_ERR_DISC_KIND || burned != TVX_OK) {
        fprintf(stderr, "before asking: %s, after: %s\n", TVX_ResultName(refused),
                TVX_ResultName(burned));
        return 1;
    }
    return 0;
}
