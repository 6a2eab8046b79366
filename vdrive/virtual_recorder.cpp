// The public face of the model: disc handling, inspection, faults and trace over Drive.
#include "vdrive/virtual_recorder.h"

#include "vdrive/attachments.h"
#include "vdrive/drive.h"
#include "vdrive/write_cache.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>

namespace tvx::vdrive {
namespace {

// Opens an image for a drive. A disc of the same image in this very drive is taken out first:
// the drive is replacing it, and the image cannot be claimed while it holds it.
std::unique_ptr<ImageFile> OpenFor(Drive& drive, const std::string& path, ImageAccess access,
                                   std::string& problem) {
    auto image = ImageFile::Open(path, access, problem);
    if (image && drive.medium && drive.medium->attached && drive.medium->imageKey == image->key())
        drive.takeDisc();
    return image;
}

// A fresh disc of kind, in memory or in a new (or emptied) image file.
std::shared_ptr<Medium> NewMedium(Drive& drive, MediumKind kind, uint32_t capacity,
                                  const std::string& file, std::string& problem) {
    if (ClassOf(kind) == MediumClass::Pressed || kind == MediumKind::None) {
        problem = std::string("no blank ") + MediumName(kind) + " disc can be made";
        return nullptr;
    }
    auto make = [&](std::unique_ptr<ImageFile> image, std::string& why) {
        auto m = std::make_shared<Medium>();
        m->kind = kind;
        m->capacity = capacity ? capacity : RealCapacity(kind);
        if (ClassOf(kind) == MediumClass::RandomWritable)
            m->layout.tracks.push_back(Track{1, 1, 0, m->capacity, 0, false, false});
        if (!image) {
            m->store = MakeMemoryStore();
        } else if (image->resize(uint64_t{m->capacity} * kBlockSize, true)) {
            m->useImage(std::move(image));
        } else {
            why = "cannot size " + image->path();
            return std::shared_ptr<Medium>();
        }
        return m;
    };
    if (file.empty()) return make(nullptr, problem);
    auto image = OpenFor(drive, file, ImageAccess::Create, problem);
    if (!image) return nullptr;
    // A state file beside an image that did not exist was put there by someone else (or left by
    // an accident): it is neither used nor replaced.
    std::error_code ec;
    const std::string state = Medium::StatePath(file);
    if (image->created() && std::filesystem::symlink_status(state, ec).type() !=
                                std::filesystem::file_type::not_found) {
        problem = state + " is there already although its image " + file +
                  " was not; remove it if it is yours";
        std::remove(file.c_str());
        return nullptr;
    }
    return AttachDisc(std::move(image), false, make, problem);
}

// Puts the state of a disc made here beside its image.
bool Saved(Medium& m, std::string& problem) {
    if (m.saveState()) return true;
    problem = "cannot write " + Medium::StatePath(m.backingFile);
    return false;
}

} // namespace

VirtualRecorder::VirtualRecorder(Clock& clock, DriveModel model)
    : drive_(std::make_unique<Drive>(clock, std::move(model))) {}

VirtualRecorder::~VirtualRecorder() = default;

bool VirtualRecorder::insertBlank(MediumKind kind, uint32_t capacityBlocks,
                                  const std::string& backingFile) {
    problem_.clear();
    auto m = NewMedium(*drive_, kind, capacityBlocks, backingFile, problem_);
    if (!m) return false;
    if (kind == MediumKind::DvdRam) m->everWritten = false;
    if (!Saved(*m, problem_)) return false;
    drive_->putDisc(std::move(m));
    return true;
}

bool VirtualRecorder::insertRecorded(MediumKind kind, uint32_t recordedBlocks, bool finalised,
                                     uint32_t capacityBlocks, const std::string& backingFile) {
    problem_.clear();
    auto m = NewMedium(*drive_, kind, capacityBlocks, backingFile, problem_);
    if (!m) return false;
    if (recordedBlocks == 0 || recordedBlocks > m->capacity) {
        problem_ = "a recorded disc holds 1 to " + std::to_string(m->capacity) + " blocks";
        return false;
    }
    if (ClassOf(kind) == MediumClass::RandomWritable) {
        // Written over its whole surface once; DVD+RW fully formatted.
        m->layout.tracks.front().recorded = recordedBlocks;
        m->everWritten = true;
        if (NeedsFormat(kind)) {
            m->format = BackgroundFormat::Complete;
            m->formattedBlocks = m->capacity;
        }
    } else {
        m->layout.tracks.push_back(Track{1, 1, 0, recordedBlocks, recordedBlocks, false, true});
        m->layout.closedSessions = 1;
        m->layout.status = finalised ? DiscStatus::Finalised : DiscStatus::Incomplete;
    }
    if (!Saved(*m, problem_)) return false;
    drive_->putDisc(std::move(m));
    return true;
}

bool VirtualRecorder::loadImage(const std::string& imageFile, MediumKind kind) {
    problem_.clear();
    if (kind != MediumKind::DvdRom && kind != MediumKind::CdRom && kind != MediumKind::DvdPlusRw) {
        problem_ = std::string("an image file cannot be loaded as a ") + MediumName(kind);
        return false;
    }
    bool pressed = kind != MediumKind::DvdPlusRw;
    auto image =
        OpenFor(*drive_, imageFile, pressed ? ImageAccess::Read : ImageAccess::Write, problem_);
    if (!image) return false;
    uint64_t blocks = (image->size() + kBlockSize - 1) / kBlockSize;
    if (pressed && (blocks == 0 || blocks > 0xFFFFFFFFull)) {
        problem_ = imageFile + " is empty or too large for a disc";
        return false;
    }
    auto make = [&](std::unique_ptr<ImageFile> file, std::string&) {
        auto m = std::make_shared<Medium>();
        m->kind = kind;
        if (pressed) {
            m->capacity = static_cast<uint32_t>(blocks);
            m->store = MakeFileStore(std::move(file));
            return m;
        }
        m->capacity = std::max<uint32_t>(RealCapacity(kind), static_cast<uint32_t>(blocks));
        m->format = BackgroundFormat::Complete;
        m->formattedBlocks = m->capacity;
        m->everWritten = true;
        m->layout.tracks.push_back(
            Track{1, 1, 0, m->capacity, static_cast<uint32_t>(blocks), false, false});
        m->useImage(std::move(file));
        return m;
    };
    auto m = AttachDisc(std::move(image), true, make, problem_);
    if (!m) return false;
    if (m->kind != kind) {
        problem_ = imageFile + " is attached in this process as a " + MediumName(m->kind);
        return false;
    }
    if (!pressed && !Saved(*m, problem_)) return false;
    drive_->putDisc(std::move(m));
    return true;
}

bool VirtualRecorder::openDisc(const std::string& backingFile) {
    problem_.clear();
    auto image = OpenFor(*drive_, backingFile, ImageAccess::Write, problem_);
    if (!image) return false;
    auto load = [](std::unique_ptr<ImageFile> file, std::string& problem) {
        auto m = Medium::Load(std::move(file), problem);
        // A background format does not survive a power cycle: it has to be restarted.
        if (m && m->format == BackgroundFormat::Running) m->format = BackgroundFormat::Stopped;
        return m;
    };
    auto m = AttachDisc(std::move(image), true, load, problem_);
    if (!m) return false;
    drive_->putDisc(std::move(m));
    return true;
}

void VirtualRecorder::removeDisc() {
    drive_->takeDisc();
}
void VirtualRecorder::openTray() {
    drive_->openTray();
}
void VirtualRecorder::closeTray() {
    drive_->closeTray();
}

void VirtualRecorder::setSerial(const std::string& serial) {
    drive_->model.serial = serial;
}

const DriveModel& VirtualRecorder::model() const {
    return drive_->model;
}
bool VirtualRecorder::trayOpen() const {
    return drive_->trayOpen;
}
bool VirtualRecorder::hasDisc() const {
    return drive_->medium != nullptr;
}

DiscView VirtualRecorder::disc() const {
    DiscView v;
    drive_->updateBusy();
    const Medium* m = drive_->medium.get();
    if (!m) return v;
    v.kind = m->kind;
    v.capacity = m->capacity;
    v.format = m->format;
    switch (ClassOf(m->kind)) {
    case MediumClass::Pressed:
        v.status = DiscStatus::Finalised;
        v.lastSessionState = 3;
        v.sessions = 1;
        break;
    case MediumClass::RandomWritable:
        v.status = m->randomWritableStatus();
        v.lastSessionState = v.status == DiscStatus::Empty ? 0 : 3;
        v.sessions = 1;
        break;
    case MediumClass::Sequential:
        v.status = m->layout.status;
        v.lastSessionState = m->lastSessionState();
        v.sessions = m->layout.closedSessions + (m->appendable() ? 1 : 0);
        break;
    }
    v.tracks = DiscTracks(*m);
    return v;
}

bool VirtualRecorder::readBlocks(uint32_t lba, uint32_t count, uint8_t* out) const {
    const Medium* m = drive_->medium.get();
    if (!m || uint64_t{lba} + count > m->capacity) return false;
    return m->store->read(lba, count, out);
}

bool VirtualRecorder::writeBlocks(uint32_t lba, uint32_t count, const uint8_t* data) {
    Medium* m = drive_->medium.get();
    if (!m || !m->writable() || uint64_t{lba} + count > m->capacity) return false;
    return m->store->write(lba, count, data) && m->saveState();
}

WriteCache* VirtualRecorder::holdWritesInCache(uint32_t capacityBytes) {
    Medium* m = drive_->medium.get();
    if (!m || !m->store) return nullptr;
    auto cache = std::make_unique<WriteCache>(std::move(m->store), capacityBytes);
    WriteCache* held = cache.get();
    m->store = std::move(cache);
    return held;
}

bool VirtualRecorder::flush() {
    Medium* m = drive_->medium.get();
    if (!m) return true;
    return m->saveState() && m->store->flush();
}

uint32_t VirtualRecorder::currentWriteSpeed() const {
    return drive_->writeSpeed();
}
bool VirtualRecorder::busy() {
    return drive_->updateBusy();
}

void VirtualRecorder::addFault(const FaultRule& rule) {
    drive_->faults.add(rule);
}
void VirtualRecorder::clearFaults() {
    drive_->faults.clear();
}

const std::vector<TraceEntry>& VirtualRecorder::trace() const {
    return drive_->trace;
}
void VirtualRecorder::clearTrace() {
    drive_->trace.clear();
}
void VirtualRecorder::setTraceEnabled(bool enabled) {
    drive_->traceEnabled = enabled;
}

std::vector<uint8_t> VirtualRecorder::traceOpcodes() const {
    std::vector<uint8_t> ops;
    ops.reserve(drive_->trace.size());
    for (const TraceEntry& e : drive_->trace)
        ops.push_back(e.opcode());
    return ops;
}

std::string VirtualRecorder::formatTrace() const {
    return FormatTrace(drive_->trace);
}

ScsiResult VirtualRecorder::execute(const ScsiRequest& request) {
    return drive_->execute(request);
}

uint32_t VirtualRecorder::maxTransferBytes() const {
    return drive_->model.maxTransferBytes;
}

} // namespace tvx::vdrive
