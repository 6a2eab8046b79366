// The ASPI backend's entry points beyond its Transport table (AspiTransport and ProbeAspi in
// backends.h). Drives are addressed by host adapter, target and LUN through the layer
// "WNASPI32"; drives the layer does not show are reached through the pass-through backend.
#pragma once

#include "transport/transport.h"

namespace tvx {

// The drive letter of the i-th device of the CD-ROM class driver, or 0.
char LetterFromClassIndex(int index);

} // namespace tvx
