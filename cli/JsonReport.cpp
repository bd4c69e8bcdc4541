#include "cli/JsonReport.h"

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <nlohmann/json.hpp>
#include <stdexcept>

#include "cli/FailureKind.h"
#include "cli/TextEscape.h"
#include "engine/platform/Platform.h"

namespace quorvex::cli {
namespace {

using Json = nlohmann::ordered_json;  // keys in the order written: "type" first

std::string hexOf(const std::string& bytes) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string hex;
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        hex += kDigits[byte >> 4];
        hex += kDigits[byte & 0x0F];
    }
    return hex;
}

// A name under `key`, plus `key`_hex with its exact bytes when it is not UTF-8.
void putName(Json& line, const std::string& key, const std::string& name) {
    line[key] = validUtf8(name);
    if (!isValidUtf8(name))
        line[key + "_hex"] = hexOf(name);
}

Json textOrNull(const std::string& text) {
    return text.empty() ? Json(nullptr) : Json(validUtf8(text));
}

const char* statusName(const JobResult& result) {
    switch (result.status) {
        case JobStatus::Converted:
            return result.outcome.damaged() ? "damaged" : "converted";
        case JobStatus::Skipped:
            return "skipped";
        case JobStatus::Cancelled:
            return "cancelled";
        case JobStatus::Failed:
            break;
    }
    return "failed";
}

std::string dumped(const Json& line) {
    // Every string was made valid UTF-8 above; replace is a second guard
    // that can never turn into an exception half-way through a run.
    return line.dump(-1, ' ', false, Json::error_handler_t::replace);
}

int openForAppend(const std::string& path) {
    const int fd = platform::openForAppending(path);
    if (fd < 0)
        throw std::runtime_error("cannot open the report '" + path + "' (" + std::strerror(errno) +
                                 ")");
    return fd;
}

// A line cut short (by a full disk, say) is ended so the next line starts clean.
void endPartialLine(int fd) {
    const std::optional<char> last = platform::lastByteOfRegularFile(fd);
    if (last && *last != '\n')
        (void)platform::writeToDescriptor(fd, "\n", 1);
}

}  // namespace

uint64_t peakMemoryBytes() {
    return platform::peakMemoryBytes();
}

std::string formatReportLine(const JobResult& result, uint64_t peakMemory) {
    Json line = Json::object();
    line["type"] = "file";
    putName(line, "input", result.input);
    if (result.mergedCount > 0)
        line["merged_count"] = result.mergedCount;
    if (result.output.empty())
        line["output"] = nullptr;
    else
        putName(line, "output", result.output);
    line["status"] = statusName(result);
    line["pages"] = result.outcome.pageCount;
    line["bytes"] = result.outcome.bytesWritten;
    line["seconds"] = result.seconds;
    line["peak_memory_bytes"] = peakMemory;
    Json damage = Json::array();
    for (const std::string& warning : result.outcome.warnings)
        damage.push_back(validUtf8(warning));
    line["damage"] = std::move(damage);
    const FailureKind kind = failureKindOf(result);
    line["failure"] = kind == FailureKind::None ? Json(nullptr) : Json(failureKindName(kind));
    line["retry"] = isWorthRetrying(result);
    line["reason"] = textOrNull(result.reason);
    line["detail"] = textOrNull(result.outcome.detail);
    return dumped(line);
}

std::string formatReportSummary(const ReportSummary& summary, uint64_t peakMemory) {
    const BatchCounts& counts = summary.counts;
    Json line = Json::object();
    line["type"] = "summary";
    line["files"] = summary.files;
    line["converted"] = counts.converted - counts.damaged;
    line["damaged"] = counts.damaged;
    line["failed"] = counts.failed;
    line["skipped"] = counts.skipped;
    line["cancelled"] = counts.cancelled + counts.notStarted;
    line["seconds"] = summary.seconds;
    line["peak_memory_bytes"] = peakMemory;
    line["exit_status"] = summary.exitStatus;
    return dumped(line);
}

JsonReport::JsonReport(const std::string& target, int standardOutput) {
    if (target == kStandardStream) {
        fd_ = standardOutput;
        name_ = "standard output";
        return;
    }
    fd_ = openForAppend(target);
    ownsFd_ = true;
    name_ = "the report '" + printable(target) + "'";
    endPartialLine(fd_);
}

JsonReport::~JsonReport() {
    if (ownsFd_)
        platform::closeDescriptor(fd_);
}

void JsonReport::jobFinished(std::size_t, const JobResult& result) {
    reportResult(result);
}

void JsonReport::reportResult(const JobResult& result) {
    writeLine(formatReportLine(result, peakMemoryBytes()));
}

void JsonReport::finish(const ReportSummary& summary) {
    writeLine(formatReportSummary(summary, peakMemoryBytes()));
}

// One write() a line where the system allows (O_APPEND on a local file
// writes it whole), so readers never see half a line from a killed run.
void JsonReport::writeLine(std::string line) {
    line += '\n';
    std::lock_guard lock(mutex_);
    std::size_t done = 0;
    while (done < line.size()) {
        const int64_t written =
            platform::writeToDescriptor(fd_, line.data() + done, line.size() - done);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0) {
            if (!writeFailed_.exchange(true))
                writeFailure_ =
                    "cannot write " + name_ + " (" + std::strerror(written < 0 ? errno : EIO) + ")";
            return;
        }
        done += static_cast<std::size_t>(written);
    }
}

std::string JsonReport::writeFailure() {
    std::lock_guard lock(mutex_);
    return writeFailure_;
}

}  // namespace quorvex::cli
