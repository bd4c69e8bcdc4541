// Pages whose kind the compression-based routes carry faithfully keep the
// exact content those routes have always produced; a change to a route, a
// dictionary line or the frame shows up here as a different fingerprint.
// Flate streams count by their decoded bytes (the compressed bytes depend on
// the compressor, and their lengths and file positions with them).
// Set QUORVEX_PRINT_FINGERPRINTS=1 to print the current ones.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

#include "PdfBytes.h"
#include "engine/Conversion.h"
#include "fixtures/TiffFixture.h"
#include "support/TestSupport.h"

using fixtures::PageRecipe;

namespace {

struct TableKind {
    const char* name;
    std::vector<PageRecipe> pages;
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

// Every object but the image length objects, image streams under
// /FlateDecode decoded; no cross-reference table.
uint64_t contentFingerprint(const std::string& file) {
    const pdfbytes::PdfBytes pdf(file);
    std::string content;
    for (uint64_t number = 1; number <= pdf.objectCount(); ++number) {
        const bool imageLength =
            number > pdfbytes::imageObject(0) && (number - pdfbytes::imageObject(0)) % 5 == 1;
        if (imageLength)
            continue;
        const bool image =
            number >= pdfbytes::imageObject(0) && (number - pdfbytes::imageObject(0)) % 5 == 0;
        const std::string dictionary = image ? pdf.dictionary(number) : std::string();
        if (dictionary.find("/FlateDecode") != std::string::npos) {
            content += dictionary + pdfbytes::inflate(pdf.streamData(number));
        } else {
            content += pdf.objectText(number);
        }
    }
    return fnv1a(content);
}

PageRecipe grey(uint16_t compression, uint16_t photometric, uint16_t bits) {
    return {.width = 61,
            .height = 43,
            .compression = compression,
            .photometric = photometric,
            .bitsPerSample = bits};
}

PageRecipe palette(uint16_t compression, uint16_t bits) {
    return {.width = 57,
            .height = 41,
            .compression = compression,
            .photometric = PHOTOMETRIC_PALETTE,
            .bitsPerSample = bits};
}

PageRecipe rgb(uint16_t compression) {
    return {.width = 59, .height = 37, .compression = compression, .photometric = PHOTOMETRIC_RGB};
}

std::vector<TableKind> tableKinds() {
    PageRecipe multiStrip = fixtures::faxPage(COMPRESSION_CCITTFAX4);
    multiStrip.rowsPerStrip = 40;
    PageRecipe g3TwoD = fixtures::faxPage(COMPRESSION_CCITTFAX3);
    g3TwoD.group3Options = GROUP3OPT_2DENCODING;
    g3TwoD.fillOrder = FILLORDER_LSB2MSB;
    PageRecipe untrusted = fixtures::faxPage(COMPRESSION_CCITTFAX4);
    untrusted.software = "Oi/GFS, writer v00.06.02";
    PageRecipe noBits = fixtures::faxPage(COMPRESSION_CCITTFAX4);
    noBits.bitsPerSample = std::nullopt;
    PageRecipe rgbAlpha = rgb(COMPRESSION_LZW);
    rgbAlpha.extraSamples = {EXTRASAMPLE_ASSOCALPHA};
    PageRecipe cmyk = rgb(COMPRESSION_LZW);
    cmyk.photometric = PHOTOMETRIC_SEPARATED;
    return {
        {"Group4", {fixtures::faxPage(COMPRESSION_CCITTFAX4)}, 0xf7f5bda4dce779f8ULL},
        {"Group4MultiStripThreePages", {multiStrip, multiStrip, multiStrip}, 0xe0c9cb4ba4caa5aaULL},
        {"Group3OneD", {fixtures::faxPage(COMPRESSION_CCITTFAX3)}, 0x55915ab8ca812695ULL},
        {"Group3TwoDFillOrder2", {g3TwoD}, 0xb3b56ea34fb2b41bULL},
        {"Group4UntrustedWriter", {untrusted}, 0x5823aab132dee530ULL},
        {"Group4WithoutBitsPerSample", {noBits}, 0x87c8a789cacaff4aULL},
        {"BilevelMinIsWhite",
         {grey(COMPRESSION_NONE, PHOTOMETRIC_MINISWHITE, 1)},
         0xaae86852f62c2393ULL},
        {"BilevelMinIsBlackPackBits",
         {grey(COMPRESSION_PACKBITS, PHOTOMETRIC_MINISBLACK, 1)},
         0xaae82552f62bb1baULL},
        {"Grey8None", {grey(COMPRESSION_NONE, PHOTOMETRIC_MINISBLACK, 8)}, 0x9f022b19de0fe787ULL},
        {"Grey8Lzw", {grey(COMPRESSION_LZW, PHOTOMETRIC_MINISBLACK, 8)}, 0x9f022b19de0fe787ULL},
        {"Grey8Deflate",
         {grey(COMPRESSION_ADOBE_DEFLATE, PHOTOMETRIC_MINISBLACK, 8)},
         0x9f022b19de0fe787ULL},
        {"Grey4MinIsWhite",
         {grey(COMPRESSION_NONE, PHOTOMETRIC_MINISWHITE, 4)},
         0x3ce9aa082efaf968ULL},
        {"Grey8MinIsWhitePackBits",
         {grey(COMPRESSION_PACKBITS, PHOTOMETRIC_MINISWHITE, 8)},
         0x0b5380e78679fddaULL},
        {"Palette8", {palette(COMPRESSION_NONE, 8)}, 0xeb8c6ce9067924c6ULL},
        {"Palette4PackBits", {palette(COMPRESSION_PACKBITS, 4)}, 0xd5b551f7ff2fe5e4ULL},
        {"Palette2Lzw", {palette(COMPRESSION_LZW, 2)}, 0x98f2c88a73a5abc6ULL},
        {"RgbNone", {rgb(COMPRESSION_NONE)}, 0x71d284c6ca0ef6a2ULL},
        {"RgbLzw", {rgb(COMPRESSION_LZW)}, 0x640eb6ede2eaef47ULL},
        {"RgbPackBits", {rgb(COMPRESSION_PACKBITS)}, 0x71d284c6ca0ef6a2ULL},
        {"RgbDeflate", {rgb(COMPRESSION_DEFLATE)}, 0x71d284c6ca0ef6a2ULL},
        {"RgbLzwWithAlpha", {rgbAlpha}, 0x640eb6ede2eaef47ULL},
        {"RgbJpeg", {rgb(COMPRESSION_JPEG)}, 0x61ab621f93b8ef52ULL},
        {"GreyJpeg", {grey(COMPRESSION_JPEG, PHOTOMETRIC_MINISBLACK, 8)}, 0x8d6ef3759b3d704dULL},
        {"CmykLzwSecondPage", {rgb(COMPRESSION_NONE), cmyk}, 0x265e757e5fbafe70ULL},
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
    const uint64_t fingerprint = contentFingerprint(support::readFile(outcome.outputPath));
    if (std::getenv("QUORVEX_PRINT_FINGERPRINTS") != nullptr) {
        std::printf("FINGERPRINT %s 0x%016llxULL\n", kind.name,
                    static_cast<unsigned long long>(fingerprint));
    }
    EXPECT_EQ(fingerprint, kind.fingerprint) << kind.name;
}

INSTANTIATE_TEST_SUITE_P(Routes, TableBytes, ::testing::ValuesIn(tableKinds()),
                         [](const auto& tested) { return std::string(tested.param.name); });

}  // namespace
