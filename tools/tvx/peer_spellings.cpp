#include "peer_spellings.h"

#include <algorithm>
#include <cstring>

namespace tvxcli {

namespace {

// Options whose value is the next word, of every command: the value is never a spelling. -V
// takes a value after a command (the label); before one it is the version.
bool TakesValue(const std::string& word, bool afterCommand) {
    static const char* const names[] = {
        "-d",        "--drive", "--virtual",  "--virtual-fault", "-l",      "--label",
        "-s",        "--speed", "-f",         "--list",          "-o",      "--output",
        "--exclude", "--data",  "--mode",     "--file",          "--block", "--offset",
        "--hex",     "--from",  "--video-ts", "--dvd-video"};
    return (afterCommand && word == "-V") || std::any_of(std::begin(names), std::end(names),
                                                         [&](const char* n) { return word == n; });
}

// Options of the tool itself, which stay where they are.
bool IsGlobal(const std::string& word) {
    for (const char* n : {"-d", "--drive", "--virtual", "--virtual-fault", "-q", "--quiet", "-v",
                          "--verbose", "--json", "-h", "--help", "--version"})
        if (word == n || word.rfind(std::string(n) + "=", 0) == 0) return true;
    return false;
}

bool IsBurn(const std::string& command) {
    return command.rfind("burn-", 0) == 0;
}

bool HasLabel(const std::string& command) {
    return command == "make-image" || (IsBurn(command) && command != "burn-image");
}

// A peer's spelling: what it becomes (nothing: it is dropped; "": not taken here) for the
// burns and for make-image, or why it is not supported.
struct Spelling {
    const char* word;
    std::vector<std::string> burn;
    std::vector<std::string> image;
    const char* answer;
};

const std::vector<Spelling>& Spellings() {
    static const std::vector<Spelling> table = {
        // Every volume is UDF with an ISO 9660 bridge, and every burn closes the disc.
        {"-udf", {}, {}, nullptr},
        {"-dvd-compat", {}, {""}, nullptr},
        {"-dvd-video", {""}, {"--peer-dvd-video"}, "use burn-dvd-video FOLDER"},
        {"-dry-run", {"--test"}, {""}, nullptr},
        {"-dummy", {"--test"}, {""}, nullptr},
        {"-J", {""}, {""}, "not supported: the UDF file system carries long names"},
        {"-joliet", {""}, {""}, "not supported: the UDF file system carries long names"},
        {"-r", {""}, {""}, "not supported: owners and permissions are not recorded"},
        {"-R", {""}, {""}, "not supported: owners and permissions are not recorded"},
        {"-rock", {""}, {""}, "not supported: owners and permissions are not recorded"},
        {"-b", {""}, {""}, "not supported: no boot images"},
        {"-eltorito-boot", {""}, {""}, "not supported: no boot images"},
        {"-volset",
         {""},
         {""},
         "not supported: the volume set identifier is made from the "
         "volume's time"},
        {"-hide",
         {""},
         {""},
         "not supported: both file systems list every entry; "
         "--exclude PATTERN leaves one out"},
        {"-m", {""}, {"--exclude"}, "use make-image --exclude PATTERN"},
        {"-exclude", {""}, {"--exclude"}, "use make-image --exclude PATTERN"},
        {"-graft-points", {""}, {""}, "not needed: make-image --files takes VOLUME_PATH=HOST_PATH"},
        {"-print-size",
         {""},
         {""},
         "use check --data FOLDER, or make-image --json (volumeSectors)"},
        {"-multi", {""}, {""}, "not supported: every burn closes the disc"},
        {"-M", {""}, {""}, "not supported: every burn closes the disc"},
        {"-Z",
         {""},
         {""},
         "give the drive with -d DRIVE and the source after the command "
         "(burn-data FOLDER, burn-image IMAGE)"},
    };
    return table;
}

// The index of the command word, or args.size(). Before it, -V takes the next word as its
// value (a label) unless that word is a command.
size_t CommandIndex(const std::vector<std::string>& args,
                    const std::vector<std::string>& commands) {
    auto isCommand = [&](const std::string& word) {
        return std::find(commands.begin(), commands.end(), word) != commands.end();
    };
    for (size_t i = 1; i < args.size(); ++i) {
        if (args[i] == "--") return i + 1;
        if (args[i].size() < 2 || args[i][0] != '-') return i;
        if (TakesValue(args[i], false) ||
            (args[i] == "-V" && i + 1 < args.size() && !isCommand(args[i + 1])))
            ++i;
    }
    return args.size();
}

// Takes or answers one word after the command; true when it was a peer's spelling.
bool Translate(const std::string& command, std::vector<std::string>& out, const std::string& word,
               std::string& error) {
    // -speed=N, as growisofs and wodim write it.
    if (word.rfind("-speed=", 0) == 0) {
        out.insert(out.end(), {"--speed", word.substr(7)});
        return true;
    }
    for (const char* tool : {"-quiet", "-verbose", "-version", "-help"}) {
        if (word != tool) continue;
        out.push_back("-" + word);
        return true;
    }
    if (word == "-dvd-video" && command == "burn-dvd-video") return true;
    for (const Spelling& s : Spellings()) {
        if (word != s.word) continue;
        const std::vector<std::string>& becomes = command == "make-image" ? s.image : s.burn;
        const bool taken = (IsBurn(command) || command == "make-image") &&
                           !(becomes.size() == 1 && becomes[0].empty());
        if (taken) {
            out.insert(out.end(), becomes.begin(), becomes.end());
            return true;
        }
        error = word + ": " + (s.answer ? s.answer : "not an option of " + command);
        return true;
    }
    // Any other single-dash word of several letters is one unknown option, never several.
    if (word.size() > 2 && word[0] == '-' && word[1] != '-') {
        error = "unknown option '" + word +
                "' (options of one letter take one dash, longer ones "
                "two: -s 8, --speed 8)";
        return true;
    }
    return false;
}

} // namespace

bool TakePeerSpellings(std::vector<std::string>& args, const std::vector<std::string>& commands,
                       std::string& error) {
    size_t command = CommandIndex(args, commands);
    // `tvx help [COMMAND]`
    if (command < args.size() && args[command] == "help") {
        std::vector<std::string> out(args.begin(), args.begin() + command);
        if (command + 1 < args.size()) out.push_back(args[command + 1]);
        out.push_back("--help");
        args = out;
        return true;
    }
    if (command >= args.size()) return true;
    const std::string name = args[command];
    // Options before the command: the tool's own stay, the command's go after it (-V before a
    // command without a label is still the version).
    std::vector<std::string> before{args[0]}, moved;
    for (size_t i = 1; i < command; ++i) {
        const bool value = (TakesValue(args[i], false) || args[i] == "-V") && i + 1 < command;
        std::vector<std::string>& to =
            IsGlobal(args[i]) || (args[i] == "-V" && !HasLabel(name)) || args[i] == "--" ? before
                                                                                         : moved;
        to.push_back(args[i]);
        if (value) to.push_back(args[++i]);
    }
    std::vector<std::string> out = before;
    out.push_back(name);
    std::vector<std::string> rest = moved;
    rest.insert(rest.end(), args.begin() + static_cast<long>(command) + 1, args.end());
    for (size_t i = 0; i < rest.size(); ++i) {
        const std::string& word = rest[i];
        if (word == "--") {
            out.insert(out.end(), rest.begin() + static_cast<long>(i), rest.end());
            break;
        }
        if (TakesValue(word, true) && i + 1 < rest.size()) {
            out.insert(out.end(), {word, rest[++i]});
            continue;
        }
        if (Translate(name, out, word, error)) {
            if (!error.empty()) return false;
            continue;
        }
        out.push_back(word);
    }
    args = out;
    return true;
}

} // namespace tvxcli
