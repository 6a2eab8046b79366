// A disc in memory behind a tiny SCSI target: enough of a drive for the reader (TEST UNIT
// READY, READ CAPACITY, READ(10), WRITE(10), READ DISC INFORMATION, READ TRACK INFORMATION,
// SET STREAMING). Every other command is refused. Reads outside the image fail, as do reads of
// sectors marked unreadable; every command is logged.
#pragma once

#include "platform/scsi_target.h"

#include <cstddef>
#include <cstdint>
#include <set>
#include <vector>

namespace tvx::test {

class MemoryDisc : public ScsiTarget {
public:
    explicit MemoryDisc(std::vector<uint8_t> image) : image_(std::move(image)) {}

    ScsiResult execute(const ScsiRequest& request) override;

    std::vector<uint8_t>& image() { return image_; }
    uint32_t sectors() const { return static_cast<uint32_t>(image_.size() / 2048); }

    // Track description; by default one track over the whole image, all of it recorded.
    bool blank = false;
    std::set<uint32_t> unreadable;
    bool refuseDiscInfo = false;

    struct Command {
        uint8_t opcode;
        uint32_t lba;
        uint32_t blocks;
    };
    std::vector<Command> log;
    size_t count(uint8_t opcode) const;
    size_t readsOf(uint32_t lba) const;

private:
    std::vector<uint8_t> image_;
};

} // namespace tvx::test
