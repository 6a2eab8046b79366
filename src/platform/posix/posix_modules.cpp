// Dynamic modules: the Windows module names the library asks for map to shared objects.
#include "platform/posix/posix_host.h"

#include <cctype>
#include <cerrno>
#include <dlfcn.h>

namespace tvx {

namespace {

// "WNASPI32" -> "libwnaspi32.so"; a path or a name that already names a shared object stays.
std::string SharedObjectName(const std::string& name) {
    if (name.find('/') != std::string::npos || name.find(".so") != std::string::npos) return name;
    std::string file = "lib";
    for (char c : name)
        file += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return file + ".so";
}

// The folder of the file this code was loaded from (the shared library, or the program that
// linked the library statically), ending with '/'; empty when unknown.
std::string OwnFolder() {
    Dl_info info{};
    if (!::dladdr(reinterpret_cast<void*>(&OwnFolder), &info) || !info.dli_fname) return {};
    std::string path = info.dli_fname;
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

} // namespace

HostHandle PosixHost::loadModule(const std::string& name) {
    if (name.empty()) {
        setLastError(EINVAL);
        return nullptr;
    }
    std::string file = SharedObjectName(name);
    void* module = ::dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!module && file.find('/') == std::string::npos) {
        std::string folder = OwnFolder();
        if (!folder.empty()) module = ::dlopen((folder + file).c_str(), RTLD_NOW | RTLD_LOCAL);
    }
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
