// The virtual recorders behind an ASPI layer: one host adapter whose targets are virtual
// recorders, answering the layer's request blocks. The module's two entry points hand every
// call to one instance of this class.
#pragma once

#include "platform/aspi_request.h"
#include "platform/clock.h"
#include "vdrive/aspi_layer/layer_config.h"
#include "vdrive/replay.h"
#include "vdrive/virtual_recorder.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace tvx::vdrive {

class VirtualAspiLayer {
  public:
    // Attaches the configured drives; a drive whose disc cannot be attached is left out and
    // named in problems().
    explicit VirtualAspiLayer(const LayerConfig& config);
    // Completes what is still queued as aborted, then saves every disc. On Windows a worker
    // holds the module while requests are queued (see module_thread.h), so the module's unload
    // finds none to wait for.
    ~VirtualAspiLayer();
    // For the end of a Windows process instead of the destructor: the system has stopped the
    // other threads wherever they were. Saves every disc but one left in a command, waits for
    // nothing and leaves the layer unusable; it must not be destroyed afterwards.
    void saveAtProcessEnd();
    VirtualAspiLayer(const VirtualAspiLayer&) = delete;
    VirtualAspiLayer& operator=(const VirtualAspiLayer&) = delete;

    uint32_t supportInfo();
    uint32_t sendCommand(void* requestBlock);

    size_t driveCount() const { return drives_.size(); }
    VirtualRecorder& drive(size_t target) { return *drives_[target]; }
    // What answers the target: its recorder or the report replayed in front of it.
    ScsiTarget& target(size_t target) { return *targets_[target]; }
    const std::vector<std::string>& problems() const { return problems_; }

  private:
    uint8_t inquiry(SRB_HAInquiry& srb);
    // Checks the address; runs the command at once unless it is queued for the worker.
    uint8_t execute(SRB_ExecSCSICmd& srb);
    uint8_t abort(SRB_Abort& srb);
    void run(SRB_ExecSCSICmd& srb); // with lock_ held; sets every answer field but SRB_Status
    void finish(SRB_ExecSCSICmd& srb, uint8_t status);
    void save(size_t skippedTarget); // the discs and the trace
    // True when a worker will take what is queued; called with lock_ held.
    bool workerReady();
    void work();

    SystemClock clock_;
    std::vector<std::shared_ptr<VirtualRecorder>> drives_; // targets of one image share one
    // What answers each target: its recorder, or a replayed report in front of it.
    std::vector<ScsiTarget*> targets_;
    std::vector<std::unique_ptr<ReplayTarget>> replays_;
    std::vector<std::string> problems_;
    bool pending_ = false;
    std::string tracePath_;

    std::mutex lock_; // the recorders take one command at a time
    static constexpr size_t kNoTarget = SIZE_MAX;
    std::atomic<size_t> running_{kNoTarget}; // the target of the command under way
    std::condition_variable queued_;
    std::deque<SRB_ExecSCSICmd*> queue_;
#if defined(_WIN32)
    bool working_ = false; // a worker runs; it ends once the queue stays empty
#else
    bool stopping_ = false;
    std::thread worker_;
#endif
};

} // namespace tvx::vdrive
