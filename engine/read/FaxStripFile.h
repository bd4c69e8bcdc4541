// A fax page's coded strips wrapped in a small TIFF file of their own, in
// memory: a second libtiff handle, on another thread, can then decode the
// page without touching the file it came from.
#pragma once

#include <cstdint>
#include <vector>

#include "engine/read/PageLayout.h"

namespace quorvex {

// The coded strips of one fax page, each most significant bit first.
using CodedStrips = std::vector<std::vector<uint8_t>>;

// A classic little-endian TIFF holding one page of `page`'s size, compression
// (Group 3 or 4, with its Group3Options), photometric and rows per strip,
// whose strips are `strips`. Empty when they are too long for a classic TIFF.
std::vector<uint8_t> faxStripFile(const PageLayout& page, const CodedStrips& strips);

}  // namespace quorvex
