#include "progress.h"

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <unistd.h>

namespace tvxcli {

namespace {

std::atomic<bool> interrupted{false};
bool quietMode = false;
bool barDrawn = false;
int lastPlainPercent = -1;
int lastEvent = -1;

using Clock = std::chrono::steady_clock;
Clock::time_point phaseStart;
uint32_t phaseStartValue = 0;
Clock::time_point lastDraw;

void onInterrupt(int) { interrupted.store(true); }

const char* phaseName(int32_t type) {
    switch (type) {
    case TVX_EVENT_WRITE: return "writing";
    case TVX_EVENT_WAIT: return "closing";
    case TVX_EVENT_ERASE_PROGRESS: return "erasing";
    case TVX_EVENT_VERIFY: return "verifying";
    default: return "working";
    }
}

void drawBar(int32_t type, uint32_t value, uint32_t total) {
    double fraction = total ? static_cast<double>(value) / total : 0.0;
    if (fraction > 1.0) fraction = 1.0;
    auto now = Clock::now();
    double seconds = std::chrono::duration<double>(now - phaseStart).count();
    std::fprintf(stderr, "\r%-9s [", phaseName(type));
    const int width = 30;
    int filled = static_cast<int>(fraction * width);
    for (int i = 0; i < width; ++i) std::fputc(i < filled ? '#' : '.', stderr);
    std::fprintf(stderr, "] %5.1f%%", fraction * 100.0);
    bool sectors = type == TVX_EVENT_WRITE || type == TVX_EVENT_VERIFY;
    if (sectors && seconds > 0.5 && value > phaseStartValue) {
        double rate = (value - phaseStartValue) * 2048.0 / seconds; // bytes per second
        double left = rate > 0 ? (total - value) * 2048.0 / rate : 0;
        std::fprintf(stderr, "  %6.1f MB/s  %3d:%02d left", rate / 1e6,
                     static_cast<int>(left) / 60, static_cast<int>(left) % 60);
    }
    std::fprintf(stderr, "   ");
    std::fflush(stderr);
    barDrawn = true;
}

} // namespace

void InstallInterruptHandler() {
    struct sigaction action {};
    action.sa_handler = onInterrupt;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
}

bool Interrupted() { return interrupted.load(); }

void SetProgressQuiet(bool quiet) { quietMode = quiet; }

void EndProgress() {
    if (barDrawn) std::fputc('\n', stderr);
    barDrawn = false;
}

// Tests of the tool set TVX_TEST_INTERRUPT_AFTER=N to have Ctrl-C arrive at the N-th chunk
// written, through the same signal path as a person's Ctrl-C.
static void simulateInterruptForTests(int32_t eventType) {
    static const char* after = std::getenv("TVX_TEST_INTERRUPT_AFTER");
    static long chunks = 0;
    if (after && eventType == TVX_EVENT_WRITE && ++chunks == std::atol(after)) std::raise(SIGINT);
}

int32_t TVX_CALL ProgressCallback(int32_t eventType, uint32_t* data, int32_t) {
    simulateInterruptForTests(eventType);
    uint32_t value = data ? data[0] : 0;
    uint32_t total = data ? data[1] : 0;
    if (eventType != lastEvent) {
        phaseStart = Clock::now();
        phaseStartValue = value;
        lastPlainPercent = -1;
        if (barDrawn) EndProgress();
        lastEvent = eventType;
    }
    bool measured = eventType == TVX_EVENT_WRITE || eventType == TVX_EVENT_WAIT ||
                    eventType == TVX_EVENT_ERASE_PROGRESS || eventType == TVX_EVENT_VERIFY;
    if (!quietMode && measured) {
        if (isatty(STDERR_FILENO)) {
            auto now = Clock::now();
            if (now - lastDraw > std::chrono::milliseconds(100) || value >= total) {
                drawBar(eventType, value, total);
                lastDraw = now;
            }
        } else {
            int percent = total ? static_cast<int>(static_cast<uint64_t>(value) * 100 / total) : 0;
            if (percent > 100) percent = 100;
            if (percent / 10 != lastPlainPercent / 10 || lastPlainPercent < 0) {
                std::fprintf(stderr, "%s: %d%% (%u of %u)\n", phaseName(eventType), percent,
                             value, total);
                lastPlainPercent = percent;
            }
        }
    }
    return Interrupted() ? 0 : 1;
}

} // namespace tvxcli
