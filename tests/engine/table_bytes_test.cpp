// Pages whose kind the compression-based routes carry faithfully keep the
// exact bytes those routes have always produced; a change to a route, a
// dictionary line or the frame shows up here as a different fingerprint.
// Set QUORVEX_PRINT_FINGERPRINTS=1 to print the current ones.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

#include "engine/Conversion.h"
#include "fixtures/TiffFixture.h"
#include "support/TestSupport.h"

using fixtures::PageSpec;

namespace {

struct TableKind {
    const char* name;
    std::vector<PageSpec> pages;
    uint64_t fingerprint;
};

uint64_t fnv1a(const std::string& bytes) {
    uint64_t hash = 14695981039346656037ULL;
    for (const char c : bytes) {
        hash ^= static_cast<uint8_t>(c);
        hash *= 1099511628211ULL;
    }
    return hash;
}

PageSpec fax(uint16_t compression) {
    return {.width = 1727,
            .height = 181,
            .compression = compression,
            .photometric = PHOTOMETRIC_MINISWHITE,
            .bitsPerSample = 1};
}

PageSpec grey(uint16_t compression, uint16_t photometric, uint16_t bits) {
    return {.width = 61,
            .height = 43,
            .compression = compression,
            .photometric = photometric,
            .bitsPerSample = bits};
}

PageSpec palette(uint16_t compression, uint16_t bits) {
    return {.width = 57,
            .height = 41,
            .compression = compression,
            .photometric = PHOTOMETRIC_PALETTE,
            .bitsPerSample = bits};
}

PageSpec rgb(uint16_t compression) {
    return {.width = 59, .height = 37, .compression = compression, .photometric = PHOTOMETRIC_RGB};
}

std::vector<TableKind> tableKinds() {
    PageSpec multiStrip = fax(COMPRESSION_CCITTFAX4);
    multiStrip.rowsPerStrip = 40;
    PageSpec g3TwoD = fax(COMPRESSION_CCITTFAX3);
    g3TwoD.group3Options = GROUP3OPT_2DENCODING;
    g3TwoD.fillOrder = FILLORDER_LSB2MSB;
    PageSpec untrusted = fax(COMPRESSION_CCITTFAX4);
    untrusted.software = "Oi/GFS, writer v00.06.02";
    PageSpec noBits = fax(COMPRESSION_CCITTFAX4);
    noBits.bitsPerSample = std::nullopt;
    PageSpec rgbAlpha = rgb(COMPRESSION_LZW);
    rgbAlpha.extraSamples = {EXTRASAMPLE_ASSOCALPHA};
    PageSpec cmyk = rgb(COMPRESSION_LZW);
    cmyk.photometric = PHOTOMETRIC_SEPARATED;
    return {
        {"Group4", {fax(COMPRESSION_CCITTFAX4)}, 0x39b41bcdb1825038ULL},
        {"Group4MultiStripThreePages", {multiStrip, multiStrip, multiStrip}, 0x71f0adc7c65b4409ULL},
        {"Group3OneD", {fax(COMPRESSION_CCITTFAX3)}, 0x75bd1745bff80bc5ULL},
        {"Group3TwoDFillOrder2", {g3TwoD}, 0xd09dac17979f26bcULL},
        {"Group4UntrustedWriter", {untrusted}, 0x79324af4647bed73ULL},
        {"Group4WithoutBitsPerSample", {noBits}, 0xc43fff2ba216deb9ULL},
        {"BilevelMinIsWhite",
         {grey(COMPRESSION_NONE, PHOTOMETRIC_MINISWHITE, 1)},
         0x6b19fa604214c1b2ULL},
        {"BilevelMinIsBlackPackBits",
         {grey(COMPRESSION_PACKBITS, PHOTOMETRIC_MINISBLACK, 1)},
         0xb377d792715364b7ULL},
        {"Grey8None", {grey(COMPRESSION_NONE, PHOTOMETRIC_MINISBLACK, 8)}, 0xb572f8782e2d153eULL},
        {"Grey8Lzw", {grey(COMPRESSION_LZW, PHOTOMETRIC_MINISBLACK, 8)}, 0xb572f8782e2d153eULL},
        {"Grey8Deflate",
         {grey(COMPRESSION_ADOBE_DEFLATE, PHOTOMETRIC_MINISBLACK, 8)},
         0xb572f8782e2d153eULL},
        {"Grey4MinIsWhite",
         {grey(COMPRESSION_NONE, PHOTOMETRIC_MINISWHITE, 4)},
         0x7095d249b3bd6f21ULL},
        {"Grey8MinIsWhitePackBits",
         {grey(COMPRESSION_PACKBITS, PHOTOMETRIC_MINISWHITE, 8)},
         0x9fe97db69e8d5f87ULL},
        {"Palette8", {palette(COMPRESSION_NONE, 8)}, 0x9744ebbddb301657ULL},
        {"Palette4PackBits", {palette(COMPRESSION_PACKBITS, 4)}, 0xa5bf0945b2cbe994ULL},
        {"Palette2Lzw", {palette(COMPRESSION_LZW, 2)}, 0x847168c3f4a1d360ULL},
        {"RgbNone", {rgb(COMPRESSION_NONE)}, 0x0f42c120ce1ba6a7ULL},
        {"RgbLzw", {rgb(COMPRESSION_LZW)}, 0xbddd78078661a250ULL},
        {"RgbPackBits", {rgb(COMPRESSION_PACKBITS)}, 0x0f42c120ce1ba6a7ULL},
        {"RgbDeflate", {rgb(COMPRESSION_DEFLATE)}, 0x0f42c120ce1ba6a7ULL},
        {"RgbLzwWithAlpha", {rgbAlpha}, 0xbddd78078661a250ULL},
        {"RgbJpeg", {rgb(COMPRESSION_JPEG)}, 0xb03cb5c7c574c85dULL},
        {"GreyJpeg", {grey(COMPRESSION_JPEG, PHOTOMETRIC_MINISBLACK, 8)}, 0x786de05402cfae5bULL},
        {"CmykLzwSecondPage", {rgb(COMPRESSION_NONE), cmyk}, 0x07209d3ca3f82c2bULL},
    };
}

class TableBytes : public ::testing::TestWithParam<TableKind> {};

TEST_P(TableBytes, AreUnchanged) {
    const TableKind& kind = GetParam();
    support::TempDir dir;
    const auto tiff = dir / "page.tif";
    fixtures::writeTiff(tiff, kind.pages);
    quorvex::ConversionRequest request;
    request.inputPath = tiff.string();
    request.info.creationDate = "fixed";
    const auto outcome = quorvex::convertTiff(request);
    ASSERT_TRUE(outcome.ok()) << outcome.message << " " << outcome.detail;
    const uint64_t fingerprint = fnv1a(support::readFile(outcome.outputPath));
    if (std::getenv("QUORVEX_PRINT_FINGERPRINTS") != nullptr) {
        std::printf("FINGERPRINT %s 0x%016llxULL\n", kind.name,
                    static_cast<unsigned long long>(fingerprint));
    }
    EXPECT_EQ(fingerprint, kind.fingerprint) << kind.name;
}

INSTANTIATE_TEST_SUITE_P(Routes, TableBytes, ::testing::ValuesIn(tableKinds()),
                         [](const auto& tested) { return std::string(tested.param.name); });

}  // namespace
