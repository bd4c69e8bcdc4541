// Codes a bilevel bitmap as CCITT fax data with libtiff's own encoder, so the
// coded data matches what libtiff (and every PDF reader) decodes.
#pragma once

#include <cstdint>
#include <vector>

#include "engine/read/TiffHandle.h"

namespace quorvex {

enum class CcittGroup {
    Group3OneD,  // T.4 one-dimensional (Modified Huffman with EOLs)
    Group3TwoD,  // T.4 two-dimensional (Modified READ)
    Group4,      // T.6
};

// Which bit value is white in the rows handed to the encoder.
enum class BitmapPolarity {
    ZeroIsWhite,  // as in a min-is-white page
    ZeroIsBlack,  // as in a min-is-black page
};

struct Group3Options {
    // Pads before each EOL so that it ends on a byte; in a PDF this data
    // needs both /EncodedByteAlign true and /EndOfLine true.
    bool byteAlignedRows = false;
};

// Takes rows of 1-bit pixels, packed most significant bit first, one at a
// time, and returns the coded data of the whole bitmap. The data always codes
// the bitmap's real white as white, whatever the rows' polarity, so it
// decodes with the PDF default /BlackIs1 false. Group 4 data ends with EOFB,
// Group 3 data starts every row with an EOL and ends with RTC. Apart from the
// output, memory stays at about one row whatever the height.
// Throws std::runtime_error with libtiff's message when coding fails.
class CcittEncoder {
  public:
    CcittEncoder(uint32_t width, uint32_t height, CcittGroup group, BitmapPolarity polarity,
                 Group3Options group3 = {});
    ~CcittEncoder();
    CcittEncoder(const CcittEncoder&) = delete;
    CcittEncoder& operator=(const CcittEncoder&) = delete;

    // `packedRow` holds (width + 7) / 8 bytes; padding bits are ignored.
    void addRow(const uint8_t* packedRow);
    // Call once, after exactly `height` rows.
    std::vector<uint8_t> finish();

  private:
    [[noreturn]] void fail(const char* what) const;

    uint32_t width_;
    uint32_t height_;
    uint32_t nextRow_ = 0;
    bool invert_;
    std::vector<uint8_t> row_;
    GrowingMemoryFile file_;
    TiffDiagnostics diagnostics_;
    TiffPtr tiff_;
};

}  // namespace quorvex
