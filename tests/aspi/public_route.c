/*
 * A host of the shared library alone, on a machine without a pass-through drive: the library
 * falls back to the ASPI layer, here the virtual recorders' module configured through this
 * process's environment. Burns a folder with verification, reads it back, and finds the disc
 * again after the library (and the layer) was restarted.
 *
 *   aspi_public_route sync|pending
 */
#define _DEFAULT_SOURCE
#include <torvexin.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

static int failures = 0;
#define CHECK(condition)                                                                     \
    do {                                                                                     \
        if (!(condition)) {                                                                  \
            fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition);   \
            ++failures;                                                                      \
        }                                                                                    \
    } while (0)

enum { kBigSize = 300000 };
static char dir[256];
static unsigned char big[kBigSize];

static void path(char* out, const char* name) { snprintf(out, 512, "%s/%s", dir, name); }

static int writeFile(const char* name, const void* data, size_t size) {
    char p[512];
    path(p, name);
    FILE* f = fopen(p, "wb");
    if (!f) return 0;
    size_t done = fwrite(data, 1, size, f);
    return fclose(f) == 0 && done == size;
}

static int32_t TVX_CALL onProgress(int32_t type, uint32_t* pair, int32_t userData) {
    (void)type, (void)pair, (void)userData;
    return 1;
}

/* Reads a disc file whole into out (at most capacity bytes); its size, or -1. */
static long readDiscFile(TVX_RecHandle drive, const char* discPath, unsigned char* out,
                         size_t capacity) {
    TVX_DiscFile file = TVX_OpenFile(drive, discPath);
    if (!file) return -1;
    size_t total = 0;
    uint32_t got = 0;
    while (total < capacity &&
           TVX_ReadFile(file, out + total, (uint32_t)(capacity - total > 65536 ? 65536
                                                                                : capacity - total),
                        &got) &&
           got > 0)
        total += got;
    TVX_CloseFile(file);
    return (long)total;
}

static char* readLog(void) {
    static char text[8192];
    char p[512];
    path(p, "Torvexin.log");
    FILE* f = fopen(p, "rb");
    if (!f) return "";
    size_t n = fread(text, 1, sizeof text - 1, f);
    text[n] = 0;
    fclose(f);
    return text;
}

static void cleanUp(void) {
    const char* files[] = {"disc.img", "disc.img.state", "Torvexin.log", "data/sub/BIG.BIN",
                           "data/README.TXT"};
    char p[512];
    for (size_t i = 0; i < sizeof files / sizeof files[0]; ++i) {
        path(p, files[i]);
        unlink(p);
    }
    path(p, "data/sub");
    rmdir(p);
    path(p, "data");
    rmdir(p);
    rmdir(dir);
}

int main(int argc, char** argv) {
    const char* mode = argc > 1 ? argv[1] : "sync";
    const char* tmp = getenv("TMPDIR");
    snprintf(dir, sizeof dir, "%s/tvx-aspi-XXXXXX", tmp && *tmp ? tmp : "/tmp");
    if (!mkdtemp(dir)) return 2;

    char p[512];
    path(p, "data");
    mkdir(p, 0700);
    path(p, "data/sub");
    mkdir(p, 0700);
    unsigned seed = 12345;
    for (size_t i = 0; i < kBigSize; ++i) {
        seed = seed * 1103515245u + 12345u;
        big[i] = (unsigned char)(seed >> 16);
    }
    CHECK(writeFile("data/README.TXT", "hello\n", 6));
    CHECK(writeFile("data/sub/BIG.BIN", big, kBigSize));

    /* The layer's configuration, and the log beside it. */
    char drives[600];
    snprintf(drives, sizeof drives, "%s/disc.img:dvd-r:4096", dir);
    setenv("TVX_VIRTUAL_DRIVES", drives, 1);
    setenv("TVX_VIRTUAL_TIMING", "fast", 1);
    setenv("TVX_VIRTUAL_COMPLETION", mode, 1);
    unsetenv("TVX_VIRTUAL_FAULTS");
    setenv("TMPDIR", dir, 1);

    CHECK(TVX_Initialize() == 1);
    CHECK(TVX_GetDriveCount() == 1);
    TVX_DriveInfo info;
    memset(&info, 0xFF, sizeof info);
    CHECK(TVX_GetDriveInfo(0, &info) == TVX_OK);
    CHECK(strcmp(info.vendor, "TVX") == 0);
    CHECK(info.driveLetter == 0);
    CHECK(info.hostAdapter == 0 && info.target == 0 && info.lun == 0);
    CHECK((info.capabilities & 0x0020) != 0); /* DVD-R */

    TVX_RecHandle drive = TVX_OpenRecHandle(0);
    CHECK(drive != NULL);
    if (drive) {
        TVX_DiscInfo disc;
        CHECK(TVX_GetDiscInfo(drive, &disc) == TVX_OK && disc.blank == 1);
        TVX_BurnOptions options = {TVX_MODE_WRITE_VERIFY, -1};
        path(p, "data");
        CHECK(TVX_BurnVolumeData(drive, &options, p, "ASPI", onProgress, 0) == TVX_OK);
        CHECK(TVX_LoadMedia(drive) == TVX_OK); /* the burn ejected the disc */
        static unsigned char back[kBigSize + 1];
        CHECK(readDiscFile(drive, "/sub/BIG.BIN", back, sizeof back) == kBigSize);
        CHECK(memcmp(back, big, kBigSize) == 0);
    }
    TVX_Terminate();
    CHECK(strstr(readLog(), "fail: SPTI\nUse: ASPI\n") != NULL);
    CHECK(strstr(readLog(), "ASPI FOUND #0 [-:](0,0,0)[TVX     ][VIRTUAL DVD-RW  ][1.00]\n") !=
          NULL);

    /* A second start loads the layer again, which finds the disc as it was left. */
    CHECK(TVX_Initialize() == 1);
    drive = TVX_GetDriveCount() == 1 ? TVX_OpenRecHandle(0) : NULL;
    CHECK(drive != NULL);
    if (drive) {
        TVX_DiscInfo disc;
        CHECK(TVX_GetDiscInfo(drive, &disc) == TVX_OK && disc.blank == 0);
        unsigned char text[16];
        CHECK(readDiscFile(drive, "/README.TXT", text, sizeof text) == 6);
        CHECK(memcmp(text, "hello\n", 6) == 0);
        TVX_BurnOptions options = {TVX_MODE_WRITE, -1};
        path(p, "data");
        CHECK(TVX_BurnVolumeData(drive, &options, p, "AGAIN", onProgress, 0) ==
              TVX_ERR_DISC_NOT_WRITABLE);
    }
    TVX_Terminate();

    if (failures == 0) cleanUp();
    else fprintf(stderr, "files kept in %s\n", dir);
    printf("%s: %d failure(s)\n", mode, failures);
    return failures == 0 ? 0 : 1;
}
