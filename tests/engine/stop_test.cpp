// How a conversion stops when asked to: compression looks at the cancel flag
// between bounded pieces and still gives a stream that inflates back to the
// samples; the last resort of a signal removes exactly the temporary files
// and folders that are listed, and lists nothing once it has run.
#include <gtest/gtest.h>
#include <zlib.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <thread>
#include <vector>

#include "engine/EngineError.h"
#include "engine/StopSignals.h"
#include "engine/encode/StreamSink.h"
#include "engine/encode/WholeStreamFlate.h"
#include "engine/platform/TemporaryRegistry.h"
#include "support/TestSupport.h"

namespace {

namespace fs = std::filesystem;
using quorvex::ChunkedBytes;
using quorvex::ConversionError;
using quorvex::platform::TemporaryKind;
using quorvex::platform::TemporaryRegistration;

// Samples that compress like a scan: gradients with a little noise.
std::vector<uint8_t> scanLikeSamples(std::size_t size) {
    std::vector<uint8_t> samples(size);
    uint32_t noise = 12345;
    for (std::size_t i = 0; i < size; ++i) {
        noise = noise * 1103515245u + 12345u;
        samples[i] = static_cast<uint8_t>((i % 4096) / 16 + ((noise >> 16) & 7));
    }
    return samples;
}

std::vector<uint8_t> inflated(const ChunkedBytes& stream, std::size_t expectedSize) {
    std::vector<uint8_t> joined;
    for (const auto& chunk : stream.chunks())
        joined.insert(joined.end(), chunk.begin(), chunk.end());
    std::vector<uint8_t> samples(expectedSize + 1);
    uLongf size = static_cast<uLongf>(samples.size());
    EXPECT_EQ(uncompress(samples.data(), &size, joined.data(), static_cast<uLong>(joined.size())),
              Z_OK);
    samples.resize(size);
    return samples;
}

ChunkedBytes compressed(const std::vector<uint8_t>& samples, int level,
                        const std::atomic<bool>* cancel, quorvex::ParallelFor parallelFor = {}) {
    ChunkedBytes out;
    auto sink = quorvex::makeStreamSink(out, quorvex::StreamEncoding::Flate, level, 0,
                                        std::move(parallelFor), cancel);
    sink->append(samples.data(), samples.size());
    sink->finish();
    return out;
}

TEST(CancellableCompression, PiecesInflateBackToTheSamplesAtEveryKindOfLevel) {
    const std::atomic<bool> cancel{false};
    for (const int level : {0, 6, 11}) {
        const std::size_t size = 2 * quorvex::cancellablePieceBytes(level) + 12345;
        const std::vector<uint8_t> samples = scanLikeSamples(size);
        EXPECT_EQ(inflated(compressed(samples, level, &cancel), size), samples) << level;
    }
}

TEST(CancellableCompression, StopsBetweenPiecesOnceTheFlagIsSet) {
    const std::size_t pieces = 4;
    const std::vector<uint8_t> samples =
        scanLikeSamples(pieces * quorvex::cancellablePieceBytes(6));
    std::atomic<bool> cancel{false};
    std::size_t run = 0;
    // Stops the run after the first piece, as a signal arriving then would.
    const quorvex::ParallelFor firstThenStop = [&](std::size_t count,
                                                   const std::function<void(std::size_t)>& task) {
        EXPECT_EQ(count, pieces);
        for (std::size_t i = 0; i < count; ++i) {
            task(i);
            ++run;
            cancel.store(true);
        }
    };
    try {
        compressed(samples, 6, &cancel, firstThenStop);
        FAIL() << "compression went on after the cancel";
    } catch (const ConversionError& error) {
        EXPECT_TRUE(error.isCancellation()) << error.what();
    }
    EXPECT_EQ(run, 1u);
}

TEST(CancellableCompression, StreamingSinkStopsWithinASlice) {
    const std::atomic<bool> cancel{true};
    ChunkedBytes out;
    auto sink = quorvex::makeZlibSink(out, 6, &cancel);
    const std::vector<uint8_t> samples = scanLikeSamples(std::size_t{8} << 20);
    try {
        sink->append(samples.data(), samples.size());
        FAIL() << "the zlib sink compressed while cancelled";
    } catch (const ConversionError& error) {
        EXPECT_TRUE(error.isCancellation()) << error.what();
    }
    EXPECT_EQ(out.size(), 0u);
}

// The last resort ends the process, so each case runs in a child of its own.
// Where there is no fork (Windows), that child is a new process that starts
// the test over: it must work in the parent's folder, which it finds in the
// environment, rather than make one of its own.
class LastResortTest : public ::testing::Test {
  protected:
    static constexpr const char* kFolderVariable = "QUORVEX_LAST_RESORT_TEST_DIR";

    void SetUp() override {
        const char* inherited = std::getenv(kFolderVariable);
        if (inherited != nullptr && *inherited != '\0') {
            dir_ = inherited;
            return;
        }
        owned_.emplace();
        dir_ = owned_->path();
        support::setEnvironment(kFolderVariable, dir_.string());
    }
    void TearDown() override {
        if (owned_)
            support::unsetEnvironment(kFolderVariable);
    }

    std::optional<support::TempDir> owned_;
    fs::path dir_;
};

TEST_F(LastResortTest, RemovesWhatIsListedAndNothingElse) {
    const fs::path spool = dir_ / "spool";
    const fs::path kept = dir_ / "kept.pdf";
    const fs::path unlisted = dir_ / "unlisted.part";
    EXPECT_EXIT(
        {
            auto folder = TemporaryRegistration::begin(TemporaryKind::Folder, spool.string());
            fs::create_directory(spool);
            folder.created();
            auto file =
                TemporaryRegistration::begin(TemporaryKind::File, (spool / "out.pdf").string());
            std::ofstream(spool / "out.pdf") << "partial";
            file.created();
            auto done = TemporaryRegistration::begin(TemporaryKind::File, unlisted.string());
            std::ofstream(unlisted) << "renamed away, say";
            done.drop();
            std::ofstream(kept) << "someone else's";
            quorvex::StopSignals::endNow(7);
        },
        ::testing::ExitedWithCode(7), "");
    EXPECT_FALSE(fs::exists(spool));
    EXPECT_TRUE(fs::exists(kept));
    EXPECT_TRUE(fs::exists(unlisted));
}

TEST_F(LastResortTest, ListsNothingOnceItHasRun) {
    const fs::path late = dir_ / "late.part";
    EXPECT_EXIT(
        {
            quorvex::platform::removeListedTemporaries();
            const auto listed = TemporaryRegistration::begin(TemporaryKind::File, late.string());
            std::exit(listed ? 1 : 0);
        },
        ::testing::ExitedWithCode(0), "");
}

TEST_F(LastResortTest, WaitsForACreationUnderWay) {
    const fs::path made = dir_ / "made.part";
    EXPECT_EXIT(
        {
            auto listed = TemporaryRegistration::begin(TemporaryKind::File, made.string());
            std::thread lastResort([] { quorvex::platform::removeListedTemporaries(); });
            // Created after the last resort began: it must still go.
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            std::ofstream(made) << "x";
            listed.created();
            lastResort.join();
            std::exit(fs::exists(made) ? 1 : 0);
        },
        ::testing::ExitedWithCode(0), "");
}

}  // namespace
