// Many conversions in one process, as the window and a batch run do them:
// memory stays flat, and failures on damaged files do not spoil the
// conversions that follow them.
#include <gtest/gtest.h>
#include <tiffio.h>
#include <unistd.h>

#include <fstream>
#include <iostream>

#include "engine/Conversion.h"
#include "hostile/IsolatedConversion.h"
#include "hostile/SampleCorpus.h"
#include "hostile/TiffPatch.h"
#include "support/TestSupport.h"

namespace {

namespace fs = std::filesystem;

constexpr int kConversions = 1000;
constexpr int kWarmUp = 100;
constexpr uint64_t kAllowedGrowthBytes = uint64_t{4} << 20;

uint64_t residentBytes() {
    std::ifstream statm("/proc/self/statm");
    uint64_t size = 0;
    uint64_t resident = 0;
    statm >> size >> resident;
    return resident * static_cast<uint64_t>(::sysconf(_SC_PAGESIZE));
}

hostile::CorpusFile corpusFile(const std::string& name) {
    for (const hostile::CorpusFile& file : hostile::sampleCorpus()) {
        if (file.name == name)
            return file;
    }
    throw std::runtime_error("no corpus file " + name);
}

quorvex::ConversionOutcome convert(const fs::path& input, const fs::path& output) {
    quorvex::ConversionRequest request;
    request.inputPath = input.string();
    request.outputPath = output.string();
    request.info.creationDate = "D:20240101000000";
    return quorvex::convertTiff(request);
}

void writeBytes(const fs::path& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

class ManyConversions : public ::testing::Test {
  protected:
    void SetUp() override {
        for (const char* name : {"g4-multi-strip-3-pages.tif", "palette4-lzw.tif", "rgba-lzw.tif",
                                 "grey-tiled-deflate.tif"}) {
            good_.push_back(hostile::writeCorpusFile(corpusFile(name), work_.path()));
        }
        // Failures take other paths through the engine: a file cut inside its
        // directory, a directory without entries, a palette page without its
        // colours, a file that is not there.
        hostile::TiffBytes grey = hostile::TiffBytes::load(good_[1]);
        hostile::TiffBytes cut = grey;
        cut.truncate(grey.directoryOffset(0) + 20);
        writeBytes(work_ / "cut.tif", cut.bytes());
        hostile::TiffBytes empty = grey;
        empty.setEntryCount(0, 0);
        writeBytes(work_ / "empty-directory.tif", empty.bytes());
        hostile::TiffBytes colourless = grey;
        colourless.retag(0, TIFFTAG_COLORMAP, 65000);
        writeBytes(work_ / "colourless.tif", colourless.bytes());
        bad_ = {work_ / "cut.tif", work_ / "empty-directory.tif", work_ / "colourless.tif",
                work_ / "missing.tif"};
    }

    support::TempDir work_{"quorvex-load"};
    std::vector<fs::path> good_;
    std::vector<fs::path> bad_;
};

// Leaks on any path (success, failure, fax rewrite) show up as growth between
// the 100th and the 1000th conversion. Under AddressSanitizer the quarantine
// holds freed memory on purpose; LeakSanitizer checks leaks there instead.
TEST_F(ManyConversions, ThousandConversionsKeepMemoryFlat) {
    const fs::path output = work_ / "out.pdf";
    uint64_t afterWarmUp = 0;
    for (int i = 0; i < kConversions; ++i) {
        if (i % 5 == 4) {
            EXPECT_FALSE(convert(bad_[static_cast<std::size_t>(i / 5) % bad_.size()], output).ok());
        } else {
            const fs::path& input = good_[static_cast<std::size_t>(i) % good_.size()];
            ASSERT_TRUE(convert(input, output).ok()) << input;
        }
        if (i + 1 == kWarmUp)
            afterWarmUp = residentBytes();
    }
    const uint64_t atEnd = residentBytes();
    std::cout << "[ resident ] " << afterWarmUp / 1024 << " KiB after " << kWarmUp << ", "
              << atEnd / 1024 << " KiB after " << kConversions << " conversions\n";
    EXPECT_EQ(hostile::namesIn(work_.path()).count("out.pdf"), 1U);
    const std::size_t damagedOnDisk = bad_.size() - 1;  // missing.tif never exists
    EXPECT_EQ(hostile::namesIn(work_.path()).size(), good_.size() + damagedOnDisk + 1)
        << "temporary files left behind";
#ifdef QUORVEX_SANITIZED
    GTEST_SKIP() << "resident size is not meaningful under AddressSanitizer (" << afterWarmUp / 1024
                 << " KiB -> " << atEnd / 1024 << " KiB)";
#else
    EXPECT_LT(atEnd, afterWarmUp + kAllowedGrowthBytes)
        << "resident size grew from " << afterWarmUp / 1024 << " KiB after " << kWarmUp
        << " conversions to " << atEnd / 1024 << " KiB after " << kConversions;
#endif
}

TEST_F(ManyConversions, GoodFilesConvertTheSameAfterDamagedOnes) {
    std::vector<std::string> before;
    for (std::size_t i = 0; i < good_.size(); ++i) {
        const fs::path output = work_ / ("before-" + std::to_string(i) + ".pdf");
        ASSERT_TRUE(convert(good_[i], output).ok());
        before.push_back(support::readFile(output));
    }
    for (int round = 0; round < 3; ++round) {
        for (const fs::path& bad : bad_) {
            const quorvex::ConversionOutcome outcome = convert(bad, work_ / "bad.pdf");
            EXPECT_FALSE(outcome.ok()) << bad;
            EXPECT_FALSE(outcome.message.empty()) << bad;
        }
    }
    for (std::size_t i = 0; i < good_.size(); ++i) {
        const fs::path output = work_ / ("after-" + std::to_string(i) + ".pdf");
        ASSERT_TRUE(convert(good_[i], output).ok());
        EXPECT_TRUE(support::readFile(output) == before[i]) << good_[i];
    }
    EXPECT_FALSE(fs::exists(work_ / "bad.pdf"));
}

}  // namespace
