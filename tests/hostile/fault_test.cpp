// Faults around a conversion: the input vanishes, a folder cannot be written,
// the disk fills up part-way, the run is cancelled. Each must end as a clean
// failure that leaves nothing behind and leaves an existing PDF as it was.
//
// Read-only folders and a full disk are made for real with a read-only bind
// mount and a small tmpfs; that needs root (chmod does not stop root), so
// those tests are skipped elsewhere.
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/statvfs.h>
#include <tiffio.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>

#include "engine/Conversion.h"
#include "engine/TiffToPdfConverter.h"
#include "engine/pdf/PdfOutput.h"
#include "fixtures/TiffFixture.h"
#include "hostile/IsolatedConversion.h"
#include "hostile/SampleCorpus.h"
#include "hostile/TiffPatch.h"
#include "support/FullDisk.h"
#include "support/TestSupport.h"

namespace {

namespace fs = std::filesystem;
using hostile::namesIn;

constexpr const char* kOldPdf = "%PDF-1.4 an older PDF that must survive\n";

hostile::CorpusFile corpusFile(const std::string& name) {
    for (const hostile::CorpusFile& file : hostile::sampleCorpus()) {
        if (file.name == name)
            return file;
    }
    throw std::runtime_error("no corpus file " + name);
}

void writeText(const fs::path& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
}

// Through the engine's entry, or a converter whose PDF goes through `writer`.
quorvex::ConversionOutcome convert(const fs::path& input, const fs::path& output,
                                   quorvex::PdfOutput::Writer writer = {}) {
    quorvex::ConversionRequest request;
    request.inputPath = input.string();
    request.outputPath = output.string();
    request.info.creationDate = "D:20240101000000";
    if (writer)
        return quorvex::TiffToPdfConverter(std::move(writer)).convert(request);
    return quorvex::convertTiff(request);
}

// A mount that is undone when the object goes away.
class ScopedMount {
  public:
    ScopedMount() = default;
    ScopedMount(const ScopedMount&) = delete;
    ScopedMount& operator=(const ScopedMount&) = delete;
    ~ScopedMount() {
        if (!target_.empty())
            ::umount2(target_.c_str(), MNT_DETACH);
    }

    // Returns the reason when the mount cannot be made (not root, no
    // permission in this container), else an empty string.
    std::string readOnlyView(const fs::path& source, const fs::path& target) {
        if (::geteuid() != 0)
            return "needs root";
        fs::create_directories(target);
        if (::mount(source.c_str(), target.c_str(), nullptr, MS_BIND, nullptr) != 0) {
            return std::string("bind mount: ") + std::strerror(errno);
        }
        target_ = target.string();
        if (::mount(nullptr, target.c_str(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr) !=
            0) {
            return std::string("read-only remount: ") + std::strerror(errno);
        }
        return {};
    }

    std::string smallTmpfs(const fs::path& target, const std::string& size) {
        if (::geteuid() != 0)
            return "needs root";
        fs::create_directories(target);
        const std::string options = "size=" + size + ",mode=0700";
        if (::mount("quorvex-full", target.c_str(), "tmpfs", 0, options.c_str()) != 0) {
            return std::string("tmpfs mount: ") + std::strerror(errno);
        }
        target_ = target.string();
        return {};
    }

  private:
    std::string target_;
};

class Faults : public ::testing::Test {
  protected:
    fs::path write(const std::string& corpusName, const fs::path& folder) {
        fs::create_directories(folder);
        return hostile::writeCorpusFile(corpusFile(corpusName), folder);
    }

    support::TempDir work_{"quorvex-faults"};
};

TEST_F(Faults, InputDeletedBeforeItsTurnFailsWithTheReason) {
    const fs::path input = write("grey8-lzw.tif", work_.path());
    const fs::path output = work_ / "grey8-lzw.pdf";
    writeText(output, kOldPdf);
    fs::remove(input);

    const quorvex::ConversionOutcome outcome = convert(input, output);

    EXPECT_FALSE(outcome.ok());
    EXPECT_EQ(outcome.message, "Unable to open file.");
    EXPECT_EQ(outcome.detail, std::strerror(ENOENT));
    EXPECT_EQ(namesIn(work_.path()), std::set<std::string>{"grey8-lzw.pdf"});
    EXPECT_EQ(support::readFile(output), kOldPdf);
}

TEST_F(Faults, MissingOutputFolderFailsAndCreatesNothing) {
    const fs::path input = write("rgb-lzw-predictor.tif", work_.path());
    const quorvex::ConversionOutcome outcome = convert(input, work_ / "gone" / "out.pdf");

    EXPECT_FALSE(outcome.ok());
    EXPECT_FALSE(outcome.detail.empty());
    EXPECT_EQ(namesIn(work_.path()), std::set<std::string>{"rgb-lzw-predictor.tif"});
}

TEST_F(Faults, OutputNamedLikeAFolderLeavesTheFolderAlone) {
    const fs::path input = write("grey8-lzw.tif", work_.path());
    fs::create_directories(work_ / "taken.pdf" / "inside");

    const quorvex::ConversionOutcome outcome = convert(input, work_ / "taken.pdf");

    EXPECT_FALSE(outcome.ok());
    EXPECT_TRUE(fs::is_directory(work_ / "taken.pdf" / "inside"));
    EXPECT_EQ(namesIn(work_.path()), (std::set<std::string>{"grey8-lzw.tif", "taken.pdf"}));
}

TEST_F(Faults, ReadOnlyOutputFolderFailsAndKeepsTheOldPdf) {
    const fs::path input = write("mixed-4-pages.tif", work_ / "in");
    fs::create_directories(work_ / "out");
    writeText(work_ / "out" / "mixed.pdf", kOldPdf);
    ScopedMount mount;
    if (const std::string why = mount.readOnlyView(work_ / "out", work_ / "out-ro"); !why.empty()) {
        GTEST_SKIP() << "no read-only folder: " << why;
    }

    const quorvex::ConversionOutcome outcome = convert(input, work_ / "out-ro" / "mixed.pdf");

    EXPECT_FALSE(outcome.ok());
    EXPECT_NE(outcome.detail.find(std::strerror(EROFS)), std::string::npos) << outcome.detail;
    EXPECT_EQ(namesIn(work_ / "out"), std::set<std::string>{"mixed.pdf"});
    EXPECT_EQ(support::readFile(work_ / "out" / "mixed.pdf"), kOldPdf);
    EXPECT_EQ(namesIn(work_ / "in"), std::set<std::string>{"mixed-4-pages.tif"});
}

// The rewrite of a fax split into strips needs a temporary file beside the
// input; in a read-only folder it cannot have one.
// A striped fax first page is coded again in memory, page by page: nothing
// is written beside the input, and the pages after it keep their own kinds.
TEST_F(Faults, StripedFaxFirstPageConvertsFromAReadOnlyFolder) {
    using fixtures::PageRecipe;
    const PageRecipe fax{.width = 300,
                         .height = 90,
                         .compression = COMPRESSION_CCITTFAX4,
                         .photometric = PHOTOMETRIC_MINISWHITE,
                         .bitsPerSample = 1,
                         .rowsPerStrip = 20};
    PageRecipe group3 = fax;
    group3.compression = COMPRESSION_CCITTFAX3;
    group3.group3Options = GROUP3OPT_2DENCODING;
    const std::vector<PageRecipe> pages = {
        fax,
        {.compression = COMPRESSION_ADOBE_DEFLATE, .tiles = fixtures::TileSize{16, 16}},
        {.photometric = PHOTOMETRIC_RGB, .planarConfig = PLANARCONFIG_SEPARATE},
        {.compression = COMPRESSION_JPEG, .photometric = PHOTOMETRIC_YCBCR},
        {.photometric = PHOTOMETRIC_PALETTE},
        {.bitsPerSample = 16},
        {.photometric = PHOTOMETRIC_RGB,
         .extraSamples = {EXTRASAMPLE_UNASSALPHA},
         .alphaFill = fixtures::AlphaFill::Varying},
        fax,
        group3,
    };
    fs::create_directories(work_ / "in");
    fixtures::writeTiff(work_ / "in" / "mixed.tif", pages);
    fs::create_directories(work_ / "out");
    ScopedMount mount;
    if (const std::string why = mount.readOnlyView(work_ / "in", work_ / "in-ro"); !why.empty()) {
        GTEST_SKIP() << "no read-only folder: " << why;
    }

    const fs::path pdf = work_ / "out" / "mixed.pdf";
    const quorvex::ConversionOutcome outcome = convert(work_ / "in-ro" / "mixed.tif", pdf);

    ASSERT_TRUE(outcome.ok()) << outcome.message << " " << outcome.detail;
    EXPECT_TRUE(outcome.warnings.empty());
    EXPECT_EQ(namesIn(work_ / "in"), std::set<std::string>{"mixed.tif"});
    for (int page = 0; page < static_cast<int>(pages.size()); ++page) {
        const support::RgbImage expected =
            support::decodeTiffPage(work_ / "in" / "mixed.tif", page);
        const int tolerance = pages[page].compression == COMPRESSION_JPEG ? 2 : 0;
        EXPECT_TRUE(support::imagesMatch(
            expected, support::renderPdfPage(pdf, page, expected.width, expected.height),
            tolerance))
            << "page " << page;
    }
}

// The second page claims more pixels than any page may have: the first page
// is already written when the run fails, and none of it may stay.
TEST_F(Faults, FailurePartWayLeavesNoPartialPdf) {
    const fs::path clean = work_ / "two.tif";
    fixtures::writeTiff(clean, {{}, {}});
    hostile::TiffBytes file = hostile::TiffBytes::load(clean);
    file.setAll(1, TIFFTAG_IMAGEWIDTH, 0x10001);
    file.setAll(1, TIFFTAG_IMAGELENGTH, 0x10001);
    writeText(clean, file.bytes());
    const fs::path pdf = work_ / "two.pdf";
    writeText(pdf, kOldPdf);
    int pagesWritten = 0;
    quorvex::ConversionRequest request;
    request.inputPath = clean.string();
    request.outputPath = pdf.string();
    request.options.threads = 1;  // page 1 is written before page 2 is read
    request.onPageDone = [&](uint32_t done, uint32_t) { pagesWritten = static_cast<int>(done); };
    const quorvex::ConversionOutcome outcome = quorvex::convertTiff(request);
    EXPECT_EQ(outcome.result, 0);
    EXPECT_EQ(pagesWritten, 1);
    EXPECT_NE(outcome.detail.find("page 2"), std::string::npos) << outcome.detail;
    EXPECT_EQ(namesIn(work_.path()), (std::set<std::string>{"two.pdf", "two.tif"}));
    EXPECT_EQ(support::readFile(pdf), kOldPdf);
}

// Writes cut off after every few hundred bytes of the PDF, through the
// converter's writer: every stage of the document meets a full disk.
TEST_F(Faults, DiskFullAtAnyPointOfThePdfFailsCleanly) {
    const fs::path input = write("mixed-4-pages.tif", work_.path());
    const fs::path output = work_ / "mixed.pdf";
    const quorvex::ConversionOutcome full = convert(input, output);
    ASSERT_TRUE(full.ok()) << full.message << " " << full.detail;
    const std::string complete = support::readFile(output);
    writeText(output, kOldPdf);

    const uint64_t step = std::max<uint64_t>(1, full.bytesWritten / 60);
    int cases = 0;
    for (uint64_t limit = 0; limit < full.bytesWritten; limit += step, ++cases) {
        const quorvex::ConversionOutcome outcome =
            convert(input, output, support::diskFullAfter(limit));

        EXPECT_FALSE(outcome.ok()) << "limit " << limit;
        EXPECT_EQ(outcome.message, "Unable to write file.") << "limit " << limit;
        EXPECT_NE(outcome.detail.find(std::strerror(ENOSPC)), std::string::npos)
            << "limit " << limit << ": " << outcome.detail;
        EXPECT_EQ(namesIn(work_.path()), (std::set<std::string>{"mixed-4-pages.tif", "mixed.pdf"}))
            << "limit " << limit;
        ASSERT_EQ(support::readFile(output), kOldPdf) << "limit " << limit;
    }
    EXPECT_GE(cases, 50);

    // With room again, the same file converts to the same bytes.
    ASSERT_TRUE(convert(input, output).ok());
    EXPECT_EQ(support::readFile(output), complete);
}

// A real full file system: a small tmpfs holding the input (a fax that is
// rewritten through a temporary file beside it) and a filler file that leaves
// only a little room. Whatever runs out first, nothing is left behind.
TEST_F(Faults, FullFileSystemFailsCleanlyWhateverRunsOut) {
    support::TempDir source("quorvex-faults-source");
    const fs::path original = write("g4-multi-strip-3-pages.tif", source.path());
    const uint64_t inputSize = fs::file_size(original);

    const fs::path disk = work_ / "disk";
    ScopedMount mount;
    if (const std::string why = mount.smallTmpfs(disk, "512k"); !why.empty()) {
        GTEST_SKIP() << "no small file system: " << why;
    }
    const fs::path input = disk / "fax.tif";
    const fs::path output = disk / "fax.pdf";
    const fs::path filler = disk / "filler";
    fs::copy_file(original, input);

    for (const uint64_t room :
         {uint64_t{0}, uint64_t{4096}, inputSize / 2, inputSize, inputSize * 2}) {
        writeText(output, kOldPdf);
        fs::remove(filler);
        struct statvfs space {};
        ASSERT_EQ(::statvfs(disk.c_str(), &space), 0);
        const uint64_t available = uint64_t{space.f_bavail} * space.f_frsize;
        ASSERT_GT(available, room);
        {
            std::ofstream out(filler, std::ios::binary);
            const std::string block(4096, 'x');
            for (uint64_t left = available - room; left > 0;) {
                const std::size_t piece =
                    static_cast<std::size_t>(std::min<uint64_t>(left, block.size()));
                out.write(block.data(), static_cast<std::streamsize>(piece));
                left -= piece;
            }
        }

        const quorvex::ConversionOutcome outcome = convert(input, output);

        SCOPED_TRACE("room for " + std::to_string(room) + " bytes");
        const std::set<std::string> expected = {"fax.tif", "fax.pdf", "filler"};
        EXPECT_EQ(namesIn(disk), expected);
        if (outcome.ok()) {
            EXPECT_TRUE(support::qpdfCheck(output).ok);
        } else {
            EXPECT_FALSE(outcome.message.empty());
            EXPECT_EQ(support::readFile(output), kOldPdf)
                << outcome.message << " " << outcome.detail;
        }
    }
    fs::remove(filler);
    EXPECT_TRUE(convert(input, output).ok()) << "converts once there is room again";
}

TEST_F(Faults, CancelledAfterTheFirstPageLeavesNothingBehind) {
    const fs::path input = write("g4-multi-strip-3-pages.tif", work_.path());
    const fs::path output = work_ / "fax.pdf";
    writeText(output, kOldPdf);

    std::atomic<bool> cancel{false};
    quorvex::ConversionRequest request;
    request.inputPath = input.string();
    request.outputPath = output.string();
    request.cancel = &cancel;
    request.onPageDone = [&](uint32_t done, uint32_t) {
        if (done == 1)
            cancel = true;
    };
    const quorvex::ConversionOutcome outcome = quorvex::convertTiff(request);

    EXPECT_FALSE(outcome.ok());
    EXPECT_TRUE(outcome.cancelled());
    EXPECT_EQ(namesIn(work_.path()),
              (std::set<std::string>{"g4-multi-strip-3-pages.tif", "fax.pdf"}));
    EXPECT_EQ(support::readFile(output), kOldPdf);
}

}  // namespace
