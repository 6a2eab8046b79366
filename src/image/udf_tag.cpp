#include "image/udf_tag.h"

#include "common/byte_order.h"

#include <array>
#include <cstring>

namespace tvx {

namespace {
constexpr uint16_t kDescriptorVersion = 2;
constexpr uint16_t kCrcPolynomial = 0x1021;

// Slicing by eight: table k gives the register after one byte followed by k zero bytes, so eight
// bytes fold in with eight independent lookups instead of a chain of eight dependent steps.
using CrcTables = std::array<std::array<uint16_t, 256>, 8>;

constexpr CrcTables makeCrcTables() {
    CrcTables tables{};
    for (unsigned byte = 0; byte < 256; ++byte) {
        uint16_t crc = static_cast<uint16_t>(byte << 8);
        for (int bit = 0; bit < 8; ++bit) {
            crc = (crc & 0x8000) ? static_cast<uint16_t>((crc << 1) ^ kCrcPolynomial)
                                 : static_cast<uint16_t>(crc << 1);
        }
        tables[0][byte] = crc;
    }
    for (size_t k = 1; k < tables.size(); ++k) {
        for (unsigned byte = 0; byte < 256; ++byte) {
            uint16_t prev = tables[k - 1][byte];
            tables[k][byte] = static_cast<uint16_t>((prev << 8) ^ tables[0][prev >> 8]);
        }
    }
    return tables;
}
constexpr CrcTables kCrc = makeCrcTables();
} // namespace

uint16_t UDF_Crc16(const uint8_t* data, size_t count) {
    uint16_t crc = 0;
    size_t i = 0;
    for (; i + 8 <= count; i += 8) {
        const uint8_t* d = data + i;
        // The register's two bytes combine with the first two of the eight.
        crc = static_cast<uint16_t>(kCrc[7][(crc >> 8) ^ d[0]] ^ kCrc[6][(crc & 0xFF) ^ d[1]] ^
                                    kCrc[5][d[2]] ^ kCrc[4][d[3]] ^ kCrc[3][d[4]] ^ kCrc[2][d[5]] ^
                                    kCrc[1][d[6]] ^ kCrc[0][d[7]]);
    }
    for (; i < count; ++i)
        crc = static_cast<uint16_t>((crc << 8) ^ kCrc[0][((crc >> 8) ^ data[i]) & 0xFF]);
    return crc;
}

uint8_t UDF_TagChecksum(const uint8_t* tag) {
    unsigned sum = 0;
    for (size_t i = 0; i < kUdfTagSize; ++i) {
        if (i != 4) sum += tag[i];
    }
    return static_cast<uint8_t>(sum);
}

void UDF_MakeTag(uint8_t* descriptor, uint16_t identifier, uint32_t location,
                 uint32_t totalLength) {
    std::memset(descriptor, 0, 12);
    uint16_t crcLength = static_cast<uint16_t>(totalLength - kUdfTagSize);
    PutLe16(descriptor + 0, identifier);
    PutLe16(descriptor + 2, kDescriptorVersion);
    PutLe16(descriptor + 6, 0);
    PutLe16(descriptor + 10, crcLength);
    PutLe32(descriptor + 12, location);
    PutLe16(descriptor + 8, UDF_Crc16(descriptor + kUdfTagSize, crcLength));
    descriptor[4] = UDF_TagChecksum(descriptor);
}

bool UDF_CheckTag(const uint8_t* descriptor, size_t bytesRead, uint16_t identifier,
                  uint32_t location) {
    if (bytesRead < kUdfTagSize) return false;
    if (GetLe16(descriptor + 0) != identifier) return false;
    if (GetLe32(descriptor + 12) != location) return false;
    if (UDF_TagChecksum(descriptor) != descriptor[4]) return false;
    uint16_t crcLength = GetLe16(descriptor + 10);
    if (crcLength == 0) return true;
    if (crcLength > bytesRead - kUdfTagSize) return false;
    return UDF_Crc16(descriptor + kUdfTagSize, crcLength) == GetLe16(descriptor + 8);
}

} // namespace tvx
