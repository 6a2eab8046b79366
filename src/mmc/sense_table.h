// The constant sense table: one row per (sense key, ASC, ASCQ) condition that drives report,
// with the condition's description and the category (the feature it belongs to).
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace tvx {

struct SenseEntry {
    uint8_t senseKey;
    uint8_t asc;
    uint8_t ascq;
    uint8_t zero;
    const char* description;
    const char* category;
};

inline constexpr std::size_t kSenseTableRows = 319;

// The rows in stored order; the last one is the catch-all FF/FF/FF "Unknown" / "N/A".
std::span<const SenseEntry> SenseTable_Rows();
// Further conditions, looked up only when the rows above do not hold the triple; none of them
// repeats a triple of those rows.
std::span<const SenseEntry> SenseTable_AddedRows();

} // namespace tvx
