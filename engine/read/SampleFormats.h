// Pages whose samples neither the compression table nor the decoded path can
// draw as they are: integers of any width up to 32 bits, signed integers,
// floating point of 16, 24, 32 and 64 bits, narrowed SMin/SMaxSampleValue
// ranges, alpha below 8 bits, CIE Lab with alpha or of 16 bits. libtiff decompresses them; this
// component reads the samples out of the decoded rows and maps them onto 8- or 16-bit grey, RGB,
// Lab, CMYK or palette indexes, with alpha put on white paper.
#pragma once

#include <tiffio.h>

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "engine/plan/ColourSpace.h"

namespace quorvex {

struct PageLayout;
class TiffDocument;

enum class SampleNumber { Unsigned, Signed, Float };

// The values of one sample that map onto 0 and 1; values beyond are clipped.
struct SampleLimits {
    double low = 0;
    double high = 1;
};

struct SampleFormatPlan {
    SampleNumber number = SampleNumber::Unsigned;
    uint16_t bits = 8;
    uint16_t samplesPerPixel = 1;
    uint16_t colourSamples = 1;
    std::optional<uint16_t> alpha;  // the alpha sample's index within a pixel
    bool associatedAlpha = false;
    bool separatePlanes = false;
    bool tiled = false;
    ColourModel colour = ColourModel::Gray;  // the stored samples' (Indexed: a palette)
    bool minIsWhite = false;
    // Lab: PHOTOMETRIC_CIELAB (a* and b* signed), PHOTOMETRIC_ICCLAB (a* and
    // b* offset by half the range) or PHOTOMETRIC_ITULAB (over its default
    // ranges, -85..85 and -75..125).
    uint16_t labEncoding = PHOTOMETRIC_CIELAB;
    std::vector<SampleLimits> limits;  // one per sample of a pixel
    // Floats without SMin/SMaxSampleValue: their colour limits come from a
    // first pass over the page.
    bool rangeFromPage = false;
    ColourModel outputColour = ColourModel::Gray;
    int outputBits = 8;  // 8 or 16
};

// The plan for a page this component draws, or nothing when another source
// draws it. Fails the page (ConversionError) naming the sample format when no
// source can.
std::optional<SampleFormatPlan> sampleFormatPlanFor(const PageLayout& page);

// Reads `count` samples from a decoded row (packed most significant bit
// first, or 16, 24, 32 and 64 bits in host order) as numbers, into every
// `stride`-th element of `out`.
void unpackSamples(const uint8_t* row, uint64_t count, SampleNumber number, uint16_t bits,
                   double* out, std::size_t stride);

// Maps a value onto 0..1: NaN to 0, infinities to their end, and limits
// that enclose nothing (a constant page) to 0.
double unitValue(double value, const SampleLimits& limits);

// One decoded row's samples as numbers, pixel by pixel.
class RowSamples {
  public:
    RowSamples(const SampleFormatPlan& plan, uint32_t width);
    // `planes` holds one row per plane (one for contiguous samples).
    const std::vector<double>& read(std::span<const uint8_t* const> planes);

  private:
    const SampleFormatPlan& plan_;
    uint32_t width_;
    std::vector<double> values_;
};

// The finite minimum and maximum of a float page's colour samples.
class SampleRange {
  public:
    explicit SampleRange(const SampleFormatPlan& plan) : plan_(plan) {}
    void observe(const std::vector<double>& pixels);
    // The colour limits: 0..1 when every finite value lies in it, else the
    // page's minimum to maximum.
    void applyTo(SampleFormatPlan& plan) const;

  private:
    const SampleFormatPlan& plan_;
    double low_ = 0;
    double high_ = 0;
    bool seen_ = false;
};

// Turns one row's samples into a row of the plan's output.
class SampleMapper {
  public:
    SampleMapper(const SampleFormatPlan& plan, const TiffDocument& document, uint32_t width);
    std::size_t rowBytes() const { return rowBytes_; }
    void convert(const std::vector<double>& pixels, uint8_t* out) const;

  private:
    struct Writer;
    void loadColourMap(const TiffDocument& document);
    void mapPixel(const double* pixel, Writer& out) const;
    void mapLab(const double* pixel, double alpha, Writer& out) const;
    void mapPalette(const double* pixel, double alpha, Writer& out) const;

    const SampleFormatPlan& plan_;
    uint32_t width_;
    std::size_t rowBytes_ = 0;
    std::vector<double> map_[3];  // palette colours, 0..1
};

// The stored rows of a page small enough to keep, so that a page whose
// range is found first is decoded only once; a larger one is decoded twice
// and memory stays one band whatever its size.
class KeptRows {
  public:
    KeptRows(const SampleFormatPlan& plan, uint32_t width, uint32_t height);
    bool keeping() const { return keeping_; }
    void keep(std::span<const uint8_t* const> planes);
    uint32_t rows() const { return rows_; }
    // Row `y`'s planes, valid until the next keep().
    std::span<const uint8_t* const> row(uint32_t y);

  private:
    uint16_t planes_;
    uint64_t planeRowBytes_;
    bool keeping_ = false;
    uint32_t rows_ = 0;
    std::vector<uint8_t> bytes_;
    std::vector<const uint8_t*> pointers_;
};

}  // namespace quorvex
