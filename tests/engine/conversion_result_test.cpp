// Results, messages and what stays on disk for every way a conversion ends.
#include <gtest/gtest.h>
#include <tiffio.h>
#ifndef _WIN32
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <atomic>
#include <filesystem>
#include <fstream>
#include <memory>
#include <set>
#include <vector>

#include "engine/Conversion.h"
#include "engine/TiffToPdf.h"
#include "engine/TiffToPdfConverter.h"
#include "engine/encode/ChunkedFlate.h"
#include "engine/pdf/PdfOutput.h"
#include "fixtures/TiffFixture.h"
#include "support/FullDisk.h"
#include "support/TestSupport.h"

namespace fs = std::filesystem;

namespace {

// Through the engine's entry, or a converter whose PDF goes through `writer`.
quorvex::ConversionOutcome convert(const fs::path& input, const fs::path& output = {},
                                   quorvex::PdfOutput::Writer writer = {}) {
    quorvex::ConversionRequest request;
    request.inputPath = input.string();
    request.outputPath = output.string();
    request.info.creationDate = "fixed";
    if (writer)
        return quorvex::TiffToPdfConverter(std::move(writer)).convert(request);
    return quorvex::convertTiff(request);
}

// Files in `dir` other than the inputs the test made.
std::vector<std::string> leftovers(const fs::path& dir, const std::set<std::string>& inputs) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir)) {
        const std::string name = entry.path().filename().string();
        if (!inputs.contains(name))
            names.push_back(name);
    }
    return names;
}

void writeText(const fs::path& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

fs::path writeSimpleTiff(const support::TempDir& dir, const std::string& name,
                         fixtures::PageRecipe page = {}) {
    const fs::path path = dir / name;
    fixtures::writeTiff(path, {page});
    return path;
}

TEST(ConversionResult, SuccessWritesThePdfBesideTheTiff) {
    support::TempDir dir;
    const auto tiff = writeSimpleTiff(dir, "scan.tif");
    const auto outcome = convert(tiff);
    EXPECT_EQ(outcome.result, 1);
    EXPECT_EQ(outcome.message, "");
    EXPECT_EQ(outcome.outputPath, (dir / "scan.pdf").string());
    EXPECT_EQ(outcome.pageCount, 1U);
    EXPECT_EQ(outcome.bytesWritten, fs::file_size(dir / "scan.pdf"));
    EXPECT_EQ(leftovers(dir.path(), {"scan.tif"}), std::vector<std::string>{"scan.pdf"});
}

#ifndef _WIN32
// Windows files have no mode bits and no umask.
TEST(ConversionResult, FinishedPdfHasPlainFilePermissions) {
    support::TempDir dir;
    const auto tiff = writeSimpleTiff(dir, "scan.tif");
    const mode_t old = ::umask(022);
    const auto outcome = convert(tiff);
    ::umask(old);
    ASSERT_TRUE(outcome.ok());
    EXPECT_EQ(fs::status(dir / "scan.pdf").permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read |
                  fs::perms::others_read);
}
#endif

TEST(ConversionResult, MissingFileCannotBeOpened) {
    support::TempDir dir;
    const auto outcome = convert(dir / "absent.tif");
    EXPECT_EQ(outcome.result, -1);
    EXPECT_EQ(outcome.message, "Unable to open file.");
#ifdef _WIN32
    // The system's own words, which Windows' versions and Wine word
    // differently: some, and not the bare number of a code it has no text for.
    EXPECT_FALSE(outcome.detail.empty());
    EXPECT_EQ(outcome.detail.rfind("error ", 0), std::string::npos) << outcome.detail;
#else
    EXPECT_EQ(outcome.detail, "No such file or directory");
#endif
    EXPECT_TRUE(leftovers(dir.path(), {}).empty());
}

TEST(ConversionResult, FileThatIsNotATiffCannotBeOpened) {
    support::TempDir dir;
    writeText(dir / "notes.tif", "these are not the pixels you are looking for");
    const auto outcome = convert(dir / "notes.tif");
    EXPECT_EQ(outcome.result, -1);
    EXPECT_EQ(outcome.message, "Unable to open file.");
    EXPECT_FALSE(outcome.diagnostic.empty()) << "libtiff's own reason is kept";
    EXPECT_EQ(leftovers(dir.path(), {"notes.tif"}), std::vector<std::string>{});
}

TEST(ConversionResult, CmykFirstPageIsRefusedBeforeAnyOutput) {
    support::TempDir dir;
    const auto tiff = writeSimpleTiff(dir, "print.tif", {.photometric = PHOTOMETRIC_SEPARATED});
    const auto outcome = convert(tiff);
    EXPECT_EQ(outcome.result, 0);
    EXPECT_EQ(outcome.message, "CMYK File Format not accepted");
    EXPECT_TRUE(leftovers(dir.path(), {"print.tif"}).empty());
}

TEST(ConversionResult, CmykAfterTheFirstPageIsConverted) {
    support::TempDir dir;
    const fs::path tiff = dir / "mixed.tif";
    fixtures::writeTiff(tiff, {{}, {.photometric = PHOTOMETRIC_SEPARATED}});
    EXPECT_TRUE(convert(tiff).ok());
}

TEST(ConversionResult, OutputInAMissingFolderCannotBeOpened) {
    support::TempDir dir;
    const auto tiff = writeSimpleTiff(dir, "scan.tif");
    const auto outcome = convert(tiff, dir / "no-such-folder" / "scan.pdf");
    EXPECT_EQ(outcome.result, -1);
    EXPECT_EQ(outcome.message, "Unable to open file.");
}

TEST(ConversionResult, OutputNamingAFolderCannotBeOpened) {
    support::TempDir dir;
    const auto tiff = writeSimpleTiff(dir, "scan.tif");
    fs::create_directory(dir / "scan.pdf");
    const auto outcome = convert(tiff);
    EXPECT_EQ(outcome.result, -1);
    EXPECT_EQ(outcome.message, "Unable to open file.");
    EXPECT_TRUE(fs::is_directory(dir / "scan.pdf"));
}

TEST(ConversionResult, WriteErrorFailsAndKeepsTheOldPdf) {
    support::TempDir dir;
    const auto tiff = writeSimpleTiff(dir, "scan.tif", {.width = 800, .height = 600});
    writeText(dir / "scan.pdf", "previous PDF");
    const auto outcome = convert(tiff, {}, support::diskFullAfter(1000));
    EXPECT_EQ(outcome.result, 0);
    EXPECT_EQ(outcome.message, "Unable to write file.");
    EXPECT_NE(outcome.detail.find("No space left on device"), std::string::npos) << outcome.detail;
    EXPECT_EQ(support::readFile(dir / "scan.pdf"), "previous PDF");
    EXPECT_EQ(leftovers(dir.path(), {"scan.tif", "scan.pdf"}), std::vector<std::string>{});
}

#ifndef _WIN32
// Mounting a small file system is Linux only.
// A real full file system, where the test may mount one.
TEST(ConversionResult, FullDiskFailsCleanly) {
    support::TempDir dir;
    const fs::path small = dir / "small";
    fs::create_directory(small);
    if (::geteuid() != 0 || ::mount("tmpfs", small.c_str(), "tmpfs", 0, "size=4k") != 0) {
        GTEST_SKIP() << "cannot mount a small tmpfs here";
    }
    struct Unmount {
        fs::path path;
        ~Unmount() { ::umount2(path.c_str(), MNT_DETACH); }
    } unmount{small};
    const auto tiff = writeSimpleTiff(dir, "noise.tif", {.width = 600, .height = 600});
    const auto outcome = convert(tiff, small / "noise.pdf");
    EXPECT_EQ(outcome.result, 0);
    EXPECT_EQ(outcome.message, "Unable to write file.");
    EXPECT_TRUE(fs::is_empty(small));
}
#endif

TEST(ConversionResult, CancelledRunLeavesNothingBehind) {
    support::TempDir dir;
    const auto tiff = dir / "pages.tif";
    fixtures::writeTiff(tiff, {{}, {}, {}});
    std::atomic<bool> cancel{false};
    quorvex::ConversionRequest request;
    request.inputPath = tiff.string();
    request.cancel = &cancel;
    request.onPageDone = [&](uint32_t done, uint32_t) {
        if (done == 1)
            cancel = true;
    };
    const auto outcome = quorvex::convertTiff(request);
    EXPECT_EQ(outcome.result, 0);
    EXPECT_TRUE(outcome.cancelled());
    EXPECT_EQ(outcome.message, "Conversion cancelled.");
    EXPECT_TRUE(leftovers(dir.path(), {"pages.tif"}).empty());
}

TEST(ConversionResult, PlainEntryReturnsTheResultCode) {
    support::TempDir dir;
    const auto tiff = writeSimpleTiff(dir, "scan.tif");
    const std::string out = (dir / "named.pdf").string();
    EXPECT_EQ(TiffToPdf(tiff.string().c_str(), out.c_str(), "c", nullptr, "a", "p", "t", "s", "k"),
              1);
    EXPECT_TRUE(fs::exists(out));
    EXPECT_EQ(TiffToPdf((dir / "absent.tif").string().c_str(), nullptr, "c", nullptr, "a", "p", "t",
                        "s", "k"),
              -1);
}

TEST(ConversionResult, ConverterKeepsTheReasonInItsMessageText) {
    support::TempDir dir;
    const auto tiff = writeSimpleTiff(dir, "print.tif", {.photometric = PHOTOMETRIC_SEPARATED});
    quorvex::TiffToPdfConverter converter;
    EXPECT_EQ(converter.convertTiffToPdf(tiff.string().c_str(), nullptr, "c", nullptr, "a", "p",
                                         "t", "s", "k"),
              0);
    EXPECT_STREQ(converter.messageText, "CMYK File Format not accepted");
}

// The command line's table covers the name rules; this pins the engine's side.
TEST(OutputName, TiffExtensionReplacedOtherwisePdfAppended) {
    EXPECT_EQ(quorvex::deriveOutputPath("/in/Scan.TiFF"), "/in/Scan.pdf");
    EXPECT_EQ(quorvex::deriveOutputPath("odd.name"), "odd.name.pdf");
    EXPECT_EQ(quorvex::deriveOutputPath(""), "");
}

// Builds a path of exactly `length` characters naming a file in nested folders.
fs::path pathOfLength(const fs::path& base, std::size_t length, const std::string& suffix) {
    fs::path folder = base;
    while (folder.string().size() + 1 + 100 + suffix.size() < length) {
        folder /= std::string(100, 'd');
    }
    fs::create_directories(folder);
    const std::size_t stem = length - folder.string().size() - 1 - suffix.size();
    return folder / (std::string(stem, 'f') + suffix);
}

TEST(ConversionResult, PathsLongerThan255CharactersConvert) {
    support::TempDir dir;
    const fs::path tiff = pathOfLength(dir.path(), 1000, ".tif");
    fixtures::writeTiff(tiff, {{}});
    EXPECT_TRUE(convert(tiff).ok());
    EXPECT_TRUE(fs::exists(tiff.parent_path() / (tiff.stem().string() + ".pdf")));
}

}  // namespace

namespace {

std::string convertWithOptions(const fs::path& tiff, const fs::path& pdf,
                               const quorvex::ConversionOptions& options) {
    quorvex::ConversionRequest request;
    request.inputPath = tiff.string();
    request.outputPath = pdf.string();
    request.info.creationDate = "fixed";
    request.options = options;
    const auto outcome = quorvex::convertTiff(request);
    EXPECT_TRUE(outcome.ok()) << outcome.message << " " << outcome.detail;
    return support::readFile(pdf);
}

std::string convertWithThreads(const fs::path& tiff, const fs::path& pdf, unsigned threads,
                               bool compact = false) {
    quorvex::ConversionOptions options;
    options.threads = threads;
    options.compact = compact;
    return convertWithOptions(tiff, pdf, options);
}

void writeMixedPages(const fs::path& tiff) {
    fixtures::writeTiff(
        tiff,
        {{.width = 900,
          .height = 700,
          .compression = COMPRESSION_LZW,
          .photometric = PHOTOMETRIC_RGB},
         {.width = 1727,
          .height = 400,
          .compression = COMPRESSION_CCITTFAX4,
          .photometric = PHOTOMETRIC_MINISWHITE,
          .bitsPerSample = 1},
         {.width = 640, .height = 480, .bitsPerSample = 16, .tiles = fixtures::TileSize{64, 64}},
         {.width = 1200, .height = 900, .photometric = PHOTOMETRIC_MINISWHITE, .bitsPerSample = 1},
         {.width = 300, .height = 200, .photometric = PHOTOMETRIC_PALETTE},
         {.width = 800, .height = 600, .compression = COMPRESSION_ADOBE_DEFLATE}});
}

TEST(ParallelPages, OutputIsTheSameWhateverTheThreads) {
    support::TempDir dir;
    const auto tiff = dir / "mixed.tif";
    writeMixedPages(tiff);
    for (const bool compact : {false, true}) {
        const std::string single = convertWithThreads(tiff, dir / "one.pdf", 1, compact);
        for (const unsigned threads : {2U, 3U, 8U}) {
            EXPECT_TRUE(convertWithThreads(tiff, dir / "many.pdf", threads, compact) == single)
                << threads << " threads" << (compact ? ", compact" : "");
        }
#ifndef _WIN32  // qpdf runs on Linux only
        EXPECT_TRUE(support::qpdfCheck(dir / "one.pdf").ok);
#endif
    }
}

#ifndef _WIN32
// Drawn by MuPDF, which runs on Linux only.
// The standard profile splits the large pages of any file into pieces on
// every thread: the same bytes for any number of threads but one, which
// writes each page as one stream, drawn the same.
TEST(ParallelPages, PagesInPiecesAreTheSameWhateverTheThreads) {
    support::TempDir dir;
    const auto tiff = dir / "mixed.tif";
    writeMixedPages(tiff);
    quorvex::ConversionOptions options;
    options.profile = quorvex::OutputProfile::Standard;
    options.flatePieces = {.pieceBytes = 100'000, .splitThreshold = 400'000};
    options.threads = 2;
    const std::string two = convertWithOptions(tiff, dir / "two.pdf", options);
    options.threads = 8;
    EXPECT_TRUE(convertWithOptions(tiff, dir / "eight.pdf", options) == two);
    options.threads = 1;
    convertWithOptions(tiff, dir / "one.pdf", options);
    ASSERT_TRUE(support::qpdfCheck(dir / "two.pdf").ok);
    for (int page = 0; page < 6; ++page) {
        const support::RgbImage expected = support::decodeTiffPage(tiff, page, true);
        const auto drawn = [&](const char* pdf) {
            return support::renderPdfPage(dir / pdf, page, expected.width, expected.height);
        };
        EXPECT_TRUE(support::imagesMatch(drawn("one.pdf"), drawn("two.pdf"), 0)) << page;
    }
}
#endif

#ifndef _WIN32
// Inflated by qpdf, which runs on Linux only.
// The page of a one-page file, past kPiecedStreamBytes, is compressed in
// pieces by whichever threads are free: the same bytes for any number of
// threads, and qpdf inflates them to the page's samples.
TEST(ParallelPages, OnePageInPiecesIsTheSameWhateverTheThreads) {
    support::TempDir dir;
    const auto tiff = dir / "large.tif";
    const uint32_t side = 8200;  // 8-bit grey: 67 MB of samples
    static_assert(uint64_t{side} * side > quorvex::kPiecedStreamBytes);
    fixtures::writeTiff(
        tiff, {{.width = side, .height = side, .compression = COMPRESSION_LZW, .variant = 3}});
    const std::string single = convertWithThreads(tiff, dir / "one.pdf", 1);
    EXPECT_TRUE(convertWithThreads(tiff, dir / "many.pdf", 8) == single);

    const auto image = support::runCommand(
        {"qpdf", "--show-object=7", "--filtered-stream-data", (dir / "many.pdf").string()});
    ASSERT_TRUE(image.succeeded()) << image.err;
    std::unique_ptr<TIFF, decltype(&TIFFClose)> source(TIFFOpen(tiff.string().c_str(), "r"),
                                                       &TIFFClose);
    std::string samples(static_cast<std::size_t>(side) * side, '\0');
    for (uint32_t strip = 0, at = 0; strip < TIFFNumberOfStrips(source.get()); ++strip) {
        const tmsize_t read = TIFFReadEncodedStrip(source.get(), strip, samples.data() + at,
                                                   static_cast<tmsize_t>(samples.size() - at));
        ASSERT_GT(read, 0);
        at += static_cast<uint32_t>(read);
    }
    EXPECT_TRUE(image.out.compare(0, samples.size(), samples) == 0);
}
#endif

TEST(ParallelPages, CancellingMidwayStopsEveryWorker) {
    support::TempDir dir;
    const auto tiff = dir / "pages.tif";
    fixtures::writeTiff(tiff,
                        std::vector<fixtures::PageRecipe>(
                            12, {.width = 600, .height = 600, .compression = COMPRESSION_LZW}));
    for (const uint32_t stopAfter : {1U, 5U, 11U}) {
        std::atomic<bool> cancel{false};
        quorvex::ConversionRequest request;
        request.inputPath = tiff.string();
        request.cancel = &cancel;
        request.options.threads = 4;
        request.onPageDone = [&](uint32_t done, uint32_t) {
            if (done == stopAfter)
                cancel = true;
        };
        const auto outcome = quorvex::convertTiff(request);
        EXPECT_TRUE(outcome.cancelled()) << "after page " << stopAfter;
        EXPECT_TRUE(leftovers(dir.path(), {"pages.tif"}).empty());
    }
}

}  // namespace
