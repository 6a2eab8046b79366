#include "recording_fixture.h"

#include "platform/clock.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <functional>
#include <random>

namespace tvx::test {

namespace {

std::vector<EventLog*>& Logs() {
    static std::vector<EventLog*> logs;
    return logs;
}

} // namespace

int EventLog::count(int32_t type) const {
    return static_cast<int>(std::count_if(
        events.begin(), events.end(), [type](const ProgressEvent& e) { return e.type == type; }));
}

int32_t TVX_CALL LogEvent(int32_t type, uint32_t* data, int32_t userData) {
    EventLog* log = Logs().at(static_cast<size_t>(userData));
    log->events.push_back({type, data[0], data[1]});
    if (log->onEvent) log->onEvent(log->events.back());
    if (type == log->stopAtType && ++log->seenOfStopType >= log->stopAtNth) return 0;
    return 1;
}

RecordingTest::RecordingTest(vdrive::DriveModel model) {
    sim->setCurrentFileTime(133000000000000000ull);
    drive = std::make_unique<vdrive::VirtualRecorder>(sim->virtualClock(), std::move(model));
    drive->setTraceEnabled(true);
    handle = transport.open(*drive);
    const vdrive::DriveModel& m = drive->model();
    std::snprintf(handle->driveInfo.vendor, sizeof handle->driveInfo.vendor, "%s",
                  m.vendor.c_str());
    std::snprintf(handle->driveInfo.product, sizeof handle->driveInfo.product, "%s",
                  m.product.c_str());
}

RecordingTest::~RecordingTest() {
    auto& logs = Logs();
    logs.erase(std::remove(logs.begin(), logs.end(), &log), logs.end());
}

int32_t RecordingTest::logData() {
    auto& logs = Logs();
    auto it = std::find(logs.begin(), logs.end(), &log);
    if (it != logs.end()) return static_cast<int32_t>(it - logs.begin());
    logs.push_back(&log);
    return static_cast<int32_t>(logs.size() - 1);
}

void RecordingTest::insertBlank(vdrive::MediumKind kind, uint32_t capacity, bool backed) {
    if (drive->hasDisc()) drive->removeDisc();
    if (drive->trayOpen()) drive->closeTray();
    ASSERT_TRUE(drive->insertBlank(kind, capacity, backed ? backingFile() : std::string()));
}

std::string TokenOf(const vdrive::TraceEntry& e) {
    const uint8_t* c = e.cdb;
    switch (e.opcode()) {
    case 0x00:
        return "TUR";
    case 0x03:
        return "SENSE";
    case 0x04:
        return "FORMAT";
    case 0x1B: {
        int loadStart = c[4] & 3;
        std::string name = loadStart == 1 ? "START" : loadStart == 2 ? "EJECT" : "LOAD";
        return (c[1] & 1) ? name + "I" : name;
    }
    case 0x1E:
        return (c[4] & 1) ? "PREVENT1" : "PREVENT0";
    case 0x23:
        return "RFC";
    case 0x25:
        return "RCAP";
    case 0x28:
        return "READ10";
    case 0x2A:
        return "WRITE";
    case 0xAA:
        return (c[10] & 0x80) ? "WRITE12S" : "WRITE12";
    case 0x5D:
        return "CUE";
    case 0x35:
        return (c[1] & 2) ? "SYNCI" : "SYNC";
    case 0x46:
        return "CONFIG";
    case 0x4A:
        return "EVENT";
    case 0x51:
        return "RDI";
    case 0x52:
        return "RTI";
    case 0x53:
        return "RESERVE";
    case 0x55:
        return "SELECT";
    case 0x5A:
        return "MSENSE";
    case 0x5B:
        return "CLOSE" + std::to_string(c[2] & 7) + "/" + std::to_string(c[4] << 8 | c[5]);
    case 0xA1:
        return "BLANK" + std::to_string(c[1] & 7);
    case 0xA8:
        return "READ12";
    case 0xAC:
        return "PERF";
    case 0xAD:
        return "RDS";
    case 0xB6:
        return "STREAM";
    default: {
        char text[8];
        std::snprintf(text, sizeof text, "OP%02X", e.opcode());
        return text;
    }
    }
}

std::vector<std::string> RecordingTest::traceTokens(size_t from) const {
    std::vector<std::string> tokens;
    const auto& trace = drive->trace();
    for (size_t i = from; i < trace.size(); ++i)
        tokens.push_back(TokenOf(trace[i]));
    return tokens;
}

std::string RecordingTest::traceText(size_t from) const {
    std::string text;
    for (const std::string& t : traceTokens(from))
        text += t + " ";
    return text;
}

size_t RecordingTest::countToken(const std::string& token) const {
    std::vector<std::string> tokens = traceTokens();
    return static_cast<size_t>(std::count(tokens.begin(), tokens.end(), token));
}

bool RecordingTest::removalAllowedAtEnd() const {
    bool locked = false;
    for (const auto& e : drive->trace()) {
        if (e.opcode() != 0x1E || e.status != 0) continue;
        locked = (e.cdb[4] & 1) != 0;
    }
    return !locked;
}

uint64_t RecordingTest::nowMs() {
    return sim->virtualClock().nowMs();
}

std::string RecordingTest::makeFile(const std::string& relative, size_t size) const {
    std::string content(size, '\0');
    std::mt19937 random(static_cast<uint32_t>(std::hash<std::string>()(relative)));
    for (char& c : content)
        c = static_cast<char>(random());
    return dir.write(relative, content);
}

} // namespace tvx::test
