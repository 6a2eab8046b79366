// Writing a host file safely: the data goes to a temporary file in the destination's folder
// (one without a name where the system allows, so that even a killed process leaves nothing),
// which replaces the destination only once everything was written; on any failure the
// destination is left as it was.
#pragma once

#include <cstdio>
#include <string>

namespace tvxcli {

class SafeOutput {
  public:
    explicit SafeOutput(std::string destination) : destination_(std::move(destination)) {}
    ~SafeOutput(); // removes the temporary file unless committed
    SafeOutput(const SafeOutput&) = delete;
    SafeOutput& operator=(const SafeOutput&) = delete;

    // Opens the temporary file (or, for a device or pipe, the destination itself); false with a
    // message.
    bool open(std::string& error);
    FILE* file() const { return file_; }
    // Flushes, syncs and renames over the destination; false with a message.
    bool commit(std::string& error);

  private:
    // Links the unnamed file (O_TMPFILE) under a fresh temporary name beside the destination.
    bool giveName(int fd, std::string& error);

    std::string destination_;
    std::string temporary_;
    FILE* file_ = nullptr;
    bool direct_ = false;
    bool committed_ = false;
    bool unnamed_ = false; // open without a name yet: nothing to remove
};

} // namespace tvxcli
