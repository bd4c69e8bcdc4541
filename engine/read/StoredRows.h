// A page's samples as libtiff decodes them, band by band (a strip's or a row
// of tiles' worth of rows), handed out as rows in stored order, one buffer per
// plane: what the decoded readers convert from.
#pragma once

#include <tiffio.h>

#include <algorithm>
#include <cstdint>
#include <vector>

namespace quorvex {

class TiffDocument;

// Bytes of `samples` samples of `bits` bits, packed and padded to a byte.
inline uint64_t packedBytes(uint64_t samples, uint64_t bits) {
    return (samples * bits + 7) / 8;
}

class StoredRows {
  public:
    // Sized for the document's selected page; fails the page (ConversionError)
    // when its bands would pass the buffer limit.
    explicit StoredRows(const TiffDocument& document);

    uint32_t bandRows() const { return bandRows_; }
    uint64_t planeRowBytes() const { return planeRowBytes_; }

    // Decodes the band that starts at `top`; false when libtiff cannot (the
    // rows it got to are decoded, the others keep what the band held).
    bool read(uint32_t top);
    // Sets every byte of the band, e.g. to paper before a read that may stop
    // part-way.
    void fill(uint8_t value) { std::fill(band_.begin(), band_.end(), value); }

    const uint8_t* row(uint16_t plane, uint32_t rowInBand) const {
        return band_.data() + (uint64_t{plane} * bandRows_ + rowInBand) * planeRowBytes_;
    }

  private:
    uint8_t* planeStart(uint16_t plane) {
        return band_.data() + uint64_t{plane} * bandRows_ * planeRowBytes_;
    }
    bool readStrip(uint32_t top, uint32_t rows, uint16_t plane);
    bool readTiles(uint32_t top, uint32_t rows, uint16_t plane);

    TIFF* tiff_;
    uint32_t width_;
    uint32_t height_;
    uint16_t bits_;
    uint16_t planes_;
    uint16_t samplesPerPlaneRow_;
    bool tiled_;
    uint64_t planeRowBytes_ = 0;
    uint32_t bandRows_ = 0;
    uint32_t tileWidth_ = 0;
    std::vector<uint8_t> band_;
    std::vector<uint8_t> tile_;
};

}  // namespace quorvex
