// The virtual recorders' ASPI layer on its own: its configuration, its answers to the request
// blocks, pending completion, and the module as the native host loads it.
#include "platform/aspi_request.h"
#include "platform/posix/posix_host.h"
#include "support/temp_dir.h"
#include "vdrive/aspi_layer/virtual_layer.h"

#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <mutex>

namespace tvx::test {
namespace {

using vdrive::LayerConfig;
using vdrive::VirtualAspiLayer;

uint8_t StatusOf(SRB_ExecSCSICmd& srb) {
    return std::atomic_ref<uint8_t>(srb.SRB_Status).load();
}

// Counts the layer's completion signals.
struct Signals {
    std::mutex lock;
    std::condition_variable changed;
    int count = 0;
    AspiEvent event{&Signals::Signal, this};

    static void Signal(AspiEvent* event) {
        auto* self = static_cast<Signals*>(event->context);
        std::lock_guard<std::mutex> guard(self->lock);
        ++self->count;
        self->changed.notify_all();
    }
    void waitFor(int n) {
        std::unique_lock<std::mutex> guard(lock);
        changed.wait(guard, [&] { return count >= n; });
    }
};

SRB_ExecSCSICmd Inquiry(uint8_t target, uint8_t* data, Signals* signals = nullptr) {
    SRB_ExecSCSICmd srb{};
    srb.SRB_Cmd = SC_EXEC_SCSI_CMD;
    srb.SRB_Target = target;
    srb.SRB_Flags = SRB_DIR_IN | SRB_EVENT_NOTIFY;
    srb.SRB_BufLen = 36;
    srb.SRB_BufPointer = data;
    srb.SRB_SenseLen = kAspiSenseLength;
    srb.SRB_CDBLen = 6;
    srb.CDBByte[0] = 0x12;
    srb.CDBByte[4] = 36;
    srb.SRB_PostProc = signals ? &signals->event : nullptr;
    return srb;
}

LayerConfig Config(const TempDir& dir, const std::string& drives, bool pending = false) {
    LayerConfig config;
    std::string error;
    std::string list;
    for (char c : drives)
        list += c == '@' ? dir.path() + "/" : std::string(1, c);
    EXPECT_TRUE(vdrive::ParseLayerConfig(list.c_str(), nullptr, "fast",
                                         pending ? "pending" : nullptr, config, error))
        << error;
    return config;
}

TEST(AspiLayerConfig, ReadsDrivesFaultsAndModesAndRefusesBadText) {
    LayerConfig config;
    std::string error;
    ASSERT_TRUE(vdrive::ParseLayerConfig("a.img;;b.img:dvd+rw:100;c.img:dvd-ram+close-only",
                                         "2a@1:sense:03/0C/00;a8:malformed", "fast", "pending",
                                         config, error));
    ASSERT_EQ(config.drives.size(), 3u);
    EXPECT_EQ(config.drives[0].kind, "dvd-r");
    EXPECT_EQ(config.drives[1].kind, "dvd+rw");
    EXPECT_EQ(config.drives[1].capacity, 100u);
    EXPECT_TRUE(config.drives[1].behaviours.empty());
    EXPECT_EQ(config.drives[2].capacity, 0u);
    EXPECT_EQ(config.drives[2].behaviours, std::vector<std::string>{"close-only"});
    ASSERT_EQ(config.faults.size(), 2u);
    EXPECT_EQ(config.faults[0].opcode, 0x2A);
    EXPECT_EQ(config.faults[0].occurrence, 1u);
    EXPECT_EQ(config.faults[0].asc, 0x0C);
    EXPECT_TRUE(config.faults[1].malformed);
    EXPECT_TRUE(config.fastTiming && config.pendingCompletion);

    EXPECT_FALSE(
        vdrive::ParseLayerConfig("x.img:floppy", nullptr, nullptr, nullptr, config, error));
    EXPECT_NE(error.find("floppy"), std::string::npos);
    EXPECT_FALSE(
        vdrive::ParseLayerConfig("x.img:dvd-r:12k", nullptr, nullptr, nullptr, config, error));
    EXPECT_FALSE(vdrive::ParseLayerConfig(":dvd-r", nullptr, nullptr, nullptr, config, error));
    EXPECT_FALSE(
        vdrive::ParseLayerConfig(nullptr, "2a:sense:03/0C", nullptr, nullptr, config, error));
    EXPECT_FALSE(vdrive::ParseLayerConfig(nullptr, nullptr, "slow", nullptr, config, error));
    EXPECT_FALSE(vdrive::ParseLayerConfig(nullptr, nullptr, nullptr, "later", config, error));

    // Behaviours follow the kind (whose own '+' belongs to it) and the size.
    ASSERT_TRUE(vdrive::ParseLayerConfig(
        "a.img:dvd+rw+slow-format=60;b.img:dvd+r:64+write-busy=5,05/2C/00+descriptor-sense",
        nullptr, nullptr, nullptr, config, error))
        << error;
    EXPECT_EQ(config.drives[0].kind, "dvd+rw");
    EXPECT_EQ(config.drives[0].behaviours, std::vector<std::string>{"slow-format=60"});
    EXPECT_EQ(config.drives[1].kind, "dvd+r");
    EXPECT_EQ(config.drives[1].capacity, 64u);
    EXPECT_EQ(config.drives[1].behaviours,
              (std::vector<std::string>{"write-busy=5,05/2C/00", "descriptor-sense"}));
    for (const char* bad :
         {"x.img:dvd-r+no-such", "x.img:dvd-r:64+write-busy=soon", "x.img:dvd+rwx+recovered"}) {
        EXPECT_FALSE(vdrive::ParseLayerConfig(bad, nullptr, nullptr, nullptr, config, error))
            << bad;
        EXPECT_NE(error.find(bad), std::string::npos) << error;
    }
}

TEST(AspiLayer, AnswersTheAdapterAndItsTargetsAndRefusesOtherAddresses) {
    TempDir dir;
    {
        VirtualAspiLayer empty(LayerConfig{});
        EXPECT_EQ(empty.supportInfo() >> 8, SS_NO_ADAPTERS);
        SRB_HAInquiry inquiry{};
        EXPECT_EQ(empty.sendCommand(&inquiry), SS_INVALID_HA);
    }
    dir.write("taken.img", "not a disc");
    VirtualAspiLayer layer(Config(dir, "@one.img;@taken.img;@two.img:dvd+rw:1000+max-transfer"));
    EXPECT_EQ(layer.driveCount(), 2u);
    // An existing file without disc state.
    ASSERT_EQ(layer.problems().size(), 1u);
    EXPECT_EQ(layer.supportInfo(), (static_cast<uint32_t>(SS_COMP) << 8) | 1);

    SRB_HAInquiry inquiry{};
    EXPECT_EQ(layer.sendCommand(&inquiry), SS_COMP);
    EXPECT_EQ(inquiry.HA_Unique[kHaUniqueMaxTargets], 2);
    // The adapter's largest transfer is that of its most limited drive.
    EXPECT_EQ(inquiry.HA_Unique[kHaUniqueMaxTransfer + 1], 0x80);
    EXPECT_EQ(inquiry.HA_Unique[kHaUniqueMaxTransfer + 2], 0);
    inquiry = {};
    inquiry.SRB_HaId = 1;
    EXPECT_EQ(layer.sendCommand(&inquiry), SS_INVALID_HA);

    uint8_t data[36] = {};
    SRB_ExecSCSICmd srb = Inquiry(1, data);
    EXPECT_EQ(layer.sendCommand(&srb), SS_COMP);
    EXPECT_EQ(StatusOf(srb), SS_COMP);
    EXPECT_EQ(data[0] & 0x1F, 5);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(data + 8), 3), "TVX");
    EXPECT_TRUE(layer.drive(1).trace().empty()) << "no trace was asked for";
    srb = Inquiry(2, data);
    EXPECT_EQ(layer.sendCommand(&srb), SS_NO_DEVICE);
    srb = Inquiry(0, data);
    srb.SRB_Lun = 1;
    EXPECT_EQ(layer.sendCommand(&srb), SS_NO_DEVICE);

    // A drive's refusal comes back as SS_ERR with its status and sense.
    uint8_t block[2048];
    SRB_ExecSCSICmd read = Inquiry(0, block);
    read.SRB_BufLen = sizeof block;
    read.SRB_CDBLen = 10;
    std::memset(read.CDBByte, 0, sizeof read.CDBByte);
    read.CDBByte[0] = 0x28;
    read.CDBByte[5] = 100; // a blank disc has nothing to read
    read.CDBByte[8] = 1;
    EXPECT_EQ(layer.sendCommand(&read), SS_ERR);
    EXPECT_EQ(read.SRB_TargStat, 2);
    EXPECT_EQ(read.SenseArea[0] & 0x7F, 0x70);
    EXPECT_NE(read.SenseArea[2] & 0x0F, 0);
}

TEST(AspiLayer, TargetsNamingOneImageShareOneDrive) {
    TempDir dir;
    VirtualAspiLayer layer(Config(dir, "@a.img:dvd+r:1000;@./a.img;@b.img:dvd+r:1000"));
    ASSERT_EQ(layer.driveCount(), 3u);
    EXPECT_EQ(&layer.drive(0), &layer.drive(1));
    EXPECT_NE(&layer.drive(0), &layer.drive(2));
}

TEST(AspiLayer, PendingRequestsAreSignalledOnceAndUnloadingAbortsTheRest) {
    TempDir dir;
    Signals signals;
    constexpr int kRequests = 40;
    std::vector<SRB_ExecSCSICmd> requests;
    std::vector<std::array<uint8_t, 36>> buffers(kRequests);
    requests.reserve(kRequests);
    {
        VirtualAspiLayer layer(Config(dir, "@p.img", true));
        uint8_t data[36] = {};
        SRB_ExecSCSICmd first = Inquiry(0, data, &signals);
        EXPECT_EQ(layer.sendCommand(&first), SS_PENDING);
        signals.waitFor(1);
        EXPECT_EQ(StatusOf(first), SS_COMP);
        EXPECT_EQ(data[0] & 0x1F, 5);

        SRB_Abort unknown{};
        unknown.SRB_Cmd = SC_ABORT_SRB;
        unknown.SRB_ToAbort = &first; // long finished
        EXPECT_EQ(layer.sendCommand(&unknown), SS_ABORT_FAIL);

        for (int i = 0; i < kRequests; ++i) {
            requests.push_back(Inquiry(0, buffers[i].data(), &signals));
            layer.sendCommand(&requests.back());
        }
        SRB_Abort abort{};
        abort.SRB_Cmd = SC_ABORT_SRB;
        abort.SRB_ToAbort = &requests.back();
        layer.sendCommand(&abort); // aborted unless already run
    }
    EXPECT_EQ(signals.count, kRequests + 1);
    for (auto& srb : requests) {
        uint8_t status = StatusOf(srb);
        EXPECT_TRUE(status == SS_COMP || status == SS_ABORTED) << int(status);
    }
}

TEST(AspiLayerModule, TheNativeHostLoadsTheBuiltModuleByPath) {
    PosixHost native;
    EXPECT_EQ(native.loadModule("TVX_NO_SUCH_LAYER"), nullptr);
    HostHandle module = native.loadModule(TVX_ASPI_LAYER_FILE);
    ASSERT_NE(module, nullptr);
    auto supportInfo = reinterpret_cast<AspiSupportInfoFunction>(
        native.moduleSymbol(module, kAspiSupportInfoSymbol));
    ASSERT_NE(supportInfo, nullptr);
    EXPECT_NE(native.moduleSymbol(module, kAspiSendCommandSymbol), nullptr);
    EXPECT_EQ(native.moduleSymbol(module, "VirtualAspiLayer"), nullptr); // nothing else leaves it
    ::unsetenv(vdrive::kDrivesVariable);
    EXPECT_EQ(supportInfo() >> 8, SS_NO_ADAPTERS); // no configuration: no adapter
    EXPECT_TRUE(native.freeModule(module));
}

} // namespace
} // namespace tvx::test
