// A page's embedded ICC profile (tag 34675): read from the selected
// directory, its header checked, and the colour space it describes compared
// with the page's samples. The bytes are never changed; a profile that cannot
// be vouched for is left out of the PDF.
#pragma once

#include <tiffio.h>

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace quorvex {

struct PageLayout;

struct IccHeader {
    uint16_t components = 0;  // 1 (GRAY), 3 (RGB or Lab) or 4 (CMYK); 0 when malformed
    std::string space;        // as the header names it: "RGB", "GRAY", ...
    std::string fault;        // why the profile is malformed, in words
    bool isLab = false;
    int majorVersion = 0;  // the ICC version's major number

    bool wellFormed() const { return fault.empty(); }
};

// The current directory's profile, or nothing when it has none.
std::optional<std::vector<uint8_t>> readIccProfile(TIFF* tiff);

// What the header says: its size must agree with the bytes, its class and
// colour space must be ones an image's colour space can use.
IccHeader inspectIccProfile(std::span<const uint8_t> profile);

// Components of the colour a page's samples carry, by its photometric
// interpretation (a palette's colours are RGB), or 0 when no profile applies.
uint16_t profileComponentsOf(const PageLayout& page);

// A digest of the profile's bytes that tells distinct profiles apart; never 0.
uint64_t iccProfileKey(std::span<const uint8_t> profile);

}  // namespace quorvex
