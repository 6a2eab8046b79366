// Drives by their device: the library's drive letters stand for the optical devices in device
// order (D: is the first /dev/srN, E: the next), and the virtual layer's drives sit on adapter 0,
// one target per attached image.
#pragma once

#include "torvexin.h"

#include <string>
#include <vector>

namespace tvxcli {

// "/dev/sr0", "virtual:IMAGE", or "adapter H target T lun L" when neither applies.
std::string DeviceName(const TVX_DriveInfo& info, const std::vector<std::string>& virtualImages);

// The drive index that text names: an index, a device file (symbolic links such as /dev/cdrom
// are followed) or virtual:IMAGE. -1 with a message when no drive of the started library fits.
int ResolveDrive(const std::string& text, const std::vector<std::string>& virtualImages,
                 std::string& error);

} // namespace tvxcli
