// One command to the drive of a RecHandle, and what each answer of the drive means, decided in
// one place: a recovered error is success; a question may be asked again while the drive is
// busy or after a unit attention; a command that changes the disc or the drive is repeated only
// when the answer says it was not done; and once a job has looked at the disc, a medium change
// or a reset ends it. Also the recording of a failure with its sense texts.
#include "mmc/execute.h"

#include "mmc/command_record.h"
#include "mmc/commands.h"
#include "mmc/locations.h"
#include "mmc/sense.h"
#include "platform/host.h"
#include "recording/media.h"

#include <algorithm>
#include <cstring>

namespace tvx {

namespace {
constexpr uint32_t kMaxCdbBytes = 16;
constexpr uint32_t kMaxSenseBytes = 32;

constexpr uint8_t kAscNotReady = 0x04;
constexpr uint8_t kAscMediumMayHaveChanged = 0x28;
constexpr uint8_t kAscReset = 0x29;
constexpr uint8_t kAscCommandSequenceError = 0x2C;
constexpr uint8_t kAscNoMedium = 0x3A;
constexpr int kAnyAscq = -1;

// A drive reports a reset or a medium change once; more in a row means it is not settling.
constexpr int kUnitAttentionRepeats = 4;
// How often the waiting job hears of a busy drive.
constexpr uint32_t kBusyReportMs = 1000;

constexpr uint32_t kQuestionRetryMs = 200;
// About what a drive takes to spin up or finish an operation in between.
constexpr uint32_t kQuestionBusyLimitMs = 30000;
constexpr uint32_t kWriteRetryMs = 50;
constexpr uint32_t kWriteBusyLimitMs = 1800000;
// A drive that announces calibration before its first write is ready within minutes.
constexpr uint32_t kCalibrationLimitMs = 600000;
// A sequence error is also what a drive answers to a write it will never take: a short wait.
constexpr uint32_t kSequenceErrorLimitMs = 120000;
constexpr uint32_t kSettleRetryMs = 1000;
// Flushes and closes of the slowest drives take up to an hour.
constexpr uint32_t kSettleLimitMs = 3600000;
constexpr uint32_t kSetUpBusyLimitMs = 30000;

// What a command does to the disc or the drive, which decides whether it may be sent again.
enum class CommandKind : uint8_t {
    Question, // asks only: repeating it changes nothing
    Poll,     // TEST UNIT READY, REQUEST SENSE: a busy answer is the information asked for
    Control,  // PREVENT ALLOW, START STOP: no disc content involved
    Write,    // WRITE(10): changes the disc
    Settle,   // SYNCHRONIZE CACHE, CLOSE TRACK/SESSION: the drive finishes what was written
    SetUp,    // RESERVE TRACK, FORMAT UNIT, BLANK, MODE SELECT, SET STREAMING, SET CD SPEED
    Any,      // in the table: every kind
};

CommandKind KindOf(uint8_t opcode) {
    switch (opcode) {
    case kOpTestUnitReady:
    case kOpRequestSense:
        return CommandKind::Poll;
    case kOpPreventAllow:
    case kOpStartStopUnit:
        return CommandKind::Control;
    case kOpWrite10:
    case kOpWrite12:
        return CommandKind::Write;
    case kOpSyncCache:
    case kOpCloseTrackSession:
        return CommandKind::Settle;
    case kOpReserveTrack:
    case kOpSendCueSheet:
    case kOpFormatUnit:
    case kOpBlank:
    case kOpModeSelect10:
    case kOpSetStreaming:
    case kOpSetCdSpeed:
        return CommandKind::SetUp;
    default:
        // INQUIRY, GET CONFIGURATION, MODE SENSE, READ DISC/TRACK INFORMATION, READ CAPACITY,
        // READ FORMAT CAPACITIES, READ DISC STRUCTURE, GET PERFORMANCE, GET EVENT STATUS,
        // READ(10), READ(12).
        return CommandKind::Question;
    }
}

bool ChangesDisc(CommandKind kind) {
    return kind == CommandKind::Write || kind == CommandKind::Settle || kind == CommandKind::SetUp;
}

enum class Decision : uint8_t {
    Succeed,    // the command was done
    Repeat,     // not done, nothing changed: the same command again after a pause
    Attention,  // not done (SPC): clear the attention with TEST UNIT READY, then repeat
    DiscChange, // medium change or reset: ends a job that has looked at the disc
    End,        // a failure for the caller to judge
};

struct Rule {
    CommandKind kind;
    uint8_t key;
    uint8_t asc;
    int ascq; // kAnyAscq: every qualifier
    Decision decision;
    uint32_t retryMs;
    uint32_t limitMs;
    bool flushFirst; // a SYNCHRONIZE CACHE before the repeat, where the medium allows one
};

constexpr uint8_t kAnyAsc = 0xFF;

// The first matching row decides. Beside each row: what libburn (spc.c scsi_error_msg and
// scsi_eval_cmd_outcome, mmc.c) and growisofs (growisofs_mmc.cpp poor_mans_pwrite64,
// transport.hxx) do; the decision itself follows MMC-5 and SPC-3.
// clang-format off
constexpr Rule kRules[] = {
    // Recovered error: done. libburn: key 1 is GO_ON; growisofs reports the code to the caller.
    {CommandKind::Any, 0x01, kAnyAsc, kAnyAscq, Decision::Succeed, 0, 0, false},
    // Medium may have changed, reset. libburn: 28 RETRY, 29 FAIL; growisofs: no repeat (it
    // lets 6/28/00 pass only on START UNIT).
    {CommandKind::Any, 0x06, kAscMediumMayHaveChanged, kAnyAscq, Decision::DiscChange, 0, 0, false},
    {CommandKind::Any, 0x06, kAscReset, kAnyAscq, Decision::DiscChange, 0, 0, false},
    // Other unit attentions: the command was not performed. libburn: FAIL; growisofs: no repeat.
    {CommandKind::Any, 0x06, kAnyAsc, kAnyAscq, Decision::Attention, 0, 0, false},
    // No medium: nothing to wait for. libburn: 3A is FAIL; growisofs wait_for_unit gives up.
    {CommandKind::Any, 0x02, kAscNoMedium, kAnyAscq, Decision::End, 0, 0, false},
    // Busy questions. libburn: 2/04/xx is RETRY for commands with c->retry (mmc_read_10, all
    // its queries) until the command's 30 s time-out, 0.1-0.5 s apart; growisofs: none.
    {CommandKind::Question, 0x02, kAscNotReady, 0x01, Decision::Repeat, kQuestionRetryMs, kQuestionBusyLimitMs, false},
    {CommandKind::Question, 0x02, kAscNotReady, 0x04, Decision::Repeat, kQuestionRetryMs, kQuestionBusyLimitMs, false},
    {CommandKind::Question, 0x02, kAscNotReady, 0x07, Decision::Repeat, kQuestionRetryMs, kQuestionBusyLimitMs, false},
    {CommandKind::Question, 0x02, kAscNotReady, 0x08, Decision::Repeat, kQuestionRetryMs, kQuestionBusyLimitMs, false},
    // WRITE(10) not taken while calibrating. growisofs: repeats at LBA 0; libburn mmc_write:
    // RETRY up to its 200 s time-out.
    {CommandKind::Write, 0x02, kAscNotReady, 0x01, Decision::Repeat, kWriteRetryMs, kCalibrationLimitMs, false},
    // Format or operation in progress. growisofs: SYNCHRONIZE CACHE, then the WRITE again;
    // libburn: the WRITE again, without a flush.
    {CommandKind::Write, 0x02, kAscNotReady, 0x04, Decision::Repeat, kWriteRetryMs, kWriteBusyLimitMs, true},
    {CommandKind::Write, 0x02, kAscNotReady, 0x07, Decision::Repeat, kWriteRetryMs, kWriteBusyLimitMs, true},
    // Long write in progress: the buffer is full. growisofs: waits for the buffer to drain by
    // READ BUFFER CAPACITY and repeats; libburn: repeats 0-25 ms apart.
    {CommandKind::Write, 0x02, kAscNotReady, 0x08, Decision::Repeat, kWriteRetryMs, kWriteBusyLimitMs, false},
    // Command sequence error: a drive still busy with the disc. growisofs: flush and repeat;
    // libburn: FAIL.
    {CommandKind::Write, 0x05, kAscCommandSequenceError, 0x00, Decision::Repeat, kSettleRetryMs, kSequenceErrorLimitMs, true},
    // A flush or close the drive has not started yet. libburn mmc_sync_cache, mmc_close:
    // RETRY within their time-outs; growisofs: sends once and polls TEST UNIT READY.
    {CommandKind::Settle, 0x02, kAscNotReady, 0x07, Decision::Repeat, kSettleRetryMs, kSettleLimitMs, false},
    {CommandKind::Settle, 0x02, kAscNotReady, 0x08, Decision::Repeat, kSettleRetryMs, kSettleLimitMs, false},
    // Set-up commands refused while the drive becomes ready or finishes something. libburn:
    // RETRY (mmc_reserve_track, mmc_format_unit, mmc_erase, mmc_set_streaming all set retry);
    // growisofs: none.
    {CommandKind::SetUp, 0x02, kAscNotReady, 0x01, Decision::Repeat, kSettleRetryMs, kSetUpBusyLimitMs, false},
    {CommandKind::SetUp, 0x02, kAscNotReady, 0x07, Decision::Repeat, kSettleRetryMs, kSetUpBusyLimitMs, false},
    {CommandKind::SetUp, 0x02, kAscNotReady, 0x08, Decision::Repeat, kSettleRetryMs, kSetUpBusyLimitMs, false},
};
// clang-format on

const Rule* FindRule(CommandKind kind, const SenseFields& s) {
    for (const Rule& r : kRules) {
        if (r.kind != CommandKind::Any && r.kind != kind) continue;
        if (r.key != s.key || (r.asc != kAnyAsc && r.asc != s.asc)) continue;
        if (r.ascq != kAnyAscq && r.ascq != s.ascq) continue;
        return &r;
    }
    return nullptr;
}

bool IsDiscChange(const SenseFields& s) {
    return s.valid && s.key == kSenseKeyUnitAttention &&
           (s.asc == kAscMediumMayHaveChanged || s.asc == kAscReset);
}

// The answer of the last command ended the job: keep it as the job's record.
int EndJob(RecHandle* handle) {
    Mmc_RecordError(handle, location::kDiscMayBeAnother);
    handle->rec.discLost = 1;
    return 0;
}

uint32_t Since(uint32_t start) {
    return host().tickCount() - start;
}

} // namespace

int Mmc_Execute(RecHandle* handle, const CommandRecord* command, void* buffer, uint32_t length) {
    if (!handle || !handle->device || !command) return 0;
    const CommandKind kind = KindOf(command->cdb[0]);
    RecordingState& rec = handle->rec;
    // Nothing more is written to a disc that may be another.
    if (rec.discLost && ChangesDisc(kind)) return 0;
    const uint32_t start = host().tickCount();
    uint32_t reportedAt = 0;
    int unitAttentions = 0;
    for (;;) {
        // The front takes the drive's mutex for exactly this one command.
        if (Front_Execute(handle->device, command, buffer, length)) return 1;
        // Every backend clears the sense field before a command: sense data in it came from
        // the drive with this answer (the status byte means different things per backend).
        const SenseFields sense = Mmc_LastSense(handle);
        if (!sense.valid) return 0;
        const Rule* rule = FindRule(kind, sense);
        if (!rule) return 0;
        switch (rule->decision) {
        case Decision::Succeed:
            return 1;
        case Decision::End:
            return 0;
        case Decision::DiscChange:
            // Before a job has looked at the disc, a change is what the question is about.
            if (rec.discSeen || ChangesDisc(kind)) return EndJob(handle);
            [[fallthrough]];
        case Decision::Attention: {
            if (kind == CommandKind::Poll && command->cdb[0] == kOpRequestSense) return 0;
            if (++unitAttentions > kUnitAttentionRepeats) return 0;
            CommandRecord clear = NewCommand(kOpTestUnitReady, 6, kDirectionNone);
            // A second attention queued behind the first counts as much as the first.
            if (!Front_Execute(handle->device, &clear, nullptr, 0) &&
                IsDiscChange(Mmc_LastSense(handle)) && (rec.discSeen || ChangesDisc(kind)))
                return EndJob(handle);
            continue;
        }
        case Decision::Repeat:
            break;
        }
        // A wait that polls the drive asks again at its own pace.
        if (kind == CommandKind::Question && rec.polling) return 0;
        const uint32_t waited = Since(start);
        if (waited >= rule->limitMs) return 0;
        if (waited - reportedAt >= kBusyReportMs) {
            reportedAt = waited;
            if (rec.cancelled || (rec.busyWait && !rec.busyWait(handle))) return 0;
        }
        if (rule->flushFirst && !IsSessionAtOnce(handle->discInfo.mediaType, handle->discProfile)) {
            CommandRecord flush = NewCommand(kOpSyncCache, 10, kDirectionNone, kTimeoutCloseSync);
            if (!Front_Execute(handle->device, &flush, nullptr, 0) &&
                IsDiscChange(Mmc_LastSense(handle)))
                return EndJob(handle);
        }
        host().sleep(rule->retryMs);
    }
}

void Mmc_RecordError(RecHandle* handle, int32_t location) {
    if (!handle) return;
    // The answer that ended the job stays its record.
    if (handle->rec.discLost) return;
    TVX_LastError& record = handle->lastError;
    Device* device = handle->device;

    record.status = device ? Front_GetStatus(device) : 0;

    uint32_t cdbLength = device ? std::min(Front_GetCdbLength(device), kMaxCdbBytes) : 0;
    const uint8_t* cdb = device ? Front_GetCdb(device) : nullptr;
    if (!cdb) cdbLength = 0;
    record.cdbLength = static_cast<uint8_t>(cdbLength);
    if (cdbLength) std::memcpy(record.cdb, cdb, cdbLength);

    // Bytes of the sense field beyond those copied keep what an earlier record left.
    uint32_t senseLength = device ? std::min(Front_GetSenseLength(device), kMaxSenseBytes) : 0;
    const uint8_t* sense = device ? Front_GetSense(device) : nullptr;
    if (!sense) senseLength = 0;
    record.senseLength = static_cast<uint8_t>(senseLength);
    if (senseLength) std::memcpy(record.sense, sense, senseLength);

    const SenseFields fields = Mmc_DecodeSense(record.sense, sizeof record.sense);
    record.senseKey = fields.key;
    record.asc = fields.asc;
    record.ascq = fields.ascq;
    SenseTexts texts = Mmc_LookupSense(record.senseKey, record.asc, record.ascq);
    record.description = texts.description;
    record.category = texts.category;
    record.location = location;
}

} // namespace tvx
