// Which path the engine and the jobs take for a medium (the DiscInfo media-type bit).
#pragma once

#include "torvexin.h"

#include <cstdint>

namespace tvx {

// DVD+R, DVD+RW, DVD+R DL: no reservation, no write parameters requirement, explicit closing.
inline bool IsPlusMedia(uint32_t media) {
    return media == MediaDvdPlusR || media == MediaDvdPlusRw || media == MediaDvdPlusRDualLayer;
}
// DVD+R and DVD+R DL: closed track by track and finalised.
inline bool IsPlusRecordable(uint32_t media) {
    return media == MediaDvdPlusR || media == MediaDvdPlusRDualLayer;
}
inline bool IsPlusRw(uint32_t media) {
    return media == MediaDvdPlusRw;
}
// DVD-R, DVD-RW, DVD-R DL: session-at-once page required, reservation, large progress total.
inline bool IsDashMedia(uint32_t media) {
    return media == MediaDvdR || media == MediaDvdRw || media == MediaDvdRDualLayer;
}

inline constexpr uint16_t kProfileDvdRwRestricted = 0x0013;

// Media overwritten in place, whatever the drive reports as their disc status: DVD+RW, DVD-RAM
// and a DVD-RW in restricted overwrite (the profile tells the DVD-RW modes apart).
inline bool IsWrittenInPlace(uint32_t media, uint16_t profile) {
    return media == MediaDvdPlusRw || media == MediaDvdRam ||
           (media == MediaDvdRw && profile == kProfileDvdRwRestricted);
}

// Written session-at-once: DVD-R, DVD-R DL and a sequential DVD-RW. A cache flush before the
// last sector pads the track and closes the session, so nothing may flush them early.
inline bool IsSessionAtOnce(uint32_t media, uint16_t profile) {
    return IsDashMedia(media) && !IsWrittenInPlace(media, profile);
}

// Every kind of DVD a burn accepts.
inline constexpr uint32_t kWritableDvdMask = MediaDvdR | MediaDvdRw | MediaDvdRam | MediaDvdPlusR |
                                             MediaDvdPlusRw | MediaDvdPlusRDualLayer |
                                             MediaDvdRDualLayer;

} // namespace tvx
