#include "engine/plan/CompactImage.h"

#include <tiffio.h>

#include <span>
#include <vector>

#include "engine/Limits.h"
#include "engine/encode/JpegJoin.h"
#include "engine/read/PageLayout.h"
#include "engine/read/TiffDocument.h"

namespace quorvex {
namespace {

// `samples` unsigned samples a pixel, contiguous, no extra ones: what both
// smaller forms need from the layout.
bool plainSamples(const PageLayout& page, uint16_t samples) {
    const bool unsignedIntegers =
        page.sampleFormat == SAMPLEFORMAT_UINT || page.sampleFormat == SAMPLEFORMAT_VOID;
    return page.samplesPerPixel == samples && page.extraSamples.empty() && !page.separatePlanes &&
           unsignedIntegers;
}

std::optional<std::vector<uint8_t>> joinedJpeg(TIFF* tiff, const PageLayout& page,
                                               uint16_t components, StripSeams seams) {
    std::vector<std::vector<uint8_t>> strips;
    uint64_t total = 0;
    for (uint32_t strip = 0; strip < page.strips; ++strip) {
        const uint64_t size = TIFFGetStrileByteCount(tiff, strip);
        total += size;
        if (size == 0 || total > kMaxBufferBytes)
            return std::nullopt;
        std::vector<uint8_t>& data = strips.emplace_back(static_cast<std::size_t>(size));
        if (TIFFReadRawStrip(tiff, strip, data.data(), static_cast<tmsize_t>(size)) !=
            static_cast<tmsize_t>(size)) {
            return std::nullopt;
        }
    }
    uint32_t tablesSize = 0;
    void* tables = nullptr;
    std::span<const uint8_t> tableBytes;
    if (TIFFGetField(tiff, TIFFTAG_JPEGTABLES, &tablesSize, &tables) && tables != nullptr)
        tableBytes = {static_cast<const uint8_t*>(tables), tablesSize};
    const std::vector<std::span<const uint8_t>> views(strips.begin(), strips.end());
    const uint32_t rowsPerStrip = page.rowsPerStrip == 0 ? page.height : page.rowsPerStrip;
    return joinJpegStrips(tableBytes, views, {page.width, page.height, components, rowsPerStrip},
                          seams);
}

// Whether the JPEG stream's header holds Adobe's APP14 marker.
bool hasAdobeMarker(const std::vector<uint8_t>& jpeg) {
    std::size_t at = 2;
    while (at + 4 <= jpeg.size() && jpeg[at] == 0xFF && jpeg[at + 1] != 0xDA) {
        if (jpeg[at + 1] == 0xEE)
            return true;
        at += 2 + (std::size_t{jpeg[at + 2]} << 8 | jpeg[at + 3]);
    }
    return false;
}

uint16_t jpegComponentsOf(const PageLayout& page) {
    switch (page.photometric) {
        case PHOTOMETRIC_MINISBLACK:
            return 1;
        case PHOTOMETRIC_RGB:
        case PHOTOMETRIC_YCBCR:
            return 3;
        case PHOTOMETRIC_SEPARATED:
            return page.inkSet == INKSET_CMYK ? 4 : 0;
        default:
            return 0;
    }
}

ColourModel jpegColourOf(uint16_t components) {
    switch (components) {
        case 1:
            return ColourModel::Gray;
        case 4:
            return ColourModel::Cmyk;
        default:
            return ColourModel::Rgb;
    }
}

// Grey, RGB, YCbCr and CMYK JPEG in strips; not tiles, not old-style JPEG (a
// compression of its own), not min-is-white.
std::optional<ImagePlan> jpegPlan(TIFF* tiff, const PageLayout& page, StripSeams seams) {
    const uint16_t components = jpegComponentsOf(page);
    if (page.bitsPerSample != 8 || page.tiled || components == 0 ||
        !plainSamples(page, components) || page.codedDataUntrusted) {
        return std::nullopt;
    }
    std::optional<std::vector<uint8_t>> joined = joinedJpeg(tiff, page, components, seams);
    if (!joined)
        return std::nullopt;
    ImagePlan plan;
    plan.colourSpace = ColourSpace::of(jpegColourOf(components));
    plan.bitsPerComponent = 8;
    image::KeptJpeg kept;
    // Readers take CMYK JPEG data with Adobe's marker for inverted inks, as
    // Adobe's own programs write it; the samples libtiff decodes are not.
    kept.inksInverted = components == 4 && hasAdobeMarker(*joined);
    kept.data = std::make_shared<const std::vector<uint8_t>>(std::move(*joined));
    kept.withoutColourTransform = page.photometric == PHOTOMETRIC_RGB;
    plan.kind = std::move(kept);
    return plan;
}

// One bit a pixel, grey either way round, in any codec this libtiff decodes
// but the fax codecs, whose data a PDF carries as it is, and JPEG, which has
// no 1-bit form. Stored data that is not to be trusted is decoded all the
// same, so such pages are taken too.
bool isRecodableBilevel(const PageLayout& page) {
    if (page.isFax() || page.compression == COMPRESSION_JPEG ||
        page.compression == COMPRESSION_OJPEG || !TIFFIsCODECConfigured(page.compression)) {
        return false;
    }
    const bool polarity =
        page.photometric == PHOTOMETRIC_MINISWHITE || page.photometric == PHOTOMETRIC_MINISBLACK;
    return polarity && page.bitsPerSample == 1 && plainSamples(page, 1);
}

// Grey at one bit; the filter is chosen once both codings are known.
ImagePlan smallerBilevelPlan() {
    ImagePlan plan;
    plan.kind = image::SmallerBilevel{};
    plan.colourSpace = ColourSpace::of(ColourModel::Gray);
    plan.bitsPerComponent = 1;
    return plan;
}

}  // namespace

std::optional<CompactForms> compactFormsFor(const ConversionOptions& options) {
    if (options.losslessDecode)
        return std::nullopt;
    if (options.compact)
        return CompactForms::Smallest;
    if (options.profile == OutputProfile::Standard)
        return CompactForms::Exact;
    return std::nullopt;
}

std::optional<ImagePlan> compactPlan(const TiffDocument& document, CompactForms forms) {
    const PageLayout& page = document.page();
    if (page.compression == COMPRESSION_JPEG) {
        return jpegPlan(document.handle(), page,
                        forms == CompactForms::Smallest ? StripSeams::Smoothed : StripSeams::Exact);
    }
    if (isRecodableBilevel(page))
        return smallerBilevelPlan();
    return std::nullopt;
}

ImagePlan codedBilevelPlan(BilevelCodec codec, BitmapPolarity polarity) {
    ImagePlan plan = smallerBilevelPlan();
    plan.kind = image::SmallerBilevel{codec};
    // Group 4 codes white as white; 1-bit Flate keeps the bitmap's polarity.
    if (codec == BilevelCodec::Flate && polarity == BitmapPolarity::ZeroIsWhite)
        plan.decode = std::array<int, 2>{1, 0};
    return plan;
}

}  // namespace quorvex
