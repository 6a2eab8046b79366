// Shared set-up of the reader tests: a test volume served by an in-memory disc through the
// direct transport.
#pragma once

#include "memory_disc.h"
#include "support/direct_transport.h"
#include "test_udf_image.h"
#include "torvexin.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace tvx::test {

class ReaderTest : public ::testing::Test {
  protected:
    void serve(std::vector<uint8_t> image) {
        disc_ = std::make_unique<MemoryDisc>(std::move(image));
        handle_ = transport_.open(*disc_);
    }
    TestVolume serveVolume(const TestNode& root, const TestVolumeOptions& options = {}) {
        TestVolume volume = BuildTestVolume(root, options);
        serve(volume.image);
        return volume;
    }
    TVX_DiscFile open(const char* path) { return TVX_OpenFile(handle_, path); }

    // The whole file through TVX_ReadFile in calls of chunk bytes.
    std::string readAll(TVX_DiscFile file, uint32_t chunk = 65536) {
        std::string out;
        std::string buffer(chunk, '\0');
        uint32_t got = 0;
        while (TVX_ReadFile(file, buffer.data(), chunk, &got) && got > 0)
            out.append(buffer, 0, got);
        return out;
    }

    // The location of the handle's LastError record: which refusal or failure it was.
    int32_t LastLocation() {
        TVX_LastError error{};
        TVX_GetLastError(handle_, &error);
        return error.location;
    }

    DirectTransport transport_;
    std::unique_ptr<MemoryDisc> disc_;
    TvxRecHandle* handle_ = nullptr;
};

} // namespace tvx::test
