// Folder listings of the disc's UDF file system, read through mapped windows of the public
// interface: the library opens files by path but does not list folders, so the tool reads the
// few structures a listing needs (anchor, partition and file set, File Entries and File
// Identifiers) itself, checking each descriptor's tag before using it.
#pragma once

#include "torvexin.h"

#include <cstdint>
#include <string>
#include <vector>

namespace tvxcli {

struct DiscTime {
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
    int offsetMinutes = 0; // from UTC
    bool offsetKnown = false;
    bool known = false;
};

struct ListedEntry {
    std::string name; // UTF-8
    bool directory = false;
    uint64_t size = 0; // a file's bytes; 0 for a folder
    DiscTime modified;
};

// Reads the entries of the folder at path (or the one entry, when path names a file), in the
// disc's order. withDetails reads each entry's File Entry for its size and time. False with a
// message naming what failed.
bool ListDiscPath(TVX_DiscFile root, const std::string& path, bool withDetails,
                  std::vector<ListedEntry>& entries, bool& isFolder, std::string& error);

// Decodes a UDF d-string's compressed characters (compression 8 or 16) as UTF-8; false for
// any other compression.
bool DecodeDiscName(const uint8_t* bytes, size_t length, std::string& out);
// A recorded timestamp (12 bytes); known is false for an empty or impossible one.
DiscTime DecodeDiscTime(const uint8_t* bytes);

} // namespace tvxcli
