#include "engine/encode/CcittEncoder.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <stdexcept>
#include <string>

namespace quorvex {
namespace {

uint16_t compressionFor(CcittGroup group) {
    return group == CcittGroup::Group4 ? COMPRESSION_CCITTFAX4 : COMPRESSION_CCITTFAX3;
}

}  // namespace

CcittEncoder::CcittEncoder(uint32_t width, uint32_t height, CcittGroup group,
                           BitmapPolarity polarity, Group3Options group3)
    : width_(width),
      height_(height),
      invert_(polarity == BitmapPolarity::ZeroIsBlack),
      row_((static_cast<std::size_t>(width) + 7) / 8) {
    if (width == 0 || height == 0)
        throw std::invalid_argument("a CCITT bitmap needs at least one pixel");
    // "m": the memory file has no mapping to offer.
    tiff_ = openTiffMemory(&file_, "ccitt", "wm", &diagnostics_);
    if (!tiff_)
        fail("cannot start the CCITT encoder");
    TIFF* tiff = tiff_.get();
    // libtiff's coder reads a 0 bit as white; the rows are inverted on the
    // way in when theirs is the other way round.
    const bool tagged = TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, width) &&
                        TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, height) &&
                        TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, 1) &&
                        TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, 1) &&
                        TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISWHITE) &&
                        TIFFSetField(tiff, TIFFTAG_FILLORDER, FILLORDER_MSB2LSB) &&
                        TIFFSetField(tiff, TIFFTAG_ROWSPERSTRIP, height) &&
                        TIFFSetField(tiff, TIFFTAG_COMPRESSION, compressionFor(group));
    if (!tagged)
        fail("cannot set up the CCITT encoder");
    if (group != CcittGroup::Group4) {
        uint32_t options = group == CcittGroup::Group3TwoD ? GROUP3OPT_2DENCODING : 0;
        if (group3.byteAlignedRows)
            options |= GROUP3OPT_FILLBITS;
        if (!TIFFSetField(tiff, TIFFTAG_GROUP3OPTIONS, options))
            fail("cannot set up the CCITT encoder");
    }
}

CcittEncoder::~CcittEncoder() = default;

void CcittEncoder::addRow(const uint8_t* packedRow) {
    if (nextRow_ >= height_)
        throw std::logic_error("more rows than the bitmap's height");
    if (invert_) {
        std::transform(packedRow, packedRow + row_.size(), row_.begin(),
                       [](uint8_t byte) { return static_cast<uint8_t>(~byte); });
    } else {
        std::copy(packedRow, packedRow + row_.size(), row_.begin());
    }
    if (TIFFWriteScanline(tiff_.get(), row_.data(), nextRow_, 0) < 0)
        fail("CCITT coding failed");
    ++nextRow_;
}

std::vector<uint8_t> CcittEncoder::finish() {
    if (!tiff_ || nextRow_ != height_)
        throw std::logic_error("the CCITT bitmap is incomplete");
    TIFF* tiff = tiff_.get();
    // Ends the strip (EOFB / RTC) and writes it out, so its place is known
    // before the directory follows it.
    if (!TIFFFlushData(tiff))
        fail("CCITT coding failed");
    const uint64_t offset = TIFFGetStrileOffset(tiff, 0);
    const uint64_t count = TIFFGetStrileByteCount(tiff, 0);
    tiff_.reset();
    if (offset > file_.bytes.size() || count > file_.bytes.size() - offset)
        throw std::runtime_error("CCITT coding failed: the strip lies outside the file");
    // Keep the strip's bytes in place rather than copying them.
    std::vector<uint8_t> data = std::move(file_.bytes);
    data.erase(data.begin(), data.begin() + static_cast<std::ptrdiff_t>(offset));
    data.resize(static_cast<std::size_t>(count));
    return data;
}

void CcittEncoder::fail(const char* what) const {
    const std::string& reason = diagnostics_.lastError();
    throw std::runtime_error(reason.empty() ? std::string(what)
                                            : std::string(what) + ": " + reason);
}

}  // namespace quorvex
