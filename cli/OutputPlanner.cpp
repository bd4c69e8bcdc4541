#include "cli/OutputPlanner.h"

#include <filesystem>
#include <map>
#include <system_error>

#include "cli/FileIdentity.h"
#include "engine/Conversion.h"
#include "engine/platform/Platform.h"

namespace quorvex::cli {
namespace fs = std::filesystem;
namespace {

std::string inQuotes(const std::string& text) {
    return "'" + text + "'";
}

PlannedJob planOne(const InputFile& input, const CliOptions& options) {
    PlannedJob job;
    job.input = input.path;
    if (options.outputFile) {
        job.output = *options.outputFile;
    } else if (options.outputDir) {
        const std::string name =
            deriveOutputPath(platform::utf8Of(platform::pathFromUtf8(input.path).filename()));
        job.output = platform::utf8Of(
            (platform::pathFromUtf8(*options.outputDir) / platform::pathFromUtf8(input.subFolder) /
             platform::pathFromUtf8(name))
                .lexically_normal());
        job.createFolder = true;
    } else {
        job.output = deriveOutputPath(input.path);
    }
    job.title = titleFor(input.path == kStandardStream ? job.output : input.path);
    if (!input.sameAs.empty())
        job.skipReason = "skipped, same file as " + inQuotes(input.sameAs);
    return job;
}

PlannedJob planMerge(const std::vector<InputFile>& files, const CliOptions& options) {
    PlannedJob job;
    job.input = files.front().path;
    for (std::size_t i = 1; i < files.size(); ++i)
        job.mergedInputs.push_back(files[i].path);
    job.output = *options.outputFile;
    job.title = titleFor(job.output);
    return job;
}

bool replacesAnInput(const PlannedJob& job, const std::string& outputKey) {
    if (outputKey == fileIdentity(job.input))
        return true;
    for (const std::string& merged : job.mergedInputs) {
        if (outputKey == fileIdentity(merged))
            return true;
    }
    return false;
}

// Fails the later of two jobs writing one PDF, and a job whose PDF would
// replace one of its inputs, so each mistake costs one file, not the batch.
void refuseCollisions(std::vector<PlannedJob>& jobs) {
    std::map<std::string, std::string> inputByOutput;
    for (PlannedJob& job : jobs) {
        if (job.output == kStandardStream || !job.skipReason.empty())
            continue;
        const std::string key = fileIdentity(job.output);
        if (replacesAnInput(job, key)) {
            job.refusal = "would be replaced by its own PDF";
            continue;
        }
        const auto [it, inserted] = inputByOutput.emplace(key, job.input);
        if (!inserted) {
            job.refusal = "not converted: " + inQuotes(it->second) + " already writes " +
                          inQuotes(job.output);
        }
    }
}

}  // namespace

std::string titleFor(const std::string& path) {
    if (path == kStandardStream)
        return {};
    return platform::utf8Of(platform::pathFromUtf8(path).stem());
}

OutputPlan planOutputs(const std::vector<InputFile>& files, const CliOptions& options) {
    OutputPlan plan;
    if (options.outputFile && files.size() != 1 && !options.merge) {
        plan.error = "option '--output' needs a single input, but " + std::to_string(files.size()) +
                     " files were found; use '--output-dir' for several, or '--merge'";
        return plan;
    }
    if (options.merge && !files.empty()) {
        plan.jobs.push_back(planMerge(files, options));
    } else {
        for (const InputFile& file : files)
            plan.jobs.push_back(planOne(file, options));
    }
    refuseCollisions(plan.jobs);
    return plan;
}

}  // namespace quorvex::cli
