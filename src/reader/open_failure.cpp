#include "reader/open_failure.h"

namespace tvx {

namespace {

struct FailureText {
    int32_t location;
    const char* description;
};

// Indexed by OpenFailure. Locations are the reader's own, apart from those of drive commands.
constexpr FailureText kFailures[] = {
    {1101, "No readable UDF file system on the disc"},
    {1102, "No file or directory with this path"},
    {1103, "A directory on the path is damaged"},
    {1104, "The file's File Entry is damaged"},
    {1105, "The file has more extents than can be read"},
    {1106, "The file's data lies outside the partition"},
    {1107, "Part of the window could not be read from the disc; nothing was written back"},
    {1108, "The window reaches past the end of the file or of the disc"},
};

} // namespace

void OpenFailure_Record(RecHandle* handle, OpenFailure failure) {
    if (!handle) return;
    const FailureText& text = kFailures[static_cast<int>(failure)];
    handle->lastError = TVX_LastError{};
    handle->lastError.description = text.description;
    handle->lastError.category = kOpenFailureCategory;
    handle->lastError.location = text.location;
}

} // namespace tvx
