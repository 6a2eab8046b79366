#include "common/byte_order.h"
#include "image/plan.h"
#include "image/udf_dchars.h"
#include "image/udf_file_entry.h"
#include "image/udf_regid.h"
#include "image/udf_tag.h"
#include "image/udf_timestamp.h"
#include "image/udf_volume_descriptors.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace tvx {
namespace {

// 2008-07-15 13:45:30 UTC as a file time.
constexpr uint64_t kJuly2008 = (1216129530ULL + 11644473600ULL) * 10000000ULL;

class UdfStructures : public ::testing::Test {
  protected:
    void SetUp() override {
        const char* tz = std::getenv("TZ");
        if (tz) savedTz_ = tz;
        hadTz_ = tz != nullptr;
        setenv("TZ", "UTC", 1);
        tzset();
    }
    void TearDown() override {
        if (hadTz_) {
            setenv("TZ", savedTz_.c_str(), 1);
        } else {
            unsetenv("TZ");
        }
        tzset();
    }
    test::ScopedSimHost sim;

  private:
    std::string savedTz_;
    bool hadTz_ = false;
};

void SetName(FileNode& n, const std::string& name) {
    uint8_t buf[255];
    n.name = name;
    n.udfNameLength = static_cast<uint32_t>(UDF_EncodeDChars(name.data(), name.size(), buf, 255));
    n.udfName.assign(reinterpret_cast<char*>(buf), n.udfNameLength);
}

// The zone field is the offset in force at the stamped instant, summer time included, so local
// time minus offset is the instant. Zones as POSIX rules: no time-zone database needed.
TEST_F(UdfStructures, TimestampZoneField) {
    // 2008-01-15 13:45:30 UTC
    constexpr uint64_t kJanuary2008 = (1200404730ULL + 11644473600ULL) * 10000000ULL;
    struct Case {
        const char* zone;
        uint64_t time;
        uint16_t field;
        int hour;
    } cases[] = {
        {"JST-9", kJuly2008, 0x121C, 22},
        {"UTC0", kJuly2008, 0x1000, 13},
        {"EST5EDT,M3.2.0,M11.1.0", kJanuary2008, 0x1ED4, 8},
        {"EST5EDT,M3.2.0,M11.1.0", kJuly2008, 0x1F10, 9}, // -240: summer time
        {"CET-1CEST,M3.5.0,M10.5.0/3", kJanuary2008, 0x103C, 14},
        {"CET-1CEST,M3.5.0,M10.5.0/3", kJuly2008, 0x1078, 15}, // +120, not +60
    };
    uint8_t ts[12];
    for (const Case& c : cases) {
        setenv("TZ", c.zone, 1);
        tzset();
        UDF_SetTimestamp(ts, c.time);
        EXPECT_EQ(GetLe16(ts), c.field) << c.zone;
        EXPECT_EQ(ts[6], c.hour) << c.zone;
        EXPECT_EQ(ts[7], 45);
        EXPECT_EQ(ts[8], 30);
    }
    EXPECT_EQ(GetLe16(ts + 2), 2008);
    EXPECT_EQ(ts[4], 7);
    EXPECT_EQ(ts[5], 15);
    EXPECT_EQ(ts[9] | ts[10] | ts[11], 0);
}

TEST_F(UdfStructures, VolumeSetIdFromUtcTime) {
    sim->setCurrentFileTime(kJuly2008);
    char id[17];
    UDF_MakeVolumeSetId(id);
    EXPECT_STREQ(id, "38ef6daf        ");
}

TEST_F(UdfStructures, RegidForms) {
    uint8_t r[32];
    UDF_SetDomainId(r, kDomainId);
    EXPECT_EQ(r[0], 0);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(r + 1), 19), "*OSTA UDF Compliant");
    EXPECT_EQ(r[24], 0x02);
    EXPECT_EQ(r[25], 0x01);
    EXPECT_EQ(r[26], 3);
    UDF_SetUdfId(r, kLvInfoId);
    EXPECT_EQ(r[24], 0x02);
    EXPECT_EQ(r[25], 0x01);
    EXPECT_EQ(r[26], 0);
    UDF_SetImplId(r, kImplementationId);
    for (int i = 24; i < 32; ++i)
        EXPECT_EQ(r[i], 0);
    uint8_t cs[64];
    UDF_SetCharspec(cs);
    EXPECT_EQ(cs[0], 0);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(cs + 1)), "OSTA Compressed Unicode");
}

TEST_F(UdfStructures, VolumeDescriptorsAreValidAndLabelsCut) {
    uint8_t d[512] = {};
    std::string longLabel(40, 'Q');
    UDF_BuildPrimaryVolume(d, 32, longLabel.c_str(), "38ef6daf        ");
    EXPECT_TRUE(UDF_CheckTag(d, 512, kTagPrimaryVolume, 32));
    EXPECT_EQ(d[24 + 31], 31); // 30 characters kept
    EXPECT_EQ(d[72 + 127], 17);
    UDF_BuildLogicalVolume(d, 35, "DISC");
    EXPECT_TRUE(UDF_CheckTag(d, 512, kTagLogicalVolume, 35));
    EXPECT_EQ(GetLe16(d + 10), 446 - 16);
    EXPECT_EQ(GetLe32(d + 432), 4096u);
    EXPECT_EQ(GetLe32(d + 436), 64u);
    UDF_BuildIntegrity(d, 64, 12, 2, 3);
    EXPECT_TRUE(UDF_CheckTag(d, 512, kTagIntegrity, 64));
    EXPECT_EQ(GetLe64(d + 40), 2u + 3u + 15u);
    EXPECT_EQ(GetLe32(d + 84), 12u);
    UDF_BuildPartition(d, 34, 277, 12);
    EXPECT_EQ(GetLe32(d + 188), 277u);
    EXPECT_EQ(d[24], 2);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(d + 25)), "+NSR02");
    std::vector<uint8_t> vsd(2048, 0xFF);
    UDF_BuildVsdNSR02(vsd.data());
    EXPECT_EQ(std::string(reinterpret_cast<char*>(vsd.data() + 1), 5), "NSR02");
    EXPECT_EQ(vsd[6], 1);
    EXPECT_EQ(vsd[2047], 0);
}

TEST_F(UdfStructures, ExtendedAttributeSpace) {
    uint8_t ea[132];
    UDF_BuildExtAttrSpace(ea, 9);
    EXPECT_TRUE(UDF_CheckTag(ea, 132, kTagExtAttrHeader, 9));
    EXPECT_EQ(GetLe16(ea + 10), 8);
    EXPECT_EQ(GetLe32(ea + 16), 24u);
    EXPECT_EQ(GetLe32(ea + 20), 132u);
    EXPECT_EQ(GetLe16(ea + 72), UDF_EAHeaderChecksum(ea + 24));
    EXPECT_EQ(GetLe16(ea + 124), UDF_EAHeaderChecksum(ea + 76));
    EXPECT_EQ(std::string(reinterpret_cast<char*>(ea + 93)), "*UDF DVD CGMS Info");
}

TEST_F(UdfStructures, FileEntryOfEmptyFile) {
    FileNode f;
    f.attributes = 0x20;
    f.dataBlock = 77;
    std::vector<uint8_t> d(2048);
    EXPECT_EQ(UDF_BuildFileEntry(d.data(), 8, f, 16), 316u);
    EXPECT_TRUE(UDF_CheckTag(d.data(), 2048, kTagFileEntry, 8));
    EXPECT_EQ(GetLe64(d.data() + 64), 0u);
    EXPECT_EQ(GetLe32(d.data() + 172), 8u);
    EXPECT_EQ(GetLe32(d.data() + 308), 0u);
    EXPECT_EQ(GetLe32(d.data() + 312), 0u);
    EXPECT_EQ(GetLe16(d.data() + 48), 1);
    EXPECT_EQ(GetLe32(d.data() + 44), 0x1084u);
    EXPECT_EQ(d[27], 5);
    EXPECT_TRUE(UDF_CheckTag(d.data() + 176, 132, kTagExtAttrHeader, 8));
}

TEST_F(UdfStructures, FileEntryExtentsCutAtLimit) {
    FileNode f;
    f.dataBlock = 100;
    std::vector<uint8_t> d(2048);
    f.setSize(0x3FFFF800);
    EXPECT_EQ(UDF_BuildFileEntry(d.data(), 8, f, 16), 316u);
    f.setSize(0x3FFFF801);
    EXPECT_EQ(UDF_BuildFileEntry(d.data(), 8, f, 16), 324u);
    EXPECT_EQ(GetLe32(d.data() + 308), 0x3FFFF800u);
    EXPECT_EQ(GetLe32(d.data() + 312), 100u);
    EXPECT_EQ(GetLe32(d.data() + 316), 1u);
    EXPECT_EQ(GetLe32(d.data() + 320), 100u + 524287u);
    EXPECT_EQ(GetLe64(d.data() + 64), 524288u);
}

TEST_F(UdfStructures, DirectoryEntryAndIdentifiers) {
    FileNode dir;
    dir.attributes = kNodeDirectory;
    dir.entryBlock = 6;
    for (int i = 0; i < 8; ++i) {
        auto* c = new FileNode;
        c->attributes = i < 3 ? kNodeDirectory : 0x20;
        c->parent = &dir;
        c->nextSibling = dir.firstChild;
        dir.firstChild = c;
    }
    std::vector<uint8_t> d(2048);
    UDF_BuildFileEntry(d.data(), 6, dir, 17);
    EXPECT_EQ(GetLe16(d.data() + 48), 4);
    EXPECT_EQ(GetLe32(d.data() + 44), 0x14A5u);
    EXPECT_EQ(d[27], 4);

    FileNode videoTs;
    videoTs.attributes = kNodeDirectory;
    videoTs.entryBlock = 6;
    SetName(videoTs, "VIDEO_TS");
    EXPECT_EQ(UDF_BuildFileIdent(d.data(), 3, videoTs), 48u);
    EXPECT_TRUE(UDF_CheckTag(d.data(), 48, kTagFileIdent, 3));
    EXPECT_EQ(d[18], 0x02);
    EXPECT_EQ(d[19], 9);
    EXPECT_EQ(GetLe32(d.data() + 24), 6u);

    FileNode parentEntry;
    parentEntry.attributes = kNodeDirectory;
    parentEntry.entryBlock = 2;
    EXPECT_EQ(UDF_BuildFileIdent(d.data(), 3, parentEntry), 40u);
    EXPECT_EQ(d[18], 0x0A);
    EXPECT_EQ(d[19], 0);
    EXPECT_EQ(GetLe32(d.data() + 24), 2u);

    FileNode hidden;
    hidden.attributes = 0x20 | kNodeHidden;
    SetName(hidden, ".secret");
    UDF_BuildFileIdent(d.data(), 3, hidden);
    EXPECT_EQ(d[18], 0x01);
}

} // namespace
} // namespace tvx
