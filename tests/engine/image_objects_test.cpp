// The Image XObject of each page, byte for byte: its dictionary lines (filter,
// decode parameters, colour space, size, bit depth, length reference), and the
// stream data each sample route produces, inflated where it is Flate data.
#include <gtest/gtest.h>
#include <tiffio.h>
#include <cctype>

#include <array>
#include <cstdio>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "PdfBytes.h"
#include "engine/Conversion.h"
#include "engine/encode/StreamSink.h"
#include "engine/pdf/PdfOutput.h"
#include "fixtures/TiffFixture.h"
#include "support/TestSupport.h"

namespace {

using fixtures::faxPage;
using fixtures::PageRecipe;
using pdfbytes::PdfBytes;

struct TiffCloser {
    void operator()(TIFF* tiff) const { TIFFClose(tiff); }
};

// The coded bytes of every strip of one page, joined, as libtiff's raw reader
// hands them out.
std::string rawStrips(const std::filesystem::path& path, int page) {
    std::unique_ptr<TIFF, TiffCloser> tiff(TIFFOpen(path.string().c_str(), "r"));
    if (!tiff || !TIFFSetDirectory(tiff.get(), static_cast<tdir_t>(page))) {
        throw std::runtime_error("cannot read " + path.string());
    }
    uint64_t* counts = nullptr;
    TIFFGetField(tiff.get(), TIFFTAG_STRIPBYTECOUNTS, &counts);
    std::string joined;
    for (uint32_t strip = 0; strip < TIFFNumberOfStrips(tiff.get()); ++strip) {
        std::string bytes(counts[strip], '\0');
        const tmsize_t read =
            TIFFReadRawStrip(tiff.get(), strip, bytes.data(), static_cast<tmsize_t>(bytes.size()));
        if (read < 0)
            throw std::runtime_error("cannot read a raw strip of " + path.string());
        joined.append(bytes, 0, static_cast<std::size_t>(read));
    }
    return joined;
}

std::string bitsReversed(std::string bytes) {
    TIFFReverseBits(reinterpret_cast<uint8_t*>(bytes.data()), static_cast<tmsize_t>(bytes.size()));
    return bytes;
}

// One byte per pixel of a 1-bit page: `set` where the sample bit is 1.
std::string expandBits(const PageRecipe& page, char set, char clear) {
    const std::vector<uint8_t> samples = fixtures::pageSamples(page);
    const std::size_t rowBytes = (page.width + 7) / 8;
    std::string out;
    for (uint32_t y = 0; y < page.height; ++y) {
        for (uint32_t x = 0; x < page.width; ++x) {
            const bool bit = (samples[y * rowBytes + x / 8] >> (7 - x % 8)) & 1;
            out += bit ? set : clear;
        }
    }
    return out;
}

std::string asString(const std::vector<uint8_t>& bytes) {
    return {bytes.begin(), bytes.end()};
}

// "/ColorSpace ..." up to the /Width line.
std::string colourSpaceText(const std::string& dictionary) {
    const std::size_t start = dictionary.find("/ColorSpace");
    const std::size_t end = dictionary.find("/Width ");
    if (start == std::string::npos || end == std::string::npos)
        return {};
    return dictionary.substr(start, end - start);
}

// The entries of an inline indexed colour space, read back from its hex
// string, and the line it opens with.
struct IndexedSpace {
    std::string opening;
    std::vector<std::array<int, 3>> entries;
};

IndexedSpace readIndexed(const std::string& text) {
    IndexedSpace space;
    const std::size_t open = text.find('<');
    const std::size_t close = text.find('>', open);
    if (open == std::string::npos || close == std::string::npos)
        return space;
    space.opening = text.substr(0, open + 1);
    std::string hex;
    for (std::size_t i = open + 1; i < close; ++i) {
        if (std::isxdigit(static_cast<unsigned char>(text[i])))
            hex += text[i];
    }
    for (std::size_t i = 0; i + 6 <= hex.size(); i += 6) {
        space.entries.push_back({std::stoi(hex.substr(i, 2), nullptr, 16),
                                 std::stoi(hex.substr(i + 2, 2), nullptr, 16),
                                 std::stoi(hex.substr(i + 4, 2), nullptr, 16)});
    }
    return space;
}

void expectIndexed(const std::string& text, const std::vector<std::array<int, 3>>& entries) {
    const IndexedSpace space = readIndexed(text);
    EXPECT_EQ(space.opening,
              "/ColorSpace [ /Indexed /DeviceRGB " + std::to_string(entries.size() - 1) + " <");
    EXPECT_EQ(space.entries, entries);
    // Eight entries a line, each line ended by CR LF, the string closed on a line of its own.
    EXPECT_EQ(pdfbytes::splitLines(text).size(), 2 + (entries.size() + 7) / 8);
}

class ImageObjects : public ::testing::Test {
  protected:
    // Writes the pages, converts them and reads the PDF back.
    PdfBytes convert(const std::vector<PageRecipe>& pages, std::optional<int> level = std::nullopt,
                     bool compact = false) {
        fixtures::writeTiff(tiff_, pages);
        quorvex::ConversionRequest request;
        request.inputPath = tiff_.string();
        request.info.creationDate = "fixed";
        request.options.flateLevel = level;
        request.options.compact = compact;
        const quorvex::ConversionOutcome outcome = quorvex::convertTiff(request);
        if (!outcome.ok()) {
            throw std::runtime_error("conversion failed: " + outcome.message + " / " +
                                     outcome.detail);
        }
        return PdfBytes::load(outcome.outputPath);
    }

    support::TempDir dir_;
    std::filesystem::path tiff_ = dir_ / "page.tif";
};

// ---------------------------------------------------------------------------
// Fax pages: CCITT data carried over as stored

TEST_F(ImageObjects, Group4PageIsOneCcittStreamWithKMinusOne) {
    const PdfBytes pdf = convert({faxPage(COMPRESSION_CCITTFAX4, 1728, 2200)});
    const std::string dictionary = pdf.imageDictionary(0);
    EXPECT_EQ(dictionary,
              "<<\r"
              "/Type /XObject\r"
              "/Subtype /Image\r"
              "/Name /Im0\r"
              "/Filter /CCITTFaxDecode\r"
              "/DecodeParms << /K -1 /Columns 1728 /Rows 2200 >>\r"
              "/ColorSpace /DeviceGray\r"
              "/Width 1728\r"
              "/Height 2200\r"
              "/BitsPerComponent 1\r"
              "/Length 8 0 R\r"
              ">>\r");
}

TEST_F(ImageObjects, Group3WithoutOptionsTagHasKZero) {
    const PdfBytes pdf = convert({faxPage(COMPRESSION_CCITTFAX3)});
    EXPECT_EQ(pdfbytes::lineStartingWith(pdf.imageDictionary(0), "/DecodeParms"),
              "/DecodeParms << /K 0 /Columns 1727 /Rows 181 >>\r");
}

TEST_F(ImageObjects, Group3WithFillBitsOnlyHasKZero) {
    PageRecipe page = faxPage(COMPRESSION_CCITTFAX3);
    page.group3Options = GROUP3OPT_FILLBITS;
    const PdfBytes pdf = convert({page});
    EXPECT_EQ(pdfbytes::lineStartingWith(pdf.imageDictionary(0), "/DecodeParms"),
              "/DecodeParms << /K 0 /Columns 1727 /Rows 181 >>\r");
}

TEST_F(ImageObjects, Group3WithTwoDimensionalCodingHasKOne) {
    PageRecipe page = faxPage(COMPRESSION_CCITTFAX3);
    page.group3Options = GROUP3OPT_2DENCODING | GROUP3OPT_FILLBITS;
    const PdfBytes pdf = convert({page});
    const std::string dictionary = pdf.imageDictionary(0);
    EXPECT_EQ(pdfbytes::lineStartingWith(dictionary, "/Filter"), "/Filter /CCITTFaxDecode\r");
    EXPECT_EQ(pdfbytes::lineStartingWith(dictionary, "/DecodeParms"),
              "/DecodeParms << /K 1 /Columns 1727 /Rows 181 >>\r");
}

TEST_F(ImageObjects, CcittStreamIsTheRawStripWhenFillOrderIsOne) {
    PageRecipe page = faxPage(COMPRESSION_CCITTFAX4);
    page.fillOrder = FILLORDER_MSB2LSB;
    const PdfBytes pdf = convert({page});
    EXPECT_EQ(pdf.imageStream(0), rawStrips(tiff_, 0));
}

TEST_F(ImageObjects, CcittStreamIsTheRawStripWhenFillOrderIsAbsent) {
    const PdfBytes pdf = convert({faxPage(COMPRESSION_CCITTFAX3)});
    EXPECT_EQ(pdf.imageStream(0), rawStrips(tiff_, 0));
}

TEST_F(ImageObjects, CcittStreamIsBitReversedWhenFillOrderIsTwo) {
    PageRecipe group4 = faxPage(COMPRESSION_CCITTFAX4);
    group4.fillOrder = FILLORDER_LSB2MSB;
    PageRecipe group3 = faxPage(COMPRESSION_CCITTFAX3);
    group3.fillOrder = FILLORDER_LSB2MSB;
    group3.group3Options = GROUP3OPT_2DENCODING;
    const PdfBytes pdf = convert({group4, group3});
    for (int page = 0; page < 2; ++page) {
        const std::string raw = rawStrips(tiff_, page);
        ASSERT_NE(raw, bitsReversed(raw)) << "the page must hold bytes that change when reversed";
        EXPECT_EQ(pdf.imageStream(page), bitsReversed(raw)) << "page " << page;
    }
}

// ---------------------------------------------------------------------------
// Fax pages that are decoded instead of copied

constexpr const char* kUntrustedWriter = "Oi/GFS, writer v00.06.02";

// A Group 4 page decoded on the scanline route: one byte per pixel, black 00
// and white FF, then the page buffer's spare byte.
void expectDecodedAsEightBitGrey(const PdfBytes& pdf, const PageRecipe& page) {
    const std::string dictionary = pdf.imageDictionary(0);
    EXPECT_EQ(pdfbytes::lineStartingWith(dictionary, "/Filter"), "/Filter /FlateDecode\r");
    EXPECT_EQ(dictionary.find("/DecodeParms"), std::string::npos);
    EXPECT_EQ(pdfbytes::lineStartingWith(dictionary, "/ColorSpace"), "/ColorSpace /DeviceGray\r");
    EXPECT_EQ(pdfbytes::lineStartingWith(dictionary, "/BitsPerComponent"), "/BitsPerComponent 8\r");
    const std::string samples = pdfbytes::inflate(pdf.imageStream(0));
    EXPECT_EQ(samples, expandBits(page, '\x00', '\xFF') + '\x00');
}

TEST_F(ImageObjects, Group4FromTheUntrustedWriterIsDecodedToEightBitGrey) {
    PageRecipe page = faxPage(COMPRESSION_CCITTFAX4, 301, 57);
    page.software = kUntrustedWriter;
    expectDecodedAsEightBitGrey(convert({page}), page);
}

TEST_F(ImageObjects, SoftwareTagMustMatchExactlyToDecodeTheFax) {
    for (const std::string software :
         {"Oi/GFS, writer v00.06.03", "oi/gfs, writer v00.06.02", "Oi/GFS, writer v00.06.02 "}) {
        SCOPED_TRACE(software);
        PageRecipe page = faxPage(COMPRESSION_CCITTFAX4, 301, 57);
        page.software = software;
        const PdfBytes pdf = convert({page});
        EXPECT_EQ(pdfbytes::lineStartingWith(pdf.imageDictionary(0), "/Filter"),
                  "/Filter /CCITTFaxDecode\r");
    }
}

TEST_F(ImageObjects, UntrustedWriterTagLeavesGroup3PagesAlone) {
    PageRecipe page = faxPage(COMPRESSION_CCITTFAX3, 301, 57);
    page.software = kUntrustedWriter;
    const PdfBytes pdf = convert({page});
    EXPECT_EQ(pdfbytes::lineStartingWith(pdf.imageDictionary(0), "/Filter"),
              "/Filter /CCITTFaxDecode\r");
}

TEST_F(ImageObjects, PageWithWangPageControlTagIsDecoded) {
    PageRecipe page = faxPage(COMPRESSION_CCITTFAX4, 301, 57);
    page.extraTags = {{.tag = 32934, .type = TIFF_LONG, .values = {1}}};
    expectDecodedAsEightBitGrey(convert({page}), page);
}

TEST_F(ImageObjects, Group4WithoutBitsPerSampleIsOneBitFlateWithDecodeArray) {
    PageRecipe page = faxPage(COMPRESSION_CCITTFAX4, 301, 57);
    page.bitsPerSample = std::nullopt;
    const PdfBytes pdf = convert({page});
    const std::string dictionary = pdf.imageDictionary(0);
    EXPECT_EQ(pdfbytes::lineStartingWith(dictionary, "/Decode "),
              "/Decode [ 1 0 ] /Filter /FlateDecode\r");
    EXPECT_EQ(pdfbytes::lineStartingWith(dictionary, "/ColorSpace"), "/ColorSpace /DeviceGray\r");
    EXPECT_EQ(pdfbytes::lineStartingWith(dictionary, "/BitsPerComponent"), "/BitsPerComponent 1\r");
    // One strip, decoded: the packed rows exactly.
    EXPECT_EQ(pdfbytes::inflate(pdf.imageStream(0)), asString(fixtures::pageSamples(page)));
}

// ---------------------------------------------------------------------------
// Colour spaces

TEST_F(ImageObjects, FourBitPaletteHasHighestIndexFifteenAndTwoLines) {
    const PageRecipe page{
        .width = 33, .height = 9, .photometric = PHOTOMETRIC_PALETTE, .bitsPerSample = 4};
    const fixtures::ColorMap map = fixtures::generatedColorMap(4, page.colorMapMode);
    std::vector<std::array<int, 3>> entries;
    for (std::size_t i = 0; i < 16; ++i) {
        // 16-bit map values v * 257 come back as v.
        entries.push_back({map.red[i] / 257, map.green[i] / 257, map.blue[i] / 257});
    }
    const std::string text = colourSpaceText(convert({page}).imageDictionary(0));
    expectIndexed(text, entries);
}

TEST_F(ImageObjects, EightBitPaletteWithEightBitMapKeepsItsValuesOnThirtyTwoLines) {
    const PageRecipe page{.width = 33,
                          .height = 9,
                          .photometric = PHOTOMETRIC_PALETTE,
                          .bitsPerSample = 8,
                          .colorMapMode = fixtures::ColorMapMode::Auto8Bit};
    const fixtures::ColorMap map = fixtures::generatedColorMap(8, page.colorMapMode);
    std::vector<std::array<int, 3>> entries;
    for (std::size_t i = 0; i < 256; ++i)
        entries.push_back({map.red[i], map.green[i], map.blue[i]});
    const std::string text = colourSpaceText(convert({page}).imageDictionary(0));
    expectIndexed(text, entries);
}

TEST_F(ImageObjects, SixteenBitMapValuesAreScaledWithRounding) {
    PageRecipe page{
        .width = 9, .height = 5, .photometric = PHOTOMETRIC_PALETTE, .bitsPerSample = 4};
    fixtures::ColorMap map;
    map.red.assign(16, 0);
    map.green.assign(16, 0);
    map.blue.assign(16, 0);
    map.red[0] = 65535;    // 255
    map.green[0] = 32768;  // 127.5 rounds up to 128
    map.blue[0] = 32767;   // 127.498 rounds down to 127
    map.red[1] = 256;      // 0.996: any value of 256 or more makes the map 16-bit
    page.colorMap = map;
    const std::string text = colourSpaceText(convert({page}).imageDictionary(0));
    const std::string firstEntries = "/ColorSpace [ /Indexed /DeviceRGB 15 <\r\nFF807F 010000 ";
    EXPECT_EQ(text.substr(0, firstEntries.size()), firstEntries);
}

TEST_F(ImageObjects, EightBitGreyRampsRunWithThePhotometricConvention) {
    PageRecipe minIsBlack{.width = 17, .height = 5, .photometric = PHOTOMETRIC_MINISBLACK};
    PageRecipe minIsWhite{.width = 17, .height = 5, .photometric = PHOTOMETRIC_MINISWHITE};
    std::vector<std::array<int, 3>> rising;
    std::vector<std::array<int, 3>> falling;
    for (int i = 0; i < 256; ++i) {
        rising.push_back({i, i, i});
        falling.push_back({255 - i, 255 - i, 255 - i});
    }
    const PdfBytes pdf = convert({minIsBlack, minIsWhite});
    expectIndexed(colourSpaceText(pdf.imageDictionary(0)), rising);
    expectIndexed(colourSpaceText(pdf.imageDictionary(1)), falling);
}

TEST_F(ImageObjects, FourBitGreyRampHasSixteenEvenSteps) {
    const PageRecipe page{.width = 17,
                          .height = 5,
                          .compression = COMPRESSION_PACKBITS,
                          .photometric = PHOTOMETRIC_MINISBLACK,
                          .bitsPerSample = 4};
    std::vector<std::array<int, 3>> ramp;
    for (int i = 0; i < 16; ++i)
        ramp.push_back({17 * i, 17 * i, 17 * i});
    const PdfBytes pdf = convert({page});
    expectIndexed(colourSpaceText(pdf.imageDictionary(0)), ramp);
    EXPECT_EQ(pdfbytes::lineStartingWith(pdf.imageDictionary(0), "/BitsPerComponent"),
              "/BitsPerComponent 4\r");
}

TEST_F(ImageObjects, DeviceColourSpacesForRgbBilevelAndCmyk) {
    const PageRecipe rgb{.width = 7, .height = 5, .photometric = PHOTOMETRIC_RGB};
    const PageRecipe bilevel{
        .width = 7, .height = 5, .photometric = PHOTOMETRIC_MINISWHITE, .bitsPerSample = 1};
    const PageRecipe cmyk{.width = 7,
                          .height = 5,
                          .compression = COMPRESSION_LZW,
                          .photometric = PHOTOMETRIC_SEPARATED};
    const PdfBytes pdf = convert({rgb, bilevel, cmyk});
    EXPECT_EQ(colourSpaceText(pdf.imageDictionary(0)), "/ColorSpace /DeviceRGB\r");
    EXPECT_EQ(colourSpaceText(pdf.imageDictionary(1)), "/ColorSpace /DeviceGray\r");
    EXPECT_EQ(colourSpaceText(pdf.imageDictionary(2)), "/ColorSpace /DeviceCMYK\r");
}

// ---------------------------------------------------------------------------
// Flate level and compact mode

TEST_F(ImageObjects, FlateLevelChangesTheSizeButNotTheSamples) {
    const PageRecipe grey{.width = 301, .height = 207, .compression = COMPRESSION_LZW};
    const std::string stored = convert({grey}, 0).imageStream(0);
    const std::string normal = convert({grey}).imageStream(0);
    const std::string smallest = convert({grey}, 12).imageStream(0);
    EXPECT_EQ(pdfbytes::inflate(stored), pdfbytes::inflate(normal));
    EXPECT_EQ(pdfbytes::inflate(smallest), pdfbytes::inflate(normal));
    EXPECT_GT(stored.size(), normal.size());
    EXPECT_LE(smallest.size(), normal.size());
    EXPECT_EQ(convert({grey}, std::nullopt, true).imageStream(0), smallest)
        << "compact means level 12 for Flate";
}

TEST_F(ImageObjects, CompactJpegAndGroup4Dictionaries) {
    const PageRecipe rgbJpeg{
        .width = 40, .height = 24, .compression = COMPRESSION_JPEG, .photometric = PHOTOMETRIC_RGB};
    PageRecipe ycbcrJpeg = rgbJpeg;
    ycbcrJpeg.photometric = PHOTOMETRIC_YCBCR;
    const PageRecipe bilevel{.width = 45,
                             .height = 9,
                             .compression = COMPRESSION_PACKBITS,
                             .photometric = PHOTOMETRIC_MINISBLACK,
                             .bitsPerSample = 1};
    const PdfBytes pdf = convert({rgbJpeg, ycbcrJpeg, bilevel}, std::nullopt, true);
    const std::string rgb = pdf.imageDictionary(0);
    EXPECT_NE(rgb.find("/Filter /DCTDecode\r/DecodeParms << /ColorTransform 0 >>\r"
                       "/ColorSpace /DeviceRGB\r"),
              std::string::npos)
        << rgb;
    const std::string ycbcr = pdf.imageDictionary(1);
    EXPECT_NE(ycbcr.find("/Filter /DCTDecode\r/ColorSpace /DeviceRGB\r"), std::string::npos)
        << ycbcr;
    EXPECT_EQ(pdf.imageStream(0).substr(0, 2), "\xFF\xD8");
    const std::string fax = pdf.imageDictionary(2);
    EXPECT_NE(fax.find("/Filter /CCITTFaxDecode\r/DecodeParms << /K -1 /Columns 45 /Rows 9 >>\r"
                       "/ColorSpace /DeviceGray\r/Width 45\r/Height 9\r/BitsPerComponent 1\r"),
              std::string::npos)
        << fax;
}

// ---------------------------------------------------------------------------
// Object frame: name, length reference and the length object

TEST_F(ImageObjects, EachImageIsNamedByPageIndexAndRefersToTheNextObjectForItsLength) {
    const PdfBytes pdf =
        convert({PageRecipe{.variant = 0}, PageRecipe{.variant = 1}, PageRecipe{.variant = 2}});
    for (uint64_t page = 0; page < 3; ++page) {
        SCOPED_TRACE("page " + std::to_string(page));
        const std::string dictionary = pdf.imageDictionary(page);
        EXPECT_EQ(pdfbytes::lineStartingWith(dictionary, "/Name"),
                  "/Name /Im" + std::to_string(page) + "\r");
        EXPECT_EQ(pdfbytes::lineStartingWith(dictionary, "/Length"),
                  "/Length " + std::to_string(pdf.imageObject(page) + 1) + " 0 R\r");
    }
    EXPECT_EQ(pdfbytes::lineStartingWith(pdf.dictionary(17), "/Name"), "/Name /Im2\r");
    EXPECT_EQ(pdfbytes::lineStartingWith(pdf.dictionary(17), "/Length"), "/Length 18 0 R\r");
}

TEST_F(ImageObjects, LengthObjectCountsTheStreamBytesExactly) {
    const PdfBytes pdf =
        convert({faxPage(COMPRESSION_CCITTFAX4), PageRecipe{.photometric = PHOTOMETRIC_RGB},
                 PageRecipe{.compression = COMPRESSION_LZW}});
    for (uint64_t page = 0; page < 3; ++page) {
        SCOPED_TRACE("page " + std::to_string(page));
        const std::string image = pdf.objectText(pdf.imageObject(page));
        const std::size_t start = image.find("stream\r\n") + 8;
        const std::size_t end = image.rfind("\rendstream\rendobj\r");
        ASSERT_NE(end, std::string::npos) << "the object ends with \\rendstream\\rendobj\\r";
        const uint64_t count = end - start;
        EXPECT_EQ(pdf.objectText(pdf.lengthObject(page)), std::to_string(pdf.lengthObject(page)) +
                                                              " 0 obj\r" + std::to_string(count) +
                                                              "\rendobj\r");
    }
}

// ---------------------------------------------------------------------------
// Scanline route: one byte per sample and a spare filler at the end

TEST_F(ImageObjects, BilevelMinIsWhiteRowsBecomeBlackZeroWhiteFF) {
    const PageRecipe page{
        .width = 10, .height = 13, .photometric = PHOTOMETRIC_MINISWHITE, .bitsPerSample = 1};
    const std::string data = pdfbytes::inflate(convert({page}).imageStream(0));
    ASSERT_EQ(data.size(), 13U * 10 + 1);
    EXPECT_EQ(data, expandBits(page, '\x00', '\xFF') + '\x00');
}

TEST_F(ImageObjects, BilevelMinIsBlackRowsBecomeSetFFClearZero) {
    const PageRecipe page{
        .width = 10, .height = 13, .photometric = PHOTOMETRIC_MINISBLACK, .bitsPerSample = 1};
    const std::string data = pdfbytes::inflate(convert({page}).imageStream(0));
    ASSERT_EQ(data.size(), 13U * 10 + 1);
    EXPECT_EQ(data, expandBits(page, '\xFF', '\x00') + '\xFF');
}

TEST_F(ImageObjects, RgbRowsAreCopiedAndFollowedByThreeFillerBytes) {
    const PageRecipe page{.width = 11, .height = 7, .photometric = PHOTOMETRIC_RGB};
    const std::string data = pdfbytes::inflate(convert({page}).imageStream(0));
    EXPECT_EQ(data, asString(fixtures::pageSamples(page)) + "\x0B\x0B\x0B");
}

TEST_F(ImageObjects, FourBitMinIsWhiteRowsGiveOneBytePerPixelHighNibbleFirst) {
    const PageRecipe page{
        .width = 9, .height = 4, .photometric = PHOTOMETRIC_MINISWHITE, .bitsPerSample = 4};
    const std::vector<uint8_t> packed = fixtures::pageSamples(page);
    std::string expected;
    for (uint32_t y = 0; y < page.height; ++y) {
        for (uint32_t x = 0; x < page.width; ++x) {
            const uint8_t byte = packed[y * 5 + x / 2];
            expected += static_cast<char>(x % 2 == 0 ? byte >> 4 : byte & 0x0F);
        }
    }
    const PdfBytes pdf = convert({page});
    EXPECT_EQ(pdfbytes::lineStartingWith(pdf.imageDictionary(0), "/BitsPerComponent"),
              "/BitsPerComponent 8\r");
    EXPECT_EQ(pdfbytes::inflate(pdf.imageStream(0)), expected + '\x0B');
}

// ---------------------------------------------------------------------------
// Decoded-strips and RGBA routes

TEST_F(ImageObjects, DecodedStripsAppendWholeStripsEvenAfterAShortLastOne) {
    const PageRecipe page{
        .width = 30, .height = 100, .photometric = PHOTOMETRIC_MINISBLACK, .rowsPerStrip = 64};
    const std::string data = pdfbytes::inflate(convert({page}).imageStream(0));
    ASSERT_EQ(data.size(), 2U * 64 * 30) << "two strips of 64 rows";
    EXPECT_EQ(data.substr(0, 100 * 30), asString(fixtures::pageSamples(page)));
}

TEST_F(ImageObjects, RgbaRouteStartsWithTheTopLeftPixel) {
    // 3 x 2 RGBA pixels, opaque, all different.
    const PageRecipe page{.width = 3,
                          .height = 2,
                          .compression = COMPRESSION_LZW,
                          .photometric = PHOTOMETRIC_RGB,
                          .extraSamples = {EXTRASAMPLE_ASSOCALPHA},
                          .samples = {10,  20,  30,  255, 40,  50,  60,  255, 70,  80,  90,  255,
                                      100, 110, 120, 255, 130, 140, 150, 255, 160, 170, 180, 255}};
    const PdfBytes pdf = convert({page});
    EXPECT_EQ(pdfbytes::lineStartingWith(pdf.imageDictionary(0), "/ColorSpace"),
              "/ColorSpace /DeviceRGB\r");
    const std::string data = pdfbytes::inflate(pdf.imageStream(0));
    const std::vector<uint8_t> topRowFirst = {10,  20,  30,  40,  50,  60,  70,  80,  90,
                                              100, 110, 120, 130, 140, 150, 160, 170, 180};
    EXPECT_EQ(data, asString(topRowFirst));
}

TEST_F(ImageObjects, RgbaRouteGivesLibtiffsColoursForUnassociatedAlpha) {
    PageRecipe page{.width = 21,
                    .height = 9,
                    .compression = COMPRESSION_LZW,
                    .photometric = PHOTOMETRIC_RGB,
                    .extraSamples = {EXTRASAMPLE_UNASSALPHA},
                    .alphaFill = fixtures::AlphaFill::Varying};
    const PdfBytes pdf = convert({page});
    const support::RgbImage decoded = support::decodeTiffPage(tiff_, 0, false);
    EXPECT_EQ(pdfbytes::inflate(pdf.imageStream(0)), asString(decoded.rgb));
}

// The RGBA route writes rows in stored order, whatever the Orientation tag
// (the page's drawing applies it). A page large enough to be read in several
// bands must come out as the stored raster, not with each band flipped.
TEST_F(ImageObjects, RgbaRouteKeepsStoredRowOrderAcrossBands) {
    // About 4.5 million pixels: more than one band of the route's reader.
    PageRecipe page{.width = 4096,
                    .height = 1100,
                    .compression = COMPRESSION_LZW,
                    .photometric = PHOTOMETRIC_RGB,
                    .extraSamples = {EXTRASAMPLE_ASSOCALPHA},
                    .rowsPerStrip = 512,
                    .orientation = ORIENTATION_BOTLEFT};
    const PdfBytes pdf = convert({page});
    const support::RgbImage stored = support::decodeTiffPage(tiff_, 0, false);
    const std::string data = pdfbytes::inflate(pdf.imageStream(0));
    const std::string expected = asString(stored.rgb);
    ASSERT_EQ(data.size(), expected.size());
    const std::size_t rowBytes = std::size_t{page.width} * 3;
    for (uint32_t y = 0; y < page.height; ++y) {
        ASSERT_EQ(data.compare(y * rowBytes, rowBytes, expected, y * rowBytes, rowBytes), 0)
            << "row " << y << " differs from the stored raster";
    }
}

// ---------------------------------------------------------------------------
// Stream data writer

class StreamData : public ::testing::Test {
  protected:
    std::string written(const std::string& data, quorvex::StreamEncoding encoding) {
        const auto path = dir_ / "stream.bin";
        const auto out = quorvex::PdfOutput::create(path.string());
        const auto sink = quorvex::makeStreamSink(*out, encoding, quorvex::kDefaultFlateLevel);
        sink->append(reinterpret_cast<const uint8_t*>(data.data()), data.size());
        sink->finish();
        out->commit();
        return support::readFile(path);
    }

    support::TempDir dir_;
};

TEST_F(StreamData, FlateOfNothingIsAStillCompleteZlibStream) {
    const std::string stream = written({}, quorvex::StreamEncoding::Flate);
    EXPECT_FALSE(stream.empty());
    EXPECT_EQ(pdfbytes::inflate(stream), "");
}

TEST_F(StreamData, IncompressibleDataIsWrittenWhole) {
    std::mt19937 random(7);
    std::string noise(100'000, '\0');
    for (char& byte : noise)
        byte = static_cast<char>(random());
    for (const std::string& data : {noise, std::string("\x01\x02\x03", 3), std::string(1, 'x')}) {
        const std::string stream = written(data, quorvex::StreamEncoding::Flate);
        EXPECT_EQ(pdfbytes::inflate(stream), data) << data.size() << " bytes";
    }
}

TEST_F(StreamData, RawDataIsWrittenUnchanged) {
    const std::string data("\x00\xFF\r\n\x0B", 5);
    EXPECT_EQ(written(data, quorvex::StreamEncoding::Raw), data);
}

}  // namespace
