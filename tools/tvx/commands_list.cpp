// ls: the entries of a folder of the disc, as names, as a long listing or as JSON.
#include "commands.h"
#include "disc_listing.h"
#include "json.h"
#include "results.h"

#include <cstdio>

namespace tvxcli {

namespace {

// "2026-12-08 10:55" for people; with seconds and the recorded offset for JSON.
std::string ShortTime(const DiscTime& t) {
    if (!t.known) return "(no time)       ";
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d", t.year, t.month, t.day, t.hour,
                  t.minute);
    return text;
}

std::string IsoTime(const DiscTime& t) {
    char text[40];
    int n = std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d", t.year, t.month,
                          t.day, t.hour, t.minute, t.second);
    if (t.offsetKnown) {
        int m = t.offsetMinutes < 0 ? -t.offsetMinutes : t.offsetMinutes;
        std::snprintf(text + n, sizeof text - n, "%c%02d:%02d", t.offsetMinutes < 0 ? '-' : '+',
                      m / 60, m % 60);
    }
    return text;
}

} // namespace

int ListFolder(const Options& options, const std::string& discPath, bool longListing) {
    if (discPath.empty() || (discPath[0] != '/' && discPath[0] != '\\'))
        return Fail(kExitUsage, "%s: paths on the disc start with /", discPath.c_str());
    Session session;
    if (int rc = session.open(options)) return rc;
    TVX_DiscFile root = TVX_OpenFile(session.handle(), "/");
    if (!root) {
        TVX_LastError e{};
        const bool known = TVX_GetLastError(session.handle(), &e) == TVX_OK && e.description;
        return Fail(kExitFailed, "%s: %s", discPath.c_str(),
                    known ? e.description : "the disc has no readable file system");
    }
    std::vector<ListedEntry> entries;
    bool isFolder = false;
    std::string error;
    const bool ok =
        ListDiscPath(root, discPath, longListing || options.json, entries, isFolder, error);
    TVX_CloseFile(root);
    if (!ok) return Fail(kExitFailed, "%s: %s", discPath.c_str(), error.c_str());

    if (options.json) {
        std::vector<std::string> items;
        for (const auto& e : entries)
            items.push_back(
                JsonObject()
                    .add("name", e.name)
                    .add("folder", e.directory)
                    .add("size", static_cast<int64_t>(e.size))
                    .addRaw("modified", e.modified.known ? JsonString(IsoTime(e.modified)) : "null")
                    .str());
        std::printf("%s\n", JsonObject()
                                .add("path", discPath)
                                .add("folder", isFolder)
                                .addRaw("entries", JsonArray(items))
                                .str()
                                .c_str());
        return kExitOk;
    }
    for (const auto& e : entries) {
        const char* mark = e.directory ? "/" : "";
        if (longListing)
            std::printf("%c %14llu  %s  %s%s\n", e.directory ? 'd' : '-',
                        static_cast<unsigned long long>(e.size), ShortTime(e.modified).c_str(),
                        e.name.c_str(), mark);
        else
            std::printf("%s%s\n", e.name.c_str(), mark);
    }
    return kExitOk;
}

} // namespace tvxcli
