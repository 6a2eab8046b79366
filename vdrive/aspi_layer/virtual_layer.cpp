#include "vdrive/aspi_layer/virtual_layer.h"

#include "vdrive/behaviours.h"

#include "platform/host.h"
#include "vdrive/image_file.h"
#if defined(_WIN32)
#include "vdrive/aspi_layer/module_thread.h"
#endif

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#if !defined(_WIN32)
#include <sys/stat.h>
#endif

namespace tvx::vdrive {

namespace {

constexpr uint8_t kAdapterCount = 1;
constexpr uint8_t kHostScsiId = 7;
constexpr size_t kMaxTargets = 255; // HA_Unique[3] is one byte
constexpr uint32_t kMaxTransferBytes = 0x100000;
#if defined(_WIN32)
// A host sends its next request as soon as one completes: a worker waits this long for it
// before it ends, rather than a thread being started for every request.
constexpr std::chrono::milliseconds kWorkerIdle{50};
#endif

MediumKind KindFromName(const std::string& name) {
    static const std::map<std::string, MediumKind> table = {
        {"dvd-rom", MediumKind::DvdRom},
        {"dvd-r", MediumKind::DvdR},
        {"dvd-rw", MediumKind::DvdRwSequential},
        {"dvd-rw-ro", MediumKind::DvdRwRestricted},
        {"dvd-ram", MediumKind::DvdRam},
        {"dvd+r", MediumKind::DvdPlusR},
        {"dvd+rw", MediumKind::DvdPlusRw},
        {"dvd+r-dl", MediumKind::DvdPlusRDualLayer},
        {"dvd-r-dl", MediumKind::DvdRDualLayer},
        {"cd-r", MediumKind::CdR},
        {"cd-rw", MediumKind::CdRw},
        {"bd-r", MediumKind::BdR},
        {"bd-r-dl", MediumKind::BdRDualLayer},
        {"bd-re", MediumKind::BdRe},
    };
    auto it = table.find(name);
    return it == table.end() ? MediumKind::None : it->second;
}

// An image with a state file is a disc left by an earlier run; an image without one is loaded
// only as a pressed disc or a DVD+RW; a missing image becomes a blank disc.
bool Attach(VirtualRecorder& recorder, const LayerDriveRequest& request, std::string& problem) {
    namespace fs = std::filesystem;
    std::error_code ec;
    MediumKind kind = KindFromName(request.kind);
    bool attached = false;
    const bool hasState =
        fs::symlink_status(request.image + ".state", ec).type() != fs::file_type::not_found;
    if (hasState && fs::symlink_status(request.image, ec).type() == fs::file_type::not_found) {
        problem = request.image + ".state is there without its image " + request.image +
                  "; it is not used (remove it if it is yours)";
        return false;
    }
    if (hasState) {
        attached = recorder.openDisc(request.image);
    } else if (fs::exists(request.image, ec)) {
        if (kind != MediumKind::DvdRom && kind != MediumKind::DvdPlusRw) {
            problem = request.image + " exists but holds no disc state";
            return false;
        }
        attached = recorder.loadImage(request.image, kind);
    } else {
        attached =
            kind != MediumKind::None && recorder.insertBlank(kind, request.capacity, request.image);
    }
    if (!attached && !recorder.lastError().empty()) problem = recorder.lastError();
    return attached;
}

// A pressed disc stands for any pressed disc a report saw (a CD-ROM, a DVD-ROM): the recorder
// holds no CD, and the report's answers describe the disc anyway.
bool SameKindOfDisc(uint16_t ours, uint16_t reported) {
    auto pressed = [](uint16_t profile) {
        return profile == 0x08 || profile == 0x10 || profile == 0x40;
    };
    return ours == reported || (pressed(ours) && pressed(reported));
}

// Which file an image path names now; false when there is none.
bool KeyOf(const std::string& image, ImageKey& key) {
    std::string ignored;
    auto file = ImageFile::Open(image, ImageAccess::Read, ignored);
    if (file) key = file->key();
    return file != nullptr;
}

// The serial number of a drive names its disc image, so that every attachment of one image, in
// any process, is one drive to the library's job lock.
std::string ImageSerial(const std::string& image) {
    char text[40] = {};
#if defined(_WIN32)
    std::error_code ec;
    std::string path = std::filesystem::weakly_canonical(image, ec).string();
    if (ec) path = image;
    uint64_t hash = 14695981039346656037ull;
    for (char c : path) {
        hash ^= static_cast<uint8_t>(std::tolower(static_cast<unsigned char>(c == '/' ? '\\' : c)));
        hash *= 1099511628211ull;
    }
    std::snprintf(text, sizeof text, "IMG%016llx", static_cast<unsigned long long>(hash));
#else
    struct stat st {};
    if (::stat(image.c_str(), &st) != 0) return {};
    std::snprintf(text, sizeof text, "IMG%llx.%llx", static_cast<unsigned long long>(st.st_dev),
                  static_cast<unsigned long long>(st.st_ino));
#endif
    return text;
}

FaultRule RuleOf(const LayerFaultRequest& fault) {
    FaultRule rule;
    rule.opcode = fault.opcode;
    rule.occurrence = fault.occurrence;
    rule.action = fault.malformed ? FaultRule::Action::MalformedData : FaultRule::Action::Sense;
    rule.senseKey = fault.key;
    rule.asc = fault.asc;
    rule.ascq = fault.ascq;
    rule.queueAttention = fault.queueAttention;
    rule.queuedAsc = fault.queuedAsc;
    rule.queuedAscq = fault.queuedAscq;
    return rule;
}

void StoreStatus(uint8_t& field, uint8_t status) {
    std::atomic_ref<uint8_t>(field).store(status, std::memory_order_release);
}

void CopyText(char* field, size_t width, const char* text) {
    std::memset(field, ' ', width);
    std::memcpy(field, text, std::min(width, std::strlen(text)));
}

} // namespace

VirtualAspiLayer::VirtualAspiLayer(const LayerConfig& config)
    : pending_(config.pendingCompletion), tracePath_(config.traceFile) {
    DriveModel model = DriveModel::Default();
    if (config.fastTiming) {
        // Slow work completes at once: a host on the real clock is not kept waiting for the
        // model's simulated minutes.
        model.timing = Timing{0, 0, 0, 0, 0, 0, 0, 0};
    }
    // One drive per image: further targets naming an image (by any path) share its drive, with
    // the behaviours its first entry gave it.
    std::map<ImageKey, std::shared_ptr<VirtualRecorder>> byImage;
    for (const LayerDriveRequest& request : config.drives) {
        if (drives_.size() == kMaxTargets) {
            problems_.push_back("too many virtual drives");
            break;
        }
        ImageKey key;
        if (KeyOf(request.image, key) && byImage.count(key)) {
            drives_.push_back(byImage[key]);
            targets_.push_back(targets_[std::find(drives_.begin(), drives_.end(), byImage[key]) -
                                        drives_.begin()]);
            continue;
        }
        DriveModel drive = model;
        // A CD or BD disc goes into a drive that writes them too; a DVD keeps the DVD writer.
        const MediumKind kind = KindFromName(request.kind);
        const DriveModel writer = DriveModel::BdCdWriter();
        auto writesCdAndBd = [&] {
            drive.media = writer.media;
            drive.product = writer.product;
        };
        if (IsCd(kind) || IsBd(kind)) writesCdAndBd();
        std::string problem = "cannot attach " + request.image;
        bool applied = true;
        for (const std::string& behaviour : request.behaviours)
            applied = applied && ApplyBehaviour(drive, behaviour, problem);
        if (!applied) {
            problems_.push_back(problem);
            continue;
        }
        // A report is read before the image is touched: a bad one leaves no new image behind.
        DriveReport report;
        if (!drive.replayReport.empty()) {
            std::error_code ec;
            if (!LoadReport(drive.replayReport, report, problem)) {
                problems_.push_back(problem);
                continue;
            }
            // The report keeps the drive's answers, not the disc's content: a new image would
            // stand for the written disc as a blank one.
            if (ReportedDiscWritten(report.commands) &&
                !std::filesystem::exists(request.image, ec)) {
                problems_.push_back(drive.replayReport +
                                    ": the report's disc was written, and its content is not in "
                                    "the report; replay it onto an image of that disc, not onto "
                                    "the new " +
                                    request.image);
                continue;
            }
        }
        auto recorder = std::make_shared<VirtualRecorder>(clock_, drive);
        if (!Attach(*recorder, request, problem)) {
            problems_.push_back(problem);
            continue;
        }
        // A CD or BD disc kept from an earlier run names its kind only in its state: attached
        // again, to a drive that writes it.
        const MediumKind held = recorder->disc().kind;
        if ((IsCd(held) || IsBd(held)) && drive.media != writer.media) {
            writesCdAndBd();
            recorder.reset();
            recorder = std::make_shared<VirtualRecorder>(clock_, drive);
            if (!Attach(*recorder, request, problem)) {
                problems_.push_back(problem);
                continue;
            }
        }
        recorder->setSerial(ImageSerial(request.image));
        recorder->setTraceEnabled(!tracePath_.empty());
        for (const LayerFaultRequest& fault : config.faults)
            recorder->addFault(RuleOf(fault));
        ScsiTarget* target = recorder.get();
        if (!drive.replayReport.empty()) {
            auto replay = std::make_unique<ReplayTarget>(std::move(report.commands), *recorder,
                                                         report.maxTransferBytes);
            DiscView disc = recorder->disc();
            if (!SameKindOfDisc(ProfileOf(disc.kind), replay->currentProfile()) ||
                static_cast<int>(disc.status) != replay->discStatus())
                replay->discNotAsReported();
            target = replay.get();
            replays_.push_back(std::move(replay));
        }
        if (KeyOf(request.image, key)) byImage[key] = recorder;
        drives_.push_back(std::move(recorder));
        targets_.push_back(target);
    }
#if !defined(_WIN32)
    if (pending_) worker_ = std::thread([this] { work(); });
#endif
}

VirtualAspiLayer::~VirtualAspiLayer() {
#if !defined(_WIN32)
    {
        std::lock_guard<std::mutex> guard(lock_);
        stopping_ = true;
    }
    queued_.notify_all();
    if (worker_.joinable()) worker_.join();
#endif
    save(kNoTarget);
}

void VirtualAspiLayer::saveAtProcessEnd() {
    // Nothing here waits: a thread stopped in a command keeps lock_ for ever, and its drive is
    // left as it is. The lock stays taken, so that a worker not yet stopped starts nothing.
    std::unique_lock<std::mutex> guard(lock_, std::try_to_lock);
    save(guard.owns_lock() ? kNoTarget : running_.load());
    guard.release();
}

void VirtualAspiLayer::save(size_t skipped) {
    for (size_t i = 0; i < drives_.size(); ++i) {
        // Targets of one image share a drive: the one stopped in a command is skipped under
        // every target that names it.
        if (skipped == kNoTarget || drives_[i] != drives_[skipped])
            drives_[i]->flush();
        else if (i == skipped)
            std::fprintf(stderr,
                         "virtual ASPI layer: target %zu was stopped in a command and its disc "
                         "was not saved\n",
                         i);
    }
    if (!tracePath_.empty()) {
        if (std::FILE* file = std::fopen(tracePath_.c_str(), "a")) {
            for (size_t i = 0; i < drives_.size(); ++i) {
                // A drive shared by several targets is written once, under the first.
                if (std::find(drives_.begin(), drives_.begin() + i, drives_[i]) !=
                    drives_.begin() + i)
                    continue;
                std::fprintf(file, "target %zu\n%s", i, drives_[i]->formatTrace().c_str());
            }
            std::fclose(file);
        }
    }
}

uint32_t VirtualAspiLayer::supportInfo() {
    if (drives_.empty()) return static_cast<uint32_t>(SS_NO_ADAPTERS) << 8;
    return static_cast<uint32_t>(SS_COMP) << 8 | kAdapterCount;
}

uint32_t VirtualAspiLayer::sendCommand(void* requestBlock) {
    if (!requestBlock) return SS_INVALID_SRB;
    auto* command = static_cast<uint8_t*>(requestBlock);
    switch (command[0]) {
    case SC_HA_INQUIRY:
        return inquiry(*static_cast<SRB_HAInquiry*>(requestBlock));
    case SC_EXEC_SCSI_CMD:
        return execute(*static_cast<SRB_ExecSCSICmd*>(requestBlock));
    case SC_ABORT_SRB:
        return abort(*static_cast<SRB_Abort*>(requestBlock));
    default:
        StoreStatus(command[1], SS_INVALID_CMD);
        return SS_INVALID_CMD;
    }
}

uint8_t VirtualAspiLayer::inquiry(SRB_HAInquiry& srb) {
    if (srb.SRB_HaId >= kAdapterCount || drives_.empty()) {
        StoreStatus(srb.SRB_Status, SS_INVALID_HA);
        return SS_INVALID_HA;
    }
    srb.HA_Count = kAdapterCount;
    srb.HA_SCSI_ID = kHostScsiId;
    CopyText(srb.HA_ManagerId, sizeof srb.HA_ManagerId, "TVX VIRTUAL ASPI");
    CopyText(srb.HA_Identifier, sizeof srb.HA_Identifier, "VIRTUAL ADAPTER");
    std::memset(srb.HA_Unique, 0, sizeof srb.HA_Unique);
    srb.HA_Unique[kHaUniqueMaxTargets] = static_cast<uint8_t>(drives_.size());
    // The adapter's limit is the smallest any of its drives takes.
    uint32_t maxTransfer = kMaxTransferBytes;
    for (const ScsiTarget* drive : targets_)
        if (drive->maxTransferBytes() != 0)
            maxTransfer = std::min(maxTransfer, drive->maxTransferBytes());
    for (int i = 0; i < 4; ++i)
        srb.HA_Unique[kHaUniqueMaxTransfer + i] = static_cast<uint8_t>(maxTransfer >> (8 * i));
    StoreStatus(srb.SRB_Status, SS_COMP);
    return SS_COMP;
}

uint8_t VirtualAspiLayer::execute(SRB_ExecSCSICmd& srb) {
    if (srb.SRB_HaId >= kAdapterCount) {
        StoreStatus(srb.SRB_Status, SS_INVALID_HA);
        return SS_INVALID_HA;
    }
    if (srb.SRB_Target >= drives_.size() || srb.SRB_Lun != 0) {
        StoreStatus(srb.SRB_Status, SS_NO_DEVICE);
        return SS_NO_DEVICE;
    }
    std::unique_lock<std::mutex> guard(lock_);
    // Without a worker the request completes inside the call, as in the other mode.
    if (pending_ && workerReady()) {
        StoreStatus(srb.SRB_Status, SS_PENDING);
        queue_.push_back(&srb);
        guard.unlock();
        queued_.notify_one();
        return SS_PENDING;
    }
    run(srb);
    uint8_t status = srb.SRB_TargStat == 0 && srb.SRB_HaStat == HASTAT_OK ? SS_COMP : SS_ERR;
    // Completed inside the call: nothing to signal.
    StoreStatus(srb.SRB_Status, status);
    return status;
}

uint8_t VirtualAspiLayer::abort(SRB_Abort& srb) {
    SRB_ExecSCSICmd* target = nullptr;
    {
        std::lock_guard<std::mutex> guard(lock_);
        auto it = std::find(queue_.begin(), queue_.end(), srb.SRB_ToAbort);
        if (it != queue_.end()) {
            target = *it;
            queue_.erase(it);
        }
    }
    if (!target) {
        StoreStatus(srb.SRB_Status, SS_ABORT_FAIL);
        return SS_ABORT_FAIL;
    }
    finish(*target, SS_ABORTED);
    StoreStatus(srb.SRB_Status, SS_COMP);
    return SS_COMP;
}

void VirtualAspiLayer::run(SRB_ExecSCSICmd& srb) {
    ScsiRequest request;
    request.cdb = srb.CDBByte;
    request.cdbLength = std::min<uint8_t>(srb.SRB_CDBLen, sizeof srb.CDBByte);
    request.data = srb.SRB_BufPointer;
    request.byteCount = srb.SRB_BufPointer ? srb.SRB_BufLen : 0;
    if (srb.SRB_Flags & SRB_DIR_IN)
        request.direction = DataDirection::FromDevice;
    else if (srb.SRB_Flags & SRB_DIR_OUT)
        request.direction = DataDirection::ToDevice;
    else
        request.direction = DataDirection::None;
    if (request.byteCount == 0) request.direction = DataDirection::None;

    running_ = srb.SRB_Target;
    ScsiResult result = targets_[srb.SRB_Target]->execute(request);
    running_ = kNoTarget;
    srb.SRB_HaStat = HASTAT_OK;
    srb.SRB_TargStat = 0;
    switch (result.outcome) {
    case ScsiOutcome::TransportFailed:
        srb.SRB_HaStat = HASTAT_SEL_TO;
        break;
    case ScsiOutcome::TimedOut:
        srb.SRB_HaStat = HASTAT_TIMEOUT;
        break;
    case ScsiOutcome::Completed:
        srb.SRB_TargStat = result.status;
        if (result.status != 0) {
            size_t n =
                std::min<size_t>({srb.SRB_SenseLen, result.senseLength, sizeof srb.SenseArea});
            std::memcpy(srb.SenseArea, result.sense, n);
        }
        break;
    }
}

void VirtualAspiLayer::finish(SRB_ExecSCSICmd& srb, uint8_t status) {
    const bool notify = (srb.SRB_Flags & SRB_EVENT_NOTIFY) && srb.SRB_PostProc;
    void* event = srb.SRB_PostProc;
    StoreStatus(srb.SRB_Status, status);
    // The block may be reused once its status is final and the event signalled: the signal is
    // the last touch.
    if (!notify) return;
#if defined(_WIN32)
    // On Windows the block carries an event handle of the system.
    host().setEvent(event);
#else
    static_cast<AspiEvent*>(event)->signal(static_cast<AspiEvent*>(event));
#endif
}

bool VirtualAspiLayer::workerReady() {
#if defined(_WIN32)
    if (!working_) {
        working_ = StartModuleThread(
            [](void* layer) { static_cast<VirtualAspiLayer*>(layer)->work(); }, this);
    }
    return working_;
#else
    return worker_.joinable();
#endif
}

void VirtualAspiLayer::work() {
    std::unique_lock<std::mutex> guard(lock_);
    for (;;) {
#if defined(_WIN32)
        if (!queued_.wait_for(guard, kWorkerIdle, [this] { return !queue_.empty(); })) {
            working_ = false; // the next request starts another worker
            return;
        }
#else
        queued_.wait(guard, [this] { return stopping_ || !queue_.empty(); });
        if (queue_.empty()) return; // stopping with nothing left
#endif
        SRB_ExecSCSICmd* srb = queue_.front();
        queue_.pop_front();
#if !defined(_WIN32)
        if (stopping_) {
            // Unloading: what is still queued never reaches a drive.
            guard.unlock();
            finish(*srb, SS_ABORTED);
            guard.lock();
            continue;
        }
#endif
        run(*srb);
        uint8_t status = srb->SRB_TargStat == 0 && srb->SRB_HaStat == HASTAT_OK ? SS_COMP : SS_ERR;
        guard.unlock();
        finish(*srb, status);
        guard.lock();
    }
}

} // namespace tvx::vdrive
