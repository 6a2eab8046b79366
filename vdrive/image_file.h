// An image file that backs a disc, opened so that nobody else can steer where it goes, and the
// claim that makes one process the owner of the disc's state.
//
// Opening never blocks and never follows a link to create a file: a FIFO or device in the
// image's place is refused, and so is a link where a new image is to be made, a link of another
// user in a folder others may write to, and an image of another user that anybody may write.
// A new image is made by this open alone (exclusive create), readable by its owner only.
//
// The claim is a lock held by open files: the kernel drops it when they are closed or the
// process dies. Writers claim "IMAGE.lock" exclusively, a file only its owner may open, so that
// nobody who can only read the image keeps them out; readers of a pressed disc claim a byte far
// beyond the image's data shared, and the lock file shared when they may read it.
#pragma once

#include <compare>
#include <cstdint>
#include <memory>
#include <string>

namespace tvx::vdrive {

// Which file an image is, whatever the path that named it.
struct ImageKey {
    uint64_t device = 0;
    uint64_t inode = 0;
    auto operator<=>(const ImageKey&) const = default;
};

enum class ImageAccess : uint8_t {
    Create, // made if missing (never through a link); opened for writing, emptied once claimed
    Write,  // an existing file, for reading and writing
    Read,   // an existing file, read only
};

class ImageFile {
  public:
    // Null with a message naming path on failure.
    static std::unique_ptr<ImageFile> Open(const std::string& path, ImageAccess access,
                                           std::string& problem);
    ~ImageFile();
    ImageFile(const ImageFile&) = delete;
    ImageFile& operator=(const ImageFile&) = delete;

    // Makes this process the owner: false, naming the image, when another holds it.
    bool claim(std::string& problem);
    // Sets the length (sparse); Create empties the file first. Only after claim().
    bool resize(uint64_t bytes, bool empty);

    const ImageKey& key() const { return key_; }
    const std::string& path() const { return path_; }
    bool readOnly() const { return access_ == ImageAccess::Read; }
    int fd() const { return fd_; }
    uint64_t size() const { return size_; } // bytes when opened
    // Permission bits of the image, for files written beside it.
    uint32_t mode() const { return mode_; }
    // True when this open made the file.
    bool created() const { return created_; }

  private:
    ImageFile(int fd, std::string path, ImageAccess access);
    int fd_;
    std::string path_;
    ImageAccess access_;
    ImageKey key_;
    uint32_t mode_ = 0600;
    uint64_t size_ = 0;
    bool created_ = false;
#if defined(_WIN32)
    void* lockHandle_ = nullptr; // the owner's lock file, held open
#else
    int lockFd_ = -1; // the owner's lock file, held open
#endif
};

} // namespace tvx::vdrive
