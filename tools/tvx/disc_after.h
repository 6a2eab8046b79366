// What a failed or stopped burn left on the disc, as the drive reports it after the job.
#pragma once

#include "progress.h"
#include "torvexin.h"

#include <string>

namespace tvxcli {

// The drive's answer after the job. A failed burn ejects the disc: it is loaded to be asked,
// and ejected again so that the job's end stays as the library left it.
struct DiscAfterJob {
    bool read = false;
    TVX_DiscInfo info{};
    // Media written over in place: the library overwrote the volume structures again after the
    // burn stopped (its TVX_LastError location is 1030 when it could not).
    bool structuresCleared = true;
};
DiscAfterJob ReadDiscAfterJob(TVX_RecHandle handle);

// The disc's state in words after a burn that ended with result (not TVX_OK). mediaBefore is
// the kind the disc had before the burn, writtenInPlace whether the burn wrote over it in place
// (DVD+RW, DVD-RAM, formatted DVD-RW); volumeWhole says the library kept a whole volume
// whose finishing failed (VolumeWholeRecord); readBackFailed that the verification ran and found
// the disc otherwise than written (ReadBackFailed).
std::string DescribeDiscAfter(TVX_Result result, uint32_t mediaBefore, bool writtenInPlace,
                              const JobFacts& facts, bool testWrite, bool volumeWhole,
                              bool readBackFailed, const DiscAfterJob& after);

} // namespace tvxcli
