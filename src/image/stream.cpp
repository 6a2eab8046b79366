// The image streamer: walks the write list and hands the sink every sector of the volume in
// order, zeros for gaps, host files read only while they are written.
#include "image/plan.h"
#include "image/sector_sink.h"
#include "image/source_open.h"
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
    // Only runs that start before sector `end` are read ahead.
    ReadAhead(const std::vector<WriteRun>& list, uint32_t end) : list_(list), end_(end) {}
    ~ReadAhead() { ahead_.clear(); }
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
        while (scan_ < list_.size() && list_[scan_].start < end_ && ahead_.size() < kAheadFiles &&
               bytes_ < kAheadBytes) {
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

    std::unique_ptr<HostFile> open(const WriteRun& run) {
        if (run.node && run.source == RunSource::HostFile) return files_.open(run.node);
        return host().openFile(run.hostPath(), FileAccess::Read);
    }

    const std::vector<WriteRun>& list_;
    uint32_t end_;
    std::deque<Opened> ahead_;
    SourceOpener files_;
    size_t scan_ = 0; // the next run to consider
    uint64_t bytes_ = 0;
};

// A host file whose size is not the planned one would shift or corrupt the volume: the stream
// fails before any of its bytes are written. Only sectors skip .. skip + count - 1 of the run go
// to the sink.
bool writeFile(const WriteRun& run, std::unique_ptr<HostFile> file, SectorSink& sink, uint32_t skip,
               uint32_t count) {
    if (!file) return false;
    const uint64_t planned = run.plannedSize();
    if (file->size() != planned) return false;
    if (skip == 0 && count == run.sectorCount) return sink.writeFile(*file, planned) != 0;
    const uint64_t offset = uint64_t{skip} * kSectorSize;
    const uint64_t end = std::min<uint64_t>(planned, uint64_t{skip + count} * kSectorSize);
    return sink.writeFilePart(*file, planned, offset, end - offset) != 0;
}

} // namespace

int Plan_Stream(VolumePlan* plan, SectorSink& sink) {
    if (!plan || !plan->laidOut) return 0;
    return Plan_StreamRange(plan, sink, 0, Plan_VolumeSize(plan));
}

int Plan_StreamRange(VolumePlan* plan, SectorSink& sink, uint32_t first, uint32_t end) {
    if (!plan || !plan->laidOut) return 0;
    end = std::min(end, Plan_VolumeSize(plan));
    if (first >= end) return first == end ? 1 : 0;
    std::vector<uint8_t> buffer;
    ReadAhead ahead(plan->writeList, end);
    // Zero sectors of a gap, only where they fall inside the range.
    auto gap = [&](uint64_t from, uint64_t to) {
        from = std::max<uint64_t>(from, first);
        to = std::min<uint64_t>(to, end);
        return from >= to || writeZeros(sink, to - from);
    };
    uint64_t next = 0;
    for (size_t i = 0; i < plan->writeList.size() && next < end; ++i) {
        const WriteRun& run = plan->writeList[i];
        if (run.start < next) return 0; // never seeks backwards
        const uint64_t runEnd = uint64_t{run.start} + run.sectorCount;
        if (!gap(next, run.start)) return 0;
        next = runEnd;
        // An empty file belongs to the range its position falls in.
        const bool before = run.sectorCount ? runEnd <= first : run.start < first;
        if (before || run.start >= end) continue;
        // The run's sectors inside the range.
        const uint32_t skip = first > run.start ? first - run.start : 0;
        const uint32_t count =
            static_cast<uint32_t>(std::min<uint64_t>(runEnd, end) - run.start) - skip;
        if (run.kind == RunKind::File) {
            if (!writeFile(run, ahead.take(i), sink, skip, count)) return 0;
            continue;
        }
        const uint8_t* bytes = run.content.get();
        uint32_t length = run.byteLength;
        if (run.source != RunSource::Held) {
            buffer.resize(static_cast<size_t>(run.sectorCount) * kSectorSize);
            length = Plan_RunBytes(run, buffer.data());
            bytes = buffer.data();
        }
        // Meaningful bytes of the part, then zeros to its end.
        const uint64_t from = uint64_t{skip} * kSectorSize;
        const uint64_t to = std::min<uint64_t>(length, uint64_t{skip + count} * kSectorSize);
        uint32_t written = 0;
        if (to > from) {
            if (!sink.writeBytes(bytes + from, static_cast<uint32_t>(to - from))) return 0;
            written = static_cast<uint32_t>((to - from + kSectorSize - 1) / kSectorSize);
        }
        if (!writeZeros(sink, count - written)) return 0;
    }
    // The list ends with the volume's last sector; a shorter one is a broken plan.
    return next >= end ? 1 : 0;
}

} // namespace tvx
