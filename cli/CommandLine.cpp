#include "cli/CommandLine.h"

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <memory>
#include <optional>
#include <set>
#include <system_error>

#include "cli/ExitCodes.h"
#include "cli/FailureKind.h"
#include "cli/FileList.h"
#include "cli/HelpText.h"
#include "cli/InputCollector.h"
#include "cli/JsonReport.h"
#include "cli/ObserverFanOut.h"
#include "cli/Options.h"
#include "cli/OutputPlanner.h"
#include "cli/ReportFormat.h"
#include "cli/Reporter.h"
#include "cli/StaleParts.h"
#include "cli/StandardStreams.h"
#include "engine/platform/Platform.h"

namespace quorvex::cli {
namespace {

int usageError(const CommandLineEnvironment& env, const std::string& message) {
    std::fprintf(env.err, "%s: %s (try '%s --help')\n", kProgramName, printable(message).c_str(),
                 kProgramName);
    return kExitUsage;
}

std::string noInputMessage(const CollectedInputs& inputs) {
    if (inputs.emptyFolders.size() == 1) {
        return "no TIFF files found in '" + printable(inputs.emptyFolders.front()) + "'";
    }
    return "no TIFF files found in the folders given";
}

bool createOutputFolder(const CommandLineEnvironment& env, const std::string& folder) {
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    if (error || !std::filesystem::is_directory(folder)) {
        const std::string reason = error ? error.message() : "not a folder";
        std::fprintf(env.err, "%s: cannot create output folder '%s' (%s)\n", kProgramName,
                     printable(folder).c_str(), reason.c_str());
        return false;
    }
    return true;
}

bool cancelRequested(const CommandLineEnvironment& env) {
    return env.cancel != nullptr && env.cancel->load();
}

ReporterSettings reporterSettingsFor(const CliOptions& options, const CommandLineEnvironment& env) {
    ReporterSettings settings;
    settings.verbosity = options.verbosity;
    settings.showProgress = env.stderrIsTerminal;
    settings.terminalWidth = env.terminalWidth;
    return settings;
}

// -o - and the names of standard output itself: the PDF goes there, the
// lines must not.
bool writesStandardOutput(const CliOptions& options) {
    for (const char* name : {kStandardStream, "/dev/stdout", "/dev/fd/1", "/proc/self/fd/1"}) {
        if (options.outputFile == std::string(name))
            return true;
    }
    return false;
}

BatchSettings batchSettingsFor(const CliOptions& options, const CommandLineEnvironment& env) {
    BatchSettings settings;
    settings.workers = effectiveJobCount(options, env.hardwareThreads);
    // -j is the batch's processor budget: files at once, and a file alone
    // (or with fewer files than -j) compresses its pages on the rest.
    settings.processors = settings.workers;
    settings.noClobber = options.noClobber;
    settings.conversion = options.conversion;
    settings.info = options.info;
    settings.titleGiven = options.titleGiven;
    settings.standardOutputFd = fileno(env.out);
    settings.cancel = env.cancel;
    return settings;
}

// The problem as a failed file, for the report.
JobResult failedInput(const InputProblem& problem) {
    JobResult result;
    result.input = problem.path;
    result.outcome.failure = FailureKind::InputUnreadable;
    result.outcome.detail = problem.reason;
    return result;
}

// What the folder scan found besides files: unreadable folders and
// dangling links count as failed files; folders without TIFF files are only
// mentioned.
void reportCollection(const CollectedInputs& inputs, const CliOptions& options, Reporter& reporter,
                      JsonReport* report) {
    for (const InputProblem& problem : inputs.problems) {
        reporter.reportProblem(problem);
        if (report != nullptr)
            report->reportResult(failedInput(problem));
    }
    if (options.verbosity == Verbosity::Quiet) {
        return;
    }
    for (const std::string& folder : inputs.emptyFolders) {
        reporter.reportNotice(std::string(kProgramName) + ": no TIFF files in '" +
                              printable(folder) + "'");
    }
}

// The folders the PDFs go to, each once.
std::vector<std::string> outputFolders(const std::vector<PlannedJob>& jobs) {
    std::set<std::string> folders;
    for (const PlannedJob& job : jobs) {
        if (job.output == kStandardStream)
            continue;
        const std::filesystem::path folder = platform::pathFromUtf8(job.output).parent_path();
        folders.insert(folder.empty() ? "." : platform::utf8Of(folder));
    }
    return {folders.begin(), folders.end()};
}

void removeLeftovers(const std::vector<PlannedJob>& jobs, const CliOptions& options,
                     Reporter& reporter) {
    for (const std::string& removed : removeStaleParts(outputFolders(jobs))) {
        if (options.verbosity != Verbosity::Quiet)
            reporter.reportNotice(std::string(kProgramName) + ": removed '" + printable(removed) +
                                  "', left by a conversion that was killed");
    }
}

// Files that never started (after a signal or a failed write) still get
// their line in the report, so every input has one.
void reportNotStarted(const std::vector<PlannedJob>& jobs,
                      const std::vector<std::optional<JobResult>>& results, JsonReport& report) {
    for (std::size_t i = 0; i < jobs.size(); ++i) {
        if (results[i])
            continue;
        JobResult result;
        result.status = JobStatus::Cancelled;
        result.input = jobs[i].input;
        result.mergedCount = jobs[i].mergedInputs.size();
        result.output = jobs[i].output;
        result.reason = "not started: the run stopped first";
        report.reportResult(result);
    }
}

bool anyWorthRetrying(const std::vector<std::optional<JobResult>>& results) {
    return std::any_of(results.begin(), results.end(), [](const std::optional<JobResult>& result) {
        return result && isWorthRetrying(*result);
    });
}

// The first failed write to the terminal streams or the report, if any.
std::string writeFailureOf(Reporter& reporter, JsonReport* report) {
    if (reporter.writeFailed())
        return reporter.writeFailure();
    if (report != nullptr && report->writeFailed())
        return report->writeFailure();
    return {};
}

// 130/143/129 for a signal, then 1 for a failed write, then 4 when a
// failure may pass on another try (it wins over 1, so schedulers retry;
// the retry fails the rest again), 1, 3 and 0.
int exitStatusFor(const BatchCounts& counts, bool retry, const std::string& writeFailure,
                  const CommandLineEnvironment& env) {
    if (cancelRequested(env))
        return env.cancelExitStatus();
    if (!writeFailure.empty())
        return kExitFailure;
    if (counts.failed > 0)
        return retry ? kExitRetry : kExitFailure;
    return counts.damaged > 0 ? kExitDamaged : kExitSuccess;
}

// Where the human lines go: stderr when stdout carries the PDF or the report.
std::FILE* humanLinesStream(const CliOptions& options, const CommandLineEnvironment& env) {
    const bool stdoutTaken =
        writesStandardOutput(options) || options.reportFile == std::string(kStandardStream);
    return stdoutTaken ? env.err : env.out;
}

int runBatch(const CliOptions& options, const CollectedInputs& inputs,
             const std::vector<PlannedJob>& jobs, const CommandLineEnvironment& env,
             std::shared_ptr<const std::vector<uint8_t>> standardInput, JsonReport* report) {
    const auto start = std::chrono::steady_clock::now();
    const std::size_t totalFiles = jobs.size() + inputs.problems.size();
    std::fflush(env.out);
    Reporter reporter(humanLinesStream(options, env), env.err, reporterSettingsFor(options, env),
                      totalFiles);
    reportCollection(inputs, options, reporter, report);
    removeLeftovers(jobs, options, reporter);

    BatchSettings settings = batchSettingsFor(options, env);
    settings.standardInput = std::move(standardInput);
    settings.stopStarting = [&] {
        return reporter.writeFailed() || (report != nullptr && report->writeFailed());
    };
    ObserverFanOut observers({&reporter, report});
    BatchRunner runner(std::move(settings), env.converter, observers);
    const std::vector<std::optional<JobResult>> results = runner.run(jobs);
    BatchCounts counts = countResults(results);
    counts.failed += inputs.problems.size();
    if (report != nullptr)
        reportNotStarted(jobs, results, *report);

    if (cancelRequested(env)) {
        reporter.reportNotice(std::string(kProgramName) + ": interrupted, " +
                              std::to_string(counts.cancelled + counts.notStarted) +
                              " file(s) not converted");
    }
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
    reporter.finish(counts, totalFiles, elapsed.count());
    const int status =
        exitStatusFor(counts, anyWorthRetrying(results), writeFailureOf(reporter, report), env);
    if (report != nullptr)
        report->finish({counts, totalFiles, elapsed.count(), status});
    // Read again: the summaries may have been the writes that failed.
    if (const std::string failure = writeFailureOf(reporter, report); !failure.empty()) {
        std::fprintf(env.err, "%s: %s\n", kProgramName, failure.c_str());
        return cancelRequested(env) ? env.cancelExitStatus() : kExitFailure;
    }
    return status;
}

// Help and version text that could not be written is a failed run.
int printText(std::FILE* stream, const std::string& text) {
    const bool written = std::fputs(text.c_str(), stream) >= 0 && std::fflush(stream) == 0;
    return written ? kExitSuccess : kExitFailure;
}

// The whole of standard input, read before the run starts; null when the
// input is not "-". A read that fails or is interrupted ends the run.
std::optional<std::shared_ptr<const std::vector<uint8_t>>> readStandardInput(
    const CliOptions& options, const CommandLineEnvironment& env) {
    if (options.paths.size() != 1 || options.paths.front() != kStandardStream)
        return nullptr;
    StreamRead read = readWholeStream(env.in, kMaxStandardInputBytes, env.cancel);
    if (!read.error.empty()) {
        if (!cancelRequested(env))
            std::fprintf(env.err, "-: cannot read the TIFF: %s\n", printable(read.error).c_str());
        return std::nullopt;
    }
    return std::make_shared<const std::vector<uint8_t>>(std::move(read.bytes));
}

// Appends the --files-from list to the paths; the exit status when it
// cannot be read.
std::optional<int> addListedPaths(CliOptions& options, const CommandLineEnvironment& env) {
    if (!options.filesFrom)
        return std::nullopt;
    FileListRead list = readFileList(*options.filesFrom, options.nullSeparated, env.in, env.cancel);
    if (!list.error.empty())
        return cancelRequested(env) ? env.cancelExitStatus() : usageError(env, list.error);
    options.paths.insert(options.paths.end(), std::make_move_iterator(list.paths.begin()),
                         std::make_move_iterator(list.paths.end()));
    return std::nullopt;
}

// The --report target, opened before anything is converted; null (and the
// reason printed) when it cannot be.
std::unique_ptr<JsonReport> openReport(const std::string& target,
                                       const CommandLineEnvironment& env) {
    try {
        return std::make_unique<JsonReport>(target, fileno(env.out));
    } catch (const std::exception& error) {
        std::fprintf(env.err, "%s: %s\n", kProgramName, printable(error.what()).c_str());
        return nullptr;
    }
}

}  // namespace

int runCommandLine(const std::vector<std::string>& args, const CommandLineEnvironment& env) {
    const ParseResult parsed = parseOptions(args);
    switch (parsed.action) {
        case ParseResult::Action::ShowHelp:
            return printText(env.out, helpText());
        case ParseResult::Action::ShowVersion:
            return printText(env.out, versionText() + "\n");
        case ParseResult::Action::UsageError:
            return usageError(env, parsed.error);
        case ParseResult::Action::Run:
            break;
    }
    CliOptions options = parsed.options;
    if (std::optional<int> failed = addListedPaths(options, env))
        return *failed;

    const CollectedInputs inputs = collectInputs(options.paths, options.recursive, options.merge);
    // An empty list is an empty shard of a larger run, not a mistake.
    if (inputs.files.empty() && inputs.problems.empty() && !options.filesFrom) {
        return usageError(env, noInputMessage(inputs));
    }
    const OutputPlan plan = planOutputs(inputs.files, options);
    if (!plan.error.empty())
        return usageError(env, plan.error);
    if (options.outputDir && !createOutputFolder(env, *options.outputDir))
        return kExitFailure;
    std::unique_ptr<JsonReport> report;
    if (options.reportFile && !(report = openReport(*options.reportFile, env)))
        return kExitFailure;
    auto standardInput = readStandardInput(options, env);
    if (!standardInput)
        return cancelRequested(env) ? env.cancelExitStatus() : kExitFailure;

    return runBatch(options, inputs, plan.jobs, env, std::move(*standardInput), report.get());
}

}  // namespace quorvex::cli
