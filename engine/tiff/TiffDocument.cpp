#include "engine/tiff/TiffDocument.h"

#include <cmath>

namespace quorvex {
namespace {

constexpr uint16_t kPhotometricRgb = 2;
constexpr uint16_t kPhotometricPalette = 3;
constexpr uint16_t kPhotometricSeparated = 5;
constexpr uint16_t kPhotometricYCbCr = 6;
constexpr uint16_t kPhotometricLogLuv = 32845;
constexpr uint16_t kPhotometricMinIsBlack = 1;

// Palettes are written inline in the PDF; beyond 16 bits they are meaningless.
constexpr uint16_t kMaxPaletteBits = 16;

int roundHalfUp(double value) {
    return static_cast<int>(value + 0.5);
}

}  // namespace

void TiffDocument::reset() {
    tiff.reset();
    memory_.reset();
    imageLength = imageWidth = rowsPerStrip = 0;
    bitsPerSample = samplesPerPixel = photometric = compression = orientation = 0;
    xResolution = yResolution = xPosition = yPosition = 0;
    pageCount = -1;
    currentPage = 0;
    isFullColor = 0;
    resolutionUnit = 0;
}

int TiffDocument::open(const char* path, const char* mode) {
    reset();
    tiff = openTiff(path, mode != nullptr ? mode : "rb", &diagnostics_);
    return finishOpen(mode);
}

int TiffDocument::openFd(int fd, const char* path, const char* mode) {
    reset();
    tiff = openTiffFd(fd, path, mode != nullptr ? mode : "rb", &diagnostics_);
    return finishOpen(mode);
}

int TiffDocument::openMemory(std::shared_ptr<const std::vector<uint8_t>> bytes, const char* name) {
    reset();
    memory_ = std::make_unique<MemoryFile>();
    memory_->bytes = std::move(bytes);
    tiff = openTiffMemory(memory_.get(), name, &diagnostics_);
    return finishOpen(nullptr);
}

int TiffDocument::finishOpen(const char* mode) {
    if (!tiff)
        return 0;
    if (mode != nullptr)
        return 1;
    countPages();
    if (!TIFFSetDirectory(tiff.get(), 0))
        return 0;
    currentPage = 0;
    loadPageFields();
    return 1;
}

// Counts the leading directories that libtiff reads one after another; the
// first one that fails ends the count. Reading forward from the current
// directory keeps this linear in the number of pages, and libtiff itself
// stops on a directory chain that loops back.
void TiffDocument::countPages() {
    pageCount = 1;  // opening succeeded, so directory 0 was read
    while (pageCount < kMaxPages && TIFFReadDirectory(tiff.get()))
        ++pageCount;
}

bool TiffDocument::selectPage(int32_t page) {
    if (!tiff || page < 0 || page >= pageCount)
        return false;
    bool ok = false;
    if (page == currentPage + 1 &&
        static_cast<int32_t>(TIFFCurrentDirectory(tiff.get())) == currentPage) {
        ok = TIFFReadDirectory(tiff.get()) != 0;
    } else {
        ok = TIFFSetDirectory(tiff.get(), static_cast<tdir_t>(page)) != 0;
    }
    currentPage = page;
    loadPageFields();
    return ok;
}

void TiffDocument::loadPageFields() {
    imageLength = imageWidth = rowsPerStrip = 0;
    bitsPerSample = samplesPerPixel = photometric = compression = orientation = 0;
    xResolution = yResolution = xPosition = yPosition = 0;
    isFullColor = 0;
    resolutionUnit = 0;

    TIFF* t = tiff.get();
    TIFFGetField(t, TIFFTAG_COMPRESSION, &compression);
    TIFFGetField(t, TIFFTAG_IMAGEWIDTH, &imageWidth);
    TIFFGetField(t, TIFFTAG_IMAGELENGTH, &imageLength);
    TIFFGetField(t, TIFFTAG_SAMPLESPERPIXEL, &samplesPerPixel);
    TIFFGetField(t, TIFFTAG_BITSPERSAMPLE, &bitsPerSample);
    TIFFGetField(t, TIFFTAG_ROWSPERSTRIP, &rowsPerStrip);
    TIFFGetField(t, TIFFTAG_PHOTOMETRIC, &photometric);
    TIFFGetField(t, TIFFTAG_ORIENTATION, &orientation);
    TIFFGetField(t, TIFFTAG_XRESOLUTION, &xResolution);
    TIFFGetField(t, TIFFTAG_YRESOLUTION, &yResolution);
    TIFFGetField(t, TIFFTAG_XPOSITION, &xPosition);
    TIFFGetField(t, TIFFTAG_YPOSITION, &yPosition);
    TIFFGetField(t, TIFFTAG_RESOLUTIONUNIT, &resolutionUnit);

    isFullColor = ((bitsPerSample >= 8 && photometric == kPhotometricRgb) ||
                   photometric == kPhotometricYCbCr || photometric == kPhotometricSeparated ||
                   photometric == kPhotometricLogLuv)
                      ? 1
                      : 0;
    if (xResolution == 0)
        xResolution = defaultResolution_;
    if (yResolution == 0)
        yResolution = defaultResolution_;
}

void TiffDocument::close() {
    tiff.reset();
    memory_.reset();
}

bool TiffDocument::buildPalette(std::vector<PaletteEntry>& palette) const {
    if (bitsPerSample > kMaxPaletteBits)
        return false;
    const std::size_t levels = std::size_t{1} << bitsPerSample;
    palette.assign(levels, PaletteEntry{});
    const double highest = levels > 1 ? static_cast<double>(levels - 1) : 1.0;

    if (photometric == kPhotometricPalette) {
        uint16_t* red = nullptr;
        uint16_t* green = nullptr;
        uint16_t* blue = nullptr;
        if (!TIFFGetField(tiff.get(), TIFFTAG_COLORMAP, &red, &green, &blue) || red == nullptr ||
            green == nullptr || blue == nullptr) {
            return false;
        }
        // libtiff sizes the colour map at 1 << BitsPerSample entries.
        bool sixteenBit = false;
        for (std::size_t i = 0; i < levels && !sixteenBit; ++i) {
            sixteenBit = red[i] >= 256 || green[i] >= 256 || blue[i] >= 256;
        }
        const double scale = sixteenBit ? 65535.0 : 255.0;
        for (std::size_t i = 0; i < levels; ++i) {
            palette[i].red = roundHalfUp(red[i] * 255.0 / scale);
            palette[i].green = roundHalfUp(green[i] * 255.0 / scale);
            palette[i].blue = roundHalfUp(blue[i] * 255.0 / scale);
        }
        return true;
    }
    for (std::size_t i = 0; i < levels; ++i) {
        const double ramp = static_cast<double>(i) * 255.0 / highest;
        const int value =
            photometric == kPhotometricMinIsBlack ? roundHalfUp(ramp) : roundHalfUp(255.0 - ramp);
        palette[i] = PaletteEntry{value, value, value};
    }
    return true;
}

}  // namespace quorvex
