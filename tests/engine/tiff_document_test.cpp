// Page counting, page selection and the cached fields of a TIFF document.
#include <gtest/gtest.h>
#include <tiffio.h>

#include <fstream>

#include "engine/tiff/TiffDocument.h"
#include "fixtures/TiffFixture.h"
#include "support/TestSupport.h"

namespace fs = std::filesystem;
using quorvex::TiffDocument;

namespace {

fs::path writePages(const support::TempDir& dir, const std::vector<fixtures::PageSpec>& pages) {
    const fs::path path = dir / "doc.tif";
    fixtures::writeTiff(path, pages);
    return path;
}

// Offset of directory `index`'s entry count, as libtiff finds it.
uint64_t directoryOffset(const fs::path& path, tdir_t index) {
    TIFF* tiff = TIFFOpen(path.c_str(), "r");
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
    ASSERT_EQ(document.open(writePages(dir, {{.width = 10}, {.width = 20}, {.width = 30}}).c_str()),
              1);
    EXPECT_EQ(document.getPageCount(), 3);
    EXPECT_EQ(document.getCurrentPage(), 0);
    EXPECT_EQ(document.imageWidth, 10U);
}

TEST(TiffDocument, UnreadableDirectoryEndsTheCount) {
    support::TempDir dir;
    const fs::path path = writePages(dir, {{}, {}, {}, {}});
    // A directory claiming no entries cannot be read.
    overwrite(path, directoryOffset(path, 2), std::string("\0\0", 2));
    TiffDocument document;
    ASSERT_EQ(document.open(path.c_str()), 1);
    EXPECT_EQ(document.getPageCount(), 2);
}

TEST(TiffDocument, DirectoryChainThatLoopsIsCountedOnce) {
    support::TempDir dir;
    const fs::path path = writePages(dir, {{}, {}});
    // Point the second directory's next-directory link back at the first.
    const uint64_t second = directoryOffset(path, 1);
    const uint64_t first = directoryOffset(path, 0);
    TIFF* tiff = TIFFOpen(path.c_str(), "r");
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
    ASSERT_EQ(document.open(path.c_str()), 1);
    EXPECT_EQ(document.getPageCount(), 2);
}

TEST(TiffDocument, ManyPagesAreCountedInOnePass) {
    support::TempDir dir;
    const std::vector<fixtures::PageSpec> pages(2000, {.width = 8, .height = 8});
    TiffDocument document;
    ASSERT_EQ(document.open(writePages(dir, pages).c_str()), 1);
    EXPECT_EQ(document.getPageCount(), 2000);
    EXPECT_TRUE(document.selectPage(1999));
    EXPECT_TRUE(document.selectPage(5));
}

TEST(TiffDocument, MissingOrZeroResolutionReadsAs200) {
    support::TempDir dir;
    TiffDocument document;
    ASSERT_EQ(document.open(writePages(dir, {{.xResolution = std::nullopt, .yResolution = 300.0F},
                                             {.xResolution = 0.0F, .yResolution = 0.0F}})
                                .c_str()),
              1);
    EXPECT_EQ(document.xResolution, 200.0F);
    EXPECT_EQ(document.yResolution, 300.0F);
    document.selectPage(1);
    EXPECT_EQ(document.xResolution, 200.0F);
    EXPECT_EQ(document.yResolution, 200.0F);
}

TEST(TiffDocument, FullColourPages) {
    support::TempDir dir;
    TiffDocument document;
    ASSERT_EQ(
        document.open(writePages(dir, {{.photometric = PHOTOMETRIC_RGB},
                                       {.photometric = PHOTOMETRIC_RGB, .bitsPerSample = 4},
                                       {.photometric = PHOTOMETRIC_PALETTE},
                                       {.photometric = PHOTOMETRIC_MINISWHITE, .bitsPerSample = 1},
                                       {.photometric = PHOTOMETRIC_MINISBLACK},
                                       {.photometric = PHOTOMETRIC_SEPARATED}})
                          .c_str()),
        1);
    const std::vector<int> expected = {1, 0, 0, 0, 0, 1};
    for (int page = 0; page < 6; ++page) {
        document.selectPage(page);
        EXPECT_EQ(document.isFullColor, expected[page]) << "page " << page;
    }
}

TEST(TiffDocument, FaxCompressionMeansGroup3Or4Only) {
    support::TempDir dir;
    TiffDocument document;
    const fixtures::PageSpec fax{.photometric = PHOTOMETRIC_MINISWHITE, .bitsPerSample = 1};
    auto g3 = fax, g4 = fax, rle = fax;
    g3.compression = COMPRESSION_CCITTFAX3;
    g4.compression = COMPRESSION_CCITTFAX4;
    rle.compression = COMPRESSION_CCITTRLE;
    ASSERT_EQ(document.open(writePages(dir, {g3, g4, rle}).c_str()), 1);
    EXPECT_EQ(document.isFaxCompressed(), 1);
    document.selectPage(1);
    EXPECT_EQ(document.isFaxCompressed(), 1);
    document.selectPage(2);
    EXPECT_EQ(document.isFaxCompressed(), 0);
}

TEST(TiffDocument, SelectingAgainForgetsTheOtherPagesTags) {
    support::TempDir dir;
    TiffDocument document;
    ASSERT_EQ(
        document.open(
            writePages(dir,
                       {{.width = 11, .xResolution = std::nullopt},
                        {.width = 22, .xResolution = 150.0F, .orientation = ORIENTATION_BOTRIGHT}})
                .c_str()),
        1);
    document.selectPage(1);
    EXPECT_EQ(document.orientation, ORIENTATION_BOTRIGHT);
    document.selectPage(0);
    EXPECT_EQ(document.imageWidth, 11U);
    EXPECT_EQ(document.xResolution, 200.0F);
    EXPECT_EQ(document.orientation, 0);
    EXPECT_EQ(document.xPosition, 0.0F);
}

TEST(TiffDocument, NotATiffFailsToOpen) {
    support::TempDir dir;
    std::ofstream(dir / "text.tif") << "plain text";
    TiffDocument document;
    EXPECT_EQ(document.open((dir / "text.tif").c_str()), 0);
    EXPECT_FALSE(document.diagnostics().text().empty());
}

TEST(TiffDocument, OpenedForWritingHasNoPages) {
    support::TempDir dir;
    TiffDocument document;
    ASSERT_EQ(document.open((dir / "new.tif").c_str(), "w"), 1);
    EXPECT_EQ(document.getPageCount(), -1);
    EXPECT_EQ(document.imageWidth, 0U);
}

TEST(TiffDocument, PaletteRamps) {
    support::TempDir dir;
    TiffDocument document;
    ASSERT_EQ(
        document.open(writePages(dir, {{.bitsPerSample = 4},
                                       {.photometric = PHOTOMETRIC_MINISWHITE, .bitsPerSample = 2}})
                          .c_str()),
        1);
    std::vector<quorvex::PaletteEntry> palette;
    ASSERT_TRUE(document.buildPalette(palette));
    ASSERT_EQ(palette.size(), 16U);
    EXPECT_EQ(palette[0].red, 0);
    EXPECT_EQ(palette[1].green, 17);
    EXPECT_EQ(palette[15].blue, 255);
    document.selectPage(1);
    ASSERT_TRUE(document.buildPalette(palette));
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
    ASSERT_EQ(
        document.open(
            writePages(
                dir, {{.photometric = PHOTOMETRIC_PALETTE, .bitsPerSample = 2, .colorMap = map},
                      {.photometric = PHOTOMETRIC_PALETTE, .bitsPerSample = 2, .colorMap = small}})
                .c_str()),
        1);
    std::vector<quorvex::PaletteEntry> palette;
    ASSERT_TRUE(document.buildPalette(palette));
    EXPECT_EQ(palette[1].red, 255);
    EXPECT_EQ(palette[1].green, 128);
    document.selectPage(1);
    ASSERT_TRUE(document.buildPalette(palette));
    EXPECT_EQ(palette[1].red, 200) << "an 8-bit colour map keeps its values";
    EXPECT_EQ(palette[1].green, 100);
}

}  // namespace
