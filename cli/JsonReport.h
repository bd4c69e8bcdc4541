// --report: one JSON object a line (JSON Lines) per input as it finishes,
// then a summary, for the schedulers and scripts that drive archive runs.
// Each line goes out in one write(), so a run killed at any moment leaves
// whole lines only; a report file is appended to, so a resumed run adds to
// the report of the run it resumes.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

#include "cli/BatchRunner.h"
#include "cli/InputCollector.h"

namespace quorvex::cli {

// The process's peak resident memory so far, in bytes.
uint64_t peakMemoryBytes();

// One input's line, without the newline. Names that are not valid UTF-8
// show their bad bytes as \xNN and add the exact bytes in hex
// ("input_hex"), as JSON can only carry UTF-8.
std::string formatReportLine(const JobResult& result, uint64_t peakMemory);

struct ReportSummary {
    BatchCounts counts;
    std::size_t files = 0;
    double seconds = 0;
    int exitStatus = 0;
};
std::string formatReportSummary(const ReportSummary& summary, uint64_t peakMemory);

class JsonReport : public BatchObserver {
  public:
    // Opens FILE for appending, or takes standard output for "-"; throws
    // std::runtime_error with the reason when it cannot.
    JsonReport(const std::string& target, int standardOutput);
    ~JsonReport() override;
    JsonReport(const JsonReport&) = delete;
    JsonReport& operator=(const JsonReport&) = delete;

    void jobStarted(std::size_t, const PlannedJob&) override {}
    void pageDone(std::size_t, uint32_t, uint32_t) override {}
    void jobFinished(std::size_t index, const JobResult& result) override;

    // A named path that could not be read, or a file that never started.
    void reportResult(const JobResult& result);
    void finish(const ReportSummary& summary);

    // Set once a line could not be written; the run then starts no further file.
    const std::atomic<bool>& writeFailed() const { return writeFailed_; }
    std::string writeFailure();

  private:
    void writeLine(std::string line);

    int fd_ = -1;
    bool ownsFd_ = false;
    std::string name_;
    std::mutex mutex_;
    std::atomic<bool> writeFailed_{false};
    std::string writeFailure_;
};

}  // namespace quorvex::cli
