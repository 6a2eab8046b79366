// File-set entries and path operations in the volume: finding nodes by name, removing them,
// and making the directories and named nodes that a volume path needs.
#include "image/directory_index.h"
#include "image/plan.h"
#include "image/plan_nodes.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <vector>

namespace tvx {

namespace {

std::vector<std::string_view> splitComponents(std::string_view path) {
    std::vector<std::string_view> parts;
    size_t i = 0;
    while (i < path.size()) {
        size_t j = i;
        while (j < path.size() && !Path_IsSeparator(path[j]))
            ++j;
        if (j > i) parts.push_back(path.substr(i, j - i));
        i = j + 1;
    }
    return parts;
}

// The leaf name with the characters that no name may hold replaced by '_'.
std::string cleanName(std::string_view name) {
    static const char kForbidden[] = "\\/:*?\"<>|";
    std::string out(name);
    for (size_t i = 0; i < out.size();) {
        size_t step = host().ansiCharLength(out.data() + i, out.size() - i);
        if (step == 0) step = 1;
        if (step == 1 && std::strchr(kForbidden, out[i]) && out[i] != '\0') out[i] = '_';
        i += step;
    }
    return out;
}

// Components are names, never patterns: '*' and '?' are cleaned like every forbidden character
// and the cleaned name is looked up as it is (ASCII letters in either case).
FileNode* search(FileNode* dir, const std::vector<std::string_view>& parts, size_t k) {
    std::vector<FileNode*> found;
    Dir_FindNoCase(dir, cleanName(parts[k]), found);
    if (k + 1 == parts.size()) return found.empty() ? nullptr : found.front();
    for (FileNode* candidate : found) {
        // Backtracking: another spelling of this component may hold the rest of the path.
        if (FileNode* hit = search(candidate, parts, k + 1)) return hit;
    }
    return nullptr;
}

FileNode* rootOf(FileNode* node) {
    while (node->parent)
        node = node->parent;
    return node;
}

// A new node under a cleaned leaf name in dir: a directory made from nothing, or (with source)
// a node with the host object's attributes. Null on a name clash or an unrecordable name.
FileNode* makeNamedNode(FileNode* dir, std::string_view leaf, const FindResult* source) {
    if (!dir->isDirectory()) return nullptr;
    // "." and ".." name the directory itself and its parent on every reader.
    if (leaf == "." || leaf == "..") return nullptr;
    std::string name = cleanName(leaf);
    if (Dir_FindExact(dir, name)) return nullptr;
    std::unique_ptr<FileNode> node = Node_New(name);
    if (!node) return nullptr;
    if (source) {
        Node_FillFromHost(node.get(), *source);
    } else {
        Node_MakeEmptyDirectory(node.get());
    }
    FileNode* raw = node.get();
    return Node_Link(dir, std::move(node)) ? raw : nullptr;
}

void splitLeaf(std::string_view path, std::string_view& parentPath, std::string_view& leaf) {
    size_t i = path.size();
    while (i > 0 && !Path_IsSeparator(path[i - 1]))
        --i;
    leaf = path.substr(i);
    parentPath = i > 0 ? path.substr(0, i - 1) : std::string_view();
}

// Whether the path fits kMaxVolumePath as TVX_OpenFile takes it back (a leading "/", and a
// trailing one for a folder); records the refusal otherwise.
bool openablePath(VolumePlan* plan, std::string_view path, bool folder) {
    size_t bytes = folder ? 1 : 0;
    for (std::string_view part : splitComponents(path))
        bytes += 1 + Node_PathBytes(part);
    if (bytes <= kMaxVolumePath) return true;
    plan->refusal = {std::string(path), Node_PathRule(bytes)};
    return false;
}

// Whether every component of a volume path can be recorded; records the refusal otherwise.
bool recordableNames(VolumePlan* plan, std::string_view path) {
    for (std::string_view part : splitComponents(path)) {
        std::string rule = Node_NameRule(cleanName(part));
        if (!rule.empty()) {
            plan->refusal = {std::string(path), std::move(rule)};
            return false;
        }
    }
    return true;
}

FileNode* makeDirectoryPath(VolumePlan* plan, std::string_view path) {
    path = Path_TrimTrailing(path);
    if (splitComponents(path).empty()) return &plan->root;
    std::string copy(path);
    if (FileNode* existing = Plan_FindNode(&plan->root, copy.c_str())) {
        return existing->isDirectory() ? existing : nullptr;
    }
    std::string_view parentPath, leaf;
    splitLeaf(path, parentPath, leaf);
    FileNode* parent = makeDirectoryPath(plan, parentPath);
    if (!parent || !parent->isDirectory()) return nullptr;
    FileNode* made = makeNamedNode(parent, leaf, nullptr);
    if (made) ++plan->directoryCount;
    return made;
}

} // namespace

FileNode* Plan_MakeDirectoryPath(VolumePlan* plan, std::string_view path) {
    if (!openablePath(plan, path, true) || !recordableNames(plan, path)) return nullptr;
    for (std::string_view part : splitComponents(path))
        if (part == "." || part == "..") return nullptr;
    try {
        return makeDirectoryPath(plan, path);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

FileNode* Plan_FindNode(FileNode* start, const char* path) {
    if (!start || !path || !start->isDirectory()) return nullptr;
    std::string_view p(path);
    if (p.size() > kMaxVolumePath) return nullptr;
    try {
        if (!p.empty() && Path_IsSeparator(p[0])) start = rootOf(start);
        std::vector<std::string_view> parts = splitComponents(p);
        if (parts.empty()) return start;
        return search(start, parts, 0);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

int Plan_RemoveNode(VolumePlan* plan, FileNode* start, const char* path, bool removeNonEmpty) {
    if (!plan || plan->laidOut) return 0;
    FileNode* node = Plan_FindNode(start, path);
    if (!node || !node->parent) return 0;
    if (!removeNonEmpty && node->firstChild) return 0;
    uint32_t directories = Plan_CountDirectories(node->firstChild);
    uint32_t entries = Plan_CountEntries(node->firstChild);
    uint32_t files = entries - directories;
    if (node->isDirectory()) {
        ++directories;
    } else {
        ++files;
    }
    Dir_Unlink(node);
    plan->directoryCount -= directories;
    plan->fileCount -= files;
    delete node;
    return 1;
}

bool Plan_IsFileSetPath(const char* volumePath) {
    if (!volumePath) return false;
    std::vector<std::string_view> parts = splitComponents(volumePath);
    return !parts.empty() && std::none_of(parts.begin(), parts.end(), [](std::string_view part) {
        return part == "." || part == "..";
    });
}

int Plan_AddFileSetEntry(VolumePlan* plan, const char* volumePath, const char* sourcePath) {
    if (!plan || plan->laidOut || !volumePath || !sourcePath) return 0;
    std::string_view path = Path_TrimTrailing(volumePath);
    if (std::strlen(sourcePath) >= kMaxHostPath) return 0;
    if (!Plan_IsFileSetPath(volumePath)) return 0;
    try {
        if (!openablePath(plan, path, false) || !recordableNames(plan, path)) return 0;
        std::string_view parentPath, leaf;
        splitLeaf(path, parentPath, leaf);
        if (leaf.empty()) return 0;
        // A later entry for the same path replaces the earlier one. The leaf is looked up as
        // given: one that only its cleaning makes equal to an entry clashes below instead of
        // silently taking that entry's place.
        std::string parentCopy(parentPath);
        FileNode* existingParent = Plan_FindNode(&plan->root, parentCopy.c_str());
        if (existingParent && existingParent->isDirectory()) {
            std::vector<FileNode*> found;
            Dir_FindNoCase(existingParent, leaf, found);
            if (!found.empty()) {
                const std::string oldName = found.front()->name;
                if (!Plan_RemoveNode(plan, existingParent, oldName.c_str(), true)) return 0;
            }
        }
        FileNode* parent = makeDirectoryPath(plan, parentPath);
        if (!parent) return 0;
        std::vector<FindResult> found;
        if (!Node_FindOnHost(sourcePath, found) || found.size() != 1) return 0;
        // A folder given as a file would be recorded without its contents: refused.
        if (found.front().attributes & kNodeDirectory) return 0;
        FileNode* node = makeNamedNode(parent, leaf, &found.front());
        if (!node) return 0;
        node->sourcePath = sourcePath;
        ++plan->fileCount;
        return 1;
    } catch (const std::bad_alloc&) {
        return 0;
    }
}

} // namespace tvx
