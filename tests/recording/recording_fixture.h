// A virtual recorder on the simulation host's clock, a RecHandle routed to it, a temporary
// folder, and the progress events a job raised.
#pragma once

#include "support/direct_transport.h"
#include "support/temp_dir.h"
#include "transport/rec_handle.h"
#include "vdrive/virtual_recorder.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace tvx::test {

struct ProgressEvent {
    int32_t type;
    uint32_t value;
    uint32_t total;
};

// Collects events; answers 0 (stop) at the stopAtNth event of type stopAtType.
struct EventLog {
    std::vector<ProgressEvent> events;
    int32_t stopAtType = -1;
    int stopAtNth = 1;
    int seenOfStopType = 0;
    // Runs inside the job at every event, before the answer (to arm faults mid-job).
    std::function<void(const ProgressEvent&)> onEvent;

    int count(int32_t type) const;
    const ProgressEvent* last() const { return events.empty() ? nullptr : &events.back(); }
};

// The callback that fills the EventLog whose index is passed as user data.
int32_t TVX_CALL LogEvent(int32_t type, uint32_t* data, int32_t userData);

class RecordingTest : public ::testing::Test {
  protected:
    explicit RecordingTest(vdrive::DriveModel model = vdrive::DriveModel::Default());
    ~RecordingTest() override;

    // Blank medium, capacity in blocks; backed by a sparse file in the temp folder when asked.
    void insertBlank(vdrive::MediumKind kind, uint32_t capacity = 8192, bool backed = false);
    std::string backingFile() const { return dir.file("disc.img"); }

    // The user data that makes LogEvent fill `log`.
    int32_t logData();
    TVX_ProgressCallback callback() const { return &LogEvent; }

    // "NAME" tokens of the trace (from command `from` on), with the fields that matter for
    // the command sequence: "PREVENT1", "EJECT", "CLOSE1/1", "WRITE", "BLANK1"...
    std::vector<std::string> traceTokens(size_t from = 0) const;
    std::string traceText(size_t from = 0) const;
    size_t countToken(const std::string& token) const;
    // True when every PREVENT 1 was followed later by a PREVENT 0.
    bool removalAllowedAtEnd() const;
    uint64_t nowMs();

    // Writes a file of `size` pseudo-random bytes (seeded by the name) and returns its path.
    std::string makeFile(const std::string& relative, size_t size) const;

    ScopedSimHost sim;
    TempDir dir;
    std::unique_ptr<vdrive::VirtualRecorder> drive;
    DirectTransport transport;
    RecHandle* handle = nullptr;
    EventLog log;
};

std::string TokenOf(const vdrive::TraceEntry& entry);

} // namespace tvx::test
