// The sRGB ICC profile (version 2) that archival files name as the output
// intent of their device colours; made with lcms2 when the engine is built.
#pragma once

#include <cstdint>
#include <span>

namespace quorvex {

std::span<const uint8_t> srgbProfile();

}  // namespace quorvex
