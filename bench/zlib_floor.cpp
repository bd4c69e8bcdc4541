// quorvex-zlib-floor: how long one-shot Flate compression at the default level
// takes on a TIFF file's decoded pixels, with nothing else in the way. The
// compressor is the one the converter uses for pages: libdeflate, level 6.
//
// Every page is first decoded with libtiff into memory (strips or tiles as
// stored; JPEG YCbCr pages as RGB), then only compress() is timed, page by
// page, and the times are summed. That is the least a converter that must
// Flate-compress every decoded page at the default level can spend on one
// core. Pages with fewer than eight bits per sample are also timed expanded
// to one byte per sample (00 / FF for bilevel), the form a converter that
// draws them as 8-bit samples compresses.
//
// Output, one line of tab-separated fields:
//   pages  fax_pages  decoded_bytes  decode_s  compress_s  compressed_bytes
//   expanded_bytes  compress_expanded_s  compress_cpu_s  compress_expanded_cpu_s
// (the *_s figures are wall seconds, *_cpu_s the CPU time of the compressing
// thread, which load from elsewhere on the machine does not inflate).
// A file whose pages are all CCITT fax has nothing to compress: a converter
// copies those as they are.
#include <libdeflate.h>
#include <tiffio.h>

#include <time.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

struct TiffCloser {
    void operator()(TIFF* tiff) const { TIFFClose(tiff); }
};
using TiffPtr = std::unique_ptr<TIFF, TiffCloser>;

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

double threadCpuSeconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

struct Timing {
    double wall = 0;
    double cpu = 0;
};

struct DecodedPage {
    std::vector<uint8_t> bytes;
    uint32_t width = 0;
    uint32_t height = 0;
    uint16_t bitsPerSample = 8;
    uint16_t samplesPerPixel = 1;
    bool minIsWhite = false;
};

struct FileFloor {
    uint64_t pages = 0;
    uint64_t faxPages = 0;
    uint64_t decodedBytes = 0;
    double decodeSeconds = 0;
    Timing compress;
    uint64_t compressedBytes = 0;
    uint64_t expandedBytes = 0;
    Timing compressExpanded;
};

std::string pageContext(const std::string& path, uint64_t page) {
    return path + ", page " + std::to_string(page + 1);
}

uint64_t checkedProduct(uint64_t a, uint64_t b, const std::string& context) {
    if (a != 0 && b > UINT64_MAX / a)
        throw std::runtime_error(context + ": size overflows");
    return a * b;
}

// Reads every strip (or tile) of the current page into one buffer, in the
// order stored; short last strips contribute only the bytes they decode to.
std::vector<uint8_t> decodeCurrentPage(TIFF* tiff, const std::string& context) {
    const bool tiled = TIFFIsTiled(tiff) != 0;
    const uint32_t units = tiled ? TIFFNumberOfTiles(tiff) : TIFFNumberOfStrips(tiff);
    const tmsize_t unitSize = tiled ? TIFFTileSize(tiff) : TIFFStripSize(tiff);
    if (unitSize <= 0)
        throw std::runtime_error(context + ": no strip or tile size");
    std::vector<uint8_t> bytes(checkedProduct(units, static_cast<uint64_t>(unitSize), context));
    uint64_t filled = 0;
    for (uint32_t unit = 0; unit < units; ++unit) {
        const tmsize_t got =
            tiled ? TIFFReadEncodedTile(tiff, unit, bytes.data() + filled, unitSize)
                  : TIFFReadEncodedStrip(tiff, unit, bytes.data() + filled, unitSize);
        if (got < 0)
            throw std::runtime_error(context + ": unit " + std::to_string(unit) +
                                     " fails to decode");
        filled += static_cast<uint64_t>(got);
    }
    bytes.resize(filled);
    return bytes;
}

// One byte per sample, bilevel mapped so black is 00 and white FF.
std::vector<uint8_t> expandToBytes(const DecodedPage& page) {
    const uint64_t samplesPerRow = uint64_t{page.width} * page.samplesPerPixel;
    const uint64_t rowBytes = (samplesPerRow * page.bitsPerSample + 7) / 8;
    const unsigned bits = page.bitsPerSample;
    const unsigned mask = (1U << bits) - 1;
    std::vector<uint8_t> out;
    out.reserve(samplesPerRow * page.height);
    for (uint64_t y = 0; y < page.height && (y + 1) * rowBytes <= page.bytes.size(); ++y) {
        const uint8_t* row = page.bytes.data() + y * rowBytes;
        for (uint64_t x = 0; x < samplesPerRow; ++x) {
            const uint64_t bit = x * bits;
            const unsigned value = (row[bit / 8] >> (8 - bits - bit % 8)) & mask;
            unsigned scaled = value * 255 / mask;
            if (page.minIsWhite)
                scaled = 255 - scaled;
            out.push_back(static_cast<uint8_t>(scaled));
        }
    }
    return out;
}

// Times the compression alone; returns the compressed size.
uint64_t timedCompress(const std::vector<uint8_t>& input, Timing& timing) {
    constexpr int kDefaultLevel = 6;
    const std::unique_ptr<libdeflate_compressor, decltype(&libdeflate_free_compressor)> compressor(
        libdeflate_alloc_compressor(kDefaultLevel), &libdeflate_free_compressor);
    if (!compressor)
        throw std::runtime_error("libdeflate: out of memory");
    std::vector<uint8_t> output(libdeflate_zlib_compress_bound(compressor.get(), input.size()));
    const auto start = Clock::now();
    const double cpuStart = threadCpuSeconds();
    const std::size_t outputSize = libdeflate_zlib_compress(
        compressor.get(), input.data(), input.size(), output.data(), output.size());
    timing.cpu += threadCpuSeconds() - cpuStart;
    timing.wall += secondsSince(start);
    if (outputSize == 0)
        throw std::runtime_error("libdeflate_zlib_compress() failed");
    return outputSize;
}

FileFloor measureFile(const std::string& path) {
    TiffPtr tiff(TIFFOpen(path.c_str(), "r"));
    if (!tiff)
        throw std::runtime_error(path + ": libtiff cannot open it");

    FileFloor floor;
    std::vector<DecodedPage> pages;
    do {
        const std::string context = pageContext(path, floor.pages);
        uint16_t compression = COMPRESSION_NONE;
        uint16_t photometric = PHOTOMETRIC_MINISBLACK;
        TIFFGetFieldDefaulted(tiff.get(), TIFFTAG_COMPRESSION, &compression);
        TIFFGetField(tiff.get(), TIFFTAG_PHOTOMETRIC, &photometric);
        ++floor.pages;
        if (compression == COMPRESSION_CCITTFAX3 || compression == COMPRESSION_CCITTFAX4) {
            ++floor.faxPages;
            continue;
        }
        if (compression == COMPRESSION_JPEG && photometric == PHOTOMETRIC_YCBCR) {
            TIFFSetField(tiff.get(), TIFFTAG_JPEGCOLORMODE, JPEGCOLORMODE_RGB);
        }
        DecodedPage page;
        TIFFGetField(tiff.get(), TIFFTAG_IMAGEWIDTH, &page.width);
        TIFFGetField(tiff.get(), TIFFTAG_IMAGELENGTH, &page.height);
        TIFFGetFieldDefaulted(tiff.get(), TIFFTAG_BITSPERSAMPLE, &page.bitsPerSample);
        TIFFGetFieldDefaulted(tiff.get(), TIFFTAG_SAMPLESPERPIXEL, &page.samplesPerPixel);
        page.minIsWhite = photometric == PHOTOMETRIC_MINISWHITE;
        const auto start = Clock::now();
        page.bytes = decodeCurrentPage(tiff.get(), context);
        floor.decodeSeconds += secondsSince(start);
        floor.decodedBytes += page.bytes.size();
        pages.push_back(std::move(page));
    } while (TIFFReadDirectory(tiff.get()));

    for (const DecodedPage& page : pages) {
        floor.compressedBytes += timedCompress(page.bytes, floor.compress);
        if (page.bitsPerSample < 8) {
            const std::vector<uint8_t> expanded = expandToBytes(page);
            floor.expandedBytes += expanded.size();
            timedCompress(expanded, floor.compressExpanded);
        } else {
            floor.expandedBytes += page.bytes.size();
        }
    }
    if (floor.expandedBytes == floor.decodedBytes)
        floor.compressExpanded = floor.compress;
    return floor;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2 || std::strcmp(argv[1], "-h") == 0 || std::strcmp(argv[1], "--help") == 0) {
        std::fprintf(stderr, "usage: quorvex-zlib-floor FILE.tif\n");
        return 2;
    }
    TIFFSetWarningHandler(nullptr);
    try {
        const FileFloor floor = measureFile(argv[1]);
        std::printf("%llu\t%llu\t%llu\t%.4f\t%.4f\t%llu\t%llu\t%.4f\t%.4f\t%.4f\n",
                    static_cast<unsigned long long>(floor.pages),
                    static_cast<unsigned long long>(floor.faxPages),
                    static_cast<unsigned long long>(floor.decodedBytes), floor.decodeSeconds,
                    floor.compress.wall, static_cast<unsigned long long>(floor.compressedBytes),
                    static_cast<unsigned long long>(floor.expandedBytes),
                    floor.compressExpanded.wall, floor.compress.cpu, floor.compressExpanded.cpu);
        return 0;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "quorvex-zlib-floor: %s\n", error.what());
        return 1;
    }
}
