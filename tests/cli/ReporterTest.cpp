#include "cli/Reporter.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>

#include "cli/ReportFormat.h"

namespace quorvex::cli {
namespace {

JobResult converted(const std::string& stem, uint32_t pages, uint64_t bytes) {
    JobResult result;
    result.status = JobStatus::Converted;
    result.input = stem + ".tif";
    result.output = stem + ".pdf";
    result.outcome.pageCount = pages;
    result.outcome.bytesWritten = bytes;
    result.seconds = 0.25;
    return result;
}

JobResult failed(const std::string& stem, const std::string& reason) {
    JobResult result;
    result.status = JobStatus::Failed;
    result.input = stem + ".tif";
    result.output = stem + ".pdf";
    result.reason = reason;
    result.seconds = 0.01;
    return result;
}

TEST(ReportFormatTest, SizesUseBinaryUnitsWithOneDecimal) {
    EXPECT_EQ(formatSize(0), "0 bytes");
    EXPECT_EQ(formatSize(1), "1 byte");
    EXPECT_EQ(formatSize(1023), "1023 bytes");
    EXPECT_EQ(formatSize(1024), "1.0 KiB");
    EXPECT_EQ(formatSize(1536), "1.5 KiB");
    EXPECT_EQ(formatSize(5u * 1024 * 1024 + 1024 * 512), "5.5 MiB");
    EXPECT_EQ(formatSize(3ull * 1024 * 1024 * 1024), "3.0 GiB");
}

TEST(ReportFormatTest, LinesForEachOutcome) {
    EXPECT_EQ(formatResult(converted("scan", 3, 2048), Verbosity::Normal),
              "scan.tif -> scan.pdf (3 pages, 2.0 KiB)");
    EXPECT_EQ(formatResult(converted("one", 1, 900), Verbosity::Normal),
              "one.tif -> one.pdf (1 page, 900 bytes)");
    JobResult merged = converted("first", 9, 2048);
    merged.mergedCount = 2;
    EXPECT_EQ(formatResult(merged, Verbosity::Normal),
              "first.tif (+2 more) -> first.pdf (9 pages, 2.0 KiB)");
    EXPECT_EQ(formatResult(converted("scan", 3, 2048), Verbosity::Verbose),
              "scan.tif -> scan.pdf (3 pages, 2.0 KiB) in 0.25 s");
    EXPECT_EQ(formatResult(failed("bad", "Unable to open file."), Verbosity::Normal),
              "bad.tif: Unable to open file.");

    JobResult withDetail = failed("gone", "Unable to open file.");
    withDetail.outcome.detail = "No such file or directory";
    EXPECT_EQ(formatResult(withDetail, Verbosity::Normal),
              "gone.tif: Unable to open file. (No such file or directory)");

    JobResult withDiagnostic = failed("bad", "Unable to open file.");
    withDiagnostic.outcome.diagnostic = "Not a TIFF file, bad magic number 0 (0x0)\nsecond line\n";
    EXPECT_EQ(formatResult(withDiagnostic, Verbosity::Normal), "bad.tif: Unable to open file.");
    EXPECT_EQ(formatResult(withDiagnostic, Verbosity::Verbose),
              "bad.tif: Unable to open file. in 0.01 s\n"
              "    libtiff: Not a TIFF file, bad magic number 0 (0x0)\n"
              "    libtiff: second line");

    JobResult skipped;
    skipped.status = JobStatus::Skipped;
    skipped.input = "old.tif";
    skipped.reason = "skipped, old.pdf already exists";
    EXPECT_EQ(formatResult(skipped, Verbosity::Normal), "old.tif: skipped, old.pdf already exists");
    EXPECT_FALSE(isErrorResult(skipped));
    EXPECT_TRUE(isErrorResult(failed("x", "y")));
}

// The failure's kind leads, then the detail; no historic code or text of the
// plain entry ever shows.
TEST(ReportFormatTest, FailuresSayTheirKindAndDetailAndNamesAreEscaped) {
    struct Case {
        FailureKind failure;
        const char* detail;
        Verbosity verbosity;
        const char* expected;
    };
    const Case cases[] = {
        {FailureKind::InputUnreadable, "No such file or directory", Verbosity::Normal,
         "a\\x0ab.tif: cannot read the TIFF: No such file or directory"},
        {FailureKind::InputUnreadable, "", Verbosity::Normal, "a\\x0ab.tif: cannot read the TIFF"},
        {FailureKind::InputRefused, "the first page is CMYK", Verbosity::Normal,
         "a\\x0ab.tif: cannot convert the TIFF: the first page is CMYK"},
        {FailureKind::TooLarge,
         "page 1 is 100000 x 100000 pixels: not a page that can be converted", Verbosity::Normal,
         "a\\x0ab.tif: too large to convert: page 1 is 100000 x 100000 pixels: not a page that "
         "can be converted"},
        {FailureKind::OutputFailed, "out.pdf: Permission denied", Verbosity::Normal,
         "a\\x0ab.tif: cannot create the PDF: out.pdf: Permission denied"},
        {FailureKind::OutputFailed, "disk full", Verbosity::Verbose,
         "a\\x0ab.tif: cannot create the PDF: disk full in 0.01 s"},
        {FailureKind::Internal, "zlib: stream error", Verbosity::Normal,
         "a\\x0ab.tif: internal error: zlib: stream error"},
    };
    for (const Case& c : cases) {
        JobResult result = failed("a\nb", "Engine text");
        result.outcome.failure = c.failure;
        result.outcome.detail = c.detail;
        EXPECT_EQ(formatResult(result, c.verbosity), c.expected);
    }
    EXPECT_EQ(printable("x\033[2Jy\tz\r\x7f\xc3\xa9"), "x\\x1b[2Jy\\x09z\\x0d\\x7f\xc3\xa9");
    JobResult damaged = converted("d\n", 1, 10);
    EXPECT_EQ(formatDamage(damaged), "");
    damaged.outcome.warnings = {"page 1, rows 54-600 unreadable (LZW: Using code not yet in table)",
                                "the file ends after page 4: directory 5 cannot be read"};
    EXPECT_EQ(formatDamage(damaged),
              "d\\x0a.tif: damaged: page 1, rows 54-600 unreadable (LZW: Using code not yet in "
              "table); the file ends after page 4: directory 5 cannot be read");
}

TEST(ReportFormatTest, SummaryLine) {
    BatchCounts counts;
    counts.converted = 7;
    counts.failed = 2;
    counts.skipped = 1;
    EXPECT_EQ(formatSummary(counts, 10, 3.14159),
              "converted 7 of 10 files, 2 failed, 1 skipped in 3.1 s");
    EXPECT_EQ(formatSummary(BatchCounts{1, 0, 0, 0, 0}, 1, 0.04),
              "converted 1 of 1 file, 0 failed, 0 skipped in 0.0 s");
}

TEST(ReportFormatTest, ProgressShowsFilesPagesAndFitsTheTerminal) {
    ProgressState state;
    state.filesDone = 3;
    state.totalFiles = 10;
    state.running = 2;
    state.currentFile = "/data/scans/scan-004.tif";
    state.pagesDone = 2;
    state.pageCount = 5;
    EXPECT_EQ(formatProgress(state, 200), "[3/10] scan-004.tif: 2 of 5 pages (+1 running)");
    EXPECT_EQ(formatProgress(state, 12), "[3/10] scan-");

    state.running = 1;
    state.pageCount = 0;  // pages not known before the first page is done
    EXPECT_EQ(formatProgress(state, 200), "[3/10] scan-004.tif");

    state.currentFile = "\xC3\xA9t\xC3\xA9.tif";     // "été.tif"
    EXPECT_EQ(formatProgress(state, 8), "[3/10] ");  // never half a character
}

// Captures what the reporter writes to a stream.
class CapturedStream {
  public:
    CapturedStream() : file_(std::tmpfile(), &std::fclose) {}
    std::FILE* get() const { return file_.get(); }
    std::string text() const {
        std::fflush(file_.get());
        std::rewind(file_.get());
        std::string content;
        for (int c = std::fgetc(file_.get()); c != EOF; c = std::fgetc(file_.get())) {
            content += static_cast<char>(c);
        }
        return content;
    }

  private:
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file_;
};

class ReporterTest : public ::testing::Test {
  protected:
    // Runs a three-file batch whose files finish in the order 2, 0, 1.
    void reportBatch(ReporterSettings settings) {
        Reporter reporter(out_.get(), err_.get(), settings, 3);
        std::vector<JobResult> results = {converted("a", 1, 10), failed("b", "broken"),
                                          converted("c", 2, 20)};
        results[2].outcome.warnings = {"page 2, rows 5-20 unreadable (LZW: Corrupted)"};
        for (std::size_t i = 0; i < 3; ++i) {
            PlannedJob job;
            job.input = results[i].input;
            reporter.jobStarted(i, job);
        }
        reporter.pageDone(2, 1, 2);
        for (std::size_t i : {2, 0, 1})
            reporter.jobFinished(i, results[i]);
        reporter.finish(countResults({results[0], results[1], results[2]}), 3, 1.0);
    }

    CapturedStream out_;
    CapturedStream err_;
};

TEST_F(ReporterTest, LinesFollowInputOrderWhateverOrderFilesFinishIn) {
    reportBatch(ReporterSettings{});
    EXPECT_EQ(out_.text(),
              "a.tif -> a.pdf (1 page, 10 bytes)\n"
              "c.tif -> c.pdf (2 pages, 20 bytes)\n"
              "converted 2 of 3 files (1 damaged), 1 failed, 0 skipped in 1.0 s\n");
    EXPECT_EQ(err_.text(),
              "b.tif: broken\n"
              "c.tif: damaged: page 2, rows 5-20 unreadable (LZW: Corrupted)\n");
}

TEST_F(ReporterTest, QuietPrintsFailuresOnly) {
    ReporterSettings settings;
    settings.verbosity = Verbosity::Quiet;
    settings.showProgress = true;  // quiet wins over the progress line too
    reportBatch(settings);
    EXPECT_EQ(out_.text(), "");
    EXPECT_EQ(err_.text(),
              "b.tif: broken\n"
              "c.tif: damaged: page 2, rows 5-20 unreadable (LZW: Corrupted)\n");
}

TEST_F(ReporterTest, ProgressIsErasedBeforeEachLineAndAtTheEnd) {
    ReporterSettings settings;
    settings.showProgress = true;
    settings.terminalWidth = [] { return std::size_t{40}; };
    reportBatch(settings);
    const std::string err = err_.text();
    EXPECT_NE(err.find("\r\033[K[0/3] a.tif"), std::string::npos) << err;
    EXPECT_NE(err.find("b.tif: broken\n"), std::string::npos);
    // The last thing written to the terminal erases the progress line.
    ASSERT_GE(err.size(), 4u);
    EXPECT_EQ(err.substr(err.size() - 4), "\r\033[K") << err;
    // Lines on stdout never carry progress text.
    EXPECT_EQ(out_.text().find('\033'), std::string::npos);
}

TEST_F(ReporterTest, NoEscapeCodesWithoutATerminal) {
    reportBatch(ReporterSettings{});
    EXPECT_EQ(err_.text().find('\033'), std::string::npos);
    EXPECT_EQ(err_.text().find('\r'), std::string::npos);
}

}  // namespace
}  // namespace quorvex::cli
