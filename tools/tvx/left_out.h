// Entries of a source folder that a burn leaves out: named before the burn starts, so that
// nobody learns from a finished disc that a file is missing.
#pragma once

#include "commands.h"

namespace tvxcli {

// Names on standard error every entry below the request's folder that the library leaves out
// (pipes, sockets, devices, links that lead nowhere or in a loop). Nothing for other sources.
void NameLeftOut(const BurnRequest& request);

} // namespace tvxcli
