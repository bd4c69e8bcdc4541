#include "support/TestSupport.h"

#include <tiffio.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <random>
#include <sstream>
#include <stdexcept>
#include <system_error>
#include <utility>

namespace support {
namespace {

// ---------------------------------------------------------------------------
// libtiff decoding

struct TiffCloser {
    void operator()(TIFF* tif) const { TIFFClose(tif); }
};
struct OptionsFree {
    void operator()(TIFFOpenOptions* options) const { TIFFOpenOptionsFree(options); }
};
struct RasterFree {
    void operator()(uint32_t* raster) const { _TIFFfree(raster); }
};

int collectError(TIFF*, void* userData, const char* module, const char* fmt, va_list ap) {
    auto* errors = static_cast<std::string*>(userData);
    std::array<char, 1024> text{};
    std::vsnprintf(text.data(), text.size(), fmt, ap);
    if (!errors->empty()) {
        *errors += "; ";
    }
    *errors += std::string(module != nullptr ? module : "") + ": " + text.data();
    return 1;
}

int ignoreWarning(TIFF*, void*, const char*, const char*, va_list) {
    return 1;
}

// Turns a raster stored in its file order into the displayed picture for the
// TIFF Orientation value (which says where row 0 and column 0 are shown).
RgbImage orient(const RgbImage& stored, uint16_t orientation) {
    if (orientation < ORIENTATION_TOPRIGHT || orientation > ORIENTATION_LEFTBOT) {
        return stored;
    }
    const bool transposed = orientation >= ORIENTATION_LEFTTOP;
    RgbImage shown;
    shown.width = transposed ? stored.height : stored.width;
    shown.height = transposed ? stored.width : stored.height;
    shown.rgb.resize(stored.rgb.size());
    for (uint32_t row = 0; row < stored.height; ++row) {
        for (uint32_t col = 0; col < stored.width; ++col) {
            uint32_t x = col;
            uint32_t y = row;
            switch (orientation) {
                case ORIENTATION_TOPRIGHT:
                    x = shown.width - 1 - col;
                    break;
                case ORIENTATION_BOTRIGHT:
                    x = shown.width - 1 - col;
                    y = shown.height - 1 - row;
                    break;
                case ORIENTATION_BOTLEFT:
                    y = shown.height - 1 - row;
                    break;
                case ORIENTATION_LEFTTOP:
                    x = row;
                    y = col;
                    break;
                case ORIENTATION_RIGHTTOP:
                    x = shown.width - 1 - row;
                    y = col;
                    break;
                case ORIENTATION_RIGHTBOT:
                    x = shown.width - 1 - row;
                    y = shown.height - 1 - col;
                    break;
                case ORIENTATION_LEFTBOT:
                    x = row;
                    y = shown.height - 1 - col;
                    break;
                default:
                    break;
            }
            std::memcpy(shown.rgb.data() + (size_t{y} * shown.width + x) * 3,
                        stored.pixel(col, row), 3);
        }
    }
    return shown;
}

class RgbaReader {
  public:
    RgbaReader(TIFF* tif, const std::string& context, std::string& errors)
        : tif_(tif), context_(context), errors_(errors) {}
    ~RgbaReader() {
        if (begun_) {
            TIFFRGBAImageEnd(&image_);
        }
    }
    RgbaReader(const RgbaReader&) = delete;
    RgbaReader& operator=(const RgbaReader&) = delete;

    RgbImage readStoredOrder() {
        std::array<char, 1024> message{};
        if (TIFFRGBAImageBegin(&image_, tif_, 0, message.data()) == 0) {
            fail(message.data());
        }
        begun_ = true;
        // Ask for the raster exactly as stored: claiming the image is already
        // top-left keeps libtiff from flipping it.
        image_.orientation = ORIENTATION_TOPLEFT;
        image_.req_orientation = ORIENTATION_TOPLEFT;
        const uint32_t width = image_.width;
        const uint32_t height = image_.height;
        const size_t pixels = size_t{width} * height;
        std::unique_ptr<uint32_t, RasterFree> raster(
            static_cast<uint32_t*>(_TIFFmalloc(static_cast<tmsize_t>(pixels * 4))));
        if (!raster) {
            fail("out of memory for the raster");
        }
        if (TIFFRGBAImageGet(&image_, raster.get(), width, height) == 0) {
            fail("TIFFRGBAImageGet failed");
        }
        RgbImage out;
        out.width = width;
        out.height = height;
        out.rgb.resize(pixels * 3);
        for (size_t i = 0; i < pixels; ++i) {
            const uint32_t v = raster.get()[i];
            // Premultiplied colours over white paper.
            const uint32_t paper = 255U - TIFFGetA(v);
            out.rgb[i * 3] = static_cast<uint8_t>(std::min(255U, TIFFGetR(v) + paper));
            out.rgb[i * 3 + 1] = static_cast<uint8_t>(std::min(255U, TIFFGetG(v) + paper));
            out.rgb[i * 3 + 2] = static_cast<uint8_t>(std::min(255U, TIFFGetB(v) + paper));
        }
        return out;
    }

  private:
    [[noreturn]] void fail(const std::string& what) const {
        throw std::runtime_error(context_ + ": " + what +
                                 (errors_.empty() ? "" : " (" + errors_ + ")"));
    }

    TIFF* tif_;
    const std::string& context_;
    std::string& errors_;
    TIFFRGBAImage image_{};
    bool begun_ = false;
};
}  // namespace

// ---------------------------------------------------------------------------

TempDir::TempDir(const std::string& prefix) {
    // $TMPDIR (or /tmp) on Linux, the user's temporary folder on Windows,
    // where there is no mkdtemp: a random name, tried until one is free.
    const std::filesystem::path base = std::filesystem::temp_directory_path();
    std::random_device entropy;
    std::uniform_int_distribution<int> letter(0, 35);
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string name = prefix + "-";
        for (int i = 0; i < 8; ++i) {
            const int v = letter(entropy);
            name += static_cast<char>(v < 10 ? '0' + v : 'a' + v - 10);
        }
        std::error_code error;
        if (std::filesystem::create_directory(base / name, error)) {
            path_ = base / name;
            std::filesystem::permissions(path_, std::filesystem::perms::owner_all, error);
            return;
        }
        if (error) {
            throw std::runtime_error("cannot create a folder in " + base.string() + ": " +
                                     error.message());
        }
    }
    throw std::runtime_error("no free folder name in " + base.string());
}

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

std::string singleImagePdf(uint32_t width, uint32_t height, const std::string& entries,
                           const std::string& data) {
    const std::string w = std::to_string(width);
    const std::string h = std::to_string(height);
    const std::string content = "q " + w + " 0 0 " + h + " 0 0 cm /Im0 Do Q";
    const std::vector<std::string> objects = {
        "<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
        "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 " + w + " " + h +
            "] /Resources << /XObject << /Im0 5 0 R >> >> /Contents 4 0 R >>",
        "<< /Length " + std::to_string(content.size()) + " >>\nstream\n" + content + "\nendstream",
        "<< /Type /XObject /Subtype /Image /Width " + w + " /Height " + h + " " + entries +
            " /Length " + std::to_string(data.size()) + " >>\nstream\n" + data + "\nendstream"};
    return pdfFromObjects(objects);
}

std::string pdfFromObjects(const std::vector<std::string>& objects) {
    std::string pdf = "%PDF-1.4\n";
    std::vector<std::size_t> offsets;
    for (std::size_t i = 0; i < objects.size(); ++i) {
        offsets.push_back(pdf.size());
        pdf += std::to_string(i + 1) + " 0 obj\n" + objects[i] + "\nendobj\n";
    }
    const std::size_t xref = pdf.size();
    pdf += "xref\n0 " + std::to_string(objects.size() + 1) + "\n0000000000 65535 f \n";
    for (std::size_t offset : offsets) {
        char entry[21];
        std::snprintf(entry, sizeof entry, "%010zu 00000 n \n", offset);
        pdf += entry;
    }
    pdf += "trailer\n<< /Size " + std::to_string(objects.size() + 1) +
           " /Root 1 0 R >>\nstartxref\n" + std::to_string(xref) + "\n%%EOF\n";
    return pdf;
}

namespace {

std::unique_ptr<TIFF, TiffCloser> openTiffPage(const std::filesystem::path& tiff, int pageIndex,
                                               const std::string& context, std::string& errors) {
    std::unique_ptr<TIFFOpenOptions, OptionsFree> options(TIFFOpenOptionsAlloc());
    TIFFOpenOptionsSetErrorHandlerExtR(options.get(), collectError, &errors);
    TIFFOpenOptionsSetWarningHandlerExtR(options.get(), ignoreWarning, nullptr);
#ifdef _WIN32
    // Windows paths are wide; the narrow call would read the ANSI code page.
    std::unique_ptr<TIFF, TiffCloser> tif(TIFFOpenWExt(tiff.c_str(), "r", options.get()));
#else
    std::unique_ptr<TIFF, TiffCloser> tif(TIFFOpenExt(tiff.c_str(), "r", options.get()));
#endif
    if (!tif) {
        throw std::runtime_error(context + ": cannot open (" + errors + ")");
    }
    if (pageIndex < 0 || TIFFSetDirectory(tif.get(), static_cast<tdir_t>(pageIndex)) == 0) {
        throw std::runtime_error(context + ": no such page (" + errors + ")");
    }
    return tif;
}

// A float of 1 sign bit, `exponentBits` and `mantissaBits`, biased by half
// the exponent's range.
double smallFloat(uint64_t bits, int exponentBits, int mantissaBits) {
    const uint64_t mantissa = bits & ((uint64_t{1} << mantissaBits) - 1);
    const auto exponent = static_cast<int>((bits >> mantissaBits) & ((1U << exponentBits) - 1));
    const bool negative = ((bits >> (exponentBits + mantissaBits)) & 1U) != 0;
    const int bias = (1 << (exponentBits - 1)) - 1;
    double value = 0;
    if (exponent == (1 << exponentBits) - 1) {
        value = mantissa != 0 ? std::nan("") : HUGE_VAL;
    } else {
        const double fraction = static_cast<double>(mantissa) / std::ldexp(1.0, mantissaBits);
        value = exponent == 0 ? std::ldexp(fraction, 1 - bias)
                              : std::ldexp(1.0 + fraction, exponent - bias);
    }
    return negative ? -value : value;
}

// Sample `index` of a decoded row: whole bytes in host order, other widths
// packed from the most significant bit.
double sampleValue(const uint8_t* row, uint64_t index, uint16_t bits, uint16_t format) {
    uint64_t raw = 0;
    if (bits % 8 == 0) {
        const uint64_t bytes = bits / 8;
        for (uint64_t b = 0; b < bytes; ++b) {
            const uint64_t shift = std::endian::native == std::endian::little ? b : bytes - 1 - b;
            raw |= uint64_t{row[index * bytes + b]} << (8 * shift);
        }
    } else {
        for (uint64_t bit = index * bits; bit < (index + 1) * bits; ++bit) {
            raw = (raw << 1) | ((row[bit / 8] >> (7 - bit % 8)) & 1U);
        }
    }
    if (format == SAMPLEFORMAT_IEEEFP) {
        switch (bits) {
            case 16:
                return smallFloat(raw, 5, 10);
            case 24:
                return smallFloat(raw, 7, 16);
            case 32:
                return std::bit_cast<float>(static_cast<uint32_t>(raw));
            default:
                return std::bit_cast<double>(raw);
        }
    }
    if (format == SAMPLEFORMAT_INT && ((raw >> (bits - 1)) & 1U) != 0) {
        return static_cast<double>(raw) - std::ldexp(1.0, bits);
    }
    return static_cast<double>(raw);
}

// Reads the page one strip or tile at a time into `samples`.
class SampleReader {
  public:
    SampleReader(TIFF* tif, const std::string& context) : tif_(tif), context_(context) {
        TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &samples_.width);
        TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &samples_.height);
        TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &samples_.samplesPerPixel);
        TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &bits_);
        TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLEFORMAT, &format_);
        uint16_t planar = PLANARCONFIG_CONTIG;
        TIFFGetFieldDefaulted(tif, TIFFTAG_PLANARCONFIG, &planar);
        separate_ = planar == PLANARCONFIG_SEPARATE;
        samples_.values.resize(static_cast<size_t>(samples_.width) * samples_.height *
                               samples_.samplesPerPixel);
    }

    TiffSamples read() {
        const uint16_t planes = separate_ ? samples_.samplesPerPixel : 1;
        for (uint16_t plane = 0; plane < planes; ++plane) {
            if (TIFFIsTiled(tif_)) {
                readTiles(plane);
            } else {
                readStrips(plane);
            }
        }
        return std::move(samples_);
    }

  private:
    uint16_t samplesInRow() const { return separate_ ? 1 : samples_.samplesPerPixel; }

    void readStrips(uint16_t plane) {
        uint32_t rowsPerStrip = 0;
        TIFFGetFieldDefaulted(tif_, TIFFTAG_ROWSPERSTRIP, &rowsPerStrip);
        rowsPerStrip = std::min(rowsPerStrip, samples_.height);
        std::vector<uint8_t> strip(static_cast<size_t>(TIFFStripSize(tif_)));
        const uint64_t rowBytes = (uint64_t{samples_.width} * samplesInRow() * bits_ + 7) / 8;
        for (uint32_t top = 0; top < samples_.height; top += rowsPerStrip) {
            const uint32_t index = TIFFComputeStrip(tif_, top, plane);
            if (TIFFReadEncodedStrip(tif_, index, strip.data(), -1) < 0) {
                throw std::runtime_error(context_ + ": strip " + std::to_string(index));
            }
            for (uint32_t y = top; y < std::min(top + rowsPerStrip, samples_.height); ++y) {
                store(strip.data() + (y - top) * rowBytes, y, 0, samples_.width, plane);
            }
        }
    }

    void readTiles(uint16_t plane) {
        uint32_t tileWidth = 0;
        uint32_t tileHeight = 0;
        TIFFGetField(tif_, TIFFTAG_TILEWIDTH, &tileWidth);
        TIFFGetField(tif_, TIFFTAG_TILELENGTH, &tileHeight);
        std::vector<uint8_t> tile(static_cast<size_t>(TIFFTileSize(tif_)));
        const uint64_t rowBytes = (uint64_t{tileWidth} * samplesInRow() * bits_ + 7) / 8;
        for (uint32_t top = 0; top < samples_.height; top += tileHeight) {
            for (uint32_t left = 0; left < samples_.width; left += tileWidth) {
                const uint32_t index = TIFFComputeTile(tif_, left, top, 0, plane);
                if (TIFFReadEncodedTile(tif_, index, tile.data(), -1) < 0) {
                    throw std::runtime_error(context_ + ": tile " + std::to_string(index));
                }
                const uint32_t columns = std::min(tileWidth, samples_.width - left);
                for (uint32_t y = top; y < std::min(top + tileHeight, samples_.height); ++y) {
                    store(tile.data() + (y - top) * rowBytes, y, left, columns, plane);
                }
            }
        }
    }

    void store(const uint8_t* row, uint32_t y, uint32_t left, uint32_t columns, uint16_t plane) {
        const uint16_t spp = samples_.samplesPerPixel;
        for (uint32_t x = 0; x < columns; ++x) {
            double* pixel =
                samples_.values.data() + (static_cast<size_t>(y) * samples_.width + left + x) * spp;
            if (separate_) {
                pixel[plane] = sampleValue(row, x, bits_, format_);
                continue;
            }
            for (uint16_t s = 0; s < spp; ++s) {
                pixel[s] = sampleValue(row, uint64_t{x} * spp + s, bits_, format_);
            }
        }
    }

    TIFF* tif_;
    std::string context_;
    TiffSamples samples_;
    uint16_t bits_ = 1;
    uint16_t format_ = SAMPLEFORMAT_UINT;
    bool separate_ = false;
};

}  // namespace

TiffSamples readTiffSamples(const std::filesystem::path& tiff, int pageIndex) {
    const std::string context = tiff.string() + " page " + std::to_string(pageIndex);
    std::string errors;
    const auto tif = openTiffPage(tiff, pageIndex, context, errors);
    return SampleReader(tif.get(), context).read();
}

RgbImage decodeTiffPage(const std::filesystem::path& tiff, int pageIndex, bool applyOrientation) {
    const std::string context = tiff.string() + " page " + std::to_string(pageIndex);
    std::string errors;
    const auto tif = openTiffPage(tiff, pageIndex, context, errors);
    RgbImage stored = RgbaReader(tif.get(), context, errors).readStoredOrder();
    uint16_t orientation = ORIENTATION_TOPLEFT;
    TIFFGetFieldDefaulted(tif.get(), TIFFTAG_ORIENTATION, &orientation);
    return applyOrientation ? orient(stored, orientation) : stored;
}

ImageDiff compareImages(const RgbImage& expected, const RgbImage& actual, int tolerance) {
    ImageDiff diff;
    diff.sameSize = expected.width == actual.width && expected.height == actual.height &&
                    expected.rgb.size() == actual.rgb.size();
    if (!diff.sameSize) {
        return diff;
    }
    for (uint32_t y = 0; y < expected.height; ++y) {
        for (uint32_t x = 0; x < expected.width; ++x) {
            int worst = 0;
            for (int c = 0; c < 3; ++c) {
                worst = std::max(
                    worst, std::abs(int{expected.pixel(x, y)[c]} - int{actual.pixel(x, y)[c]}));
            }
            diff.maxDifference = std::max(diff.maxDifference, worst);
            if (worst > tolerance) {
                ++diff.mismatchedPixels;
                if (!diff.firstMismatch) {
                    diff.firstMismatch = std::make_pair(x, y);
                }
            }
        }
    }
    return diff;
}

::testing::AssertionResult imagesMatch(const RgbImage& expected, const RgbImage& actual,
                                       int tolerance) {
    const ImageDiff diff = compareImages(expected, actual, tolerance);
    if (!diff.sameSize) {
        return ::testing::AssertionFailure()
               << "image sizes differ: expected " << expected.width << "x" << expected.height
               << ", got " << actual.width << "x" << actual.height;
    }
    if (diff.mismatchedPixels == 0) {
        return ::testing::AssertionSuccess();
    }
    const auto [x, y] = *diff.firstMismatch;
    const auto rgbText = [](const uint8_t* p) {
        // Not "(" + std::string: GCC 12 at -O3 (the Windows build) takes that
        // insert at the front for an overlapping copy and warns.
        std::string text(1, '(');
        text +=
            std::to_string(p[0]) + ", " + std::to_string(p[1]) + ", " + std::to_string(p[2]) + ")";
        return text;
    };
    return ::testing::AssertionFailure()
           << diff.mismatchedPixels << " of " << uint64_t{expected.width} * expected.height
           << " pixels differ by more than " << tolerance << " (largest difference "
           << diff.maxDifference << "); first at (" << x << ", " << y << "): expected "
           << rgbText(expected.pixel(x, y)) << ", got " << rgbText(actual.pixel(x, y));
}

void writePpm(const std::filesystem::path& path, const RgbImage& image) {
    std::ofstream out(path, std::ios::binary);
    out << "P6\n" << image.width << " " << image.height << "\n255\n";
    out.write(reinterpret_cast<const char*>(image.rgb.data()),
              static_cast<std::streamsize>(image.rgb.size()));
    if (!out) {
        throw std::runtime_error("cannot write " + path.string());
    }
}

std::string readFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        throw std::runtime_error("cannot open " + path.string());
    }
    std::ostringstream bytes;
    bytes << in.rdbuf();
    if (in.bad()) {
        throw std::runtime_error("cannot read " + path.string());
    }
    return bytes.str();
}

void setEnvironment(const std::string& name, const std::string& value) {
#ifdef _WIN32
    _putenv_s(name.c_str(), value.c_str());
#else
    ::setenv(name.c_str(), value.c_str(), 1);
#endif
}

void unsetEnvironment(const std::string& name) {
#ifdef _WIN32
    _putenv_s(name.c_str(), "");  // an empty value removes it
#else
    ::unsetenv(name.c_str());
#endif
}

bool fileExists(const std::filesystem::path& path) {
    std::error_code ignored;
    return std::filesystem::is_regular_file(path, ignored);
}

}  // namespace support
