#include "cli/BatchRunner.h"

#include <algorithm>
#include <chrono>
#include <exception>
#include <filesystem>
#include <thread>

#include "cli/InputCollector.h"
#include "cli/StandardStreams.h"
#include "engine/platform/Platform.h"

namespace quorvex::cli {
namespace {

double secondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

bool outputExists(const std::string& output) {
    std::error_code ignored;
    return !output.empty() && std::filesystem::exists(output, ignored);
}

// Makes the folder a mirrored PDF goes into; empty or the reason it failed.
std::string makeOutputFolder(const std::string& output) {
    const std::filesystem::path folder = platform::pathFromUtf8(output).parent_path();
    std::error_code error;
    if (folder.empty() || std::filesystem::is_directory(folder, error))
        return {};
    std::filesystem::create_directories(folder, error);
    if (error)
        return "cannot create the folder " + platform::utf8Of(folder) + " (" + error.message() +
               ")";
    return {};
}

}  // namespace

BatchRunner::BatchRunner(BatchSettings settings, Converter converter, BatchObserver& observer)
    : settings_(std::move(settings)), converter_(std::move(converter)), observer_(observer) {}

bool BatchRunner::cancelled() const {
    return settings_.cancel != nullptr && settings_.cancel->load();
}

bool BatchRunner::stopping() const {
    return cancelled() || (settings_.stopStarting && settings_.stopStarting());
}

std::vector<std::optional<JobResult>> BatchRunner::run(const std::vector<PlannedJob>& jobs) {
    std::vector<std::optional<JobResult>> results(jobs.size());
    std::atomic<std::size_t> nextJob{0};
    auto work = [&] {
        while (!stopping()) {
            const std::size_t index = nextJob.fetch_add(1);
            if (index >= jobs.size())
                return;
            observer_.jobStarted(index, jobs[index]);
            results[index] = runJob(index, jobs[index]);
            observer_.jobFinished(index, *results[index]);
        }
    };
    const std::size_t workerCount =
        std::clamp<std::size_t>(settings_.workers, 1, std::max<std::size_t>(jobs.size(), 1));
    threadsPerFile_ = static_cast<unsigned>(
        std::max<std::size_t>(1, std::max(settings_.processors, 1U) / workerCount));
    memoryPerFile_ = settings_.conversion.memoryBudget / workerCount;
    {
        std::vector<std::jthread> workers;
        for (std::size_t i = 1; i < workerCount; ++i)
            workers.emplace_back(work);
        work();  // the calling thread is one of the workers
    }
    return results;
}

JobResult BatchRunner::runJob(std::size_t index, const PlannedJob& job) {
    JobResult result;
    result.input = job.input;
    result.output = job.output;
    if (!job.refusal.empty()) {
        result.reason = job.refusal;
        return result;
    }
    if (!job.skipReason.empty()) {
        result.status = JobStatus::Skipped;
        result.reason = job.skipReason;
        return result;
    }
    if (settings_.noClobber && job.output != kStandardStream && outputExists(job.output)) {
        result.status = JobStatus::Skipped;
        result.reason = "skipped, " + job.output + " already exists";
        return result;
    }
    if (job.createFolder) {
        if (std::string problem = makeOutputFolder(job.output); !problem.empty()) {
            result.outcome.failure = FailureKind::OutputFailed;
            result.outcome.detail = std::move(problem);
            return result;
        }
    }
    try {
        return convert(index, job);
    } catch (const std::exception& error) {
        result.outcome.failure = FailureKind::Internal;
        result.outcome.detail = error.what();
        return result;
    }
}

ConversionRequest BatchRunner::requestFor(std::size_t index, const PlannedJob& job) const {
    ConversionRequest request;
    request.inputPath = job.input;
    request.mergedInputs = job.mergedInputs;
    if (job.input == kStandardStream)
        request.inputBytes = settings_.standardInput;
    request.outputPath = job.output;
    request.info = settings_.info;
    if (!settings_.titleGiven)
        request.info.title = job.title;
    request.cancel = settings_.cancel;
    request.options = settings_.conversion;
    request.options.threads = threadsPerFile_;
    request.options.memoryBudget = memoryPerFile_;
    request.onPageDone = [this, index](uint32_t done, uint32_t count) {
        observer_.pageDone(index, done, count);
    };
    return request;
}

// The PDF is finished in a private folder first, so standard output gets
// nothing at all when the conversion fails.
ConversionOutcome BatchRunner::convertToStandardOutput(ConversionRequest& request) const {
    const TemporaryFolder folder;
    request.outputPath = platform::utf8Of(folder.file());
    ConversionOutcome outcome = converter_(request);
    outcome.outputPath = kStandardStream;
    if (!outcome.ok())
        return outcome;
    const std::string error =
        copyFileToStream(folder.file(), settings_.standardOutputFd, settings_.cancel);
    if (!error.empty()) {
        outcome.result = 0;
        outcome.failure = cancelled() ? FailureKind::Cancelled : FailureKind::OutputFailed;
        outcome.detail = "standard output: " + error;
    }
    return outcome;
}

JobResult BatchRunner::convert(std::size_t index, const PlannedJob& job) {
    ConversionRequest request = requestFor(index, job);
    const auto start = std::chrono::steady_clock::now();
    ConversionOutcome outcome =
        job.output == kStandardStream ? convertToStandardOutput(request) : converter_(request);

    JobResult result;
    result.seconds = secondsSince(start);
    result.input = job.input;
    result.mergedCount = job.mergedInputs.size();
    result.output = outcome.outputPath.empty() ? job.output : outcome.outputPath;
    if (outcome.ok()) {
        result.status = JobStatus::Converted;
    } else {
        result.status = outcome.cancelled() ? JobStatus::Cancelled : JobStatus::Failed;
        result.reason = failureKindText(outcome.failure);
    }
    result.outcome = std::move(outcome);
    return result;
}

BatchCounts countResults(const std::vector<std::optional<JobResult>>& results) {
    BatchCounts counts;
    for (const std::optional<JobResult>& result : results) {
        if (!result) {
            ++counts.notStarted;
            continue;
        }
        switch (result->status) {
            case JobStatus::Converted:
                ++counts.converted;
                counts.damaged += result->outcome.damaged() ? 1 : 0;
                break;
            case JobStatus::Failed:
                ++counts.failed;
                break;
            case JobStatus::Skipped:
                ++counts.skipped;
                break;
            case JobStatus::Cancelled:
                ++counts.cancelled;
                break;
        }
    }
    return counts;
}

}  // namespace quorvex::cli
