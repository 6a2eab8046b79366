/* A C host with a blank BD-R in a virtual recorder: its burn is refused as a disc of the wrong
 * kind until it asks for BD-R, then the same burn succeeds. Usage: c_host_bd_test IMAGE FOLDER */
#define _POSIX_C_SOURCE 200112L
#include "torvexin.h"

#include <stdio.h>
#include <stdlib.h>

int main(int argc, char** argv) {
    char entry[4200];
    TVX_BurnOptions options = {TVX_MODE_WRITE_VERIFY, -1};
    TVX_RecHandle handle;
    TVX_Result refused, burned;
    if (argc != 3) return 2;
    /* A fresh disc: the layer module reads the variable when the library looks for drives. */
    snprintf(entry, sizeof entry, "%s.state", argv[1]);
    remove(argv[1]);
    remove(entry);
    snprintf(entry, sizeof entry, "%s:bd-r:100000", argv[1]);
    setenv("TVX_VIRTUAL_DRIVES", entry, 1);
    setenv("TVX_VIRTUAL_TIMING", "fast", 1);
    if (!TVX_Initialize() || !(handle = TVX_OpenRecHandle(0))) return 1;
    refused = TVX_BurnVolumeData(handle, &options, argv[2], "CHOST", NULL, 0);
    TVX_SetWritableMedia(0x0FE0u | MediaBdR);
    burned = TVX_BurnVolumeData(handle, &options, argv[2], "CHOST", NULL, 0);
    TVX_CloseRecHandle(handle);
    TVX_Terminate();
    printf("before asking: %s, after: %s\n", TVX_ResultName(refused), TVX_ResultName(burned));
    return refused == TVX_ERR_DISC_KIND && burned == TVX_OK ? 0 : 1;
}
