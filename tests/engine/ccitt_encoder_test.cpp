// The CCITT encoder's data, wrapped back into a TIFF, decodes through libtiff
// to the bitmap it was given; as a PDF image under /CCITTFaxDecode, MuPDF
// draws the same pixels.
#include "engine/encode/CcittEncoder.h"

#include <gtest/gtest.h>
#include <tiffio.h>

#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "engine/read/FaxPage.h"
#include "engine/read/FaxStripFile.h"
#include "engine/read/TiffDocument.h"
#include "fixtures/TiffFixture.h"
#include "support/TestSupport.h"

namespace {

namespace fs = std::filesystem;
using quorvex::BitmapPolarity;
using quorvex::CcittGroup;

struct Case {
    const char* name;
    CcittGroup group;
    BitmapPolarity polarity;
    uint32_t width;
    uint32_t height;
    bool byteAligned = false;
};

fixtures::PageRecipe bitmapPage(const Case& c) {
    return {.width = c.width,
            .height = c.height,
            .photometric = static_cast<uint16_t>(c.polarity == BitmapPolarity::ZeroIsWhite
                                                     ? PHOTOMETRIC_MINISWHITE
                                                     : PHOTOMETRIC_MINISBLACK),
            .bitsPerSample = 1,
            .variant = c.width % 5};
}

std::vector<uint8_t> encode(const Case& c, const std::vector<uint8_t>& samples) {
    quorvex::CcittEncoder encoder(c.width, c.height, c.group, c.polarity,
                                  {.byteAlignedRows = c.byteAligned});
    const std::size_t rowBytes = (c.width + 7) / 8;
    for (uint32_t y = 0; y < c.height; ++y)
        encoder.addRow(samples.data() + y * rowBytes);
    return encoder.finish();
}

uint32_t group3Options(const Case& c) {
    uint32_t options = c.group == CcittGroup::Group3TwoD ? GROUP3OPT_2DENCODING : 0;
    return c.byteAligned ? options | GROUP3OPT_FILLBITS : options;
}

// A one-strip min-is-white TIFF around the coded data, as a fax file holds it.
void wrapInTiff(const fs::path& path, const Case& c, std::vector<uint8_t> data) {
    std::unique_ptr<TIFF, decltype(&TIFFClose)> tiff(TIFFOpen(path.string().c_str(), "w"),
                                                     &TIFFClose);
    ASSERT_TRUE(tiff);
    TIFF* t = tiff.get();
    TIFFSetField(t, TIFFTAG_IMAGEWIDTH, c.width);
    TIFFSetField(t, TIFFTAG_IMAGELENGTH, c.height);
    TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, 1);
    TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISWHITE);
    TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, c.height);
    const bool g4 = c.group == CcittGroup::Group4;
    TIFFSetField(t, TIFFTAG_COMPRESSION, g4 ? COMPRESSION_CCITTFAX4 : COMPRESSION_CCITTFAX3);
    if (!g4)
        TIFFSetField(t, TIFFTAG_GROUP3OPTIONS, group3Options(c));
    ASSERT_GE(TIFFWriteRawStrip(t, 0, data.data(), static_cast<tmsize_t>(data.size())), 0);
}

// The same, wrapped by the engine's own strip file.
std::shared_ptr<const std::vector<uint8_t>> stripFile(const Case& c,
                                                      const std::vector<uint8_t>& data) {
    quorvex::PageLayout page;
    page.width = c.width;
    page.height = c.height;
    page.compression =
        c.group == CcittGroup::Group4 ? COMPRESSION_CCITTFAX4 : COMPRESSION_CCITTFAX3;
    page.group3Options = group3Options(c);
    return std::make_shared<const std::vector<uint8_t>>(quorvex::faxStripFile(page, {data}));
}

#ifndef _WIN32
// Only MuPDF reads it.
void writePdf(const fs::path& path, const Case& c, const std::vector<uint8_t>& data) {
    const int k = c.group == CcittGroup::Group4 ? -1 : c.group == CcittGroup::Group3TwoD ? 1 : 0;
    const std::string entries =
        "/ColorSpace /DeviceGray /BitsPerComponent 1 /Filter /CCITTFaxDecode /DecodeParms << /K " +
        std::to_string(k) + " /Columns " + std::to_string(c.width) + " /Rows " +
        std::to_string(c.height) +
        (c.byteAligned ? " /EncodedByteAlign true /EndOfLine true" : "") + " >>";
    std::ofstream(path, std::ios::binary) << support::singleImagePdf(
        c.width, c.height, entries, std::string(data.begin(), data.end()));
}
#endif

class CcittEncoderRoundTrip : public ::testing::TestWithParam<Case> {};

TEST_P(CcittEncoderRoundTrip, DecodesToTheSameBitmapInLibtiffAndMupdf) {
    const Case& c = GetParam();
    support::TempDir dir;
    const fixtures::PageRecipe page = bitmapPage(c);
    fixtures::writeTiff(dir / "source.tif", {page});
    const std::vector<uint8_t> data = encode(c, fixtures::pageSamples(page));
    ASSERT_FALSE(data.empty());
    const support::RgbImage expected = support::decodeTiffPage(dir / "source.tif", 0);

    wrapInTiff(dir / "coded.tif", c, data);
    EXPECT_TRUE(support::imagesMatch(expected, support::decodeTiffPage(dir / "coded.tif", 0), 0));

    const auto strip = stripFile(c, data);
    std::ofstream(dir / "strip.tif", std::ios::binary)
        .write(reinterpret_cast<const char*>(strip->data()), static_cast<long>(strip->size()));
    EXPECT_TRUE(support::imagesMatch(expected, support::decodeTiffPage(dir / "strip.tif", 0), 0));
    quorvex::TiffDocument document;
    document.openMemory(strip, "strip");
    EXPECT_TRUE(quorvex::faxStripDecodesCleanly(document));

#ifndef _WIN32  // MuPDF runs on Linux only
    writePdf(dir / "coded.pdf", c, data);
    EXPECT_TRUE(support::imagesMatch(
        expected, support::renderPdfPage(dir / "coded.pdf", 0, c.width, c.height), 0));
#endif
}

INSTANTIATE_TEST_SUITE_P(
    Bitmaps, CcittEncoderRoundTrip,
    ::testing::Values(
        Case{"G4MinIsWhite", CcittGroup::Group4, BitmapPolarity::ZeroIsWhite, 203, 61},
        Case{"G4MinIsBlack", CcittGroup::Group4, BitmapPolarity::ZeroIsBlack, 203, 61},
        Case{"G4FaxWidth", CcittGroup::Group4, BitmapPolarity::ZeroIsWhite, 1728, 40},
        Case{"G4OnePixel", CcittGroup::Group4, BitmapPolarity::ZeroIsBlack, 1, 1},
        Case{"G3OneD", CcittGroup::Group3OneD, BitmapPolarity::ZeroIsWhite, 203, 61},
        Case{"G3TwoD", CcittGroup::Group3TwoD, BitmapPolarity::ZeroIsBlack, 99, 33},
        Case{"G3TwoDAligned", CcittGroup::Group3TwoD, BitmapPolarity::ZeroIsWhite, 99, 33, true}),
    support::ParamName());

TEST(CcittEncoder, RefusesRowsBeyondTheHeightAndAnIncompleteBitmap) {
    const std::vector<uint8_t> row(2, 0);
    quorvex::CcittEncoder encoder(16, 2, CcittGroup::Group4, BitmapPolarity::ZeroIsWhite);
    encoder.addRow(row.data());
    EXPECT_THROW(encoder.finish(), std::logic_error);
    encoder.addRow(row.data());
    EXPECT_THROW(encoder.addRow(row.data()), std::logic_error);
}

}  // namespace
