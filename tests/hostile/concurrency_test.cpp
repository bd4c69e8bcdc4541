// Conversions running at once on several threads must not see each other:
// each thread's PDF is byte for byte the one a lone conversion writes. Run
// under ThreadSanitizer by scripts/sanitize.sh thread.
#include <gtest/gtest.h>

#include <algorithm>
#include <barrier>
#include <thread>

#include "engine/Conversion.h"
#include "hostile/IsolatedConversion.h"
#include "hostile/SampleCorpus.h"
#include "support/TestSupport.h"

namespace {

namespace fs = std::filesystem;

constexpr int kThreads = 8;
constexpr int kRounds = 3;

// Eight files that take different routes through the engine, the fax rewrite
// and its temporary file included.
const std::vector<std::string> kFiles = {
    "g4-multi-strip-3-pages.tif",
    "g3-2d-fillorder2.tif",
    "grey8-lzw.tif",
    "palette4-lzw.tif",
    "rgba-lzw.tif",
    "rgb-tiled-lzw.tif",
    "ycbcr-jpeg.tif",
    "mixed-4-pages.tif",
};

quorvex::ConversionOutcome convert(const fs::path& input, const fs::path& output) {
    quorvex::ConversionRequest request;
    request.inputPath = input.string();
    request.outputPath = output.string();
    request.info.creationDate = "D:20240101000000";
    return quorvex::convertTiff(request);
}

class ConcurrentConversions : public ::testing::Test {
  protected:
    void SetUp() override {
        const std::vector<hostile::CorpusFile> corpus = hostile::sampleCorpus();
        for (const std::string& name : kFiles) {
            const auto file = std::find_if(corpus.begin(), corpus.end(),
                                           [&](const auto& f) { return f.name == name; });
            ASSERT_NE(file, corpus.end()) << name;
            // One folder per file: each fax rewrite has its own folder too.
            const fs::path folder = work_ / ("in-" + std::to_string(inputs_.size()));
            fs::create_directories(folder);
            inputs_.push_back(hostile::writeCorpusFile(*file, folder));
        }
        for (std::size_t i = 0; i < inputs_.size(); ++i) {
            const fs::path output = work_ / ("alone-" + std::to_string(i) + ".pdf");
            const quorvex::ConversionOutcome outcome = convert(inputs_[i], output);
            ASSERT_TRUE(outcome.ok())
                << kFiles[i] << ": " << outcome.message << " " << outcome.detail;
            expected_.push_back(support::readFile(output));
        }
    }

    support::TempDir work_{"quorvex-concurrency"};
    std::vector<fs::path> inputs_;
    std::vector<std::string> expected_;
};

TEST_F(ConcurrentConversions, EightThreadsWriteWhatOneThreadWrites) {
    for (int round = 0; round < kRounds; ++round) {
        std::vector<quorvex::ConversionOutcome> outcomes(kThreads);
        std::barrier start(kThreads);
        std::vector<std::jthread> threads;
        for (int t = 0; t < kThreads; ++t) {
            threads.emplace_back([&, t] {
                const std::size_t file = static_cast<std::size_t>(t + round) % inputs_.size();
                start.arrive_and_wait();
                outcomes[t] =
                    convert(inputs_[file], work_ / ("thread-" + std::to_string(t) + ".pdf"));
            });
        }
        threads.clear();
        for (int t = 0; t < kThreads; ++t) {
            const std::size_t file = static_cast<std::size_t>(t + round) % inputs_.size();
            SCOPED_TRACE("round " + std::to_string(round) + ", thread " + std::to_string(t) + ", " +
                         kFiles[file]);
            ASSERT_TRUE(outcomes[t].ok()) << outcomes[t].message << " " << outcomes[t].detail;
            EXPECT_TRUE(support::readFile(work_ / ("thread-" + std::to_string(t) + ".pdf")) ==
                        expected_[file]);
        }
    }
    for (std::size_t i = 0; i < inputs_.size(); ++i) {
        EXPECT_EQ(hostile::namesIn(inputs_[i].parent_path()).size(), 1U)
            << "a temporary file was left beside " << inputs_[i];
    }
}

// The same fax converted by eight threads at once: each rewrite gets its own
// temporary file, and none of them outlives its conversion.
TEST_F(ConcurrentConversions, SameFaxOnEightThreadsAtOnce) {
    const fs::path& fax = inputs_[0];
    std::vector<quorvex::ConversionOutcome> outcomes(kThreads);
    std::barrier start(kThreads);
    {
        std::vector<std::jthread> threads;
        for (int t = 0; t < kThreads; ++t) {
            threads.emplace_back([&, t] {
                start.arrive_and_wait();
                outcomes[t] = convert(fax, work_ / ("same-" + std::to_string(t) + ".pdf"));
            });
        }
    }
    for (int t = 0; t < kThreads; ++t) {
        ASSERT_TRUE(outcomes[t].ok())
            << "thread " << t << ": " << outcomes[t].message << " " << outcomes[t].detail;
        EXPECT_TRUE(support::readFile(work_ / ("same-" + std::to_string(t) + ".pdf")) ==
                    expected_[0])
            << "thread " << t;
    }
    EXPECT_EQ(hostile::namesIn(fax.parent_path()), std::set<std::string>{fax.filename().string()});
}

}  // namespace
