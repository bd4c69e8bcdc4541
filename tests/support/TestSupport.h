#pragma once

// Helpers for tests that check PDFs with real readers (qpdf, poppler's
// pdfinfo and pdfimages, MuPDF's mutool) and compare pixels with libtiff's own
// decode. The readers are run from TestProcesses.cpp, on Linux only; the
// rest (TestSupport.cpp) builds for Windows too.

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace support {

// Names each case of a parameterised test after its parameter's `name`.
struct ParamName {
    template <typename Param>
    std::string operator()(const ::testing::TestParamInfo<Param>& info) const {
        return std::string(info.param.name);
    }
};

// A fresh directory under $TMPDIR (or /tmp; the user's temporary folder on
// Windows), removed with everything in it when the object goes away.
class TempDir {
  public:
    explicit TempDir(const std::string& prefix = "quorvex-test");
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

  private:
    std::filesystem::path path_;
};

struct RgbImage {
    uint32_t width = 0;
    uint32_t height = 0;
    std::vector<uint8_t> rgb;  // width * height * 3 bytes, top row first

    const uint8_t* pixel(uint32_t x, uint32_t y) const {
        return rgb.data() + (static_cast<size_t>(y) * width + x) * 3;
    }
};

// A one-page PDF showing one image XObject over the whole page, one unit per
// pixel. `entries` are the image dictionary's entries besides /Type,
// /Subtype, /Width, /Height and /Length (colour space, bit depth, filter).
std::string singleImagePdf(uint32_t width, uint32_t height, const std::string& entries,
                           const std::string& data);

// A PDF of the given objects (object n is objects[n - 1], object 1 the
// catalog), with its cross-reference table.
std::string pdfFromObjects(const std::vector<std::string>& objects);

// libtiff's decode of one page (counted from 0) through its RGBA interface.
// With applyOrientation the Orientation tag is applied, all of 2 to 8
// (libtiff's own oriented read only flips, so 5 to 8 would come out without
// their quarter turn; this helper turns them itself, swapping width and
// height). Without it the stored raster is returned as it is, top row first.
// Pixels with alpha are laid over white paper, as a converted page shows them:
// libtiff's RGBA interface yields premultiplied colours, and the paper shows
// through by (1 - alpha).
// Throws std::runtime_error naming the file and libtiff's message.
RgbImage decodeTiffPage(const std::filesystem::path& tiff, int pageIndex,
                        bool applyOrientation = true);

// One page's samples (counted from 0) as libtiff decompresses them
// (TIFFReadEncodedStrip or TIFFReadEncodedTile), each read as a number:
// integers by their value, signed ones as such, floats of 16, 24, 32 and 64
// bits decoded. Pixel by pixel, top row first, in stored order.
struct TiffSamples {
    uint32_t width = 0;
    uint32_t height = 0;
    uint16_t samplesPerPixel = 0;
    std::vector<double> values;

    const double* pixel(uint32_t x, uint32_t y) const {
        return values.data() + (static_cast<size_t>(y) * width + x) * samplesPerPixel;
    }
};
TiffSamples readTiffSamples(const std::filesystem::path& tiff, int pageIndex);

struct ImageDiff {
    bool sameSize = false;
    uint64_t mismatchedPixels = 0;  // pixels with a channel off by more than the tolerance
    int maxDifference = 0;          // largest channel difference seen
    std::optional<std::pair<uint32_t, uint32_t>> firstMismatch;  // (x, y), row by row
};
ImageDiff compareImages(const RgbImage& expected, const RgbImage& actual, int tolerance);

// For EXPECT_TRUE / ASSERT_TRUE: says the sizes, how many pixels differ, the
// largest difference and the first differing pixel with both values.
::testing::AssertionResult imagesMatch(const RgbImage& expected, const RgbImage& actual,
                                       int tolerance);

// Writes a binary PPM, handy for looking at a failing comparison.
void writePpm(const std::filesystem::path& path, const RgbImage& image);

// Sets or removes one of this process's environment variables (setenv and
// unsetenv are POSIX; Windows has _putenv_s).
void setEnvironment(const std::string& name, const std::string& value);
void unsetEnvironment(const std::string& name);

// The file's bytes. Throws when it cannot be read.
std::string readFile(const std::filesystem::path& path);

bool fileExists(const std::filesystem::path& path);

#ifndef _WIN32
// Running other programs and switching users are POSIX here: the Windows
// build of the tests has none of these, and its cases that need them are
// left out where they are written.

struct CommandResult {
    int exitCode = -1;      // -1 when the process did not exit normally
    int signal = 0;         // the signal that ended it, 0 if none
    bool timedOut = false;  // killed with SIGKILL after the timeout
    std::string out;
    std::string err;

    bool succeeded() const { return exitCode == 0 && signal == 0 && !timedOut; }
    // "exit 3" / "signal 9" / "timed out", for messages.
    std::string statusText() const;
};

// Runs argv[0] (looked up in PATH) with the arguments, without a shell.
// stdinText, when given, is written to the child's standard input; otherwise
// the child reads /dev/null. Throws std::runtime_error when the program cannot
// be started.
CommandResult runCommand(const std::vector<std::string>& argv,
                         const std::optional<std::string>& stdinText = std::nullopt,
                         std::chrono::milliseconds timeout = std::chrono::seconds(60));

struct QpdfCheck {
    bool ok = false;  // qpdf --check exited 0: no errors and no warnings
    int exitCode = -1;
    std::string output;  // stdout and stderr of qpdf
};
// Exit code 3 (warnings only) counts as a failure; the warnings are in output.
QpdfCheck qpdfCheck(const std::filesystem::path& pdf);

// The page count pdfinfo reports. Throws when pdfinfo fails.
int pdfPageCount(const std::filesystem::path& pdf);

// Renders one page (counted from 0) with `mutool draw -N -f -w W -h H -c rgb`
// (no colour management, stretched to exactly W x H pixels). For a page whose
// image fills it, W x H equal to the image's pixel size maps image pixels
// one to one onto output pixels. Throws on failure.
// With Renderer::Poppler the page is drawn by `pdftoppm` without
// anti-aliasing, four times as large, and the centre of each pixel's block
// taken (Poppler smooths image edges at 1:1).
enum class Renderer { MuPdf, Poppler };
RgbImage renderPdfPage(const std::filesystem::path& pdf, int pageIndex, uint32_t width,
                       uint32_t height, Renderer renderer = Renderer::MuPdf);

// One row of `pdfimages -list`.
struct PdfImageInfo {
    int page = 0;
    int num = 0;
    std::string type;  // image, mask, smask, stencil
    uint32_t width = 0;
    uint32_t height = 0;
    std::string color;  // gray, rgb, cmyk, lab, index, icc, ...
    int components = 0;
    int bitsPerComponent = 0;
    std::string encoding;  // image (Flate and other non-image filters), jpeg, ccitt, jbig2, jpx
    bool interpolate = false;
    int objectNumber = 0;
    int xPpi = 0;
    int yPpi = 0;
};
// Throws when pdfimages fails or prints a row it cannot read.
std::vector<PdfImageInfo> extractImageInfo(const std::filesystem::path& pdf);

// Runs `body` as a user without privileges (nobody) in a child process when
// the tests run as root, so checks of permission denials run everywhere;
// otherwise runs it here. Returns what the body returns; throws when the
// child cannot drop its privileges or dies.
std::string runUnprivileged(const std::function<std::string()>& body);
#endif  // _WIN32

}  // namespace support
