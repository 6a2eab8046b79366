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

#include <algorithm>
#include <cstring>
#include <deque>
#include <memory>
#include <new>
#include <utility>
#include <vector>

namespace tvx {

namespace {

constexpr char kVideoTs[] = "VIDEO_TS";
constexpr char kAudioTs[] = "AUDIO_TS";

using Identity = std::pair<uint64_t, uint64_t>;

Identity identityOf(const FindResult& found) {
    return {found.volumeId, found.fileId};
}

// Names of a folder's listing, side by side in large blocks: no allocation per name.
class NameStore {
  public:
    std::string_view add(std::string_view name) {
        if (blocks_.empty() || used_ + name.size() > kBlock) {
            blocks_.emplace_back(new char[std::max(kBlock, name.size())]);
            used_ = 0;
        }
        char* at = blocks_.back().get() + used_;
        std::memcpy(at, name.data(), name.size());
        used_ += name.size();
        return {at, name.size()};
    }

  private:
    static constexpr size_t kBlock = 64 * 1024;
    std::vector<std::unique_ptr<char[]>> blocks_;
    size_t used_ = 0;
};

// What a scan keeps of a listed entry until its node is made.
struct Listed {
    std::string_view name; // in the listing's NameStore
    uint32_t attributes;
    bool opened;
    uint64_t size, accessTime, writeTime, creationTime, volumeId, fileId;

    static Listed From(const FindResult& r, NameStore& names) {
        return {names.add(r.name), r.attributes,   r.opened,   r.size,  r.accessTime,
                r.writeTime,       r.creationTime, r.volumeId, r.fileId};
    }
    void to(FindResult& r) const {
        r.name.assign(name);
        r.attributes = attributes;
        r.opened = opened;
        r.size = size;
        r.accessTime = accessTime;
        r.writeTime = writeTime;
        r.creationTime = creationTime;
        r.volumeId = volumeId;
        r.fileId = fileId;
    }
};

class FolderScan {
  public:
    // Entries go into top; base is the host path that excluded paths are relative to.
    FolderScan(VolumePlan* plan, FileNode* top, std::string_view base)
        : plan_(plan), top_(top), topHeldEntries_(top->firstChild != nullptr),
          base_(Path_TrimTrailing(base)) {}

    // Adds one found host object (and everything below it) to dir.
    bool addEntry(FileNode* dir, const std::string& path, std::string_view name,
                  const FindResult& found) {
        if (!fitsVolumePath(dir, path, name, found.attributes)) return false;
        return linkEntry(dir, path, makeNode(false, path, name, found), found);
    }

    // The node of a found host object; null when its name cannot be recorded. Its host path
    // follows from its parent's (inParent) or is `path`.
    std::unique_ptr<FileNode> makeNode(bool inParent, std::string_view path, std::string_view name,
                                       const FindResult& found) {
        std::unique_ptr<FileNode> node = Node_New(name);
        if (!node) return nullptr;
        Node_FillFromHost(node.get(), found);
        if (inParent) {
            node->sourceInParent = true;
        } else {
            node->sourcePath = path;
        }
        return node;
    }

    // Links a made node (null: refused) into dir and scans below it.
    bool linkEntry(FileNode* dir, const std::string& path, std::unique_ptr<FileNode> node,
                   const FindResult& found) {
        FileNode* added = node.get();
        if (!link(dir, path, std::move(node), found.name)) return false;
        if (!added->isDirectory()) {
            ++plan_->fileCount;
            return true;
        }
        ++plan_->directoryCount;
        return scanBelow(added, path, identityOf(found));
    }

    // Adds the entries of the folder at path to dir.
    bool scanBelow(FileNode* dir, const std::string& path, Identity id) {
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
        // The listing is held compactly (no copy of the host's records): nodes are made in
        // entry order, so that the walks of the sorted tree follow memory, and linked in
        // listing order, which decides the ISO names.
        std::deque<Listed> listed;
        NameStore names;
        // A folder that cannot be read is refused, never recorded as an empty one.
        uint32_t error = 0;
        // Excluded entries are dropped as they are listed, by their path relative to the base.
        std::string relative = plan_->exclude ? relativeOf(prefix) : std::string();
        const size_t keep = relative.size();
        bool ok = Node_ListOnHost(
            path,
            [&](const FindResult& r) {
                if (r.name == "." || r.name == "..") return true;
                if (plan_->exclude) {
                    relative.resize(keep);
                    relative += r.name;
                    if (plan_->exclude(relative)) return true;
                }
                listed.push_back(Listed::From(r, names));
                return true;
            },
            plan_->scanOpensFiles, &error);
        if (!ok) {
            std::string text;
            if (!host().systemErrorText(error, text)) text = "error " + std::to_string(error);
            while (!text.empty() &&
                   (text.back() == '\n' || text.back() == '\r' || text.back() == '.'))
                text.pop_back();
            refuse(path, "the folder cannot be listed: " + text);
        }
        std::vector<std::unique_ptr<FileNode>> nodes(ok ? listed.size() : 0);
        if (ok) {
            std::vector<std::string_view> entryNames;
            entryNames.reserve(listed.size());
            for (const Listed& l : listed)
                entryNames.push_back(l.name);
            std::vector<uint32_t> order;
            Plan_EntryOrder(entryNames, order);
            entryNames = {};
            // The top's entries share the scanned folder's path, kept once in the top folder,
            // unless the top came from elsewhere (a scanned folder, or another folder's entries
            // are there already): then each keeps its own.
            const bool topFree =
                !top_->sourceInParent && (top_->sourcePath.empty() || top_->sourcePath == path);
            const bool shared = dir != top_ || topFree;
            if (dir == top_ && shared && !listed.empty()) top_->sourcePath = path;
            FindResult found;
            std::string childPath;
            for (uint32_t i : order) {
                listed[i].to(found);
                if (!shared) childPath.assign(prefix).append(found.name);
                nodes[i] = makeNode(shared, childPath, found.name, found);
            }
        }
        std::vector<std::pair<FileNode*, Identity>> folders;
        std::string childPath;
        const size_t dirBytes = volumePathBytes(dir);
        for (size_t i = 0; ok && i < listed.size(); ++i) {
            const Listed& l = listed[i];
            childPath.assign(prefix).append(l.name);
            if (childPath.size() >= kMaxHostPath) {
                ok = refuse(childPath, "its path is " + std::to_string(childPath.size()) +
                                           " bytes long, beyond the " +
                                           std::to_string(kMaxHostPath - 1) +
                                           " that this system's paths may have");
                break;
            }
            if (!fitsVolumePath(dirBytes, childPath, l.name, l.attributes)) {
                ok = false;
                break;
            }
            FileNode* added = nodes[i].get();
            if (!link(dir, childPath, std::move(nodes[i]), l.name)) {
                ok = false;
                break;
            }
            if (added->isDirectory()) {
                ++plan_->directoryCount;
                folders.emplace_back(added, Identity{l.volumeId, l.fileId});
            } else {
                ++plan_->fileCount;
            }
        }
        // The folders found are scanned after the listing, so that one listing is held at a time.
        listed = {};
        names = {};
        std::vector<std::unique_ptr<FileNode>>().swap(nodes);
        for (size_t i = 0; ok && i < folders.size(); ++i) {
            childPath.assign(prefix).append(folders[i].first->name);
            ok = scanBelow(folders[i].first, childPath, folders[i].second);
        }
        if (known) ancestors_.pop_back();
        return ok;
    }

    uint32_t count() const { return count_; }

  private:
    // Bytes of the folder's path in the volume as TVX_OpenFile takes it, without its trailing
    // "/" ("" for the root).
    static size_t volumePathBytes(const FileNode* dir) {
        size_t bytes = 0;
        for (const FileNode* n = dir; n && n->parent; n = n->parent)
            bytes += 1 + Node_PathBytes(n->name);
        return bytes;
    }
    bool fitsVolumePath(const FileNode* dir, const std::string& path, std::string_view name,
                        uint32_t attributes) {
        return fitsVolumePath(volumePathBytes(dir), path, name, attributes);
    }
    // Whether an entry of that name in a folder whose path takes dirBytes can be opened again
    // by its path (a folder's with its trailing "/"); records the refusal otherwise.
    bool fitsVolumePath(size_t dirBytes, const std::string& path, std::string_view name,
                        uint32_t attributes) {
        const size_t bytes =
            dirBytes + 1 + Node_PathBytes(name) + ((attributes & kNodeDirectory) ? 1 : 0);
        return bytes <= kMaxVolumePath || refuse(path, Node_PathRule(bytes));
    }

    // Records the first refusal (the deepest entry at fault); answers false.
    bool refuse(const std::string& path, std::string rule) {
        if (plan_->refusal.empty()) plan_->refusal = {path, std::move(rule)};
        return false;
    }

    // Links a made node (null: its name cannot be recorded) into dir; refusals name path.
    bool link(FileNode* dir, const std::string& path, std::unique_ptr<FileNode> node,
              std::string_view name) {
        if (!node) return refuse(path, Node_NameRule(name));
        // A folder grafted where entries already are must not bring a second of one name.
        if (dir == top_ && topHeldEntries_ && Dir_FindExact(dir, node->name))
            return refuse(path, "the volume already holds an entry of that name there");
        const std::string recorded(std::string_view(node->udfName));
        if (!Node_Link(dir, std::move(node))) {
            if (recorded.empty() || !Dir_UdfNameUsed(dir, recorded)) return false;
            return refuse(path, "its name is recorded like that of another entry of its folder "
                                "(the same characters in another encoding)");
        }
        ++count_;
        return true;
    }

    // A folder's path (with its trailing separator) relative to the scan's base, '/'-joined.
    std::string relativeOf(const std::string& prefix) const {
        // The base is a folder path without its trailing separator, or the root's lone one.
        const size_t start = base_.size() + (Path_IsSeparator(base_.back()) ? 0 : 1);
        std::string relative = prefix.size() > start ? prefix.substr(start) : std::string();
        for (char& c : relative)
            if (Path_IsSeparator(c)) c = '/';
        return relative;
    }

    VolumePlan* plan_;
    FileNode* top_;
    bool topHeldEntries_; // one listing never names an entry twice; only earlier ones can clash
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
            ok = scan.scanBelow(dir, absolute, identityOf(found));
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
