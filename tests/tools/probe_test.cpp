// The drive report: the probe asks only questions, whatever the disc, and a report replayed in
// front of a recorder of another make gives the probe the same answers again.
#include "probe.h"
#include "support/temp_dir.h"
#include "vdrive/replay.h"
#include "vdrive/virtual_recorder.h"

#include <gtest/gtest.h>

#include <map>

namespace {

using namespace tvx::vdrive;

struct Disc {
    MediumKind kind;
    uint32_t recordedBlocks; // 0: blank
};

const Disc kDiscs[] = {
    {MediumKind::DvdR, 0},
    {MediumKind::DvdR, 3000},
    {MediumKind::DvdRwSequential, 0},
    {MediumKind::DvdRwRestricted, 3000},
    {MediumKind::DvdRam, 3000},
    {MediumKind::DvdPlusR, 0},
    {MediumKind::DvdPlusRw, 3000},
    {MediumKind::DvdPlusRDualLayer, 0},
    {MediumKind::DvdRDualLayer, 0},
};

constexpr uint32_t kCapacity = 20000;

void Insert(VirtualRecorder& drive, const Disc& disc) {
    bool inserted = disc.recordedBlocks
                        ? drive.insertRecorded(disc.kind, disc.recordedBlocks, false, kCapacity)
                        : drive.insertBlank(disc.kind, kCapacity);
    ASSERT_TRUE(inserted) << drive.lastError();
}

DriveModel Ready(DriveModel model) {
    model.timing.spinUpMs = 0;
    return model;
}

// Another make: its own identity, page layout and no test write.
DriveModel OtherMake() {
    DriveModel model = Ready(DriveModel::WithoutTestWrite());
    model.vendor = "OTHER";
    model.product = "MAKE DVDRW";
    model.modeBlockDescriptor = true;
    model.writeParamsPageLength = 0x36;
    return model;
}

TEST(Probe, SendsOnlyQuestionsAndAnswersThemForEveryDisc) {
    for (const Disc& disc : kDiscs) {
        SCOPED_TRACE(MediumName(disc.kind) +
                     std::string(disc.recordedBlocks ? " recorded" : " blank"));
        tvx::VirtualClock clock;
        VirtualRecorder drive(clock, Ready(DriveModel::Default()));
        Insert(drive, disc);
        drive.setTraceEnabled(true);
        auto exchanges = tvxprobe::RunProbe(drive, {});
        ASSERT_EQ(drive.trace().size(), exchanges.size()); // nothing was held back
        for (const TraceEntry& entry : drive.trace())
            EXPECT_TRUE(tvxprobe::ProbeAllowed(entry.opcode())) << FormatTraceEntry(entry);
        // The lengths learnt from a header were used: the full feature list came whole.
        for (const auto& e : exchanges)
            if (e.name == "GET_CONFIGURATION") {
                EXPECT_EQ(e.data.size(), 4u + (e.data[3] | e.data[2] << 8));
            }
        EXPECT_EQ(disc.recordedBlocks != 0,
                  std::any_of(exchanges.begin(), exchanges.end(), [](const auto& e) {
                      return e.name == "READ12_64K" && e.status == 0;
                  }));
    }
}

TEST(Probe, WriteCommandsAreNeverQuestions) {
    for (uint8_t opcode : {0x2A, 0xAA, 0x53, 0x5B, 0xA1, 0x04, 0x54, 0xBF, 0x35, 0x55, 0x2E, 0xB6})
        EXPECT_FALSE(tvxprobe::ProbeAllowed(opcode)) << std::hex << int(opcode);
}

// With --write-parameters: one page in, the drive's own page back, and nothing else selected.
TEST(Probe, WriteParametersAreSelectedAndPutBack) {
    tvx::VirtualClock clock;
    VirtualRecorder drive(clock, Ready(DriveModel::Default()));
    Insert(drive, {MediumKind::DvdR, 0});
    drive.setTraceEnabled(true);
    tvxprobe::ProbeOptions options;
    options.writeParameters = [](const std::vector<uint8_t>& answer) {
        tvxprobe::WriteParametersLists lists;
        lists.restore.assign(8, 0);
        lists.restore.insert(lists.restore.end(), answer.begin() + 8,
                             answer.begin() + 10 + answer[9]);
        lists.restore[8] &= 0x3F;
        lists.select = lists.restore;
        lists.select[10] =
            static_cast<uint8_t>((lists.select[10] & 0xF0) | 0x02); // session at once
        return lists;
    };
    auto exchanges = tvxprobe::RunProbe(drive, options);
    std::map<std::string, std::vector<uint8_t>> pages;
    for (const auto& e : exchanges)
        pages[e.name] = e.data;
    EXPECT_EQ(pages["MODE_SENSE_05_AFTER_SELECT"][10] & 0x0F, 0x02);
    EXPECT_EQ(pages["MODE_SENSE_05_AFTER_RESTORE"], pages["MODE_SENSE_05_BEFORE_SELECT"]);
    size_t selects = 0;
    for (const TraceEntry& entry : drive.trace()) {
        selects += entry.opcode() == 0x55;
        EXPECT_TRUE(entry.opcode() == 0x55 || tvxprobe::ProbeAllowed(entry.opcode()));
    }
    EXPECT_EQ(selects, 2u);
}

TEST(Probe, ReplayedReportGivesTheSameAnswers) {
    for (const Disc& disc : kDiscs) {
        SCOPED_TRACE(MediumName(disc.kind));
        tvx::VirtualClock clock;
        VirtualRecorder original(clock, OtherMake());
        original.setSerial("SERIAL123");
        Insert(original, disc);
        auto first = tvxprobe::RunProbe(original, {});
        std::string report = "{\"format\":1,\n \"commands\":" + ExchangesJson(first) + "}\n";
        std::vector<Exchange> parsed;
        std::string error;
        ASSERT_TRUE(ParseExchanges(report, parsed, error)) << error;

        VirtualRecorder model(clock, Ready(DriveModel::Default()));
        Insert(model, disc);
        ReplayTarget replay(parsed, model);
        auto second = tvxprobe::RunProbe(replay, {});
        ASSERT_EQ(first.size(), second.size());
        for (size_t i = 0; i < first.size(); ++i) {
            SCOPED_TRACE(first[i].name);
            EXPECT_EQ(first[i].cdb, second[i].cdb);
            EXPECT_EQ(first[i].status, second[i].status);
            EXPECT_EQ(first[i].sense, second[i].sense);
            EXPECT_EQ(first[i].data, second[i].data);
        }
        // The serial number stayed with its owner.
        for (const auto& e : first)
            if (e.name == "INQUIRY_VPD_80") {
                EXPECT_EQ(std::string(e.data.begin(), e.data.end()).find("SERIAL123"),
                          std::string::npos);
            }
    }
}

TEST(Probe, ReplayHandsTheDiscToTheRecorderOnceItIsWritten) {
    tvx::VirtualClock clock;
    VirtualRecorder original(clock, Ready(DriveModel::Default()));
    Insert(original, {MediumKind::DvdPlusR, 0});
    std::string report =
        "{\"format\":1,\n \"commands\":" + ExchangesJson(tvxprobe::RunProbe(original, {})) + "}\n";
    std::vector<Exchange> parsed;
    std::string error;
    ASSERT_TRUE(ParseExchanges(report, parsed, error)) << error;
    VirtualRecorder model(clock, Ready(DriveModel::Default()));
    Insert(model, {MediumKind::DvdPlusR, 0});
    ReplayTarget replay(parsed, model);
    auto discStatus = [&] {
        uint8_t cdb[10] = {0x51, 0, 0, 0, 0, 0, 0, 0, 34, 0};
        uint8_t data[34] = {};
        tvx::ScsiRequest request{cdb, 10, tvx::DataDirection::FromDevice, data, 34, 20};
        EXPECT_EQ(replay.execute(request).status, tvx::kScsiStatusGood);
        return data[2] & 3;
    };
    EXPECT_EQ(discStatus(), 0); // blank, as reported
    std::vector<uint8_t> block(2048 * 16, 0x5A);
    uint8_t write[10] = {0x2A, 0, 0, 0, 0, 0, 0, 0, 16, 0};
    tvx::ScsiRequest request{
        write, 10, tvx::DataDirection::ToDevice, block.data(), static_cast<uint32_t>(block.size()),
        20};
    ASSERT_EQ(replay.execute(request).status, tvx::kScsiStatusGood);
    EXPECT_EQ(discStatus(), 1); // the recorder's disc: now incomplete
}

// Any JSON layout of a report loads; a damaged one is refused with its name and the reason.
TEST(Probe, ReportsLoadInAnyLayoutAndDamageIsNamed) {
    tvx::VirtualClock clock;
    VirtualRecorder drive(clock, Ready(DriveModel::Default()));
    Insert(drive, {MediumKind::DvdPlusR, 0});
    const std::vector<Exchange> probed = tvxprobe::RunProbe(drive, {});
    const std::string report =
        "{\"format\":1,\"path\":{\"bus\":\"usb\",\"maxTransferBytes\":65536},"
        "\n \"commands\":" +
        ExchangesJson(probed) + "}\n";
    // The probe writes no blank inside a string: what a JSON tool makes of the layout.
    std::string compact, indented;
    for (char c : report) {
        if (c == ' ' || c == '\n') continue;
        compact += c;
        indented += c == ':' ? std::string(": ") : std::string(1, c);
        if (c == ',' || c == '{' || c == '[') indented += "\n    ";
    }
    auto replaced = [&](const std::string& from, const std::string& to) {
        std::string text = report;
        return text.replace(text.find(from), from.size(), to);
    };
    const struct {
        const char* what;
        std::string text;
        const char* refusal; // null: it loads
    } cases[] = {
        {"as written", report, nullptr},
        {"compacted", compact, nullptr},
        {"re-indented", indented, nullptr},
        {"truncated", report.substr(0, report.size() / 2), "not JSON"},
        {"no report", "[1,2]", "no JSON object"},
        {"no format", R"({"commands":[]})", "no \"format\""},
        {"another format", R"({"format":2,"commands":[]})", "format 2"},
        {"format as text", R"({"format":"1","commands":[]})", "format \"1\""},
        {"no commands", R"({"format":1,"commands":[]})", "no commands"},
        {"a number as text", replaced("\"status\":0", "\"status\":\"0\""),
         "command 1 (TEST_UNIT_READY) is damaged: its \"status\" is not a whole number"},
        {"bad bytes", R"({"format":1,"commands":[{"name":"X","cdb":"12z"}]})",
         "command 1 (X) is damaged: its \"cdb\" is not hexadecimal"},
        {"an unknown outcome", replaced("\"completed\"", "\"lost\""), "\"outcome\" \"lost\""},
        {"too large", std::string(17u << 20, ' ') + report, "16 MiB"},
    };
    tvx::test::TempDir dir;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string path = dir.write(std::string(c.what) + ".json", c.text);
        DriveReport loaded;
        std::string error;
        const bool ok = LoadReport(path, loaded, error);
        if (!c.refusal) {
            ASSERT_TRUE(ok) << error;
            EXPECT_EQ(loaded.commands.size(), probed.size());
            EXPECT_EQ(loaded.commands.back().data, probed.back().data);
            EXPECT_EQ(loaded.bus, "usb");
            EXPECT_EQ(loaded.maxTransferBytes, 65536u);
            continue;
        }
        EXPECT_FALSE(ok);
        EXPECT_EQ(error.rfind(path + ": ", 0), 0u) << error;
        EXPECT_NE(error.find(c.refusal), std::string::npos) << error;
    }
}

} // namespace
