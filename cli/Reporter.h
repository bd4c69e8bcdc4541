// Prints what happens to a batch: one line per file in input order (so a
// parallel run prints the same lines as a sequential one), the live progress
// line on a terminal, and the summary. Thread-safe: workers report into it.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdio>
#include <functional>
#include <map>
#include <mutex>

#include "cli/BatchRunner.h"
#include "cli/InputCollector.h"
#include "cli/Options.h"
#include "cli/ReportFormat.h"

namespace quorvex::cli {

struct ReporterSettings {
    Verbosity verbosity = Verbosity::Normal;
    bool showProgress = false;  // only when stderr is a terminal
    std::function<std::size_t()> terminalWidth = [] { return std::size_t{80}; };
};

class Reporter : public BatchObserver {
  public:
    Reporter(std::FILE* out, std::FILE* err, ReporterSettings settings, std::size_t totalFiles);

    // A named path that could not be read; counted as a failed file.
    void reportProblem(const InputProblem& problem);
    // A plain notice on stderr ("interrupted", a folder without TIFF files).
    void reportNotice(const std::string& text);

    void jobStarted(std::size_t index, const PlannedJob& job) override;
    void pageDone(std::size_t index, uint32_t pagesDone, uint32_t pageCount) override;
    void jobFinished(std::size_t index, const JobResult& result) override;

    // Prints lines still held back, erases the progress line and prints the
    // summary (not in quiet mode).
    void finish(const BatchCounts& counts, std::size_t totalFiles, double seconds);

    // Set once a line could not be written (a full disk, a closed pipe): the
    // run starts no further file, since nobody would learn how it went.
    const std::atomic<bool>& writeFailed() const { return writeFailed_; }
    // "cannot write standard output (No space left on device)"; empty until then.
    std::string writeFailure();

  private:
    struct RunningFile {
        std::string path;
        uint32_t pagesDone = 0;
        uint32_t pageCount = 0;
    };

    void printReadyResults();
    void printResult(const JobResult& result);
    void writeLine(std::FILE* stream, const std::string& text);
    void noteWriteFailure(std::FILE* stream, int error);
    void drawProgress(bool force);
    void eraseProgress();

    std::FILE* out_;
    std::FILE* err_;
    ReporterSettings settings_;
    std::mutex mutex_;
    std::map<std::size_t, JobResult> heldBack_;  // finished, waiting for earlier files
    std::size_t nextToPrint_ = 0;
    std::map<std::size_t, RunningFile> running_;
    std::size_t lastActive_ = 0;
    ProgressState progress_;
    bool progressShown_ = false;
    std::chrono::steady_clock::time_point lastDraw_{};
    std::atomic<bool> writeFailed_{false};
    std::string writeFailure_;
};

}  // namespace quorvex::cli
