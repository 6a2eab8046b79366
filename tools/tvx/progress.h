// Progress display for burns and erases, and Ctrl-C as a request to stop.
#pragma once

#include "torvexin.h"

namespace tvxcli {

// Installs the Ctrl-C handler: the first Ctrl-C asks the running job to stop (the library then
// closes the disc and returns TVX_ERR_CANCELLED).
void InstallInterruptHandler();
bool Interrupted();

// The callback handed to the library. A bar with percentage, MB/s and time left on a terminal,
// plain lines otherwise; quiet shows nothing.
int32_t TVX_CALL ProgressCallback(int32_t eventType, uint32_t* data, int32_t userData);
void SetProgressQuiet(bool quiet);
// Ends the bar's line if one is drawn.
void EndProgress();

} // namespace tvxcli
