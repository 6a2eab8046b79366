#include "vdrive/image_file.h"

#include "platform/host.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#if defined(_WIN32)
#include <io.h>
#include <share.h>
#include <sys/stat.h>
#include <windows.h>
#else
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace tvx::vdrive {
namespace {

// The claimed byte: far beyond the data of any image, so the lock never meets a read or write,
// and apart from the bytes that carry a drive's other locks.
constexpr uint64_t kClaimOffset = kDeviceLockImageOwner;

std::string Failed(const std::string& what, const std::string& path) {
    return "cannot " + what + " " + path + ": " + std::strerror(errno);
}

} // namespace

ImageFile::ImageFile(int fd, std::string path, ImageAccess access)
    : fd_(fd), path_(std::move(path)), access_(access) {}

#if defined(_WIN32)

std::unique_ptr<ImageFile> ImageFile::Open(const std::string& path, ImageAccess access,
                                           std::string& problem) {
    int flags = (access == ImageAccess::Read ? _O_RDONLY : _O_RDWR) | _O_BINARY | _O_NOINHERIT;
    if (access == ImageAccess::Create) flags |= _O_CREAT;
    int fd = -1;
    if (::_sopen_s(&fd, path.c_str(), flags, _SH_DENYNO, _S_IREAD | _S_IWRITE) != 0) {
        problem = Failed("open", path);
        return nullptr;
    }
    std::unique_ptr<ImageFile> file(new ImageFile(fd, path, access));
    auto handle = reinterpret_cast<HANDLE>(::_get_osfhandle(fd));
    BY_HANDLE_FILE_INFORMATION info{};
    if (::GetFileType(handle) != FILE_TYPE_DISK || !::GetFileInformationByHandle(handle, &info) ||
        (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
        problem = path + " is not a regular file";
        return nullptr;
    }
    file->key_.device = info.dwVolumeSerialNumber;
    file->key_.inode = uint64_t{info.nFileIndexHigh} << 32 | info.nFileIndexLow;
    file->size_ = uint64_t{info.nFileSizeHigh} << 32 | info.nFileSizeLow;
    return file;
}

ImageFile::~ImageFile() {
    ::_close(fd_);
}

bool ImageFile::claim(std::string& problem) {
    auto handle = reinterpret_cast<HANDLE>(::_get_osfhandle(fd_));
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(kClaimOffset);
    at.OffsetHigh = static_cast<DWORD>(kClaimOffset >> 32);
    DWORD flags = LOCKFILE_FAIL_IMMEDIATELY | (readOnly() ? 0 : LOCKFILE_EXCLUSIVE_LOCK);
    if (::LockFileEx(handle, flags, 0, 1, 0, &at)) return true;
    problem = path_ + " is in use by another process";
    return false;
}

bool ImageFile::resize(uint64_t bytes, bool empty) {
    if (empty && ::_chsize_s(fd_, 0) != 0) return false;
    return ::_chsize_s(fd_, static_cast<int64_t>(bytes)) == 0;
}

#else

std::unique_ptr<ImageFile> ImageFile::Open(const std::string& path, ImageAccess access,
                                           std::string& problem) {
    // Non-blocking, so that a FIFO put in the image's place cannot hang the open.
    int flags = (access == ImageAccess::Read ? O_RDONLY : O_RDWR) | O_NONBLOCK | O_CLOEXEC;
    // A new image is never made through a link: one planted at the path would aim the write
    // anywhere its owner likes.
    if (access == ImageAccess::Create) flags |= O_CREAT | O_NOFOLLOW;
    int fd = ::open(path.c_str(), flags, 0644);
    if (fd < 0) {
        problem = access == ImageAccess::Create && errno == ELOOP
                      ? path + " is a symbolic link; a new image is not made through one"
                      : Failed("open", path);
        return nullptr;
    }
    std::unique_ptr<ImageFile> file(new ImageFile(fd, path, access));
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        problem = Failed("examine", path);
        return nullptr;
    }
    if (!S_ISREG(st.st_mode)) {
        problem = path + " is not a regular file";
        return nullptr;
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    file->key_ = ImageKey{static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino)};
    file->mode_ = st.st_mode & 0666;
    file->size_ = static_cast<uint64_t>(st.st_size);
    return file;
}

ImageFile::~ImageFile() {
    ::close(fd_);
}

bool ImageFile::claim(std::string& problem) {
    // A lock of the open file description: any other open of the image, in this process or
    // another, conflicts with it, and it ends with the last descriptor of this open.
    struct flock lock {};
    lock.l_type = readOnly() ? F_RDLCK : F_WRLCK;
    lock.l_whence = SEEK_SET;
    lock.l_start = static_cast<off_t>(kClaimOffset);
    lock.l_len = 1;
    if (::fcntl(fd_, F_OFD_SETLK, &lock) == 0) return true;
    problem = errno == EAGAIN || errno == EACCES ? path_ + " is in use by another process"
                                                 : Failed("lock", path_);
    return false;
}

bool ImageFile::resize(uint64_t bytes, bool empty) {
    if (empty && ::ftruncate(fd_, 0) != 0) return false;
    return ::ftruncate(fd_, static_cast<off_t>(bytes)) == 0;
}

#endif

} // namespace tvx::vdrive
