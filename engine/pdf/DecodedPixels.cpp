#include "engine/pdf/DecodedPixels.h"

#include <tiffio.h>

#include <algorithm>
#include <cstring>
#include <span>
#include <vector>

#include "engine/EngineError.h"
#include "engine/pdf/ImageXObject.h"
#include "engine/pdf/SampleFormats.h"
#include "engine/pdf/SampleRoutes.h"
#include "engine/pdf/StreamSink.h"
#include "engine/tiff/TiffDocument.h"

namespace quorvex {
namespace {

constexpr uint16_t kCompressionOldJpeg = 6;

uint64_t checkedProduct(uint64_t a, uint64_t b) {
    if (a != 0 && b > kMaxBufferBytes / a) {
        throw EngineFailure(kAllocationFailure, "page too large: its buffers would pass " +
                                                    std::to_string(kMaxBufferBytes) + " bytes");
    }
    return a * b;
}

uint64_t packedBytes(uint64_t samples, uint64_t bits) {
    return (samples * bits + 7) / 8;
}

int componentsOf(DecodedColour colour) {
    switch (colour) {
        case DecodedColour::Rgb:
        case DecodedColour::Lab:
            return 3;
        case DecodedColour::Cmyk:
            return 4;
        default:
            return 1;
    }
}

bool isSupportedDepth(uint16_t bits) {
    return bits == 1 || bits == 2 || bits == 4 || bits == 8 || bits == 16;
}

uint32_t readSample(const uint8_t* row, uint64_t index, uint16_t bits) {
    switch (bits) {
        case 8:
            return row[index];
        case 16: {
            uint16_t value = 0;
            std::memcpy(&value, row + index * 2, 2);  // libtiff gives native byte order
            return value;
        }
        default: {
            const uint64_t bit = index * bits;
            const unsigned shift = 8U - bits - static_cast<unsigned>(bit & 7U);
            return (row[bit >> 3] >> shift) & ((1U << bits) - 1U);
        }
    }
}

// Packs samples most significant bit first; 16-bit samples big-endian, as
// PDF wants them.
class RowPacker {
  public:
    RowPacker(uint8_t* row, int bits) : row_(row), bits_(bits) {}
    void put(uint32_t value) {
        if (bits_ == 8) {
            row_[at_++] = static_cast<uint8_t>(value);
        } else if (bits_ == 16) {
            row_[at_++] = static_cast<uint8_t>(value >> 8);
            row_[at_++] = static_cast<uint8_t>(value);
        } else {
            const unsigned shift = 8U - static_cast<unsigned>(bits_) - bitInByte_;
            if (bitInByte_ == 0)
                row_[at_] = 0;
            row_[at_] = static_cast<uint8_t>(row_[at_] | (value << shift));
            bitInByte_ += static_cast<unsigned>(bits_);
            if (bitInByte_ == 8) {
                bitInByte_ = 0;
                ++at_;
            }
        }
    }

  private:
    uint8_t* row_;
    int bits_;
    std::size_t at_ = 0;
    unsigned bitInByte_ = 0;
};

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

// Decodes the page band by band (a strip's or a row of tiles' worth of rows)
// and hands out its rows in stored order, one buffer per plane.
class StoredRows {
  public:
    StoredRows(TiffDocument& document, const DecodedLayout& layout)
        : tiff_(document.tiff.get()),
          width_(document.imageWidth),
          height_(document.imageLength),
          bits_(layout.sourceBits),
          planes_(layout.separatePlanes ? layout.samplesPerPixel : 1),
          samplesPerPlaneRow_(layout.separatePlanes ? 1 : layout.samplesPerPixel),
          tiled_(layout.tiled) {
        planeRowBytes_ = packedBytes(uint64_t{width_} * samplesPerPlaneRow_, bits_);
        if (tiled_) {
            TIFFGetField(tiff_, TIFFTAG_TILEWIDTH, &tileWidth_);
            TIFFGetField(tiff_, TIFFTAG_TILELENGTH, &bandRows_);
            if (tileWidth_ == 0 || bandRows_ == 0) {
                throw EngineFailure(kImageObjectFailure, "the page's tiles have no size");
            }
            const tmsize_t tileSize = TIFFTileSize(tiff_);
            if (tileSize <= 0)
                throw EngineFailure(kImageObjectFailure, "the page's tiles have no size");
            tile_.resize(
                static_cast<std::size_t>(checkedProduct(1, static_cast<uint64_t>(tileSize))));
        } else {
            TIFFGetFieldDefaulted(tiff_, TIFFTAG_ROWSPERSTRIP, &bandRows_);
        }
        bandRows_ = std::clamp<uint32_t>(bandRows_, 1, std::max<uint32_t>(height_, 1));
        const uint64_t bandBytes = checkedProduct(checkedProduct(planes_, bandRows_),
                                                  std::max<uint64_t>(planeRowBytes_, 1));
        band_.resize(static_cast<std::size_t>(bandBytes));
    }

    uint32_t bandRows() const { return bandRows_; }

    // Decodes the band that starts at `top`; false when libtiff cannot.
    bool read(uint32_t top) {
        const uint32_t rows = std::min(bandRows_, height_ - top);
        for (uint16_t plane = 0; plane < planes_; ++plane) {
            if (!(tiled_ ? readTiles(top, rows, plane) : readStrip(top, rows, plane)))
                return false;
        }
        return true;
    }

    const uint8_t* row(uint16_t plane, uint32_t rowInBand) const {
        return band_.data() + (uint64_t{plane} * bandRows_ + rowInBand) * planeRowBytes_;
    }

  private:
    uint8_t* planeStart(uint16_t plane) {
        return band_.data() + uint64_t{plane} * bandRows_ * planeRowBytes_;
    }

    bool readStrip(uint32_t top, uint32_t rows, uint16_t plane) {
        const uint32_t strip = TIFFComputeStrip(tiff_, top, plane);
        const auto size = static_cast<tmsize_t>(uint64_t{rows} * planeRowBytes_);
        return TIFFReadEncodedStrip(tiff_, strip, planeStart(plane), size) >= 0;
    }

    bool readTiles(uint32_t top, uint32_t rows, uint16_t plane) {
        const uint64_t tileRowBytes = static_cast<uint64_t>(TIFFTileRowSize64(tiff_));
        const uint64_t bitsPerPixel = uint64_t{samplesPerPlaneRow_} * bits_;
        for (uint32_t left = 0; left < width_; left += tileWidth_) {
            const uint32_t tile = TIFFComputeTile(tiff_, left, top, 0, plane);
            if (TIFFReadEncodedTile(tiff_, tile, tile_.data(),
                                    static_cast<tmsize_t>(tile_.size())) < 0) {
                return false;
            }
            const uint64_t columns = std::min(tileWidth_, width_ - left);
            for (uint32_t r = 0; r < rows; ++r) {
                copyBits(tile_.data() + r * tileRowBytes, planeStart(plane) + r * planeRowBytes_,
                         left * bitsPerPixel, columns * bitsPerPixel);
            }
        }
        return true;
    }

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

// Turns stored rows into the layout's output rows.
class RowConverter {
  public:
    RowConverter(const TiffDocument& document, const DecodedLayout& layout)
        : layout_(layout), width_(document.imageWidth) {
        if (layout.paletteToRgb) {
            uint16_t* red = nullptr;
            uint16_t* green = nullptr;
            uint16_t* blue = nullptr;
            if (!TIFFGetField(document.tiff.get(), TIFFTAG_COLORMAP, &red, &green, &blue)) {
                throw EngineFailure(kImageObjectFailure, "the palette page has no colour map");
            }
            const std::size_t entries = std::size_t{1} << layout.sourceBits;
            map_[0].assign(red, red + entries);
            map_[1].assign(green, green + entries);
            map_[2].assign(blue, blue + entries);
        }
        outputComponents_ = layout.paletteToRgb ? 3 : componentsOf(layout.colour);
        rowBytes_ = packedBytes(uint64_t{width_} * outputComponents_,
                                static_cast<uint64_t>(layout.bitsPerComponent));
        // Rows already in the output's form: one plane, every sample kept,
        // up to 8 bits (16-bit samples must change byte order).
        copiesRowsAsStored_ = !layout.separatePlanes && !layout.paletteToRgb &&
                              !layout.premultiply && layout.colour != DecodedColour::Lab &&
                              layout.sourceBits <= 8 &&
                              layout.samplesPerPixel == outputComponents_;
    }

    uint64_t rowBytes() const { return rowBytes_; }

    void convert(const StoredRows& rows, uint32_t rowInBand, uint8_t* out) const {
        if (copiesRowsAsStored_) {
            std::memcpy(out, rows.row(0, rowInBand), rowBytes_);
            return;
        }
        RowPacker packer(out, layout_.bitsPerComponent);
        const uint16_t bits = layout_.sourceBits;
        const uint16_t spp = layout_.samplesPerPixel;
        const auto sample = [&](uint32_t x, uint16_t c) {
            return layout_.separatePlanes
                       ? readSample(rows.row(c, rowInBand), x, bits)
                       : readSample(rows.row(0, rowInBand), uint64_t{x} * spp + c, bits);
        };
        for (uint32_t x = 0; x < width_; ++x) {
            if (layout_.paletteToRgb) {
                const uint32_t index = sample(x, 0);
                for (const auto& channel : map_)
                    packer.put(channel[index]);
            } else if (layout_.colour == DecodedColour::Lab) {
                // a* and b* are stored signed; the PDF range maps 0..255 to -128..127.
                packer.put(sample(x, 0));
                packer.put(sample(x, 1) ^ 0x80U);
                packer.put(sample(x, 2) ^ 0x80U);
            } else if (layout_.premultiply) {
                const uint32_t alpha = sample(x, layout_.colourSamples);
                const uint32_t full = (1U << bits) - 1U;
                for (uint16_t c = 0; c < outputComponents_; ++c) {
                    packer.put(
                        static_cast<uint32_t>((uint64_t{sample(x, c)} * alpha + full / 2) / full));
                }
            } else {
                for (uint16_t c = 0; c < outputComponents_; ++c)
                    packer.put(sample(x, c));
            }
        }
    }

  private:
    const DecodedLayout& layout_;
    uint32_t width_;
    uint16_t outputComponents_ = 1;
    uint64_t rowBytes_ = 0;
    bool copiesRowsAsStored_ = false;
    std::vector<uint16_t> map_[3];
};

std::string labColourSpace(const TiffDocument& document) {
    float* white = nullptr;
    double x = 0.3127;  // D65, TIFF's default white point
    double y = 0.3290;
    if (TIFFGetField(document.tiff.get(), TIFFTAG_WHITEPOINT, &white) && white != nullptr &&
        white[1] > 0) {
        x = white[0];
        y = white[1];
    }
    char text[160];
    std::snprintf(text, sizeof text,
                  "/ColorSpace [ /Lab << /WhitePoint [ %.4f 1 %.4f ] /Range [ -128 127 -128 127 ] "
                  ">> ]\r",
                  x / y, (1.0 - x - y) / y);
    return text;
}

}  // namespace

std::optional<DecodedLayout> decodedLayoutFor(const TiffDocument& document) {
    TIFF* tiff = document.tiff.get();
    uint16_t sampleFormat = SAMPLEFORMAT_UINT;
    TIFFGetField(tiff, TIFFTAG_SAMPLEFORMAT, &sampleFormat);
    if ((sampleFormat != SAMPLEFORMAT_UINT && sampleFormat != SAMPLEFORMAT_VOID) ||
        document.compression == kCompressionOldJpeg) {
        return std::nullopt;
    }
    DecodedLayout layout;
    layout.sourceBits = document.bitsPerSample == 0 ? 1 : document.bitsPerSample;
    layout.samplesPerPixel = std::max<uint16_t>(document.samplesPerPixel, 1);
    uint16_t planar = PLANARCONFIG_CONTIG;
    TIFFGetField(tiff, TIFFTAG_PLANARCONFIG, &planar);
    layout.separatePlanes = planar == PLANARCONFIG_SEPARATE && layout.samplesPerPixel > 1;
    layout.tiled = TIFFIsTiled(tiff) != 0;
    uint16_t extraCount = 0;
    uint16_t* extraKinds = nullptr;
    TIFFGetField(tiff, TIFFTAG_EXTRASAMPLES, &extraCount, &extraKinds);
    const int colourSamples = layout.samplesPerPixel - extraCount;
    layout.colourSamples = static_cast<uint16_t>(std::max(colourSamples, 1));
    const uint16_t bits = layout.sourceBits;
    layout.bitsPerComponent = bits;
    if (!isSupportedDepth(bits) || colourSamples < 1)
        return std::nullopt;

    switch (document.photometric) {
        case PHOTOMETRIC_MINISWHITE:
        case PHOTOMETRIC_MINISBLACK:
            layout.colour = DecodedColour::Gray;
            layout.minIsWhite = document.photometric == PHOTOMETRIC_MINISWHITE;
            return layout;
        case PHOTOMETRIC_PALETTE:
            layout.colour = bits == 16 ? DecodedColour::Rgb : DecodedColour::Indexed;
            layout.paletteToRgb = bits == 16;
            return layout;
        case PHOTOMETRIC_RGB:
            if (colourSamples < 3)
                return std::nullopt;
            layout.colour = DecodedColour::Rgb;
            layout.premultiply = extraCount > 0 && extraKinds != nullptr &&
                                 extraKinds[0] == EXTRASAMPLE_UNASSALPHA && colourSamples == 3;
            return layout;
        case PHOTOMETRIC_SEPARATED: {
            uint16_t inkSet = INKSET_CMYK;
            TIFFGetField(tiff, TIFFTAG_INKSET, &inkSet);
            if (inkSet != INKSET_CMYK || colourSamples != 4)
                return std::nullopt;
            layout.colour = DecodedColour::Cmyk;
            return layout;
        }
        case PHOTOMETRIC_YCBCR:
            if (document.compression != COMPRESSION_JPEG || bits != 8 || layout.separatePlanes) {
                return std::nullopt;
            }
            layout.colour = DecodedColour::Rgb;
            layout.jpegAsRgb = true;
            return layout;
        case PHOTOMETRIC_CIELAB:
            if (bits != 8 || colourSamples < 3)
                return std::nullopt;
            layout.colour = DecodedColour::Lab;
            return layout;
        default:
            return std::nullopt;
    }
}

std::string decodedImageLines(const DecodedLayout& layout, const TiffDocument& document) {
    std::string lines = "/Filter /FlateDecode\r";
    if (layout.minIsWhite)
        lines += "/Decode [ 1 0 ]\r";
    switch (layout.colour) {
        case DecodedColour::Gray:
            return lines + "/ColorSpace /DeviceGray\r";
        case DecodedColour::Rgb:
            return lines + "/ColorSpace /DeviceRGB\r";
        case DecodedColour::Cmyk:
            return lines + "/ColorSpace /DeviceCMYK\r";
        case DecodedColour::Indexed:
            return lines + indexedColourSpace(document);
        case DecodedColour::Lab:
            return lines + labColourSpace(document);
    }
    return lines;
}

void writeDecodedPixels(TiffDocument& document, const DecodedLayout& layout, SampleSink& sink,
                        const std::atomic<bool>* cancel) {
    if (layout.jpegAsRgb) {
        TIFFSetField(document.tiff.get(), TIFFTAG_JPEGCOLORMODE, JPEGCOLORMODE_RGB);
    }
    StoredRows rows(document, layout);
    const RowConverter converter(document, layout);
    std::vector<uint8_t> out(static_cast<std::size_t>(checkedProduct(1, converter.rowBytes())));
    const uint32_t height = document.imageLength;
    for (uint32_t top = 0; top < height; top += rows.bandRows()) {
        throwIfCancelled(cancel);
        // A band that cannot be decoded ends the page's data there, so a
        // damaged scan still shows what could be read.
        if (!rows.read(top))
            return;
        const uint32_t count = std::min(rows.bandRows(), height - top);
        for (uint32_t r = 0; r < count; ++r) {
            converter.convert(rows, r, out.data());
            sink.append(out.data(), out.size());
        }
    }
}

namespace {

// Hands each stored row's planes to `use`; a band that cannot be decoded ends
// the page there, as on the decoded path.
template <typename Use>
void forEachStoredRow(TiffDocument& document, const DecodedLayout& layout,
                      const std::atomic<bool>* cancel, Use&& use) {
    StoredRows rows(document, layout);
    std::vector<const uint8_t*> planes(layout.separatePlanes ? layout.samplesPerPixel : 1);
    const uint32_t height = document.imageLength;
    for (uint32_t top = 0; top < height; top += rows.bandRows()) {
        throwIfCancelled(cancel);
        if (!rows.read(top))
            return;
        const uint32_t count = std::min(rows.bandRows(), height - top);
        for (uint32_t r = 0; r < count; ++r) {
            for (std::size_t plane = 0; plane < planes.size(); ++plane)
                planes[plane] = rows.row(static_cast<uint16_t>(plane), r);
            use(std::span<const uint8_t* const>(planes));
        }
    }
}

}  // namespace

// A float page without SMin/SMaxSampleValue is read for its range first;
// KeptRows decides whether its rows are kept or decoded again.
void writeMappedSamples(TiffDocument& document, SampleFormatPlan plan, SampleSink& sink,
                        const std::atomic<bool>* cancel) {
    const DecodedLayout stored = storedLayoutOf(plan);
    const uint32_t width = document.imageWidth;
    RowSamples samples(plan, width);
    KeptRows kept(plan, width, document.imageLength);
    const bool keep = plan.rangeFromPage && kept.keeping();
    if (plan.rangeFromPage) {
        SampleRange range(plan);
        forEachStoredRow(document, stored, cancel, [&](std::span<const uint8_t* const> planes) {
            range.observe(samples.read(planes));
            if (keep)
                kept.keep(planes);
        });
        range.applyTo(plan);
    }
    const SampleMapper mapper(plan, document, width);
    std::vector<uint8_t> out(mapper.rowBytes());
    const auto write = [&](std::span<const uint8_t* const> planes) {
        mapper.convert(samples.read(planes), out.data());
        sink.append(out.data(), out.size());
    };
    if (!keep) {
        forEachStoredRow(document, stored, cancel, write);
        return;
    }
    for (uint32_t y = 0; y < kept.rows(); ++y) {
        if (y % 256 == 0)
            throwIfCancelled(cancel);
        write(kept.row(y));
    }
}

}  // namespace quorvex
