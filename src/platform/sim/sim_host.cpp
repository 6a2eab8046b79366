#include "platform/sim/sim_host.h"

namespace tvx {

std::string SimHost::tempDirectory() {
    return tempDir_ ? *tempDir_ : NativeHost::tempDirectory();
}

uint64_t SimHost::currentFileTime() {
    return now_ ? *now_ : NativeHost::currentFileTime();
}

} // namespace tvx
