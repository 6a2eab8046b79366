// The image streamer: walks the write list and hands the sink every sector of the volume in
// order, zeros for gaps, host files read only while they are written.
#include "image/plan.h"
#include "image/sector_sink.h"

#include <memory>
#include <vector>

namespace tvx {

namespace {

constexpr uint32_t kZeroChunkSectors = 32;

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

// A host file whose size is not the planned one would shift or corrupt the volume: the stream
// fails before any of its bytes are written.
bool writeFile(const WriteRun& run, SectorSink& sink) {
    std::unique_ptr<HostFile> file = host().openFile(run.hostPath(), FileAccess::Read);
    if (!file) return false;
    uint64_t planned = run.plannedSize();
    if (file->size() != planned) return false;
    return sink.writeFile(*file, planned) != 0;
}

} // namespace

int Plan_Stream(VolumePlan* plan, SectorSink& sink) {
    if (!plan || !plan->laidOut) return 0;
    std::vector<uint8_t> buffer;
    uint64_t next = 0;
    for (const WriteRun& run : plan->writeList) {
        if (run.start < next) return 0; // never seeks backwards
        if (!writeZeros(sink, run.start - next)) return 0;
        next = run.start;
        if (run.kind == RunKind::File) {
            if (!writeFile(run, sink)) return 0;
            next += run.sectorCount;
            continue;
        }
        const uint8_t* bytes = run.content.data();
        uint32_t length = run.byteLength;
        if (run.fileEntryOf) {
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
