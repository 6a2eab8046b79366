// The tool's subcommands; each returns an exit code (results.h).
#pragma once

#include "session.h"

#include <cstdint>
#include <string>
#include <vector>

namespace tvxcli {

// Drives and discs
int ListDrives(const Options& options);
int ShowInfo(const Options& options);
int Eject(const Options& options);
int Load(const Options& options);

// Burning and erasing
enum class BurnSource { VideoTs, DvdVideo, Data, Image };
int Burn(const Options& options, BurnSource source, const std::string& path);
// Pairs "volume path=host path"; listFile holds one pair per line.
int BurnFileSet(const Options& options, const std::vector<std::string>& pairs,
                const std::string& listFile);
int CheckVideoTs(const Options& options, const std::string& folder);
int Erase(const Options& options);

// Files on the disc
int CatFile(const Options& options, const std::string& discPath);
int GetFile(const Options& options, const std::string& discPath, const std::string& hostPath);

// Patching a rewritable disc in place through a mapped window.
struct PatchRequest {
    std::string mode = "absolute"; // absolute | partition | file
    std::string file;              // disc path, for mode "file"
    uint32_t block = 0;            // first sector (or block of the file)
    uint32_t offset = 0;           // byte offset inside the window
    std::string hex;               // bytes to write, as hexadecimal
    std::string from;              // or a host file with the bytes
};
int Patch(const Options& options, const PatchRequest& request);

} // namespace tvxcli
