// Converts a planned batch on a small pool of threads. Each worker takes the
// next unstarted file from a shared index, so files start in input order and
// a cancelled batch leaves a tail of files that never started.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
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
    std::size_t mergedCount = 0;  // --merge: inputs whose pages followed input's
    std::string output;           // the PDF written, or the one that would have been
    // Why the command line skipped or refused it; for a failed conversion,
    // the failure kind's text.
    std::string reason;
    // What the conversion gave: pages, size, damage, notes, libtiff's text.
    // A failure found before the engine ran (a folder that cannot be made, a
    // converter that threw) is written here too. failure None on a failed
    // job: refused by the command line itself, `reason` says why.
    ConversionOutcome outcome;
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
    // Handed to every conversion as it is, but for the threads each file gets.
    ConversionOptions conversion;
    DocumentInfo info = DocumentInfo::applicationDefaults();
    bool titleGiven = false;  // otherwise each job's own title replaces info.title
    // The TIFF read from standard input, for the job whose input is "-".
    std::shared_ptr<const std::vector<uint8_t>> standardInput;
    // Where a job whose output is "-" sends its finished PDF.
    int standardOutputFd = 1;
    const std::atomic<bool>* cancel = nullptr;  // stops the batch when set
    // When it answers true, no further file starts and the running ones
    // finish (the lines about them can no longer be printed, for one).
    std::function<bool()> stopStarting;
};

using Converter = std::function<ConversionOutcome(const ConversionRequest&)>;

struct BatchCounts {
    std::size_t converted = 0;
    std::size_t damaged = 0;  // converted, with parts of the TIFF unreadable
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
    ConversionRequest requestFor(std::size_t index, const PlannedJob& job) const;
    ConversionOutcome convertToStandardOutput(ConversionRequest& request) const;
    bool cancelled() const;
    bool stopping() const;

    BatchSettings settings_;
    Converter converter_;
    BatchObserver& observer_;
    unsigned threadsPerFile_ = 1;
    uint64_t memoryPerFile_ = kDefaultMemoryBudget;  // --memory, shared by the files at once
};

BatchCounts countResults(const std::vector<std::optional<JobResult>>& results);

}  // namespace quorvex::cli
