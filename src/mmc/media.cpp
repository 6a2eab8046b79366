// MMC profile numbers to the library's media-type bits.
#include "mmc/commands.h"

#include "torvexin.h"

namespace tvx {

uint32_t Media_FromProfile(uint16_t profile) {
    switch (profile) {
    case 0x0008: return MediaCdRom;
    case 0x0009: return MediaCdR;
    case 0x000A: return MediaCdRw;
    case 0x0010: return MediaDvdRom;
    case 0x0011: return MediaDvdR;
    case 0x0012: return MediaDvdRam;
    case 0x0013: // restricted overwrite
    case 0x0014: return MediaDvdRw; // sequential recording
    case 0x0015: return MediaDvdRDualLayer;
    case 0x001A: return MediaDvdPlusRw;
    case 0x001B: return MediaDvdPlusR;
    case 0x002B: return MediaDvdPlusRDualLayer;
    case 0x0040: return MediaBdRom;
    case 0x0041: // sequential recording
    case 0x0042: return MediaBdR; // random recording
    case 0x0043: return MediaBdRe;
    default: return 0;
    }
}

} // namespace tvx
