// What a page image becomes, decided once from the page's layout record:
// where its samples come from, the filter they travel under, the colour
// space, the bit depth and the /Decode array. The dictionary text is written
// from this value afterwards; nothing here writes PDF.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "engine/Conversion.h"
#include "engine/encode/CcittEncoder.h"
#include "engine/encode/StreamSink.h"
#include "engine/plan/ColourSpace.h"
#include "engine/read/DecodedPixels.h"
#include "engine/read/SampleFormats.h"

namespace quorvex {

class TiffDocument;

enum class SampleSource {
    RawStrips,        // the stored coded strips, joined (CCITT data passed through)
    Scanlines,        // rows through TIFFReadScanline, expanded to a byte a sample
    DecodedStrips,    // strips through libtiff's decoder, as decoded
    DecodedPixels,    // the lossless decoded path: any layout, converted row by row
    MappedSamples,    // other sample formats, mapped by the engine (SampleFormats.h)
    Rgba,             // libtiff's RGBA reader, for what nothing else reads
    FaxReencode,      // fax rows decoded and coded again as one clean stream
    JpegPassThrough,  // the page's JPEG data kept as a complete JPEG stream
    SmallerBilevel,   // bilevel rows decoded, then Group 4 or 1-bit Flate, the smaller
};

enum class ImageFilter { Flate, CcittFax, Dct };

struct CcittParameters {
    int k = -1;             // -1 Group 4, 0 Group 3 one-dimensional, 1 two-dimensional
    bool blackIs1 = false;  // 1 bits are black (min-is-black data)
};

struct ImagePlan {
    SampleSource source = SampleSource::RawStrips;
    ImageFilter filter = ImageFilter::Flate;
    CcittParameters ccitt;
    ColourSpace colourSpace;
    int bitsPerComponent = 8;
    std::optional<std::array<int, 2>> decode;
    // Grey Group 4 pages that are not 1-bit have always had their /Decode on
    // the filter's line; kept so that such files stay byte for byte.
    bool decodeOnFilterLine = false;
    DecodedLayout decoded;    // how the DecodedPixels source converts the rows
    SampleFormatPlan mapped;  // how the MappedSamples source maps the samples
    // JpegPassThrough: the page's JPEG data joined into one complete stream
    // (read while planning; it is small beside the decoded samples), and
    // whether it holds colour that is not YCbCr (/ColorTransform 0).
    std::shared_ptr<const std::vector<uint8_t>> jpeg;
    bool jpegWithoutColourTransform = false;
    // CMYK JPEG data a reader inverts (see CompactImage.cpp): written with a
    // /Decode that turns the inks back.
    bool jpegInksInverted = false;
    // 16-bit samples written as 8-bit ones (PDF/A-1): read as stored, then
    // reduced; bitsPerComponent is already the written depth.
    bool samplesReducedTo8Bits = false;

    StreamEncoding encoding() const {
        return filter == ImageFilter::Flate ? StreamEncoding::Flate : StreamEncoding::Raw;
    }
};

// The procedure set a page names: grey (B), colour (C) or indexed (I) images.
enum class ProcSet { ImageB, ImageC, ImageI };

// Classic files name it from the TIFF's layout, as they always have (a
// bilevel page that is not fax-coded says indexed); the others from the
// image actually written.
ProcSet procSetFor(OutputProfile profile, const PageLayout& page, const ImagePlan& plan);

// Decides the selected page's plan. Fails the page (ConversionError) when it
// is too large to convert or its colour map is missing. The standard profile
// writes grey of more than two levels as grey, not through a palette, and
// reads an RGB page's undeclared fourth sample as alpha.
ImagePlan planImage(const TiffDocument& document, OutputProfile profile = OutputProfile::Classic);

// The plan for a fax page whose data is coded again because libtiff could
// not decode it cleanly: one clean Group 4 stream, white coded as white.
ImagePlan cleanFaxPlan(const ImagePlan& plan);

// The CCITT coding a fax plan's parameters name.
CcittGroup ccittGroupOf(const CcittParameters& ccitt);

// Whether the compression-based table plan carries the page's samples as
// they are (its source, bit depth and colour space agree with the layout).
bool planIsFaithful(const PageLayout& page, const ImagePlan& plan);

}  // namespace quorvex
