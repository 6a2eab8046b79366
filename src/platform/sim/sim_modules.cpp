// Modules of the simulation host: tables of entry points that tests register under a module
// name, or files that the native loader opens.
#include "platform/sim/sim_host.h"

#include <cctype>
#include <cerrno>

namespace tvx {

namespace {

std::string FoldedName(const std::string& name) {
    std::string out = name;
    for (char& c : out)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

} // namespace

void SimHost::registerModule(const std::string& name, std::map<std::string, void*> symbols) {
    std::lock_guard<std::recursive_mutex> guard(lock_);
    modules_[FoldedName(name)] = ModuleEntry{std::move(symbols), {}};
}

void SimHost::registerModuleFile(const std::string& name, const std::string& path) {
    std::lock_guard<std::recursive_mutex> guard(lock_);
    modules_[FoldedName(name)] = ModuleEntry{{}, path};
}

size_t SimHost::loadedModuleCount() {
    std::lock_guard<std::recursive_mutex> guard(lock_);
    return moduleHandles_.size();
}

HostHandle SimHost::loadModule(const std::string& name) {
    std::lock_guard<std::recursive_mutex> guard(lock_);
    auto it = modules_.find(FoldedName(name));
    if (it == modules_.end()) {
        setLastError(ENOENT);
        return nullptr;
    }
    auto handle = std::make_unique<ModuleHandle>();
    handle->entry = &it->second;
    if (!it->second.file.empty()) {
        handle->native = NativeHost::loadModule(it->second.file);
        if (!handle->native) return nullptr;
    }
    ModuleHandle* raw = handle.get();
    moduleHandles_[raw] = std::move(handle);
    return raw;
}

void* SimHost::moduleSymbol(HostHandle module, const char* symbol) {
    std::lock_guard<std::recursive_mutex> guard(lock_);
    auto it = moduleHandles_.find(static_cast<ModuleHandle*>(module));
    if (it == moduleHandles_.end() || !symbol) return nullptr;
    const ModuleHandle& handle = *it->second;
    if (handle.native) return NativeHost::moduleSymbol(handle.native, symbol);
    auto found = handle.entry->symbols.find(symbol);
    return found == handle.entry->symbols.end() ? nullptr : found->second;
}

bool SimHost::freeModule(HostHandle module) {
    std::lock_guard<std::recursive_mutex> guard(lock_);
    auto it = moduleHandles_.find(static_cast<ModuleHandle*>(module));
    if (it == moduleHandles_.end()) return false;
    bool freed = !it->second->native || NativeHost::freeModule(it->second->native);
    moduleHandles_.erase(it);
    return freed;
}

} // namespace tvx
