// The lossless decoded path for pages whose samples the compression-based
// table does not carry as they are (tiles, separate planes, extra samples,
// 16-bit samples, packed colour, JPEG in YCbCr, CIE Lab, fax pages split
// into strips): the page is decoded through libtiff band by band in stored
// order, and each row is converted into the PDF colour space and bit depth
// that match its samples. Alpha is laid over white paper.
#pragma once

#include <cstdint>
#include <optional>

#include "engine/plan/ColourSpace.h"

namespace quorvex {

struct PageLayout;
struct PageReading;
struct SampleFormatPlan;

enum class AlphaMode { None, Unassociated, Associated };

struct DecodedLayout {
    ColourModel colour = ColourModel::Gray;  // Gray, Rgb, Cmyk, Indexed or Lab
    int bitsPerComponent = 8;                // 1, 2, 4, 8 or 16
    bool minIsWhite = false;    // grey stored with 0 as white: written with /Decode [1 0]
    bool paletteToRgb = false;  // palette indexes expanded through the colour map
    bool jpegAsRgb = false;     // JPEG YCbCr decoded by libjpeg straight to RGB
    AlphaMode alpha = AlphaMode::None;
    uint16_t alphaSample = 0;      // index of the alpha sample within a pixel
    uint16_t colourSamples = 1;    // stored samples before the extra ones
    uint16_t sourceBits = 8;       // bits per stored sample
    uint16_t samplesPerPixel = 1;  // stored samples per pixel, extra samples included
    bool separatePlanes = false;
    bool tiled = false;
};

// How the page decodes, or nothing when only libtiff's RGBA reader can make
// sense of it.
std::optional<DecodedLayout> decodedLayoutFor(const PageLayout& page);

// Decodes the page and appends its rows in the layout's format to the sink.
void writeDecodedPixels(PageReading& reading, const DecodedLayout& layout);

// Decodes a page of the other sample formats (SampleFormats.h) and appends
// its rows mapped to the plan's output.
void writeMappedSamples(PageReading& reading, SampleFormatPlan plan);

}  // namespace quorvex
