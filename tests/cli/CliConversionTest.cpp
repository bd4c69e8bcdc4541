// The real binary converting real files: where PDFs go, what is printed, and
// that a failure leaves nothing behind. Every PDF is checked with qpdf.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <string>
#include <vector>

#include "CliProcess.h"
#include "engine/Conversion.h"
#include "fixtures/TiffFixture.h"
#include "support/TestSupport.h"

namespace {

namespace fs = std::filesystem;
using clitest::filesUnder;
using clitest::runCli;
using clitest::writeNotATiff;
using clitest::writeSampleTiff;

void expectValidPdf(const fs::path& pdf, int pages) {
    ASSERT_TRUE(fs::exists(pdf)) << pdf;
    const support::QpdfCheck check = support::qpdfCheck(pdf);
    EXPECT_TRUE(check.ok) << pdf << "\n" << check.output;
    EXPECT_EQ(support::pdfPageCount(pdf), pages) << pdf;
}

// The text of a "pdfinfo" field, e.g. infoField(pdf, "Title").
std::string infoField(const fs::path& pdf, const std::string& field) {
    const support::CommandResult info = support::runCommand({"pdfinfo", pdf.string()});
    const std::regex line("(^|\n)" + field + ":[ ]*([^\n]*)");
    std::smatch match;
    if (!std::regex_search(info.out, match, line))
        return "<missing>";
    return match[2].str();
}

// The summary without its time, which differs from run to run.
std::string withoutTime(const std::string& text) {
    return std::regex_replace(text, std::regex(" in [0-9.]+ s\n"), " in T s\n");
}

class CliConversionTest : public ::testing::Test {
  protected:
    std::string path(const std::string& name) const { return (dir_ / name).string(); }

    support::TempDir dir_;
};

TEST_F(CliConversionTest, SingleFileGoesBesideItsInputWithTheWindowsDocumentInfo) {
    writeSampleTiff(dir_ / "scan.tif", 3);
    const support::CommandResult result = runCli({path("scan.tif")});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    expectValidPdf(dir_ / "scan.pdf", 3);
    EXPECT_TRUE(
        std::regex_match(result.out, std::regex(path("scan.tif") + " -> " + path("scan.pdf") +
                                                R"( \(3 pages, [0-9.]+ (bytes|KiB)\)
converted 1 of 1 file, 0 failed, 0 skipped in [0-9.]+ s
)"))) << result.out;
    EXPECT_EQ(result.err, "");

    const quorvex::DocumentInfo defaults = quorvex::DocumentInfo::applicationDefaults();
    EXPECT_EQ(infoField(dir_ / "scan.pdf", "Title"), defaults.title);
    EXPECT_EQ(infoField(dir_ / "scan.pdf", "Author"), defaults.author);
    EXPECT_EQ(infoField(dir_ / "scan.pdf", "Creator"), defaults.creator);
}

TEST_F(CliConversionTest, DocumentInfoOptionsReachThePdf) {
    writeSampleTiff(dir_ / "inv.tiff", 1);
    const support::CommandResult result =
        runCli({"--title", "Invoice 42", "--author", "Accounts", "--subject", "Billing",
                "--keywords", "invoice paid", "--creator", "Scanner 9", path("inv.tiff")});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    const fs::path pdf = dir_ / "inv.pdf";
    expectValidPdf(pdf, 1);
    EXPECT_EQ(infoField(pdf, "Title"), "Invoice 42");
    EXPECT_EQ(infoField(pdf, "Author"), "Accounts");
    EXPECT_EQ(infoField(pdf, "Subject"), "Billing");
    EXPECT_EQ(infoField(pdf, "Keywords"), "invoice paid");
    EXPECT_EQ(infoField(pdf, "Creator"), "Scanner 9");
}

TEST_F(CliConversionTest, OutputOptionWritesExactlyThatFile) {
    writeSampleTiff(dir_ / "page.tif", 2);
    fs::create_directories(dir_ / "reports");
    const support::CommandResult result =
        runCli({"-o", path("reports/monthly.pdf"), path("page.tif")});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    expectValidPdf(dir_ / "reports/monthly.pdf", 2);
    EXPECT_EQ(filesUnder(dir_.path()), (std::set<std::string>{"page.tif", "reports/monthly.pdf"}));
    EXPECT_TRUE(result.out.starts_with(path("page.tif") + " -> " + path("reports/monthly.pdf") +
                                       " (2 pages, "))
        << result.out;
}

TEST_F(CliConversionTest, OutputDirCollectsEveryPdfAndIsCreated) {
    fs::create_directories(dir_ / "in/left");
    fs::create_directories(dir_ / "in/right");
    writeSampleTiff(dir_ / "in/left/a.tif", 1);
    writeSampleTiff(dir_ / "in/right/b.TIFF", 2, 1);
    const support::CommandResult result =
        runCli({"-d", path("out/pdfs"), path("in/left/a.tif"), path("in/right/b.TIFF")});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    expectValidPdf(dir_ / "out/pdfs/a.pdf", 1);
    expectValidPdf(dir_ / "out/pdfs/b.pdf", 2);
    EXPECT_EQ(filesUnder(dir_.path()), (std::set<std::string>{"in/left/a.tif", "in/right/b.TIFF",
                                                              "out/pdfs/a.pdf", "out/pdfs/b.pdf"}));
}

TEST_F(CliConversionTest, NoClobberSkipsExistingPdfsAndOtherwiseTheyAreReplaced) {
    writeSampleTiff(dir_ / "old.tif", 1);
    writeSampleTiff(dir_ / "new.tif", 1, 1);
    std::ofstream(dir_ / "old.pdf") << "keep me";

    const support::CommandResult skipping = runCli({"-n", path("new.tif"), path("old.tif")});
    ASSERT_EQ(skipping.exitCode, 0) << skipping.err;
    EXPECT_EQ(support::readFile(dir_ / "old.pdf"), "keep me");
    expectValidPdf(dir_ / "new.pdf", 1);
    EXPECT_NE(
        skipping.out.find(path("old.tif") + ": skipped, " + path("old.pdf") + " already exists\n"),
        std::string::npos)
        << skipping.out;
    EXPECT_NE(
        withoutTime(skipping.out).find("converted 1 of 2 files, 0 failed, 1 skipped in T s\n"),
        std::string::npos)
        << skipping.out;

    const support::CommandResult replacing = runCli({path("old.tif")});
    ASSERT_EQ(replacing.exitCode, 0) << replacing.err;
    expectValidPdf(dir_ / "old.pdf", 1);
}

TEST_F(CliConversionTest, FolderConvertsItsTiffFilesAndRecursiveAlsoSubFolders) {
    fs::create_directories(dir_ / "scans/sub");
    writeSampleTiff(dir_ / "scans/b.tif", 1);
    writeSampleTiff(dir_ / "scans/A.TIF", 1, 1);
    writeSampleTiff(dir_ / "scans/sub/c.tiff", 2, 2);
    std::ofstream(dir_ / "scans/notes.txt") << "not an image";

    const support::CommandResult flat = runCli({"-j1", path("scans")});
    ASSERT_EQ(flat.exitCode, 0) << flat.err;
    EXPECT_EQ(filesUnder(dir_ / "scans"), (std::set<std::string>{"A.TIF", "A.pdf", "b.tif", "b.pdf",
                                                                 "notes.txt", "sub/c.tiff"}));
    // Sorted order: "A.TIF" before "b.tif".
    EXPECT_LT(flat.out.find("A.TIF ->"), flat.out.find("b.tif ->")) << flat.out;

    const support::CommandResult deep = runCli({"-r", "-n", path("scans")});
    ASSERT_EQ(deep.exitCode, 0) << deep.err;
    expectValidPdf(dir_ / "scans/sub/c.pdf", 2);
    EXPECT_NE(withoutTime(deep.out).find("converted 1 of 3 files, 0 failed, 2 skipped in T s"),
              std::string::npos)
        << deep.out;
}

TEST_F(CliConversionTest, BrokenFileFailsAloneAndLeavesNothingBehind) {
    writeSampleTiff(dir_ / "1-good.tif", 2);
    writeNotATiff(dir_ / "2-broken.tif");
    writeSampleTiff(dir_ / "3-good.tif", 1, 1);

    const support::CommandResult result =
        runCli({"-j", "2", path("1-good.tif"), path("2-broken.tif"), path("3-good.tif"),
                path("gone.tif")});
    EXPECT_EQ(result.exitCode, 1) << result.err;
    expectValidPdf(dir_ / "1-good.pdf", 2);
    expectValidPdf(dir_ / "3-good.pdf", 1);
    // Only the inputs and the two good PDFs: no partial PDF, no temporary file.
    EXPECT_EQ(filesUnder(dir_.path()),
              (std::set<std::string>{"1-good.tif", "1-good.pdf", "2-broken.tif", "3-good.tif",
                                     "3-good.pdf"}));
    // Each failure is one line on stderr, with the engine's reason.
    const std::regex failureLines("(" + path("2-broken.tif") + "|" + path("gone.tif") +
                                  "): [^\n]+\n(" + path("2-broken.tif") + "|" + path("gone.tif") +
                                  "): [^\n]+\n");
    EXPECT_TRUE(std::regex_match(result.err, failureLines)) << result.err;
    EXPECT_NE(withoutTime(result.out).find("converted 2 of 4 files, 2 failed, 0 skipped in T s"),
              std::string::npos)
        << result.out;
}

TEST_F(CliConversionTest, FailureOnALaterPageLeavesNoPartialPdfAndKeepsTheOldOne) {
    // Page two is a fax page whose data lies past the end of the file: page
    // one is written, then the run fails part-way through the PDF.
    fixtures::PageSpec colour;
    colour.photometric = PHOTOMETRIC_RGB;
    colour.compression = COMPRESSION_LZW;
    fixtures::PageSpec fax;
    fax.width = 1728;
    fax.height = 200;
    fax.compression = COMPRESSION_CCITTFAX4;
    fax.photometric = PHOTOMETRIC_MINISWHITE;
    fax.bitsPerSample = 1;
    fixtures::writeTiff(dir_ / "torn.tif", {colour, fax});
    clitest::pointPageStripsPastEnd(dir_ / "torn.tif", 1);
    std::ofstream(dir_ / "torn.pdf") << "previous version";

    const support::CommandResult result = runCli({path("torn.tif")});
    EXPECT_EQ(result.exitCode, 1) << result.out << result.err;
    EXPECT_EQ(filesUnder(dir_.path()), (std::set<std::string>{"torn.tif", "torn.pdf"}));
    EXPECT_TRUE(support::readFile(dir_ / "torn.pdf") == "previous version");
    EXPECT_TRUE(result.err.starts_with(path("torn.tif") + ": ")) << result.err;
}

TEST_F(CliConversionTest, QuietPrintsFailuresOnlyAndVerboseAddsTimesAndLibtiffsText) {
    writeSampleTiff(dir_ / "good.tif", 1);
    writeNotATiff(dir_ / "bad.tif");

    const support::CommandResult quiet = runCli({"-q", path("good.tif"), path("bad.tif")});
    EXPECT_EQ(quiet.exitCode, 1);
    EXPECT_EQ(quiet.out, "");
    EXPECT_TRUE(quiet.err.starts_with(path("bad.tif") + ": ")) << quiet.err;
    EXPECT_EQ(std::count(quiet.err.begin(), quiet.err.end(), '\n'), 1) << quiet.err;

    const support::CommandResult verbose = runCli({"-v", path("good.tif"), path("bad.tif")});
    EXPECT_EQ(verbose.exitCode, 1);
    EXPECT_TRUE(std::regex_search(verbose.out, std::regex(R"(\) in [0-9]+\.[0-9]{2} s\n)")))
        << verbose.out;
    EXPECT_TRUE(
        std::regex_search(verbose.err, std::regex(R"(bad\.tif: [^\n]+ in [0-9]+\.[0-9]{2} s\n)")))
        << verbose.err;
    EXPECT_NE(verbose.err.find("\n    libtiff: "), std::string::npos) << verbose.err;
}

TEST_F(CliConversionTest, ParallelRunWritesTheSameBytesAndLinesAsASequentialOne) {
    fs::create_directories(dir_ / "in");
    for (unsigned i = 0; i < 6; ++i) {
        writeSampleTiff(dir_ / "in" / ("page" + std::to_string(i) + ".tif"), 1 + i % 3, i);
    }
    writeNotATiff(dir_ / "in/zz-broken.tif");
    auto runWithJobs = [&](const std::string& jobs) {
        return runCli({"-j", jobs, "--creation-date", "D:20240501120000", "-d", path("out" + jobs),
                       path("in")});
    };
    const support::CommandResult sequential = runWithJobs("1");
    const support::CommandResult parallel = runWithJobs("2");
    EXPECT_EQ(sequential.exitCode, 1);
    EXPECT_EQ(parallel.exitCode, 1);

    for (unsigned i = 0; i < 6; ++i) {
        const std::string name = "page" + std::to_string(i) + ".pdf";
        expectValidPdf(dir_ / "out1" / name, static_cast<int>(1 + i % 3));
        EXPECT_EQ(support::readFile(dir_ / "out1" / name), support::readFile(dir_ / "out2" / name))
            << name;
    }
    EXPECT_EQ(filesUnder(dir_ / "out1"), filesUnder(dir_ / "out2"));
    // Same lines in the same order, whichever worker finished first.
    EXPECT_EQ(std::regex_replace(withoutTime(parallel.out), std::regex("/out2/"), "/out1/"),
              withoutTime(sequential.out));
    EXPECT_EQ(parallel.err, sequential.err);
}

TEST_F(CliConversionTest, NoProgressOrEscapeCodesWhenStderrIsNotATerminal) {
    writeSampleTiff(dir_ / "a.tif", 3);
    writeNotATiff(dir_ / "b.tif");
    const support::CommandResult result = runCli({path("a.tif"), path("b.tif")});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(result.err.find('\033'), std::string::npos) << result.err;
    EXPECT_EQ(result.err.find('\r'), std::string::npos) << result.err;
    EXPECT_EQ(result.err.find("[0/2]"), std::string::npos) << result.err;
    EXPECT_EQ(result.out.find('\033'), std::string::npos) << result.out;
}

TEST_F(CliConversionTest, ProgressLineOnATerminalIsErasedAtTheEnd) {
    writeSampleTiff(dir_ / "a.tif", 3);
    writeSampleTiff(dir_ / "b.tif", 1, 1);
    const clitest::TerminalRun run =
        clitest::runCliOnTerminal({"-j1", path("a.tif"), path("b.tif")}, 60);
    EXPECT_EQ(run.exitCode, 0) << run.output;
    EXPECT_NE(run.output.find("\r\033[K[0/2] a.tif"), std::string::npos) << run.output;
    // The summary is printed on a clean line and nothing is drawn after it.
    const std::size_t summary = run.output.rfind("converted 2 of 2 files");
    ASSERT_NE(summary, std::string::npos) << run.output;
    ASSERT_GE(summary, 4u);
    EXPECT_EQ(run.output.substr(summary - 4, 4), "\r\033[K") << run.output;
    EXPECT_EQ(run.output.find('\033', summary), std::string::npos) << run.output;
}

}  // namespace
