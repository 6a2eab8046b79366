// The drive table, TVX_GetDriveCount, TVX_GetDriveInfo and the recorder handles.
#include "transport/drive_table.h"

#include "mmc/commands.h"
#include "torvexin.h"

#include <cstdio>
#include <cstring>

namespace tvx {

namespace {

constexpr int kTableSize = 26;
constexpr uint16_t kFeatureProfileList = 0x0000;
constexpr size_t kMaxProfiles = 16;

// Static storage: nothing is allocated. Entry i of the list is always slot i.
DriveEntry Slots[kTableSize];
DriveEntry* Head = nullptr;
DriveEntry** Tail = &Head; // where the next entry is linked

void CloseHandleOf(RecHandle* handle) {
    if (!handle->device) return;
    Front_SetExclusive(handle->device, 0);
    Front_Close(handle->device);
    handle->device = nullptr;
}

void CopyText(char* out, size_t capacity, const char* in) {
    std::snprintf(out, capacity, "%s", in);
}

void OnDriveFound(void*, int index, Device* device) {
    // A transport that reports more drives than the table holds: the extra ones are dropped.
    if (index < 0 || index >= kTableSize) {
        Front_Close(device);
        return;
    }
    DriveEntry& entry = Slots[index];
    entry.next = nullptr;
    entry.handle = RecHandle{};

    TVX_DriveInfo& info = entry.handle.driveInfo;
    const DeviceHeader& header = device->header;
    info.busKind = static_cast<uint32_t>(header.busKind);
    info.driveLetter = header.driveLetter;
    info.hostAdapter = header.hostAdapter;
    info.target = header.target;
    info.lun = header.lun;
    CopyText(info.vendor, sizeof info.vendor, header.vendor);
    CopyText(info.product, sizeof info.product, header.product);
    CopyText(info.revision, sizeof info.revision, header.revision);

    // The profile list is asked through a handle of its own that only carries the Device; no
    // error is recorded anywhere.
    RecHandle probe;
    probe.device = device;
    FeatureInfo features;
    if (Mmc_GetFeature(&probe, kFeatureProfileList, &features)) {
        for (size_t i = 0; i < kMaxProfiles && features.profiles[i] != 0; ++i) {
            info.capabilities |= Media_FromProfile(features.profiles[i]);
        }
    }
    Front_Close(device);

    *Tail = &entry;
    Tail = &entry.next;
}

DriveEntry* EntryAt(int32_t index) {
    if (index < 0) return nullptr;
    DriveEntry* entry = Head;
    for (int32_t i = 0; entry && i < index; ++i)
        entry = entry->next;
    return entry;
}

} // namespace

void DriveTable_Empty() {
    while (Head) {
        DriveEntry* entry = Head;
        CloseHandleOf(&entry->handle);
        Head = entry->next;
        entry->next = nullptr;
    }
    Tail = &Head;
}

int DriveTable_Fill() {
    DriveTable_Empty();
    Front_Enumerate(OnDriveFound, nullptr);
    int count = 0;
    for (DriveEntry* entry = Head; entry; entry = entry->next)
        ++count;
    return count;
}

} // namespace tvx

using namespace tvx;

extern "C" {

TVX_API int32_t TVX_CALL TVX_GetDriveCount(void) {
    return DriveTable_Fill();
}

TVX_API TVX_Result TVX_CALL TVX_GetDriveInfo(int32_t index, TVX_DriveInfo* info) {
    if (!info) return TVX_ERR_INVALID_ARG;
    DriveEntry* entry = EntryAt(index);
    if (!entry) return TVX_ERR_NO_DRIVE;
    std::memcpy(info, &entry->handle.driveInfo, sizeof *info);
    return TVX_OK;
}

TVX_API TVX_RecHandle TVX_CALL TVX_OpenRecHandle(int32_t index) {
    DriveEntry* entry = EntryAt(index);
    if (!entry) return nullptr;
    RecHandle* handle = &entry->handle;
    if (handle->device) return handle;

    Device* device = nullptr;
    const TVX_DriveInfo& info = handle->driveInfo;
    if (info.driveLetter) {
        char name[3] = {info.driveLetter, ':', 0};
        device = Front_OpenByName(name);
    }
    if (!device) device = Front_OpenByAddress(info.hostAdapter, info.target, info.lun);
    if (!device) return nullptr;
    handle->device = device;
    // Held for the life of the handle; a drive that refuses is still usable.
    Front_SetExclusive(device, 1);
    return handle;
}

TVX_API int32_t TVX_CALL TVX_CloseRecHandle(TVX_RecHandle handle) {
    if (handle) CloseHandleOf(handle);
    return 0;
}

} // extern "C"
