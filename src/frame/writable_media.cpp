// The media kinds a host lets the jobs write: the writable DVDs unless it asks for more.
#include "torvexin.h"

#include "frame/library_state.h"
#include "recording/media.h"

namespace tvx {

uint32_t WritableMedia = kWritableDvdMask;

} // namespace tvx

extern "C" TVX_API uint32_t TVX_CALL TVX_SetWritableMedia(uint32_t mediaMask) {
    tvx::WritableMedia = mediaMask & tvx::kWritableByLibraryMask;
    return tvx::WritableMedia;
}
