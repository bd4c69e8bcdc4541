#include "engine/plan/ColourSpace.h"

#include <cstdio>

#include "engine/EngineError.h"
#include "engine/read/PageLayout.h"

namespace quorvex {
namespace {

// Palettes are written inline in the PDF; beyond 16 bits they are meaningless.
constexpr uint16_t kMaxPaletteBits = 16;

// Values are never negative here, and classic files have always been
// written with exactly this rounding.
int roundHalfUp(double value) {
    return static_cast<int>(value + 0.5);  // NOLINT(bugprone-incorrect-roundings)
}

// Maps whose values all stay below 256 are 8-bit maps written by old
// software.
std::vector<PaletteEntry> colourMapPalette(const PageLayout& page, std::size_t levels) {
    if (!page.colourMap || page.colourMap->entries() < levels)
        throw ConversionError::unreadable("the page's colour map is missing or too large");
    const std::vector<uint16_t>& red = page.colourMap->channels[0];
    const std::vector<uint16_t>& green = page.colourMap->channels[1];
    const std::vector<uint16_t>& blue = page.colourMap->channels[2];
    bool sixteenBit = false;
    for (std::size_t i = 0; i < levels && !sixteenBit; ++i)
        sixteenBit = red[i] >= 256 || green[i] >= 256 || blue[i] >= 256;
    const double scale = sixteenBit ? 65535.0 : 255.0;
    std::vector<PaletteEntry> palette(levels);
    for (std::size_t i = 0; i < levels; ++i) {
        palette[i].red = roundHalfUp(red[i] * 255.0 / scale);
        palette[i].green = roundHalfUp(green[i] * 255.0 / scale);
        palette[i].blue = roundHalfUp(blue[i] * 255.0 / scale);
    }
    return palette;
}

std::vector<PaletteEntry> greyRamp(std::size_t levels, bool minIsBlack) {
    const double highest = levels > 1 ? static_cast<double>(levels - 1) : 1.0;
    std::vector<PaletteEntry> palette(levels);
    for (std::size_t i = 0; i < levels; ++i) {
        const double ramp = static_cast<double>(i) * 255.0 / highest;
        const int value = minIsBlack ? roundHalfUp(ramp) : roundHalfUp(255.0 - ramp);
        palette[i] = PaletteEntry{value, value, value};
    }
    return palette;
}

std::string profileReference(uint64_t object) {
    return "[ /ICCBased " + std::to_string(object) + " 0 R ]";
}

std::string indexedText(const std::vector<PaletteEntry>& palette, uint64_t iccObject) {
    const std::string base = iccObject != 0 ? profileReference(iccObject) : "/DeviceRGB";
    char head[96];
    std::snprintf(head, sizeof head, "/ColorSpace [ /Indexed %s %i <\r\n", base.c_str(),
                  static_cast<int>(palette.size()) - 1);
    std::string text = head;
    text.reserve(text.size() + palette.size() * 7 + palette.size() / 8 * 2 + 8);
    for (std::size_t i = 0; i < palette.size(); ++i) {
        char entry[16];
        std::snprintf(entry, sizeof entry, "%02X%02X%02X ", palette[i].red & 0xFF,
                      palette[i].green & 0xFF, palette[i].blue & 0xFF);
        text += entry;
        if ((i + 1) % 8 == 0)
            text += "\r\n";
    }
    return text + "> ]\r\n";
}

}  // namespace

uint16_t componentsOf(ColourModel colour) {
    switch (colour) {
        case ColourModel::Rgb:
        case ColourModel::Lab:
            return 3;
        case ColourModel::Cmyk:
            return 4;
        default:
            return 1;
    }
}

ColourSpace ColourSpace::forPage(ColourModel model, TIFF* tiff, const PageLayout& page) {
    switch (model) {
        case ColourModel::Indexed:
            return indexed(page);
        case ColourModel::Lab:
            return lab(tiff);
        default:
            return of(model);
    }
}

ColourSpace ColourSpace::indexed(const PageLayout& page) {
    if (page.bitsPerSample > kMaxPaletteBits) {
        throw ConversionError::unreadable("the page's colour map is missing or too large");
    }
    const std::size_t levels = std::size_t{1} << page.bitsPerSample;
    ColourSpace space = of(ColourModel::Indexed);
    space.palette = page.photometric == PHOTOMETRIC_PALETTE
                        ? colourMapPalette(page, levels)
                        : greyRamp(levels, page.photometric == PHOTOMETRIC_MINISBLACK);
    return space;
}

ColourSpace ColourSpace::lab(TIFF* tiff) {
    float* white = nullptr;
    double x = 0.3127;  // D65, TIFF's default white point
    double y = 0.3290;
    if (TIFFGetField(tiff, TIFFTAG_WHITEPOINT, &white) && white != nullptr && white[1] > 0) {
        x = white[0];
        y = white[1];
    }
    ColourSpace space = of(ColourModel::Lab);
    space.whiteX = x / y;
    space.whiteZ = (1.0 - x - y) / y;
    return space;
}

std::string ColourSpace::text() const {
    if (iccObject != 0 && model != ColourModel::Indexed && model != ColourModel::Lab)
        return "/ColorSpace " + profileReference(iccObject) + "\r";
    switch (model) {
        case ColourModel::Gray:
            return "/ColorSpace /DeviceGray\r";
        case ColourModel::Rgb:
            return "/ColorSpace /DeviceRGB\r";
        case ColourModel::Cmyk:
            return "/ColorSpace /DeviceCMYK\r";
        case ColourModel::Indexed:
            return indexedText(palette, iccObject);
        case ColourModel::Lab: {
            char text[160];
            std::snprintf(text, sizeof text,
                          "/ColorSpace [ /Lab << /WhitePoint [ %.4f 1 %.4f ] /Range [ -128 127 "
                          "-128 127 ] >> ]\r",
                          whiteX, whiteZ);
            return text;
        }
    }
    return {};
}

}  // namespace quorvex
