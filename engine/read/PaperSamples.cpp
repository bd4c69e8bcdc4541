#include "engine/read/PaperSamples.h"

#include <tiffio.h>

#include <algorithm>
#include <bit>

#include "engine/read/SampleFormats.h"
#include "engine/read/TiffDocument.h"

namespace quorvex {
namespace {

using Paper = PaperSamples::Paper;

// Paper for one colour sample: no ink, or full light.
Paper colourPaper(const PageLayout& page, uint16_t sample) {
    switch (page.photometric) {
        case PHOTOMETRIC_MINISWHITE:
        case PHOTOMETRIC_SEPARATED:
            return Paper::Lowest;
        case PHOTOMETRIC_CIELAB:
        case PHOTOMETRIC_ICCLAB:
        case PHOTOMETRIC_ITULAB:
            return sample == 0 ? Paper::Highest : Paper::Neutral;
        default:
            return Paper::Highest;
    }
}

// Alpha is opaque (white on white either way); other extra samples are 0.
Paper extraPaper(const PageLayout& page, uint16_t sample) {
    return static_cast<int>(sample) == page.alphaSample() ? Paper::Highest : Paper::Lowest;
}

uint64_t ones(uint16_t bits) {
    return bits >= 64 ? ~uint64_t{0} : (uint64_t{1} << bits) - 1;
}

// 1.0 in the floating-point widths libtiff decodes.
uint64_t floatOne(uint16_t bits) {
    switch (bits) {
        case 16:
            return 0x3C00;
        case 24:
            return 0x3F0000;
        case 32:
            return 0x3F800000;
        default:
            return 0x3FF0000000000000;
    }
}

uint64_t storedValue(const PageLayout& page, Paper paper, uint16_t bits) {
    if (paper == Paper::Neutral)
        return page.photometric == PHOTOMETRIC_CIELAB ? 0 : uint64_t{1} << (bits - 1);
    switch (page.sampleFormat) {
        case SAMPLEFORMAT_INT:
            // Two's complement: the most negative value is the lowest level.
            return paper == Paper::Highest ? ones(bits) >> 1 : uint64_t{1} << (bits - 1);
        case SAMPLEFORMAT_IEEEFP:
            return paper == Paper::Highest ? floatOne(bits) : 0;
        default:
            return paper == Paper::Highest ? ones(bits) : 0;
    }
}

// The palette entry that comes closest to white.
uint64_t lightestIndex(const PageLayout& page, uint16_t bits) {
    const StoredColourMap* map = page.colourMap.get();
    if (bits > 16 || map == nullptr || map->entries() < (std::size_t{1} << bits))
        return 0;
    const std::size_t entries = std::size_t{1} << bits;
    const std::vector<uint16_t>& red = map->channels[0];
    const std::vector<uint16_t>& green = map->channels[1];
    const std::vector<uint16_t>& blue = map->channels[2];
    uint64_t best = 0;
    uint64_t bestLight = 0;
    for (std::size_t i = 0; i < entries; ++i) {
        const uint64_t light =
            uint64_t{red[i]} * 299 + uint64_t{green[i]} * 587 + uint64_t{blue[i]} * 114;
        if (light > bestLight) {
            bestLight = light;
            best = i;
        }
    }
    return best;
}

// Samples of 16, 24, 32 and 64 bits come from libtiff in host byte order;
// the others are packed from the most significant bit.
bool isHostOrdered(uint16_t bits) {
    return bits >= 16 && bits % 8 == 0;
}

void putBits(std::vector<uint8_t>& row, uint64_t& bit, uint64_t value, uint16_t bits) {
    if (isHostOrdered(bits)) {
        const std::size_t bytes = bits / 8U;
        for (std::size_t i = 0; i < bytes; ++i) {
            const std::size_t shift =
                std::endian::native == std::endian::little ? i : bytes - 1 - i;
            row[bit / 8 + i] = static_cast<uint8_t>(value >> (8 * shift));
        }
        bit += bits;
        return;
    }
    for (int i = bits - 1; i >= 0; --i, ++bit) {
        if (((value >> i) & 1U) != 0)
            row[bit / 8] = static_cast<uint8_t>(row[bit / 8] | (0x80U >> (bit % 8)));
    }
}

}  // namespace

PaperSamples::PaperSamples(const TiffDocument& document) {
    const PageLayout& page = document.page();
    bits_ = page.bitsPerSample == 0 ? 1 : page.bitsPerSample;
    separatePlanes_ = page.separatePlanes;
    palette_ = page.photometric == PHOTOMETRIC_PALETTE;
    const uint16_t colour = page.colourSamples();
    for (uint16_t sample = 0; sample < page.samplesPerPixel; ++sample) {
        const Paper paper = sample < colour ? colourPaper(page, sample) : extraPaper(page, sample);
        kinds_.push_back(paper);
        const bool index = sample == 0 && palette_;
        values_.push_back(index ? lightestIndex(page, bits_) : storedValue(page, paper, bits_));
    }
}

std::vector<double> PaperSamples::numbers(const SampleFormatPlan& plan, uint64_t pixels) const {
    std::vector<double> pixel;
    for (std::size_t s = 0; s < kinds_.size(); ++s) {
        const SampleLimits limits = s < plan.limits.size() ? plan.limits[s] : SampleLimits{};
        if (s == 0 && palette_)
            pixel.push_back(static_cast<double>(values_[0]));
        else if (kinds_[s] == Paper::Neutral)
            pixel.push_back(0);
        else
            pixel.push_back(kinds_[s] == Paper::Highest ? limits.high : limits.low);
    }
    std::vector<double> row;
    row.reserve(pixels * pixel.size());
    for (uint64_t x = 0; x < pixels; ++x)
        row.insert(row.end(), pixel.begin(), pixel.end());
    return row;
}

std::vector<uint8_t> PaperSamples::row(uint64_t pixels, uint16_t plane) const {
    const uint64_t samples = separatePlanes_ ? 1 : values_.size();
    std::vector<uint8_t> row((pixels * samples * bits_ + 7) / 8, 0);
    uint64_t bit = 0;
    for (uint64_t x = 0; x < pixels; ++x) {
        for (uint64_t s = 0; s < samples; ++s) {
            const std::size_t sample =
                separatePlanes_ ? std::min<std::size_t>(plane, values_.size() - 1) : s;
            putBits(row, bit, values_[sample], bits_);
        }
    }
    return row;
}

void PaperSamples::fill(uint8_t* bytes, uint64_t size, uint64_t pixels, uint16_t plane) const {
    const std::vector<uint8_t> paper = row(pixels, plane);
    if (paper.empty())
        return;
    for (uint64_t at = 0; at < size; at += paper.size())
        std::copy_n(paper.begin(), std::min<uint64_t>(paper.size(), size - at), bytes + at);
}

}  // namespace quorvex
