/*
 * A minimal host of the Torvexin interface: list the drives, burn a folder's contents to the
 * disc in the first drive, and read one file back.
 *
 *   burn_and_read <folder> <path of a file on the disc, e.g. /README.TXT> [label]
 */
#include <torvexin.h>

#include <stdio.h>
#include <stdlib.h>

static int32_t TVX_CALL onProgress(int32_t type, uint32_t* pair, int32_t userData) {
    (void)userData;
    if (type == TVX_EVENT_WRITE && pair[1] != 0)
        fprintf(stderr, "\rwriting %3u%%", (unsigned)((uint64_t)pair[0] * 100 / pair[1]));
    if (type == TVX_EVENT_FINISHED) fprintf(stderr, "\n");
    return 1; /* 0 would stop the burn */
}

int main(int argc, char** argv) {
    if (argc < 3) {
        fprintf(stderr, "usage: %s <folder> <disc path> [label]\n", argv[0]);
        return 2;
    }
    if (!TVX_Initialize()) {
        fprintf(stderr, "no drive can be reached\n");
        return 1;
    }
    int count = TVX_GetDriveCount();
    for (int i = 0; i < count; ++i) {
        TVX_DriveInfo info;
        if (TVX_GetDriveInfo(i, &info) == TVX_OK)
            printf("drive %d: %s %s %s\n", i, info.vendor, info.product, info.revision);
    }
    TVX_RecHandle drive = count > 0 ? TVX_OpenRecHandle(0) : NULL;
    if (!drive) {
        fprintf(stderr, "no drive to burn on\n");
        TVX_Terminate();
        return 1;
    }

    TVX_BurnOptions options = {TVX_MODE_WRITE_VERIFY, -1 /* fastest */};
    TVX_Result result = TVX_BurnVolumeData(drive, &options, argv[1], argc > 3 ? argv[3] : NULL,
                                           onProgress, 0);
    if (result != TVX_OK) {
        TVX_LastError error;
        TVX_GetLastError(drive, &error);
        fprintf(stderr, "burn failed: 0x%08X (%s)\n", (unsigned)result,
                error.description ? error.description : "");
    } else {
        /* A finished burn ejects the disc: close the tray before reading. */
        TVX_LoadMedia(drive);
        TVX_DiscFile file = TVX_OpenFile(drive, argv[2]);
        if (!file) {
            fprintf(stderr, "%s is not on the disc\n", argv[2]);
            result = TVX_ERR_SOURCE;
        } else {
            char buffer[4096];
            uint32_t got = 0;
            while (TVX_ReadFile(file, buffer, sizeof buffer, &got) && got > 0)
                fwrite(buffer, 1, got, stdout);
            TVX_CloseFile(file);
        }
    }
    TVX_CloseRecHandle(drive);
    TVX_Terminate();
    return result == TVX_OK ? 0 : 1;
}
