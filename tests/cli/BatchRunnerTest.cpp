#include "cli/BatchRunner.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "support/TestSupport.h"

namespace quorvex::cli {
namespace {

// Records what the runner reports, from any thread.
class RecordingObserver : public BatchObserver {
  public:
    void jobStarted(std::size_t index, const PlannedJob&) override {
        std::lock_guard lock(mutex_);
        started.push_back(index);
    }
    void pageDone(std::size_t index, uint32_t done, uint32_t count) override {
        std::lock_guard lock(mutex_);
        pages.push_back(std::to_string(index) + ":" + std::to_string(done) + "/" +
                        std::to_string(count));
    }
    void jobFinished(std::size_t index, const JobResult&) override {
        std::lock_guard lock(mutex_);
        finished.push_back(index);
    }

    std::vector<std::size_t> started;
    std::vector<std::size_t> finished;
    std::vector<std::string> pages;

  private:
    std::mutex mutex_;
};

ConversionOutcome convertedOutcome(const ConversionRequest& request, uint32_t pages) {
    ConversionOutcome outcome;
    outcome.result = 1;
    outcome.outputPath = request.outputPath;
    outcome.pageCount = pages;
    outcome.bytesWritten = 1000 + pages;
    return outcome;
}

PlannedJob plannedJob(const std::string& input, const std::string& output) {
    PlannedJob job;
    job.input = input;
    job.output = output;
    job.title = "title of " + input;
    return job;
}

std::vector<PlannedJob> plannedJobs(std::size_t count) {
    std::vector<PlannedJob> jobs;
    for (std::size_t i = 0; i < count; ++i) {
        const std::string stem = "in" + std::to_string(i);
        jobs.push_back(plannedJob(stem + ".tif", stem + ".pdf"));
    }
    return jobs;
}

TEST(BatchRunnerTest, ResultsComeBackInJobOrderWithTheEnginesFigures) {
    RecordingObserver observer;
    BatchSettings settings;
    settings.workers = 3;
    settings.info.title = "Custom title";
    settings.titleGiven = true;
    settings.conversion.flateLevel = 9;
    settings.conversion.compact = true;
    std::mutex seenMutex;
    std::set<std::string> titles;
    BatchRunner runner(
        settings,
        [&](const ConversionRequest& request) {
            EXPECT_EQ(request.options.flateLevel, 9);
            EXPECT_TRUE(request.options.compact);
            {
                std::lock_guard lock(seenMutex);
                titles.insert(request.info.title);
            }
            // Later files finish first, so completion order differs from job order.
            const int index = std::stoi(request.inputPath.substr(2));
            std::this_thread::sleep_for(std::chrono::milliseconds(5 * (8 - index)));
            if (index == 5) {
                ConversionOutcome failed;
                failed.result = -1;
                failed.failure = FailureKind::InputUnreadable;
                failed.diagnostic = "Not a TIFF file";
                return failed;
            }
            request.onPageDone(1, 2);
            request.onPageDone(2, 2);
            return convertedOutcome(request, 2);
        },
        observer);

    const auto results = runner.run(plannedJobs(8));

    ASSERT_EQ(results.size(), 8u);
    for (std::size_t i = 0; i < results.size(); ++i) {
        ASSERT_TRUE(results[i]) << i;
        EXPECT_EQ(results[i]->input, "in" + std::to_string(i) + ".tif");
        EXPECT_EQ(results[i]->output, "in" + std::to_string(i) + ".pdf");
    }
    EXPECT_EQ(results[0]->status, JobStatus::Converted);
    EXPECT_EQ(results[0]->outcome.pageCount, 2u);
    EXPECT_EQ(results[0]->outcome.bytesWritten, 1002u);
    EXPECT_EQ(results[5]->status, JobStatus::Failed);
    EXPECT_EQ(results[5]->outcome.failure, FailureKind::InputUnreadable);
    EXPECT_EQ(results[5]->outcome.diagnostic, "Not a TIFF file");
    EXPECT_EQ(titles, std::set<std::string>{"Custom title"});
    EXPECT_EQ(observer.started.size(), 8u);
    EXPECT_EQ(observer.finished.size(), 8u);
    EXPECT_EQ(observer.pages.size(), 14u);

    const BatchCounts counts = countResults(results);
    EXPECT_EQ(counts.converted, 7u);
    EXPECT_EQ(counts.failed, 1u);
}

TEST(BatchRunnerTest, WorkersConvertAtTheSameTime) {
    RecordingObserver observer;
    BatchSettings settings;
    settings.workers = 2;
    std::mutex mutex;
    std::condition_variable bothRunning;
    int running = 0;
    bool overlapped = true;
    BatchRunner runner(
        settings,
        [&](const ConversionRequest& request) {
            std::unique_lock lock(mutex);
            ++running;
            bothRunning.notify_all();
            // Each of the first two files waits for the other to have started.
            if (!bothRunning.wait_for(lock, std::chrono::seconds(10),
                                      [&] { return running >= 2; })) {
                overlapped = false;
            }
            return convertedOutcome(request, 1);
        },
        observer);
    const auto results = runner.run(plannedJobs(2));
    EXPECT_TRUE(overlapped);
    EXPECT_EQ(countResults(results).converted, 2u);
}

TEST(BatchRunnerTest, NoClobberSkipsExistingPdfsWithoutCallingTheEngine) {
    support::TempDir dir;
    std::vector<PlannedJob> jobs = {
        plannedJob((dir / "a.tif").string(), (dir / "a.pdf").string()),
        plannedJob((dir / "b.tif").string(), (dir / "b.pdf").string()),
    };
    {
        std::FILE* existing = std::fopen(jobs[0].output.c_str(), "w");
        ASSERT_NE(existing, nullptr);
        std::fclose(existing);
    }
    RecordingObserver observer;
    BatchSettings settings;
    settings.noClobber = true;
    std::vector<std::string> converted;
    BatchRunner runner(
        settings,
        [&](const ConversionRequest& request) {
            converted.push_back(request.inputPath);
            return convertedOutcome(request, 1);
        },
        observer);
    const auto results = runner.run(jobs);
    EXPECT_EQ(converted, std::vector<std::string>{jobs[1].input});
    EXPECT_EQ(results[0]->status, JobStatus::Skipped);
    EXPECT_EQ(results[0]->reason, "skipped, " + jobs[0].output + " already exists");
    EXPECT_EQ(countResults(results).skipped, 1u);
}

TEST(BatchRunnerTest, RefusedJobsAndThrowingEnginesFailOnlyTheirFile) {
    std::vector<PlannedJob> jobs = plannedJobs(3);
    jobs[0].refusal = "cannot derive an output file name from this name";
    RecordingObserver observer;
    BatchRunner runner(
        BatchSettings{},
        [&](const ConversionRequest& request) -> ConversionOutcome {
            if (request.inputPath == "in1.tif")
                throw std::runtime_error("out of memory");
            return convertedOutcome(request, 1);
        },
        observer);
    const auto results = runner.run(jobs);
    EXPECT_EQ(results[0]->status, JobStatus::Failed);
    EXPECT_EQ(results[0]->reason, jobs[0].refusal);
    EXPECT_EQ(results[1]->status, JobStatus::Failed);
    EXPECT_EQ(results[1]->outcome.failure, FailureKind::Internal);
    EXPECT_EQ(results[1]->outcome.detail, "out of memory");
    EXPECT_EQ(results[2]->status, JobStatus::Converted);
}

TEST(BatchRunnerTest, CancelStopsTheRunningFileAndStartsNoOther) {
    std::atomic<bool> cancel{false};
    RecordingObserver observer;
    BatchSettings settings;
    settings.workers = 1;
    settings.cancel = &cancel;
    BatchRunner runner(
        settings,
        [&](const ConversionRequest& request) {
            EXPECT_EQ(request.cancel, &cancel);
            if (request.inputPath != "in1.tif")
                return convertedOutcome(request, 1);
            cancel = true;  // as a signal arriving mid-file would
            ConversionOutcome stopped;
            stopped.result = 0;
            stopped.failure = FailureKind::Cancelled;
            return stopped;
        },
        observer);
    const auto results = runner.run(plannedJobs(4));
    EXPECT_EQ(results[0]->status, JobStatus::Converted);
    EXPECT_EQ(results[1]->status, JobStatus::Cancelled);
    EXPECT_FALSE(results[2]);
    EXPECT_FALSE(results[3]);
    const BatchCounts counts = countResults(results);
    EXPECT_EQ(counts.converted, 1u);
    EXPECT_EQ(counts.failed, 0u);
    EXPECT_EQ(counts.cancelled, 1u);
    EXPECT_EQ(counts.notStarted, 2u);
    EXPECT_EQ(observer.started, (std::vector<std::size_t>{0, 1}));
}

TEST(BatchRunnerTest, RequestsCarryTheRunsSettingsAndEachJobsTitle) {
    RecordingObserver observer;
    BatchSettings settings;
    settings.conversion.strict = true;
    settings.conversion.defaultDpi = 300;
    settings.conversion.forcedDpi = 150;
    std::vector<ConversionRequest> requests;
    PlannedJob merged = plannedJob("a.tif", "all.pdf");
    merged.mergedInputs = {"b.tif", "c.tif"};
    BatchRunner(
        settings,
        [&](const ConversionRequest& request) {
            requests.push_back(request);
            return convertedOutcome(request, 1);
        },
        observer)
        .run({merged});
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_TRUE(requests[0].options.strict);
    EXPECT_EQ(requests[0].options.defaultDpi, 300);
    EXPECT_EQ(requests[0].options.forcedDpi, 150);
    EXPECT_EQ(requests[0].mergedInputs, merged.mergedInputs);
    EXPECT_EQ(requests[0].info.title, "title of a.tif");
}

// Damage stays with a converted file; the failure's kind comes from the engine.
TEST(BatchRunnerTest, DamageAndTheFailureKindComeBackFromTheOutcome) {
    ConversionOutcome damaged;
    damaged.result = 1;
    damaged.warnings = {"page 1, rows 54-600 unreadable (LZW: Using code not yet in table)"};
    ConversionOutcome cannotWrite;
    cannotWrite.failure = FailureKind::OutputFailed;
    for (const ConversionOutcome& outcome : {damaged, cannotWrite}) {
        RecordingObserver observer;
        BatchRunner runner(
            BatchSettings{}, [&](const ConversionRequest&) { return outcome; }, observer);
        const auto results = runner.run(plannedJobs(1));
        EXPECT_EQ(results[0]->outcome.failure, outcome.failure);
        EXPECT_EQ(results[0]->outcome.warnings, outcome.warnings);
        EXPECT_EQ(countResults(results).damaged, outcome.warnings.size());
    }
}

}  // namespace
}  // namespace quorvex::cli
