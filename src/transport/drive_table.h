// The drive table: 26 static entries and the list through the used ones.
#pragma once

#include "transport/rec_handle.h"

namespace tvx {

// Empties the table (closing open handles) and enumerates anew; returns the count.
int DriveTable_Fill();
// Closes every open handle and unlinks every entry.
void DriveTable_Empty();

} // namespace tvx
