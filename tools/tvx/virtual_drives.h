// Virtual recorders for machines without a drive: each is an image file holding a disc of a
// given kind. The tool does not attach them itself: it configures the virtual recorders' ASPI
// layer, which the library loads when no pass-through drive answers, so the tool uses nothing
// beyond the public interface. On a machine with a real drive the pass-through path wins and the
// virtual drives are not seen.
#pragma once

#include "vdrive/aspi_layer/layer_config.h"

#include <string>
#include <vector>

namespace tvxcli {

struct VirtualDriveRequest : tvx::vdrive::LayerDriveRequest {
    bool kindGiven = false; // the text named a kind (else the default stands)
};
using VirtualFaultRequest = tvx::vdrive::LayerFaultRequest;

// Parses "IMAGE[:KIND[:BLOCKS][+BEHAVIOUR[=ARGS]]...]"; false with a message on a bad request.
bool ParseVirtualDrive(const std::string& text, VirtualDriveRequest& request, std::string& error);
// A fault the virtual recorders inject, for testing hosts: "OPCODE[@N]:sense:KK/AA/QQ" or
// "OPCODE[@N]:malformed" (hexadecimal operation code; N = the n-th such command, default every).
bool ParseVirtualFault(const std::string& text, VirtualFaultRequest& request, std::string& error);

// Configures the layer for this process (before TVX_Initialize): the drives in order, the faults
// as given, and fast timing so that nothing waits for the model's simulated minutes. An image
// without a state file is loaded as a pressed DVD-ROM when it exists and KIND is dvd-rom, as a
// recorded DVD+RW when KIND is dvd+rw, and a missing image is created blank. An image with a
// state file holds its own kind of disc: a different kind given for it is refused. False with
// a message when a drive cannot be attached.
bool ConfigureVirtualDrives(const std::vector<VirtualDriveRequest>& drives,
                            const std::vector<std::string>& faultTexts, std::string& error);

// Kinds accepted on the command line, for help texts.
const char* VirtualDriveKinds();

} // namespace tvxcli
