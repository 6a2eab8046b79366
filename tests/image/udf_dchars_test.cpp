#include "image/udf_dchars.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace tvx {
namespace {

std::vector<uint8_t> Encode(const std::string& text, size_t outSize = 256) {
    std::vector<uint8_t> out(outSize, 0xEE);
    size_t n = UDF_EncodeDChars(text.data(), text.size(), out.data(), out.size());
    out.resize(n);
    return out;
}

std::string Decode(const std::vector<uint8_t>& d, size_t outSize = 256) {
    std::vector<char> out(outSize, 'x');
    UDF_DecodeDChars(d.data(), d.size(), out.data(), out.size());
    return std::string(out.data());
}

TEST(UdfDChars, Compression8ForLatin1) {
    EXPECT_EQ(Encode("VIDEO_TS"),
              (std::vector<uint8_t>{8, 'V', 'I', 'D', 'E', 'O', '_', 'T', 'S'}));
    // U+00E9 is within Latin-1: one byte.
    EXPECT_EQ(Encode("caf\xC3\xA9"), (std::vector<uint8_t>{8, 'c', 'a', 'f', 0xE9}));
    EXPECT_EQ(Encode(""), (std::vector<uint8_t>{8}));
    EXPECT_EQ(UDF_DCharsLength("VIDEO_TS", 8), 9u);
}

TEST(UdfDChars, OneWideCharacterMakesTheWholeName16Bit) {
    // "a" + U+4E2D
    EXPECT_EQ(Encode("a\xE4\xB8\xAD"), (std::vector<uint8_t>{16, 0, 'a', 0x4E, 0x2D}));
    EXPECT_EQ(UDF_DCharsLength("a\xE4\xB8\xAD", 4), 5u);
}

TEST(UdfDChars, RoundTrip) {
    for (std::string s :
         {"Readme.txt", "caf\xC3\xA9", "\xE4\xB8\xAD\xE6\x96\x87.txt", "\xF0\x9F\x98\x80 smile"}) {
        EXPECT_EQ(Decode(Encode(s)), s);
    }
}

TEST(UdfDChars, CutsAtCharacterBoundaries) {
    std::string wide;
    for (int i = 0; i < 10; ++i)
        wide += "\xE4\xB8\xAD";
    // Room for the identifier and 4.5 units: 4 units kept.
    EXPECT_EQ(Encode(wide, 10).size(), 9u);
    // A surrogate pair is never split: U+1F600 needs 4 bytes after "a".
    std::vector<uint8_t> e = Encode("a\xF0\x9F\x98\x80", 5);
    EXPECT_EQ(e, (std::vector<uint8_t>{16, 0, 'a'}));
    // Decoding into a small buffer keeps whole characters and a terminator.
    EXPECT_EQ(Decode(Encode(wide), 8), "\xE4\xB8\xAD\xE4\xB8\xAD");
}

TEST(UdfDChars, DecodeOddInputs) {
    EXPECT_EQ(Decode({7, 'a', 'b'}), "");
    EXPECT_EQ(Decode({}), "");
    // A lone last byte with compression 16 is a high byte: 'A' << 8 = U+4100.
    EXPECT_EQ(Decode({16, 0, 'x', 0x41}), "x\xE4\x84\x80");
}

TEST(UdfDString, LengthByteAndLimits) {
    uint8_t field[32];
    EXPECT_EQ(UDF_SetDString("", 0, field, 32), 1u);
    EXPECT_EQ(field[0], 8);
    EXPECT_EQ(field[31], 1);

    std::string thirty(30, 'L');
    EXPECT_EQ(UDF_SetDString(thirty.data(), thirty.size(), field, 32), 31u);
    EXPECT_EQ(field[31], 31);
    EXPECT_EQ(field[30], 'L');

    // Longer labels are cut to the field: 30 Latin-1 or 15 wide characters.
    std::string longer(40, 'M');
    EXPECT_EQ(UDF_SetDString(longer.data(), longer.size(), field, 32), 31u);
    std::string wide;
    for (int i = 0; i < 20; ++i)
        wide += "\xE4\xB8\xAD";
    EXPECT_EQ(UDF_SetDString(wide.data(), wide.size(), field, 32), 31u);
    EXPECT_EQ(field[0], 16);
    // Only the kept part decides the compression.
    std::string mixed = std::string(30, 'a') + "\xE4\xB8\xAD";
    EXPECT_EQ(UDF_SetDString(mixed.data(), mixed.size(), field, 32), 31u);
    EXPECT_EQ(field[0], 8);
}

} // namespace
} // namespace tvx
