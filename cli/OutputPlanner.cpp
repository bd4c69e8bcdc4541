#include "cli/OutputPlanner.h"

#include <filesystem>
#include <map>
#include <system_error>

#include "engine/Conversion.h"

namespace quorvex::cli {
namespace fs = std::filesystem;
namespace {

// Two spellings of one file ("out/a.pdf", "./out/../out/a.pdf") give one key.
std::string fileIdentity(const std::string& path) {
    std::error_code error;
    const fs::path canonical = fs::weakly_canonical(path, error);
    if (!error)
        return canonical.string();
    return fs::absolute(path, error).lexically_normal().string();
}

PlannedJob planOne(const std::string& input, const CliOptions& options) {
    PlannedJob job{input, {}, {}};
    if (options.outputFile) {
        job.output = *options.outputFile;
    } else if (options.outputDir) {
        const std::string name = deriveOutputPath(fs::path(input).filename().string());
        if (name.empty()) {
            job.refusal = "cannot derive an output file name from this name";
        } else {
            job.output = (fs::path(*options.outputDir) / name).string();
        }
    } else {
        job.output = deriveOutputPath(input);
    }
    return job;
}

std::string inQuotes(const std::string& text) {
    return "'" + text + "'";
}

}  // namespace

OutputPlan planOutputs(const std::vector<std::string>& files, const CliOptions& options) {
    OutputPlan plan;
    if (options.outputFile && files.size() != 1) {
        plan.error = "option '--output' needs a single input, but " + std::to_string(files.size()) +
                     " files were found; use '--output-dir' for several";
        return plan;
    }
    std::map<std::string, std::string> inputByOutput;
    for (const std::string& file : files) {
        PlannedJob job = planOne(file, options);
        if (!job.output.empty()) {
            const std::string key = fileIdentity(job.output);
            if (key == fileIdentity(job.input)) {
                plan.error = inQuotes(job.input) + " would be replaced by its own PDF";
                plan.jobs.clear();
                return plan;
            }
            const auto [it, inserted] = inputByOutput.emplace(key, job.input);
            if (!inserted) {
                plan.error = inQuotes(it->second) + " and " + inQuotes(job.input) +
                             " would both be written to " + inQuotes(job.output);
                plan.jobs.clear();
                return plan;
            }
        }
        plan.jobs.push_back(std::move(job));
    }
    return plan;
}

}  // namespace quorvex::cli
