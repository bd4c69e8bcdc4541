#include "engine/tiff/FaxStripFile.h"

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
    uint32_t value;
};

void putLittle(std::vector<uint8_t>& out, uint64_t value, int bytes) {
    for (int i = 0; i < bytes; ++i)
        out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

}  // namespace

std::vector<uint8_t> faxStripFile(const PageLayout& page, const std::vector<uint8_t>& coded) {
    const bool group3 = page.compression == COMPRESSION_CCITTFAX3;
    const std::size_t entryCount = group3 ? 11 : 10;
    const std::size_t dataOffset = kHeaderBytes + 2 + entryCount * kEntryBytes + 4;
    if (coded.size() > std::numeric_limits<uint32_t>::max() - dataOffset)
        return {};
    // Entries in ascending tag order, as TIFF requires; every value fits the
    // entry itself.
    const std::array<Entry, 11> entries{{
        {TIFFTAG_IMAGEWIDTH, kLong, page.width},
        {TIFFTAG_IMAGELENGTH, kLong, page.height},
        {TIFFTAG_BITSPERSAMPLE, kShort, 1},
        {TIFFTAG_COMPRESSION, kShort, page.compression},
        {TIFFTAG_PHOTOMETRIC, kShort, page.photometric},
        {TIFFTAG_FILLORDER, kShort, FILLORDER_MSB2LSB},
        {TIFFTAG_STRIPOFFSETS, kLong, static_cast<uint32_t>(dataOffset)},
        {TIFFTAG_SAMPLESPERPIXEL, kShort, 1},
        {TIFFTAG_ROWSPERSTRIP, kLong, page.height},
        {TIFFTAG_STRIPBYTECOUNTS, kLong, static_cast<uint32_t>(coded.size())},
        {TIFFTAG_GROUP3OPTIONS, kLong, page.group3Options},
    }};
    std::vector<uint8_t> file;
    file.reserve(dataOffset + coded.size());
    file.insert(file.end(), {'I', 'I', 42, 0});
    putLittle(file, kHeaderBytes, 4);
    putLittle(file, entryCount, 2);
    for (std::size_t i = 0; i < entryCount; ++i) {
        putLittle(file, entries[i].tag, 2);
        putLittle(file, entries[i].type, 2);
        putLittle(file, 1, 4);
        putLittle(file, entries[i].value, entries[i].type == kShort ? 2 : 4);
        if (entries[i].type == kShort)
            putLittle(file, 0, 2);
    }
    putLittle(file, 0, 4);  // no next directory
    file.insert(file.end(), coded.begin(), coded.end());
    return file;
}

}  // namespace quorvex
