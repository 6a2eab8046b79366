// The library's lifetime for one tool run, and the commands' shared options.
#pragma once

#include "torvexin.h"

#include <string>
#include <vector>

namespace tvxcli {

struct Options {
    std::string drive = "0"; // index or device file (see `tvx drives`)
    bool quiet = false;
    bool verbose = false; // sense details and phases
    bool json = false;
    // The virtual drives' images in attach order, as given: they name the layer's drives.
    std::vector<std::string> virtualImages;
    // burning
    std::string label;
    std::string speed; // "8", "8x", "11080kB" or "max"
    bool testWrite = false;
    bool verify = false;
    // SOURCE_DATE_EPOCH is set: the tool builds the volume itself, with the times it gives
    bool sourceDate = false;
    // erasing
    bool full = false;
};

// Starts the library (TVX_Initialize) and opens the chosen drive; ends both on destruction.
class Session {
  public:
    Session() = default;
    ~Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    // 0 when the library found a transport; an exit code otherwise (message printed).
    int start();
    // 0 and the handle of the drive the options name, or an exit code (message printed).
    int open(const Options& options);
    TVX_RecHandle handle() const { return handle_; }
    int index() const { return index_; }

  private:
    bool started_ = false;
    int index_ = -1;
    TVX_RecHandle handle_ = nullptr;
};

// DVD 1x in kB/s: what a bare speed number or one with x multiplies.
inline constexpr double kDvdOneX = 1385.0;
// 1x of the disc's kind in kB/s: CD 176.4, BD 4495, DVD (and anything else) 1385.
double OneX(uint32_t mediaType);

// "8" or "8x" -> 8 * oneX kB/s, as burners read a speed; "11080kB" (or kB/s, k) is kB/s;
// "max" or "" -> -1. The number is digits with an optional fraction, and the speed must be at
// least 1 kB/s. False on bad text.
bool ParseSpeed(const std::string& text, int32_t& kBps, double oneX = kDvdOneX);

} // namespace tvxcli
