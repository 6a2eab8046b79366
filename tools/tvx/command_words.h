// The words of a command line before it is parsed: the command asked for, a version request,
// the commands nearest a mistyped one, and what every command's help adds.
#pragma once

#include <string>
#include <vector>

namespace CLI {
class App;
}

namespace tvxcli {

// The first word that is no option nor an option's value (empty when there is none): the
// command. Global options that take a value are skipped with it.
std::string CommandWord(int argc, char** argv);
// True when -V or --version comes before the command (or there is no command).
bool AsksForVersion(int argc, char** argv);
// The names nearest word by edit distance (a swap of two neighbours counts once), nearest
// first; names that start with word come first of all. Empty when nothing is near.
std::vector<std::string> NearestNames(const std::string& word,
                                      const std::vector<std::string>& names);
// "unknown command 'X'", and the nearest commands when there are any.
std::string UnknownCommandText(const std::string& word, const std::vector<std::string>& names);
// The global options, as each command's help lists them.
const char* GlobalOptionsText();
// Gives every command of app a help that ends with the global options instead of the whole
// tool's notes.
void UseCommandFooters(CLI::App& app);
// Refuses a command word that names no command of app, with the nearest ones: the exit code
// of a bad command line, or 0.
int RefuseUnknownCommand(CLI::App& app, int argc, char** argv);
// "Torvexin 1.3.0.81", from the library.
std::string VersionText();

} // namespace tvxcli
