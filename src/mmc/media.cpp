// MMC profile numbers to the library's media-type bits.
#include "mmc/commands.h"

#include "torvexin.h"

namespace tvx {

namespace {

struct ProfileMedium {
    uint16_t profile;
    uint32_t medium;
};

constexpr ProfileMedium kProfiles[] = {
    {0x0008, MediaCdRom},         {0x0009, MediaCdR},      {0x000A, MediaCdRw},
    {0x0010, MediaDvdRom},        {0x0011, MediaDvdR},  // sequential recording
    {0x0012, MediaDvdRam},        {0x0013, MediaDvdRw}, // restricted overwrite
    {0x0014, MediaDvdRw},                               // sequential recording
    {0x0015, MediaDvdRDualLayer},                       // sequential recording
    {0x001A, MediaDvdPlusRw},     {0x001B, MediaDvdPlusR}, {0x002B, MediaDvdPlusRDualLayer},
    {0x0040, MediaBdRom},         {0x0041, MediaBdR}, // sequential recording
    {0x0042, MediaBdR},                               // random recording
    {0x0043, MediaBdRe},
};

} // namespace

uint32_t Media_FromProfile(uint16_t profile) {
    for (const ProfileMedium& p : kProfiles)
        if (p.profile == profile) return p.medium;
    return 0;
}

} // namespace tvx
