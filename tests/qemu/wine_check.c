/*
 * A 32-bit Windows host program of Torvexin.dll, run under Wine inside the Linux guest of the
 * QEMU tests. Loads the DLL with LoadLibrary and takes every function by GetProcAddress, as a
 * Windows application would; prints one line per check: "PASS <name>" or "FAIL <name>: <why>".
 *
 * Usage: wine_check drives <SPTI|ASPI> <expected drives>
 *            every drive's identity as the table holds it (lines "DRIVE ...")
 *        wine_check burn-video|burn-data <SPTI|ASPI> <folder> <label>
 *            the CDEmu drive's blank DVD+R: queries, then a verified burn of the folder
 *        wine_check read <SPTI|ASPI> <file list> <folder> <selector>...
 *            the written or pressed disc in each first drive whose "DRIVE" line holds the
 *            selector: every listed disc path read back and compared with <folder><path> (the
 *            list is in the ANSI code page)
 *        wine_check controls <letters>
 *            what the system answers to the pass-through path's device controls on each
 *            letter's device (for the record)
 *        wine_check scsi-key <port> <bus> <target> <lun> <unix device> [...]
 *            the volatile registry keys under which an ASPI layer finds the devices
 * The transport argument names the one TVX_Initialize must have chosen, as its log says.
 */
#include "torvexin.h"

#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

/* Every function the program calls, taken from the DLL by name. */
/* clang-format off */
#define TVX_FUNCTIONS(X)                                                                        \
    X(TVX_Initialize) X(TVX_Terminate) X(TVX_GetLastError) X(TVX_GetDriveCount)                 \
    X(TVX_GetDriveInfo) X(TVX_OpenRecHandle) X(TVX_CloseRecHandle) X(TVX_GetDriveCaps)          \
    X(TVX_GetDiscInfo) X(TVX_GetWriteSpeedCaps) X(TVX_TestReady) X(TVX_BurnDVDVIDEO)            \
    X(TVX_BurnVolumeData) X(TVX_OpenFile) X(TVX_ReadFile) X(TVX_GetFileSize) X(TVX_CloseFile)
/* clang-format on */
#define DECLARE(name) static __typeof__(&name) p_##name;
TVX_FUNCTIONS(DECLARE)
#define BIND(name)                                                                                 \
    if (!(p_##name = (__typeof__(p_##name))(void*)GetProcAddress(dll, #name))) missing = #name;

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

static int loadLibrary(void) {
    HMODULE dll = LoadLibraryA("Torvexin.dll");
    const char* missing = NULL;
    if (!dll) {
        check(0, "load", "LoadLibrary(Torvexin.dll) failed");
        return 0;
    }
    TVX_FUNCTIONS(BIND)
    check(missing == NULL, "load", missing ? missing : "");
    return missing == NULL;
}

/* Torvexin.log in the temporary folder; empty when the folder is unknown. */
static const char* logPath(void) {
    static char path[MAX_PATH + 16];
    DWORD n = GetTempPathA(MAX_PATH, path);
    if (n == 0 || n >= MAX_PATH) return "";
    strcat(path, "Torvexin.log");
    return path;
}

/* The transport that the log of this run names. */
static void checkTransport(const char* expected) {
    char line[600], chosen[16] = "";
    FILE* log = fopen(logPath(), "r");
    while (log && fgets(line, sizeof line, log)) {
        if (strncmp(line, "Use: ", 5) == 0) snprintf(chosen, sizeof chosen, "%.4s", line + 5);
        if (strncmp(line, "fail: ASPI", 10) == 0) strcpy(chosen, "none");
    }
    if (log) fclose(log);
    printf("INFO transport %s\n", chosen[0] ? chosen : "(no log line)");
    check(strcmp(chosen, expected) == 0, "transport", "the log names another transport");
}

static int initialize(const char* transport) {
    if (!loadLibrary()) return 0;
    DeleteFileA(logPath()); /* this run's lines only */
    int ok = p_TVX_Initialize() == 1;
    check(ok, "initialize", "TVX_Initialize did not choose a transport");
    checkTransport(transport);
    return ok;
}

static void printLastError(TVX_RecHandle h) {
    TVX_LastError e;
    memset(&e, 0, sizeof e);
    if (p_TVX_GetLastError(h, &e) != TVX_OK) return;
    printf("INFO last error: location %d cdb %02x sense %X/%02X/%02X %s (%s)\n", (int)e.location,
           e.cdb[0], e.senseKey, e.asc, e.ascq, e.description ? e.description : "",
           e.category ? e.category : "");
}

/* A drive's entry in the table as one line of "name=value" fields, each followed by a blank. */
static void describe(const TVX_DriveInfo* info, char* text, size_t size) {
    snprintf(text, size, "letter=%c bus=%u address=%u:%u:%u vendor=%s product=%s revision=%s ",
             info->driveLetter ? info->driveLetter : '-', (unsigned)info->busKind,
             info->hostAdapter, info->target, info->lun, info->vendor, info->product,
             info->revision);
}

/* The index of the first drive whose description holds the selector, or -1. Walks the table
 * TVX_Initialize filled: TVX_GetDriveCount would scan the drives once more, which on the ASPI
 * path asks every address of every adapter. */
static int findDrive(const char* selector, TVX_DriveInfo* info) {
    char text[200];
    for (int i = 0;; ++i) {
        memset(info, 0, sizeof *info);
        if (p_TVX_GetDriveInfo(i, info) != TVX_OK) return -1;
        describe(info, text, sizeof text);
        if (strstr(text, selector)) return i;
    }
}

static int drives(const char* transport, int expected) {
    if (!initialize(transport)) return 1;
    int count = p_TVX_GetDriveCount();
    char why[64];
    snprintf(why, sizeof why, "%d drives, %d expected", count, expected);
    check(count == expected, "drive-count", why);
    for (int i = 0; i < count; ++i) {
        TVX_DriveInfo info;
        memset(&info, 0, sizeof info);
        TVX_Result r = p_TVX_GetDriveInfo(i, &info);
        /* Read by the guest's script, which knows each drive's kernel address. */
        char text[200];
        describe(&info, text, sizeof text);
        printf("DRIVE %d %scaps=%04x\n", i, text, (unsigned)info.capabilities);
        check(r == TVX_OK && info.vendor[0] && info.product[0], "drive-info",
              "no identity in the table");
    }
    p_TVX_Terminate();
    return failures ? 1 : 0;
}

static int32_t TVX_CALL progress(int32_t type, uint32_t* data, int32_t user) {
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

static int burn(const char* kind, const char* transport, const char* folder, const char* label) {
    if (!initialize(transport)) return 1;
    TVX_DriveInfo info;
    int index = findDrive("vendor=CDEmu ", &info);
    check(index >= 0, "cdemu-drive", "no CDEmu drive in the table");
    TVX_RecHandle h = index >= 0 ? p_TVX_OpenRecHandle(index) : NULL;
    check(h != NULL, "open-handle", "TVX_OpenRecHandle failed");
    if (!h) return 1;
    check(info.capabilities & MediaDvdPlusR, "table-dvd+r", "the table lists no DVD+R ability");
    uint32_t caps = 0;
    check(p_TVX_GetDriveCaps(h, &caps) == TVX_OK && (caps & MediaDvdPlusR), "drive-caps",
          "no DVD+R ability");
    check(p_TVX_TestReady(h) == 1, "test-ready", "TEST UNIT READY failed");

    TVX_DiscInfo disc;
    memset(&disc, 0, sizeof disc);
    TVX_Result r = p_TVX_GetDiscInfo(h, &disc);
    printf("INFO disc result %08x media %04x blank %u appendable %u used %u free %u capacity %u\n",
           (unsigned)r, (unsigned)disc.mediaType, (unsigned)disc.blank, (unsigned)disc.appendable,
           (unsigned)disc.usedBlocks, (unsigned)disc.freeBlocks, (unsigned)disc.capacityBlocks);
    check(r == TVX_OK && disc.mediaType == MediaDvdPlusR, "disc-dvd+r", "not a DVD+R");
    check(disc.blank == 1 && disc.appendable == 1 && disc.usedBlocks == 0 && disc.freeBlocks > 0 &&
              disc.freeBlocks == disc.capacityBlocks,
          "disc-blank", "not reported blank with its whole capacity free");

    uint32_t speeds[16];
    memset(speeds, 0, sizeof speeds);
    r = p_TVX_GetWriteSpeedCaps(h, speeds, sizeof speeds);
    printf("INFO write speeds result %08x:", (unsigned)r);
    for (int i = 0; i < 16 && speeds[i]; ++i)
        printf(" %u", (unsigned)speeds[i]);
    printf("\n");
    check(r == TVX_OK && speeds[0] > 0, "write-speeds", "no write speed listed");

    TVX_BurnOptions options = {TVX_MODE_WRITE_VERIFY, -1};
    char name[64];
    snprintf(name, sizeof name, "burn-%s", kind);
    r = strcmp(kind, "video") == 0 ? p_TVX_BurnDVDVIDEO(h, &options, folder, label, progress, 0)
                                   : p_TVX_BurnVolumeData(h, &options, folder, label, progress, 0);
    printf("INFO %s result %08x\n", name, (unsigned)r);
    if (r != TVX_OK) printLastError(h);
    check(r == TVX_OK, name, "the verified burn failed");
    p_TVX_CloseRecHandle(h);
    p_TVX_Terminate();
    return failures ? 1 : 0;
}

static void compareFile(TVX_RecHandle h, const char* discPath, const char* root) {
    char name[720], sourcePath[1300];
    snprintf(name, sizeof name, "read %s", discPath);
    snprintf(sourcePath, sizeof sourcePath, "%s%s", root, discPath);
    FILE* source = fopen(sourcePath, "rb");
    TVX_DiscFile file = p_TVX_OpenFile(h, discPath);
    if (!file || !source) {
        check(0, name, file ? "source file missing" : "TVX_OpenFile failed");
        if (file) p_TVX_CloseFile(file);
        if (source) fclose(source);
        return;
    }
    static unsigned char disc[1 << 20], host[1 << 20];
    uint64_t size = p_TVX_GetFileSize(file), total = 0;
    uint32_t got = 0;
    int same = 1;
    while (p_TVX_ReadFile(file, disc, sizeof disc, &got) && got > 0) {
        if (fread(host, 1, got, source) != got || memcmp(disc, host, got) != 0) same = 0;
        total += got;
    }
    same = same && fread(host, 1, 1, source) == 0;
    p_TVX_CloseFile(file);
    fclose(source);
    check(same && total == size, name, total == size ? "content differs" : "short read");
}

static void readDisc(const char* selector, const char* listPath, const char* root) {
    TVX_DriveInfo info;
    int index = findDrive(selector, &info);
    check(index >= 0, "find-drive", "no drive of that identity in the table");
    TVX_RecHandle h = index >= 0 ? p_TVX_OpenRecHandle(index) : NULL;
    check(h != NULL, "open-handle", "TVX_OpenRecHandle failed");
    if (!h) return;
    TVX_DiscInfo disc;
    memset(&disc, 0, sizeof disc);
    TVX_Result r = p_TVX_GetDiscInfo(h, &disc);
    printf("INFO %s disc result %08x media %04x blank %u appendable %u used %u free %u\n", selector,
           (unsigned)r, (unsigned)disc.mediaType, (unsigned)disc.blank, (unsigned)disc.appendable,
           (unsigned)disc.usedBlocks, (unsigned)disc.freeBlocks);
    check(r == TVX_OK && !disc.blank && !disc.appendable && disc.usedBlocks > 0, "disc-info",
          "not a closed disc with data");
    FILE* list = fopen(listPath, "r");
    check(list != NULL, "file-list", listPath);
    char line[700];
    int files = 0;
    while (list && fgets(line, sizeof line, list)) {
        line[strcspn(line, "\r\n")] = 0;
        if (line[0]) compareFile(h, line, root), ++files;
    }
    if (list) fclose(list);
    printf("INFO %d files compared\n", files);
    p_TVX_CloseRecHandle(h);
}

/* The same files on the disc in each selected drive. */
static int readBack(const char* transport, const char* listPath, const char* root, int count,
                    char** selectors) {
    if (!initialize(transport)) return 1;
    for (int i = 0; i < count; ++i)
        readDisc(selectors[i], listPath, root);
    p_TVX_Terminate();
    return failures ? 1 : 0;
}

/* What the system answers to the device controls of the pass-through path on each letter's
 * device, for the record (lines "CONTROL ..."; never a failure). */
static void reportControl(char letter, const char* name, BOOL ok, const char* detail) {
    printf("CONTROL %c: %s %s", letter, name, ok ? "succeeds" : "fails");
    if (!ok) printf(" with error %lu", GetLastError());
    printf("%s\n", detail);
}

static int controls(const char* letters) {
    for (const char* c = letters; *c; ++c) {
        char path[8], detail[96] = "";
        snprintf(path, sizeof path, "\\\\.\\%c:", *c);
        HANDLE h = CreateFileA(path, GENERIC_READ | GENERIC_WRITE,
                               FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING, 0, NULL);
        if (h == INVALID_HANDLE_VALUE) {
            reportControl(*c, "open", FALSE, "");
            continue;
        }
        DWORD n = 0;
        unsigned char out[2048], in[2048];
        memset(out, 0, sizeof out);
        BOOL ok =
            DeviceIoControl(h, 0x41018 /* IOCTL_SCSI_GET_ADDRESS */, NULL, 0, out, 8, &n, NULL);
        if (ok)
            snprintf(detail, sizeof detail, ": length %u port %u path %u target %u lun %u", out[0],
                     out[4], out[5], out[6], out[7]);
        reportControl(*c, "IOCTL_SCSI_GET_ADDRESS", ok, detail);
        memset(in, 0, sizeof in);
        in[0] = 1; /* StorageAdapterProperty, standard query */
        memset(out, 0, sizeof out);
        ok = DeviceIoControl(h, 0x2D1400 /* IOCTL_STORAGE_QUERY_PROPERTY */, in, sizeof in, out,
                             sizeof out, &n, NULL);
        detail[0] = 0;
        if (ok)
            snprintf(detail, sizeof detail, ": %lu bytes, size %u, max transfer %u, bus type %u", n,
                     out[4], out[8] | out[9] << 8 | out[10] << 16 | (unsigned)out[11] << 24,
                     out[24]);
        reportControl(*c, "IOCTL_STORAGE_QUERY_PROPERTY(adapter)", ok, detail);
        memset(in, 0, sizeof in);
        memcpy(in + 8, "Torvexin", 8); /* query state */
        ok = DeviceIoControl(h, 0x2C05C /* IOCTL_CDROM_EXCLUSIVE_ACCESS */, in, 72, out, 65, &n,
                             NULL);
        reportControl(*c, "IOCTL_CDROM_EXCLUSIVE_ACCESS(query)", ok, "");
        ok = DeviceIoControl(h, 0x90018 /* FSCTL_LOCK_VOLUME */, NULL, 0, NULL, 0, &n, NULL);
        reportControl(*c, "FSCTL_LOCK_VOLUME", ok, "");
        if (ok) DeviceIoControl(h, 0x9001C /* FSCTL_UNLOCK_VOLUME */, NULL, 0, NULL, 0, &n, NULL);
        ok = DeviceIoControl(h, 0x90020 /* FSCTL_DISMOUNT_VOLUME */, NULL, 0, NULL, 0, &n, NULL);
        reportControl(*c, "FSCTL_DISMOUNT_VOLUME", ok, "");
        CloseHandle(h);
    }
    return 0;
}

/* The registry keys under which an ASPI layer finds the devices, one per group of five
 * arguments. Wine keeps HKLM\HARDWARE volatile: its subkeys must be volatile too. */
static int scsiKeys(int count, char** args) {
    for (int i = 0; i + 5 <= count; i += 5) {
        char path[200], why[64];
        snprintf(path, sizeof path,
                 "HARDWARE\\DEVICEMAP\\Scsi\\Scsi Port %s\\Scsi Bus %s\\Target Id %s\\"
                 "Logical Unit Id %s",
                 args[i], args[i + 1], args[i + 2], args[i + 3]);
        HKEY key = NULL;
        LONG status = RegCreateKeyExA(HKEY_LOCAL_MACHINE, path, 0, NULL, REG_OPTION_VOLATILE,
                                      KEY_ALL_ACCESS, NULL, &key, NULL);
        if (status == ERROR_SUCCESS) {
            status = RegSetValueExA(key, "UnixDeviceName", 0, REG_SZ, (const BYTE*)args[i + 4],
                                    (DWORD)strlen(args[i + 4]) + 1);
            RegCloseKey(key);
        }
        snprintf(why, sizeof why, "registry error %ld", status);
        check(status == ERROR_SUCCESS, "scsi-key", why);
    }
    return failures ? 1 : 0;
}

int main(int argc, char** argv) {
    int rc = 2;
    const char* mode = argc > 1 ? argv[1] : "?";
    if (argc == 4 && strcmp(mode, "drives") == 0)
        rc = drives(argv[2], atoi(argv[3]));
    else if (argc == 5 && (strcmp(mode, "burn-video") == 0 || strcmp(mode, "burn-data") == 0))
        rc = burn(mode + 5, argv[2], argv[3], argv[4]);
    else if (argc >= 6 && strcmp(mode, "read") == 0)
        rc = readBack(argv[2], argv[3], argv[4], argc - 5, argv + 5);
    else if (argc == 3 && strcmp(mode, "controls") == 0)
        rc = controls(argv[2]);
    else if (argc >= 7 && (argc - 2) % 5 == 0 && strcmp(mode, "scsi-key") == 0)
        rc = scsiKeys(argc - 2, argv + 2);
    else
        fprintf(stderr, "usage: see the comment at the top of wine_check.c\n");
    printf("DONE %s %d failures\n", mode, failures);
    return rc;
}
