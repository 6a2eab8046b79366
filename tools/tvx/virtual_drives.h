// Virtual recorders for machines without a drive: each is an image file holding a disc of a
// given kind, attached as a drive letter. This is the tool's only reach beyond the public
// interface.
#pragma once

#include <memory>
#include <cstdint>
#include <string>
#include <vector>

namespace tvxcli {

struct VirtualDriveSpec {
    std::string image;  // disc image file (its state file sits beside it)
    std::string kind;   // "dvd-r", "dvd+rw", ... used when the image does not exist yet
    uint32_t capacity;  // blocks for a new disc; 0 = a real disc's capacity
};

// A fault the virtual recorders inject, for testing hosts: "OPCODE[@N]:sense:KK/AA/QQ" or
// "OPCODE[@N]:malformed" (hexadecimal operation code; N = the n-th such command, default every).
struct VirtualFaultSpec {
    int opcode = -1;
    uint32_t occurrence = 0;
    bool malformed = false;
    uint8_t key = 0, asc = 0, ascq = 0;
};
bool ParseVirtualFault(const std::string& text, VirtualFaultSpec& spec, std::string& error);

// Parses "IMAGE[:KIND[:BLOCKS]]"; false with a message on a bad spec.
bool ParseVirtualDrive(const std::string& text, VirtualDriveSpec& spec, std::string& error);

// Attaches the drives (letters D:, E:, ...) for the life of the object. An image without a state
// file is loaded as a pressed DVD-ROM when it exists and KIND is dvd-rom, as a recorded DVD+RW
// when KIND is dvd+rw, and a missing image is created blank.
class VirtualDrives {
public:
    VirtualDrives();
    ~VirtualDrives();
    bool attach(const std::vector<VirtualDriveSpec>& specs,
                const std::vector<VirtualFaultSpec>& faults, std::string& error);
    // Saves every disc's state (also done on destruction).
    void save();

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// Kinds accepted on the command line, for help texts.
const char* VirtualDriveKinds();

} // namespace tvxcli
