// Every kind of page the image writer handles is converted and read back
// through real readers: qpdf must accept the file, and MuPDF's rendering of
// each page at the image's pixel size must show exactly the pixels libtiff's
// own RGBA decode gives for that page, turned as its Orientation tag says.
#include <gtest/gtest.h>
#include <tiffio.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <fstream>
#include <functional>
#include <map>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "PdfBytes.h"
#include "engine/Conversion.h"
#include "fixtures/TiffFixture.h"
#include "support/TestSupport.h"

namespace {

using fixtures::PageRecipe;

struct PageKind {
    std::string name;
    std::vector<PageRecipe> pages;
    // Largest channel difference accepted between libtiff's decode and the
    // rendering; lossless pages must come out identical.
    int tolerance = 0;
    // The pixels a page should show, for pages libtiff's RGBA reader refuses;
    // empty means libtiff's decode.
    std::function<support::RgbImage(const PageRecipe&)> expectedPixels;
    // The encoding `pdfimages -list` must show for every image ("ccitt",
    // "jpeg", "image"); empty: not checked.
    std::string encoding;
    // Pages of the engine's own sample mapping: expected is libtiff's
    // decompressed samples mapped as mappedPicture() says.
    bool mappedSamples = false;
    // Converted with ConversionRequest::compact, and drawn by Poppler as well.
    bool compact = false;
    // The encoding of each page's image in turn; empty: not checked.
    std::vector<std::string> encodings;
    // The profile written; the standard profile's pages are drawn by Poppler
    // as well.
    quorvex::OutputProfile profile = quorvex::OutputProfile::Classic;
    bool losslessDecode = false;
    // The bits per component pdfimages must show for every image; 0: not checked.
    int bitsPerComponent = 0;
    // Converted in the standard profile on four threads, large pages split
    // as these settings say.
    std::optional<quorvex::FlatePieceSettings> pieces;
    // CMYK pages: MuPDF's CMYK rendering must show libtiff's decoded inks.
    bool inks = false;
    // The colour `pdfimages -list` must show for every image; empty: not checked.
    std::string colour;
    // Per page, whether its ICC profile must come back from the PDF as it
    // is (false: left out, and said so); empty: not checked.
    std::vector<bool> profilesKept;
};

void PrintTo(const PageKind& kind, std::ostream* out) {
    *out << kind.name;
}

constexpr support::ParamName kByName;

class PixelRoundTrip : public ::testing::TestWithParam<PageKind> {
  protected:
    void convertAndCompare(const PageKind& kind) {
        for (const PageRecipe& page : kind.pages) {
            if (!fixtures::canEncode(page.compression)) {
                GTEST_SKIP() << "this libtiff cannot write compression " << page.compression;
            }
        }
        const auto tiff = dir_ / (kind.name + ".tif");
        fixtures::writeTiff(tiff, kind.pages);

        quorvex::ConversionRequest request;
        request.inputPath = tiff.string();
        request.info.creationDate = "fixed";
        request.options.compact = kind.compact;
        request.options.profile = kind.profile;
        request.options.losslessDecode = kind.losslessDecode;
        if (kind.pieces) {
            request.options.profile = quorvex::OutputProfile::Standard;
            request.options.flatePieces = *kind.pieces;
            request.options.threads = 4;
        }
        const quorvex::ConversionOutcome outcome = quorvex::convertTiff(request);
        ASSERT_TRUE(outcome.ok()) << outcome.message << " / " << outcome.detail;

        const support::QpdfCheck check = support::qpdfCheck(outcome.outputPath);
        ASSERT_TRUE(check.ok) << check.output;
        ASSERT_EQ(support::pdfPageCount(outcome.outputPath), static_cast<int>(kind.pages.size()));
        expectOneImagePerPage(outcome.outputPath, kind.pages, kind.encoding);
        if (!kind.encodings.empty())
            expectEncodings(outcome.outputPath, kind.encodings);
        if (kind.bitsPerComponent != 0)
            expectBitsPerComponent(outcome.outputPath, kind.bitsPerComponent);
        if (!kind.colour.empty()) {
            for (const support::PdfImageInfo& image : support::extractImageInfo(outcome.outputPath))
                EXPECT_EQ(image.color, kind.colour) << "page " << image.page;
        }
        if (!kind.profilesKept.empty())
            expectProfiles(outcome, kind);

        for (std::size_t index = 0; index < kind.pages.size(); ++index) {
            const int page = static_cast<int>(index);
            if (kind.inks) {
                compareInks(tiff, outcome.outputPath, kind.pages[index], page, kind.tolerance);
                continue;
            }
            if (kind.mappedSamples) {
                compareMapped(tiff, outcome.outputPath, kind.pages[index], page);
                continue;
            }
            const support::RgbImage expected = kind.expectedPixels
                                                   ? kind.expectedPixels(kind.pages[index])
                                                   : support::decodeTiffPage(tiff, page, true);
            const support::RgbImage shown =
                support::renderPdfPage(outcome.outputPath, page, expected.width, expected.height);
            EXPECT_TRUE(support::imagesMatch(expected, shown, kind.tolerance))
                << "page " << page << " of " << kind.name;
            // Poppler turns inks into RGB through its own colour management,
            // not as libtiff's RGBA reader does: CMYK pages are checked by
            // their inks instead.
            const bool inks = kind.pages[index].photometric == PHOTOMETRIC_SEPARATED;
            if ((kind.compact || kind.profile == quorvex::OutputProfile::Standard) && !inks) {
                EXPECT_TRUE(support::imagesMatch(
                    expected,
                    support::renderPdfPage(outcome.outputPath, page, expected.width,
                                           expected.height, support::Renderer::Poppler),
                    kind.tolerance))
                    << "Poppler, page " << page << " of " << kind.name;
            }
        }
    }

    static void expectEncodings(const std::string& pdf, const std::vector<std::string>& expected) {
        std::vector<std::string> encodings;
        for (const support::PdfImageInfo& image : support::extractImageInfo(pdf))
            encodings.push_back(image.encoding);
        EXPECT_EQ(encodings, expected);
    }

    static void expectBitsPerComponent(const std::string& pdf, int bits) {
        for (const support::PdfImageInfo& image : support::extractImageInfo(pdf))
            EXPECT_EQ(image.bitsPerComponent, bits) << "page " << image.page;
    }

    static void compareMapped(const std::filesystem::path& tiff, const std::string& pdf,
                              const PageRecipe& recipe, int page);
    static void compareInks(const std::filesystem::path& tiff, const std::string& pdf,
                            const PageRecipe& recipe, int page, int tolerance);
    static void expectProfiles(const quorvex::ConversionOutcome& outcome, const PageKind& kind);

    static void expectOneImagePerPage(const std::string& pdf, const std::vector<PageRecipe>& pages,
                                      const std::string& encoding) {
        const std::vector<support::PdfImageInfo> images = support::extractImageInfo(pdf);
        ASSERT_EQ(images.size(), pages.size());
        for (std::size_t i = 0; i < pages.size(); ++i) {
            EXPECT_EQ(images[i].page, static_cast<int>(i + 1));
            EXPECT_EQ(images[i].width, pages[i].width) << "page " << i;
            EXPECT_EQ(images[i].height, pages[i].height) << "page " << i;
            if (!encoding.empty()) {
                EXPECT_EQ(images[i].encoding, encoding) << "page " << i;
            }
        }
    }

    support::TempDir dir_;
};

// ---------------------------------------------------------------------------
// Page builders. Sizes are odd on purpose: partial bytes at the end of rows
// and short last strips show.

PageRecipe fax(uint16_t compression, uint32_t variant = 0) {
    PageRecipe page = fixtures::faxPage(compression);
    page.variant = variant;
    return page;
}

PageRecipe withStrips(PageRecipe page, uint32_t rowsPerStrip) {
    page.rowsPerStrip = rowsPerStrip;
    return page;
}

PageRecipe withTiles(PageRecipe page) {
    page.tiles = fixtures::TileSize{64, 64};
    return page;
}

PageRecipe withFillOrder2(PageRecipe page) {
    page.fillOrder = FILLORDER_LSB2MSB;
    return page;
}

PageRecipe withG3Options(PageRecipe page, uint32_t options) {
    page.group3Options = options;
    return page;
}

PageRecipe grey(uint16_t compression, uint16_t photometric, uint16_t bits) {
    return {.width = 61,
            .height = 43,
            .compression = compression,
            .photometric = photometric,
            .bitsPerSample = bits};
}

PageRecipe palette(uint16_t compression, uint16_t bits, fixtures::ColorMapMode mode) {
    return {.width = 57,
            .height = 41,
            .compression = compression,
            .photometric = PHOTOMETRIC_PALETTE,
            .bitsPerSample = bits,
            .colorMapMode = mode};
}

PageRecipe rgb(uint16_t compression, uint16_t bits = 8) {
    return {.width = 59,
            .height = 37,
            .compression = compression,
            .photometric = PHOTOMETRIC_RGB,
            .bitsPerSample = bits};
}

PageRecipe larger(PageRecipe page, uint32_t width, uint32_t height) {
    page.width = width;
    page.height = height;
    return page;
}

PageRecipe withAlpha(PageRecipe page, uint16_t kind) {
    page.extraSamples = {kind};
    page.alphaFill = fixtures::AlphaFill::Varying;
    return page;
}

PageRecipe withSoftware(PageRecipe page, const std::string& software) {
    page.software = software;
    return page;
}

PageRecipe withWangPageControl(PageRecipe page) {
    page.extraTags = {{.tag = 32934, .type = TIFF_LONG, .values = {1}}};
    return page;
}

// CMYK samples of pure inks (each 0 or 255): every reader's CMYK-to-RGB
// conversion agrees on them, so the comparison is exact.
PageRecipe pureInkCmyk(uint16_t compression) {
    PageRecipe page{.width = 23,
                    .height = 17,
                    .compression = compression,
                    .photometric = PHOTOMETRIC_SEPARATED,
                    .bitsPerSample = 8};
    for (uint32_t y = 0; y < page.height; ++y) {
        for (uint32_t x = 0; x < page.width; ++x) {
            const uint32_t ink = (x / 3 + y / 2) % 9;
            page.samples.push_back(ink == 1 || ink == 4 || ink == 7 ? 255 : 0);  // cyan
            page.samples.push_back(ink == 2 || ink == 4 || ink == 6 ? 255 : 0);  // magenta
            page.samples.push_back(ink == 3 || ink == 5 || ink == 6 ? 255 : 0);  // yellow
            page.samples.push_back(ink == 8 ? 255 : 0);                          // black
        }
    }
    return page;
}

constexpr uint16_t kPackBits = COMPRESSION_PACKBITS;
constexpr uint16_t kDeflate = COMPRESSION_DEFLATE;             // 32946
constexpr uint16_t kAdobeDeflate = COMPRESSION_ADOBE_DEFLATE;  // 8
constexpr uint16_t kMinIsWhite = PHOTOMETRIC_MINISWHITE;
constexpr uint16_t kMinIsBlack = PHOTOMETRIC_MINISBLACK;

// ---------------------------------------------------------------------------
// Kinds the engine must carry over exactly.

std::vector<PageKind> faxKinds() {
    PageRecipe fax4 = fax(COMPRESSION_CCITTFAX4);
    fax4.xResolution = 204.0f;
    fax4.yResolution = 98.0f;
    PageRecipe noBits = fax(COMPRESSION_CCITTFAX4);
    noBits.bitsPerSample = std::nullopt;
    PageRecipe minIsBlackFax = fax(COMPRESSION_CCITTFAX4);
    minIsBlackFax.photometric = PHOTOMETRIC_MINISBLACK;
    return {
        {"Group4ThreePagesManyStrips",
         {withStrips(fax(COMPRESSION_CCITTFAX4, 0), 32),
          withStrips(fax(COMPRESSION_CCITTFAX4, 1), 50),
          withStrips(fax(COMPRESSION_CCITTFAX4, 2), 7)},
         0,
         {},
         "ccitt"},
        {"Group4MinIsBlack", {minIsBlackFax}, 0, {}, "ccitt"},
        {"Group4MinIsBlackManyStrips", {withStrips(minIsBlackFax, 30)}, 0, {}, "ccitt"},
        {"Group4TiledOnASecondPage",
         {fax(COMPRESSION_CCITTFAX4), withTiles(fax(COMPRESSION_CCITTFAX4, 1))},
         0,
         {},
         "ccitt"},
        {"Group4OneStripFaxResolution", {fax4}},
        {"Group4FillOrder2", {withFillOrder2(fax(COMPRESSION_CCITTFAX4))}},
        {"Group4WithoutBitsPerSample", {noBits}},
        {"Group3OneDimensional", {fax(COMPRESSION_CCITTFAX3)}},
        {"Group3OptionsWithoutTwoD",
         {withG3Options(fax(COMPRESSION_CCITTFAX3), GROUP3OPT_FILLBITS)}},
        {"Group3TwoDimensional", {withG3Options(fax(COMPRESSION_CCITTFAX3), GROUP3OPT_2DENCODING)}},
        {"Group3OneDimensionalFillOrder2", {withFillOrder2(fax(COMPRESSION_CCITTFAX3))}},
        {"Group3TwoDimensionalFillOrder2",
         {withFillOrder2(withG3Options(fax(COMPRESSION_CCITTFAX3), GROUP3OPT_2DENCODING))}},
        {"Group3TwoDimensionalManyStrips",
         {withStrips(withG3Options(fax(COMPRESSION_CCITTFAX3, 3), GROUP3OPT_2DENCODING), 40),
          withStrips(withG3Options(fax(COMPRESSION_CCITTFAX3, 4), GROUP3OPT_2DENCODING), 40)},
         0,
         {},
         "ccitt"},
        {"Group4WithUntrustedWriterSoftwareTag",
         {withSoftware(fax(COMPRESSION_CCITTFAX4), "Oi/GFS, writer v00.06.02")}},
        {"Group4WithOtherSoftwareTag",
         {withSoftware(fax(COMPRESSION_CCITTFAX4), "Oi/GFS, writer v00.06.03")}},
        {"Group4WithWangPageControlTag", {withWangPageControl(fax(COMPRESSION_CCITTFAX4))}},
        {"ModifiedHuffman", {fax(COMPRESSION_CCITTRLE)}},
    };
}

std::vector<PageKind> bilevelKinds() {
    return {
        {"Bilevel1BitUncompressedMinIsWhiteOddWidth", {grey(COMPRESSION_NONE, kMinIsWhite, 1)}},
        {"Bilevel1BitUncompressedMinIsBlackOddWidth", {grey(COMPRESSION_NONE, kMinIsBlack, 1)}},
        {"Bilevel1BitPackBitsMinIsWhite", {grey(kPackBits, kMinIsWhite, 1)}},
        {"Bilevel1BitDeflateMinIsWhite", {grey(kDeflate, kMinIsWhite, 1)}},
        {"Bilevel1BitLzwMinIsBlack", {grey(COMPRESSION_LZW, kMinIsBlack, 1)}},
    };
}

std::vector<PageKind> greyKinds() {
    return {
        {"Grey2BitUncompressedMinIsWhite", {grey(COMPRESSION_NONE, kMinIsWhite, 2)}},
        {"Grey2BitPackBitsMinIsWhite", {grey(kPackBits, kMinIsWhite, 2)}},
        {"Grey2BitLzwMinIsBlack", {grey(COMPRESSION_LZW, kMinIsBlack, 2)}},
        {"Grey4BitUncompressedMinIsWhite", {grey(COMPRESSION_NONE, kMinIsWhite, 4)}},
        {"Grey4BitPackBitsMinIsBlack", {grey(kPackBits, kMinIsBlack, 4)}},
        {"Grey4BitPackBitsMinIsWhite", {grey(kPackBits, kMinIsWhite, 4)}},
        {"Grey4BitLzwMinIsBlack", {grey(COMPRESSION_LZW, kMinIsBlack, 4)}},
        {"Grey4BitLzwMinIsWhite", {grey(COMPRESSION_LZW, kMinIsWhite, 4)}},
        {"Grey8BitUncompressedMinIsBlack", {grey(COMPRESSION_NONE, kMinIsBlack, 8)}},
        {"Grey8BitUncompressedMinIsWhite", {grey(COMPRESSION_NONE, kMinIsWhite, 8)}},
        {"Grey8BitUncompressedMinIsBlackManyStrips",
         {withStrips(grey(COMPRESSION_NONE, kMinIsBlack, 8), 5)}},
        {"Grey8BitLzwMinIsBlack", {grey(COMPRESSION_LZW, kMinIsBlack, 8)}},
        {"Grey8BitLzwMinIsWhite", {grey(COMPRESSION_LZW, kMinIsWhite, 8)}},
        {"Grey8BitPackBitsMinIsBlack", {grey(kPackBits, kMinIsBlack, 8)}},
        {"Grey8BitPackBitsMinIsWhite", {grey(kPackBits, kMinIsWhite, 8)}},
        {"Grey8BitDeflateMinIsBlack", {grey(kDeflate, kMinIsBlack, 8)}},
        {"Grey8BitDeflateMinIsBlackManyStrips", {withStrips(grey(kDeflate, kMinIsBlack, 8), 9)}},
        {"Grey8BitAdobeDeflateMinIsWhite", {grey(kAdobeDeflate, kMinIsWhite, 8)}},
        {"Grey8BitLzwWithWangPageControlTag",
         {withWangPageControl(grey(COMPRESSION_LZW, kMinIsBlack, 8))}},
        {"Grey8BitZstdMinIsBlack", {grey(COMPRESSION_ZSTD, kMinIsBlack, 8)}},
    };
}

std::vector<PageKind> paletteKinds() {
    using fixtures::ColorMapMode;
    return {
        {"Palette2BitUncompressed", {palette(COMPRESSION_NONE, 2, ColorMapMode::Auto16Bit)}},
        {"Palette2BitLzw", {palette(COMPRESSION_LZW, 2, ColorMapMode::Auto16Bit)}},
        {"Palette4BitUncompressed", {palette(COMPRESSION_NONE, 4, ColorMapMode::Auto16Bit)}},
        {"Palette4BitPackBits", {palette(kPackBits, 4, ColorMapMode::Auto16Bit)}},
        {"Palette4BitLzw8BitColorMap", {palette(COMPRESSION_LZW, 4, ColorMapMode::Auto8Bit)}},
        {"Palette8BitUncompressed16BitColorMap",
         {palette(COMPRESSION_NONE, 8, ColorMapMode::Auto16Bit)}},
        {"Palette8BitUncompressed8BitColorMap",
         {palette(COMPRESSION_NONE, 8, ColorMapMode::Auto8Bit)}},
        {"Palette8BitLzw16BitColorMap", {palette(COMPRESSION_LZW, 8, ColorMapMode::Auto16Bit)}},
        {"Palette8BitPackBits8BitColorMap", {palette(kPackBits, 8, ColorMapMode::Auto8Bit)}},
        {"Palette8BitDeflate16BitColorMap", {palette(kDeflate, 8, ColorMapMode::Auto16Bit)}},
    };
}

std::vector<PageKind> colourKinds() {
    PageRecipe predicted = rgb(COMPRESSION_LZW);
    predicted.predictor = PREDICTOR_HORIZONTAL;
    return {
        {"Rgb8BitUncompressed", {rgb(COMPRESSION_NONE)}},
        {"Rgb8BitLzw", {rgb(COMPRESSION_LZW)}},
        {"Rgb8BitLzwManyStrips", {withStrips(rgb(COMPRESSION_LZW), 8)}},
        {"Rgb8BitLzwPredictor", {predicted}},
        {"Rgb8BitPackBits", {rgb(kPackBits)}},
        {"Rgb8BitDeflate", {rgb(kDeflate)}},
        {"Rgb8BitAdobeDeflate", {rgb(kAdobeDeflate)}},
        {"Rgb8BitZstd", {rgb(COMPRESSION_ZSTD)}},
        {"Rgb8BitLzwUnassociatedAlpha", {withAlpha(rgb(COMPRESSION_LZW), EXTRASAMPLE_UNASSALPHA)}},
        {"Rgb8BitLzwAssociatedAlpha", {withAlpha(rgb(COMPRESSION_LZW), EXTRASAMPLE_ASSOCALPHA)}},
        {"CmykLzwAfterAnRgbFirstPage", {rgb(COMPRESSION_LZW), pureInkCmyk(COMPRESSION_LZW)}},
    };
}

std::vector<PageKind> lossyKinds() {
    // Compared with libtiff's decode of the same JPEG data, not the original
    // samples; the two decoders may round one step apart.
    return {
        {"Grey8BitJpeg", {grey(COMPRESSION_JPEG, kMinIsBlack, 8)}, 1},
        {"Rgb8BitJpegStoredAsRgb", {rgb(COMPRESSION_JPEG)}, 1},
    };
}

std::vector<PageKind> mixedDocumentKinds() {
    return {
        {"MixedKindsOnePerPage",
         {fax(COMPRESSION_CCITTFAX4), rgb(COMPRESSION_LZW),
          palette(COMPRESSION_NONE, 8, fixtures::ColorMapMode::Auto16Bit),
          grey(kDeflate, kMinIsBlack, 8), grey(COMPRESSION_NONE, kMinIsWhite, 1)}},
        // A striped fax first page sends every page through the one-strip copy.
        {"StripedFaxThenOtherKinds",
         {withStrips(fax(COMPRESSION_CCITTFAX4), 20),
          withG3Options(withStrips(fax(COMPRESSION_CCITTFAX3, 1), 33), GROUP3OPT_2DENCODING),
          withStrips(grey(COMPRESSION_NONE, kMinIsWhite, 1), 6),
          withStrips(grey(COMPRESSION_LZW, kMinIsBlack, 8), 6), rgb(kDeflate)}},
    };
}

// Pages that the one-strip copy of a striped fax file spoils: it copies a
// fixed set of tags and drops the colour map and the extra samples.
std::vector<PageKind> faxCopyBugKinds() {
    return {
        {"StripedFaxThenPalettePage",
         {withStrips(fax(COMPRESSION_CCITTFAX4), 20),
          palette(COMPRESSION_LZW, 8, fixtures::ColorMapMode::Auto16Bit)}},
        {"StripedFaxThenRgbWithAlpha",
         {withStrips(fax(COMPRESSION_CCITTFAX4), 20),
          withAlpha(rgb(COMPRESSION_LZW), EXTRASAMPLE_UNASSALPHA)}},
    };
}

// ---------------------------------------------------------------------------
// Compact mode: JPEG data kept, bilevel pages coded as Group 4 or 1-bit
// Flate, whichever is smaller, and every page it cannot vouch for converted
// as without it.

PageRecipe jpegPage(uint16_t photometric, uint32_t rowsPerStrip,
                    std::optional<fixtures::Subsampling> subsampling = std::nullopt) {
    return {.width = 83,
            .height = 51,
            .compression = COMPRESSION_JPEG,
            .photometric = photometric,
            .rowsPerStrip = rowsPerStrip,
            .ycbcrSubsampling = subsampling};
}

PageRecipe inTiles(PageRecipe page) {
    page.tiles = fixtures::TileSize{};
    return page;
}

PageRecipe text(PageRecipe page) {
    page.width = 301;
    page.height = 203;
    return fixtures::withBilevelContent(page, fixtures::BilevelContent::Text);
}

PageRecipe halftone(PageRecipe page) {
    page.width = 301;
    page.height = 203;
    return fixtures::withBilevelContent(page, fixtures::BilevelContent::Halftone);
}

std::vector<PageKind> compactKinds() {
    const auto compact = [](std::string name, std::vector<PageRecipe> pages, int tolerance,
                            std::vector<std::string> encodings) {
        PageKind kind{std::move(name), std::move(pages), tolerance};
        kind.compact = true;
        kind.encodings = std::move(encodings);
        return kind;
    };
    constexpr uint32_t kWhole = fixtures::kWholePage;
    return {
        compact("JpegGreyOneStrip", {jpegPage(kMinIsBlack, kWhole)}, 2, {"jpeg"}),
        compact("JpegRgbStrips", {jpegPage(PHOTOMETRIC_RGB, 16)}, 2, {"jpeg"}),
        compact("JpegYCbCr22OneStrip", {jpegPage(PHOTOMETRIC_YCBCR, kWhole)}, 2, {"jpeg"}),
        compact("JpegYCbCr21Strips", {jpegPage(PHOTOMETRIC_YCBCR, 8, fixtures::Subsampling{2, 1})},
                2, {"jpeg"}),
        compact("JpegTiledIsDecoded", {inTiles(jpegPage(PHOTOMETRIC_RGB, kWhole))}, 1, {"image"}),
        compact("JpegMinIsWhiteIsDecoded", {jpegPage(kMinIsWhite, kWhole)}, 1, {"image"}),
        compact("BilevelUncompressedMinIsWhite", {text(grey(COMPRESSION_NONE, kMinIsWhite, 1))}, 0,
                {"ccitt"}),
        compact("BilevelPackBitsMinIsBlackStrips",
                {withStrips(text(grey(kPackBits, kMinIsBlack, 1)), 7)}, 0, {"ccitt"}),
        compact("BilevelLzwMinIsWhite", {text(grey(COMPRESSION_LZW, kMinIsWhite, 1))}, 0,
                {"ccitt"}),
        compact("BilevelDeflateMinIsBlackFillOrder2",
                {withFillOrder2(text(grey(kAdobeDeflate, kMinIsBlack, 1)))}, 0, {"ccitt"}),
        compact("BilevelTiled", {inTiles(text(grey(COMPRESSION_NONE, kMinIsWhite, 1)))}, 0,
                {"ccitt"}),
        compact("BilevelHalftoneIsFlate", {halftone(grey(COMPRESSION_LZW, kMinIsWhite, 1))}, 0,
                {"image"}),
        compact("FaxAndOtherPagesAsBefore",
                {fax(COMPRESSION_CCITTFAX4), fax(COMPRESSION_CCITTFAX3),
                 grey(COMPRESSION_LZW, kMinIsBlack, 2), rgb(COMPRESSION_LZW),
                 withWangPageControl(grey(COMPRESSION_LZW, kMinIsWhite, 1))},
                0, {"ccitt", "ccitt", "image", "image", "image"}),
    };
}

// The standard profile, smaller by default: JPEG data kept wherever readers
// draw libtiff's rows, bilevel pages in the smaller of Group 4 and 1-bit
// Flate; with losslessDecode every page decoded, as the classic profile does.
std::vector<PageKind> standardKinds() {
    const auto standard = [](std::string name, std::vector<PageRecipe> pages, int tolerance,
                             std::vector<std::string> encodings, int bits = 0) {
        PageKind kind{std::move(name), std::move(pages), tolerance};
        kind.profile = quorvex::OutputProfile::Standard;
        kind.encodings = std::move(encodings);
        kind.bitsPerComponent = bits;
        return kind;
    };
    const auto decoded = [&](std::string name, std::vector<PageRecipe> pages, int tolerance,
                             std::vector<std::string> encodings, int bits) {
        PageKind kind =
            standard(std::move(name), std::move(pages), tolerance, std::move(encodings), bits);
        kind.losslessDecode = true;
        return kind;
    };
    constexpr uint32_t kWhole = fixtures::kWholePage;
    return {
        standard("JpegKeptYCbCr22OneStrip", {jpegPage(PHOTOMETRIC_YCBCR, kWhole)}, 2, {"jpeg"}),
        standard("JpegKeptGreyStrips", {jpegPage(kMinIsBlack, 16)}, 2, {"jpeg"}),
        standard("JpegKeptYCbCr21Strips",
                 {jpegPage(PHOTOMETRIC_YCBCR, 8, fixtures::Subsampling{2, 1})}, 2, {"jpeg"}),
        standard("JpegYCbCr22StripsDecoded", {jpegPage(PHOTOMETRIC_YCBCR, 16)}, 1, {"image"}, 8),
        standard("BilevelTextIsGroup4", {text(grey(kPackBits, kMinIsWhite, 1))}, 0, {"ccitt"}, 1),
        standard("BilevelHalftoneIsFlate", {halftone(grey(COMPRESSION_LZW, kMinIsBlack, 1))}, 0,
                 {"image"}, 1),
        standard("BilevelPackBitsStaysOneBit",
                 {grey(kPackBits, kMinIsWhite, 1), grey(kPackBits, kMinIsBlack, 1)}, 0, {}, 1),
        standard("BilevelWangPageControlStaysOneBit",
                 {withWangPageControl(grey(COMPRESSION_LZW, kMinIsWhite, 1))}, 0, {}, 1),
        decoded("LosslessDecodeJpeg", {jpegPage(PHOTOMETRIC_YCBCR, kWhole)}, 1, {"image"}, 8),
        decoded("LosslessDecodeBilevel", {text(grey(kPackBits, kMinIsWhite, 1))}, 0, {"image"}, 8),
    };
}

// ---------------------------------------------------------------------------
// The standard profile: CMYK first pages at their exact inks, grey as grey,
// an RGB page's undeclared fourth sample as alpha, ICC profiles kept.

// MuPDF's rendering of a page into a CMYK pixmap, four bytes a pixel.
std::vector<uint8_t> renderInks(const std::string& pdf, int page, uint32_t width, uint32_t height) {
    const support::TempDir scratch("quorvex-inks");
    const std::string output = (scratch / "page.pam").string();
    const support::CommandResult drawn =
        support::runCommand({"mutool", "draw", "-q", "-N", "-f", "-w", std::to_string(width), "-h",
                             std::to_string(height), "-c", "cmyk", "-F", "pam", "-o", output, pdf,
                             std::to_string(page + 1)});
    if (!drawn.succeeded())
        throw std::runtime_error("mutool draw -c cmyk: " + drawn.statusText() + " " + drawn.err);
    const std::string pam = support::readFile(output);
    const std::size_t end = pam.find("ENDHDR\n");
    if (end == std::string::npos || pam.find("DEPTH 4\n") == std::string::npos)
        throw std::runtime_error("mutool draw wrote no four-ink PAM for " + pdf);
    return {pam.begin() + static_cast<std::ptrdiff_t>(end + 7), pam.end()};
}

// Inks of libtiff's decoded samples on white paper: unassociated alpha
// scales the inks, premultiplied ones are ink already; other extra channels
// are not drawn.
std::vector<int> expectedInks(const support::TiffSamples& samples, const PageRecipe& page) {
    const double full = std::ldexp(1.0, fixtures::effectiveBitsPerSample(page)) - 1;
    const bool scaledByAlpha =
        !page.extraSamples.empty() && page.extraSamples[0] == EXTRASAMPLE_UNASSALPHA;
    std::vector<int> inks;
    for (uint32_t y = 0; y < samples.height; ++y) {
        for (uint32_t x = 0; x < samples.width; ++x) {
            const double* pixel = samples.pixel(x, y);
            const double cover = scaledByAlpha ? pixel[4] / full : 1.0;
            for (int c = 0; c < 4; ++c)
                inks.push_back(static_cast<int>(std::lround(pixel[c] / full * cover * 255)));
        }
    }
    return inks;
}

void PixelRoundTrip::compareInks(const std::filesystem::path& tiff, const std::string& pdf,
                                 const PageRecipe& recipe, int page, int tolerance) {
    const std::vector<int> expected = expectedInks(support::readTiffSamples(tiff, page), recipe);
    const std::vector<uint8_t> shown = renderInks(pdf, page, recipe.width, recipe.height);
    ASSERT_EQ(shown.size(), expected.size());
    int worst = 0;
    for (std::size_t i = 0; i < shown.size(); ++i)
        worst = std::max(worst, std::abs(expected[i] - shown[i]));
    EXPECT_LE(worst, tolerance) << "page " << page;
}

// The object a page image's /ColorSpace names, 0 when it names none.
uint64_t profileObjectOf(const std::string& dictionary) {
    const std::string line = pdfbytes::lineStartingWith(dictionary, "/ColorSpace");
    const std::size_t reference = line.find(" 0 R");
    if (reference == std::string::npos)
        return 0;
    const std::size_t start = line.find_last_of(' ', reference - 1) + 1;
    return std::stoull(line.substr(start, reference - start));
}

void PixelRoundTrip::expectProfiles(const quorvex::ConversionOutcome& outcome,
                                    const PageKind& kind) {
    const pdfbytes::PdfBytes bytes = pdfbytes::PdfBytes::load(outcome.outputPath);
    std::map<std::vector<uint8_t>, uint64_t> shared;
    std::size_t leftOut = 0;
    for (std::size_t page = 0; page < kind.pages.size(); ++page) {
        const uint64_t object = profileObjectOf(bytes.imageDictionary(page));
        if (!kind.profilesKept[page]) {
            EXPECT_EQ(object, 0U) << "page " << page;
            leftOut += kind.pages[page].iccProfile ? 1 : 0;
            continue;
        }
        ASSERT_NE(object, 0U) << "page " << page;
        const std::vector<uint8_t>& profile = kind.pages[page].iccProfile.value();
        const support::CommandResult extracted =
            support::runCommand({"qpdf", "--show-object=" + std::to_string(object),
                                 "--filtered-stream-data", outcome.outputPath});
        EXPECT_EQ(extracted.out, std::string(profile.begin(), profile.end())) << "page " << page;
        EXPECT_NE(bytes.dictionary(object).find("/Alternate /Device"), std::string::npos);
        EXPECT_EQ(shared.emplace(profile, object).first->second, object)
            << "pages with one profile share its object";
    }
    const auto notes = std::count_if(
        outcome.notes.begin(), outcome.notes.end(),
        [](const std::string& note) { return note.find("ICC profile") != std::string::npos; });
    EXPECT_EQ(static_cast<std::size_t>(notes), leftOut);
}

PageKind standard(std::string name, std::vector<PageRecipe> pages, int tolerance = 0) {
    PageKind kind{std::move(name), std::move(pages), tolerance};
    kind.profile = quorvex::OutputProfile::Standard;
    return kind;
}

PageKind inks(std::string name, std::vector<PageRecipe> pages, int tolerance = 0) {
    PageKind kind = standard(std::move(name), std::move(pages), tolerance);
    kind.inks = true;
    kind.colour = "cmyk";
    return kind;
}

PageKind profiled(std::string name, std::vector<PageRecipe> pages, std::vector<bool> kept) {
    PageKind kind = standard(std::move(name), std::move(pages));
    kind.profilesKept = std::move(kept);
    return kind;
}

PageRecipe cmyk(uint16_t compression, uint16_t bits = 8) {
    return {.width = 31,
            .height = 21,
            .compression = compression,
            .photometric = PHOTOMETRIC_SEPARATED,
            .bitsPerSample = bits};
}

PageRecipe separate(PageRecipe page);

PageRecipe withProfile(PageRecipe page, const std::string& space, uint32_t variant = 0) {
    page.iccProfile = fixtures::iccProfile(space, variant);
    return page;
}

std::vector<PageKind> colourStandardKinds() {
    PageRecipe extraChannel = cmyk(COMPRESSION_LZW);
    extraChannel.extraSamples = {EXTRASAMPLE_UNSPECIFIED};
    PageRecipe undeclared = rgb(COMPRESSION_LZW);
    undeclared.samplesPerPixel = 4;
    std::vector<uint8_t> cut = fixtures::iccProfile("RGB ");
    cut.resize(100);
    std::vector<uint8_t> misdeclared = fixtures::iccProfile("RGB ");
    misdeclared.push_back(0);
    PageRecipe shortProfile = rgb(COMPRESSION_NONE);
    shortProfile.iccProfile = cut;
    PageRecipe longProfile = rgb(COMPRESSION_NONE);
    longProfile.iccProfile = misdeclared;
    PageRecipe link = rgb(COMPRESSION_NONE);
    link.iccProfile = fixtures::iccProfile("RGB ", 0, "link");
    const PageRecipe greyProfiled = withProfile(grey(kDeflate, kMinIsBlack, 8), "GRAY");
    PageKind keptJpeg = inks("CmykJpegKeptAsDct",
                             {cmyk(COMPRESSION_JPEG), withStrips(cmyk(COMPRESSION_JPEG), 16)}, 2);
    keptJpeg.compact = true;
    keptJpeg.encodings = {"jpeg", "jpeg"};
    PageKind grey8 =
        standard("GreyIsDeviceGray",
                 {grey(COMPRESSION_NONE, kMinIsBlack, 8), grey(COMPRESSION_LZW, kMinIsWhite, 8),
                  grey(kPackBits, kMinIsWhite, 4), grey(COMPRESSION_LZW, kMinIsBlack, 2),
                  grey(kDeflate, kMinIsBlack, 16)});
    grey8.colour = "gray";
    return {
        inks("CmykFirstPage8Bit", {cmyk(COMPRESSION_NONE), cmyk(COMPRESSION_LZW)}),
        inks("Cmyk16Bit", {cmyk(kDeflate, 16), cmyk(COMPRESSION_LZW, 16)}, 1),
        inks("CmykSeparatePlanes", {separate(cmyk(COMPRESSION_LZW)), separate(cmyk(kPackBits, 16))},
             1),
        inks("CmykJpeg", {cmyk(COMPRESSION_JPEG), withStrips(cmyk(COMPRESSION_JPEG), 8)}, 1),
        inks("CmykWithAlpha",
             {withAlpha(cmyk(COMPRESSION_LZW), EXTRASAMPLE_UNASSALPHA),
              withAlpha(cmyk(kDeflate, 16), EXTRASAMPLE_ASSOCALPHA),
              separate(withAlpha(cmyk(COMPRESSION_NONE), EXTRASAMPLE_UNASSALPHA))},
             1),
        keptJpeg,
        inks("CmykExtraChannelDropped", {extraChannel, separate(extraChannel)}),
        standard("RgbUndeclaredFourthSampleIsAlpha", {undeclared, separate(undeclared)}, 1),
        grey8,
        profiled(
            "IccOnRgbGreyPalettePages",
            {withProfile(rgb(COMPRESSION_LZW), "RGB "), greyProfiled,
             withProfile(palette(COMPRESSION_NONE, 8, fixtures::ColorMapMode::Auto16Bit), "RGB "),
             withProfile(pureInkCmyk(COMPRESSION_LZW), "CMYK")},
            {true, true, true, true}),
        profiled("IccSharedAcrossPages",
                 {withProfile(rgb(COMPRESSION_NONE), "RGB ", 1), greyProfiled,
                  withProfile(rgb(kDeflate), "RGB ", 1), withProfile(rgb(kDeflate), "RGB ", 2),
                  greyProfiled},
                 {true, true, true, true, true}),
        profiled("IccMismatchedOrMalformedLeftOut",
                 {withProfile(grey(COMPRESSION_NONE, kMinIsBlack, 8), "RGB "),
                  withProfile(rgb(COMPRESSION_LZW), "CMYK"), shortProfile, longProfile, link,
                  withProfile(rgb(COMPRESSION_LZW), "RGB ")},
                 {false, false, false, false, false, true}),
    };
}

INSTANTIATE_TEST_SUITE_P(StandardColour, PixelRoundTrip, ::testing::ValuesIn(colourStandardKinds()),
                         kByName);

TEST_P(PixelRoundTrip, RenderedPagesMatchLibtiffDecode) {
    convertAndCompare(GetParam());
}

INSTANTIATE_TEST_SUITE_P(Fax, PixelRoundTrip, ::testing::ValuesIn(faxKinds()), kByName);
INSTANTIATE_TEST_SUITE_P(Bilevel, PixelRoundTrip, ::testing::ValuesIn(bilevelKinds()), kByName);
INSTANTIATE_TEST_SUITE_P(Grey, PixelRoundTrip, ::testing::ValuesIn(greyKinds()), kByName);
INSTANTIATE_TEST_SUITE_P(Palette, PixelRoundTrip, ::testing::ValuesIn(paletteKinds()), kByName);
INSTANTIATE_TEST_SUITE_P(Colour, PixelRoundTrip, ::testing::ValuesIn(colourKinds()), kByName);
INSTANTIATE_TEST_SUITE_P(Jpeg, PixelRoundTrip, ::testing::ValuesIn(lossyKinds()), kByName);
INSTANTIATE_TEST_SUITE_P(Compact, PixelRoundTrip, ::testing::ValuesIn(compactKinds()), kByName);
INSTANTIATE_TEST_SUITE_P(Standard, PixelRoundTrip, ::testing::ValuesIn(standardKinds()), kByName);
INSTANTIATE_TEST_SUITE_P(Mixed, PixelRoundTrip, ::testing::ValuesIn(mixedDocumentKinds()), kByName);
INSTANTIATE_TEST_SUITE_P(FaxCopyKeepsSampleTags, PixelRoundTrip,
                         ::testing::ValuesIn(faxCopyBugKinds()), kByName);

// The picture of an RGB page of fewer than 8 bits per sample, each sample
// scaled to 0..255 (libtiff's RGBA reader does not take such pages).
support::RgbImage scaledRgb(const PageRecipe& page) {
    const uint16_t bits = fixtures::effectiveBitsPerSample(page);
    const std::vector<uint8_t> samples = fixtures::pageSamples(page);
    const uint64_t rowBytes = (uint64_t{page.width} * 3 * bits + 7) / 8;
    const unsigned highest = (1U << bits) - 1;
    support::RgbImage image{page.width, page.height, {}};
    for (uint32_t y = 0; y < page.height; ++y) {
        for (uint64_t i = 0; i < uint64_t{page.width} * 3; ++i) {
            const uint64_t bit = i * bits;
            const unsigned byte = samples[y * rowBytes + bit / 8];
            const unsigned value = (byte >> (8 - bits - bit % 8)) & highest;
            image.rgb.push_back(static_cast<uint8_t>((value * 255 + highest / 2) / highest));
        }
    }
    return image;
}

// ---------------------------------------------------------------------------
// Large pages compressed in pieces as they are read, on every thread, and
// joined into one stream; the small pages beside them are compressed whole.
std::vector<PageKind> piecedKinds() {
    const quorvex::FlatePieceSettings pieces{.pieceBytes = 7001, .splitThreshold = 20'000};
    const auto inPieces = [&](std::string name, std::vector<PageRecipe> pages, int tolerance) {
        PageKind kind{std::move(name), std::move(pages), tolerance};
        kind.pieces = pieces;
        return kind;
    };
    return {
        inPieces("LargeGreyPageAmongSmallOnes",
                 {grey(COMPRESSION_LZW, kMinIsBlack, 8),
                  withStrips(larger(grey(COMPRESSION_LZW, kMinIsBlack, 8), 301, 203), 16),
                  rgb(COMPRESSION_NONE)},
                 0),
        inPieces("LargeRgb16BitPage", {larger(rgb(COMPRESSION_LZW, 16), 211, 97)}, 1),
        inPieces(
            "LargePalettePageAfterAFax",
            {fax(COMPRESSION_CCITTFAX4),
             larger(palette(COMPRESSION_NONE, 8, fixtures::ColorMapMode::Auto16Bit), 301, 203)},
            0),
    };
}

INSTANTIATE_TEST_SUITE_P(InPieces, PixelRoundTrip, ::testing::ValuesIn(piecedKinds()), kByName);

// ---------------------------------------------------------------------------
// Kinds the compression-based routes would misdraw (their bit depth, colour
// space or sample layout would not be what the route delivers): they take the
// lossless decoded path, or libtiff's RGBA reader.

std::vector<PageKind> misdrawnByTheTables() {
    PageRecipe ycbcr{.width = 64,
                     .height = 48,
                     .compression = COMPRESSION_JPEG,
                     .photometric = PHOTOMETRIC_YCBCR,
                     .bitsPerSample = 8};
    PageRecipe ycbcrPlain = rgb(COMPRESSION_NONE);
    ycbcrPlain.photometric = PHOTOMETRIC_YCBCR;
    PageRecipe greyAlpha = withAlpha(grey(COMPRESSION_LZW, kMinIsBlack, 8), EXTRASAMPLE_ASSOCALPHA);
    PageRecipe tiledGrey = grey(COMPRESSION_NONE, kMinIsBlack, 8);
    tiledGrey.tiles = fixtures::TileSize{16, 16};
    PageRecipe tiledRgb = rgb(COMPRESSION_LZW);
    tiledRgb.tiles = fixtures::TileSize{16, 16};
    PageRecipe planarRgb = rgb(COMPRESSION_NONE);
    planarRgb.planarConfig = PLANARCONFIG_SEPARATE;
    PageRecipe packBitsNoBits = grey(kPackBits, kMinIsWhite, 1);
    packBitsNoBits.bitsPerSample = std::nullopt;
    PageRecipe uncompressedNoBits = grey(COMPRESSION_NONE, kMinIsWhite, 1);
    uncompressedNoBits.bitsPerSample = std::nullopt;
    PageRecipe fax4MinIsBlack = fax(COMPRESSION_CCITTFAX4);
    fax4MinIsBlack.photometric = kMinIsBlack;
    return {
        {"JpegYCbCr", {ycbcr}, 8},
        {"Grey16BitUncompressed", {grey(COMPRESSION_NONE, kMinIsBlack, 16)}, 1},
        {"Grey16BitLzw", {grey(COMPRESSION_LZW, kMinIsBlack, 16)}, 1},
        {"Rgb16BitUncompressed", {rgb(COMPRESSION_NONE, 16)}, 1},
        {"Rgb16BitLzw", {rgb(COMPRESSION_LZW, 16)}, 1},
        {"Palette1Bit", {palette(COMPRESSION_NONE, 1, fixtures::ColorMapMode::Auto16Bit)}},
        {"Rgb4BitUncompressed", {rgb(COMPRESSION_NONE, 4)}, 0, scaledRgb},
        {"Rgb4BitLzw", {rgb(COMPRESSION_LZW, 4)}, 0, scaledRgb},
        {"Rgb2BitUncompressed", {rgb(COMPRESSION_NONE, 2)}, 0, scaledRgb},
        {"Grey4BitUncompressedMinIsBlack", {grey(COMPRESSION_NONE, kMinIsBlack, 4)}},
        {"Grey4BitDeflateMinIsBlack", {grey(kDeflate, kMinIsBlack, 4)}},
        {"Grey2BitUncompressedMinIsBlack", {grey(COMPRESSION_NONE, kMinIsBlack, 2)}},
        {"Grey2BitPackBitsMinIsBlack", {grey(kPackBits, kMinIsBlack, 2)}},
        {"Bilevel1BitLzwMinIsWhite", {grey(COMPRESSION_LZW, kMinIsWhite, 1)}},
        {"Bilevel1BitPackBitsWithoutBitsPerSample", {packBitsNoBits}},
        {"Bilevel1BitUncompressedWithoutBitsPerSample", {uncompressedNoBits}},
        {"Group4MinIsBlack", {fax4MinIsBlack}},
        {"Rgb8BitUncompressedWithAlpha",
         {withAlpha(rgb(COMPRESSION_NONE), EXTRASAMPLE_UNASSALPHA)}},
        {"CmykUncompressedAfterAnRgbFirstPage",
         {rgb(COMPRESSION_NONE), pureInkCmyk(COMPRESSION_NONE)}},
        {"TiledGrey8BitUncompressed", {tiledGrey}},
        {"TiledRgb8BitLzw", {tiledRgb}},
        {"PlanarSeparateRgb8Bit", {planarRgb}},
        {"YCbCrUncompressed", {ycbcrPlain}},
        {"Grey8BitLzwWithAlpha", {greyAlpha}},
        // Only a striped first page sends the file through the one-strip copy;
        // the strips of a later page are joined as they are.
        {"OneStripFaxThenStripedFax",
         {fax(COMPRESSION_CCITTFAX4, 0), withStrips(fax(COMPRESSION_CCITTFAX4, 1), 20)}},
    };
}

INSTANTIATE_TEST_SUITE_P(DecodedPath, PixelRoundTrip, ::testing::ValuesIn(misdrawnByTheTables()),
                         kByName);

// The colours of a palette page looked up in its colour map (libtiff's RGBA
// reader does not take 16-bit palettes); 16-bit values shown at 8 bits.
support::RgbImage paletteColours(const PageRecipe& page) {
    const uint16_t bits = fixtures::effectiveBitsPerSample(page);
    const fixtures::ColorMap map = fixtures::generatedColorMap(bits, page.colorMapMode);
    const std::vector<uint8_t> samples = fixtures::pageSamples(page);
    support::RgbImage image{page.width, page.height, {}};
    for (uint64_t i = 0; i < uint64_t{page.width} * page.height; ++i) {
        uint16_t index = 0;
        std::memcpy(&index, samples.data() + i * 2, 2);
        for (const auto* channel : {&map.red, &map.green, &map.blue}) {
            image.rgb.push_back(static_cast<uint8_t>(((*channel)[index] + 128) / 257));
        }
    }
    return image;
}

PageRecipe withOrientation(PageRecipe page, uint16_t orientation) {
    page.orientation = orientation;
    return page;
}

PageRecipe tiled(PageRecipe page, uint32_t width = 16, uint32_t height = 16) {
    page.tiles = fixtures::TileSize{width, height};
    return page;
}

PageRecipe separate(PageRecipe page) {
    page.planarConfig = PLANARCONFIG_SEPARATE;
    return page;
}

PageRecipe jpegYCbCr(uint16_t horizontal, uint16_t vertical) {
    return {.width = 64,
            .height = 48,
            .compression = COMPRESSION_JPEG,
            .photometric = PHOTOMETRIC_YCBCR,
            .bitsPerSample = 8,
            .ycbcrSubsampling = fixtures::Subsampling{horizontal, vertical}};
}

// The rest of what libtiff decodes: JPEG in YCbCr, tiles and separate planes
// of every kind, 16-bit samples, further compressions, and mixed files.
std::vector<PageKind> everyDecodableKind() {
    constexpr uint16_t kLzma = 34925;
    constexpr uint16_t kZstd = 50000;
    constexpr uint16_t kWebp = 50001;
    PageRecipe rgbAlphaSeparate = separate(withAlpha(rgb(COMPRESSION_LZW), EXTRASAMPLE_ASSOCALPHA));
    PageRecipe greyAlphaSeparate =
        separate(withAlpha(grey(COMPRESSION_NONE, kMinIsBlack, 8), EXTRASAMPLE_ASSOCALPHA));
    PageRecipe tiledFax = tiled(fax(COMPRESSION_CCITTFAX4), 256, 64);
    return {
        {"JpegYCbCr1x1", {jpegYCbCr(1, 1)}, 2},
        {"JpegYCbCr2x1", {jpegYCbCr(2, 1)}, 2},
        {"JpegYCbCr2x2", {jpegYCbCr(2, 2)}, 2},
        {"JpegYCbCr2x2Strips", {withStrips(jpegYCbCr(2, 2), 16)}, 2},
        {"JpegYCbCr2x2Tiled", {tiled(jpegYCbCr(2, 2))}, 2},
        {"JpegYCbCr1x1Tiled", {tiled(jpegYCbCr(1, 1))}, 2},
        {"TiledGroup4Fax", {tiledFax}},
        {"TiledBilevelMinIsWhite", {tiled(grey(COMPRESSION_PACKBITS, kMinIsWhite, 1))}},
        {"TiledPalette8Bit", {tiled(palette(kDeflate, 8, fixtures::ColorMapMode::Auto16Bit))}},
        {"TiledPalette4BitPartialTiles",
         {tiled(palette(COMPRESSION_NONE, 4, fixtures::ColorMapMode::Auto16Bit), 32, 16)}},
        {"TiledRgb16Bit", {tiled(rgb(COMPRESSION_LZW, 16))}, 1},
        {"TiledRgbWithAlpha", {tiled(withAlpha(rgb(COMPRESSION_LZW), EXTRASAMPLE_ASSOCALPHA))}},
        {"SeparatePlanesRgbTiled", {tiled(separate(rgb(kDeflate)))}},
        {"SeparatePlanesRgbWithAlpha", {rgbAlphaSeparate}},
        {"SeparatePlanesGreyWithAlpha", {greyAlphaSeparate}},
        {"SeparatePlanesRgbStrips", {withStrips(separate(rgb(COMPRESSION_LZW)), 7)}},
        {"Palette16Bit",
         {palette(COMPRESSION_NONE, 16, fixtures::ColorMapMode::Auto16Bit)},
         1,
         paletteColours},
        {"Grey16BitMinIsWhite", {grey(COMPRESSION_NONE, kMinIsWhite, 16)}, 1},
        {"Rgb16BitWithAlpha", {withAlpha(rgb(COMPRESSION_NONE, 16), EXTRASAMPLE_UNASSALPHA)}, 1},
        {"RgbLzma", {rgb(kLzma)}},
        {"GreyZstd", {grey(kZstd, kMinIsBlack, 8)}},
        {"RgbWebp", {rgb(kWebp)}},
        {"LogLuv",
         {{.width = 40,
           .height = 30,
           .compression = COMPRESSION_SGILOG,
           .photometric = PHOTOMETRIC_LOGLUV,
           .bitsPerSample = 16,
           .sgilogDataFormat = SGILOGDATAFMT_16BIT}}},
        {"LogL",
         {{.width = 40,
           .height = 30,
           .compression = COMPRESSION_SGILOG,
           .photometric = PHOTOMETRIC_LOGL,
           .bitsPerSample = 16,
           .sgilogDataFormat = SGILOGDATAFMT_16BIT}}},
        {"MixedKindsInOneFile",
         {fax(COMPRESSION_CCITTFAX4), tiled(rgb(COMPRESSION_LZW, 16)), jpegYCbCr(2, 2),
          separate(rgb(COMPRESSION_NONE)),
          palette(COMPRESSION_NONE, 1, fixtures::ColorMapMode::Auto8Bit)},
         2},
    };
}

INSTANTIATE_TEST_SUITE_P(EveryDecodableKind, PixelRoundTrip,
                         ::testing::ValuesIn(everyDecodableKind()), kByName);

// Orientation 2 to 8 turns or flips the picture; the page shows it the right
// way up on every route.
std::vector<PageKind> orientedKinds() {
    std::vector<PageKind> kinds;
    for (uint16_t orientation = ORIENTATION_TOPRIGHT; orientation <= ORIENTATION_LEFTBOT;
         ++orientation) {
        const std::string suffix = std::to_string(orientation);
        kinds.push_back(
            {"RgbScanlines" + suffix, {withOrientation(rgb(COMPRESSION_NONE), orientation)}});
        kinds.push_back({"FaxPassThrough" + suffix,
                         {withOrientation(fax(COMPRESSION_CCITTFAX4), orientation)}});
        kinds.push_back(
            {"TiledDecoded" + suffix,
             {withOrientation(tiled(grey(COMPRESSION_LZW, kMinIsWhite, 4)), orientation)}});
        kinds.push_back({"RgbaRoute" + suffix,
                         {withOrientation(withAlpha(rgb(COMPRESSION_LZW), EXTRASAMPLE_ASSOCALPHA),
                                          orientation)}});
    }
    return kinds;
}

INSTANTIATE_TEST_SUITE_P(Oriented, PixelRoundTrip, ::testing::ValuesIn(orientedKinds()), kByName);

// ---------------------------------------------------------------------------
// Sample formats only the engine's own mapping draws. What the page should
// show is worked out here from libtiff's decompressed samples: integers over
// their range, SMin/SMaxSampleValue when given, floats as they are when the
// page stays within 0..1 and over its finite range otherwise, then
// min-is-white inverted, palettes looked up and alpha put on white paper.

using fixtures::ValueRange;

double unitValue(double value, const ValueRange& range) {
    if (std::isnan(value))
        return 0;
    if (std::isinf(value))
        return value > 0 ? 1 : 0;
    if (range.high <= range.low)
        return 0;
    return std::clamp((value - range.low) / (range.high - range.low), 0.0, 1.0);
}

// The value range each sample maps from.
std::vector<ValueRange> sampleRanges(const support::TiffSamples& samples, const PageRecipe& page,
                                     std::size_t colours) {
    const uint16_t bits = fixtures::effectiveBitsPerSample(page);
    const uint16_t format = page.sampleFormat.value_or(SAMPLEFORMAT_UINT);
    const double levels = std::ldexp(1.0, bits);
    std::vector<ValueRange> ranges(samples.samplesPerPixel,
                                   format == SAMPLEFORMAT_INT
                                       ? ValueRange{-levels / 2, levels / 2 - 1}
                                       : ValueRange{0, levels - 1});
    if (page.sampleLimits && page.photometric != PHOTOMETRIC_PALETTE) {
        ranges.assign(ranges.size(), *page.sampleLimits);
    } else if (format == SAMPLEFORMAT_IEEEFP) {
        double low = INFINITY;
        double high = -INFINITY;
        for (std::size_t i = 0; i < samples.values.size(); ++i) {
            const double value = samples.values[i];
            if (i % samples.samplesPerPixel < colours && std::isfinite(value)) {
                low = std::min(low, value);
                high = std::max(high, value);
            }
        }
        const bool inUnit = low >= 0 && high <= 1;
        ranges.assign(ranges.size(), ValueRange{0, 1});
        std::fill_n(ranges.begin(), colours, inUnit ? ValueRange{0, 1} : ValueRange{low, high});
    }
    return ranges;
}

// Each pixel's colour components (0..1) and alpha, before white paper.
struct MappedPixel {
    double colour[3] = {};
    double alpha = 1;
};

bool isLab(uint16_t photometric) {
    return photometric == PHOTOMETRIC_CIELAB || photometric == PHOTOMETRIC_ICCLAB ||
           photometric == PHOTOMETRIC_ITULAB;
}

std::vector<MappedPixel> mappedPixels(const std::filesystem::path& tiff, int index,
                                      const PageRecipe& page) {
    const support::TiffSamples samples = support::readTiffSamples(tiff, index);
    const std::size_t colours = samples.samplesPerPixel - page.extraSamples.size();
    const std::vector<ValueRange> ranges = sampleRanges(samples, page, colours);
    const uint16_t bits = fixtures::effectiveBitsPerSample(page);
    const fixtures::ColorMap map = page.photometric == PHOTOMETRIC_PALETTE
                                       ? fixtures::generatedColorMap(bits, page.colorMapMode)
                                       : fixtures::ColorMap{};
    std::vector<MappedPixel> pixels;
    for (uint32_t y = 0; y < samples.height; ++y) {
        for (uint32_t x = 0; x < samples.width; ++x) {
            const double* sample = samples.pixel(x, y);
            MappedPixel pixel;
            if (!page.extraSamples.empty())
                pixel.alpha = unitValue(sample[colours], ranges[colours]);
            if (page.photometric == PHOTOMETRIC_PALETTE) {
                const auto entry = static_cast<std::size_t>(sample[0]);
                pixel.colour[0] = map.red[entry] / 65535.0;
                pixel.colour[1] = map.green[entry] / 65535.0;
                pixel.colour[2] = map.blue[entry] / 65535.0;
            } else if (page.photometric == PHOTOMETRIC_CIELAB) {
                // L* over its range; a* and b* signed, as -128..127 at 8 bits.
                const double step = bits == 8 ? 1.0 : 1.0 / 256;
                const double half = std::ldexp(1.0, bits - 1);
                pixel.colour[0] = unitValue(sample[0], ranges[0]);
                for (int c = 1; c < 3; ++c)
                    pixel.colour[c] = (sample[c] >= half ? sample[c] - 2 * half : sample[c]) * step;
            } else if (isLab(page.photometric)) {
                // ICC Lab: a* and b* 0..full as -128..127; ITU Lab: its default
                // ranges, -85..85 and -75..125.
                const bool icc = page.photometric == PHOTOMETRIC_ICCLAB;
                const double full = std::ldexp(1.0, bits) - 1;
                pixel.colour[0] = sample[0] / full;
                pixel.colour[1] = sample[1] / full * (icc ? 255 : 170) - (icc ? 128 : 85);
                pixel.colour[2] = sample[2] / full * (icc ? 255 : 200) - (icc ? 128 : 75);
            } else {
                for (std::size_t c = 0; c < 3; ++c) {
                    const std::size_t from = std::min(c, colours - 1);  // grey fills all three
                    pixel.colour[c] = unitValue(sample[from], ranges[from]);
                }
                if (page.photometric == PHOTOMETRIC_MINISWHITE)
                    pixel.colour[0] = pixel.colour[1] = pixel.colour[2] = 1 - pixel.colour[0];
            }
            pixels.push_back(pixel);
        }
    }
    return pixels;
}

bool associated(const PageRecipe& page) {
    return !page.extraSamples.empty() && page.extraSamples[0] == EXTRASAMPLE_ASSOCALPHA;
}

double onWhite(double colour, double alpha, bool premultiplied) {
    return std::min(premultiplied ? colour + 1 - alpha : colour * alpha + 1 - alpha, 1.0);
}

support::RgbImage mappedPicture(const std::filesystem::path& tiff, int index,
                                const PageRecipe& page) {
    support::RgbImage image{page.width, page.height, {}};
    for (const MappedPixel& pixel : mappedPixels(tiff, index, page)) {
        for (const double colour : pixel.colour) {
            const double shown = onWhite(colour, pixel.alpha, associated(page));
            image.rgb.push_back(static_cast<uint8_t>(std::lround(shown * 255)));
        }
    }
    return image;
}

// The Lab components a CIE Lab page's image stream should hold (0..1 of the
// PDF Lab range): on white paper L* goes toward 100, a* and b* toward 0.
std::vector<double> mappedLab(const std::filesystem::path& tiff, int index,
                              const PageRecipe& page) {
    std::vector<double> components;
    for (const MappedPixel& pixel : mappedPixels(tiff, index, page)) {
        const bool premultiplied = associated(page);
        components.push_back(onWhite(pixel.colour[0], pixel.alpha, premultiplied));
        for (int c = 1; c < 3; ++c) {
            const double value = premultiplied ? pixel.colour[c] : pixel.colour[c] * pixel.alpha;
            components.push_back(std::clamp((value + 128) / 255, 0.0, 1.0));
        }
    }
    return components;
}

// MuPDF draws Lab only with colour management, so Lab pages are checked in
// their image stream instead of a rendering.
void PixelRoundTrip::compareMapped(const std::filesystem::path& tiff, const std::string& pdf,
                                   const PageRecipe& recipe, int page) {
    if (!isLab(recipe.photometric)) {
        const support::RgbImage expected = mappedPicture(tiff, page, recipe);
        const support::RgbImage shown =
            support::renderPdfPage(pdf, page, expected.width, expected.height);
        EXPECT_TRUE(support::imagesMatch(expected, shown, 1)) << "page " << page;
        return;
    }
    const std::vector<double> expected = mappedLab(tiff, page, recipe);
    const pdfbytes::PdfBytes bytes = pdfbytes::PdfBytes::load(pdf);
    const std::string stream = pdfbytes::inflate(bytes.imageStream(page));
    const std::size_t width = stream.size() / expected.size();
    ASSERT_TRUE(width == 1 || width == 2) << stream.size() << " bytes for " << expected.size();
    for (std::size_t i = 0; i < expected.size(); ++i) {
        double value = static_cast<uint8_t>(stream[i * width]);
        if (width == 2)
            value = value * 256 + static_cast<uint8_t>(stream[i * 2 + 1]);
        const double full = width == 2 ? 65535 : 255;
        ASSERT_NEAR(value / full, expected[i], 1.0 / 255 + 1e-9) << "component " << i;
    }
}

PageRecipe samplePage(uint16_t photometric, uint16_t bits, uint16_t format = SAMPLEFORMAT_UINT,
                      uint16_t compression = COMPRESSION_NONE) {
    return {.width = 29,
            .height = 19,
            .compression = compression,
            .photometric = photometric,
            .bitsPerSample = bits,
            .sampleFormat = format};
}

PageRecipe limited(PageRecipe page, double low, double high) {
    page.sampleLimits = ValueRange{low, high};
    return page;
}

PageRecipe floatsIn(PageRecipe page, double low, double high) {
    page.floatRange = ValueRange{low, high};
    return page;
}

PageRecipe predicted(PageRecipe page, uint16_t compression) {
    page.compression = compression;
    page.predictor = PREDICTOR_FLOATINGPOINT;
    return page;
}

PageKind mapped(const std::string& name, std::vector<PageRecipe> pages) {
    return {name, std::move(pages), 1, {}, {}, true};
}

PageKind inStandard(PageKind kind) {
    kind.profile = quorvex::OutputProfile::Standard;
    return kind;
}

// Grey, RGB and RGB in separate planes of one sample format.
std::vector<PageRecipe> threeLayouts(PageRecipe page) {
    PageRecipe rgbPage = page;
    rgbPage.photometric = PHOTOMETRIC_RGB;
    return {page, withStrips(rgbPage, 5), separate(rgbPage)};
}

std::vector<PageKind> integerKinds() {
    const uint16_t codecs[] = {COMPRESSION_NONE, COMPRESSION_LZW, kDeflate, kPackBits};
    std::vector<PageKind> kinds;
    for (uint16_t bits = 2; bits <= 32; ++bits) {
        PageRecipe page = samplePage(bits % 3 == 0 ? kMinIsWhite : kMinIsBlack, bits,
                                     SAMPLEFORMAT_UINT, codecs[bits % 4]);
        std::vector<PageRecipe> pages = threeLayouts(page);
        if (bits % 5 == 0)
            pages.push_back(tiled(pages[2]));
        kinds.push_back(mapped("Unsigned" + std::to_string(bits) + "Bit", pages));
    }
    for (const uint16_t bits : {uint16_t{8}, uint16_t{16}, uint16_t{32}}) {
        const std::string name = "Signed" + std::to_string(bits) + "Bit";
        const PageRecipe page = samplePage(kMinIsBlack, bits, SAMPLEFORMAT_INT, COMPRESSION_LZW);
        const double quarter = std::ldexp(1.0, bits - 2);
        kinds.push_back(mapped(name, threeLayouts(page)));
        kinds.push_back(
            mapped(name + "WithLimits", threeLayouts(limited(page, -quarter, quarter))));
    }
    kinds.push_back(mapped("Unsigned12BitWithLimits",
                           threeLayouts(limited(samplePage(kMinIsBlack, 12), 500, 3000))));
    kinds.push_back(mapped("Unsigned8BitNarrowedLimits",
                           threeLayouts(limited(samplePage(kMinIsWhite, 8), 40, 200))));
    return kinds;
}

std::vector<PageKind> floatKinds() {
    std::vector<PageKind> kinds;
    for (const uint16_t bits : {uint16_t{16}, uint16_t{24}, uint16_t{32}, uint16_t{64}}) {
        const std::string name = "Float" + std::to_string(bits) + "Bit";
        const PageRecipe unit = samplePage(kMinIsBlack, bits, SAMPLEFORMAT_IEEEFP);
        const PageRecipe wide = floatsIn(unit, -300, 4100);
        kinds.push_back(mapped(name + "InUnitRange", threeLayouts(unit)));
        kinds.push_back(mapped(name + "OutsideUnitRange", threeLayouts(wide)));
        kinds.push_back(mapped(name + "WithLimits", threeLayouts(limited(wide, 0, 2000))));
        kinds.push_back(
            mapped(name + "UnitRangeWithLimits", threeLayouts(limited(unit, 0.2, 0.7))));
        std::vector<PageRecipe> pages = threeLayouts(floatsIn(unit, -1, 2));
        pages[1] = predicted(pages[1], COMPRESSION_LZW);
        pages[2] = tiled(predicted(pages[2], kDeflate));
        kinds.push_back(mapped(name + "Predictor3", pages));
    }
    PageRecipe specials = floatsIn(samplePage(kMinIsBlack, 32, SAMPLEFORMAT_IEEEFP), -5, 5);
    specials.floatSpecials = true;
    PageRecipe unitSpecials = samplePage(kMinIsWhite, 32, SAMPLEFORMAT_IEEEFP);
    unitSpecials.floatSpecials = true;
    kinds.push_back(mapped("Float32NanAndInfinities", {specials, unitSpecials}));
    kinds.push_back(
        mapped("Float32ConstantOutsideUnitRange",
               threeLayouts(floatsIn(samplePage(kMinIsBlack, 32, SAMPLEFORMAT_IEEEFP), 7.5, 7.5))));
    return kinds;
}

std::vector<PageKind> alphaAndColourKinds() {
    const PageRecipe rgba4444 = samplePage(PHOTOMETRIC_RGB, 4);
    const PageRecipe lab = samplePage(PHOTOMETRIC_CIELAB, 8);
    return {
        mapped("Rgba4444Unassociated", {withAlpha(rgba4444, EXTRASAMPLE_UNASSALPHA),
                                        separate(withAlpha(rgba4444, EXTRASAMPLE_UNASSALPHA))}),
        mapped("Rgba4444Associated", {withAlpha(rgba4444, EXTRASAMPLE_ASSOCALPHA)}),
        mapped("Grey2BitWithAlpha",
               {withAlpha(samplePage(kMinIsBlack, 2), EXTRASAMPLE_UNASSALPHA)}),
        mapped("Float32RgbWithAlpha",
               {withAlpha(samplePage(PHOTOMETRIC_RGB, 32, SAMPLEFORMAT_IEEEFP),
                          EXTRASAMPLE_UNASSALPHA),
                withAlpha(floatsIn(samplePage(PHOTOMETRIC_RGB, 32, SAMPLEFORMAT_IEEEFP), 0, 9),
                          EXTRASAMPLE_ASSOCALPHA)}),
        mapped(
            "Signed16BitRgbWithAlpha",
            {withAlpha(samplePage(PHOTOMETRIC_RGB, 16, SAMPLEFORMAT_INT), EXTRASAMPLE_UNASSALPHA)}),
        mapped("LabWithAlpha", {withAlpha(lab, EXTRASAMPLE_UNASSALPHA),
                                separate(withAlpha(lab, EXTRASAMPLE_ASSOCALPHA))}),
        mapped("Lab16Bit", {samplePage(PHOTOMETRIC_CIELAB, 16)}),
        inStandard(mapped("IccLabWithAlpha",
                          {withAlpha(samplePage(PHOTOMETRIC_ICCLAB, 8), EXTRASAMPLE_UNASSALPHA),
                           samplePage(PHOTOMETRIC_ICCLAB, 16)})),
        inStandard(mapped("ItuLabWithAlpha",
                          {samplePage(PHOTOMETRIC_ITULAB, 8),
                           withAlpha(samplePage(PHOTOMETRIC_ITULAB, 16), EXTRASAMPLE_ASSOCALPHA)})),
        mapped("Palette3Bit", {samplePage(PHOTOMETRIC_PALETTE, 3)}),
        // Fax pages coded again leave the next page's sample limits alone.
        mapped("StripedFaxThenFloatWithLimits",
               {withStrips(fax(COMPRESSION_CCITTFAX4), 20),
                limited(floatsIn(samplePage(PHOTOMETRIC_RGB, 32, SAMPLEFORMAT_IEEEFP), -9, 9), -2,
                        5)}),
        mapped("Palette12Bit", {samplePage(PHOTOMETRIC_PALETTE, 12, SAMPLEFORMAT_UINT, kDeflate)}),
    };
}

std::vector<PageKind> sampleFormatKinds() {
    std::vector<PageKind> kinds = integerKinds();
    for (auto more : {floatKinds(), alphaAndColourKinds()})
        kinds.insert(kinds.end(), more.begin(), more.end());
    return kinds;
}

INSTANTIATE_TEST_SUITE_P(SampleFormats, PixelRoundTrip, ::testing::ValuesIn(sampleFormatKinds()),
                         kByName);

// ---------------------------------------------------------------------------
// Archival files: every kind of every table converted with PDF/A-1b, and the
// table's kinds merged into one document, go to Apache PDFBox Preflight in one
// run of the validator (a JVM start costs seconds). CMYK pages without a
// profile of their own are refused with the reason instead.

struct ArchivalTable {
    std::string name;
    std::vector<PageKind> kinds;
};

void PrintTo(const ArchivalTable& table, std::ostream* out) {
    *out << table.name;
}

// A CMYK page that brings no CMYK profile of its own needs an output intent.
bool needsCmykIntent(const PageKind& kind) {
    return std::any_of(kind.pages.begin(), kind.pages.end(), [](const PageRecipe& page) {
        const bool ownProfile =
            page.iccProfile && page.iccProfile->size() >= 20 &&
            std::string(page.iccProfile->begin() + 16, page.iccProfile->begin() + 20) == "CMYK";
        return page.photometric == PHOTOMETRIC_SEPARATED && !ownProfile;
    });
}

// Preflight's verdict on each file of `pdfs`: the file's section of its
// report when the file does not conform, nothing when it does.
std::map<std::string, std::string> preflightFailures(const std::filesystem::path& folder,
                                                     const std::vector<std::string>& pdfs) {
    const auto list = folder / "files.txt";
    {
        std::ofstream out(list);
        for (const std::string& pdf : pdfs)
            out << pdf << "\n";
    }
    const support::CommandResult run = support::runCommand(
        {"java", "-cp", QUORVEX_PREFLIGHT_CLASSPATH, "org.apache.pdfbox.preflight.Validator_A1b",
         "xml", "group", list.string()},
        std::nullopt, std::chrono::minutes(10));
    const std::string report = support::readFile(list.string() + ".preflight.xml");
    std::map<std::string, std::string> failures;
    for (const std::string& pdf : pdfs) {
        const std::string name = std::filesystem::path(pdf).filename().string();
        const std::size_t at = report.find("<preflight name=\"" + name + "\"");
        const std::size_t end = report.find("</preflight>", at);
        const std::string section =
            at == std::string::npos ? run.out + run.err : report.substr(at, end - at);
        if (section.find("<isValid type=\"PDF/A1-b\">true</isValid>") == std::string::npos)
            failures[name] = section;
    }
    return failures;
}

class ArchivalValidation : public ::testing::TestWithParam<ArchivalTable> {};

TEST_P(ArchivalValidation, PreflightFindsEveryPdfA1bFileConforming) {
    support::TempDir dir;
    std::vector<std::string> pdfs;
    std::vector<std::string> convertible;
    for (PageKind kind : GetParam().kinds) {
        // The fixture's profiles are headers without tags: readers fall back
        // on the alternate space, but the validator links a palette's base
        // profile to build its colour table, and cannot link these.
        for (PageRecipe& page : kind.pages) {
            if (page.photometric == PHOTOMETRIC_PALETTE)
                page.iccProfile.reset();
        }
        const auto tiff = dir / (kind.name + ".tif");
        fixtures::writeTiff(tiff, kind.pages);
        quorvex::ConversionRequest request;
        request.inputPath = tiff.string();
        request.info.creationDate = "D:20240501120000Z";
        request.options.archival = quorvex::ArchivalLevel::PdfA1b;
        request.options.compact = kind.compact;
        const quorvex::ConversionOutcome outcome = quorvex::convertTiff(request);
        if (needsCmykIntent(kind)) {
            EXPECT_FALSE(outcome.ok()) << kind.name;
            EXPECT_NE(outcome.detail.find("--output-intent"), std::string::npos) << outcome.detail;
            continue;
        }
        ASSERT_TRUE(outcome.ok()) << kind.name << ": " << outcome.detail;
        pdfs.push_back(outcome.outputPath);
        convertible.push_back(tiff.string());
    }
    if (convertible.size() > 1) {
        quorvex::ConversionRequest merge;
        merge.inputPath = convertible.front();
        merge.mergedInputs.assign(convertible.begin() + 1, convertible.end());
        merge.outputPath = (dir / "merged.pdf").string();
        merge.options.archival = quorvex::ArchivalLevel::PdfA1b;
        const quorvex::ConversionOutcome outcome = quorvex::convertTiff(merge);
        ASSERT_TRUE(outcome.ok()) << outcome.detail;
        pdfs.push_back(outcome.outputPath);
    }
    for (const auto& [name, report] : preflightFailures(dir.path(), pdfs))
        ADD_FAILURE() << name << " is not PDF/A-1b:\n" << report;
}

INSTANTIATE_TEST_SUITE_P(
    RoundTripTables, ArchivalValidation,
    ::testing::Values(ArchivalTable{"Fax", faxKinds()}, ArchivalTable{"Bilevel", bilevelKinds()},
                      ArchivalTable{"Grey", greyKinds()}, ArchivalTable{"Palette", paletteKinds()},
                      ArchivalTable{"Colour", colourKinds()}, ArchivalTable{"Jpeg", lossyKinds()},
                      ArchivalTable{"Compact", compactKinds()},
                      ArchivalTable{"Mixed", mixedDocumentKinds()},
                      ArchivalTable{"DecodedPath", misdrawnByTheTables()},
                      ArchivalTable{"EveryDecodableKind", everyDecodableKind()},
                      ArchivalTable{"SampleFormats", sampleFormatKinds()},
                      ArchivalTable{"Standard", standardKinds()},
                      ArchivalTable{"StandardColour", colourStandardKinds()},
                      ArchivalTable{"InPieces", piecedKinds()}),
    kByName);

}  // namespace
