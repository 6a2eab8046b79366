// Parsers of drive answers: pure functions from the bytes a drive returned to a plain record.
// A drive's answer is untrusted: every parser reads only inside the span it is given, and a
// length field that points past the span is cut to it.
#pragma once

#include "mmc/commands.h"

#include <cstddef>
#include <cstdint>
#include <span>

namespace tvx {

using Answer = std::span<const uint8_t>;

// GET CONFIGURATION with one feature. False when the first descriptor is not `feature` (a drive
// without it answers with the next one, or none). With out null only that check is made.
bool ParseFeature(Answer answer, uint16_t feature, FeatureInfo* out);

DiscInformation ParseDiscInformation(Answer answer);
TrackInformation ParseTrackInformation(Answer answer);

// GET PERFORMANCE: the number of whole 16-byte descriptors that both the Performance Data
// Length and the span hold.
uint32_t PerformanceDescriptorCount(Answer answer);
// Type 00h: the last descriptor. False when the answer holds none.
bool ParseLastPerformance(Answer answer, PerformanceDescriptor* out);
// Type 03h: appends the read or write speeds to speeds[] (room for capacityBytes / 4), skipping
// a speed closer than one times DVD speed to the one appended last.
void ParseWriteSpeeds(Answer answer, uint32_t* speeds, uint32_t capacityBytes, int write);

// READ DISC STRUCTURE format 00h (header and layer descriptor) and format 01h.
void ParsePhysicalFormat(Answer answer, PhysicalFormat* out);
uint8_t ParseCopyProtection(Answer answer);

// READ FORMAT CAPACITIES: copies entries in list order until `limit` (the smaller of maxEntries
// and the list length byte) or an all-zero entry, which is copied too. Returns the count copied.
uint32_t ParseFormatCapacities(Answer answer, FormatCapacity* entries, uint32_t maxEntries);

// GET EVENT STATUS NOTIFICATION: converts the 8-byte answer's length field, and for the
// operational-change and device-busy classes its status field, to host order in place.
void ConvertEventStatus(uint8_t* answer8);

// The 12-byte FORMAT UNIT parameter list of an immediate format.
void BuildFormatList(uint8_t* list12, uint32_t blocks, uint8_t formatType, uint32_t parameter);

// The 28-byte SET STREAMING performance descriptor for the whole disc.
void BuildStreamingDescriptor(uint8_t* descriptor28, uint32_t readSpeed, uint32_t writeSpeed);

// MODE SENSE(10) answers: where a page starts (past the header and the block descriptors the
// header announces) and its length with its 2-byte header. False when the answer does not hold
// that page whole.
struct ModePageSpan {
    std::size_t offset = 0;
    std::size_t length = 0;
};
bool FindModePage(Answer answer, uint8_t pageCode, ModePageSpan* out);

// Room for a MODE SENSE(10) answer of one page: header, block descriptors and the largest page.
inline constexpr std::size_t kModeSenseBytes = 8 + 64 + 2 + 255;

// The MODE SELECT(10) list for the write parameters page: an 8-byte header without block
// descriptors, then the drive's page (its own length) with write type, test write, BUF,
// multi-session, track mode and data block type set. Returns the list's length.
std::size_t BuildWriteParametersSelect(const uint8_t* drivePage, std::size_t pageBytes,
                                       const WriteParameters* params, uint8_t* out);
// Whether the page read back took the write type, test write and BUF bits that were sent;
// with a changeable mask, bits the drive does not let the host change are not compared.
bool WriteParametersTaken(const uint8_t* sentPage, const uint8_t* readBackPage,
                          const uint8_t* changeablePage);

} // namespace tvx
