// Dynamic modules: the Windows module names the library asks for map to shared objects.
#include "platform/posix/posix_host.h"

#include <cctype>
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <dlfcn.h>

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

} // namespace

HostHandle PosixHost::loadModule(const std::string& name) {
    if (name.empty()) {
        setLastError(EINVAL);
        return nullptr;
    }
    std::string file = SharedObjectName(name);
    // A bare name is looked for in the library's private module folder only, by its absolute
    // path: the loader's own search would read LD_LIBRARY_PATH, run paths and the current
    // directory. The modules are the library's own, not for other programs to link, so they stay
    // out of the public library folder.
    if (file.find('/') == std::string::npos) {
        std::string folder = OwnFolder();
        if (folder.empty()) {
            setLastError(ENOENT);
            return nullptr;
        }
        file = folder + kPrivateModuleFolder + '/' + file;
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
