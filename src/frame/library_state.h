// Process-wide state of the library frame. Not locked: the lifecycle functions run while no
// other call into the library runs.
#pragma once

#include <cstdint>

namespace tvx {

// 1 after TVX_InitializeEx, 0 after TVX_Initialize; read only by TVX_GetDiscInfo.
extern int32_t ExtendedMode;

// Media-type bits the burn and erase jobs accept; set by TVX_SetWritableMedia, kept across
// initialisations.
extern uint32_t WritableMedia;

} // namespace tvx
