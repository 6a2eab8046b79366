// The two Transport backends and their probes, used by TVX_Initialize.
#pragma once

#include "transport/transport.h"

namespace tvx {

extern const Transport SptiTransport;
extern const Transport AspiTransport;

// 1 when the pass-through path reaches at least one drive letter.
int ProbeSpti();
// 1 when the ASPI layer is present and answers.
int ProbeAspi();

} // namespace tvx
