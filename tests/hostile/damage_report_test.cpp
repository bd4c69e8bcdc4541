// Damaged image data is never converted silently: each case below either
// converts with a warning that names the page and the rows lost, or fails
// with a reason. With strict mode each fails and leaves no PDF. Fax pages
// whose data libtiff decodes only with complaints are coded again, so that
// MuPDF and Poppler draw them as libtiff decodes them.
#include <gtest/gtest.h>
#include <tiffio.h>

#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "engine/Conversion.h"
#include "fixtures/TiffFixture.h"
#include "hostile/TiffPatch.h"
#include "support/TestSupport.h"

namespace {

namespace fs = std::filesystem;
using fixtures::PageRecipe;
using hostile::TiffBytes;

struct DamageCase {
    std::string name;
    std::vector<PageRecipe> pages;
    std::function<void(TiffBytes&)> damage;
    // Expected when the case converts: the page the warning names ("page 2")
    // or the text a file-level warning starts with.
    std::string warning;
    bool fax = false;  // rendered by MuPDF and Poppler against libtiff's decode
    int faxPage = 0;   // the page rendered
};

void PrintTo(const DamageCase& damage, std::ostream* out) {
    *out << damage.name;
}

// Where strip or tile `index` of directory `directory` lies.
std::pair<uint32_t, uint32_t> pieceOf(const TiffBytes& file, std::size_t directory,
                                      std::size_t index, bool tiled = false) {
    const auto offsets = file.values(directory, tiled ? TIFFTAG_TILEOFFSETS : TIFFTAG_STRIPOFFSETS);
    const auto counts =
        file.values(directory, tiled ? TIFFTAG_TILEBYTECOUNTS : TIFFTAG_STRIPBYTECOUNTS);
    return {offsets.at(index), counts.at(index)};
}

// Flips the bits of `count` bytes spread over the middle of a strip.
std::function<void(TiffBytes&)> flipMiddle(std::size_t directory, std::size_t count) {
    return [=](TiffBytes& file) {
        const auto [offset, length] = pieceOf(file, directory, 0);
        for (std::size_t i = 0; i < count; ++i)
            file.xorByte(offset + length / 3 + i * (length / 3) / count, 0xFF);
    };
}

// Claims fewer bytes for the strip than were written: its data ends early.
std::function<void(TiffBytes&)> cutStrip(std::size_t directory, std::size_t strip) {
    return [=](TiffBytes& file) {
        const auto entry = file.find(directory, TIFFTAG_STRIPBYTECOUNTS);
        file.setValue(*entry, static_cast<uint32_t>(strip),
                      pieceOf(file, directory, strip).second / 3);
    };
}

// Claims more bytes for the first strip than the whole file holds.
void claimPastTheEnd(TiffBytes& file) {
    const auto entry = file.find(0, TIFFTAG_STRIPBYTECOUNTS);
    file.setValue(*entry, 0, static_cast<uint32_t>(file.size() * 2));
}

PageRecipe page(uint16_t compression, uint16_t photometric = PHOTOMETRIC_MINISBLACK) {
    return {.width = 160, .height = 120, .compression = compression, .photometric = photometric};
}

PageRecipe fax(uint16_t compression) {
    return fixtures::faxPage(compression, 400, 150);
}

std::vector<DamageCase> damageCases() {
    PageRecipe striped = page(COMPRESSION_LZW);
    striped.rowsPerStrip = 30;
    PageRecipe tiled = page(COMPRESSION_ADOBE_DEFLATE);
    tiled.tiles = fixtures::TileSize{32, 32};
    PageRecipe group3TwoD = fax(COMPRESSION_CCITTFAX3);
    group3TwoD.group3Options = GROUP3OPT_2DENCODING;
    PageRecipe minIsBlack = fax(COMPRESSION_CCITTFAX4);
    minIsBlack.photometric = PHOTOMETRIC_MINISBLACK;
    const PageRecipe group4 = fax(COMPRESSION_CCITTFAX4);
    PageRecipe stripedGroup3 = fax(COMPRESSION_CCITTFAX3);
    stripedGroup3.rowsPerStrip = 40;
    return {
        {"LzwFlipped", {page(COMPRESSION_LZW)}, flipMiddle(0, 40), "page 1"},
        {"DeflateFlipped", {page(COMPRESSION_ADOBE_DEFLATE)}, flipMiddle(0, 40), "page 1"},
        {"PackBitsCutShort", {page(COMPRESSION_PACKBITS)}, cutStrip(0, 0), "page 1"},
        {"JpegFlipped", {page(COMPRESSION_JPEG, PHOTOMETRIC_RGB)}, flipMiddle(0, 40), "page 1"},
        {"Group4Flipped", {fax(COMPRESSION_CCITTFAX4)}, flipMiddle(0, 6), "page 1", true},
        {"Group4TooFewRows", {fax(COMPRESSION_CCITTFAX4)}, cutStrip(0, 0), "page 1", true},
        {"Group3Flipped", {fax(COMPRESSION_CCITTFAX3)}, flipMiddle(0, 6), "page 1", true},
        {"Group3TwoDCutShort", {group3TwoD}, cutStrip(0, 0), "page 1", true},
        {"Group4MinIsBlackFlipped", {minIsBlack}, flipMiddle(0, 6), "page 1", true},
        {"Group4StripPastTheEnd", {group4}, claimPastTheEnd, "page 1"},
        {"StripedGroup3Flipped", {stripedGroup3}, flipMiddle(0, 6), "page 1", true},
        // The fax page is checked on a worker, the LZW page on the reading
        // thread: the warnings still come in page order.
        {"LzwAfterFaxBothFlipped",
         {group4, page(COMPRESSION_LZW)},
         [](TiffBytes& file) {
             flipMiddle(0, 6)(file);
             flipMiddle(1, 40)(file);
         },
         "page 1"},
        {"MiddleFaxOfThreeFlipped", {group4, group4, group4}, flipMiddle(1, 6), "page 2", true, 1},
        {"SecondPageStripCutShort", {page(COMPRESSION_NONE), striped}, cutStrip(1, 2), "page 2"},
        {"TileMissing",
         {tiled},
         [](TiffBytes& file) {
             const auto entry = file.find(0, TIFFTAG_TILEOFFSETS);
             file.setValue(*entry, 3, static_cast<uint32_t>(file.size() + 4096));
         },
         "page 1"},
        {"CutInsideTheDirectoryChain",
         {page(COMPRESSION_NONE), page(COMPRESSION_NONE), page(COMPRESSION_NONE)},
         [](TiffBytes& file) { file.truncate(file.directoryOffset(2) + 6); },
         "the file ends after page 2"},
        {"DirectoryPastTheEnd",
         {page(COMPRESSION_NONE), page(COMPRESSION_NONE)},
         [](TiffBytes& file) {
             file.setNextDirectory(0, static_cast<uint32_t>(file.size() + 1000));
         },
         "the file ends after page 1"},
    };
}

class DamageReport : public ::testing::TestWithParam<DamageCase> {
  protected:
    fs::path damagedFile() {
        const DamageCase& damage = GetParam();
        const fs::path clean = dir_ / "clean.tif";
        fixtures::writeTiff(clean, damage.pages);
        TiffBytes file = TiffBytes::load(clean);
        damage.damage(file);
        const fs::path path = dir_ / "damaged.tif";
        std::ofstream(path, std::ios::binary) << file.bytes();
        return path;
    }

    static quorvex::ConversionOutcome convert(const fs::path& input, const fs::path& output,
                                              bool strict, unsigned threads = 0) {
        quorvex::ConversionRequest request;
        request.options.threads = threads;
        request.inputPath = input.string();
        request.outputPath = output.string();
        request.info.creationDate = "D:20240101000000";
        request.options.strict = strict;
        return quorvex::convertTiff(request);
    }

    support::TempDir dir_;
};

TEST_P(DamageReport, IsWarnedOrFailsNeverSilent) {
    const fs::path input = damagedFile();
    const auto outcome = convert(input, dir_ / "out.pdf", false);
    if (!outcome.ok()) {
        EXPECT_FALSE(outcome.message.empty());
        EXPECT_FALSE(support::fileExists(dir_ / "out.pdf"));
        return;
    }
    ASSERT_FALSE(outcome.warnings.empty()) << "converted silently";
    EXPECT_NE(outcome.warnings.front().find(GetParam().warning), std::string::npos)
        << outcome.warnings.front();
    EXPECT_TRUE(support::qpdfCheck(outcome.outputPath).ok);
    // Pages are checked and coded on worker threads: one thread says and
    // writes the same.
    const auto alone = convert(input, dir_ / "alone.pdf", false, 1);
    EXPECT_EQ(alone.warnings, outcome.warnings);
    EXPECT_TRUE(support::readFile(dir_ / "alone.pdf") == support::readFile(outcome.outputPath));
}

TEST_P(DamageReport, StrictModeFailsAndKeepsTheOldPdf) {
    const fs::path input = damagedFile();
    const fs::path output = dir_ / "out.pdf";
    std::ofstream(output) << "old";
    const auto outcome = convert(input, output, true);
    EXPECT_FALSE(outcome.ok());
    EXPECT_EQ(support::readFile(output), "old");
    EXPECT_EQ(outcome.failure, quorvex::FailureKind::InputUnreadable);
}

// The fax cases alone: what readers draw of a damaged fax page is checked
// against libtiff's own decode.
class FaxDamageReport : public DamageReport {};

std::vector<DamageCase> faxDamageCases() {
    std::vector<DamageCase> fax;
    for (DamageCase& damage : damageCases()) {
        if (damage.fax)
            fax.push_back(std::move(damage));
    }
    return fax;
}

TEST_P(FaxDamageReport, FaxPagesShowWhatLibtiffDecodes) {
    const fs::path input = damagedFile();
    const auto outcome = convert(input, dir_ / "out.pdf", false);
    ASSERT_TRUE(outcome.ok()) << outcome.message << " " << outcome.detail;
    const int page = GetParam().faxPage;
    const support::RgbImage expected = support::decodeTiffPage(input, page);
    for (const auto renderer : {support::Renderer::MuPdf, support::Renderer::Poppler}) {
        EXPECT_TRUE(
            support::imagesMatch(expected,
                                 support::renderPdfPage(outcome.outputPath, page, expected.width,
                                                        expected.height, renderer),
                                 0))
            << (renderer == support::Renderer::MuPdf ? "MuPDF" : "Poppler");
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, DamageReport, ::testing::ValuesIn(damageCases()),
                         [](const auto& param) { return param.param.name; });
INSTANTIATE_TEST_SUITE_P(Cases, FaxDamageReport, ::testing::ValuesIn(faxDamageCases()),
                         [](const auto& param) { return param.param.name; });

}  // namespace
