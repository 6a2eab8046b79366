#include "image/udf_timestamp.h"

#include "common/byte_order.h"

#include <cstdio>
#include <cstring>

namespace tvx {

namespace {
constexpr uint16_t kTimestampTypeLocal = 0x1000;
constexpr uint64_t kTicksPerSecond = 10000000ULL;
constexpr uint64_t kSecondsPerDay = 86400;
// Days from 1601-01-01 to 1970-01-01.
constexpr int64_t kDaysFrom1601To1970 = 134774;

void putCalendar(uint8_t* field, const CalendarTime& t) {
    PutLe16(field + 2, static_cast<uint16_t>(t.year));
    field[4] = static_cast<uint8_t>(t.month);
    field[5] = static_cast<uint8_t>(t.day);
    field[6] = static_cast<uint8_t>(t.hour);
    field[7] = static_cast<uint8_t>(t.minute);
    field[8] = static_cast<uint8_t>(t.second);
}

// Seconds of calendar fields since 1970-01-01 (proleptic Gregorian calendar, no zone).
int64_t secondsOf(const CalendarTime& t) {
    int64_t y = t.year - (t.month <= 2 ? 1 : 0);
    int64_t era = (y >= 0 ? y : y - 399) / 400;
    int64_t yoe = y - era * 400;
    int64_t doy = (153 * (t.month + (t.month > 2 ? -3 : 9)) + 2) / 5 + t.day - 1;
    int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    int64_t days = era * 146097 + doe - 719468;
    return days * static_cast<int64_t>(kSecondsPerDay) + t.hour * 3600 + t.minute * 60 + t.second;
}
} // namespace

CalendarTime FileTimeToUtc(uint64_t fileTime) {
    uint64_t seconds = fileTime / kTicksPerSecond;
    int64_t days = static_cast<int64_t>(seconds / kSecondsPerDay) - kDaysFrom1601To1970;
    uint64_t rest = seconds % kSecondsPerDay;
    // Civil date from days since 1970-01-01 (proleptic Gregorian calendar).
    int64_t z = days + 719468;
    int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    int64_t doe = z - era * 146097;
    int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    int64_t mp = (5 * doy + 2) / 153;
    CalendarTime t;
    t.day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    t.month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    t.year = static_cast<int>(yoe + era * 400 + (t.month <= 2 ? 1 : 0));
    t.hour = static_cast<int>(rest / 3600);
    t.minute = static_cast<int>(rest / 60 % 60);
    t.second = static_cast<int>(rest % 60);
    t.milliseconds = static_cast<int>(fileTime / 10000ULL % 1000ULL);
    return t;
}

void UDF_SetTimestamp(uint8_t* field, uint64_t fileTime) {
    std::memset(field, 0, kUdfTimestampSize);
    CalendarTime utc = FileTimeToUtc(fileTime);
    CalendarTime local;
    if (!host().fileTimeToLocal(fileTime, local)) local = utc;
    // The zone's offset in force at that instant (summer time included), so that the local
    // time and the offset recorded together give back the instant.
    int64_t offset = (secondsOf(local) - secondsOf(utc)) / 60;
    PutLe16(field, static_cast<uint16_t>(kTimestampTypeLocal | (offset & 0xFFF)));
    putCalendar(field, local);
}

void UDF_SetTimestampNow(uint8_t* field) {
    UDF_SetTimestamp(field, host().currentFileTime());
}

void UDF_MakeVolumeSetId(char* out) {
    CalendarTime t = FileTimeToUtc(host().currentFileTime());
    uint32_t packed = static_cast<uint32_t>((t.year - 1980) & 0x7F) << 25 |
                      static_cast<uint32_t>(t.month) << 21 | static_cast<uint32_t>(t.day) << 16 |
                      static_cast<uint32_t>(t.hour) << 11 | static_cast<uint32_t>(t.minute) << 5 |
                      static_cast<uint32_t>(t.second / 2);
    std::snprintf(out, 17, "%8x%8s", packed, "");
}

} // namespace tvx
