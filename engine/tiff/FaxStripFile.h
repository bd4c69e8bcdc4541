// A fax page's coded strip wrapped in a small TIFF file of its own, in
// memory: a second libtiff handle, on another thread, can then decode the
// page without touching the file it came from.
#pragma once

#include <cstdint>
#include <vector>

#include "engine/tiff/PageLayout.h"

namespace quorvex {

// A classic little-endian TIFF holding one page of `page`'s size, compression
// (Group 3 or 4, with its Group3Options) and photometric, whose single strip
// is `coded`, most significant bit first. Empty when `coded` is too long for
// a classic TIFF.
std::vector<uint8_t> faxStripFile(const PageLayout& page, const std::vector<uint8_t>& coded);

}  // namespace quorvex
