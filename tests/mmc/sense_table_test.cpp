#include "mmc/execute.h"
#include "mmc/sense_table.h"

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

namespace tvx {
namespace {

TEST(SenseTable, HasTheFixedRowsPerCategory) {
    auto rows = SenseTable_Rows();
    ASSERT_EQ(rows.size(), 319u);
    std::map<std::string, int> counts;
    for (const SenseEntry& row : rows)
        ++counts[row.category];
    const std::map<std::string, int> expected = {
        {"General", 83},
        {"N/A", 92}, // 91 conditions and the catch-all
        {"Read", 43},
        {"Random Write", 30},
        {"Sequential Write", 19},
        {"Write", 17},
        {"CD Read", 8},
        {"Load", 7},
        {"CPP", 6},
        {"Audio Play", 5},
        {"CD Write", 3},
        {"Formattable", 2},
        {"Morphing", 1},
        {"Timeout", 1},
        {"Incremental Streaming Write", 1},
        {"Write Once, Incremental Streaming Write", 1},
    };
    EXPECT_EQ(counts, expected);
}

TEST(SenseTable, StoredOrderAndUniqueTriples) {
    auto rows = SenseTable_Rows();
    EXPECT_EQ(rows.front().senseKey, 0x08);
    EXPECT_STREQ(rows.front().description, "BLANK CHECK");
    const SenseEntry& last = rows.back();
    EXPECT_EQ(std::make_tuple(last.senseKey, last.asc, last.ascq),
              std::make_tuple(0xFF, 0xFF, 0xFF));
    EXPECT_STREQ(last.description, "Unknown");
    EXPECT_STREQ(last.category, "N/A");

    std::set<std::tuple<int, int, int>> seen;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        EXPECT_TRUE(seen.insert({rows[i].senseKey, rows[i].asc, rows[i].ascq}).second)
            << "duplicate row " << i;
        EXPECT_EQ(rows[i].zero, 0);
        EXPECT_NE(std::string(rows[i].description), "");
        // Rows between the first and the catch-all ascend by ASC and ASCQ.
        if (i >= 2 && i + 1 < rows.size()) {
            EXPECT_LE(rows[i - 1].asc << 8 | rows[i - 1].ascq, rows[i].asc << 8 | rows[i].ascq)
                << "row " << i;
        }
    }
    // The added rows repeat no triple: a fixed row's lookup cannot change.
    for (const SenseEntry& row : SenseTable_AddedRows())
        EXPECT_TRUE(seen.insert({row.senseKey, row.asc, row.ascq}).second)
            << std::hex << int(row.senseKey) << "/" << int(row.asc) << "/" << int(row.ascq);
}

TEST(SenseTable, LookupFindsTheNamedRows) {
    struct Case {
        uint8_t key, asc, ascq;
        const char* description;
        const char* category;
    };
    const Case cases[] = {
        {0x00, 0x00, 0x00, "NO ADDITIONAL SENSE INFORMATION", "General"},
        {0x08, 0x00, 0x00, "BLANK CHECK", "Write Once, Incremental Streaming Write"},
        {0x02, 0x04, 0x01, "LOGICAL UNIT IS IN PROCESS OF BECOMING READY", "Read"},
        {0x02, 0x04, 0x04, "LOGICAL UNIT NOT READY, FORMAT IN PROGRESS", "Random Write"},
        {0x02, 0x04, 0x08, "LOGICAL UNIT NOT READY, LONG WRITE IN PROGRESS", "Write"},
        {0x05, 0x21, 0x02, "INVALID ADDRESS FOR WRITE", "Incremental Streaming Write"},
        {0x05, 0x2C, 0x05, "PERSISTENT PREVENT CONFLICT ", "Morphing"},
        {0x06, 0x2E, 0x00, "INSUFFICIENT TIME FOR OPERATION ", "Timeout"},
        {0x03, 0x31, 0x01, "FORMAT COMMAND FAILED ", "Formattable"},
        {0x03, 0x31, 0x02, "ZONED FORMATTING FAILED DUE TO SPARE LINKING ", "Formattable"},
        {0x05, 0x38, 0x00, "Reserved", "Sequential Write"},
        {0x02, 0x30, 0x02, "CANNOT READ MEDIUM - INCOMPATIBLE FORMAT", "Read"},
        {0x05, 0x30, 0x02, "CANNOT READ MEDIUM - INCOMPATIBLE FORMAT", "Read"},
        {0x02, 0x53, 0x02, "MEDIUM REMOVAL PREVENTED", "General"},
        {0x05, 0x53, 0x02, "MEDIUM REMOVAL PREVENTED", "General"},
        {0x02, 0x3A, 0x00, "MEDIUM NOT PRESENT", "General"},
        {0x03, 0x73, 0x02, "POWER CALIBRATION AREA IS FULL", "Sequential Write"},
        {0x03, 0x72, 0x02, "SESSION FIXATION ERROR WRITING LEAD-OUT", "Sequential Write"},
        {0x01, 0x5D, 0x01, "FAILURE PREDICTION THRESHOLD EXCEEDED - Predicted Media Failure",
         "General"},
        {0x01, 0x73, 0x06, "PROGRAM MEMORY AREA/RMA IS (almost) FULL", "Sequential Write"},
        {0x05, 0x73, 0x03, "POWER CALIBRATION AREA ERROR", "Sequential Write"},
        {0x03, 0x73, 0x11, "CURRENT POWER CALIBRATION AREA IS FULL", "Sequential Write"},
        {0xFF, 0xFF, 0xFF, "Unknown", "N/A"},
        // A known pair under a key the table does not list for it.
        {0x05, 0x04, 0x08, "Unknown", "N/A"},
        {0x00, 0x00, 0x07, "Unknown", "N/A"},
    };
    for (const Case& c : cases) {
        SenseTexts t = Mmc_LookupSense(c.key, c.asc, c.ascq);
        EXPECT_STREQ(t.description, c.description);
        EXPECT_STREQ(t.category, c.category);
    }
    for (int i = 0; i < 6; ++i) {
        EXPECT_STREQ(Mmc_LookupSense(0x05, 0x6F, static_cast<uint8_t>(i)).category, "CPP");
    }
}

TEST(SenseTable, EveryRowIsFoundByItsOwnTriple) {
    for (auto rows : {SenseTable_Rows(), SenseTable_AddedRows()}) {
        for (const SenseEntry& row : rows) {
            SenseTexts t = Mmc_LookupSense(row.senseKey, row.asc, row.ascq);
            EXPECT_EQ(t.description, row.description);
            EXPECT_EQ(t.category, row.category);
        }
    }
}

TEST(SenseTable, ConcurrentFirstLookupsAgree) {
    // ctest runs each test in a process of its own, so these are the first lookups.
    std::vector<std::thread> threads;
    std::vector<const char*> results(8);
    for (std::size_t i = 0; i < results.size(); ++i) {
        threads.emplace_back(
            [&results, i] { results[i] = Mmc_LookupSense(0x02, 0x3A, 0x00).description; });
    }
    for (auto& t : threads)
        t.join();
    for (const char* r : results)
        EXPECT_STREQ(r, "MEDIUM NOT PRESENT");
}

} // namespace
} // namespace tvx
