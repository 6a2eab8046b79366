// The library's lifetime for one tool run, and the commands' shared options.
#pragma once

#include "torvexin.h"

#include <string>
#include <vector>

namespace tvxcli {

struct Options {
    int drive = 0;
    bool quiet = false;
    // burning
    std::string label;
    std::string speed; // "8x", "11080" (kB/s) or "max"
    bool testWrite = false;
    bool verify = false;
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
    // 0 and the handle of drive index, or an exit code (message printed).
    int open(int index);
    TVX_RecHandle handle() const { return handle_; }

private:
    bool started_ = false;
    TVX_RecHandle handle_ = nullptr;
};

// "8x" -> 8 * 1385 kB/s; "max" or "" -> -1; a plain number is kB/s. False on bad text.
bool ParseSpeed(const std::string& text, int32_t& kBps);

} // namespace tvxcli
