// The commands that look at a disc or a source without writing anything: ls and check.
#pragma once

#include "commands.h"

#include <CLI/CLI.hpp>

#include <string>

namespace tvxcli {

class ViewCommands {
  public:
    void add(CLI::App& app);
    // The exit code of the one that was given, or -1 when neither was.
    int run(const Options& options);

  private:
    CLI::App* ls_ = nullptr;
    CLI::App* check_ = nullptr;
    std::string discPath_;
    bool longListing_ = false;
    std::string videoTs_, dvdVideo_, data_;
    bool files_ = false;
    BurnRequest request_;
};

} // namespace tvxcli
