// Making nodes: names in recorded form, host attributes, linking into a directory. Shared by
// the folder scan and the file-set operations.
#pragma once

#include "image/plan.h"
#include "platform/host.h"

#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace tvx {

// A node with the name and its UDF form; null when the name is empty or its recorded form
// would not fit a File Identifier (255 bytes).
std::unique_ptr<FileNode> Node_New(std::string_view name);
// Attributes, size, sector count and times of a host object.
void Node_FillFromHost(FileNode* node, const FindResult& found);
// A directory made from nothing: attribute 0x10 only, size 0, the current time.
void Node_MakeEmptyDirectory(FileNode* node);
// Find-first through the host. Logs every object it skips (neither a file nor a folder) and a
// query that fails, naming the path; error (when given) receives the host's error code.
bool Node_FindOnHost(const std::string& query, std::vector<FindResult>& results,
                     uint32_t* error = nullptr);
// A folder's listing through the host, one entry at a time (see Host::listFolder), logged as
// Node_FindOnHost logs. False when the folder cannot be listed (error, when given, receives the
// host's error code) or `each` stopped the listing.
bool Node_ListOnHost(const std::string& folder, const FolderVisitor& each, bool openFiles,
                     uint32_t* error = nullptr);
// Finds or makes the directories of a volume path, as a file set's entries do; null when a
// component names a file, is "." or "..", or cannot be recorded (plan->refusal says why).
FileNode* Plan_MakeDirectoryPath(VolumePlan* plan, std::string_view path);
// Gives the node its ISO name in dir and links it at the head of dir's chain.
bool Node_Link(FileNode* dir, std::unique_ptr<FileNode> node);
// Strips trailing separators ('/' or '\'), keeping a lone one.
std::string_view Path_TrimTrailing(std::string_view path);
// The last component of a path (after trimming trailing separators).
std::string_view Path_LastComponent(std::string_view path);
inline bool Path_IsSeparator(char c) {
    return c == '/' || c == '\\';
}
// What joins host path components, so that messages show paths the way the host writes them.
#if defined(_WIN32)
constexpr char kHostSeparator = '\\';
#else
constexpr char kHostSeparator = '/';
#endif

} // namespace tvx
