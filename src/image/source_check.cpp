#include "image/source_check.h"

#include "image/source_open.h"
#include "platform/host.h"

#include <memory>
#include <vector>

namespace tvx {

int Plan_CheckSources(const VolumePlan* plan, std::string* failedPath) {
    if (!plan) return 0;
    // Directories still to look at: the walk needs no recursion however deep the tree.
    std::vector<const FileNode*> pending{&plan->root};
    SourceOpener files;
    while (!pending.empty()) {
        const FileNode* dir = pending.back();
        pending.pop_back();
        for (const FileNode* n = dir->firstChild; n; n = n->nextSibling) {
            if (n->isDirectory()) {
                pending.push_back(n);
                continue;
            }
            if (n->sourceOpened) continue; // its scan opened it
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
