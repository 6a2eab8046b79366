// Performance commands: GET PERFORMANCE (nominal performance and write speed descriptors) and
// SET STREAMING.
#include "common/byte_order.h"
#include "mmc/answers.h"
#include "mmc/command_record.h"
#include "mmc/commands.h"
#include "mmc/execute.h"

#include <algorithm>
#include <memory>
#include <new>

namespace tvx {

namespace {

constexpr std::size_t kPerformanceHeaderBytes = 8;
constexpr std::size_t kPerformanceDescriptorBytes = 16;
constexpr uint16_t kPerformanceProbeBytes = 24; // header and one descriptor
constexpr uint32_t kMaxAllocation = 0xFFFF;     // the CDB carries 16 bits
constexpr uint8_t kTypePerformance = 0x00;
constexpr uint8_t kTypeWriteSpeed = 0x03;
constexpr uint8_t kNominalPerformance = 0x10; // nominal, 10% tolerance
constexpr uint16_t kStreamingDescriptorBytes = 28;
constexpr uint32_t kStreamingTimeMs = 1000;

// A GET PERFORMANCE answer, its size exactly what the drive announced.
struct PerformanceAnswer {
    std::unique_ptr<uint8_t[]> bytes;
    uint32_t size = 0;
    Answer view() const { return {bytes.get(), size}; }
};

CommandRecord PerformanceCommand(uint8_t byte1, uint8_t type, uint32_t allocation) {
    CommandRecord command = NewCommand(kOpGetPerformance, 12, kDirectionIn);
    command.cdb[1] = byte1;
    PutBe16(command.cdb + 8, static_cast<uint16_t>((allocation - kPerformanceHeaderBytes) /
                                                   kPerformanceDescriptorBytes));
    command.cdb[10] = type;
    return command;
}

// The two-step query: ask with room for one descriptor to learn the data length, then ask again
// with room for all of it. Fails when the drive announces no descriptor at all, or more than a
// 16-bit allocation length can fetch.
bool ReadPerformance(RecHandle* h, uint8_t byte1, uint8_t type, PerformanceAnswer& out) {
    uint8_t probe[kPerformanceProbeBytes] = {};
    CommandRecord command = PerformanceCommand(byte1, type, kPerformanceProbeBytes);
    if (!Mmc_Execute(h, &command, probe, kPerformanceProbeBytes)) return false;
    const uint32_t length = GetBe32(probe);
    if (length < kPerformanceDescriptorBytes) return false;
    if (length > kMaxAllocation - 4) return false;
    const uint32_t allocation = length + 4;
    out.bytes.reset(new (std::nothrow) uint8_t[allocation]());
    if (!out.bytes) return false;
    out.size = allocation;
    command = PerformanceCommand(byte1, type, allocation);
    return Mmc_Execute(h, &command, out.bytes.get(), allocation) != 0;
}

} // namespace

uint32_t PerformanceDescriptorCount(Answer answer) {
    if (answer.size() < kPerformanceHeaderBytes) return 0;
    const uint32_t announced = GetBe32(answer.data()) / kPerformanceDescriptorBytes;
    const std::size_t held =
        (answer.size() - kPerformanceHeaderBytes) / kPerformanceDescriptorBytes;
    return static_cast<uint32_t>(std::min<std::size_t>(announced, held));
}

bool ParseLastPerformance(Answer answer, PerformanceDescriptor* out) {
    const uint32_t n = PerformanceDescriptorCount(answer);
    if (n == 0) return false;
    const uint8_t* d =
        answer.data() + kPerformanceHeaderBytes + kPerformanceDescriptorBytes * (n - 1);
    out->startLba = GetBe32(d);
    out->startPerformance = GetBe32(d + 4);
    out->endLba = GetBe32(d + 8);
    out->endPerformance = GetBe32(d + 12);
    return true;
}

void ParseWriteSpeeds(Answer answer, uint32_t* speeds, uint32_t capacityBytes, int write) {
    const uint32_t n = std::min(PerformanceDescriptorCount(answer), capacityBytes / 4);
    const std::size_t speedOffset = write ? 12 : 8;
    uint32_t appended = 0;
    for (uint32_t i = 0; i < n; ++i) {
        const uint8_t* d =
            answer.data() + kPerformanceHeaderBytes + kPerformanceDescriptorBytes * i;
        const uint32_t speed = GetBe32(d + speedOffset);
        if (appended > 0) {
            const uint32_t last = speeds[appended - 1];
            const uint32_t gap = speed > last ? speed - last : last - speed;
            if (gap < kSpeedDvd1x) continue;
        }
        speeds[appended++] = speed;
    }
}

int Mmc_GetPerformance(RecHandle* h, int write, PerformanceDescriptor* out) {
    PerformanceAnswer answer;
    const uint8_t byte1 = static_cast<uint8_t>(kNominalPerformance | (write ? 1 : 0) << 2);
    if (!ReadPerformance(h, byte1, kTypePerformance, answer)) return 0;
    PerformanceDescriptor last;
    if (!ParseLastPerformance(answer.view(), &last)) return 0;
    if (out) *out = last;
    return 1;
}

int Mmc_GetWriteSpeeds(RecHandle* h, uint32_t* speeds, uint32_t capacityBytes, int write) {
    PerformanceAnswer answer;
    if (!ReadPerformance(h, 0x00, kTypeWriteSpeed, answer)) return 0;
    if (speeds) ParseWriteSpeeds(answer.view(), speeds, capacityBytes, write);
    return 1;
}

void BuildStreamingDescriptor(uint8_t* d, uint32_t readSpeed, uint32_t writeSpeed) {
    std::fill(d, d + kStreamingDescriptorBytes, uint8_t{0});
    PutBe32(d + 4, 0);           // start LBA
    PutBe32(d + 8, 0xFFFFFFFFu); // end LBA: the whole disc
    PutBe32(d + 12, readSpeed);  // read size, kB
    PutBe32(d + 16, kStreamingTimeMs);
    PutBe32(d + 20, writeSpeed); // write size, kB
    PutBe32(d + 24, kStreamingTimeMs);
}

int Mmc_SetSpeed(RecHandle* h, uint32_t readSpeed, uint32_t writeSpeed) {
    uint8_t descriptor[kStreamingDescriptorBytes];
    BuildStreamingDescriptor(descriptor, readSpeed, writeSpeed);
    CommandRecord command = NewCommand(kOpSetStreaming, 12, kDirectionOut);
    PutBe16(command.cdb + 9, kStreamingDescriptorBytes);
    return Mmc_Execute(h, &command, descriptor, kStreamingDescriptorBytes);
}

} // namespace tvx
