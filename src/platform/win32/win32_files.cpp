// Files, find-first and the full-path service.
#include "platform/win32/win32_host.h"

#include <windows.h>

#include <fcntl.h>
#include <io.h>
#include <share.h>
#include <sys/stat.h>

namespace tvx {

namespace {

// The file calls take at most 32 bits per call; larger requests are split by the callers'
// loops below.
class Win32File final : public HostFile {
  public:
    explicit Win32File(HANDLE handle) : handle_(handle) {}
    ~Win32File() override { ::CloseHandle(handle_); }

    uint32_t read(void* buffer, uint32_t count) override {
        auto* out = static_cast<uint8_t*>(buffer);
        uint32_t done = 0;
        while (done < count) {
            DWORD got = 0;
            if (!::ReadFile(handle_, out + done, count - done, &got, nullptr) || got == 0) break;
            done += got;
        }
        return done;
    }

    uint32_t write(const void* data, uint32_t count) override {
        auto* in = static_cast<const uint8_t*>(data);
        uint32_t done = 0;
        while (done < count) {
            DWORD put = 0;
            if (!::WriteFile(handle_, in + done, count - done, &put, nullptr) || put == 0) break;
            done += put;
        }
        return done;
    }

    uint64_t size() override {
        LARGE_INTEGER size{};
        if (!::GetFileSizeEx(handle_, &size)) return 0;
        return static_cast<uint64_t>(size.QuadPart);
    }

    bool seek(uint64_t offset) override {
        LARGE_INTEGER to{};
        to.QuadPart = static_cast<LONGLONG>(offset);
        return ::SetFilePointerEx(handle_, to, nullptr, FILE_BEGIN) != 0;
    }

  private:
    HANDLE handle_;
};

// The log: the C library's text mode, so every "\n" is stored as CR LF.
class TextAppendFile final : public HostFile {
  public:
    explicit TextAppendFile(int fd) : fd_(fd) {}
    ~TextAppendFile() override { ::_close(fd_); }

    uint32_t read(void*, uint32_t) override { return 0; }

    uint32_t write(const void* data, uint32_t count) override {
        // One call, so that lines of different writers do not mix within a line.
        int put = ::_write(fd_, data, count);
        return put < 0 ? 0 : static_cast<uint32_t>(put);
    }

    uint64_t size() override {
        __int64 end = ::_filelengthi64(fd_);
        return end < 0 ? 0 : static_cast<uint64_t>(end);
    }

    bool seek(uint64_t) override { return false; } // every write goes to the end

  private:
    int fd_;
};

uint64_t FromFileTime(const FILETIME& t) {
    return (static_cast<uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime;
}

bool IsListQuery(const std::string& query) {
    return query.size() >= 4 && query.compare(query.size() - 3, 3, "*.*") == 0 &&
           (query[query.size() - 4] == '/' || query[query.size() - 4] == '\\');
}

// The folder part of a query, with its separator ("" when the query has none).
std::string FolderOf(const std::string& query) {
    size_t cut = query.find_last_of("/\\:");
    return cut == std::string::npos ? std::string() : query.substr(0, cut + 1);
}

// Identity of a folder (volume serial and file index), so that a scan can refuse a junction
// that leads back into itself. Files are not asked: a loop needs a folder.
void FillIdentity(const std::string& path, FindResult& r) {
    const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    HANDLE h = ::CreateFileA(path.c_str(), 0, share, nullptr, OPEN_EXISTING,
                             FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE) return;
    BY_HANDLE_FILE_INFORMATION info{};
    if (::GetFileInformationByHandle(h, &info)) {
        r.volumeId = info.dwVolumeSerialNumber + 1ULL; // never {0, 0}, which means unknown
        r.fileId = (static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
    }
    ::CloseHandle(h);
}

FindResult FromFindData(const WIN32_FIND_DATAA& d, const std::string& folder) {
    FindResult r;
    r.attributes = d.dwFileAttributes;
    r.creationTime = FromFileTime(d.ftCreationTime);
    r.accessTime = FromFileTime(d.ftLastAccessTime);
    r.writeTime = FromFileTime(d.ftLastWriteTime);
    r.size = (static_cast<uint64_t>(d.nFileSizeHigh) << 32) | d.nFileSizeLow;
    r.name = d.cFileName;
    r.shortName = d.cAlternateFileName;
    if (r.attributes & FILE_ATTRIBUTE_DIRECTORY) FillIdentity(folder + r.name, r);
    return r;
}

bool IsDotEntry(const char* name) {
    return name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0));
}

} // namespace

std::unique_ptr<HostFile> Win32Host::openFile(const std::string& path, FileAccess access) {
    if (access == FileAccess::Append) {
        int fd = -1;
        errno_t err = ::_sopen_s(&fd, path.c_str(), _O_WRONLY | _O_APPEND | _O_CREAT | _O_TEXT,
                                 _SH_DENYNO, _S_IREAD | _S_IWRITE);
        if (err != 0 || fd < 0) {
            setLastError(static_cast<uint32_t>(_doserrno ? _doserrno : ERROR_OPEN_FAILED));
            return nullptr;
        }
        return std::make_unique<TextAppendFile>(fd);
    }
    DWORD desired = GENERIC_READ;
    DWORD share = FILE_SHARE_READ;
    DWORD disposition = OPEN_EXISTING;
    switch (access) {
    case FileAccess::Read:
        break;
    case FileAccess::Write:
        desired = GENERIC_WRITE;
        disposition = CREATE_ALWAYS;
        break;
    case FileAccess::ReadWrite:
        desired = GENERIC_READ | GENERIC_WRITE;
        disposition = OPEN_ALWAYS;
        break;
    case FileAccess::Append:
        break;
    }
    // A folder cannot be opened without FILE_FLAG_BACKUP_SEMANTICS, so folders are refused.
    HANDLE h = ::CreateFileA(path.c_str(), desired, share, nullptr, disposition,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return nullptr;
    // A source is read from a file on a disk, never from a pipe or a character device.
    if (access == FileAccess::Read && ::GetFileType(h) != FILE_TYPE_DISK) {
        ::CloseHandle(h);
        ::SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    return std::make_unique<Win32File>(h);
}

namespace {

// Lists with FindFirstFileA / FindNextFileA (query ends in "*.*"), each entry to `each`.
// False when the listing fails part way (last error set) or `each` stops it.
bool ListQuery(const std::string& query, const FolderVisitor& each) {
    WIN32_FIND_DATAA data{};
    HANDLE find = ::FindFirstFileA(query.c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) {
        // A listing that matched nothing (an empty drive root has no "." either) is empty.
        return ::GetLastError() == ERROR_FILE_NOT_FOUND;
    }
    std::string folder = FolderOf(query);
    DWORD error = ERROR_NO_MORE_FILES;
    bool stopped = false;
    do {
        if (!IsDotEntry(data.cFileName) && !each(FromFindData(data, folder))) {
            stopped = true;
            break;
        }
    } while (::FindNextFileA(find, &data));
    if (!stopped) error = ::GetLastError();
    ::FindClose(find);
    if (stopped) return false;
    if (error != ERROR_NO_MORE_FILES) {
        ::SetLastError(error);
        return false;
    }
    return true;
}

} // namespace

bool Win32Host::findFiles(const std::string& rawQuery, std::vector<FindResult>& results,
                          std::vector<std::string>&) {
    // A folder named with a trailing separator is still that folder (the find call alone would
    // find nothing); a drive's root keeps its separator.
    std::string query = rawQuery;
    while (query.size() > 1 && (query.back() == '\\' || query.back() == '/') &&
           !(query.size() == 3 && query[1] == ':'))
        query.pop_back();
    if (IsListQuery(query)) {
        size_t before = results.size();
        bool ok = ListQuery(query, [&results](const FindResult& r) {
            results.push_back(r);
            return true;
        });
        // A partial listing would record a folder without some of its entries.
        if (!ok) results.resize(before);
        return ok;
    }
    WIN32_FIND_DATAA data{};
    HANDLE find = ::FindFirstFileA(query.c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) return false;
    results.push_back(FromFindData(data, FolderOf(query)));
    ::FindClose(find);
    return true;
}

bool Win32Host::listFolder(const std::string& folder, const FolderVisitor& each,
                           std::vector<std::string>&, bool) {
    std::string query = folder;
    if (query.empty() || (query.back() != '\\' && query.back() != '/')) query += '\\';
    return ListQuery(query + "*.*", each);
}

bool Win32Host::fullPath(const std::string& path, std::string& absolute) {
    if (path.empty()) return false;
    char buffer[kMaxHostPath];
    DWORD n = ::GetFullPathNameA(path.c_str(), sizeof buffer, buffer, nullptr);
    if (n == 0 || n >= sizeof buffer) return false;
    absolute.assign(buffer, n);
    return true;
}

} // namespace tvx
