// Signals that ask a running job to stop: Ctrl-C (SIGINT), SIGTERM (timeout, service managers)
// and SIGHUP (a closed terminal) all end a burn or erase cleanly instead of killing the process
// mid-track.
#pragma once

namespace tvxcli {

// Installs the handlers; the first signal asks the running job to stop. SIGPIPE is ignored so
// that a closed output pipe cannot end a burn either.
void InstallStopHandlers();
bool StopRequested();
// With feedback on, the first signal is acknowledged on stderr at once; while the closing phase
// is on, the notice says that the drive's close is awaited.
void SetStopFeedback(bool on);
void SetClosingPhase(bool closing);
// "Ctrl-C", "SIGTERM" or "SIGHUP": what asked to stop; "" when nothing did.
const char* StopSignalName();
// Tests of the tool set TVX_TEST_INTERRUPT_AFTER=N (and TVX_TEST_INTERRUPT_SIGNAL=INT, TERM,
// HUP or USR1) to have the signal arrive at the N-th write or erase progress event (for cat and
// get: the N-th piece written to the host; with TVX_TEST_INTERRUPT_ON=wait, the N-th wait for the
// drive), through the same handler as a real one.
void SimulateSignalForTests(int eventType);

} // namespace tvxcli
