#include "engine/read/SampleFormats.h"

#include <tiffio.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <limits>
#include <string>

#include "engine/EngineError.h"
#include "engine/Limits.h"
#include "engine/read/AlphaOverWhite.h"
#include "engine/read/StoredSample.h"
#include "engine/read/TiffDocument.h"

namespace quorvex {
namespace {

// Pages whose stored samples fit in this are decoded once even when their
// range must be found first.
constexpr uint64_t kKeptPageBytes = uint64_t{64} << 20;

// The page's sample format as this component reads it: VoidSampleFormat
// counts as unsigned, a missing BitsPerSample as 1.
struct PageSamples {
    const PageLayout& page;
    uint16_t format = SAMPLEFORMAT_UINT;
    uint16_t bits = 1;

    explicit PageSamples(const PageLayout& layout)
        : page(layout),
          format(layout.sampleFormat == SAMPLEFORMAT_VOID ? uint16_t{SAMPLEFORMAT_UINT}
                                                          : layout.sampleFormat),
          bits(layout.bitsPerSample == 0 ? uint16_t{1} : layout.bitsPerSample) {}

    bool hasAlpha() const { return page.alphaSample() >= 0; }
    bool hasLimits() const { return !page.sampleMin.empty(); }
};

[[noreturn]] void refuse(const std::string& what) {
    throw ConversionError::refused(what + " not supported", LegacyReason::ImageObject);
}

std::string formatName(uint16_t format) {
    switch (format) {
        case SAMPLEFORMAT_INT:
            return "signed integer";
        case SAMPLEFORMAT_IEEEFP:
            return "floating-point";
        case SAMPLEFORMAT_COMPLEXINT:
            return "complex integer";
        case SAMPLEFORMAT_COMPLEXIEEEFP:
            return "complex floating-point";
        default:
            return "unsigned integer";
    }
}

std::string samplesName(const PageSamples& samples) {
    return std::to_string(samples.bits) + "-bit " + formatName(samples.format) + " samples";
}

SampleLimits integerLimits(uint16_t format, uint16_t bits) {
    const double levels = std::ldexp(1.0, bits);
    if (format == SAMPLEFORMAT_INT)
        return {-levels / 2, levels / 2 - 1};
    return {0, levels - 1};
}

bool isStandardDepth(uint16_t bits) {
    return bits == 1 || bits == 2 || bits == 4 || bits == 8 || bits == 16;
}

// Tags narrower than the samples' own range change the picture; tags that
// restate it leave the page to the sources that always drew it.
bool narrowsRange(const PageSamples& samples) {
    const SampleLimits full = integerLimits(samples.format, samples.bits);
    const std::vector<double>& low = samples.page.sampleMin;
    const std::vector<double>& high = samples.page.sampleMax;
    for (std::size_t s = 0; s < low.size(); ++s) {
        if (low[s] != full.low || high[s] != full.high)
            return true;
    }
    return false;
}

bool isLab(uint16_t photometric) {
    return photometric == PHOTOMETRIC_CIELAB || photometric == PHOTOMETRIC_ICCLAB ||
           photometric == PHOTOMETRIC_ITULAB;
}

// Refuses the sample formats nothing here can draw.
void refuseUnknownFormats(const PageSamples& samples) {
    switch (samples.format) {
        case SAMPLEFORMAT_UINT:
        case SAMPLEFORMAT_INT:
            if (samples.bits > 32)
                refuse(samplesName(samples) + " are");
            break;
        case SAMPLEFORMAT_IEEEFP:
            if (samples.bits != 16 && samples.bits != 24 && samples.bits != 32 &&
                samples.bits != 64)
                refuse(samplesName(samples) + " are");
            break;
        case SAMPLEFORMAT_COMPLEXINT:
        case SAMPLEFORMAT_COMPLEXIEEEFP:
            refuse(samplesName(samples) + " are");
        default:
            refuse("SampleFormat " + std::to_string(samples.format) + " is");
    }
    const uint16_t photometric = samples.page.photometric;
    if (photometric == PHOTOMETRIC_PALETTE &&
        (samples.format == SAMPLEFORMAT_IEEEFP || samples.bits > 16))
        refuse("palette indexes of " + samplesName(samples) + " are");
    if (isLab(photometric) &&
        (samples.format != SAMPLEFORMAT_UINT || (samples.bits != 8 && samples.bits != 16))) {
        refuse("CIE Lab in " + samplesName(samples) + " is");
    }
}

// YCbCr outside 8-bit JPEG is left to libtiff's RGBA reader, which takes
// 8-bit samples stored together or in full-size planes only.
void refuseUndrawableYCbCr(const PageSamples& samples) {
    const PageLayout& page = samples.page;
    if (samples.format != SAMPLEFORMAT_UINT || samples.bits != 8)
        refuse("YCbCr in " + samplesName(samples) + " is");
    if (page.separatePlanes && page.compression != COMPRESSION_JPEG &&
        (page.ycbcrHorizontal != 1 || page.ycbcrVertical != 1)) {
        refuse("YCbCr subsampled " + std::to_string(page.ycbcrHorizontal) + "x" +
               std::to_string(page.ycbcrVertical) + " in separate planes is");
    }
}

std::optional<ColourModel> mappedColourOf(const PageLayout& page) {
    const uint16_t colourSamples = page.colourSamples();
    switch (page.photometric) {
        case PHOTOMETRIC_MINISWHITE:
        case PHOTOMETRIC_MINISBLACK:
            return ColourModel::Gray;
        case PHOTOMETRIC_RGB:
            return colourSamples >= 3 ? std::optional(ColourModel::Rgb) : std::nullopt;
        case PHOTOMETRIC_PALETTE:
            return ColourModel::Indexed;
        case PHOTOMETRIC_CIELAB:
        case PHOTOMETRIC_ICCLAB:
        case PHOTOMETRIC_ITULAB:
            return colourSamples >= 3 ? std::optional(ColourModel::Lab) : std::nullopt;
        case PHOTOMETRIC_SEPARATED:
            if (page.inkSet != INKSET_CMYK || colourSamples < 4)
                return std::nullopt;
            return ColourModel::Cmyk;
        default:
            return std::nullopt;
    }
}

// Whether the page needs this component: the other sources draw every
// unsigned 1, 2, 4, 8 and 16-bit page. They lay alpha over white in the
// stored depth, which below 8 bits rounds to a few levels, so alpha there
// comes here. Palette indexes and Lab values are not levels: sample limits
// do not apply to them.
bool needsMapping(const PageSamples& samples, ColourModel colour) {
    const bool levels = colour != ColourModel::Indexed && colour != ColourModel::Lab;
    if (samples.format != SAMPLEFORMAT_UINT || !isStandardDepth(samples.bits) ||
        (levels && samples.hasLimits() && narrowsRange(samples))) {
        return true;
    }
    // Only CIE Lab of 8 bits without alpha is drawn elsewhere.
    if (colour == ColourModel::Lab)
        return samples.bits != 8 || samples.hasAlpha() ||
               samples.page.photometric != PHOTOMETRIC_CIELAB;
    return samples.hasAlpha() && samples.bits < 8;
}

ColourModel outputColourOf(ColourModel colour, const PageSamples& samples) {
    // A palette with alpha or deeper than 8 bits is written in its colours.
    if (colour == ColourModel::Indexed && (samples.bits > 8 || samples.hasAlpha()))
        return ColourModel::Rgb;
    return colour;
}

std::vector<SampleLimits> limitsOf(const PageSamples& samples, SampleNumber number) {
    const PageLayout& page = samples.page;
    std::vector<SampleLimits> limits;
    if (number == SampleNumber::Float) {
        limits.assign(page.samplesPerPixel, SampleLimits{0, 1});
    } else {
        limits.assign(
            page.samplesPerPixel,
            integerLimits(number == SampleNumber::Signed ? SAMPLEFORMAT_INT : SAMPLEFORMAT_UINT,
                          samples.bits));
    }
    return limits;
}

SampleFormatPlan planFor(const PageSamples& samples, ColourModel colour) {
    const PageLayout& page = samples.page;
    SampleFormatPlan plan;
    plan.number = samples.format == SAMPLEFORMAT_IEEEFP ? SampleNumber::Float
                  : samples.format == SAMPLEFORMAT_INT && colour != ColourModel::Indexed
                      ? SampleNumber::Signed
                      : SampleNumber::Unsigned;
    plan.bits = samples.bits;
    plan.samplesPerPixel = page.samplesPerPixel;
    plan.colourSamples = page.colourSamples();
    if (samples.hasAlpha())
        plan.alpha = static_cast<uint16_t>(page.alphaSample());
    plan.associatedAlpha = page.alphaIsAssociated();
    plan.separatePlanes = page.separatePlanes;
    plan.tiled = page.tiled;
    plan.colour = colour;
    plan.minIsWhite = page.photometric == PHOTOMETRIC_MINISWHITE;
    if (colour == ColourModel::Lab)
        plan.labEncoding = page.photometric;
    plan.limits = limitsOf(samples, plan.number);
    if (samples.hasLimits() && colour != ColourModel::Indexed && colour != ColourModel::Lab) {
        for (std::size_t s = 0; s < plan.limits.size(); ++s)
            plan.limits[s] = {page.sampleMin[s], page.sampleMax[s]};
    } else {
        plan.rangeFromPage = plan.number == SampleNumber::Float;
    }
    plan.outputColour = outputColourOf(colour, samples);
    const bool indexes = plan.outputColour == ColourModel::Indexed;
    plan.outputBits = !indexes && (plan.number == SampleNumber::Float || samples.bits > 8) ? 16 : 8;
    return plan;
}

double halfFloat(uint32_t bits) {
    const double sign = (bits & 0x8000U) != 0 ? -1.0 : 1.0;
    const int exponent = static_cast<int>((bits >> 10) & 0x1FU);
    const uint32_t mantissa = bits & 0x3FFU;
    if (exponent == 0x1F)
        return mantissa != 0 ? std::numeric_limits<double>::quiet_NaN()
                             : sign * std::numeric_limits<double>::infinity();
    if (exponent == 0)
        return sign * std::ldexp(mantissa, -24);
    return sign * std::ldexp(mantissa + 0x400U, exponent - 25);
}

// 1 sign bit, 7 exponent bits biased by 63, 16 mantissa bits.
double float24(uint32_t bits) {
    const double sign = (bits & 0x800000U) != 0 ? -1.0 : 1.0;
    const int exponent = static_cast<int>((bits >> 16) & 0x7FU);
    const uint32_t mantissa = bits & 0xFFFFU;
    if (exponent == 0x7F)
        return mantissa != 0 ? std::numeric_limits<double>::quiet_NaN()
                             : sign * std::numeric_limits<double>::infinity();
    if (exponent == 0)
        return sign * std::ldexp(mantissa, -78);
    return sign * std::ldexp(mantissa + 0x10000U, exponent - 79);
}

double floatSample(const uint8_t* at, uint16_t bits) {
    switch (bits) {
        case 16:
            return halfFloat(hostBits(at, 16));
        case 24:
            return float24(hostBits(at, 24));
        case 32: {
            float value = 0;
            std::memcpy(&value, at, 4);
            return value;
        }
        default: {
            double value = 0;
            std::memcpy(&value, at, 8);
            return value;
        }
    }
}

double signedValue(uint32_t value, uint16_t bits) {
    const int64_t half = int64_t{1} << (bits - 1);
    return static_cast<double>((static_cast<int64_t>(value) ^ half) - half);
}

double composite(double colour, double alpha, bool associated) {
    return colourOverWhite(colour, alpha, 1.0, associated);
}

}  // namespace

std::optional<SampleFormatPlan> sampleFormatPlanFor(const PageLayout& page) {
    if (page.compression == COMPRESSION_OJPEG || page.photometric == PHOTOMETRIC_LOGL ||
        page.photometric == PHOTOMETRIC_LOGLUV) {
        return std::nullopt;
    }
    const PageSamples samples(page);
    if (page.compression == COMPRESSION_JPEG && samples.bits != 8)
        refuse(std::to_string(samples.bits) + "-bit JPEG is");
    if (page.photometric == PHOTOMETRIC_YCBCR) {
        refuseUndrawableYCbCr(samples);
        return std::nullopt;
    }
    const std::optional<ColourModel> colour = mappedColourOf(page);
    if (!colour)
        return std::nullopt;
    refuseUnknownFormats(samples);
    if (!needsMapping(samples, *colour))
        return std::nullopt;
    return planFor(samples, *colour);
}

void unpackSamples(const uint8_t* row, uint64_t count, SampleNumber number, uint16_t bits,
                   double* out, std::size_t stride) {
    const std::size_t width = bits / 8;
    for (uint64_t i = 0; i < count; ++i, out += stride) {
        if (number == SampleNumber::Float) {
            *out = floatSample(row + i * width, bits);
            continue;
        }
        const uint32_t value = storedSample(row, i, bits);
        *out = number == SampleNumber::Signed ? signedValue(value, bits) : value;
    }
}

double unitValue(double value, const SampleLimits& limits) {
    if (std::isnan(value))
        return 0;
    if (std::isinf(value))
        return value > 0 ? 1 : 0;
    if (!(limits.high > limits.low))
        return 0;
    return std::clamp((value - limits.low) / (limits.high - limits.low), 0.0, 1.0);
}

RowSamples::RowSamples(const SampleFormatPlan& plan, uint32_t width)
    : plan_(plan),
      width_(width),
      values_(static_cast<std::size_t>(checkedSize({width, plan.samplesPerPixel, sizeof(double)}) /
                                       sizeof(double))) {}

const std::vector<double>& RowSamples::read(std::span<const uint8_t* const> planes) {
    const uint16_t spp = plan_.samplesPerPixel;
    if (!plan_.separatePlanes) {
        unpackSamples(planes[0], values_.size(), plan_.number, plan_.bits, values_.data(), 1);
        return values_;
    }
    for (uint16_t plane = 0; plane < spp; ++plane)
        unpackSamples(planes[plane], width_, plan_.number, plan_.bits, values_.data() + plane, spp);
    return values_;
}

void SampleRange::observe(const std::vector<double>& pixels) {
    const uint16_t spp = plan_.samplesPerPixel;
    for (std::size_t at = 0; at < pixels.size(); at += spp) {
        for (uint16_t s = 0; s < plan_.colourSamples; ++s) {
            const double value = pixels[at + s];
            if (!std::isfinite(value))
                continue;
            low_ = seen_ ? std::min(low_, value) : value;
            high_ = seen_ ? std::max(high_, value) : value;
            seen_ = true;
        }
    }
}

void SampleRange::applyTo(SampleFormatPlan& plan) const {
    const bool inUnit = !seen_ || (low_ >= 0 && high_ <= 1);
    for (uint16_t s = 0; s < plan.colourSamples; ++s)
        plan.limits[s] = inUnit ? SampleLimits{0, 1} : SampleLimits{low_, high_};
}

// Appends output components of 8 or 16 bits (big-endian, as PDF wants them).
struct SampleMapper::Writer {
    uint8_t* at;
    int bits;
    void put(double unit) {
        if (bits == 8) {
            *at++ = static_cast<uint8_t>(std::lround(unit * 255));
            return;
        }
        const auto value = static_cast<uint16_t>(std::lround(unit * 65535));
        *at++ = static_cast<uint8_t>(value >> 8);
        *at++ = static_cast<uint8_t>(value);
    }
};

SampleMapper::SampleMapper(const SampleFormatPlan& plan, const TiffDocument& document,
                           uint32_t width)
    : plan_(plan), width_(width) {
    rowBytes_ = static_cast<std::size_t>(checkedSize(
        {width, componentsOf(plan.outputColour), static_cast<uint64_t>(plan.outputBits / 8)}));
    if (plan.colour == ColourModel::Indexed && plan.outputColour != ColourModel::Indexed)
        loadColourMap(document);
}

// Maps of up to 8 bits the way the indexed colour space reads them; wider
// ones through their 16-bit values, as the decoded path expands them.
void SampleMapper::loadColourMap(const TiffDocument& document) {
    if (plan_.bits <= 8) {
        const ColourSpace palette = ColourSpace::indexed(document.page());
        for (const PaletteEntry& entry : palette.palette) {
            map_[0].push_back(entry.red / 255.0);
            map_[1].push_back(entry.green / 255.0);
            map_[2].push_back(entry.blue / 255.0);
        }
        return;
    }
    const StoredColourMap* stored = document.page().colourMap.get();
    const std::size_t entries = std::size_t{1} << plan_.bits;
    if (stored == nullptr || stored->entries() < entries)
        throw ConversionError::unreadable("the palette page has no colour map");
    for (int c = 0; c < 3; ++c) {
        for (std::size_t i = 0; i < entries; ++i)
            map_[c].push_back(stored->channels[c][i] / 65535.0);
    }
}

void SampleMapper::convert(const std::vector<double>& pixels, uint8_t* out) const {
    Writer writer{out, plan_.outputBits};
    for (uint32_t x = 0; x < width_; ++x)
        mapPixel(pixels.data() + uint64_t{x} * plan_.samplesPerPixel, writer);
}

void SampleMapper::mapPixel(const double* pixel, Writer& out) const {
    const double alpha =
        plan_.alpha ? unitValue(pixel[*plan_.alpha], plan_.limits[*plan_.alpha]) : 1.0;
    const bool associated = plan_.associatedAlpha;
    switch (plan_.colour) {
        case ColourModel::Gray: {
            double grey = unitValue(pixel[0], plan_.limits[0]);
            if (plan_.minIsWhite)
                grey = 1 - grey;
            out.put(composite(grey, alpha, associated));
            return;
        }
        case ColourModel::Rgb:
            for (std::size_t c = 0; c < 3; ++c)
                out.put(composite(unitValue(pixel[c], plan_.limits[c]), alpha, associated));
            return;
        case ColourModel::Cmyk:
            // White paper carries no ink.
            for (std::size_t c = 0; c < 4; ++c) {
                const double ink = unitValue(pixel[c], plan_.limits[c]);
                out.put(inkOverWhite(ink, alpha, 1.0, associated));
            }
            return;
        case ColourModel::Indexed:
            mapPalette(pixel, alpha, out);
            return;
        case ColourModel::Lab:
            mapLab(pixel, alpha, out);
            return;
    }
}

void SampleMapper::mapPalette(const double* pixel, double alpha, Writer& out) const {
    const auto index = static_cast<std::size_t>(pixel[0]);
    if (plan_.outputColour == ColourModel::Indexed) {
        out.put(static_cast<double>(index) / 255);
        return;
    }
    for (const auto& channel : map_) {
        const double colour = index < channel.size() ? channel[index] : 0.0;
        out.put(composite(colour, alpha, plan_.associatedAlpha));
    }
}

// L* is stored unsigned (0 to 100 over the full range), a* and b* signed
// (one unit a step at 8 bits, 1/256 at 16); white paper is L* 100, a* b* 0.
// The PDF Lab space spans 0..100 and -128..127.
// ICC Lab offsets a* and b* by half their range (0 to 255 being -128 to
// 127); ITU Lab spreads its default ranges over the samples' values.
void SampleMapper::mapLab(const double* pixel, double alpha, Writer& out) const {
    const double scale = plan_.bits == 8 ? 1.0 : 1.0 / 256;
    double lightness = unitValue(pixel[0], plan_.limits[0]);
    double a = signedValue(static_cast<uint32_t>(pixel[1]), plan_.bits) * scale;
    double b = signedValue(static_cast<uint32_t>(pixel[2]), plan_.bits) * scale;
    if (plan_.labEncoding == PHOTOMETRIC_ICCLAB) {
        a = unitValue(pixel[1], plan_.limits[1]) * 255 - 128;
        b = unitValue(pixel[2], plan_.limits[2]) * 255 - 128;
    } else if (plan_.labEncoding == PHOTOMETRIC_ITULAB) {
        a = unitValue(pixel[1], plan_.limits[1]) * 170 - 85;
        b = unitValue(pixel[2], plan_.limits[2]) * 200 - 75;
    }
    lightness = composite(lightness, alpha, plan_.associatedAlpha);
    if (!plan_.associatedAlpha) {
        a *= alpha;
        b *= alpha;
    }
    out.put(lightness);
    out.put(std::clamp((a + 128) / 255, 0.0, 1.0));
    out.put(std::clamp((b + 128) / 255, 0.0, 1.0));
}

KeptRows::KeptRows(const SampleFormatPlan& plan, uint32_t width, uint32_t height)
    : planes_(plan.separatePlanes ? plan.samplesPerPixel : 1) {
    const uint64_t samplesPerRow =
        plan.separatePlanes ? width : uint64_t{width} * plan.samplesPerPixel;
    planeRowBytes_ = (checkedSize({samplesPerRow, plan.bits}) + 7) / 8;
    const uint64_t planeRows = uint64_t{planes_} * height;
    keeping_ = planeRows <= kKeptPageBytes / std::max<uint64_t>(planeRowBytes_, 1);
    if (keeping_)
        bytes_.reserve(static_cast<std::size_t>(planeRowBytes_ * planeRows));
    pointers_.resize(planes_);
}

void KeptRows::keep(std::span<const uint8_t* const> planes) {
    for (uint16_t plane = 0; plane < planes_; ++plane)
        bytes_.insert(bytes_.end(), planes[plane], planes[plane] + planeRowBytes_);
    ++rows_;
}

std::span<const uint8_t* const> KeptRows::row(uint32_t y) {
    for (uint16_t plane = 0; plane < planes_; ++plane)
        pointers_[plane] = bytes_.data() + (uint64_t{y} * planes_ + plane) * planeRowBytes_;
    return pointers_;
}

}  // namespace quorvex
