// The layout of one TIFF page, read from its directory once when the page is
// selected: the record the image planner decides from and the sample readers
// follow. Its scalar tags and a palette page's colour map are read here
// only; the other arrays (strip byte counts, JPEG tables, white point) are
// fetched from the selected directory where they are used.
#pragma once

#include <tiffio.h>

#include <cstdint>
#include <memory>
#include <vector>

namespace quorvex {

// Dots per inch of a page that carries no usable resolution.
inline constexpr float kUsualDpi = 200.0F;

// A palette page's ColorMap as stored: 16-bit values, 1 << BitsPerSample
// entries a channel (the size libtiff gives it).
struct StoredColourMap {
    std::vector<uint16_t> channels[3];  // red, green, blue

    std::size_t entries() const { return channels[0].size(); }
};

struct PageLayout {
    uint32_t width = 0;
    uint32_t height = 0;
    uint16_t samplesPerPixel = 1;  // at least 1
    uint16_t bitsPerSample = 0;    // 0 when the page has no BitsPerSample tag
    uint16_t sampleFormat = SAMPLEFORMAT_UINT;
    uint16_t photometric = PHOTOMETRIC_MINISWHITE;
    bool photometricMissing = false;  // photometric then says how libtiff reads it
    uint16_t compression = COMPRESSION_NONE;
    bool separatePlanes = false;         // PlanarConfig 2 with more than one sample
    std::vector<uint16_t> extraSamples;  // ExtraSamples kinds, the last samples of a pixel
    bool tiled = false;
    uint32_t tileWidth = 0;
    uint32_t tileLength = 0;
    uint32_t rowsPerStrip = 0;  // 0 when the tag is absent
    uint32_t strips = 0;        // strips or tiles, over all planes
    uint16_t fillOrder = FILLORDER_MSB2LSB;
    uint32_t group3Options = 0;
    uint16_t inkSet = INKSET_CMYK;
    // SMinSampleValue and SMaxSampleValue, one value a sample; both empty
    // unless the page has both.
    std::vector<double> sampleMin;
    std::vector<double> sampleMax;
    uint16_t ycbcrHorizontal = 2;  // YCbCrSubsampling of YCbCr pages
    uint16_t ycbcrVertical = 2;
    uint16_t orientation = 0;  // 0 when absent
    float xResolution = 0;     // 0 when absent or unusable
    float yResolution = 0;
    uint16_t resolutionUnit = 0;  // 0 when absent
    // Signs that the stored coded data must not be passed on as it is: the
    // page carries a Wang page-control tag, is old-style JPEG, or its Group 4
    // data comes from a writer known to store data readers reject.
    bool codedDataUntrusted = false;
    // A palette page's colour map; null when the page has none or its
    // samples are too deep for one. Shared, so that copies of the record
    // handed to workers stay small.
    std::shared_ptr<const StoredColourMap> colourMap;

    // Samples that carry colour, before the extra ones (at least 1).
    uint16_t colourSamples() const;
    bool isFax() const {
        return compression == COMPRESSION_CCITTFAX3 || compression == COMPRESSION_CCITTFAX4;
    }
    // Colour pages in the sense of the object writers' tables (ProcSet
    // /ImageC, three bytes a pixel on the scanline route).
    bool isFullColor() const;
    // Index of the first alpha extra sample among a pixel's samples, or -1.
    int alphaSample() const;
    bool alphaIsAssociated() const;
};

// Reads the layout of the current directory of `tiff`.
PageLayout readPageLayout(TIFF* tiff);

}  // namespace quorvex
