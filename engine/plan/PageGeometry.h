// How a page is placed: its size in PDF units (1/72 inch) from its pixels and
// resolution, and the matrix that draws its image the right way up.
#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace quorvex {

struct PageLayout;

struct PageGeometry {
    int64_t width = 0;   // MediaBox width: pixels x 72 / dpi, fraction dropped
    int64_t height = 0;  // MediaBox height: pixels x 72 / dpi, rounded half up
    // The "cm" operands that map the image's unit square onto the page.
    std::array<int64_t, 6> matrix{};

    static PageGeometry of(const PageLayout& source);

    // "a b c d e f cm\r"
    std::string matrixText() const;
};

}  // namespace quorvex
