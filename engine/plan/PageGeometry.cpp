#include "engine/plan/PageGeometry.h"

#include <tiffio.h>

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "engine/read/PageLayout.h"

namespace quorvex {
namespace {

constexpr double kCentimetresPerInch = 2.54;
constexpr double kFallbackDpi = kUsualDpi;
// Beyond this a page size is clamped rather than overflowing PDF numbers.
constexpr double kLargestPoints = 1e9;

double dotsPerInch(float resolution, uint16_t unit) {
    if (!std::isfinite(resolution) || resolution <= 0)
        return kFallbackDpi;
    const double value = resolution;
    return unit == RESUNIT_CENTIMETER ? value * kCentimetresPerInch : value;
}

// Orientations 5 to 8 store the page's columns as rows.
bool isTransposed(uint16_t orientation) {
    return orientation >= ORIENTATION_LEFTTOP && orientation <= ORIENTATION_LEFTBOT;
}

// Maps the image's unit square (first stored row at its top) onto a page of
// w x h points so the picture reads as the Orientation tag says.
std::array<int64_t, 6> orientationMatrix(uint16_t orientation, int64_t w, int64_t h) {
    switch (orientation) {
        case ORIENTATION_TOPRIGHT:
            return {-w, 0, 0, h, w, 0};
        case ORIENTATION_BOTRIGHT:
            return {-w, 0, 0, -h, w, h};
        case ORIENTATION_BOTLEFT:
            return {w, 0, 0, -h, 0, h};
        case ORIENTATION_LEFTTOP:
            return {0, -h, -w, 0, w, h};
        case ORIENTATION_RIGHTTOP:
            return {0, -h, w, 0, 0, h};
        case ORIENTATION_RIGHTBOT:
            return {0, h, w, 0, 0, 0};
        case ORIENTATION_LEFTBOT:
            return {0, h, -w, 0, w, 0};
        default:
            return {w, 0, 0, h, 0, 0};
    }
}

}  // namespace

PageGeometry PageGeometry::of(const PageLayout& source) {
    const uint16_t unit = source.resolutionUnit;
    double across =
        static_cast<double>(uint64_t{source.width} * 72) / dotsPerInch(source.xResolution, unit);
    double down =
        static_cast<double>(uint64_t{source.height} * 72) / dotsPerInch(source.yResolution, unit);
    if (isTransposed(source.orientation))
        std::swap(across, down);

    PageGeometry page;
    // A page narrower than one point would vanish in every reader.
    page.width = std::max<int64_t>(1, static_cast<int64_t>(std::min(across, kLargestPoints)));
    page.height = std::max<int64_t>(1, static_cast<int64_t>(std::min(down + 0.5, kLargestPoints)));
    page.matrix = orientationMatrix(source.orientation, page.width, page.height);
    return page;
}

std::string PageGeometry::matrixText() const {
    char text[160];
    std::snprintf(text, sizeof text, "%ld %ld %ld %ld %ld %ld cm\r", static_cast<long>(matrix[0]),
                  static_cast<long>(matrix[1]), static_cast<long>(matrix[2]),
                  static_cast<long>(matrix[3]), static_cast<long>(matrix[4]),
                  static_cast<long>(matrix[5]));
    return text;
}

}  // namespace quorvex
