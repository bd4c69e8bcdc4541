// One stored integer sample of a decoded row, as libtiff hands rows out:
// samples of whole bytes in host order (libtiff swaps them), narrower ones
// packed most significant bit first. Inline: the readers call it per sample.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>

namespace quorvex {

// Up to 32 bits starting at bit `bit`, most significant first.
inline uint32_t packedBits(const uint8_t* row, uint64_t bit, unsigned bits) {
    const uint8_t* at = row + (bit >> 3);
    const unsigned offset = static_cast<unsigned>(bit & 7U);
    const unsigned bytes = (offset + bits + 7) / 8;
    uint64_t window = 0;
    for (unsigned i = 0; i < bytes; ++i)
        window = (window << 8) | at[i];
    const uint64_t mask = (uint64_t{1} << bits) - 1;
    return static_cast<uint32_t>((window >> (bytes * 8 - offset - bits)) & mask);
}

// libtiff swaps 16, 24, 32 and 64-bit samples into host order.
inline uint32_t hostBits(const uint8_t* at, unsigned bits) {
    switch (bits) {
        case 8:
            return at[0];
        case 16: {
            uint16_t value = 0;
            std::memcpy(&value, at, 2);
            return value;
        }
        case 24:
            if constexpr (std::endian::native == std::endian::little)
                return at[0] | (uint32_t{at[1]} << 8) | (uint32_t{at[2]} << 16);
            else
                return (uint32_t{at[0]} << 16) | (uint32_t{at[1]} << 8) | at[2];
        default: {
            uint32_t value = 0;
            std::memcpy(&value, at, 4);
            return value;
        }
    }
}

// Sample `index` of a row of `bits`-bit samples (up to 32).
inline uint32_t storedSample(const uint8_t* row, uint64_t index, unsigned bits) {
    return bits % 8 == 0 ? hostBits(row + index * (bits / 8), bits)
                         : packedBits(row, index * bits, bits);
}

}  // namespace quorvex
