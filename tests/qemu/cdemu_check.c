/*
 * Runs inside a Linux guest whose SCSI host is CDEmu's emulated DVD writer (vhba). Uses only the
 * public C interface and prints one line per check: "PASS <name>" or "FAIL <name>: <why>".
 *
 * Usage: cdemu_check burn-video <folder> <label>   blank DVD+R: queries, then a verified
 *                                                   DVD-Video burn of the folder
 *        cdemu_check burn-data <folder> <label>    the same with the folder's contents as data
 *        cdemu_check read <file list> <folder> <blocks>
 *            the written disc (CDEmu reloads an image smaller than a CD as a CD-ROM): its size in
 *            blocks, and every listed disc path read back and compared with <folder><path>
 */
#include "torvexin.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static int failures = 0;

static void check(int ok, const char* name, const char* why) {
    if (ok) {
        printf("PASS %s\n", name);
    } else {
        printf("FAIL %s: %s\n", name, why);
        ++failures;
    }
    fflush(stdout);
}

static void printLastError(TVX_RecHandle h) {
    TVX_LastError e;
    memset(&e, 0, sizeof e);
    if (TVX_GetLastError(h, &e) != TVX_OK) return;
    printf("INFO last error: location %d cdb %02x sense %X/%02X/%02X %s (%s)\n", (int)e.location,
           e.cdb[0], e.senseKey, e.asc, e.ascq, e.description ? e.description : "",
           e.category ? e.category : "");
}

static TVX_RecHandle openDrive(void) {
    check(TVX_Initialize() == 1, "initialize", "TVX_Initialize did not choose a transport");
    check(TVX_GetDriveCount() >= 1, "drive-count", "no drive in the table");
    TVX_DriveInfo info;
    memset(&info, 0, sizeof info);
    check(TVX_GetDriveInfo(0, &info) == TVX_OK, "drive-info", "TVX_GetDriveInfo failed");
    printf("INFO drive [%c:] bus %u [%s][%s][%s] caps %04x\n",
           info.driveLetter ? info.driveLetter : '?', (unsigned)info.busKind, info.vendor,
           info.product, info.revision, (unsigned)info.capabilities);
    check(strcmp(info.vendor, "CDEmu") == 0, "vendor", info.vendor);
    check(info.capabilities & MediaDvdPlusR, "caps-dvd+r", "the table lists no DVD+R ability");
    TVX_RecHandle h = TVX_OpenRecHandle(0);
    check(h != NULL, "open-handle", "TVX_OpenRecHandle failed");
    return h;
}

static int32_t progress(int32_t type, uint32_t* data, int32_t user) {
    static int32_t lastType = -1;
    (void)user;
    /* One line per change of phase keeps the console short. */
    if (type != lastType) {
        printf("INFO progress event %d (%u/%u)\n", (int)type, (unsigned)data[0], (unsigned)data[1]);
        fflush(stdout);
        lastType = type;
    }
    return 1;
}

static int burn(const char* kind, const char* folder, const char* label) {
    TVX_RecHandle h = openDrive();
    if (!h) return 1;
    uint32_t caps = 0;
    check(TVX_GetDriveCaps(h, &caps) == TVX_OK && (caps & MediaDvdPlusR), "drive-caps",
          "no DVD+R ability");
    check(TVX_TestReady(h) == 1, "test-ready", "TEST UNIT READY failed");

    TVX_DiscInfo disc;
    memset(&disc, 0, sizeof disc);
    TVX_Result r = TVX_GetDiscInfo(h, &disc);
    printf("INFO disc result %08x media %04x blank %u appendable %u erasable %u used %u free %u "
           "capacity %u block %u\n",
           (unsigned)r, (unsigned)disc.mediaType, (unsigned)disc.blank, (unsigned)disc.appendable,
           (unsigned)disc.canErase, (unsigned)disc.usedBlocks, (unsigned)disc.freeBlocks,
           (unsigned)disc.capacityBlocks, (unsigned)disc.blockSize);
    check(r == TVX_OK, "disc-info", "TVX_GetDiscInfo failed");
    check(disc.mediaType == MediaDvdPlusR, "disc-dvd+r", "medium is not a DVD+R");
    check(disc.blank == 1 && disc.appendable == 1 && disc.usedBlocks == 0, "disc-blank",
          "not reported blank and appendable");
    check(disc.freeBlocks > 0 && disc.freeBlocks == disc.capacityBlocks, "disc-space",
          "free space differs from the capacity");

    uint32_t speeds[16];
    memset(speeds, 0, sizeof speeds);
    r = TVX_GetWriteSpeedCaps(h, speeds, sizeof speeds);
    printf("INFO write speeds result %08x:", (unsigned)r);
    for (int i = 0; i < 16 && speeds[i]; ++i)
        printf(" %u", (unsigned)speeds[i]);
    printf("\n");
    check(r == TVX_OK && speeds[0] > 0, "write-speeds", "no write speed listed");

    const int video = strcmp(kind, "video") == 0;
    TVX_BurnOptions options = {TVX_MODE_WRITE_VERIFY, -1};
    char name[64];
    snprintf(name, sizeof name, "burn-%s", kind);
    r = video ? TVX_BurnDVDVIDEO(h, &options, folder, label, progress, 0)
              : TVX_BurnVolumeData(h, &options, folder, label, progress, 0);
    printf("INFO %s result %08x\n", name, (unsigned)r);
    if (r != TVX_OK) printLastError(h);
    check(r == TVX_OK, name, "the verified burn failed");
    TVX_CloseRecHandle(h);
    TVX_Terminate();
    return failures ? 1 : 0;
}

static void compareFile(TVX_RecHandle h, const char* discPath, const char* root) {
    char name[720], sourcePath[1300];
    snprintf(name, sizeof name, "read %s", discPath);
    snprintf(sourcePath, sizeof sourcePath, "%s%s", root, discPath);
    FILE* source = fopen(sourcePath, "rb");
    TVX_DiscFile file = TVX_OpenFile(h, discPath);
    if (!file || !source) {
        check(0, name, file ? "source file missing" : "TVX_OpenFile failed");
        if (file) TVX_CloseFile(file);
        if (source) fclose(source);
        return;
    }
    static unsigned char disc[1 << 20], host[1 << 20];
    uint64_t size = TVX_GetFileSize(file), total = 0;
    uint32_t got = 0;
    int same = 1;
    while (TVX_ReadFile(file, disc, sizeof disc, &got) && got > 0) {
        if (fread(host, 1, got, source) != got || memcmp(disc, host, got) != 0) same = 0;
        total += got;
    }
    same = same && fread(host, 1, 1, source) == 0;
    TVX_CloseFile(file);
    fclose(source);
    check(same && total == size, name, total == size ? "content differs" : "short read");
}

static int readBack(const char* listPath, const char* root, uint32_t blocks) {
    TVX_RecHandle h = openDrive();
    if (!h) return 1;
    TVX_DiscInfo disc;
    memset(&disc, 0, sizeof disc);
    TVX_Result r = TVX_GetDiscInfo(h, &disc);
    printf("INFO written disc result %08x media %04x blank %u appendable %u used %u free %u\n",
           (unsigned)r, (unsigned)disc.mediaType, (unsigned)disc.blank, (unsigned)disc.appendable,
           (unsigned)disc.usedBlocks, (unsigned)disc.freeBlocks);
    check(r == TVX_OK && !disc.blank && !disc.appendable, "written-disc", "not a closed disc");
    check(disc.usedBlocks == blocks, "written-size", "used blocks differ from the volume");
    FILE* list = fopen(listPath, "r");
    check(list != NULL, "file-list", listPath);
    char line[700];
    while (list && fgets(line, sizeof line, list)) {
        line[strcspn(line, "\r\n")] = 0;
        if (line[0]) compareFile(h, line, root);
    }
    if (list) fclose(list);
    TVX_CloseRecHandle(h);
    TVX_Terminate();
    return failures ? 1 : 0;
}

int main(int argc, char** argv) {
    int rc = 2;
    if (argc == 4 && (strcmp(argv[1], "burn-video") == 0 || strcmp(argv[1], "burn-data") == 0))
        rc = burn(argv[1] + 5, argv[2], argv[3]);
    else if (argc == 5 && strcmp(argv[1], "read") == 0)
        rc = readBack(argv[2], argv[3], (uint32_t)strtoul(argv[4], NULL, 0));
    else
        fprintf(stderr,
                "usage: cdemu_check burn-video|burn-data FOLDER LABEL | read LIST ROOT BLOCKS\n");
    printf("DONE %s %d failures\n", argc > 1 ? argv[1] : "?", failures);
    return rc;
}
