// Joins the JPEG data of a TIFF page (Compression 7) into one complete JPEG
// stream a PDF reader decodes with /DCTDecode: the shared JPEGTables go in
// front, and the strips of a page stored in several become one scan with a
// restart marker at each strip boundary.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace quorvex {

// What the page's tags say the JPEG data must hold.
struct JpegPageShape {
    uint32_t width = 0;
    uint32_t height = 0;
    uint16_t components = 0;  // 1 (grey), 3 (RGB or YCbCr) or 4 (CMYK)
    uint32_t rowsPerStrip = 0;
};

// Whether strips may be joined where readers then draw the rows on either
// side of a boundary differently from libtiff: with chroma sampled down
// vertically, one scan smooths the chroma across the boundary, where libtiff,
// decoding each strip on its own, repeats each strip's edge.
enum class StripSeams { Exact, Smoothed };

// The joined stream, or nullopt when anything about the data is doubtful
// (not 8-bit Huffman-coded JPEG, sizes or components that disagree with the
// tags, an Adobe colour marker on other than CMYK data, strips that cannot be
// joined without re-coding, or only with smoothed seams when `seams` is
// Exact): the page is then decoded instead. `tables` may be empty.
std::optional<std::vector<uint8_t>> joinJpegStrips(
    std::span<const uint8_t> tables, const std::vector<std::span<const uint8_t>>& strips,
    const JpegPageShape& shape, StripSeams seams);

}  // namespace quorvex
