// The image streamer: walks the write list and hands the sink every sector of the volume in
// order, zeros for gaps, host files read only while they are written.
#include "image/plan.h"
#include "image/sector_sink.h"
#include "platform/host.h"

#include <algorithm>
#include <deque>
#include <memory>
#include <vector>

namespace tvx {

namespace {

constexpr uint32_t kZeroChunkSectors = 32;
// Read-ahead: at most this many files opened before their turn, and this many of their bytes
// asked for. Enough to keep a cold disk busy with small files; the bytes land in the system's
// cache, not in our memory.
constexpr size_t kAheadFiles = 32;
constexpr uint64_t kAheadBytes = 16ull << 20;

bool writeZeros(SectorSink& sink, uint64_t sectors) {
    static const uint8_t kZeros[kZeroChunkSectors * kSectorSize] = {};
    while (sectors > 0) {
        uint32_t n =
            sectors < kZeroChunkSectors ? static_cast<uint32_t>(sectors) : kZeroChunkSectors;
        if (!sink.writeBytes(kZeros, n * kSectorSize)) return false;
        sectors -= n;
    }
    return true;
}

// Opens the next host files of the list while an earlier one streams and asks the system to
// read them ahead, so their bytes are on their way before their turn. A file that cannot be
// opened ahead is opened again at its turn, where its failure counts.
class ReadAhead {
  public:
    explicit ReadAhead(const std::vector<WriteRun>& list) : list_(list) {}
    ~ReadAhead() {
        ahead_.clear();
        if (folder_) host().closeFolder(folder_);
    }
    ReadAhead(const ReadAhead&) = delete;
    ReadAhead& operator=(const ReadAhead&) = delete;

    // The opened file of list_[index] (a host file run), or null when it cannot be opened.
    std::unique_ptr<HostFile> take(size_t index) {
        std::unique_ptr<HostFile> file;
        if (!ahead_.empty() && ahead_.front().index == index) {
            file = std::move(ahead_.front().file);
            bytes_ -= ahead_.front().asked;
            ahead_.pop_front();
        }
        if (scan_ <= index) scan_ = index + 1;
        if (!file) file = host().openFile(list_[index].hostPath(), FileAccess::Read);
        fill();
        return file;
    }

  private:
    struct Opened {
        size_t index;
        std::unique_ptr<HostFile> file;
        uint64_t asked;
    };

    void fill() {
        while (scan_ < list_.size() && ahead_.size() < kAheadFiles && bytes_ < kAheadBytes) {
            const WriteRun& run = list_[scan_];
            if (run.kind == RunKind::File && run.plannedSize() > 0) {
                Opened o{scan_, open(run), 0};
                if (o.file) {
                    o.asked = std::min(run.plannedSize(), kAheadBytes - bytes_);
                    o.file->willNeed(o.asked);
                    bytes_ += o.asked;
                }
                ahead_.push_back(std::move(o));
            }
            ++scan_;
        }
    }

    // A file found by a folder scan below its top is opened by its name in its folder, which
    // stays open while its files follow one another in the list; any other by its full path.
    std::unique_ptr<HostFile> open(const WriteRun& run) {
        const FileNode* node = run.node;
        if (node && node->sourceInParent && node->parent) {
            if (node->parent != folderNode_) {
                if (folder_) host().closeFolder(folder_);
                folderNode_ = node->parent;
                folder_ = host().openFolder(Plan_SourcePath(folderNode_));
            }
            if (folder_) return host().openFileIn(folder_, node->name);
        }
        return host().openFile(run.hostPath(), FileAccess::Read);
    }

    const std::vector<WriteRun>& list_;
    std::deque<Opened> ahead_;
    const FileNode* folderNode_ = nullptr;
    HostHandle folder_ = nullptr;
    size_t scan_ = 0; // the next run to consider
    uint64_t bytes_ = 0;
};

// A host file whose size is not the planned one would shift or corrupt the volume: the stream
// fails before any of its bytes are written.
bool writeFile(const WriteRun& run, std::unique_ptr<HostFile> file, SectorSink& sink) {
    if (!file) return false;
    uint64_t planned = run.plannedSize();
    if (file->size() != planned) return false;
    return sink.writeFile(*file, planned) != 0;
}

} // namespace

int Plan_Stream(VolumePlan* plan, SectorSink& sink) {
    if (!plan || !plan->laidOut) return 0;
    std::vector<uint8_t> buffer;
    ReadAhead ahead(plan->writeList);
    uint64_t next = 0;
    for (size_t i = 0; i < plan->writeList.size(); ++i) {
        const WriteRun& run = plan->writeList[i];
        if (run.start < next) return 0; // never seeks backwards
        if (!writeZeros(sink, run.start - next)) return 0;
        next = run.start;
        if (run.kind == RunKind::File) {
            if (!writeFile(run, ahead.take(i), sink)) return 0;
            next += run.sectorCount;
            continue;
        }
        const uint8_t* bytes = run.content.get();
        uint32_t length = run.byteLength;
        if (run.source != RunSource::Held) {
            buffer.resize(static_cast<size_t>(run.sectorCount) * kSectorSize);
            length = Plan_RunBytes(run, buffer.data());
            bytes = buffer.data();
        }
        uint32_t written = (length + kSectorSize - 1) / kSectorSize;
        if (length > 0 && !sink.writeBytes(bytes, length)) return 0;
        if (!writeZeros(sink, run.sectorCount - written)) return 0;
        next += run.sectorCount;
    }
    return next == Plan_VolumeSize(plan) ? 1 : 0;
}

} // namespace tvx
