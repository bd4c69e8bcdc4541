// Pages the compression-based routes would misdraw take the decoded path:
// what their image dictionaries say, and where the page's geometry changes.
#include <gtest/gtest.h>

#include <regex>

#include "ConvertedPdf.h"
#include "engine/Conversion.h"
#include "engine/read/AlphaOverWhite.h"
#include "engine/read/StoredSample.h"
#include "fixtures/TiffFixture.h"
#include "support/TestSupport.h"

namespace fs = std::filesystem;
using fixtures::PageRecipe;

namespace {

std::string convertToBytes(const support::TempDir&, const std::vector<PageRecipe>& pages) {
    quorvex::DocumentInfo info = quorvex::DocumentInfo::applicationDefaults();
    info.creationDate = "fixed";
    return convertedpdf::convertPages(pages, info);
}

std::string objectText(const std::string& pdf, int number) {
    return convertedpdf::objectDictionary(pdf, number);
}

std::string imageDictionary(const std::vector<PageRecipe>& pages) {
    support::TempDir dir;
    return objectText(convertToBytes(dir, pages), 7);
}

TEST(DecodedPath, SixteenBitGreyKeepsItsDepth) {
    const std::string image = imageDictionary({{.bitsPerSample = 16}});
    EXPECT_NE(image.find("/ColorSpace /DeviceGray\r"), std::string::npos) << image;
    EXPECT_NE(image.find("/BitsPerComponent 16\r"), std::string::npos) << image;
}

TEST(DecodedPath, MinIsWhiteGreyIsDrawnThroughADecodeArray) {
    const std::string image = imageDictionary({{.compression = COMPRESSION_LZW,
                                                .photometric = PHOTOMETRIC_MINISWHITE,
                                                .bitsPerSample = 1}});
    EXPECT_NE(image.find("/Decode [ 1 0 ]\r"), std::string::npos) << image;
    EXPECT_NE(image.find("/BitsPerComponent 1\r"), std::string::npos) << image;
}

TEST(DecodedPath, OneBitPaletteKeepsItsTwoColours) {
    fixtures::ColorMap map{{65535, 0}, {0, 0}, {0, 65535}};
    const std::string image = imageDictionary(
        {{.photometric = PHOTOMETRIC_PALETTE, .bitsPerSample = 1, .colorMap = map}});
    EXPECT_NE(image.find("/ColorSpace [ /Indexed /DeviceRGB 1 <\r\nFF0000 0000FF > ]\r\n"),
              std::string::npos)
        << image;
}

TEST(DecodedPath, CmykPageAfterTheFirstHasFourComponents) {
    support::TempDir dir;
    const std::string pdf = convertToBytes(
        dir, {{.photometric = PHOTOMETRIC_RGB}, {.photometric = PHOTOMETRIC_SEPARATED}});
    const std::string image = objectText(pdf, 12);
    EXPECT_NE(image.find("/ColorSpace /DeviceCMYK\r"), std::string::npos) << image;
    EXPECT_NE(image.find("/BitsPerComponent 8\r"), std::string::npos) << image;
}

#ifndef _WIN32
// Poppler runs on Linux only.
// Pixel bytes of a one-row rendering by poppler (MuPDF here lacks the colour
// management its Lab conversion needs).
std::vector<int> popplerRow(const fs::path& pdf, const support::TempDir& dir, int width) {
    const auto result =
        support::runCommand({"pdftoppm", "-scale-to-x", std::to_string(width), "-scale-to-y", "1",
                             "-singlefile", pdf.string(), (dir / "row").string()});
    if (!result.succeeded())
        throw std::runtime_error("pdftoppm: " + result.err);
    const std::string ppm = support::readFile(dir / "row.ppm");
    const std::size_t pixels = ppm.size() - static_cast<std::size_t>(width) * 3;
    std::vector<int> values;
    for (std::size_t i = pixels; i < ppm.size(); ++i)
        values.push_back(static_cast<uint8_t>(ppm[i]));
    return values;
}
#endif

// CIE Lab goes into a PDF Lab colour space with a* and b* made unsigned:
// neutral colours show as greys that lighten with L*.
TEST(DecodedPath, CieLabNeutralsShowAsGreys) {
    support::TempDir dir;
    // Four blocks of ten pixels: poppler smooths across block edges.
    std::vector<uint8_t> samples;
    for (const uint8_t lightness : {uint8_t{0}, uint8_t{64}, uint8_t{160}, uint8_t{255}}) {
        for (int i = 0; i < 10; ++i)
            samples.insert(samples.end(), {lightness, 0, 0});
    }
    const PageRecipe lab{
        .width = 40, .height = 1, .photometric = PHOTOMETRIC_CIELAB, .samples = samples};
    const fs::path tiff = dir / "lab.tif";
    fixtures::writeTiff(tiff, {lab});
    quorvex::ConversionRequest request;
    request.inputPath = tiff.string();
    const auto outcome = quorvex::convertTiff(request);
    ASSERT_TRUE(outcome.ok()) << outcome.message;
    const std::string pdf = support::readFile(outcome.outputPath);
    EXPECT_TRUE(std::regex_search(
        pdf, std::regex("/ColorSpace \\[ /Lab << /WhitePoint \\[ 0\\.950\\d 1 "
                        "1\\.08\\d\\d \\] /Range \\[ -128 127 -128 127 \\] >> \\]\r")))
        << objectText(pdf, 7);
#ifndef _WIN32  // drawn by poppler
    const std::vector<int> all = popplerRow(outcome.outputPath, dir, 40);
    ASSERT_EQ(all.size(), 120U);
    std::vector<int> row;
    for (int block = 0; block < 4; ++block) {
        row.insert(row.end(), all.begin() + (block * 10 + 5) * 3,
                   all.begin() + (block * 10 + 6) * 3);
    }
    for (int x = 0; x < 4; ++x) {
        EXPECT_NEAR(row[x * 3], row[x * 3 + 1], 3) << "pixel " << x << " is not grey";
        EXPECT_NEAR(row[x * 3 + 1], row[x * 3 + 2], 3) << "pixel " << x << " is not grey";
        if (x > 0) {
            EXPECT_GT(row[x * 3], row[x * 3 - 3]) << "L* rises along the row";
        }
    }
    EXPECT_LE(row[0], 5);
    EXPECT_GE(row[9], 250);
#endif
}

// Sample formats no route draws are refused with a reason that names them.
struct RefusedFormat {
    const char* name;
    PageRecipe page;
    const char* reason;
};

PageRecipe withSamples(PageRecipe page) {
    page.width = 8;
    page.height = 4;
    const uint64_t rowBytes = (uint64_t{page.width} * fixtures::effectiveSamplesPerPixel(page) *
                                   fixtures::effectiveBitsPerSample(page) +
                               7) /
                              8;
    page.samples.assign(rowBytes * page.height, 0);
    return page;
}

class RefusedSampleFormat : public ::testing::TestWithParam<RefusedFormat> {};

TEST_P(RefusedSampleFormat, ReasonNamesTheSampleFormat) {
    support::TempDir dir;
    const fs::path tiff = dir / "refused.tif";
    fixtures::writeTiff(tiff, {withSamples(GetParam().page)});
    quorvex::ConversionRequest request;
    request.inputPath = tiff.string();
    const auto outcome = quorvex::convertTiff(request);
    ASSERT_FALSE(outcome.ok());
    EXPECT_EQ(outcome.detail, GetParam().reason);
}

INSTANTIATE_TEST_SUITE_P(
    SampleFormats, RefusedSampleFormat,
    ::testing::Values(RefusedFormat{"ComplexIntegers",
                                    {.bitsPerSample = 32, .sampleFormat = SAMPLEFORMAT_COMPLEXINT},
                                    "32-bit complex integer samples are not supported"},
                      RefusedFormat{
                          "ComplexFloats",
                          {.bitsPerSample = 64, .sampleFormat = SAMPLEFORMAT_COMPLEXIEEEFP},
                          "64-bit complex floating-point samples are not supported"},
                      RefusedFormat{"EightBitFloats",
                                    {.bitsPerSample = 8, .sampleFormat = SAMPLEFORMAT_IEEEFP},
                                    "8-bit floating-point samples are not supported"},
                      RefusedFormat{"SixtyFourBitIntegers",
                                    {.bitsPerSample = 64, .sampleFormat = SAMPLEFORMAT_INT},
                                    "64-bit signed integer samples are not supported"},
                      RefusedFormat{"YCbCrOf16Bits",
                                    {.photometric = PHOTOMETRIC_YCBCR, .bitsPerSample = 16},
                                    "YCbCr in 16-bit unsigned integer samples is not supported"}),
    support::ParamName());

TEST(PageGeometry, CentimetreResolutionsAreConvertedToInches) {
    support::TempDir dir;
    const std::string pdf = convertToBytes(dir, {{.width = 2480,
                                                  .height = 3508,
                                                  .bitsPerSample = 1,
                                                  .xResolution = 118.11F,
                                                  .yResolution = 118.11F,
                                                  .resolutionUnit = RESUNIT_CENTIMETER}});
    EXPECT_NE(objectText(pdf, 4).find("/MediaBox [0 0 595 842]\r"), std::string::npos);
}

TEST(PageGeometry, UprightPagesKeepTheirContentStream) {
    support::TempDir dir;
    const std::string pdf = convertToBytes(dir, {{.width = 200,
                                                  .height = 100,
                                                  .xResolution = 100.0F,
                                                  .yResolution = 100.0F,
                                                  .orientation = ORIENTATION_TOPLEFT}});
    EXPECT_NE(pdf.find("stream\r\nq\r144 0 0 72 0 0 cm\r/Im0 Do\rQ\rendstream"), std::string::npos);
}

// A page stored on its side is drawn turned: its MediaBox is the turned
// page's, and the image matrix maps the stored rows onto it.
TEST(PageGeometry, TurnedPagesSwapWidthAndHeight) {
    support::TempDir dir;
    const std::string pdf = convertToBytes(dir, {{.width = 200,
                                                  .height = 100,
                                                  .xResolution = 100.0F,
                                                  .yResolution = 100.0F,
                                                  .orientation = ORIENTATION_RIGHTTOP},
                                                 {.width = 200,
                                                  .height = 100,
                                                  .xResolution = 100.0F,
                                                  .yResolution = 100.0F,
                                                  .orientation = ORIENTATION_BOTRIGHT}});
    EXPECT_NE(objectText(pdf, 4).find("/MediaBox [0 0 72 144]\r"), std::string::npos);
    EXPECT_NE(pdf.find("q\r0 -144 72 0 0 144 cm\r/Im0 Do\rQ\r"), std::string::npos);
    EXPECT_NE(objectText(pdf, 9).find("/MediaBox [0 0 144 72]\r"), std::string::npos);
    EXPECT_NE(pdf.find("q\r-144 0 0 -72 144 72 cm\r/Im1 Do\rQ\r"), std::string::npos);
}

// Alpha over white paper, worked by hand: `colour` where the largest value is
// white, `ink` where 0 is the bare paper; integers round to the nearest level.
struct AlphaCase {
    const char* name;
    uint64_t full;
    uint64_t value;
    uint64_t alpha;
    bool associated;
    uint64_t colour;
    uint64_t ink;
};

class AlphaOverWhite : public ::testing::TestWithParam<AlphaCase> {};

TEST_P(AlphaOverWhite, LaysThePixelOverPaper) {
    const AlphaCase& c = GetParam();
    EXPECT_EQ(quorvex::colourOverWhite(c.value, c.alpha, c.full, c.associated), c.colour);
    EXPECT_EQ(quorvex::inkOverWhite(c.value, c.alpha, c.full, c.associated), c.ink);
}

INSTANTIATE_TEST_SUITE_P(
    Levels, AlphaOverWhite,
    ::testing::Values(AlphaCase{"OpaqueKeepsTheValue", 255, 10, 255, false, 10, 10},
                      AlphaCase{"ClearShowsThePaper", 255, 10, 0, false, 255, 0},
                      AlphaCase{"HalfBlackIsHalfGrey", 255, 0, 128, false, 127, 0},
                      AlphaCase{"HalfInkRoundsToNearest", 255, 200, 128, false, 227, 100},
                      AlphaCase{"OneBitClear", 1, 0, 0, false, 1, 0},
                      AlphaCase{"SixteenBitHalf", 65535, 0, 32768, false, 32767, 0},
                      AlphaCase{"AssociatedAddsThePaperShare", 255, 100, 128, true, 227, 100},
                      AlphaCase{"AssociatedNeverPassesWhite", 255, 200, 10, true, 255, 200}),
    support::ParamName{});

TEST(AlphaOverWhiteUnits, UnitValuesNeedNoRounding) {
    EXPECT_DOUBLE_EQ(quorvex::colourOverWhite(0.5, 0.5, 1.0, false), 0.75);
    EXPECT_DOUBLE_EQ(quorvex::colourOverWhite(0.25, 0.5, 1.0, true), 0.75);
    EXPECT_DOUBLE_EQ(quorvex::inkOverWhite(0.5, 0.5, 1.0, false), 0.25);
}

// Stored samples as libtiff hands them out: packed most significant bit
// first across byte boundaries, whole bytes in host order.
TEST(StoredSample, ReadsPackedAndWholeByteSamples) {
    const uint8_t packed[] = {0b10110100, 0b01111000, 0xAB, 0xCD};
    EXPECT_EQ(quorvex::storedSample(packed, 0, 1), 1u);
    EXPECT_EQ(quorvex::storedSample(packed, 1, 1), 0u);
    EXPECT_EQ(quorvex::storedSample(packed, 3, 2), 0b00u);
    EXPECT_EQ(quorvex::storedSample(packed, 1, 4), 0b0100u);
    EXPECT_EQ(quorvex::storedSample(packed, 0, 12), 0xB47u);
    EXPECT_EQ(quorvex::storedSample(packed, 1, 12), 0x8ABu);
    const uint16_t wide[] = {0x1234, 0xFEDC};
    EXPECT_EQ(quorvex::storedSample(reinterpret_cast<const uint8_t*>(wide), 1, 16), 0xFEDCu);
}

}  // namespace
