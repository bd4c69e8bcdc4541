// Converts a planned batch on a small pool of threads. Each worker takes the
// next unstarted file from a shared index, so files start in input order and
// a cancelled batch leaves a tail of files that never started.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "cli/OutputPlanner.h"
#include "engine/Conversion.h"

namespace quorvex::cli {

enum class JobStatus { Converted, Failed, Skipped, Cancelled };

struct JobResult {
    JobStatus status = JobStatus::Failed;
    std::string input;
    std::string output;      // the PDF written, or the one that would have been
    std::string reason;      // why it failed or was skipped
    std::string detail;      // what exactly went wrong, when the engine knows
    std::string diagnostic;  // libtiff's own text for a failure, if any
    uint32_t pageCount = 0;
    uint64_t bytesWritten = 0;
    double seconds = 0.0;
};

// Told about each file as workers move through the batch; called from the
// worker threads, so implementations must be thread-safe.
class BatchObserver {
  public:
    virtual ~BatchObserver() = default;
    virtual void jobStarted(std::size_t index, const PlannedJob& job) = 0;
    virtual void pageDone(std::size_t index, uint32_t pagesDone, uint32_t pageCount) = 0;
    virtual void jobFinished(std::size_t index, const JobResult& result) = 0;
};

struct BatchSettings {
    unsigned workers = 1;
    // Processors the whole batch may use; files converted at once share them
    // (a lone big file compresses its pages on all of them).
    unsigned processors = 1;
    bool noClobber = false;
    std::optional<int> flateLevel;  // see ConversionRequest
    bool compact = false;
    DocumentInfo info = DocumentInfo::applicationDefaults();
    const std::atomic<bool>* cancel = nullptr;  // stops the batch when set
};

using Converter = std::function<ConversionOutcome(const ConversionRequest&)>;

struct BatchCounts {
    std::size_t converted = 0;
    std::size_t failed = 0;
    std::size_t skipped = 0;
    std::size_t cancelled = 0;   // stopped part-way by the cancel flag
    std::size_t notStarted = 0;  // never begun because the batch was cancelled
};

class BatchRunner {
  public:
    BatchRunner(BatchSettings settings, Converter converter, BatchObserver& observer);

    // One entry per job, in job order; empty for jobs that never started.
    std::vector<std::optional<JobResult>> run(const std::vector<PlannedJob>& jobs);

  private:
    JobResult runJob(std::size_t index, const PlannedJob& job);
    JobResult convert(std::size_t index, const PlannedJob& job);
    bool cancelled() const;

    BatchSettings settings_;
    Converter converter_;
    BatchObserver& observer_;
    unsigned threadsPerFile_ = 1;
};

BatchCounts countResults(const std::vector<std::optional<JobResult>>& results);

}  // namespace quorvex::cli
