#include "command_words.h"

#include "results.h"
#include "torvexin.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace tvxcli {

namespace {

// Global options whose value is the next word.
bool TakesValue(const char* word) {
    for (const char* name : {"-d", "--drive", "--virtual", "--virtual-fault"})
        if (std::strcmp(word, name) == 0) return true;
    return false;
}

// The index of the command word, or argc.
int CommandIndex(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--") == 0) return i + 1 < argc ? i + 1 : argc;
        if (argv[i][0] != '-' || argv[i][1] == 0) return i;
        if (TakesValue(argv[i])) ++i;
    }
    return argc;
}

// Optimal string alignment distance: insertions, deletions, changes and swaps of neighbours.
size_t Distance(const std::string& a, const std::string& b) {
    std::vector<std::vector<size_t>> d(a.size() + 1, std::vector<size_t>(b.size() + 1));
    for (size_t i = 0; i <= a.size(); ++i)
        d[i][0] = i;
    for (size_t j = 0; j <= b.size(); ++j)
        d[0][j] = j;
    for (size_t i = 1; i <= a.size(); ++i) {
        for (size_t j = 1; j <= b.size(); ++j) {
            size_t cost = a[i - 1] == b[j - 1] ? 0 : 1;
            d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + cost});
            if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1])
                d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
        }
    }
    return d[a.size()][b.size()];
}

} // namespace

std::string CommandWord(int argc, char** argv) {
    int i = CommandIndex(argc, argv);
    return i < argc ? argv[i] : "";
}

bool AsksForVersion(int argc, char** argv) {
    int end = CommandIndex(argc, argv);
    for (int i = 1; i < end; ++i) {
        if (std::strcmp(argv[i], "-V") == 0 || std::strcmp(argv[i], "--version") == 0) return true;
        if (TakesValue(argv[i])) ++i;
    }
    return false;
}

std::vector<std::string> NearestNames(const std::string& word,
                                      const std::vector<std::string>& names) {
    std::vector<std::string> prefixed;
    std::vector<std::pair<size_t, std::string>> near;
    // Farther than a third of the word (at least 2) is a different word, not a typing slip.
    const size_t limit = std::max<size_t>(2, word.size() / 3);
    for (const auto& name : names) {
        if (!word.empty() && name.compare(0, word.size(), word) == 0) {
            prefixed.push_back(name);
            continue;
        }
        size_t d = Distance(word, name);
        if (d <= limit) near.emplace_back(d, name);
    }
    std::stable_sort(near.begin(), near.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    for (const auto& n : near)
        prefixed.push_back(n.second);
    return prefixed;
}

std::string UnknownCommandText(const std::string& word, const std::vector<std::string>& names) {
    std::string text = "unknown command '" + word + "'";
    std::vector<std::string> nearest = NearestNames(word, names);
    if (nearest.empty()) return text;
    text += nearest.size() == 1 ? "; did you mean " : "; did you mean one of ";
    for (size_t i = 0; i < nearest.size(); ++i)
        text += (i ? ", " : "") + nearest[i];
    return text + "?";
}

const char* GlobalOptionsText() {
    // Laid out in the columns the parser gives a command's own options.
    return R"(Global options (before or after the command):
  -d,--drive TEXT             Drive: index or device as `tvx drives` shows it (default 0)
  --virtual IMAGE[:KIND[:BLOCKS]]
                              Attach a virtual recorder (see `tvx --help`)
  --json                      Machine-readable output
  -q,--quiet                  No progress or success messages
  -v,--verbose                Phases of burns and erases, the drive's full sense data

Exit codes, drives and virtual drives: `tvx --help` and tvx(1).)";
}

void UseCommandFooters(CLI::App& app) {
    for (auto* sub : app.get_subcommands([](CLI::App*) { return true; }))
        sub->footer(GlobalOptionsText());
}

int RefuseUnknownCommand(CLI::App& app, int argc, char** argv) {
    std::vector<std::string> names;
    for (auto* sub : app.get_subcommands([](CLI::App*) { return true; }))
        names.push_back(sub->get_name());
    std::string word = CommandWord(argc, argv);
    if (word.empty() || std::find(names.begin(), names.end(), word) != names.end()) return 0;
    std::fprintf(stderr, "error: %s\nRun 'tvx --help' for the commands and options.\n",
                 UnknownCommandText(word, names).c_str());
    return kExitUsage;
}

std::string VersionText() {
    uint32_t low = 0;
    uint32_t high = TVX_GetVersion(&low);
    return "Torvexin " + std::to_string(high >> 16) + "." + std::to_string(high & 0xFFFF) + "." +
           std::to_string(low >> 16) + "." + std::to_string(low & 0xFFFF);
}

} // namespace tvxcli
