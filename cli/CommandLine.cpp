#include "cli/CommandLine.h"

#include <chrono>
#include <filesystem>
#include <memory>
#include <optional>
#include <system_error>

#include "cli/ExitCodes.h"
#include "cli/HelpText.h"
#include "cli/InputCollector.h"
#include "cli/Options.h"
#include "cli/OutputPlanner.h"
#include "cli/ReportFormat.h"
#include "cli/Reporter.h"
#include "cli/StandardStreams.h"

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
    settings.strict = options.strict;
    settings.dpi = options.dpi;
    settings.flateLevel = options.flateLevel;
    settings.compact = options.compact;
    settings.info = options.info;
    settings.titleGiven = options.titleGiven;
    settings.standardOutputFd = fileno(env.out);
    settings.cancel = env.cancel;
    return settings;
}

// What the folder scan found besides files: unreadable folders count as
// failed files; folders without TIFF files are only mentioned.
void reportCollection(const CollectedInputs& inputs, const CliOptions& options,
                      Reporter& reporter) {
    for (const InputProblem& problem : inputs.problems) {
        reporter.reportProblem(problem);
    }
    if (options.verbosity == Verbosity::Quiet) {
        return;
    }
    for (const std::string& folder : inputs.emptyFolders) {
        reporter.reportNotice(std::string(kProgramName) + ": no TIFF files in '" +
                              printable(folder) + "'");
    }
}

int exitStatusFor(const BatchCounts& counts) {
    if (counts.failed > 0)
        return kExitFailure;
    return counts.damaged > 0 ? kExitDamaged : kExitSuccess;
}

int runBatch(const CliOptions& options, const CollectedInputs& inputs,
             const std::vector<PlannedJob>& jobs, const CommandLineEnvironment& env,
             std::shared_ptr<const std::vector<uint8_t>> standardInput) {
    const auto start = std::chrono::steady_clock::now();
    const std::size_t totalFiles = jobs.size() + inputs.problems.size();
    // With the PDF on standard output, every line goes to stderr.
    std::FILE* lines = writesStandardOutput(options) ? env.err : env.out;
    std::fflush(env.out);
    Reporter reporter(lines, env.err, reporterSettingsFor(options, env), totalFiles);
    reportCollection(inputs, options, reporter);

    BatchSettings settings = batchSettingsFor(options, env);
    settings.standardInput = std::move(standardInput);
    BatchRunner runner(std::move(settings), env.converter, reporter);
    BatchCounts counts = countResults(runner.run(jobs));
    counts.failed += inputs.problems.size();

    const bool interrupted = cancelRequested(env);
    if (interrupted) {
        reporter.reportNotice(std::string(kProgramName) + ": interrupted, " +
                              std::to_string(counts.cancelled + counts.notStarted) +
                              " file(s) not converted");
    }
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
    reporter.finish(counts, totalFiles, elapsed.count());

    if (interrupted) {
        return env.cancelExitStatus();
    }
    return exitStatusFor(counts);
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
            std::fprintf(env.err, "-: cannot read the TIFF: %s\n", read.error.c_str());
        return std::nullopt;
    }
    return std::make_shared<const std::vector<uint8_t>>(std::move(read.bytes));
}

}  // namespace

int runCommandLine(const std::vector<std::string>& args, const CommandLineEnvironment& env) {
    const ParseResult parsed = parseOptions(args);
    switch (parsed.action) {
        case ParseResult::Action::ShowHelp:
            std::fputs(helpText().c_str(), env.out);
            return kExitSuccess;
        case ParseResult::Action::ShowVersion:
            std::fprintf(env.out, "%s\n", versionText().c_str());
            return kExitSuccess;
        case ParseResult::Action::UsageError:
            return usageError(env, parsed.error);
        case ParseResult::Action::Run:
            break;
    }
    const CliOptions& options = parsed.options;

    const CollectedInputs inputs = collectInputs(options.paths, options.recursive);
    if (inputs.files.empty() && inputs.problems.empty()) {
        return usageError(env, noInputMessage(inputs));
    }
    const OutputPlan plan = planOutputs(inputs.files, options);
    if (!plan.error.empty())
        return usageError(env, plan.error);
    if (options.outputDir && !createOutputFolder(env, *options.outputDir))
        return kExitFailure;
    auto standardInput = readStandardInput(options, env);
    if (!standardInput)
        return cancelRequested(env) ? env.cancelExitStatus() : kExitFailure;

    return runBatch(options, inputs, plan.jobs, env, std::move(*standardInput));
}

}  // namespace quorvex::cli
