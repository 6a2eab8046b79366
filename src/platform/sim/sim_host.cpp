#include "platform/sim/sim_host.h"

namespace tvx {

std::string SimHost::tempDirectory() { return tempDir_ ? *tempDir_ : NativeHost::tempDirectory(); }

int32_t SimHost::timeZoneBias() { return bias_ ? *bias_ : NativeHost::timeZoneBias(); }

uint64_t SimHost::currentFileTime() { return now_ ? *now_ : NativeHost::currentFileTime(); }

} // namespace tvx
