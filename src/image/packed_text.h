// A byte string behind one pointer, its length stored with its bytes. For node fields that most
// nodes leave empty (a recorded name that differs from the host name, a host path kept only at
// the top of a scan): 8 bytes each where a std::string takes 32.
#pragma once

#include <cstdint>
#include <cstring>
#include <memory>
#include <ostream>
#include <string_view>

namespace tvx {

class PackedText {
  public:
    PackedText() = default;
    PackedText(const PackedText&) = delete;
    PackedText& operator=(const PackedText&) = delete;

    // May throw std::bad_alloc, and then keeps what it held. Empty text holds no memory.
    void assign(const char* data, size_t length) {
        if (length == 0) {
            bytes_.reset();
            return;
        }
        uint32_t stored = static_cast<uint32_t>(length);
        std::unique_ptr<char[]> bytes(new char[sizeof stored + length]);
        std::memcpy(bytes.get(), &stored, sizeof stored);
        std::memcpy(bytes.get() + sizeof stored, data, length);
        bytes_ = std::move(bytes);
    }
    PackedText& operator=(std::string_view text) {
        assign(text.data(), text.size());
        return *this;
    }

    bool empty() const { return !bytes_; }
    size_t size() const {
        uint32_t stored = 0;
        if (bytes_) std::memcpy(&stored, bytes_.get(), sizeof stored);
        return stored;
    }
    const char* data() const { return bytes_ ? bytes_.get() + sizeof(uint32_t) : ""; }
    operator std::string_view() const { return {data(), size()}; }

    friend bool operator==(const PackedText& a, std::string_view b) {
        return std::string_view(a) == b;
    }
    friend std::ostream& operator<<(std::ostream& out, const PackedText& text) {
        return out << std::string_view(text);
    }

  private:
    std::unique_ptr<char[]> bytes_;
};

} // namespace tvx
