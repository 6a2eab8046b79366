// Test helpers: a temporary folder removed with everything in it, and a simulation host
// installed for the life of a test.
#pragma once

#include "platform/sim/sim_host.h"

#include <string>
#include <vector>

namespace tvx::test {

class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return path_; }
    // path()/relative
    std::string file(const std::string& relative) const;
    // Writes a file (making its folders) and returns its full path.
    std::string write(const std::string& relative, const std::string& content) const;
    std::string mkdir(const std::string& relative) const;

private:
    std::string path_;
};

std::string ReadWholeFile(const std::string& path);

// Installs a SimHost as the process-wide host while alive.
class ScopedSimHost {
public:
    ScopedSimHost();
    ~ScopedSimHost();
    SimHost& operator*() { return host_; }
    SimHost* operator->() { return &host_; }

private:
    SimHost host_;
};

} // namespace tvx::test
