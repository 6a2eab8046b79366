// The per-drive job lock: one writing job (a burn, an erase, the write-back of a mapped window)
// at a time on a drive, whichever process or handle starts it. The DeviceMutex orders single
// commands; this lock is held for a whole job. A job that finds it taken fails at once, before
// it sends anything that could change the disc. The lock is the drive's own: a lock on the job
// byte of its open device file where the host has such locks (only openers of the device can
// take it), the host's named job lock elsewhere (Windows), and always the keys held in this
// process. A drive reached without a device file (an ASPI layer's virtual drive) is locked in
// this process only: its layer lets one process at a time attach its disc image.
#pragma once

#include "platform/host.h"
#include "transport/rec_handle.h"

#include <string>

namespace tvx {

// The description and category of the LastError record of a refused job.
inline constexpr const char* kDriveInUseText = "DRIVE IN USE BY ANOTHER WRITING JOB";
inline constexpr const char* kDriveInUseCategory = "General";
// The description of the LastError record of a job whose lock could not be made at all.
inline constexpr const char* kDriveLockFailedText = "THE DRIVE COULD NOT BE LOCKED";

class JobLock {
  public:
    // Takes the lock of the handle's drive. When another job holds it, records that in the
    // handle's LastError and holds nothing. While held, the handle's watch of the disc (whether
    // the job has looked at it, whether a medium change ended the job) belongs to this job.
    explicit JobLock(RecHandle* handle);
    ~JobLock();
    JobLock(const JobLock&) = delete;
    JobLock& operator=(const JobLock&) = delete;

    // False when another job has the drive: the job must end with TVX_ERR_NOT_READY.
    bool held() const { return held_; }

  private:
    RecHandle* handle_ = nullptr;     // set while held
    std::string key_;                 // registered in this process while held
    HostHandle deviceFile_ = nullptr; // set: its job byte is locked
    HostHandle lock_ = nullptr;       // the host's named job lock, when there is one
    bool held_ = false;
};

// Whether a job (of this process, or of another through the drive's device file) holds the
// drive's lock now. Asks without taking the lock, so that nobody is refused meanwhile. A named
// job lock of another process (Windows) is not seen.
bool JobLock_HeldElsewhere(RecHandle* handle);
// Records in the handle's LastError that another writing job has the drive (location 1010).
void JobLock_RecordBusy(RecHandle* handle);

// The name of the drive's lock: the backend's identity of the drive, or its unit serial number,
// or (for neither) a name that only this process uses. Asks the drive at most once per Device.
std::string JobLock_Key(Device* device);

} // namespace tvx
