#include "image/iso_names.h"

#include "image/directory_index.h"
#include "image/plan.h"
#include "platform/host.h"

#include <algorithm>
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

NameParts partsOf(std::string_view name) {
    NameParts parts;
    parts.base = name.substr(0, name.find('.'));
    size_t lastDot = name.rfind('.');
    if (lastDot != std::string_view::npos) parts.extension = name.substr(lastDot);
    return parts;
}

NameParts split(std::string_view name, bool directoryForm) {
    NameParts parts = partsOf(name);
    // A file may have an empty base when its extension is not (".bashrc" is .BASHRC;1). An
    // identifier with neither (a directory ".config", a file "...") skips its leading dots.
    bool empty = parts.base.empty() && (directoryForm || parts.extension.size() <= 1);
    if (!empty) return parts;
    size_t start = name.find_first_not_of('.');
    if (start == std::string_view::npos) return {"_", {}};
    return partsOf(name.substr(start));
}

struct Candidate {
    std::string prefix;    // the base cut for the suffix, finished
    std::string extension; // the file form's extension cut to fit, finished (with ";1")
};

// Candidate `index` in parts: the identifier is prefix, suffix, extension.
Candidate candidateParts(const NameParts& parts, bool directoryForm, uint32_t index) {
    size_t suffixLength = index == 0 ? 0 : 1 + std::to_string(index).size();
    Candidate c;
    c.prefix = cutToBytes(parts.base, kBaseMax - suffixLength);
    if (!directoryForm) {
        std::string_view extension = parts.extension.empty() ? "." : parts.extension;
        // An extension that would overflow the identifier is cut to what remains.
        c.extension = cutToBytes(extension, kBaseAndExtensionMax - c.prefix.size() - suffixLength);
        finish(c.extension);
        c.extension += ";1";
    }
    finish(c.prefix);
    return c;
}

std::string join(const Candidate& c, uint32_t index) {
    std::string out = c.prefix;
    if (index > 0) out += "~" + std::to_string(index);
    return out + c.extension;
}

} // namespace

std::string Iso_NameCandidate(std::string_view name, bool directoryForm, uint32_t index) {
    return join(candidateParts(split(name, directoryForm), directoryForm, index), index);
}

bool Iso_MakeName(FileNode* dir, FileNode* node, bool directoryForm) {
    NameParts parts = split(node->name, directoryForm);
    std::string name = join(candidateParts(parts, directoryForm, 0), 0);
    if (Dir_IsoNameUsed(dir, name)) {
        // Suffixes of the same number of digits give the same prefix and extension, so every
        // name with that prefix, extension and form shares those candidates: the search in a
        // band resumes where the last search there found all candidates taken. Names whose
        // first candidate is the same share all their candidates, so their search also skips
        // every suffix below the one given last among them.
        if (!dir->index) dir->index = std::make_unique<DirectoryIndex>();
        auto& next = dir->index->isoNextCandidate;
        uint32_t& lowest = dir->index->isoFirstFree[name + (directoryForm ? 'D' : 'F')];
        bool found = false;
        uint32_t index = 0;
        for (uint32_t bandStart = 1; bandStart < kMaxCandidates && !found; bandStart *= 10) {
            uint32_t bandEnd = bandStart * 10 - 1;
            if (lowest > bandEnd) continue;
            Candidate c = candidateParts(parts, directoryForm, bandStart);
            std::string key = c.prefix + '\0' + c.extension + (directoryForm ? 'D' : 'F') +
                              std::to_string(bandStart);
            uint32_t& first = next[key];
            index = std::max({first, bandStart, lowest});
            for (; index <= bandEnd; ++index) {
                name = join(c, index);
                if (!Dir_IsoNameUsed(dir, name)) {
                    found = true;
                    break;
                }
            }
            first = index + (found ? 1 : 0);
        }
        if (!found) return false;
        lowest = index + 1;
    }
    std::memset(node->isoName, 0, sizeof node->isoName);
    std::memcpy(node->isoName, name.data(), name.size());
    node->isoNameLength = static_cast<uint8_t>(name.size());
    return true;
}

} // namespace tvx
