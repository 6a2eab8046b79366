// A second, independent reading of a disc image: libudfread, which shares no code with the
// library's reader, over the same bytes in memory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

struct udfread;

class SecondReader {
  public:
    explicit SecondReader(const std::vector<uint8_t>& image);
    ~SecondReader();
    SecondReader(const SecondReader&) = delete;
    SecondReader& operator=(const SecondReader&) = delete;

    bool ok() const { return udf_ != nullptr; }
    // The whole file at path, or nothing when it cannot be opened, is larger than limit, or
    // cannot be read to its end.
    std::optional<std::string> read(const std::string& path, uint64_t limit);

  private:
    struct Input;
    std::vector<uint8_t> image_;
    Input* input_ = nullptr;
    udfread* udf_ = nullptr;
};
