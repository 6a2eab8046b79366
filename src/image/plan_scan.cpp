// Filling a plan from host folders: a folder, a folder's contents, a VIDEO_TS folder and a
// DVD-Video folder.
//
// A scan is refused as a whole (the operation answers 0) rather than recording a volume that
// silently differs from the folder: a folder that cannot be listed, a symbolic link that leads
// back to a folder being scanned (it would never end), a host path beyond the platform's limit,
// or a name whose recorded form does not fit a File Identifier. Objects that are neither files
// nor folders (pipes, sockets, devices) are left out, each named in the log. Counts stay exact
// for what was added before the refusal.
#include "image/directory_index.h"
#include "image/plan.h"
#include "image/plan_nodes.h"

#include <new>
#include <utility>
#include <vector>

namespace tvx {

namespace {

constexpr char kListPattern[] = "*.*";
constexpr char kVideoTs[] = "VIDEO_TS";
constexpr char kAudioTs[] = "AUDIO_TS";

using Identity = std::pair<uint64_t, uint64_t>;

class FolderScan {
  public:
    explicit FolderScan(VolumePlan* plan) : plan_(plan) {}

    // Adds one found host object (and everything below it) to dir.
    bool addEntry(FileNode* dir, const std::string& path, std::string_view name,
                  const FindResult& found) {
        std::unique_ptr<FileNode> node = Node_New(name);
        if (!node) return false;
        Node_FillFromHost(node.get(), found);
        // Below a scanned folder the path follows from the parent's; only the top keeps it.
        if (dir != &plan_->root) {
            node->sourceInParent = true;
        } else {
            node->sourcePath = path;
        }
        FileNode* added = node.get();
        if (!Node_Link(dir, std::move(node))) return false;
        ++count_;
        if (!added->isDirectory()) {
            ++plan_->fileCount;
            return true;
        }
        ++plan_->directoryCount;
        return scanBelow(added, path, found);
    }

    // Adds the entries of the folder at path to dir.
    bool scanBelow(FileNode* dir, const std::string& path, const FindResult& self) {
        Identity id{self.volumeId, self.fileId};
        bool known = id != Identity{0, 0};
        if (known) {
            for (const Identity& a : ancestors_) {
                if (a == id) return false; // a link back to a folder being scanned
            }
            ancestors_.push_back(id);
        }
        std::string prefix = path;
        if (prefix.empty() || !Path_IsSeparator(prefix.back())) prefix += kHostSeparator;
        std::vector<FindResult> results;
        // A folder that cannot be read is refused, never recorded as an empty one.
        bool ok = Node_FindOnHost(prefix + kListPattern, results);
        for (size_t i = 0; ok && i < results.size(); ++i) {
            const FindResult& r = results[i];
            if (r.name == "." || r.name == "..") continue;
            std::string childPath = prefix + r.name;
            if (childPath.size() >= kMaxHostPath || !addEntry(dir, childPath, r.name, r)) {
                ok = false;
                break;
            }
        }
        if (known) ancestors_.pop_back();
        return ok;
    }

    uint32_t count() const { return count_; }

  private:
    VolumePlan* plan_;
    uint32_t count_ = 0;
    std::vector<Identity> ancestors_;
};

bool resolve(const char* folder, std::string& absolute, FindResult& found) {
    if (!folder || !*folder) return false;
    if (!host().fullPath(folder, absolute)) return false;
    std::vector<FindResult> results;
    if (!Node_FindOnHost(absolute, results) || results.empty()) return false;
    found = std::move(results.front());
    return true;
}

// The folder itself (contents = false) or its entries (contents = true) into the root.
uint32_t scanFolder(VolumePlan* plan, const char* folder, bool contents) {
    if (!plan || plan->laidOut) return 0;
    try {
        std::string absolute;
        FindResult found;
        if (!resolve(folder, absolute, found)) return 0;
        FolderScan scan(plan);
        bool ok;
        if (contents) {
            if (!(found.attributes & kNodeDirectory)) return 0;
            ok = scan.scanBelow(&plan->root, absolute, found);
        } else {
            // A trailing separator never hides the folder's own name.
            std::string_view name = Path_LastComponent(absolute);
            if (name.empty()) return 0;
            ok = scan.addEntry(&plan->root, std::string(Path_TrimTrailing(absolute)), name, found);
        }
        return ok ? scan.count() : 0;
    } catch (const std::bad_alloc&) {
        return 0;
    }
}

} // namespace

uint32_t Plan_AddFolder(VolumePlan* plan, const char* folder) {
    return scanFolder(plan, folder, false);
}

uint32_t Plan_AddFolderContents(VolumePlan* plan, const char* folder) {
    return scanFolder(plan, folder, true);
}

int Plan_AddVideoTsFolder(VolumePlan* plan, const char* folder) {
    if (Plan_AddFolder(plan, folder) == 0) return 0;
    std::string absolute;
    if (!host().fullPath(folder, absolute)) return 0;
    if (Path_LastComponent(absolute) != kVideoTs) return 1;
    return Plan_AddDirectory(plan, &plan->root, kAudioTs) ? 1 : 0;
}

int Plan_AddDvdVideoFolder(VolumePlan* plan, const char* folder) {
    if (Plan_AddFolderContents(plan, folder) == 0) return 0;
    FileNode* videoTs = Dir_FindExact(&plan->root, kVideoTs);
    if (!videoTs || !videoTs->isDirectory()) return 0;
    if (Dir_FindExact(&plan->root, kAudioTs)) return 1;
    // An empty copy of VIDEO_TS (its attributes and times); its ISO name stays unique even
    // beside an "audio_ts".
    FileNode* audioTs = Plan_AddDirectory(plan, &plan->root, kAudioTs);
    if (!audioTs) return 0;
    audioTs->attributes = videoTs->attributes;
    audioTs->accessTime = videoTs->accessTime;
    audioTs->writeTime = videoTs->writeTime;
    audioTs->creationTime = videoTs->creationTime;
    return 1;
}

} // namespace tvx
