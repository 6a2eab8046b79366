#include "probe.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>

namespace tvxprobe {

using namespace tvx::vdrive;

namespace {

constexpr uint32_t kTimeoutSeconds = 20;
constexpr uint8_t kModeSelect10 = 0x55;
constexpr uint32_t kLargestAnswer = 65534; // two-byte allocation lengths

uint16_t Be16(const std::vector<uint8_t>& d, size_t at) {
    return d.size() < at + 2 ? 0 : static_cast<uint16_t>(d[at] << 8 | d[at + 1]);
}
uint32_t Be32(const std::vector<uint8_t>& d, size_t at) {
    return d.size() < at + 4
               ? 0
               : static_cast<uint32_t>(d[at]) << 24 | d[at + 1] << 16 | d[at + 2] << 8 | d[at + 3];
}
void PutBe16(std::vector<uint8_t>& cdb, size_t at, uint32_t v) {
    cdb[at] = static_cast<uint8_t>(v >> 8);
    cdb[at + 1] = static_cast<uint8_t>(v);
}

class Prober {
  public:
    Prober(tvx::ScsiTarget& drive, const ProbeOptions& options)
        : drive_(drive), options_(options) {}

    const Exchange& ask(const char* name, std::vector<uint8_t> cdb, uint32_t length,
                        uint32_t kept = UINT32_MAX) {
        std::vector<uint8_t> buffer(length, 0);
        Exchange e = send(name, std::move(cdb), buffer, tvx::DataDirection::FromDevice);
        e.requested = length;
        e.transferred = std::min(e.transferred, length);
        e.data.assign(buffer.begin(), buffer.begin() + std::min(e.transferred, kept));
        exchanges_.push_back(std::move(e));
        return exchanges_.back();
    }

    // MODE SELECT(10) of a parameter list; the list is kept as the exchange's data.
    const Exchange& select(const char* name, std::vector<uint8_t> list) {
        std::vector<uint8_t> cdb = {0x55, 0x10, 0, 0, 0, 0, 0, 0, 0, 0};
        PutBe16(cdb, 7, static_cast<uint32_t>(list.size()));
        Exchange e = send(name, std::move(cdb), list, tvx::DataDirection::ToDevice);
        e.transferred = 0;
        e.data = std::move(list);
        exchanges_.push_back(std::move(e));
        return exchanges_.back();
    }

    Exchange send(const char* name, std::vector<uint8_t> cdb, std::vector<uint8_t>& buffer,
                  tvx::DataDirection direction) {
        Exchange e;
        e.name = name;
        e.cdb = std::move(cdb);
        const bool selecting = e.cdb[0] == kModeSelect10 && options_.writeParameters;
        if (!ProbeAllowed(e.cdb[0]) && !selecting) {
            e.outcome = tvx::ScsiOutcome::TransportFailed;
            return e;
        }
        tvx::ScsiRequest request;
        request.cdb = e.cdb.data();
        request.cdbLength = static_cast<uint8_t>(e.cdb.size());
        request.direction = buffer.empty() ? tvx::DataDirection::None : direction;
        request.data = buffer.empty() ? nullptr : buffer.data();
        request.byteCount = static_cast<uint32_t>(buffer.size());
        request.timeoutSeconds = kTimeoutSeconds;
        auto start = std::chrono::steady_clock::now();
        tvx::ScsiResult r = drive_.execute(request);
        e.elapsedMs = static_cast<uint32_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                                std::chrono::steady_clock::now() - start)
                                                .count());
        e.outcome = r.outcome;
        e.status = r.status;
        e.sense.assign(r.sense, r.sense + std::min<uint32_t>(r.senseLength, sizeof r.sense));
        e.transferred = r.transferred;
        if (options_.transportFields) e.transport = options_.transportFields();
        return e;
    }

    // The library's page in, read back, the drive's own page back in, read back again.
    void writeParameters() {
        std::vector<uint8_t> sense = {0x5A, 0x08, 0x05, 0, 0, 0, 0, 0, 255, 0};
        const Exchange& current = ask("MODE_SENSE_05_BEFORE_SELECT", sense, 255);
        if (!good(current)) return;
        WriteParametersLists lists = options_.writeParameters(current.data);
        if (lists.select.empty()) return;
        const Exchange& sent = select("MODE_SELECT_05", std::move(lists.select));
        bool changed = good(sent);
        ask("MODE_SENSE_05_AFTER_SELECT", sense, 255);
        if (!changed) return;
        select("MODE_SELECT_05_RESTORE", std::move(lists.restore));
        ask("MODE_SENSE_05_AFTER_RESTORE", sense, 255);
    }

    bool good(const Exchange& e) const {
        return e.outcome == tvx::ScsiOutcome::Completed && e.status == tvx::kScsiStatusGood;
    }

    // The header first (headerBytes, allocation length at lengthAt), then exactly the length it
    // announces: the two-byte field at announcedAt plus what precedes it.
    void askTwice(const char* name, std::vector<uint8_t> cdb, size_t lengthAt, uint32_t headerBytes,
                  size_t announcedAt, uint32_t announcedWidth) {
        PutBe16(cdb, lengthAt, headerBytes);
        std::string headerName = std::string(name) + "_HEADER";
        const Exchange& header = ask(headerName.c_str(), cdb, headerBytes);
        if (!good(header)) return;
        uint32_t announced = announcedWidth == 4                ? Be32(header.data, announcedAt)
                             : announcedWidth == 2              ? Be16(header.data, announcedAt)
                             : header.data.size() > announcedAt ? header.data[announcedAt]
                                                                : 0;
        uint32_t total =
            std::min<uint32_t>(announced + announcedAt + announcedWidth, kLargestAnswer);
        PutBe16(cdb, lengthAt, total);
        ask(name, cdb, total);
    }

    void run() {
        ask("TEST_UNIT_READY", {0x00, 0, 0, 0, 0, 0}, 0);
        ask("INQUIRY", {0x12, 0, 0, 0, 96, 0}, 96);
        Exchange serial = ask("INQUIRY_VPD_80", {0x12, 0x01, 0x80, 0, 252, 0}, 252);
        if (!options_.withSerial && serial.data.size() > 4) {
            // The serial number names its owner's drive: blanks keep its length and nothing else.
            auto& kept = exchanges_.back().data;
            std::fill(kept.begin() + 4, kept.end(), ' ');
        }
        // Every feature: the header announces the length.
        askTwice("GET_CONFIGURATION", {0x46, 0x00, 0, 0, 0, 0, 0, 0, 0, 0}, 7, 8, 0, 4);
        ask("GET_CONFIGURATION_RT2_0000", {0x46, 0x02, 0, 0x00, 0, 0, 0, 0x01, 0x00, 0}, 256);
        ask("GET_CONFIGURATION_RT2_002F", {0x46, 0x02, 0, 0x2F, 0, 0, 0, 0, 64, 0}, 64);
        static const struct {
            const char* name;
            uint8_t dbd, pageControl;
        } modePages[] = {
            {"MODE_SENSE_05_CURRENT", 0x00, 0x00},        {"MODE_SENSE_05_CHANGEABLE", 0x00, 0x40},
            {"MODE_SENSE_05_DEFAULT", 0x00, 0x80},        {"MODE_SENSE_05_CURRENT_DBD", 0x08, 0x00},
            {"MODE_SENSE_05_CHANGEABLE_DBD", 0x08, 0x40}, {"MODE_SENSE_05_DEFAULT_DBD", 0x08, 0x80},
        };
        for (const auto& p : modePages)
            ask(p.name,
                {0x5A, p.dbd, static_cast<uint8_t>(p.pageControl | 0x05), 0, 0, 0, 0, 0, 255, 0},
                255);
        if (options_.writeParameters) writeParameters();
        ask("MODE_SENSE_2A", {0x5A, 0x00, 0x2A, 0, 0, 0, 0, 0x01, 0x00, 0}, 256);
        const Exchange& disc = ask("READ_DISC_INFORMATION", {0x51, 0, 0, 0, 0, 0, 0, 0, 34, 0}, 34);
        uint32_t lastTrack = 1;
        if (good(disc) && disc.data.size() >= 12)
            lastTrack = static_cast<uint32_t>(disc.data[11] << 8 | disc.data[6]);
        ask("READ_TRACK_INFORMATION_FIRST", {0x52, 0x01, 0, 0, 0, 1, 0, 0, 48, 0}, 48);
        ask("READ_TRACK_INFORMATION_LAST",
            {0x52, 0x01, 0, 0, static_cast<uint8_t>(lastTrack >> 8),
             static_cast<uint8_t>(lastTrack), 0, 0, 48, 0},
            48);
        askTwice("READ_FORMAT_CAPACITIES", {0x23, 0, 0, 0, 0, 0, 0, 0, 0, 0}, 7, 4, 3, 1);
        const Exchange& capacity = ask("READ_CAPACITY", {0x25, 0, 0, 0, 0, 0, 0, 0, 0, 0}, 8);
        bool discPresent = good(capacity) && Be32(capacity.data, 0) > 0;
        static const struct {
            const char* name;
            uint8_t format;
        } structures[] = {{"READ_DISC_STRUCTURE_00", 0x00},
                          {"READ_DISC_STRUCTURE_01", 0x01},
                          {"READ_DISC_STRUCTURE_10", 0x10},
                          {"READ_DISC_STRUCTURE_20", 0x20}};
        for (const auto& s : structures)
            askTwice(s.name, {0xAD, 0, 0, 0, 0, 0, 0, s.format, 0, 0, 0, 0}, 8, 4, 0, 2);
        ask("GET_PERFORMANCE_03", {0xAC, 0x00, 0, 0, 0, 0, 0, 0, 0, 16, 0x03, 0}, 8 + 16 * 16);
        ask("GET_PERFORMANCE_00_READ", {0xAC, 0x10, 0, 0, 0, 0, 0, 0, 0, 8, 0x00, 0}, 8 + 8 * 16);
        ask("GET_PERFORMANCE_00_WRITE", {0xAC, 0x14, 0, 0, 0, 0, 0, 0, 0, 8, 0x00, 0}, 8 + 8 * 16);
        ask("READ_BUFFER_CAPACITY", {0x5C, 0, 0, 0, 0, 0, 0, 0, 12, 0}, 12);
        ask("EVENT_STATUS_CLASSES", {0x4A, 0x01, 0, 0, 0x00, 0, 0, 0, 4, 0}, 4);
        ask("EVENT_STATUS_MEDIA", {0x4A, 0x01, 0, 0, 0x10, 0, 0, 0, 8, 0}, 8);
        if (discPresent) {
            ask("READ10_32K", {0x28, 0, 0, 0, 0, 0, 0, 0, 16, 0}, 32768, kReadKeptBytes);
            ask("READ10_64K", {0x28, 0, 0, 0, 0, 0, 0, 0, 32, 0}, 65536, kReadKeptBytes);
            ask("READ12_32K", {0xA8, 0, 0, 0, 0, 0, 0, 0, 0, 16, 0, 0}, 32768, kReadKeptBytes);
            ask("READ12_64K", {0xA8, 0, 0, 0, 0, 0, 0, 0, 0, 32, 0, 0}, 65536, kReadKeptBytes);
        }
    }

    std::vector<Exchange> exchanges_;

  private:
    tvx::ScsiTarget& drive_;
    ProbeOptions options_;
};

} // namespace

std::vector<Exchange> RunProbe(tvx::ScsiTarget& drive, const ProbeOptions& options) {
    Prober prober(drive, options);
    prober.run();
    return std::move(prober.exchanges_);
}

bool ProbeAllowed(uint8_t opcode) {
    return IsDriveQuestion(opcode);
}

} // namespace tvxprobe
