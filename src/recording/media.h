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

// BD-R (sequential recording), BD-RE, and CD-R or CD-RW written track at once.
inline bool IsBdR(uint32_t media) {
    return media == MediaBdR;
}
inline bool IsBdRe(uint32_t media) {
    return media == MediaBdRe;
}
inline bool IsBdMedia(uint32_t media) {
    return IsBdR(media) || IsBdRe(media);
}
inline bool IsCdMedia(uint32_t media) {
    return media == MediaCdR || media == MediaCdRw;
}
// Closed track by track at the end, as DVD+R: BD-R and CD.
inline bool ClosesTrack(uint32_t media) {
    return IsBdR(media) || IsCdMedia(media);
}

inline constexpr uint16_t kProfileDvdRwRestricted = 0x0013;
inline constexpr uint16_t kProfileBdRRandom = 0x0042;
// A BD is written in clusters of 32 blocks.
inline constexpr uint32_t kBdClusterBlocks = 32;

// Media overwritten in place, whatever the drive reports as their disc status: DVD+RW, DVD-RAM,
// BD-RE and a DVD-RW in restricted overwrite (the profile tells the DVD-RW modes apart).
inline bool IsWrittenInPlace(uint32_t media, uint16_t profile) {
    return media == MediaDvdPlusRw || media == MediaDvdRam || media == MediaBdRe ||
           (media == MediaDvdRw && profile == kProfileDvdRwRestricted);
}

// Written session-at-once: DVD-R, DVD-R DL and a sequential DVD-RW. A cache flush before the
// last sector pads the track and closes the session, so nothing may flush them early.
inline bool IsSessionAtOnce(uint32_t media, uint16_t profile) {
    return IsDashMedia(media) && !IsWrittenInPlace(media, profile);
}

// Every kind of DVD a burn accepts: what the jobs take until a host asks for more.
inline constexpr uint32_t kWritableDvdMask = MediaDvdR | MediaDvdRw | MediaDvdRam | MediaDvdPlusR |
                                             MediaDvdPlusRw | MediaDvdPlusRDualLayer |
                                             MediaDvdRDualLayer;

// The rewritable kinds an erase may blank.
inline constexpr uint32_t kErasableMask = MediaDvdRw | MediaDvdPlusRw | MediaCdRw | MediaBdRe;

// Every kind the library can write; TVX_SetWritableMedia keeps only these bits.
inline constexpr uint32_t kWritableByLibraryMask =
    kWritableDvdMask | MediaCdR | MediaCdRw | MediaBdR | MediaBdRe;

} // namespace tvx
