// The lossless path for pages whose samples the compression-based routes do
// not carry faithfully (tiles, separate planes, extra samples, 16-bit samples,
// packed colour, JPEG in YCbCr, CIE Lab, fax pages split into strips): the
// page is decoded through libtiff row by row in stored order and written in
// a PDF colour space and bit depth that match its samples.
#pragma once

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>

namespace quorvex {

class SampleSink;
class TiffDocument;
struct SampleFormatPlan;

enum class DecodedColour { Gray, Rgb, Cmyk, Indexed, Lab };

struct DecodedLayout {
    DecodedColour colour = DecodedColour::Gray;
    int bitsPerComponent = 8;   // 1, 2, 4, 8 or 16
    bool minIsWhite = false;    // grey stored with 0 as white: written with /Decode [1 0]
    bool paletteToRgb = false;  // 16-bit palette indexes expanded through the colour map
    bool jpegAsRgb = false;     // JPEG YCbCr decoded by libjpeg straight to RGB
    // RGB with unassociated alpha: colours are multiplied by their alpha, as
    // libtiff's own RGBA reader shows them (the alpha itself is dropped).
    bool premultiply = false;
    uint16_t colourSamples = 1;    // stored samples before the extra ones
    uint16_t sourceBits = 8;       // bits per stored sample
    uint16_t samplesPerPixel = 1;  // stored samples per pixel, extra samples included
    bool separatePlanes = false;
    bool tiled = false;
};

// How the selected page decodes, or nothing when only libtiff's RGBA reader
// can make sense of it.
std::optional<DecodedLayout> decodedLayoutFor(const TiffDocument& document);

// The image dictionary lines for the layout: filter, /Decode, colour space.
std::string decodedImageLines(const DecodedLayout& layout, const TiffDocument& document);

// Decodes the page and appends its rows in the layout's format to the sink.
void writeDecodedPixels(TiffDocument& document, const DecodedLayout& layout, SampleSink& sink,
                        const std::atomic<bool>* cancel);

// Decodes a page of the other sample formats (SampleFormats.h) and appends
// its rows mapped to the plan's output.
void writeMappedSamples(TiffDocument& document, SampleFormatPlan plan, SampleSink& sink,
                        const std::atomic<bool>* cancel);

}  // namespace quorvex
