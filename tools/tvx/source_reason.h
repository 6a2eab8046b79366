// Why a source of a burn failed, in words: the sizes of the source's files are taken before the
// job reads them (for a folder, while the job plans it) so that a file that changed size during
// it can be told from one that vanished.
#pragma once

#include "commands.h"
#include "left_out.h"
#include "torvexin.h"

#include <cstdint>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace tvxcli {

class SourceSizes {
  public:
    SourceSizes() = default;
    ~SourceSizes() { settle(); }
    SourceSizes(const SourceSizes&) = delete;
    SourceSizes& operator=(const SourceSizes&) = delete;

    // Records the size of every regular file the request names or holds, and the entries of
    // its folder that a burn leaves out, in one walk of the folder.
    void take(const BurnRequest& request);
    // As take, but below a folder only the left-out entries are found before it returns (by
    // the entries' own types: no file is looked at); the files' sizes are taken on a thread of
    // its own while the caller goes on, so that the burn plans the folder meanwhile.
    void takeAlongside(const BurnRequest& request);
    const std::vector<LeftOutEntry>& leftOut() const { return leftOut_; }
    // Why path (a source of the request) cannot be burned: missing, changed size, unreadable,
    // name too long, a loop of links; "" when it reads as it did.
    std::string why(const std::string& path) const;

    // False for a file set's volume path that is no entry's host path.
    bool isHostPath(const std::string& text, const BurnRequest& request) const;

  private:
    // (hash of the path, size), sorted: a few bytes an entry however long the paths are. Below
    // a folder source, the path is the part after the folder, so that the folder as given and
    // the absolute path the library names find the same entry.
    std::vector<std::pair<uint64_t, uint64_t>> sizes_;
    std::string folder_, absoluteFolder_; // with a trailing '/'; empty for other sources
    std::string root_;                    // the folder as given
    std::vector<LeftOutEntry> leftOut_;
    mutable std::thread sizing_; // the walk taking sizes_ for takeAlongside
    // Sets up the request's folder and takes the sizes of the files it names; true when the
    // request's folder is to be walked.
    bool start(const BurnRequest& request);
    void walkSizes(std::vector<LeftOutEntry>& leftOut);
    // Waits for the walk of takeAlongside: sizes_ is read only after it.
    void settle() const {
        if (sizing_.joinable()) sizing_.join();
    }
    void add(const std::string& path, uint64_t size);
    uint64_t key(const std::string& path) const;
    const uint64_t* sizeOf(const std::string& path) const;
};

// The TVX_LastError location of a source the volume cannot record: description "PATH: RULE".
inline constexpr int32_t kSourceRefusedLocation = 1021;

// Prints why named (a source of the request, or a file-set entry's volume path) failed.
void ReportNamedSource(const std::string& named, const BurnRequest& request,
                       const SourceSizes& sizes);

// Prints the source at fault after a TVX_ERR_SOURCE, TVX_ERR_VERIFY or TVX_ERR_COMMAND: the one
// the library named, with why, and any other that cannot be read.
void ReportSource(TVX_Result result, TVX_RecHandle handle, const BurnRequest& request,
                  const SourceSizes& sizes);

} // namespace tvxcli
