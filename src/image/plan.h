// The volume plan: the tree of files and directories to be recorded, where each file's bytes
// come from, the names under which each entry is recorded, and (after Plan_Layout) where every
// structure goes and the write list that Plan_Stream hands to a sector sink.
//
// Ownership: a VolumePlan owns its tree, its ISO directory table and its write list; a
// FileNode owns its children. Plan_Free releases everything. A plan is used by one thread.
// Operations answer nonzero (or a pointer) on success and 0 (or null) on failure.
#pragma once

#include "image/packed_text.h"
#include "image/write_list.h"
#include "platform/host.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace tvx {

class SectorSink;
struct DirectoryIndex;

inline constexpr uint32_t kNodeDirectory = 0x10;
inline constexpr uint32_t kNodeHidden = 0x02;
// ISO 9660 identifiers hold at most 15 bytes (plus a terminator in isoName).
inline constexpr size_t kIsoNameMax = 15;
// A path in the volume holds at most 259 bytes, on every platform, in the form TVX_OpenFile
// takes it back (a leading "/", and a trailing one for a folder): every path a burn records
// opens again.
inline constexpr size_t kMaxVolumePath = 259;
// The label of a volume whose host gives none.
inline constexpr const char* kDefaultVolumeLabel = "UDF102";

struct FileNode {
    FileNode();
    ~FileNode(); // releases the children, iteratively along each chain
    FileNode(const FileNode&) = delete;
    FileNode& operator=(const FileNode&) = delete;

    // Fields are ordered so that the node packs without holes: a plan holds one per entry.
    uint32_t attributes = 0; // host attribute bits: 0x10 directory, 0x02 hidden
    uint32_t sizeLow = 0;    // bytes; for a directory the length of its UDF directory data
    uint32_t sizeHigh = 0;
    uint32_t entryBlock = 0; // partition-relative block of the UDF File Entry
    uint64_t accessTime = 0; // file times, 100 ns since 1601-01-01 UTC
    uint64_t writeTime = 0;
    uint64_t creationTime = 0;
    std::string name; // one path component; empty for the root
    FileNode* parent = nullptr;
    FileNode* firstChild = nullptr;  // owned
    FileNode* nextSibling = nullptr; // owned by the parent
    uint32_t dataBlock = 0;          // partition-relative first block of the data
    uint32_t sectorCount = 0;        // data length in sectors
    // Compressed d-characters, at most 255 bytes. Left empty when they are compression 8
    // followed by the name's own bytes (a plain ASCII name), which UDF_BuildFileIdent then
    // writes from `name`: most names cost their bytes once.
    PackedText udfName;
    // Host path of the bytes; for the top folder of a scan, the folder its entries share;
    // empty for other directories made from nothing.
    PackedText sourcePath;
    // Name lookups and ISO name uniqueness within a directory; made with its first entry.
    std::unique_ptr<DirectoryIndex> index;
    char isoName[kIsoNameMax + 1] = {};
    uint16_t udfNameLength = 0;
    uint8_t isoNameLength = 0;
    // Set for entries found by a folder scan below its top: the host path is the parent's, a
    // '/' and the name, and sourcePath stays empty (see Plan_SourcePath).
    bool sourceInParent = false;
    // The host file opened for reading when it was found (see VolumePlan::scanOpensFiles).
    bool sourceOpened = false;

    bool isDirectory() const { return (attributes & kNodeDirectory) != 0; }
    uint64_t size() const { return static_cast<uint64_t>(sizeHigh) << 32 | sizeLow; }
    void setSize(uint64_t bytes);
};

// One ISO 9660 directory: numbers from 1 (the root, its own parent), location and size in
// sectors.
struct IsoDirectory {
    FileNode* node = nullptr;
    uint16_t number = 0;
    uint16_t parentNumber = 0;
    uint32_t location = 0;
    uint32_t size = 0;
};

// Why a filling operation refused a source, when the rule is known: the entry at fault (its host
// path, or its volume path for a file-set name) and the rule in words.
struct PlanRefusal {
    std::string path;
    std::string rule;
    bool empty() const { return path.empty(); }
};

// Whether a folder scan leaves an entry (and everything below it) out: its path relative to the
// scanned folder, components joined by '/'.
using ScanExclude = std::function<bool(std::string_view relativePath)>;

struct VolumePlan {
    FileNode root;
    std::vector<WriteRun> writeList;
    std::string label;
    uint32_t directoryCount = 1; // the root included
    uint32_t fileCount = 0;
    // ISO 9660 placement
    uint32_t pathTableLocation = 0;
    uint32_t pathTableSize = 0;
    uint32_t isoDirectoryStart = 0;
    uint32_t isoDirectorySectors = 0;
    std::vector<IsoDirectory> isoDirectories;
    uint32_t dvdPadding = 0; // 0-15 zero sectors before the partition
    // Blocks of the partition: the file set's two, then a File Entry and the data of each node.
    uint32_t partitionLength = 0;
    // The volume set identifier both descriptors carry, made once per layout.
    std::string volumeSetId;
    bool laidOut = false;
    // Set by the filling operation that refused a source for a rule it can name.
    PlanRefusal refusal;
    // Entries that folder scans leave out; none when empty.
    ScanExclude exclude;
    // Folder scans ask the host to open the files they find (a burn checks every source before
    // it writes; this spares it a second opening of each file).
    bool scanOpensFiles = false;
};

// Creating, filling and releasing a plan
VolumePlan* Plan_Create(const char* label);
void Plan_Free(VolumePlan* plan);
// The folder becomes one directory in the root. Entries added, or 0 (nothing found, or a scan
// that had to be refused: a loop of links, a path beyond the host limit, an unrecordable name).
uint32_t Plan_AddFolder(VolumePlan* plan, const char* folder);
// The folder's entries become the root's entries. Entries added, or 0 as above.
uint32_t Plan_AddFolderContents(VolumePlan* plan, const char* folder);
// A VIDEO_TS folder: Plan_AddFolder, plus an empty "AUDIO_TS" when the folder's own name is
// exactly "VIDEO_TS". Nonzero on success.
int Plan_AddVideoTsFolder(VolumePlan* plan, const char* folder);
// A DVD-Video folder (holding VIDEO_TS): its contents become the root; an empty "AUDIO_TS" is
// added when missing. Fails without a "VIDEO_TS" entry.
int Plan_AddDvdVideoFolder(VolumePlan* plan, const char* folder);
// The folder's entries become the entries of the directory at volumePath ('/' or '\'
// separated; made as a file set's directories are when missing). Nonzero on success, an empty
// folder included; 0 as above, or when an entry's name is already taken there.
int Plan_AddFolderAt(VolumePlan* plan, const char* volumePath, const char* folder);
// A new empty directory at the head of parent's chain; null on failure.
FileNode* Plan_AddDirectory(VolumePlan* plan, FileNode* parent, const char* name);
// One file of a file set: volumePath ('\' or '/' separators) gets the bytes of sourcePath.
int Plan_AddFileSetEntry(VolumePlan* plan, const char* volumePath, const char* sourcePath);
// Whether volumePath can name a file of a file set at all: it has a leaf, and no component is
// "." or "..", which every reader takes for the folder itself or its parent.
bool Plan_IsFileSetPath(const char* volumePath);

// Lookups and removal. Path components are names, cleaned as file-set names are ('*' and '?'
// are no wildcards) and compared with ASCII letters in either case.
FileNode* Plan_FindNode(FileNode* start, const char* path);
int Plan_RemoveNode(VolumePlan* plan, FileNode* start, const char* path, bool removeNonEmpty);

// Where the node's bytes are read from on the host (empty for directories made from nothing).
std::string Plan_SourcePath(const FileNode* node);
// Why a name cannot be recorded (empty, or beyond what a File Identifier holds), in words; ""
// when it can.
std::string Node_NameRule(std::string_view name);
// Bytes that a recorded name takes in a path read back from the disc (host text again).
size_t Node_PathBytes(std::string_view name);
// Why a volume path of that many bytes (as TVX_OpenFile takes it) cannot be recorded, in words.
std::string Node_PathRule(size_t bytes);
// The recorded d-characters of an entry's name, compression byte first.
std::string Node_UdfName(const FileNode* node);

// Entry order and counting
void Plan_SortTree(VolumePlan* plan);
// Indexes of names in the order Plan_SortTree gives entries of those names.
void Plan_EntryOrder(const std::vector<std::string_view>& names, std::vector<uint32_t>& order);
uint32_t Plan_CountEntries(const FileNode* first);
uint32_t Plan_CountDirectories(const FileNode* first);

// Layout: sorts, places every structure and fills the write list. Nonzero on success; fails
// (leaving no write list) when memory runs out or the tree cannot be described (more than
// 65535 directories, or a volume beyond 2^32 sectors).
int Plan_Layout(VolumePlan* plan);
uint32_t Plan_VolumeSize(const VolumePlan* plan);
uint32_t Plan_PartitionStart(const VolumePlan* plan);
uint32_t Plan_PartitionLength(const VolumePlan* plan);
uint32_t Plan_DirectoryDataSize(const FileNode* first);

// Streams sectors 0 .. Plan_VolumeSize - 1 to the sink in order. Fails when the sink fails or
// a host file cannot be opened, or no longer has the size that was planned.
int Plan_Stream(VolumePlan* plan, SectorSink& sink);
// Streams only sectors first .. end - 1 (end clipped to the volume's size), in order: the
// sectors are exactly those Plan_Stream gives there. Host files wholly outside are not opened.
int Plan_StreamRange(VolumePlan* plan, SectorSink& sink, uint32_t first, uint32_t end);

} // namespace tvx
