// A drive report as `tvx probe` writes it: the commands it sent and the drive's raw answers.
// The report is JSON with one command object a line in its "commands" array; this is the one
// place that writes and reads that array, so the probe and the replay agree on it. Reading takes
// any JSON layout of it.
#pragma once

#include "platform/scsi_target.h"

#include <cstdint>
#include <string>
#include <vector>

namespace tvx::vdrive {

// The report's format version (its "format" field); raised when a field changes meaning.
inline constexpr int kReportFormat = 1;

// The questions a report may hold: commands that change neither the disc nor the drive's
// settings. Everything else (writing, reserving, closing, blanking, formatting, calibrating,
// sending disc structures, flushing, selecting pages) is not one.
bool IsDriveQuestion(uint8_t opcode);

// One command and the drive's answer.
struct Exchange {
    std::string name; // what was asked, e.g. "MODE_SENSE_05_CHANGEABLE"
    std::vector<uint8_t> cdb;
    uint32_t requested = 0; // data-in bytes asked for
    ScsiOutcome outcome = ScsiOutcome::Completed;
    uint8_t status = 0;
    std::vector<uint8_t> sense;
    uint32_t transferred = 0;
    std::vector<uint8_t> data; // the answer's bytes (READs keep only their start)
    uint32_t elapsedMs = 0;
    // What the path to the drive said of the command (a JSON object, written as it is); empty
    // when the prober's path keeps nothing of the kind. Not read back: a replay makes its own.
    std::string transport;
};

// The exchanges as the report's "commands" array, one object a line.
std::string ExchangesJson(const std::vector<Exchange>& exchanges);
// Reads them back from a report's text (any JSON layout); false with a message when it is not
// one: not JSON, another format, a command with a missing field or a field of another type.
bool ParseExchanges(const std::string& report, std::vector<Exchange>& exchanges,
                    std::string& error);
// A report file as the replay needs it.
struct DriveReport {
    std::vector<Exchange> commands;
    uint32_t maxTransferBytes = 0; // of the path to the drive; 0: not known
    std::string bus;               // "ata", "scsi", "usb", "firewire", "other"; empty: not told
};
// The current profile of the reported disc (0: none), and the blocks its last track spans from
// the disc's start (0: not told): what a recorder replaying it needs to hold.
uint16_t ReportedProfile(const std::vector<Exchange>& commands);
uint32_t ReportedBlocks(const std::vector<Exchange>& commands);
// Whether the reported disc held content (a pressed disc, or a write-once or sequential disc that
// was not blank): content that the report does not keep.
bool ReportedDiscWritten(const std::vector<Exchange>& commands);
// Reads a report file of at most 16 MiB; false with a message naming it.
bool LoadReport(const std::string& path, DriveReport& report, std::string& error);

std::string Hex(const std::vector<uint8_t>& bytes);
bool FromHex(const std::string& text, std::vector<uint8_t>& bytes);

} // namespace tvx::vdrive
