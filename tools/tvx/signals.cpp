#include "signals.h"

#include "torvexin.h"

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

namespace tvxcli {

namespace {

volatile std::sig_atomic_t stopSignal = 0;

void onStop(int signal) {
    if (!stopSignal) stopSignal = signal;
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
    if (!after || (eventType != TVX_EVENT_WRITE && eventType != TVX_EVENT_ERASE_PROGRESS)) return;
    if (++events != std::atol(after)) return;
    const char* name = std::getenv("TVX_TEST_INTERRUPT_SIGNAL");
    int signal = SIGINT;
    if (name && std::strcmp(name, "TERM") == 0) signal = SIGTERM;
    if (name && std::strcmp(name, "HUP") == 0) signal = SIGHUP;
    if (name && std::strcmp(name, "USR1") == 0) signal = SIGUSR1;
    std::raise(signal);
}

} // namespace tvxcli
