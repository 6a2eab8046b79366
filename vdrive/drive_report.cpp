#include "vdrive/drive_report.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace tvx::vdrive {

namespace {

// Questions only: nothing here writes, reserves, closes, blanks, formats, calibrates, sends a
// disc structure or flushes the cache.
constexpr std::array<uint8_t, 15> kQuestions = {
    0x00, // TEST UNIT READY
    0x03, // REQUEST SENSE
    0x12, // INQUIRY
    0x23, // READ FORMAT CAPACITIES
    0x25, // READ CAPACITY
    0x28, // READ(10)
    0x46, // GET CONFIGURATION
    0x4A, // GET EVENT STATUS NOTIFICATION
    0x51, // READ DISC INFORMATION
    0x52, // READ TRACK INFORMATION
    0x5A, // MODE SENSE(10)
    0x5C, // READ BUFFER CAPACITY
    0xA8, // READ(12)
    0xAC, // GET PERFORMANCE
    0xAD, // READ DISC STRUCTURE
};

const char* OutcomeName(ScsiOutcome outcome) {
    switch (outcome) {
    case ScsiOutcome::Completed:
        return "completed";
    case ScsiOutcome::TransportFailed:
        return "transport-failed";
    case ScsiOutcome::TimedOut:
        return "timed-out";
    }
    return "completed";
}

// The value of "key": in one line of the report ("" when absent); strings lose their quotes.
std::string Field(const std::string& line, const std::string& key) {
    std::string pattern = "\"" + key + "\":";
    size_t at = line.find(pattern);
    if (at == std::string::npos) return "";
    at += pattern.size();
    if (at < line.size() && line[at] == '"') {
        size_t end = line.find('"', at + 1);
        return end == std::string::npos ? "" : line.substr(at + 1, end - at - 1);
    }
    size_t end = line.find_first_of(",}", at);
    return line.substr(at, end == std::string::npos ? std::string::npos : end - at);
}

} // namespace

bool IsDriveQuestion(uint8_t opcode) {
    return std::find(kQuestions.begin(), kQuestions.end(), opcode) != kQuestions.end();
}

std::string Hex(const std::vector<uint8_t>& bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string text;
    text.reserve(bytes.size() * 2);
    for (uint8_t b : bytes) {
        text += digits[b >> 4];
        text += digits[b & 15];
    }
    return text;
}

bool FromHex(const std::string& text, std::vector<uint8_t>& bytes) {
    if (text.size() % 2) return false;
    bytes.clear();
    for (size_t i = 0; i < text.size(); i += 2) {
        char pair[3] = {text[i], text[i + 1], 0};
        char* end = nullptr;
        long v = std::strtol(pair, &end, 16);
        if (end != pair + 2) return false;
        bytes.push_back(static_cast<uint8_t>(v));
    }
    return true;
}

std::string ExchangesJson(const std::vector<Exchange>& exchanges) {
    std::string text = "[\n";
    for (size_t i = 0; i < exchanges.size(); ++i) {
        const Exchange& e = exchanges[i];
        char numbers[160];
        std::snprintf(numbers, sizeof numbers,
                      "\"requested\":%u,\"outcome\":\"%s\",\"status\":%u,\"transferred\":%u,"
                      "\"ms\":%u",
                      e.requested, OutcomeName(e.outcome), e.status, e.transferred, e.elapsedMs);
        text += "  {\"name\":\"" + e.name + "\",\"cdb\":\"" + Hex(e.cdb) + "\"," + numbers +
                ",\"sense\":\"" + Hex(e.sense) + "\",\"data\":\"" + Hex(e.data) + "\"";
        if (!e.transport.empty()) text += ",\"transport\":" + e.transport;
        text += "}";
        text += i + 1 < exchanges.size() ? ",\n" : "\n";
    }
    return text + "]";
}

bool ParseExchanges(const std::string& report, std::vector<Exchange>& exchanges,
                    std::string& error) {
    exchanges.clear();
    if (report.find("\"format\":" + std::to_string(kReportFormat)) == std::string::npos) {
        error = "not a drive report of format " + std::to_string(kReportFormat);
        return false;
    }
    size_t start = 0;
    while (start < report.size()) {
        size_t end = report.find('\n', start);
        std::string line = report.substr(start, end == std::string::npos ? end : end - start);
        start = end == std::string::npos ? report.size() : end + 1;
        if (line.find("{\"name\":") == std::string::npos) continue;
        Exchange e;
        e.name = Field(line, "name");
        std::string outcome = Field(line, "outcome");
        e.outcome = outcome == "transport-failed" ? ScsiOutcome::TransportFailed
                    : outcome == "timed-out"      ? ScsiOutcome::TimedOut
                                                  : ScsiOutcome::Completed;
        e.requested =
            static_cast<uint32_t>(std::strtoul(Field(line, "requested").c_str(), nullptr, 10));
        e.status = static_cast<uint8_t>(std::strtoul(Field(line, "status").c_str(), nullptr, 10));
        e.transferred =
            static_cast<uint32_t>(std::strtoul(Field(line, "transferred").c_str(), nullptr, 10));
        e.elapsedMs = static_cast<uint32_t>(std::strtoul(Field(line, "ms").c_str(), nullptr, 10));
        if (!FromHex(Field(line, "cdb"), e.cdb) || e.cdb.empty() || e.cdb.size() > 16 ||
            !FromHex(Field(line, "sense"), e.sense) || e.sense.size() > 32 ||
            !FromHex(Field(line, "data"), e.data)) {
            error = "a command of the report is damaged: " + e.name;
            return false;
        }
        exchanges.push_back(std::move(e));
    }
    if (exchanges.empty()) {
        error = "the report holds no commands";
        return false;
    }
    return true;
}

bool LoadReport(const std::string& path, DriveReport& report, std::string& error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = "cannot read the drive report " + path;
        return false;
    }
    std::ostringstream text;
    text << in.rdbuf();
    if (!ParseExchanges(text.str(), report.commands, error)) {
        error = path + ": " + error;
        return false;
    }
    report.maxTransferBytes = static_cast<uint32_t>(
        std::strtoul(Field(text.str(), "maxTransferBytes").c_str(), nullptr, 10));
    report.bus = Field(text.str(), "bus");
    return true;
}

namespace {

const Exchange* Answered(const std::vector<Exchange>& commands, const char* name) {
    for (const Exchange& e : commands)
        if (e.name == name && e.outcome == ScsiOutcome::Completed && e.status == kScsiStatusGood)
            return &e;
    return nullptr;
}

uint32_t Be32At(const std::vector<uint8_t>& d, size_t at) {
    return d.size() < at + 4
               ? 0
               : static_cast<uint32_t>(d[at]) << 24 | d[at + 1] << 16 | d[at + 2] << 8 | d[at + 3];
}

} // namespace

uint16_t ReportedProfile(const std::vector<Exchange>& commands) {
    const Exchange* e = Answered(commands, "GET_CONFIGURATION");
    return e && e->data.size() >= 8 ? static_cast<uint16_t>(e->data[6] << 8 | e->data[7]) : 0;
}

uint32_t ReportedBlocks(const std::vector<Exchange>& commands) {
    // Track start (bytes 8-11) plus track size (24-27).
    const Exchange* e = Answered(commands, "READ_TRACK_INFORMATION_LAST");
    return e && e->data.size() >= 28 ? Be32At(e->data, 8) + Be32At(e->data, 24) : 0;
}

} // namespace tvx::vdrive
