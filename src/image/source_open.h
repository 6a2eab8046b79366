// Opens the host files of a plan's nodes one after another, each by its name in its folder:
// the folder stays open while its files follow one another, so the system resolves the
// folder's path once instead of once per file.
#pragma once

#include "image/plan.h"
#include "platform/host.h"

#include <memory>
#include <string>
#include <string_view>

namespace tvx {

class SourceOpener {
  public:
    SourceOpener() = default;
    ~SourceOpener() { closeFolder(); }
    SourceOpener(const SourceOpener&) = delete;
    SourceOpener& operator=(const SourceOpener&) = delete;

    // The host file of a file node opened for reading, or null (the host's last error says
    // why). Reads exactly what opening Plan_SourcePath(node) would.
    std::unique_ptr<HostFile> open(const FileNode* node);

  private:
    // Opens the folder named by `parent` (a scanned folder's node) or by `path`, unless it is
    // the one open now. False when it cannot be opened.
    bool useFolder(const FileNode* parent, std::string_view path);
    void closeFolder();

    const FileNode* folderNode_ = nullptr; // the open folder's node, or null for a path
    std::string folderPath_;               // the open folder's host path, when no node
    HostHandle folder_ = nullptr;
};

} // namespace tvx
