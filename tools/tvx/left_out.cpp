#include "left_out.h"

#include <cerrno>
#include <cstdio>
#include <dirent.h>
#include <set>
#include <string>
#include <sys/stat.h>
#include <utility>
#include <vector>

namespace tvxcli {

namespace {

// What the library would make of an entry it does not record, or null for files and folders.
const char* leftOutKind(const std::string& path, struct stat& st) {
    if (::stat(path.c_str(), &st) != 0) {
        struct stat link {};
        if (::lstat(path.c_str(), &link) != 0) return nullptr; // vanished meanwhile
        return errno == ELOOP ? "a symbolic link in a loop" : "a symbolic link that leads nowhere";
    }
    if (S_ISREG(st.st_mode) || S_ISDIR(st.st_mode)) return nullptr;
    if (S_ISFIFO(st.st_mode)) return "a named pipe";
    if (S_ISSOCK(st.st_mode)) return "a socket";
    if (S_ISCHR(st.st_mode) || S_ISBLK(st.st_mode)) return "a device";
    return "of a kind that is not recorded";
}

} // namespace

void NameLeftOut(const BurnRequest& request) {
    if (request.source == BurnSource::Files || request.source == BurnSource::Image) return;
    // Folders still to list; a folder reached twice (through links) is listed once.
    std::vector<std::string> pending{request.path};
    std::set<std::pair<dev_t, ino_t>> seen;
    while (!pending.empty()) {
        const std::string folder = pending.back();
        pending.pop_back();
        DIR* dir = ::opendir(folder.c_str());
        if (!dir) continue; // the library names a folder it cannot read
        while (const dirent* entry = ::readdir(dir)) {
            const std::string name = entry->d_name;
            if (name == "." || name == "..") continue;
            const std::string path = folder + (folder.back() == '/' ? "" : "/") + name;
            struct stat st {};
            if (const char* kind = leftOutKind(path, st)) {
                std::fprintf(stderr, "left out: %s (%s)\n", path.c_str(), kind);
            } else if (S_ISDIR(st.st_mode) && seen.insert({st.st_dev, st.st_ino}).second) {
                pending.push_back(path);
            }
        }
        ::closedir(dir);
    }
}

} // namespace tvxcli
