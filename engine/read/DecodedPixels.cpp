#include "engine/read/DecodedPixels.h"

#include <tiffio.h>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <span>
#include <vector>

#include "engine/EngineError.h"
#include "engine/Limits.h"
#include "engine/encode/StreamSink.h"
#include "engine/read/AlphaOverWhite.h"
#include "engine/read/PageDamage.h"
#include "engine/read/PaperSamples.h"
#include "engine/read/SampleFormats.h"
#include "engine/read/SampleRoutes.h"
#include "engine/read/StoredRows.h"
#include "engine/read/StoredSample.h"
#include "engine/read/TiffDocument.h"

namespace quorvex {
namespace {

bool isSupportedDepth(uint16_t bits) {
    return bits == 1 || bits == 2 || bits == 4 || bits == 8 || bits == 16;
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

// Lays one pixel's colour over white paper by its alpha, in stored values:
// paper is the largest value, or 0 where the stored values count ink
// (min-is-white grey, CMYK).
class AlphaOverWhite {
  public:
    AlphaOverWhite(AlphaMode mode, uint16_t bits, bool paperIsZero)
        : mode_(mode), full_((uint64_t{1} << bits) - 1), paperIsZero_(paperIsZero) {}

    uint32_t apply(uint32_t colour, uint32_t alpha) const {
        const uint64_t a = std::min<uint64_t>(alpha, full_);
        const bool associated = mode_ == AlphaMode::Associated;
        return static_cast<uint32_t>(paperIsZero_
                                         ? inkOverWhite<uint64_t>(colour, a, full_, associated)
                                         : colourOverWhite<uint64_t>(colour, a, full_, associated));
    }

  private:
    AlphaMode mode_;
    uint64_t full_;
    bool paperIsZero_;
};

// Turns stored rows into the layout's output rows.
class RowConverter {
  public:
    RowConverter(const TiffDocument& document, const DecodedLayout& layout)
        : layout_(layout),
          width_(document.page().width),
          alpha_(
              layout.alpha,
              static_cast<uint16_t>(layout.paletteToRgb ? layout.bitsPerComponent
                                                        : layout.sourceBits),
              !layout.paletteToRgb && (layout.minIsWhite || layout.colour == ColourModel::Cmyk)) {
        if (layout.paletteToRgb)
            loadColourMap(document);
        outputComponents_ = componentsOf(layout.colour);
        rowBytes_ = packedBytes(uint64_t{width_} * outputComponents_,
                                static_cast<uint64_t>(layout.bitsPerComponent));
        // Rows already in the output's form: one plane, every sample kept,
        // up to 8 bits (16-bit samples must change byte order).
        copiesRowsAsStored_ = !layout.separatePlanes && !layout.paletteToRgb &&
                              layout.alpha == AlphaMode::None &&
                              layout.colour != ColourModel::Lab && layout.sourceBits <= 8 &&
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
                       ? storedSample(rows.row(c, rowInBand), x, bits)
                       : storedSample(rows.row(0, rowInBand), uint64_t{x} * spp + c, bits);
        };
        const uint64_t alphaFull = (uint64_t{1} << bits) - 1U;
        const uint64_t outputFull = (uint64_t{1} << layout_.bitsPerComponent) - 1U;
        for (uint32_t x = 0; x < width_; ++x) {
            if (layout_.paletteToRgb) {
                // Colours from the map, the alpha scaled to the output's depth.
                const uint32_t index = std::min<uint32_t>(sample(x, 0), maxIndex_);
                const auto alpha = static_cast<uint32_t>(
                    layout_.alpha == AlphaMode::None
                        ? outputFull
                        : (sample(x, layout_.alphaSample) * outputFull + alphaFull / 2) /
                              alphaFull);
                for (const auto& channel : map_)
                    packer.put(alpha_.apply(channel[index], alpha));
            } else if (layout_.colour == ColourModel::Lab) {
                // a* and b* are stored signed; the PDF range maps 0..255 to -128..127.
                packer.put(sample(x, 0));
                packer.put(sample(x, 1) ^ 0x80U);
                packer.put(sample(x, 2) ^ 0x80U);
            } else if (layout_.alpha != AlphaMode::None) {
                const uint32_t alpha = sample(x, layout_.alphaSample);
                for (uint16_t c = 0; c < outputComponents_; ++c)
                    packer.put(alpha_.apply(sample(x, c), alpha));
            } else {
                for (uint16_t c = 0; c < outputComponents_; ++c)
                    packer.put(sample(x, c));
            }
        }
    }

  private:
    // The map as 8-bit colours (maps of 8-bit values kept as they are) for
    // palettes with alpha, or as stored for 16-bit palettes written at 16 bits.
    void loadColourMap(const TiffDocument& document) {
        const std::size_t entries = std::size_t{1} << layout_.sourceBits;
        maxIndex_ = static_cast<uint32_t>(entries - 1);
        if (layout_.bitsPerComponent == 8) {
            const ColourSpace palette = ColourSpace::indexed(document.page());
            for (const PaletteEntry& entry : palette.palette) {
                map_[0].push_back(static_cast<uint16_t>(entry.red));
                map_[1].push_back(static_cast<uint16_t>(entry.green));
                map_[2].push_back(static_cast<uint16_t>(entry.blue));
            }
            return;
        }
        const StoredColourMap* stored = document.page().colourMap.get();
        if (stored == nullptr || stored->entries() < entries)
            throw ConversionError::unreadable("the palette page has no colour map");
        // No longer than the map, as checked above.
        const auto kept = static_cast<std::ptrdiff_t>(entries);
        for (int c = 0; c < 3; ++c)
            map_[c].assign(stored->channels[c].begin(), stored->channels[c].begin() + kept);
    }

    const DecodedLayout& layout_;
    uint32_t width_;
    AlphaOverWhite alpha_;
    uint16_t outputComponents_ = 1;
    uint64_t rowBytes_ = 0;
    bool copiesRowsAsStored_ = false;
    uint32_t maxIndex_ = 0;
    std::vector<uint16_t> map_[3];
};

AlphaMode alphaModeOf(const PageLayout& page) {
    if (page.alphaSample() < 0)
        return AlphaMode::None;
    return page.alphaIsAssociated() ? AlphaMode::Associated : AlphaMode::Unassociated;
}

// Unsigned integer samples, in anything but old-style JPEG.
bool hasDecodableSamples(const PageLayout& page) {
    return (page.sampleFormat == SAMPLEFORMAT_UINT || page.sampleFormat == SAMPLEFORMAT_VOID) &&
           page.compression != COMPRESSION_OJPEG;
}

}  // namespace

std::optional<DecodedLayout> decodedLayoutFor(const PageLayout& page) {
    if (!hasDecodableSamples(page))
        return std::nullopt;
    DecodedLayout layout;
    layout.sourceBits = page.bitsPerSample == 0 ? 1 : page.bitsPerSample;
    layout.samplesPerPixel = page.samplesPerPixel;
    layout.separatePlanes = page.separatePlanes;
    layout.tiled = page.tiled;
    const int colourSamples =
        static_cast<int>(page.samplesPerPixel) - static_cast<int>(page.extraSamples.size());
    layout.colourSamples = page.colourSamples();
    layout.alpha = alphaModeOf(page);
    layout.alphaSample = static_cast<uint16_t>(std::max(page.alphaSample(), 0));
    const uint16_t bits = layout.sourceBits;
    layout.bitsPerComponent = bits;
    if (!isSupportedDepth(bits) || colourSamples < 1)
        return std::nullopt;

    switch (page.photometric) {
        case PHOTOMETRIC_MINISWHITE:
        case PHOTOMETRIC_MINISBLACK:
            layout.colour = ColourModel::Gray;
            layout.minIsWhite = page.photometric == PHOTOMETRIC_MINISWHITE;
            return layout;
        case PHOTOMETRIC_PALETTE:
            // Alpha can only be laid over paper in colours, not in indexes.
            layout.paletteToRgb = bits == 16 || layout.alpha != AlphaMode::None;
            layout.colour = layout.paletteToRgb ? ColourModel::Rgb : ColourModel::Indexed;
            layout.bitsPerComponent = bits == 16 ? 16 : (layout.paletteToRgb ? 8 : bits);
            return layout;
        case PHOTOMETRIC_RGB:
            if (colourSamples < 3)
                return std::nullopt;
            layout.colour = ColourModel::Rgb;
            return layout;
        case PHOTOMETRIC_SEPARATED:
            if (page.inkSet != INKSET_CMYK || colourSamples != 4)
                return std::nullopt;
            layout.colour = ColourModel::Cmyk;
            return layout;
        case PHOTOMETRIC_YCBCR:
            if (page.compression != COMPRESSION_JPEG || bits != 8 || layout.separatePlanes)
                return std::nullopt;
            layout.colour = ColourModel::Rgb;
            layout.jpegAsRgb = true;
            return layout;
        case PHOTOMETRIC_CIELAB:
            if (bits != 8 || colourSamples < 3)
                return std::nullopt;
            layout.colour = ColourModel::Lab;
            layout.alpha = AlphaMode::None;
            return layout;
        default:
            return std::nullopt;
    }
}

void writeDecodedPixels(PageReading& reading, const DecodedLayout& layout) {
    TiffDocument& document = reading.document;
    if (layout.jpegAsRgb)
        TIFFSetField(document.handle(), TIFFTAG_JPEGCOLORMODE, JPEGCOLORMODE_RGB);
    StoredRows rows(document);
    const RowConverter converter(document, layout);
    std::vector<uint8_t> out = allocateBuffer(converter.rowBytes());
    const uint32_t height = document.page().height;
    for (uint32_t top = 0; top < height; top += rows.bandRows()) {
        throwIfCancelled(reading.cancel);
        const uint32_t count = std::min(rows.bandRows(), height - top);
        const std::size_t mark = reading.damage.mark();
        reading.damage.checkBand(mark, top, rows.read(top), count);
        for (uint32_t r = 0; r < count; ++r) {
            converter.convert(rows, r, out.data());
            reading.sink.append(out.data(), out.size());
        }
    }
}

namespace {

// Hands each stored row's planes to `use`, with whether the row was lost;
// lost rows are recorded as damage when `recordDamage` (a page read twice
// reports it once).
template <typename Use>
void forEachStoredRow(PageReading& reading, bool recordDamage, Use&& use) {
    StoredRows rows(reading.document);
    const PageLayout& page = reading.document.page();
    std::vector<const uint8_t*> planes(page.separatePlanes ? page.samplesPerPixel : 1);
    const uint32_t height = reading.document.page().height;
    for (uint32_t top = 0; top < height; top += rows.bandRows()) {
        throwIfCancelled(reading.cancel);
        const uint32_t count = std::min(rows.bandRows(), height - top);
        const std::size_t mark = reading.damage.mark();
        const uint32_t intact = rows.read(top);
        if (recordDamage)
            reading.damage.checkBand(mark, top, intact, count);
        for (uint32_t r = 0; r < count; ++r) {
            for (std::size_t plane = 0; plane < planes.size(); ++plane)
                planes[plane] = rows.row(static_cast<uint16_t>(plane), r);
            use(std::span<const uint8_t* const>(planes), r >= intact);
        }
    }
}

bool isUnitRange(const SampleFormatPlan& plan) {
    return std::all_of(plan.limits.begin(), plan.limits.end(), [](const SampleLimits& limits) {
        return limits.low == 0 && limits.high == 1;
    });
}

}  // namespace

// A float page without SMin/SMaxSampleValue is read for its range first;
// KeptRows decides whether its rows are kept or decoded again. Lost rows
// take no part in the range; drawn over a range other than 0..1 the stored
// paper would not be white, so they are then paper whole, in that range.
void writeMappedSamples(PageReading& reading, SampleFormatPlan plan) {
    const uint32_t width = reading.document.page().width;
    RowSamples samples(plan, width);
    KeptRows kept(plan, width, reading.document.page().height);
    const bool keep = plan.rangeFromPage && kept.keeping();
    std::vector<bool> keptLost;
    if (plan.rangeFromPage) {
        SampleRange range(plan);
        forEachStoredRow(reading, true, [&](std::span<const uint8_t* const> planes, bool lost) {
            if (!lost)
                range.observe(samples.read(planes));
            if (keep) {
                kept.keep(planes);
                keptLost.push_back(lost);
            }
        });
        range.applyTo(plan);
    }
    const SampleMapper mapper(plan, reading.document, width);
    const std::vector<double> paper = PaperSamples(reading.document).numbers(plan, width);
    const bool paperMoved = plan.rangeFromPage && !isUnitRange(plan);
    std::vector<uint8_t> out = allocateBuffer(mapper.rowBytes());
    const auto write = [&](std::span<const uint8_t* const> planes, bool lost) {
        mapper.convert(lost && paperMoved ? paper : samples.read(planes), out.data());
        reading.sink.append(out.data(), out.size());
    };
    if (!keep) {
        forEachStoredRow(reading, !plan.rangeFromPage, write);
        return;
    }
    for (uint32_t y = 0; y < kept.rows(); ++y) {
        if (y % 256 == 0)
            throwIfCancelled(reading.cancel);
        write(kept.row(y), keptLost[y]);
    }
}

}  // namespace quorvex
