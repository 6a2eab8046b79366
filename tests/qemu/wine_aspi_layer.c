/*
 * WNASPI32.dll for the Wine guest test: an ASPI for Win32 layer that carries each execute
 * request to the drive as the system's SCSI pass-through request. Wine's own layer finds the
 * devices but no longer sends requests (every SendASPI32Command answers SS_INVALID_SRB); this
 * one reads the same registry keys Wine's does,
 *     HKLM\HARDWARE\DEVICEMAP\Scsi\Scsi Port P\Scsi Bus B\Target Id T\Logical Unit Id L
 * with "UnixDeviceName" a block device of the CD-ROM driver (/dev/srN), which it opens through
 * Wine's \\?\unix\ path prefix. Each (port, bus) pair is one host adapter, in registry order.
 * Requests complete within the call.
 */
#include <windows.h>

#include <ntddscsi.h>
#include <stddef.h>
#include <stdio.h>
#include <string.h>

#define SC_HA_INQUIRY 0x00
#define SC_EXEC_SCSI_CMD 0x02
#define SS_COMP 0x01
#define SS_ERR 0x04
#define SS_INVALID_CMD 0x80
#define SS_INVALID_HA 0x81
#define SS_NO_DEVICE 0x82
#define SS_NO_ADAPTERS 0xE8
#define SRB_DIR_IN 0x08
#define SRB_DIR_OUT 0x10
#define SRB_EVENT_NOTIFY 0x40
#define MAX_ADAPTERS 16
#define MAX_TARGETS 8

#pragma pack(push, 1)
typedef struct {
    BYTE cmd, status, haId, flags;
    DWORD reserved;
} SrbHeader;

typedef struct {
    SrbHeader h;
    BYTE haCount, haScsiId, managerId[16], identifier[16], unique[16];
    WORD reserved;
} SrbHaInquiry;

typedef struct {
    SrbHeader h;
    BYTE target, lun;
    WORD reserved1;
    DWORD bufLen;
    BYTE* bufPointer;
    BYTE senseLen, cdbLen, haStat, targStat;
    HANDLE postProc;
    BYTE reserved2[20];
    BYTE cdb[16];
    BYTE sense[32];
} SrbExecScsiCmd;
#pragma pack(pop)

typedef struct {
    SCSI_PASS_THROUGH_DIRECT sptd;
    ULONG filler;
    UCHAR sense[32];
} PassThrough;

static struct { int port, bus; } adapters[MAX_ADAPTERS];
static int adapterCount = -1;
static CRITICAL_SECTION lock;

/* The (port, bus) pairs under DEVICEMAP\Scsi, listed once. */
static void listAdapters(void) {
    HKEY scsi;
    adapterCount = 0;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "HARDWARE\\DEVICEMAP\\Scsi", 0, KEY_READ, &scsi)) return;
    char portName[64], busName[64];
    for (DWORD i = 0; RegEnumKeyA(scsi, i, portName, sizeof portName) == ERROR_SUCCESS; ++i) {
        HKEY port;
        int portNumber;
        if (sscanf(portName, "Scsi Port %d", &portNumber) != 1 ||
            RegOpenKeyExA(scsi, portName, 0, KEY_READ, &port))
            continue;
        for (DWORD j = 0; RegEnumKeyA(port, j, busName, sizeof busName) == ERROR_SUCCESS; ++j) {
            int busNumber;
            if (sscanf(busName, "Scsi Bus %d", &busNumber) == 1 && adapterCount < MAX_ADAPTERS) {
                adapters[adapterCount].port = portNumber;
                adapters[adapterCount].bus = busNumber;
                ++adapterCount;
            }
        }
        RegCloseKey(port);
    }
    RegCloseKey(scsi);
}

static int countAdapters(void) {
    EnterCriticalSection(&lock);
    if (adapterCount < 0) listAdapters();
    LeaveCriticalSection(&lock);
    return adapterCount;
}

/* The device at an address, opened on first use and kept; null when the registry lists none.
 * The drives of the test answer at LUN 0 only. */
static HANDLE openDevice(int ha, int target, int lun) {
    static HANDLE devices[MAX_ADAPTERS][MAX_TARGETS];
    if (ha >= countAdapters() || target >= MAX_TARGETS || lun != 0) return NULL;
    EnterCriticalSection(&lock);
    HANDLE device = devices[ha][target];
    if (!device) {
        char path[200], name[128];
        DWORD size = sizeof name - 1, type = 0;
        HKEY key;
        snprintf(path, sizeof path,
                 "HARDWARE\\DEVICEMAP\\Scsi\\Scsi Port %d\\Scsi Bus %d\\Target Id %d\\"
                 "Logical Unit Id %d",
                 adapters[ha].port, adapters[ha].bus, target, lun);
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, KEY_READ, &key) == ERROR_SUCCESS) {
            memset(name, 0, sizeof name);
            if (RegQueryValueExA(key, "UnixDeviceName", NULL, &type, (BYTE*)name, &size) ==
                    ERROR_SUCCESS &&
                type == REG_SZ) {
                snprintf(path, sizeof path, "\\\\?\\unix%s", name);
                device =
                    CreateFileA(path, GENERIC_READ | GENERIC_WRITE,
                                FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING, 0, NULL);
                if (device == INVALID_HANDLE_VALUE) device = NULL;
            }
            RegCloseKey(key);
        }
        devices[ha][target] = device;
    }
    LeaveCriticalSection(&lock);
    return device;
}

static BYTE execute(SrbExecScsiCmd* srb) {
    HANDLE device = openDevice(srb->h.haId, srb->target, srb->lun);
    if (!device) return SS_NO_DEVICE;
    PassThrough request;
    memset(&request, 0, sizeof request);
    SCSI_PASS_THROUGH_DIRECT* sptd = &request.sptd;
    sptd->Length = sizeof *sptd;
    sptd->CdbLength = srb->cdbLen > 16 ? 16 : srb->cdbLen;
    sptd->SenseInfoLength = sizeof request.sense;
    sptd->SenseInfoOffset = offsetof(PassThrough, sense);
    sptd->DataTransferLength = srb->bufLen;
    sptd->DataBuffer = srb->bufPointer;
    /* The layer's own limit: the published request block carries none. */
    sptd->TimeOutValue = 600;
    switch (srb->h.flags & (SRB_DIR_IN | SRB_DIR_OUT)) {
    case SRB_DIR_IN:
        sptd->DataIn = SCSI_IOCTL_DATA_IN;
        break;
    case SRB_DIR_OUT:
        sptd->DataIn = SCSI_IOCTL_DATA_OUT;
        break;
    default:
        sptd->DataIn = SCSI_IOCTL_DATA_UNSPECIFIED;
        break;
    }
    if (!srb->bufLen || !srb->bufPointer) sptd->DataIn = SCSI_IOCTL_DATA_UNSPECIFIED;
    memcpy(sptd->Cdb, srb->cdb, sptd->CdbLength);
    DWORD returned = 0;
    BOOL done = DeviceIoControl(device, IOCTL_SCSI_PASS_THROUGH_DIRECT, &request, sizeof request,
                                &request, sizeof request, &returned, NULL);
    srb->haStat = 0;
    srb->targStat = done ? sptd->ScsiStatus : 0;
    size_t senseBytes = srb->senseLen < sizeof srb->sense ? srb->senseLen : sizeof srb->sense;
    memcpy(srb->sense, request.sense, senseBytes);
    return done && sptd->ScsiStatus == 0 ? SS_COMP : SS_ERR;
}

__declspec(dllexport) DWORD __cdecl GetASPI32SupportInfo(void) {
    int count = countAdapters();
    return count > 0 ? (SS_COMP << 8) | (DWORD)count : SS_NO_ADAPTERS << 8;
}

__declspec(dllexport) DWORD __cdecl SendASPI32Command(void* block) {
    SrbHeader* header = block;
    BYTE status;
    if (header->cmd == SC_HA_INQUIRY) {
        SrbHaInquiry* inquiry = block;
        int count = countAdapters();
        inquiry->haCount = (BYTE)count;
        inquiry->haScsiId = 7;
        memcpy(inquiry->managerId, "ASPI for WIN32", 15);
        memcpy(inquiry->identifier, "pass-through", 13);
        memset(inquiry->unique, 0, sizeof inquiry->unique);
        inquiry->unique[3] = MAX_TARGETS;
        status = header->haId < count ? SS_COMP : SS_INVALID_HA;
    } else if (header->cmd == SC_EXEC_SCSI_CMD) {
        SrbExecScsiCmd* srb = block;
        header->status = status = execute(srb);
        if ((header->flags & SRB_EVENT_NOTIFY) && srb->postProc) SetEvent(srb->postProc);
        return status;
    } else {
        status = SS_INVALID_CMD;
    }
    header->status = status;
    return status;
}

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    (void)instance;
    (void)reserved;
    if (reason == DLL_PROCESS_ATTACH) InitializeCriticalSection(&lock);
    return TRUE;
}
