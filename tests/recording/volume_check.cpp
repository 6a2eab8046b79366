#include "volume_check.h"

#include "image/sector_sink.h"
#include "platform/host.h"

#include <array>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <sys/wait.h>
#include <vector>

namespace tvx::test {

namespace {

// Writes the stream into a file, as an image file of the volume.
class FileSink final : public SectorSink {
  public:
    explicit FileSink(const std::string& path) : out_(path, std::ios::binary | std::ios::trunc) {}
    int writeBytes(const void* data, uint32_t count) override {
        out_.write(static_cast<const char*>(data), count);
        pad(count);
        return out_.good();
    }
    int writeFile(HostFile& file, uint64_t expectedSize) override {
        if (file.size() != expectedSize) return 0;
        std::vector<char> buffer(65536);
        uint64_t total = 0;
        for (;;) {
            uint32_t n = file.read(buffer.data(), static_cast<uint32_t>(buffer.size()));
            if (n == 0) break;
            out_.write(buffer.data(), n);
            total += n;
        }
        if (total != expectedSize) return 0;
        pad(total);
        return out_.good();
    }

  private:
    void pad(uint64_t count) {
        uint64_t partial = count % kSectorSize;
        if (partial) {
            std::vector<char> zeros(kSectorSize - partial, 0);
            out_.write(zeros.data(), static_cast<std::streamsize>(zeros.size()));
        }
    }
    std::ofstream out_;
};

} // namespace

uint32_t StreamPlanToFile(const char* label, const FillPlan& fill, const std::string& imagePath) {
    VolumePlan* plan = Plan_Create(label);
    if (!plan) return 0;
    uint32_t size = 0;
    if (fill(plan) && Plan_Layout(plan)) {
        FileSink sink(imagePath);
        if (Plan_Stream(plan, sink)) size = Plan_VolumeSize(plan);
    }
    Plan_Free(plan);
    return size;
}

std::string CompareImages(const std::string& discImage, const std::string& expectedImage) {
    std::ifstream disc(discImage, std::ios::binary), expected(expectedImage, std::ios::binary);
    if (!disc || !expected) return "cannot open the images";
    std::vector<char> a(kSectorSize), b(kSectorSize);
    for (uint64_t sector = 0;; ++sector) {
        expected.read(b.data(), kSectorSize);
        if (expected.gcount() == 0) return "";
        disc.read(a.data(), kSectorSize);
        if (disc.gcount() != expected.gcount())
            return "disc image ends at sector " + std::to_string(sector);
        if (std::memcmp(a.data(), b.data(), static_cast<size_t>(expected.gcount())) != 0)
            return "sector " + std::to_string(sector) + " differs";
    }
}

ToolResult RunTool(const std::string& commandLine) {
    ToolResult result;
    FILE* pipe = popen((commandLine + " 2>&1").c_str(), "r");
    if (!pipe) return result;
    std::array<char, 4096> chunk;
    size_t n;
    while ((n = fread(chunk.data(), 1, chunk.size(), pipe)) > 0)
        result.output.append(chunk.data(), n);
    int status = pclose(pipe);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

std::string ReadersAccept(const std::string& image, const std::string& label,
                          const std::vector<std::string>& expectedPaths) {
    const std::string quoted = "'" + image + "'";
    ToolResult iso = RunTool("isoinfo -d -i " + quoted);
    if (iso.status != 0 || iso.output.find("Volume id: " + label) == std::string::npos)
        return "isoinfo -d: " + iso.output;
    ToolResult vfy = RunTool("isovfy " + quoted);
    if (vfy.status != 0 || vfy.output.find("error") != std::string::npos ||
        vfy.output.find("Error") != std::string::npos)
        return "isovfy: " + vfy.output;
    ToolResult udf = RunTool("udfinfo " + quoted);
    if (udf.status != 0 || udf.output.find("label=" + label) == std::string::npos)
        return "udfinfo: " + udf.output;
    ToolResult sz = RunTool("7z l -slt " + quoted);
    if (sz.status != 0) return "7z l: " + sz.output;
    for (const std::string& path : expectedPaths) {
        if (sz.output.find("Path = " + path + "\n") == std::string::npos)
            return "7z does not list " + path + ":\n" + sz.output;
    }
    ToolResult test = RunTool("7z t " + quoted);
    if (test.status != 0 || test.output.find("Everything is Ok") == std::string::npos)
        return "7z t: " + test.output;
    return "";
}

} // namespace tvx::test
