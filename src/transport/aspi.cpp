// The ASPI backend: drives addressed by host adapter, target and LUN through the layer's execute
// request; drives that the layer does not show are wrapped pass-through Devices.
#include "frame/log.h"
#include "transport/aspi_device.h"
#include "transport/backends.h"
#include "transport/identify.h"
#include "transport/spti.h"
#include "transport/transport_detail.h"

#include <atomic>
#include <cstdio>
#include <cstring>
#include <new>

namespace tvx {

namespace {

constexpr int kLunsPerTarget = 256;
constexpr uint32_t kSupportStatusShift = 8;

uint8_t StatusOf(const SRB_ExecSCSICmd& block) {
    // The layer may still be completing a block it holds.
    return std::atomic_ref<uint8_t>(const_cast<uint8_t&>(block.SRB_Status))
        .load(std::memory_order_acquire);
}

void CloseDevice(Device* device) {
    if (!device) return;
    AspiDevice* aspi = AsAspi(device);
    if (aspi->inner) {
        SptiTransport.Close(aspi->inner);
    } else {
        Aspi_Sweep(aspi->abandoned);
        for (auto& request : aspi->abandoned)
            Aspi_Orphan(std::move(request));
        Aspi_Orphan(std::move(aspi->request));
    }
    delete aspi;
}

Device* OpenByAddress(uint8_t hostAdapter, uint8_t target, uint8_t lun) {
    auto* aspi = new (std::nothrow) AspiDevice{};
    if (!aspi) return nullptr;
    DeviceHeader& header = aspi->device.header;
    header.hostAdapter = hostAdapter;
    header.target = target;
    header.lun = lun;
    header.privatePart = &aspi->inner;
    aspi->request = Aspi_NewRequest();
    if (!aspi->request) {
        delete aspi;
        return nullptr;
    }

    if (!Transport_Identify(Aspi_Execute, &aspi->device)) {
        CloseDevice(&aspi->device);
        return nullptr;
    }
    // The adapter's largest transfer (HA_Unique bytes 4-7, little-endian).
    SRB_HAInquiry inquiry;
    if (Aspi_HostAdapterInquiry(hostAdapter, inquiry)) {
        uint32_t limit = 0;
        for (int i = 0; i < 4; ++i)
            limit |= uint32_t{inquiry.HA_Unique[kHaUniqueMaxTransfer + i]} << (8 * i);
        header.maxTransferBytes = limit;
    }
    return &aspi->device;
}

Device* OpenByName(const char* name) {
    Device* inner = OpenByDeviceFile(name);
    if (!inner) return nullptr;
    auto* aspi = new (std::nothrow) AspiDevice{};
    if (!aspi) {
        SptiTransport.Close(inner);
        return nullptr;
    }
    aspi->device.header = inner->header;
    aspi->device.header.privatePart = &aspi->inner;
    aspi->inner = inner;
    return &aspi->device;
}

constexpr char kNoLetterShown = '-';

void LogFound(const char* format, int index, const Device* device) {
    const DeviceHeader& h = device->header;
    // A zero letter through %c would end the line in the middle.
    LogWrite(format, index, h.driveLetter ? h.driveLetter : kNoLetterShown, h.hostAdapter, h.target,
             h.lun, h.vendor, h.product, h.revision);
}

int Enumerate(EnumerateCallback callback, void* context) {
    AspiSupportInfoFunction supportInfo = Aspi_SupportInfo();
    if (!supportInfo) return 0;
    uint32_t support = supportInfo();
    if (((support >> kSupportStatusShift) & 0xFF) != SS_COMP) return 0;
    const int adapters = static_cast<int>(support & 0xFF);

    int index = 0;
    // N adapters are reported; the scan tries N + 1 of them.
    for (int adapter = 0; adapter <= adapters; ++adapter) {
        SRB_HAInquiry inquiry;
        if (!Aspi_HostAdapterInquiry(static_cast<uint8_t>(adapter), inquiry)) continue;
        const int targets = inquiry.HA_Unique[kHaUniqueMaxTargets];
        for (int target = 0; target < targets; ++target) {
            for (int lun = 0; lun < kLunsPerTarget; ++lun) {
                Device* device =
                    OpenByAddress(static_cast<uint8_t>(adapter), static_cast<uint8_t>(target),
                                  static_cast<uint8_t>(lun));
                if (!device) continue;
                device->header.driveLetter = LetterFromClassIndex(index);
                LogFound("ASPI FOUND #%d [%c:](%d,%d,%d)[%-8s][%-16s][%-4s]\n", index, device);
                callback(context, index, device);
                ++index;
            }
        }
    }

    // Class devices beyond those the layer showed are reached through the pass-through path.
    while (char letter = LetterFromClassIndex(index)) {
        char name[3] = {letter, ':', 0};
        Device* device = OpenByName(name);
        if (!device) break;
        device->header.driveLetter = letter;
        LogFound("ASPI2 FOUND #%d [%c:](%d,%d,%d)[%-8s][%-16s][%-4s]\n", index, device);
        callback(context, index, device);
        ++index;
    }
    return index;
}

int SetExclusive(Device* device, int on) {
    AspiDevice* aspi = AsAspi(device);
    return aspi->inner ? SptiTransport.SetExclusive(aspi->inner, on) : 0;
}

int Execute(Device* device, const CommandRecord* command, void* data, uint32_t length) {
    AspiDevice* aspi = AsAspi(device);
    if (aspi->inner) return SptiTransport.Execute(aspi->inner, command, data, length);
    return Aspi_Execute(device, command, data, length);
}

uint8_t GetStatus(Device* device) {
    AspiDevice* aspi = AsAspi(device);
    if (aspi->inner) return SptiTransport.GetStatus(aspi->inner);
    return StatusOf(aspi->request->block);
}

uint32_t GetSenseLength(Device* device) {
    AspiDevice* aspi = AsAspi(device);
    if (aspi->inner) return SptiTransport.GetSenseLength(aspi->inner);
    return aspi->request->block.SRB_SenseLen;
}

uint32_t GetCdbLength(Device* device) {
    AspiDevice* aspi = AsAspi(device);
    if (aspi->inner) return SptiTransport.GetCdbLength(aspi->inner);
    return aspi->request->block.SRB_CDBLen;
}

const uint8_t* GetSense(Device* device) {
    AspiDevice* aspi = AsAspi(device);
    if (aspi->inner) return SptiTransport.GetSense(aspi->inner);
    return aspi->request->block.SenseArea;
}

const uint8_t* GetCdb(Device* device) {
    AspiDevice* aspi = AsAspi(device);
    if (aspi->inner) return SptiTransport.GetCdb(aspi->inner);
    return aspi->request->block.CDBByte;
}

} // namespace

int Aspi_Execute(Device* device, const CommandRecord* command, void* data, uint32_t length) {
    AspiDevice* aspi = AsAspi(device);
    AspiSendCommandFunction send = Aspi_SendCommand();
    if (!send) return 0;

    // A block the layer still holds (its wait ran out) is set aside, never reused.
    Aspi_Sweep(aspi->abandoned);
    if (Aspi_InFlight(*aspi->request)) {
        std::unique_ptr<AspiRequest> fresh = Aspi_NewRequest();
        if (!fresh) return 0;
        aspi->abandoned.push_back(std::move(aspi->request));
        aspi->request = std::move(fresh);
    }
    AspiRequest& request = *aspi->request;
    SRB_ExecSCSICmd& srb = request.block;
    const DeviceHeader& header = device->header;

    srb = {};
    srb.SRB_Cmd = SC_EXEC_SCSI_CMD;
    srb.SRB_HaId = header.hostAdapter;
    srb.SRB_Target = header.target;
    srb.SRB_Lun = header.lun;
    srb.SRB_BufLen = length;
    srb.SRB_BufPointer = static_cast<uint8_t*>(data);
    srb.SRB_SenseLen = kAspiSenseLength;
    srb.SRB_CDBLen =
        command->cdbLength > sizeof srb.CDBByte ? sizeof srb.CDBByte : command->cdbLength;
#if defined(_WIN32)
    srb.SRB_PostProc = request.event;
#else
    srb.SRB_PostProc = &request.notify;
#endif
    std::memcpy(srb.CDBByte, command->cdb, sizeof srb.CDBByte);
    uint8_t flags = 0;
    if (data && length != 0) {
        if (command->direction == kDirectionOut) flags = SRB_DIR_OUT;
        if (command->direction == kDirectionIn) flags = SRB_DIR_IN;
    }
    srb.SRB_Flags = flags | SRB_EVENT_NOTIFY;

    host().resetEvent(request.event);
    Aspi_SetInFlight(request, true);
    if (send(&srb) == SS_PENDING) {
        // No default time limit here: a timeout of 0 does not wait.
        if (command->timeout != 0) host().waitEvent(request.event, command->timeout * 1000u);
    } else {
        Aspi_SetInFlight(request, false);
    }
    const uint8_t status = StatusOf(srb);
    if (status == SS_PENDING && Aspi_InFlight(request)) {
        // Ask the layer to give the request up before it touches the caller's buffer.
        SRB_Abort abort = {};
        abort.SRB_Cmd = SC_ABORT_SRB;
        abort.SRB_HaId = header.hostAdapter;
        abort.SRB_ToAbort = &srb;
        send(&abort);
    }
    return status == SS_COMP ? 1 : 0;
}

void Aspi_Detail(Device* device, TransportDetail& detail) {
    AspiDevice* aspi = AsAspi(device);
    if (aspi->inner) {
        Spti_Detail(aspi->inner, detail);
        return;
    }
    const SRB_ExecSCSICmd& srb = aspi->request->block;
    detail.path = TransportPath::Aspi;
    detail.srbStatus = StatusOf(srb);
    // A block the layer still holds may change under us: only its status is read.
    if (Aspi_InFlight(*aspi->request)) return;
    detail.hostAdapterStatus = srb.SRB_HaStat;
    detail.targetStatus = srb.SRB_TargStat;
}

const Transport AspiTransport = {Aspi_Terminate, OpenByAddress, OpenByName, CloseDevice,
                                 Enumerate,      SetExclusive,  Execute,    GetStatus,
                                 GetSenseLength, GetCdbLength,  GetSense,   GetCdb};

} // namespace tvx
