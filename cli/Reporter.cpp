#include "cli/Reporter.h"

#include <cerrno>
#include <cstring>

namespace quorvex::cli {
namespace {

// Carriage return, then erase to the end of the line.
constexpr const char* kEraseLine = "\r\033[K";
// Page updates can arrive thousands of times a second; the eye needs far fewer.
constexpr auto kRedrawInterval = std::chrono::milliseconds(100);

}  // namespace

Reporter::Reporter(std::FILE* out, std::FILE* err, ReporterSettings settings,
                   std::size_t totalFiles)
    : out_(out), err_(err), settings_(std::move(settings)) {
    progress_.totalFiles = totalFiles;
}

void Reporter::reportProblem(const InputProblem& problem) {
    std::lock_guard lock(mutex_);
    writeLine(err_, printable(problem.path) + ": " + problem.reason);
    ++progress_.filesDone;
}

void Reporter::reportNotice(const std::string& text) {
    std::lock_guard lock(mutex_);
    writeLine(err_, text);
}

void Reporter::jobStarted(std::size_t index, const PlannedJob& job) {
    std::lock_guard lock(mutex_);
    running_[index] = RunningFile{job.input, 0, 0};
    lastActive_ = index;
    drawProgress(true);
}

void Reporter::pageDone(std::size_t index, uint32_t pagesDone, uint32_t pageCount) {
    std::lock_guard lock(mutex_);
    const auto it = running_.find(index);
    if (it == running_.end())
        return;
    it->second.pagesDone = pagesDone;
    it->second.pageCount = pageCount;
    lastActive_ = index;
    drawProgress(false);
}

void Reporter::jobFinished(std::size_t index, const JobResult& result) {
    std::lock_guard lock(mutex_);
    running_.erase(index);
    ++progress_.filesDone;
    heldBack_.emplace(index, result);
    printReadyResults();
    drawProgress(true);
}

void Reporter::finish(const BatchCounts& counts, std::size_t totalFiles, double seconds) {
    std::lock_guard lock(mutex_);
    // Files that never started leave gaps; print what finished, in order.
    for (const auto& [index, result] : heldBack_)
        printResult(result);
    heldBack_.clear();
    eraseProgress();
    if (settings_.verbosity != Verbosity::Quiet) {
        writeLine(out_, formatSummary(counts, totalFiles, seconds));
    }
}

void Reporter::printReadyResults() {
    for (auto it = heldBack_.find(nextToPrint_); it != heldBack_.end();
         it = heldBack_.find(nextToPrint_)) {
        printResult(it->second);
        heldBack_.erase(it);
        ++nextToPrint_;
    }
}

void Reporter::printResult(const JobResult& result) {
    const bool isError = isErrorResult(result);
    if (settings_.verbosity != Verbosity::Quiet || isError)
        writeLine(isError ? err_ : out_, formatResult(result, settings_.verbosity));
    if (const std::string damage = formatDamage(result); !damage.empty())
        writeLine(err_, damage);
}

void Reporter::writeLine(std::FILE* stream, const std::string& text) {
    eraseProgress();
    errno = 0;
    const bool written = std::fputs(text.c_str(), stream) >= 0 && std::fputc('\n', stream) != EOF &&
                         std::fflush(stream) == 0;
    if (!written)
        noteWriteFailure(stream, errno);
}

void Reporter::noteWriteFailure(std::FILE* stream, int error) {
    std::clearerr(stream);
    if (writeFailed_.exchange(true))
        return;
    const char* name = stream == err_ ? "standard error" : "standard output";
    writeFailure_ = std::string("cannot write ") + name + " (" +
                    (error != 0 ? std::strerror(error) : "write failed") + ")";
}

std::string Reporter::writeFailure() {
    std::lock_guard lock(mutex_);
    return writeFailure_;
}

void Reporter::drawProgress(bool force) {
    if (!settings_.showProgress || settings_.verbosity == Verbosity::Quiet)
        return;
    const auto now = std::chrono::steady_clock::now();
    if (!force && progressShown_ && now - lastDraw_ < kRedrawInterval)
        return;
    lastDraw_ = now;

    progress_.running = running_.size();
    const auto active = running_.find(lastActive_);
    const RunningFile* current = active != running_.end()
                                     ? &active->second
                                     : (running_.empty() ? nullptr : &running_.begin()->second);
    progress_.currentFile = current ? current->path : std::string();
    progress_.pagesDone = current ? current->pagesDone : 0;
    progress_.pageCount = current ? current->pageCount : 0;

    const std::size_t width = settings_.terminalWidth();
    // One column spare: writing the last column makes some terminals wrap.
    const std::string line = formatProgress(progress_, width > 1 ? width - 1 : width);
    std::fputs(kEraseLine, err_);
    std::fputs(line.c_str(), err_);
    std::fflush(err_);
    progressShown_ = true;
}

void Reporter::eraseProgress() {
    if (!progressShown_)
        return;
    std::fputs(kEraseLine, err_);
    std::fflush(err_);
    progressShown_ = false;
}

}  // namespace quorvex::cli
