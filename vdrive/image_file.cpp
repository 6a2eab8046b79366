#include "vdrive/image_file.h"

#include "platform/host.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#if defined(_WIN32)
#include <io.h>
#include <share.h>
#include <string>
#include <sys/stat.h>
#include <vector>
// clang-format off
#include <windows.h>
#include <aclapi.h>
// clang-format on
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
    if (lockHandle_) ::CloseHandle(lockHandle_);
    ::_close(fd_);
}

namespace {

// A security descriptor that lets the caller's token owner alone open a new file.
class OwnerOnly {
  public:
    OwnerOnly() {
        HANDLE token = nullptr;
        if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token)) return;
        auto query = [token](TOKEN_INFORMATION_CLASS what, std::vector<uint8_t>& into) {
            DWORD size = 0;
            ::GetTokenInformation(token, what, nullptr, 0, &size);
            into.resize(size);
            return size && ::GetTokenInformation(token, what, into.data(), size, &size);
        };
        const bool known = query(TokenOwner, owner_) && query(TokenUser, user_);
        ::CloseHandle(token);
        if (!known) return;
        PSID sid = reinterpret_cast<TOKEN_OWNER*>(owner_.data())->Owner;
        acl_.resize(sizeof(ACL) + sizeof(ACCESS_ALLOWED_ACE) + ::GetLengthSid(sid));
        auto* acl = reinterpret_cast<ACL*>(acl_.data());
        valid_ = ::InitializeAcl(acl, static_cast<DWORD>(acl_.size()), ACL_REVISION) &&
                 ::AddAccessAllowedAce(acl, ACL_REVISION, FILE_ALL_ACCESS, sid) &&
                 ::InitializeSecurityDescriptor(&descriptor_, SECURITY_DESCRIPTOR_REVISION) &&
                 ::SetSecurityDescriptorDacl(&descriptor_, TRUE, acl, FALSE) &&
                 ::SetSecurityDescriptorControl(&descriptor_, SE_DACL_PROTECTED, SE_DACL_PROTECTED);
        attributes_.nLength = sizeof attributes_;
        attributes_.lpSecurityDescriptor = &descriptor_;
    }
    // Null (the folder's inherited permissions) when the descriptor could not be made.
    SECURITY_ATTRIBUTES* attributes() { return valid_ ? &attributes_ : nullptr; }
    // True when the open file's owner is the caller (the user, or the owner it gives new files:
    // an elevated administrator's files belong to the administrators).
    bool owns(HANDLE file) {
        PSID owner = nullptr;
        PSECURITY_DESCRIPTOR descriptor = nullptr;
        if (!valid_ || ::GetSecurityInfo(file, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner,
                                         nullptr, nullptr, nullptr, &descriptor) != ERROR_SUCCESS)
            return false;
        const bool same =
            owner && (::EqualSid(owner, reinterpret_cast<TOKEN_OWNER*>(owner_.data())->Owner) ||
                      ::EqualSid(owner, reinterpret_cast<TOKEN_USER*>(user_.data())->User.Sid));
        ::LocalFree(descriptor);
        return same;
    }

  private:
    std::vector<uint8_t> owner_, user_, acl_;
    SECURITY_DESCRIPTOR descriptor_{};
    SECURITY_ATTRIBUTES attributes_{};
    bool valid_ = false;
};

} // namespace

bool ImageFile::claim(std::string& problem) {
    // The owner's lock is on a file beside the image that only the owner can open: anybody who
    // may read the image could lock a byte of it and so keep its owner out. A reader of a pressed
    // image shares the image's byte, and the owner's lock when it may open the lock file.
    auto image = reinterpret_cast<HANDLE>(::_get_osfhandle(fd_));
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(kClaimOffset);
    at.OffsetHigh = static_cast<DWORD>(kClaimOffset >> 32);
    if (readOnly() && !::LockFileEx(image, LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at)) {
        problem = path_ + " is in use by another process";
        return false;
    }
    const std::string lockPath = path_ + ".lock";
    OwnerOnly security;
    // Never through a link or junction planted at the lock file's name.
    HANDLE lock =
        ::CreateFileA(lockPath.c_str(), readOnly() ? GENERIC_READ : GENERIC_READ | GENERIC_WRITE,
                      FILE_SHARE_READ | FILE_SHARE_WRITE, security.attributes(),
                      readOnly() ? OPEN_EXISTING : OPEN_ALWAYS,
                      FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    BY_HANDLE_FILE_INFORMATION info{};
    const bool usable =
        lock != INVALID_HANDLE_VALUE && ::GetFileType(lock) == FILE_TYPE_DISK &&
        ::GetFileInformationByHandle(lock, &info) &&
        !(info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) &&
        (readOnly() || security.owns(lock));
    if (!usable && !readOnly()) {
        problem = lock == INVALID_HANDLE_VALUE
                      ? "cannot open " + lockPath + " (system error " +
                            std::to_string(::GetLastError()) + ")"
                      : lockPath + " is not a file of the caller's; it is not used (remove it "
                                   "if it is yours)";
        if (lock != INVALID_HANDLE_VALUE) ::CloseHandle(lock);
        return false;
    }
    if (!usable && lock != INVALID_HANDLE_VALUE) ::CloseHandle(lock);
    if (!usable) return true; // a reader who may not open the owner's lock file keeps nobody out
    OVERLAPPED first{};
    if (::LockFileEx(lock, LOCKFILE_FAIL_IMMEDIATELY | (readOnly() ? 0 : LOCKFILE_EXCLUSIVE_LOCK),
                     0, 1, 0, &first)) {
        lockHandle_ = lock;
        return true;
    }
    ::CloseHandle(lock);
    if (readOnly()) ::UnlockFileEx(image, 0, 1, 0, &at);
    problem = path_ + " is in use by another process";
    return false;
}

bool ImageFile::resize(uint64_t bytes, bool empty) {
    if (empty && ::_chsize_s(fd_, 0) != 0) return false;
    return ::_chsize_s(fd_, static_cast<int64_t>(bytes)) == 0;
}

#else

namespace {

// What the kernel's protected_symlinks does, done here whatever the machine's setting: a link in
// a folder that others may write to is followed only when its owner is the caller or the
// folder's owner, so that nobody can aim another user's image at a file of that user's.
bool LinkTrusted(const std::string& path, const struct stat& link) {
    const size_t slash = path.find_last_of('/');
    const std::string folder = slash == std::string::npos ? "." : path.substr(0, slash + 1);
    struct stat dir {};
    if (::stat(folder.c_str(), &dir) != 0) return false;
    if (!(dir.st_mode & (S_ISVTX | S_IWOTH))) return true;
    return link.st_uid == ::geteuid() || link.st_uid == dir.st_uid;
}

} // namespace

std::unique_ptr<ImageFile> ImageFile::Open(const std::string& path, ImageAccess access,
                                           std::string& problem) {
    // Non-blocking, so that a FIFO put in the image's place cannot hang the open.
    const int flags = (access == ImageAccess::Read ? O_RDONLY : O_RDWR) | O_NONBLOCK | O_CLOEXEC;
    struct stat link {};
    const bool isLink = ::lstat(path.c_str(), &link) == 0 && S_ISLNK(link.st_mode);
    // A new image is never made through a link: one planted at the path would aim the write
    // anywhere its owner likes.
    if (isLink && access == ImageAccess::Create) {
        problem = path + " is a symbolic link; a new image is not made through one";
        return nullptr;
    }
    if (isLink && !LinkTrusted(path, link)) {
        problem = path + " is a symbolic link of another user in a folder others can write to; "
                         "it is not followed";
        return nullptr;
    }
    bool created = false;
    int fd = -1;
    if (access == ImageAccess::Create) {
        // Only the caller may read or write a new image (less what the umask takes away).
        fd = ::open(path.c_str(), flags | O_CREAT | O_EXCL | O_NOFOLLOW, 0600);
        created = fd >= 0;
    }
    // A path that was no link when looked at is not followed if one appears meanwhile.
    if (fd < 0 && (access != ImageAccess::Create || errno == EEXIST))
        fd = ::open(path.c_str(), flags | (isLink ? 0 : O_NOFOLLOW));
    if (fd < 0) {
        problem = errno == ELOOP ? path + " became a symbolic link while it was opened"
                                 : Failed("open", path);
        return nullptr;
    }
    std::unique_ptr<ImageFile> file(new ImageFile(fd, path, access));
    file->created_ = created;
    struct stat st {
    }, again{};
    if (::fstat(fd, &st) != 0) {
        problem = Failed("examine", path);
        return nullptr;
    }
    if (isLink && (::lstat(path.c_str(), &again) != 0 || again.st_ino != link.st_ino ||
                   again.st_uid != link.st_uid)) {
        problem = path + " was replaced while it was opened";
        return nullptr;
    }
    if (!S_ISREG(st.st_mode)) {
        problem = path + " is not a regular file";
        return nullptr;
    }
    // Another user who may write the image could change the disc under the caller's burn.
    if (access != ImageAccess::Read && (st.st_mode & S_IWOTH) && st.st_uid != ::geteuid()) {
        problem = path + " belongs to another user and every user may write to it; it is not "
                         "used as a disc (copy it, or have its owner take away that permission)";
        return nullptr;
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    file->key_ = ImageKey{static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino)};
    file->mode_ = st.st_mode & 0666;
    file->size_ = static_cast<uint64_t>(st.st_size);
    return file;
}

ImageFile::~ImageFile() {
    if (lockFd_ >= 0) ::close(lockFd_);
    ::close(fd_);
}

bool ImageFile::claim(std::string& problem) {
    // Locks of open file descriptions: any other open, in this process or another, conflicts
    // with them, and they end with the last descriptor of this open. The owner's lock is on a
    // file beside the image that only the owner can open: anybody who may read the image could
    // hold a lock on it and so keep its owner out.
    const std::string lockPath = path_ + ".lock";
    const int lockFd =
        readOnly() ? ::open(lockPath.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC)
                   : ::open(lockPath.c_str(),
                            O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600);
    struct stat st {};
    if (!readOnly() && (lockFd < 0 || ::fstat(lockFd, &st) != 0 || !S_ISREG(st.st_mode) ||
                        st.st_uid != ::geteuid())) {
        problem = lockFd < 0 && errno != ELOOP
                      ? Failed("open", lockPath)
                      : lockPath + " is not a file of the caller's; it is not used (remove it "
                                   "if it is yours)";
        if (lockFd >= 0) ::close(lockFd);
        return false;
    }
    if (!readOnly() && (st.st_mode & 077)) ::fchmod(lockFd, 0600);
    struct flock lock {};
    lock.l_whence = SEEK_SET;
    lock.l_len = 1;
    // A reader of a pressed image shares the image's byte, and the owner's lock when it may read
    // the lock file (another user's reader cannot, and is not kept out).
    lock.l_type = F_RDLCK;
    lock.l_start = static_cast<off_t>(kClaimOffset);
    bool held = !readOnly() || ::fcntl(fd_, F_OFD_SETLK, &lock) == 0;
    if (held && lockFd >= 0) {
        lock.l_type = readOnly() ? F_RDLCK : F_WRLCK;
        lock.l_start = 0;
        held = ::fcntl(lockFd, F_OFD_SETLK, &lock) == 0;
    }
    if (held) {
        lockFd_ = lockFd;
        return true;
    }
    problem = errno == EAGAIN || errno == EACCES ? path_ + " is in use by another process"
                                                 : Failed("lock", path_);
    if (lockFd >= 0) ::close(lockFd);
    return false;
}

bool ImageFile::resize(uint64_t bytes, bool empty) {
    if (empty && ::ftruncate(fd_, 0) != 0) return false;
    return ::ftruncate(fd_, static_cast<off_t>(bytes)) == 0;
}

#endif

} // namespace tvx::vdrive
