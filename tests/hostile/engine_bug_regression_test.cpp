// Reproducers for engine faults found by the fuzzer and the damage suite, one
// test each, from a generated file and a few byte patches. Each runs in a
// child process with a time and memory limit so that a regression shows as
// this test's failure (under the sanitizers: as the child's sanitizer report).
#include <gtest/gtest.h>
#include <tiffio.h>

#include <fstream>

#include "fixtures/TiffFixture.h"
#include "hostile/IsolatedConversion.h"
#include "hostile/TiffPatch.h"
#include "support/TestSupport.h"

namespace {

namespace fs = std::filesystem;
using fixtures::PageRecipe;

constexpr uint64_t kModestMemoryKiB = 256 * 1024;

class EngineBugRegression : public ::testing::Test {
  protected:
    // Writes the page, lets `patch` damage it and converts the result in a
    // child process.
    template <typename Patch>
    hostile::IsolatedResult convertPatched(const PageRecipe& page, Patch patch) {
        const fs::path original = folder_ / "original.tif";
        fixtures::writeTiff(original, {page});
        hostile::TiffBytes bytes = hostile::TiffBytes::load(original);
        patch(bytes);
        fs::remove(original);
        {
            std::ofstream out(input(), std::ios::binary);
            out.write(bytes.bytes().data(), static_cast<std::streamsize>(bytes.size()));
        }
        quorvex::ConversionRequest request;
        request.inputPath = input().string();
        request.outputPath = (folder_ / "out.pdf").string();
        request.info.creationDate = "D:20240101000000";
        return hostile::convertInChild(request);
    }

    fs::path input() const { return folder_ / "in.tif"; }

    // Nothing but the input after a failure; a PDF qpdf accepts after a success.
    void expectCleanEnd(const hostile::IsolatedResult& result) {
        ASSERT_TRUE(result.finished()) << result.describe();
        if (result.converted()) {
            EXPECT_TRUE(support::qpdfCheck(folder_ / "out.pdf").ok);
        } else {
            EXPECT_FALSE(result.message.empty());
            EXPECT_EQ(hostile::namesIn(folder_.path()), std::set<std::string>{"in.tif"});
        }
    }

    support::TempDir folder_{"quorvex-regression"};
};

PageRecipe greyPage() {
    return {.width = 37, .height = 29, .compression = COMPRESSION_PACKBITS, .bitsPerSample = 8};
}

PageRecipe faxPage(uint32_t rowsPerStrip) {
    return {.width = 203,
            .height = 61,
            .compression = COMPRESSION_CCITTFAX4,
            .photometric = PHOTOMETRIC_MINISWHITE,
            .bitsPerSample = 1,
            .rowsPerStrip = rowsPerStrip};
}

// Found by the fuzzer: the number of grey levels was computed as
// 1 << BitsPerSample before the page was refused, a shift past 64 bits for
// pages that claim 64 or more bits per sample (UndefinedBehaviorSanitizer:
// "shift exponent 8200 is too large for 64-bit type" in levelsOf).
TEST_F(EngineBugRegression, GreyPageWith64BitSamplesIsRefusedWithoutOversizedShift) {
    for (const uint32_t bits : {64U, 126U, 8200U}) {
        SCOPED_TRACE(std::to_string(bits) + " bits per sample");
        const hostile::IsolatedResult result = convertPatched(
            greyPage(),
            [&](hostile::TiffBytes& file) { file.setAll(0, TIFFTAG_BITSPERSAMPLE, bits); });
        expectCleanEnd(result);
        EXPECT_FALSE(result.converted());
    }
}

// Found by the damage suite: a fax page whose StripByteCounts claims 2 GiB
// made the raw-strip route allocate and clear a 2 GiB buffer (6 s, 2 GiB
// resident) for a file of under a kilobyte, before libtiff found that the
// strip is not there.
TEST_F(EngineBugRegression, FaxStripClaimingTwoGigabytesIsNotAllocated) {
    const hostile::IsolatedResult result = convertPatched(
        faxPage(fixtures::kWholePage),
        [](hostile::TiffBytes& file) { file.setAll(0, TIFFTAG_STRIPBYTECOUNTS, 0x7FFFFFFF); });
    expectCleanEnd(result);
    EXPECT_LT(result.peakResidentKiB, kModestMemoryKiB) << result.describe();
    EXPECT_LT(result.seconds, 1.0) << result.describe();
}

// Found by the fuzzer (timeouts under the sanitizers): a Group 4 page that
// claims 100 samples per pixel and 65535 rows, from a 1.4 KB file, was
// decoded sample by sample: 1.3 billion samples, 420 MB and a second of work
// in a normal build, over 10 s instrumented. CCITT data has one 1-bit sample
// per pixel; anything else cannot be decoded and should be refused.
TEST_F(EngineBugRegression, FaxPageClaimingHundredSamplesPerPixelIsRefusedQuickly) {
    const hostile::IsolatedResult result =
        convertPatched(faxPage(16), [](hostile::TiffBytes& file) {
            file.setAll(0, TIFFTAG_SAMPLESPERPIXEL, 100);
            file.setAll(0, TIFFTAG_IMAGELENGTH, 65535);
            file.setAll(0, TIFFTAG_ROWSPERSTRIP, 61);
        });
    expectCleanEnd(result);
    EXPECT_LT(result.seconds, 0.5) << result.describe();
    EXPECT_LT(result.peakResidentKiB, kModestMemoryKiB) << result.describe();
}

// Found by the fuzzer: a resolution of 1.4e-45 dpi (the smallest FLOAT) made
// the page 1e48 points wide, converted to a 64-bit integer out of its range
// (UndefinedBehaviorSanitizer: "1.23553e+45 is outside the range of
// representable values of type 'long'" in PageGeometry::of).
TEST_F(EngineBugRegression, PageWithSmallestFloatResolutionHasAFiniteSize) {
    const hostile::IsolatedResult result = convertPatched(greyPage(), [](hostile::TiffBytes& file) {
        file.setInline(0, TIFFTAG_XRESOLUTION, TIFF_FLOAT, 1);
        file.setInline(0, TIFFTAG_YRESOLUTION, TIFF_FLOAT, 1);
    });
    expectCleanEnd(result);
}

}  // namespace
