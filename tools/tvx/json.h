// Machine-readable output: a small writer of JSON objects, and the records the tool prints.
#pragma once

#include "torvexin.h"

#include <cstdint>
#include <string>
#include <vector>

namespace tvxcli {

// Text as a JSON string. Valid UTF-8 passes through; other bytes become \u00XX escapes so
// that the document stays valid whatever a drive or a file name holds.
std::string JsonString(const std::string& text);

// Members are appended in order; str() gives the object's text on one line.
class JsonObject {
  public:
    JsonObject& add(const char* key, const std::string& value);
    JsonObject& add(const char* key, const char* value); // null pointer: null
    JsonObject& add(const char* key, int64_t value);
    JsonObject& add(const char* key, bool value);
    JsonObject& addRaw(const char* key, const std::string& json);
    std::string str() const { return "{" + body_ + "}"; }

  private:
    void key(const char* name);
    std::string body_;
};

std::string JsonArray(const std::vector<std::string>& jsonItems);
std::string JsonStrings(const std::vector<std::string>& texts);

// The handle's LastError record, or null when it holds no failure.
std::string JsonLastError(TVX_RecHandle handle);

} // namespace tvxcli
