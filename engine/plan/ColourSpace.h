// The colour space of a page image and the text of its /ColorSpace entry.
#pragma once

#include <tiffio.h>

#include <cstdint>
#include <string>
#include <vector>

namespace quorvex {

struct PageLayout;

struct PaletteEntry {
    int red = 0;
    int green = 0;
    int blue = 0;
};

enum class ColourModel { Gray, Rgb, Cmyk, Indexed, Lab };

// Components a pixel has in the model (an index counts as one).
uint16_t componentsOf(ColourModel colour);

struct ColourSpace {
    ColourModel model = ColourModel::Gray;
    std::vector<PaletteEntry> palette;  // Indexed: written inline, in hexadecimal
    double whiteX = 0;                  // Lab: the white point, Y being 1
    double whiteZ = 0;
    // Gray, Rgb, Cmyk and an Indexed space's base: the /ICCBased stream
    // object that describes the colour instead of the device space, 0 for none.
    uint64_t iccObject = 0;

    static ColourSpace of(ColourModel model) { return ColourSpace{model, {}, 0, 0, 0}; }
    // The page's colour map (or, for grey pages, a ramp) as an inline palette
    // of 1 << BitsPerSample entries. Fails the page when a palette page has
    // no colour map or the palette would be too large.
    static ColourSpace indexed(const PageLayout& page);
    // CIE L*a*b* under the page's white point (D65 when it names none).
    static ColourSpace lab(TIFF* tiff);
    // The space for the model, with the page's palette or white point when
    // the model needs one.
    static ColourSpace forPage(ColourModel model, TIFF* tiff, const PageLayout& page);

    // The whole "/ColorSpace ..." entry with its line ends.
    std::string text() const;
};

}  // namespace quorvex
