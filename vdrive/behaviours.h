// Named behaviours of real drives that a test or TVX_VIRTUAL_DRIVES switches on: one row each
// in a single table, applied to the DriveModel before the drive is made. Text form:
// "name" or "name=arg[,arg...]".
#pragma once

#include "vdrive/virtual_recorder.h"

#include <span>
#include <string>
#include <vector>

namespace tvx::vdrive {

struct Behaviour {
    const char* name;
    const char* parameters;  // for help texts; "" when it takes none
    const char* description; // what the drive then does
    // Changes the model; false with a message on bad arguments.
    bool (*apply)(DriveModel& model, const std::vector<std::string>& args, std::string& error);
};

std::span<const Behaviour> Behaviours();
const Behaviour* FindBehaviour(const std::string& name);

// Applies "name[=args]"; false with a message for an unknown name or bad arguments.
bool ApplyBehaviour(DriveModel& model, const std::string& text, std::string& error);

// One line per behaviour, "name[=parameters]  description", for help texts.
std::string BehaviourHelp();

} // namespace tvx::vdrive
