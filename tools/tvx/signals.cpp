#include "signals.h"

#include "torvexin.h"

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <unistd.h>

namespace tvxcli {

namespace {

volatile std::sig_atomic_t stopSignal = 0;
volatile std::sig_atomic_t stopFeedback = 0;
volatile std::sig_atomic_t closingPhase = 0;

// Said at once from the handler, so that a person who pressed Ctrl-C knows it was heard even
// while the drive closes the disc, which no stop can cut short.
constexpr char kStopHeard[] = "\nstop requested: ending the job...\n";
constexpr char kStopWhileClosing[] =
    "\nstop requested: the drive is closing the disc, which cannot be interrupted; waiting for "
    "it to finish...\n";

void onStop(int signal) {
    if (stopSignal) return;
    stopSignal = signal;
    if (!stopFeedback) return;
    // write() is safe in a handler; a short or failed write loses only the notice.
    ssize_t ignored = closingPhase
                          ? ::write(STDERR_FILENO, kStopWhileClosing, sizeof kStopWhileClosing - 1)
                          : ::write(STDERR_FILENO, kStopHeard, sizeof kStopHeard - 1);
    (void)ignored;
}

} // namespace

void InstallStopHandlers() {
    struct sigaction action {};
    action.sa_handler = onStop;
    sigemptyset(&action.sa_mask);
    for (int signal : {SIGINT, SIGTERM, SIGHUP})
        sigaction(signal, &action, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
}

void SetStopFeedback(bool on) {
    stopFeedback = on ? 1 : 0;
}

void SetClosingPhase(bool closing) {
    closingPhase = closing ? 1 : 0;
}

bool StopRequested() {
    return stopSignal != 0;
}

const char* StopSignalName() {
    switch (stopSignal) {
    case 0:
        return "";
    case SIGINT:
        return "Ctrl-C";
    case SIGTERM:
        return "SIGTERM";
    case SIGHUP:
        return "SIGHUP";
    default:
        return "a signal";
    }
}

void SimulateSignalForTests(int eventType) {
    static const char* after = std::getenv("TVX_TEST_INTERRUPT_AFTER");
    static long events = 0;
    static const char* on = std::getenv("TVX_TEST_INTERRUPT_ON");
    const bool onWait = on && std::strcmp(on, "wait") == 0;
    const bool counted =
        onWait ? eventType == TVX_EVENT_WAIT
               : eventType == TVX_EVENT_WRITE || eventType == TVX_EVENT_ERASE_PROGRESS;
    if (!after || !counted) return;
    if (++events != std::atol(after)) return;
    const char* name = std::getenv("TVX_TEST_INTERRUPT_SIGNAL");
    int signal = SIGINT;
    if (name && std::strcmp(name, "TERM") == 0) signal = SIGTERM;
    if (name && std::strcmp(name, "HUP") == 0) signal = SIGHUP;
    if (name && std::strcmp(name, "USR1") == 0) signal = SIGUSR1;
    std::raise(signal);
}

} // namespace tvxcli
