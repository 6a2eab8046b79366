// Naming results and drive failures for people.
#pragma once

#include "torvexin.h"

#include <cstdio>
#include <string>

namespace tvxcli {

// Exit codes of the tool, documented in `tvx --help`.
enum ExitCode {
    kExitOk = 0,
    kExitUsage = 1,     // bad command line (CLI11 also uses it)
    kExitNoDrive = 2,   // no transport, no drive, or the drive cannot be opened
    kExitFailed = 3,    // the operation failed (result code printed)
    kExitCancelled = 4, // stopped with Ctrl-C
    kExitVerify = 5,    // verification found a difference or could not read back
};

const char* ResultName(TVX_Result result);
std::string MediaNames(uint32_t mask);
const char* BusName(uint32_t busKind);

// Prints "error: <what>: <result name> (0x...)" and, for drive command failures, the last error
// record of the handle. Returns the exit code that fits the result.
int ReportFailure(const char* what, TVX_Result result, TVX_RecHandle handle);
void PrintLastError(FILE* out, TVX_RecHandle handle);

} // namespace tvxcli
