#include "image/source_open.h"

#include "image/plan_nodes.h"

namespace tvx {

namespace {

// Where a host path splits; a POSIX name may hold a backslash.
bool IsHostSeparator(char c) {
#if defined(_WIN32)
    return Path_IsSeparator(c);
#else
    return c == '/';
#endif
}

} // namespace

std::unique_ptr<HostFile> SourceOpener::open(const FileNode* node) {
    if (node->sourceInParent && node->parent) {
        if (useFolder(node->parent, {})) return host().openFileIn(folder_, node->name);
        return host().openFile(Plan_SourcePath(node), FileAccess::Read);
    }
    // A node at the top of a scan keeps its whole path; its siblings mostly share the folder.
    const std::string_view path = node->sourcePath;
    size_t slash = path.size();
    while (slash > 0 && !IsHostSeparator(path[slash - 1]))
        --slash;
    // Only a plain "folder<sep>name" is split: a root folder, a drive-relative or a bare name
    // goes to the host whole.
    if (slash >= 2 && slash < path.size() && !IsHostSeparator(path[slash - 2]) &&
        path[slash - 2] != ':' && useFolder(nullptr, path.substr(0, slash - 1)))
        return host().openFileIn(folder_, std::string(path.substr(slash)));
    return host().openFile(std::string(path), FileAccess::Read);
}

bool SourceOpener::useFolder(const FileNode* parent, std::string_view path) {
    if (parent ? parent == folderNode_ : (!folderNode_ && path == folderPath_ && !path.empty()))
        return folder_ != nullptr;
    closeFolder();
    folderNode_ = parent;
    folderPath_ = parent ? std::string() : std::string(path);
    folder_ = host().openFolder(parent ? Plan_SourcePath(parent) : folderPath_);
    return folder_ != nullptr;
}

void SourceOpener::closeFolder() {
    if (folder_) host().closeFolder(folder_);
    folder_ = nullptr;
}

} // namespace tvx
