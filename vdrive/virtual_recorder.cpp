// The public face of the model: disc handling, inspection, faults and trace over Drive.
#include "vdrive/virtual_recorder.h"

#include "vdrive/drive.h"

#include <sys/stat.h>

namespace tvx::vdrive {
namespace {

std::unique_ptr<Medium> NewMedium(MediumKind kind, uint32_t capacity, const std::string& file) {
    if (ClassOf(kind) == MediumClass::Pressed || kind == MediumKind::None) return nullptr;
    auto m = std::make_unique<Medium>();
    m->kind = kind;
    m->capacity = capacity ? capacity : RealCapacity(kind);
    if (ClassOf(kind) == MediumClass::RandomWritable)
        m->layout.tracks.push_back(Track{1, 1, 0, m->capacity, 0, false, false});
    m->store = file.empty() ? MakeMemoryStore() : MakeFileStore(file, true, false, m->capacity);
    if (!m->store) return nullptr;
    m->backingFile = file;
    if (!m->saveState()) return nullptr;
    return m;
}

} // namespace

VirtualRecorder::VirtualRecorder(Clock& clock, DriveModel model)
    : drive_(std::make_unique<Drive>(clock, std::move(model))) {}

VirtualRecorder::~VirtualRecorder() = default;

bool VirtualRecorder::insertBlank(MediumKind kind, uint32_t capacityBlocks,
                                  const std::string& backingFile) {
    auto m = NewMedium(kind, capacityBlocks, backingFile);
    if (!m) return false;
    if (kind == MediumKind::DvdRam) m->everWritten = false;
    drive_->putDisc(std::move(m));
    return true;
}

bool VirtualRecorder::insertRecorded(MediumKind kind, uint32_t recordedBlocks, bool finalised,
                                     uint32_t capacityBlocks, const std::string& backingFile) {
    auto m = NewMedium(kind, capacityBlocks, backingFile);
    if (!m || recordedBlocks == 0 || recordedBlocks > m->capacity) return false;
    if (ClassOf(kind) == MediumClass::RandomWritable) {
        // Written over its whole surface once; DVD+RW fully formatted.
        m->layout.tracks.front().recorded = recordedBlocks;
        m->everWritten = true;
        if (kind == MediumKind::DvdPlusRw) {
            m->format = BackgroundFormat::Complete;
            m->formattedBlocks = m->capacity;
        }
    } else {
        m->layout.tracks.push_back(Track{1, 1, 0, recordedBlocks, recordedBlocks, false, true});
        m->layout.closedSessions = 1;
        m->layout.status = finalised ? DiscStatus::Finalised : DiscStatus::Incomplete;
    }
    if (!m->saveState()) return false;
    drive_->putDisc(std::move(m));
    return true;
}

bool VirtualRecorder::loadImage(const std::string& imageFile, MediumKind kind) {
    if (kind != MediumKind::DvdRom && kind != MediumKind::CdRom && kind != MediumKind::DvdPlusRw)
        return false;
    struct stat st {};
    if (::stat(imageFile.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
    uint64_t blocks = (static_cast<uint64_t>(st.st_size) + kBlockSize - 1) / kBlockSize;
    auto m = std::make_unique<Medium>();
    m->kind = kind;
    bool pressed = kind != MediumKind::DvdPlusRw;
    m->store = MakeFileStore(imageFile, false, pressed, 0);
    if (!m->store) return false;
    if (pressed) {
        if (blocks == 0 || blocks > 0xFFFFFFFFull) return false;
        m->capacity = static_cast<uint32_t>(blocks);
    } else {
        m->capacity = std::max<uint32_t>(RealCapacity(kind), static_cast<uint32_t>(blocks));
        m->format = BackgroundFormat::Complete;
        m->formattedBlocks = m->capacity;
        m->everWritten = true;
        m->layout.tracks.push_back(
            Track{1, 1, 0, m->capacity, static_cast<uint32_t>(blocks), false, false});
        m->backingFile = imageFile;
        if (!m->saveState()) return false;
    }
    drive_->putDisc(std::move(m));
    return true;
}

bool VirtualRecorder::openDisc(const std::string& backingFile) {
    auto m = Medium::Load(backingFile);
    if (!m) return false;
    // A background format does not survive a power cycle: it has to be restarted.
    if (m->format == BackgroundFormat::Running) m->format = BackgroundFormat::Stopped;
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
