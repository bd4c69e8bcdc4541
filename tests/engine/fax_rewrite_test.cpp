// Fax files whose first page is split into several strips are copied into a
// temporary one-strip-per-page TIFF beside the input before conversion. These
// tests look at that temporary file while it exists, and make sure that it
// never outlives a conversion and never replaces a file it did not create.
#include <gtest/gtest.h>
#include <tiffio.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <memory>
#include <ostream>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "engine/Conversion.h"
#include "engine/pdf/PdfOutput.h"
#include "engine/tiff/FaxRewrite.h"
#include "engine/tiff/TiffDocument.h"
#include "fixtures/TiffFixture.h"
#include "support/TestSupport.h"

namespace {

namespace fs = std::filesystem;
using fixtures::PageSpec;

constexpr const char* kPathTooLong = "temp file path lenght is greater than 255.";
constexpr const char* kInvalidFax = "Unable to convert tiff. invalid fax format.";

struct TiffCloser {
    void operator()(TIFF* tiff) const { TIFFClose(tiff); }
};

// What a directory of a TIFF says about its page.
struct PageFacts {
    uint16_t compression = 0;
    uint32_t width = 0;
    uint32_t height = 0;
    uint16_t photometric = 0;
    uint16_t orientation = 0;
    float xResolution = 0;
    float yResolution = 0;
    uint32_t strips = 0;

    bool operator==(const PageFacts&) const = default;
};

void PrintTo(const PageFacts& facts, std::ostream* out) {
    *out << "{compression " << facts.compression << ", " << facts.width << "x" << facts.height
         << ", photometric " << facts.photometric << ", orientation " << facts.orientation
         << ", resolution " << facts.xResolution << "x" << facts.yResolution << ", strips "
         << facts.strips << "}";
}

std::vector<PageFacts> readPages(const fs::path& path) {
    std::unique_ptr<TIFF, TiffCloser> tiff(TIFFOpen(path.c_str(), "r"));
    if (!tiff)
        throw std::runtime_error("cannot open " + path.string());
    std::vector<PageFacts> pages;
    do {
        PageFacts facts;
        TIFF* t = tiff.get();
        TIFFGetField(t, TIFFTAG_COMPRESSION, &facts.compression);
        TIFFGetField(t, TIFFTAG_IMAGEWIDTH, &facts.width);
        TIFFGetField(t, TIFFTAG_IMAGELENGTH, &facts.height);
        TIFFGetField(t, TIFFTAG_PHOTOMETRIC, &facts.photometric);
        TIFFGetFieldDefaulted(t, TIFFTAG_ORIENTATION, &facts.orientation);
        TIFFGetField(t, TIFFTAG_XRESOLUTION, &facts.xResolution);
        TIFFGetField(t, TIFFTAG_YRESOLUTION, &facts.yResolution);
        facts.strips = TIFFNumberOfStrips(t);
        pages.push_back(facts);
    } while (TIFFReadDirectory(tiff.get()));
    return pages;
}

std::set<std::string> filesIn(const fs::path& folder) {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) {
        names.insert(entry.path().filename().string());
    }
    return names;
}

PageSpec stripedFax(uint32_t variant = 0, uint32_t rowsPerStrip = 16) {
    return {.width = 203,
            .height = 61,
            .compression = COMPRESSION_CCITTFAX4,
            .photometric = PHOTOMETRIC_MINISWHITE,
            .bitsPerSample = 1,
            .rowsPerStrip = rowsPerStrip,
            .xResolution = 204.0f,
            .yResolution = 98.0f,
            .variant = variant};
}

// Makes folders under `base` so that a file `<stem>.tif` in the innermost one
// has a path of exactly `length` characters; returns that path.
fs::path pathOfLength(const fs::path& base, std::size_t length) {
    const std::string extension = ".tif";
    fs::path folder = base;
    const auto stemRoom = [&] {
        return static_cast<long>(length) - static_cast<long>(folder.string().size() + 1) -
               static_cast<long>(extension.size());
    };
    while (stemRoom() > 150) {
        folder /= std::string(100, 'd');
        fs::create_directory(folder);
    }
    if (stemRoom() < 1)
        throw std::runtime_error("the temporary folder's path is too long");
    const fs::path path =
        folder / (std::string(static_cast<std::size_t>(stemRoom()), 'n') + extension);
    if (path.string().size() != length)
        throw std::runtime_error("path arithmetic is off");
    return path;
}

quorvex::ConversionOutcome convert(const fs::path& input, const std::atomic<bool>* cancel = nullptr,
                                   const std::string& output = {}) {
    quorvex::ConversionRequest request;
    request.inputPath = input.string();
    request.outputPath = output;
    request.info.creationDate = "fixed";
    request.cancel = cancel;
    return quorvex::convertTiff(request);
}

class FaxRewrite : public ::testing::Test {
  protected:
    // Writes the pages and opens the file as the converter does.
    void openSource(const std::vector<PageSpec>& pages) {
        fixtures::writeTiff(source_, pages);
        document_.open(source_);
    }

    int rewrite() {
        return quorvex::rewriteAsSingleStrip(document_, source_.string(), temporary_, message_,
                                             nullptr);
    }

    support::TempDir dir_;
    fs::path source_ = dir_ / "fax.tif";
    quorvex::TiffDocument document_;
    quorvex::TemporaryFile temporary_;
    std::string message_;
};

// ---------------------------------------------------------------------------
// The temporary file's content

TEST_F(FaxRewrite, ThreeStripedPagesBecomeThreeOneStripPagesWithTheirTags) {
    PageSpec first = stripedFax(0, 16);
    first.orientation = ORIENTATION_TOPLEFT;
    PageSpec second = stripedFax(1, 7);
    second.orientation = ORIENTATION_BOTRIGHT;
    second.xResolution = 300.0f;
    second.yResolution = 300.0f;
    PageSpec third = stripedFax(2, 30);
    third.width = 1728;
    third.height = 97;
    third.orientation = ORIENTATION_LEFTBOT;
    third.yResolution = 196.0f;
    openSource({first, second, third});

    ASSERT_EQ(rewrite(), 1) << message_;
    EXPECT_EQ(temporary_.path(), source_.string() + ".tmp");
    ASSERT_TRUE(support::fileExists(temporary_.path()));

    std::vector<PageFacts> expected = readPages(source_);
    ASSERT_EQ(expected.size(), 3U);
    for (PageFacts& page : expected) {
        EXPECT_GT(page.strips, 1U) << "the source pages must be striped";
        page.strips = 1;
    }
    EXPECT_EQ(readPages(temporary_.path()), expected);
    for (int page = 0; page < 3; ++page) {
        EXPECT_TRUE(support::imagesMatch(support::decodeTiffPage(source_, page, false),
                                         support::decodeTiffPage(temporary_.path(), page, false),
                                         0))
            << "page " << page;
    }

    // The document now reads the temporary file, page 0 selected.
    EXPECT_EQ(document_.getPageCount(), 3);
    EXPECT_EQ(document_.getCurrentPage(), 0);
    EXPECT_STREQ(TIFFFileName(document_.handle()), temporary_.path().c_str());
    EXPECT_EQ(TIFFNumberOfStrips(document_.handle()), 1U);
    EXPECT_EQ(document_.page().rowsPerStrip, first.height);
}

TEST_F(FaxRewrite, UncompressedSecondPageIsRecodedUncompressedInOneStrip) {
    const PageSpec plain{.width = 99,
                         .height = 45,
                         .compression = COMPRESSION_NONE,
                         .photometric = PHOTOMETRIC_MINISWHITE,
                         .bitsPerSample = 1,
                         .rowsPerStrip = 8};
    openSource({stripedFax(), plain});
    ASSERT_EQ(rewrite(), 1) << message_;
    const std::vector<PageFacts> pages = readPages(temporary_.path());
    ASSERT_EQ(pages.size(), 2U);
    EXPECT_EQ(pages[0].compression, COMPRESSION_CCITTFAX4);
    EXPECT_EQ(pages[1].compression, COMPRESSION_NONE);
    EXPECT_EQ(pages[1].strips, 1U);
    EXPECT_TRUE(support::imagesMatch(support::decodeTiffPage(source_, 1, false),
                                     support::decodeTiffPage(temporary_.path(), 1, false), 0));
}

// Every page goes through the copy, so a later colour page needs the tags
// that give its samples their meaning.
TEST_F(FaxRewrite, PalettePageKeepsItsColourMap) {
    const PageSpec palette{.width = 31,
                           .height = 9,
                           .compression = COMPRESSION_LZW,
                           .photometric = PHOTOMETRIC_PALETTE,
                           .bitsPerSample = 8};
    openSource({stripedFax(), palette});
    ASSERT_EQ(rewrite(), 1) << message_;
    std::unique_ptr<TIFF, TiffCloser> copy(TIFFOpen(temporary_.path().c_str(), "r"));
    ASSERT_TRUE(copy && TIFFSetDirectory(copy.get(), 1));
    uint16_t photometric = 0;
    TIFFGetField(copy.get(), TIFFTAG_PHOTOMETRIC, &photometric);
    EXPECT_EQ(photometric, PHOTOMETRIC_PALETTE);
    uint16_t* red = nullptr;
    uint16_t* green = nullptr;
    uint16_t* blue = nullptr;
    ASSERT_TRUE(TIFFGetField(copy.get(), TIFFTAG_COLORMAP, &red, &green, &blue))
        << "the copied palette page has no ColorMap";
    const fixtures::ColorMap map = fixtures::generatedColorMap(8, palette.colorMapMode);
    EXPECT_EQ(std::vector<uint16_t>(red, red + 256), map.red);
    EXPECT_EQ(std::vector<uint16_t>(green, green + 256), map.green);
    EXPECT_EQ(std::vector<uint16_t>(blue, blue + 256), map.blue);
}

TEST_F(FaxRewrite, AlphaPageKeepsItsExtraSamples) {
    const PageSpec rgba{.width = 31,
                        .height = 9,
                        .compression = COMPRESSION_LZW,
                        .photometric = PHOTOMETRIC_RGB,
                        .extraSamples = {EXTRASAMPLE_UNASSALPHA}};
    openSource({stripedFax(), rgba});
    ASSERT_EQ(rewrite(), 1) << message_;
    std::unique_ptr<TIFF, TiffCloser> copy(TIFFOpen(temporary_.path().c_str(), "r"));
    ASSERT_TRUE(copy && TIFFSetDirectory(copy.get(), 1));
    uint16_t count = 0;
    uint16_t* kinds = nullptr;
    ASSERT_TRUE(TIFFGetField(copy.get(), TIFFTAG_EXTRASAMPLES, &count, &kinds))
        << "the copied RGBA page has no ExtraSamples";
    ASSERT_EQ(count, 1);
    EXPECT_EQ(kinds[0], EXTRASAMPLE_UNASSALPHA);
}

TEST_F(FaxRewrite, TemporaryFileGoesAwayWithItsOwner) {
    openSource({stripedFax()});
    std::string path;
    {
        quorvex::TemporaryFile owner;
        ASSERT_EQ(
            quorvex::rewriteAsSingleStrip(document_, source_.string(), owner, message_, nullptr),
            1);
        path = owner.path();
        EXPECT_TRUE(support::fileExists(path));
        document_.close();
    }
    EXPECT_FALSE(support::fileExists(path));
}

// ---------------------------------------------------------------------------
// Names: never someone else's file, and the 250-character limit

TEST_F(FaxRewrite, ExistingTmpFileIsLeftAloneAndAnotherNameUsed) {
    openSource({stripedFax()});
    const fs::path taken = source_.string() + ".tmp";
    fixtures::writeTiff(taken, {PageSpec{}});
    const std::string before = support::readFile(taken);

    ASSERT_EQ(rewrite(), 1) << message_;
    EXPECT_EQ(temporary_.path(), source_.string() + ".1.tmp");
    EXPECT_EQ(support::readFile(taken), before);
}

TEST_F(FaxRewrite, FailsWithoutTouchingAnythingWhenEveryNameIsTaken) {
    openSource({stripedFax()});
    std::set<std::string> expectedFiles = {source_.filename().string()};
    const auto take = [&](const std::string& name) {
        fs::create_directory(dir_ / name);
        expectedFiles.insert(name);
    };
    // More names than the rewrite tries before it gives up.
    take("fax.tif.tmp");
    for (int n = 1; n < 200; ++n)
        take("fax.tif." + std::to_string(n) + ".tmp");

    EXPECT_EQ(rewrite(), -1);
    EXPECT_FALSE(temporary_.exists());
    EXPECT_EQ(filesIn(dir_.path()), expectedFiles);
    // Still open on the source.
    ASSERT_TRUE(document_.handle() != nullptr);
    EXPECT_STREQ(TIFFFileName(document_.handle()), source_.c_str());
    EXPECT_EQ(document_.getPageCount(), 1);
}

TEST_F(FaxRewrite, FailsInAFolderWhereNoFileCanBeCreated) {
    if (::geteuid() == 0)
        GTEST_SKIP() << "folder permissions do not stop root from writing";
    openSource({stripedFax()});
    fs::permissions(dir_.path(), fs::perms::owner_read | fs::perms::owner_exec);
    const int result = rewrite();
    fs::permissions(dir_.path(), fs::perms::owner_all);
    EXPECT_EQ(result, -1);
    EXPECT_EQ(filesIn(dir_.path()), std::set<std::string>{"fax.tif"});
    ASSERT_TRUE(document_.handle() != nullptr);
    EXPECT_STREQ(TIFFFileName(document_.handle()), source_.c_str());
}

TEST_F(FaxRewrite, SourcePathOf250CharactersIsAccepted) {
    source_ = pathOfLength(dir_.path(), 250);
    openSource({stripedFax()});
    ASSERT_EQ(rewrite(), 1) << message_;
    EXPECT_EQ(temporary_.path().size(), 254U);
}

TEST_F(FaxRewrite, SourcePathOf251CharactersIsRefusedAndNothingIsCreated) {
    source_ = pathOfLength(dir_.path(), 251);
    openSource({stripedFax()});
    EXPECT_EQ(rewrite(), -1);
    EXPECT_EQ(message_, kPathTooLong);
    EXPECT_EQ(filesIn(source_.parent_path()), std::set<std::string>{source_.filename().string()});
}

// When "<input>.tmp" is taken, the next name must fit the limit too.
TEST_F(FaxRewrite, SourcePathOf250CharactersIsRefusedWhenTheShortNameIsTaken) {
    source_ = pathOfLength(dir_.path(), 250);
    openSource({stripedFax()});
    fixtures::writeTiff(source_.string() + ".tmp", {PageSpec{}});
    EXPECT_EQ(rewrite(), -1);
    EXPECT_EQ(message_, kPathTooLong);
    EXPECT_EQ(filesIn(source_.parent_path()).size(), 2U);
}

// ---------------------------------------------------------------------------
// Through the whole conversion: the temporary file exists only while it runs

class FaxConversion : public ::testing::Test {
  protected:
    void writeSource(const std::vector<PageSpec>& pages) { fixtures::writeTiff(source_, pages); }

    support::TempDir dir_;
    fs::path source_ = dir_ / "fax.tif";
    std::string pdfName_ = "fax.pdf";
};

TEST_F(FaxConversion, TemporaryFileExistsWhileConvertingAndIsGoneAfterwards) {
    writeSource({stripedFax(0), stripedFax(1), stripedFax(2)});
    std::vector<std::set<std::string>> seen;
    quorvex::ConversionRequest request;
    request.inputPath = source_.string();
    request.onPageDone = [&](uint32_t, uint32_t) { seen.push_back(filesIn(dir_.path())); };
    const quorvex::ConversionOutcome outcome = quorvex::convertTiff(request);

    ASSERT_TRUE(outcome.ok()) << outcome.message << " / " << outcome.detail;
    EXPECT_EQ(outcome.pageCount, 3U);
    ASSERT_EQ(seen.size(), 3U);
    EXPECT_TRUE(seen[0].count("fax.tif.tmp")) << "the rewrite ran";
    EXPECT_EQ(filesIn(dir_.path()), (std::set<std::string>{"fax.tif", pdfName_}));
    EXPECT_TRUE(support::qpdfCheck(outcome.outputPath).ok);
    EXPECT_EQ(support::pdfPageCount(outcome.outputPath), 3);
}

TEST_F(FaxConversion, OneStripFirstPageIsNotRewritten) {
    PageSpec first = stripedFax(0, fixtures::kWholePage);
    writeSource({first, stripedFax(1)});
    bool sawTemporary = false;
    quorvex::ConversionRequest request;
    request.inputPath = source_.string();
    request.onPageDone = [&](uint32_t, uint32_t) {
        for (const std::string& name : filesIn(dir_.path())) {
            sawTemporary = sawTemporary || name.ends_with(".tmp");
        }
    };
    ASSERT_TRUE(quorvex::convertTiff(request).ok());
    EXPECT_FALSE(sawTemporary);
}

TEST_F(FaxConversion, ExistingTmpFileKeepsItsContentAndConversionSucceeds) {
    writeSource({stripedFax(0), stripedFax(1)});
    const fs::path taken = source_.string() + ".tmp";
    fixtures::writeTiff(taken, {PageSpec{}});
    const std::string before = support::readFile(taken);

    const quorvex::ConversionOutcome outcome = convert(source_);
    ASSERT_TRUE(outcome.ok()) << outcome.message << " / " << outcome.detail;
    EXPECT_EQ(support::readFile(taken), before);
    EXPECT_EQ(filesIn(dir_.path()), (std::set<std::string>{"fax.tif", "fax.tif.tmp", pdfName_}));
}

TEST_F(FaxConversion, NothingIsLeftWhenTheOutputCannotBeCreated) {
    writeSource({stripedFax()});
    const quorvex::ConversionOutcome outcome =
        convert(source_, nullptr, (dir_ / "missing" / "fax.pdf").string());
    EXPECT_FALSE(outcome.ok());
    EXPECT_EQ(filesIn(dir_.path()), std::set<std::string>{"fax.tif"});
}

TEST_F(FaxConversion, NothingIsLeftWhenWritingThePdfFails) {
    writeSource({stripedFax(0), stripedFax(1)});
    struct WriteLimit {
        WriteLimit() { quorvex::setOutputWriteLimitForTesting(2000); }
        ~WriteLimit() { quorvex::setOutputWriteLimitForTesting(-1); }
    } limit;
    const quorvex::ConversionOutcome outcome = convert(source_);
    EXPECT_FALSE(outcome.ok());
    EXPECT_EQ(filesIn(dir_.path()), std::set<std::string>{"fax.tif"});
}

TEST_F(FaxConversion, NothingIsLeftWhenCancelledDuringTheRewrite) {
    writeSource({stripedFax()});
    const std::atomic<bool> cancel{true};
    const quorvex::ConversionOutcome outcome = convert(source_, &cancel);
    EXPECT_FALSE(outcome.ok());
    EXPECT_TRUE(outcome.cancelled);
    EXPECT_EQ(filesIn(dir_.path()), std::set<std::string>{"fax.tif"});
}

TEST_F(FaxConversion, NothingIsLeftWhenCancelledAfterTheFirstPage) {
    writeSource({stripedFax(0), stripedFax(1), stripedFax(2)});
    std::atomic<bool> cancel{false};
    quorvex::ConversionRequest request;
    request.inputPath = source_.string();
    request.cancel = &cancel;
    request.onPageDone = [&](uint32_t, uint32_t) { cancel = true; };
    const quorvex::ConversionOutcome outcome = quorvex::convertTiff(request);
    EXPECT_TRUE(outcome.cancelled);
    EXPECT_EQ(filesIn(dir_.path()), std::set<std::string>{"fax.tif"});
}

TEST_F(FaxConversion, PathOf250CharactersConverts) {
    source_ = pathOfLength(dir_.path(), 250);
    writeSource({stripedFax()});
    const quorvex::ConversionOutcome outcome = convert(source_);
    ASSERT_TRUE(outcome.ok()) << outcome.message << " / " << outcome.detail;
    EXPECT_EQ(filesIn(source_.parent_path()).size(), 2U) << "the input and its PDF";
}

TEST_F(FaxConversion, PathOf251CharactersFailsAndLeavesOnlyTheInput) {
    source_ = pathOfLength(dir_.path(), 251);
    writeSource({stripedFax()});
    const quorvex::ConversionOutcome outcome = convert(source_);
    EXPECT_EQ(outcome.result, -1);
    EXPECT_EQ(outcome.message, kInvalidFax);
    EXPECT_EQ(outcome.detail, kPathTooLong);
    EXPECT_EQ(filesIn(source_.parent_path()), std::set<std::string>{source_.filename().string()});
}

TEST_F(FaxConversion, TwoConversionsOfTheSameInputAtOnceDoNotShareTheTemporaryFile) {
    std::vector<PageSpec> pages;
    for (uint32_t i = 0; i < 6; ++i)
        pages.push_back(stripedFax(i, 5));
    writeSource(pages);
    quorvex::ConversionOutcome first;
    quorvex::ConversionOutcome second;
    {
        std::jthread a([&] { first = convert(source_, nullptr, (dir_ / "a.pdf").string()); });
        std::jthread b([&] { second = convert(source_, nullptr, (dir_ / "b.pdf").string()); });
    }
    ASSERT_TRUE(first.ok()) << first.message << " / " << first.detail;
    ASSERT_TRUE(second.ok()) << second.message << " / " << second.detail;
    EXPECT_TRUE(support::qpdfCheck(first.outputPath).ok);
    EXPECT_TRUE(support::qpdfCheck(second.outputPath).ok);
    EXPECT_EQ(support::readFile(first.outputPath).size(),
              support::readFile(second.outputPath).size());
    EXPECT_EQ(filesIn(dir_.path()), (std::set<std::string>{"fax.tif", "a.pdf", "b.pdf"}));
}

}  // namespace
