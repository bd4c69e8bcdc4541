#include "engine/plan/ImagePlan.h"

#include <string>

#include "engine/EngineError.h"
#include "engine/Limits.h"
#include "engine/read/TiffDocument.h"

namespace quorvex {
namespace {

// Grey levels of the page's samples; pages of more than 16 bits never reach
// the tables that use this.
uint64_t levelsOf(const PageLayout& page) {
    if (page.bitsPerSample > 16)
        return uint64_t{1} << 16;
    return uint64_t{1} << page.bitsPerSample;
}

bool isPackedDepth(uint16_t bits) {
    return bits == 1 || bits == 2 || bits == 4 || bits == 8;
}

bool isGreyOrBilevel(uint16_t photometric) {
    return photometric == PHOTOMETRIC_MINISWHITE || photometric == PHOTOMETRIC_MINISBLACK;
}

// Compression the page is treated as: PackBits (decode and re-compress) for
// pages whose stored data is not to be trusted, otherwise its own.
uint16_t effectiveCompression(const PageLayout& page) {
    return page.codedDataUntrusted ? COMPRESSION_PACKBITS : page.compression;
}

ImagePlan faxPlan(const PageLayout& page, uint16_t compression) {
    ImagePlan plan;
    const int k = compression == COMPRESSION_CCITTFAX4
                      ? -1
                      : ((page.group3Options & GROUP3OPT_2DENCODING) != 0 ? 1 : 0);
    plan.kind = image::StoredFax{.ccitt = {.k = k}};
    plan.colourSpace = ColourSpace::of(ColourModel::Gray);
    plan.bitsPerComponent = 1;
    return plan;
}

// Fax data a PDF can carry: one bit a pixel, grey either way round. Group 4
// pages without BitsPerSample keep the decoded route they always had.
bool isCarriableFax(const PageLayout& page) {
    const bool bilevel = page.samplesPerPixel == 1 && page.extraSamples.empty() &&
                         isGreyOrBilevel(page.photometric) &&
                         (page.bitsPerSample == 1 ||
                          (page.bitsPerSample == 0 && page.compression == COMPRESSION_CCITTFAX3));
    return page.isFax() && !page.codedDataUntrusted && bilevel;
}

// Fax pages keep their coded data: as stored when it is one strip, coded
// again on its own, in memory, when it is split into strips or tiles.
// Min-is-black data is drawn with 1 bits black.
ImagePlan carriedFaxPlan(const PageLayout& page) {
    ImagePlan plan = faxPlan(page, page.compression);
    auto& stored = std::get<image::StoredFax>(plan.kind);
    if (page.tiled || page.strips != 1) {
        plan.kind = image::RecodedFax{stored.ccitt};
        return plan;
    }
    stored.ccitt.blackIs1 = page.photometric == PHOTOMETRIC_MINISBLACK;
    return plan;
}

// Sources and bit depths by compression; everything but CCITT data is
// decoded and Flate-compressed.
ImagePlan tablePlan(const PageLayout& page) {
    const uint16_t compression = effectiveCompression(page);
    if (compression == COMPRESSION_CCITTFAX3 ||
        (compression == COMPRESSION_CCITTFAX4 && page.bitsPerSample == 1)) {
        return faxPlan(page, compression);
    }
    const bool greyMultibit = page.photometric == PHOTOMETRIC_MINISBLACK && levelsOf(page) > 2;
    const image::TableRows rowsOrStrips{greyMultibit ? image::TableReader::DecodedStrips
                                                     : image::TableReader::Scanlines};
    const image::TableRows decodedStrips{image::TableReader::DecodedStrips};
    ImagePlan plan;
    plan.bitsPerComponent = 8;
    switch (compression) {
        case COMPRESSION_CCITTFAX4: {
            const bool minIsWhite = page.photometric == PHOTOMETRIC_MINISWHITE;
            plan.decode = std::array<int, 2>{minIsWhite ? 1 : 0, minIsWhite ? 0 : 1};
            plan.bitsPerComponent = page.bitsPerSample == 0 ? 1 : 8;
            plan.kind = image::TableRows{image::TableReader::DecodedStrips, true};
            return plan;
        }
        case COMPRESSION_LZW:
            plan.bitsPerComponent = page.bitsPerSample;
            if (!page.extraSamples.empty() && page.isFullColor())
                plan.kind = image::RgbaRows{};
            else
                plan.kind = decodedStrips;
            return plan;
        case COMPRESSION_PACKBITS:
            if (page.bitsPerSample == 0 || page.bitsPerSample == 4) {
                plan.bitsPerComponent = page.bitsPerSample == 0 ? 1 : 4;
                plan.kind = decodedStrips;
            } else {
                plan.kind = rowsOrStrips;
            }
            return plan;
        case COMPRESSION_JPEG:
        case COMPRESSION_DEFLATE:
        case COMPRESSION_ADOBE_DEFLATE:
        case COMPRESSION_NONE:
        case COMPRESSION_CCITTRLE:
            plan.kind = rowsOrStrips;
            return plan;
        default:
            // Never copy coded data under a filter that does not match it.
            plan.kind = decodedStrips;
            return plan;
    }
}

ColourSpace tableColourSpace(const PageLayout& page) {
    if (page.photometric == PHOTOMETRIC_SEPARATED)
        return ColourSpace::of(ColourModel::Cmyk);
    if (levelsOf(page) <= 2)
        return ColourSpace::of(ColourModel::Gray);
    if (page.photometric == PHOTOMETRIC_RGB && page.isFullColor())
        return ColourSpace::of(ColourModel::Rgb);
    return ColourSpace::indexed(page);
}

// The scanline source expands one stored sample per pixel (or copies three
// bytes for colour) and draws it through a grey or palette colour space.
bool scanlinesAreFaithful(const PageLayout& page, const ImagePlan& plan) {
    if (!page.extraSamples.empty())
        return false;
    if (page.photometric == PHOTOMETRIC_RGB || page.isFullColor()) {
        return page.photometric == PHOTOMETRIC_RGB && page.samplesPerPixel == 3 &&
               page.bitsPerSample == 8 && plan.colourSpace.model == ColourModel::Rgb;
    }
    if (page.samplesPerPixel != 1 || !isPackedDepth(page.bitsPerSample))
        return false;
    if (page.photometric == PHOTOMETRIC_PALETTE)
        return page.bitsPerSample > 1;
    return isGreyOrBilevel(page.photometric);
}

// Decoded strips hold the packed samples as stored: right when the bit depth
// and the colour space's components match them.
bool decodedStripsAreFaithful(const PageLayout& page, const ImagePlan& plan) {
    const uint16_t bits = page.bitsPerSample == 0 ? 1 : page.bitsPerSample;
    if (!page.extraSamples.empty() || !isPackedDepth(bits) || plan.bitsPerComponent != bits)
        return false;
    switch (plan.colourSpace.model) {
        case ColourModel::Gray:
            if (page.samplesPerPixel != 1)
                return false;
            if (page.photometric == PHOTOMETRIC_MINISBLACK)
                return true;
            return page.photometric == PHOTOMETRIC_MINISWHITE &&
                   plan.decode == std::array<int, 2>{1, 0};
        case ColourModel::Rgb:
            return page.photometric == PHOTOMETRIC_RGB && page.samplesPerPixel == 3;
        case ColourModel::Cmyk:
            return page.samplesPerPixel == 4 && page.inkSet == INKSET_CMYK;
        case ColourModel::Indexed:
            return page.samplesPerPixel == 1 &&
                   (isGreyOrBilevel(page.photometric) || page.photometric == PHOTOMETRIC_PALETTE);
        case ColourModel::Lab:
            return false;
    }
    return false;
}

ImagePlan decodedPlan(TIFF* tiff, const PageLayout& page) {
    ImagePlan plan;
    const std::optional<DecodedLayout> decoded = decodedLayoutFor(page);
    if (!decoded) {
        // Whatever else libtiff understands, through its RGBA reader.
        plan.kind = image::RgbaRows{};
        plan.colourSpace = ColourSpace::of(ColourModel::Rgb);
        plan.bitsPerComponent = 8;
        return plan;
    }
    plan.kind = image::ConvertedPixels{*decoded};
    plan.bitsPerComponent = decoded->bitsPerComponent;
    if (decoded->minIsWhite)
        plan.decode = std::array<int, 2>{1, 0};
    plan.colourSpace = ColourSpace::forPage(decoded->colour, tiff, page);
    return plan;
}

// Pages whose sample format no other source draws: mapped by the engine.
ImagePlan mappedPlan(TIFF* tiff, const PageLayout& page, SampleFormatPlan mapped) {
    ImagePlan plan;
    plan.bitsPerComponent = mapped.outputBits;
    plan.colourSpace = ColourSpace::forPage(mapped.outputColour, tiff, page);
    plan.kind = image::MappedSamples{std::move(mapped)};
    return plan;
}

void refuseGiganticPage(const PageLayout& page, int32_t index) {
    const uint64_t pixels = uint64_t{page.width} * page.height;
    if (pixels == 0 || pixels > kMaxPagePixels) {
        throw ConversionError::tooLarge(
            "page " + std::to_string(index + 1) + " is " + std::to_string(page.width) + " x " +
            std::to_string(page.height) + " pixels: not a page that can be converted");
    }
}

// CCITT coding knows one 1-bit sample per pixel; a page claiming more is
// damaged, and decoding it would only churn through time and memory.
void refuseImpossibleFax(const PageLayout& page, int32_t index) {
    const bool ccitt = page.isFax() || page.compression == COMPRESSION_CCITTRLE;
    if (ccitt && (page.samplesPerPixel > 1 || page.bitsPerSample > 1)) {
        throw ConversionError::refused("page " + std::to_string(index + 1) +
                                           " is fax-coded but claims " +
                                           std::to_string(page.samplesPerPixel) + " samples of " +
                                           std::to_string(page.bitsPerSample) + " bits per pixel",
                                       LegacyReason::InvalidFax);
    }
}

// Grey drawn through an indexed ramp: written as grey by the standard
// profile, at the stored depth.
bool isGreyRamp(const PageLayout& page, const ImagePlan& plan) {
    return plan.colourSpace.model == ColourModel::Indexed && isGreyOrBilevel(page.photometric);
}

// libtiff's own reader takes the fourth sample of an RGB page that declares
// no extra samples for premultiplied alpha; paint and panorama programs write
// such pages.
PageLayout withUndeclaredAlpha(const PageLayout& page) {
    PageLayout read = page;
    if (page.photometric == PHOTOMETRIC_RGB && page.samplesPerPixel == 4 &&
        page.extraSamples.empty()) {
        read.extraSamples = {EXTRASAMPLE_ASSOCALPHA};
    }
    return read;
}

}  // namespace

bool planIsFaithful(const PageLayout& page, const ImagePlan& plan) {
    const bool unsignedIntegers =
        page.sampleFormat == SAMPLEFORMAT_UINT || page.sampleFormat == SAMPLEFORMAT_VOID;
    if (page.tiled || page.separatePlanes || !unsignedIntegers)
        return false;
    if (plan.is<image::StoredFax>()) {
        // Coded data copied as stored: one strip, drawn with 0 as black.
        return page.photometric == PHOTOMETRIC_MINISWHITE && page.samplesPerPixel == 1 &&
               page.bitsPerSample <= 1 && page.strips == 1;
    }
    if (plan.is<image::RgbaRows>())
        return plan.bitsPerComponent == 8 && plan.colourSpace.model == ColourModel::Rgb;
    if (const auto* rows = std::get_if<image::TableRows>(&plan.kind)) {
        return rows->reader == image::TableReader::Scanlines ? scanlinesAreFaithful(page, plan)
                                                             : decodedStripsAreFaithful(page, plan);
    }
    return false;
}

StreamEncoding ImagePlan::encoding() const {
    const bool codedByKind = is<image::StoredFax>() || is<image::RecodedFax>() ||
                             is<image::SmallerBilevel>() || is<image::KeptJpeg>();
    return codedByKind ? StreamEncoding::Raw : StreamEncoding::Flate;
}

ImagePlan cleanFaxPlan(const ImagePlan& plan) {
    ImagePlan clean = plan;
    clean.kind = image::RecodedFax{};
    return clean;
}

const CcittParameters* faxParametersOf(const ImagePlan& plan) {
    if (const auto* stored = std::get_if<image::StoredFax>(&plan.kind))
        return &stored->ccitt;
    if (const auto* recoded = std::get_if<image::RecodedFax>(&plan.kind))
        return &recoded->ccitt;
    return nullptr;
}

ProcSet procSetFor(OutputProfile profile, const PageLayout& page, const ImagePlan& plan) {
    if (profile == OutputProfile::Classic) {
        if (page.isFullColor())
            return ProcSet::ImageC;
        return page.isFax() ? ProcSet::ImageB : ProcSet::ImageI;
    }
    switch (plan.colourSpace.model) {
        case ColourModel::Gray:
            return ProcSet::ImageB;
        case ColourModel::Indexed:
            return ProcSet::ImageI;
        case ColourModel::Rgb:
        case ColourModel::Cmyk:
        case ColourModel::Lab:
            break;
    }
    return ProcSet::ImageC;
}

CcittGroup ccittGroupOf(const CcittParameters& ccitt) {
    if (ccitt.k < 0)
        return CcittGroup::Group4;
    return ccitt.k == 0 ? CcittGroup::Group3OneD : CcittGroup::Group3TwoD;
}

ImagePlan planImage(const TiffDocument& document, OutputProfile profile) {
    const PageLayout page =
        profile == OutputProfile::Standard ? withUndeclaredAlpha(document.page()) : document.page();
    refuseGiganticPage(page, document.getCurrentPage());
    refuseImpossibleFax(page, document.getCurrentPage());
    if (isCarriableFax(page))
        return carriedFaxPlan(page);
    // Classic files never drew ICC or ITU Lab.
    const bool otherLab =
        page.photometric == PHOTOMETRIC_ICCLAB || page.photometric == PHOTOMETRIC_ITULAB;
    if (profile == OutputProfile::Standard || !otherLab) {
        if (std::optional<SampleFormatPlan> mapped = sampleFormatPlanFor(page))
            return mappedPlan(document.handle(), page, std::move(*mapped));
    }
    // A page the table would misdraw takes the lossless decoded path; the
    // table's colour space is only built when the table plan stands.
    if (page.bitsPerSample > 8)
        return decodedPlan(document.handle(), page);
    ImagePlan plan = tablePlan(page);
    plan.colourSpace = tableColourSpace(page);
    if (!planIsFaithful(page, plan) ||
        (profile == OutputProfile::Standard && isGreyRamp(page, plan)))
        return decodedPlan(document.handle(), page);
    return plan;
}

}  // namespace quorvex
