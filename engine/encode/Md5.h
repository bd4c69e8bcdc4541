// The MD5 digest (RFC 1321): what PDF readers expect a file identifier to be
// made with. Not used for anything that needs to resist an attacker.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace quorvex {

class Md5 {
  public:
    using Digest = std::array<uint8_t, 16>;

    void update(const void* data, std::size_t size);
    void update(std::string_view text) { update(text.data(), text.size()); }
    // The digest of everything given; the object is spent afterwards.
    Digest finish();

  private:
    void consumeBlock(const uint8_t* block);

    std::array<uint32_t, 4> state_{0x67452301, 0xefcdab89, 0x98badcfe, 0x10325476};
    std::array<uint8_t, 64> pending_{};
    std::size_t pendingSize_ = 0;
    uint64_t totalBytes_ = 0;
};

}  // namespace quorvex
