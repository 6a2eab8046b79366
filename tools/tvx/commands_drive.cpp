// Listing drives, showing abilities, disc, speeds and status, and the tray.
#include "commands.h"
#include "results.h"

#include <cstdio>

namespace tvxcli {

int ListDrives(const Options&) {
    Session session;
    if (int rc = session.start()) return rc;
    int count = TVX_GetDriveCount();
    if (count == 0) std::printf("no drives\n");
    for (int i = 0; i < count; ++i) {
        TVX_DriveInfo info;
        if (TVX_GetDriveInfo(i, &info) != TVX_OK) continue;
        std::printf("%d: [%c:] %-8s %-16s %-4s  %s  media: %s\n", i,
                    info.driveLetter ? info.driveLetter : '-', info.vendor, info.product,
                    info.revision, BusName(info.busKind),
                    MediaNames(info.capabilities).c_str());
    }
    return kExitOk;
}

int ShowInfo(const Options& options) {
    Session session;
    if (int rc = session.open(options.drive)) return rc;
    TVX_RecHandle h = session.handle();

    TVX_DriveInfo drive;
    TVX_GetDriveInfo(options.drive, &drive);
    std::printf("drive %d: %s %s %s (%s)\n", options.drive, drive.vendor, drive.product,
                drive.revision, BusName(drive.busKind));

    uint32_t caps = 0;
    TVX_Result r = TVX_GetDriveCaps(h, &caps);
    if (r == TVX_OK)
        std::printf("  handles: %s\n", MediaNames(caps).c_str());
    else
        std::printf("  handles: unknown (%s)\n", ResultName(r));

    uint32_t state = 0;
    r = TVX_GetDriveStatus(h, TVX_STATUS_TRAY_OPEN | TVX_STATUS_MEDIUM_PRESENT | TVX_STATUS_BUSY,
                           &state);
    if (r == TVX_OK)
        std::printf("  status: tray %s, %s, %s\n", state & TVX_STATUS_TRAY_OPEN ? "open" : "closed",
                    state & TVX_STATUS_MEDIUM_PRESENT ? "disc present" : "no disc",
                    state & TVX_STATUS_BUSY ? "busy" : "idle");
    else
        std::printf("  status: unknown (%s)\n", ResultName(r));

    TVX_DiscInfo disc;
    r = TVX_GetDiscInfo(h, &disc);
    if (r != TVX_OK) {
        std::printf("  disc: none readable (%s)\n", ResultName(r));
        return kExitOk;
    }
    std::printf("  disc: %s%s%s%s\n", MediaNames(disc.mediaType).c_str(),
                disc.blank ? ", blank" : "", disc.appendable ? ", appendable" : "",
                disc.canErase ? ", erasable" : "");
    std::printf("  blocks: %u used, %u free, %u capacity (%u bytes each)\n", disc.usedBlocks,
                disc.freeBlocks, disc.capacityBlocks, disc.blockSize);
    if (disc.protectionSystem) std::printf("  copy protection system: %u\n", disc.protectionSystem);

    uint32_t speeds[32] = {};
    r = TVX_GetWriteSpeedCaps(h, speeds, sizeof speeds);
    if (r == TVX_OK) {
        std::printf("  write speeds:");
        for (uint32_t s : speeds) {
            if (!s) break;
            std::printf(" %.1fx (%u kB/s)", s / 1385.0, s);
        }
        std::printf("\n");
    } else {
        std::printf("  write speeds: none (%s)\n", ResultName(r));
    }
    return kExitOk;
}

int Eject(const Options& options) {
    Session session;
    if (int rc = session.open(options.drive)) return rc;
    TVX_Result r = TVX_EjectMedia(session.handle());
    return r == TVX_OK ? kExitOk : ReportFailure("eject", r, session.handle());
}

int Load(const Options& options) {
    Session session;
    if (int rc = session.open(options.drive)) return rc;
    TVX_Result r = TVX_LoadMedia(session.handle());
    return r == TVX_OK ? kExitOk : ReportFailure("load", r, session.handle());
}

} // namespace tvxcli
