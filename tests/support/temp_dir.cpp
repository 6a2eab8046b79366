#include "support/temp_dir.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>

namespace fs = std::filesystem;

namespace tvx::test {

#if defined(_WIN32)
// No mkdtemp here: a random name, made with a create that fails when it exists.
TempDir::TempDir() {
    std::random_device random;
    for (int attempt = 0; attempt < 100; ++attempt) {
        fs::path dir = fs::temp_directory_path() / ("tvx-test-" + std::to_string(random()));
        std::error_code ec;
        if (fs::create_directory(dir, ec)) {
            path_ = dir.generic_string();
            return;
        }
    }
    throw std::runtime_error("no temporary folder");
}
#else
TempDir::TempDir() {
    std::string pattern = (fs::temp_directory_path() / "tvx-test-XXXXXX").string();
    if (!::mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
}
#endif

TempDir::~TempDir() {
    std::error_code ec;
    fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ec);
    fs::remove_all(path_, ec);
}

std::string TempDir::file(const std::string& relative) const { return path_ + "/" + relative; }

std::string TempDir::write(const std::string& relative, const std::string& content) const {
    std::string full = file(relative);
    fs::create_directories(fs::path(full).parent_path());
    std::ofstream out(full, std::ios::binary);
    out << content;
    return full;
}

std::string TempDir::mkdir(const std::string& relative) const {
    std::string full = file(relative);
    fs::create_directories(full);
    return full;
}

std::string ReadWholeFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

ScopedSimHost::ScopedSimHost() { setHost(&host_); }
ScopedSimHost::~ScopedSimHost() { setHost(nullptr); }

} // namespace tvx::test
