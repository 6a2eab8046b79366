// The ASPI layer itself: loading "WNASPI32", the probe, the host adapter inquiry, unloading, and
// the life of request blocks that the layer may still hold.
#include "transport/aspi_device.h"
#include "transport/backends.h"

#include <atomic>
#include <mutex>
#include <new>

namespace tvx {

namespace {

constexpr uint32_t kSupportStatusShift = 8;

// The library state: the module and its two entry points, null until loaded.
HostHandle aspiModule = nullptr;
AspiSupportInfoFunction supportInfo = nullptr;
AspiSendCommandFunction sendCommand = nullptr;

// Orders the layer's completion signals against the freeing of blocks: a block is freed only
// under this lock and only once its signal has run, so the layer never touches freed memory.
std::mutex& CompletionLock() {
    static std::mutex lock;
    return lock;
}

// Blocks of closed Devices that the layer still held; freed when it is unloaded.
std::vector<std::unique_ptr<AspiRequest>>& Orphans() {
    static std::vector<std::unique_ptr<AspiRequest>> orphans;
    return orphans;
}

// Called by the layer (from any thread) when a request it answered SS_PENDING completes.
void SignalCompletion(AspiEvent* notify) {
    auto* request = static_cast<AspiRequest*>(notify->context);
    std::lock_guard<std::mutex> guard(CompletionLock());
    request->inFlight = false;
    host().setEvent(request->event);
}

// True while the layer owns the block; called under the completion lock. On Windows the layer
// signals the block's system event itself and calls nothing back: the signal ends the flight.
bool Held(AspiRequest& request) {
#if defined(_WIN32)
    if (request.inFlight && host().waitEvent(request.event, 0)) request.inFlight = false;
#endif
    return request.inFlight;
}

void Unload() {
    supportInfo = nullptr;
    sendCommand = nullptr;
    aspiModule = nullptr;
}

int Load() {
    if (aspiModule) return 1;
    HostHandle module = host().loadModule(kAspiModuleName);
    if (!module) return 0;
    auto info = reinterpret_cast<AspiSupportInfoFunction>(
        host().moduleSymbol(module, kAspiSupportInfoSymbol));
    auto send = reinterpret_cast<AspiSendCommandFunction>(
        host().moduleSymbol(module, kAspiSendCommandSymbol));
    if (!info || !send) {
        host().freeModule(module);
        return 0;
    }
    aspiModule = module;
    supportInfo = info;
    sendCommand = send;
    return 1;
}

} // namespace

AspiRequest::~AspiRequest() {
    if (event) host().closeEvent(event);
}

AspiSupportInfoFunction Aspi_SupportInfo() {
    return supportInfo;
}
AspiSendCommandFunction Aspi_SendCommand() {
    return sendCommand;
}

std::unique_ptr<AspiRequest> Aspi_NewRequest() {
    std::unique_ptr<AspiRequest> request(new (std::nothrow) AspiRequest);
    if (!request) return nullptr;
    request->event = host().createEvent(true, false);
    if (!request->event) return nullptr;
    request->notify.signal = SignalCompletion;
    request->notify.context = request.get();
    return request;
}

bool Aspi_InFlight(AspiRequest& request) {
    std::lock_guard<std::mutex> guard(CompletionLock());
    return Held(request);
}

void Aspi_SetInFlight(AspiRequest& request, bool inFlight) {
    std::lock_guard<std::mutex> guard(CompletionLock());
    request.inFlight = inFlight;
}

void Aspi_Sweep(std::vector<std::unique_ptr<AspiRequest>>& requests) {
    std::vector<std::unique_ptr<AspiRequest>> done;
    {
        std::lock_guard<std::mutex> guard(CompletionLock());
        for (auto it = requests.begin(); it != requests.end();) {
            if (Held(**it)) {
                ++it;
            } else {
                done.push_back(std::move(*it));
                it = requests.erase(it);
            }
        }
    }
    // Freed outside the lock: closing an event is a host call.
}

void Aspi_Orphan(std::unique_ptr<AspiRequest> request) {
    if (!request) return;
    std::vector<std::unique_ptr<AspiRequest>>& orphans = Orphans();
    Aspi_Sweep(orphans);
    std::lock_guard<std::mutex> guard(CompletionLock());
    // A block the layer has let go of is freed on return: its signal has run to its end.
    if (Held(*request)) orphans.push_back(std::move(request));
}

bool Aspi_HostAdapterInquiry(uint8_t adapter, SRB_HAInquiry& answer) {
    if (!sendCommand) return false;
    answer = {};
    answer.SRB_Cmd = SC_HA_INQUIRY;
    answer.SRB_HaId = adapter;
    sendCommand(&answer);
    return std::atomic_ref<uint8_t>(answer.SRB_Status).load(std::memory_order_acquire) == SS_COMP;
}

int ProbeAspi() {
    if (!Load()) return 0;
    SRB_HAInquiry inquiry;
    const uint32_t support = supportInfo();
    if (((support >> kSupportStatusShift) & 0xFF) == SS_COMP &&
        Aspi_HostAdapterInquiry(0, inquiry)) {
        return 1;
    }
    // A layer that does not answer stays unloaded: nothing would ever unload it.
    host().freeModule(aspiModule);
    Unload();
    return 0;
}

int Aspi_Terminate() {
    if (!aspiModule) return 0;
    int result = host().freeModule(aspiModule) ? 1 : 0;
    Unload();
    // An unloaded layer signals nothing more: the blocks it held can go.
    if (result) {
        std::lock_guard<std::mutex> guard(CompletionLock());
        Orphans().clear();
    }
    return result;
}

} // namespace tvx
