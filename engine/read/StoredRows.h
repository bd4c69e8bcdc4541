// A page's samples as libtiff decodes them, band by band (a strip's or a row
// of tiles' worth of rows), handed out as rows in stored order, one buffer per
// plane: what the decoded readers convert from.
#pragma once

#include <tiffio.h>

#include <algorithm>
#include <cstdint>
#include <vector>

#include "engine/read/PaperSamples.h"
#include "engine/read/TiffHandle.h"

namespace quorvex {

class TiffDocument;

// Bytes of `samples` samples of `bits` bits, packed and padded to a byte.
inline uint64_t packedBytes(uint64_t samples, uint64_t bits) {
    return (samples * bits + 7) / 8;
}

// How many rows from the top of a strip or tile that failed as a whole
// libtiff decodes: it is asked for fewer rows until it decodes them.
// `decode(rows)` decodes that many rows into the piece's buffer.
template <typename Decode>
uint32_t decodableRows(uint32_t rows, const TiffDiagnostics& diagnostics, Decode&& decode) {
    // The tries repeat what the failed read said.
    const TiffDiagnostics::Muted quiet(diagnostics);
    uint32_t good = 0;
    uint32_t bad = rows;
    bool lastTryGood = true;
    while (bad - good > 1) {
        const uint32_t middle = good + (bad - good) / 2;
        lastTryGood = decode(middle);
        (lastTryGood ? good : bad) = middle;
    }
    if (good > 0 && !lastTryGood)
        decode(good);
    return good;
}

class StoredRows {
  public:
    // Sized for the document's selected page; fails the page (ConversionError)
    // when its bands would pass the buffer limit.
    explicit StoredRows(const TiffDocument& document);

    uint32_t bandRows() const { return bandRows_; }
    uint64_t planeRowBytes() const { return planeRowBytes_; }

    // Decodes the band that starts at `top` and returns how many of its rows,
    // from the top, every strip and tile decoded; the rows below are blank
    // paper (PaperSamples.h). Every strip and tile is tried whatever the
    // others did. Fax rows are the exception: libtiff's decoders resume
    // after a bad line and say which lines they lost, so a fax band keeps
    // everything they drew and the rest stays paper.
    uint32_t read(uint32_t top);

    const uint8_t* row(uint16_t plane, uint32_t rowInBand) const {
        return band_.data() + (uint64_t{plane} * bandRows_ + rowInBand) * planeRowBytes_;
    }

  private:
    uint8_t* planeStart(uint16_t plane) {
        return band_.data() + uint64_t{plane} * bandRows_ * planeRowBytes_;
    }
    bool drawsPlane(uint16_t plane) const;
    uint32_t readStrip(uint32_t top, uint32_t rows, uint16_t plane);
    uint32_t readTiles(uint32_t top, uint32_t rows, uint16_t plane);
    uint32_t readTile(uint32_t tile, uint16_t plane);
    void copyTile(uint32_t left, uint32_t rows, uint16_t plane);

    TIFF* tiff_;
    const TiffDiagnostics& diagnostics_;
    PaperSamples paper_;
    bool fax_;
    uint16_t colourSamples_;
    int alphaSample_;
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
