// What a page image becomes, decided once from the page's layout record:
// its kind (where its samples come from and the filter they travel under),
// the colour space, the bit depth and the /Decode array. The dictionary text
// is written from this value afterwards; nothing here writes PDF.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <variant>
#include <vector>

#include "engine/Conversion.h"
#include "engine/encode/BilevelCoding.h"
#include "engine/encode/CcittEncoder.h"
#include "engine/encode/StreamSink.h"
#include "engine/plan/ColourSpace.h"
#include "engine/read/DecodedPixels.h"
#include "engine/read/SampleFormats.h"

namespace quorvex {

class TiffDocument;

struct CcittParameters {
    int k = -1;             // -1 Group 4, 0 Group 3 one-dimensional, 1 two-dimensional
    bool blackIs1 = false;  // 1 bits are black (min-is-black data)
};

// The kinds of page image, each holding what only it needs. The dictionary's
// filter entries and the reader of the samples are chosen by kind
// (pdf/ImageXObject.cpp); what every kind shares is in ImagePlan.
namespace image {

// The page's coded fax strip copied as stored, once libtiff has decoded it
// cleanly (checked on the pool; coded again there otherwise).
struct StoredFax {
    CcittParameters ccitt;
};

// Fax rows decoded and coded again as one stream: strips or tiles joined, or
// data libtiff did not decode cleanly (then Group 4, white coded as white).
struct RecodedFax {
    CcittParameters ccitt;
};

// Bilevel rows decoded, then coded as Group 4 and as 1-bit Flate on the pool;
// the smaller is kept and its dictionary written from `chosen`.
struct SmallerBilevel {
    std::optional<BilevelCodec> chosen;
};

// The page's JPEG data as one complete stream, read while planning (it is
// small beside the decoded samples).
struct KeptJpeg {
    std::shared_ptr<const std::vector<uint8_t>> data;
    bool withoutColourTransform = false;  // colour that is not YCbCr: /ColorTransform 0
    // CMYK JPEG data a reader inverts (see CompactImage.cpp): written with a
    // /Decode that turns the inks back.
    bool inksInverted = false;
};

// The compression table's byte-exact routes, Flate-compressed.
enum class TableReader {
    Scanlines,      // rows through TIFFReadScanline, expanded to a byte a sample
    DecodedStrips,  // strips through libtiff's decoder, as decoded
};
struct TableRows {
    TableReader reader = TableReader::DecodedStrips;
    // Grey Group 4 pages that are not 1-bit have always had their /Decode on
    // the filter's line; kept so that such files stay byte for byte.
    bool decodeOnFilterLine = false;
};

// libtiff's RGBA reader, for what nothing else reads; Flate-compressed.
struct RgbaRows {};

// The lossless decoded path: any layout, converted row by row.
struct ConvertedPixels {
    DecodedLayout layout;
};

// Other sample formats, mapped by the engine (SampleFormats.h).
struct MappedSamples {
    SampleFormatPlan mapping;
};

}  // namespace image

using ImageKind =
    std::variant<image::StoredFax, image::RecodedFax, image::SmallerBilevel, image::KeptJpeg,
                 image::TableRows, image::RgbaRows, image::ConvertedPixels, image::MappedSamples>;

struct ImagePlan {
    ImageKind kind = image::TableRows{};
    ColourSpace colourSpace;
    int bitsPerComponent = 8;
    std::optional<std::array<int, 2>> decode;
    // 16-bit samples written as 8-bit ones (PDF/A-1): read as stored, then
    // reduced; bitsPerComponent is already the written depth.
    bool samplesReducedTo8Bits = false;

    template <typename Kind>
    bool is() const {
        return std::holds_alternative<Kind>(kind);
    }

    // How the image's stream is encoded: Flate for decoded samples, as they
    // come for coded data (fax, JPEG) kept or made by the engine.
    StreamEncoding encoding() const;
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

// The fax parameters of a stored or re-coded fax plan; none for other kinds.
const CcittParameters* faxParametersOf(const ImagePlan& plan);

// Whether the compression-based table plan carries the page's samples as
// they are (its source, bit depth and colour space agree with the layout).
bool planIsFaithful(const PageLayout& page, const ImagePlan& plan);

}  // namespace quorvex
