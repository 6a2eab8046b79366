// Progress of burns and erases: a bar per phase on a terminal (writing, closing, verifying,
// erasing), plain lines otherwise, one JSON object per event with --json. Percentages and time
// left count against the volume's real size, planned before the burn (SetVolumeSize): the
// library's own total is padded to a minimum on DVD-R/RW.
#pragma once

#include "session.h"
#include "torvexin.h"

#include <cstdint>

namespace tvxcli {

// What the running job has reached, as its events told.
struct JobFacts {
    bool prepared = false;     // the drive was asked to prepare
    bool trackBegun = false;   // a track was begun: the disc may have changed from here on
    bool writing = false;      // sectors were handed to the drive
    bool writeDone = false;    // the last chunk was handed to the drive
    bool writtenWhole = false; // the drive took the volume's last sector (the job went on after it)
    bool stopAnswered = false; // the callback answered a stop
    bool verifying = false;    // read back began
    bool erasing = false;      // the erase began: before it, nothing on the disc has changed
    uint32_t trackBlocks = 0;  // the volume's size in sectors
    uint32_t progressTotal = 0;
    uint32_t written = 0; // sectors written before the last chunk
};

// Resets the facts and chooses the display for this job.
void StartProgress(const Options& options);
// The volume's size in sectors, as planned for the job about to start (0: unknown, the first
// write event's total stands in).
void SetVolumeSize(uint32_t sectors);
// The callback handed to the library; answers 0 once a stop was requested (signals.h).
int32_t TVX_CALL ProgressCallback(int32_t eventType, uint32_t* data, int32_t userData);
// Ends the display; succeeded completes the phase on screen.
void EndProgress(bool succeeded);
const JobFacts& Facts();

} // namespace tvxcli
