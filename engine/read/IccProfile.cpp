#include "engine/read/IccProfile.h"

#include <array>

#include "engine/read/PageLayout.h"

namespace quorvex {
namespace {

constexpr std::size_t kHeaderBytes = 128;

uint32_t big32(std::span<const uint8_t> bytes, std::size_t at) {
    return (uint32_t{bytes[at]} << 24) | (uint32_t{bytes[at + 1]} << 16) |
           (uint32_t{bytes[at + 2]} << 8) | bytes[at + 3];
}

std::string signature(std::span<const uint8_t> bytes, std::size_t at) {
    return std::string(bytes.begin() + static_cast<std::ptrdiff_t>(at),
                       bytes.begin() + static_cast<std::ptrdiff_t>(at + 4));
}

// Input, display, output and colour space profiles describe a colour space;
// device links, abstract and named colour profiles do not.
bool isImageClass(const std::string& deviceClass) {
    static const std::array<const char*, 4> kClasses = {"scnr", "mntr", "prtr", "spac"};
    for (const char* known : kClasses) {
        if (deviceClass == known)
            return true;
    }
    return false;
}

IccHeader malformed(std::string fault) {
    IccHeader header;
    header.fault = std::move(fault);
    return header;
}

std::string trimmed(std::string text) {
    while (!text.empty() && (text.back() == ' ' || text.back() == '\0'))
        text.pop_back();
    return text;
}

}  // namespace

std::optional<std::vector<uint8_t>> readIccProfile(TIFF* tiff) {
    uint32_t count = 0;
    void* data = nullptr;
    if (!TIFFGetField(tiff, TIFFTAG_ICCPROFILE, &count, &data) || data == nullptr)
        return std::nullopt;
    const auto* bytes = static_cast<const uint8_t*>(data);
    return std::vector<uint8_t>(bytes, bytes + count);
}

IccHeader inspectIccProfile(std::span<const uint8_t> profile) {
    if (profile.size() < kHeaderBytes) {
        return malformed(std::to_string(profile.size()) + " bytes, shorter than its " +
                         std::to_string(kHeaderBytes) + "-byte header");
    }
    const uint32_t declared = big32(profile, 0);
    if (declared != profile.size()) {
        return malformed("its header declares " + std::to_string(declared) + " bytes, it has " +
                         std::to_string(profile.size()));
    }
    if (signature(profile, 36) != "acsp")
        return malformed("its header lacks the profile signature");
    const std::string deviceClass = signature(profile, 12);
    if (!isImageClass(deviceClass))
        return malformed("its class '" + trimmed(deviceClass) + "' describes no colour space");
    IccHeader header;
    header.majorVersion = profile[8];
    const std::string space = signature(profile, 16);
    header.space = trimmed(space);
    header.isLab = space == "Lab ";
    if (space == "GRAY")
        header.components = 1;
    else if (space == "RGB " || space == "Lab ")
        header.components = 3;
    else if (space == "CMYK")
        header.components = 4;
    else
        return malformed("its colour space '" + header.space + "' is not one a page has");
    return header;
}

uint16_t profileComponentsOf(const PageLayout& page) {
    switch (page.photometric) {
        case PHOTOMETRIC_MINISWHITE:
        case PHOTOMETRIC_MINISBLACK:
            return 1;
        case PHOTOMETRIC_RGB:
        case PHOTOMETRIC_YCBCR:
        case PHOTOMETRIC_PALETTE:
            return 3;
        case PHOTOMETRIC_SEPARATED:
            return page.inkSet == INKSET_CMYK && page.colourSamples() >= 4 ? 4 : 0;
        default:
            return 0;
    }
}

uint64_t iccProfileKey(std::span<const uint8_t> profile) {
    // FNV-1a over the bytes, then the length folded in.
    uint64_t hash = 0xcbf29ce484222325ULL;
    for (const uint8_t byte : profile) {
        hash ^= byte;
        hash *= 0x100000001b3ULL;
    }
    hash ^= profile.size() * 0x9E3779B97F4A7C15ULL;
    return hash == 0 ? 1 : hash;
}

}  // namespace quorvex
