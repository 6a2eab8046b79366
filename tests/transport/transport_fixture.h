// A simulated machine for transport tests: SimHost installed, the log in a temporary folder,
// the library terminated at the end.
#pragma once

#include "support/temp_dir.h"
#include "torvexin.h"
#include "transport/scripted_target.h"

#include <gtest/gtest.h>

namespace tvx::test {

class TransportTest : public ::testing::Test {
  protected:
    // Targets first: they outlive the host that routes requests to them.
    ScriptedTarget driveD;
    ScriptedTarget driveE;
    TempDir dir;
    ScopedSimHost sim;

    void SetUp() override {
        sim->setTempDirectory(dir.path() + "/");
#if defined(_WIN32)
        sim->setMutexDirectory(dir.path()); // the named mutexes of this run only
#endif
    }
    void TearDown() override {
        TVX_Terminate();
    }
    std::string log() {
        return ReadWholeFile(dir.file("Torvexin.log"));
    }
};

} // namespace tvx::test
