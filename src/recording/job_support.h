// What every burn and erase job shares: the transfer buffer, the job's hold on the handle's
// callback, the media checks and the mapping of the engine's outcome to a result code.
#pragma once

#include "image/plan.h"
#include "torvexin.h"
#include "transport/rec_handle.h"

#include <cstdint>
#include <memory>
#include <string>

namespace tvx {

// The job's 64 KiB transfer buffer, attached to the handle while alive. The engine sees a
// recording running exactly while it is attached.
class TransferBuffer {
  public:
    explicit TransferBuffer(RecHandle* handle);
    ~TransferBuffer();
    TransferBuffer(const TransferBuffer&) = delete;
    TransferBuffer& operator=(const TransferBuffer&) = delete;
    // False when the allocation failed; nothing is attached then.
    bool attached() const { return allocation_ != nullptr; }

    // Bytes allocated: the capacity plus room to align the start to 16 bytes.
    static constexpr uint32_t kAllocationBytes = 0x10000 + 16;

  private:
    RecHandle* handle_;
    uint8_t* allocation_;
};

// Gives the handle the host's callback for the length of one exported call; afterwards no
// callback, user data or progress of this job is left behind for later operations.
class JobScope {
  public:
    JobScope(RecHandle* handle, TVX_ProgressCallback callback, int32_t userData);
    ~JobScope();
    JobScope(const JobScope&) = delete;
    JobScope& operator=(const JobScope&) = delete;

  private:
    RecHandle* handle_;
};

struct PlanDeleter {
    void operator()(VolumePlan* plan) const { Plan_Free(plan); }
};
using PlanPtr = std::unique_ptr<VolumePlan, PlanDeleter>;

// Reads the disc, copies its DiscInfo into the handle and checks kind, test-write ability and
// blankness for a burn in the given mode. TVX_OK or the job's result code.
TVX_Result Job_CheckMedia(RecHandle* handle, int32_t mode);
// The space a volume may take on the disc: the whole capacity of media written in place, else
// the free blocks. `profile` is the drive's current profile (RecHandle::discProfile).
uint32_t Job_DiscSpace(const TVX_DiscInfo& disc, uint16_t profile);
TVX_Result Job_CheckSpace(const RecHandle* handle, uint64_t sectors);
// How a recording that the engine ran ended.
enum class JobOutcome {
    Done,
    Failed,       // a step or the verification failed
    SourceFailed, // a host file could not be read (recorded with Job_RecordSource)
};

// The result of a recording that the engine ran: clears the cancel flag. A stop wins over
// everything, a source failure over the mode's failure code.
TVX_Result Job_RecordingResult(RecHandle* handle, JobOutcome outcome, int32_t mode);

// The file run a stream stopped in at `sector` (the next sector it would have given): one that
// holds that sector (a file that failed before any of its bytes went in starts there). Of
// several, the first whose host file no longer is what was planned; null when none holds it.
const WriteRun* Job_FailedFileRun(const VolumePlan* plan, uint64_t sector);

// Records a source that cannot be read: the LastError description is its path (kept in the
// handle), the category "Source".
void Job_RecordSource(RecHandle* handle, const char* path);

// Records a source the volume cannot record: description "PATH: RULE", category "Source",
// location 1021.
void Job_RecordRefusal(RecHandle* handle, const std::string& path, const std::string& rule);

// True for media written over in place: DVD+RW, DVD-RAM, DVD-RW in restricted overwrite.
bool Job_RewritableDisc(RecHandle* handle);

// Sets how the engine writes the volume (rec.commitOrder, rec.packetBlocks) for the disc in the
// handle's DiscInfo: media written over in place get the volume's structures last.
void Job_ChooseWriteOrder(RecHandle* handle, int32_t mode);

// The end of a recording that did not complete, before Rec_Finish. Once writing began (and not
// in a test write), a rewritable disc gets its volume structures overwritten so that no volume
// remains readable; a write-once disc is left with its track and session open. A volume that
// was committed (rec.volumeCommitted) is kept, and the record keeps the finishing step's failure.
void Job_LeaveIncomplete(RecHandle* handle);

} // namespace tvx
