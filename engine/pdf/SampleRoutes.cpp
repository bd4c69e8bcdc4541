#include "engine/pdf/SampleRoutes.h"

#include <sys/stat.h>
#include <tiffio.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "engine/EngineError.h"
#include "engine/pdf/StreamSink.h"
#include "engine/tiff/TiffDocument.h"

namespace quorvex {
namespace {

constexpr uint8_t kFiller = 0x0B;  // marks page bytes that no row filled
constexpr uint64_t kRgbaChunkBytes = uint64_t{16} << 20;

// Multiplies sizes, failing the page when the product passes the cap.
uint64_t checkedSize(std::initializer_list<uint64_t> factors) {
    uint64_t product = 1;
    for (const uint64_t factor : factors) {
        if (factor != 0 && product > kMaxBufferBytes / factor) {
            throw EngineFailure(kAllocationFailure, "page too large: its buffers would pass " +
                                                        std::to_string(kMaxBufferBytes) + " bytes");
        }
        product *= factor;
    }
    if (product > kMaxBufferBytes) {
        throw EngineFailure(kAllocationFailure, "page too large: its buffers would pass " +
                                                    std::to_string(kMaxBufferBytes) + " bytes");
    }
    return product;
}

std::vector<uint8_t> allocate(uint64_t size) {
    try {
        return std::vector<uint8_t>(static_cast<std::size_t>(size));
    } catch (const std::bad_alloc&) {
        throw EngineFailure(kAllocationFailure,
                            "out of memory for a " + std::to_string(size) + "-byte buffer");
    }
}

uint64_t fileSizeOf(TIFF* tiff) {
    struct stat info {};
    if (::fstat(TIFFFileno(tiff), &info) != 0 || info.st_size < 0)
        return UINT64_MAX;
    return static_cast<uint64_t>(info.st_size);
}

bool isColourPage(const TiffDocument& document) {
    return document.photometric == PHOTOMETRIC_RGB || document.isFullColor != 0;
}

bool isTwoLevelPage(const TiffDocument& document) {
    return document.isFullColor == 0 &&
           (document.photometric == PHOTOMETRIC_MINISWHITE ||
            document.photometric == PHOTOMETRIC_MINISBLACK) &&
           document.bitsPerSample <= 1;
}

// Bytes one row contributes on the scanline route.
uint64_t scanlineRowBytes(const TiffDocument& document) {
    const uint64_t width = document.imageWidth;
    if (isColourPage(document))
        return width * 3;
    switch (document.bitsPerSample) {
        case 1:
        case 2:
        case 4:
        case 8:
            return width;
        case 16:
            return width * 2;
        default:
            return 0;
    }
}

void appendScanlineRow(const TiffDocument& document, const uint8_t* row, uint8_t* out) {
    const uint32_t width = document.imageWidth;
    if (isColourPage(document)) {
        std::memcpy(out, row, uint64_t{width} * 3);
        return;
    }
    switch (document.bitsPerSample) {
        case 1:
            expandBits1(row, width, out);
            break;
        case 2:
            expandBits2(row, width, out);
            break;
        case 4:
            expandBits4(row, width, out);
            break;
        case 8:
            std::memcpy(out, row, width);
            break;
        case 16:
            std::memcpy(out, row, uint64_t{width} * 2);
            break;
        default:
            break;
    }
}

}  // namespace

void throwIfCancelled(const std::atomic<bool>* cancel) {
    if (cancel != nullptr && cancel->load(std::memory_order_relaxed))
        throw ConversionCancelled();
}

void expandBits1(const uint8_t* row, uint32_t width, uint8_t* out) {
    uint32_t x = 0;
    for (; x + 8 <= width; x += 8, ++row) {
        const uint8_t byte = *row;
        for (int bit = 0; bit < 8; ++bit)
            *out++ = (byte >> (7 - bit)) & 1;
    }
    for (uint32_t bit = 0; x < width; ++x, ++bit)
        *out++ = (*row >> (7 - bit)) & 1;
}

void expandBits2(const uint8_t* row, uint32_t width, uint8_t* out) {
    for (uint32_t x = 0; x < width; ++x) {
        const unsigned shift = 6 - 2 * (x & 3);
        *out++ = (row[x >> 2] >> shift) & 3;
    }
}

void expandBits4(const uint8_t* row, uint32_t width, uint8_t* out) {
    for (uint32_t x = 0; x < width; ++x) {
        *out++ = (x & 1) == 0 ? (row[x >> 1] >> 4) : (row[x >> 1] & 0x0F);
    }
}

void mapTwoLevel(uint8_t* bytes, std::size_t size, bool minIsWhite) {
    const uint8_t zero = minIsWhite ? 0xFF : 0x00;
    const uint8_t other = minIsWhite ? 0x00 : 0xFF;
    for (std::size_t i = 0; i < size; ++i)
        bytes[i] = bytes[i] == 0 ? zero : other;
}

// Row by row through TIFFReadScanline, each row expanded to one byte per
// sample; the stream is as long as the page buffer of (rows x width x bytes
// per sample + 1), three times that for colour pages, with unfilled bytes 0B.
void writeScanlineSamples(TiffDocument& document, SampleSink& sink,
                          const std::atomic<bool>* cancel) {
    TIFF* tiff = document.tiff.get();
    const uint64_t bytesPerSample = document.bitsPerSample > 8 ? 2 : 1;
    const uint64_t pageBytes =
        checkedSize({checkedSize({document.imageLength, document.imageWidth, bytesPerSample}) + 1,
                     isColourPage(document) ? 3U : 1U});
    const uint64_t scanlineSize =
        static_cast<uint64_t>(std::max<tmsize_t>(TIFFScanlineSize64(tiff), 0));
    const uint64_t rowBytes = scanlineRowBytes(document);
    // Cleared, and never shorter than what a row copies out of it.
    std::vector<uint8_t> row = allocate(checkedSize({std::max(scanlineSize, rowBytes)}));
    std::vector<uint8_t> samples = allocate(rowBytes);
    const bool twoLevel = isTwoLevelPage(document);
    const bool minIsWhite = document.photometric == PHOTOMETRIC_MINISWHITE;

    for (uint32_t y = 0; y < document.imageLength; ++y) {
        throwIfCancelled(cancel);
        TIFFReadScanline(tiff, row.data(), y, 0);  // a bad row keeps what the buffer held
        if (rowBytes == 0)
            continue;
        appendScanlineRow(document, row.data(), samples.data());
        if (twoLevel)
            mapTwoLevel(samples.data(), samples.size(), minIsWhite);
        sink.append(samples.data(), samples.size());
    }

    // The rest of the page buffer: filler bytes, mapped like the samples.
    uint64_t remaining = pageBytes - sink.appended();
    std::vector<uint8_t> filler(static_cast<std::size_t>(std::min<uint64_t>(remaining, 1 << 16)),
                                kFiller);
    if (twoLevel)
        mapTwoLevel(filler.data(), filler.size(), minIsWhite);
    while (remaining > 0) {
        const std::size_t piece =
            static_cast<std::size_t>(std::min<uint64_t>(remaining, filler.size()));
        sink.append(filler.data(), piece);
        remaining -= piece;
    }
}

// The strips' coded bytes as stored, joined end to end, with the bit order
// made most-significant-first.
void writeRawStrips(TiffDocument& document, SampleSink& sink, const std::atomic<bool>* cancel) {
    TIFF* tiff = document.tiff.get();
    uint64_t* byteCounts = nullptr;
    if (!TIFFGetField(tiff, TIFFTAG_STRIPBYTECOUNTS, &byteCounts) || byteCounts == nullptr) {
        throw EngineFailure(kImageObjectFailure, "the page has no strip byte counts");
    }
    const uint32_t strips = TIFFNumberOfStrips(tiff);
    const uint64_t largest = strips == 0 ? 0 : *std::max_element(byteCounts, byteCounts + strips);
    // A count past the end of the file is damage: refuse it before sizing a
    // buffer by it.
    if (largest > fileSizeOf(tiff)) {
        throw EngineFailure(kImageObjectFailure, "a strip claims " + std::to_string(largest) +
                                                     " bytes, more than the file holds");
    }
    std::vector<uint8_t> strip = allocate(checkedSize({largest}));
    uint16_t fillOrder = FILLORDER_MSB2LSB;
    TIFFGetFieldDefaulted(tiff, TIFFTAG_FILLORDER, &fillOrder);

    for (uint32_t s = 0; s < strips; ++s) {
        throwIfCancelled(cancel);
        if (byteCounts[s] == 0)
            continue;
        const tmsize_t read =
            TIFFReadRawStrip(tiff, s, strip.data(), static_cast<tmsize_t>(byteCounts[s]));
        if (read < 0) {
            throw EngineFailure(kImageObjectFailure,
                                "strip " + std::to_string(s) + " cannot be read");
        }
        if (fillOrder == FILLORDER_LSB2MSB) {
            TIFFReverseBits(strip.data(), read);
        }
        sink.append(strip.data(), static_cast<std::size_t>(read));
    }
}

// Strip by strip through libtiff's decoder; every strip contributes a whole
// strip's bytes, the last one too. A strip that fails to decode ends the
// page's data there, so a damaged scan still shows what could be read.
void writeDecodedStrips(TiffDocument& document, SampleSink& sink, const std::atomic<bool>* cancel) {
    TIFF* tiff = document.tiff.get();
    const tmsize_t stripSize =
        TIFFStripSize64(tiff) > 0 ? static_cast<tmsize_t>(TIFFStripSize64(tiff)) : 0;
    const uint32_t strips = TIFFNumberOfStrips(tiff);
    if (stripSize == 0)
        throw EngineFailure(kImageObjectFailure, "the page has no strip size");
    checkedSize({static_cast<uint64_t>(stripSize), strips});
    std::vector<uint8_t> strip = allocate(static_cast<uint64_t>(stripSize));

    const uint64_t height = document.imageLength;
    const uint64_t rowsPerStrip = document.rowsPerStrip;
    uint64_t rowsDone = 0;
    for (uint32_t s = 0; s < strips; ++s) {
        throwIfCancelled(cancel);
        tmsize_t size = stripSize;
        if (rowsDone + rowsPerStrip > height) {
            const uint64_t rowsLeft = rowsDone < height ? height - rowsDone : 0;
            size = static_cast<tmsize_t>(TIFFVStripSize64(tiff, static_cast<uint32_t>(rowsLeft)));
        }
        if (TIFFReadEncodedStrip(tiff, s, strip.data(), size) < 0)
            break;
        sink.append(strip.data(), strip.size());
        rowsDone += rowsPerStrip;
    }
}

// Through libtiff's RGBA reader, top row first, three bytes per pixel; alpha
// is dropped. Read in bands of whole strips to bound memory.
void writeRgbaSamples(TiffDocument& document, SampleSink& sink, const std::atomic<bool>* cancel) {
    TIFF* tiff = document.tiff.get();
    const uint32_t width = document.imageWidth;
    const uint32_t height = document.imageLength;
    checkedSize({width, height, 4});

    char message[1024] = {};
    TIFFRGBAImage image{};
    if (!TIFFRGBAImageOK(tiff, message) || !TIFFRGBAImageBegin(&image, tiff, 0, message)) {
        throw EngineFailure(kImageObjectFailure, std::string("cannot read RGBA: ") + message);
    }
    struct ImageEnd {
        TIFFRGBAImage* image;
        ~ImageEnd() { TIFFRGBAImageEnd(image); }
    } end{&image};
    // Rows in stored order, top row first: no flips, so the page can be read
    // in bands; the page's orientation is applied when it is drawn.
    image.req_orientation = image.orientation;

    uint32_t bandRows = height;
    uint32_t unit = 0;
    if (TIFFIsTiled(tiff)) {
        TIFFGetField(tiff, TIFFTAG_TILELENGTH, &unit);
    } else {
        unit = document.rowsPerStrip;
    }
    if (unit > 0 && unit < height && width > 0) {
        const uint64_t unitsPerBand =
            std::max<uint64_t>(1, kRgbaChunkBytes / (uint64_t{width} * 4) / unit);
        bandRows = static_cast<uint32_t>(std::min<uint64_t>(height, unitsPerBand * unit));
    }
    std::vector<uint32_t> raster;
    try {
        raster.resize(uint64_t{width} * std::max<uint32_t>(bandRows, 1));
    } catch (const std::bad_alloc&) {
        throw EngineFailure(kAllocationFailure, "out of memory for the RGBA raster");
    }
    std::vector<uint8_t> rgb = allocate(uint64_t{width} * 3);

    for (uint32_t top = 0; top < height; top += bandRows) {
        throwIfCancelled(cancel);
        const uint32_t rows = std::min(bandRows, height - top);
        std::fill(raster.begin(), raster.end(), 0U);
        image.row_offset = static_cast<int>(top);
        image.col_offset = 0;
        TIFFRGBAImageGet(&image, raster.data(), width, rows);  // damaged parts stay black
        for (uint32_t y = 0; y < rows; ++y) {
            const uint32_t* pixel = raster.data() + uint64_t{y} * width;
            uint8_t* out = rgb.data();
            for (uint32_t x = 0; x < width; ++x, ++pixel) {
                *out++ = static_cast<uint8_t>(TIFFGetR(*pixel));
                *out++ = static_cast<uint8_t>(TIFFGetG(*pixel));
                *out++ = static_cast<uint8_t>(TIFFGetB(*pixel));
            }
            sink.append(rgb.data(), rgb.size());
        }
    }
}

void writeSamples(SampleRoute route, TiffDocument& document, SampleSink& sink,
                  const std::atomic<bool>* cancel) {
    switch (route) {
        case SampleRoute::Scanlines:
            writeScanlineSamples(document, sink, cancel);
            return;
        case SampleRoute::RawStrips:
            writeRawStrips(document, sink, cancel);
            return;
        case SampleRoute::DecodedStrips:
            writeDecodedStrips(document, sink, cancel);
            return;
        case SampleRoute::Rgba:
            writeRgbaSamples(document, sink, cancel);
            return;
    }
}

}  // namespace quorvex
