// The command line as people used to genisoimage, growisofs and wodim type it: their spellings
// that mean what ours mean are taken, the rest answered with what to use instead, before the
// parser sees them. A single-dash word of several letters is never split into one-letter
// options, options given before the command go after it, and `help [COMMAND]` is help.
#pragma once

#include <string>
#include <vector>

namespace tvxcli {

// Rewrites args (args[0] is the program; commands: the tool's command names) in place; false
// with the answer (exit code 1, nothing done) for a spelling that is not supported.
bool TakePeerSpellings(std::vector<std::string>& args, const std::vector<std::string>& commands,
                       std::string& error);

} // namespace tvxcli
