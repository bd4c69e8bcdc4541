#include "engine/read/SampleRoutes.h"

#include <tiffio.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "engine/EngineError.h"
#include "engine/Limits.h"
#include "engine/encode/StreamSink.h"
#include "engine/read/AlphaOverWhite.h"
#include "engine/read/PageDamage.h"
#include "engine/read/PaperSamples.h"
#include "engine/read/StoredRows.h"
#include "engine/read/TiffDocument.h"

namespace quorvex {
namespace {

// The scanline reader's stream is as long as a whole-page buffer of rows x
// width x bytes a sample plus one spare byte, and the bytes no row filled
// carry this value; files have always been written that way, and their bytes
// are kept.
constexpr uint8_t kFiller = 0x0B;
constexpr uint64_t kRgbaChunkBytes = uint64_t{16} << 20;

bool isColourPage(const PageLayout& page) {
    return page.photometric == PHOTOMETRIC_RGB || page.isFullColor();
}

bool isTwoLevelPage(const PageLayout& page) {
    return !page.isFullColor() &&
           (page.photometric == PHOTOMETRIC_MINISWHITE ||
            page.photometric == PHOTOMETRIC_MINISBLACK) &&
           page.bitsPerSample <= 1;
}

// Bytes one row contributes on the scanline reader: pages planned onto it
// have 1, 2, 4 or 8 bits a sample, or three 8-bit samples.
uint64_t scanlineRowBytes(const PageLayout& page) {
    const uint64_t width = page.width;
    if (isColourPage(page))
        return width * 3;
    switch (page.bitsPerSample) {
        case 1:
        case 2:
        case 4:
        case 8:
            return width;
        default:
            return 0;
    }
}

void appendScanlineRow(const PageLayout& page, const uint8_t* row, uint8_t* out) {
    const uint32_t width = page.width;
    if (isColourPage(page)) {
        std::memcpy(out, row, uint64_t{width} * 3);
        return;
    }
    switch (page.bitsPerSample) {
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
        default:
            break;
    }
}

}  // namespace

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
// sample; the stream is as long as the page buffer of (rows x width + 1)
// bytes, three times that for colour pages, with unfilled bytes 0B.
void writeScanlineSamples(PageReading& reading) {
    TIFF* tiff = reading.document.handle();
    const PageLayout& page = reading.document.page();
    const uint64_t pageBytes =
        checkedSize({checkedSize({page.height, page.width}) + 1, isColourPage(page) ? 3U : 1U});
    const uint64_t scanlineSize = TIFFScanlineSize64(tiff);  // 0 when libtiff cannot tell
    const uint64_t rowBytes = scanlineRowBytes(page);
    // Cleared, and never shorter than what a row copies out of it.
    std::vector<uint8_t> row = allocateBuffer(std::max(scanlineSize, rowBytes));
    std::vector<uint8_t> samples = allocateBuffer(rowBytes);
    const bool twoLevel = isTwoLevelPage(page);
    const bool minIsWhite = page.photometric == PHOTOMETRIC_MINISWHITE;

    const PaperSamples paper(reading.document);
    for (uint32_t y = 0; y < page.height; ++y) {
        throwIfCancelled(reading.cancel);
        const std::size_t mark = reading.damage.mark();
        // A row that cannot be decoded is paper (decoders may leave it half
        // written, or zeroed).
        const bool failed = TIFFReadScanline(tiff, row.data(), y, 0) < 0;
        if (failed)
            paper.fill(row.data(), scanlineSize, page.width);
        reading.damage.check(mark, failed, y, y);
        if (rowBytes == 0)
            continue;
        appendScanlineRow(page, row.data(), samples.data());
        if (twoLevel)
            mapTwoLevel(samples.data(), samples.size(), minIsWhite);
        reading.sink.append(samples.data(), samples.size());
    }

    // The rest of the page buffer: filler bytes, mapped like the samples.
    uint64_t remaining = pageBytes - reading.sink.appended();
    std::vector<uint8_t> filler(static_cast<std::size_t>(std::min<uint64_t>(remaining, 1 << 16)),
                                kFiller);
    if (twoLevel)
        mapTwoLevel(filler.data(), filler.size(), minIsWhite);
    while (remaining > 0) {
        const std::size_t piece =
            static_cast<std::size_t>(std::min<uint64_t>(remaining, filler.size()));
        reading.sink.append(filler.data(), piece);
        remaining -= piece;
    }
}

// The strips' coded bytes as stored, joined end to end, with the bit order
// made most-significant-first.
void writeRawStrips(PageReading& reading) {
    TIFF* tiff = reading.document.handle();
    uint64_t* byteCounts = nullptr;
    if (!TIFFGetField(tiff, TIFFTAG_STRIPBYTECOUNTS, &byteCounts) || byteCounts == nullptr) {
        throw ConversionError::unreadable("the page has no strip byte counts");
    }
    const uint32_t strips = TIFFNumberOfStrips(tiff);
    const uint64_t largest = strips == 0 ? 0 : *std::max_element(byteCounts, byteCounts + strips);
    // A count past the end of the file is damage: refuse it before sizing a
    // buffer by it.
    if (largest > storedFileSize(tiff)) {
        throw ConversionError::unreadable("a strip claims " + std::to_string(largest) +
                                          " bytes, more than the file holds");
    }
    std::vector<uint8_t> strip = allocateBuffer(largest);
    const bool reversed = reading.document.page().fillOrder == FILLORDER_LSB2MSB;
    for (uint32_t s = 0; s < strips; ++s) {
        throwIfCancelled(reading.cancel);
        if (byteCounts[s] == 0)
            continue;
        const tmsize_t read =
            TIFFReadRawStrip(tiff, s, strip.data(), static_cast<tmsize_t>(byteCounts[s]));
        if (read < 0) {
            throw ConversionError::unreadable("strip " + std::to_string(s) + " cannot be read");
        }
        if (reversed)
            TIFFReverseBits(strip.data(), read);
        reading.sink.append(strip.data(), static_cast<std::size_t>(read));
    }
}

// Strip by strip through libtiff's decoder; every strip contributes a whole
// strip's bytes, the last one too (its rows past the page carry no image
// data, and files have always had them). Rows of a strip that libtiff cannot
// decode are reported lost and are paper; the strips after it are read as usual.
void writeDecodedStrips(PageReading& reading) {
    TIFF* tiff = reading.document.handle();
    const PageLayout& page = reading.document.page();
    const tmsize_t stripSize =
        TIFFStripSize64(tiff) > 0 ? static_cast<tmsize_t>(TIFFStripSize64(tiff)) : 0;
    const uint32_t strips = TIFFNumberOfStrips(tiff);
    if (stripSize == 0)
        throw ConversionError::unreadable("the page has no strip size");
    checkedSize({static_cast<uint64_t>(stripSize), strips});
    std::vector<uint8_t> strip = allocateBuffer(static_cast<uint64_t>(stripSize));
    const PaperSamples paper(reading.document);
    const uint64_t rowBytes = std::max<uint64_t>(TIFFScanlineSize64(tiff), 1);

    const uint64_t height = page.height;
    const uint64_t rowsPerStrip = page.rowsPerStrip == 0 ? height : page.rowsPerStrip;
    uint64_t rowsDone = 0;
    for (uint32_t s = 0; s < strips; ++s) {
        throwIfCancelled(reading.cancel);
        const uint64_t rowsLeft = rowsDone < height ? height - rowsDone : 0;
        const auto rows = static_cast<uint32_t>(std::min(rowsPerStrip, rowsLeft));
        const tmsize_t size = rowsPerStrip > rowsLeft
                                  ? static_cast<tmsize_t>(TIFFVStripSize64(tiff, rows))
                                  : stripSize;
        const std::size_t mark = reading.damage.mark();
        uint32_t intact = rows;
        if (TIFFReadEncodedStrip(tiff, s, strip.data(), size) < 0) {
            intact = decodableRows(rows, reading.document.diagnostics(), [&](uint32_t count) {
                return TIFFReadEncodedStrip(tiff, s, strip.data(),
                                            static_cast<tmsize_t>(count * rowBytes)) >= 0;
            });
            paper.fill(strip.data() + intact * rowBytes, strip.size() - intact * rowBytes,
                       page.width);
        }
        reading.damage.checkBand(mark, static_cast<uint32_t>(rowsDone), intact, rows);
        reading.sink.append(strip.data(), strip.size());
        rowsDone += rowsPerStrip;
    }
}

// Through libtiff's RGBA reader, top row first, three bytes per pixel, each
// pixel laid over white paper by its alpha. Read in bands of whole strips to
// bound memory.
void writeRgbaSamples(PageReading& reading) {
    TIFF* tiff = reading.document.handle();
    const PageLayout& page = reading.document.page();
    const uint32_t width = page.width;
    const uint32_t height = page.height;
    checkedSize({width, height, 4});

    char message[1024] = {};
    TIFFRGBAImage image{};
    if (!TIFFRGBAImageOK(tiff, message) || !TIFFRGBAImageBegin(&image, tiff, 0, message)) {
        throw ConversionError::unreadable(std::string("cannot read RGBA: ") + message);
    }
    struct ImageEnd {
        TIFFRGBAImage* image;
        ~ImageEnd() { TIFFRGBAImageEnd(image); }
    } end{&image};
    // Rows in stored order, top row first: no flips, so the page can be read
    // in bands; the page's orientation is applied when it is drawn.
    image.req_orientation = image.orientation;

    uint32_t bandRows = height;
    const uint32_t unit = page.tiled ? page.tileLength : page.rowsPerStrip;
    if (unit > 0 && unit < height && width > 0) {
        const uint64_t unitsPerBand =
            std::max<uint64_t>(1, kRgbaChunkBytes / (uint64_t{width} * 4) / unit);
        bandRows = static_cast<uint32_t>(std::min<uint64_t>(height, unitsPerBand * unit));
    }
    std::vector<uint32_t> raster;
    try {
        raster.resize(uint64_t{width} * std::max<uint32_t>(bandRows, 1));
    } catch (const std::bad_alloc&) {
        throw ConversionError::outOfMemory("out of memory for the RGBA raster");
    }
    std::vector<uint8_t> rgb = allocateBuffer(uint64_t{width} * 3);

    for (uint32_t top = 0; top < height; top += bandRows) {
        throwIfCancelled(reading.cancel);
        const uint32_t rows = std::min(bandRows, height - top);
        std::fill(raster.begin(), raster.end(), 0U);
        image.row_offset = static_cast<int>(top);
        image.col_offset = 0;
        const std::size_t mark = reading.damage.mark();
        const bool failed = TIFFRGBAImageGet(&image, raster.data(), width, rows) == 0;
        reading.damage.check(mark, failed, top, top + rows - 1);
        for (uint32_t y = 0; y < rows; ++y) {
            const uint32_t* pixel = raster.data() + uint64_t{y} * width;
            uint8_t* out = rgb.data();
            for (uint32_t x = 0; x < width; ++x, ++pixel) {
                // The reader gives colours multiplied by their alpha.
                const uint32_t alpha = TIFFGetA(*pixel);
                for (const uint32_t colour : {TIFFGetR(*pixel), TIFFGetG(*pixel), TIFFGetB(*pixel)})
                    *out++ = static_cast<uint8_t>(colourOverWhite(colour, alpha, 255U, true));
            }
            reading.sink.append(rgb.data(), rgb.size());
        }
    }
}

}  // namespace quorvex
