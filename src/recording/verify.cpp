#include "recording/verify.h"

#include "image/sector_sink.h"
#include "mmc/commands.h"
#include "mmc/execute.h"
#include "mmc/locations.h"
#include "recording/engine.h"
#include "recording/engine_internal.h"
#include "recording/job_support.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace tvx {

namespace {

inline constexpr uint32_t kPieceSectors = 16;
inline constexpr uint32_t kPieceBytes = kPieceSectors * kBlockSize;
inline constexpr const char* kVerifyCategory = "Verify";

// The sectors the streamer hands it are collected piece by piece and compared with the same
// sectors read from the disc, so memory stays at two pieces whatever the volume's size. A failed
// read or a difference is recorded where it happened and ends the comparison.
class CompareSink final : public SectorSink {
  public:
    CompareSink(RecHandle* handle, uint32_t startSector)
        : handle_(handle), sector_(startSector), regionStart_(startSector) {}

    int writeBytes(const void* data, uint32_t count) override {
        const uint8_t* from = static_cast<const uint8_t*>(data);
        while (count > 0) {
            const uint32_t n = std::min(kPieceBytes - fill_, count);
            std::memcpy(expected_ + fill_, from, n);
            if (!add(n)) return 0;
            from += n;
            count -= n;
        }
        return 1;
    }

    // The file must give exactly expectedSize bytes: one that shrank or grew is not the source
    // that was burned.
    int writeFile(HostFile& file, uint64_t expectedSize) override {
        uint64_t left = expectedSize;
        while (left > 0) {
            const uint32_t want =
                static_cast<uint32_t>(std::min<uint64_t>(kPieceBytes - fill_, left));
            uint32_t got = 0;
            while (got < want) {
                const uint32_t n = file.read(expected_ + fill_ + got, want - got);
                if (n == 0) return 0;
                got += n;
            }
            if (!add(got)) return 0;
            left -= got;
        }
        return file.atEnd() ? 1 : 0;
    }

    // Compares what is left of the last piece.
    int finish() { return fill_ == 0 || compare(); }
    // A difference or a failed read was found (recorded), or the host stopped the comparison.
    bool differs() const { return differs_; }
    // The sector the next byte handed in belongs to.
    uint32_t position() const { return sector_ + fill_ / kBlockSize; }

  private:
    // Pads the bytes just added to a whole sector; a full piece is compared.
    int add(uint32_t n) {
        fill_ += n;
        const uint32_t partial = fill_ % kBlockSize;
        if (partial) {
            std::memset(expected_ + fill_, 0, kBlockSize - partial);
            fill_ += kBlockSize - partial;
        }
        return fill_ < kPieceBytes || compare();
    }

    int compare() {
        const uint32_t sectors = fill_ / kBlockSize;
        // The region's first read is a plain READ(10); the rest stream with READ(12).
        const bool first = sector_ == regionStart_ && sector_ != 0;
        const int read =
            first ? Mmc_Read10(handle_, disc_, fill_, sector_, static_cast<uint16_t>(sectors))
                  : Mmc_Read12(handle_, disc_, fill_, sector_, sectors);
        if (!read) {
            Mmc_RecordError(handle_, location::kVerifyRead);
            return fail();
        }
        for (uint32_t i = 0; i < sectors; ++i) {
            const size_t at = size_t{i} * kBlockSize;
            if (std::memcmp(expected_ + at, disc_ + at, kBlockSize) != 0) {
                RecordDifference(sector_ + i);
                return fail();
            }
        }
        sector_ += sectors;
        fill_ = 0;
        if (!Rec_Progress(handle_, kEventVerify, sector_)) return fail();
        return 1;
    }

    int fail() {
        differs_ = true;
        return 0;
    }

    void RecordDifference(uint32_t sector) {
        std::snprintf(handle_->sourceText, sizeof handle_->sourceText,
                      "SECTOR %u READ BACK OTHER THAN IT WAS WRITTEN", sector);
        TVX_LastError& record = handle_->lastError;
        record = TVX_LastError{};
        record.description = handle_->sourceText;
        record.category = kVerifyCategory;
        record.location = location::kVerifyDifferent;
    }

    RecHandle* handle_;
    uint32_t sector_;      // the first sector of the piece being collected
    uint32_t regionStart_; // the first sector compared
    uint32_t fill_ = 0;    // bytes collected, whole sectors between calls
    bool differs_ = false;
    uint8_t expected_[kPieceBytes];
    uint8_t disc_[kPieceBytes];
};

} // namespace

VerifyResult Verify_Region(RecHandle* handle, uint32_t startSector, HostFile& file) {
    // A drive busy with a read is waited out in the command layer; the host hears of it.
    BusyWaitScope waiting(handle, &Rec_VerifyBusyWait);
    CompareSink sink(handle, startSector);
    if (sink.writeFile(file, file.size()) && sink.finish()) return VerifyResult::Equal;
    // A file that no longer gives its bytes says nothing about the disc.
    return sink.differs() ? VerifyResult::Different : VerifyResult::SourceFailed;
}

VerifyResult Verify_Volume(RecHandle* handle, VolumePlan* plan) {
    BusyWaitScope waiting(handle, &Rec_VerifyBusyWait);
    CompareSink sink(handle, 0);
    if (Plan_Stream(plan, sink) && sink.finish()) return VerifyResult::Equal;
    if (sink.differs()) return VerifyResult::Different;
    // The plan made every sector but a host file's: it is no longer the source that was burned.
    const WriteRun* run = Job_FailedFileRun(plan, sink.position());
    Job_RecordSource(handle, run ? run->hostPath().c_str() : "");
    return VerifyResult::SourceFailed;
}

} // namespace tvx
