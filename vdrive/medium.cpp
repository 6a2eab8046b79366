#include "vdrive/medium.h"

#include "vdrive/attachments.h"
#include "vdrive/state_file.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <sstream>

namespace tvx::vdrive {

MediumClass ClassOf(MediumKind kind) {
    switch (kind) {
    case MediumKind::DvdR:
    case MediumKind::DvdRwSequential:
    case MediumKind::DvdPlusR:
    case MediumKind::DvdPlusRDualLayer:
    case MediumKind::DvdRDualLayer:
    case MediumKind::CdR:
    case MediumKind::CdRw:
    case MediumKind::BdR:
    case MediumKind::BdRDualLayer:
        return MediumClass::Sequential;
    case MediumKind::DvdRwRestricted:
    case MediumKind::DvdRam:
    case MediumKind::DvdPlusRw:
    case MediumKind::BdRe:
        return MediumClass::RandomWritable;
    default:
        return MediumClass::Pressed;
    }
}

bool IsPlus(MediumKind kind) {
    return kind == MediumKind::DvdPlusR || kind == MediumKind::DvdPlusRw ||
           kind == MediumKind::DvdPlusRDualLayer;
}

bool IsDash(MediumKind kind) {
    return kind == MediumKind::DvdR || kind == MediumKind::DvdRwSequential ||
           kind == MediumKind::DvdRwRestricted || kind == MediumKind::DvdRDualLayer;
}

bool IsCd(MediumKind kind) {
    return kind == MediumKind::CdR || kind == MediumKind::CdRw;
}

bool IsBd(MediumKind kind) {
    return kind == MediumKind::BdR || kind == MediumKind::BdRDualLayer || kind == MediumKind::BdRe;
}

bool NeedsFormat(MediumKind kind) {
    return kind == MediumKind::DvdPlusRw || kind == MediumKind::BdRe;
}

uint32_t Medium::nextTrackNumber() const {
    return layout.tracks.empty() ? 1 : layout.tracks.back().number + 1;
}

uint32_t Medium::invisibleStart() const {
    if (layout.tracks.empty()) return 0;
    const Track& last = layout.tracks.back();
    return last.start + (last.closed || last.reserved ? last.size : last.recorded);
}

Track* Medium::openTrack() {
    for (Track& t : layout.tracks)
        if (!t.closed && t.session == openSessionNumber()) return &t;
    return nullptr;
}

Track* Medium::track(uint32_t number) {
    for (Track& t : layout.tracks)
        if (t.number == number) return &t;
    return nullptr;
}

uint32_t Medium::readableEnd() const {
    switch (ClassOf(kind)) {
    case MediumClass::Pressed:
        return capacity;
    case MediumClass::RandomWritable:
        if (NeedsFormat(kind) && format == BackgroundFormat::None) return 0;
        return capacity;
    case MediumClass::Sequential:
        break;
    }
    uint32_t end = 0;
    for (const Track& t : layout.tracks)
        end = t.start + t.recorded;
    return end;
}

DiscStatus Medium::randomWritableStatus() const {
    if (NeedsFormat(kind))
        return format != BackgroundFormat::None ? DiscStatus::Finalised : DiscStatus::Empty;
    return kind == MediumKind::DvdRam ? DiscStatus::Other : DiscStatus::Finalised;
}

uint8_t Medium::lastSessionState() const {
    if (layout.status == DiscStatus::Finalised) return 3;
    for (const Track& t : layout.tracks)
        if (t.session == openSessionNumber()) return 1;
    return 0;
}

std::string Medium::StatePath(const std::string& backingFile) {
    return backingFile + ".state";
}

Medium::~Medium() {
    // The image is closed, and its claim dropped, before another attachment may claim it.
    store.reset();
    if (attached) DetachDisc(imageKey);
}

void Medium::useImage(std::unique_ptr<ImageFile> image) {
    backingFile = image->path();
    stateMode = image->mode();
    store = MakeFileStore(std::move(image));
}

bool Medium::saveState() {
    stateDirty = false;
    if (backingFile.empty()) return true;
    std::ostringstream out;
    out << "kind=" << MediumName(kind) << "\n"
        << "capacity=" << capacity << "\n"
        << "status=" << static_cast<int>(layout.status) << "\n"
        << "closedSessions=" << layout.closedSessions << "\n"
        << "format=" << static_cast<int>(format) << "\n"
        << "formattedBlocks=" << formattedBlocks << "\n"
        << "everWritten=" << (everWritten ? 1 : 0) << "\n";
    for (const Track& t : layout.tracks)
        out << "track=" << t.number << "," << t.session << "," << t.start << "," << t.size << ","
            << t.recorded << "," << (t.reserved ? 1 : 0) << "," << (t.closed ? 1 : 0) << "\n";
    std::string problem;
    return ReplaceStateFile(StatePath(backingFile), out.str(), stateMode, problem);
}

std::shared_ptr<Medium> Medium::Load(std::unique_ptr<ImageFile> image, std::string& problem) {
    std::string text;
    std::string statePath = StatePath(image->path());
    if (!ReadStateFile(statePath, text, problem)) return nullptr;
    std::istringstream in(text);
    problem = statePath + " holds no valid disc state";
    auto m = std::make_shared<Medium>();
    std::string line;
    bool haveKind = false;
    while (std::getline(in, line)) {
        auto eq = line.find('=');
        if (eq == std::string::npos) continue;
        std::string key = line.substr(0, eq), value = line.substr(eq + 1);
        uint32_t number = 0;
        auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), number);
        bool numeric = error == std::errc() && end == value.data() + value.size();
        if (key == "kind") {
            haveKind = MediumFromName(value, m->kind);
        } else if (key == "track") {
            Track t;
            unsigned reserved = 0, closed = 0;
            if (std::sscanf(value.c_str(), "%u,%u,%u,%u,%u,%u,%u", &t.number, &t.session, &t.start,
                            &t.size, &t.recorded, &reserved, &closed) != 7)
                return nullptr;
            t.reserved = reserved != 0;
            t.closed = closed != 0;
            m->layout.tracks.push_back(t);
        } else if (!numeric) {
            return nullptr;
        } else if (key == "capacity") {
            m->capacity = number;
        } else if (key == "status") {
            m->layout.status = static_cast<DiscStatus>(number & 3);
        } else if (key == "closedSessions") {
            m->layout.closedSessions = number;
        } else if (key == "format") {
            m->format = static_cast<BackgroundFormat>(number & 3);
        } else if (key == "formattedBlocks") {
            m->formattedBlocks = number;
        } else if (key == "everWritten") {
            m->everWritten = number != 0;
        }
    }
    for (const Track& t : m->layout.tracks)
        if (uint64_t{t.start} + std::max(t.size, t.recorded) > m->capacity) return nullptr;
    if (!haveKind || m->kind == MediumKind::None || m->capacity == 0) return nullptr;
    // A pressed disc is read only: the image must have been opened so.
    if (image->readOnly() != (ClassOf(m->kind) == MediumClass::Pressed)) return nullptr;
    m->useImage(std::move(image));
    problem.clear();
    return m;
}

} // namespace tvx::vdrive
