#include "virtual_drives.h"

#include "platform/sim/sim_host.h"
#include "vdrive/virtual_recorder.h"

#include <filesystem>
#include <map>

namespace tvxcli {

namespace {

using tvx::vdrive::MediumKind;

const std::map<std::string, MediumKind>& kinds() {
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
    };
    return table;
}

} // namespace

const char* VirtualDriveKinds() {
    return "dvd-r, dvd-rw, dvd-rw-ro, dvd-ram, dvd+r, dvd+rw, dvd+r-dl, dvd-r-dl, dvd-rom";
}

bool ParseVirtualDrive(const std::string& text, VirtualDriveSpec& spec, std::string& error) {
    spec = {text, "dvd-r", 0};
    size_t colon = text.find(':');
    if (colon != std::string::npos) {
        spec.image = text.substr(0, colon);
        std::string rest = text.substr(colon + 1);
        size_t second = rest.find(':');
        spec.kind = rest.substr(0, second);
        if (second != std::string::npos) {
            try {
                spec.capacity = static_cast<uint32_t>(std::stoul(rest.substr(second + 1)));
            } catch (...) {
                error = "bad block count in '" + text + "'";
                return false;
            }
        }
    }
    if (spec.image.empty()) {
        error = "no image file in '" + text + "'";
        return false;
    }
    if (!kinds().count(spec.kind)) {
        error = "unknown disc kind '" + spec.kind + "' (use " + VirtualDriveKinds() + ")";
        return false;
    }
    return true;
}

struct VirtualDrives::Impl {
    tvx::SimHost host;
    std::vector<std::unique_ptr<tvx::vdrive::VirtualRecorder>> recorders;
};

VirtualDrives::VirtualDrives() : impl_(new Impl) {}

VirtualDrives::~VirtualDrives() {
    save();
    tvx::setHost(nullptr);
}

bool VirtualDrives::attach(const std::vector<VirtualDriveSpec>& specs, std::string& error) {
    char letter = 'D';
    for (const auto& spec : specs) {
        if (letter > 'Z') {
            error = "too many virtual drives";
            return false;
        }
        auto recorder = std::make_unique<tvx::vdrive::VirtualRecorder>(
            impl_->host.virtualClock(), tvx::vdrive::DriveModel::Default());
        MediumKind kind = kinds().at(spec.kind);
        namespace fs = std::filesystem;
        bool ok;
        if (fs::exists(spec.image + ".state")) {
            ok = recorder->openDisc(spec.image);
        } else if (fs::exists(spec.image) &&
                   (kind == MediumKind::DvdRom || kind == MediumKind::DvdPlusRw)) {
            ok = recorder->loadImage(spec.image, kind);
        } else if (fs::exists(spec.image)) {
            error = spec.image + " exists but holds no disc state; use :dvd-rom or :dvd+rw to "
                                 "load an image file";
            return false;
        } else {
            ok = recorder->insertBlank(kind, spec.capacity, spec.image);
        }
        if (!ok) {
            error = "cannot attach " + spec.image;
            return false;
        }
        impl_->host.addDrive(letter, tvx::DRIVE_CDROM, recorder.get());
        impl_->recorders.push_back(std::move(recorder));
        ++letter;
    }
    tvx::setHost(&impl_->host);
    return true;
}

void VirtualDrives::save() {
    for (auto& r : impl_->recorders) r->flush();
}

} // namespace tvxcli
