#include "cli/ReportFormat.h"
#include "engine/platform/Platform.h"

#include <array>
#include <cstdio>
#include <filesystem>

namespace quorvex::cli {
namespace {

std::string printfString(const char* format, double value) {
    std::array<char, 64> buffer{};
    std::snprintf(buffer.data(), buffer.size(), format, value);
    return buffer.data();
}

std::string plural(uint64_t count, const char* one, const char* many) {
    return std::to_string(count) + " " + (count == 1 ? one : many);
}

std::string secondsText(double seconds) {
    return printfString("%.2f s", seconds);
}

// Each line of libtiff's text, indented under the file's line; libtiff
// quotes file names, so its lines are escaped like any other.
std::string indentedDiagnostic(const std::string& diagnostic) {
    std::string text;
    std::size_t start = 0;
    while (start < diagnostic.size()) {
        std::size_t end = diagnostic.find('\n', start);
        if (end == std::string::npos)
            end = diagnostic.size();
        if (end > start)
            text += "\n    libtiff: " + printable(diagnostic.substr(start, end - start));
        start = end + 1;
    }
    return text;
}

// The failure's kind ("cannot read the TIFF") and what exactly went wrong;
// a refusal of the command line's own is its reason alone.
std::string failureText(const JobResult& result) {
    const ConversionOutcome& outcome = result.outcome;
    if (outcome.failure == FailureKind::None) {
        std::string text = printable(result.reason);
        if (!outcome.detail.empty())
            text += " (" + printable(outcome.detail) + ")";
        return text;
    }
    std::string text = failureKindText(outcome.failure);
    if (!outcome.detail.empty())
        text += ": " + printable(outcome.detail);
    return text;
}

}  // namespace

std::string formatDamage(const JobResult& result) {
    const std::vector<std::string>& warnings = result.outcome.warnings;
    if (result.status != JobStatus::Converted || warnings.empty())
        return {};
    std::string line = printable(result.input) + ": damaged: ";
    for (std::size_t i = 0; i < warnings.size(); ++i)
        line += (i == 0 ? "" : "; ") + printable(warnings[i]);
    return line;
}

std::string formatSize(uint64_t bytes) {
    constexpr std::array<const char*, 4> kUnits{"KiB", "MiB", "GiB", "TiB"};
    if (bytes < 1024)
        return plural(bytes, "byte", "bytes");
    double value = static_cast<double>(bytes) / 1024.0;
    std::size_t unit = 0;
    while (value >= 1024.0 && unit + 1 < kUnits.size()) {
        value /= 1024.0;
        ++unit;
    }
    return printfString("%.1f ", value) + kUnits[unit];
}

bool isErrorResult(const JobResult& result) {
    return result.status == JobStatus::Failed || result.status == JobStatus::Cancelled;
}

std::string formatResult(const JobResult& result, Verbosity verbosity) {
    const bool verbose = verbosity == Verbosity::Verbose;
    switch (result.status) {
        case JobStatus::Converted: {
            const std::string more =
                result.mergedCount > 0 ? " (+" + std::to_string(result.mergedCount) + " more)" : "";
            std::string line = printable(result.input) + more + " -> " + printable(result.output) +
                               " (" + plural(result.outcome.pageCount, "page", "pages") + ", " +
                               formatSize(result.outcome.bytesWritten) + ")";
            if (!verbose)
                return line;
            line += " in " + secondsText(result.seconds);
            for (const std::string& note : result.outcome.notes)
                line += "\n    note: " + printable(note);
            return line;
        }
        case JobStatus::Skipped:
            return printable(result.input) + ": " + printable(result.reason);
        case JobStatus::Cancelled:
            return printable(result.input) + ": cancelled";
        case JobStatus::Failed:
            break;
    }
    std::string line = printable(result.input) + ": " + failureText(result);
    if (verbose)
        line +=
            " in " + secondsText(result.seconds) + indentedDiagnostic(result.outcome.diagnostic);
    return line;
}

std::string formatSummary(const BatchCounts& counts, std::size_t totalFiles, double seconds) {
    const std::string damaged =
        counts.damaged > 0 ? " (" + std::to_string(counts.damaged) + " damaged)" : "";
    return "converted " + std::to_string(counts.converted) + " of " +
           plural(totalFiles, "file", "files") + damaged + ", " + std::to_string(counts.failed) +
           " failed, " + std::to_string(counts.skipped) + " skipped in " +
           printfString("%.1f s", seconds);
}

std::string formatProgress(const ProgressState& state, std::size_t width) {
    std::string line =
        "[" + std::to_string(state.filesDone) + "/" + std::to_string(state.totalFiles) + "]";
    if (!state.currentFile.empty()) {
        line +=
            " " + printable(platform::utf8Of(platform::pathFromUtf8(state.currentFile).filename()));
        if (state.pageCount > 0) {
            line += ": " + std::to_string(state.pagesDone) + " of " +
                    std::to_string(state.pageCount) + " pages";
        }
    }
    if (state.running > 1)
        line += " (+" + std::to_string(state.running - 1) + " running)";
    if (line.size() > width) {
        // Cut on a character boundary, never inside a UTF-8 sequence.
        std::size_t cut = width;
        while (cut > 0 && (static_cast<unsigned char>(line[cut]) & 0xC0) == 0x80)
            --cut;
        line.resize(cut);
    }
    return line;
}

}  // namespace quorvex::cli
