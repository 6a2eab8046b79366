#include "image/iso_names.h"

#include "image/directory_index.h"
#include "image/plan.h"
#include "platform/host.h"

#include <cstring>

namespace tvx {

namespace {

constexpr size_t kBaseMax = 8;
// Base, suffix and extension leave room for ";1" within the 15 bytes of an identifier.
constexpr size_t kBaseAndExtensionMax = kIsoNameMax - 2;
constexpr uint32_t kMaxCandidates = 10000000; // "~9999999" still fits the base

size_t charLength(std::string_view s, size_t at) {
    size_t n = host().ansiCharLength(s.data() + at, s.size() - at);
    return n == 0 ? 1 : n;
}

// Copies whole characters of s while the copy stays within limit bytes.
std::string cutToBytes(std::string_view s, size_t limit) {
    size_t kept = 0;
    while (kept < s.size()) {
        size_t step = charLength(s, kept);
        if (kept + step > limit) break;
        kept += step;
    }
    return std::string(s.substr(0, kept));
}

// Upper-cases single-byte characters; ';' (the version separator) becomes '_'.
void finish(std::string& s) {
    for (size_t i = 0; i < s.size();) {
        size_t step = charLength(s, i);
        if (step == 1) s[i] = s[i] == ';' ? '_' : AsciiUpper(s[i]);
        i += step;
    }
}

struct NameParts {
    std::string_view base;      // before the first '.'
    std::string_view extension; // from the last '.', or empty when there is none
};

NameParts split(std::string_view name) {
    // Leading dots (hidden names) are skipped so that no identifier has an empty base.
    size_t start = name.find_first_not_of('.');
    if (start == std::string_view::npos) return {"_", {}};
    std::string_view rest = name.substr(start);
    NameParts parts;
    parts.base = rest.substr(0, rest.find('.'));
    size_t lastDot = rest.rfind('.');
    if (lastDot != std::string_view::npos) parts.extension = rest.substr(lastDot);
    return parts;
}

std::string candidate(std::string_view name, bool directoryForm, uint32_t index,
                      bool cutExtension) {
    NameParts parts = split(name);
    std::string suffix = index == 0 ? std::string() : "~" + std::to_string(index);
    std::string out = cutToBytes(parts.base, kBaseMax - suffix.size()) + suffix;
    if (!directoryForm) {
        std::string_view extension = parts.extension.empty() ? "." : parts.extension;
        // An extension that would overflow the identifier is cut to what remains.
        out += cutExtension ? cutToBytes(extension, kBaseAndExtensionMax - out.size())
                            : std::string(extension);
    }
    finish(out);
    if (!directoryForm) out += ";1";
    return out;
}

} // namespace

std::string Iso_NameCandidate(std::string_view name, bool directoryForm, uint32_t index) {
    return candidate(name, directoryForm, index, true);
}

bool Iso_MakeName(FileNode* dir, FileNode* node, bool directoryForm) {
    // Names with the same uncut first candidate share their whole candidate sequence, so the
    // search can resume where the last one for this key stopped.
    std::string key = candidate(node->name, directoryForm, 0, false);
    key += directoryForm ? 'D' : 'F';
    uint32_t index = 0;
    DirectoryIndex* idx = dir->index.get();
    if (idx) {
        auto it = idx->isoNextCandidate.find(key);
        if (it != idx->isoNextCandidate.end()) index = it->second;
    }
    std::string name;
    for (;; ++index) {
        if (index >= kMaxCandidates) return false;
        name = Iso_NameCandidate(node->name, directoryForm, index);
        if (!Dir_IsoNameUsed(dir, name)) break;
    }
    if (index > 0) {
        if (!dir->index) dir->index = std::make_unique<DirectoryIndex>();
        dir->index->isoNextCandidate[key] = index + 1;
    }
    std::memset(node->isoName, 0, sizeof node->isoName);
    std::memcpy(node->isoName, name.data(), name.size());
    node->isoNameLength = static_cast<uint32_t>(name.size());
    return true;
}

} // namespace tvx
