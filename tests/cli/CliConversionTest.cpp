// The real binary converting real files: where PDFs go, what is printed, and
// that a failure leaves nothing behind. Every PDF is checked with qpdf.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
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

TEST_F(CliConversionTest, SingleFileGoesBesideItsInputTitledAfterIt) {
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

    const std::string program = "quorvex-tiff2pdf " QUORVEX_EXPECTED_VERSION;
    EXPECT_EQ(infoField(dir_ / "scan.pdf", "Title"), "scan");
    EXPECT_EQ(infoField(dir_ / "scan.pdf", "Creator"), program);
    EXPECT_EQ(infoField(dir_ / "scan.pdf", "Producer"), program);
    for (const char* empty : {"Author", "Subject", "Keywords"})
        EXPECT_EQ(infoField(dir_ / "scan.pdf", empty), "") << empty;
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
    // one is written, then, strict, the run fails part-way through the PDF.
    const fixtures::PageRecipe colour{.compression = COMPRESSION_LZW,
                                      .photometric = PHOTOMETRIC_RGB};
    const fixtures::PageRecipe fax{.width = 1728,
                                   .height = 200,
                                   .compression = COMPRESSION_CCITTFAX4,
                                   .photometric = PHOTOMETRIC_MINISWHITE,
                                   .bitsPerSample = 1};
    fixtures::writeTiff(dir_ / "torn.tif", {colour, fax});
    clitest::pointPageStripsPastEnd(dir_ / "torn.tif", 1);
    std::ofstream(dir_ / "torn.pdf") << "previous version";

    const support::CommandResult result = runCli({"--strict", path("torn.tif")});
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
        return runCli({"-j", jobs, "--creation-date", "2024-05-01T12:00", "-d", path("out" + jobs),
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

TEST_F(CliConversionTest, RecursiveOutputDirMirrorsTheTreeAndACollisionFailsOneFile) {
    fs::create_directories(dir_ / "scans/2023");
    fs::create_directories(dir_ / "scans/2024");
    writeSampleTiff(dir_ / "scans/2023/page1.tif", 1);
    writeSampleTiff(dir_ / "scans/2024/page1.tif", 2, 1);
    const support::CommandResult mirrored = runCli({"-r", "-d", path("pdfs/"), path("scans/")});
    ASSERT_EQ(mirrored.exitCode, 0) << mirrored.err;
    expectValidPdf(dir_ / "pdfs/2023/page1.pdf", 1);
    expectValidPdf(dir_ / "pdfs/2024/page1.pdf", 2);

    // Named side by side, both would land on one PDF: the first wins.
    const support::CommandResult clash =
        runCli({"-d", path("flat"), path("scans/2023/page1.tif"), path("scans/2024/page1.tif")});
    EXPECT_EQ(clash.exitCode, 1) << clash.err;
    expectValidPdf(dir_ / "flat/page1.pdf", 1);
    EXPECT_EQ(clash.err, path("scans/2024/page1.tif") + ": not converted: '" +
                             path("scans/2023/page1.tif") + "' already writes '" +
                             path("flat/page1.pdf") + "'\n");
}

TEST_F(CliConversionTest, FolderScanTakesOnlyVisibleTiffFiles) {
    fs::create_directories(dir_ / "in/.git");
    writeSampleTiff(dir_ / "in/a.tif", 1);
    writeSampleTiff(dir_ / "in/._x.tif", 1);
    writeSampleTiff(dir_ / "in/.git/y.tif", 1);
    std::ofstream(dir_ / "in/x.tif.md5") << "d41d8cd98f00b204e9800998ecf8427e  x.tif\n";
    std::ofstream(dir_ / "in/b.tif.pdf") << "%PDF-1.4 not really";
    const support::CommandResult result = runCli({"-r", path("in")});
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(filesUnder(dir_ / "in"),
              (std::set<std::string>{"a.tif", "a.pdf", "._x.tif", ".git/y.tif", "x.tif.md5",
                                     "b.tif.pdf"}));
}

TEST_F(CliConversionTest, DeepPathsAndNamesWithoutExtensionConvert) {
    fs::path deep = dir_.path();
    while (deep.string().size() < dir_.path().string().size() + 300)
        deep /= std::string(40, 'd');
    fs::create_directories(deep);
    writeSampleTiff(deep / "scan.tif", 1);
    writeSampleTiff(dir_ / "image", 1, 1);
    const support::CommandResult result = runCli({(deep / "scan.tif").string(), path("image")});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    expectValidPdf(deep / "scan.pdf", 1);
    expectValidPdf(dir_ / "image.pdf", 1);
}

TEST_F(CliConversionTest, MergeWritesEveryInputsPagesInArgumentOrder) {
    writeSampleTiff(dir_ / "c.tif", 1, 0);
    writeSampleTiff(dir_ / "a.tif", 2, 1);
    writeSampleTiff(dir_ / "b.tif", 1, 2);
    const std::vector<std::pair<std::string, int>> order{{"c.tif", 1}, {"a.tif", 2}, {"b.tif", 1}};
    const support::CommandResult result = runCli(
        {"-j2", "--merge", "-o", path("all.pdf"), path("c.tif"), path("a.tif"), path("b.tif")});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    expectValidPdf(dir_ / "all.pdf", 4);
    EXPECT_EQ(infoField(dir_ / "all.pdf", "Title"), "all");
    int page = 0;
    for (const auto& [name, pages] : order) {
        for (int inner = 0; inner < pages; ++inner, ++page) {
            const support::RgbImage expected = support::decodeTiffPage(dir_ / name, inner);
            EXPECT_TRUE(support::imagesMatch(
                expected,
                support::renderPdfPage(dir_ / "all.pdf", page, expected.width, expected.height), 0))
                << name << " page " << inner;
        }
    }
}

TEST_F(CliConversionTest, PipeInPipeOutAndNothingOnStdoutWhenItFails) {
    writeSampleTiff(dir_ / "a.tif", 2);
    const std::string command = "cat '" + path("a.tif") + "' | '" + clitest::cliPath() +
                                "' - -o - > '" + path("out.pdf") + "'";
    const support::CommandResult piped = support::runCommand({"sh", "-c", command});
    ASSERT_EQ(piped.exitCode, 0) << piped.err;
    expectValidPdf(dir_ / "out.pdf", 2);
    EXPECT_NE(piped.err.find("converted 1 of 1 file"), std::string::npos) << piped.err;

    const support::CommandResult failed =
        support::runCommand({clitest::cliPath(), "-", "-o", "-"}, std::string("not a TIFF"));
    EXPECT_EQ(failed.exitCode, 1);
    EXPECT_EQ(failed.out, "");
    EXPECT_TRUE(failed.err.starts_with("-: cannot read the TIFF: ")) << failed.err;
}

TEST_F(CliConversionTest, NameWithControlCharactersPrintsOnOneLine) {
    writeSampleTiff(dir_ / "two\nlines\033[31m.tif", 1);
    const support::CommandResult normal = runCli({path("two\nlines\033[31m.tif")});
    ASSERT_EQ(normal.exitCode, 0) << normal.err;
    EXPECT_EQ(std::count(normal.out.begin(), normal.out.end(), '\n'), 2) << normal.out;
    EXPECT_NE(normal.out.find("two\\x0alines\\x1b[31m.tif -> "), std::string::npos) << normal.out;
    EXPECT_EQ(normal.out.find('\033'), std::string::npos);
}

TEST_F(CliConversionTest, DocumentInformationInAnyScriptAndIsoDatesReadBack) {
    writeSampleTiff(dir_ / "r.tif", 1);
    const support::CommandResult result =
        runCli({"--title", "Rêsumé — 履歴書", "--author", "Zoë", "--creation-date",
                "2024-05-01T14:30:00+02:00", path("r.tif")});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(infoField(dir_ / "r.pdf", "Title"), "Rêsumé — 履歴書");
    EXPECT_EQ(infoField(dir_ / "r.pdf", "Author"), "Zoë");
    const support::CommandResult iso = support::runCommand({"pdfinfo", "-isodates", path("r.pdf")});
    EXPECT_TRUE(std::regex_search(iso.out, std::regex("CreationDate: +2024-05-01T14:30:00\\+02")))
        << iso.out;
    // Without the option: now, as a date readers understand.
    ASSERT_EQ(runCli({"-o", path("today.pdf"), path("r.tif")}).exitCode, 0);
    const support::CommandResult today =
        support::runCommand({"pdfinfo", "-isodates", path("today.pdf")});
    EXPECT_TRUE(std::regex_search(today.out, std::regex("CreationDate: +20\\d\\d-\\d\\d-\\d\\dT")))
        << today.out;

    EXPECT_EQ(runCli({"--creation-date", "May 1st", path("r.tif")}).exitCode, 2);
}

TEST_F(CliConversionTest, ReplacingKeepsTheModeAndALinkStaysALink) {
    writeSampleTiff(dir_ / "a.tif", 1);
    std::ofstream(dir_ / "private.pdf") << "old";
    fs::permissions(dir_ / "private.pdf",
                    fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    const bool root = geteuid() == 0;  // only root can hand a file to someone else
    if (root) {
        ASSERT_EQ(chown(path("private.pdf").c_str(), 1234, 5678), 0);
    }
    ASSERT_EQ(runCli({"-o", path("private.pdf"), path("a.tif")}).exitCode, 0);
    expectValidPdf(dir_ / "private.pdf", 1);
    EXPECT_EQ(fs::status(dir_ / "private.pdf").permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    struct stat owner {};
    ASSERT_EQ(stat(path("private.pdf").c_str(), &owner), 0);
    if (root) {
        EXPECT_EQ(owner.st_uid, 1234u);
        EXPECT_EQ(owner.st_gid, 5678u);
    }

    fs::create_directories(dir_ / "store");
    std::ofstream(dir_ / "store/real.pdf") << "old";
    fs::create_symlink("store/real.pdf", dir_ / "link.pdf");
    ASSERT_EQ(runCli({"-o", path("link.pdf"), path("a.tif")}).exitCode, 0);
    EXPECT_TRUE(fs::is_symlink(dir_ / "link.pdf"));
    expectValidPdf(dir_ / "store/real.pdf", 1);
    EXPECT_EQ(filesUnder(dir_ / "store"), std::set<std::string>{"real.pdf"});
}

TEST_F(CliConversionTest, DpiSizesPagesWithoutAResolution) {
    fixtures::PageRecipe page;
    page.width = 300;
    page.height = 150;
    page.photometric = PHOTOMETRIC_MINISBLACK;
    page.xResolution.reset();
    page.yResolution.reset();
    page.resolutionUnit.reset();
    fixtures::writeTiff(dir_ / "bare.tif", {page});
    ASSERT_EQ(runCli({"--dpi", "100", path("bare.tif")}).exitCode, 0);
    EXPECT_EQ(infoField(dir_ / "bare.pdf", "Page size"), "216 x 108 pts");
    ASSERT_EQ(runCli({path("bare.tif")}).exitCode, 0);
    EXPECT_EQ(infoField(dir_ / "bare.pdf", "Page size"), "108 x 54 pts");
}

TEST_F(CliConversionTest, ForceDpiWinsOverTheFilesResolution) {
    fixtures::PageRecipe page;
    page.width = 300;
    page.height = 150;
    page.xResolution = 600.0F;
    page.yResolution = 600.0F;
    fixtures::writeTiff(dir_ / "scan.tif", {page});
    ASSERT_EQ(runCli({"--force-dpi", "150", "--dpi", "100", path("scan.tif")}).exitCode, 0);
    EXPECT_EQ(infoField(dir_ / "scan.pdf", "Page size"), "144 x 72 pts");
}

TEST_F(CliConversionTest, VerboseSaysHowManySubfilesWereSkipped) {
    fixtures::PageRecipe thumbnail;
    thumbnail.subfileType = FILETYPE_REDUCEDIMAGE;
    fixtures::writeTiff(dir_ / "photo.tif", {fixtures::PageRecipe{}, thumbnail});
    const auto verbose = runCli({"-v", path("photo.tif")});
    ASSERT_EQ(verbose.exitCode, 0) << verbose.err;
    EXPECT_NE(verbose.out.find("(1 page, "), std::string::npos) << verbose.out;
    EXPECT_NE(verbose.out.find("note: 1 subfile skipped"), std::string::npos) << verbose.out;
    const auto plain = runCli({path("photo.tif")});
    EXPECT_EQ(plain.out.find("subfile"), std::string::npos) << plain.out;
}

TEST_F(CliConversionTest, UndecodableCompressionFailsWithoutAPdf) {
    // The start of a JPEG 2000 codestream: this libtiff cannot decode it.
    fixtures::writeTiff(
        dir_ / "j2k.tif",
        {{.compression = 34712, .rawStrip = std::vector<uint8_t>{0xFF, 0x4F, 0xFF, 0x51}}});
    const auto run = runCli({path("j2k.tif")});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_NE(run.err.find("compression 34712 (JPEG 2000) is not supported by this build"),
              std::string::npos)
        << run.err;
    EXPECT_FALSE(fs::exists(dir_ / "j2k.pdf"));
}

// The README's examples, run by a shell in a folder holding the files they name.
TEST_F(CliConversionTest, ReadmeExamplesRunAsWritten) {
    const std::string readme = support::readFile(fs::path(QUORVEX_SOURCE_DIR) / "README.md");
    const std::size_t start = readme.find("```sh\n", readme.find("Examples (each runs"));
    ASSERT_NE(start, std::string::npos);
    const std::size_t end = readme.find("```", start + 6);
    std::vector<std::string> commands;
    std::istringstream lines(readme.substr(start + 6, end - start - 6));
    for (std::string line; std::getline(lines, line);)
        commands.push_back(line.substr(0, line.find("  #")));
    ASSERT_GE(commands.size(), 7u);

    fs::create_directories(dir_ / "scans/2023");
    fs::create_directories(dir_ / "scans/2024");
    for (const char* name : {"scan.tif", "page.tiff", "p1.tif", "p2.tif", "p3.tif", "inv.tif",
                             "scans/2023/page1.tif", "scans/2024/page1.tif"})
        writeSampleTiff(dir_ / name, 1);
    const std::string bin = fs::path(clitest::cliPath()).parent_path().string();
    for (const std::string& command : commands) {
        const support::CommandResult result = support::runCommand(
            {"sh", "-c",
             "cd '" + dir_.path().string() + "' && PATH='" + bin + "':$PATH && " + command});
        EXPECT_EQ(result.exitCode, 0) << command << "\n" << result.err;
    }
    expectValidPdf(dir_ / "pdfs/2024/page1.pdf", 1);
    expectValidPdf(dir_ / "book.pdf", 3);
    expectValidPdf(dir_ / "scan.pdf", 1);
}

// A strip of LZW data overwritten with noise converts with exit 3 and a
// "damaged" line naming page and rows; --strict fails it and keeps the old PDF.
TEST_F(CliConversionTest, DamagedLzwStripConvertsWithExitThree) {
    fixtures::writeTiff(dir_ / "hurt.tif", {{.width = 256,
                                             .height = 600,
                                             .compression = COMPRESSION_LZW,
                                             .photometric = PHOTOMETRIC_MINISBLACK,
                                             .rowsPerStrip = 600}});
    std::string bytes = support::readFile(dir_ / "hurt.tif");
    // libtiff writes the strip right after the 8-byte header and the
    // directory after it: noise from byte 72 on lands in the LZW codes.
    ASSERT_GT(bytes.size(), 600u);
    for (std::size_t i = 72; i < std::min<std::size_t>(472, bytes.size() / 2); ++i)
        bytes[i] = static_cast<char>((i * 97) & 0xFF);
    std::ofstream(dir_ / "hurt.tif", std::ios::binary) << bytes;
    // libtiff itself stumbles on it.
    const support::CommandResult copy =
        support::runCommand({"tiffcp", path("hurt.tif"), path("copy.tif")});
    ASSERT_NE(copy.err.find("can't read"), std::string::npos) << copy.err;

    const support::CommandResult result = runCli({path("hurt.tif")});
    EXPECT_EQ(result.exitCode, 3) << result.err;
    expectValidPdf(dir_ / "hurt.pdf", 1);
    EXPECT_TRUE(std::regex_search(result.err,
                                  std::regex(path("hurt.tif") + ": damaged: page 1, rows [0-9]+")))
        << result.err;
    EXPECT_NE(result.out.find("(1 damaged)"), std::string::npos) << result.out;

    std::ofstream(dir_ / "hurt.pdf") << "previous";
    EXPECT_EQ(runCli({"--strict", path("hurt.tif")}).exitCode, 1);
    EXPECT_EQ(support::readFile(dir_ / "hurt.pdf"), "previous");
}

}  // namespace

namespace {

// Runs the command line and returns its peak resident memory in bytes, as
// the kernel accounted it for that one child (-1 when it did not exit 0).
int64_t peakMemoryOfRun(const std::vector<std::string>& args) {
    std::vector<std::string> storage{clitest::cliPath()};
    storage.insert(storage.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& arg : storage)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    const pid_t child = fork();
    if (child == 0) {
        execv(argv[0], argv.data());
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    if (child < 0 || wait4(child, &status, 0, &usage) != child || !WIFEXITED(status) ||
        WEXITSTATUS(status) != 0) {
        return -1;
    }
    return int64_t{usage.ru_maxrss} * 1024;
}

// A page larger than the whole memory budget streams through it: the peak
// stays near the budget, far below the page's 100 MB of samples. The margin
// takes the program, its libraries, a decoded band and the allocator's slack.
// Not built under a sanitizer runtime, whose shadow memory and quarantine
// are not the converter's resident size.
#ifndef QUORVEX_SANITIZED
TEST_F(CliConversionTest, APageLargerThanTheMemoryBudgetStaysWithinIt) {
    const uint32_t side = 10000;
    fixtures::writeTiff(dir_ / "large.tif",
                        {{.width = side, .height = side, .rowsPerStrip = 64, .variant = 3}});
    const int64_t budget = int64_t{24} << 20;
    const int64_t peak = peakMemoryOfRun({"-q", "-j", "2", "--memory", "24M", "--level", "1",
                                          path("large.tif"), "-o", path("large.pdf")});
    ASSERT_GT(peak, 0);
    EXPECT_LT(peak, budget + (int64_t{48} << 20)) << peak / 1024 << " KiB";
    EXPECT_LT(uint64_t(peak), uint64_t{side} * side / 2);
    expectValidPdf(dir_ / "large.pdf", 1);
}
#endif

}  // namespace
