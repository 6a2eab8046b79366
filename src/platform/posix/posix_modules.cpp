// Dynamic modules: the Windows module names the library asks for map to shared objects.
#include "platform/posix/posix_host.h"

#include <cctype>
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <dlfcn.h>
#include <link.h>
#include <unistd.h>
#include <vector>

namespace tvx {

namespace {

// The folder, beside the library's own file, that holds the modules it loads.
constexpr char kPrivateModuleFolder[] = TVX_PRIVATE_MODULE_FOLDER;

// "WNASPI32" -> "libwnaspi32.so"; a path or a name that already names a shared object stays.
std::string SharedObjectName(const std::string& name) {
    if (name.find('/') != std::string::npos || name.find(".so") != std::string::npos) return name;
    std::string file = "lib";
    for (char c : name)
        file += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return file + ".so";
}

// The absolute path of the mapped file that holds address, from the process's own map (which
// names files by absolute path even when they were loaded by a relative one); empty if none.
std::string MappedFileOf(const void* address) {
    std::FILE* maps = std::fopen("/proc/self/maps", "re");
    if (!maps) return {};
    const auto target = reinterpret_cast<uintptr_t>(address);
    std::string found;
    char line[4096 + 128];
    while (std::fgets(line, sizeof line, maps)) {
        uintptr_t start = 0, end = 0;
        int pathAt = 0;
        if (std::sscanf(line, "%" SCNxPTR "-%" SCNxPTR " %*s %*s %*s %*s %n", &start, &end,
                        &pathAt) < 2 ||
            pathAt == 0 || target < start || target >= end) {
            continue;
        }
        found = line + pathAt;
        while (!found.empty() && (found.back() == '\n' || found.back() == ' '))
            found.pop_back();
        break;
    }
    std::fclose(maps);
    return found;
}

// The folder of the file this code was loaded from (the shared library, or the program that
// linked the library statically), absolute and ending with '/'; empty when unknown. A relative
// name would be resolved against the current directory, which may be anyone's.
std::string OwnFolder() {
    Dl_info info{};
    std::string path;
    if (::dladdr(reinterpret_cast<void*>(&OwnFolder), &info) && info.dli_fname)
        path = info.dli_fname;
    if (path.empty() || path[0] != '/') path = MappedFileOf(reinterpret_cast<void*>(&OwnFolder));
    size_t slash = path.rfind('/');
    if (path.empty() || path[0] != '/' || slash == std::string::npos) return {};
    return path.substr(0, slash + 1);
}

// The program's own run path (DT_RUNPATH, else DT_RPATH) from its dynamic section in memory;
// empty when it has none. The string table's address is relocated in place by some loaders and
// not by others: an address below the load bias is still an offset.
int ProgramRunPath(struct dl_phdr_info* info, size_t, void* out) {
    const ElfW(Dyn)* dynamic = nullptr;
    for (ElfW(Half) i = 0; i < info->dlpi_phnum; ++i)
        if (info->dlpi_phdr[i].p_type == PT_DYNAMIC)
            dynamic =
                reinterpret_cast<const ElfW(Dyn)*>(info->dlpi_addr + info->dlpi_phdr[i].p_vaddr);
    uintptr_t strings = 0;
    const ElfW(Dyn)* runPath = nullptr;
    const ElfW(Dyn)* rPath = nullptr;
    for (const ElfW(Dyn)* d = dynamic; d && d->d_tag != DT_NULL; ++d) {
        if (d->d_tag == DT_STRTAB) strings = d->d_un.d_ptr;
        if (d->d_tag == DT_RUNPATH) runPath = d;
        if (d->d_tag == DT_RPATH) rPath = d;
    }
    const ElfW(Dyn)* chosen = runPath ? runPath : rPath;
    if (chosen && strings) {
        if (strings < info->dlpi_addr) strings += info->dlpi_addr;
        *static_cast<std::string*>(out) =
            reinterpret_cast<const char*>(strings + chosen->d_un.d_val);
    }
    return 1; // the program comes first; nothing after it is looked at
}

// For a program that links the library statically and has no private module folder beside it:
// the folders of that name on the program's own run path ($ORIGIN expanded), where the
// installed package's static interface puts the installed one. Absolute folders only;
// LD_LIBRARY_PATH and the system's folders are not looked at.
std::vector<std::string> RunPathModuleFolders() {
    char program[4096];
    ssize_t length = ::readlink("/proc/self/exe", program, sizeof program - 1);
    if (length <= 0) return {};
    std::string programFolder(program, static_cast<size_t>(length));
    programFolder.erase(programFolder.rfind('/') + 1);
    std::string runPath;
    ::dl_iterate_phdr(&ProgramRunPath, &runPath);
    std::vector<std::string> folders;
    const std::string leaf = std::string("/") + kPrivateModuleFolder;
    size_t start = 0;
    while (start <= runPath.size()) {
        size_t end = runPath.find(':', start);
        if (end == std::string::npos) end = runPath.size();
        std::string folder = runPath.substr(start, end - start);
        start = end + 1;
        for (const char* origin : {"${ORIGIN}", "$ORIGIN"}) {
            if (folder.rfind(origin, 0) == 0)
                folder = programFolder + folder.substr(std::strlen(origin));
        }
        while (folder.size() > 1 && folder.back() == '/')
            folder.pop_back();
        if (!folder.empty() && folder[0] == '/' && folder.size() > leaf.size() &&
            folder.compare(folder.size() - leaf.size(), leaf.size(), leaf) == 0)
            folders.push_back(folder + '/');
    }
    return folders;
}

} // namespace

HostHandle PosixHost::loadModule(const std::string& name) {
    if (name.empty()) {
        setLastError(EINVAL);
        return nullptr;
    }
    std::string file = SharedObjectName(name);
    // A bare name is looked for in the library's private module folder only (beside the
    // library, or for a static program without one, on the program's run path), by its
    // absolute path: the loader's own search would read LD_LIBRARY_PATH, every run path entry
    // and the current directory. The modules are the library's own, not for other programs to
    // link, so they stay out of the public library folder.
    if (file.find('/') == std::string::npos) {
        std::string folder = OwnFolder();
        if (folder.empty()) {
            setLastError(ENOENT);
            return nullptr;
        }
        std::string path = folder + kPrivateModuleFolder + '/' + file;
        if (::access(path.c_str(), F_OK) != 0) {
            for (const std::string& installed : RunPathModuleFolders()) {
                if (::access((installed + file).c_str(), F_OK) == 0) {
                    path = installed + file;
                    break;
                }
            }
        }
        file = path;
    }
    void* module = ::dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!module) setLastError(ENOENT);
    return module;
}

void* PosixHost::moduleSymbol(HostHandle module, const char* symbol) {
    if (!module || !symbol) return nullptr;
    return ::dlsym(module, symbol);
}

bool PosixHost::freeModule(HostHandle module) {
    return module && ::dlclose(module) == 0;
}

} // namespace tvx
