// Byte-level damage to classic little-endian TIFF files: the directories are
// located with libtiff, their entries are walked here, and single fields,
// directory links or whole regions are overwritten the way a broken writer or
// an attacker would.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace hostile {

struct IfdEntry {
    uint16_t tag = 0;
    uint16_t type = 0;  // TIFF_SHORT, TIFF_LONG, ...
    uint32_t count = 0;
    std::size_t at = 0;  // file offset of the 12-byte entry
};

class TiffBytes {
  public:
    // Reads a classic little-endian TIFF and finds its directories through
    // libtiff. Throws std::runtime_error for anything else.
    static TiffBytes load(const std::filesystem::path& path);

    const std::string& bytes() const { return bytes_; }
    std::size_t size() const { return bytes_.size(); }
    std::size_t directoryCount() const { return directories_.size(); }
    uint32_t directoryOffset(std::size_t directory) const { return directories_.at(directory); }

    std::vector<IfdEntry> entries(std::size_t directory) const;
    std::optional<IfdEntry> find(std::size_t directory, uint16_t tag) const;
    bool has(std::size_t directory, uint16_t tag) const { return find(directory, tag).has_value(); }

    // Every value of a SHORT or LONG entry. A one-value entry takes the LONG
    // type when the value does not fit a SHORT. Throws when the tag is absent.
    void setAll(std::size_t directory, uint16_t tag, uint32_t value);
    // The values of a SHORT or LONG entry, wherever they are stored.
    std::vector<uint32_t> values(std::size_t directory, uint16_t tag) const;
    void setValue(const IfdEntry& entry, uint32_t index, uint32_t value);

    // The first value of a RATIONAL entry.
    void setRational(std::size_t directory, uint16_t tag, uint32_t numerator, uint32_t denominator);
    // Rewrites the entry as one value of `type` held in the entry itself
    // (e.g. a RATIONAL resolution turned into a FLOAT with raw bits).
    void setInline(std::size_t directory, uint16_t tag, uint16_t type, uint32_t raw);
    // Gives the entry another tag number, which hides it from readers.
    void retag(std::size_t directory, uint16_t tag, uint16_t newTag);
    void setEntryCount(std::size_t directory, uint16_t count);
    // The link that follows the directory (0 ends the chain).
    void setNextDirectory(std::size_t directory, uint32_t offset);

    void truncate(std::size_t size) { bytes_.resize(std::min(size, bytes_.size())); }
    void xorByte(std::size_t offset, uint8_t mask) { bytes_.at(offset) ^= static_cast<char>(mask); }
    // Where the first directory and the values stored after it begin.
    std::size_t directoryRegionStart() const { return directories_.at(0); }

    // A copy of a one-directory file rearranged the way many scanners write:
    // header, directory and its values first, image data last. Truncating it
    // cuts the image data while the directory survives.
    TiffBytes withDirectoryFirst() const;

  private:
    TiffBytes(std::string bytes, std::vector<uint32_t> directories);

    uint16_t readShort(std::size_t offset) const;
    uint32_t readLong(std::size_t offset) const;
    void writeShort(std::size_t offset, uint16_t value);
    void writeLong(std::size_t offset, uint32_t value);
    // Where an entry's values are: inside the entry or at the offset it holds.
    std::size_t valuesAt(const IfdEntry& entry) const;

    std::string bytes_;
    std::vector<uint32_t> directories_;
};

}  // namespace hostile
