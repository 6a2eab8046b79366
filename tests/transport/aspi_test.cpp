// The ASPI transport against a scripted layer served by the simulation host: probing, the
// adapter scan with the class-device loop, opening by name or address, and request blocks that
// the layer still holds.
#include "platform/aspi_request.h"
#include "transport/aspi.h"
#include "transport/backends.h"
#include "transport/transport_detail.h"
#include "transport/transport_fixture.h"

#include <atomic>
#include <cstring>
#include <map>
#include <tuple>

namespace tvx::test {
namespace {

// A layer of the test's own: adapters with their target counts, devices by address, and a mode
// in which execute requests stay pending until the test completes them.
struct ScriptedLayer {
    uint32_t supportInfo = static_cast<uint32_t>(SS_COMP) << 8 | 1;
    std::map<int, int> adapterTargets = {{0, 2}};
    std::map<std::tuple<int, int, int>, ScsiTarget*> devices;
    enum class Mode { Sync, PendingCompleted, PendingHeld } mode = Mode::Sync;

    std::vector<SRB_ExecSCSICmd*> blocks; // every execute block received, in order
    std::vector<SRB_ExecSCSICmd> copies;  // its fields as received
    std::vector<void*> aborts;

    static uint8_t Status(const SRB_ExecSCSICmd& srb) {
        return std::atomic_ref<uint8_t>(const_cast<uint8_t&>(srb.SRB_Status)).load();
    }

    void complete(SRB_ExecSCSICmd* srb) {
        run(*srb);
#if defined(_WIN32)
        // On Windows the block carries a system event handle.
        host().setEvent(srb->SRB_PostProc);
#else
        auto* event = static_cast<AspiEvent*>(srb->SRB_PostProc);
        event->signal(event);
#endif
    }

    void run(SRB_ExecSCSICmd& srb) {
        ScsiTarget* target = devices[{srb.SRB_HaId, srb.SRB_Target, srb.SRB_Lun}];
        ScsiRequest request;
        request.cdb = srb.CDBByte;
        request.cdbLength = srb.SRB_CDBLen;
        request.data = srb.SRB_BufPointer;
        request.byteCount = srb.SRB_BufLen;
        request.direction = (srb.SRB_Flags & SRB_DIR_IN)    ? DataDirection::FromDevice
                            : (srb.SRB_Flags & SRB_DIR_OUT) ? DataDirection::ToDevice
                                                            : DataDirection::None;
        ScsiResult result = target->execute(request);
        srb.SRB_TargStat = result.status;
        std::memcpy(srb.SenseArea, result.sense, std::min<size_t>(result.senseLength, 32));
        std::atomic_ref<uint8_t>(srb.SRB_Status).store(result.status == 0 ? SS_COMP : SS_ERR);
    }

    uint32_t send(void* block) {
        auto* header = static_cast<uint8_t*>(block);
        if (header[0] == SC_HA_INQUIRY) {
            auto* srb = static_cast<SRB_HAInquiry*>(block);
            auto it = adapterTargets.find(srb->SRB_HaId);
            srb->SRB_Status = it == adapterTargets.end() ? SS_INVALID_HA : SS_COMP;
            if (it != adapterTargets.end())
                srb->HA_Unique[kHaUniqueMaxTargets] = static_cast<uint8_t>(it->second);
            return srb->SRB_Status;
        }
        if (header[0] == SC_ABORT_SRB) {
            aborts.push_back(static_cast<SRB_Abort*>(block)->SRB_ToAbort);
            header[1] = SS_ABORT_FAIL; // already running
            return SS_ABORT_FAIL;
        }
        auto* srb = static_cast<SRB_ExecSCSICmd*>(block);
        blocks.push_back(srb);
        copies.push_back(*srb);
        if (!devices.count({srb->SRB_HaId, srb->SRB_Target, srb->SRB_Lun})) {
            srb->SRB_Status = SS_NO_DEVICE;
            return SS_NO_DEVICE;
        }
        switch (mode) {
        case Mode::Sync:
            run(*srb);
            return srb->SRB_Status;
        case Mode::PendingCompleted: // done and signalled before the call returns
            complete(srb);
            return SS_PENDING;
        case Mode::PendingHeld:
            break;
        }
        return SS_PENDING;
    }
};

ScriptedLayer* layer = nullptr;
uint32_t LayerSupportInfo() {
    return layer->supportInfo;
}
uint32_t LayerSend(void* block) {
    return layer->send(block);
}

void* Entry(auto function) {
    return reinterpret_cast<void*>(function);
}

class AspiTest : public TransportTest {
  protected:
    ScriptedLayer scripted;
    ScriptedTarget atAddress0;
    ScriptedTarget atAddress1;

    void SetUp() override {
        TransportTest::SetUp();
        layer = &scripted;
        scripted.devices[{0, 0, 0}] = &atAddress0;
        scripted.devices[{0, 1, 0}] = &atAddress1;
    }
    void TearDown() override {
        TransportTest::TearDown();
        EXPECT_EQ(sim->loadedModuleCount(), 0u); // every load was undone
        layer = nullptr;
    }
    void registerLayer() {
        sim->registerModule(kAspiModuleName, {{kAspiSupportInfoSymbol, Entry(&LayerSupportInfo)},
                                              {kAspiSendCommandSymbol, Entry(&LayerSend)}});
    }
    // The ASPI transport active and the table filled; returns the count.
    int startAspi() {
        registerLayer();
        if (!ProbeAspi()) return -1;
        ActiveTransport = &AspiTransport;
        return TVX_GetDriveCount();
    }
    TVX_DriveInfo info(int index) {
        TVX_DriveInfo out{};
        EXPECT_EQ(TVX_GetDriveInfo(index, &out), TVX_OK);
        return out;
    }
};

TEST_F(AspiTest, ProbeFailsWithoutAWorkingLayerAndLeavesNothingLoaded) {
    EXPECT_EQ(TVX_Initialize(), 0); // no layer at all
    EXPECT_EQ(log(), "fail: SPTI\nfail: ASPI\n");

    sim->registerModule(kAspiModuleName, {{kAspiSupportInfoSymbol, Entry(&LayerSupportInfo)}});
    EXPECT_EQ(ProbeAspi(), 0); // an entry point missing
    EXPECT_EQ(sim->loadedModuleCount(), 0u);

    registerLayer();
    scripted.supportInfo = static_cast<uint32_t>(SS_NO_ADAPTERS) << 8;
    EXPECT_EQ(ProbeAspi(), 0);
    scripted.supportInfo = static_cast<uint32_t>(SS_COMP) << 8 | 1;
    scripted.adapterTargets.clear(); // adapter 0 does not answer
    EXPECT_EQ(ProbeAspi(), 0);
    EXPECT_EQ(sim->loadedModuleCount(), 0u);

    scripted.adapterTargets = {{0, 2}};
    EXPECT_EQ(TVX_Initialize(), 1);
    EXPECT_NE(log().find("fail: SPTI\nUse: ASPI\n"), std::string::npos);
    EXPECT_EQ(TVX_GetDriveCount(), 2);
    EXPECT_EQ(sim->loadedModuleCount(), 1u);
    TVX_Terminate(); // unloads the layer
    EXPECT_EQ(sim->loadedModuleCount(), 0u);
}

TEST_F(AspiTest, ClassDevicesTheLayerDoesNotShowFollowThroughThePassThroughPath) {
    scripted.devices.erase({0, 1, 0});
    // Three CD-ROM class devices on D:, E:, F:; the layer shows only the first.
    const char* paths[] = {"IDE\\CdRomA\\1", "IDE\\CdRomB\\2", "USB\\CdRomC\\3"};
    for (int i = 0; i < 3; ++i) {
        char letter = static_cast<char>('D' + i);
        std::string mounted = std::string("\\??\\") + paths[i] + "#{53f5630d-b6bf-11d0-94f2}";
        for (char& c : mounted)
            if (c == '\\' && &c > mounted.data() + 4) c = '#';
        sim->setMountedDevice(letter, mounted);
        sim->setClassDevice(i, paths[i]);
        SimDrive& drive = sim->addDrive(letter, DRIVE_CDROM, i == 1 ? &driveD : &driveE);
        drive.address = {sizeof(ScsiAddress), 1, 0, static_cast<uint8_t>(i), 0};
    }
    EXPECT_EQ(LetterFromClassIndex(0), 'D');
    EXPECT_EQ(LetterFromClassIndex(2), 'F');
    EXPECT_EQ(LetterFromClassIndex(3), 0);

    ASSERT_EQ(startAspi(), 3);
    EXPECT_EQ(info(0).driveLetter, 'D');
    EXPECT_EQ(info(0).busKind, 0); // found by address: bus unknown
    EXPECT_EQ(info(1).driveLetter, 'E');
    EXPECT_EQ(info(1).busKind, 1); // the pass-through device's bus
    EXPECT_EQ(info(2).driveLetter, 'F');
    std::string text = log();
    EXPECT_NE(text.find("ASPI FOUND #0 [D:](0,0,0)[TVXTEST ][DVD-RW SIM      ][1.00]\n"),
              std::string::npos);
    EXPECT_NE(text.find("ASPI2 FOUND #1 [E:](1,1,0)[TVXTEST ][DVD-RW SIM      ][1.00]\n"),
              std::string::npos);
    EXPECT_NE(text.find("ASPI2 FOUND #2 [F:](1,2,0)"), std::string::npos);

    // A drive with a letter opens by name: its commands take the pass-through path.
    TVX_RecHandle e = TVX_OpenRecHandle(1);
    ASSERT_NE(e, nullptr);
    EXPECT_TRUE(sim->exclusiveHeld('E')); // forwarded to the pass-through device
    size_t before = driveD.cdbs.size();
    EXPECT_EQ(TVX_TestReady(e), 1);
    EXPECT_EQ(driveD.cdbs.size(), before + 1);
}

TEST_F(AspiTest, DrivesWithoutLetterOpenByAddressAndNonCdDevicesAreLeftOut) {
    ScriptedTarget disk;
    disk.peripheralType = 0;
    scripted.adapterTargets = {{0, 2}, {1, 1}};
    scripted.supportInfo = static_cast<uint32_t>(SS_COMP) << 8 | 1; // adapters 0 and 1 tried
    scripted.devices[{0, 0, 3}] = &disk;
    scripted.devices[{1, 0, 0}] = &driveE;
    ASSERT_EQ(startAspi(), 3);
    EXPECT_EQ(info(0).driveLetter, 0);
    EXPECT_EQ(info(1).target, 1);
    EXPECT_EQ(info(2).hostAdapter, 1);
    EXPECT_NE(log().find("ASPI FOUND #0 [-:](0,0,0)[TVXTEST ]"), std::string::npos);
    EXPECT_EQ(log().find("(0,0,3)"), std::string::npos);

    TVX_RecHandle second = TVX_OpenRecHandle(1);
    ASSERT_NE(second, nullptr);
    size_t before = atAddress1.cdbs.size();
    EXPECT_EQ(TVX_TestReady(second), 1);
    ASSERT_EQ(atAddress1.cdbs.size(), before + 1);
    EXPECT_EQ(atAddress1.cdbs.back()[0], 0x00);

    // A failed command leaves its status, CDB and sense for the getters.
    atAddress1.failSense = {0x70, 0, 0x02, 0, 0, 0, 0, 10, 0, 0, 0, 0, 0x3A, 0x01};
    uint32_t caps = 0;
    EXPECT_EQ(TVX_GetDriveCaps(second, &caps), TVX_ERR_COMMAND);
    TVX_LastError error{};
    TVX_GetLastError(second, &error);
    EXPECT_EQ(error.status, SS_ERR);
    EXPECT_EQ(error.senseKey, 2);
    EXPECT_EQ(error.asc, 0x3A);
    EXPECT_EQ(error.senseLength, 32);
    EXPECT_EQ(error.cdb[0], 0x46);
}

TEST_F(AspiTest, RequestBlocksCarryTheCommandAndPendingAnswersAreWaitedFor) {
    ASSERT_EQ(startAspi(), 2);
    Device* device = AspiTransport.OpenByAddress(0, 1, 0);
    ASSERT_NE(device, nullptr);

    CommandRecord read;
    read.timeout = 10;
    read.direction = kDirectionIn;
    read.cdbLength = 10;
    read.cdb[0] = 0x46;
    read.cdb[8] = 64;
    uint8_t buffer[64] = {};
    scripted.copies.clear();
    ASSERT_EQ(AspiTransport.Execute(device, &read, buffer, sizeof buffer), 1);
    const SRB_ExecSCSICmd& sent = scripted.copies.back();
    EXPECT_EQ(sent.SRB_Cmd, SC_EXEC_SCSI_CMD);
    EXPECT_EQ(sent.SRB_Target, 1);
    EXPECT_EQ(sent.SRB_Flags, SRB_DIR_IN | SRB_EVENT_NOTIFY);
    EXPECT_EQ(sent.SRB_BufLen, 64u);
    EXPECT_EQ(sent.SRB_SenseLen, 32);
    EXPECT_EQ(sent.SRB_CDBLen, 10);
    EXPECT_EQ(sent.CDBByte[0], 0x46);
    EXPECT_EQ(AspiTransport.GetStatus(device), SS_COMP);
    EXPECT_EQ(AspiTransport.GetCdb(device)[8], 64);

    // Data from the drive without a buffer: no direction at all.
    EXPECT_EQ(AspiTransport.Execute(device, &read, nullptr, 64), 1);
    EXPECT_EQ(scripted.copies.back().SRB_Flags, SRB_EVENT_NOTIFY);

    // Answered pending and signalled: the same block serves the next command.
    scripted.mode = ScriptedLayer::Mode::PendingCompleted;
    EXPECT_EQ(AspiTransport.Execute(device, &read, buffer, sizeof buffer), 1);
    EXPECT_EQ(AspiTransport.Execute(device, &read, buffer, sizeof buffer), 1);
    EXPECT_EQ(scripted.blocks[scripted.blocks.size() - 1],
              scripted.blocks[scripted.blocks.size() - 2]);
    EXPECT_TRUE(scripted.aborts.empty());
    AspiTransport.Close(device);
}

TEST_F(AspiTest, ABlockTheLayerStillHoldsIsNeverReused) {
    ASSERT_EQ(startAspi(), 2);
    Device* device = AspiTransport.OpenByAddress(0, 0, 0);
    ASSERT_NE(device, nullptr);

    // Timeout 0: not waited for, reported failed with the block's pending status.
    scripted.mode = ScriptedLayer::Mode::PendingHeld;
    CommandRecord startUnit;
    startUnit.timeout = 0;
    startUnit.cdbLength = 6;
    startUnit.cdb[0] = 0x1B;
    uint32_t before = host().tickCount();
    EXPECT_EQ(AspiTransport.Execute(device, &startUnit, nullptr, 0), 0);
    EXPECT_EQ(host().tickCount(), before); // no wait at all
    EXPECT_EQ(AspiTransport.GetStatus(device), SS_PENDING);
    TransportDetail detail;
    Aspi_Detail(device, detail); // what a drive report keeps: the block's status words
    EXPECT_EQ(detail.path, TransportPath::Aspi);
    EXPECT_EQ(detail.srbStatus, SS_PENDING);
    SRB_ExecSCSICmd* held = scripted.blocks.back();
    ASSERT_EQ(scripted.aborts.size(), 1u);
    EXPECT_EQ(scripted.aborts[0], held);

    // A timed wait that runs out leaves a second block with the layer.
    CommandRecord inquiry;
    inquiry.timeout = 5;
    inquiry.direction = kDirectionIn;
    inquiry.cdbLength = 6;
    inquiry.cdb[0] = 0x12;
    inquiry.cdb[4] = 36;
    uint8_t data[36] = {};
    EXPECT_EQ(AspiTransport.Execute(device, &inquiry, data, sizeof data), 0);
    SRB_ExecSCSICmd* heldToo = scripted.blocks.back();
    EXPECT_NE(heldToo, held);
    EXPECT_EQ(held->CDBByte[0], 0x1B); // untouched by the second command

    // The next command gets a block of its own; the held ones keep their requests.
    scripted.mode = ScriptedLayer::Mode::Sync;
    EXPECT_EQ(AspiTransport.Execute(device, &inquiry, data, sizeof data), 1);
    Aspi_Detail(device, detail);
    EXPECT_EQ(detail.srbStatus, SS_COMP);
    SRB_ExecSCSICmd* fresh = scripted.blocks.back();
    EXPECT_NE(fresh, held);
    EXPECT_NE(fresh, heldToo);
    EXPECT_EQ(ScriptedLayer::Status(*held), SS_PENDING);
    EXPECT_EQ(heldToo->CDBByte[0], 0x12);

    // The layer finishes the first late; its block goes once signalled, the other stays held
    // until the layer is unloaded (the sanitizer build sees any block freed early or leaked).
    scripted.complete(held);
    EXPECT_EQ(AspiTransport.Execute(device, &inquiry, data, sizeof data), 1);
    AspiTransport.Close(device);
    scripted.complete(heldToo); // still alive after the Device is gone
}

} // namespace
} // namespace tvx::test
