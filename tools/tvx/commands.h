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

// What a burn writes: a folder, a file set ("volume path=host path" pairs, and a list file of
// such lines) or an image file.
enum class BurnSource { VideoTs, DvdVideo, Data, Files, Image };
struct BurnRequest {
    BurnSource source = BurnSource::Data;
    std::string path;               // folder or image
    std::vector<std::string> pairs; // file set
    std::string listFile;           // file set
};

int Burn(const Options& options, const BurnRequest& request);
int CheckVideoTs(const Options& options, const std::string& folder);
// Whether the volume of a folder or file set fits the disc in the drive, with the sizes.
int CheckFits(const Options& options, const BurnRequest& request);
int Erase(const Options& options);
// The volume a burn of request would write, as an image file of the volume's size ("-":
// standard output). Made here with the library's image builder, without any drive; file-set
// pairs may graft a folder's tree (VOLUME_PATH=FOLDER). Folder scans leave out the entries that
// match one of the shell patterns in excludes.
int MakeImage(const Options& options, const BurnRequest& request,
              const std::vector<std::string>& excludes, const std::string& output);
// The volume of request, as make-image writes it, into fd (an empty regular file the caller
// owns), for a burn that records it as an image; failures are reported as make-image reports
// them under the name what. 0 or an exit code.
int WriteVolumeInto(const Options& options, const BurnRequest& request, int fd, const char* what);

// `tvx probe ...`: runs the drive report program in this process's place and answers its
// failure to start; -1 when the command line asks for something else.
int RunProbeIfAsked(int argc, char** argv);

// Files on the disc
int CatFile(const Options& options, const std::string& discPath);
int GetFile(const Options& options, const std::string& discPath, const std::string& hostPath);
// The entries of a folder of the disc (or the one file the path names); long adds sizes and
// times.
int ListFolder(const Options& options, const std::string& discPath, bool longListing);

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

// With --json, the final result object of a burn, erase or image; printed once.
void PrintJsonResult(const Options& options, const char* command, const TVX_Result* result,
                     int exitCode, TVX_RecHandle handle, const std::string& discState);
bool JsonResultPrinted();
// A member the result object carries besides the common ones (json: its value, as JSON).
void AddJsonResultMember(const std::string& key, const std::string& json);

} // namespace tvxcli
