// UDF timestamps (local time with the zone's offset at that instant) and the calendar helpers
// the ISO 9660 structures share.
#pragma once

#include "platform/host.h"

#include <cstdint>

namespace tvx {

inline constexpr size_t kUdfTimestampSize = 12;

// The file time as local time with type 1 and the zone's offset from UTC at that instant (east
// positive, daylight saving included).
void UDF_SetTimestamp(uint8_t* field, uint64_t fileTime);
void UDF_SetTimestampNow(uint8_t* field);
// Splits a file time into UTC calendar fields (no time zone involved).
CalendarTime FileTimeToUtc(uint64_t fileTime);
// Writes the 16 characters of the volume set identifier and a terminator (17 bytes): the
// current UTC time packed as a FAT date and time, in eight hexadecimal digits, then eight
// spaces.
void UDF_MakeVolumeSetId(char* out);

} // namespace tvx
