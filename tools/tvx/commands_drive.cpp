// Listing drives, showing abilities, disc, speeds and status, and the tray.
#include "commands.h"
#include "devices.h"
#include "json.h"
#include "results.h"

#include <cstdio>

namespace tvxcli {

namespace {

std::vector<std::string> MediaList(uint32_t mask) {
    std::vector<std::string> names;
    for (uint32_t bit = 1; bit; bit <<= 1)
        if (mask & bit) names.push_back(MediaName(bit));
    return names;
}

std::string DriveJson(int index, const TVX_DriveInfo& info, const Options& options) {
    std::string letter = info.driveLetter ? std::string(1, info.driveLetter) : "";
    return JsonObject()
        .add("index", int64_t{index})
        .add("device", DeviceName(info, options.virtualImages))
        .add("letter", info.driveLetter ? letter.c_str() : nullptr)
        .add("vendor", info.vendor)
        .add("product", info.product)
        .add("revision", info.revision)
        .add("bus", BusName(info.busKind))
        .add("hostAdapter", int64_t{info.hostAdapter})
        .add("target", int64_t{info.target})
        .add("lun", int64_t{info.lun})
        .add("capabilities", int64_t{info.capabilities})
        .addRaw("media", JsonStrings(MediaList(info.capabilities)))
        .str();
}

} // namespace

int ListDrives(const Options& options) {
    Session session;
    if (int rc = session.start()) {
        // A reader of the document learns there are no drives, and why, from the document.
        if (options.json)
            std::printf(
                "%s\n",
                JsonObject().addRaw("drives", "[]").add("message", LastFailure()).str().c_str());
        return rc;
    }
    int count = TVX_GetDriveCount();
    std::vector<std::string> items;
    if (count == 0 && !options.json) std::printf("no drives\n");
    for (int i = 0; i < count; ++i) {
        TVX_DriveInfo info;
        if (TVX_GetDriveInfo(i, &info) != TVX_OK) continue;
        if (options.json) {
            items.push_back(DriveJson(i, info, options));
            continue;
        }
        std::printf("%d: %s [%c:] %-8s %-16s %-4s  %s  media: %s\n", i,
                    DeviceName(info, options.virtualImages).c_str(),
                    info.driveLetter ? info.driveLetter : '-', info.vendor, info.product,
                    info.revision, BusName(info.busKind), MediaNames(info.capabilities).c_str());
    }
    if (options.json)
        std::printf("%s\n", JsonObject().addRaw("drives", JsonArray(items)).str().c_str());
    return kExitOk;
}

int ShowInfo(const Options& options) {
    Session session;
    if (int rc = session.open(options)) return rc;
    TVX_RecHandle h = session.handle();
    JsonObject doc;

    TVX_DriveInfo drive{};
    TVX_GetDriveInfo(session.index(), &drive);
    if (options.json)
        doc.addRaw("drive", DriveJson(session.index(), drive, options));
    else
        std::printf("drive %d: %s %s %s %s (%s)\n", session.index(),
                    DeviceName(drive, options.virtualImages).c_str(), drive.vendor, drive.product,
                    drive.revision, BusName(drive.busKind));

    uint32_t caps = 0;
    TVX_Result r = TVX_GetDriveCaps(h, &caps);
    if (options.json)
        doc.addRaw("handles", r == TVX_OK ? JsonStrings(MediaList(caps)) : "null");
    else if (r == TVX_OK)
        std::printf("  handles: %s\n", MediaNames(caps).c_str());
    else
        std::printf("  handles: unknown (%s)\n", TVX_ResultName(r));

    uint32_t state = 0;
    r = TVX_GetDriveStatus(h, TVX_STATUS_TRAY_OPEN | TVX_STATUS_MEDIUM_PRESENT | TVX_STATUS_BUSY,
                           &state);
    if (options.json)
        doc.addRaw("status", r != TVX_OK
                                 ? "null"
                                 : JsonObject()
                                       .add("trayOpen", (state & TVX_STATUS_TRAY_OPEN) != 0)
                                       .add("discPresent", (state & TVX_STATUS_MEDIUM_PRESENT) != 0)
                                       .add("busy", (state & TVX_STATUS_BUSY) != 0)
                                       .str());
    else if (r == TVX_OK)
        std::printf("  status: tray %s, %s, %s\n", state & TVX_STATUS_TRAY_OPEN ? "open" : "closed",
                    state & TVX_STATUS_MEDIUM_PRESENT ? "disc present" : "no disc",
                    state & TVX_STATUS_BUSY ? "busy" : "idle");
    else
        std::printf("  status: unknown (%s)\n", TVX_ResultName(r));

    TVX_DiscInfo disc{};
    r = TVX_GetDiscInfo(h, &disc);
    if (options.json) {
        doc.add("discResult", TVX_ResultName(r));
        doc.addRaw("disc", r != TVX_OK
                               ? "null"
                               : JsonObject()
                                     .add("kind", MediaName(disc.mediaType))
                                     .add("mediaType", int64_t{disc.mediaType})
                                     .add("blank", disc.blank != 0)
                                     .add("appendable", disc.appendable != 0)
                                     .add("erasable", disc.canErase != 0)
                                     .add("usedBlocks", int64_t{disc.usedBlocks})
                                     .add("freeBlocks", int64_t{disc.freeBlocks})
                                     .add("capacityBlocks", int64_t{disc.capacityBlocks})
                                     .add("blockSize", int64_t{disc.blockSize})
                                     .add("protectionSystem", int64_t{disc.protectionSystem})
                                     .str());
    } else if (r != TVX_OK) {
        std::printf("  disc: none readable (%s)\n", TVX_ResultName(r));
        return kExitOk;
    } else {
        std::printf("  disc: %s%s%s%s\n", MediaNames(disc.mediaType).c_str(),
                    disc.blank ? ", blank" : "", disc.appendable ? ", appendable" : "",
                    disc.canErase ? ", erasable" : "");
        std::printf("  blocks: %u used, %u free, %u capacity (%u bytes each)\n", disc.usedBlocks,
                    disc.freeBlocks, disc.capacityBlocks, disc.blockSize);
        if (disc.protectionSystem)
            std::printf("  copy protection system: %u\n", disc.protectionSystem);
    }

    uint32_t speeds[32] = {};
    r = r == TVX_OK ? TVX_GetWriteSpeedCaps(h, speeds, sizeof speeds) : r;
    std::vector<std::string> speedItems;
    if (r == TVX_OK)
        for (uint32_t s : speeds) {
            if (!s) break;
            speedItems.push_back(std::to_string(s));
        }
    if (options.json) {
        doc.addRaw("writeSpeeds", r == TVX_OK ? JsonArray(speedItems) : "null");
        std::printf("%s\n", doc.str().c_str());
    } else if (r == TVX_OK) {
        std::printf("  write speeds:");
        for (uint32_t s : speeds) {
            if (!s) break;
            std::printf(" %.1fx (%u kB/s)", s / OneX(disc.mediaType), s);
        }
        std::printf("\n");
    } else {
        std::printf("  write speeds: none (%s)\n", TVX_ResultName(r));
    }
    return kExitOk;
}

int Eject(const Options& options) {
    Session session;
    if (int rc = session.open(options)) return rc;
    TVX_Result r = TVX_EjectMedia(session.handle());
    return r == TVX_OK ? kExitOk : ReportFailure("eject", r, session.handle(), options.verbose);
}

int Load(const Options& options) {
    Session session;
    if (int rc = session.open(options)) return rc;
    TVX_Result r = TVX_LoadMedia(session.handle());
    return r == TVX_OK ? kExitOk : ReportFailure("load", r, session.handle(), options.verbose);
}

} // namespace tvxcli
