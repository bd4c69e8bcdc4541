#include "hostile/TiffPatch.h"

#include <tiffio.h>

#include <fstream>
#include <iterator>
#include <memory>
#include <stdexcept>

namespace hostile {
namespace {

constexpr std::size_t kEntrySize = 12;

std::size_t typeSize(uint16_t type) {
    switch (type) {
        case TIFF_SHORT:
        case TIFF_SSHORT:
            return 2;
        case TIFF_LONG:
        case TIFF_SLONG:
        case TIFF_FLOAT:
        case TIFF_IFD:
            return 4;
        case TIFF_RATIONAL:
        case TIFF_SRATIONAL:
        case TIFF_DOUBLE:
        case TIFF_LONG8:
        case TIFF_SLONG8:
        case TIFF_IFD8:
            return 8;
        default:
            return 1;
    }
}

int quietHandler(TIFF*, void*, const char*, const char*, va_list) {
    return 1;
}

struct TiffCloser {
    void operator()(TIFF* tiff) const { TIFFClose(tiff); }
};

std::vector<uint32_t> directoryOffsetsOf(const std::filesystem::path& path) {
    std::unique_ptr<TIFFOpenOptions, decltype(&TIFFOpenOptionsFree)> options(TIFFOpenOptionsAlloc(),
                                                                             &TIFFOpenOptionsFree);
    TIFFOpenOptionsSetErrorHandlerExtR(options.get(), quietHandler, nullptr);
    TIFFOpenOptionsSetWarningHandlerExtR(options.get(), quietHandler, nullptr);
    std::unique_ptr<TIFF, TiffCloser> tiff(TIFFOpenExt(path.c_str(), "r", options.get()));
    if (!tiff)
        throw std::runtime_error("libtiff cannot open " + path.string());
    if (TIFFIsBigEndian(tiff.get()) || TIFFIsBigTIFF(tiff.get())) {
        throw std::runtime_error(path.string() + " is not a classic little-endian TIFF");
    }
    std::vector<uint32_t> offsets;
    do {
        offsets.push_back(static_cast<uint32_t>(TIFFCurrentDirOffset(tiff.get())));
    } while (TIFFReadDirectory(tiff.get()));
    return offsets;
}

}  // namespace

TiffBytes::TiffBytes(std::string bytes, std::vector<uint32_t> directories)
    : bytes_(std::move(bytes)), directories_(std::move(directories)) {}

TiffBytes TiffBytes::load(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (!in.good() && !in.eof())
        throw std::runtime_error("cannot read " + path.string());
    return TiffBytes(std::move(bytes), directoryOffsetsOf(path));
}

uint16_t TiffBytes::readShort(std::size_t offset) const {
    const auto* p = reinterpret_cast<const uint8_t*>(bytes_.data()) + offset;
    if (offset + 2 > bytes_.size())
        throw std::out_of_range("short past the end of the file");
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

uint32_t TiffBytes::readLong(std::size_t offset) const {
    if (offset + 4 > bytes_.size())
        throw std::out_of_range("long past the end of the file");
    const auto* p = reinterpret_cast<const uint8_t*>(bytes_.data()) + offset;
    return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

void TiffBytes::writeShort(std::size_t offset, uint16_t value) {
    bytes_.at(offset) = static_cast<char>(value & 0xFF);
    bytes_.at(offset + 1) = static_cast<char>(value >> 8);
}

void TiffBytes::writeLong(std::size_t offset, uint32_t value) {
    for (std::size_t i = 0; i < 4; ++i) {
        bytes_.at(offset + i) = static_cast<char>((value >> (8 * i)) & 0xFF);
    }
}

std::vector<IfdEntry> TiffBytes::entries(std::size_t directory) const {
    const std::size_t start = directoryOffset(directory);
    const uint16_t count = readShort(start);
    std::vector<IfdEntry> list;
    for (uint16_t i = 0; i < count; ++i) {
        const std::size_t at = start + 2 + i * kEntrySize;
        list.push_back({readShort(at), readShort(at + 2), readLong(at + 4), at});
    }
    return list;
}

std::optional<IfdEntry> TiffBytes::find(std::size_t directory, uint16_t tag) const {
    for (const IfdEntry& entry : entries(directory)) {
        if (entry.tag == tag)
            return entry;
    }
    return std::nullopt;
}

std::size_t TiffBytes::valuesAt(const IfdEntry& entry) const {
    const uint64_t bytes = uint64_t{entry.count} * typeSize(entry.type);
    return bytes <= 4 ? entry.at + 8 : readLong(entry.at + 8);
}

std::vector<uint32_t> TiffBytes::values(std::size_t directory, uint16_t tag) const {
    const std::optional<IfdEntry> entry = find(directory, tag);
    if (!entry)
        throw std::runtime_error("tag " + std::to_string(tag) + " is absent");
    const std::size_t at = valuesAt(*entry);
    std::vector<uint32_t> list;
    for (uint32_t i = 0; i < entry->count; ++i) {
        list.push_back(entry->type == TIFF_SHORT ? readShort(at + 2 * i) : readLong(at + 4 * i));
    }
    return list;
}

void TiffBytes::setValue(const IfdEntry& entry, uint32_t index, uint32_t value) {
    const std::size_t at = valuesAt(entry);
    if (entry.type == TIFF_SHORT) {
        writeShort(at + 2 * index, static_cast<uint16_t>(value));
    } else if (entry.type == TIFF_LONG) {
        writeLong(at + 4 * index, value);
    } else {
        throw std::runtime_error("tag " + std::to_string(entry.tag) + " is neither SHORT nor LONG");
    }
}

void TiffBytes::setAll(std::size_t directory, uint16_t tag, uint32_t value) {
    std::optional<IfdEntry> entry = find(directory, tag);
    if (!entry)
        throw std::runtime_error("tag " + std::to_string(tag) + " is absent");
    if (entry->count == 1 && entry->type == TIFF_SHORT && value > 0xFFFF) {
        writeShort(entry->at + 2, TIFF_LONG);
        writeLong(entry->at + 8, value);
        return;
    }
    for (uint32_t i = 0; i < entry->count; ++i)
        setValue(*entry, i, value);
}

void TiffBytes::setRational(std::size_t directory, uint16_t tag, uint32_t numerator,
                            uint32_t denominator) {
    const std::optional<IfdEntry> entry = find(directory, tag);
    if (!entry || entry->type != TIFF_RATIONAL) {
        throw std::runtime_error("tag " + std::to_string(tag) + " is not a RATIONAL");
    }
    const std::size_t at = valuesAt(*entry);
    writeLong(at, numerator);
    writeLong(at + 4, denominator);
}

void TiffBytes::setInline(std::size_t directory, uint16_t tag, uint16_t type, uint32_t raw) {
    const std::optional<IfdEntry> entry = find(directory, tag);
    if (!entry)
        throw std::runtime_error("tag " + std::to_string(tag) + " is absent");
    writeShort(entry->at + 2, type);
    writeLong(entry->at + 4, 1);
    writeLong(entry->at + 8, raw);
}

void TiffBytes::retag(std::size_t directory, uint16_t tag, uint16_t newTag) {
    const std::optional<IfdEntry> entry = find(directory, tag);
    if (!entry)
        throw std::runtime_error("tag " + std::to_string(tag) + " is absent");
    writeShort(entry->at, newTag);
}

void TiffBytes::setEntryCount(std::size_t directory, uint16_t count) {
    writeShort(directoryOffset(directory), count);
}

void TiffBytes::setNextDirectory(std::size_t directory, uint32_t offset) {
    const std::size_t start = directoryOffset(directory);
    writeLong(start + 2 + readShort(start) * kEntrySize, offset);
}

TiffBytes TiffBytes::withDirectoryFirst() const {
    if (directories_.size() != 1) {
        throw std::runtime_error("only a one-directory file can be rearranged");
    }
    const std::size_t tailStart = directories_[0];
    const std::size_t tailSize = bytes_.size() - tailStart;
    const auto moved = [&](uint32_t offset) -> uint32_t {
        return offset >= tailStart ? static_cast<uint32_t>(offset - tailStart + 8)
                                   : static_cast<uint32_t>(offset + tailSize);
    };

    TiffBytes result(
        bytes_.substr(0, 8) + bytes_.substr(tailStart) + bytes_.substr(8, tailStart - 8), {8});
    result.writeLong(4, 8);
    for (const IfdEntry& entry : result.entries(0)) {
        if (uint64_t{entry.count} * typeSize(entry.type) > 4) {
            result.writeLong(entry.at + 8, moved(result.readLong(entry.at + 8)));
        }
        if (entry.tag == TIFFTAG_STRIPOFFSETS || entry.tag == TIFFTAG_TILEOFFSETS) {
            const std::vector<uint32_t> offsets = result.values(0, entry.tag);
            for (uint32_t i = 0; i < offsets.size(); ++i)
                result.setValue(entry, i, moved(offsets[i]));
        }
    }
    result.setNextDirectory(0, 0);
    return result;
}

}  // namespace hostile
