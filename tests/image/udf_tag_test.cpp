#include "common/byte_order.h"
#include "image/udf_tag.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace tvx {
namespace {

TEST(UdfCrc, KnownValues) {
    const char* digits = "123456789";
    EXPECT_EQ(UDF_Crc16(reinterpret_cast<const uint8_t*>(digits), 9), 0x31C3);
    EXPECT_EQ(UDF_Crc16(nullptr, 0), 0);
}

// The fast CRC against the bitwise definition (polynomial 0x1021, register 0), at every length
// around the eight-byte steps and from unaligned starts.
TEST(UdfCrc, MatchesBitwiseDefinition) {
    std::vector<uint8_t> bytes(80);
    for (size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<uint8_t>(i * 167 + 13);
    for (size_t start = 0; start < 3; ++start) {
        for (size_t count = 0; start + count <= bytes.size(); ++count) {
            uint16_t crc = 0;
            for (size_t i = start; i < start + count; ++i) {
                crc ^= static_cast<uint16_t>(bytes[i] << 8);
                for (int bit = 0; bit < 8; ++bit)
                    crc = static_cast<uint16_t>((crc & 0x8000) ? (crc << 1) ^ 0x1021 : crc << 1);
            }
            EXPECT_EQ(UDF_Crc16(bytes.data() + start, count), crc) << start << " " << count;
        }
    }
}

TEST(UdfTag, TerminatingDescriptorOverZeros) {
    std::vector<uint8_t> d(512, 0);
    UDF_MakeTag(d.data(), kTagTerminating, 37, 512);
    EXPECT_EQ(GetLe16(d.data()), kTagTerminating);
    EXPECT_EQ(GetLe16(d.data() + 2), 2);
    EXPECT_EQ(GetLe16(d.data() + 8), 0); // CRC of 496 zero bytes
    EXPECT_EQ(GetLe16(d.data() + 10), 496);
    EXPECT_EQ(GetLe32(d.data() + 12), 37u);
    EXPECT_EQ(d[4], UDF_TagChecksum(d.data()));
    EXPECT_TRUE(UDF_CheckTag(d.data(), 512, kTagTerminating, 37));
}

TEST(UdfTag, RetaggingChangesOnlyChecksumAndLocation) {
    std::vector<uint8_t> d(512);
    for (size_t i = 16; i < d.size(); ++i)
        d[i] = static_cast<uint8_t>(i * 7);
    UDF_MakeTag(d.data(), kTagPrimaryVolume, 32, 512);
    std::vector<uint8_t> copy = d;
    UDF_MakeTag(copy.data(), kTagPrimaryVolume, 48, 512);
    for (size_t i = 0; i < d.size(); ++i) {
        bool mayDiffer = i == 4 || (i >= 12 && i <= 15);
        if (!mayDiffer) {
            EXPECT_EQ(d[i], copy[i]) << "byte " << i;
        }
    }
    EXPECT_NE(d[12], copy[12]);
    EXPECT_TRUE(UDF_CheckTag(copy.data(), 512, kTagPrimaryVolume, 48));
}

TEST(UdfTag, CheckRejectsEachMismatch) {
    std::vector<uint8_t> d(2048, 0);
    for (size_t i = 16; i < 300; ++i)
        d[i] = static_cast<uint8_t>(i);
    UDF_MakeTag(d.data(), kTagFileEntry, 100, 300);
    EXPECT_TRUE(UDF_CheckTag(d.data(), 2048, kTagFileEntry, 100));
    EXPECT_FALSE(UDF_CheckTag(d.data(), 2048, kTagFileIdent, 100));
    EXPECT_FALSE(UDF_CheckTag(d.data(), 2048, kTagFileEntry, 101));
    // CRC Length beyond the bytes read.
    EXPECT_FALSE(UDF_CheckTag(d.data(), 200, kTagFileEntry, 100));
    EXPECT_FALSE(UDF_CheckTag(d.data(), 8, kTagFileEntry, 100));
    // A body byte changed: the CRC fails.
    d[200] ^= 1;
    EXPECT_FALSE(UDF_CheckTag(d.data(), 2048, kTagFileEntry, 100));
    d[200] ^= 1;
    // A tag byte changed: the checksum fails.
    d[7] ^= 1;
    EXPECT_FALSE(UDF_CheckTag(d.data(), 2048, kTagFileEntry, 100));
}

TEST(UdfTag, ZeroCrcLengthSkipsTheCrc) {
    std::vector<uint8_t> d(64, 0xAA);
    PutLe16(d.data(), kTagAnchor);
    PutLe16(d.data() + 8, 0x1234); // wrong, but not tested
    PutLe16(d.data() + 10, 0);
    PutLe32(d.data() + 12, 256);
    d[4] = UDF_TagChecksum(d.data());
    EXPECT_TRUE(UDF_CheckTag(d.data(), 16, kTagAnchor, 256));
}

} // namespace
} // namespace tvx
