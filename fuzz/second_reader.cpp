#include "second_reader.h"

#include <udfread/blockinput.h>
#include <udfread/udfread.h>

#include <algorithm>
#include <cstring>

namespace {
constexpr size_t kBlock = 2048;
} // namespace

// The block input comes first, so libudfread's pointer to it is a pointer to the whole.
struct SecondReader::Input {
    udfread_block_input base;
    const std::vector<uint8_t>* image;

    static int read(udfread_block_input* input, uint32_t lba, void* buffer, uint32_t blocks, int) {
        const auto* self = reinterpret_cast<const Input*>(input);
        const uint64_t total = self->image->size() / kBlock;
        if (lba >= total) return -1;
        const uint32_t n = static_cast<uint32_t>(std::min<uint64_t>(blocks, total - lba));
        std::memcpy(buffer, self->image->data() + static_cast<size_t>(lba) * kBlock,
                    static_cast<size_t>(n) * kBlock);
        return static_cast<int>(n);
    }
    static uint32_t size(udfread_block_input* input) {
        return static_cast<uint32_t>(reinterpret_cast<const Input*>(input)->image->size() / kBlock);
    }
};

SecondReader::SecondReader(const std::vector<uint8_t>& image) : image_(image) {
    input_ = new Input{{nullptr, &Input::read, &Input::size}, &image_};
    udf_ = udfread_init();
    if (udf_ && udfread_open_input(udf_, &input_->base) < 0) {
        udfread_close(udf_);
        udf_ = nullptr;
    }
}

SecondReader::~SecondReader() {
    if (udf_) udfread_close(udf_);
    delete input_;
}

std::optional<std::string> SecondReader::read(const std::string& path, uint64_t limit) {
    if (!udf_) return std::nullopt;
    UDFFILE* file = udfread_file_open(udf_, path.c_str());
    if (!file) return std::nullopt;
    const int64_t size = udfread_file_size(file);
    std::optional<std::string> out;
    if (size >= 0 && static_cast<uint64_t>(size) <= limit) {
        std::string data(static_cast<size_t>(size), '\0');
        size_t got = 0;
        while (got < data.size()) {
            const ssize_t n = udfread_file_read(file, data.data() + got, data.size() - got);
            if (n <= 0) break;
            got += static_cast<size_t>(n);
        }
        if (got == data.size()) out = std::move(data);
    }
    udfread_file_close(file);
    return out;
}
