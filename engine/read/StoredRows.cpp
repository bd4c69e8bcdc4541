#include "engine/read/StoredRows.h"

#include <algorithm>
#include <cstring>

#include "engine/EngineError.h"
#include "engine/Limits.h"
#include "engine/read/TiffDocument.h"

namespace quorvex {
namespace {

void copyBits(const uint8_t* from, uint8_t* to, uint64_t toBit, uint64_t bits) {
    if ((toBit & 7U) == 0 && (bits & 7U) == 0) {
        std::memcpy(to + (toBit >> 3), from, bits >> 3);
        return;
    }
    for (uint64_t i = 0; i < bits; ++i) {
        const int bit = (from[i >> 3] >> (7 - (i & 7U))) & 1;
        const uint64_t target = toBit + i;
        const auto mask = static_cast<uint8_t>(0x80U >> (target & 7U));
        to[target >> 3] =
            static_cast<uint8_t>(bit ? (to[target >> 3] | mask) : (to[target >> 3] & ~mask));
    }
}

}  // namespace

StoredRows::StoredRows(const TiffDocument& document)
    : tiff_(document.handle()),
      diagnostics_(document.diagnostics()),
      paper_(document),
      fax_(document.page().isFax()),
      colourSamples_(document.page().colourSamples()),
      alphaSample_(document.page().alphaSample()),
      width_(document.page().width),
      height_(document.page().height),
      bits_(document.page().bitsPerSample == 0 ? 1 : document.page().bitsPerSample),
      planes_(document.page().separatePlanes ? document.page().samplesPerPixel : 1),
      samplesPerPlaneRow_(document.page().separatePlanes ? 1 : document.page().samplesPerPixel),
      tiled_(document.page().tiled) {
    const PageLayout& page = document.page();
    planeRowBytes_ = packedBytes(uint64_t{width_} * samplesPerPlaneRow_, bits_);
    if (tiled_) {
        tileWidth_ = page.tileWidth;
        bandRows_ = page.tileLength;
        const tmsize_t tileSize = TIFFTileSize(tiff_);
        if (tileWidth_ == 0 || bandRows_ == 0 || tileSize <= 0)
            throw ConversionError::unreadable("the page's tiles have no size");
        tile_ = allocateBuffer(static_cast<uint64_t>(tileSize));
    } else {
        // A missing RowsPerStrip means the whole page is one strip.
        bandRows_ = page.rowsPerStrip == 0 ? height_ : page.rowsPerStrip;
    }
    bandRows_ = std::clamp<uint32_t>(bandRows_, 1, std::max<uint32_t>(height_, 1));
    band_ =
        allocateBuffer(checkedSize({planes_, bandRows_, std::max<uint64_t>(planeRowBytes_, 1)}));
}

// A plane of an extra sample that is not alpha is never drawn: it is not
// read, so a missing or damaged one costs the page nothing.
bool StoredRows::drawsPlane(uint16_t plane) const {
    return planes_ == 1 || plane < colourSamples_ || static_cast<int>(plane) == alphaSample_;
}

uint32_t StoredRows::read(uint32_t top) {
    const uint32_t rows = std::min(bandRows_, height_ - top);
    uint32_t intact = rows;
    for (uint16_t plane = 0; plane < planes_; ++plane) {
        if (!drawsPlane(plane))
            continue;
        if (fax_)
            paper_.fill(planeStart(plane), uint64_t{rows} * planeRowBytes_, width_, plane);
        intact =
            std::min(intact, tiled_ ? readTiles(top, rows, plane) : readStrip(top, rows, plane));
    }
    // A pixel with one plane lost is lost: its other planes are paper too.
    if (planes_ > 1 && intact < rows && !fax_) {
        for (uint16_t plane = 0; plane < planes_; ++plane) {
            paper_.fill(planeStart(plane) + uint64_t{intact} * planeRowBytes_,
                        uint64_t{rows - intact} * planeRowBytes_, width_, plane);
        }
    }
    return intact;
}

uint32_t StoredRows::readStrip(uint32_t top, uint32_t rows, uint16_t plane) {
    const uint32_t strip = TIFFComputeStrip(tiff_, top, plane);
    uint8_t* start = planeStart(plane);
    const auto decode = [&](uint32_t count) {
        return TIFFReadEncodedStrip(tiff_, strip, start,
                                    static_cast<tmsize_t>(uint64_t{count} * planeRowBytes_)) >= 0;
    };
    if (decode(rows))
        return rows;
    if (fax_)
        return 0;
    // Some decoders zero what they could not decode, which is not paper everywhere.
    const uint32_t good = decodableRows(rows, diagnostics_, decode);
    paper_.fill(start + uint64_t{good} * planeRowBytes_, uint64_t{rows - good} * planeRowBytes_,
                width_, plane);
    return good;
}

uint32_t StoredRows::readTiles(uint32_t top, uint32_t rows, uint16_t plane) {
    uint32_t intact = rows;
    for (uint32_t left = 0; left < width_; left += tileWidth_) {
        intact = std::min(intact, readTile(TIFFComputeTile(tiff_, left, top, 0, plane), plane));
        copyTile(left, rows, plane);
    }
    return intact;
}

// Decodes one tile into tile_ and returns how many of its rows, from the
// top, decoded; the rows below are paper.
uint32_t StoredRows::readTile(uint32_t tile, uint16_t plane) {
    const uint64_t tileRowBytes = static_cast<uint64_t>(TIFFTileRowSize64(tiff_));
    const auto decode = [&](uint32_t count) {
        return TIFFReadEncodedTile(tiff_, tile, tile_.data(),
                                   static_cast<tmsize_t>(uint64_t{count} * tileRowBytes)) >= 0;
    };
    if (fax_)
        paper_.fill(tile_.data(), tile_.size(), tileWidth_, plane);
    if (decode(bandRows_))
        return bandRows_;
    if (fax_)
        return 0;
    const uint32_t good = decodableRows(bandRows_, diagnostics_, decode);
    paper_.fill(tile_.data() + good * tileRowBytes, tile_.size() - good * tileRowBytes, tileWidth_,
                plane);
    return good;
}

void StoredRows::copyTile(uint32_t left, uint32_t rows, uint16_t plane) {
    const uint64_t tileRowBytes = static_cast<uint64_t>(TIFFTileRowSize64(tiff_));
    const uint64_t bitsPerPixel = uint64_t{samplesPerPlaneRow_} * bits_;
    const uint64_t columns = std::min(tileWidth_, width_ - left);
    for (uint32_t r = 0; r < rows; ++r) {
        copyBits(tile_.data() + r * tileRowBytes, planeStart(plane) + r * planeRowBytes_,
                 left * bitsPerPixel, columns * bitsPerPixel);
    }
}

}  // namespace quorvex
