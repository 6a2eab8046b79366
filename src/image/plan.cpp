#include "image/plan.h"

#include "frame/log.h"
#include "image/directory_index.h"
#include "image/iso_names.h"
#include "image/plan_nodes.h"
#include "image/udf_dchars.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace tvx {

FileNode::FileNode() = default;

FileNode::~FileNode() {
    // Siblings are released in a loop so a long chain never deepens the stack.
    FileNode* child = firstChild;
    while (child) {
        FileNode* next = child->nextSibling;
        delete child;
        child = next;
    }
}

void FileNode::setSize(uint64_t bytes) {
    sizeLow = static_cast<uint32_t>(bytes);
    sizeHigh = static_cast<uint32_t>(bytes >> 32);
}

std::unique_ptr<FileNode> Node_New(std::string_view name) {
    if (name.empty()) return nullptr;
    // Only ASCII (without a zero, which ends the recorded text) counts as plain: a Latin-1 byte
    // records as itself too, but its form must stay comparable with the UTF-8 spelling of the
    // same character. A plain name records as compression 8 and its own bytes, so it needs no
    // conversion.
    bool plain = std::all_of(name.begin(), name.end(), [](char ch) {
        return ch != 0 && static_cast<unsigned char>(ch) < 0x80;
    });
    if (plain) {
        if (1 + name.size() > kMaxFileIdentifierBytes) return nullptr;
        auto node = std::make_unique<FileNode>();
        node->name.assign(name);
        node->udfNameLength = static_cast<uint16_t>(1 + name.size());
        return node;
    }
    // One conversion, with room for any name, tells both whether it fits and its recorded form.
    uint8_t recorded[1 + 2 * kDCharsMaxUnits];
    size_t length = UDF_EncodeDChars(name.data(), name.size(), recorded, sizeof recorded);
    if (length > kMaxFileIdentifierBytes) return nullptr;
    auto node = std::make_unique<FileNode>();
    node->name.assign(name);
    node->udfNameLength = static_cast<uint16_t>(length);
    node->udfName.assign(reinterpret_cast<const char*>(recorded), length);
    return node;
}

std::string Node_NameRule(std::string_view name) {
    if (name.empty()) return "an entry needs a name";
    if (Node_New(name)) return "";
    // The whole name, however long: the rule names what it would need.
    std::u16string units;
    host().ansiToUtf16(name, units);
    const bool latin1 =
        std::all_of(units.begin(), units.end(), [](char16_t u) { return u < 0x100; });
    const size_t bytes = 1 + (latin1 ? 1 : 2) * units.size();
    return "its name needs " + std::to_string(bytes) +
           " bytes as a UDF File Identifier, which holds 255: at most 254 characters when all are "
           "Latin-1, 127 otherwise";
}

size_t Node_PathBytes(std::string_view name) {
    if (std::all_of(name.begin(), name.end(), [](char c) { return (c & 0x80) == 0; }))
        return name.size();
    // Bytes that are no characters of the host's text come back as the characters they were
    // recorded as.
    std::u16string units;
    std::string back;
    if (!host().ansiToUtf16(name, units) || !host().utf16ToAnsi(units, back)) return name.size();
    return std::max(name.size(), back.size());
}

std::string Node_PathRule(size_t bytes) {
    return "its path in the volume is " + std::to_string(bytes) + " bytes long, beyond the " +
           std::to_string(kMaxVolumePath) + " that a path on the disc may have";
}

std::string Node_UdfName(const FileNode* node) {
    if (!node->udfName.empty()) return std::string(std::string_view(node->udfName));
    return static_cast<char>(kCompression8) + node->name;
}

std::string Plan_SourcePath(const FileNode* node) {
    if (!node->sourceInParent || !node->parent)
        return std::string(std::string_view(node->sourcePath));
    std::string path = Plan_SourcePath(node->parent);
    if (path.empty() || !Path_IsSeparator(path.back())) path += kHostSeparator;
    return path += node->name;
}

void Node_FillFromHost(FileNode* node, const FindResult& found) {
    node->attributes = found.attributes;
    node->setSize((found.attributes & kNodeDirectory) ? 0 : found.size);
    node->sectorCount = static_cast<uint32_t>((node->size() + kSectorSize - 1) / kSectorSize);
    node->accessTime = found.accessTime;
    node->writeTime = found.writeTime;
    node->creationTime = found.creationTime;
    node->sourceOpened = found.opened;
}

void Node_MakeEmptyDirectory(FileNode* node) {
    node->attributes = kNodeDirectory;
    node->setSize(0);
    node->sectorCount = 0;
    uint64_t now = host().currentFileTime();
    node->accessTime = node->writeTime = node->creationTime = now;
}

bool Node_FindOnHost(const std::string& query, std::vector<FindResult>& results,
                     uint32_t* errorOut) {
    std::vector<std::string> skipped;
    bool ok = host().findFiles(query, results, skipped);
    uint32_t error = ok ? 0 : host().lastError();
    if (errorOut) *errorOut = error;
    for (const std::string& path : skipped)
        LogWrite("Skip: %s is neither a file nor a folder\n", path.c_str());
    if (!ok && skipped.empty()) {
        LogWrite("Fail: FindFirstFile(%s)\n", query.c_str());
        LogSystemError(error);
    }
    return ok;
}

bool Node_ListOnHost(const std::string& folder, const FolderVisitor& each, bool openFiles,
                     uint32_t* errorOut) {
    std::vector<std::string> skipped;
    bool stopped = false;
    bool ok = host().listFolder(
        folder,
        [&](const FindResult& found) {
            stopped = !each(found);
            return !stopped;
        },
        skipped, openFiles);
    uint32_t error = ok ? 0 : host().lastError();
    if (errorOut) *errorOut = error;
    for (const std::string& path : skipped)
        LogWrite("Skip: %s is neither a file nor a folder\n", path.c_str());
    if (!ok && !stopped) {
        std::string query = folder;
        if (query.empty() || !Path_IsSeparator(query.back())) query += kHostSeparator;
        LogWrite("Fail: FindFirstFile(%s)\n", (query + "*.*").c_str());
        LogSystemError(error);
    }
    return ok;
}

bool Node_Link(FileNode* dir, std::unique_ptr<FileNode> node) {
    // Host names that the recorded form cannot tell apart (one name spelled in UTF-8 and in
    // Latin-1) would leave one of the two entries unreachable on the disc.
    if (Dir_UdfNameUsed(dir, node->udfName)) {
        LogWrite("Fail: %s is recorded like another entry of its folder\n", node->name.c_str());
        return false;
    }
    if (!Iso_MakeName(dir, node.get(), node->isDirectory())) return false;
    Dir_LinkHead(dir, node.get());
    node.release(); // owned by dir's chain from here
    return true;
}

std::string_view Path_TrimTrailing(std::string_view path) {
    while (path.size() > 1 && Path_IsSeparator(path.back()))
        path.remove_suffix(1);
    return path;
}

std::string_view Path_LastComponent(std::string_view path) {
    path = Path_TrimTrailing(path);
    if (path.size() == 1 && Path_IsSeparator(path[0])) return {};
    size_t i = path.size();
    while (i > 0 && !Path_IsSeparator(path[i - 1]))
        --i;
    return path.substr(i);
}

VolumePlan* Plan_Create(const char* label) {
    VolumePlan* plan = new (std::nothrow) VolumePlan;
    if (!plan) return nullptr;
    plan->label = label ? label : "";
    Node_MakeEmptyDirectory(&plan->root);
    plan->directoryCount = 1;
    plan->fileCount = 0;
    return plan;
}

void Plan_Free(VolumePlan* plan) {
    delete plan;
}

uint32_t Plan_CountEntries(const FileNode* first) {
    uint32_t count = 0;
    for (const FileNode* n = first; n; n = n->nextSibling) {
        ++count;
        if (n->isDirectory()) count += Plan_CountEntries(n->firstChild);
    }
    return count;
}

uint32_t Plan_CountDirectories(const FileNode* first) {
    uint32_t count = 0;
    for (const FileNode* n = first; n; n = n->nextSibling) {
        if (n->isDirectory()) count += 1 + Plan_CountDirectories(n->firstChild);
    }
    return count;
}

FileNode* Plan_AddDirectory(VolumePlan* plan, FileNode* parent, const char* name) {
    if (!plan || !parent || !name || !parent->isDirectory() || plan->laidOut) return nullptr;
    try {
        std::unique_ptr<FileNode> node = Node_New(name);
        if (!node || Dir_FindExact(parent, node->name)) return nullptr;
        Node_MakeEmptyDirectory(node.get());
        FileNode* raw = node.get();
        if (!Node_Link(parent, std::move(node))) return nullptr;
        ++plan->directoryCount;
        return raw;
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

} // namespace tvx
