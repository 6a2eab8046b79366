// A disc: its kind, layout (sessions, tracks, next writable address), format state and
// storage. Rules about who may write where live in the command handlers; this keeps the facts
// and persists them in a small state file beside the image.
#pragma once

#include "vdrive/block_store.h"
#include "vdrive/image_file.h"
#include "vdrive/virtual_recorder.h"

#include <memory>
#include <string>
#include <vector>

namespace tvx::vdrive {

struct Track {
    uint32_t number = 0;
    uint32_t session = 0;
    uint32_t start = 0;
    uint32_t size = 0;     // reserved or closed size in blocks
    uint32_t recorded = 0; // blocks written from start
    bool reserved = false;
    bool closed = false;
};

// The parts of a disc that a simulated (test) write changes and then forgets.
struct Layout {
    DiscStatus status = DiscStatus::Empty;
    uint32_t closedSessions = 0;
    std::vector<Track> tracks; // visible tracks, in order; the open session's are not closed
};

enum class MediumClass : uint8_t {
    Pressed,        // CD-ROM, DVD-ROM
    Sequential,     // DVD-R, DVD-RW sequential, DVD+R, both dual-layer kinds, CD-R, CD-RW, BD-R
    RandomWritable, // DVD-RW restricted overwrite, DVD-RAM, DVD+RW, BD-RE
};

MediumClass ClassOf(MediumKind kind);
bool IsPlus(MediumKind kind);
bool IsDash(MediumKind kind); // DVD-R, DVD-RW (both modes), DVD-R DL
// Media that must be formatted before the first write: DVD+RW, BD-RE.
bool NeedsFormat(MediumKind kind);

class Medium {
  public:
    Medium() = default;
    ~Medium();
    Medium(const Medium&) = delete;
    Medium& operator=(const Medium&) = delete;

    MediumKind kind = MediumKind::None;
    uint32_t capacity = 0;
    Layout layout;
    BackgroundFormat format = BackgroundFormat::None;
    uint32_t formattedBlocks = 0; // DVD+RW: how far the background format has come
    bool everWritten = false;     // random-writable media: anything written since blank/format
    std::unique_ptr<BlockStore> store;
    std::string backingFile;   // empty: in memory
    uint32_t stateMode = 0600; // permission bits of the state file: the image's
    bool stateDirty = false;
    // Set once the disc is in the process's table of attached images (attachments.h).
    ImageKey imageKey;
    bool attached = false;

    bool writable() const { return store && !store->readOnly(); }
    bool sequential() const { return ClassOf(kind) == MediumClass::Sequential; }

    // The open session's first track number, and the invisible track's start (sequential).
    uint32_t nextTrackNumber() const;
    uint32_t invisibleStart() const;
    uint32_t openSessionNumber() const { return layout.closedSessions + 1; }
    bool appendable() const { return layout.status != DiscStatus::Finalised; }
    Track* openTrack(); // the incomplete track taking writes, if any
    Track* track(uint32_t number);
    // Blocks readable from 0 up to this end (exclusive).
    uint32_t readableEnd() const;
    // What READ DISC INFORMATION says of the last session: 0 empty, 1 incomplete, 3 complete.
    uint8_t lastSessionState() const;
    // The disc status of random-writable media as drives report it: never blank once formatted
    // (a DVD+RW once its format began; DVD-RAM "others"), whatever the disc holds.
    DiscStatus randomWritableStatus() const;

    // Persistence: the state file beside the image.
    static std::string StatePath(const std::string& backingFile);
    bool saveState();
    // The disc whose state was saved beside image (open and claimed); null with a message.
    static std::shared_ptr<Medium> Load(std::unique_ptr<ImageFile> image, std::string& problem);
    // Backs the disc with image (open and claimed).
    void useImage(std::unique_ptr<ImageFile> image);
};

} // namespace tvx::vdrive
