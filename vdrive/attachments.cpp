#include "vdrive/attachments.h"

#include "vdrive/medium.h"

#include <map>
#include <mutex>

namespace tvx::vdrive {
namespace {

// Recursive: a disc whose last owner lets go while the table is held detaches from it.
std::recursive_mutex& TableLock() {
    static std::recursive_mutex lock;
    return lock;
}

std::map<ImageKey, std::weak_ptr<Medium>>& Table() {
    static std::map<ImageKey, std::weak_ptr<Medium>> table;
    return table;
}

} // namespace

std::shared_ptr<Medium> AttachDisc(std::unique_ptr<ImageFile> file, bool share,
                                   const MakeDisc& make, std::string& problem) {
    std::lock_guard<std::recursive_mutex> guard(TableLock());
    ImageKey key = file->key();
    auto it = Table().find(key);
    if (it != Table().end()) {
        if (std::shared_ptr<Medium> attached = it->second.lock()) {
            if (share) return attached;
            problem = file->path() + " is already attached to a drive of this process";
            return nullptr;
        }
    }
    if (!file->claim(problem)) return nullptr;
    std::shared_ptr<Medium> m = make(std::move(file), problem);
    if (!m) return nullptr;
    m->imageKey = key;
    m->attached = true;
    Table()[key] = m;
    return m;
}

void DetachDisc(const ImageKey& key) {
    std::lock_guard<std::recursive_mutex> guard(TableLock());
    auto it = Table().find(key);
    if (it != Table().end() && it->second.expired()) Table().erase(it);
}

} // namespace tvx::vdrive
