#include "volume_check.h"

#include "image/image_file_sink.h"
#include "platform/host.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <vector>
#if defined(_WIN32)
#define popen _popen
#define pclose _pclose
#else
#include <sys/wait.h>
#endif

namespace tvx::test {

uint32_t StreamPlanToFile(const char* label, const FillPlan& fill, const std::string& imagePath) {
    VolumePlan* plan = Plan_Create(label);
    if (!plan) return 0;
    uint32_t size = 0;
    if (fill(plan) && Plan_Layout(plan)) {
        ImageFileSink sink(imagePath);
        if (sink.ok() && Plan_Stream(plan, sink) && sink.finish()) size = Plan_VolumeSize(plan);
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
#if defined(_WIN32)
    result.status = status;
#else
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
#endif
    return result;
}

std::string ReadersAccept(const std::string& image, const std::string& label,
                          const std::vector<std::string>& expectedPaths, bool dvdVideo) {
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
    // libarchive reads the ISO 9660 bridge only, and is strict about its descriptor.
    ToolResult tar = RunTool("bsdtar -tf " + quoted);
    if (tar.status != 0 || static_cast<size_t>(std::count(tar.output.begin(), tar.output.end(),
                                                          '\n')) < expectedPaths.size())
        return "bsdtar -t: " + tar.output;
    if (dvdVideo) {
        ToolResult dvd = RunTool("lsdvd " + quoted);
        if (dvd.status != 0 || dvd.output.find("Title: 01") == std::string::npos)
            return "lsdvd: " + dvd.output;
    }
    return "";
}

} // namespace tvx::test
