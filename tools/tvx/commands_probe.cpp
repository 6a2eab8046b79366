// `tvx probe`: the drive report. Its questions are raw commands, which the shared library does
// not offer, so the work is done by tvx-probe (linked with the static library), run from this
// program's own folder so that nothing on the search path can stand in for it.
#include "commands.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <string>
#include <unistd.h>
#include <vector>

namespace tvxcli {

namespace {

std::string OwnFolder() {
    char path[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0) return "";
    std::string text(path, static_cast<size_t>(n));
    size_t slash = text.rfind('/');
    return slash == std::string::npos ? "" : text.substr(0, slash + 1);
}

// Global options that take a value, as main() knows them.
bool TakesValue(const std::string& option) {
    return option == "-d" || option == "--drive" || option == "--virtual" ||
           option == "--virtual-fault";
}

} // namespace

int RunProbeIfAsked(int argc, char** argv) {
    // The subcommand is the first word that is neither an option nor an option's value.
    int at = 1;
    std::vector<std::string> forwarded;
    for (; at < argc; ++at) {
        std::string word = argv[at];
        if (word.empty() || word[0] != '-') break;
        if (TakesValue(word) && at + 1 < argc) {
            if (word != "--virtual-fault") forwarded.insert(forwarded.end(), {word, argv[at + 1]});
            ++at;
        } else if (word.rfind("--drive=", 0) == 0 || word.rfind("--virtual=", 0) == 0) {
            forwarded.push_back(word);
        }
    }
    if (at >= argc || std::strcmp(argv[at], "probe") != 0) return -1;
    std::string program = OwnFolder() + "tvx-probe";
    std::vector<std::string> words = {program};
    words.insert(words.end(), forwarded.begin(), forwarded.end());
    for (int i = at + 1; i < argc; ++i)
        words.push_back(argv[i]);
    std::vector<char*> args;
    for (auto& w : words)
        args.push_back(w.data());
    args.push_back(nullptr);
    std::fflush(stdout);
    execv(program.c_str(), args.data());
    std::fprintf(stderr, "tvx: cannot run %s: %s\n", program.c_str(), std::strerror(errno));
    return 2;
}

} // namespace tvxcli
