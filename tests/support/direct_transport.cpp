#include "support/direct_transport.h"

#include <cstdio>
#include <cstring>
#include <vector>
#if defined(_WIN32)
#include <process.h>
#define getpid _getpid
#else
#include <unistd.h>
#endif

namespace tvx::test {

namespace {

struct DirectDevice {
    Device base;
    ScsiTarget* target = nullptr;
    uint8_t status = 0;
    uint8_t cdb[16] = {};
    uint8_t cdbLength = 0;
    uint8_t sense[32] = {};
};

DirectDevice* direct(Device* d) {
    return reinterpret_cast<DirectDevice*>(d);
}

int execute(Device* d, const CommandRecord* command, void* data, uint32_t length) {
    DirectDevice* dev = direct(d);
    std::memcpy(dev->cdb, command->cdb, 16);
    dev->cdbLength = command->cdbLength;
    std::memset(dev->sense, 0, sizeof dev->sense);
    ScsiRequest request;
    request.cdb = command->cdb;
    request.cdbLength = command->cdbLength;
    request.direction =
        (data && length)
            ? static_cast<DataDirection>(command->direction > 2 ? 2 : command->direction)
            : DataDirection::None;
    request.data = data;
    request.byteCount = (data && length) ? length : 0;
    request.timeoutSeconds = command->timeout ? command->timeout : 20;
    ScsiResult result = dev->target->execute(request);
    if (result.outcome != ScsiOutcome::Completed) {
        dev->status = 0;
        return 0;
    }
    dev->status = result.status;
    std::memcpy(dev->sense, result.sense, sizeof dev->sense);
    return result.status == kScsiStatusGood ? 1 : 0;
}

int terminate() {
    return 0;
}
Device* openByAddress(uint8_t, uint8_t, uint8_t) {
    return nullptr;
}
Device* openByName(const char*) {
    return nullptr;
}
void close(Device*) {}
int enumerate(EnumerateCallback, void*) {
    return 0;
}
int setExclusive(Device*, int) {
    return 1;
}
uint8_t getStatus(Device* d) {
    return direct(d)->status;
}
uint32_t getSenseLength(Device*) {
    return 32;
}
uint32_t getCdbLength(Device* d) {
    return direct(d)->cdbLength;
}
const uint8_t* getSense(Device* d) {
    return direct(d)->sense;
}
const uint8_t* getCdb(Device* d) {
    return direct(d)->cdb;
}

const Transport kDirect = {terminate,      openByAddress, openByName, close,
                           enumerate,      setExclusive,  execute,    getStatus,
                           getSenseLength, getCdbLength,  getSense,   getCdb};

} // namespace

struct DirectTransport::Opened {
    std::vector<std::unique_ptr<DirectDevice>> devices;
    std::vector<std::unique_ptr<RecHandle>> handles;
};

DirectTransport::DirectTransport() : opened_(new Opened), previous_(ActiveTransport) {
    ActiveTransport = &kDirect;
}

DirectTransport::~DirectTransport() {
    ActiveTransport = previous_;
}

RecHandle* DirectTransport::open(ScsiTarget& target) {
    auto dev = std::make_unique<DirectDevice>();
    dev->target = &target;
    auto handle = std::make_unique<RecHandle>();
    handle->device = &dev->base;
    // What the adapter would report of the path to the target.
    dev->base.header.maxTransferBytes = target.maxTransferBytes();
    // One target is one drive for the job lock, in this process only.
    std::snprintf(dev->base.header.identity, sizeof dev->base.header.identity, "direct-%d-%p",
                  static_cast<int>(getpid()), static_cast<void*>(&target));
    RecHandle* h = handle.get();
    opened_->devices.push_back(std::move(dev));
    opened_->handles.push_back(std::move(handle));
    return h;
}

} // namespace tvx::test
