#include "vdrive/aspi_layer/layer_config.h"

#include "vdrive/behaviours.h"
#include "vdrive/drive_report.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace tvx::vdrive {

namespace {

constexpr const char* kKinds[] = {"dvd-r",  "dvd-rw",   "dvd-rw-ro", "dvd-ram", "dvd+r",
                                  "dvd+rw", "dvd+r-dl", "dvd-r-dl",  "dvd-rom", "cd-r",
                                  "cd-rw",  "bd-r",     "bd-r-dl",   "bd-re"};

std::vector<std::string> SplitList(const char* text) {
    std::vector<std::string> items;
    if (!text) return items;
    std::string item;
    for (const char* p = text;; ++p) {
        if (*p == kListSeparator || *p == 0) {
            if (!item.empty()) items.push_back(item);
            item.clear();
            if (*p == 0) break;
        } else {
            item += *p;
        }
    }
    return items;
}

bool ParseBlocks(const std::string& text, uint32_t& blocks) {
    if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos) return false;
    errno = 0;
    unsigned long long value = std::strtoull(text.c_str(), nullptr, 10);
    if (errno != 0 || value > 0xFFFFFFFFull) return false;
    blocks = static_cast<uint32_t>(value);
    return true;
}

constexpr char kReportPrefix[] = "report=";
constexpr size_t kReportPrefixLength = sizeof kReportPrefix - 1;

// The layer's kind for a reported disc's profile; a report without a disc (or with a disc of
// another family) is replayed in front of a pressed disc, whose answers the report overrides.
const char* KindOfProfile(uint16_t profile) {
    static const struct {
        uint16_t profile;
        const char* kind;
    } kinds[] = {{0x11, "dvd-r"},    {0x12, "dvd-ram"},  {0x13, "dvd-rw-ro"}, {0x14, "dvd-rw"},
                 {0x15, "dvd-r-dl"}, {0x16, "dvd-r-dl"}, {0x1A, "dvd+rw"},    {0x1B, "dvd+r"},
                 {0x2B, "dvd+r-dl"}, {0x09, "cd-r"},     {0x0A, "cd-rw"},     {0x41, "bd-r"},
                 {0x43, "bd-re"}};
    for (const auto& k : kinds)
        if (k.profile == profile) return k.kind;
    return "dvd-rom";
}

// "REPORT.json[+BEHAVIOUR...]": the disc's kind and size come from the report.
bool FromReport(const std::string& rest, LayerDriveRequest& request, std::string& error) {
    const size_t plus = rest.find('+');
    const std::string path = rest.substr(0, plus);
    DriveReport report;
    if (path.empty()) {
        error = "the drive report's file is missing";
        return false;
    }
    if (!LoadReport(path, report, error)) return false;
    request.kind = KindOfProfile(ReportedProfile(report.commands));
    request.capacity = ReportedBlocks(report.commands);
    request.behaviours.push_back("replay=" + path);
    for (size_t at = plus; at != std::string::npos;) {
        const size_t next = rest.find('+', at + 1);
        request.behaviours.push_back(
            rest.substr(at + 1, next == std::string::npos ? next : next - at - 1));
        at = next;
    }
    return true;
}

} // namespace

const char* LayerDriveKinds() {
    return "dvd-r, dvd-rw, dvd-rw-ro, dvd-ram, dvd+r, dvd+rw, dvd+r-dl, dvd-r-dl, dvd-rom, cd-r, "
           "cd-rw, bd-r, bd-r-dl, bd-re";
}

bool IsLayerDriveKind(const std::string& kind) {
    for (const char* k : kKinds)
        if (kind == k) return true;
    return false;
}

bool ParseDriveText(const std::string& text, LayerDriveRequest& request, std::string& error) {
    request = LayerDriveRequest{};
    request.image = text;
    size_t from = 0;
#if defined(_WIN32)
    // A drive letter's colon belongs to the image path.
    if (text.size() > 2 && std::isalpha(static_cast<unsigned char>(text[0])) && text[1] == ':' &&
        (text[2] == '\\' || text[2] == '/'))
        from = 2;
#endif
    size_t colon = text.find(':', from);
    if (colon != std::string::npos &&
        text.compare(colon + 1, kReportPrefixLength, kReportPrefix) == 0) {
        request.image = text.substr(0, colon);
        if (!FromReport(text.substr(colon + 1 + kReportPrefixLength), request, error)) {
            error += " in '" + text + "'";
            return false;
        }
    } else if (colon != std::string::npos) {
        request.image = text.substr(0, colon);
        std::string rest = text.substr(colon + 1);
        // Kinds hold '+' themselves: the longest one that the text starts with is meant.
        size_t kindEnd = rest.find_first_of(":+");
        size_t longest = 0;
        for (const char* k : kKinds) {
            const size_t n = std::strlen(k);
            if (n > longest && rest.compare(0, n, k) == 0 &&
                (rest.size() == n || rest[n] == ':' || rest[n] == '+'))
                longest = n;
        }
        if (longest != 0) kindEnd = longest;
        request.kind = rest.substr(0, kindEnd);
        rest = kindEnd == std::string::npos ? "" : rest.substr(kindEnd);
        const size_t plus = rest.find('+');
        if (!rest.empty() && rest[0] == ':' &&
            !ParseBlocks(rest.substr(1, plus == std::string::npos ? plus : plus - 1),
                         request.capacity)) {
            error = "bad block count in '" + text + "'";
            return false;
        }
        for (size_t at = plus; at != std::string::npos;) {
            const size_t next = rest.find('+', at + 1);
            request.behaviours.push_back(
                rest.substr(at + 1, next == std::string::npos ? next : next - at - 1));
            at = next;
        }
    }
    if (request.image.empty()) {
        error = "no image file in '" + text + "'";
        return false;
    }
    if (!IsLayerDriveKind(request.kind)) {
        error = "unknown disc kind '" + request.kind + "' in '" + text + "' (use " +
                LayerDriveKinds() + ")";
        return false;
    }
    DriveModel scratch;
    for (const std::string& behaviour : request.behaviours) {
        if (!ApplyBehaviour(scratch, behaviour, error)) {
            error += " in '" + text + "'";
            return false;
        }
    }
    return true;
}

bool ParseFaultText(const std::string& text, LayerFaultRequest& request, std::string& error) {
    request = {};
    unsigned opcode = 0, occurrence = 0, key = 0, asc = 0, ascq = 0;
    char action[16] = {};
    int n = 0;
    if (std::sscanf(text.c_str(), "%x@%u:%15[a-z]%n", &opcode, &occurrence, action, &n) == 3 ||
        std::sscanf(text.c_str(), "%x:%15[a-z]%n", &opcode, action, &n) == 2) {
        std::string rest = text.substr(static_cast<size_t>(n));
        request.opcode = static_cast<int>(opcode & 0xFF);
        request.occurrence = occurrence;
        if (std::strcmp(action, "malformed") == 0 && rest.empty()) {
            request.malformed = true;
            return true;
        }
        int end = 0;
        if (std::strcmp(action, "sense") == 0 &&
            std::sscanf(rest.c_str(), ":%x/%x/%x%n", &key, &asc, &ascq, &end) == 3 && key <= 0xF &&
            asc <= 0xFF && ascq <= 0xFF) {
            request.key = static_cast<uint8_t>(key);
            request.asc = static_cast<uint8_t>(asc);
            request.ascq = static_cast<uint8_t>(ascq);
            const std::string queued = rest.substr(static_cast<size_t>(end));
            unsigned qasc = 0, qascq = 0;
            int qend = 0;
            if (queued.empty()) return true;
            if (std::sscanf(queued.c_str(), "+06/%x/%x%n", &qasc, &qascq, &qend) == 2 &&
                static_cast<size_t>(qend) == queued.size() && qasc <= 0xFF && qascq <= 0xFF) {
                request.queueAttention = true;
                request.queuedAsc = static_cast<uint8_t>(qasc);
                request.queuedAscq = static_cast<uint8_t>(qascq);
                return true;
            }
        }
    }
    error = "bad fault '" + text +
            "' (use OPCODE[@N]:sense:KK/AA/QQ[+06/AA/QQ] or OPCODE[@N]:malformed)";
    return false;
}

bool ParseLayerConfig(const char* drives, const char* faults, const char* timing,
                      const char* completion, LayerConfig& config, std::string& error) {
    config = {};
    for (const std::string& item : SplitList(drives)) {
        LayerDriveRequest request;
        if (!ParseDriveText(item, request, error)) return false;
        config.drives.push_back(request);
    }
    for (const std::string& item : SplitList(faults)) {
        LayerFaultRequest request;
        if (!ParseFaultText(item, request, error)) return false;
        config.faults.push_back(request);
    }
    std::string timingText = timing ? timing : "";
    if (timingText == "fast") {
        config.fastTiming = true;
    } else if (!timingText.empty() && timingText != "real") {
        error = std::string("bad ") + kTimingVariable + " '" + timingText + "' (use real or fast)";
        return false;
    }
    std::string completionText = completion ? completion : "";
    if (completionText == "pending") {
        config.pendingCompletion = true;
    } else if (!completionText.empty() && completionText != "sync") {
        error = std::string("bad ") + kCompletionVariable + " '" + completionText +
                "' (use sync or pending)";
        return false;
    }
    return true;
}

} // namespace tvx::vdrive
