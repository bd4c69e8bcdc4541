// A pixel laid over white paper by its alpha: the one rule every reader that
// meets alpha follows (stored integers at any depth, unit values of mapped
// sample formats, libtiff's RGBA pixels). Values run from 0 to `full`, the
// alpha too; integers round to the nearest level.
#pragma once

#include <algorithm>
#include <type_traits>

namespace quorvex {

template <typename Value>
constexpr Value roundingHalfOf(Value full) {
    if constexpr (std::is_integral_v<Value>)
        return full / 2;
    else
        return Value{0};
}

// A colour whose largest value is white. Colours stored multiplied by alpha
// (associated) already are the pixel's share: the paper adds the rest.
template <typename Value>
Value colourOverWhite(Value colour, Value alpha, Value full, bool associated) {
    // Summed before the subtraction: unsigned values never go below zero.
    if (associated)
        return std::min(colour + full - alpha, full);
    return std::min((colour * alpha + full * full - full * alpha + roundingHalfOf(full)) / full,
                    full);
}

// Ink, where 0 is the bare paper (min-is-white grey, CMYK): what is not
// opaque carries less of it.
template <typename Value>
Value inkOverWhite(Value ink, Value alpha, Value full, bool associated) {
    if (associated)
        return ink;
    return (ink * alpha + roundingHalfOf(full)) / full;
}

}  // namespace quorvex
