// Tiny files that claim enormous pages: the converter must refuse them at
// once, with a reason, instead of decoding or compressing gigabytes of
// nothing.
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

struct GiantPage {
    const char* name;
    PageRecipe page;  // written small, then given the claimed size
    uint32_t width;
    uint32_t height;
};

void PrintTo(const GiantPage& giant, std::ostream* out) {
    *out << giant.name;
}

PageRecipe smallFax() {
    return {.width = 64,
            .height = 16,
            .compression = COMPRESSION_CCITTFAX4,
            .photometric = PHOTOMETRIC_MINISWHITE,
            .bitsPerSample = 1};
}

PageRecipe smallPage(uint16_t compression, uint16_t photometric, uint16_t bits) {
    return {.width = 16,
            .height = 4,
            .compression = compression,
            .photometric = photometric,
            .bitsPerSample = bits};
}

class GiantPageClaim : public ::testing::TestWithParam<GiantPage> {
  protected:
    support::TempDir folder_{"quorvex-giant"};
};

// The engine must say no well under a second: the child gets ten seconds so a
// slow refusal is told apart from a hang.
constexpr double kQuickRefusalSeconds = 1.0;

TEST_P(GiantPageClaim, IsRefusedAtOnceWithAReason) {
    const GiantPage& giant = GetParam();
    const fs::path original = folder_ / "small.tif";
    fixtures::writeTiff(original, {giant.page});
    hostile::TiffBytes file = hostile::TiffBytes::load(original);
    file.setAll(0, TIFFTAG_IMAGEWIDTH, giant.width);
    file.setAll(0, TIFFTAG_IMAGELENGTH, giant.height);
    file.setAll(0, TIFFTAG_ROWSPERSTRIP, giant.height);

    const fs::path input = folder_ / "giant.tif";
    {
        std::ofstream out(input, std::ios::binary);
        out.write(file.bytes().data(), static_cast<std::streamsize>(file.size()));
    }
    quorvex::ConversionRequest request;
    request.inputPath = input.string();
    request.outputPath = (folder_ / "giant.pdf").string();
    request.info.creationDate = "D:20240101000000";
    const hostile::IsolatedResult result = hostile::convertInChild(request);

    ASSERT_TRUE(result.finished()) << result.describe();
    EXPECT_NE(result.result, 1) << "a " << giant.width << " x " << giant.height << " page from a "
                                << file.size() << "-byte file was converted";
    EXPECT_LT(result.seconds, kQuickRefusalSeconds) << result.describe();
    EXPECT_FALSE(result.message.empty());
    EXPECT_FALSE(result.detail.empty()) << "no reason given: " << result.describe();
    EXPECT_EQ(hostile::namesIn(folder_.path()), (std::set<std::string>{"giant.tif", "small.tif"}));
}

INSTANTIATE_TEST_SUITE_P(
    TinyFiles, GiantPageClaim,
    ::testing::Values(
        GiantPage{"g4_200000x200000", smallFax(), 200000, 200000},
        GiantPage{"rgb_uncompressed_100000x100000", smallPage(COMPRESSION_NONE, PHOTOMETRIC_RGB, 8),
                  100000, 100000},
        GiantPage{"grey_uncompressed_60000x60000",
                  smallPage(COMPRESSION_NONE, PHOTOMETRIC_MINISBLACK, 8), 60000, 60000},
        GiantPage{"grey_lzw_60000x60000", smallPage(COMPRESSION_LZW, PHOTOMETRIC_MINISBLACK, 8),
                  60000, 60000},
        GiantPage{"rgb_deflate_50000x50000",
                  smallPage(COMPRESSION_ADOBE_DEFLATE, PHOTOMETRIC_RGB, 8), 50000, 50000},
        GiantPage{"palette_uncompressed_60000x60000",
                  smallPage(COMPRESSION_NONE, PHOTOMETRIC_PALETTE, 8), 60000, 60000},
        GiantPage{"bilevel_packbits_200000x200000",
                  smallPage(COMPRESSION_PACKBITS, PHOTOMETRIC_MINISWHITE, 1), 200000, 200000}),
    support::ParamName());

}  // namespace
