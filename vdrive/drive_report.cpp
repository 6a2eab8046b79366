#include "vdrive/drive_report.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>

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

namespace {

using Json = nlohmann::json;

// A report larger than this is no drive report: a probe writes about 25 KB.
constexpr uint64_t kMaxReportBytes = 16u << 20;

// The unsigned whole number under key, at most max; false with the reason when it is missing
// (and required) or of another type.
bool Number(const Json& object, const char* key, uint64_t max, bool required, uint64_t& value,
            std::string& why) {
    const auto it = object.find(key);
    if (it == object.end()) {
        value = 0;
        if (!required) return true;
        why = std::string("it has no \"") + key + "\"";
        return false;
    }
    if (!it->is_number_unsigned() || it->get<uint64_t>() > max) {
        why = std::string("its \"") + key + "\" is not a whole number from 0 to " +
              std::to_string(max);
        return false;
    }
    value = it->get<uint64_t>();
    return true;
}

bool Text(const Json& object, const char* key, std::string& value, std::string& why) {
    const auto it = object.find(key);
    if (it == object.end() || !it->is_string()) {
        why = std::string("its \"") + key + "\" is " +
              (it == object.end() ? "missing" : "not a text");
        return false;
    }
    value = it->get<std::string>();
    return true;
}

bool HexField(const Json& object, const char* key, size_t maxBytes, std::vector<uint8_t>& bytes,
              std::string& why) {
    std::string text;
    if (!Text(object, key, text, why)) return false;
    if (!FromHex(text, bytes) || bytes.size() > maxBytes) {
        why = std::string("its \"") + key + "\" is not hexadecimal bytes" +
              (maxBytes == SIZE_MAX ? "" : " (at most " + std::to_string(maxBytes) + ")");
        return false;
    }
    return true;
}

bool ParseExchange(const Json& item, Exchange& e, std::string& why) {
    if (!item.is_object()) {
        why = "it is not an object";
        return false;
    }
    std::string outcome;
    uint64_t requested = 0, status = 0, transferred = 0, ms = 0;
    if (!Text(item, "name", e.name, why) || !HexField(item, "cdb", 16, e.cdb, why) ||
        !Number(item, "requested", UINT32_MAX, true, requested, why) ||
        !Text(item, "outcome", outcome, why) || !Number(item, "status", 255, true, status, why) ||
        !HexField(item, "sense", 32, e.sense, why) ||
        !Number(item, "transferred", UINT32_MAX, true, transferred, why) ||
        !Number(item, "ms", UINT32_MAX, false, ms, why) ||
        !HexField(item, "data", SIZE_MAX, e.data, why))
        return false;
    if (e.cdb.empty()) {
        why = "its \"cdb\" is empty";
        return false;
    }
    if (outcome == "completed")
        e.outcome = ScsiOutcome::Completed;
    else if (outcome == "transport-failed")
        e.outcome = ScsiOutcome::TransportFailed;
    else if (outcome == "timed-out")
        e.outcome = ScsiOutcome::TimedOut;
    else {
        why =
            "its \"outcome\" \"" + outcome + "\" is none of completed, transport-failed, timed-out";
        return false;
    }
    e.requested = static_cast<uint32_t>(requested);
    e.status = static_cast<uint8_t>(status);
    e.transferred = static_cast<uint32_t>(transferred);
    e.elapsedMs = static_cast<uint32_t>(ms);
    return true;
}

// The report from its text, whatever its layout (one command a line as the probe writes it, or
// re-indented or compacted by a JSON tool).
bool ParseReport(const std::string& text, DriveReport& report, std::string& error) {
    report = DriveReport{};
    Json doc;
    try {
        doc = Json::parse(text);
    } catch (const Json::exception& e) {
        // "[json.exception.parse_error.101] parse error at line 3, column 2: ..." without the id.
        std::string what = e.what();
        const size_t id = what.find("] ");
        error = "not JSON: " + (id == std::string::npos ? what : what.substr(id + 2));
        return false;
    }
    if (!doc.is_object()) {
        error = "not a drive report: it is no JSON object";
        return false;
    }
    const auto format = doc.find("format");
    if (format == doc.end()) {
        error = "not a drive report: it has no \"format\"";
        return false;
    }
    if (!format->is_number_integer() || format->get<int64_t>() != kReportFormat) {
        error = "a drive report of format " + format->dump() + "; this program reads format " +
                std::to_string(kReportFormat);
        return false;
    }
    const auto commands = doc.find("commands");
    if (commands == doc.end() || !commands->is_array()) {
        error = "its \"commands\" is not a list";
        return false;
    }
    if (commands->empty()) {
        error = "the report holds no commands";
        return false;
    }
    report.commands.reserve(commands->size());
    for (size_t i = 0; i < commands->size(); ++i) {
        Exchange e;
        std::string why;
        if (!ParseExchange((*commands)[i], e, why)) {
            error = "command " + std::to_string(i + 1) +
                    (e.name.empty() ? "" : " (" + e.name + ")") + " is damaged: " + why;
            return false;
        }
        report.commands.push_back(std::move(e));
    }
    const auto path = doc.find("path");
    if (path != doc.end()) {
        uint64_t maxTransfer = 0;
        std::string why;
        if (!path->is_object() ||
            !Number(*path, "maxTransferBytes", UINT32_MAX, false, maxTransfer, why) ||
            (path->contains("bus") && !Text(*path, "bus", report.bus, why))) {
            error = "its \"path\" is damaged: " + (why.empty() ? "it is not an object" : why);
            return false;
        }
        report.maxTransferBytes = static_cast<uint32_t>(maxTransfer);
    }
    return true;
}

} // namespace

bool ParseExchanges(const std::string& text, std::vector<Exchange>& exchanges, std::string& error) {
    DriveReport report;
    exchanges.clear();
    if (!ParseReport(text, report, error)) return false;
    exchanges = std::move(report.commands);
    return true;
}

bool LoadReport(const std::string& path, DriveReport& report, std::string& error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = "cannot read the drive report " + path;
        return false;
    }
    // Read piece by piece and no further than a report may hold: a huge file is refused early.
    std::string text;
    char piece[65536];
    while (in.read(piece, sizeof piece) || in.gcount() > 0) {
        text.append(piece, static_cast<size_t>(in.gcount()));
        if (text.size() > kMaxReportBytes) {
            error = path + ": larger than the " + std::to_string(kMaxReportBytes >> 20) +
                    " MiB a drive report may hold";
            return false;
        }
    }
    if (in.bad()) {
        error = "cannot read the drive report " + path;
        return false;
    }
    if (!ParseReport(text, report, error)) {
        error = path + ": " + error;
        return false;
    }
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

bool ReportedDiscWritten(const std::vector<Exchange>& commands) {
    const uint16_t profile = ReportedProfile(commands);
    // A pressed disc always holds content.
    if (profile == 0x08 || profile == 0x10 || profile == 0x40) return true;
    // Media written in place report themselves complete once formatted, whatever they hold.
    static const uint16_t kSequential[] = {0x11, 0x14, 0x15, 0x16, 0x1B, 0x2B};
    if (std::find(std::begin(kSequential), std::end(kSequential), profile) == std::end(kSequential))
        return false;
    const Exchange* e = Answered(commands, "READ_DISC_INFORMATION");
    return e && e->data.size() > 2 && (e->data[2] & 3) != 0;
}

uint32_t ReportedBlocks(const std::vector<Exchange>& commands) {
    // Track start (bytes 8-11) plus track size (24-27).
    const Exchange* e = Answered(commands, "READ_TRACK_INFORMATION_LAST");
    return e && e->data.size() >= 28 ? Be32At(e->data, 8) + Be32At(e->data, 24) : 0;
}

} // namespace tvx::vdrive
