#include "engine/read/FaxStripFile.h"

#include <tiffio.h>

#include <array>
#include <cstring>
#include <limits>

namespace quorvex {
namespace {

constexpr uint16_t kShort = 3;
constexpr uint16_t kLong = 4;
constexpr std::size_t kHeaderBytes = 8;
constexpr std::size_t kEntryBytes = 12;

struct Entry {
    uint16_t tag;
    uint16_t type;
    uint32_t count;
    uint32_t value;  // the value itself, or where the values lie
};

void putLittle(std::vector<uint8_t>& out, uint64_t value, int bytes) {
    for (int i = 0; i < bytes; ++i)
        out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

}  // namespace

std::vector<uint8_t> faxStripFile(const PageLayout& page, const CodedStrips& strips) {
    const bool group3 = page.compression == COMPRESSION_CCITTFAX3;
    const std::size_t entryCount = group3 ? 11 : 10;
    // Header, directory, then the two strip arrays when they do not fit an
    // entry, then the strips.
    const std::size_t arrays = strips.size() > 1 ? 2 * 4 * strips.size() : 0;
    const std::size_t offsetsAt = kHeaderBytes + 2 + entryCount * kEntryBytes + 4;
    uint64_t end = offsetsAt + arrays;
    for (const std::vector<uint8_t>& strip : strips)
        end += strip.size();
    if (strips.empty() || end > std::numeric_limits<uint32_t>::max())
        return {};
    const auto at = [](uint64_t offset) { return static_cast<uint32_t>(offset); };
    const bool inline1 = strips.size() == 1;
    const uint64_t dataAt = offsetsAt + arrays;
    const uint32_t rowsPerStrip =
        page.rowsPerStrip == 0 || page.rowsPerStrip > page.height ? page.height : page.rowsPerStrip;
    // Entries in ascending tag order, as TIFF requires.
    const std::array<Entry, 11> entries{{
        {TIFFTAG_IMAGEWIDTH, kLong, 1, page.width},
        {TIFFTAG_IMAGELENGTH, kLong, 1, page.height},
        {TIFFTAG_BITSPERSAMPLE, kShort, 1, 1},
        {TIFFTAG_COMPRESSION, kShort, 1, page.compression},
        {TIFFTAG_PHOTOMETRIC, kShort, 1, page.photometric},
        {TIFFTAG_FILLORDER, kShort, 1, FILLORDER_MSB2LSB},
        {TIFFTAG_STRIPOFFSETS, kLong, at(strips.size()), at(inline1 ? dataAt : offsetsAt)},
        {TIFFTAG_SAMPLESPERPIXEL, kShort, 1, 1},
        {TIFFTAG_ROWSPERSTRIP, kLong, 1, rowsPerStrip},
        {TIFFTAG_STRIPBYTECOUNTS, kLong, at(strips.size()),
         inline1 ? at(strips[0].size()) : at(offsetsAt + 4 * strips.size())},
        {TIFFTAG_GROUP3OPTIONS, kLong, 1, page.group3Options},
    }};
    std::vector<uint8_t> file;
    file.reserve(end);
    file.insert(file.end(), {'I', 'I', 42, 0});
    putLittle(file, kHeaderBytes, 4);
    putLittle(file, entryCount, 2);
    for (std::size_t i = 0; i < entryCount; ++i) {
        putLittle(file, entries[i].tag, 2);
        putLittle(file, entries[i].type, 2);
        putLittle(file, entries[i].count, 4);
        putLittle(file, entries[i].value, entries[i].type == kShort ? 2 : 4);
        if (entries[i].type == kShort)
            putLittle(file, 0, 2);
    }
    putLittle(file, 0, 4);  // no next directory
    if (!inline1) {
        uint64_t offset = dataAt;
        for (const std::vector<uint8_t>& strip : strips) {
            putLittle(file, offset, 4);
            offset += strip.size();
        }
        for (const std::vector<uint8_t>& strip : strips)
            putLittle(file, strip.size(), 4);
    }
    for (const std::vector<uint8_t>& strip : strips)
        file.insert(file.end(), strip.begin(), strip.end());
    return file;
}

}  // namespace quorvex
