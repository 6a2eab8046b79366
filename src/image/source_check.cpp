#include "image/source_check.h"

#include "platform/host.h"

#include <memory>
#include <vector>

namespace tvx {

namespace {

// A folder's files found by a folder scan are opened by name in the folder, opened once for all
// of them, as the streamer opens them; the others by their full path.
class FolderFiles {
  public:
    explicit FolderFiles(const FileNode* dir) {
        for (const FileNode* n = dir->firstChild; n; n = n->nextSibling) {
            if (n->sourceInParent && !n->isDirectory()) {
                folder_ = host().openFolder(Plan_SourcePath(dir));
                break;
            }
        }
    }
    ~FolderFiles() {
        if (folder_) host().closeFolder(folder_);
    }
    FolderFiles(const FolderFiles&) = delete;
    FolderFiles& operator=(const FolderFiles&) = delete;

    std::unique_ptr<HostFile> open(const FileNode* node) {
        if (node->sourceInParent && folder_) return host().openFileIn(folder_, node->name);
        return host().openFile(Plan_SourcePath(node), FileAccess::Read);
    }

  private:
    HostHandle folder_ = nullptr;
};

} // namespace

int Plan_CheckSources(const VolumePlan* plan, std::string* failedPath) {
    if (!plan) return 0;
    // Directories still to look at: the walk needs no recursion however deep the tree.
    std::vector<const FileNode*> pending{&plan->root};
    while (!pending.empty()) {
        const FileNode* dir = pending.back();
        pending.pop_back();
        FolderFiles files(dir);
        for (const FileNode* n = dir->firstChild; n; n = n->nextSibling) {
            if (n->isDirectory()) {
                pending.push_back(n);
                continue;
            }
            std::unique_ptr<HostFile> file = files.open(n);
            if (!file || file->size() != n->size()) {
                if (failedPath) *failedPath = Plan_SourcePath(n);
                return 0;
            }
        }
    }
    return 1;
}

} // namespace tvx
