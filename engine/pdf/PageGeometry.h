// Size of a page in PDF units (1/72 inch), from its pixels and resolution.
#pragma once

#include <cstdint>

namespace quorvex {

class TiffDocument;

struct PageGeometry {
    int64_t width = 0;   // MediaBox width: pixels x 72 / dpi, fraction dropped
    int64_t height = 0;  // MediaBox height: pixels x 72 / dpi, rounded half up

    static PageGeometry of(const TiffDocument& document);
};

}  // namespace quorvex
