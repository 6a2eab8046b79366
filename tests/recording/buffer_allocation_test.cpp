// A transfer buffer that cannot be allocated fails the job before the engine sends anything.
// The array allocation functions of this program are replaced so that the job's one allocation
// of that size can be refused.
#include "recording/job_support.h"
#include "recording_fixture.h"

#include <cstdlib>
#include <new>

namespace {
bool refuseTransferBuffer = false;
}

void* operator new[](std::size_t size) {
    void* p = std::malloc(size ? size : 1);
    if (!p) throw std::bad_alloc();
    return p;
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
    if (refuseTransferBuffer && size == tvx::TransferBuffer::kAllocationBytes) return nullptr;
    return std::malloc(size ? size : 1);
}
void operator delete[](void* p) noexcept {
    std::free(p);
}
void operator delete[](void* p, std::size_t) noexcept {
    std::free(p);
}
void operator delete[](void* p, const std::nothrow_t&) noexcept {
    std::free(p);
}

namespace tvx::test {
namespace {

class BufferAllocationTest : public RecordingTest {
  protected:
    void TearDown() override { refuseTransferBuffer = false; }
};

TEST_F(BufferAllocationTest, RefusedBufferFailsTheJobBeforeTheEngineStarts) {
    makeFile("data/a.bin", 1000);
    std::string image = makeFile("image.iso", 4096);
    TVX_BurnOptions options = {TVX_MODE_WRITE_VERIFY, -1};
    for (int job = 0; job < 2; ++job) {
        insertBlank(vdrive::MediumKind::DvdPlusR);
        drive->clearTrace();
        refuseTransferBuffer = true;
        TVX_Result result = job == 0
                                ? TVX_BurnVolumeData(handle, &options, dir.file("data").c_str(),
                                                     nullptr, nullptr, 0)
                                : TVX_BurnVolumeImage(handle, &options, image.c_str(), nullptr, 0);
        refuseTransferBuffer = false;
        EXPECT_EQ(result, TVX_ERR_COMMAND);
        EXPECT_EQ(traceText().find("PREVENT1"), std::string::npos) << traceText();
        EXPECT_EQ(handle->rec.bufferAllocation, nullptr);
        drive->removeDisc();
    }
}

} // namespace
} // namespace tvx::test
