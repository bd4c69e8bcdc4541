#include "app/ByteSize.h"

#include <array>
#include <cstdio>

namespace quorvex::gui {

namespace {

constexpr std::array<const char*, 6> kUnits = {"KB", "MB", "GB", "TB", "PB", "EB"};
constexpr unsigned kBitsPerUnit = 10;  // units of 1024
constexpr unsigned kFractionBits = 32;

std::string withDecimals(uint64_t whole, uint64_t fraction32, int decimals) {
    uint64_t scale = 1;
    for (int digit = 0; digit < decimals; ++digit) {
        scale *= 10;
    }
    // Truncated: a size never reads larger than the file is.
    const uint64_t digits = (fraction32 * scale) >> kFractionBits;
    char text[64];
    if (decimals == 0) {
        std::snprintf(text, sizeof text, "%llu", static_cast<unsigned long long>(whole));
    } else {
        std::snprintf(text, sizeof text, "%llu.%0*llu", static_cast<unsigned long long>(whole),
                      decimals, static_cast<unsigned long long>(digits));
    }
    return text;
}

}  // namespace

std::string formatByteSize(uint64_t bytes) {
    if (bytes < 1024) {
        return std::to_string(bytes) + " bytes";
    }
    std::size_t unit = 0;
    unsigned shift = kBitsPerUnit;
    while ((bytes >> shift) >= 1000 && unit + 1 < kUnits.size()) {
        shift += kBitsPerUnit;
        ++unit;
    }
    const uint64_t whole = bytes >> shift;
    const uint64_t rest = bytes & ((uint64_t{1} << shift) - 1);
    // The part below one unit as a fraction of 2^32, plenty for two digits.
    const uint64_t fraction32 =
        shift > kFractionBits ? rest >> (shift - kFractionBits) : rest << (kFractionBits - shift);
    const int decimals = whole < 10 ? 2 : (whole < 100 ? 1 : 0);
    return withDecimals(whole, fraction32, decimals) + " " + kUnits[unit];
}

}  // namespace quorvex::gui
