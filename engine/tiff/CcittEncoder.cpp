#include "engine/tiff/CcittEncoder.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <stdexcept>
#include <string>

namespace quorvex {
namespace {

using MemoryFile = CcittEncoder::MemoryFile;

MemoryFile& fileOf(thandle_t handle) {
    return *static_cast<MemoryFile*>(handle);
}

tmsize_t readMemory(thandle_t handle, void* data, tmsize_t size) {
    MemoryFile& file = fileOf(handle);
    if (size < 0 || file.position >= file.bytes.size())
        return 0;
    const uint64_t count =
        std::min<uint64_t>(static_cast<uint64_t>(size), file.bytes.size() - file.position);
    std::memcpy(data, file.bytes.data() + file.position, count);
    file.position += count;
    return static_cast<tmsize_t>(count);
}

tmsize_t writeMemory(thandle_t handle, void* data, tmsize_t size) {
    MemoryFile& file = fileOf(handle);
    if (size < 0)
        return -1;
    const uint64_t count = static_cast<uint64_t>(size);
    if (file.position > std::numeric_limits<std::size_t>::max() - count)
        return -1;
    const std::size_t end = static_cast<std::size_t>(file.position + count);
    try {
        if (end > file.bytes.size())
            file.bytes.resize(end);
    } catch (const std::bad_alloc&) {
        return -1;
    }
    std::memcpy(file.bytes.data() + file.position, data, count);
    file.position = end;
    return size;
}

toff_t seekMemory(thandle_t handle, toff_t offset, int whence) {
    MemoryFile& file = fileOf(handle);
    uint64_t base = 0;
    if (whence == SEEK_CUR)
        base = file.position;
    else if (whence == SEEK_END)
        base = file.bytes.size();
    if (offset > std::numeric_limits<uint64_t>::max() - base)
        return static_cast<toff_t>(-1);
    // Seeking past the end is allowed; the gap appears when something is written there.
    file.position = base + offset;
    return file.position;
}

int closeMemory(thandle_t) {
    return 0;
}

toff_t sizeOfMemory(thandle_t handle) {
    return fileOf(handle).bytes.size();
}

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
    const TiffClientProcs procs{readMemory, writeMemory, seekMemory, closeMemory, sizeOfMemory};
    // "m": the memory file has no mapping to offer.
    tiff_ = openTiffClient("ccitt", "wm", &file_, procs, &diagnostics_);
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
