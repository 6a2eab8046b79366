// Exit codes, and naming results and drive failures for people.
#pragma once

#include "torvexin.h"

#include <cstdio>
#include <string>

namespace tvxcli {

// Exit codes of the tool, documented in `tvx --help` and tvx(1).
enum ExitCode {
    kExitOk = 0,
    kExitUsage = 1,     // bad command line: unknown command or option, bad value
    kExitNoDrive = 2,   // no transport, no such drive, or the drive cannot be opened
    kExitFailed = 3,    // the operation failed (result code printed)
    kExitCancelled = 4, // stopped by Ctrl-C, SIGTERM or SIGHUP
    kExitVerify = 5,    // the read-back found a difference or could not read the disc
};

// The TVX_LastError location of a source that could not be read (TVX_ERR_SOURCE).
inline constexpr int32_t kSourceFailureLocation = 1020;
// The TVX_LastError locations of a read-back that failed: a READ the drive refused, and a sector
// read back otherwise than it was written (no drive error: the description names the sector).
inline constexpr int32_t kVerifyReadLocation = 1060;
inline constexpr int32_t kVerifyDifferentLocation = 1061;
std::string MediaNames(uint32_t mask);
// The one kind of a disc's media-type bits, for example "DVD-RW".
std::string MediaName(uint32_t mediaType);
const char* BusName(uint32_t busKind);

// Prints "error: <message>" and keeps the message for the JSON result; returns code.
int Fail(int code, const char* format, ...) __attribute__((format(printf, 2, 3)));
const std::string& LastFailure();

// Prints "error: <what>: <result name> (0x...)", the drive's last error for drive failures
// (for any failure when verbose), and returns the exit code that fits the result.
int ReportFailure(const char* what, TVX_Result result, TVX_RecHandle handle, bool verbose);
// The handle's last drive error; verbose adds the full sense bytes.
void PrintLastError(FILE* out, TVX_RecHandle handle, bool verbose);
int ExitCodeOf(TVX_Result result);

} // namespace tvxcli
