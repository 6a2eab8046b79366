// Habits of real recorders that the model can take on, by name: one table, so that tests, the
// command-line host and TVX_VIRTUAL_DRIVES switch them on the same way. Each behaviour changes
// the DriveModel the recorder is made with.
//
// A list names behaviours separated by ',', each with an optional "=value":
//   "close-only,max-transfer=32768"
#pragma once

#include "vdrive/virtual_recorder.h"

#include <span>
#include <string>

namespace tvx::vdrive {

struct Behaviour {
    const char* name;
    const char* parameters; // what may follow '=' ("" when nothing may)
    const char* description;
    // Changes the model; value is the text after '=' (empty when none was given). False when
    // the value is bad.
    bool (*apply)(DriveModel& model, const std::string& value);
};

// Every behaviour, in the order of the help text.
std::span<const Behaviour> Behaviours();
// The behaviour of that name, or null.
const Behaviour* FindBehaviour(const std::string& name);
// Applies a list to the model; false with a message naming the bad entry. An empty list
// changes nothing.
bool ApplyBehaviours(const std::string& list, DriveModel& model, std::string& error);

} // namespace tvx::vdrive
