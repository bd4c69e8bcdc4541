// A bilevel page that is not fax data, coded in whichever of CCITT Group 4
// and 1-bit Flate is smaller: Group 4 wins on text and line art, Flate on
// halftones and dithered pictures, where nearly every pixel starts a run.
#pragma once

#include <atomic>
#include <cstdint>
#include <vector>

#include "engine/encode/CcittEncoder.h"

namespace quorvex {

// Rows of 1-bit pixels, packed most significant bit first.
struct BilevelBitmap {
    uint32_t width = 0;
    uint32_t height = 0;
    uint64_t rowBytes = 0;
    BitmapPolarity polarity = BitmapPolarity::ZeroIsWhite;
    const uint8_t* rows = nullptr;  // height * rowBytes bytes
};

enum class BilevelCodec { Group4, Flate };

struct CodedBilevel {
    BilevelCodec codec = BilevelCodec::Group4;
    // Group 4 codes white as white; Flate keeps the rows as they are.
    std::vector<uint8_t> bytes;
};

// Codes the bitmap both ways (Flate at `flateLevel`, as every other Flate
// stream of the run) and keeps the shorter; Group 4 only when strictly
// shorter. Throws the cancellation once `cancel` is set.
CodedBilevel codeSmaller(const BilevelBitmap& bitmap, int flateLevel,
                         const std::atomic<bool>* cancel);

}  // namespace quorvex
