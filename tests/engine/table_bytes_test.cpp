// Pages whose kind the compression-based routes carry faithfully keep the
// exact content those routes have always produced: every object's text is
// compared with its golden file in golden/, so a change to a route, a
// dictionary line or the frame shows as the line that changed. Flate streams
// count by their decoded bytes (the compressed bytes depend on the
// compressor, and their lengths and file positions with them).
// Set QUORVEX_UPDATE_GOLDEN=1 to write the current files.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>

#include "PdfBytes.h"
#include "engine/Conversion.h"
#include "fixtures/TiffFixture.h"
#include "support/TestSupport.h"

using fixtures::PageRecipe;

namespace {

struct TableKind {
    const char* name;
    std::vector<PageRecipe> pages;
};

uint64_t fnv1a(const std::string& bytes) {
    uint64_t hash = 14695981039346656037ULL;
    for (const char c : bytes) {
        hash ^= static_cast<uint8_t>(c);
        hash *= 1099511628211ULL;
    }
    return hash;
}

// PDF text made readable line by line: "\r" ends a line, "\r\n" shows as
// "<CRLF>" before the line end, so every byte of the frame stays visible.
std::string readableLines(const std::string& text) {
    std::string lines;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
            lines += "<CRLF>\n";
            ++i;
        } else {
            lines += text[i] == '\r' ? '\n' : text[i];
        }
    }
    return lines;
}

// Every object but the image length objects, in file order; an image's data
// is summed up in one line (Flate streams by their decoded bytes, whose
// compressed form depends on the compressor, as their lengths do).
std::string contentText(const std::string& file) {
    const pdfbytes::PdfBytes pdf(file);
    std::set<uint64_t> lengths;
    for (uint64_t number = 1; number <= pdf.objectCount(); ++number) {
        if (pdf.isImage(number))
            lengths.insert(pdf.lengthObject(lengths.size()));
    }
    std::string content;
    for (uint64_t number = 1; number <= pdf.objectCount(); ++number) {
        if (lengths.count(number) != 0)
            continue;
        if (!pdf.isImage(number)) {
            content += readableLines(pdf.objectText(number));
            continue;
        }
        const std::string dictionary = pdf.dictionary(number);
        const bool flate = dictionary.find("/FlateDecode") != std::string::npos;
        const std::string data =
            flate ? pdfbytes::inflate(pdf.streamData(number)) : pdf.streamData(number);
        char summary[96];
        std::snprintf(summary, sizeof summary, "[%s%zu bytes, fnv1a %016llx]\n",
                      flate ? "inflated to " : "", data.size(),
                      static_cast<unsigned long long>(fnv1a(data)));
        content += std::to_string(number) + " 0 obj\n" + readableLines(dictionary) + summary;
    }
    return content;
}

std::filesystem::path goldenFile(const char* name) {
    return std::filesystem::path(QUORVEX_GOLDEN_DIR) / (std::string(name) + ".txt");
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
        {"Group4", {fixtures::faxPage(COMPRESSION_CCITTFAX4)}},
        {"Group4MultiStripThreePages", {multiStrip, multiStrip, multiStrip}},
        {"Group3OneD", {fixtures::faxPage(COMPRESSION_CCITTFAX3)}},
        {"Group3TwoDFillOrder2", {g3TwoD}},
        {"Group4UntrustedWriter", {untrusted}},
        {"Group4WithoutBitsPerSample", {noBits}},
        {"BilevelMinIsWhite", {grey(COMPRESSION_NONE, PHOTOMETRIC_MINISWHITE, 1)}},
        {"BilevelMinIsBlackPackBits", {grey(COMPRESSION_PACKBITS, PHOTOMETRIC_MINISBLACK, 1)}},
        {"Grey8None", {grey(COMPRESSION_NONE, PHOTOMETRIC_MINISBLACK, 8)}},
        {"Grey8Lzw", {grey(COMPRESSION_LZW, PHOTOMETRIC_MINISBLACK, 8)}},
        {"Grey8Deflate", {grey(COMPRESSION_ADOBE_DEFLATE, PHOTOMETRIC_MINISBLACK, 8)}},
        {"Grey4MinIsWhite", {grey(COMPRESSION_NONE, PHOTOMETRIC_MINISWHITE, 4)}},
        {"Grey8MinIsWhitePackBits", {grey(COMPRESSION_PACKBITS, PHOTOMETRIC_MINISWHITE, 8)}},
        {"Palette8", {palette(COMPRESSION_NONE, 8)}},
        {"Palette4PackBits", {palette(COMPRESSION_PACKBITS, 4)}},
        {"Palette2Lzw", {palette(COMPRESSION_LZW, 2)}},
        {"RgbNone", {rgb(COMPRESSION_NONE)}},
        {"RgbLzw", {rgb(COMPRESSION_LZW)}},
        {"RgbPackBits", {rgb(COMPRESSION_PACKBITS)}},
        {"RgbDeflate", {rgb(COMPRESSION_DEFLATE)}},
        {"RgbLzwWithAlpha", {rgbAlpha}},
        {"RgbJpeg", {rgb(COMPRESSION_JPEG)}},
        {"GreyJpeg", {grey(COMPRESSION_JPEG, PHOTOMETRIC_MINISBLACK, 8)}},
        {"CmykLzwSecondPage", {rgb(COMPRESSION_NONE), cmyk}},
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
    const std::string content = contentText(support::readFile(outcome.outputPath));
    if (std::getenv("QUORVEX_UPDATE_GOLDEN") != nullptr)
        std::ofstream(goldenFile(kind.name), std::ios::binary) << content;
    EXPECT_EQ(content, support::readFile(goldenFile(kind.name))) << kind.name;
}

INSTANTIATE_TEST_SUITE_P(Routes, TableBytes, ::testing::ValuesIn(tableKinds()),
                         [](const auto& tested) { return std::string(tested.param.name); });

}  // namespace
