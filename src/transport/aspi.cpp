// ASPI backend (placeholder until the device transport lands: finds no drive).
#include "transport/backends.h"

namespace tvx {

namespace {
int terminate() { return 0; }
Device* openByAddress(uint8_t, uint8_t, uint8_t) { return nullptr; }
Device* openByName(const char*) { return nullptr; }
void close(Device*) {}
int enumerate(EnumerateCallback, void*) { return 0; }
int setExclusive(Device*, int) { return 0; }
int execute(Device*, const CommandRecord*, void*, uint32_t) { return 0; }
uint8_t getStatus(Device*) { return 0; }
uint32_t getLength(Device*) { return 0; }
const uint8_t* getBytes(Device*) { return nullptr; }
} // namespace

const Transport AspiTransport = {terminate,    openByAddress, openByName, close,
                                 enumerate,    setExclusive,  execute,    getStatus,
                                 getLength,    getLength,     getBytes,   getBytes};

int ProbeAspi() { return 0; }

} // namespace tvx
