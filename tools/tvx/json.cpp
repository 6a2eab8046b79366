#include "json.h"

#include "platform/text.h"

#include <cstdio>

namespace tvxcli {

std::string JsonString(const std::string& text) {
    std::string out = "\"";
    for (size_t i = 0; i < text.size();) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        if (c >= 0x80) {
            // Only well-formed UTF-8 passes: no overlong forms, surrogates or values past
            // U+10FFFF.
            const size_t length = tvx::Utf8SequenceLength(text.data() + i, text.size() - i);
            if (length > 1) {
                out.append(text, i, length);
                i += length;
                continue;
            }
        }
        char escaped[8];
        if (c >= 0x80) {
            // A byte that is no part of valid UTF-8 (a host name in another encoding) becomes
            // the lone surrogate U+DC80 + (byte - 0x80), as Python's "surrogateescape" does:
            // no valid text holds one, so the exact bytes come back (tvx(1), JSON OUTPUT).
            std::snprintf(escaped, sizeof escaped, "\\udc%02x", c);
            out += escaped;
            ++i;
            continue;
        }
        switch (c) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        default:
            if (c < 0x20 || c == 0x7F) {
                std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
                out += escaped;
            } else {
                out += static_cast<char>(c);
            }
        }
        ++i;
    }
    return out + "\"";
}

void JsonObject::key(const char* name) {
    if (!body_.empty()) body_ += ",";
    body_ += JsonString(name) + ":";
}

JsonObject& JsonObject::add(const char* name, const std::string& value) {
    key(name);
    body_ += JsonString(value);
    return *this;
}

JsonObject& JsonObject::add(const char* name, const char* value) {
    key(name);
    body_ += value ? JsonString(value) : "null";
    return *this;
}

JsonObject& JsonObject::add(const char* name, int64_t value) {
    key(name);
    body_ += std::to_string(value);
    return *this;
}

JsonObject& JsonObject::add(const char* name, bool value) {
    key(name);
    body_ += value ? "true" : "false";
    return *this;
}

JsonObject& JsonObject::addRaw(const char* name, const std::string& json) {
    key(name);
    body_ += json;
    return *this;
}

std::string JsonArray(const std::vector<std::string>& jsonItems) {
    std::string out = "[";
    for (size_t i = 0; i < jsonItems.size(); ++i)
        out += (i ? "," : "") + jsonItems[i];
    return out + "]";
}

std::string JsonStrings(const std::vector<std::string>& texts) {
    std::vector<std::string> items;
    for (const auto& text : texts)
        items.push_back(JsonString(text));
    return JsonArray(items);
}

std::string JsonLastError(TVX_RecHandle handle) {
    TVX_LastError e;
    if (!handle || TVX_GetLastError(handle, &e) != TVX_OK || e.location == 0) return "null";
    std::vector<std::string> cdb, sense;
    for (int i = 0; i < e.cdbLength && i < 16; ++i)
        cdb.push_back(std::to_string(e.cdb[i]));
    for (int i = 0; i < e.senseLength && i < 32; ++i)
        sense.push_back(std::to_string(e.sense[i]));
    return JsonObject()
        .add("location", int64_t{e.location})
        .add("status", int64_t{e.status})
        .add("senseKey", int64_t{e.senseKey})
        .add("asc", int64_t{e.asc})
        .add("ascq", int64_t{e.ascq})
        .add("description", e.description)
        .add("category", e.category)
        .addRaw("cdb", JsonArray(cdb))
        .addRaw("sense", JsonArray(sense))
        .str();
}

} // namespace tvxcli
