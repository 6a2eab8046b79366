#include "vdrive/behaviours.h"

#include <cstdio>
#include <cstdlib>

namespace tvx::vdrive {

namespace {

using Args = std::vector<std::string>;

// A decimal number of at most 7 digits (so that milliseconds fit 32 bits); absent: fallback.
bool Number(const Args& args, size_t index, uint32_t fallback, uint32_t& value,
            std::string& error) {
    value = fallback;
    if (index >= args.size() || args[index].empty()) return true;
    const std::string& t = args[index];
    if (t.size() > 7 || t.find_first_not_of("0123456789") != std::string::npos) {
        error = "bad number '" + t + "'";
        return false;
    }
    value = static_cast<uint32_t>(std::strtoul(t.c_str(), nullptr, 10));
    return true;
}

bool Seconds(const Args& args, size_t index, uint32_t fallback, uint32_t& ms, std::string& error) {
    uint32_t seconds = 0;
    if (!Number(args, index, fallback, seconds, error)) return false;
    ms = seconds * 1000;
    return true;
}

// "KK/AA/QQ" (hex); absent: the fallback stays.
bool SenseArg(const Args& args, size_t index, uint8_t& key, uint8_t& asc, uint8_t& ascq,
              std::string& error) {
    if (index >= args.size()) return true;
    unsigned k = 0, a = 0, q = 0;
    int end = 0;
    if (std::sscanf(args[index].c_str(), "%2x/%2x/%2x%n", &k, &a, &q, &end) != 3 ||
        static_cast<size_t>(end) != args[index].size() || k > 0x0F) {
        error = "bad sense '" + args[index] + "' (use KK/AA/QQ in hex)";
        return false;
    }
    key = static_cast<uint8_t>(k);
    asc = static_cast<uint8_t>(a);
    ascq = static_cast<uint8_t>(q);
    return true;
}

bool NoArgs(const Args& args, std::string& error) {
    if (args.empty()) return true;
    error = "takes no arguments";
    return false;
}

bool WriteBusy(DriveModel& m, const Args& args, std::string& error) {
    Habits& h = m.habits;
    return Seconds(args, 0, 30, h.writeBusyMs, error) &&
           SenseArg(args, 1, h.writeBusyKey, h.writeBusyAsc, h.writeBusyAscq, error);
}

bool AttentionAfterLoad(DriveModel& m, const Args& args, std::string& error) {
    m.unitAttentionOnMediumChange = true;
    return NoArgs(args, error);
}

// OPCODE[@N][,KK/AA/QQ]; the key is always 06h.
bool Attention(DriveModel& m, const Args& args, std::string& error) {
    Habits& h = m.habits;
    unsigned opcode = 0, occurrence = 1;
    int end = 0;
    const std::string first = args.empty() ? "" : args[0];
    if ((std::sscanf(first.c_str(), "%2x@%u%n", &opcode, &occurrence, &end) != 2 &&
         std::sscanf(first.c_str(), "%2x%n", &opcode, &end) != 1) ||
        static_cast<size_t>(end) != first.size() || occurrence == 0) {
        error = "bad command '" + first + "' (use OPCODE[@N] in hex)";
        return false;
    }
    h.attentionOpcode = static_cast<int>(opcode);
    h.attentionOccurrence = occurrence;
    uint8_t key = 0x06;
    if (!SenseArg(args, 1, key, h.attentionAsc, h.attentionAscq, error)) return false;
    if (key != 0x06) {
        error = "a unit attention has sense key 06";
        return false;
    }
    return true;
}

bool Recovered(DriveModel& m, const Args& args, std::string& error) {
    if (!Number(args, 0, 3, m.habits.recoveredEvery, error)) return false;
    if (m.habits.recoveredEvery == 0) {
        error = "the share is every N-th command, N at least 1";
        return false;
    }
    return true;
}

bool DescriptorSense(DriveModel& m, const Args& args, std::string& error) {
    m.habits.descriptorSense = true;
    return NoArgs(args, error);
}

bool SlowFormat(DriveModel& m, const Args& args, std::string& error) {
    return Seconds(args, 0, 2400, m.habits.plusRwFinishMs, error);
}

bool SlowClose(DriveModel& m, const Args& args, std::string& error) {
    uint32_t ms = 0;
    if (!Seconds(args, 0, 2400, ms, error)) return false;
    m.timing.closeTrackMs = ms;
    m.timing.finaliseMs = ms;
    return true;
}

bool BusyFlushClose(DriveModel& m, const Args& args, std::string& error) {
    Habits& h = m.habits;
    uint8_t key = 0x02, asc = 0x04;
    if (!Seconds(args, 0, 60, h.settleBusyMs, error) ||
        !SenseArg(args, 1, key, asc, h.settleBusyAscq, error))
        return false;
    if (key != 0x02 || asc != 0x04) {
        error = "a busy answer is 02/04/QQ";
        return false;
    }
    return true;
}

bool SlowLoad(DriveModel& m, const Args& args, std::string& error) {
    m.habits.enforceTimeouts = true;
    return Seconds(args, 0, 120, m.timing.spinUpMs, error);
}

// Behind many USB bridges a command moves at most 32 KiB.
constexpr uint32_t kBridgeTransferBytes = 32 * 1024;
constexpr uint32_t kSmallestTransfer = 2048;

bool CloseOnly(DriveModel& m, const Args& args, std::string& error) {
    m.closeOnly = true;
    return NoArgs(args, error);
}

bool IgnoresTestWrite(DriveModel& m, const Args& args, std::string& error) {
    m.testWriteIgnored = true;
    return NoArgs(args, error);
}

bool WriteParamsWithDescriptor(DriveModel& m, const Args& args, std::string& error) {
    m.modeBlockDescriptor = true;
    m.writeParamsPageLength = 0x36;
    m.bufferUnderrunFreeFixed = true;
    return NoArgs(args, error);
}

// The path may hold commas: the arguments are joined again.
bool Replay(DriveModel& m, const Args& args, std::string& error) {
    m.replayReport.clear();
    for (size_t i = 0; i < args.size(); ++i)
        m.replayReport += (i ? "," : "") + args[i];
    if (m.replayReport.empty()) {
        error = "the drive report's file is missing";
        return false;
    }
    return true;
}

bool MaxTransfer(DriveModel& m, const Args& args, std::string& error) {
    if (!Number(args, 0, kBridgeTransferBytes, m.maxTransferBytes, error)) return false;
    if (m.maxTransferBytes < kSmallestTransfer) {
        error = "a transfer limit below one block";
        return false;
    }
    return true;
}

// clang-format off
constexpr Behaviour kBehaviours[] = {
    {"write-busy", "SECONDS[,KK/AA/QQ]",
     "WRITE(10) answers the sense (default 02/04/01) for SECONDS (default 30) from the first "
     "WRITE on a disc", &WriteBusy},
    {"attention-after-load", "",
     "unit attention 06/28/00 on the first medium command after a disc is loaded", &AttentionAfterLoad},
    {"attention", "OPCODE[@N][,06/AA/QQ]",
     "unit attention (default 06/29/00) instead of the N-th (default first) such command, once",
     &Attention},
    {"recovered", "N",
     "every N-th (default 3rd) medium command that succeeds reports recovered error 01/17/01", &Recovered},
    {"descriptor-sense", "",
     "all sense data in descriptor format (72h), progress in a sense-key-specific descriptor",
     &DescriptorSense},
    {"slow-format", "SECONDS",
     "finishing a DVD+RW's background format takes SECONDS (default 2400)", &SlowFormat},
    {"slow-close", "SECONDS",
     "closing a track or session and finalising take SECONDS (default 2400)", &SlowClose},
    {"busy-flush-close", "SECONDS[,02/04/QQ]",
     "each SYNCHRONIZE CACHE and CLOSE TRACK/SESSION answers busy (default 02/04/08) for its "
     "first SECONDS (default 60)", &BusyFlushClose},
    {"slow-load", "SECONDS",
     "a loaded disc takes SECONDS (default 120) to spin up; a command without Immed whose work "
     "outlasts its time limit times out", &SlowLoad},
    {"close-only", "",
     "the DVD+RW feature says CloseOnly: a background format stops only the compatible way "
     "(CLOSE function 2); the quick stop (function 0) is refused with 05/24/00", &CloseOnly},
    {"ignores-test-write", "",
     "MODE SELECT takes the test write bit without complaint but the drive writes for real: "
     "the bit reads back clear and the changeable mask marks it fixed", &IgnoresTestWrite},
    {"page05-descriptor", "",
     "MODE SENSE puts an 8-byte block descriptor before the write parameters page even with "
     "DBD, the page is 36h bytes long (a MODE SELECT with another length is refused), and its "
     "BUF bit is not changeable", &WriteParamsWithDescriptor},
    {"max-transfer", "BYTES",
     "the path to the drive moves at most BYTES (default 32768) per command, as behind a USB "
     "bridge: the adapter reports the limit and a larger command fails in the transport",
     &MaxTransfer},
    {"replay", "REPORT.json",
     "the drive of a report from `tvx probe`: its identity, features, mode pages, speeds, format "
     "capacities, transfer limit and the disc's state as reported, until the host changes the "
     "disc; writes go to the image as on the medium of KIND", &Replay},
};
// clang-format on

} // namespace

std::span<const Behaviour> Behaviours() {
    return kBehaviours;
}

const Behaviour* FindBehaviour(const std::string& name) {
    for (const Behaviour& b : kBehaviours)
        if (name == b.name) return &b;
    return nullptr;
}

bool ApplyBehaviour(DriveModel& model, const std::string& text, std::string& error) {
    const size_t equals = text.find('=');
    const std::string name = text.substr(0, equals);
    const Behaviour* behaviour = FindBehaviour(name);
    if (!behaviour) {
        error = "unknown drive behaviour '" + name + "'";
        return false;
    }
    Args args;
    if (equals != std::string::npos) {
        const std::string rest = text.substr(equals + 1);
        size_t from = 0;
        for (;;) {
            size_t comma = rest.find(',', from);
            args.push_back(rest.substr(from, comma - from));
            if (comma == std::string::npos) break;
            from = comma + 1;
        }
    }
    if (!behaviour->apply(model, args, error)) {
        error = name + ": " + error;
        return false;
    }
    return true;
}

std::string BehaviourHelp() {
    std::string help;
    for (const Behaviour& b : kBehaviours) {
        std::string head = b.name;
        if (*b.parameters) head += std::string("=") + b.parameters;
        help += head + "  " + b.description + "\n";
    }
    return help;
}

} // namespace tvx::vdrive
