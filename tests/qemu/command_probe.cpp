// Sends a fixed list of MMC commands to the first drive and prints each answer in hex, so the
// answers of two drive implementations to the same disc can be put side by side: a drive inside
// the guest (no argument: QEMU's emulated drive or CDEmu's writer) and our virtual recorder with
// the same medium (--virtual IMAGE: the disc image loaded as a DVD-ROM, --virtual-cd IMAGE: as a
// CD-ROM; --blank KIND: a blank disc such as DVD+R; --disc IMAGE: a disc the virtual recorder
// wrote, with its state file; --skip NAME: the drive in the guest, leaving out one command).
#include "torvexin.h"

#include "mmc/execute.h"
#include "platform/sim/sim_host.h"
#include "transport/rec_handle.h"
#include "vdrive/virtual_recorder.h"

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

struct Probe {
    const char* name;
    std::vector<uint8_t> cdb;
    uint32_t length;               // data in
    uint32_t showBytes;            // bytes printed
    std::vector<uint8_t> out = {}; // data out (WRITE, MODE SELECT)
};

// A write parameters page asking for session-at-once, as the recording engine sends it.
std::vector<uint8_t> SessionAtOncePage() {
    std::vector<uint8_t> d(8 + 52, 0);
    d[1] = 8 + 52 - 2;
    d[8] = 0x05;
    d[9] = 0x32;
    d[10] = 0x42; // buffer underrun protection, session-at-once
    d[12] = 0x08; // mode 1 data blocks
    return d;
}

std::vector<Probe> probes() {
    return {
        {"INQUIRY", {0x12, 0, 0, 0, 96, 0}, 96, 96},
        {"TEST_UNIT_READY", {0x00, 0, 0, 0, 0, 0}, 0, 0},
        {"GET_CONFIGURATION_RT0", {0x46, 0x00, 0, 0, 0, 0, 0, 0x01, 0x00, 0}, 256, 256},
        {"GET_CONFIGURATION_RT2_0000", {0x46, 0x02, 0, 0, 0, 0, 0, 0, 128, 0}, 128, 64},
        {"GET_CONFIGURATION_RT2_001F", {0x46, 0x02, 0, 0x1F, 0, 0, 0, 0, 128, 0}, 128, 32},
        {"READ_CAPACITY", {0x25, 0, 0, 0, 0, 0, 0, 0, 0, 0}, 8, 8},
        {"READ_DISC_INFORMATION", {0x51, 0, 0, 0, 0, 0, 0, 0, 34, 0}, 34, 34},
        {"READ_TRACK_INFORMATION_1", {0x52, 0x01, 0, 0, 0, 1, 0, 0, 40, 0}, 40, 40},
        {"READ_TRACK_INFORMATION_FF", {0x52, 0x01, 0, 0, 0, 0xFF, 0, 0, 40, 0}, 40, 40},
        {"READ_TRACK_INFORMATION_LBA0", {0x52, 0x00, 0, 0, 0, 0, 0, 0, 40, 0}, 40, 40},
        {"GET_CONFIGURATION_RT2_002B", {0x46, 0x02, 0, 0x2B, 0, 0, 0, 0, 64, 0}, 64, 24},
        {"GET_CONFIGURATION_RT2_0021", {0x46, 0x02, 0, 0x21, 0, 0, 0, 0, 64, 0}, 64, 24},
        {"GET_CONFIGURATION_RT2_0107", {0x46, 0x02, 0x01, 0x07, 0, 0, 0, 0, 64, 0}, 64, 24},
        {"READ_DISC_STRUCTURE_00", {0xAD, 0, 0, 0, 0, 0, 0, 0x00, 0x08, 0x04, 0, 0}, 2052, 24},
        {"READ_DISC_STRUCTURE_01", {0xAD, 0, 0, 0, 0, 0, 0, 0x01, 0, 8, 0, 0}, 8, 8},
        {"EVENT_STATUS_MEDIA", {0x4A, 0x01, 0, 0, 0x10, 0, 0, 0, 8, 0}, 8, 8},
        {"EVENT_STATUS_OPERATIONAL", {0x4A, 0x01, 0, 0, 0x02, 0, 0, 0, 8, 0}, 8, 8},
        {"READ10_16", {0x28, 0, 0, 0, 0, 16, 0, 0, 1, 0}, 2048, 16},
        {"READ12_16", {0xA8, 0, 0, 0, 0, 16, 0, 0, 0, 1, 0x80, 0}, 2048, 16},
        {"GET_PERFORMANCE_READ", {0xAC, 0x10, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0}, 24, 24},
        {"GET_PERFORMANCE_WRITE", {0xAC, 0x14, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0}, 24, 24},
        {"GET_PERFORMANCE_SPEEDS", {0xAC, 0x00, 0, 0, 0, 0, 0, 0, 0, 4, 0x03, 0}, 72, 72},
        {"MODE_SENSE_2A", {0x5A, 0, 0x2A, 0, 0, 0, 0, 0, 64, 0}, 64, 64},
        {"MODE_SENSE_05", {0x5A, 0, 0x05, 0, 0, 0, 0, 0, 60, 0}, 60, 60},
        {"MODE_SENSE_05_CHANGEABLE", {0x5A, 0, 0x45, 0, 0, 0, 0, 0, 60, 0}, 60, 60},
        {"MODE_SELECT_05_SAO", {0x55, 0x10, 0, 0, 0, 0, 0, 0, 60, 0}, 0, 0, SessionAtOncePage()},
        {"READ_FORMAT_CAPACITIES", {0x23, 0, 0, 0, 0, 0, 0, 0, 252, 0}, 252, 20},
        {"READ10_PAST_END", {0x28, 0, 0x7F, 0xFF, 0xFF, 0x00, 0, 0, 1, 0}, 2048, 0},
        {"WRITE10_ON_ROM", {0x2A, 0, 0, 0, 0, 16, 0, 0, 1, 0}, 0, 0},
        {"UNKNOWN_OPCODE_FF", {0xFF, 0, 0, 0, 0, 0}, 0, 0},
        {"REQUEST_SENSE", {0x03, 0, 0, 0, 18, 0}, 18, 18},
    };
}

void run(tvx::RecHandle* h, const std::string& skip) {
    for (const auto& p : probes()) {
        if (skip == p.name) {
            std::printf("PROBE %-28s SKIPPED\n", p.name);
            continue;
        }
        tvx::CommandRecord cmd;
        cmd.timeout = 20;
        cmd.cdbLength = static_cast<uint8_t>(p.cdb.size());
        std::memcpy(cmd.cdb, p.cdb.data(), p.cdb.size());
        std::vector<uint8_t> data(p.length ? p.length : 2048, 0);
        std::vector<uint8_t> out = p.out;
        if (p.cdb[0] == 0x2A) out.assign(2048, 0);
        bool isWrite = !out.empty();
        if (isWrite) data = out;
        cmd.direction = isWrite    ? tvx::kDirectionOut
                        : p.length ? tvx::kDirectionIn
                                   : tvx::kDirectionNone;
        uint32_t length = isWrite ? static_cast<uint32_t>(out.size()) : p.length;
        int ok = tvx::Mmc_Execute(h, &cmd, length ? data.data() : nullptr, length);
        const uint8_t* sense = tvx::Front_GetSense(h->device);
        std::printf("PROBE %-28s %s", p.name, ok ? "GOOD" : "CHECK");
        if (!ok && sense) std::printf(" %X/%02X/%02X", sense[2] & 0x0F, sense[12], sense[13]);
        if (ok && p.showBytes) {
            std::printf(" ");
            for (uint32_t i = 0; i < p.showBytes; ++i)
                std::printf("%02x", data[i]);
        }
        std::printf("\n");
    }
}

} // namespace

int main(int argc, char** argv) {
    std::unique_ptr<tvx::SimHost> sim;
    std::unique_ptr<tvx::vdrive::VirtualRecorder> recorder;
    std::string skip;
    if (argc == 3 && std::string(argv[1]) == "--skip") {
        skip = argv[2]; // a command that would upset the drive under test
    } else if (argc == 3) {
        sim = std::make_unique<tvx::SimHost>();
        recorder = std::make_unique<tvx::vdrive::VirtualRecorder>(sim->virtualClock());
        const std::string option = argv[1], value = argv[2];
        tvx::vdrive::MediumKind kind = tvx::vdrive::MediumKind::None;
        bool loaded =
            option == "--virtual"      ? recorder->loadImage(value, tvx::vdrive::MediumKind::DvdRom)
            : option == "--virtual-cd" ? recorder->loadImage(value, tvx::vdrive::MediumKind::CdRom)
            : option == "--disc"       ? recorder->openDisc(value)
            : option == "--blank"
                ? tvx::vdrive::MediumFromName(value, kind) && recorder->insertBlank(kind)
                : false;
        if (!loaded) {
            std::fprintf(stderr, "cannot load %s %s\n", argv[1], argv[2]);
            return 2;
        }
        sim->addDrive('D', tvx::DRIVE_CDROM, recorder.get());
        tvx::setHost(sim.get());
    }
    if (TVX_Initialize() != 1 || TVX_GetDriveCount() < 1) {
        std::fprintf(stderr, "no drive\n");
        return 1;
    }
    TVX_RecHandle h = TVX_OpenRecHandle(0);
    if (!h) return 1;
    run(h, skip);
    TVX_CloseRecHandle(h);
    TVX_Terminate();
    tvx::setHost(nullptr);
    return 0;
}
