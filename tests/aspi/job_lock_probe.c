/*
 * One writing job of a host of the shared library on the virtual drives of its environment,
 * for the job lock test (job_lock_test.sh):
 *
 *   job_lock_probe hold FOLDER    burns FOLDER on drive 0; at its first write prints "writing"
 *                                 and waits for a line on standard input before going on
 *   job_lock_probe burn FOLDER    burns FOLDER on drive 0
 *   job_lock_probe twice FOLDER   drives 0 and 1 are one image: while drive 0 burns, a burn and
 *                                 an erase on drive 1 must be refused
 *
 * Prints the result as "result 0x%08X" and the LastError description; exits 0 on TVX_OK, 3 on
 * TVX_ERR_NOT_READY, 1 otherwise.
 */
#include <torvexin.h>

#include <stdio.h>
#include <string.h>

static TVX_RecHandle second = NULL;
static const char* folder = NULL;
static int held = 0, nestedFailures = 0;

static int32_t TVX_CALL onProgress(int32_t type, uint32_t* pair, int32_t userData) {
    char line[16];
    (void)pair;
    if (type != TVX_EVENT_WRITE || held) return 1;
    held = 1;
    if (userData == 1) {
        printf("writing\n");
        fflush(stdout);
        if (!fgets(line, sizeof line, stdin)) return 1;
    } else if (userData == 2) {
        TVX_BurnOptions options = {TVX_MODE_WRITE, -1};
        TVX_LastError error;
        TVX_Result burn = TVX_BurnVolumeData(second, &options, folder, "SECOND", NULL, 0);
        TVX_Result erase = TVX_EraseDisc(second, 1, NULL, 0);
        TVX_GetLastError(second, &error);
        printf("nested 0x%08X 0x%08X %s\n", (unsigned)burn, (unsigned)erase,
               error.description ? error.description : "");
        if (burn != TVX_ERR_NOT_READY || erase != TVX_ERR_NOT_READY ||
            !error.description || strstr(error.description, "IN USE") == NULL)
            nestedFailures = 1;
    }
    return 1;
}

int main(int argc, char** argv) {
    TVX_BurnOptions options = {TVX_MODE_WRITE, -1};
    TVX_RecHandle drive;
    TVX_LastError error;
    TVX_Result result;
    int mode;
    if (argc != 3) return 2;
    mode = strcmp(argv[1], "hold") == 0 ? 1 : strcmp(argv[1], "twice") == 0 ? 2 : 0;
    folder = argv[2];
    if (!TVX_Initialize() || TVX_GetDriveCount() < (mode == 2 ? 2 : 1)) return 2;
    drive = TVX_OpenRecHandle(0);
    if (mode == 2) second = TVX_OpenRecHandle(1);
    if (!drive || (mode == 2 && !second)) return 2;
    result = TVX_BurnVolumeData(drive, &options, folder, "PROBE", onProgress, mode);
    memset(&error, 0, sizeof error);
    TVX_GetLastError(drive, &error);
    printf("result 0x%08X %s\n", (unsigned)result, error.description ? error.description : "");
    if (mode == 2 && result == TVX_OK) {
        /* Once the first job has ended, the other handle may write. */
        TVX_LoadMedia(second);
        result = TVX_BurnVolumeData(second, &options, folder, "AFTER", NULL, 0);
        printf("after 0x%08X\n", (unsigned)result);
        if (nestedFailures || !held) result = TVX_ERR_COMMAND;
    }
    TVX_Terminate();
    return result == TVX_OK ? 0 : result == TVX_ERR_NOT_READY ? 3 : 1;
}
