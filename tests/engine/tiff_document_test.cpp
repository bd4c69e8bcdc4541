// Page counting, page selection and the cached fields of a TIFF document.
#include <gtest/gtest.h>
#include <tiffio.h>

#ifndef _WIN32
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>
#endif

#include <fstream>
#include <utility>

#include "engine/EngineError.h"
#include "engine/plan/ColourSpace.h"
#include "engine/read/FaxPage.h"
#include "engine/read/FaxStripFile.h"
#include "engine/read/TiffDocument.h"
#include "fixtures/TiffFixture.h"
#include "support/TestSupport.h"

namespace fs = std::filesystem;
using quorvex::TiffDocument;

namespace {

std::string writePages(const support::TempDir& dir,
                       const std::vector<fixtures::PageRecipe>& pages) {
    const fs::path path = dir / "doc.tif";
    fixtures::writeTiff(path, pages);
    return path.string();
}

// Offset of directory `index`'s entry count, as libtiff finds it.
uint64_t directoryOffset(const fs::path& path, tdir_t index) {
    TIFF* tiff = TIFFOpen(path.string().c_str(), "r");
    TIFFSetDirectory(tiff, index);
    const uint64_t offset = TIFFCurrentDirOffset(tiff);
    TIFFClose(tiff);
    return offset;
}

void overwrite(const fs::path& path, uint64_t offset, const std::string& bytes) {
    std::fstream file(path, std::ios::in | std::ios::out | std::ios::binary);
    file.seekp(static_cast<std::streamoff>(offset));
    file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

TEST(TiffDocument, CountsPagesAndSelectsTheFirst) {
    support::TempDir dir;
    TiffDocument document;
    document.open(writePages(dir, {{.width = 10}, {.width = 20}, {.width = 30}}));
    EXPECT_EQ(document.getPageCount(), 3);
    EXPECT_EQ(document.getCurrentPage(), 0);
    EXPECT_EQ(document.page().width, 10U);
    EXPECT_TRUE(document.truncation().empty());
}

TEST(TiffDocument, UnreadableDirectoryEndsTheCount) {
    support::TempDir dir;
    const fs::path path = writePages(dir, {{}, {}, {}, {}});
    // A directory claiming no entries cannot be read.
    overwrite(path, directoryOffset(path, 2), std::string("\0\0", 2));
    TiffDocument document;
    document.open(path.string());
    EXPECT_EQ(document.getPageCount(), 2);
    EXPECT_EQ(
        document.truncation().rfind("the file ends after page 2: directory 3 cannot be read", 0),
        0U)
        << document.truncation();
}

TEST(TiffDocument, DirectoryChainThatLoopsIsCountedOnce) {
    support::TempDir dir;
    const fs::path path = writePages(dir, {{}, {}});
    // Point the second directory's next-directory link back at the first.
    const uint64_t second = directoryOffset(path, 1);
    const uint64_t first = directoryOffset(path, 0);
    TIFF* tiff = TIFFOpen(path.string().c_str(), "r");
    TIFFSetDirectory(tiff, 1);
    uint16_t entries = 0;
    TIFFClose(tiff);
    {
        std::ifstream in(path, std::ios::binary);
        in.seekg(static_cast<std::streamoff>(second));
        in.read(reinterpret_cast<char*>(&entries), 2);
    }
    const auto link = static_cast<uint32_t>(first);
    overwrite(path, second + 2 + 12ULL * entries,
              std::string(reinterpret_cast<const char*>(&link), 4));
    TiffDocument document;
    document.open(path.string());
    EXPECT_EQ(document.getPageCount(), 2);
    EXPECT_EQ(document.truncation(), "the page chain loops back after page 2");
}

TEST(TiffDocument, WhatTheFirstDirectorySaysIsSaidOnce) {
    support::TempDir dir;
    // libtiff warns about a tag it does not know each time it reads the directory.
    fixtures::PageRecipe page;
    page.extraTags = {{.tag = 65000, .type = TIFF_LONG, .values = {7}}};
    TiffDocument document;
    document.open(writePages(dir, {page, {}}));
    document.selectPage(1);
    document.selectPage(0);
    const std::string& said = document.diagnostics().text();
    const std::size_t first = said.find("65000");
    ASSERT_NE(first, std::string::npos) << said;
    EXPECT_EQ(said.find("65000", first + 1), std::string::npos) << said;
}

TEST(TiffDocument, ReducedResolutionCopiesAndMasksAreNotPages) {
    support::TempDir dir;
    const fixtures::PageRecipe thumbnail{.width = 4, .subfileType = FILETYPE_REDUCEDIMAGE};
    const fixtures::PageRecipe mask{.width = 5,
                                    .photometric = PHOTOMETRIC_MASK,
                                    .bitsPerSample = 1,
                                    .subfileType = FILETYPE_MASK};
    const fixtures::PageRecipe pageOfMany{.width = 6, .subfileType = FILETYPE_PAGE};
    TiffDocument document;
    document.open(writePages(dir, {{.width = 10}, thumbnail, mask, pageOfMany, thumbnail}));
    EXPECT_EQ(document.getPageCount(), 2);
    EXPECT_EQ(document.skippedSubfiles(), 3U);
    EXPECT_EQ(document.page().width, 10U);
    ASSERT_TRUE(document.selectPage(1));
    EXPECT_EQ(document.page().width, 6U);
    ASSERT_TRUE(document.selectPage(0));
    EXPECT_EQ(document.page().width, 10U);
}

// The resolution a 300 x 200 page gets, in dots per inch.
std::pair<float, float> resolutionOf(const support::TempDir& dir, fixtures::PageRecipe page,
                                     float defaultDpi = 0) {
    page.width = 300;
    page.height = 200;
    TiffDocument document;
    document.setDefaultResolution(defaultDpi);
    document.open(writePages(dir, {page}));
    EXPECT_EQ(document.page().resolutionUnit, RESUNIT_INCH);
    return {document.page().xResolution, document.page().yResolution};
}

TEST(TiffDocument, ResolutionWithoutUnitKeepsOnlyTheAspectRatio) {
    support::TempDir dir;
    const fixtures::PageRecipe square{
        .xResolution = 1.0F, .yResolution = 1.0F, .resolutionUnit = RESUNIT_NONE};
    EXPECT_EQ(resolutionOf(dir, square), std::pair(200.0F, 200.0F));
    EXPECT_EQ(resolutionOf(dir, square, 300), std::pair(300.0F, 300.0F));
    const fixtures::PageRecipe tall{
        .xResolution = 3.0F, .yResolution = 6.0F, .resolutionUnit = RESUNIT_NONE};
    EXPECT_EQ(resolutionOf(dir, tall), std::pair(200.0F, 400.0F));
    const fixtures::PageRecipe wide{
        .xResolution = 72.0F, .yResolution = 36.0F, .resolutionUnit = RESUNIT_NONE};
    EXPECT_EQ(resolutionOf(dir, wide, 100), std::pair(200.0F, 100.0F));
}

TEST(TiffDocument, ManyPagesAreCountedInOnePass) {
    support::TempDir dir;
    const std::vector<fixtures::PageRecipe> pages(2000, {.width = 8, .height = 8});
    TiffDocument document;
    document.open(writePages(dir, pages));
    EXPECT_EQ(document.getPageCount(), 2000);
    EXPECT_TRUE(document.selectPage(1999));
    EXPECT_TRUE(document.selectPage(5));
}

TEST(TiffDocument, FullColourPages) {
    support::TempDir dir;
    TiffDocument document;
    document.open(writePages(dir, {{.photometric = PHOTOMETRIC_RGB},
                                   {.photometric = PHOTOMETRIC_RGB, .bitsPerSample = 4},
                                   {.photometric = PHOTOMETRIC_PALETTE},
                                   {.photometric = PHOTOMETRIC_MINISWHITE, .bitsPerSample = 1},
                                   {.photometric = PHOTOMETRIC_MINISBLACK},
                                   {.photometric = PHOTOMETRIC_SEPARATED}}));
    const std::vector<bool> expected = {true, false, false, false, false, true};
    for (int page = 0; page < 6; ++page) {
        document.selectPage(page);
        EXPECT_EQ(document.page().isFullColor(), expected[page]) << "page " << page;
    }
}

TEST(TiffDocument, SelectingAgainForgetsTheOtherPagesTags) {
    support::TempDir dir;
    TiffDocument document;
    document.open(writePages(
        dir, {{.width = 11, .xResolution = std::nullopt},
              {.width = 22, .xResolution = 150.0F, .orientation = ORIENTATION_BOTRIGHT}}));
    document.selectPage(1);
    EXPECT_EQ(document.page().orientation, ORIENTATION_BOTRIGHT);
    document.selectPage(0);
    EXPECT_EQ(document.page().width, 11U);
    EXPECT_EQ(document.page().xResolution, 0.0F);
    EXPECT_EQ(document.page().orientation, 0);
}

// libtiff's own reader takes a page without Photometric as grey with 0 as
// black when it has one colour sample, and as RGB when it has three.
TEST(TiffDocument, MissingPhotometricReadsAsLibtiffDoes) {
    support::TempDir dir;
    const fs::path path = dir / "nophotometric.tif";
    for (const uint16_t samples : {uint16_t{1}, uint16_t{3}}) {
        TIFF* tiff = TIFFOpen(path.string().c_str(), "w");
        TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, 4);
        TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, 2);
        TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, samples);
        TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, 8);
        const std::vector<uint8_t> row(12, 0x40);
        for (uint32_t y = 0; y < 2; ++y)
            TIFFWriteScanline(tiff, const_cast<uint8_t*>(row.data()), y, 0);
        TIFFClose(tiff);
        TiffDocument document;
        document.open(path.string());
        EXPECT_TRUE(document.page().photometricMissing);
        EXPECT_EQ(document.page().photometric,
                  samples == 1 ? PHOTOMETRIC_MINISBLACK : PHOTOMETRIC_RGB);
    }
}

TEST(TiffDocument, NotATiffFailsToOpen) {
    support::TempDir dir;
    std::ofstream(dir / "text.tif") << "plain text";
    TiffDocument document;
    EXPECT_THROW(document.open((dir / "text.tif").string()), quorvex::ConversionError);
    EXPECT_FALSE(document.diagnostics().text().empty());
}

// Only regular files are opened, and refusing the others never blocks: a
// FIFO without a writer would otherwise wait for ever.
TEST(TiffDocument, RefusesWhatIsNotARegularFile) {
    support::TempDir dir;
    fs::create_directory(dir / "folder.tif");
#ifdef _WIN32
    // No FIFOs or sockets among Windows files; NUL is its null device.
    const std::vector<std::pair<fs::path, std::string>> cases = {
        {"NUL", "not a regular file (character device)"},
        {dir / "folder.tif", "it is a folder"},
    };
#else
    ASSERT_EQ(::mkfifo((dir / "fifo.tif").c_str(), 0600), 0);
    const int sock = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::string socketPath = (dir / "socket.tif").string();
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s", socketPath.c_str());
    ASSERT_EQ(::bind(sock, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    const std::vector<std::pair<fs::path, std::string>> cases = {
        {dir / "fifo.tif", "not a regular file (FIFO)"},
        {dir / "socket.tif", "not a regular file (socket)"},
        {"/dev/null", "not a regular file (character device)"},
        {dir / "folder.tif", "it is a folder"},
    };
#endif
    for (const auto& [path, reason] : cases) {
        TiffDocument document;
        try {
            document.open(path.string());
            ADD_FAILURE() << path << " was opened";
        } catch (const quorvex::ConversionError& error) {
            EXPECT_EQ(error.detail(), reason) << path;
            EXPECT_EQ(error.kind(), quorvex::FailureKind::InputUnreadable);
        }
    }
#ifndef _WIN32
    ::close(sock);
#endif
}

TEST(TiffDocument, PaletteRamps) {
    support::TempDir dir;
    TiffDocument document;
    document.open(writePages(
        dir, {{.bitsPerSample = 4}, {.photometric = PHOTOMETRIC_MINISWHITE, .bitsPerSample = 2}}));
    using quorvex::ColourSpace;
    auto palette = ColourSpace::indexed(document.page()).palette;
    ASSERT_EQ(palette.size(), 16U);
    EXPECT_EQ(palette[0].red, 0);
    EXPECT_EQ(palette[1].green, 17);
    EXPECT_EQ(palette[15].blue, 255);
    document.selectPage(1);
    palette = ColourSpace::indexed(document.page()).palette;
    ASSERT_EQ(palette.size(), 4U);
    EXPECT_EQ(palette[0].red, 255);
    EXPECT_EQ(palette[1].red, 170);
    EXPECT_EQ(palette[3].red, 0);
}

TEST(TiffDocument, ColourMapScaledFrom16Or8Bits) {
    support::TempDir dir;
    fixtures::ColorMap map;
    map.red.assign(4, 0);
    map.green.assign(4, 0);
    map.blue.assign(4, 0);
    map.red[1] = 65535;
    map.green[1] = 32768;
    fixtures::ColorMap small = map;
    small.red[1] = 200;
    small.green[1] = 100;
    TiffDocument document;
    document.open(writePages(
        dir, {{.photometric = PHOTOMETRIC_PALETTE, .bitsPerSample = 2, .colorMap = map},
              {.photometric = PHOTOMETRIC_PALETTE, .bitsPerSample = 2, .colorMap = small}}));
    using quorvex::ColourSpace;
    auto palette = ColourSpace::indexed(document.page()).palette;
    EXPECT_EQ(palette[1].red, 255);
    EXPECT_EQ(palette[1].green, 128);
    document.selectPage(1);
    palette = ColourSpace::indexed(document.page()).palette;
    EXPECT_EQ(palette[1].red, 200) << "an 8-bit colour map keeps its values";
    EXPECT_EQ(palette[1].green, 100);
}

// A fax page's stored strips, copied into the engine's own small TIFF, decode
// there to the page's pixels: strips in order, bits turned round where the
// file stores them least significant first, the last strip short.
class FaxStripFileRoundTrip : public ::testing::TestWithParam<fixtures::PageRecipe> {};

TEST_P(FaxStripFileRoundTrip, DecodesToThePagesPixels) {
    support::TempDir dir;
    const fs::path source = writePages(dir, {GetParam()});
    TiffDocument document;
    document.open(source.string());
    const auto strips = quorvex::readFaxStrips(document);
    ASSERT_TRUE(strips.has_value());
    EXPECT_EQ(strips->size(), document.page().strips);
    const std::vector<uint8_t> file = quorvex::faxStripFile(document.page(), *strips);
    std::ofstream(dir / "copy.tif", std::ios::binary)
        .write(reinterpret_cast<const char*>(file.data()),
               static_cast<std::streamsize>(file.size()));
    EXPECT_TRUE(support::imagesMatch(support::decodeTiffPage(source, 0),
                                     support::decodeTiffPage(dir / "copy.tif", 0), 0));
}

fixtures::PageRecipe faxRecipe(uint16_t compression, uint32_t rowsPerStrip,
                               uint16_t fillOrder = FILLORDER_MSB2LSB,
                               uint16_t photometric = PHOTOMETRIC_MINISWHITE) {
    fixtures::PageRecipe page = fixtures::faxPage(compression, 301, 97);
    page.photometric = photometric;
    page.rowsPerStrip = rowsPerStrip;
    page.fillOrder = fillOrder;
    return page;
}

INSTANTIATE_TEST_SUITE_P(Layouts, FaxStripFileRoundTrip,
                         ::testing::Values(faxRecipe(COMPRESSION_CCITTFAX4, 97),
                                           faxRecipe(COMPRESSION_CCITTFAX4, 10),
                                           faxRecipe(COMPRESSION_CCITTFAX4, 1, FILLORDER_LSB2MSB),
                                           faxRecipe(COMPRESSION_CCITTFAX3, 32, FILLORDER_LSB2MSB),
                                           faxRecipe(COMPRESSION_CCITTFAX3, 97, FILLORDER_MSB2LSB,
                                                     PHOTOMETRIC_MINISBLACK)));

}  // namespace
