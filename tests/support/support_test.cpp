#include "support/TestSupport.h"

#include "fixtures/TiffFixture.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

namespace {

using support::RgbImage;

// Pixels with a different value in every position and channel, so that a
// shifted or resampled rendering cannot match by chance.
RgbImage patternImage(uint32_t width, uint32_t height, bool grey) {
    RgbImage image{width, height, std::vector<uint8_t>(size_t{width} * height * 3)};
    for (uint32_t y = 0; y < height; ++y) {
        for (uint32_t x = 0; x < width; ++x) {
            uint8_t* p = image.rgb.data() + (size_t{y} * width + x) * 3;
            const auto v = static_cast<uint8_t>((x * 37 + y * 101 + (x * y) % 7 * 13) % 256);
            p[0] = v;
            p[1] = grey ? v : static_cast<uint8_t>(255 - x * 6);
            p[2] = grey ? v : static_cast<uint8_t>(y * 11);
        }
    }
    return image;
}

// A PDF whose pages each show one uncompressed image filling the page, with
// one PDF unit per image pixel.
std::string pdfWithImages(const std::vector<std::pair<RgbImage, bool>>& pages) {
    std::vector<std::string> objects;  // object n is objects[n - 1]
    objects.push_back("<< /Type /Catalog /Pages 2 0 R >>");
    std::string kids;
    for (size_t i = 0; i < pages.size(); ++i) {
        kids += std::to_string(3 + 3 * i) + " 0 R ";
    }
    objects.push_back("<< /Type /Pages /Kids [" + kids + "] /Count " +
                      std::to_string(pages.size()) + " >>");
    for (size_t i = 0; i < pages.size(); ++i) {
        const auto& [image, grey] = pages[i];
        const size_t page = 3 + 3 * i;
        const std::string w = std::to_string(image.width);
        const std::string h = std::to_string(image.height);
        objects.push_back("<< /Type /Page /Parent 2 0 R /MediaBox [0 0 " + w + " " + h +
                          "] /Resources << /XObject << /Im0 " + std::to_string(page + 2) +
                          " 0 R >> >> /Contents " + std::to_string(page + 1) + " 0 R >>");
        const std::string content = "q " + w + " 0 0 " + h + " 0 0 cm /Im0 Do Q";
        objects.push_back("<< /Length " + std::to_string(content.size()) + " >>\nstream\n" +
                          content + "\nendstream");
        std::string samples;
        for (size_t p = 0; p < image.rgb.size(); p += 3) {
            samples.append(reinterpret_cast<const char*>(&image.rgb[p]), grey ? 1 : 3);
        }
        objects.push_back("<< /Type /XObject /Subtype /Image /Width " + w + " /Height " + h +
                          " /ColorSpace " + (grey ? "/DeviceGray" : "/DeviceRGB") +
                          " /BitsPerComponent 8 /Length " + std::to_string(samples.size()) +
                          " >>\nstream\n" + samples + "\nendstream");
    }
    return support::pdfFromObjects(objects);
}

void writeText(const std::filesystem::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

class PdfReaderTest : public ::testing::Test {
  protected:
    void SetUp() override { writeText(pdf_, pdfWithImages({{rgb_, false}, {grey_, true}})); }

    support::TempDir dir_;
    std::filesystem::path pdf_ = dir_ / "two-pages.pdf";
    RgbImage rgb_ = patternImage(37, 23, false);
    RgbImage grey_ = patternImage(19, 11, true);
};

TEST(TempDirTest, CreatesAFreshFolderAndRemovesItWithItsContents) {
    std::filesystem::path kept;
    {
        support::TempDir first;
        support::TempDir second;
        kept = first.path();
        EXPECT_TRUE(std::filesystem::is_directory(kept));
        EXPECT_NE(first.path(), second.path());
        std::filesystem::create_directories(first / "a" / "b");
        writeText(first / "a" / "b" / "c.txt", "x");
    }
    EXPECT_FALSE(std::filesystem::exists(kept));
}

TEST(RunCommandTest, CapturesOutputErrorAndExitStatus) {
    const auto result = support::runCommand({"sh", "-c", "printf out; printf err >&2; exit 3"});
    EXPECT_EQ(result.out, "out");
    EXPECT_EQ(result.err, "err");
    EXPECT_EQ(result.exitCode, 3);
    EXPECT_FALSE(result.succeeded());
    EXPECT_EQ(result.statusText(), "exit 3");
}

TEST(RunCommandTest, FeedsStandardInputAndCopesWithLargeOutput) {
    const std::string input(300000, 'q');
    const auto echoed = support::runCommand({"cat"}, input);
    EXPECT_TRUE(echoed.succeeded());
    EXPECT_EQ(echoed.out, input);
    // A child that exits without reading its input must not kill the test.
    EXPECT_TRUE(support::runCommand({"true"}, input).succeeded());
    EXPECT_EQ(support::runCommand({"cat"}).out, "");
}

TEST(RunCommandTest, ReportsSignalsTimeoutsAndMissingPrograms) {
    const auto killed = support::runCommand({"sh", "-c", "kill -TERM $$"});
    EXPECT_EQ(killed.signal, SIGTERM);
    EXPECT_EQ(killed.exitCode, -1);

    const auto slow =
        support::runCommand({"sleep", "10"}, std::nullopt, std::chrono::milliseconds(200));
    EXPECT_TRUE(slow.timedOut);
    EXPECT_FALSE(slow.succeeded());

    EXPECT_THROW(support::runCommand({"no-such-program-quorvex"}), std::runtime_error);
}

TEST_F(PdfReaderTest, QpdfAcceptsAValidFileAndReportsADamagedOne) {
    const support::QpdfCheck good = support::qpdfCheck(pdf_);
    EXPECT_TRUE(good.ok) << good.output;

    // Moving every object by one byte leaves a wrong cross-reference table:
    // qpdf recovers, with warnings, which must count as a failure.
    std::string damaged = support::readFile(pdf_);
    damaged.insert(damaged.find("1 0 obj"), " ");
    const auto damagedPath = dir_ / "damaged.pdf";
    writeText(damagedPath, damaged);
    const support::QpdfCheck bad = support::qpdfCheck(damagedPath);
    EXPECT_FALSE(bad.ok);
    EXPECT_EQ(bad.exitCode, 3);
    EXPECT_NE(bad.output.find("WARNING"), std::string::npos) << bad.output;
}

TEST_F(PdfReaderTest, PdfinfoCountsPages) {
    EXPECT_EQ(support::pdfPageCount(pdf_), 2);
    writeText(dir_ / "junk.pdf", "not a pdf");
    EXPECT_THROW(support::pdfPageCount(dir_ / "junk.pdf"), std::runtime_error);
}

TEST_F(PdfReaderTest, RenderingAtTheImageSizeGivesItsPixelsExactly) {
    EXPECT_TRUE(support::imagesMatch(rgb_, support::renderPdfPage(pdf_, 0, 37, 23), 0));
    EXPECT_TRUE(support::imagesMatch(grey_, support::renderPdfPage(pdf_, 1, 19, 11), 0));
    // -f stretches to exactly the size asked, whatever the page's aspect.
    const RgbImage stretched = support::renderPdfPage(pdf_, 0, 50, 10);
    EXPECT_EQ(stretched.width, 50u);
    EXPECT_EQ(stretched.height, 10u);
    EXPECT_THROW(support::renderPdfPage(pdf_, 5, 37, 23), std::runtime_error);
}

TEST_F(PdfReaderTest, PdfimagesListsEveryImage) {
    const auto rows = support::extractImageInfo(pdf_);
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0].page, 1);
    EXPECT_EQ(rows[0].type, "image");
    EXPECT_EQ(rows[0].width, 37u);
    EXPECT_EQ(rows[0].height, 23u);
    EXPECT_EQ(rows[0].color, "rgb");
    EXPECT_EQ(rows[0].components, 3);
    EXPECT_EQ(rows[0].bitsPerComponent, 8);
    EXPECT_EQ(rows[0].encoding, "image");
    EXPECT_EQ(rows[0].objectNumber, 5);
    EXPECT_EQ(rows[0].xPpi, 72);
    EXPECT_EQ(rows[1].page, 2);
    EXPECT_EQ(rows[1].color, "gray");
    EXPECT_EQ(rows[1].components, 1);
}

TEST(DecodeTiffPageTest, GivesTheStoredSamplesAndAppliesEveryOrientation) {
    support::TempDir dir;
    const fixtures::PageRecipe base = {.width = 5, .height = 3, .photometric = PHOTOMETRIC_RGB};
    const RgbImage stored{5, 3, fixtures::pageSamples(base)};
    std::vector<fixtures::PageRecipe> pages;
    for (uint16_t orientation = 1; orientation <= 8; ++orientation) {
        fixtures::PageRecipe page = base;
        page.orientation = orientation;
        pages.push_back(page);
    }
    const auto path = dir / "oriented.tif";
    fixtures::writeTiff(path, pages);

    // Where the stored pixel (column 1, row 0) shows for each orientation,
    // in the shown picture's own size.
    struct Expectation {
        uint32_t width, height, x, y;
    };
    const Expectation expected[8] = {{5, 3, 1, 0}, {5, 3, 3, 0}, {5, 3, 3, 2}, {5, 3, 1, 2},
                                     {3, 5, 0, 1}, {3, 5, 2, 1}, {3, 5, 2, 3}, {3, 5, 0, 3}};
    for (int page = 0; page < 8; ++page) {
        SCOPED_TRACE("orientation " + std::to_string(page + 1));
        EXPECT_TRUE(support::imagesMatch(stored, support::decodeTiffPage(path, page, false), 0));
        const RgbImage shown = support::decodeTiffPage(path, page, true);
        ASSERT_EQ(shown.width, expected[page].width);
        ASSERT_EQ(shown.height, expected[page].height);
        EXPECT_EQ(
            0, std::memcmp(shown.pixel(expected[page].x, expected[page].y), stored.pixel(1, 0), 3));
    }
    EXPECT_THROW(support::decodeTiffPage(path, 8), std::runtime_error);
    EXPECT_THROW(support::decodeTiffPage(dir / "none.tif", 0), std::runtime_error);
}

TEST(DecodeTiffPageTest, DropsAlphaAndTurnsBilevelIntoBlackAndWhite) {
    support::TempDir dir;
    const fixtures::PageRecipe rgba = {.width = 9,
                                       .height = 4,
                                       .photometric = PHOTOMETRIC_RGB,
                                       .extraSamples = {EXTRASAMPLE_ASSOCALPHA}};
    const fixtures::PageRecipe mono = {.width = 9,
                                       .height = 4,
                                       .photometric = PHOTOMETRIC_MINISWHITE,
                                       .bitsPerSample = 1,
                                       .samples = std::vector<uint8_t>(8, 0x80)};
    const auto path = dir / "kinds.tif";
    fixtures::writeTiff(path, {rgba, mono});

    const std::vector<uint8_t> samples = fixtures::pageSamples(rgba);
    const RgbImage colour = support::decodeTiffPage(path, 0);
    for (size_t i = 0; i < 9 * 4; ++i) {
        ASSERT_EQ(0, std::memcmp(&colour.rgb[i * 3], &samples[i * 4], 3)) << "pixel " << i;
    }
    const RgbImage bilevel = support::decodeTiffPage(path, 1);
    EXPECT_EQ(bilevel.pixel(0, 0)[0], 0);    // a set bit is black when min-is-white
    EXPECT_EQ(bilevel.pixel(1, 0)[0], 255);  // and a clear one white
}

TEST(CompareImagesTest, CountsPixelsBeyondTheToleranceAndNamesTheFirst) {
    const RgbImage a = patternImage(4, 3, false);
    RgbImage b = a;
    b.rgb[(1 * 4 + 2) * 3 + 1] = static_cast<uint8_t>(b.rgb[(1 * 4 + 2) * 3 + 1] ^ 0x10);
    b.rgb[(2 * 4 + 0) * 3 + 2] = static_cast<uint8_t>(b.rgb[(2 * 4 + 0) * 3 + 2] + 1);

    const support::ImageDiff diff = support::compareImages(a, b, 1);
    EXPECT_TRUE(diff.sameSize);
    EXPECT_EQ(diff.mismatchedPixels, 1u);
    EXPECT_EQ(diff.maxDifference, 16);
    ASSERT_TRUE(diff.firstMismatch.has_value());
    EXPECT_EQ(*diff.firstMismatch, std::make_pair(2u, 1u));
    EXPECT_EQ(support::compareImages(a, b, 0).mismatchedPixels, 2u);
    EXPECT_EQ(support::compareImages(a, b, 16).mismatchedPixels, 0u);

    const auto message = std::string(support::imagesMatch(a, b, 1).message());
    EXPECT_NE(message.find("1 of 12 pixels"), std::string::npos) << message;
    EXPECT_NE(message.find("(2, 1)"), std::string::npos) << message;
    EXPECT_FALSE(support::imagesMatch(a, patternImage(3, 4, false), 255));
    EXPECT_FALSE(support::compareImages(a, patternImage(3, 4, false), 255).sameSize);
}

TEST(FileHelpersTest, ReadFileReturnsTheExactBytes) {
    support::TempDir dir;
    const std::string bytes("a\0b\r\n\xff", 6);
    writeText(dir / "f.bin", bytes);
    EXPECT_EQ(support::readFile(dir / "f.bin"), bytes);
    EXPECT_TRUE(support::fileExists(dir / "f.bin"));
    EXPECT_FALSE(support::fileExists(dir / "missing"));
    EXPECT_FALSE(support::fileExists(dir.path()));
    EXPECT_THROW(support::readFile(dir / "missing"), std::runtime_error);

    const RgbImage image = patternImage(3, 2, false);
    support::writePpm(dir / "i.ppm", image);
    EXPECT_EQ(support::readFile(dir / "i.ppm").size(), std::string("P6\n3 2\n255\n").size() + 18);
}

}  // namespace
