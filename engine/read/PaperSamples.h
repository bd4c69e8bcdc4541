// The stored samples that show as blank paper in a page's own colour model:
// what rows libtiff cannot decode are filled with, so they come out white
// whichever way the page's samples are drawn (0 for min-is-white grey and
// for CMYK ink, the largest value for min-is-black grey and RGB, the
// lightest entry of a palette, L* at its top for CIE Lab).
#pragma once

#include <cstdint>
#include <vector>

namespace quorvex {

class TiffDocument;
struct SampleFormatPlan;

class PaperSamples {
  public:
    // For the document's selected page.
    explicit PaperSamples(const TiffDocument& document);

    // `pixels` pixels of paper in stored form, packed as libtiff decodes
    // them: every sample of a pixel, or, for pages stored in separate
    // planes, only those of `plane`.
    std::vector<uint8_t> row(uint64_t pixels, uint16_t plane = 0) const;
    // Fills `bytes` with whole rows of `pixels` pixels of paper.
    void fill(uint8_t* bytes, uint64_t size, uint64_t pixels, uint16_t plane = 0) const;
    // A row of `pixels` pixels of paper as numbers, in the limits `plan`
    // draws the samples over (the page's own range for floats).
    std::vector<double> numbers(const SampleFormatPlan& plan, uint64_t pixels) const;

    // No ink, full light, or a* and b* at 0 (CIE Lab keeps them signed, ICC
    // and ITU Lab offset them by half their range).
    enum class Paper { Lowest, Highest, Neutral };

  private:
    std::vector<Paper> kinds_;      // one per sample of a pixel
    std::vector<uint64_t> values_;  // the same, as stored
    bool palette_ = false;
    uint16_t bits_ = 8;
    bool separatePlanes_ = false;
};

}  // namespace quorvex
