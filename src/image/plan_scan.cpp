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
    // Entries go into top; base is the host path that excluded paths are relative to.
    FolderScan(VolumePlan* plan, FileNode* top, std::string_view base)
        : plan_(plan), top_(top), base_(Path_TrimTrailing(base)) {}

    // Adds one found host object (and everything below it) to dir.
    bool addEntry(FileNode* dir, const std::string& path, std::string_view name,
                  const FindResult& found) {
        return linkEntry(dir, path, makeNode(dir, path, name, found), found);
    }

    // The node of a found host object for dir; null when its name cannot be recorded.
    std::unique_ptr<FileNode> makeNode(FileNode* dir, std::string_view path, std::string_view name,
                                       const FindResult& found) {
        std::unique_ptr<FileNode> node = Node_New(name);
        if (!node) return nullptr;
        Node_FillFromHost(node.get(), found);
        // Below a scanned folder the path follows from the parent's; only the top keeps it.
        if (dir != top_) {
            node->sourceInParent = true;
        } else {
            node->sourcePath = path;
        }
        return node;
    }

    // Links a made node (null: refused) into dir and scans below it.
    bool linkEntry(FileNode* dir, const std::string& path, std::unique_ptr<FileNode> node,
                   const FindResult& found) {
        if (!node) return refuse(path, Node_NameRule(found.name));
        // A folder grafted where entries already are must not bring a second of one name.
        if (dir == top_ && Dir_FindExact(dir, node->name))
            return refuse(path, "the volume already holds an entry of that name there");
        FileNode* added = node.get();
        const std::string recorded(std::string_view(node->udfName));
        if (!Node_Link(dir, std::move(node))) {
            if (recorded.empty() || !Dir_UdfNameUsed(dir, recorded)) return false;
            return refuse(path, "its name is recorded like that of another entry of its folder "
                                "(the same characters in another encoding)");
        }
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
                if (a == id)
                    return refuse(path, "it leads back to a folder that holds it (a loop of "
                                        "symbolic links), so the folder would never end");
            }
            ancestors_.push_back(id);
        }
        std::string prefix = path;
        if (prefix.empty() || !Path_IsSeparator(prefix.back())) prefix += kHostSeparator;
        std::vector<FindResult> results;
        // A folder that cannot be read is refused, never recorded as an empty one.
        uint32_t error = 0;
        bool ok = Node_FindOnHost(prefix + kListPattern, results, &error);
        if (!ok) {
            std::string text;
            if (!host().systemErrorText(error, text)) text = "error " + std::to_string(error);
            while (!text.empty() &&
                   (text.back() == '\n' || text.back() == '\r' || text.back() == '.'))
                text.pop_back();
            refuse(path, "the folder cannot be listed: " + text);
        }
        if (ok && plan_->exclude) excludeFrom(prefix, results);
        // Nodes are made in entry order, so that the walks of the sorted tree follow memory,
        // and linked in listing order, which decides the ISO names.
        std::vector<std::unique_ptr<FileNode>> nodes(ok ? results.size() : 0);
        if (ok) {
            std::vector<std::string_view> names;
            names.reserve(results.size());
            for (const FindResult& r : results)
                names.push_back(r.name);
            std::vector<size_t> order;
            Plan_EntryOrder(names, order);
            for (size_t i : order) {
                const FindResult& r = results[i];
                if (r.name == "." || r.name == "..") continue;
                nodes[i] = makeNode(dir, dir == top_ ? prefix + r.name : std::string(), r.name, r);
            }
        }
        for (size_t i = 0; ok && i < results.size(); ++i) {
            const FindResult& r = results[i];
            if (r.name == "." || r.name == "..") continue;
            std::string childPath = prefix + r.name;
            if (childPath.size() >= kMaxHostPath) {
                ok = refuse(childPath, "its path is " + std::to_string(childPath.size()) +
                                           " bytes long, beyond the " +
                                           std::to_string(kMaxHostPath - 1) +
                                           " that this system's paths may have");
                break;
            }
            if (!linkEntry(dir, childPath, std::move(nodes[i]), r)) {
                ok = false;
                break;
            }
        }
        if (known) ancestors_.pop_back();
        return ok;
    }

    uint32_t count() const { return count_; }

  private:
    // Records the first refusal (the deepest entry at fault); answers false.
    bool refuse(const std::string& path, std::string rule) {
        if (plan_->refusal.empty()) plan_->refusal = {path, std::move(rule)};
        return false;
    }

    // Drops the results whose path relative to the scan's base the plan excludes.
    void excludeFrom(const std::string& prefix, std::vector<FindResult>& results) {
        // The base is a folder path without its trailing separator, or the root's lone one.
        const size_t start = base_.size() + (Path_IsSeparator(base_.back()) ? 0 : 1);
        std::string relative = prefix.size() > start ? prefix.substr(start) : std::string();
        for (char& c : relative)
            if (Path_IsSeparator(c)) c = '/';
        const size_t keep = relative.size();
        std::erase_if(results, [&](const FindResult& r) {
            relative.resize(keep);
            relative += r.name;
            return plan_->exclude(relative);
        });
    }

    VolumePlan* plan_;
    FileNode* top_;
    std::string_view base_;
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

// The folder itself (contents = false) or its entries (contents = true) into dir. False when
// the scan was refused; added counts the entries.
bool scanFolder(VolumePlan* plan, FileNode* dir, const char* folder, bool contents,
                uint32_t& added) {
    added = 0;
    if (!plan || plan->laidOut) return false;
    try {
        std::string absolute;
        FindResult found;
        if (!resolve(folder, absolute, found)) return false;
        FolderScan scan(plan, dir, absolute);
        bool ok;
        if (contents) {
            if (!(found.attributes & kNodeDirectory)) return false;
            ok = scan.scanBelow(dir, absolute, found);
        } else {
            // A trailing separator never hides the folder's own name.
            std::string_view name = Path_LastComponent(absolute);
            if (name.empty()) return false;
            ok = scan.addEntry(dir, std::string(Path_TrimTrailing(absolute)), name, found);
        }
        added = scan.count();
        return ok;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

} // namespace

uint32_t Plan_AddFolder(VolumePlan* plan, const char* folder) {
    uint32_t added = 0;
    return plan && scanFolder(plan, &plan->root, folder, false, added) ? added : 0;
}

uint32_t Plan_AddFolderContents(VolumePlan* plan, const char* folder) {
    uint32_t added = 0;
    return plan && scanFolder(plan, &plan->root, folder, true, added) ? added : 0;
}

int Plan_AddFolderAt(VolumePlan* plan, const char* volumePath, const char* folder) {
    if (!plan || !volumePath || plan->laidOut) return 0;
    FileNode* dir = Plan_MakeDirectoryPath(plan, volumePath);
    if (!dir && plan->refusal.empty())
        plan->refusal = {volumePath, "the volume path runs through a file, or holds a \".\" or "
                                     "\"..\" component"};
    uint32_t added = 0;
    return dir && scanFolder(plan, dir, folder, true, added) ? 1 : 0;
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
