#include "left_out.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace tvxcli {

namespace {

const char* KindOf(mode_t mode) {
    if (S_ISFIFO(mode)) return "a named pipe";
    if (S_ISSOCK(mode)) return "a socket";
    if (S_ISCHR(mode) || S_ISBLK(mode)) return "a device";
    return "of a kind that is not recorded";
}

class Walk {
  public:
    Walk(const WalkedFile& file, std::vector<LeftOutEntry>& leftOut)
        : file_(file), leftOut_(leftOut) {}

    // Takes fd (a folder) and walks it; path is its path, extended and restored in place. A
    // folder that holds itself through a link is not walked again (the library refuses it).
    void folder(int fd, std::string& path) {
        struct stat st {};
        DIR* dir = nullptr;
        if (::fstat(fd, &st) != 0 ||
            std::find(holders_.begin(), holders_.end(), std::make_pair(st.st_dev, st.st_ino)) !=
                holders_.end() ||
            !(dir = ::fdopendir(fd))) {
            ::close(fd);
            return;
        }
        holders_.emplace_back(st.st_dev, st.st_ino);
        const size_t base = path.size();
        if (path.empty() || path.back() != '/') path += '/';
        const size_t prefix = path.size();
        while (const dirent* entry = ::readdir(dir)) {
            const char* name = entry->d_name;
            if (name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0))) continue;
            path.resize(prefix);
            path += name;
            this->entry(::dirfd(dir), name, entry->d_type, path);
        }
        ::closedir(dir);
        holders_.pop_back();
        path.resize(base);
    }

  private:
    void entry(int dirFd, const char* name, unsigned char type, std::string& path) {
        if (type == DT_DIR) {
            descend(dirFd, name, path);
            return;
        }
        if (type == DT_REG && !file_) return;
        if (type == DT_FIFO || type == DT_SOCK || type == DT_CHR || type == DT_BLK) {
            leftOut_.push_back({path, KindOf(type == DT_FIFO   ? S_IFIFO
                                             : type == DT_SOCK ? S_IFSOCK
                                                               : S_IFCHR)});
            return;
        }
        // A regular file for its size; a link or an unknown type for what it is.
        struct stat st {};
        const int flags = type == DT_REG ? AT_SYMLINK_NOFOLLOW : 0;
        if (::fstatat(dirFd, name, &st, flags) != 0) {
            const bool loop = errno == ELOOP;
            if (::fstatat(dirFd, name, &st, AT_SYMLINK_NOFOLLOW) != 0) return; // vanished
            if (S_ISLNK(st.st_mode))
                leftOut_.push_back({path, loop ? "a symbolic link in a loop"
                                               : "a symbolic link that leads nowhere"});
            return;
        }
        if (S_ISREG(st.st_mode)) {
            if (file_) file_(path, static_cast<uint64_t>(st.st_size));
        } else if (S_ISDIR(st.st_mode)) {
            descend(dirFd, name, path);
        } else {
            leftOut_.push_back({path, KindOf(st.st_mode)});
        }
    }

    void descend(int dirFd, const char* name, std::string& path) {
        int fd = ::openat(dirFd, name, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (fd >= 0) folder(fd, path);
    }

    const WalkedFile& file_;
    std::vector<LeftOutEntry>& leftOut_;
    std::vector<std::pair<dev_t, ino_t>> holders_; // the folders being walked, outermost first
};

} // namespace

void WalkSourceFolder(const std::string& root, const WalkedFile& file,
                      std::vector<LeftOutEntry>& leftOut) {
    int fd = ::open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    std::string path = root;
    Walk(file, leftOut).folder(fd, path);
}

void NameLeftOut(const std::vector<LeftOutEntry>& leftOut) {
    for (const LeftOutEntry& e : leftOut)
        std::fprintf(stderr, "left out: %s (%s)\n", e.path.c_str(), e.kind);
}

} // namespace tvxcli
