// Every host file of a plan opened once before anything is written, so that a source that
// cannot be read is refused while the disc is still untouched.
#pragma once

#include "image/plan.h"

#include <string>

namespace tvx {

// Opens (and closes) the host file of every file of the plan that its scan did not open, and
// compares its size with the planned one. Nonzero when all open with their planned sizes; 0 with failedPath set to the
// host path of the first that does not.
int Plan_CheckSources(const VolumePlan* plan, std::string* failedPath);

} // namespace tvx
