// JPEG pages joined into one /DCTDecode stream draw, in MuPDF and Poppler,
// within 2 of libtiff's own decode; data the joiner cannot vouch for is
// refused so the page is decoded instead.
#include "engine/encode/JpegJoin.h"

#include <gtest/gtest.h>
#include <tiffio.h>

#include <algorithm>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "fixtures/TiffFixture.h"
#include "support/TestSupport.h"

namespace {

namespace fs = std::filesystem;
using fixtures::PageRecipe;

struct JpegPage {
    std::vector<uint8_t> tables;
    std::vector<std::vector<uint8_t>> strips;
    quorvex::JpegPageShape shape;
    uint16_t photometric = 0;

    std::optional<std::vector<uint8_t>> join(
        quorvex::StripSeams seams = quorvex::StripSeams::Smoothed) const {
        std::vector<std::span<const uint8_t>> views(strips.begin(), strips.end());
        return quorvex::joinJpegStrips(tables, views, shape, seams);
    }
};

JpegPage readJpegPage(const fs::path& path) {
    std::unique_ptr<TIFF, decltype(&TIFFClose)> tiff(TIFFOpen(path.string().c_str(), "r"),
                                                     &TIFFClose);
    if (!tiff)
        throw std::runtime_error("cannot open " + path.string());
    TIFF* t = tiff.get();
    JpegPage page;
    uint32_t count = 0;
    void* tables = nullptr;
    if (TIFFGetField(t, TIFFTAG_JPEGTABLES, &count, &tables)) {
        const auto* bytes = static_cast<const uint8_t*>(tables);
        page.tables.assign(bytes, bytes + count);
    }
    TIFFGetField(t, TIFFTAG_IMAGEWIDTH, &page.shape.width);
    TIFFGetField(t, TIFFTAG_IMAGELENGTH, &page.shape.height);
    TIFFGetFieldDefaulted(t, TIFFTAG_SAMPLESPERPIXEL, &page.shape.components);
    TIFFGetFieldDefaulted(t, TIFFTAG_ROWSPERSTRIP, &page.shape.rowsPerStrip);
    TIFFGetField(t, TIFFTAG_PHOTOMETRIC, &page.photometric);
    for (uint32_t strip = 0; strip < TIFFNumberOfStrips(t); ++strip) {
        std::vector<uint8_t> data(TIFFGetStrileByteCount(t, strip));
        TIFFReadRawStrip(t, strip, data.data(), static_cast<tmsize_t>(data.size()));
        page.strips.push_back(std::move(data));
    }
    return page;
}

struct Case {
    const char* name;
    PageRecipe page;
};

#ifndef _WIN32
// Only the readers' drawings have seams to mask.
// Chroma sampled down vertically is smoothed across strip boundaries once the
// strips are one scan, where libtiff repeats each strip's edge: the rows on
// either side of a boundary are left out of the comparison for such pages.
void maskStripSeams(const JpegPage& page, support::RgbImage& a, support::RgbImage& b) {
    const uint32_t rows = page.shape.rowsPerStrip;
    if (page.strips.size() < 2 || page.photometric != PHOTOMETRIC_YCBCR)
        return;
    for (uint32_t y = rows - 1; y + 1 < a.height; y += rows) {
        for (const uint32_t row : {y, y + 1}) {
            const std::size_t from = std::size_t{row} * a.width * 3;
            std::copy_n(a.rgb.begin() + from, a.width * 3, b.rgb.begin() + from);
        }
    }
}
#endif

PageRecipe jpeg(uint16_t photometric, uint32_t rowsPerStrip,
                std::optional<fixtures::Subsampling> subsampling = std::nullopt) {
    return {.width = 203,
            .height = 77,
            .compression = COMPRESSION_JPEG,
            .photometric = photometric,
            .rowsPerStrip = rowsPerStrip,
            .ycbcrSubsampling = subsampling};
}

class JpegJoin : public ::testing::TestWithParam<Case> {};

TEST_P(JpegJoin, JoinedStreamDrawsLikeLibtiffsDecode) {
    support::TempDir dir;
    const fs::path tiff = dir / "page.tif";
    fixtures::writeTiff(tiff, {GetParam().page});
    const JpegPage page = readJpegPage(tiff);
    const std::optional<std::vector<uint8_t>> joined = page.join();
    ASSERT_TRUE(joined.has_value());

    const bool grey = page.shape.components == 1;
    const std::string entries =
        std::string("/ColorSpace ") + (grey ? "/DeviceGray" : "/DeviceRGB") +
        " /BitsPerComponent 8 /Filter /DCTDecode" +
        (page.photometric == PHOTOMETRIC_RGB ? " /DecodeParms << /ColorTransform 0 >>" : "");
    const fs::path pdf = dir / "page.pdf";
    std::ofstream(pdf, std::ios::binary) << support::singleImagePdf(
        page.shape.width, page.shape.height, entries, std::string(joined->begin(), joined->end()));

#ifndef _WIN32  // MuPDF and poppler run on Linux only
    support::RgbImage expected = support::decodeTiffPage(tiff, 0);
    for (const auto renderer : {support::Renderer::MuPdf, support::Renderer::Poppler}) {
        support::RgbImage drawn =
            support::renderPdfPage(pdf, 0, page.shape.width, page.shape.height, renderer);
        maskStripSeams(page, expected, drawn);
        EXPECT_TRUE(support::imagesMatch(expected, drawn, 2))
            << (renderer == support::Renderer::MuPdf ? "MuPDF" : "Poppler");
    }
#endif
}

INSTANTIATE_TEST_SUITE_P(
    Pages, JpegJoin,
    ::testing::Values(Case{"GreyOneStrip", jpeg(PHOTOMETRIC_MINISBLACK, fixtures::kWholePage)},
                      Case{"GreyStrips", jpeg(PHOTOMETRIC_MINISBLACK, 16)},
                      Case{"RgbOneStrip", jpeg(PHOTOMETRIC_RGB, fixtures::kWholePage)},
                      Case{"RgbStrips", jpeg(PHOTOMETRIC_RGB, 8)},
                      Case{"YCbCr22OneStrip", jpeg(PHOTOMETRIC_YCBCR, fixtures::kWholePage)},
                      Case{"YCbCr22Strips", jpeg(PHOTOMETRIC_YCBCR, 32)},
                      Case{"YCbCr21Strips",
                           jpeg(PHOTOMETRIC_YCBCR, 8, fixtures::Subsampling{2, 1})},
                      Case{"YCbCr11OneStrip", jpeg(PHOTOMETRIC_YCBCR, fixtures::kWholePage,
                                                   fixtures::Subsampling{1, 1})}),
    support::ParamName());

TEST(JpegJoinRefuses, DataItCannotVouchFor) {
    support::TempDir dir;
    fixtures::writeTiff(dir / "page.tif",
                        {jpeg(PHOTOMETRIC_YCBCR, 16, fixtures::Subsampling{2, 1})});
    const JpegPage good = readJpegPage(dir / "page.tif");
    ASSERT_TRUE(good.join().has_value());
    EXPECT_TRUE(good.join(quorvex::StripSeams::Exact).has_value()) << "chroma not halved down";
    fixtures::writeTiff(dir / "halved.tif", {jpeg(PHOTOMETRIC_YCBCR, 16)});
    const JpegPage halved = readJpegPage(dir / "halved.tif");
    EXPECT_TRUE(halved.join().has_value());
    EXPECT_FALSE(halved.join(quorvex::StripSeams::Exact).has_value())
        << "strips whose boundary rows readers smooth";

    JpegPage truncated = good;
    truncated.strips[1].resize(truncated.strips[1].size() / 2);
    EXPECT_FALSE(truncated.join().has_value()) << "a strip without its end";
    JpegPage wider = good;
    wider.shape.width += 16;
    EXPECT_FALSE(wider.join().has_value()) << "a frame narrower than the page";
    JpegPage otherStrips = good;
    otherStrips.shape.rowsPerStrip = 8;
    EXPECT_FALSE(otherStrips.join().has_value()) << "strips of other heights than the tag says";
    JpegPage badTables = good;
    badTables.tables[1] = 0;
    EXPECT_FALSE(badTables.join().has_value()) << "tables that are not a JPEG stream";
}

}  // namespace
