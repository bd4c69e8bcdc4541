#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "cli/FailureKind.h"
#include "cli/JsonReport.h"

namespace quorvex::cli {
namespace {

using Json = nlohmann::ordered_json;

JobResult withStatus(JobStatus status, const char* input = "in/a.tif") {
    JobResult result;
    result.status = status;
    result.input = input;
    result.output = "in/a.pdf";
    return result;
}

JobResult failedWith(FailureKind kind, const std::string& detail) {
    JobResult result = withStatus(JobStatus::Failed);
    result.outcome.failure = kind;
    result.reason = failureKindText(kind);
    result.outcome.detail = detail;
    return result;
}

const std::vector<std::string> kFileKeys{
    "type",   "input",   "output", "status", "pages", "bytes", "seconds", "peak_memory_bytes",
    "damage", "failure", "retry",  "reason", "detail"};

std::vector<std::string> keysOf(const Json& line) {
    std::vector<std::string> keys;
    for (const auto& [key, value] : line.items())
        keys.push_back(key);
    return keys;
}

struct LineCase {
    const char* what;
    JobResult result;
    const char* status;
    const char* failure;  // nullptr: JSON null
    bool retry;
};

// Every outcome gives one line with the same keys; status, failure kind
// and retry say what a scheduler needs to know.
TEST(ReportLineTest, EveryOutcomeHasTheSameKeysAndItsStatusAndKind) {
    JobResult converted = withStatus(JobStatus::Converted);
    converted.outcome.pageCount = 3;
    converted.outcome.bytesWritten = 12345;
    JobResult damaged = converted;
    damaged.outcome.warnings = {"page 1, rows 5-9 unreadable"};
    JobResult refusedHere = withStatus(JobStatus::Failed);
    refusedHere.reason = "not converted: 'b.tif' already writes 'a.pdf'";
    JobResult thrown = withStatus(JobStatus::Failed);
    thrown.outcome.failure = FailureKind::Internal;
    const std::string noSpace = std::string("write: ") + std::strerror(ENOSPC);
    const LineCase cases[] = {
        {"converted", converted, "converted", nullptr, false},
        {"damaged", damaged, "damaged", nullptr, false},
        {"skipped", withStatus(JobStatus::Skipped), "skipped", nullptr, false},
        {"cancelled", withStatus(JobStatus::Cancelled), "cancelled", "cancelled", false},
        {"unreadable", failedWith(FailureKind::InputUnreadable, "not a TIFF"), "failed",
         "input-unreadable", false},
        {"refused by the engine", failedWith(FailureKind::InputRefused, "the first page is CMYK"),
         "failed", "input-refused", false},
        {"refused by the command line", refusedHere, "failed", "input-refused", false},
        {"too large", failedWith(FailureKind::TooLarge, "page too large: its buffers would"),
         "failed", "too-large", false},
        {"out of memory", failedWith(FailureKind::TooLarge, "out of memory for a 9-byte buffer"),
         "failed", "too-large", true},
        {"disk full", failedWith(FailureKind::OutputFailed, noSpace), "failed", "output-failed",
         true},
        {"I/O error", failedWith(FailureKind::OutputFailed, std::strerror(EIO)), "failed",
         "output-failed", true},
        {"permission denied", failedWith(FailureKind::OutputFailed, std::strerror(EACCES)),
         "failed", "output-failed", false},
        {"engine threw", thrown, "failed", "internal", false},
    };
    for (const LineCase& c : cases) {
        const std::string text = formatReportLine(c.result, 4096);
        ASSERT_EQ(text.find('\n'), std::string::npos) << c.what;
        const Json line = Json::parse(text);
        EXPECT_EQ(keysOf(line), kFileKeys) << c.what << ": " << text;
        EXPECT_EQ(line["type"], "file") << c.what;
        EXPECT_EQ(line["input"], "in/a.tif") << c.what;
        EXPECT_EQ(line["output"], "in/a.pdf") << c.what;
        EXPECT_EQ(line["status"], c.status) << c.what;
        EXPECT_EQ(line["failure"], c.failure ? Json(c.failure) : Json(nullptr)) << c.what;
        EXPECT_EQ(line["retry"], c.retry) << c.what;
        EXPECT_EQ(line["peak_memory_bytes"], 4096) << c.what;
        EXPECT_EQ(line["pages"], c.result.outcome.pageCount) << c.what;
        EXPECT_EQ(line["bytes"], c.result.outcome.bytesWritten) << c.what;
        EXPECT_EQ(line["damage"].size(), c.result.outcome.warnings.size()) << c.what;
    }
}

// JSON carries UTF-8 only: a name that is not keeps its readable form and
// adds its exact bytes in hex; damage and detail texts are made valid too.
TEST(ReportLineTest, NamesThatAreNotUtf8StayValidJsonAndRecoverable) {
    JobResult result = withStatus(JobStatus::Converted, "caf\xe9\n\\.tif");
    result.output = "\xce\xb1\xce\xb2.pdf";
    result.outcome.warnings = {"page 2: libtiff: caf\xe9.tif: bad strip"};
    const Json line = Json::parse(formatReportLine(result, 0));
    EXPECT_EQ(line["input"], "caf\\xe9\n\\\\.tif");
    EXPECT_EQ(line["input_hex"], "636166e90a5c2e746966");
    EXPECT_EQ(line["output"], "\xce\xb1\xce\xb2.pdf");
    EXPECT_FALSE(line.contains("output_hex"));
    EXPECT_EQ(line["damage"][0], "page 2: libtiff: caf\\xe9.tif: bad strip");
}

TEST(ReportLineTest, SummaryCountsEachStatusOnce) {
    ReportSummary summary;
    summary.counts.converted = 5;  // damaged ones included, as the terminal summary counts them
    summary.counts.damaged = 2;
    summary.counts.failed = 1;
    summary.counts.skipped = 3;
    summary.counts.cancelled = 1;
    summary.counts.notStarted = 4;
    summary.files = 14;
    summary.seconds = 1.5;
    summary.exitStatus = 130;
    const Json line = Json::parse(formatReportSummary(summary, 2048));
    EXPECT_EQ(line, Json::parse(R"({"type":"summary","files":14,"converted":3,"damaged":2,
        "failed":1,"skipped":3,"cancelled":5,"seconds":1.5,"peak_memory_bytes":2048,
        "exit_status":130})"));
}

}  // namespace
}  // namespace quorvex::cli
