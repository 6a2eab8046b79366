/*
 * Runs inside a Linux guest whose CD/DVD drive (QEMU's emulated ATAPI or SCSI drive) holds a
 * disc image that Torvexin wrote. Uses only the public C interface and prints one line per
 * check: "PASS <name>" or "FAIL <name>: <why>". Files read from the disc are copied to an output
 * folder so the guest's init can compare their checksums.
 *
 * Usage: guest_check <expected bus kind> <expected used blocks> <file list> <output folder>
 * The file list holds one disc path per line (for example /VIDEO_TS/VIDEO_TS.IFO).
 */
#include "torvexin.h"

#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>

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

static int logContains(const char* text) {
    char path[512];
    const char* tmp = getenv("TMPDIR");
    snprintf(path, sizeof path, "%s/Torvexin.log", tmp && *tmp ? tmp : "/tmp");
    FILE* f = fopen(path, "rb");
    if (!f) return 0;
    static char content[65536];
    size_t n = fread(content, 1, sizeof content - 1, f);
    fclose(f);
    content[n] = 0;
    return strstr(content, text) != NULL;
}

static void makeParents(const char* path) {
    char tmp[1280];
    snprintf(tmp, sizeof tmp, "%s", path);
    for (char* p = tmp + 1; *p; ++p) {
        if (*p == '/') {
            *p = 0;
            mkdir(tmp, 0755);
            *p = '/';
        }
    }
}

static void copyFile(TVX_RecHandle h, const char* discPath, const char* outDir) {
    char name[640];
    snprintf(name, sizeof name, "read %s", discPath);
    TVX_DiscFile file = TVX_OpenFile(h, discPath);
    if (!file) {
        check(0, name, "TVX_OpenFile failed");
        return;
    }
    char outPath[1280];
    snprintf(outPath, sizeof outPath, "%s%s", outDir, discPath);
    makeParents(outPath);
    FILE* out = fopen(outPath, "wb");
    uint64_t size = TVX_GetFileSize(file);
    uint64_t total = 0;
    static unsigned char buffer[1 << 20];
    uint32_t got = 0;
    while (TVX_ReadFile(file, buffer, sizeof buffer, &got) && got > 0) {
        if (out) fwrite(buffer, 1, got, out);
        total += got;
    }
    if (out) fclose(out);
    TVX_CloseFile(file);
    check(out && total == size, name, "short read or output not writable");
}

int main(int argc, char** argv) {
    if (argc != 5) {
        fprintf(stderr, "usage: guest_check <bus kind> <used blocks> <file list> <out dir>\n");
        return 2;
    }
    uint32_t expectedBus = (uint32_t)strtoul(argv[1], NULL, 0);
    uint32_t expectedUsed = (uint32_t)strtoul(argv[2], NULL, 0);

    check(TVX_Initialize() == 1, "initialize", "TVX_Initialize did not choose a transport");
    check(logContains("Use: SPTI\n"), "log-use-spti", "no \"Use: SPTI\" line");
    check(logContains("Try: OpenByDeviceFile(D:)\n"), "log-try", "no Try line for D:");
    check(logContains("Success: OpenByDeviceFile(D:)\n"), "log-success", "no Success line");
    /* The drive's identification as QEMU gives it, padded to the field widths. */
    check(logContains("FOUND [D:](") && logContains(")[QEMU    ][QEMU "), "log-found",
          "no FOUND line with QEMU's identification for D:");

    int count = TVX_GetDriveCount();
    check(count >= 1, "drive-count", "no drive in the table");
    TVX_DriveInfo info;
    memset(&info, 0, sizeof info);
    check(TVX_GetDriveInfo(0, &info) == TVX_OK, "drive-info", "TVX_GetDriveInfo failed");
    printf("INFO drive [%c:] bus %u [%s][%s][%s] caps %04x\n", info.driveLetter ? info.driveLetter : '?',
           (unsigned)info.busKind, info.vendor, info.product, info.revision,
           (unsigned)info.capabilities);
    check(strcmp(info.vendor, "QEMU") == 0, "vendor", info.vendor);
    check(strncmp(info.product, "QEMU", 4) == 0 && info.product[strlen(info.product) - 1] != ' ',
          "product-trimmed", info.product);
    check(info.revision[0] != 0 && info.revision[strlen(info.revision) - 1] != ' ',
          "revision-trimmed", info.revision);
    check(info.busKind == expectedBus, "bus-kind", "unexpected bus kind");

    TVX_RecHandle h = TVX_OpenRecHandle(0);
    check(h != NULL, "open-handle", "TVX_OpenRecHandle failed");
    if (!h) return 1;

    uint32_t caps = 0;
    check(TVX_GetDriveCaps(h, &caps) == TVX_OK && (caps & MediaDvdRom), "drive-caps",
          "no DVD-ROM ability");
    check(TVX_TestReady(h) == 1, "test-ready", "TEST UNIT READY failed");
    uint32_t state = 0;
    TVX_Result statusResult = TVX_GetDriveStatus(h, TVX_STATUS_TRAY_OPEN | TVX_STATUS_MEDIUM_PRESENT, &state);
    printf("INFO status result %08x state %u\n", (unsigned)statusResult, (unsigned)state);
    check(statusResult == TVX_OK && (state & TVX_STATUS_MEDIUM_PRESENT) &&
              !(state & TVX_STATUS_TRAY_OPEN),
          "drive-status", "medium not reported present");

    TVX_DiscInfo disc;
    memset(&disc, 0, sizeof disc);
    TVX_Result discResult = TVX_GetDiscInfo(h, &disc);
    printf("INFO disc result %08x media %04x blank %u appendable %u used %u free %u capacity %u\n",
           (unsigned)discResult, (unsigned)disc.mediaType, (unsigned)disc.blank,
           (unsigned)disc.appendable, (unsigned)disc.usedBlocks, (unsigned)disc.freeBlocks,
           (unsigned)disc.capacityBlocks);
    check(discResult == TVX_OK, "disc-info", "TVX_GetDiscInfo failed");
    check(disc.mediaType == MediaDvdRom, "disc-dvdrom", "medium is not a DVD-ROM");
    check(disc.blank == 0 && disc.appendable == 0, "disc-state", "blank or appendable");
    check(disc.usedBlocks == expectedUsed, "disc-used", "used blocks differ from the image");
    check(disc.capacityBlocks == expectedUsed, "disc-capacity", "capacity differs from the image");

    FILE* list = fopen(argv[3], "r");
    check(list != NULL, "file-list", strerror(errno));
    char line[600];
    while (list && fgets(line, sizeof line, list)) {
        line[strcspn(line, "\r\n")] = 0;
        if (line[0]) copyFile(h, line, argv[4]);
    }
    if (list) fclose(list);

    check(TVX_EjectMedia(h) == TVX_OK, "eject", "TVX_EjectMedia failed");
    TVX_CloseRecHandle(h);
    TVX_Terminate();
    printf("DONE %d failures\n", failures);
    return failures ? 1 : 0;
}
