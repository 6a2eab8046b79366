// tvx-probe: the program behind `tvx probe`. It sends its questions through the library's own
// transport (the raw front, without the command layer's retries, so the report shows what the
// drive really answered) and asks the public functions what the library makes of the drive.
// It is linked with the static library because the shared one exports nothing that sends a
// raw command; `tvx probe` runs it from its own folder.
#include "probe.h"
#include "probe_drive.h"

#include "mmc/answers.h"
#include "mmc/commands.h"
#include "platform/sim/sim_host.h"
#include "torvexin.h"
#include "transport/rec_handle.h"
#include "transport/transport_detail.h"
#include "vdrive/aspi_layer/virtual_layer.h"

#include <CLI/CLI.hpp>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <optional>
#include <sstream>
#include <thread>
#include <unistd.h>

namespace {

using namespace tvxprobe;
using namespace tvx::vdrive;

// A command's transport fields: the pass-through request's status and lengths with, on Linux,
// SG_IO's own words; or the ASPI request block's status words.
std::string TransportJson(const tvx::TransportDetail& d) {
    char text[320];
    if (d.path == tvx::TransportPath::Aspi) {
        std::snprintf(text, sizeof text,
                      "{\"path\":\"aspi\",\"SRB_Status\":%u,\"SRB_HaStat\":%u,"
                      "\"SRB_TargStat\":%u}",
                      d.srbStatus, d.hostAdapterStatus, d.targetStatus);
        return text;
    }
    if (d.path != tvx::TransportPath::PassThrough) return "";
    int n = std::snprintf(text, sizeof text,
                          "{\"path\":\"pass-through\",\"request\":\"%s\",\"systemError\":%u,"
                          "\"bytesReturned\":%u,\"dataTransferLength\":%u,\"senseInfoLength\":%u",
                          d.requestDone ? "done" : "failed", d.systemError, d.bytesReturned,
                          d.dataTransferLength, d.senseInfoLength);
    if (d.hasSystemFields && n > 0 && static_cast<size_t>(n) < sizeof text)
        std::snprintf(text + n, sizeof text - static_cast<size_t>(n),
                      ",\"sg_io\":{\"host_status\":%u,\"driver_status\":%u,\"resid\":%d,"
                      "\"sb_len_wr\":%u,\"duration\":%u,\"info\":%u}",
                      d.system.hostStatus, d.system.driverStatus, d.system.resid,
                      d.system.senseWritten, d.system.durationMs, d.system.info);
    return std::string(text) + "}";
}

// The library's transport front as a ScsiTarget, keeping what the path said of each command.
class FrontTarget final : public tvx::ScsiTarget {
  public:
    explicit FrontTarget(tvx::Device* device) : device_(device) {}
    tvx::ScsiResult execute(const tvx::ScsiRequest& request) override {
        tvx::CommandRecord command;
        command.timeout = static_cast<uint16_t>(request.timeoutSeconds);
        command.cdbLength = request.cdbLength;
        std::memcpy(command.cdb, request.cdb, std::min<size_t>(request.cdbLength, 16));
        command.direction = request.direction == tvx::DataDirection::FromDevice ? tvx::kDirectionIn
                            : request.direction == tvx::DataDirection::ToDevice
                                ? tvx::kDirectionOut
                                : tvx::kDirectionNone;
        int ok = tvx::Front_ExecuteWithDetail(device_, &command, request.data, request.byteCount,
                                              detail_);
        tvx::ScsiResult result;
        result.status = tvx::Front_GetStatus(device_);
        // Sense belongs to a command that did not complete well.
        result.senseLength = ok ? 0 : std::min<uint32_t>(tvx::Front_GetSenseLength(device_), 32);
        if (const uint8_t* sense = tvx::Front_GetSense(device_))
            std::memcpy(result.sense, sense, result.senseLength);
        if (!ok && result.status == tvx::kScsiStatusGood)
            result.outcome = tvx::ScsiOutcome::TransportFailed;
        // The pass-through request tells what moved; an ASPI block does not (all of it, then).
        const bool told = detail_.path == tvx::TransportPath::PassThrough && detail_.requestDone;
        result.transferred = !ok    ? 0
                             : told ? std::min(detail_.dataTransferLength, request.byteCount)
                                    : request.byteCount;
        return result;
    }
    uint32_t maxTransferBytes() const override { return device_->header.maxTransferBytes; }

    // The last command's transport fields as the report writes them.
    std::string detailJson() const { return TransportJson(detail_); }

  private:
    tvx::Device* device_;
    tvx::TransportDetail detail_;
};

// Every command the public functions send while the probe asks them what they make of the
// drive: they are the library's, not the probe's questions, and the report lists them apart.
struct LibraryCommand {
    std::vector<uint8_t> cdb;
    int result = 0;
    uint8_t status = 0;
};
std::vector<LibraryCommand> gLibraryCommands;
const tvx::Transport* gRealTransport = nullptr;

int RecordingExecute(tvx::Device* device, const tvx::CommandRecord* command, void* data,
                     uint32_t length) {
    int result = gRealTransport->Execute(device, command, data, length);
    LibraryCommand c;
    c.cdb.assign(command->cdb, command->cdb + std::min<size_t>(command->cdbLength, 16));
    c.result = result;
    c.status = gRealTransport->GetStatus(device);
    gLibraryCommands.push_back(std::move(c));
    return result;
}

// While alive, every command of the library goes through RecordingExecute.
class RecordLibraryCommands {
  public:
    RecordLibraryCommands() {
        gRealTransport = tvx::ActiveTransport;
        recording_ = *gRealTransport;
        recording_.Execute = &RecordingExecute;
        tvx::ActiveTransport = &recording_;
    }
    ~RecordLibraryCommands() { tvx::ActiveTransport = gRealTransport; }
    RecordLibraryCommands(const RecordLibraryCommands&) = delete;
    RecordLibraryCommands& operator=(const RecordLibraryCommands&) = delete;

  private:
    tvx::Transport recording_{};
};

std::string LibraryCommandsJson() {
    std::string items;
    for (const LibraryCommand& c : gLibraryCommands) {
        bool question = IsDriveQuestion(c.cdb.empty() ? 0xFF : c.cdb[0]);
        items += (items.empty() ? "" : ",") + std::string("{\"cdb\":\"") + Hex(c.cdb) +
                 "\",\"question\":" + (question ? "true" : "false") +
                 ",\"good\":" + (c.result ? "true" : "false") +
                 ",\"status\":" + std::to_string(c.status) + "}";
    }
    return "[" + items + "]";
}

std::string Quoted(const std::string& text) {
    std::string out = "\"";
    for (unsigned char c : text) {
        if (c == '"' || c == '\\') out += '\\';
        if (c < 0x20 || c > 0x7E) {
            char esc[8];
            std::snprintf(esc, sizeof esc, "\\u%04x", c);
            out += esc;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

std::string LibraryView(int index, TVX_RecHandle handle) {
    char text[1024];
    TVX_DriveInfo info = {};
    TVX_GetDriveInfo(index, &info);
    uint32_t caps = 0;
    TVX_Result capsResult = TVX_GetDriveCaps(handle, &caps);
    TVX_DiscInfo disc = {};
    TVX_Result discResult = TVX_GetDiscInfo(handle, &disc);
    uint32_t speeds[32] = {};
    TVX_Result speedResult = TVX_GetWriteSpeedCaps(handle, speeds, sizeof speeds);
    std::string speedList;
    for (uint32_t s : speeds)
        if (s) speedList += (speedList.empty() ? "" : ",") + std::to_string(s);
    std::snprintf(text, sizeof text,
                  "{\"driveInfo\":{\"busKind\":%u,\"vendor\":%s,\"product\":%s,\"revision\":%s,"
                  "\"capabilities\":%u},\n  \"driveCaps\":{\"result\":%d,\"caps\":%u},\n"
                  "  \"discInfo\":{\"result\":%d,\"mediaType\":%u,\"blank\":%u,\"canErase\":%u,"
                  "\"appendable\":%u,\"usedBlocks\":%u,\"freeBlocks\":%u,\"capacityBlocks\":%u,"
                  "\"blockSize\":%u,\"protectionSystem\":%u},\n"
                  "  \"writeSpeeds\":{\"result\":%d,\"kBps\":[%s]}}",
                  info.busKind, Quoted(info.vendor).c_str(), Quoted(info.product).c_str(),
                  Quoted(info.revision).c_str(), info.capabilities, capsResult, caps, discResult,
                  disc.mediaType, disc.blank, disc.canErase, disc.appendable, disc.usedBlocks,
                  disc.freeBlocks, disc.capacityBlocks, disc.blockSize, disc.protectionSystem,
                  speedResult, speedList.c_str());
    return text;
}

// The page a burn's preparation sends (session at once, BUF, no test write, single session),
// made from the drive's own page as the library makes it.
constexpr int kSessionAtOnce = 2; // the page's write type, as a burn's preparation sets it

WriteParametersLists LibraryWriteParameters(const std::vector<uint8_t>& answer) {
    tvx::ModePageSpan span;
    if (!tvx::FindModePage(answer, 0x05, &span)) return {};
    const uint8_t* page = answer.data() + span.offset;
    tvx::WriteParameters parameters;
    parameters.writeType = kSessionAtOnce;
    parameters.bufferUnderrunFree = 1;
    WriteParametersLists lists;
    lists.select.resize(8 + span.length + 8);
    lists.select.resize(
        tvx::BuildWriteParametersSelect(page, span.length, &parameters, lists.select.data()));
    lists.restore.assign(8, 0);
    lists.restore.insert(lists.restore.end(), page, page + span.length);
    lists.restore[8] &= 0x3F; // the PS bit is the drive's to report, not the host's to send
    return lists;
}

// TEST UNIT READY until the drive is ready or the time is up: how long it reports becoming
// ready, and whether a unit attention comes first.
std::string WaitReady(tvx::ScsiTarget& drive, uint32_t seconds) {
    std::string items;
    auto start = std::chrono::steady_clock::now();
    for (;;) {
        uint8_t cdb[6] = {0x00, 0, 0, 0, 0, 0};
        tvx::ScsiRequest request;
        request.cdb = cdb;
        request.cdbLength = 6;
        request.timeoutSeconds = 20;
        tvx::ScsiResult r = drive.execute(request);
        auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                      std::chrono::steady_clock::now() - start)
                      .count();
        std::vector<uint8_t> sense(r.sense, r.sense + r.senseLength);
        items += (items.empty() ? "\n  " : ",\n  ") + std::string("{\"ms\":") + std::to_string(ms) +
                 ",\"status\":" + std::to_string(r.status) + ",\"sense\":\"" + Hex(sense) + "\"}";
        if (r.outcome == tvx::ScsiOutcome::Completed && r.status == tvx::kScsiStatusGood) break;
        if (ms >= static_cast<long long>(seconds) * 1000) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(250));
    }
    return "[" + items + "\n]";
}

} // namespace

int main(int argc, char** argv) {
    CLI::App app{"tvx probe: ask a drive everything a burn depends on, change nothing, and "
                 "write the answers as one JSON report"};
    std::string driveText = "0";
    std::string output;
    std::vector<std::string> virtualDrives;
    bool withSerial = false;
    uint32_t waitReady = 0;
    app.add_option("-d,--drive", driveText,
                   "The drive: its index (default 0), its device (/dev/sr0) or virtual:IMAGE");
    app.add_option("-o,--output", output, "Report file (default: standard output)");
    app.add_flag("--with-serial", withSerial, "Keep the drive's serial number in the report");
    app.add_option("--wait-ready", waitReady,
                   "Also record TEST UNIT READY answers for up to this many seconds while a "
                   "disc is loaded");
    app.add_option("--virtual", virtualDrives,
                   "Probe a virtual recorder instead: IMAGE[:KIND[:BLOCKS][+BEHAVIOUR]...], as "
                   "tvx takes it; IMAGE:report=REPORT.json (or +replay=REPORT.json after the "
                   "kind) presents a reported drive");
    bool writeParameters = false;
    app.add_flag("--write-parameters", writeParameters,
                 "Also select the write parameters page a burn would send, read it back and "
                 "restore the drive's own page");
    bool json = false;
    app.add_flag("--json", json, "Accepted for symmetry with tvx: the report is always JSON");
    CLI11_PARSE(app, argc, argv);
    (void)json;
    std::string driveList;
    for (const std::string& drive : virtualDrives)
        driveList += (driveList.empty() ? "" : ";") + drive;

    // Virtual recorders, replayed or not, live in this process behind the simulation host: the
    // static library would look for the recorders' layer beside this program, not the library.
    if (const char* drives = std::getenv(tvx::vdrive::kDrivesVariable); driveList.empty() && drives)
        driveList = drives;
    std::unique_ptr<tvx::SimHost> sim;
    std::vector<std::string> images; // the virtual drives' images, in drive order
    std::unique_ptr<tvx::vdrive::VirtualAspiLayer> layer;
    if (!driveList.empty()) {
        tvx::vdrive::LayerConfig config;
        std::string error;
        if (!tvx::vdrive::ParseLayerConfig(driveList.c_str(), nullptr, "fast", nullptr, config,
                                           error)) {
            std::fprintf(stderr, "tvx probe: %s\n", error.c_str());
            return 1;
        }
        if (const char* trace = std::getenv(tvx::vdrive::kTraceVariable)) config.traceFile = trace;
        layer = std::make_unique<tvx::vdrive::VirtualAspiLayer>(config);
        if (!layer->problems().empty() || layer->driveCount() == 0) {
            std::fprintf(stderr, "tvx probe: %s\n",
                         layer->problems().empty() ? "no virtual drive"
                                                   : layer->problems().front().c_str());
            return 2;
        }
        sim = std::make_unique<tvx::SimHost>();
        for (size_t i = 0; i < layer->driveCount() && i < 23; ++i) {
            tvx::SimDrive& drive =
                sim->addDrive(static_cast<char>('D' + i), tvx::DRIVE_CDROM, &layer->target(i));
            // A replayed drive sits on the bus its report names.
            if (i < config.drives.size()) {
                if (std::optional<uint8_t> bus = ReplayedBus(config.drives[i]))
                    drive.storageBus = bus;
                images.push_back(config.drives[i].image);
            }
        }
        tvx::setHost(sim.get());
    }

    std::string problem;
    int index = TVX_Initialize() == 1 ? DriveIndex(driveText, images, problem) : -1;
    if (index < 0) {
        std::fprintf(stderr, "tvx probe: %s\n",
                     problem.empty() ? ("no drive " + driveText).c_str() : problem.c_str());
        TVX_Terminate();
        return 2;
    }
    TVX_RecHandle handle = TVX_OpenRecHandle(index);
    if (!handle) {
        std::fprintf(stderr, "tvx probe: drive %s cannot be opened (another program may hold it)\n",
                     driveText.c_str());
        TVX_Terminate();
        return 2;
    }
    // The recorder handle asks for exclusive use when it opens; asking again tells whether the
    // drive has it (a held request is kept, not taken twice).
    const bool exclusive = tvx::Front_SetExclusive(handle->device, 1) != 0;
    FrontTarget front(handle->device);
    std::string waited = waitReady ? WaitReady(front, waitReady) : "";
    ProbeOptions options;
    options.withSerial = withSerial;
    if (writeParameters) options.writeParameters = &LibraryWriteParameters;
    options.transportFields = [&front] { return front.detailJson(); };
    std::vector<Exchange> exchanges = RunProbe(front, options);

    static const char* kBus[] = {"other", "ata", "scsi", "firewire", "usb"};
    int32_t bus = handle->device->header.busKind;
    uint32_t versionLow = 0;
    uint32_t versionHigh = TVX_GetVersion(&versionLow);
    std::string report = "{\"format\":" + std::to_string(kReportFormat) +
                         ",\"serialNumbers\":" + (withSerial ? "\"kept\"" : "\"removed\"") +
                         ",\"libraryVersion\":[" + std::to_string(versionHigh) + "," +
                         std::to_string(versionLow) + "],\n";
    report += " \"path\":{\"bus\":\"" + std::string(bus >= 0 && bus <= 4 ? kBus[bus] : "other") +
              "\",\"maxTransferBytes\":" + std::to_string(front.maxTransferBytes()) +
              ",\"exclusiveOpen\":" + (exclusive ? "true" : "false") + "},\n";
    report += " \"commands\":" + ExchangesJson(exchanges) + ",\n";
    if (waitReady) report += " \"waitReady\":" + waited + ",\n";
    std::string view;
    {
        RecordLibraryCommands recording;
        view = LibraryView(index, handle);
    }
    view.pop_back(); // its closing brace: the library's own commands follow
    report += " \"library\":" + view + ",\n  \"commands\":" + LibraryCommandsJson() + "}\n}\n";
    TVX_CloseRecHandle(handle);
    TVX_Terminate();
    tvx::setHost(nullptr);
    layer.reset(); // saves the disc, and the trace when asked for

    if (output.empty()) {
        std::fputs(report.c_str(), stdout);
        return 0;
    }
    // Written beside the destination under a fresh name, then renamed into place.
    std::string temporary = output + ".XXXXXX";
    int fd = mkstemp(temporary.data());
    if (fd < 0 || write(fd, report.data(), report.size()) != static_cast<ssize_t>(report.size()) ||
        close(fd) != 0 || std::rename(temporary.c_str(), output.c_str()) != 0) {
        std::fprintf(stderr, "tvx probe: cannot write %s: %s\n", output.c_str(), strerror(errno));
        if (fd >= 0) unlink(temporary.c_str());
        return 3;
    }
    return 0;
}
